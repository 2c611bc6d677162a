// The firmware engine on its own: every handler's decoding and answer, the
// fault knobs and the object accounting. Requests are raw bytes (fw_cmd.h).
#include <gtest/gtest.h>

#include <map>

#include "fw_cmd.h"
#include "fw_engine.h"

using namespace adapter;
using fwtest::Req;
using fwtest::kPage;

namespace {

EngineConfig cfgFor(Gen g, unsigned fns = 2) {
  EngineConfig c;
  c.gen = g;
  c.functions = fns;
  return c;
}

const Gen kAllGens[] = {Gen::KS2, Gen::KS3, Gen::Pivard, Gen::Veskarn};

// A Dma over one host buffer at a fixed bus address.
class BufDma : public Dma {
 public:
  explicit BufDma(uint64_t base, size_t n) : base_(base), mem(n, 0) {}
  bool read(uint64_t a, void* d, size_t n) override {
    if (a < base_ || a + n > base_ + mem.size()) return false;
    std::memcpy(d, mem.data() + (a - base_), n);
    return true;
  }
  bool write(uint64_t a, const void* s, size_t n) override {
    if (a < base_ || a + n > base_ + mem.size()) return false;
    std::memcpy(mem.data() + (a - base_), s, n);
    return true;
  }
  uint64_t base_;
  std::vector<uint8_t> mem;
};

}  // namespace

// ---------------------------------------------------------------- dispatch --

TEST(FwDispatch, QueryFwConfigPerGeneration) {
  struct Case { Gen g; uint8_t code; };
  const Case cases[] = {{Gen::KS2, 0}, {Gen::KS3, 3}, {Gen::Pivard, 10}, {Gen::Veskarn, 4}};
  for (const Case& k : cases) {
    EngineConfig cfg = cfgFor(k.g);
    cfg.asic_rev = 2;
    Engine fw(cfg);
    Req c(1, 58, 124);
    Outcome o = c.run(fw, 1);
    SCOPED_TRACE(genName(k.g));
    EXPECT_TRUE(o.deliver);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(c.b[0], 58);
    EXPECT_EQ(c.b[1], 1);
    EXPECT_EQ(c.status(), 0);
    EXPECT_EQ(c.respLen(), 124u);
    EXPECT_EQ(c.actualLen(), 124u);
    EXPECT_EQ(c.r8(4), 2);
    EXPECT_EQ(c.r8(5), k.code);
    EXPECT_EQ(c.r32(8), 1u);                 // port of function 1
    EXPECT_EQ(c.r32(12), cfg.fw_caps);
    EXPECT_EQ(c.r32(120), cfg.fw_func_caps);
  }
}

TEST(FwDispatch, UnknownShortAndTruncatedRequests) {
  Engine fw(cfgFor(Gen::KS3));
  Req unknown(1, 250, 0);
  EXPECT_EQ(unknown.run(fw).status, kStatusNotSupported);
  EXPECT_EQ(unknown.status(), kStatusNotSupported);

  uint8_t tiny[8] = {58, 1, 0, 0, 0, 0, 0, 0};
  Request rq;
  rq.buf = tiny;
  rq.cap = sizeof tiny;
  EXPECT_EQ(fw.execute(rq).status, kStatusIllegalField);
  EXPECT_EQ(tiny[4], 0);   // nothing written

  // A function the adapter does not have.
  Req other(1, 58, 124);
  EXPECT_EQ(other.run(fw, 2).status, kStatusIllegalField);
  EXPECT_EQ(other.status(), 0);

  // A payload shorter than the command needs is refused, nothing is created.
  Req eq(1, 13, 40);
  EXPECT_EQ(eq.run(fw).status, kStatusIllegalField);
  EXPECT_EQ(fw.countLive(ObjKind::Eq), 0u);

  // The response never leaves the buffer: a 20-byte query-config buffer.
  Req small(1, 58, 4);
  small.run(fw);
  EXPECT_EQ(small.b.size(), 20u);
  EXPECT_EQ(small.respLen(), 4u);
}

// The length comes before any field: a request one byte shorter than the
// command's shortest form is refused with 3 and changes nothing, whatever the
// bytes behind its end say; one as long as that form gets through to the
// command (a destroy of a live queue then succeeds).
TEST(FwDispatch, ShortRequestsAreRefusedBeforeDecoding) {
  struct Case { Gen g; uint8_t sub, op, version; uint32_t min; const char* what; };
  const Case cases[] = {
      {Gen::KS3, 1, 50, 0, 20, "interface create"},
      {Gen::KS3, 1, 51, 0, 4, "interface destroy"},
      {Gen::KS3, 1, 55, 0, 2, "EQ destroy"},
      {Gen::KS3, 1, 54, 0, 2, "CQ destroy"},
      {Gen::KS3, 1, 53, 0, 2, "MCC destroy"},
      {Gen::KS3, 3, 9, 0, 2, "transmit queue destroy"},
      {Gen::KS3, 3, 10, 0, 2, "receive queue destroy"},
      {Gen::KS3, 1, 13, 0, 8, "EQ create / EMI canceller"},
      {Gen::KS3, 1, 12, 0, 84, "CQ create"},
      {Gen::KS3, 1, 90, 0, 88, "MCC create"},
      {Gen::KS3, 1, 21, 0, 84, "MCC create, basic"},
      {Gen::KS3, 3, 7, 0, 132, "transmit queue create"},
      {Gen::KS3, 3, 8, 0, 32, "receive queue create"},
      {Gen::KS3, 1, 59, 0, 10, "PMAC add"},
      {Gen::KS3, 1, 60, 0, 8, "PMAC delete"},
      {Gen::KS3, 1, 165, 0, 8, "set profile"},
      {Gen::KS3, 1, 171, 0, 128, "read object"},
      {Gen::KS3, 1, 174, 0, 112, "delete object"},
      {Gen::KS3, 3, 1, 0, 177, "RSS config"},
      {Gen::KS3, 1, 191, 0, 16, "UE recovery"},
      {Gen::Veskarn, 1, 193, 0, 28, "interface filters"},
      {Gen::Pivard, 1, 145, 0, 16, "interface queue filter add"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Engine fw(cfgFor(k.g));
    // A live object of every kind a destroy may name, id 1 each.
    uint32_t eq = fwtest::makeEq(fw);
    uint32_t cq = fwtest::makeCq(fw, eq);
    uint32_t mcc = fwtest::makeMcc(fw, fwtest::makeCq(fw, eq));
    uint32_t ifc = fwtest::makeIf(fw);
    Req rx(3, 8, 32);
    rx.u16(0, static_cast<uint16_t>(cq)).u8(2, 11).u8(3, 2).pages(4, kPage, 2).u32(20, ifc);
    ASSERT_EQ(rx.run(fw).status, 0);
    uint32_t rxq = rx.r16(0);
    ASSERT_EQ(1u, eq * mcc * rxq);
    size_t live = fw.countLive();
    unsigned seen = fw.commandsSeen(k.sub, k.op);
    // Behind the request's end: bytes that would name live objects.
    Req r(k.sub, k.op, k.min - 1, k.version, 0, 16 + 512);
    for (size_t i = 0; i < 512; i += 4) r.u32(i, 1);
    Outcome o = r.run(fw);
    EXPECT_EQ(o.status, kStatusIllegalField);
    EXPECT_EQ(r.status(), kStatusIllegalField);
    EXPECT_EQ(r.respLen(), 0u);
    EXPECT_EQ(o.rx_flush_cq, 0u);
    EXPECT_EQ(fw.countLive(), live);
    EXPECT_EQ(fw.commandsSeen(k.sub, k.op), seen + 1);   // received, counted, not run
  }
  // At its length, the same receive queue destroy runs (and names its CQ for
  // the flush completion).
  Engine fw(cfgFor(Gen::KS3));
  uint32_t cq = fwtest::makeCq(fw, fwtest::makeEq(fw));
  uint32_t ifc = fwtest::makeIf(fw);
  Req rx(3, 8, 32);
  rx.u16(0, static_cast<uint16_t>(cq)).u8(2, 11).u8(3, 2).pages(4, kPage, 2).u32(20, ifc);
  ASSERT_EQ(rx.run(fw).status, 0);
  Req d(3, 10, 2);
  d.u16(0, rx.r16(0));
  Outcome o = d.run(fw);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.rx_flush_cq, cq);
  EXPECT_EQ(fw.countLive(ObjKind::RxQueue), 0u);
}

// A request_length beyond the bytes the carrier delivered is refused too:
// the command would otherwise be decoded from what follows it.
TEST(FwDispatch, RequestLongerThanDeliveredIsRefused) {
  Engine fw(cfgFor(Gen::Veskarn));
  Req c(1, 58, 124);
  fwtest::le(&c.b[8], 125, 4);
  fwtest::le(c.hdr + 8, 125, 4);
  EXPECT_EQ(c.run(fw).status, kStatusIllegalField);
  Req ok(1, 58, 124);
  EXPECT_EQ(ok.run(fw).status, 0);
}

