/*
 * maint_dump_asm.h - builds the dump programs of the dump templates at
 * compile time.
 *
 * A dump program is a whole image of the adapter side's dump byte code:
 * words 0-11 the registers r0-r11 (r8 = bytes asked, r9 = output position,
 * r11 = instance are set by the runner), 12-13 the handle, 14 the flags,
 * 15 the entry program counter (16 here), the program from word 16. Every
 * program built here only reads (register reads of the PCI-configuration
 * and CSR spaces, never the doorbell space), stalls at most 5 ms per run,
 * ends in the return word 30, is followed only by zero words (the no-op)
 * up to its length, and writes at most r8 bytes from r9 on, so a segment
 * instance gets exactly its length across its chunks.
 *
 * What a program writes (positions p from the start of the instance):
 *  - a pattern word W(segment, instance, p) = (segment << 20) + instance +
 *    (p rounded down to a multiple of 64) (mod 2^32) at every p that is a
 *    multiple of 4, bytes in little-endian order; a tail of 1-3 bytes is the
 *    low bytes of the next pattern word. A word that changes with every
 *    64-byte block names each block's place and compresses the way memory
 *    contents do;
 *  - or the 32-bit register at p of the PCI-configuration or the CSR space
 *    (the audit of access widths reads it by 8, 16 and 32 bits).
 *
 *     static constexpr auto prog = dumpasm::build<27>(0x000D, dumpasm::reg(dumpasm::kPciCfg));
 *
 * A shape that does not fit its length does not compile.
 */
#ifndef DRELMO_MAINTENANCE_MAINT_DUMP_ASM_H
#define DRELMO_MAINTENANCE_MAINT_DUMP_ASM_H

#include <array>
#include <cstddef>

#include "tree/hm_types.h"

namespace dumpasm {

/* Opcodes of the dump byte code. */
enum : u32 {
    kMove = 1,
    kAnd = 23,
    kRead8 = 8,
    kRead16 = 9,
    kRead32 = 10,
    kDump = 16,
    kJump = 17,
    kAdd = 18,
    kSub = 19,
    kMul = 20,
    kDiv = 21,
    kCompare = 27,
    kStall = 29,
    kRet = 30,
};
/* Operand-2 kinds. */
enum : u32 { kImm = 0, kReg = 1, kVar = 2, kStore = 3 };
/* Register spaces of a read (bits 14-15). */
enum : u32 { kPciCfg = 0, kCsr = 2 };
/* Dump widths (bits 14-15). */
enum : u32 { kByte = 0, kHalf = 1, kWord = 2 };
/* Jump conditions: always, equal, above, below. */
enum : u32 { kAlways = 0, kEq = 1, kAbove = 2, kBelow = 4 };

/* The pattern word keeps the same value over blocks of this many bytes. */
constexpr u32 kPatternBlock = 64;
/* r5 of every image: the mask that rounds a position down to its block. */
constexpr u32 kBlockMask = ~(kPatternBlock - 1);
/* Microseconds the delay audit stalls per run. */
constexpr u32 kAuditStallUs = 5000;
/* The status the bad-status audit ends with. */
constexpr u32 kAuditBadStatus = 0x0BAD;

constexpr u32 insn(u32 op, u32 r, u32 kind, u32 op2, u32 bits14 = 0)
{
    return op | (r << 8) | (kind << 12) | (bits14 << 14) | ((op2 & 0xFFFFu) << 16);
}

enum class Kind : u8 {
    Pattern,        /* pattern words, whole words only */
    PatternTail,    /* pattern words, then a tail of single bytes */
    Pattern4,       /* one pattern word at position 0, when 4 bytes are asked */
    Registers,      /* 32-bit registers of a space from 0 */
    Stall,          /* stall, then pattern words */
    SmallWrites,    /* pattern words written as byte, half word, byte */
    AccessWidths,   /* PCI-configuration registers read by 8, 16 and 32 bits */
    Variables,      /* pattern words kept in image variables */
    LongCode,       /* pattern words from code at the far end of the image */
    NoData,         /* writes nothing */
    BadStatus,      /* pattern words, status kAuditBadStatus */
    LengthsStatuses /* instance i: i bytes fewer, status i */
};

struct Shape {
    Kind kind;
    u32 space;
};

constexpr Shape pattern() { return {Kind::Pattern, 0}; }
constexpr Shape reg(u32 space) { return {Kind::Registers, space}; }
constexpr Shape shape(Kind k) { return {k, 0}; }

/* Not constexpr: calling it while building a program stops the compile. */
inline void dump_program_does_not_fit() {}

template <size_t N>
struct Builder {
    std::array<u32, N> w{};
    size_t at = 16;

