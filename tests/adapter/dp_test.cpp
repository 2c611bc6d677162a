// The emulated adapter's data path driven as a host drives it: transmit
// entries in DMA memory and the transmit doorbell, receive buffers posted by
// the receive doorbell, frames on port wires and across cables.
#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "dev_rig.h"

using namespace adapter;
using namespace devtest;
using fwtest::Req;

namespace {

using Bytes = std::vector<uint8_t>;

// ---- frames, built and checked independently of the adapter's own code ----

uint16_t be16(const Bytes& f, size_t o) { return static_cast<uint16_t>((f[o] << 8) | f[o + 1]); }
uint32_t be32(const Bytes& f, size_t o) { return (static_cast<uint32_t>(be16(f, o)) << 16) | be16(f, o + 2); }
void put16(Bytes& f, size_t o, uint16_t v) { f[o] = static_cast<uint8_t>(v >> 8); f[o + 1] = static_cast<uint8_t>(v); }

// One's-complement sum over 16-bit words, folded.
uint16_t onesSum(const Bytes& b) {
  uint32_t s = 0;
  for (size_t i = 0; i < b.size(); i += 2) s += (b[i] << 8) | (i + 1 < b.size() ? b[i + 1] : 0);
  while (s >> 16) s = (s & 0xFFFF) + (s >> 16);
  return static_cast<uint16_t>(s);
}

struct Spec {
  bool v6 = false;
  uint8_t proto = 6;          // 6 TCP, 17 UDP
  size_t payload = 100;
  std::array<uint8_t, 6> dst{0x02, 0, 0, 0, 0, 0x99};
  int vlan = -1;              // tag control word, -1 untagged
  uint32_t src4 = 0x0A000001, dst4 = 0x0A000002;
  uint16_t sport = 1234, dport = 80;
  uint8_t tcp_flags = 0x18;   // PSH ACK
};

// Ethernet + IPv4/IPv6 + TCP/UDP with a patterned payload; the IPv4 header
// checksum and the L4 checksum are left 0 (the offloads fill them).
Bytes build(const Spec& s) {
  Bytes f(s.dst.begin(), s.dst.end());
  Bytes src = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  f.insert(f.end(), src.begin(), src.end());
  if (s.vlan >= 0) f.insert(f.end(), {0x81, 0x00, static_cast<uint8_t>(s.vlan >> 8), static_cast<uint8_t>(s.vlan)});
  size_t l4len = (s.proto == 6 ? 20 : 8) + s.payload;
  if (!s.v6) {
    f.insert(f.end(), {0x08, 0x00, 0x45, 0, 0, 0, 0x12, 0x34, 0x40, 0, 64, s.proto, 0, 0});
    put16(f, f.size() - 10, static_cast<uint16_t>(20 + l4len > 0xFFFF ? 0xFFFF : 20 + l4len));
    for (uint32_t a : {s.src4, s.dst4}) {
      for (int k = 3; k >= 0; --k) f.push_back(static_cast<uint8_t>(a >> (8 * k)));
    }
  } else {
    f.insert(f.end(), {0x86, 0xDD, 0x60, 0, 0, 0, 0, 0, s.proto, 64});
    put16(f, f.size() - 4, static_cast<uint16_t>(l4len > 0xFFFF ? 0xFFFF : l4len));
    for (int k = 0; k < 32; ++k) f.push_back(static_cast<uint8_t>(k < 16 ? 0x20 + k : 0x40 + k));
  }
  size_t l4 = f.size();
  f.resize(l4 + (s.proto == 6 ? 20 : 8));
  put16(f, l4, s.sport);
  put16(f, l4 + 2, s.dport);
  if (s.proto == 6) {
    f[l4 + 4] = 0x10;   // sequence 0x10000000
    f[l4 + 12] = 0x50;
    f[l4 + 13] = s.tcp_flags;
    put16(f, l4 + 14, 0xFFFF);
  } else {
    put16(f, l4 + 4, static_cast<uint16_t>(l4len));
  }
  for (size_t i = 0; i < s.payload; ++i) f.push_back(static_cast<uint8_t>(i * 7 + i / 251));
  return f;
}

struct Hdrs { size_t l3, l4, end; bool v6; uint8_t proto; };
Hdrs hdrs(const Bytes& f, size_t off = 0) {
  size_t p = off + 12;
  if (be16(f, p) == 0x8100) p += 4;
  bool v6 = be16(f, p) == 0x86DD;
  size_t l3 = p + 2;
  size_t l4 = v6 ? l3 + 40 : l3 + 4 * (f[l3] & 0xF);
  size_t end = v6 ? l3 + 40 + be16(f, l3 + 4) : l3 + be16(f, l3 + 2);
  return {l3, l4, end, v6, v6 ? f[l3 + 6] : f[l3 + 9]};
}

bool ipOk(const Bytes& f, const Hdrs& h) {
  return h.v6 || onesSum(Bytes(f.begin() + h.l3, f.begin() + h.l4)) == 0xFFFF;
}
bool l4Ok(const Bytes& f, const Hdrs& h) {
  Bytes ph;
  if (h.v6) ph.assign(f.begin() + h.l3 + 8, f.begin() + h.l3 + 40);
  else ph.assign(f.begin() + h.l3 + 12, f.begin() + h.l3 + 20);
  size_t len = h.end - h.l4;
  ph.insert(ph.end(), {0, h.proto, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len)});
  if (ph.size() % 2) ph.push_back(0);
  Bytes all = ph;
  all.insert(all.end(), f.begin() + h.l4, f.begin() + h.end);
  return onesSum(all) == 0xFFFF;
}