TEST(FwDispatch, ExtraHandlersCanBeRegistered) {
  Engine fw(cfgFor(Gen::KS3));
  EXPECT_FALSE(fw.hasHandler(1, 172));
  fw.registerHandler(1, 172, [](Engine&, adapter::Cmd& c) {
    c.respond(4);
    c.w32(0, c.r32(0) + 1);
  });
  Req c(1, 172, 4);
  c.u32(0, 41);
  EXPECT_EQ(c.run(fw).status, 0);
  EXPECT_EQ(c.r32(0), 42u);
  EXPECT_EQ(fw.commandsSeen(1, 172), 1u);
  ASSERT_NE(fw.lastRequest(1, 172), nullptr);
  EXPECT_EQ(fw.lastRequest(1, 172)->size(), 20u);
}

// ------------------------------------------------------------------ faults --

TEST(FwFaults, KnobsPerCommand) {
  struct Case {
    const char* name;
    Fault f;
    bool deliver, late, card, gone;
    uint16_t status, ext;
    uint8_t additional;
    bool created;   // did the command run
  };
  const Case cases[] = {
      {"status", {.status = 5}, true, false, false, false, 5, 0, 0, false},
      {"additional", {.status = 1, .additional = 96}, true, false, false, false, 1, 0, 96, false},
      {"extended", {.status = 1, .extended = 22}, true, false, false, false, 1, 22, 0, false},
      {"status66", {.status = 66}, true, false, false, false, 66, 0, 0, false},
      {"no completion", {.no_completion = true}, false, false, false, false, 0, 0, 0, false},
      {"late", {.late = true}, true, true, false, false, 0, 0, 0, true},
      {"card error", {.card_error = true}, false, false, true, false, 0, 0, 0, false},
      {"slot gone", {.slot_gone = true}, false, false, false, true, 0, 0, 0, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Engine fw(cfgFor(Gen::Veskarn));
    fw.setFault(1, 50, k.f);
    Req c(1, 50, 24);
    c.u8(19, 1);
    Outcome o = c.run(fw);
    EXPECT_EQ(o.deliver, k.deliver);
    EXPECT_EQ(o.late, k.late);
    EXPECT_EQ(o.card_error, k.card);
    EXPECT_EQ(o.slot_gone, k.gone);
    EXPECT_EQ(o.status, k.status);
    EXPECT_EQ(o.ext_status, k.ext);
    if (k.deliver) {
      EXPECT_EQ(c.status(), k.status);
      EXPECT_EQ(c.additional(), k.additional);
    }
    EXPECT_EQ(fw.countLive(ObjKind::Interface), k.created ? 1u : 0u);
  }
}

TEST(FwFaults, TimesAndClearing) {
  Engine fw(cfgFor(Gen::KS3));
  fw.setFault(1, 35, {.status = 2, .times = 2});
  EXPECT_EQ(Req(1, 35, 64).run(fw).status, 2);
  EXPECT_EQ(Req(1, 35, 64).run(fw).status, 2);
  EXPECT_EQ(Req(1, 35, 64).run(fw).status, 0);
  fw.setFault(1, 35, {.status = 3});
  EXPECT_EQ(Req(1, 35, 64).run(fw).status, 3);
  fw.clearFaults();
  EXPECT_EQ(Req(1, 35, 64).run(fw).status, 0);

  // The bare patterns have knobs of their own.
  fw.setFault(kSubBare, kOpFwInit, {.status = 1, .times = 1});
  EXPECT_EQ(fw.fwInit(0).status, 1);
  EXPECT_FALSE(fw.initialised(0));
  EXPECT_EQ(fw.fwInit(0).status, 0);
  EXPECT_TRUE(fw.initialised(0));
  fw.setFault(kSubBare, kOpFwClean, {.no_completion = true, .times = 1});
  EXPECT_FALSE(fw.fwClean(0).deliver);
  EXPECT_TRUE(fw.fwClean(0).deliver);
  EXPECT_FALSE(fw.initialised(0));
}

// ---------------------------------------------------------------- versions --

TEST(FwVersions, WrongVersionsAreRefused) {
  struct Case { Gen g; uint8_t sub, op, version; uint32_t payload; };
  const Case cases[] = {
      {Gen::KS3, 1, 12, 2, 84},      {Gen::Veskarn, 1, 12, 0, 84},  {Gen::Pivard, 1, 12, 0, 84},
      {Gen::KS2, 3, 7, 1, 132},      {Gen::Pivard, 3, 7, 2, 132},   {Gen::Veskarn, 3, 7, 1, 132},
      {Gen::KS3, 1, 90, 1, 88},      {Gen::Pivard, 1, 90, 0, 88},   {Gen::KS3, 1, 164, 0, 8},
      {Gen::Pivard, 1, 164, 1, 8},   {Gen::Veskarn, 1, 160, 0, 8},  {Gen::KS2, 1, 5, 1, 4},
      {Gen::KS3, 1, 5, 0, 4},        {Gen::KS3, 3, 1, 1, 180},      {Gen::Pivard, 3, 1, 0, 180},
      {Gen::KS2, 3, 4, 1, 1060},     {Gen::KS3, 3, 4, 0, 1788},     {Gen::Veskarn, 3, 4, 1, 2680},
      {Gen::KS3, 1, 36, 0, 4},       {Gen::KS3, 1, 57, 0, 8},       {Gen::KS3, 1, 80, 0, 4},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << genName(k.g) << " " << int(k.sub) << "/" << int(k.op)
                                    << " v" << int(k.version));
    Engine fw(cfgFor(k.g));
    uint32_t eq = fwtest::makeEq(fw);
    (void)eq;
    size_t before = fw.countLive();
    Req c(k.sub, k.op, k.payload, k.version);
    EXPECT_EQ(c.run(fw).status, kStatusIllegalField);
    EXPECT_EQ(fw.countLive(), before);
  }
}

// ------------------------------------------------------------------ queues --

TEST(FwQueues, EqCreateDecodesContext) {
  Engine fw(cfgFor(Gen::KS3));
  struct Case { uint32_t code, mult; uint32_t entries; };
  const Case cases[] = {{2, 0, 1024}, {0, 1023, 256}, {1, 80, 512}, {7, 5, 128}};
  unsigned vec = 0;
  for (const Case& k : cases) {
    uint8_t st = 0xFF;
    uint32_t id = fwtest::makeEq(fw, 0, k.code, k.mult, &st);
    ASSERT_EQ(st, 0);
    QueueObj* q = fw.queue(ObjKind::Eq, id);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->entries, k.entries);
    EXPECT_EQ(q->entry_size, 4u);
    EXPECT_EQ(q->delay_mult, k.mult);
    EXPECT_EQ(q->npages, 1u);
    EXPECT_EQ(q->pages[0], kPage);
    EXPECT_EQ(q->vector, vec++);    // one vector per event queue, in creation order
  }
  // Context word 0 must have bit 29 and not bit 31; count codes 4-6 do not exist.
  Req bad(1, 13, 84);
  bad.u16(0, 1).u32(4, (1u << 29) | (1u << 31)).pages(20, kPage, 1);
  EXPECT_EQ(bad.run(fw).status, kStatusIllegalField);
  Req bad2(1, 13, 84);
  bad2.u16(0, 1).u32(4, 1u << 29).u32(8, 5u << 26).pages(20, kPage, 1);
  EXPECT_EQ(bad2.run(fw).status, kStatusIllegalField);
  // A ring larger than its pages is refused.
  Req big(1, 13, 84);
  big.u16(0, 1).u32(4, 1u << 29).u32(8, 3u << 26).pages(20, kPage, 1);
  EXPECT_EQ(big.run(fw).status, kStatusIllegalField);
  // Unaligned or missing pages.
  Req unaligned(1, 13, 84);
  unaligned.u16(0, 1).u32(4, 1u << 29).u32(8, 2u << 26).u32(20, 0x1000010);
  EXPECT_EQ(unaligned.run(fw).status, kStatusIllegalField);
  EXPECT_EQ(fw.countLive(ObjKind::Eq), 4u);
}

