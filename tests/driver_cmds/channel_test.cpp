// The firmware command channel: carriers, the three waits, completion
// statuses, time-outs with the UE injection they trigger, events.
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>

#include "rig.h"
#include "tamsil_cmds_priv.h"

using adapter::Gen;
using cmdtest::GenRigTest;
using cmdtest::genParamName;
using cmdtest::kAllGens;

namespace {


// Lets the clock run fast when a test leaves early, so that waiters still
// sleeping on the stopped clock time out instead of holding their futures.
struct ClockRelease {
  ~ClockRelease() { vmktest::setClockRate(5000.0); }
};

// Moves the stopped kernel clock on in small steps until `f` is ready (the
// waiter may enter its timed wait only after the first steps), at most
// `limitMs` of kernel time.
template <typename T>
bool stepClockUntilReady(std::future<T>& f, uint64_t limitMs) {
  for (uint64_t t = 0; t <= limitMs; t += 500) {
    if (f.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready) return true;
    vmktest::advanceMs(500);
  }
  return f.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
}

class ChannelTest : public GenRigTest {
 protected:
  void SetUp() override { bringUp(); }
  // GetFlowControl, a sleeping MCC command, on a thread of its own.
  std::future<uint32_t> flowControlAsync() {
    return std::async(std::launch::async, [this] {
      uint32_t tx, rx;
      return tamsil_cmdGetFlowControl(a, &tx, &rx);
    });
  }
  // Waits (up to a generous 60 s of real time: the issuing thread may be
  // scheduled late on a loaded machine) until the firmware has seen a
  // command (sub, op).
  void waitSeen(uint8_t sub, uint8_t op) {
    vmktest::waitFor([&] { return rig->seen(sub, op) != 0; }, 60000);
  }
};

INSTANTIATE_TEST_SUITE_P(Gens, ChannelTest, testing::ValuesIn(kAllGens), genParamName);

// ---------------------------------------------------------------------------
// Pure encodings
// ---------------------------------------------------------------------------

TEST(ChannelEncoding, RingLengthCode) {
  struct {
    uint32_t entries;
    uint16_t code;
  } cases[] = {{0, 0}, {1, 1}, {128, 8}, {256, 9}, {1024, 11}, {2048, 12}, {16384, 15}, {32768, 0}};
  for (auto& c : cases) EXPECT_EQ(c.code, tamsil_encodedQLen(c.entries)) << c.entries;
}

TEST(ChannelEncoding, EqDelayMultiplier) {
  struct {
    uint32_t us, mult;
  } cases[] = {{0, 0},    {1000001, 1023}, {2000000, 1023}, {1000000, 1023}, {128, 82},
                 {8, 4},    {1000, 650},     {1, 0},          {2, 0},          {0xFFFFFFFFu, 1023}};
  for (auto& c : cases) EXPECT_EQ(c.mult, tamsil_eqDelayMultiplier(c.us)) << c.us;
}

TEST(ChannelEncoding, HeaderAndWrb) {
  alignas(8) uint8_t wrbMem[256];
  memset(wrbMem, 0, sizeof wrbMem);
  MccWrb* wrb = reinterpret_cast<MccWrb*>(wrbMem);
  WrbContext ctx;
  memset(&ctx, 0, sizeof ctx);
  ctx.header = reinterpret_cast<Request_Header*>(wrb->payload.embedded);
  ctx.index = 93;
  ctx.gen = 0x80000011u;
  tamsil_cmdHdrPrepare(&ctx, 3, 7, 148, wrb, nullptr);
  EXPECT_EQ(1u, wrb->flags);
  EXPECT_EQ(148u, wrb->payload_length);
  // The tag names the slot and the generation of its command, never an
  // address.
  EXPECT_EQ(93u, wrb->tag_lo);
  EXPECT_EQ(0x80000011u, wrb->tag_hi);
  EXPECT_EQ(7, wrbMem[20]);
  EXPECT_EQ(3, wrbMem[21]);
  EXPECT_EQ(132u, ctx.header->request_length);
  EXPECT_EQ(0, wrbMem[32]);
}

// Page lists: whole pages from the first bus address, counting the offset of
// the buffer in its first page, never more than the command has room for.
TEST_P(ChannelTest, PageListOfAQueueBuffer) {
  QueueInfo q{};
  ASSERT_TRUE(rig->allocRing(&q, 2560, 16));  // 40 KB: ten pages
  const uint64_t pa = tamsil_dmaBusAddr(&q.mem);
  struct {
    uint32_t size, vaOffset, maxPages, pages;
  } cases[] = {
      {1, 0, 8, 1}, {4096, 0, 8, 1}, {4097, 0, 8, 2}, {16384, 0, 8, 4},
      {4096, 0x800, 8, 2}, {40960, 0, 8, 8}, {40960, 0, 2, 2}, {0, 0, 8, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " bytes at +" << c.vaOffset);
    DmaBuffer b = q.mem;
    b.size = c.size;
    b.va = static_cast<uint8_t*>(q.mem.va) + c.vaOffset;
    tamsil_PhysAddr pages[9];
    memset(pages, 0xEE, sizeof pages);
    ASSERT_EQ(c.pages, tamsil_cmdPageAddrsPrepare(a, pages, c.maxPages, &b));
    for (uint32_t i = 0; i < c.pages; i++) {
      uint64_t want = pa + 4096ull * i;
      EXPECT_EQ(static_cast<uint32_t>(want), pages[i].lo) << i;
      EXPECT_EQ(static_cast<uint32_t>(want >> 32), pages[i].hi) << i;
    }
    EXPECT_EQ(0xEEEEEEEEu, pages[c.pages].lo) << "written past the list";
  }
  rig->freeRing(&q);
}

// ---------------------------------------------------------------------------
// Bring-up through the builders, as the firmware decoded it
// ---------------------------------------------------------------------------

TEST_P(ChannelTest, ControlPathObjectsAsTheFirmwareSeesThem) {
  Gen g = GetParam();
  EXPECT_TRUE(rig->fw([](adapter::Engine& e) { return e.initialised(0); }));
  EXPECT_EQ(1u, rig->fw([](adapter::Engine& e) { return e.countLive(adapter::ObjKind::Eq, 0); }));
  EXPECT_EQ(1u, rig->fw([](adapter::Engine& e) { return e.countLive(adapter::ObjKind::Cq, 0); }));
  EXPECT_EQ(1u, rig->fw([](adapter::Engine& e) { return e.countLive(adapter::ObjKind::MccQueue, 0); }));

  auto eq = rig->lastRequest(1, 13);
  ASSERT_EQ(100u, eq.size());
  EXPECT_EQ(1u, cmdtest::rq16(eq, 0));                        // one page
  EXPECT_EQ(1u << 29, cmdtest::rq32(eq, 4));                  // valid, not 4-byte-size bit 31
  EXPECT_EQ(2u, (cmdtest::rq32(eq, 8) >> 26) & 7);            // 1024 entries
  EXPECT_EQ(0u, (cmdtest::rq32(eq, 12) >> 13) & 0x3FF);       // delay 0

  auto cq = rig->lastRequest(1, 12);
  ASSERT_EQ(100u, cq.size());
  uint32_t w0 = cmdtest::rq32(cq, 4), w1 = cmdtest::rq32(cq, 8);
  EXPECT_EQ(0u, (w0 >> 27) & 3);  // 256 entries
  EXPECT_TRUE(w0 & (1u << 14));   // no delay
  if (g == Gen::KS2 || g == Gen::KS3) {
    EXPECT_EQ(0, cq[12]);
    EXPECT_EQ(rig->eq.id & 0xFFu, (w1 >> 22) & 0xFF);
    EXPECT_TRUE(w0 & (1u << 31));
  } else {
    EXPECT_EQ(2, cq[12]);
    EXPECT_EQ(1, cmdtest::rq8(cq, 2));
    EXPECT_EQ(rig->eq.id, w1 & 0xFFFF);
  }

  auto mcc = rig->lastRequest(1, 90);
  ASSERT_EQ(104u, mcc.size());
  bool wide = g == Gen::Pivard || g == Gen::Veskarn;
  EXPECT_EQ(wide ? 0x20062u : 0x62u, cmdtest::rq32(mcc, 4));
  if (g == Gen::Pivard) {
    EXPECT_EQ(1, mcc[12]);
    EXPECT_EQ(a->mcc_cq.id, cmdtest::rq16(mcc, 2));
    EXPECT_EQ(a->mcc_cq.id, cmdtest::rq32(mcc, 8) & 0xFFFF);
    EXPECT_EQ(8u, (cmdtest::rq32(mcc, 8) >> 16) & 0xF);
    EXPECT_EQ(1u, cmdtest::rq32(mcc, 16) & 1);
  } else {
    EXPECT_EQ(0, mcc[12]);
    EXPECT_EQ(8u, (cmdtest::rq32(mcc, 8) >> 16) & 0xF);
    EXPECT_EQ(a->mcc_cq.id, cmdtest::rq32(mcc, 8) >> 22);
  }
  EXPECT_EQ(0u, rig->seen(1, 21));  // no fallback needed
}

TEST_P(ChannelTest, MccCreateFallsBackToBasicExceptOnPivard) {
  Gen g = GetParam();
  ASSERT_EQ(0u, tamsil_cmdQDestroy(a, &a->mcc_q, TAMSIL_QTYPE_MCCQ));
  rig->setFault(1, 90, {.status = 2});
  uint32_t st = tamsil_cmdMccqCreate(a, &a->mcc_q, &a->mcc_cq);
  if (g == Gen::Pivard) {
    EXPECT_EQ(2u, st);
    EXPECT_EQ(0u, rig->seen(1, 21));
    EXPECT_FALSE(a->mcc_q.created);
    return;
  }
  EXPECT_EQ(0u, st);
  EXPECT_EQ(1u, rig->seen(1, 21));
  EXPECT_EQ(1u, vmktest::logCount("Upgrade to F/W ver 2.102.235.0 or newer"));
  auto basic = rig->lastRequest(1, 21);
  EXPECT_EQ(8u, (cmdtest::rq32(basic, 4) >> 16) & 0xF);
  EXPECT_EQ(a->mcc_cq.id, cmdtest::rq32(basic, 4) >> 22);
  EXPECT_EQ(1u << 31, cmdtest::rq32(basic, 8));
  // The basic queue carries commands too.
  rig->clearFaults();
  EXPECT_EQ(0u, tamsil_cmdSetQos(a, 1000, 0));
}

// ---------------------------------------------------------------------------
// Mailbox
// ---------------------------------------------------------------------------

TEST_P(ChannelTest, MailboxGoneReadsAllOnesWithoutTimeoutFlag) {
  rig->card->setSlotGone(0, true);
  EXPECT_EQ(0xFFFFFFFFu, tamsil_cmdIntrSet(a, true));
  EXPECT_EQ(0, a->fw_timeout);
  EXPECT_GE(vmktest::logCount("pci slot disconnected"), 1u);
  rig->card->setSlotGone(0, false);
}

TEST_P(ChannelTest, MailboxReadyTimeoutSetsTimeoutFlag) {
  rig->card->setMailboxReady(0, false);
  EXPECT_EQ(0xFFFFFFFFu, tamsil_cmdIntrSet(a, true));
  EXPECT_EQ(1, a->fw_timeout);
  EXPECT_EQ(1u, vmktest::logCount("Mailbox Poll timed out"));
  rig->card->setMailboxReady(0, true);
  // Every later command fails at once.
  EXPECT_EQ(TAMSIL_CH_BUSY, tamsil_cmdIntrSet(a, true));
  EXPECT_EQ(1u, vmktest::logCount("Cannot allocate WRB from Mail box"));
}

TEST_P(ChannelTest, MailboxStatusesMapped) {
  struct Case {
    adapter::Fault f;
    uint32_t result;
    const char* line;  // expected log text, or nullptr for none
  } cases[] = {
      {{.status = 2}, 2, nullptr},
      {{.status = 66}, 66, nullptr},
      {{.status = 68}, 68, nullptr},
      {{.status = 5}, 5, "Not privileged to issue Mailbox/MCC cmd opcode 89-1"},
      {{.status = 1, .extended = 22}, 22, "Mailbox/MCC command opcode 89-1 failed:status 1-22"},
      {{.status = 1, .extended = 96}, 1, nullptr},
      {{.status = 3}, 3, "Mailbox/MCC command opcode 89-1 failed:status 3-0"},
  };
  for (const Case& c : cases) {
    vmktest::clearLog();
    rig->setFault(1, 89, c.f);
    EXPECT_EQ(c.result, tamsil_cmdIntrSet(a, true)) << int(c.f.status) << "/" << c.f.extended;
    if (c.line != nullptr)
      EXPECT_EQ(1u, vmktest::logCount(c.line)) << c.line;
    else
      EXPECT_EQ(0u, vmktest::logCount("Mailbox/MCC")) << int(c.f.status);
  }
}

// The ready bit came back but the firmware wrote no completion.
TEST_P(ChannelTest, MailboxWithoutCompletionEntry) {
  a->debug_mask |= TAMSIL_DBG_MCC;
  vmktest::clearLog();
  rig->setFault(1, 89, {.no_entry = true, .times = 1});
  EXPECT_EQ(0xFFFFFFFFu, tamsil_cmdIntrSet(a, true));
  EXPECT_EQ(1u, vmktest::logCount("Invalid mailbox completion"));
  EXPECT_EQ(1u, vmktest::logCount("Going to check Mbox ready"));
  EXPECT_EQ(1u, vmktest::logCount("] Mbox ready\n"));
  EXPECT_EQ(0, a->fw_timeout);
  // The channel is still usable: the next command gets its real answer.
  unsigned seen = rig->seen(1, 89);
  EXPECT_EQ(GetParam() == Gen::Pivard ? 2u : 0u, tamsil_cmdIntrSet(a, true));
  EXPECT_EQ(seen + 1, rig->seen(1, 89));
}

using ChannelDeathTest = ChannelTest;
INSTANTIATE_TEST_SUITE_P(Gens, ChannelDeathTest, testing::Values(Gen::KS2, Gen::Pivard), genParamName);

// A mailbox completion with flags but no valid bit stops the system (on
// Pivard after asking the firmware for its dump).
TEST_P(ChannelDeathTest, MailboxCompletionWithoutValidBitStopsTheSystem) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  rig->setFault(1, 89, {.malformed = true, .times = 1});
  EXPECT_DEATH(tamsil_cmdIntrSet(a, true), "Unrecoverable error in tamsil attamsil_cmds:tamsil_mccComplIsNew");
}

