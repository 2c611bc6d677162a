// The uplink's key-value keys. Each operation gets the Adapter as cookie and
// runs on a kernel management thread, next to the data path and to other
// management requests: it counts itself in `mgmt_in_flight` (through
// tamsil_mgmtEnter) so that a detach waits for it, and it is refused as busy
// once the device is quiesced.
//
// The client's texts come from user space: a set value is taken as at most
// 63 characters, and a get text never goes past the kernel's key buffer.
#include "tamsil_keys.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_gen.h"

const char* const tamsil_vfLinkState[3] = {"Follow Physical Link", "Always Up", "Always Down"};

namespace {

constexpr size_t kValueMax = 63;  // characters of a set value that are parsed

Adapter* adapterOf(vmk_uint64 cookie) { return reinterpret_cast<Adapter*>(static_cast<uintptr_t>(cookie)); }

// The client's value as a bounded, NUL-terminated text.
struct Value {
  char text[kValueMax + 1];
  explicit Value(const void* in) {
    const char* s = static_cast<const char*>(in);
    size_t n = strnlen(s, kValueMax);
    memcpy(text, s, n);
    text[n] = '\0';
  }
};

// Appends to a get operation's output, stopping at the end of the kernel's
// key buffer.
class Text {
 public:
  explicit Text(void* out) : buf_(static_cast<char*>(out)) { buf_[0] = '\0'; }
  void add(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    if (len_ + 1 >= kCap) return;
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf_ + len_, kCap - len_, fmt, ap);
    va_end(ap);
    if (n > 0) len_ = len_ + static_cast<size_t>(n) < kCap ? len_ + static_cast<size_t>(n) : kCap - 1;
  }

 private:
  static constexpr size_t kCap = VMK_MGMT_KEY_STRING_MAX;
  char* buf_;
  size_t len_ = 0;
};

// The frame of every key but VF_Link_State: no Adapter or a quiesced device
// answers busy; the work runs counted in `mgmt_in_flight`.
template <class Work>
VMK_ReturnStatus keyRequest(vmk_uint64 cookie, Work work) {
  Adapter* a = adapterOf(cookie);
  if (a == nullptr || tamsil_mgmtEnter(a) != VMK_OK) return VMK_BUSY;
  VMK_ReturnStatus st = work(a);
  tamsil_mgmtLeave(a);
  return st;
}

// A get: writes nothing without an output buffer.
template <class Fill>
VMK_ReturnStatus keyGet(vmk_uint64 cookie, void* out, Fill fill) {
  return keyRequest(cookie, [&](Adapter* a) {
    if (out != nullptr) {
      Text t(out);
      fill(a, t);
    }
    return VMK_OK;
  });
}

// Relaxed atomic access to the TPE fields, which the error detector reads and
// the recovery writes on the worker threads.
template <class T>
T peek(const T& field) {
  return __atomic_load_n(&field, __ATOMIC_RELAXED);
}

// A set that takes a decimal number of minutes within [lo, hi].
VMK_ReturnStatus setMinutes(vmk_uint64 cookie, const void* in, vmk_uint16 Adapter::*field, long lo, long hi) {
  return keyRequest(cookie, [&](Adapter* a) {
    if (in == nullptr) return VMK_OK;
    Value v(in);
    long m = strtol(v.text, nullptr, 10);
    if (m < lo || m > hi)
      TAMSIL_ERR(a, "Value %d not within Range %d-%d\n\n", static_cast<int>(m), static_cast<int>(lo),
                 static_cast<int>(hi));
    else
      __atomic_store_n(&(a->*field), static_cast<vmk_uint16>(m), __ATOMIC_RELAXED);
    return VMK_OK;
  });
}

// Operations that have nothing to do.
VMK_ReturnStatus noEffect(vmk_uint64 cookie) {
  TAMSIL_MOD_ENTRY(TAMSIL_DBG_MGMT);
  return keyRequest(cookie, [](Adapter*) { return VMK_OK; });
}

}  // namespace

/* ------------------------------------------------------------------------ */
/* Q_IDs                                                                     */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_getQids(vmk_uint64 cookie, void* keyValue) {
  TAMSIL_MOD_ENTRY(TAMSIL_DBG_MGMT);
  return keyGet(cookie, keyValue, [](Adapter* a, Text& t) {
    t.add("\n");
    t.add("mcc_q_id = 0x%x\n", a->mcc_q.id);
    t.add("mcc_cq_id = 0x%x\n", a->mcc_cq.id);
    const vmk_uint32 n = a->num_vectors < TAMSIL_MAX_VECTORS ? a->num_vectors : TAMSIL_MAX_VECTORS;
    for (vmk_uint32 i = 0; i < n; i++) {
      const int r = static_cast<int>(i);
      t.add("Ring[%d]: rx_if_id = 0x%x\n", r, a->rxo[i].if_id);
      t.add("Ring[%d]: eq_id = 0x%x\n", r, a->eqo[i].q.id);
      t.add("Ring[%d]: rx_q_id = 0x%x\n", r, a->rxo[i].rxq.id);
      t.add("Ring[%d]: rx_cq_id = 0x%x\n", r, a->rxo[i].cq.id);
      t.add("Ring[%d]: tx_q_id = 0x%x\n", r, a->txo[i].q.id);
      t.add("Ring[%d]: tx_cq_id = 0x%x\n", r, a->txo[i].cq.id);
    }
  });
}