TEST(FwQueues, CqCreatePerGeneration) {
  for (Gen g : kAllGens) {
    SCOPED_TRACE(genName(g));
    Engine fw(cfgFor(g));
    uint32_t eq1 = fwtest::makeEq(fw);
    uint32_t eq2 = fwtest::makeEq(fw);
    uint8_t st = 0xFF;
    uint32_t cq = fwtest::makeCq(fw, eq2, 0, &st, 1);
    ASSERT_EQ(st, 0);
    QueueObj* q = fw.queue(ObjKind::Cq, cq);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->bound, eq2);
    EXPECT_NE(q->bound, eq1);
    EXPECT_EQ(q->entries, 512u);
    EXPECT_EQ(q->entry_size, 16u);
    EXPECT_EQ(q->npages, 4u);
    // A CQ on a missing EQ, or on another function's EQ, is refused.
    fwtest::makeCq(fw, 77, 0, &st);
    EXPECT_EQ(st, kStatusIllegalField);
    fwtest::makeCq(fw, eq1, 1, &st);
    EXPECT_EQ(st, kStatusIllegalField);
  }
  // Kalderstone: the CQ's EQ id is the low 8 bits at bits 22-29 of word 1; bit
  // 30 of word 0 is the solicited-event flag, bits 12-13 the watermark.
  Engine ks(cfgFor(Gen::KS2));
  uint32_t eq = fwtest::makeEq(ks);
  Req c(1, 12, 84, 0);
  c.u16(0, 4).pages(20, kPage, 4);
  c.u32(4, (2u << 27) | (1u << 29) | (1u << 30) | (1u << 31) | (3u << 12) | (1u << 14));
  c.u32(8, (eq << 22) | (1u << 31));
  ASSERT_EQ(c.run(ks).status, 0);
  QueueObj* q = ks.queue(ObjKind::Cq, c.r16(0));
  EXPECT_EQ(q->entries, 1024u);
  EXPECT_EQ(q->bound, eq);
  EXPECT_EQ((q->flags >> 12) & 3, 3u);
  // Veskarn: version 2 needs p+2 = 1.
  Engine v(cfgFor(Gen::Veskarn));
  uint32_t veq = fwtest::makeEq(v);
  Req c2(1, 12, 84, 2);
  c2.u16(0, 4).pages(20, kPage, 4).u32(4, (2u << 27) | (1u << 29) | (1u << 31));
  c2.u32(8, veq | (1u << 31));
  EXPECT_EQ(c2.run(v).status, kStatusIllegalField);
  c2.u8(2, 1);
  EXPECT_EQ(c2.run(v).status, 0);
}

TEST(FwQueues, MccCreateForms) {
  for (Gen g : kAllGens) {
    SCOPED_TRACE(genName(g));
    Engine fw(cfgFor(g));
    uint32_t eq = fwtest::makeEq(fw);
    uint32_t cq = fwtest::makeCq(fw, eq);
    uint32_t mask = g == Gen::Pivard || g == Gen::Veskarn ? 0x20062 : 0x62;
    uint8_t st = 0xFF;
    uint32_t mcc = fwtest::makeMcc(fw, cq, 0, mask, &st);
    ASSERT_EQ(st, 0);
    QueueObj* q = fw.queue(ObjKind::MccQueue, mcc);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->entries, 128u);
    EXPECT_EQ(q->entry_size, 256u);
    EXPECT_EQ(q->bound, cq);
    EXPECT_EQ(q->async_mask, mask);
    // The basic form (1/21) exists except on Pivard.
    Req basic(1, 21, 84);
    basic.u16(0, 8).u32(4, (8u << 16) | (cq << 22)).u32(8, 1u << 31).pages(20, kPage, 8);
    uint8_t want = g == Gen::Pivard ? kStatusNotSupported : 0;
    EXPECT_EQ(basic.run(fw).status, want);
    if (want == 0) {
      QueueObj* b = fw.queue(ObjKind::MccQueue, basic.r16(0));
      ASSERT_NE(b, nullptr);
      EXPECT_EQ(b->bound, cq);
      EXPECT_EQ(b->entries, 128u);
    }
  }
  // Pivard's version 1 repeats the CQ id at p+2 and needs p+16 bit 0.
  Engine p(cfgFor(Gen::Pivard));
  uint32_t cq = fwtest::makeCq(p, fwtest::makeEq(p));
  Req c(1, 90, 88, 1);
  c.u16(0, 8).u32(4, 0x20062).pages(24, kPage, 8);
  c.u16(2, static_cast<uint16_t>(cq)).u32(8, cq | (8u << 16)).u32(12, 1u << 31);
  EXPECT_EQ(c.run(p).status, kStatusIllegalField);
  c.u32(16, 1);
  EXPECT_EQ(c.run(p).status, 0);
}

TEST(FwQueues, TxAndRxQueues) {
  struct Case { Gen g; uint8_t version; bool if_field; uint32_t db; };
  const Case cases[] = {{Gen::KS2, 0, false, 0x60}, {Gen::KS3, 0, false, 0x60},
                        {Gen::Pivard, 1, true, 0x60}, {Gen::Veskarn, 2, true, 0x200}};
  for (const Case& k : cases) {
    SCOPED_TRACE(genName(k.g));
    Engine fw(cfgFor(k.g));
    uint32_t cq = fwtest::makeCq(fw, fwtest::makeEq(fw));
    uint32_t ifid = fwtest::makeIf(fw);
    Req tx(3, 7, 132, k.version);
    tx.u8(0, 8).u8(1, 1).u16(2, 2).u8(6, 12).u16(12, static_cast<uint16_t>(cq)).pages(68, kPage, 8);
    if (k.if_field) tx.u16(4, static_cast<uint16_t>(ifid));
    ASSERT_EQ(tx.run(fw).status, 0);
    QueueObj* q = fw.queue(ObjKind::TxQueue, tx.r16(0));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->entries, 2048u);
    EXPECT_EQ(q->bound, cq);
    EXPECT_EQ(q->doorbell_offset, k.db);
    if (k.version == 2) {
      EXPECT_EQ(tx.r32(4), k.db);
    }
    if (k.if_field) {
      EXPECT_EQ(q->if_id, ifid);
    }
    // Receive queue: CQ id, log2 fragment size, 2 pages, interface, frame, RSS.
    Req rx(3, 8, 32);
    rx.u16(0, static_cast<uint16_t>(cq)).u8(2, 11).u8(3, 2).pages(4, kPage, 2);
    rx.u32(20, ifid).u16(24, 1932).u32(28, 1);
    ASSERT_EQ(rx.run(fw, 0, Carrier::Mcc).status, 0);
    QueueObj* r = fw.queue(ObjKind::RxQueue, rx.r16(0));
    ASSERT_NE(r, nullptr);
    EXPECT_LT(r->id, 1024u);
    EXPECT_EQ(r->if_id, ifid);
    EXPECT_EQ(r->ctx[0], 1932u);
    EXPECT_EQ(rx.r8(2), 1);   // first RSS ring
    // Destroys: the TX and RX queues go, then the CQ and EQ may.
    Req dcq(1, 54, 4);
    dcq.u16(0, static_cast<uint16_t>(cq));
    EXPECT_EQ(dcq.run(fw).status, kStatusIllegalField);   // still in use
    Req dtx(3, 9, 4);
    dtx.u16(0, static_cast<uint16_t>(q->id));
    EXPECT_EQ(dtx.run(fw).status, 0);
    Req drx(3, 10, 4);
    drx.u16(0, rx.r16(0));
    EXPECT_EQ(drx.run(fw).status, 0);
    EXPECT_EQ(dcq.run(fw).status, 0);
    EXPECT_EQ(fw.countLive(ObjKind::TxQueue) + fw.countLive(ObjKind::RxQueue), 0u);
  }
}

TEST(FwQueues, DestroyOrderAndOwnership) {
  for (Gen g : kAllGens) {
    SCOPED_TRACE(genName(g));
    Engine fw(cfgFor(g));
    uint32_t eq = fwtest::makeEq(fw);
    uint32_t cq = fwtest::makeCq(fw, eq);
    uint32_t mcc = fwtest::makeMcc(fw, cq);
    auto destroy = [&](uint8_t op, uint32_t id, unsigned fn) {
      Req c(1, op, 4);
      c.u16(0, static_cast<uint16_t>(id));
      return c.run(fw, fn).status;
    };
    EXPECT_EQ(destroy(55, eq, 0), kStatusIllegalField);   // a CQ still uses it
    EXPECT_EQ(destroy(54, cq, 0), kStatusIllegalField);   // the MCC queue still uses it
    EXPECT_EQ(destroy(53, mcc, 1), kStatusIllegalField);  // not function 1's
    EXPECT_EQ(destroy(53, mcc, 0), 0);
    EXPECT_EQ(destroy(53, mcc, 0), kStatusIllegalField);  // already gone
    EXPECT_EQ(destroy(54, cq, 0), 0);
    EXPECT_EQ(destroy(55, eq, 0), 0);
    EXPECT_EQ(fw.countLive(), 0u);
  }
}

TEST(FwQueues, ModifyEqDelay) {
  Engine fw(cfgFor(Gen::KS3));
  uint32_t a = fwtest::makeEq(fw), b = fwtest::makeEq(fw);
  Req c(1, 41, 100);
  c.u32(0, 2).u32(4, a).u32(12, 83).u32(16, b).u32(24, 7);
  EXPECT_EQ(c.run(fw, 0, Carrier::Mcc).status, 0);
  EXPECT_EQ(fw.queue(ObjKind::Eq, a)->delay_mult, 83u);
  EXPECT_EQ(fw.queue(ObjKind::Eq, b)->delay_mult, 7u);
  Req nine(1, 41, 112);
  nine.u32(0, 9);
  EXPECT_EQ(nine.run(fw).status, kStatusIllegalField);
  Req missing(1, 41, 100);
  missing.u32(0, 1).u32(4, 99).u32(12, 1);
  EXPECT_EQ(missing.run(fw).status, kStatusIllegalField);
}

// -------------------------------------------------------------- interfaces --

