// One emulated adapter on a fake host, with the host's side of the mailbox
// and of the queues built from raw bytes (shared by the device tests).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "adapter.h"
#include "fake_host.h"
#include "fw_cmd.h"

namespace devtest {

using namespace adapter;
using fwtest::Req;

constexpr uint32_t kValid = 1u << 31, kAsync = 1u << 30, kDone = 1u << 28;

inline unsigned dbBar(Gen g) { return g == Gen::Pivard ? 0 : 4; }
inline unsigned cfgBar(Gen g) { return g == Gen::KS2 ? 1 : 0; }

// One adapter on a fake host, with the host's side of the mailbox and the
// queues built from raw bytes.
struct Rig {
  explicit Rig(Gen g, unsigned fns = 2, unsigned msix = 32, unsigned post_reads = 0, Mode mode = Mode::Sync,
               unsigned jitter_us = 0) {
    AdapterConfig c;
    // Sync: each doorbell's effect is checked as soon as it is written. Async:
    // the helpers below wait until the device thread has served it.
    c.mode = mode;
    c.async_delay_us = 0;
    c.async_jitter_us = jitter_us;
    c.fw.gen = g;
    c.fw.functions = fns;
    c.msix_vectors = msix;
    c.post_reads_until_ready = post_reads;
    card = std::make_unique<Adapter>(c);
    for (unsigned f = 0; f < fns; ++f) {
      fn(f)->attachHost(&host);
      fn(f)->configWrite(0x04, 0x0006, 2);   // memory space, bus master
      if (msix > 0) msixEnable(f, true);
      mbox.push_back(host.alloc(4096));
    }
  }
  hostbus::Function* fn(unsigned f) { return card->function(f); }
  // The enable bit of the MSI-X capability (message control at 0x52).
  void msixEnable(unsigned f, bool on) {
    uint32_t mc = fn(f)->configRead(0x52, 2);
    fn(f)->configWrite(0x52, on ? (mc | 0x8000) : (mc & ~0x8000u), 2);
  }
  Gen gen() const { return card->gen(); }
  uint32_t db(unsigned f, uint32_t off) { return fn(f)->barRead(dbBar(gen()), off, 4); }
  void dbw(unsigned f, uint32_t off, uint32_t v) { fn(f)->barWrite(dbBar(gen()), off, v, 4); }

  // Both halves of the mailbox address, as the doorbell takes them.
  void post(unsigned f, uint64_t addr) {
    dbw(f, 0x160, static_cast<uint32_t>(((addr >> 32) & ~3ull) | 2));
    dbw(f, 0x160, static_cast<uint32_t>((addr >> 4) << 2));
    settle();
  }
  void settle() { ASSERT_TRUE(card->waitIdle()); }
  uint32_t complFlags(unsigned f) { return host.read32(mbox[f] + 256 + 12); }
  uint16_t complStatus(unsigned f) { return static_cast<uint16_t>(host.read32(mbox[f] + 256)); }
  uint16_t complExt(unsigned f) { return static_cast<uint16_t>(host.read32(mbox[f] + 256) >> 16); }

  // A mailbox command, embedded in the WRB or in one scatter-gather buffer.
  // Returns the completion status; the response comes back into r.
  int mailbox(unsigned f, Req& r, bool sge = false, uint64_t tag = 0xABCD00001234ull) {
    uint8_t* w = host.at(mbox[f]);
    std::memset(w, 0, 272);
    fwtest::le(w + 4, r.b.size(), 4);
    fwtest::le(w + 8, tag, 8);
    uint64_t buf = 0;
    if (!sge) {
      fwtest::le(w, 1, 4);
      std::memcpy(w + 20, r.b.data(), std::min<size_t>(r.b.size(), 236));
    } else {
      buf = host.alloc(r.b.size());
      host.fill(buf, r.b.data(), r.b.size());
      fwtest::le(w, 8, 4);
      fwtest::le(w + 20, buf, 4);
      fwtest::le(w + 24, buf >> 32, 4);
      fwtest::le(w + 28, r.b.size(), 4);
    }
    post(f, mbox[f]);
    if (complFlags(f) == 0) return -1;
    if ((complFlags(f) & kValid) == 0) return -2;   // not a valid completion
    std::memcpy(r.b.data(), sge ? host.at(buf) : w + 20, std::min<size_t>(r.b.size(), sge ? r.b.size() : 236));
    EXPECT_EQ(fwtest::rd(w + 256 + 4, 8), tag);
    EXPECT_EQ(complFlags(f), kValid | kDone);
    host.write32(mbox[f] + 256 + 12, 0);
    return complStatus(f);
  }
  void bare(unsigned f, const uint8_t pattern[8]) {
    uint8_t* w = host.at(mbox[f]);
    std::memset(w, 0, 272);
    std::memcpy(w, pattern, 8);
    post(f, mbox[f]);
  }