// ---- the host side of the data path ----

struct DpRig : Rig {
  explicit DpRig(Gen g, unsigned fns = 2, Mode mode = Mode::Sync) : Rig(g, fns, 32, 0, mode) {
    for (unsigned f = 0; f < fns; ++f) {
      Fq q;
      q.eq = eq(f);
      q.cq = cq(f, q.eq.id, 2);          // 1024 entries
      q.ifc = ifCreate(f);
      fq.push_back(q);
    }
  }
  struct Fq {
    Ring eq, cq;
    uint32_t ifc = 0;
    uint64_t txring = 0;
    uint32_t txq = 0, txdb = 0x60, txnext = 0;
    uint64_t rxring = 0;
    uint32_t rxq = 0, rxnext = 0;
  };
  std::vector<Fq> fq;

  void txCreate(unsigned f) {
    Fq& q = fq[f];
    q.txring = host.alloc(2048 * 16);
    uint8_t v = gen() == Gen::Veskarn ? 2 : gen() == Gen::Pivard ? 1 : 0;
    Req tx(3, 7, 132, v);
    tx.u8(0, 8).u8(1, 1).u16(2, 2).u8(6, 12).u16(12, static_cast<uint16_t>(q.cq.id)).pages(68, q.txring, 8);
    tx.u16(4, static_cast<uint16_t>(q.ifc));
    ASSERT_EQ(mailbox(f, tx), 0);
    q.txq = tx.r16(0);
    q.txdb = v == 2 ? tx.r32(4) : 0x60;
  }
  // Sends `frame` cut into `nfrags` fragments with header dword 2 `flags`
  // (count and constant bits added here) and dword 3's tag.
  void send(unsigned f, const Bytes& frame, unsigned nfrags, uint32_t flags, uint16_t tag = 0) {
    Fq& q = fq[f];
    if (q.txring == 0) txCreate(f);
    unsigned count = 1 + nfrags;
    if (gen() != Gen::Pivard && count % 2) ++count;
    auto entry = [&](unsigned k) { return host.at(q.txring + 16ull * ((q.txnext + k) % 2048)); };
    uint8_t* h = entry(0);
    std::memset(h, 0, 16);
    fwtest::le(h + 8, flags | 0x7u | (count << 13), 4);
    fwtest::le(h + 12, (frame.size() & 0xFFFF) | (static_cast<uint32_t>(tag) << 16), 4);
    size_t at = 0;
    for (unsigned k = 0; k < nfrags; ++k) {
      size_t len = k + 1 == nfrags ? frame.size() - at : frame.size() / nfrags;
      uint64_t b = host.alloc(len + 1);
      host.fill(b, frame.data() + at, len);
      at += len;
      uint8_t* e = entry(1 + k);
      std::memset(e, 0, 16);
      fwtest::le(e, b >> 32, 4);
      fwtest::le(e + 4, b, 4);
      fwtest::le(e + 12, len, 4);
    }
    if (count > 1 + nfrags) std::memset(entry(count - 1), 0, 16);
    q.txnext = (q.txnext + count) % 2048;
    dbw(f, q.txdb, q.txq | (count << 16));
    settle();
  }
  void rxCreate(unsigned f, uint32_t rss = 0) {
    Fq& q = fq[f];
    q.rxring = host.alloc(8192);
    Req rx(3, 8, 32);
    rx.u16(0, static_cast<uint16_t>(q.cq.id)).u8(2, 11).u8(3, 2).pages(4, q.rxring, 2).u32(20, q.ifc).u32(28, rss);
    rx.u16(24, 1932);
    ASSERT_EQ(mailbox(f, rx), 0);
    q.rxq = rx.r16(0);
  }
  // Posts n 2048-byte buffers; returns their bus addresses.
  std::vector<uint64_t> post(unsigned f, unsigned n) {
    Fq& q = fq[f];
    if (q.rxring == 0) rxCreate(f);
    std::vector<uint64_t> v;
    for (unsigned k = 0; k < n; ++k) {
      uint64_t b = host.alloc(2048);
      uint8_t* d = host.at(q.rxring + 8ull * q.rxnext);
      fwtest::le(d, b >> 32, 4);
      fwtest::le(d + 4, b, 4);
      q.rxnext = (q.rxnext + 1) % 1024;
      v.push_back(b);
    }
    dbw(f, 0x100, q.rxq | (n << 24));
    settle();
    return v;
  }
  // The next completion of the function's CQ of a kind: receive (dword 2
  // valid) or transmit (dword 3 valid).
  bool rxCompl(unsigned f, uint32_t d[4]) {
    uint8_t e[16];
    while (cqTake(fq[f].cq, e)) {
      if (fwtest::rd(e + 8, 4) != 0) {
        for (int i = 0; i < 4; ++i) d[i] = static_cast<uint32_t>(fwtest::rd(e + 4 * i, 4));
        return true;
      }
    }
    return false;
  }
  std::array<uint8_t, 6> mac(unsigned f) { return card->engine().permanentMac(f); }
  uint32_t stat(unsigned f, Stat s) {
    int w = statsWord(gen(), s, card->engine().portOfFunction(f));
    return w < 0 ? 0 : card->engine().statsWordValue(f, static_cast<unsigned>(w));
  }
};

