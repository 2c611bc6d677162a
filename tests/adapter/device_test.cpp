// The device model driven through hostbus by a fake host: configuration
// space, BARs and registers, the mailbox and MCC transports, completion and
// event queues, interrupts, asynchronous events and the fault knobs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "adapter.h"
#include "fake_host.h"
#include "dev_rig.h"
#include "fw_cmd.h"

using namespace adapter;
using fwtest::Req;
using namespace devtest;

namespace {

const uint8_t kInit[8] = {0xFF, 0x12, 0x34, 0xFF, 0xFF, 0x56, 0x78, 0xFF};
const uint8_t kClean[8] = {0xFF, 0xAA, 0xBB, 0xFF, 0xFF, 0xCC, 0xDD, 0xFF};
const Gen kAllGens[] = {Gen::KS2, Gen::KS3, Gen::Pivard, Gen::Veskarn};

}  // namespace

// ------------------------------------------------------- PCI configuration --

TEST(DevPci, IdentityBarsAndCapabilities) {
  struct Case { Gen g; uint16_t dev; uint64_t sizes[6]; };
  const Case cases[] = {
      {Gen::KS2, 0x3A11, {0, 0x2000, 0x20000, 0, 0x10000, 0}},
      {Gen::KS3, 0x3A21, {0x2000, 0, 0x20000, 0, 0x10000, 0}},
      {Gen::Pivard, 0x5C20, {0x10000, 0, 0, 0, 0, 0}},
      {Gen::Veskarn, 0x3B28, {0x2000, 0, 0x20000, 0, 0x10000, 0}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(genName(k.g));
    Rig r(k.g, 2, 16);
    hostbus::Function* f = r.fn(1);
    EXPECT_EQ(f->function(), 1);
    EXPECT_EQ(f->configRead(0, 2), defaultVendorId(k.g));
    EXPECT_EQ(f->configRead(2, 2), k.dev);
    EXPECT_EQ(f->configRead(0x0B, 1), 0x02u);             // network controller
    EXPECT_EQ(f->configRead(0x0E, 1) & 0x80, 0x80u);      // multi-function
    EXPECT_EQ(f->configRead(0x2E, 2), 0x1234u);
    EXPECT_EQ(f->msixVectors(), 16u);
    for (unsigned b = 0; b < 6; ++b) EXPECT_EQ(f->barSize(b), k.sizes[b]) << b;
    // Capabilities: power management, MSI-X (table size 16), PCI Express.
    std::vector<uint32_t> caps;
    for (uint32_t p = f->configRead(0x34, 1); p != 0 && caps.size() < 8; p = f->configRead(p + 1, 1)) {
      caps.push_back(f->configRead(p, 1));
      if (caps.back() == 0x11) {
        EXPECT_EQ((f->configRead(p + 2, 2) & 0x7FF) + 1, 16u);
      }
    }
    EXPECT_EQ(caps, (std::vector<uint32_t>{0x01, 0x11, 0x10}));
    // Wake-up arming (PMCSR) and the bus-master bit are writable, ids are not.
    f->configWrite(0x44, 0x108, 4);
    EXPECT_EQ(f->configRead(0x44, 4), 0x108u);
    f->configWrite(0x00, 0xFFFF, 2);
    EXPECT_EQ(f->configRead(0, 2), defaultVendorId(k.g));
    // BAR sizing.
    unsigned b = k.g == Gen::Pivard ? 0 : 4;
    f->configWrite(0x10 + 4 * b, 0xFFFFFFFFu, 4);
    EXPECT_EQ(~(f->configRead(0x10 + 4 * b, 4) & ~0xFu) + 1, 0x10000u);
    // UE status and masks exist except on Pivard.
    if (k.g != Gen::Pivard) {
      EXPECT_EQ(f->configRead(0xA0, 4), 0u);
      f->configWrite(0xA8, 0x30, 4);
      EXPECT_EQ(f->configRead(0xA8, 4), 0x30u);
    }
    // Unimplemented BARs read all ones; accesses beyond a BAR too.
    EXPECT_EQ(f->barRead(5, 0, 4), 0xFFFFFFFFu);
    EXPECT_EQ(f->barRead(b, 0x10000, 4), 0xFFFFFFFFu);
  }
}

// ------------------------------------------------------------------ mailbox --

TEST(DevMailbox, DoorbellProtocolAndBarePatterns) {
  for (Gen g : kAllGens) {
    SCOPED_TRACE(genName(g));
    Rig r(g);
    EXPECT_EQ(r.db(0, 0x160) & 1, 1u);   // ready
    // The address lies above 4 GB: both halves matter.
    ASSERT_GT(r.mbox[0], 0xFFFFFFFFull);
    r.bare(0, kInit);
    EXPECT_EQ(r.complFlags(0), kValid | kDone);
    EXPECT_EQ(r.complStatus(0), 0);
    EXPECT_TRUE(r.card->engine().initialised(0));
    EXPECT_FALSE(r.card->engine().initialised(1));
    Req q(1, 58, 124);
    EXPECT_EQ(r.mailbox(0, q), 0);
    EXPECT_EQ(q.status(), 0);
    EXPECT_EQ(q.respLen(), 124u);
    // A command in a scatter-gather buffer.
    Req attrs(1, 32, 544);
    EXPECT_EQ(r.mailbox(1, attrs, true), 0);
    EXPECT_EQ(attrs.r8(510), 1);
    EXPECT_EQ(attrs.r16(502), defaultDeviceId(g));
    // Objects then firmware clean: the function's objects are gone.
    r.eq(0);
    r.eq(1);
    r.bare(0, kClean);
    EXPECT_EQ(r.complFlags(0), kValid | kDone);
    EXPECT_EQ(r.card->engine().countLive(0), 0u);
    EXPECT_EQ(r.card->engine().countLive(1), 1u);
    EXPECT_EQ(r.card->counters(0).mailbox_commands, 4u);
  }
}

// The fault knobs act the same whether the device serves doorbells in the
// write or on its own thread.
const Mode kModes[] = {Mode::Sync, Mode::Async};
const char* modeName(Mode m) { return m == Mode::Sync ? "sync" : "async"; }

void mailboxStatusesAndFaults(Mode m) {
  Rig r(Gen::KS3, 2, 32, 0, m);
  Engine& fw = r.card->engine();
  // Status and extended status reach the completion; the header has the status.
  fw.setFault(1, 50, {.status = 1, .additional = 3, .extended = 22, .times = 1});
  Req c(1, 50, 24);
  c.u8(19, 1);
  EXPECT_EQ(r.mailbox(0, c), 1);
  EXPECT_EQ(r.complExt(0), 22);
  EXPECT_EQ(c.status(), 1);
  EXPECT_EQ(c.additional(), 3);

  // Not ready: the doorbell shows bit 0 clear and takes nothing.
  r.card->setMailboxReady(0, false);
  EXPECT_EQ(r.db(0, 0x160) & 1, 0u);
  Req q(1, 58, 124);
  EXPECT_EQ(r.mailbox(0, q), -1);
  r.card->setMailboxReady(0, true);

  // Late: ready stays clear and no completion until released.
  fw.setFault(1, 58, {.late = true, .times = 1});
  Req late(1, 58, 124);
  EXPECT_EQ(r.mailbox(0, late), -1);
  EXPECT_EQ(r.db(0, 0x160) & 1, 0u);
  EXPECT_EQ(r.card->heldCompletions(0), 1u);
  r.card->releaseHeldCompletions(0);
  EXPECT_EQ(r.db(0, 0x160) & 1, 1u);
  EXPECT_EQ(r.complFlags(0), kValid | kDone);

  r.host.write32(r.mbox[0] + 256 + 12, 0);

  // Ready again but no completion entry; a completion without its valid bit.
  fw.setFault(1, 58, {.no_entry = true, .times = 1});
  Req ne(1, 58, 124);
  EXPECT_EQ(r.mailbox(0, ne), -1);
  EXPECT_EQ(r.db(0, 0x160) & 1, 1u);
  fw.setFault(1, 58, {.malformed = true, .times = 1});
  Req mf(1, 58, 124);
  EXPECT_EQ(r.mailbox(0, mf), -2);
  EXPECT_EQ(r.complFlags(0), kDone);
  r.host.write32(r.mbox[0] + 256 + 12, 0);

  // No completion: the firmware never becomes ready again for this function.
  fw.setFault(1, 35, {.no_completion = true, .times = 1});
  Req v(1, 35, 64);
  EXPECT_EQ(r.mailbox(1, v), -1);
  EXPECT_EQ(r.db(1, 0x160) & 1, 0u);
  EXPECT_EQ(r.db(0, 0x160) & 1, 1u);

  // Card error: the chip is in UE, no completion.
  fw.setFault(1, 35, {.card_error = true, .times = 1});
  Req ce(1, 35, 64);
  EXPECT_EQ(r.mailbox(0, ce), -1);
  EXPECT_TRUE(r.card->inUe());
  EXPECT_NE(r.fn(0)->configRead(0xA0, 4), 0u);
  EXPECT_EQ(r.fn(0)->barRead(2, 0xAC, 4) >> 31, 1u);

  // A dead firmware takes no more mailbox commands, on any function.
  Req after(1, 58, 124);
  EXPECT_EQ(r.mailbox(0, after), -1);
  EXPECT_EQ(r.db(0, 0x160) & 1, 0u);

  // The slot goes: every read is all ones, the doorbell included.
  Rig s(Gen::KS3, 2, 32, 0, m);
  s.card->engine().setFault(1, 58, {.slot_gone = true, .times = 1});
  Req sg(1, 58, 124);
  EXPECT_EQ(s.mailbox(0, sg), -1);
  EXPECT_EQ(s.db(0, 0x160), 0xFFFFFFFFu);
  EXPECT_EQ(s.fn(0)->configRead(0, 4), 0xFFFFFFFFu);
  EXPECT_EQ(s.db(1, 0x160), 1u);
  s.card->setSlotGone(0, false);
  EXPECT_EQ(s.fn(0)->configRead(0, 2), defaultVendorId(Gen::KS3));
}

TEST(DevMailbox, StatusesAndFaults) {
  for (Mode m : kModes) {
    SCOPED_TRACE(modeName(m));
    mailboxStatusesAndFaults(m);
  }
}

TEST(DevMcc, ReadObjectIntoTheCommandsOwnBuffer) {
  // The firmware dump is read into the bytes behind the 144-byte command, in
  // the one buffer that also carries the command.
  Rig r(Gen::KS3);
  std::vector<uint8_t> dump(600);
  for (size_t i = 0; i < dump.size(); ++i) dump[i] = static_cast<uint8_t>(i + 1);
  r.card->engine().putObject("/dbg/dump.bin", dump);
  Rig::Ring cq = r.cq(0, r.eq(0).id);
  Rig::Ring mcc = r.mcc(0, cq.id, 0x62);
  const uint32_t len = 512;
  uint64_t buf = r.host.alloc(144 + len);
  Req c(1, 171, 128);
  c.u32(0, len).u32(4, 64).text(8, "/dbg/dump.bin").u32(112, 1).u32(116, len);
  c.u32(120, static_cast<uint32_t>(buf + 144)).u32(124, static_cast<uint32_t>((buf + 144) >> 32));
  r.host.fill(buf, c.b.data(), c.b.size());
  uint8_t* w = r.host.at(mcc.addr);
  std::memset(w, 0, 256);
  fwtest::le(w, 8, 4);
  fwtest::le(w + 4, 144 + len, 4);
  fwtest::le(w + 20, buf, 4);
  fwtest::le(w + 24, buf >> 32, 4);
  fwtest::le(w + 28, 144 + len, 4);
  r.dbw(0, 0x140, mcc.id | (1u << 16));
  uint8_t e[16];
  ASSERT_TRUE(r.cqTake(cq, e));
  EXPECT_EQ(fwtest::rd(e, 2), 0u);
  EXPECT_EQ(r.host.read32(buf + 16), len);              // bytes read
  EXPECT_EQ(r.host.at(buf + 144)[0], 65);               // dump byte 64
  EXPECT_EQ(r.host.at(buf + 144)[len - 1], static_cast<uint8_t>(64 + len));
}

TEST(DevMailbox, NoDmaWithoutBusMaster) {
  Rig r(Gen::Veskarn);
  r.fn(0)->configWrite(0x04, 0x0002, 2);
  Req q(1, 58, 124);
  EXPECT_EQ(r.mailbox(0, q), -1);
  EXPECT_GT(r.card->counters(0).dropped_dma, 0u);
  // An unmapped mailbox address is dropped the same way.
  r.fn(0)->configWrite(0x04, 0x0006, 2);
  r.post(0, 0x5500000000ull);
  EXPECT_EQ(r.card->counters(0).dropped_dma, 2u);
}

// ---------------------------------------------------------------------- MCC --

TEST(DevMcc, CompletionsEventsAndInterrupts) {
  for (Gen g : kAllGens) {
    SCOPED_TRACE(genName(g));
    Rig r(g);
    Rig::Ring eq0 = r.eq(0), eq1 = r.eq(0);
    Rig::Ring cq = r.cq(0, eq1.id);
    Rig::Ring mcc = r.mcc(0, cq.id, 0x62);
    // Completion with the WRB's tag; nothing armed: no EQ entry, no interrupt.
    Req v(1, 35, 64);
    r.mccPost(0, mcc, v, 0x1122334455667788ull);
    EXPECT_EQ(v.rtext(0, 32), r.card->engine().config().fw_version);
    uint8_t e[16];
    ASSERT_TRUE(r.cqTake(cq, e));
    EXPECT_EQ(fwtest::rd(e, 2), 0u);
    EXPECT_EQ(fwtest::rd(e + 4, 8), 0x1122334455667788ull);
    EXPECT_EQ(fwtest::rd(e + 12, 4), kValid | kDone);
    EXPECT_FALSE(r.cqTake(cq, e));
    EXPECT_EQ(r.host.read32(eq1.addr), 0u);
    EXPECT_TRUE(r.host.interrupts.empty());
    // Arm the CQ (popping the entry): the next completion writes an EQ entry;
    // the EQ is not armed yet, so no interrupt.
    r.cqDoorbell(0, cq.id, 1, true);
    Req t(1, 5, 4, g == Gen::KS2 ? 0 : 1, 0, 236);
    r.mccPost(0, mcc, t, 7);
    EXPECT_EQ(t.r32(8), 1u);
    EXPECT_NE(r.host.read32(eq1.addr), 0u);
    EXPECT_EQ(r.host.read32(eq0.addr), 0u);
    EXPECT_TRUE(r.host.interrupts.empty());
    // Arming the EQ with an entry pending raises its vector at once, once.
    r.eqDoorbell(0, eq1.id, 0, true);
    ASSERT_EQ(r.host.interrupts.size(), 1u);
    EXPECT_EQ(r.host.interrupts[0].first, r.fn(0));
    EXPECT_EQ(r.host.interrupts[0].second, 1u);
    r.eqDoorbell(0, eq1.id, 1, true);
    EXPECT_EQ(r.host.interrupts.size(), 1u);
    // CQ not re-armed: a completion writes no EQ entry and raises nothing.
    Req v2(1, 35, 64);
    r.mccPost(0, mcc, v2, 8);
    EXPECT_EQ(r.host.interrupts.size(), 1u);
    // Re-arm the CQ with the entry still pending: event and interrupt at once.
    r.cqDoorbell(0, cq.id, 1, true);   // pops the earlier one, one still pending
    EXPECT_EQ(r.host.interrupts.size(), 2u);
    EXPECT_EQ(r.card->counters(0).interrupts, 2u);
  }
}

void mccFaultKnobs(Mode m) {
  Rig r(Gen::Veskarn, 2, 32, 0, m);
  Engine& fw = r.card->engine();
  Rig::Ring eq = r.eq(0);
  Rig::Ring cq = r.cq(0, eq.id);
  Rig::Ring mcc = r.mcc(0, cq.id, 0x20062);
  uint8_t e[16];
  struct Case { const char* name; Fault f; bool completes; uint16_t status, ext; uint8_t hdr; };
  const Case cases[] = {
      {"status 5", {.status = 5, .times = 1}, true, 5, 0, 5},
      {"status 2", {.status = 2, .times = 1}, true, 2, 0, 2},
      {"status 66", {.status = 66, .times = 1}, true, 66, 0, 66},
      {"status 68", {.status = 68, .times = 1}, true, 68, 0, 68},
      {"ext 22", {.status = 1, .extended = 22, .times = 1}, true, 1, 22, 1},
      {"ext 96", {.status = 1, .extended = 96, .times = 1}, true, 1, 96, 1},
      {"no completion", {.no_completion = true, .times = 1}, false, 0, 0, 0},
  };
  uint64_t tag = 100;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    fw.setFault(1, 37, k.f);
    Req c(1, 37, 4);
    r.mccPost(0, mcc, c, ++tag);
    ASSERT_EQ(r.cqTake(cq, e), k.completes);
    if (k.completes) {
      EXPECT_EQ(fwtest::rd(e, 2), k.status);
      EXPECT_EQ(fwtest::rd(e + 2, 2), k.ext);
      EXPECT_EQ(fwtest::rd(e + 4, 8), tag);
      EXPECT_EQ(c.status(), k.hdr);
    }
  }
  // A completion without its valid bit; a command that leaves no entry.
  fw.setFault(1, 37, {.malformed = true, .times = 1});
  Req mf(1, 37, 4);
  r.mccPost(0, mcc, mf, 300);
  ASSERT_TRUE(r.cqTake(cq, e));
  EXPECT_EQ(fwtest::rd(e + 12, 4), kDone);
  fw.setFault(1, 37, {.no_entry = true, .times = 1});
  Req ne(1, 37, 4);
  r.mccPost(0, mcc, ne, 301);
  EXPECT_FALSE(r.cqTake(cq, e));
  // Late: held until the test lets it go, then written in order.
  unsigned hooked = 0;
  r.card->setHeldHook([&](unsigned f) { hooked += 1 + f; });
  fw.setFault(1, 37, {.late = true, .times = 1});
  Req late(1, 37, 4);
  r.mccPost(0, mcc, late, 500);
  Req next(1, 37, 4);
  r.mccPost(0, mcc, next, 501);
  ASSERT_TRUE(r.cqTake(cq, e));
  EXPECT_EQ(fwtest::rd(e + 4, 8), 501u);
  EXPECT_FALSE(r.cqTake(cq, e));
  EXPECT_EQ(r.card->heldCompletions(0), 1u);
  EXPECT_EQ(hooked, 1u);
  r.card->releaseHeldCompletions(0);
  ASSERT_TRUE(r.cqTake(cq, e));
  EXPECT_EQ(fwtest::rd(e + 4, 8), 500u);
  // Slot gone: the doorbell BAR reads all ones.
  fw.setFault(1, 37, {.slot_gone = true, .times = 1});
  Req sg(1, 37, 4);
  r.mccPost(0, mcc, sg, 700);
  EXPECT_EQ(r.db(0, 0x140), 0xFFFFFFFFu);
  EXPECT_EQ(r.db(1, 0x160) & 1, 1u);   // the other function is still there
  r.card->setSlotGone(0, false);
  // Card error: UE through the PCI-configuration space status words.
  fw.setFault(1, 37, {.card_error = true, .times = 1});
  Req ce(1, 37, 4);
  r.mccPost(0, mcc, ce, 600);
  EXPECT_FALSE(r.cqTake(cq, e));
  EXPECT_NE(r.fn(0)->configRead(0xA0, 4) | r.fn(0)->configRead(0xA4, 4), 0u);
  // From then on the firmware takes nothing until the chip is reset.
  Req dead(1, 37, 4);
  r.mccPost(0, mcc, dead, 601);
  EXPECT_FALSE(r.cqTake(cq, e));
}

