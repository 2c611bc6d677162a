// Crash-dump bytecode (cdbc) interpreter.
//
// A management client collects an adapter core dump segment by segment: for
// each segment it sends a small program through the firmware pass-through
// (subsystem 11, opcode 24, p+0 = 1). The pass-through copies the program into
// a heap image and calls tamsil_cdbc_get_dump(); the program reads adapter
// registers, computes in twelve 32-bit registers and appends what it wants to
// keep to the response area of the same request.
//
// The program is untrusted input from user space. The interpreter never
// touches memory outside the image, the response area it is given and the
// adapter's mapped register spaces: every variable index, jump and call
// target, register offset and output position is checked, and steps, call
// nesting and stall time are bounded. A program that breaks a bound ends at
// once with an error status in r0 (TAMSIL_CDBC_ERR_BOUNDS or
// TAMSIL_CDBC_ERR_LIMIT); what it dumped before stays valid. The Adapter's
// address is never shown to a program (image words 12-13 read 0).
#pragma once

#include <cstddef>
#include <cstdint>

struct Adapter;

// ---------------------------------------------------------------------------
// Image layout: an array of u32 words.
//   0-11  r0-r11 (r0 = segment status; at entry r8 = length, r9 = output
//         position, r11 = instance)
//   12-13 adapter handle (always 0 here: the address is not for programs)
//   14    flags (bit 0 equal, bit 1 register > operand, bit 2 register < operand)
//   15    program counter (its value in the image is the entry point)
//   16... program and variables
#define TAMSIL_CDBC_NUM_REGS 12u
#define TAMSIL_CDBC_W_HANDLE_LO 12u
#define TAMSIL_CDBC_W_HANDLE_HI 13u
#define TAMSIL_CDBC_W_FLAGS 14u
#define TAMSIL_CDBC_W_PC 15u
#define TAMSIL_CDBC_W_PROGRAM 16u

#define TAMSIL_CDBC_FLAG_EQ 0x1u
#define TAMSIL_CDBC_FLAG_GT 0x2u
#define TAMSIL_CDBC_FLAG_LT 0x4u

// The one form of the return opcode: ends the run or returns from a call.
#define TAMSIL_CDBC_RET_WORD 30u

// Instruction word fields.
#define TAMSIL_CDBC_OPCODE(w) ((w) & 0xFFu)
#define TAMSIL_CDBC_OP1(w) (((w) >> 8) & 0xFu)
#define TAMSIL_CDBC_KIND(w) (((w) >> 12) & 0x3u)
#define TAMSIL_CDBC_SPACE(w) (((w) >> 14) & 0x3u)
#define TAMSIL_CDBC_OP2(w) ((w) >> 16)

// Operand-2 kinds.
#define TAMSIL_CDBC_KIND_IMM 0u
#define TAMSIL_CDBC_KIND_REG 1u
#define TAMSIL_CDBC_KIND_VAR 2u
#define TAMSIL_CDBC_KIND_SPECIAL 3u

// Register spaces of read/write (bits 14-15).
#define TAMSIL_CDBC_SPACE_PCICFG 0u  // 0 and 1: PCI-configuration BAR
#define TAMSIL_CDBC_SPACE_PCICFG1 1u
#define TAMSIL_CDBC_SPACE_CSR 2u
#define TAMSIL_CDBC_SPACE_DB 3u

// Opcodes.
enum {
  TAMSIL_CDBC_OP_NOP = 0,
  TAMSIL_CDBC_OP_MOVE = 1,
  TAMSIL_CDBC_OP_READ8 = 8,
  TAMSIL_CDBC_OP_READ16 = 9,
  TAMSIL_CDBC_OP_READ32 = 10,
  TAMSIL_CDBC_OP_WRITE8 = 12,
  TAMSIL_CDBC_OP_WRITE16 = 13,
  TAMSIL_CDBC_OP_WRITE32 = 14,
  TAMSIL_CDBC_OP_DUMP = 16,
  TAMSIL_CDBC_OP_JUMP = 17,
  TAMSIL_CDBC_OP_ADD = 18,
  TAMSIL_CDBC_OP_SUB = 19,
  TAMSIL_CDBC_OP_MUL = 20,
  TAMSIL_CDBC_OP_DIV = 21,
  TAMSIL_CDBC_OP_MOD = 22,
  TAMSIL_CDBC_OP_AND = 23,
  TAMSIL_CDBC_OP_OR = 24,
  TAMSIL_CDBC_OP_NOT = 25,
  TAMSIL_CDBC_OP_XOR = 26,
  TAMSIL_CDBC_OP_COMPARE = 27,
  TAMSIL_CDBC_OP_CALL = 28,
  TAMSIL_CDBC_OP_STALL = 29,
  TAMSIL_CDBC_OP_RET = 30,
  TAMSIL_CDBC_NUM_OPCODES = 31,
};