TEST(FwInterfaces, CreateDestroyAndMacFilters) {
  Engine fw(cfgFor(Gen::Veskarn));
  const uint8_t mac[6] = {2, 0, 0, 0, 0, 9};
  uint32_t pmac = 0;
  uint32_t id = fwtest::makeIf(fw, 0, mac, &pmac);
  const InterfaceObj* i = fw.interface(id);
  ASSERT_NE(i, nullptr);
  EXPECT_EQ(i->cap_flags, 0xAB8u);
  EXPECT_EQ(i->en_flags, 0x218u);
  ASSERT_EQ(fw.macFilters().size(), 1u);
  EXPECT_EQ(fw.macFilters()[0].id, pmac);
  EXPECT_EQ(fw.macFilters()[0].mac[5], 9);
  uint32_t bare = fwtest::makeIf(fw);
  EXPECT_EQ(fw.macFilters().size(), 1u);

  // PMAC add (version 0 and 1), delete, migrate.
  Req add(1, 59, 12, 1);
  add.u32(0, bare).bytes(4, mac, 6).u8(10, 1);
  ASSERT_EQ(add.run(fw, 0, Carrier::Mcc).status, 0);
  uint32_t p2 = add.r32(0);
  Req mig(1, 206, 20);
  mig.u8(0, static_cast<uint8_t>(p2)).u8(1, static_cast<uint8_t>(bare)).u8(2, static_cast<uint8_t>(id));
  EXPECT_EQ(mig.run(fw).status, 0);
  Req delWrong(1, 60, 8);
  delWrong.u32(0, bare).u32(4, p2);
  EXPECT_EQ(delWrong.run(fw).status, kStatusIllegalField);   // it moved to `id`
  Req del(1, 60, 12, 1);
  del.u32(0, id).u32(4, p2).u8(8, 1);
  EXPECT_EQ(del.run(fw).status, 0);
  // Destroying an interface takes its filters with it.
  Req ifd(1, 51, 4);
  ifd.u32(0, id);
  EXPECT_EQ(ifd.run(fw).status, 0);
  EXPECT_EQ(fw.macFilters().size(), 0u);
  EXPECT_EQ(ifd.run(fw).status, kStatusIllegalField);
  // PMAC add on a missing interface.
  Req add2(1, 59, 12);
  add2.u32(0, 999).bytes(4, mac, 6);
  EXPECT_EQ(add2.run(fw).status, kStatusIllegalField);
}

TEST(FwInterfaces, MacQueryAndLists) {
  Engine fw(cfgFor(Gen::KS3));
  Req perm(1, 1, 4, 0, 0, 236);
  perm.u8(0, 1).u8(1, 1);
  ASSERT_EQ(perm.run(fw, 1).status, 0);
  std::array<uint8_t, 6> m = fw.permanentMac(1);
  EXPECT_EQ(perm.r16(0), 6);
  EXPECT_EQ(std::memcmp(&perm.b[18], m.data(), 6), 0);
  const uint8_t cur[6] = {2, 1, 2, 3, 4, 5};
  uint32_t ifid = fwtest::makeIf(fw, 0, cur);
  Req q(1, 1, 4, 0, 0, 236);
  q.u8(0, 1).u16(2, static_cast<uint16_t>(ifid));
  ASSERT_EQ(q.run(fw).status, 0);
  EXPECT_EQ(std::memcmp(&q.b[18], cur, 6), 0);

  // MAC list: count p+16 + p+17, 8-byte entries {u16 type, MAC} from p+20.
  Req set(1, 148, 388, 0, 2, 404);
  set.u8(0, 2).bytes(4, cur, 6).bytes(10, cur, 6).u8(15, 0x77);
  ASSERT_EQ(set.run(fw).status, 0);
  Req get(1, 147, 532, 0, 2);
  get.u8(0, 1).u8(1, 1);
  ASSERT_EQ(get.run(fw).status, 0);
  EXPECT_EQ(get.r8(16) + get.r8(17), 3);
  EXPECT_EQ(get.r16(20), 0);
  EXPECT_EQ(get.r16(28), 1);
  EXPECT_EQ(get.r8(43), 0x77);
  // More than 64 MACs is refused.
  Req many(1, 148, 388);
  many.u8(0, 65);
  EXPECT_EQ(many.run(fw).status, kStatusIllegalField);
  // A short buffer gets only the entries that fit, and the counts say so.
  Req tiny(1, 147, 28, 0, 2);
  tiny.u8(0, 1).u8(1, 1);
  ASSERT_EQ(tiny.run(fw).status, 0);
  EXPECT_EQ(tiny.r8(16) + tiny.r8(17), 1);
  // The type-4 entry first when the firmware is provisioned that way.
  EngineConfig cfg = cfgFor(Gen::Pivard);
  cfg.mac_list_flag_entry = true;
  Engine p(cfg);
  Req g4(1, 147, 532);
  g4.u8(0, 1).u8(1, 1);
  ASSERT_EQ(g4.run(p).status, 0);
  EXPECT_EQ(g4.r16(20), 4);
}

TEST(FwInterfaces, FiltersVlanRxfAndRss) {
  Engine p(cfgFor(Gen::Pivard));
  uint32_t ifid = fwtest::makeIf(p);
  const uint8_t mac[6] = {2, 9, 9, 9, 9, 9};
  Req add(1, 145, 16);
  add.u32(0, ifid).u16(6, 5).bytes(10, mac, 6);
  ASSERT_EQ(add.run(p, 0, Carrier::Mcc).status, 0);
  const FilterObj* f = p.filter(add.r32(0));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->queue, 5);
  EXPECT_EQ(f->mac[1], 9);
  Req del(1, 146, 8);
  del.u32(0, ifid).u32(4, add.r32(0));
  EXPECT_EQ(del.run(p).status, 0);
  EXPECT_EQ(p.countLive(ObjKind::QueueFilter), 0u);

  Engine v(cfgFor(Gen::Veskarn));
  uint32_t tun = fwtest::makeIf(v), ten = fwtest::makeIf(v);
  Req conv(1, 193, 36);
  conv.u8(0, 0).u32(8, tun);
  EXPECT_EQ(conv.run(v).status, 0);
  EXPECT_EQ(v.tunnelInterface(0), tun);
  Req vx(1, 193, 36);
  vx.u8(0, 2).u8(2, 2).u32(4, tun).u32(8, ten).bytes(12, mac, 6).u32(20, 4242);
  ASSERT_EQ(vx.run(v).status, 0);
  const FilterObj* t = v.filter(vx.r32(4));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->vni, 4242u);
  EXPECT_EQ(t->tenant_if, ten);
  Req vdel(1, 193, 36);
  vdel.u8(0, 6).u32(8, tun).u32(24, vx.r32(4));
  EXPECT_EQ(vdel.run(v).status, 0);
  EXPECT_EQ(v.countLive(ObjKind::TunnelFilter), 0u);
  EXPECT_EQ(Req(1, 193, 36).run(p).status, kStatusNotSupported);   // not on Pivard

  // VLANs: interface id is one byte; tags only without promiscuous mode.
  Req vl(1, 4, 132);
  vl.u8(0, static_cast<uint8_t>(tun)).u8(3, 2).u16(4, 100).u16(6, 200);
  ASSERT_EQ(vl.run(v).status, 0);
  EXPECT_EQ(v.interface(tun)->vlans, (std::vector<uint16_t>{100, 200}));
  Req vp(1, 4, 132);
  vp.u8(0, static_cast<uint8_t>(tun)).u8(1, 1).u8(3, 2);
  ASSERT_EQ(vp.run(v).status, 0);
  EXPECT_TRUE(v.interface(tun)->vlan_promisc);
  EXPECT_TRUE(v.interface(tun)->vlans.empty());
  Req v65(1, 4, 132);
  v65.u8(0, static_cast<uint8_t>(tun)).u8(3, 65);
  EXPECT_EQ(v65.run(v).status, kStatusIllegalField);

  // Receive filter flags: only the bits of the mask change.
  Req rf(1, 34, 408);
  rf.u32(8, 0x80).u32(12, 0xFF).u32(16, ten);
  ASSERT_EQ(rf.run(v).status, 0);
  EXPECT_EQ(v.interface(ten)->rxf_flags, 0x80u);

  // RSS: log2 entries, key and table; 0xFFFF means no table.
  Req rss(3, 1, 180, 1);
  rss.u32(0, ten).u16(4, 63).u16(6, 7).u8(8, 0xAB).u8(48, 3).u8(48 + 127, 9).u8(176, 1);
  ASSERT_EQ(rss.run(v).status, 0);
  EXPECT_EQ(v.interface(ten)->rss_flags, 63);
  EXPECT_EQ(v.interface(ten)->rss_key[0], 0xAB);
  ASSERT_EQ(v.interface(ten)->rss_table.size(), 128u);
  EXPECT_EQ(v.interface(ten)->rss_table[127], 9);
  Req none(3, 1, 180, 1);
  none.u32(0, ten).u16(6, 0xFFFF).u8(176, 1);
  ASSERT_EQ(none.run(v).status, 0);
  EXPECT_TRUE(v.interface(ten)->rss_table.empty());
}

