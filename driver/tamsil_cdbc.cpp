// Crash-dump bytecode interpreter: dispatch, operand decoding, the bounds of a
// run, and the register spaces (mapped BARs and the CSR window through PCI
// configuration register 0xFC).
#include "tamsil_cdbc.h"

#include <atomic>
#include <cstring>

#include "tamsil.h"

// ---------------------------------------------------------------------------
// Log lines

// Assertion lines carry no level and no device: they are about the program.
#define CDBC_ASSERT(msg) vmk_LogMessage("TAMSIL_CDBC_ASSERT: %s:%d  %s\n\n", "tamsil_cdbc", __LINE__, (msg))

// Window failures name the window operation, not the C function logging them.
#define CDBC_WND_ERR(adapter, fn, msg) \
  tamsil_logLine(VMK_LOG_URGENCY_ALERT, TAMSIL_LOG_LEVEL_ERR, true, (adapter), (fn), __LINE__, "%s", (msg))

// A bound broken: the run stops with `status` in r0.
#define CDBC_FAULT(run, status, msg)                 \
  do {                                               \
    CDBC_ASSERT(msg);                                \
    cdbcFault((run), (status));                      \
  } while (0)

static void cdbcFault(tamsil_cdbcRun *run, uint32_t status) {
  if (run->fault == 0) {
    run->fault = status;
  }
}

// ---------------------------------------------------------------------------
// Operand 2

// Messages of one instruction kind for its operand checks.
typedef struct CdbcMsgs {
  const char *op1;     // operand 1 above 11
  const char *reg;     // kind 1 with a register number above 14
  const char *var;     // kind 2 with a variable index below 16
  const char *domain;  // kind 3
  const char *image;   // kind 2 with a variable index outside the image
} CdbcMsgs;

#define CDBC_MSGS(name, varword)                                       \
  {                                                                    \
    "CDBC: Reg operand1 error in '" name "' byte code",                \
    "CDBC: Reg operand2 error in '" name "' byte code",                \
    "CDBC: Variable " varword " error in '" name "' byte code",        \
    "CDBC: domain error in '" name "' byte code",                      \
    "CDBC: Variable outside the image in '" name "' byte code",        \
  }

static const CdbcMsgs msgsAdd = CDBC_MSGS("add", "operand");
static const CdbcMsgs msgsSub = CDBC_MSGS("sub", "operand2");
static const CdbcMsgs msgsMul = CDBC_MSGS("mul", "operand2");
static const CdbcMsgs msgsDiv = CDBC_MSGS("div", "operand2");
static const CdbcMsgs msgsMod = CDBC_MSGS("mod", "operand2");
static const CdbcMsgs msgsAnd = CDBC_MSGS("and", "operand2");
static const CdbcMsgs msgsOr = CDBC_MSGS("or", "operand2");
static const CdbcMsgs msgsNot = CDBC_MSGS("not", "operand2");
static const CdbcMsgs msgsXor = CDBC_MSGS("xor", "operand2");
static const CdbcMsgs msgsCompare = CDBC_MSGS("compare", "operand2");
static const CdbcMsgs msgsMove = CDBC_MSGS("move", "operand");
static const CdbcMsgs msgsStall = CDBC_MSGS("stall", "operand2");
static const CdbcMsgs msgsRead = {
    "CDBC: Reg operand1 errorin 'read' byte code",
    "CDBC: Reg operand2 error in 'read' byte code",
    "CDBC: Variable operand error in 'read' byte code",
    "CDBC: domain error in 'read' byte code",
    "CDBC: Variable outside the image in 'read' byte code",
};
// Jump and call name one message for every malformed target operand.
static const CdbcMsgs msgsJump = {
    nullptr,
    "CDBC: domain error in 'jump' byte code",
    "CDBC: domain error in 'jump' byte code",
    "CDBC: domain error in 'jump' byte code",
    "CDBC: Variable outside the image in 'jump' byte code",
};
static const CdbcMsgs msgsCall = {
    nullptr,
    "CDBC: domain error in 'call' byte code",
    "CDBC: domain error in 'call' byte code",
    "CDBC: domain error in 'call' byte code",
    "CDBC: Variable outside the image in 'call' byte code",
};