// Bounds of one run.
#define TAMSIL_CDBC_MIN_WORDS 17u                 // header plus one instruction
#define TAMSIL_CDBC_MAX_WORDS (65536u / 4u)       // a whole pass-through request
#define TAMSIL_CDBC_MAX_STEPS (1024u * 1024u)     // instructions executed
#define TAMSIL_CDBC_MAX_DEPTH 16u                 // nested calls
#define TAMSIL_CDBC_MAX_STALL_US 1000000u         // total busy-wait per run
#define TAMSIL_CDBC_WINDOW_SIZE 0x100000u         // bytes reachable through 0xFC

// r0 of a run that broke a bound.
#define TAMSIL_CDBC_ERR_BOUNDS 0xbad0007u  // index, target, offset or position outside its area
#define TAMSIL_CDBC_ERR_LIMIT 0xbad0021u   // step, nesting or stall budget spent

// PCI configuration register of the CSR window (MEMBAR_INT_CTRL).
#define TAMSIL_CDBC_MEMBAR_INT_CTRL 0xFCu

// Register-space access of one run. The driver binds it to the Adapter's
// mapped BARs and PCI configuration space (tamsilCdbcAdapterBus); tests may
// bind their own. `bar` is a TAMSIL_CDBC_SPACE_* value (PCICFG, CSR or DB);
// the interpreter has already checked offset and width against barSize().
typedef struct tamsil_cdbcBus {
  uint64_t (*barSize)(void *ctx, uint32_t bar);  // 0: not mapped
  uint32_t (*barRead)(void *ctx, uint32_t bar, uint32_t offset, uint32_t width);
  void (*barWrite)(void *ctx, uint32_t bar, uint32_t offset, uint32_t value, uint32_t width);
  // 32-bit PCI configuration access; a driver status (0 = success).
  uint32_t (*cfgRead32)(void *ctx, uint32_t offset, uint32_t *value);
  uint32_t (*cfgWrite32)(void *ctx, uint32_t offset, uint32_t value);
  void (*delayUs)(void *ctx, uint32_t us);  // busy-wait
} tamsil_cdbcBus;

// One run: the image and everything the program may reach.
typedef struct tamsil_cdbcRun {
  uint32_t *image;
  uint32_t words;        // image length in words
  uint8_t *out_va;       // response area: output position p is out_va[p - out_base]
  uint32_t out_base;
  uint32_t out_len;      // bytes in the response area
  const tamsil_cdbcBus *bus;
  void *bus_ctx;
  uint64_t bar_size[4];  // per space, from bus->barSize at the start of the run
  const Adapter *adapter;  // names the device in log lines (may be NULL)
  uint32_t family_code;  // ASIC generation code from the firmware configuration
  uint32_t pf_num;
  uint32_t steps;
  uint32_t stall_us;
  uint32_t depth;
  uint32_t fault;        // status of a broken bound; 0 while the run is sound
  uint32_t out_high;     // bytes from the start of the area up to the last one written
  uint32_t saved[TAMSIL_CDBC_MAX_DEPTH][12];  // words 4-15 of each open call
} tamsil_cdbcRun;

typedef void (*tamsil_cdbcHandler)(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);

// Opcode table: one handler per opcode 0-30; NULL slots (2-7, 11, 15) define
// no operation and are skipped like opcodes above 30.
extern const tamsil_cdbcHandler pinst_set[TAMSIL_CDBC_NUM_OPCODES];