// ----------------------------------------------------------- configuration --

TEST(FwConfig, ControllerAttributesAndCapabilities) {
  EngineConfig cfg = cfgFor(Gen::KS3, 4);
  cfg.pci_vendor = 0x1C4E;
  cfg.pci_device = 0x3A21;
  cfg.pci_bus = 5;
  cfg.netqueues = 6;
  Engine fw(cfg);
  Req c(1, 32, 544);
  ASSERT_EQ(c.run(fw, 3).status, 0);
  EXPECT_EQ(c.rtext(96, 32), cfg.controller_text);
  EXPECT_EQ(c.rtext(192, 32), cfg.serial_number);
  EXPECT_EQ(c.rtext(256, 32), cfg.fw_version);
  EXPECT_EQ(c.r8(447), 3);
  EXPECT_EQ(c.r16(500), 0x1C4E);
  EXPECT_EQ(c.r16(502), 0x3A21);
  EXPECT_EQ(c.r8(508), 5);
  EXPECT_EQ(c.r8(510), 3);
  EXPECT_EQ(c.r8(520), 6);

  // Function capabilities: advanced mode everywhere, the second flag on KS3.
  for (Gen g : {Gen::KS2, Gen::KS3, Gen::Veskarn}) {
    Engine e(cfgFor(g));
    Req f(1, 103, 220);
    f.u32(0, 14).u32(4, 12);
    ASSERT_EQ(f.run(e).status, 0);
    EXPECT_EQ(f.r32(4), g == Gen::KS3 ? 0xCu : 0x4u) << genName(g);
  }
  Engine piv(cfgFor(Gen::Pivard));
  EXPECT_EQ(Req(1, 103, 220).run(piv).status, kStatusNotSupported);
}

TEST(FwConfig, ResourcesFunctionConfigAndProfiles) {
  EngineConfig cfg = cfgFor(Gen::Veskarn, 2);
  cfg.max_vfs = 24;
  Engine fw(cfg);
  // 1/81: 52-byte records from p+4.
  Req r(1, 81, 836);
  ASSERT_EQ(r.run(fw).status, 0);
  EXPECT_EQ(r.r32(0), 2u);
  EXPECT_EQ(r.r8(4 + 52 + 4), 1);
  EXPECT_EQ(r.r8(4 + 7), 1);
  EXPECT_EQ(r.r16(4 + 10), 24);
  EXPECT_EQ(r.r32(4 + 52 + 16), 1u);
  // 1/160 version 1: one NIC descriptor.
  Req fc(1, 160, 23236, 1);
  ASSERT_EQ(fc.run(fw).status, 0);
  EXPECT_EQ(fc.r32(0), 1u);
  EXPECT_EQ(fc.r8(4), 0x51);
  EXPECT_EQ(fc.r16(4 + 22), cfg.txqs);
  EXPECT_EQ(fc.r16(4 + 24), cfg.rxqs);
  EXPECT_EQ(fc.r16(4 + 26), cfg.rssqs);
  EXPECT_EQ(fc.r16(4 + 30), cfg.cqs);
  EXPECT_EQ(fc.r16(4 + 34), cfg.evtqs);
  EXPECT_EQ(fc.r16(4 + 38), cfg.ifaces);
  EXPECT_EQ(fc.r16(4 + 8), cfg.ucmacs);
  EXPECT_EQ(fc.r32(4 + 40), cfg.nic_cap_flags);
  // 1/164: port (0x55), PCIe (0x50) and NIC (0x51) descriptors.
  Req pc(1, 164, 23236, 1);
  pc.u8(1, 2);
  ASSERT_EQ(pc.run(fw, 1).status, 0);
  EXPECT_EQ(pc.r16(0), 3);
  size_t off = 4;
  std::map<uint8_t, size_t> at;
  for (int i = 0; i < 3; ++i) {
    at[pc.r8(off)] = off;
    off += pc.r8(off + 1);
  }
  ASSERT_EQ(at.size(), 3u);
  EXPECT_EQ(pc.r8(at[0x55] + 5), cfg.function_mode);
  EXPECT_EQ(pc.r8(at[0x50] + 6), 1);
  EXPECT_EQ(pc.r8(at[0x50] + 12), 1);
  EXPECT_EQ(pc.r16(at[0x50] + 16), 24);
  EXPECT_EQ(pc.r16(at[0x51] + 24), cfg.rxqs);
  // Query 1: the modifiable-resources descriptor (flag bit 3, 0xFFFF fields).
  Req pm(1, 164, 23236, 1);
  pm.u8(1, 2 + 8);
  ASSERT_EQ(pm.run(fw).status, 0);
  EXPECT_EQ(pm.r8(4), 0x51);
  EXPECT_EQ(pm.r8(4 + 3) & 0x8, 0x8);
  EXPECT_EQ(pm.r16(4 + 8), 0xFFFF);
  EXPECT_EQ(pm.r32(4 + 40) & 0x4, 0x4u);
  // A VF domain sees its own share only.
  Req vf(1, 164, 23236, 1, 3);
  vf.u8(1, 2);
  ASSERT_EQ(vf.run(fw).status, 0);
  EXPECT_EQ(vf.r16(0), 1);
  EXPECT_EQ(vf.r16(4 + 24), 1);
  Req bad(1, 164, 23236, 1, 200);
  bad.u8(1, 2);
  EXPECT_EQ(bad.run(fw).status, kStatusIllegalField);
  // Zero-length descriptors stand for 72 bytes.
  EngineConfig z = cfg;
  z.profile_zero_lengths = true;
  Engine fz(z);
  Req pz(1, 164, 23236, 1);
  pz.u8(1, 2);
  ASSERT_EQ(pz.run(fz).status, 0);
  EXPECT_EQ(pz.r8(4 + 1), 0);
  EXPECT_EQ(pz.r8(4 + 72), 0x50);
  EXPECT_EQ(pz.r8(4 + 144), 0x51);
  // KS2 has no profiles: status 2 (the driver falls back to 1/81).
  Engine ks2(cfgFor(Gen::KS2));
  Req pk(1, 164, 23236, 1);
  pk.u8(1, 2);
  EXPECT_EQ(pk.run(ks2).status, kStatusNotSupported);
  // Active profile.
  Req ap(1, 167, 4);
  ASSERT_EQ(ap.run(fw).status, 0);
  EXPECT_EQ(ap.r16(0), cfg.active_profile);
}

TEST(FwConfig, SetProfileLimits) {
  Engine fw(cfgFor(Gen::Veskarn));
  Req ok(1, 165, 184, 1);
  ok.u32(4, 2).u8(8, 0x50).u8(9, 88).u8(8 + 88, 0x51).u8(8 + 89, 88);
  ASSERT_EQ(ok.run(fw).status, 0);
  EXPECT_EQ(fw.lastSetProfile().count, 2u);
  EXPECT_EQ(fw.lastSetProfile().descriptors.size(), 176u);
  EXPECT_EQ(fw.lastSetProfile().version, 1);
  // A request longer than its descriptors (the host's 22624-byte form) is
  // taken; a descriptor that overruns and count 0 are not.
  Req big(1, 165, 22624, 1);
  big.u32(4, 1).u8(8, 0x50).u8(9, 88);
  ASSERT_EQ(big.run(fw).status, 0);
  EXPECT_EQ(fw.lastSetProfile().descriptors.size(), 88u);
  Req over(1, 165, 184, 1);
  over.u32(4, 2).u8(8, 0x50).u8(9, 88).u8(8 + 88, 0x51).u8(8 + 89, 100);
  EXPECT_EQ(over.run(fw).status, kStatusIllegalField);
  // The VXLAN port descriptor: type 0x55, length 88, pf in the word at 4,
  // protocol 23 and the port in the word at 8.
  Req vx(1, 165, 96, 1);
  vx.u32(4, 1).u32(8, 0xC0005855u).u32(12, 1).u32(16, 23u | (4789u << 16));
  ASSERT_EQ(vx.run(fw).status, 0);
  EXPECT_EQ(fw.vxlanPort(1), 4789);
  EXPECT_EQ(fw.vxlanPort(0), 0);
  Req zero(1, 165, 184, 1);
  EXPECT_EQ(zero.run(fw).status, kStatusIllegalField);
  EXPECT_EQ(fw.lastSetProfile().times, 3u);
}