// ---------------------------------------------------------------------------
// MCC: taking a WRB
// ---------------------------------------------------------------------------

TEST_P(ChannelTest, WrbRefusals) {
  struct Case {
    const char* name;
    void (*spoil)(Adapter*);
    void (*mend)(Adapter*);
    const char* line;
  } cases[] = {
      {"no ring", [](Adapter* x) { x->mcc_q.created = 0; }, [](Adapter* x) { x->mcc_q.created = 1; },
       "Cannot allocate WRBs since Mcc Q doesn't exist"},
      {"full", [](Adapter* x) { vmk_AtomicWrite64(&x->mcc_q.used, x->mcc_q.len); },
       [](Adapter* x) { vmk_AtomicWrite64(&x->mcc_q.used, 0); }, "MCC Queue full. F/w  not responding"},
      {"card error", [](Adapter* x) { x->hw_error = 1; }, [](Adapter* x) { x->hw_error = 0; },
       "Error in Card Detected! Cannot allocate WRBs hw_error:1|fw_timeout:0"},
      {"slot pending", [](Adapter* x) { x->wrb_ctx[x->mcc_q.head].wait_mcc_compl = 1; },
       [](Adapter* x) { x->wrb_ctx[x->mcc_q.head].wait_mcc_compl = 0; },
       "wrb context indicates MCC completion is pending"},
  };
  for (const Case& c : cases) {
    vmktest::clearLog();
    unsigned before = rig->seen(1, 28);
    c.spoil(a);
    EXPECT_EQ(TAMSIL_CH_BUSY, tamsil_cmdSetQos(a, 100, 0)) << c.name;
    c.mend(a);
    EXPECT_EQ(1u, vmktest::logCount(c.line)) << c.name;
    EXPECT_EQ(before, rig->seen(1, 28)) << c.name;
    EXPECT_EQ(0u, tamsil_cmdSetQos(a, 100, 0)) << c.name;
  }
}