// Content of image word `idx` as an operand. Words 12-13 would hold the
// Adapter's address; they are always 0 in an image we run.
static inline uint32_t cdbcWord(const tamsil_cdbcRun *run, uint32_t idx) {
  return run->image[idx];
}

// Fetches operand 2 of `insn` into *val. `sign`: the immediate is
// sign-extended. Returns false when the instruction must do nothing (a
// malformed operand, logged; or a broken bound, which also ends the run).
static inline bool cdbcOperand2(tamsil_cdbcRun *run, uint32_t insn, bool sign, const CdbcMsgs *m,
                                uint32_t *val) {
  uint32_t op2 = TAMSIL_CDBC_OP2(insn);
  switch (TAMSIL_CDBC_KIND(insn)) {
    case TAMSIL_CDBC_KIND_IMM:
      *val = sign ? (uint32_t)(int32_t)(int16_t)op2 : op2;
      return true;
    case TAMSIL_CDBC_KIND_REG:
      if (op2 > 14) {
        CDBC_ASSERT(m->reg);
        return false;
      }
      *val = cdbcWord(run, op2);
      return true;
    case TAMSIL_CDBC_KIND_VAR:
      if (op2 < TAMSIL_CDBC_W_PROGRAM) {
        CDBC_ASSERT(m->var);
        return false;
      }
      if (op2 >= run->words) {
        CDBC_FAULT(run, TAMSIL_CDBC_ERR_BOUNDS, m->image);
        return false;
      }
      *val = cdbcWord(run, op2);
      return true;
    default:
      CDBC_ASSERT(m->domain);
      return false;
  }
}