constexpr uint32_t kTcpCsum = 1u << 8, kUdpCsum = 1u << 7, kIpCsum = 1u << 6, kLso = 1u << 9, kVlan = 1u << 10;

}  // namespace

// ------------------------------------------------------------------ transmit --

TEST(DpTransmit, GatheredFramesReachTheWireByteIdentical) {
  for (Gen g : {Gen::KS3, Gen::Pivard, Gen::Veskarn}) {
    SCOPED_TRACE(genName(g));
    DpRig r(g);
    struct Case { size_t payload; unsigned frags; };
    const Case cases[] = {{6, 1}, {1446, 3}, {8900, 5}, {300, 2}};
    uint64_t bytes = 0;
    for (const Case& c : cases) {
      Spec s;
      s.payload = c.payload;
      Bytes f = build(s);
      bytes += f.size();
      r.send(0, f, c.frags, 0);
      auto wire = r.card->takeWire(0);
      ASSERT_EQ(wire.size(), 1u);
      EXPECT_EQ(wire[0], f);   // no offload asked: not a byte changed
    }
    EXPECT_EQ(r.card->portCounters(0).tx_frames, 4u);
    EXPECT_EQ(r.card->portCounters(0).tx_bytes, bytes);
    EXPECT_TRUE(r.card->takeWire(1).empty());   // function 1's port sent nothing
    // VLAN insertion: the tag goes after the source MAC, the rest unchanged.
    Spec s;
    Bytes f = build(s);
    r.send(0, f, 2, kVlan, 0x6007);
    auto wire = r.card->takeWire(0);
    ASSERT_EQ(wire.size(), 1u);
    Bytes want = f;
    want.insert(want.begin() + 12, {0x81, 0x00, 0x60, 0x07});
    EXPECT_EQ(wire[0], want);
  }
}

