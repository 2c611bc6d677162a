// Statistics the driver reports: the kernel's uplink statistics record, the
// private statistics text, and the row tables of the management channel.
#pragma once

#include <cstdarg>

#include "tamsil.h"

#define TAMSIL_UPLINK_STATS_FIELDS 21
#define TAMSIL_PSTATS_TEXT_LEN 87382u     // the text, as long as the kernel is told
#define TAMSIL_PSTATS_BUF_LEN 87384u      // the text buffer (room for the terminator)
#define TAMSIL_MGMT_STAT_ROWS 1200u       // slots of the management tables
#define TAMSIL_MGMT_STAT_NAME_LEN 42u     // one name slot
#define TAMSIL_MGMT_STAT_NAMES_SIZE (4u + TAMSIL_MGMT_STAT_NAME_LEN * TAMSIL_MGMT_STAT_ROWS)   // 50404
#define TAMSIL_MGMT_STAT_VALUES_SIZE (4u + 8u * TAMSIL_MGMT_STAT_ROWS)                         // 9604

// Modes of the row emitter.
enum tamsil_pstatsMode : vmk_uint32 {
  TAMSIL_PSTATS_COUNT = 0,   // add 1 to the management buffer's row counter per row
  TAMSIL_PSTATS_NAMES = 1,   // a 42-byte name slot per row
  TAMSIL_PSTATS_VALUES = 2,  // a u64 slot per row
  TAMSIL_PSTATS_TEXT = 3,    // the text, into the module's text buffer
};

// The module-wide text buffer: the text of the last run and its length.
struct tamsil_pstatsBuf {
  char text[TAMSIL_PSTATS_BUF_LEN];
  vmk_uint32 len;
};
extern tamsil_pstatsBuf tamsil_pstats;

// Appends one line to the text, whole or not at all: false (nothing added)
// when it would take the text past TAMSIL_PSTATS_TEXT_LEN bytes. Only inside
// a text run, which holds the buffer.
bool tamsil_pstatsAppend(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
bool tamsil_pstatsVAppend(const char* fmt, va_list ap);

// The private statistics capability's operations.
struct tamsil_privStatsOps {
  VMK_ReturnStatus (*privStatsLengthGet)(vmk_AddrCookie driverData, vmk_ByteCount* length);
  VMK_ReturnStatus (*privStatsGet)(vmk_AddrCookie driverData, char* buffer, vmk_ByteCount length);
};
extern const tamsil_privStatsOps tamsilPrivStatsOps;

// The uplink statistics operation: `stats` is the kernel's record of 21 u64.
VMK_ReturnStatus tamsil_uplinkStatsGet(vmk_AddrCookie driverData, void* stats);

// Walks the rows in their fixed order. Modes 0-2 write the management
// buffer `mgmtBuf` (u32 row counter, then slots; the caller clears it);
// mode 3 prints into tamsil_pstats and takes the buffer's lock itself.
// At most TAMSIL_MGMT_STAT_ROWS rows are emitted in every mode.
void tamsil_fillPrivStatsBuff(Adapter* adapter, vmk_uint32 mode, void* mgmtBuf);

VMK_ReturnStatus tamsil_privStatsLengthGet(vmk_AddrCookie driverData, vmk_ByteCount* length);
VMK_ReturnStatus tamsil_privStatsGet(vmk_AddrCookie driverData, char* buffer, vmk_ByteCount length);
// The management channel's private statistics: refreshes the firmware
// statistics first (unless a refresh is in flight or a recovery
// re-initialisation runs), then as tamsil_privStatsGet.
VMK_ReturnStatus tamsil_mgmtStatsGet(Adapter* adapter, char* buffer, vmk_ByteCount length);