// A profile write is applied: the PCIe descriptor gives the function it
// names its SR-IOV state and VF count, the NIC descriptor the share of each of
// its VFs; later queries show them; 0xFFFF leaves a limit alone; the bytes
// written stay readable; a refused write changes nothing.
TEST(FwConfig, ProfileWritesAreAppliedToTheLimits) {
  EngineConfig cfg = cfgFor(Gen::Veskarn, 2);
  cfg.max_vfs = 24;
  Engine fw(cfg);
  ResourceLimits pf_before = fw.limits(1);
  Req w(1, 165, 184, 1);
  w.u32(4, 2);
  w.u8(8, 0x50).u8(9, 88).u8(8 + 6, 1).u8(8 + 12, 1).u16(8 + 16, 6);
  size_t n = 8 + 88;
  w.u8(n, 0x51).u8(n + 1, 88).u8(n + 3, 0xC8).u8(n + 6, 1);
  w.u16(n + 8, 18).u16(n + 16, 0xFFFF).u16(n + 18, 0xFFFF).u16(n + 22, 4).u16(n + 24, 4).u16(n + 26, 3);
  w.u16(n + 30, 9).u16(n + 34, 5).u16(n + 38, 7).u32(n + 40, 0x1234);
  ASSERT_EQ(w.run(fw).status, 0);
  std::vector<uint8_t> sent(w.b.begin() + 16 + 8, w.b.begin() + 16 + 8 + 176);
  EXPECT_EQ(fw.lastSetProfile().descriptors, sent);
  EXPECT_TRUE(fw.limits(1).sriov);
  EXPECT_EQ(fw.limits(1).max_vfs, 6);
  EXPECT_EQ(fw.limits(1).txqs, pf_before.txqs);   // the function's own queues stay
  EXPECT_EQ(fw.limits(1).cqs, pf_before.cqs);
  const ResourceLimits& v = fw.vfLimits(1);
  EXPECT_EQ(v.ucmacs, 18);
  EXPECT_EQ(v.mccqs, cfg.mccqs);                   // 0xFFFF: unchanged
  EXPECT_EQ(v.vlans, cfg.vlans);
  EXPECT_EQ(v.txqs, 4);
  EXPECT_EQ(v.rxqs, 4);
  EXPECT_EQ(v.rssqs, 3);
  EXPECT_EQ(v.cqs, 9);
  EXPECT_EQ(v.evtqs, 5);
  EXPECT_EQ(v.ifaces, 7);
  EXPECT_EQ(v.cap_flags, 0x1234u);
  EXPECT_EQ(fw.vfLimits(0).cqs, 4);                // the other function keeps its own
  EXPECT_EQ(fw.limits(0).max_vfs, 24);
  // The queries show them: the function's PCIe descriptor, a VF domain's NIC
  // descriptor, the resource records.
  auto descs = [](const Req& q) {
    std::map<uint8_t, size_t> at;
    for (size_t off = 4, i = 0; i < q.r16(0); ++i, off += q.r8(off + 1)) at[q.r8(off)] = off;
    return at;
  };
  Req pc(1, 164, 23236, 1);
  pc.u8(1, 2);
  ASSERT_EQ(pc.run(fw, 1).status, 0);
  auto at = descs(pc);
  EXPECT_EQ(pc.r16(at[0x50] + 16), 6);
  EXPECT_EQ(pc.r8(at[0x50] + 12), 1);
  EXPECT_EQ(pc.r16(at[0x51] + 30), pf_before.cqs);
  Req vq(1, 164, 23236, 1, 2);
  vq.u8(1, 2);
  ASSERT_EQ(vq.run(fw, 1).status, 0);
  at = descs(vq);
  EXPECT_EQ(vq.r16(at[0x51] + 22), 4);
  EXPECT_EQ(vq.r16(at[0x51] + 30), 9);
  EXPECT_EQ(vq.r16(at[0x51] + 38), 7);
  EXPECT_EQ(vq.r16(at[0x51] + 8), 18);
  Req res(1, 81, 836);
  ASSERT_EQ(res.run(fw).status, 0);
  EXPECT_EQ(res.r16(4 + 52 + 10), 6);
  EXPECT_EQ(res.r16(4 + 10), 24);
  // A write-back that fills three fields and leaves the rest zero gives the
  // VFs zero of everything else: a later query shows it.
  Req zero(1, 165, 184, 1);
  zero.u32(4, 2).u8(8, 0x50).u8(9, 88).u8(8 + 6, 1).u8(8 + 88, 0x51).u8(8 + 89, 88).u8(8 + 88 + 6, 1);
  zero.u16(8 + 88 + 22, 1).u16(8 + 88 + 24, 1).u16(8 + 88 + 26, 1);
  ASSERT_EQ(zero.run(fw).status, 0);
  EXPECT_FALSE(fw.limits(1).sriov);
  EXPECT_EQ(fw.limits(1).max_vfs, 0);
  EXPECT_EQ(fw.vfLimits(1).cqs, 0);
  EXPECT_EQ(fw.vfLimits(1).ucmacs, 0);
  EXPECT_EQ(fw.vfLimits(1).txqs, 1);
  // A write that is refused (a descriptor running past the bytes) applies nothing.
  Req bad(1, 165, 184, 1);
  bad.u32(4, 2).u8(8, 0x51).u8(9, 88).u8(8 + 6, 1).u16(8 + 30, 3).u8(8 + 88, 0x50).u8(8 + 89, 100);
  EXPECT_EQ(bad.run(fw).status, kStatusIllegalField);
  EXPECT_EQ(fw.vfLimits(1).cqs, 0);
  // A function the adapter does not have is skipped.
  Req none(1, 165, 96, 1);
  none.u32(4, 1).u8(8, 0x51).u8(9, 88).u8(8 + 6, 5).u16(8 + 30, 1);
  ASSERT_EQ(none.run(fw).status, 0);
  EXPECT_EQ(fw.vfLimits(0).cqs, 4);
}

TEST(FwConfig, WakeOnLanInterruptsAndVfs) {
  Engine fw(cfgFor(Gen::KS3));
  Req cap(3, 12, 1188, 1);
  cap.u8(2, 2);
  ASSERT_EQ(cap.run(fw).status, 0);
  EXPECT_EQ(cap.r8(2), 0x81);
  Req capBad(3, 12, 1188, 1);
  EXPECT_EQ(capBad.run(fw).status, kStatusIllegalField);
  const uint8_t mac[6] = {2, 3, 4, 5, 6, 7};
  Req magic(3, 12, 588, 0);
  magic.bytes(580, mac, 6);
  ASSERT_EQ(magic.run(fw, 1, Carrier::Mcc).status, 0);
  EXPECT_EQ(fw.wolMac(1)[5], 7);
  Req intr(1, 89, 4);
  intr.u8(0, 1);
  ASSERT_EQ(intr.run(fw).status, 0);
  EXPECT_TRUE(fw.interruptsEnabled(0));
  Req vf(1, 196, 4, 0, 4);
  vf.u8(0, 1);
  ASSERT_EQ(vf.run(fw).status, 0);
  EXPECT_TRUE(fw.vfsEnabled(0, 4));
  Engine piv(cfgFor(Gen::Pivard));
  EXPECT_EQ(Req(1, 89, 4).run(piv).status, kStatusNotSupported);
}

// ------------------------------------------------------------------ runtime --

TEST(FwRuntime, LinkPortSpeedAndNames) {
  for (Gen g : kAllGens) {
    SCOPED_TRACE(genName(g));
    Engine fw(cfgFor(g));
    uint8_t v = g == Gen::KS2 ? 0 : 1;
    Req q(1, 5, 4, v, 0, 236);
    ASSERT_EQ(q.run(fw, 1).status, 0);
    EXPECT_EQ(q.r32(8), 1u);
    EXPECT_EQ(q.r8(2), 4);
    fw.port(1).link_up = false;
    fw.port(1).down_reason = 5;
    Req d(1, 5, 4, v, 0, 236);
    ASSERT_EQ(d.run(fw, 1).status, 0);
    EXPECT_EQ(d.r32(8), 0u);
    EXPECT_EQ(d.r8(5), 5);
    fw.port(0).qos_speed = 250;
    Req qs(1, 5, 4, v, 0, 236);
    ASSERT_EQ(qs.run(fw, 0).status, 0);
    EXPECT_EQ(qs.r16(6), 250);
  }
  Engine fw(cfgFor(Gen::Veskarn));
  struct Case { uint16_t code; uint8_t status; };
  const Case codes[] = {{13, 0}, {12, 0}, {2, 0}, {1, 0}, {136, 0}, {14, 0}, {0, 0}, {3, 3}, {99, 3}};
  for (const Case& k : codes) {
    Req s(1, 57, 8, 1);
    s.u8(0, 1).u8(1, 1).u16(2, k.code);
    EXPECT_EQ(s.run(fw).status, k.status) << k.code;
    if (k.status == 0) {
      Req g(1, 134, 4);
      g.u8(0, 1);
      ASSERT_EQ(g.run(fw).status, 0);
      EXPECT_EQ(g.r16(2), k.code);
      EXPECT_EQ(g.r16(0), k.code);
    }
  }
  Req s(1, 57, 8, 1);
  s.u8(0, 1).u8(1, 0).u16(2, 1);   // the two port bytes must agree
  EXPECT_EQ(s.run(fw).status, kStatusIllegalField);
  EngineConfig cfg = cfgFor(Gen::Veskarn);
  cfg.port_names = "AB";
  Engine named(cfg);
  Req n(1, 77, 4);
  ASSERT_EQ(n.run(named).status, 0);
  EXPECT_EQ(n.r8(0), 'A');
  EXPECT_EQ(n.r8(1), 'B');
}

