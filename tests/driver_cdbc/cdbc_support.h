// Helpers of the bytecode interpreter tests: an instruction encoder, a
// program image with guard words, and a register bus whose every access is
// recorded, with a model of the CSR window behind configuration register 0xFC.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tamsil_cdbc.h"

namespace cdbctest {

constexpr uint32_t Ins(uint32_t op, uint32_t op1 = 0, uint32_t kind = 0, uint32_t space = 0,
                       uint32_t op2 = 0) {
  return op | (op1 << 8) | (kind << 12) | (space << 14) | (op2 << 16);
}
constexpr uint32_t kImm = TAMSIL_CDBC_KIND_IMM;
constexpr uint32_t kReg = TAMSIL_CDBC_KIND_REG;
constexpr uint32_t kVar = TAMSIL_CDBC_KIND_VAR;
constexpr uint32_t kSpecial = TAMSIL_CDBC_KIND_SPECIAL;
constexpr uint32_t kEnd = TAMSIL_CDBC_RET_WORD;
constexpr uint32_t kMarker = 7;  // r7 = 1 shows that an instruction ran

// Common instructions.
constexpr uint32_t MoveImm(uint32_t r, uint32_t imm) { return Ins(TAMSIL_CDBC_OP_MOVE, r, kImm, 0, imm & 0xFFFF); }
constexpr uint32_t Jump(uint32_t mask, uint32_t off) { return Ins(TAMSIL_CDBC_OP_JUMP, mask, kImm, 0, off & 0xFFFF); }
constexpr uint32_t Call(uint32_t off) { return Ins(TAMSIL_CDBC_OP_CALL, 0, kImm, 0, off & 0xFFFF); }
constexpr uint32_t Dump(uint32_t r, uint32_t widthCode) { return Ins(TAMSIL_CDBC_OP_DUMP, r, 0, widthCode, 0); }

// A program image: words 0-15 are the header, the program starts at 16.
// The vector holds kGuard extra words after the image that a run must never
// read as program or write.
struct Image {
  static constexpr uint32_t kGuard = 16;
  static constexpr uint32_t kGuardWord = 0x5A5A5A5A;
  std::vector<uint32_t> w;
  uint32_t words;
  uint32_t at = TAMSIL_CDBC_W_PROGRAM;

  explicit Image(uint32_t n = 64) : w(n + kGuard, 0), words(n) {
    for (uint32_t i = n; i < n + kGuard; i++) w[i] = kGuardWord;
    w[TAMSIL_CDBC_W_PC] = TAMSIL_CDBC_W_PROGRAM;
  }
  Image& Op(uint32_t insn) {
    w[at++] = insn;
    return *this;
  }
  Image& Ops(std::initializer_list<uint32_t> insns) {
    for (uint32_t i : insns) Op(i);
    return *this;
  }
  bool GuardsIntact() const {
    for (uint32_t i = words; i < words + kGuard; i++)
      if (w[i] != kGuardWord) return false;
    return true;
  }
};

struct Access {
  char kind;  // 'r' BAR read, 'w' BAR write, 'c' config read, 'C' config write
  uint32_t bar;
  uint32_t offset;
  uint32_t value;
  uint32_t width;
  bool operator==(const Access&) const = default;
};

// Register bus of the tests. BARs are byte arrays (little endian); config
// register 0xFC is a latch: writing a window address word arms it, the next
// access moves data through the window.
struct FakeBus {
  std::vector<uint8_t> bar[4];  // indexed by TAMSIL_CDBC_SPACE_* (1 unused)
  std::vector<Access> log;
  uint32_t ctrl = 0x12300000;                // value the control register reads
  std::map<uint32_t, uint32_t> window;       // dword address -> content
  bool armed = false;
  uint32_t windowAddr = 0;
  int failCfgReadAt = -1;                    // n-th config read (0-based) fails
  int failCfgWriteAt = -1;
  int cfgReads = 0, cfgWrites = 0;
  uint64_t delayedUs = 0;

