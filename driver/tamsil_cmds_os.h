// Kernel services as the command layer uses them: register access through
// the Adapter's BAR mappings, locks, time and log lines.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "tamsil.h"
#include "vmkapi.h"

static inline uint32_t tamsil_dbRead32(Adapter* a, uint32_t off) {
  return vmk_MMIORead32((vmk_VA)(a->db_va) + off);
}
static inline void tamsil_dbWrite32(Adapter* a, uint32_t off, uint32_t v) {
  vmk_MMIOWrite32((vmk_VA)(a->db_va) + off, v);
}
static inline uint32_t tamsil_csrRead32(Adapter* a, uint32_t off) {
  return vmk_MMIORead32((vmk_VA)(a->csr_va) + off);
}
static inline void tamsil_csrWrite32(Adapter* a, uint32_t off, uint32_t v) {
  vmk_MMIOWrite32((vmk_VA)(a->csr_va) + off, v);
}
static inline uint32_t tamsil_pcicfgRead32(Adapter* a, uint32_t off) {
  return vmk_MMIORead32((vmk_VA)(a->pcicfg_va) + off);
}
static inline uint8_t tamsil_pcicfgRead8(Adapter* a, uint32_t off) {
  return vmk_MMIORead8((vmk_VA)(a->pcicfg_va) + off);
}
static inline void tamsil_pcicfgWrite8(Adapter* a, uint32_t off, uint8_t v) {
  vmk_MMIOWrite8((vmk_VA)(a->pcicfg_va) + off, v);
}

// Card error: an unrecoverable error was seen or a command timed out.
static inline bool tamsil_cardError(const Adapter* a) {
  return (__atomic_load_n(&a->hw_error, __ATOMIC_ACQUIRE) |
          __atomic_load_n(&a->fw_timeout, __ATOMIC_ACQUIRE)) != 0;
}
static inline bool tamsil_hwError(const Adapter* a) { return __atomic_load_n(&a->hw_error, __ATOMIC_ACQUIRE) != 0; }

static inline uint64_t tamsil_nowMs(void) { return vmk_GetUptimeMS(); }

// Device log lines: errors always, debug lines under their debugMask bit.
#define TAMSIL_CERR(a, fmt, ...) TAMSIL_ERR((a), fmt "\n", ##__VA_ARGS__)
#define TAMSIL_CDBG(a, mask, fmt, ...) \
  TAMSIL_DBG((a), (mask), TAMSIL_LOG_LEVEL_INFO2, fmt "\n", ##__VA_ARGS__)

// Stops the machine on a ring found inconsistent.
[[noreturn]] void tamsil_cmdStop(Adapter* a, const char* file,
                                 const char* check, int line);

// Index `i` advanced by one modulo a power-of-two ring length.
uint16_t tamsil_ringNext(Adapter* a, uint16_t i, uint16_t len);