    constexpr size_t here() const { return at; }
    constexpr void emit(u32 x)
    {
        if (at >= N)
            dump_program_does_not_fit();
        w[at++] = x;
    }
    /* A jump whose target is filled in by land(). */
    constexpr size_t jump_from_here(u32 cond)
    {
        emit(insn(kJump, cond, kImm, 0));
        return at - 1;
    }
    constexpr void land(size_t jump, size_t target)
    {
        w[jump] = insn(kJump, (w[jump] >> 8) & 0xFu, kImm, (u32)((i32)target - (i32)jump));
    }
    constexpr void jump_to(u32 cond, size_t target)
    {
        emit(insn(kJump, cond, kImm, (u32)((i32)target - (i32)at)));
    }

    /* r1 = the instance's part of the pattern: r1 holds segment << 20. */
    constexpr void pattern_start() { emit(insn(kAdd, 1, kReg, 11)); }
    /* r2 = the pattern word at the output position (a multiple of 4). */
    constexpr void pattern_here()
    {
        emit(insn(kMove, 2, kReg, 9));
        emit(insn(kAnd, 2, kReg, 5));
        emit(insn(kAdd, 2, kReg, 1));
    }
    /* Whole pattern words while r8 >= 4. */
    constexpr void pattern_words()
    {
        size_t loop = here();
        emit(insn(kCompare, 8, kImm, 4));
        size_t out = jump_from_here(kBelow);
        pattern_here();
        emit(insn(kDump, 2, kImm, 0, kWord));
        emit(insn(kSub, 8, kImm, 4));
        jump_to(kAlways, loop);
        land(out, here());
    }
    /* The r8 bytes left (0-3) of the pattern word there, low byte first;
     * r0 is overwritten. */
    constexpr void pattern_tail()
    {
        pattern_here();
        size_t loop = here();
        emit(insn(kCompare, 8, kImm, 0));
        size_t out = jump_from_here(kEq);
        emit(insn(kDump, 2, kImm, 0, kByte));
        emit(insn(kDiv, 2, kImm, 256));
        emit(insn(kSub, 8, kImm, 1));
        jump_to(kAlways, loop);
        land(out, here());
    }
    constexpr void status(u32 value) { emit(insn(kMove, 0, kImm, value)); }
    constexpr void ret() { emit(kRet); }
};

template <size_t N>
constexpr std::array<u32, N> build(u32 segment, Shape s)
{
    Builder<N> b;
    b.w[1] = segment << 20;
    b.w[5] = kBlockMask;
    b.w[15] = 16;
    switch (s.kind) {
    case Kind::Pattern:
        b.pattern_start();
        b.pattern_words();
        break;
    case Kind::PatternTail:
        b.pattern_start();
        b.pattern_words();
        b.pattern_tail();
        b.status(0);
        break;
    case Kind::Pattern4: {
        b.pattern_start();
        b.emit(insn(kCompare, 8, kImm, 4));
        size_t out = b.jump_from_here(kBelow);
        b.emit(insn(kDump, 1, kImm, 0, kWord));
        b.land(out, b.here());
        break;
    }
    case Kind::Registers: {
        /* The register at the output position: position and address agree. */
        size_t loop = b.here();
        b.emit(insn(kCompare, 8, kImm, 4));
        size_t out = b.jump_from_here(kBelow);
        b.emit(insn(kRead32, 2, kReg, 9, s.space));
        b.emit(insn(kDump, 2, kImm, 0, kWord));
        b.emit(insn(kSub, 8, kImm, 4));
        b.jump_to(kAlways, loop);
        b.land(out, b.here());
        break;
    }
    case Kind::Stall:
        b.emit(insn(kStall, 0, kImm, kAuditStallUs));
        b.pattern_start();
        b.pattern_words();
        break;
    case Kind::SmallWrites: {
        b.pattern_start();
        size_t loop = b.here();
        b.emit(insn(kCompare, 8, kImm, 4));
        size_t out = b.jump_from_here(kBelow);
        b.pattern_here();
        b.emit(insn(kDump, 2, kImm, 0, kByte));
        b.emit(insn(kDiv, 2, kImm, 256));
        b.emit(insn(kDump, 2, kImm, 0, kHalf));
        b.emit(insn(kDiv, 2, kImm, 256));
        b.emit(insn(kDiv, 2, kImm, 256));
        b.emit(insn(kDump, 2, kImm, 0, kByte));
        b.emit(insn(kSub, 8, kImm, 4));
        b.jump_to(kAlways, loop);
        b.land(out, b.here());
        b.status(0);
        break;
    }
    case Kind::AccessWidths: {
        /* Per 8 bytes: two single bytes, a half word, a word; each read at
         * the output position, which the dump before it has advanced. */
        size_t loop = b.here();
        b.emit(insn(kCompare, 8, kImm, 8));
        size_t out = b.jump_from_here(kBelow);
        b.emit(insn(kRead8, 2, kReg, 9, kPciCfg));
        b.emit(insn(kDump, 2, kImm, 0, kByte));
        b.emit(insn(kRead8, 2, kReg, 9, kPciCfg));
        b.emit(insn(kDump, 2, kImm, 0, kByte));
        b.emit(insn(kRead16, 2, kReg, 9, kPciCfg));
        b.emit(insn(kDump, 2, kImm, 0, kHalf));
        b.emit(insn(kRead32, 2, kReg, 9, kPciCfg));
        b.emit(insn(kDump, 2, kImm, 0, kWord));
        b.emit(insn(kSub, 8, kImm, 8));
        b.jump_to(kAlways, loop);
        b.land(out, b.here());
        break;
    }
    case Kind::Variables: {
        /* Variables right after a jump over them: the segment word, the
         * block mask and the instance's part, kept there between uses. */
        size_t over = b.jump_from_here(kAlways);
        size_t seg_var = b.here();
        b.emit(segment << 20);
        size_t mask_var = b.here();
        b.emit(kBlockMask);
        size_t part_var = b.here();
        b.emit(0);
        b.land(over, b.here());
        b.emit(insn(kMove, 3, kVar, (u32)seg_var));
        b.emit(insn(kAdd, 3, kReg, 11));
        b.emit(insn(kMove, 3, kStore, (u32)part_var));
        size_t loop = b.here();
        b.emit(insn(kCompare, 8, kImm, 4));
        size_t out = b.jump_from_here(kBelow);
        b.emit(insn(kMove, 2, kReg, 9));
        b.emit(insn(kAnd, 2, kVar, (u32)mask_var));
        b.emit(insn(kAdd, 2, kVar, (u32)part_var));
        b.emit(insn(kDump, 2, kImm, 0, kWord));
        b.emit(insn(kSub, 8, kImm, 4));
        b.jump_to(kAlways, loop);
        b.land(out, b.here());
        break;
    }
    case Kind::LongCode: {
        /* The code sits at the far end, reached by one jump over a run of
         * no-ops that holds the segment word just before it. */
        size_t over = b.jump_from_here(kAlways);
        b.at = N - 16;
        size_t seg_var = b.here();
        b.emit(segment << 20);
        b.land(over, b.here());
        b.emit(insn(kMove, 1, kVar, (u32)seg_var));
        b.pattern_start();
        b.pattern_words();
        break;
    }
    case Kind::NoData:
        b.status(0);
        break;
    case Kind::BadStatus:
        b.pattern_start();
        b.pattern_words();
        b.status(kAuditBadStatus);
        break;
    case Kind::LengthsStatuses: {
        /* r10 = instance (the status); r8 -= instance, 0 when fewer are asked. */
        b.emit(insn(kMove, 10, kReg, 11));
        b.emit(insn(kCompare, 8, kReg, 11));
        size_t fewer = b.jump_from_here(kBelow);
        b.emit(insn(kSub, 8, kReg, 11));
        size_t go = b.jump_from_here(kAlways);
        b.land(fewer, b.here());
        b.emit(insn(kMove, 8, kImm, 0));
        b.land(go, b.here());
        b.pattern_start();
        b.pattern_words();
        b.pattern_tail();
        b.emit(insn(kMove, 0, kReg, 10));
        break;
    }
    }
    b.ret();
    return b.w;
}

}  // namespace dumpasm

#endif