// ---------------------------------------------------------------------------
// MCC: the three waits and the statuses
// ---------------------------------------------------------------------------

TEST_P(ChannelTest, StatusesOfPolledAndSleepingCommands) {
  struct Case {
    adapter::Fault f;
    uint32_t polled, sleeping;
  } cases[] = {
      {{.status = 2}, 2, 2},   {{.status = 5}, 5, 5},
      {{.status = 66}, 66, 66}, {{.status = 68}, 68, 68},
      {{.status = 1, .extended = 22}, 1, 1},  // the waits return the header's status byte
      {{.status = 1, .extended = 96}, 1, 1},
  };
  for (const Case& c : cases) {
    rig->setFault(1, 28, c.f);
    rig->setFault(1, 37, c.f);
    EXPECT_EQ(c.polled, tamsil_cmdSetQos(a, 10, 0)) << int(c.f.status);
    uint32_t tx = 0, rx = 0;
    EXPECT_EQ(c.sleeping, tamsil_cmdGetFlowControl(a, &tx, &rx)) << int(c.f.status);
  }
  rig->clearFaults();
  EXPECT_EQ(0u, vmk_AtomicRead64(&a->mcc_q.used));
  EXPECT_EQ(0, a->fw_timeout);
}

TEST_P(ChannelTest, PostedCommandReturnsAtOnceAndIsDrainedLater) {
  rig->pollerOn(false);
  tamsil_EqDelay recs[2] = {{rig->eq.id, 83}, {rig->eq.id, 0}};
  EXPECT_EQ(0u, tamsil_cmdModifyEqd(a, recs, 2));
  ASSERT_TRUE(rig->card->waitIdle());   // the device serves the doorbell on its own thread
  EXPECT_EQ(1u, rig->seen(1, 41));
  auto r = rig->lastRequest(1, 41);
  EXPECT_EQ(2u, cmdtest::rq32(r, 0));
  EXPECT_EQ(rig->eq.id, cmdtest::rq32(r, 4));
  EXPECT_EQ(83u, cmdtest::rq32(r, 12));
  EXPECT_EQ(1u, vmk_AtomicRead64(&a->mcc_q.used));  // its completion waits in the queue
  EXPECT_EQ(1u, tamsil_processMcc(a));
  EXPECT_EQ(0u, vmk_AtomicRead64(&a->mcc_q.used));
  tamsil_EqDelay nine[9] = {};
  EXPECT_EQ(VMK_BAD_PARAM, tamsil_cmdModifyEqd(a, nine, 9));
}