TEST(DpTransmit, ChecksumOffloadsAreValidOnTheWire) {
  struct Case { bool v6; uint8_t proto; uint32_t flags; };
  const Case cases[] = {{false, 6, kTcpCsum}, {false, 17, kUdpCsum}, {true, 6, kTcpCsum}, {true, 17, kUdpCsum}};
  for (Gen g : {Gen::KS3, Gen::Pivard}) {
    DpRig r(g);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(genName(g)) + (c.v6 ? " v6 " : " v4 ") + std::to_string(c.proto));
      Spec s;
      s.v6 = c.v6;
      s.proto = c.proto;
      s.payload = 333;   // odd: the last byte is summed padded
      Bytes f = build(s);
      EXPECT_FALSE(l4Ok(f, hdrs(f)));
      r.send(0, f, 3, c.flags);
      auto wire = r.card->takeWire(0);
      ASSERT_EQ(wire.size(), 1u);
      Hdrs h = hdrs(wire[0]);
      EXPECT_TRUE(ipOk(wire[0], h));
      EXPECT_TRUE(l4Ok(wire[0], h));
      // Only the checksum fields changed.
      Bytes a = wire[0], b = f;
      size_t cs = h.l4 + (c.proto == 6 ? 16 : 6);
      a[cs] = a[cs + 1] = b[cs] = b[cs + 1] = 0;
      if (!c.v6) a[h.l3 + 10] = a[h.l3 + 11] = 0;
      EXPECT_EQ(a, b);
    }
  }
  // A hand-made vector: IPv4 header 45 00 00 73 00 00 40 00 40 11 .. c0 a8
  // 00 01 c0 a8 00 c7 has the checksum b861.
  DpRig r(Gen::KS3);
  Bytes f = {0x02, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 2, 0x08, 0x00, 0x45, 0x00, 0x00, 0x73, 0x00, 0x00,
             0x40, 0x00, 0x40, 0x11, 0x00, 0x00, 0xc0, 0xa8, 0x00, 0x01, 0xc0, 0xa8, 0x00, 0xc7};
  f.resize(14 + 0x73, 0);
  f[34 + 5] = 0x73 - 20;   // UDP length
  r.send(0, f, 1, kUdpCsum);
  auto wire = r.card->takeWire(0);
  ASSERT_EQ(wire.size(), 1u);
  EXPECT_EQ(be16(wire[0], 24), 0xb861);
}

TEST(DpTransmit, VxlanInnerChecksumsOnVeskarn) {
  // An outer UDP checksum of 0 means none and stays so; any other is filled
  // over the final inner bytes.
  for (uint16_t outer_csum : {0x0000, 0x1111}) {
    SCOPED_TRACE(outer_csum);
    DpRig r(Gen::Veskarn);
    Spec in;
    in.payload = 201;
    Bytes inner = build(in);
    Spec out;
    out.proto = 17;
    out.dport = 4789;
    out.payload = 8 + inner.size();
    Bytes f = build(out);
    size_t vx = f.size() - out.payload;
    std::fill(f.begin() + static_cast<std::ptrdiff_t>(vx), f.end(), 0);
    f[vx] = 0x08;   // VXLAN: VNI valid
    std::copy(inner.begin(), inner.end(), f.begin() + static_cast<std::ptrdiff_t>(vx + 8));
    put16(f, vx - 2, outer_csum);
    r.send(0, f, 2, kIpCsum | kTcpCsum);
    auto wire = r.card->takeWire(0);
    ASSERT_EQ(wire.size(), 1u);
    Hdrs o = hdrs(wire[0]);
    EXPECT_TRUE(ipOk(wire[0], o));
    if (outer_csum == 0) {
      EXPECT_EQ(be16(wire[0], vx - 2), 0u);
    } else {
      EXPECT_TRUE(l4Ok(wire[0], o));
    }
    Hdrs i = hdrs(wire[0], vx + 8);
    EXPECT_TRUE(ipOk(wire[0], i));
    EXPECT_TRUE(l4Ok(wire[0], i));
  }
}