TEST(FwRuntime, PerDomainSettings) {
  Engine fw(cfgFor(Gen::Veskarn));
  uint32_t ifid = fwtest::makeIf(fw);
  Req ll(1, 80, 4, 2, 3);
  ll.u32(0, 0x301);
  ASSERT_EQ(ll.run(fw).status, 0);
  EXPECT_EQ(fw.logicalLinkWord(0, 3), 0x301u);
  Engine ks2(cfgFor(Gen::KS2));
  EXPECT_EQ(Req(1, 80, 4, 2).run(ks2).status, kStatusNotSupported);
  Req qos(1, 28, 36, 0, 2);
  qos.u32(0, 1).u32(4, 1000);
  ASSERT_EQ(qos.run(fw).status, 0);
  EXPECT_EQ(fw.qosBandwidth(0, 2), 1000u);
  Req hsw(1, 153, 20, 0, 2);
  hsw.u32(0, ifid | (1u << 30)).u16(6, 42);
  ASSERT_EQ(hsw.run(fw).status, 0);
  EXPECT_EQ(fw.hswPvid(0, 2), 42);
  Req sp(1, 100, 4, 0, 1);
  sp.u32(0, 0x40);
  ASSERT_EQ(sp.run(fw).status, 0);
  Req gp(1, 170, 4, 0, 1);
  ASSERT_EQ(gp.run(fw).status, 0);
  EXPECT_EQ(gp.r32(0), 0x40u);
  Req gp0(1, 170, 4);
  ASSERT_EQ(gp0.run(fw).status, 0);
  EXPECT_EQ(gp0.r32(0), fw.config().privileges);
  Req fcs(1, 36, 4, 1);
  fcs.u16(0, 0).u16(2, 1);
  ASSERT_EQ(fcs.run(fw).status, 0);
  Req fcg(1, 37, 4);
  ASSERT_EQ(fcg.run(fw).status, 0);
  EXPECT_EQ(fcg.r16(0), 0);
  EXPECT_EQ(fcg.r16(2), 1);
}

TEST(FwRuntime, PhyTransceiverVersionsTemperatureRecovery) {
  Engine fw(cfgFor(Gen::Veskarn));
  Req phy(1, 102, 24);
  ASSERT_EQ(phy.run(fw).status, 0);
  EXPECT_EQ(phy.r16(0), fw.config().phy_type);
  EXPECT_EQ(phy.r16(2), fw.config().phy_if_type);
  EXPECT_EQ(phy.r16(12), fw.config().speed_caps);
  EXPECT_EQ(phy.r16(14), fw.config().speed_caps2);
  Req x(1, 73, 264);
  x.u32(0, 160).u32(4, 1);
  ASSERT_EQ(x.run(fw).status, 0);
  EXPECT_EQ(x.rtext(28, 16), "EMULATED OPTICS ");
  EXPECT_EQ(x.rtext(48, 16), "SFP-10G-SR-EMU  ");
  EXPECT_EQ(x.r8(139), 0x01);
  EXPECT_EQ(x.r8(16), 0x04);
  Req xp(1, 73, 264);
  xp.u32(0, 162).u32(4, 1);
  EXPECT_EQ(xp.run(fw).status, kStatusIllegalField);
  Req ver(1, 35, 64);
  ASSERT_EQ(ver.run(fw).status, 0);
  EXPECT_EQ(ver.rtext(0, 32), fw.config().fw_version);
  EXPECT_EQ(ver.rtext(32, 32), fw.config().flash_fw_version);
  fw.setDieTemperature(71);
  Req t(1, 121, 8);
  ASSERT_EQ(t.run(fw, 0, Carrier::Mcc).status, 0);
  EXPECT_EQ(t.r8(4), 71);
  Engine ks2(cfgFor(Gen::KS2));
  EXPECT_EQ(Req(1, 121, 8).run(ks2).status, kStatusNotSupported);
  Req ue(1, 191, 16);
  ue.u32(0, 16).u32(4, 8).u32(8, 1);
  ASSERT_EQ(ue.run(fw).status, 0);
  EXPECT_EQ(ue.r32(8) & 1, 1u);
  EXPECT_EQ(ue.r16(12), fw.config().ue2rp);
  EXPECT_EQ(ue.r16(14), fw.config().ue2sr);
  EXPECT_TRUE(fw.ueRecoveryRequested(0));
  Req off(1, 191, 16);
  off.u32(0, 16).u32(4, 8).u32(8, 0);
  ASSERT_EQ(off.run(fw).status, 0);
  EXPECT_EQ(off.r32(8) & 1, 0u);
  Req emi(1, 13, 8);
  emi.u32(0, 0).u32(4, 1);
  ASSERT_EQ(emi.run(fw, 0, Carrier::Mcc).status, 0);
  EXPECT_EQ(fw.emiCanceller(0), 1u);
  EXPECT_EQ(fw.countLive(ObjKind::Eq), 0u);   // 1/13 with 8 bytes is not an EQ create
}

TEST(FwRuntime, ObjectsDumpAndFat) {
  Engine fw(cfgFor(Gen::KS3));
  std::vector<uint8_t> blob(5000);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i);
  fw.putObject("/dbg/dump.bin", blob);
  BufDma dma(0x7000000, 8192);
  auto read = [&](uint32_t len, uint32_t off, const char* name) {
    Req c(1, 171, 128);
    c.u32(0, len).u32(4, off).text(8, name).u32(112, 1).u32(116, len).u32(120, 0x7000000).u32(124, 0);
    c.run(fw, 0, Carrier::Mcc, &dma);
    return c;
  };
  Req len = read(0, 0, "/dbg/dump.bin");
  ASSERT_EQ(len.status(), 0);
  EXPECT_EQ(len.r32(0), 5000u);
  Req part = read(4096, 4096, "/dbg/dump.bin");
  ASSERT_EQ(part.status(), 0);
  EXPECT_EQ(part.r32(0), 904u);
  EXPECT_EQ(part.r32(4), 1u);
  EXPECT_EQ(dma.mem[0], static_cast<uint8_t>(4096));
  Req first = read(100, 0, "/dbg/dump.bin");
  EXPECT_EQ(first.r32(4), 0u);
  EXPECT_EQ(read(10, 0, "/nope").status(), kStatusIllegalField);
  Req nodma(1, 171, 128);
  nodma.u32(0, 16).text(8, "/dbg/dump.bin").u32(112, 1).u32(116, 16).u32(120, 0x9000000);
  EXPECT_EQ(nodma.run(fw, 0, Carrier::Mcc, &dma).status, kStatusFailed);
  Req del(1, 174, 112);
  del.text(8, "/dbg/dump.bin");
  EXPECT_EQ(del.run(fw).status, 0);
  EXPECT_FALSE(fw.hasObject("/dbg/dump.bin"));
  EXPECT_EQ(del.run(fw).status, kStatusIllegalField);

  // FAT: the length query answers size + 4, reads fit in the buffer.
  fw.fatLog().assign(300, 'x');
  Req fl(1, 68, 20);
  fl.u32(0, 1);
  ASSERT_EQ(fl.run(fw).status, 0);
  EXPECT_EQ(fl.r32(0), 304u);
  Req fr(1, 68, 16 + 100, 0, 0, 16 + 16 + 100);
  fr.u32(0, 0).u32(4, 250).u32(8, 100).u32(12, 100);
  ASSERT_EQ(fr.run(fw).status, 0);
  EXPECT_EQ(fr.r32(4), 50u);
  Req fbig(1, 68, 16 + 64, 0, 0, 16 + 16 + 64);
  fbig.u32(0, 0).u32(4, 0).u32(8, 1000).u32(12, 1000);
  ASSERT_EQ(fbig.run(fw).status, 0);
  EXPECT_EQ(fbig.r32(4), 64u);   // the buffer's room, not the asked length
  fw.fatLog().clear();
  Req fe(1, 68, 20);
  fe.u32(0, 1);
  ASSERT_EQ(fe.run(fw).status, 0);
  EXPECT_EQ(fe.r32(0), 0u);
}

TEST(FwRuntime, VpdResourceList) {
  Engine fw(cfgFor(Gen::KS3));
  Req c(1, 91, 4104);
  c.u16(0, 0);
  ASSERT_EQ(c.run(fw).status, 0);
  // Walk the PCI VPD resources: 0x82, 0x90 with keywords, 0x91, 0x78.
  std::map<std::string, std::string> kw;
  size_t i = 0;
  std::vector<uint8_t> tags;
  while (i < c.respLen()) {
    uint8_t tag = c.r8(i);
    tags.push_back(tag);
    if (tag == 0x78) break;
    uint16_t len = c.r16(i + 1);
    if (tag == 0x90) {
      size_t k = i + 3;
      while (k < i + 3 + len) {
        std::string name{static_cast<char>(c.r8(k)), static_cast<char>(c.r8(k + 1))};
        uint8_t n = c.r8(k + 2);
        kw[name] = std::string(reinterpret_cast<const char*>(&c.b[16 + k + 3]), n);
        k += 3 + n;
      }
    }
    i += 3 + len;
  }
  EXPECT_EQ(tags, (std::vector<uint8_t>{0x82, 0x90, 0x91, 0x78}));
  EXPECT_EQ(kw["SN"], fw.config().serial_number);
  EXPECT_EQ(kw["V1"], fw.config().model_desc);
  EXPECT_EQ(kw["V2"], fw.config().model_name);
  EXPECT_EQ(kw["V3"], fw.config().program_type);
  Req bad(1, 91, 4104);
  bad.u16(0, 9);
  EXPECT_EQ(bad.run(fw).status, kStatusIllegalField);
}