// A polled command finishes on its own completion even while another
// thread's sleeping command is still outstanding.
TEST_P(ChannelTest, PolledWaitEndsOnItsOwnCompletion) {
  rig->setFault(1, 37, {.no_completion = true});
  // The clock stands still (only busy delays move it): the sleeper stays
  // outstanding, and the polled wait could only end by its own completion.
  vmktest::setClockRate(0.0);
  auto sleeper = flowControlAsync();
  ClockRelease release;
  // Wait until the sleeping command is on the ring.
  waitSeen(1, 37);
  ASSERT_EQ(1u, rig->seen(1, 37));
  EXPECT_EQ(0u, tamsil_cmdSetQos(a, 500, 0));
  EXPECT_EQ(0, a->fw_timeout);
  EXPECT_EQ(0u, vmktest::logCount("MCC poll timed out!"));
  EXPECT_EQ(500u, rig->fw([](adapter::Engine& e) { return e.qosBandwidth(0, 0); }));
  vmktest::setClockRate(5000.0);
  EXPECT_EQ(TAMSIL_CH_TIMEOUT, sleeper.get());
}

TEST_P(ChannelTest, SleepingWaitCheckpointsThenTimesOutAndInjectsUe) {
  Gen g = GetParam();
  rig->setFault(1, 37, {.no_completion = true});
  uint32_t tx = 0, rx = 0;
  uint64_t t0 = vmktest::nowNs();
  EXPECT_EQ(TAMSIL_CH_TIMEOUT, tamsil_cmdGetFlowControl(a, &tx, &rx));
  uint64_t waitedMs = (vmktest::nowNs() - t0) / 1000000;
  EXPECT_GE(waitedMs, 36000u);
  EXPECT_EQ(1u, vmktest::logCount("GetFlowControl: Checkpoint 1 (12 sec) No resp for MCC cmd opcode: 0x25, "
                                   "subsystem:0x1,timeout:0, req_len:4"));
  EXPECT_EQ(1u, vmktest::logCount("GetFlowControl: Checkpoint 2 (24 sec)"));
  EXPECT_EQ(1u, vmktest::logCount("GetFlowControl: Checkpoint 3 (36 sec)"));
  EXPECT_EQ(1u, vmktest::logCount("GetFlowControl: MCC cmd timed out. opcode: 0x25, subsystem:0x1, timeout:0, "
                                   "req_len:4"));
  EXPECT_EQ(1, a->fw_timeout);
  EXPECT_EQ(1u, vmktest::logCount("Injecting fatal error for post-mortem dump"));
  bool injects = g != Gen::Pivard;
  EXPECT_EQ(injects ? 1u : 0u, rig->card->counters(0).ue_injections);
  EXPECT_EQ(injects, rig->card->inUe());
  // The slot is free again, but the card is in error: the next command of
  // either carrier fails at once.
  EXPECT_EQ(0, a->wrb_ctx[(a->mcc_q.head + a->mcc_q.len - 1) % a->mcc_q.len].wait_mcc_compl);
  EXPECT_EQ(TAMSIL_CH_BUSY, tamsil_cmdSetQos(a, 1, 0));
  EXPECT_EQ(TAMSIL_CH_BUSY, tamsil_cmdIntrSet(a, true));
}