TEST(DpTransmit, TsoFrameLeavesAsMssSegmentsThatReassemble) {
  for (bool v6 : {false, true}) {
    SCOPED_TRACE(v6 ? "IPv6" : "IPv4");
    DpRig r(v6 ? Gen::Veskarn : Gen::KS3);
    Spec s;
    s.v6 = v6;
    s.tcp_flags = 0x19 | 0x80;   // FIN PSH ACK CWR
    size_t hdr = 14 + (v6 ? 40 : 20) + 20;
    s.payload = 100000 - hdr;
    Bytes f = build(s);
    ASSERT_EQ(f.size(), 100000u);
    const uint32_t mss = 1448;
    r.send(0, f, 4, kLso | (mss << 18) | (v6 ? 1u << 4 : 0));
    auto wire = r.card->takeWire(0);
    ASSERT_EQ(wire.size(), (s.payload + mss - 1) / mss);
    Bytes payload;
    for (size_t n = 0; n < wire.size(); ++n) {
      const Bytes& w = wire[n];
      Hdrs h = hdrs(w);
      ASSERT_EQ(h.end, w.size());   // lengths follow the segment
      size_t len = w.size() - hdr;
      EXPECT_EQ(len, n + 1 < wire.size() ? mss : s.payload - mss * (wire.size() - 1));
      if (!v6) {
        EXPECT_EQ(be16(w, h.l3 + 4), static_cast<uint16_t>(0x1234 + n));
      }
      EXPECT_EQ(be32(w, h.l4 + 4), 0x10000000u + mss * n);
      uint8_t fl = w[h.l4 + 13];
      EXPECT_EQ(fl & 0x10, 0x10);
      EXPECT_EQ((fl & 0x09) != 0, n + 1 == wire.size()) << n;   // FIN and PSH on the last only
      EXPECT_EQ((fl & 0x80) != 0, n == 0) << n;                 // CWR on the first only
      EXPECT_TRUE(ipOk(w, h));
      EXPECT_TRUE(l4Ok(w, h)) << n;
      payload.insert(payload.end(), w.begin() + static_cast<std::ptrdiff_t>(hdr), w.end());
    }
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), f.begin() + static_cast<std::ptrdiff_t>(hdr), f.end()));
    EXPECT_EQ(payload.size(), s.payload);
  }
}

// ------------------------------------------------------------------- cables --

TEST(DpCable, FrameCrossesToTheOtherPortsPostedBuffer) {
  // Two ports of one adapter (sync) and two adapters (async, each on its
  // device thread).
  for (bool two : {false, true}) {
    SCOPED_TRACE(two ? "two adapters" : "one adapter");
    DpRig a(Gen::KS3, 2, two ? Mode::Async : Mode::Sync);
    std::unique_ptr<DpRig> bp = two ? std::make_unique<DpRig>(Gen::Pivard, 1, Mode::Async) : nullptr;
    DpRig& b = two ? *bp : a;
    unsigned rfn = two ? 0 : 1, rport = two ? 0 : 1;
    Adapter::connectCable(*a.card, 0, *b.card, rport);
    std::vector<uint64_t> bufs = b.post(rfn, 4);
    Spec s;
    s.dst = b.mac(rfn);
    s.payload = 500;
    Bytes f = build(s);
    a.send(0, f, 2, kTcpCsum);
    ASSERT_TRUE(a.card->waitIdle());
    uint32_t d[4];
    ASSERT_TRUE(b.rxCompl(rfn, d));
    Bytes got(b.host.at(bufs[0]), b.host.at(bufs[0]) + f.size());
    Hdrs h = hdrs(got);
    EXPECT_TRUE(l4Ok(got, h));
    EXPECT_EQ((d[0] >> 16) & 0x3FFF, f.size());
    EXPECT_EQ((d[1] >> 3) & 1, 1u);    // TCP
    EXPECT_EQ((d[1] >> 5) & 3, 3u);    // IP and L4 checksums good
    EXPECT_EQ((d[1] >> 7) & 1, 0u);    // not IPv6
    EXPECT_EQ(d[1] >> 29, 1u);         // one buffer
    EXPECT_EQ((d[2] >> 1) & 3, 0u);    // unicast
    EXPECT_EQ((d[0] >> 30) & 1, rport);   // basic layout: port bit
    EXPECT_EQ(a.card->portCounters(0).tx_frames, 1u);
    EXPECT_EQ(b.card->portCounters(rport).rx_delivered, 1u);
    EXPECT_EQ(b.card->rxPosted(rfn, b.fq[rfn].rxq), 3u);
    EXPECT_EQ(a.card->takeWire(0).size(), 1u);   // the capture sees it too
    // A corrupted TCP checksum arrives flagged, and the port counts it.
    Bytes bad = got;
    bad[h.l4 + 16] ^= 0xFF;
    b.card->receiveOnWire(rport, bad);
    ASSERT_TRUE(b.rxCompl(rfn, d));
    EXPECT_EQ((d[1] >> 5) & 3, 1u);    // IP good, L4 bad
    EXPECT_EQ(b.stat(rfn, Stat::RxTcpChecksumErrs), 1u);
  }
}

// ------------------------------------------------------------------- receive --