TEST(DevMcc, FaultKnobs) {
  for (Mode m : kModes) {
    SCOPED_TRACE(modeName(m));
    mccFaultKnobs(m);
  }
}

TEST(DevMcc, LateCompletionWithAndWithoutItsInterrupt) {
  for (bool signal : {true, false}) {
    SCOPED_TRACE(signal);
    Rig r(Gen::KS3);
    Rig::Ring eq = r.eq(0);
    Rig::Ring cq = r.cq(0, eq.id);
    Rig::Ring mcc = r.mcc(0, cq.id, 0x62);
    r.cqDoorbell(0, cq.id, 0, true);
    r.eqDoorbell(0, eq.id, 0, true);
    r.card->engine().setFault(1, 121, {.late = true, .times = 1});
    Req t(1, 121, 8);
    r.mccPost(0, mcc, t, 9);
    EXPECT_TRUE(r.host.interrupts.empty());
    r.card->releaseHeldCompletions(0, signal);
    uint8_t e[16];
    ASSERT_TRUE(r.cqTake(cq, e));
    EXPECT_EQ(fwtest::rd(e + 4, 8), 9u);
    EXPECT_EQ(r.host.interrupts.size(), signal ? 1u : 0u);
  }
}

TEST(DevMcc, FullCompletionQueueWaitsForRoom) {
  Rig r(Gen::KS3);
  Rig::Ring eq = r.eq(0);
  Rig::Ring cq = r.cq(0, eq.id, 3);   // fewer than 256 entries: 128
  ASSERT_EQ(cq.entries, 128u);
  Rig::Ring mcc = r.mcc(0, cq.id, 0x62);
  for (unsigned i = 0; i < 129; ++i) {
    Req c(1, 37, 4);
    r.mccPost(0, mcc, c, 1000 + i);
  }
  EXPECT_EQ(r.card->counters(0).completions_written, 128u);
  uint8_t e[16];
  ASSERT_TRUE(r.cqTake(cq, e));
  EXPECT_EQ(fwtest::rd(e + 4, 8), 1000u);
  r.cqDoorbell(0, cq.id, 1, false);
  EXPECT_EQ(r.card->counters(0).completions_written, 129u);
  EXPECT_EQ(fwtest::rd(r.host.at(cq.addr) + 4, 8), 1128u);   // wrapped into entry 0
}