// ---------------------------------------------------------------------------
// Entry point of the pass-through.
//
// tamsil_cdbc_get_dump(adapter, offset, instance, length, image, out_va, out_len)
//   adapter  the Adapter (Adapter *) as a u64 handle
//   offset   the requested start offset: the output position of out_va[0]
//   instance the requested instance (r11 at entry)
//   length   the image's length in 32-bit words as the request gives it
//            (r8 at entry). The caller must have checked that the request
//            really carries `length` words (24 + 4 * length payload bytes)
//            and copied exactly that many into `image`.
//   image    heap copy of the program, `length` words, run in place
//   out_va   the response area the program's dump output goes to (the
//            pass-through's p+8 onwards) and out_len its size in bytes
// Returns r0 at the end of the run: the program's segment status, or
// TAMSIL_CDBC_ERR_BOUNDS / TAMSIL_CDBC_ERR_LIMIT when the program broke a
// bound (also for a NULL adapter or image, or `length` outside
// TAMSIL_CDBC_MIN_WORDS..TAMSIL_CDBC_MAX_WORDS, without running anything).
// Afterwards image[9] - offset is the segment's length, always within
// 0..out_len: a program that leaves r9 outside its area ends with
// TAMSIL_CDBC_ERR_BOUNDS and r9 at the end of what it wrote. Read it with
// tamsil_cdbc_dumpLength(), which also covers images too short to have an r9.
// Runs on one adapter may be concurrent: the output area belongs to the call,
// and the window sequences through configuration register 0xFC are
// serialised inside.
//
// Chip identity comes from the Adapter: pf_num, and fw_chip_family (the ASIC
// generation code of the firmware configuration query; 4 sends CSR accesses
// through the window). The mapped BARs csr_va, db_va and pcicfg_va with the
// BAR indexes of their mapping records bound what a program may reach.
//
// Around the call, the pass-through (p+N = payload byte N of the request):
//   - answers a word count of 0 (p+16) by returning the request unchanged;
//   - refuses a request whose payload does not hold 24 + 4 * length bytes
//     (the payload itself being checked against the caller's buffer), so the
//     copy never reads past the request;
//   - copies the words from p+24 into a heap image of `length` words;
//   - passes the bytes from p+8 to the end of the caller's buffer as the
//     response area, so a dump can only land inside that buffer;
//   - stores the result at p+0 and tamsil_cdbc_dumpLength() at p+4, and
//     frees the image.
uint32_t tamsil_cdbc_get_dump(uint64_t adapter, uint32_t offset, uint32_t instance,
                              uint32_t length, uint32_t *image, uint8_t *out_va,
                              uint32_t out_len);

// Bytes the run of a `length`-word image written from `offset` produced
// (image[9] - offset; 0 when the image has no word 9).
uint32_t tamsil_cdbc_dumpLength(const uint32_t *image, uint32_t length, uint32_t offset);

// Runs a prepared run record from the program counter in its image until the
// final word 30 or a broken bound; returns r0. The record's image, words,
// output area, bus, adapter and chip identity must be set and the rest zeroed.
uint32_t tamsil_cdbc_exec(tamsil_cdbcRun *run);

// The fetch and dispatch loop; returns when it meets the final word 30.
void tamsil_cdbc_run(tamsil_cdbcRun *run);

// One handler per opcode (image in run, instruction word, pc after it).
void tamsil_cdbc_nop(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_move(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_rdwr(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_dump(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_jump(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_add(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_sub(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_mul(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_div(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_mod(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_and(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_or(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_not(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_xor(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_compare(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_call(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_stall(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);
void tamsil_cdbc_ret(tamsil_cdbcRun *run, uint32_t insn, uint32_t pc);

// ---------------------------------------------------------------------------
// CSR window through PCI configuration register 0xFC (used on chips of family
// code 4, function 0). Driver statuses; a failed read leaves *value 0.
uint32_t tamsil_readMembarCtrlReg(Adapter *adapter, uint32_t *value);
uint32_t tamsil_memBarWndRead32(Adapter *adapter, uint32_t address, uint32_t *value);

// The same on any bus (the run's accessors); width 1, 2 or 4 bytes; the
// address must be aligned to the width and below TAMSIL_CDBC_WINDOW_SIZE
// (else VMK_BAD_PARAM). `adapter` only names the device in log lines.
uint32_t tamsil_cdbcWndRead(const tamsil_cdbcBus *bus, void *ctx, const Adapter *adapter,
                            uint32_t address, uint32_t width, uint32_t *value);
uint32_t tamsil_cdbcWndWrite(const tamsil_cdbcBus *bus, void *ctx, const Adapter *adapter,
                             uint32_t address, uint32_t width, uint32_t value);

// The Adapter's register spaces as a bus (context: the Adapter *).
extern const tamsil_cdbcBus tamsilCdbcAdapterBus;