TEST(DpReceive, FilteringTable) {
  DpRig r(Gen::Veskarn);   // advanced layout after the capability grant
  Req cap(1, 103, 220);
  cap.u32(0, 14).u32(4, 12);
  ASSERT_EQ(r.mailbox(0, cap), 0);
  r.post(0, 64);
  std::array<uint8_t, 6> own = r.mac(0), other{0x02, 9, 9, 9, 9, 9}, bcast{}, mcast{0x01, 0, 0x5E, 0, 0, 1};
  bcast.fill(0xFF);
  auto rxf = [&](uint32_t mask, uint32_t flags) {
    Req c(1, 34, 424);
    c.u32(8, mask).u32(12, flags).u32(16, r.fq[0].ifc);
    ASSERT_EQ(r.mailbox(0, c, true), 0);
  };
  auto vlans = [&](std::vector<uint16_t> ids) {
    Req c(1, 4, 148);
    c.u8(0, static_cast<uint8_t>(r.fq[0].ifc)).u8(3, static_cast<uint8_t>(ids.size()));
    for (size_t k = 0; k < ids.size(); ++k) c.u16(4 + 2 * k, ids[k]);
    ASSERT_EQ(r.mailbox(0, c), 0);
  };
  struct Case { const char* what; std::array<uint8_t, 6> dst; int vlan; std::function<void()> before; bool in; uint32_t cast; };
  const Case cases[] = {
      {"own MAC", own, -1, nullptr, true, 0},
      {"other unicast", other, -1, nullptr, false, 0},
      {"broadcast", bcast, -1, nullptr, true, 2},
      {"multicast", mcast, -1, nullptr, true, 1},
      {"VLAN 5 not configured", own, 0xA005, nullptr, false, 0},
      {"VLAN 5 configured", own, 0xA005, [&] { vlans({5}); }, true, 0},
      {"VLAN 6 with VLAN promiscuous", own, 0x0006, [&] { rxf(0x80, 0x80); }, true, 0},
      {"priority tag only", own, 0x4000, nullptr, true, 0},
      {"other unicast, promiscuous", other, -1, [&] { rxf(0x4, 0x4); }, true, 0},
  };
  unsigned filtered = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.before) c.before();
    Spec s;
    s.dst = c.dst;
    s.vlan = c.vlan;
    Bytes f = build(s);
    r.card->receiveOnWire(0, f);
    uint32_t d[4];
    bool got = r.rxCompl(0, d);
    ASSERT_EQ(got, c.in);
    if (!c.in) {
      ++filtered;
      continue;
    }
    EXPECT_EQ((d[2] >> 1) & 3, c.cast);
    EXPECT_EQ((d[2] >> 5) & 3, 0u);                                      // port 0
    EXPECT_EQ((d[0] >> 16) & 0x3FFF, f.size() - (c.vlan >= 0 ? 4 : 0));   // tag stripped
    EXPECT_EQ((d[0] >> 30) & 1, c.vlan >= 0 ? 1u : 0u);                  // VLAN present
    if (c.vlan >= 0) {
      uint16_t t = static_cast<uint16_t>(d[0]);
      EXPECT_EQ(static_cast<uint16_t>((t >> 8) | (t << 8)), c.vlan);    // byte-swapped off Pivard
    }
  }
  EXPECT_EQ(r.card->portCounters(0).rx_filtered, filtered);
  EXPECT_EQ(r.stat(0, Stat::RxAddressFiltered), filtered);
}