TEST(DevMcc, ScatterGatherAndOtherFunctions) {
  Rig r(Gen::KS3);
  Rig::Ring cq = r.cq(0, r.eq(0).id);
  Rig::Ring mcc = r.mcc(0, cq.id, 0x62);
  // A statistics command in a DMA buffer.
  r.card->engine().setStat(0, Stat::RxCrcErrors, 77);
  uint32_t bytes = statsBlockBytes(Gen::KS3);
  uint64_t buf = r.host.alloc(bytes);
  Req s(3, 4, bytes - 16, 1);
  r.host.fill(buf, s.b.data(), bytes);
  uint8_t* w = r.host.at(mcc.addr);
  std::memset(w, 0, 256);
  fwtest::le(w, 8, 4);
  fwtest::le(w + 4, bytes, 4);
  fwtest::le(w + 8, 42, 8);
  fwtest::le(w + 20, buf, 4);
  fwtest::le(w + 24, buf >> 32, 4);
  fwtest::le(w + 28, bytes, 4);
  r.dbw(0, 0x140, mcc.id | (1u << 16));
  uint8_t e[16];
  ASSERT_TRUE(r.cqTake(cq, e));
  EXPECT_EQ(fwtest::rd(e, 2), 0u);
  EXPECT_EQ(r.host.read32(buf + 4 * statsWord(Gen::KS3, Stat::RxCrcErrors, 0)), 77u);
  // Function 1 cannot ring function 0's MCC queue or pop its CQ.
  r.dbw(1, 0x140, mcc.id | (1u << 16));
  EXPECT_EQ(r.card->counters(0).completions_written, 1u);
  EXPECT_EQ(r.card->counters(1).completions_written, 0u);
}

// ------------------------------------------------------------ async events --