  FakeBus() {
    bar[TAMSIL_CDBC_SPACE_PCICFG].resize(0x1000);
    bar[TAMSIL_CDBC_SPACE_CSR].resize(0x20000);
    bar[TAMSIL_CDBC_SPACE_DB].resize(0x10000);
  }
  uint32_t Get(uint32_t b, uint32_t off, uint32_t width) const {
    uint32_t v = 0;
    std::memcpy(&v, &bar[b][off], width);
    return v;
  }
  void Set(uint32_t b, uint32_t off, uint32_t v, uint32_t width) { std::memcpy(&bar[b][off], &v, width); }
  size_t BarAccesses() const {
    size_t n = 0;
    for (const auto& a : log) n += a.kind == 'r' || a.kind == 'w';
    return n;
  }
  size_t CfgAccesses() const { return log.size() - BarAccesses(); }

  static FakeBus* Self(void* ctx) { return static_cast<FakeBus*>(ctx); }
  static uint64_t BarSize(void* ctx, uint32_t b) { return Self(ctx)->bar[b].size(); }
  static uint32_t BarRead(void* ctx, uint32_t b, uint32_t off, uint32_t width) {
    FakeBus* s = Self(ctx);
    uint32_t v = s->Get(b, off, width);
    s->log.push_back({'r', b, off, v, width});
    return v;
  }
  static void BarWrite(void* ctx, uint32_t b, uint32_t off, uint32_t v, uint32_t width) {
    FakeBus* s = Self(ctx);
    s->log.push_back({'w', b, off, v, width});
    s->Set(b, off, v, width);
  }
  static uint32_t CfgRead32(void* ctx, uint32_t off, uint32_t* v) {
    FakeBus* s = Self(ctx);
    if (s->cfgReads++ == s->failCfgReadAt) return 0xbad0001;
    if (off != TAMSIL_CDBC_MEMBAR_INT_CTRL) {
      *v = 0;
    } else if (s->armed) {
      s->armed = false;
      *v = s->window[s->windowAddr];
    } else {
      *v = s->ctrl;
    }
    s->log.push_back({'c', 0, off, *v, 4});
    return 0;
  }
  static uint32_t CfgWrite32(void* ctx, uint32_t off, uint32_t v) {
    FakeBus* s = Self(ctx);
    if (s->cfgWrites++ == s->failCfgWriteAt) return 0xbad0001;
    s->log.push_back({'C', 0, off, v, 4});
    if (off != TAMSIL_CDBC_MEMBAR_INT_CTRL) return 0;
    if (s->armed) {
      s->armed = false;
      s->window[s->windowAddr] = v;
    } else if ((v & 0x80000002u) == 0x80000002u) {
      s->armed = true;
      s->windowAddr = v & 0x000FFFFCu;
    }
    return 0;
  }
  static void Delay(void* ctx, uint32_t us) { Self(ctx)->delayedUs += us; }

  static constexpr tamsil_cdbcBus kOps = {BarSize, BarRead, BarWrite, CfgRead32, CfgWrite32, Delay};
};

// The response area of a run, with guard bytes on both sides.
struct Output {
  static constexpr uint32_t kGuard = 16;
  static constexpr uint8_t kGuardByte = 0xA5;
  std::vector<uint8_t> buf;
  uint32_t len;
  explicit Output(uint32_t n = 32) : buf(n + 2 * kGuard, kGuardByte), len(n) {
    std::fill(buf.begin() + kGuard, buf.begin() + kGuard + n, 0);
  }
  uint8_t* Area() { return buf.data() + kGuard; }
  bool GuardsIntact() const {
    for (uint32_t i = 0; i < kGuard; i++)
      if (buf[i] != kGuardByte || buf[kGuard + len + i] != kGuardByte) return false;
    return true;
  }
};

struct RunOpts {
  uint32_t outBase = 0x1000;
  uint32_t family = 0;
  uint32_t pf = 0;
  uint32_t r9 = 0;  // r9 at the start; 0: the output base
};

// Runs `img` on `bus` with r9 = the output base (unless `o.r9` says other);
// returns r0.
inline uint32_t Exec(Image& img, FakeBus& bus, Output& out, RunOpts o = {}) {
  img.w[9] = o.r9 ? o.r9 : o.outBase;
  tamsil_cdbcRun run{};
  run.image = img.w.data();
  run.words = img.words;
  run.out_va = out.Area();
  run.out_base = o.outBase;
  run.out_len = out.len;
  run.bus = &FakeBus::kOps;
  run.bus_ctx = &bus;
  run.adapter = nullptr;
  run.family_code = o.family;
  run.pf_num = o.pf;
  return tamsil_cdbc_exec(&run);
}

}  // namespace cdbctest