VMK_ReturnStatus tamsil_setQids(vmk_uint64 cookie, void*) { return noEffect(cookie); }

/* ------------------------------------------------------------------------ */
/* VF_Link_State                                                             */
/* ------------------------------------------------------------------------ */

// The VF link-state operations answer 0 and do nothing while I/O is
// quiesced. They still count themselves in `mgmt_in_flight`: a set sends a
// firmware command, and a detach must not take the command channel away
// under it.
template <class Work>
static VMK_ReturnStatus vfLinkRequest(vmk_uint64 cookie, const void* text, Work work) {
  Adapter* a = adapterOf(cookie);
  if (a == nullptr || text == nullptr || tamsil_flagTest(a, TAMSIL_FLAG_IO_QUIESCED)) return VMK_OK;
  if (tamsil_mgmtEnter(a) != VMK_OK) return VMK_BUSY;
  VMK_ReturnStatus st = work(a);
  tamsil_mgmtLeave(a);
  return st;
}

VMK_ReturnStatus tamsil_getVfLinkState(vmk_uint64 cookie, void* keyValue) {
  TAMSIL_MOD_DBG(TAMSIL_DBG_MGMT, TAMSIL_LOG_LEVEL_INFO, "tamsil_getVfLinkState\n");
  return vfLinkRequest(cookie, keyValue, [&](Adapter* a) {
    static const char kRule[] = "----------------------------------------\n";
    Text t(keyValue);
    t.add("\n");
    t.add("%s: Link state details VFs\n", tamsil_devName(a));
    t.add(kRule);
    t.add("  VF Num   VF Link Status           \n");
    t.add(kRule);
    const vmk_uint32 n = a->num_vfs < TAMSIL_MAX_VFS ? a->num_vfs : TAMSIL_MAX_VFS;
    for (vmk_uint32 i = 0; i < n; i++) {
      const vmk_uint8 s = a->sriov.vf_link_state[i];
      if (s <= 2)
        t.add("   %3d       %d (%s)\n", static_cast<int>(i + 1), s, tamsil_vfLinkState[s]);
      else
        t.add("   %3d       %d (Invalid State)\n", static_cast<int>(i + 1), s);
    }
    if (n == 0) t.add("<<     No VFs found on %s     >>\n", tamsil_devName(a));
    t.add(kRule);
    t.add("\n");
    t.add("Instruction to change (Set) VF_Link_State:\n");
    t.add("\t-k VF_Link_State -s \"<VF_Num> <VF_Link_State>\"\n");
    t.add("\tWhere ..\n");
    t.add("\t\t<VF_Num> = VF Number\n");
    t.add("\t\t<VF_Link_State> = \n");
    t.add("\t\t\t 0 = Follow Physical Link\n");
    t.add("\t\t\t 1 = Always Up\n");
    t.add("\t\t\t 2 = Always Down\n");
    return VMK_OK;
  });
}

VMK_ReturnStatus tamsil_setVfLinkState(vmk_uint64 cookie, void* keyValue) {
  TAMSIL_MOD_DBG(TAMSIL_DBG_MGMT, TAMSIL_LOG_LEVEL_INFO, "tamsil_setVfLinkState\n");
  return vfLinkRequest(cookie, keyValue, [&](Adapter* a) -> VMK_ReturnStatus {
    if (!tamsil_hasTrait(a, TAMSIL_GT_VF_LINK_STATE)) {
      TAMSIL_ERR(a, "Can not change VF Link State for KS2\n");
      return VMK_FAILURE;
    }
    Value v(keyValue);
    char* rest = nullptr;
    const long vf = strtol(v.text, &rest, 10);
    rest += strspn(rest, " \t");
    const long state = strtol(rest, nullptr, 10);
    TAMSIL_DBG(a, TAMSIL_DBG_MGMT, TAMSIL_LOG_LEVEL_INFO, "vf_num = %d, vf_link_state = %d\n", static_cast<int>(vf),
               static_cast<int>(state));
    const vmk_uint32 vfs = a->num_vfs < TAMSIL_MAX_VFS ? a->num_vfs : TAMSIL_MAX_VFS;
    if (vf <= 0 || vf > static_cast<long>(vfs)) {
      TAMSIL_ERR(a, "Invalid VF number %d (num_vfs_enabled: %d)\n", static_cast<int>(vf), static_cast<int>(a->num_vfs));
      return VMK_FAILURE;
    }
    vmk_uint8* recorded = &a->sriov.vf_link_state[vf - 1];
    if (state == *recorded) return VMK_OK;
    if (state < 0 || state > 2) {
      TAMSIL_ERR(a,
                 "Invalid VF State %d for VF num %d\nSupported options are ...\n\t\t 0 = Follow Physical Link\n"
                 "\t\t 1 = Always Up\n\t\t 2 = Always Down\n\n",
                 static_cast<int>(state), static_cast<int>(vf));
      return VMK_FAILURE;
    }
    const vmk_uint32 st =
        tamsil_setLogicalLinkProperties(a, state == 0, state != 2, false, false, static_cast<vmk_uint8>(vf));
    if (st != 0) return static_cast<VMK_ReturnStatus>(st);
    *recorded = static_cast<vmk_uint8>(state);
    return VMK_OK;
  });
}