TEST_P(ChannelTest, PolledWaitTimeoutInjectsUeExceptOnPivard) {
  Gen g = GetParam();
  rig->setFault(1, 28, {.no_completion = true});
  // The poll's busy delays move the stopped clock by themselves: its 12 s
  // run out in as many polls as ever, without a yield to a loaded machine
  // between two of them (at a running clock they took over a minute there).
  vmktest::setClockRate(0.0);
  EXPECT_EQ(TAMSIL_CH_IO_ERROR, tamsil_cmdSetQos(a, 1, 0));
  vmktest::setClockRate(rig->opt.clock_rate);
  EXPECT_EQ(1u, vmktest::logCount("MCC poll timed out!"));
  EXPECT_EQ(1, a->fw_timeout);
  EXPECT_EQ(g != Gen::Pivard ? 1u : 0u, rig->card->counters(0).ue_injections);
}

// A completion that comes while the waiter sits out a checkpoint is found by
// that checkpoint's own drain (its interrupt was lost, nobody else drains).
TEST_P(ChannelTest, LateCompletionFoundAtCheckpoint) {
  rig->pollerOn(false);
  vmktest::setClockRate(0.0);
  rig->setFault(1, 37, {.late = true});
  auto waiter = flowControlAsync();
  ClockRelease release;
  waitSeen(1, 37);
  ASSERT_EQ(1u, rig->seen(1, 37));
  rig->card->releaseHeldCompletions(0);
  if (!stepClockUntilReady(waiter, 60000)) {
    vmktest::setClockRate(5000.0);  // let the waiter end before failing
    waiter.wait();
    FAIL() << "the waiter did not find its completion";
  }
  EXPECT_EQ(0u, waiter.get());
  EXPECT_EQ(1u, vmktest::logCount("Checkpoint 1 (12 sec)"));
  EXPECT_EQ(0u, vmktest::logCount("Checkpoint 2"));
  EXPECT_EQ(0, a->fw_timeout);
}