// --------------------------------------------------------------- statistics --

TEST(FwStats, BlockSizesAndWordMap) {
  EXPECT_EQ(statsBlockBytes(Gen::Pivard), 672u);
  EXPECT_EQ(statsBlockBytes(Gen::KS2), 1076u);
  EXPECT_EQ(statsBlockBytes(Gen::KS3), 1804u);
  EXPECT_EQ(statsBlockBytes(Gen::Veskarn), 2696u);
  struct Case { Gen g; Stat s; unsigned port; int word, second; };
  const Case cases[] = {
      {Gen::Pivard, Stat::RxCrcErrors, 0, 78, -1},
      {Gen::Pivard, Stat::RxAddressFiltered, 1, 104, 105},
      {Gen::Pivard, Stat::RxPriorityPauseFrames, 0, -1, -1},
      {Gen::Pivard, Stat::JabberEvents, 0, 97, -1},
      {Gen::KS2, Stat::RxCrcErrors, 1, 66 + 10, -1},
      {Gen::KS2, Stat::RxAddressFiltered, 0, 17, 18},
      {Gen::KS2, Stat::JabberEvents, 0, 159, -1},
      {Gen::KS2, Stat::JabberEvents, 1, 160, -1},
      {Gen::KS2, Stat::EthRedDrops, 1, 263, -1},
      {Gen::KS3, Stat::TxControlFrames, 1, 72 + 58, -1},
      {Gen::KS3, Stat::JabberEvents, 1, 144, -1},
      {Gen::KS3, Stat::RxDropsNoPbuf, 0, 294, -1},
      {Gen::Veskarn, Stat::RxUdpChecksumErrs, 1, 102 + 48, -1},
      {Gen::Veskarn, Stat::TxPriorityPauseFrames, 0, 63, -1},
      {Gen::Veskarn, Stat::JabberEvents, 1, 102 + 78, -1},
      {Gen::Veskarn, Stat::EthRedDrops, 0, 650, -1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << genName(k.g) << " stat " << int(k.s) << " port " << k.port);
    EXPECT_EQ(statsWord(k.g, k.s, k.port), k.word);
    EXPECT_EQ(statsWordSecond(k.g, k.s, k.port), k.second);
  }
  // Every named word lies inside its block for ports 0-3 (KS3 jabber of port
  // 3 is word 288).
  for (Gen g : kAllGens) {
    for (unsigned s = 0; s < static_cast<unsigned>(Stat::Count); ++s) {
      for (unsigned p = 0; p < 4; ++p) {
        int w = statsWord(g, static_cast<Stat>(s), p);
        EXPECT_LT(w, static_cast<int>(statsBlockBytes(g) / 4)) << genName(g) << " " << s;
      }
    }
  }
}

TEST(FwStats, CommandsReturnTheBlock) {
  struct Case { Gen g; uint8_t sub, op, version; };
  const Case cases[] = {{Gen::KS2, 3, 4, 0}, {Gen::KS3, 3, 4, 1}, {Gen::Veskarn, 3, 4, 2},
                        {Gen::Pivard, 3, 18, 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(genName(k.g));
    Engine fw(cfgFor(k.g));
    fw.setStat(1, Stat::RxCrcErrors, 1111);
    fw.setStat(1, Stat::RxDropsMtu, 2222);
    if (k.g != Gen::Pivard) fw.setNoDmaCounter(1, 3, 0xBEEF);
    uint32_t bytes = statsBlockBytes(k.g);
    Req c(k.sub, k.op, bytes - 16, k.version);
    c.u16(0, 1);
    ASSERT_EQ(c.run(fw, 1, Carrier::Mcc).status, 0);
    EXPECT_EQ(c.respLen(), bytes - 16);
    auto word = [&](int w) { return fwtest::rd(&c.b[4 * w], 4); };
    EXPECT_EQ(word(statsWord(k.g, Stat::RxCrcErrors, 1)), 1111u);
    EXPECT_EQ(word(statsWord(k.g, Stat::RxDropsMtu, 1)), 2222u);
    if (k.g != Gen::Pivard) {
      EXPECT_EQ(fwtest::rd(&c.b[statsNoDmaOffset(k.g) + 12], 2), 0xBEEFu);
    }
  }
  Engine ks3(cfgFor(Gen::KS3));
  EXPECT_EQ(Req(3, 18, 100).run(ks3).status, kStatusNotSupported);
}

TEST(FwConfig, GenerationDefaultsAreConsistent) {
  for (Gen g : kAllGens) {
    SCOPED_TRACE(genName(g));
    EngineConfig cfg = engineDefaults(g, 2);
    EXPECT_EQ(cfg.gen, g);
    Engine fw(cfg);
    Req r(1, 81, 836);
    ASSERT_EQ(r.run(fw).status, 0);
    EXPECT_EQ(r.r16(4 + 10), cfg.max_vfs);
    EXPECT_EQ(r.r8(4 + 7), cfg.sriov_enabled ? 1 : 0);
    Req a(1, 32, 544);
    ASSERT_EQ(a.run(fw).status, 0);
    EXPECT_EQ(a.rtext(96, 32), cfg.controller_text);
    Req v(1, 35, 64);
    ASSERT_EQ(v.run(fw).status, 0);
    EXPECT_EQ(v.rtext(0, 32), cfg.fw_version);
  }
  EXPECT_FALSE(engineDefaults(Gen::KS2).sriov_enabled);
  EXPECT_EQ(engineDefaults(Gen::KS3).max_vfs, 30);
}

// --------------------------------------------------------------- accounting --

TEST(FwAccounting, ResetAndCleanDestroyOnlyTheFunctionsObjects) {
  Engine fw(cfgFor(Gen::KS3, 2));
  auto build = [&](unsigned fn) {
    uint32_t eq = fwtest::makeEq(fw, fn);
    uint32_t cq = fwtest::makeCq(fw, eq, fn);
    fwtest::makeMcc(fw, cq, fn);
    const uint8_t mac[6] = {2, 0, 0, 0, 1, static_cast<uint8_t>(fn)};
    fwtest::makeIf(fw, fn, mac);
  };
  build(0);
  build(1);
  EXPECT_EQ(fw.countLive(0), 5u);
  EXPECT_EQ(fw.countLive(1), 5u);
  EXPECT_EQ(fw.countLive(ObjKind::MacFilter, 1), 1u);
  ASSERT_EQ(Req(1, 61, 0).run(fw, 0).status, 0);
  EXPECT_EQ(fw.countLive(0), 0u);
  EXPECT_EQ(fw.countLive(1), 5u);
  for (const ObjInfo& o : fw.liveObjects()) EXPECT_EQ(o.fn, 1u);
  EXPECT_STREQ(objKindName(ObjKind::TunnelFilter), "TunnelFilter");
  fw.fwInit(1);
  EXPECT_EQ(fw.fwClean(1).status, 0);
  EXPECT_EQ(fw.countLive(), 0u);
  // Ids are handed out again from the lowest.
  build(0);
  EXPECT_EQ(fw.queues(ObjKind::Eq)[0]->id, 1u);
  Engine piv(cfgFor(Gen::Pivard));
  EXPECT_EQ(Req(1, 61, 0).run(piv).status, kStatusNotSupported);
}

TEST(FwAccounting, ResourceLimits) {
  EngineConfig cfg = cfgFor(Gen::KS3, 1);
  cfg.ifaces = 2;
  cfg.evtqs = 1;
  Engine fw(cfg);
  fwtest::makeIf(fw);
  fwtest::makeIf(fw);
  EXPECT_EQ(fwtest::makeIf(fw), 0xFFFFFFFFu);
  uint8_t st = 0;
  fwtest::makeEq(fw, 0, 2, 0, &st);
  EXPECT_EQ(st, 0);
  fwtest::makeEq(fw, 0, 2, 0, &st);
  EXPECT_EQ(st, kStatusNoResources);
}

TEST(FwDiag, CrashDumpSubsystem) {
  Engine fw(cfgFor(Gen::KS3));
  Req a(11, 22, 8);
  a.u32(0, 4);
  ASSERT_EQ(a.run(fw).status, 0);
  EXPECT_EQ(a.r32(0), 0u);
  EXPECT_EQ(a.r32(4), 1u);
  Req b(11, 21, 20);
  ASSERT_EQ(b.run(fw).status, 0);
  EXPECT_EQ(b.r8(1), 1);
  EXPECT_EQ(b.r32(16), 7u);
  Req c(11, 24, 24);
  c.u32(0, 4);
  ASSERT_EQ(c.run(fw).status, 0);
  EXPECT_EQ(c.respLen(), 9u);
}