/* ------------------------------------------------------------------------ */
/* FirmwareDump                                                              */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_getFwDump(vmk_uint64 cookie, void*) { return noEffect(cookie); }

VMK_ReturnStatus tamsil_setFwDump(vmk_uint64 cookie, void* keyValue) {
  return keyRequest(cookie, [&](Adapter* a) -> VMK_ReturnStatus {
    if (!tamsil_hasTrait(a, TAMSIL_GT_FW_DUMP_OBJECT)) return VMK_NOT_SUPPORTED;
    if (keyValue == nullptr) return VMK_OK;
    Value v(keyValue);
    const unsigned long option = strtoul(v.text, nullptr, 16);
    if (option == 1) {
      tamsil_generatePivardDump(a);
    } else if (option == 2) {
      // The client must learn that the dump it meant to remove is still there.
      const vmk_uint32 st = tamsil_cmdDeleteObject(a, "/dbg/dump.bin");
      if (st != 0) {
        TAMSIL_ERR(a, "Deleting the firmware dump failed with status 0x%x\n", st);
        return VMK_FAILURE;
      }
    } else {
      TAMSIL_ERR(a, "Invalid option %d, valid option 1 or 2\n\n", static_cast<int>(option));
    }
    return VMK_OK;
  });
}

/* ------------------------------------------------------------------------ */
/* TPE recovery                                                              */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_getTpeTsDL(vmk_uint64 cookie, void* keyValue) {
  TAMSIL_MOD_ENTRY(TAMSIL_DBG_MGMT);
  return keyGet(cookie, keyValue, [](Adapter* a, Text& t) {
    t.add("\n");
    t.add("Required Time since Driver Load for TPE Recovery = %d mins\n", peek(a->tpe_min_after_load));
  });
}

VMK_ReturnStatus tamsil_setTpeTsDL(vmk_uint64 cookie, void* keyValue) {
  return setMinutes(cookie, keyValue, &Adapter::tpe_min_after_load, 10, 1440);
}

VMK_ReturnStatus tamsil_getTpeTsLR(vmk_uint64 cookie, void* keyValue) {
  TAMSIL_MOD_ENTRY(TAMSIL_DBG_MGMT);
  return keyGet(cookie, keyValue, [](Adapter* a, Text& t) {
    t.add("\n");
    t.add("Required Time since Last Successful TPE Recovery to try Next TPE Recovery = %d mins\n",
          peek(a->tpe_min_between));
  });
}

VMK_ReturnStatus tamsil_setTpeTsLR(vmk_uint64 cookie, void* keyValue) {
  return setMinutes(cookie, keyValue, &Adapter::tpe_min_between, 10, 4320);
}

static long minutesSince(vmk_uint64 now, vmk_uint64 then) {
  return now > then ? static_cast<long>((now - then) / 60000) : 0;
}

VMK_ReturnStatus tamsil_getTpeRS(vmk_uint64 cookie, void* keyValue) {
  TAMSIL_MOD_ENTRY(TAMSIL_DBG_MGMT);
  return keyGet(cookie, keyValue, [](Adapter* a, Text& t) {
    const vmk_uint64 now = vmk_GetUptimeMS();
    t.add("\n");
    const vmk_uint32 recoveries = peek(a->tpe_recoveries);
    t.add("Time since Driver load = %ld mins\n", minutesSince(now, peek(a->load_time_ms)));
    t.add("Number of Successful TPE Recoveries = %d\n", static_cast<int>(recoveries));
    if (recoveries > 0) {
      t.add("Last Successful Recovery TPE Code = 0x%x\n", peek(a->last_tpe_code));
      t.add("Time since Last Successful TPE Recovery = %ld mins\n", minutesSince(now, peek(a->last_recovery_ms)));
    }
  });
}

VMK_ReturnStatus tamsil_setTpeRS(vmk_uint64 cookie, void*) { return noEffect(cookie); }