TEST(DevAsync, EventsLandOnTheMccCompletionQueue) {
  struct Case { const char* name; AsyncEvent ev; uint8_t code, type; std::vector<std::pair<int, int>> bytes; };
  const Case cases[] = {
      {"link", linkStateEvent(1, true, true, 6, 0, 0), 1, 0, {{0, 1}, {1, 3}, {3, 6}, {5, 0}}},
      {"link down", linkStateEvent(0, false, true, 0, 5, 0), 1, 0, {{1, 2}, {5, 5}}},
      {"qos", qosSpeedEvent(1, 2500), 5, 1, {{0, 1}, {6, 2500 & 0xFF}, {7, 2500 >> 8}}},
      {"priority", priorityEvent(0x0F, 3, true), 5, 2, {{1, 0x0F}, {2, 3}, {3, 1}}},
      {"pvid", pvidEvent(true, 0x123), 5, 3, {{0, 1}, {2, 0x23}, {3, 0x01}}},
      {"os2bmc", os2bmcEvent(true, 0xBEEF), 5, 5, {{0, 4}, {4, 0xEF}, {5, 0xBE}}},
      {"debug", debugDataEvent(0x11, 0x22, 0x33), 5, 6, {{0, 0x11}, {4, 0x22}, {8, 0x33}}},
      {"qnq", qnqEvent(true, 0x64), 6, 1, {{0, 1}, {2, 0x64}}},
      {"sfp", transceiverEvent(0x0201, 0x0100), 17, 9, {{0, 1}, {1, 2}, {4, 0}, {5, 1}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Rig r(Gen::Veskarn);
    Rig::Ring eq = r.eq(0);
    Rig::Ring cq = r.cq(0, eq.id);
    r.mcc(0, cq.id, 0x20062);
    r.cqDoorbell(0, cq.id, 0, true);
    r.eqDoorbell(0, eq.id, 0, true);
    ASSERT_TRUE(r.card->injectAsyncEvent(0, k.ev));
    uint8_t e[16];
    ASSERT_TRUE(r.cqTake(cq, e));
    uint32_t flags = static_cast<uint32_t>(fwtest::rd(e + 12, 4));
    EXPECT_EQ(flags, kValid | kAsync | (uint32_t{k.code} << 8) | (uint32_t{k.type} << 16));
    for (auto [off, val] : k.bytes) EXPECT_EQ(e[off], val) << off;
    EXPECT_EQ(r.host.interrupts.size(), 1u);
    EXPECT_FALSE(r.card->injectAsyncEvent(1, k.ev));   // function 1 has no MCC queue
  }
  // Without bit 17 of the mask the transceiver event is not sent.
  Rig r(Gen::KS3);
  Rig::Ring cq = r.cq(0, r.eq(0).id);
  r.mcc(0, cq.id, 0x62);
  EXPECT_FALSE(r.card->injectAsyncEvent(0, transceiverEvent(1, 0)));
  // The firmware's own link state follows the event it announces.
  EXPECT_TRUE(r.card->injectAsyncEvent(0, linkStateEvent(0, false, false, 0, 4, 0)));
  Rig::Ring mcc2 = r.mcc(0, cq.id, 0);
  Req q(1, 5, 4, 1, 0, 236);
  r.mccPost(0, mcc2, q, 1);
  EXPECT_EQ(q.r32(8), 0u);
  EXPECT_EQ(q.r8(5), 4);
}

// -------------------------------------------------------------- registers --

TEST(DevRegisters, PostStageAndUeInjection) {
  // POST progresses to 0xC000 after the configured number of reads.
  Rig k(Gen::KS3, 1, 8, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(k.fn(0)->barRead(2, 0xAC, 4), 0x0100u);
  EXPECT_EQ(k.fn(0)->barRead(2, 0xAC, 4), 0xC000u);
  k.card->setPostStage(0x1234, true);
  EXPECT_EQ(k.fn(0)->barRead(2, 0xAC, 4), 0x80001234u);

  // KS2/KS3: 0xFFFFFFFF to CSR 0x138 then 0 to CSR 0x1FFFC; Veskarn: bit 0
  // of byte 0x5F of the PCI-configuration BAR.
  for (Gen g : {Gen::KS2, Gen::KS3, Gen::Veskarn}) {
    SCOPED_TRACE(genName(g));
    Rig r(g);
    if (g == Gen::Veskarn) {
      r.fn(0)->barWrite(2, 0x138, 0xFFFFFFFFu, 4);
      r.fn(0)->barWrite(2, 0x1FFFC, 0, 4);
      EXPECT_FALSE(r.card->inUe());
      r.fn(0)->barWrite(cfgBar(g), 0x5F, 0x01, 1);
    } else {
      r.fn(0)->barWrite(2, 0x1FFFC, 0, 4);   // alone it does nothing
      EXPECT_FALSE(r.card->inUe());
      r.fn(0)->barWrite(2, 0x138, 0xFFFFFFFFu, 4);
      r.fn(0)->barWrite(2, 0x1FFFC, 0, 4);
    }
    EXPECT_TRUE(r.card->inUe());
    EXPECT_EQ(r.card->counters(0).ue_injections, 1u);
    EXPECT_NE(r.fn(1)->configRead(0xA0, 4), 0u);
    uint32_t ps = r.fn(0)->barRead(2, 0xAC, 4);
    EXPECT_EQ(ps >> 31, 1u);
    EXPECT_NE(ps & 0xF000, 0xE000u);   // an injected UE is not recoverable
  }
}

TEST(DevRegisters, UeMasksFromTheConfiguration) {
  AdapterConfig c = adapterDefaults(Gen::KS3, 1);
  c.ue_mask_lo = 0x140;
  c.ue_mask_hi = 0x80000000u;
  Adapter card(c);
  EXPECT_EQ(card.function(0)->configRead(0xA8, 4), 0x140u);
  EXPECT_EQ(card.function(0)->configRead(0xAC, 4), 0x80000000u);
  card.injectUe(0x140, 0, 0xE001);
  EXPECT_EQ(card.function(0)->configRead(0xA0, 4), 0x140u);   // status is raw; masking is the host's
}

TEST(DevRegisters, SoftResetRecoversTheChip) {
  Rig r(Gen::Veskarn, 2, 8, 2);
  r.fn(0)->barRead(2, 0xAC, 4);
  r.fn(0)->barRead(2, 0xAC, 4);
  r.eq(0);
  r.eq(1);
  r.card->injectUe(0x10, 0x2, 0xE123);
  EXPECT_EQ(r.db(1, 0x160) & 1, 0u);                     // no firmware while in UE
  EXPECT_EQ(r.fn(0)->configRead(0xA0, 4), 0x10u);
  EXPECT_EQ(r.fn(0)->configRead(0xA4, 4), 0x2u);
  EXPECT_EQ(r.fn(0)->barRead(2, 0xAC, 4), 0x8000E123u);
  unsigned cb = cfgBar(Gen::Veskarn);
  uint32_t sr = r.fn(0)->barRead(cb, 0x5C, 4);
  r.fn(0)->barWrite(cb, 0x5C, sr | 0x80, 4);
  EXPECT_EQ(r.card->counters(0).soft_resets, 1u);
  EXPECT_EQ(r.card->engine().countLive(), 0u);
  EXPECT_EQ(r.fn(0)->configRead(0xA0, 4), 0u);
  EXPECT_FALSE(r.card->inUe());
  EXPECT_EQ(r.fn(0)->barRead(cb, 0x5C, 4) & 0x80, 0u);   // self-clearing
  Req q(1, 58, 124);
  EXPECT_EQ(r.mailbox(1, q), 0);                         // the firmware answers again
  EXPECT_EQ(r.fn(0)->barRead(2, 0xAC, 4), 0x0100u);      // booting again
  EXPECT_EQ(r.fn(0)->barRead(2, 0xAC, 4), 0x0100u);
  EXPECT_EQ(r.fn(0)->barRead(2, 0xAC, 4), 0xC000u);
}

TEST(DevRegisters, PivardStatusControlAndDump) {
  Rig r(Gen::Pivard, 2, 8, 2);
  EXPECT_EQ(r.db(0, 0x404) & (1u << 23), 0u);
  EXPECT_EQ(r.db(0, 0x404) & (1u << 23), 0u);
  EXPECT_EQ(r.db(0, 0x404), 0x00800000u);
  r.eq(0);
  r.eq(1);
  r.card->injectUe(0, 0, 0);
  uint32_t st = r.db(0, 0x404);
  EXPECT_EQ(st & 0x81000000u, 0x81000000u);
  EXPECT_NE(r.db(0, 0x40C), 0u);
  // Port reset: error and reset-needed clear, the function's objects are gone.
  r.dbw(0, 0x408, 0x08000000u);
  EXPECT_EQ(r.card->counters(0).port_resets, 1u);
  EXPECT_EQ(r.card->engine().countLive(0), 0u);
  EXPECT_EQ(r.card->engine().countLive(1), 1u);
  r.db(0, 0x404);
  r.db(0, 0x404);
  EXPECT_EQ(r.db(0, 0x404), 0x00800000u);
  // Dump request: bit 30 while the dump is taken.
  r.dbw(0, 0x414, 6);
  EXPECT_EQ(r.card->counters(0).dump_requests, 1u);
  int busy = 0;
  while ((r.db(0, 0x414) & (1u << 30)) != 0 && busy < 100) ++busy;
  EXPECT_GT(busy, 0);
  EXPECT_LT(busy, 100);
  EXPECT_TRUE(r.card->engine().hasObject("/dbg/dump.bin"));
  // No CSR or PCI-configuration BAR on Pivard.
  EXPECT_EQ(r.fn(0)->barSize(2), 0u);
  EXPECT_EQ(r.fn(0)->barRead(2, 0xAC, 4), 0xFFFFFFFFu);
}

// Timed knobs on a test clock: the firmware is ready a set time after a
// soft reset or a port reset, and a dump keeps bit 30 set for a set time or
// for ever.
TEST(DevRegisters, TimedReadinessAndDump) {
  uint64_t now = 1000;
  {
    Rig r(Gen::KS3, 2, 8, 0);
    r.card->setClock([&] { return now; });
    r.card->setReadyAfterReset(30000);
    r.eq(0);
    r.card->injectUe(0x10, 0, 0xE123);
    EXPECT_EQ(r.fn(0)->barRead(2, 0xAC, 4), 0x8000E123u);   // the error shows until the reset
    unsigned cb = cfgBar(Gen::KS3);
    r.fn(0)->barWrite(cb, 0x5C, 0x80, 4);
    EXPECT_EQ(r.card->engine().countLive(), 0u);
    now += 29999;
    EXPECT_EQ(r.fn(0)->barRead(2, 0xAC, 4), 0x0100u);
    now += 1;
    EXPECT_EQ(r.fn(0)->barRead(2, 0xAC, 4), 0xC000u);
  }
  {
    Rig r(Gen::Pivard, 2, 8, 0);
    r.card->setClock([&] { return now; });
    r.card->setReadyAfterReset(500);
    r.eq(0);
    r.card->injectPivardError(true);
    EXPECT_EQ(r.db(0, 0x404), 0x81800000u);
    r.dbw(0, 0x408, 0x08000000u);
    EXPECT_EQ(r.card->engine().countLive(0), 0u);
    EXPECT_EQ(r.db(0, 0x404), 0u);
    now += 500;
    EXPECT_EQ(r.db(0, 0x404), 0x00800000u);
    // Timed dumps.
    r.card->setDumpBusyTime(20);
    r.dbw(0, 0x414, 6);
    EXPECT_NE(r.db(0, 0x414) & (1u << 30), 0u);
    now += 19;
    EXPECT_NE(r.db(0, 0x414) & (1u << 30), 0u);
    now += 1;
    EXPECT_EQ(r.db(0, 0x414) & (1u << 30), 0u);
    r.card->setDumpBusyTime(Adapter::kForever);
    r.dbw(0, 0x414, 6);
    now += 1000000;
    EXPECT_NE(r.db(0, 0x414) & (1u << 30), 0u);
    EXPECT_EQ(r.card->counters(0).dump_requests, 2u);
  }
}

// Pivard errors, with or without reset-needed, the port still ready; a port
// reset clears them and the function's objects, except an error that
// survives the reset, which stays until the card is power-cycled.
TEST(DevRegisters, PivardErrorKinds) {
  struct Case {
    bool reset_needed, survives;
    uint32_t status, after_reset;
  };
  const Case cases[] = {{true, false, 0x81800000u, 0x00800000u},
                        {false, false, 0x80800000u, 0x00800000u},
                        {true, true, 0x81800000u, 0x81800000u}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.status);
    Rig r(Gen::Pivard, 2, 8, 0);
    r.eq(0);
    r.card->injectPivardError(k.reset_needed, k.survives);
    EXPECT_TRUE(r.card->inUe());
    EXPECT_EQ(r.db(0, 0x404), k.status);
    EXPECT_EQ(r.db(0, 0x160) & 1, 0u);   // no firmware
    r.dbw(0, 0x408, 0x08000000u);
    EXPECT_EQ(r.card->engine().countLive(0), 0u);
    EXPECT_EQ(r.db(0, 0x404), k.after_reset);
    EXPECT_EQ(r.card->inUe(), k.survives);
    r.card->powerCycle();
    EXPECT_FALSE(r.card->inUe());
    EXPECT_EQ(r.db(0, 0x404), 0x00800000u);
    EXPECT_EQ(r.card->engine().countLive(), 0u);
  }
}

TEST(DevRegisters, ConfigurationBarAndWindow) {
  Rig r(Gen::KS3);
  unsigned cb = cfgBar(Gen::KS3);
  // Host interrupt switch: bit 29 of 0xFC.
  r.fn(0)->barWrite(cb, 0xFC, 0x20000000u, 4);
  EXPECT_EQ(r.card->hostIntrCtl(0), 0x20000000u);
  EXPECT_EQ(r.fn(0)->barRead(cb, 0xFC, 4), 0x20000000u);
  EXPECT_EQ(r.card->hostIntrCtl(1), 0u);
  // Status words 0x58 and 0x9C.
  r.card->setCfgBarRegister(0, 0x58, 0xF00);
  r.card->setCfgBarRegister(0, 0x9C, 0xABCD);
  EXPECT_EQ(r.fn(0)->barRead(cb, 0x58, 4), 0xF00u);
  EXPECT_EQ(r.fn(0)->barRead(cb, 0x9C, 4), 0xABCDu);
  // Memory-BAR window in configuration register 0xFC: control, address, data.
  uint32_t ctl = r.fn(0)->configRead(0xFC, 4);
  EXPECT_EQ(ctl & 1, 0u);
  r.fn(0)->configWrite(0xFC, (ctl & 0x3FF00000u) | 0x80000002u | 0xAC, 4);
  EXPECT_EQ(r.fn(0)->configRead(0xFC, 4), 0xC000u);
  EXPECT_EQ(r.fn(0)->configRead(0xFC, 4), ctl);   // back to the control word
  // Registers without a meaning: defaults from the offset, writes read back,
  // narrow reads take their bytes; the window reaches the same CSR words.
  EXPECT_EQ(r.fn(0)->barRead(2, 0x1000, 4), Adapter::registerDefault(Space::Csr, 0x1000));
  EXPECT_EQ(r.fn(0)->barRead(cb, 0x200, 4), 0u);
  r.card->setRegister(0, Space::PciCfg, 0x200, 0xCF000200u);
  EXPECT_EQ(r.fn(0)->barRead(cb, 0x200, 4), 0xCF000200u);
  r.fn(0)->barWrite(2, 0x1000, 0x11223344u, 4);
  EXPECT_EQ(r.fn(0)->barRead(2, 0x1000, 4), 0x11223344u);
  EXPECT_EQ(r.fn(0)->barRead(2, 0x1001, 1), 0x33u);
  EXPECT_EQ(r.fn(0)->barRead(2, 0x1002, 2), 0x1122u);
  EXPECT_EQ(r.fn(0)->barRead(2, 0x1001, 2), 0xFFFFFFFFu & 0xFFFF);   // unaligned: all ones
  r.fn(0)->barWrite(2, 0x1001, 0xEE, 1);   // a byte write keeps the other bytes
  EXPECT_EQ(r.fn(0)->barRead(2, 0x1000, 4), 0x1122EE44u);
  r.fn(0)->barWrite(2, 0x1000, 0x11223344u, 4);
  r.card->setRegister(0, Space::Doorbell, 0x300, 0x55);
  EXPECT_EQ(r.fn(0)->barRead(4, 0x300, 4), 0x55u);
  r.fn(0)->configWrite(0xFC, (ctl & 0x3FF00000u) | 0x80000002u | 0x1000, 4);
  EXPECT_EQ(r.fn(0)->configRead(0xFC, 4), 0x11223344u);
  r.fn(0)->configWrite(0xFC, (ctl & 0x3FF00000u) | 0x80000002u | 0x1004, 4);
  r.fn(0)->configWrite(0xFC, 0xCAFE, 4);
  EXPECT_EQ(r.fn(0)->barRead(2, 0x1004, 4), 0xCAFEu);
  // A write through the window reaches the CSR register (UE injection).
  r.fn(0)->configWrite(0xFC, (ctl & 0x3FF00000u) | 0x80000002u | 0x138, 4);
  r.fn(0)->configWrite(0xFC, 0xFFFFFFFFu, 4);
  r.fn(0)->configWrite(0xFC, (ctl & 0x3FF00000u) | 0x80000002u | 0x1FFFC, 4);
  r.fn(0)->configWrite(0xFC, 0, 4);
  EXPECT_TRUE(r.card->inUe());
}

// ---------------------------------------------------------- receive flush --

TEST(DevQueues, ReceiveQueueDestroyLeavesFlushCompletion) {
  for (Gen g : kAllGens) {
    SCOPED_TRACE(genName(g));
    Rig r(g);
    Rig::Ring cq = r.cq(0, r.eq(0).id, 2);
    uint32_t rxq = r.rxqCreate(0, cq.id, r.ifCreate(0), r.host.alloc(8192));
    uint8_t e[16];
    // A destroy whose buffer holds only the header but claims two payload
    // bytes: refused before anything is read, no flush, the queue stays.
    Req shortd(3, 10, 0);
    fwtest::le(&shortd.b[8], 2, 4);
    EXPECT_EQ(r.mailbox(0, shortd, true), kStatusIllegalField);
    EXPECT_FALSE(r.cqTake(cq, e));
    EXPECT_EQ(r.card->engine().countLive(ObjKind::RxQueue), 1u);
    Req d(3, 10, 4);
    d.u16(0, static_cast<uint16_t>(rxq));
    ASSERT_EQ(r.mailbox(0, d), 0);
    bool flushed = r.cqTake(cq, e);
    EXPECT_EQ(flushed, g != Gen::Pivard);
    if (flushed) {
      EXPECT_NE(fwtest::rd(e + 8, 4), 0u);                  // dword 2: valid
      EXPECT_EQ((fwtest::rd(e + 4, 4) >> 29) & 7, 0u);       // num_frags 0
    }
  }
}

TEST(DevQueues, VectorsFollowEventQueues) {
  Rig r(Gen::KS3, 1, 1);   // one MSI-X vector: everything on vector 0
  Rig::Ring eq0 = r.eq(0), eq1 = r.eq(0);
  (void)eq0;
  Rig::Ring cq = r.cq(0, eq1.id);
  r.mcc(0, cq.id, 0x62);
  r.cqDoorbell(0, cq.id, 0, true);
  r.eqDoorbell(0, eq1.id, 0, true);
  ASSERT_TRUE(r.card->injectAsyncEvent(0, qnqEvent(true, 5)));
  ASSERT_EQ(r.host.interrupts.size(), 1u);
  EXPECT_EQ(r.host.interrupts[0].second, 0u);
}

// ---------------------------------------------------------------- data path --

TEST(DevData, TransmitGathersFramesAndCompletes) {
  struct Case { Gen g; uint8_t version; uint32_t db; };
  const Case cases[] = {{Gen::KS3, 0, 0x60}, {Gen::Pivard, 1, 0x60}, {Gen::Veskarn, 2, 0x200}};
  for (const Case& k : cases) {
    SCOPED_TRACE(genName(k.g));
    Rig r(k.g);
    Rig::Ring eq = r.eq(0);
    Rig::Ring cq = r.cq(0, eq.id, 2);
    Req ifc(1, 50, 24);
    ifc.u8(19, 1);
    ASSERT_EQ(r.mailbox(0, ifc), 0);
    uint64_t ring = r.host.alloc(2048 * 16);
    Req tx(3, 7, 132, k.version);
    tx.u8(0, 8).u8(1, 1).u16(2, 2).u8(6, 12).u16(12, static_cast<uint16_t>(cq.id)).pages(68, ring, 8);
    tx.u16(4, static_cast<uint16_t>(ifc.r32(0)));
    ASSERT_EQ(r.mailbox(0, tx), 0);
    uint32_t txq = tx.r16(0);
    uint32_t db = k.version == 2 ? tx.r32(4) : 0x60;
    EXPECT_EQ(db, k.db);
    // Two fragments, a dummy, the VLAN bit: 4 entries.
    uint64_t f1 = r.host.alloc(64), f2 = r.host.alloc(64);
    std::vector<uint8_t> a(14), b(10, 0xBB);
    for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(i);
    r.host.fill(f1, a.data(), a.size());
    r.host.fill(f2, b.data(), b.size());
    uint8_t* w = r.host.at(ring);
    std::memset(w, 0, 64);
    fwtest::le(w + 8, 0x7u | (1u << 10) | (4u << 13), 4);
    fwtest::le(w + 12, 24u | (0x2005u << 16), 4);
    fwtest::le(w + 16, f1 >> 32, 4);
    fwtest::le(w + 20, f1, 4);
    fwtest::le(w + 28, a.size(), 4);
    fwtest::le(w + 32, f2 >> 32, 4);
    fwtest::le(w + 36, f2, 4);
    fwtest::le(w + 44, b.size(), 4);
    // Half of the packet posted: nothing goes out yet.
    r.dbw(0, db, txq | (2u << 16));
    EXPECT_TRUE(r.card->takeTxFrames(0).empty());
    r.dbw(0, db, txq | (2u << 16));
    std::vector<TxFrame> out = r.card->takeTxFrames(0);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].txq, txq);
    EXPECT_EQ((out[0].hdr[2] >> 13) & 0x1F, 4u);
    ASSERT_EQ(out[0].bytes.size(), 28u);   // 24 + the inserted tag
    EXPECT_EQ(out[0].bytes[11], 11);
    EXPECT_EQ(out[0].bytes[12], 0x81);
    EXPECT_EQ(out[0].bytes[14], 0x20);
    EXPECT_EQ(out[0].bytes[15], 0x05);
    EXPECT_EQ(out[0].bytes[16], 12);
    EXPECT_EQ(out[0].bytes[27], 0xBB);
    uint8_t e[16];
    ASSERT_TRUE(r.cqTake(cq, e));
    EXPECT_EQ(fwtest::rd(e, 2), 3u);                 // index of the packet's last entry
    EXPECT_NE(fwtest::rd(e + 12, 4), 0u);            // dword 3: valid
    EXPECT_EQ(r.card->counters(0).completions_written, 0u);   // data entries are not MCC ones
  }
}