TEST_P(ChannelTest, CardErrorAtCheckpointEndsTheWait) {
  rig->setFault(1, 37, {.no_completion = true});
  vmktest::setClockRate(0.0);
  auto waiter = flowControlAsync();
  ClockRelease release;
  waitSeen(1, 37);
  ASSERT_EQ(1u, rig->seen(1, 37));
  a->hw_error = 1;
  if (!stepClockUntilReady(waiter, 60000)) {
    vmktest::setClockRate(5000.0);
    waiter.wait();
    FAIL() << "the waiter did not see the card error";
  }
  EXPECT_EQ(TAMSIL_CH_FAILURE, waiter.get());
  EXPECT_EQ(0u, vmktest::logCount("Checkpoint"));
  EXPECT_EQ(1u, vmktest::logCount("GetFlowControl Error in card detected..Ignoring ioctl opcode: 0x25, subsystem:0x1"));
  EXPECT_EQ(0u, vmktest::logCount("MCC cmd timed out"));
  EXPECT_EQ(0u, rig->card->counters(0).ue_injections);
  a->hw_error = 0;
}

// ---------------------------------------------------------------------------
// Late completions, stale and duplicate completions
// ---------------------------------------------------------------------------

// Waits (up to a generous 60 s of real time) until `f` holds.
template <typename F>
bool eventually(F f) {
  return vmktest::waitFor(f, 60000);
}