TEST(DpReceive, RssSteersByToeplitzOverKeyAndTable) {
  // The usual verification key and a frame 66.9.149.187:2794 ->
  // 161.142.100.80:1766: TCP/IPv4 hash 0x51ccc178, IPv4 alone 0x323e8fc2.
  const uint8_t key[40] = {0x6d, 0x5a, 0x56, 0xda, 0x25, 0x5b, 0x0e, 0xc2, 0x41, 0x67, 0x25, 0x3d, 0x43, 0xa3,
                           0x8f, 0xb0, 0xd0, 0xca, 0x2b, 0xcb, 0xae, 0x7b, 0x30, 0xb4, 0x77, 0xcb, 0x2d, 0xa3,
                           0x80, 0x30, 0xf2, 0x0c, 0x6a, 0x42, 0xb7, 0x3b, 0xbe, 0xac, 0x01, 0xfa};
  struct Case { uint16_t types; uint32_t hash; };
  for (const Case& c : {Case{0x3, 0x51ccc178}, Case{0x1, 0x323e8fc2}}) {
    SCOPED_TRACE(c.types);
    DpRig r(Gen::KS3);
    r.rxCreate(0);            // the default ring
    uint32_t ifc = r.fq[0].ifc;
    std::vector<uint32_t> rss_q;
    std::vector<uint64_t> first_buf;
    for (int k = 0; k < 4; ++k) {   // four RSS rings, RSS ids 1-4
      uint64_t ring = r.host.alloc(8192);
      Req rx(3, 8, 32);
      rx.u16(0, static_cast<uint16_t>(r.fq[0].cq.id)).u8(2, 11).u8(3, 2).pages(4, ring, 2).u32(20, ifc).u32(28, 1);
      ASSERT_EQ(r.mailbox(0, rx), 0);
      ASSERT_EQ(rx.r8(2), k + 1);
      rss_q.push_back(rx.r16(0));
      uint64_t b = r.host.alloc(2048);
      fwtest::le(r.host.at(ring), b >> 32, 4);
      fwtest::le(r.host.at(ring) + 4, b, 4);
      r.dbw(0, 0x100, rx.r16(0) | (1u << 24));
      first_buf.push_back(b);
    }
    r.post(0, 1);
    Req cfg(3, 1, 196, 0);
    cfg.u32(0, ifc).u16(4, c.types).u16(6, 7).bytes(8, key, 40).u8(176, 1);
    for (int e = 0; e < 128; ++e) cfg.u8(48 + e, static_cast<uint8_t>(1 + (e * 3) % 4));
    ASSERT_EQ(r.mailbox(0, cfg), 0);
    Spec s;
    s.dst = r.mac(0);
    s.src4 = 0x420995BB;
    s.dst4 = 0xA18E6450;
    s.sport = 2794;
    s.dport = 1766;
    r.card->receiveOnWire(0, build(s));
    uint32_t d[4];
    ASSERT_TRUE(r.rxCompl(0, d));
    EXPECT_EQ(d[3], c.hash);
    unsigned want = (c.hash & 127) * 3 % 4;   // table entry -> RSS id - 1
    EXPECT_EQ(r.card->rxPosted(0, rss_q[want]), 0u);
    for (unsigned k = 0; k < 4; ++k) {
      if (k != want) {
        EXPECT_EQ(r.card->rxPosted(0, rss_q[k]), 1u) << k;
      }
    }
    EXPECT_EQ(r.card->rxPosted(0, r.fq[0].rxq), 1u);
    // A frame without IP goes to the default ring, without a hash.
    Bytes arp(60, 0);
    std::copy(s.dst.begin(), s.dst.end(), arp.begin());
    arp[12] = 0x08;
    arp[13] = 0x06;
    r.card->receiveOnWire(0, arp);
    ASSERT_TRUE(r.rxCompl(0, d));
    EXPECT_EQ(d[3], 0u);
    EXPECT_EQ(r.card->rxPosted(0, r.fq[0].rxq), 0u);
  }
}

TEST(DpReceive, NoPostedBufferDropsAndCounts) {
  for (Gen g : {Gen::KS2, Gen::KS3, Gen::Veskarn}) {
    SCOPED_TRACE(genName(g));
    DpRig r(g);
    r.rxCreate(1);
    Spec s;
    s.dst = r.mac(1);
    Bytes f = build(s);
    r.card->receiveOnWire(1, f);
    uint32_t d[4];
    EXPECT_FALSE(r.rxCompl(1, d));
    EXPECT_EQ(r.card->portCounters(1).rx_no_buffer, 1u);
    EXPECT_EQ(r.card->portCounters(1).rx_frames, 1u);
    EXPECT_EQ(r.card->portCounters(1).rx_bytes, f.size());
    EXPECT_EQ(r.stat(1, Stat::RxDropsNoPbuf), 1u);
    EXPECT_EQ(r.stat(0, Stat::RxDropsNoPbuf), 0u);   // port 0's counter did not move
    // Once a buffer is posted the next frame is taken.
    r.post(1, 1);
    r.card->receiveOnWire(1, f);
    EXPECT_TRUE(r.rxCompl(1, d));
    EXPECT_EQ(r.card->portCounters(1).rx_delivered, 1u);
    EXPECT_EQ(r.stat(1, Stat::RxDropsNoPbuf), 1u);
  }
}