// A function recording doorbells only counts its data-path doorbells and the
// CQ doorbells it was given; the device does none of their work, and serves
// everything again once the mode is off.
TEST(DevData, RecordOnlyDoorbellsAreCountedAndNotServed) {
  Rig r(Gen::KS3);
  Rig::Ring eq = r.eq(1);
  Rig::Ring cq = r.cq(1, eq.id, 2);
  Rig::Ring other = r.cq(1, eq.id, 2);
  uint64_t ring = r.host.alloc(8192);
  uint32_t rxq = r.rxqCreate(1, cq.id, r.ifCreate(1), ring);
  for (int i = 0; i < 2; i++) {
    uint64_t b = r.host.alloc(2048);
    fwtest::le(r.host.at(ring) + 8 * i, b >> 32, 4);
    fwtest::le(r.host.at(ring) + 8 * i + 4, b, 4);
  }
  r.card->setRecordOnlyDoorbells(1, true, {cq.id});
  const uint32_t post = rxq | (2u << 24);
  r.dbw(1, 0x100, post);
  r.dbw(1, 0x60, 0x7FF | (2u << 16));                // transmit doorbell of no queue
  r.dbw(1, 0x120, cq.id | (1u << 29));               // re-arm of the recorded CQ
  r.dbw(1, 0x120, other.id | (1u << 29));            // another CQ: served
  r.dbw(1, 0x120, eq.id | (1u << 10) | (1u << 29));  // an EQ: served
  EXPECT_EQ(r.card->rxPosted(1, rxq), 0u);
  RecordedDoorbells rec = r.card->recordedDoorbells(1);
  EXPECT_EQ(rec.rx, 1u);
  EXPECT_EQ(rec.last_rx, post);
  EXPECT_EQ(rec.tx, 1u);
  EXPECT_EQ(rec.eq_cq, 1u);
  EXPECT_EQ(rec.last_eq_cq, cq.id | (1u << 29));
  const FnCounters c = r.card->counters(1);
  EXPECT_EQ(c.rx_doorbells, 0u);
  EXPECT_EQ(c.tx_doorbells, 0u);
  EXPECT_EQ(c.last_eq_cq_doorbell, eq.id | (1u << 10) | (1u << 29));
  // Off: served again, and no longer counted as recorded.
  r.card->setRecordOnlyDoorbells(1, false);
  r.dbw(1, 0x100, post);
  EXPECT_EQ(r.card->rxPosted(1, rxq), 2u);
  EXPECT_EQ(r.card->recordedDoorbells(1).rx, 1u);
  // The receive completion a frame gets is the encoder's.
  RxMeta m;
  m.udp = true;
  std::vector<uint8_t> frame(64, 0x33);
  ASSERT_TRUE(r.card->injectRxFrame(1, rxq, frame, m));
  uint8_t e[16], want[16];
  ASSERT_TRUE(r.cqTake(cq, e));
  encodeRxCompletion(Gen::KS3, false, 1, 0, 64, m, want);
  EXPECT_EQ(0, std::memcmp(e, want, 16));
}