// A command that timed out leaves its buffer with its slot: the completion
// that comes later is read from live memory and gives the buffer back, once.
// Both a builder's own buffer and the pass-through's are kept.
TEST_P(ChannelTest, LateCompletionAfterATimeOutFreesTheKeptBufferOnce) {
  struct Case {
    const char* name;
    uint8_t op;
    std::function<uint32_t(Adapter*)> send;
  } cases[] = {
      {"builder", TAMSIL_OPC_SET_MAC_LIST,
       [](Adapter* x) {
         static const uint8_t mac[6] = {0x02, 0, 0, 0, 0, 9};
         return tamsil_cmdSetMacList(x, mac, 1, 0);
       }},
      {"pass-through", 35,
       [](Adapter* x) {
         std::vector<uint8_t> rq(16 + 64, 0);
         rq[0] = 35;
         rq[1] = 1;
         rq[8] = 64;
         const std::vector<uint8_t> sent = rq;
         uint32_t st = tamsil_cmdPassthrough(x, rq.data(), static_cast<uint32_t>(rq.size()));
         // No response was copied back: the request is as it was sent.
         EXPECT_EQ(sent, rq);
         return st;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A fresh rig: the time-out leaves the card in error.
    bringUp();
    rig->setFault(1, c.op, {.late = true});
    const long mapped = vmktest::live().dmaMappings;
    EXPECT_EQ(TAMSIL_CH_TIMEOUT, c.send(a));
    EXPECT_EQ(1u, vmktest::logCount("MCC cmd timed out"));
    // The slot keeps the buffer the device may still write.
    EXPECT_EQ(mapped + 1, vmktest::live().dmaMappings);
    EXPECT_EQ(1u, vmk_AtomicRead64(&a->mcc_q.used));
    ASSERT_EQ(1u, rig->card->heldCompletions(0));
    rig->card->releaseHeldCompletions(0);
    EXPECT_TRUE(eventually([&] { return vmktest::live().dmaMappings == mapped; }));
    EXPECT_EQ(0u, vmk_AtomicRead64(&a->mcc_q.used));
    EXPECT_EQ(0u, a->stale_completions);
    rig.reset();
  }
}

// The rule for completions no live command waits for: a tag that names no
// slot, a generation the slot no longer holds, a slot with nothing
// outstanding and the second completion of one command are counted, logged
// and dropped. They lower no used count and wake nobody; the one real
// completion ends its command once.
TEST_P(ChannelTest, StaleAndDuplicateCompletionsAreDropped) {
  rig->pollerOn(false);
  rig->setFault(1, TAMSIL_OPC_MODIFY_EQ_DELAY, {.late = true});
  tamsil_EqDelay rec = {rig->eq.id, 3};
  ASSERT_EQ(0u, tamsil_cmdModifyEqd(a, &rec, 1));
  ASSERT_TRUE(rig->card->waitIdle());   // the device has run it, its completion held back
  ASSERT_EQ(1u, vmk_AtomicRead64(&a->mcc_q.used));
  const uint16_t s = static_cast<uint16_t>((a->mcc_q.head + a->mcc_q.len - 1) % a->mcc_q.len);
  const uint32_t g = a->wrb_ctx[s].gen;
  const uint16_t idle = static_cast<uint16_t>((s + 1) % a->mcc_q.len);
  // Entries as the firmware would write them, from the consumer index on.
  uint32_t at = a->mcc_cq.tail;
  auto post = [&](uint32_t lo, uint32_t hi) {
    MccCompletion* e = reinterpret_cast<MccCompletion*>(static_cast<uint8_t*>(a->mcc_cq.mem.va) +
                                                        16u * (at++ % a->mcc_cq.len));
    e->status = 0;
    e->ext_status = 0;
    e->tag_lo = lo;
    e->tag_hi = hi;
    __atomic_store_n(&e->flags, TAMSIL_CQE_VALID | TAMSIL_CQE_COMPLETED, __ATOMIC_RELEASE);
  };
  post(200, g);                      // no such slot
  post(s, g + 1);                    // a generation the slot does not hold
  post(idle, a->wrb_ctx[idle].gen);  // nothing outstanding there
  post(s, 0);                        // no generation at all
  EXPECT_EQ(4u, tamsil_processMcc(a));
  EXPECT_EQ(1u, vmk_AtomicRead64(&a->mcc_q.used)) << "a stale completion gave a ring entry back";
  EXPECT_EQ(1, a->wrb_ctx[s].outstanding);
  EXPECT_EQ(4u, a->stale_completions);
  EXPECT_EQ(4u, vmktest::logCount("Dropped MCC completion"));
  post(s, g);  // the real one
  post(s, g);  // and again
  EXPECT_EQ(2u, tamsil_processMcc(a));
  EXPECT_EQ(0u, vmk_AtomicRead64(&a->mcc_q.used)) << "the used count went below zero or leaked";
  EXPECT_EQ(0, a->wrb_ctx[s].outstanding);
  EXPECT_EQ(5u, a->stale_completions);
}

// ---------------------------------------------------------------------------
// Completions beyond one wake list
// ---------------------------------------------------------------------------

TEST_P(ChannelTest, ManyWaitersAreAllWoken) {
  rig->pollerOn(false);
  vmktest::setClockRate(0.0);
  rig->setFault(1, 37, {.late = true});
  const int n = 20;  // more than one drain pass wakes
  std::vector<std::future<uint32_t>> w;
  for (int i = 0; i < n; i++)
    w.push_back(std::async(std::launch::async, [this] {
      uint32_t tx, rx;
      return tamsil_cmdGetFlowControl(a, &tx, &rx);
    }));
  ClockRelease release;
  vmktest::waitFor([&] { return rig->seen(1, 37) >= static_cast<unsigned>(n); }, 60000);
  ASSERT_EQ(static_cast<unsigned>(n), rig->seen(1, 37));
  rig->card->releaseHeldCompletions(0);
  EXPECT_EQ(static_cast<uint32_t>(n), tamsil_processMcc(a));
  for (auto& f : w) {
    ASSERT_EQ(std::future_status::ready, f.wait_for(std::chrono::seconds(20)));
    EXPECT_EQ(0u, f.get());
  }
  EXPECT_EQ(0u, vmktest::logCount("Checkpoint"));
}

// ---------------------------------------------------------------------------
// Die temperature through completion processing
// ---------------------------------------------------------------------------

TEST_P(ChannelTest, DieTemperatureKeptByCompletion) {
  rig->fw([](adapter::Engine& e) {
    e.setDieTemperature(67);
    return 0;
  });
  if (GetParam() == Gen::KS2) {
    // This firmware has no sensor: the first failure stops the queries.
    EXPECT_EQ(2u, tamsil_cmdGetDieTemperature(a));
    EXPECT_EQ(0u, a->die_temp_interval);
    return;
  }
  EXPECT_EQ(0u, tamsil_cmdGetDieTemperature(a));
  EXPECT_EQ(67, a->on_die_temperature);
  EXPECT_EQ(30u, a->die_temp_interval);
  rig->setFault(1, 121, {.status = 2});
  EXPECT_EQ(2u, tamsil_cmdGetDieTemperature(a));
  EXPECT_EQ(0u, a->die_temp_interval);
}

}  // namespace