  // Queues in host memory, created through the mailbox.
  struct Ring {
    uint64_t addr = 0;
    uint32_t id = 0;
    uint32_t entries = 0;
    uint32_t size = 0;
    uint32_t next = 0;   // host consumer / producer index
  };
  Ring eq(unsigned f) {
    Ring r{host.alloc(4096), 0, 1024, 4, 0};
    Req c(1, 13, 84);
    c.u16(0, 1).u32(4, 1u << 29).u32(8, 2u << 26).pages(20, r.addr, 1);
    EXPECT_EQ(mailbox(f, c), 0);
    r.id = c.r16(0);
    return r;
  }
  Ring cq(unsigned f, uint32_t eq_id, uint32_t code = 0) {   // 256 entries by default
    uint32_t entries = code == 3 ? 128 : (256u << code);
    Ring r{host.alloc(entries * 16), 0, entries, 16, 0};
    uint8_t v = fwtest::cqVersion(gen());
    unsigned pages = (entries * 16 + 4095) / 4096;
    Req c(1, 12, 84, v);
    c.u16(0, static_cast<uint16_t>(pages)).pages(20, r.addr, pages);
    if (v == 0) {
      c.u32(4, (code << 27) | (1u << 29) | (1u << 31)).u32(8, (eq_id << 22) | (1u << 31));
    } else {
      c.u8(2, 1).u32(4, (code << 27) | (1u << 29) | (1u << 31)).u32(8, eq_id | (1u << 31));
    }
    EXPECT_EQ(mailbox(f, c), 0);
    r.id = c.r16(0);
    return r;
  }
  Ring mcc(unsigned f, uint32_t cq_id, uint32_t mask) {
    Ring r{host.alloc(128 * 256), 0, 128, 256, 0};
    bool piv = gen() == Gen::Pivard;
    Req c(1, 90, 88, piv ? 1 : 0);
    c.u16(0, 8).u32(4, mask).pages(24, r.addr, 8);
    if (!piv) {
      c.u32(8, (8u << 16) | (cq_id << 22)).u32(12, 1u << 31);
    } else {
      c.u16(2, static_cast<uint16_t>(cq_id)).u32(8, cq_id | (8u << 16)).u32(12, 1u << 31).u32(16, 1);
    }
    EXPECT_EQ(mailbox(f, c), 0);
    r.id = c.r16(0);
    return r;
  }
  // One MCC command: the WRB goes to the ring's next slot, the doorbell posts it.
  void mccPost(unsigned f, Ring& ring, Req& r, uint64_t tag) {
    uint64_t slot = ring.addr + 256ull * ring.next;
    ring.next = (ring.next + 1) % ring.entries;
    uint8_t* w = host.at(slot);
    std::memset(w, 0, 256);
    fwtest::le(w, 1, 4);
    fwtest::le(w + 4, r.b.size(), 4);
    fwtest::le(w + 8, tag, 8);
    std::memcpy(w + 20, r.b.data(), std::min<size_t>(r.b.size(), 236));
    dbw(f, 0x140, (ring.id & 0x7FF) | (1u << 16));
    settle();
    std::memcpy(r.b.data(), w + 20, std::min<size_t>(r.b.size(), 236));
  }
  // An interface without a MAC and a receive queue on `cq` over a 2-page ring.
  uint32_t ifCreate(unsigned f) {
    Req ifc(1, 50, 24);
    ifc.u8(19, 1);
    EXPECT_EQ(mailbox(f, ifc), 0);
    return ifc.r32(0);
  }
  uint32_t rxqCreate(unsigned f, uint32_t cq_id, uint32_t if_id, uint64_t ring) {
    Req rx(3, 8, 32);
    rx.u16(0, static_cast<uint16_t>(cq_id)).u8(2, 11).u8(3, 2).pages(4, ring, 2).u32(20, if_id);
    EXPECT_EQ(mailbox(f, rx), 0);
    return rx.r16(0);
  }
  // The CQ entry at the host's index (and the index advanced when valid).
  bool cqTake(Ring& cq, uint8_t out[16]) {
    uint8_t* e = host.at(cq.addr + 16ull * cq.next);
    if (fwtest::rd(e + 12, 4) == 0 && fwtest::rd(e + 8, 4) == 0) return false;
    std::memcpy(out, e, 16);
    std::memset(e, 0, 16);
    cq.next = (cq.next + 1) % cq.entries;
    return true;
  }
  void cqDoorbell(unsigned f, uint32_t id, uint32_t popped, bool arm) {
    dbw(f, 0x120, (id & 0x3FF) | (((id >> 10) & 0x1F) << 11) | (popped << 16) | (arm ? 1u << 29 : 0));
    settle();
  }
  void eqDoorbell(unsigned f, uint32_t id, uint32_t popped, bool arm, bool clear = false) {
    dbw(f, 0x120, (id & 0x1FF) | (clear ? 1u << 9 : 0) | (1u << 10) | (((id >> 9) & 0x1F) << 11) |
                      (popped << 16) | (arm ? 1u << 29 : 0));
    settle();
  }

  FakeHost host;
  std::unique_ptr<Adapter> card;
  std::vector<uint64_t> mbox;
};

}  // namespace devtest