TEST(DevData, ReceiveUsesPostedBuffersAndBothLayouts) {
  struct Case { Gen g; bool advanced; };
  const Case cases[] = {{Gen::KS3, true}, {Gen::Veskarn, true}, {Gen::Pivard, false}, {Gen::KS2, false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(genName(k.g));
    Rig r(k.g);
    if (k.advanced) {
      Req cap(1, 103, 220);
      cap.u32(0, 14).u32(4, 12);
      ASSERT_EQ(r.mailbox(1, cap), 0);
    }
    Rig::Ring eq = r.eq(1);
    Rig::Ring cq = r.cq(1, eq.id, 2);
    uint64_t ring = r.host.alloc(8192);
    uint32_t rxq = r.rxqCreate(1, cq.id, r.ifCreate(1), ring);
    std::vector<uint8_t> frame(60, 0x5A);
    EXPECT_FALSE(r.card->injectRxFrame(1, rxq, frame));   // nothing posted
    uint64_t b0 = r.host.alloc(2048), b1 = r.host.alloc(2048);
    fwtest::le(r.host.at(ring), b0 >> 32, 4);
    fwtest::le(r.host.at(ring) + 4, b0, 4);
    fwtest::le(r.host.at(ring) + 8, b1 >> 32, 4);
    fwtest::le(r.host.at(ring) + 12, b1, 4);
    r.dbw(1, 0x100, rxq | (2u << 24));
    EXPECT_EQ(r.card->rxPosted(1, rxq), 2u);
    RxMeta m;
    m.vlan = 0x2005;
    m.vlan_present = true;
    m.tcp = true;
    m.cast = 2;
    m.rss_hash = 0xCAFE;
    ASSERT_TRUE(r.card->injectRxFrame(1, rxq, frame, m));
    EXPECT_EQ(r.host.at(b0)[59], 0x5A);
    EXPECT_EQ(r.card->rxPosted(1, rxq), 1u);
    uint8_t e[16];
    ASSERT_TRUE(r.cqTake(cq, e));
    uint32_t d0 = static_cast<uint32_t>(fwtest::rd(e, 4)), d1 = static_cast<uint32_t>(fwtest::rd(e + 4, 4)),
             d2 = static_cast<uint32_t>(fwtest::rd(e + 8, 4));
    EXPECT_EQ((d0 >> 16) & 0x3FFF, 60u);
    EXPECT_EQ(d0 & 0xFFFF, k.g == Gen::Pivard ? 0x2005u : 0x0520u);   // byte-swapped but on Pivard
    EXPECT_EQ((d1 >> 16) & 0x3FF, 0u);               // first buffer of the ring
    EXPECT_EQ(d1 >> 29, 1u);                         // one buffer
    EXPECT_EQ((d1 >> 3) & 1, 1u);                    // TCP
    EXPECT_EQ((d1 >> 5) & 3, 3u);                    // checksums good
    EXPECT_EQ((d2 >> 1) & 3, 2u);                    // broadcast
    EXPECT_NE(d2, 0u);
    EXPECT_EQ(fwtest::rd(e + 12, 4), 0xCAFEu);
    if (k.advanced) {
      EXPECT_EQ((d0 >> 30) & 1, 1u);                 // VLAN present
      EXPECT_EQ((d2 >> 5) & 3, 1u);                  // port of function 1
    } else {
      EXPECT_EQ((d1 >> 14) & 1, 1u);
      EXPECT_EQ((d0 >> 30) & 1, 1u);                 // port bit
    }
    // A frame larger than the buffer is not delivered.
    EXPECT_FALSE(r.card->injectRxFrame(1, rxq, std::vector<uint8_t>(2049)));
    ASSERT_TRUE(r.card->injectRxFrame(1, rxq, frame));
    ASSERT_TRUE(r.cqTake(cq, e));
    EXPECT_EQ((fwtest::rd(e + 4, 4) >> 16) & 0x3FF, 1u);
    EXPECT_EQ(r.card->counters(1).rx_frames, 2u);
  }
}

// ------------------------------------------------------------- concurrency --

TEST(DevConcurrency, FunctionsWorkSideBySide) {
  Rig r(Gen::Veskarn, 2);
  Rig::Ring cq[2], mcc[2], eq[2];
  for (unsigned f = 0; f < 2; ++f) {
    eq[f] = r.eq(f);
    cq[f] = r.cq(f, eq[f].id, 1);   // 512 entries: room for every completion
    mcc[f] = r.mcc(f, cq[f].id, 0x20062);
  }
  const unsigned kCmds = 300;
  auto worker = [&](unsigned f) {
    for (unsigned i = 0; i < kCmds; ++i) {
      Req c(1, 37, 4);
      r.mccPost(f, mcc[f], c, i);
    }
  };
  std::thread t0(worker, 0), t1(worker, 1);
  std::thread ev([&] {
    for (unsigned i = 0; i < 100; ++i) r.card->injectAsyncEvent(0, qosSpeedEvent(0, 100 + i));
  });
  t0.join();
  t1.join();
  ev.join();
  for (unsigned f = 0; f < 2; ++f) {
    FnCounters c = r.card->counters(f);
    EXPECT_EQ(c.completions_written, kCmds);
    EXPECT_EQ(c.events_written, f == 0 ? 100u : 0u);
  }
}

// ------------------------------------------------------------ async mode --

TEST(DevAsyncMode, MailboxIsBusyUntilTheDeviceThreadServesIt) {
  Rig r(Gen::KS3, 1, 32, 0, Mode::Async);
  r.card->setAsyncDelay(20000);   // 20 ms: long enough to look before it runs
  uint8_t* w = r.host.at(r.mbox[0]);
  std::memset(w, 0, 272);
  Req q(1, 58, 124);
  fwtest::le(w, 1, 4);
  fwtest::le(w + 4, q.b.size(), 4);
  std::memcpy(w + 20, q.b.data(), q.b.size());
  r.dbw(0, 0x160, static_cast<uint32_t>(((r.mbox[0] >> 32) & ~3ull) | 2));
  EXPECT_EQ(r.db(0, 0x160) & 1, 1u);            // the high half only latches
  r.dbw(0, 0x160, static_cast<uint32_t>((r.mbox[0] >> 4) << 2));
  EXPECT_EQ(r.db(0, 0x160) & 1, 0u);            // taken, not done
  EXPECT_EQ(r.complFlags(0), 0u);
  EXPECT_EQ(r.card->pendingDoorbells(), 1u);
  ASSERT_TRUE(r.card->waitIdle());
  EXPECT_EQ(r.card->pendingDoorbells(), 0u);
  EXPECT_EQ(r.db(0, 0x160) & 1, 1u);
  EXPECT_EQ(r.complFlags(0), kValid | kDone);
  EXPECT_EQ(r.card->counters(0).mailbox_commands, 1u);
}

// Doorbells of different rings are served in any order; those of one ring in
// the order written.
TEST(DevAsyncMode, RingsInAnyOrderEachRingInItsOrder) {
  Rig r(Gen::Veskarn, 2, 32, 0, Mode::Async, 3000);
  Rig::Ring cq[2], mcc[2];
  for (unsigned f = 0; f < 2; ++f) {
    Rig::Ring eq = r.eq(f);
    cq[f] = r.cq(f, eq.id);
    mcc[f] = r.mcc(f, cq[f].id, 0x62);
  }
  r.host.clearWrites();
  const unsigned kPerRing = 24;
  for (unsigned i = 0; i < kPerRing; ++i) {
    for (unsigned f = 0; f < 2; ++f) {
      Rig::Ring& m = mcc[f];
      uint8_t* w = r.host.at(m.addr + 256ull * m.next);
      m.next = (m.next + 1) % m.entries;
      Req v(1, 35, 64);
      std::memset(w, 0, 256);
      fwtest::le(w, 1, 4);
      fwtest::le(w + 4, v.b.size(), 4);
      fwtest::le(w + 8, 1000 * (f + 1) + i, 8);
      std::memcpy(w + 20, v.b.data(), v.b.size());
      r.dbw(f, 0x140, (m.id & 0x7FF) | (1u << 16));   // no waiting in between
    }
  }
  ASSERT_TRUE(r.card->waitIdle());
  uint8_t e[16];
  for (unsigned f = 0; f < 2; ++f) {
    for (unsigned i = 0; i < kPerRing; ++i) {
      ASSERT_TRUE(r.cqTake(cq[f], e)) << f << " " << i;
      EXPECT_EQ(fwtest::rd(e + 4, 8), 1000 * (f + 1) + i);
    }
  }
  // The completions' valid words, in the order the device published them.
  std::vector<unsigned> order;
  for (const FakeHost::Write& wr : r.host.writes()) {
    if (!wr.release) continue;
    for (unsigned f = 0; f < 2; ++f)
      if (wr.addr >= cq[f].addr && wr.addr < cq[f].addr + 16ull * cq[f].entries) order.push_back(f);
  }
  ASSERT_EQ(order.size(), 2 * kPerRing);
  std::vector<unsigned> written;
  for (unsigned i = 0; i < kPerRing; ++i) written.insert(written.end(), {0u, 1u});
  EXPECT_NE(order, written) << "the rings were served strictly in the order their doorbells were written";
}

// Every ring entry the device writes goes out with its valid word last, in a
// release store that no plain write of the device ever touches.
TEST(DevAsyncMode, EveryEntryPublishesItsValidWordLast) {
  for (Mode m : kModes) {
    SCOPED_TRACE(modeName(m));
    Rig r(Gen::KS3, 1, 32, 0, m);
    Rig::Ring eq = r.eq(0);
    Rig::Ring cq = r.cq(0, eq.id);
    Rig::Ring mcc = r.mcc(0, cq.id, 0x62);
    Rig::Ring dcq = r.cq(0, eq.id, 2);
    uint64_t rxring = r.host.alloc(8192);
    uint32_t rxq = r.rxqCreate(0, dcq.id, r.ifCreate(0), rxring);
    uint64_t txring = r.host.alloc(2048 * 16);
    Req tx(3, 7, 132);
    tx.u8(0, 8).u8(1, 1).u16(2, 2).u8(6, 12).u16(12, static_cast<uint16_t>(dcq.id)).pages(68, txring, 8);
    ASSERT_EQ(r.mailbox(0, tx), 0);
    r.cqDoorbell(0, cq.id, 0, true);
    r.eqDoorbell(0, eq.id, 0, true);
    r.host.clearWrites();
    // Mailbox and MCC completions, an async event, an EQ entry, receive and
    // transmit completions.
    Req q(1, 58, 124);
    ASSERT_EQ(r.mailbox(0, q), 0);
    Req v(1, 35, 64);
    r.mccPost(0, mcc, v, 9);
    ASSERT_TRUE(r.card->injectAsyncEvent(0, linkStateEvent(0, true, true, 4, 0, 0)));
    uint64_t buf = r.host.alloc(2048);
    fwtest::le(r.host.at(rxring), buf >> 32, 4);
    fwtest::le(r.host.at(rxring) + 4, buf, 4);
    r.dbw(0, 0x100, rxq | (1u << 24));
    r.settle();
    ASSERT_TRUE(r.card->injectRxFrame(0, rxq, std::vector<uint8_t>(60, 0x5A)));
    uint8_t* w = r.host.at(txring);
    std::memset(w, 0, 32);
    fwtest::le(w + 8, 0x6u | (2u << 13), 4);
    fwtest::le(w + 12, 60, 4);
    fwtest::le(w + 16, buf >> 32, 4);
    fwtest::le(w + 20, buf, 4);
    fwtest::le(w + 28, 60, 4);
    r.dbw(0, 0x60, tx.r16(0) | (2u << 16));
    r.settle();
    std::vector<FakeHost::Write> log = r.host.writes();
    // The entries and where their valid word lies.
    struct Kind { const char* name; uint64_t base; uint32_t size, entries, valid; unsigned want; };
    const Kind kinds[] = {{"mailbox", r.mbox[0] + 256, 16, 1, 12, 1},
                          {"mcc cq", cq.addr, 16, cq.entries, 12, 2},
                          {"eq", eq.addr, 4, eq.entries, 0, 1},
                          {"receive completion", dcq.addr, 16, 1, 8, 1},
                          {"transmit completion", dcq.addr + 16, 16, 1, 12, 1}};
    for (const Kind& k : kinds) {
      SCOPED_TRACE(k.name);
      unsigned published = 0;
      for (size_t i = 0; i < log.size(); ++i) {
        const FakeHost::Write& wr = log[i];
        if (wr.addr < k.base || wr.addr >= k.base + uint64_t(k.size) * k.entries) continue;
        uint64_t entry = k.base + (wr.addr - k.base) / k.size * k.size;
        if (!wr.release) {
          EXPECT_FALSE(wr.addr < entry + k.valid + 4 && wr.addr + wr.len > entry + k.valid)
              << "plain write of a valid word";
          continue;
        }
        EXPECT_EQ(wr.addr, entry + k.valid);
        ++published;
        // Nothing of the entry is written after its valid word, and the
        // rest of it was written before.
        for (size_t j = i + 1; j < log.size(); ++j)
          EXPECT_FALSE(log[j].addr < entry + k.size && log[j].addr + log[j].len > entry) << "written after valid";
        bool before = k.size == 4;
        for (size_t j = 0; j < i; ++j)
          if (!log[j].release && log[j].addr < entry + k.size && log[j].addr + log[j].len > entry) before = true;
        EXPECT_TRUE(before);
      }
      EXPECT_EQ(published, k.want);
    }
  }
}

// A host thread that reads each completion's valid word with acquire finds
// the rest of the entry already there, while the device thread keeps writing.
TEST(DevAsyncMode, ConcurrentReaderSeesWholeEntries) {
  Rig r(Gen::Pivard, 1, 32, 0, Mode::Async);
  Rig::Ring eq = r.eq(0);
  Rig::Ring cq = r.cq(0, eq.id);
  Rig::Ring mcc = r.mcc(0, cq.id, 0x20062);
  const unsigned kCommands = 120;
  // The WRBs first (the ring is the host's memory), then doorbells while a
  // reader polls the completion queue.
  for (unsigned i = 0; i < kCommands; ++i) {
    uint8_t* w = r.host.at(mcc.addr + 256ull * i);
    Req v(1, 35, 64);
    std::memset(w, 0, 256);
    fwtest::le(w, 1, 4);
    fwtest::le(w + 4, v.b.size(), 4);
    fwtest::le(w + 8, 0xA5A5000000000000ull + i, 8);
    std::memcpy(w + 20, v.b.data(), v.b.size());
  }
  std::atomic<unsigned> seen{0}, torn{0};
  std::thread reader([&] {
    for (unsigned i = 0; i < kCommands; ++i) {
      uint64_t e = cq.addr + 16ull * i;
      auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while ((r.host.load32Acquire(e + 12) & kValid) == 0) {
        if (std::chrono::steady_clock::now() > until) return;
        std::this_thread::yield();
      }
      uint8_t* p = r.host.at(e);
      if (fwtest::rd(p + 4, 8) != 0xA5A5000000000000ull + i) ++torn;
      ++seen;
    }
  });
  for (unsigned i = 0; i < kCommands; ++i) r.dbw(0, 0x140, (mcc.id & 0x7FF) | (1u << 16));
  reader.join();
  ASSERT_TRUE(r.card->waitIdle());
  EXPECT_EQ(seen.load(), kCommands);
  EXPECT_EQ(torn.load(), 0u);
}

// ------------------------------------------------------------ interrupts --

// Without MSI-X the function's INTx line is a level: up from the interrupt an
// armed EQ raises until the host clears the cause with the clear-interrupt
// bit. An EQ that is not armed raises nothing.
TEST(DevInterrupts, IntxLevelClearInterruptAndUnarmedEq) {
  for (Mode m : kModes) {
    SCOPED_TRACE(modeName(m));
    Rig r(Gen::KS3, 1, 32, 0, m);
    r.msixEnable(0, false);
    Rig::Ring eq = r.eq(0);
    Rig::Ring cq = r.cq(0, eq.id);
    Rig::Ring mcc = r.mcc(0, cq.id, 0x62);
    uint8_t e[16];
    auto post = [&](uint64_t tag) {
      Req v(1, 35, 64);
      r.mccPost(0, mcc, v, tag);
    };
    // CQ armed, EQ not: the EQ gets its entry, nothing is raised.
    r.cqDoorbell(0, cq.id, 0, true);
    post(1);
    EXPECT_NE(r.host.read32(eq.addr), 0u);
    EXPECT_TRUE(r.host.intx.empty());
    EXPECT_FALSE(r.card->intxAsserted(0));
    EXPECT_EQ(r.card->counters(0).interrupts, 0u);
    // Armed with an entry pending: the line goes up, once.
    r.eqDoorbell(0, eq.id, 0, true);
    EXPECT_EQ(r.host.intx, std::vector<bool>{true});
    EXPECT_TRUE(r.card->intxAsserted(0));
    // Popping and re-arming without clearing keeps it up: a level, not an edge.
    ASSERT_TRUE(r.cqTake(cq, e));
    r.eqDoorbell(0, eq.id, 1, true);
    r.cqDoorbell(0, cq.id, 1, true);
    post(2);
    EXPECT_TRUE(r.card->intxAsserted(0));
    EXPECT_EQ(r.host.intx.size(), 1u);
    // The clear-interrupt bit lowers it.
    r.eqDoorbell(0, eq.id, 1, false, true);
    EXPECT_FALSE(r.card->intxAsserted(0));
    EXPECT_EQ(r.host.intx, (std::vector<bool>{true, false}));
    // Not re-armed: more completions, nothing raised.
    ASSERT_TRUE(r.cqTake(cq, e));
    r.cqDoorbell(0, cq.id, 1, true);
    post(3);
    EXPECT_FALSE(r.card->intxAsserted(0));
    EXPECT_EQ(r.host.intx.size(), 2u);
    // The command register's interrupt-disable bit holds the line down; the
    // pending cause shows once it is cleared.
    r.fn(0)->configWrite(0x04, 0x0406, 2);
    r.eqDoorbell(0, eq.id, 0, true);   // the entry of the last completion is pending
    EXPECT_FALSE(r.card->intxAsserted(0));
    r.fn(0)->configWrite(0x04, 0x0006, 2);
    EXPECT_TRUE(r.card->intxAsserted(0));
    // Destroying the EQ takes its cause with it.
    Req dmcc(1, 53, 4), dcq(1, 54, 4), deq(1, 55, 4);
    dmcc.u16(0, static_cast<uint16_t>(mcc.id));
    dcq.u16(0, static_cast<uint16_t>(cq.id));
    deq.u16(0, static_cast<uint16_t>(eq.id));
    ASSERT_EQ(r.mailbox(0, dmcc), 0);
    ASSERT_EQ(r.mailbox(0, dcq), 0);
    ASSERT_EQ(r.mailbox(0, deq), 0);
    EXPECT_FALSE(r.card->intxAsserted(0));
    EXPECT_TRUE(r.host.interrupts.empty());   // never a message without MSI-X
  }
}

// With MSI-X enabled the same interrupt is one message on the EQ's vector;
// the line stays down and clearing has nothing to lower.
TEST(DevInterrupts, MsixSendsMessagesNotTheLine) {
  Rig r(Gen::Veskarn, 1, 32, 0, Mode::Sync);
  Rig::Ring eq0 = r.eq(0), eq1 = r.eq(0);
  Rig::Ring cq = r.cq(0, eq1.id);
  Rig::Ring mcc = r.mcc(0, cq.id, 0x62);
  r.cqDoorbell(0, cq.id, 0, true);
  r.eqDoorbell(0, eq1.id, 0, true);
  Req v(1, 35, 64);
  r.mccPost(0, mcc, v, 1);
  ASSERT_EQ(r.host.interrupts.size(), 1u);
  EXPECT_EQ(r.host.interrupts[0].second, 1u);
  r.eqDoorbell(0, eq1.id, 1, false, true);
  EXPECT_TRUE(r.host.intx.empty());
  EXPECT_FALSE(r.card->intxAsserted(0));
  (void)eq0;
}