// Operand 1 of an instruction that writes a register.
static inline bool cdbcOperand1(uint32_t insn, const CdbcMsgs *m) {
  if (TAMSIL_CDBC_OP1(insn) >= TAMSIL_CDBC_NUM_REGS) {
    CDBC_ASSERT(m->op1);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Arithmetic and logic

void tamsil_cdbc_nop(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc) {
  (void)run;
  (void)pc;
  if (insn != TAMSIL_CDBC_OP_NOP) {
    CDBC_ASSERT("CDBC: encode error in 'nop' byte code");
  }
}

void tamsil_cdbc_move(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc) {
  (void)pc;
  if (!cdbcOperand1(insn, &msgsMove)) {
    return;
  }
  uint32_t r = TAMSIL_CDBC_OP1(insn);
  if (TAMSIL_CDBC_KIND(insn) == TAMSIL_CDBC_KIND_SPECIAL) {
    // Store form: word[op2] = r[op1]; only variables may be written.
    uint32_t idx = TAMSIL_CDBC_OP2(insn);
    if (idx < TAMSIL_CDBC_W_PROGRAM) {
      CDBC_ASSERT("CDBC: Variable operand error in 'moveout' byte code");
      return;
    }
    if (idx >= run->words) {
      CDBC_FAULT(run, TAMSIL_CDBC_ERR_BOUNDS, "CDBC: Variable outside the image in 'moveout' byte code");
      return;
    }
    run->image[idx] = run->image[r];
    return;
  }
  uint32_t v;
  if (cdbcOperand2(run, insn, true, &msgsMove, &v)) {
    run->image[r] = v;
  }
}

// Shared body of the two-operand register instructions.
#define CDBC_ALU(fn, msgs, sign, expr)                                  \
  void fn(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc) {            \
    (void)pc;                                                           \
    uint32_t v;                                                         \
    if (!cdbcOperand1(insn, &(msgs)) || !cdbcOperand2(run, insn, (sign), &(msgs), &v)) { \
      return;                                                           \
    }                                                                   \
    uint32_t *r = &run->image[TAMSIL_CDBC_OP1(insn)];                   \
    *r = (expr);                                                        \
  }

CDBC_ALU(tamsil_cdbc_add, msgsAdd, true, *r + v)
CDBC_ALU(tamsil_cdbc_sub, msgsSub, true, *r - v)
CDBC_ALU(tamsil_cdbc_mul, msgsMul, true, *r * v)
CDBC_ALU(tamsil_cdbc_and, msgsAnd, false, *r & v)
CDBC_ALU(tamsil_cdbc_or, msgsOr, false, *r | v)
CDBC_ALU(tamsil_cdbc_not, msgsNot, false, ~v)
CDBC_ALU(tamsil_cdbc_xor, msgsXor, false, *r ^ v)

// div and mod leave the other half of the result in r0, unless r0 is the
// destination or the divisor.
static void cdbcDivMod(tamsil_cdbcRun *run, uint32_t insn, const CdbcMsgs *m, bool want_quotient) {
  uint32_t d;
  if (!cdbcOperand1(insn, m) || !cdbcOperand2(run, insn, true, m, &d)) {
    return;
  }
  if (d == 0) {
    CDBC_ASSERT("Error! Attempt to divide by zero");
    return;
  }
  uint32_t r = TAMSIL_CDBC_OP1(insn);
  uint32_t x = run->image[r];
  bool divisor_is_r0 = TAMSIL_CDBC_KIND(insn) == TAMSIL_CDBC_KIND_REG && TAMSIL_CDBC_OP2(insn) == 0;
  if (r != 0 && !divisor_is_r0) {
    run->image[0] = want_quotient ? x % d : x / d;
  }
  run->image[r] = want_quotient ? x / d : x % d;
}

void tamsil_cdbc_div(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc) {
  (void)pc;
  cdbcDivMod(run, insn, &msgsDiv, true);
}

void tamsil_cdbc_mod(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc) {
  (void)pc;
  cdbcDivMod(run, insn, &msgsMod, false);
}

void tamsil_cdbc_compare(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc) {
  (void)pc;
  uint32_t v;
  if (!cdbcOperand1(insn, &msgsCompare) || !cdbcOperand2(run, insn, true, &msgsCompare, &v)) {
    return;
  }
  uint32_t x = run->image[TAMSIL_CDBC_OP1(insn)];
  uint32_t f = run->image[TAMSIL_CDBC_W_FLAGS] & ~(TAMSIL_CDBC_FLAG_EQ | TAMSIL_CDBC_FLAG_GT | TAMSIL_CDBC_FLAG_LT);
  if (x == v) {
    f |= TAMSIL_CDBC_FLAG_EQ;
  } else if (v < x) {
    f |= TAMSIL_CDBC_FLAG_GT;
  } else {
    f |= TAMSIL_CDBC_FLAG_LT;
  }
  run->image[TAMSIL_CDBC_W_FLAGS] = f;
}

// ---------------------------------------------------------------------------
// Control flow

// Target of a jump or call at `pc - 1`: the index of the instruction word
// plus the offset operand. Returns false when there is none to take (logged;
// a target outside the program also ends the run).
static bool cdbcTarget(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc, const CdbcMsgs *m,
                       const char *outside, uint32_t *target) {
  uint32_t off;
  if (!cdbcOperand2(run, insn, true, m, &off)) {
    return false;
  }
  uint32_t t = (pc - 1) + off;
  if (t < TAMSIL_CDBC_W_PROGRAM || t >= run->words) {
    CDBC_FAULT(run, TAMSIL_CDBC_ERR_BOUNDS, outside);
    return false;
  }
  *target = t;
  return true;
}

void tamsil_cdbc_jump(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc) {
  uint32_t c = TAMSIL_CDBC_OP1(insn);
  if (c > 7) {
    CDBC_ASSERT("CDBC: condition error in 'jump' byte code");
    return;
  }
  if (c != 0 && (c & run->image[TAMSIL_CDBC_W_FLAGS] & 0x7u) == 0) {
    return;
  }
  uint32_t t;
  if (cdbcTarget(run, insn, pc, &msgsJump, "CDBC: target outside the program in 'jump' byte code", &t)) {
    run->image[TAMSIL_CDBC_W_PC] = t;
  }
}

// A call saves words 4-15 (the program counter already points past the call)
// and the dispatch loop restores them at the subroutine's word 30.
void tamsil_cdbc_call(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc) {
  uint32_t t;
  if (!cdbcTarget(run, insn, pc, &msgsCall, "CDBC: target outside the program in 'call' byte code", &t)) {
    return;
  }
  if (run->depth >= TAMSIL_CDBC_MAX_DEPTH) {
    CDBC_FAULT(run, TAMSIL_CDBC_ERR_LIMIT, "CDBC: call nesting too deep in 'call' byte code");
    return;
  }
  memcpy(run->saved[run->depth], &run->image[4], sizeof(run->saved[0]));
  run->depth++;
  run->image[TAMSIL_CDBC_W_PC] = t;
}

void tamsil_cdbc_ret(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc) {
  (void)run;
  (void)insn;
  (void)pc;
  // Only the bare word 30 returns; the loop handles it before dispatch.
  CDBC_ASSERT("CDBC: error 'ret' instruction cannot be invoked");
}

void tamsil_cdbc_stall(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc) {
  (void)pc;
  uint32_t us;
  if (!cdbcOperand2(run, insn, false, &msgsStall, &us)) {
    return;
  }
  if (us > TAMSIL_CDBC_MAX_STALL_US - run->stall_us) {
    CDBC_FAULT(run, TAMSIL_CDBC_ERR_LIMIT, "CDBC: stall time limit reached in 'stall' byte code");
    return;
  }
  run->stall_us += us;
  if (us != 0) {
    run->bus->delayUs(run->bus_ctx, us);
  }
}

// ---------------------------------------------------------------------------
// Output

void tamsil_cdbc_dump(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc) {
  (void)pc;
  uint32_t code = TAMSIL_CDBC_SPACE(insn);
  if (code == 3) {
    CDBC_ASSERT("CDBC: size error in 'dump' byte code");
    return;
  }
  uint32_t width = 1u << code;
  uint32_t w = TAMSIL_CDBC_OP1(insn);
  uint32_t v = cdbcWord(run, w);
  uint32_t pos = run->image[9];
  // pos - base is the byte index; both checks are needed so that neither
  // wrap-around nor a position below the base gets past.
  if (pos < run->out_base || run->out_len < width || pos - run->out_base > run->out_len - width) {
    CDBC_FAULT(run, TAMSIL_CDBC_ERR_BOUNDS, "CDBC: output position outside the response area in 'dump' byte code");
    return;
  }
  memcpy(run->out_va + (pos - run->out_base), &v, width);  // processor byte order
  run->image[9] = pos + width;
  if (pos + width - run->out_base > run->out_high) {
    run->out_high = pos + width - run->out_base;
  }
}

// ---------------------------------------------------------------------------
// Register spaces

// Serialises the address-then-data sequences on configuration register 0xFC
// among concurrent runs (the register is one latch per function).
static std::atomic_flag cdbcWindowBusy = ATOMIC_FLAG_INIT;

static void cdbcWindowLock(void) {
  while (cdbcWindowBusy.test_and_set(std::memory_order_acquire)) {
  }
}

static void cdbcWindowUnlock(void) {
  cdbcWindowBusy.clear(std::memory_order_release);
}

// Control register, read twice: the second read is the one that counts.
static uint32_t cdbcReadCtrl(const tamsil_cdbcBus *bus, void *ctx, const Adapter *adapter, const char *fn,
                             uint32_t *ctrl) {
  uint32_t v = 0;
  uint32_t status = bus->cfgRead32(ctx, TAMSIL_CDBC_MEMBAR_INT_CTRL, &v);
  if (status == 0) {
    status = bus->cfgRead32(ctx, TAMSIL_CDBC_MEMBAR_INT_CTRL, &v);
  }
  if (status != 0) {
    CDBC_WND_ERR(adapter, fn, "Unable to read PCI Config MEMBAR_INT_CTRL\n");
    return status;
  }
  if (v & 0x1u) {
    CDBC_WND_ERR(adapter, fn, "winmode bit set in PCI Config MEMBAR_INT_CTRL\n");
    return VMK_FAILURE;
  }
  *ctrl = v;
  return 0;
}

// Points the window at the dword holding `address`.
static uint32_t cdbcSetWindow(const tamsil_cdbcBus *bus, void *ctx, const Adapter *adapter, const char *fn,
                              uint32_t address) {
  uint32_t ctrl;
  uint32_t status = cdbcReadCtrl(bus, ctx, adapter, fn, &ctrl);
  if (status != 0) {
    return status;
  }
  uint32_t word = (ctrl & 0x3FF00000u) | 0x80000002u | (address & 0x000FFFFCu);
  status = bus->cfgWrite32(ctx, TAMSIL_CDBC_MEMBAR_INT_CTRL, word);
  if (status != 0) {
    CDBC_WND_ERR(adapter, fn, "Unable to write PCI Config MEMBAR_INT_CTRL\n");
  }
  return status;
}

static const char *cdbcWndName(bool write, uint32_t width) {
  static const char *const names[2][3] = {
      {"tamsil_memBarWndRead8", "tamsil_memBarWndRead16", "tamsil_memBarWndRead32"},
      {"tamsil_memBarWndWrite8", "tamsil_memBarWndWrite16", "tamsil_memBarWndWrite32"},
  };
  return names[write][width == 1 ? 0 : width == 2 ? 1 : 2];
}

static uint32_t cdbcWidthMask(uint32_t width) {
  return width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
}

// Window read with the lock held.
static uint32_t cdbcWndReadLocked(const tamsil_cdbcBus *bus, void *ctx, const Adapter *adapter,
                                  const char *fn, uint32_t address, uint32_t width, uint32_t *value) {
  *value = 0;
  uint32_t status = cdbcSetWindow(bus, ctx, adapter, fn, address);
  if (status != 0) {
    return status;
  }
  uint32_t word = 0;
  status = bus->cfgRead32(ctx, TAMSIL_CDBC_MEMBAR_INT_CTRL, &word);
  if (status != 0) {
    CDBC_WND_ERR(adapter, fn, "Unable to read PCI Config MEMBAR_INT_CTRL\n");
    return status;
  }
  *value = (word >> (8 * (address & 3u))) & cdbcWidthMask(width);
  return 0;
}

uint32_t tamsil_cdbcWndRead(const tamsil_cdbcBus *bus, void *ctx, const Adapter *adapter, uint32_t address,
                            uint32_t width, uint32_t *value) {
  *value = 0;
  if ((width != 1 && width != 2 && width != 4) || (address & (width - 1)) != 0 ||
      address >= TAMSIL_CDBC_WINDOW_SIZE) {
    return VMK_BAD_PARAM;
  }
  cdbcWindowLock();
  uint32_t status = cdbcWndReadLocked(bus, ctx, adapter, cdbcWndName(false, width), address, width, value);
  cdbcWindowUnlock();
  return status;
}

uint32_t tamsil_cdbcWndWrite(const tamsil_cdbcBus *bus, void *ctx, const Adapter *adapter, uint32_t address,
                             uint32_t width, uint32_t value) {
  if ((width != 1 && width != 2 && width != 4) || (address & (width - 1)) != 0 ||
      address >= TAMSIL_CDBC_WINDOW_SIZE) {
    return VMK_BAD_PARAM;
  }
  const char *fn = cdbcWndName(true, width);
  uint32_t status = 0;
  cdbcWindowLock();
  uint32_t word = value;
  if (width != 4) {
    // The window moves whole dwords: merge into the current one.
    uint32_t cur;
    status = cdbcWndReadLocked(bus, ctx, adapter, "tamsil_memBarWndRead32", address & ~3u, 4, &cur);
    if (status != 0) {
      CDBC_WND_ERR(adapter, fn, "Unable to get existing value in PCI Config MEMBAR_INT_CTRL\n");
      cdbcWindowUnlock();
      return status;
    }
    uint32_t shift = 8 * (address & 3u);
    uint32_t mask = cdbcWidthMask(width) << shift;
    word = (cur & ~mask) | ((value << shift) & mask);
  }
  status = cdbcSetWindow(bus, ctx, adapter, fn, address);
  if (status == 0) {
    status = bus->cfgWrite32(ctx, TAMSIL_CDBC_MEMBAR_INT_CTRL, word);
    if (status != 0) {
      CDBC_WND_ERR(adapter, fn, "Unable to write PCI Config MEMBAR_INT_CTRL\n");
    }
  }
  cdbcWindowUnlock();
  return status;
}

// Register read (opcodes 8-10) and write (12-14): opcode bits 0-1 the size,
// bit 2 the direction.
void tamsil_cdbc_rdwr(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc) {
  (void)pc;
  uint32_t addr;
  if (!cdbcOperand1(insn, &msgsRead) || !cdbcOperand2(run, insn, false, &msgsRead, &addr)) {
    return;
  }
  uint32_t op = TAMSIL_CDBC_OPCODE(insn);
  uint32_t width = 1u << (op & 3u);
  bool write = (op & 4u) != 0;
  uint32_t *r = &run->image[TAMSIL_CDBC_OP1(insn)];
  uint32_t space = TAMSIL_CDBC_SPACE(insn);
  uint32_t bar = space == TAMSIL_CDBC_SPACE_PCICFG1 ? TAMSIL_CDBC_SPACE_PCICFG : space;

  if ((addr & (width - 1)) != 0) {
    CDBC_FAULT(run, TAMSIL_CDBC_ERR_BOUNDS, "CDBC: unaligned register offset in 'read' byte code");
    return;
  }
  if (bar == TAMSIL_CDBC_SPACE_CSR && run->family_code == 4) {
    // This chip family reaches its CSRs through the window, from function 0 only.
    if (addr >= TAMSIL_CDBC_WINDOW_SIZE) {
      CDBC_FAULT(run, TAMSIL_CDBC_ERR_BOUNDS, "CDBC: register offset outside the window in 'read' byte code");
      return;
    }
    if ((run->pf_num & 0x3Fu) != 0) {
      if (!write) {
        *r = 0;
      }
      return;
    }
    if (write) {
      tamsil_cdbcWndWrite(run->bus, run->bus_ctx, run->adapter, addr, width, *r);
    } else {
      uint32_t v = 0;
      tamsil_cdbcWndRead(run->bus, run->bus_ctx, run->adapter, addr, width, &v);
      *r = v;
    }
    return;
  }
  if ((uint64_t)addr + width > run->bar_size[bar]) {
    CDBC_FAULT(run, TAMSIL_CDBC_ERR_BOUNDS, "CDBC: register offset outside the mapped BAR in 'read' byte code");
    return;
  }
  if (write) {
    run->bus->barWrite(run->bus_ctx, bar, addr, *r & cdbcWidthMask(width), width);
  } else {
    *r = run->bus->barRead(run->bus_ctx, bar, addr, width) & cdbcWidthMask(width);
  }
}

// ---------------------------------------------------------------------------
// Dispatch

const tamsil_cdbcHandler pinst_set[TAMSIL_CDBC_NUM_OPCODES] = {
    tamsil_cdbc_nop,     // 0
    tamsil_cdbc_move,    // 1
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // 2-7
    tamsil_cdbc_rdwr,    // 8 read8
    tamsil_cdbc_rdwr,    // 9 read16
    tamsil_cdbc_rdwr,    // 10 read32
    nullptr,             // 11
    tamsil_cdbc_rdwr,    // 12 write8
    tamsil_cdbc_rdwr,    // 13 write16
    tamsil_cdbc_rdwr,    // 14 write32
    nullptr,             // 15
    tamsil_cdbc_dump,    // 16
    tamsil_cdbc_jump,    // 17
    tamsil_cdbc_add,     // 18
    tamsil_cdbc_sub,     // 19
    tamsil_cdbc_mul,     // 20
    tamsil_cdbc_div,     // 21
    tamsil_cdbc_mod,     // 22
    tamsil_cdbc_and,     // 23
    tamsil_cdbc_or,      // 24
    tamsil_cdbc_not,     // 25
    tamsil_cdbc_xor,     // 26
    tamsil_cdbc_compare, // 27
    tamsil_cdbc_call,    // 28
    tamsil_cdbc_stall,   // 29
    tamsil_cdbc_ret,     // 30
};

void tamsil_cdbc_run(tamsil_cdbcRun *run) {
  uint32_t *image = run->image;
  while (run->fault == 0) {
    uint32_t pc = image[TAMSIL_CDBC_W_PC];
    if (pc < TAMSIL_CDBC_W_PROGRAM || pc >= run->words) {
      CDBC_FAULT(run, TAMSIL_CDBC_ERR_BOUNDS, "CDBC: program counter outside the program");
      return;
    }
    uint32_t insn = image[pc];
    if (insn == TAMSIL_CDBC_RET_WORD) {
      if (run->depth == 0) {
        return;
      }
      run->depth--;
      memcpy(&image[4], run->saved[run->depth], sizeof(run->saved[0]));
      continue;
    }
    if (++run->steps > TAMSIL_CDBC_MAX_STEPS) {
      CDBC_FAULT(run, TAMSIL_CDBC_ERR_LIMIT, "CDBC: step limit reached");
      return;
    }
    pc++;
    image[TAMSIL_CDBC_W_PC] = pc;
    uint32_t op = TAMSIL_CDBC_OPCODE(insn);
    if (op >= TAMSIL_CDBC_NUM_OPCODES || pinst_set[op] == nullptr) {
      continue;
    }
    pinst_set[op](run, insn, pc);
  }
}

uint32_t tamsil_cdbc_exec(tamsil_cdbcRun *run) {
  // The handle words are the only place an image would see kernel state.
  run->image[TAMSIL_CDBC_W_HANDLE_LO] = 0;
  run->image[TAMSIL_CDBC_W_HANDLE_HI] = 0;
  for (uint32_t s = 0; s < 4; s++) {
    run->bar_size[s] = s == TAMSIL_CDBC_SPACE_PCICFG1 ? 0 : run->bus->barSize(run->bus_ctx, s);
  }
  tamsil_cdbc_run(run);
  // The caller takes r9 - base as the length of the output: it must not
  // name bytes outside the area or bytes never written.
  uint32_t pos = run->image[9];
  if (pos < run->out_base || pos - run->out_base > run->out_len) {
    if (run->fault == 0) {
      CDBC_ASSERT("CDBC: output position outside the response area at the end of the run");
    }
    cdbcFault(run, TAMSIL_CDBC_ERR_BOUNDS);
    run->image[9] = run->out_base + run->out_high;
  }
  if (run->fault != 0) {
    run->image[0] = run->fault;
  }
  return run->image[0];
}

// ---------------------------------------------------------------------------
// The Adapter's register spaces

static void *cdbcAdapterBar(const Adapter *a, uint32_t space, vmk_uint8 *index) {
  switch (space) {
    case TAMSIL_CDBC_SPACE_PCICFG:
      *index = a->pcicfg_bar.bar;
      return a->pcicfg_va;
    case TAMSIL_CDBC_SPACE_CSR:
      *index = a->csr_bar.bar;
      return a->csr_va;
    case TAMSIL_CDBC_SPACE_DB:
      *index = a->db_bar.bar;
      return a->db_va;
    default:
      *index = 0;
      return nullptr;
  }
}

static uint64_t cdbcAdapterBarSize(void *ctx, uint32_t space) {
  const Adapter *a = static_cast<const Adapter *>(ctx);
  vmk_uint8 index;
  if (cdbcAdapterBar(a, space, &index) == nullptr) {
    return 0;
  }
  vmk_PCIResource res;
  if (vmk_PCIQueryIOResource(a->pci_device, index, &res) != VMK_OK) {
    return 0;
  }
  return res.size;
}

static uint32_t cdbcAdapterBarRead(void *ctx, uint32_t space, uint32_t offset, uint32_t width) {
  vmk_uint8 index;
  vmk_VA va = (vmk_VA)cdbcAdapterBar(static_cast<const Adapter *>(ctx), space, &index) + offset;
  switch (width) {
    case 1:
      return vmk_MMIORead8(va);
    case 2:
      return vmk_MMIORead16(va);
    default:
      return vmk_MMIORead32(va);
  }
}

static void cdbcAdapterBarWrite(void *ctx, uint32_t space, uint32_t offset, uint32_t value, uint32_t width) {
  vmk_uint8 index;
  vmk_VA va = (vmk_VA)cdbcAdapterBar(static_cast<const Adapter *>(ctx), space, &index) + offset;
  switch (width) {
    case 1:
      vmk_MMIOWrite8(va, (vmk_uint8)value);
      break;
    case 2:
      vmk_MMIOWrite16(va, (vmk_uint16)value);
      break;
    default:
      vmk_MMIOWrite32(va, value);
      break;
  }
}

static uint32_t cdbcAdapterCfgRead32(void *ctx, uint32_t offset, uint32_t *value) {
  const Adapter *a = static_cast<const Adapter *>(ctx);
  return vmk_PCIReadConfig(tamsilDriver.module_id, a->pci_device, VMK_PCI_CONFIG_ACCESS_32, (vmk_uint16)offset,
                           value);
}

static uint32_t cdbcAdapterCfgWrite32(void *ctx, uint32_t offset, uint32_t value) {
  const Adapter *a = static_cast<const Adapter *>(ctx);
  return vmk_PCIWriteConfig(tamsilDriver.module_id, a->pci_device, VMK_PCI_CONFIG_ACCESS_32, (vmk_uint16)offset,
                            value);
}

static void cdbcAdapterDelay(void *ctx, uint32_t us) {
  (void)ctx;
  vmk_DelayUsecs(us);
}

const tamsil_cdbcBus tamsilCdbcAdapterBus = {
    cdbcAdapterBarSize, cdbcAdapterBarRead,  cdbcAdapterBarWrite,
    cdbcAdapterCfgRead32, cdbcAdapterCfgWrite32, cdbcAdapterDelay,
};

uint32_t tamsil_readMembarCtrlReg(Adapter *adapter, uint32_t *value) {
  *value = 0;
  return cdbcReadCtrl(&tamsilCdbcAdapterBus, adapter, adapter, "tamsil_readMembarCtrlReg", value);
}

uint32_t tamsil_memBarWndRead32(Adapter *adapter, uint32_t address, uint32_t *value) {
  return tamsil_cdbcWndRead(&tamsilCdbcAdapterBus, adapter, adapter, address, 4, value);
}

// ---------------------------------------------------------------------------
// Entry point of the pass-through

uint32_t tamsil_cdbc_get_dump(uint64_t handle, uint32_t offset, uint32_t instance, uint32_t length, uint32_t *image,
                              uint8_t *out_va, uint32_t out_len) {
  Adapter *adapter = reinterpret_cast<Adapter *>(static_cast<uintptr_t>(handle));
  if (image == nullptr) {
    return TAMSIL_CDBC_ERR_BOUNDS;
  }
  if (length > 9) {
    image[9] = offset;  // nothing written, whatever follows
  }
  if (adapter == nullptr || length < TAMSIL_CDBC_MIN_WORDS || length > TAMSIL_CDBC_MAX_WORDS ||
      (out_va == nullptr && out_len != 0)) {
    CDBC_ASSERT("CDBC: image refused: adapter, length or response area out of range");
    return TAMSIL_CDBC_ERR_BOUNDS;
  }
  image[8] = length;
  image[11] = instance;

  tamsil_cdbcRun run;
  memset(&run, 0, sizeof(run));
  run.image = image;
  run.words = length;
  run.out_va = out_va;
  run.out_base = offset;
  run.out_len = out_len;
  run.bus = &tamsilCdbcAdapterBus;
  run.bus_ctx = adapter;
  run.adapter = adapter;
  run.family_code = adapter->fw_chip_family;
  run.pf_num = adapter->pf_num;
  return tamsil_cdbc_exec(&run);
}

uint32_t tamsil_cdbc_dumpLength(const uint32_t *image, uint32_t length, uint32_t offset) {
  if (image == nullptr || length <= 9) {
    return 0;
  }
  return image[9] - offset;
}
