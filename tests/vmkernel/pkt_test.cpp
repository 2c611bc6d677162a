// Packet services of the kernel stand-in: header look-ups, software TCP
// segmentation, copies, lists, NetPoll hand-over, queue notices, failure
// injection, accounting and the panic context.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "kernel_fixture.h"
#include "vmk_pkt_testing.h"
#include "vmk_uplink_testing.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = (uint8_t)(v >> 8);
  b[at + 1] = (uint8_t)v;
}
uint16_t get16(const Bytes& b, size_t at) { return (uint16_t)(b[at] << 8 | b[at + 1]); }
uint32_t get32(const Bytes& b, size_t at) { return (uint32_t)get16(b, at) << 16 | get16(b, at + 2); }
void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// Frame pieces, written out byte by byte.
Bytes eth(const std::vector<uint16_t>& tags, uint16_t type) {
  Bytes b = {0x02, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 2};
  for (uint16_t t : tags) append(b, {0x81, 0x00, (uint8_t)(t >> 8), (uint8_t)t});
  append(b, {(uint8_t)(type >> 8), (uint8_t)type});
  return b;
}
Bytes ipv4(uint8_t proto, uint16_t totalLen, uint16_t id = 0x1234) {
  Bytes b(20, 0);
  b[0] = 0x45;
  put16(b, 2, totalLen);
  put16(b, 4, id);
  b[8] = 64;
  b[9] = proto;
  b[12] = 10, b[15] = 1, b[16] = 10, b[19] = 2;
  return b;
}
Bytes ipv6(uint8_t next, uint16_t payloadLen) {
  Bytes b(40, 0);
  b[0] = 0x60;
  put16(b, 4, payloadLen);
  b[6] = next;
  b[7] = 64;
  b[8] = 0xfd, b[23] = 1, b[24] = 0xfd, b[39] = 2;
  return b;
}
Bytes tcp(uint32_t seq, uint8_t flags, size_t optionBytes = 0) {
  Bytes b(20 + optionBytes, 0);
  put16(b, 0, 40000);
  put16(b, 2, 80);
  put16(b, 4, (uint16_t)(seq >> 16));
  put16(b, 6, (uint16_t)seq);
  b[12] = (uint8_t)(((20 + optionBytes) / 4) << 4);
  b[13] = flags;
  put16(b, 14, 65535);
  for (size_t i = 20; i < b.size(); i++) b[i] = 1;  // NOP options
  return b;
}
Bytes udp(uint16_t dport, uint16_t len) {
  Bytes b(8, 0);
  put16(b, 0, 5555);
  put16(b, 2, dport);
  put16(b, 4, len);
  return b;
}
Bytes vxlan() { return {0x08, 0, 0, 0, 0, 0, 0x2A, 0}; }

uint16_t onesSum(const uint8_t* p, size_t n, uint32_t acc) {
  for (size_t i = 0; i + 1 < n; i += 2) acc += (uint32_t)(p[i] << 8 | p[i + 1]);
  if (n & 1) acc += (uint32_t)p[n - 1] << 8;
  while (acc >> 16) acc = (acc & 0xFFFF) + (acc >> 16);
  return (uint16_t)acc;
}

class PktTest : public StandinTest {
 protected:
  void SetUp() override {
    StandinTest::SetUp();
    vmktest::netReset();
    vmk_DMAConstraints c{};
    c.addressMask = VMK_ADDRESS_MASK_64BIT;
    vmk_DMAEngineProps p{};
    vmk_NameInitialize(&p.name, "pkt64");
    p.constraints = &c;
    ASSERT_EQ(VMK_OK, vmk_DMAEngineCreate(&p, &engine64));
    c.addressMask = VMK_ADDRESS_MASK_32BIT;
    vmk_NameInitialize(&p.name, "pkt32");
    ASSERT_EQ(VMK_OK, vmk_DMAEngineCreate(&p, &engine32));
  }
  void TearDown() override {
    vmk_DMAEngineDestroy(engine64);
    vmk_DMAEngineDestroy(engine32);
    vmktest::netReset();
    StandinTest::TearDown();
  }
  vmk_DMAEngine engine64 = nullptr, engine32 = nullptr;
};

/* ---- Header look-ups ------------------------------------------------------ */

struct Want {
  VMK_ReturnStatus st;
  uint16_t type;
  uint32_t offset;
  uint16_t next;
};

struct FrameCase {
  const char* name;
  Bytes frame;
  Want l2, l3, l4, encap, inL3, inL4;
};

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (auto& p : parts) append(b, p);
  return b;
}

Bytes cut(Bytes b, size_t n) {
  b.resize(n);
  return b;
}

const Want kNone{VMK_NOT_FOUND, 0, 0, 0};
const Want kCut{VMK_HEADER_BEYOND_LIMIT, 0, 0, 0};

std::vector<FrameCase> frameCases() {
  Bytes snap = eth({5}, 0);
  put16(snap, 16, 48);  // a length, then LLC/SNAP naming IPv4
  append(snap, {0xAA, 0xAA, 0x03, 0, 0, 0, 0x08, 0x00});
  Bytes arp = cat({eth({}, 0x0806), Bytes(28, 0)});
  return {
      {"ipv4 tcp", cat({eth({}, 0x0800), ipv4(6, 40), tcp(1, 0x10)}),
       {VMK_OK, VMK_PKT_HEADER_L2_ETHERNET, 0, VMK_PKT_HEADER_L3_IPv4},
       {VMK_OK, VMK_PKT_HEADER_L3_IPv4, 14, 6},
       {VMK_OK, VMK_PKT_HEADER_L4_TCP, 34, VMK_PKT_HEADER_NONE}, kNone, kNone, kNone},
      {"vlan ipv4 udp", cat({eth({0x2005}, 0x0800), ipv4(17, 36), udp(53, 16), Bytes(8, 0)}),
       {VMK_OK, VMK_PKT_HEADER_L2_ETHERNET_VLAN, 0, VMK_PKT_HEADER_L3_IPv4},
       {VMK_OK, VMK_PKT_HEADER_L3_IPv4, 18, 17},
       {VMK_OK, VMK_PKT_HEADER_L4_UDP, 38, VMK_PKT_HEADER_NONE}, kNone, kNone, kNone},
      {"ipv6 tcp", cat({eth({}, 0x86DD), ipv6(6, 20), tcp(1, 0x10)}),
       {VMK_OK, VMK_PKT_HEADER_L2_ETHERNET, 0, VMK_PKT_HEADER_L3_IPv6},
       {VMK_OK, VMK_PKT_HEADER_L3_IPv6, 14, 6},
       {VMK_OK, VMK_PKT_HEADER_L4_TCP, 54, VMK_PKT_HEADER_NONE}, kNone, kNone, kNone},
      {"two tags ipv6 hop-by-hop udp",
       cat({eth({100, 5}, 0x86DD), ipv6(0, 16), Bytes{17, 0, 0, 0, 0, 0, 0, 0}, udp(9, 8)}),
       {VMK_OK, VMK_PKT_HEADER_L2_ETHERNET_VLAN, 0, VMK_PKT_HEADER_L3_IPv6},
       {VMK_OK, VMK_PKT_HEADER_L3_IPv6, 22, 0},
       {VMK_OK, VMK_PKT_HEADER_L4_UDP, 70, VMK_PKT_HEADER_NONE}, kNone, kNone, kNone},
      {"arp", arp, {VMK_OK, VMK_PKT_HEADER_L2_ETHERNET, 0, VMK_PKT_HEADER_NONE}, kNone, kNone, kNone, kNone, kNone},
      {"802.3 snap tagged ipv4", cat({snap, ipv4(6, 40), tcp(1, 0x10)}),
       {VMK_OK, VMK_PKT_HEADER_L2_ETHERNET_802_3_VLAN, 0, VMK_PKT_HEADER_L3_IPv4},
       {VMK_OK, VMK_PKT_HEADER_L3_IPv4, 26, 6},
       {VMK_OK, VMK_PKT_HEADER_L4_TCP, 46, VMK_PKT_HEADER_NONE}, kNone, kNone, kNone},
      {"vxlan inner ipv4 tcp",
       cat({eth({}, 0x0800), ipv4(17, 20 + 8 + 8 + 14 + 20 + 20), udp(4789, 70), vxlan(), eth({}, 0x0800),
            ipv4(6, 40), tcp(7, 0x18)}),
       {VMK_OK, VMK_PKT_HEADER_L2_ETHERNET, 0, VMK_PKT_HEADER_L3_IPv4},
       {VMK_OK, VMK_PKT_HEADER_L3_IPv4, 14, 17},
       {VMK_OK, VMK_PKT_HEADER_L4_UDP, 34, VMK_PKT_HEADER_ENCAP_VXLAN},
       {VMK_OK, VMK_PKT_HEADER_ENCAP_VXLAN, 42, VMK_PKT_HEADER_L2_ETHERNET},
       {VMK_OK, VMK_PKT_HEADER_L3_IPv4, 64, 6},
       {VMK_OK, VMK_PKT_HEADER_L4_TCP, 84, VMK_PKT_HEADER_NONE}},
      {"vxlan over ipv6, inner tagged ipv6 udp",
       cat({eth({}, 0x86DD), ipv6(17, 8 + 8 + 18 + 40 + 8), udp(4789, 82), vxlan(), eth({7}, 0x86DD), ipv6(17, 8),
            udp(7, 8)}),
       {VMK_OK, VMK_PKT_HEADER_L2_ETHERNET, 0, VMK_PKT_HEADER_L3_IPv6},
       {VMK_OK, VMK_PKT_HEADER_L3_IPv6, 14, 17},
       {VMK_OK, VMK_PKT_HEADER_L4_UDP, 54, VMK_PKT_HEADER_ENCAP_VXLAN},
       {VMK_OK, VMK_PKT_HEADER_ENCAP_VXLAN, 62, VMK_PKT_HEADER_L2_ETHERNET},
       {VMK_OK, VMK_PKT_HEADER_L3_IPv6, 88, 17},
       {VMK_OK, VMK_PKT_HEADER_L4_UDP, 128, VMK_PKT_HEADER_NONE}},
      {"ipv4 cut inside its header", cat({eth({}, 0x0800), cut(ipv4(6, 40), 12)}),
       {VMK_OK, VMK_PKT_HEADER_L2_ETHERNET, 0, VMK_PKT_HEADER_L3_IPv4}, kCut, kCut, kCut, kCut, kCut},
      {"runt", Bytes(10, 0xEE), kCut, kCut, kCut, kCut, kCut, kCut},
  };
}

TEST_F(PktTest, HeaderLookUpsFindEachLayerOfATableOfFrames) {
  using Finder = VMK_ReturnStatus (*)(vmk_PktHandle*, vmk_uint32, vmk_PktHeaderEntry*, vmk_uint32*);
  const std::pair<const char*, Finder> finders[] = {
      {"L2", vmk_PktHeaderL2Find},         {"L3", vmk_PktHeaderL3Find},
      {"L4", vmk_PktHeaderL4Find},         {"encap", vmk_PktHeaderEncapFind},
      {"inner L3", vmk_PktHeaderEncapL3Find}, {"inner L4", vmk_PktHeaderEncapL4Find}};
  for (const FrameCase& c : frameCases()) {
    vmk_PktHandle* p = vmktest::pktMake(c.frame);
    ASSERT_NE(nullptr, p);
    const Want* wants[] = {&c.l2, &c.l3, &c.l4, &c.encap, &c.inL3, &c.inL4};
    for (int i = 0; i < 6; i++) {
      SCOPED_TRACE(std::string(c.name) + ", " + finders[i].first);
      vmk_PktHeaderEntry e{};
      vmk_uint32 index = 99;
      ASSERT_EQ(wants[i]->st, finders[i].second(p, 8192, &e, &index));
      if (wants[i]->st != VMK_OK) continue;
      EXPECT_EQ(wants[i]->type, e.type);
      EXPECT_EQ(wants[i]->offset, e.offset);
      EXPECT_EQ(wants[i]->next, e.nextHdrType);
      vmk_PktHeaderEntry same{};
      ASSERT_EQ(VMK_OK, vmk_PktHeaderEntryGet(p, index, &same));
      EXPECT_EQ(e.offset, same.offset);
      void* data = nullptr;
      ASSERT_EQ(VMK_OK, vmk_PktHeaderDataGet(p, &e, &data));
      EXPECT_EQ(vmk_PktFrameMappedPointerGet(p) + e.offset, data);
      // A limit that ends inside the header puts it out of reach.
      EXPECT_EQ(VMK_HEADER_BEYOND_LIMIT, finders[i].second(p, e.offset + e.length - 1, &e, nullptr));
    }
    vmk_PktRelease(p);
  }
}

TEST_F(PktTest, EncapsulationIsRecognisedOnTheKernelsVxlanPort) {
  auto frameTo = [](uint16_t port) {
    return cat({eth({}, 0x0800), ipv4(17, 20 + 8 + 8 + 14 + 20 + 8), udp(port, 58), vxlan(), eth({}, 0x0800),
                ipv4(17, 28), udp(9, 8)});
  };
  vmktest::setKernelVxlanPort(8472);
  vmk_PktHandle* std4789 = vmktest::pktMake(frameTo(4789));
  vmk_PktHandle* on8472 = vmktest::pktMake(frameTo(8472));
  vmk_PktHeaderEntry e;
  EXPECT_EQ(VMK_NOT_FOUND, vmk_PktHeaderEncapFind(std4789, 0, &e, nullptr));
  EXPECT_EQ(VMK_OK, vmk_PktHeaderEncapFind(on8472, 0, &e, nullptr));
  ASSERT_EQ(VMK_OK, vmk_PktHeaderEncapL4Find(on8472, 0, &e, nullptr));
  EXPECT_EQ(VMK_PKT_HEADER_L4_UDP, e.type);
  vmk_PktRelease(std4789);
  vmk_PktRelease(on8472);
}

TEST_F(PktTest, HeaderChainIsKeptUntilInvalidated) {
  vmk_PktHandle* p = vmktest::pktMake(cat({eth({}, 0x0800), ipv4(6, 40), tcp(1, 0x10)}), 4);
  vmk_PktHeaderEntry e;
  ASSERT_EQ(VMK_OK, vmk_PktHeaderL3Find(p, 0, &e, nullptr));
  EXPECT_EQ(14u, e.offset);
  // Insert a tag in front of the type field, as a driver does.
  ASSERT_EQ(VMK_OK, vmk_PktPullHeadroom(p, 4));
  uint8_t* f = vmk_PktFrameMappedPointerGet(p);
  memmove(f, f + 4, 12);
  const uint8_t tag[] = {0x81, 0x00, 0x00, 0x05};
  memcpy(f + 12, tag, 4);
  ASSERT_EQ(VMK_OK, vmk_PktHeaderL3Find(p, 0, &e, nullptr));
  EXPECT_EQ(14u, e.offset) << "the chain parsed before is kept";
  vmk_PktHeaderInvalidate(p, 0);
  ASSERT_EQ(VMK_OK, vmk_PktHeaderL3Find(p, 0, &e, nullptr));
  EXPECT_EQ(18u, e.offset);
  ASSERT_EQ(VMK_OK, vmk_PktHeaderL2Find(p, 0, &e, nullptr));
  EXPECT_EQ(VMK_PKT_HEADER_L2_ETHERNET_VLAN, e.type);
  vmk_PktRelease(p);
}

/* ---- Software segmentation ------------------------------------------------ */

struct SegCase {
  bool v6;
  uint32_t maxPayload;
};

TEST_F(PktTest, SegmentationOfAHundredThousandByteFrameReassemblesWithValidChecksums) {
  const uint32_t kPayload = 100000;
  for (SegCase sc : {SegCase{false, 1448}, SegCase{false, 49152}, SegCase{true, 1448}, SegCase{true, 49152}}) {
    SCOPED_TRACE(std::string(sc.v6 ? "ipv6 " : "ipv4 ") + std::to_string(sc.maxPayload));
    const uint8_t flags = 0x80 | 0x10 | 0x08 | 0x01;  // CWR ACK PSH FIN
    Bytes hdr = sc.v6 ? cat({eth({0x6007}, 0x86DD), ipv6(6, 0), tcp(0xFFFFF000u, flags, 12)})
                      : cat({eth({0x6007}, 0x0800), ipv4(6, 0, 0xFFFE), tcp(0xFFFFF000u, flags, 12)});
    Bytes frame = hdr;
    for (uint32_t i = 0; i < kPayload; i++) frame.push_back((uint8_t)(i * 7 + i / 251));
    vmk_PktHandle* big = vmktest::pktMake(frame);
    ASSERT_EQ(VMK_OK, vmk_PktSetLargeTcpPacket(big, 1448));
    vmk_PktQueueIDSet(big, 17);
    vmk_PktList out;
    vmk_PktListInit(&out);
    ASSERT_EQ(VMK_OK, vmk_PktTcpSegmentation(big, sc.maxPayload, &out));
    const uint32_t pieces = (kPayload + sc.maxPayload - 1) / sc.maxPayload;
    ASSERT_EQ(pieces, vmk_PktListGetCount(&out));
    EXPECT_EQ(frame, vmktest::pktBytes(big)) << "the packet itself is left as it was";

    const size_t l3 = 18, l4 = sc.v6 ? 58 : 38, tcpLen = 32, hdrLen = l4 + tcpLen;
    Bytes payload;
    uint32_t i = 0;
    for (vmk_PktHandle* s = vmk_PktListGetFirstPkt(&out); s != nullptr; s = vmk_PktListGetNextPkt(&out, s), i++) {
      Bytes b = vmktest::pktBytes(s);
      ASSERT_GE(b.size(), hdrLen);
      size_t n = b.size() - hdrLen;
      EXPECT_EQ(i + 1 < pieces ? sc.maxPayload : kPayload - (pieces - 1) * sc.maxPayload, n);
      EXPECT_TRUE(std::equal(b.begin(), b.begin() + 12 + 4, frame.begin())) << "link header and tag";
      uint32_t pseudo;
      if (sc.v6) {
        EXPECT_EQ(tcpLen + n, get16(b, l3 + 4));
        pseudo = onesSum(&b[l3 + 8], 32, 0) + 6 + (uint32_t)(tcpLen + n);
      } else {
        EXPECT_EQ(20 + tcpLen + n, get16(b, l3 + 2));
        EXPECT_EQ((uint16_t)(0xFFFE + i), get16(b, l3 + 4)) << "IP ids count on, wrapping";
        EXPECT_EQ(0xFFFF, onesSum(&b[l3], 20, 0)) << "IP header checksum";
        pseudo = onesSum(&b[l3 + 12], 8, 0) + 6 + (uint32_t)(tcpLen + n);
      }
      EXPECT_EQ(0xFFFF, onesSum(&b[l4], tcpLen + n, pseudo)) << "TCP checksum of piece " << i;
      EXPECT_EQ((uint32_t)(0xFFFFF000u + i * sc.maxPayload), get32(b, l4 + 4)) << "sequence number";
      uint8_t fl = b[l4 + 13];
      EXPECT_EQ(i == 0, (fl & 0x80) != 0) << "CWR on the first piece only";
      EXPECT_EQ(i + 1 == pieces, (fl & 0x09) == 0x09) << "FIN and PSH on the last piece only";
      EXPECT_EQ(0x10, fl & 0x10);
      EXPECT_TRUE(std::equal(b.begin() + l4 + 20, b.begin() + hdrLen, frame.begin() + l4 + 20)) << "options";
      EXPECT_FALSE(vmk_PktIsLargeTcpPacket(s));
      EXPECT_EQ(17u, vmk_PktQueueIDGet(s));
      payload.insert(payload.end(), b.begin() + hdrLen, b.end());
    }
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), frame.begin() + hdrLen) && payload.size() == kPayload);
    vmk_PktListReleaseAllPkts(&out);
    vmk_PktRelease(big);
  }
}

TEST_F(PktTest, SegmentationRefusesWhatItCannotCutAndLeavesNothingBehind) {
  vmk_PktList out;
  vmk_PktListInit(&out);
  Bytes tcpFrame = cat({eth({}, 0x0800), ipv4(6, 40 + 3000), tcp(1, 0x10), Bytes(3000, 1)});
  struct {
    const char* name;
    Bytes frame;
    uint32_t maxPayload;
    VMK_ReturnStatus st;
  } cases[] = {
      {"udp", cat({eth({}, 0x0800), ipv4(17, 28 + 3000), udp(9, 3008), Bytes(3000, 1)}), 1000, VMK_BAD_PARAM},
      {"encapsulated", cat({eth({}, 0x0800), ipv4(17, 20 + 8 + 8 + 54), udp(4789, 70), vxlan(), eth({}, 0x0800),
                            ipv4(6, 40), tcp(1, 0x10)}), 1000, VMK_NOT_SUPPORTED},
      {"ipv6 extension header", cat({eth({}, 0x86DD), ipv6(0, 28), Bytes{6, 0, 0, 0, 0, 0, 0, 0}, tcp(1, 0x10)}),
       1000, VMK_NOT_SUPPORTED},
      {"IP length past the frame", cat({eth({}, 0x0800), ipv4(6, 9000), tcp(1, 0x10), Bytes(100, 1)}), 1000,
       VMK_BAD_PARAM},
      {"no MSS", tcpFrame, 0, VMK_BAD_PARAM},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    vmk_PktHandle* p = vmktest::pktMake(c.frame);
    EXPECT_EQ(c.st, vmk_PktTcpSegmentation(p, c.maxPayload, &out));
    EXPECT_EQ(0u, vmk_PktListGetCount(&out));
    vmk_PktRelease(p);
  }
  vmk_PktHandle* p = vmktest::pktMake(tcpFrame);
  vmktest::failCall("vmk_PktTcpSegmentation", 1, VMK_NO_MEMORY);
  EXPECT_EQ(VMK_NO_MEMORY, vmk_PktTcpSegmentation(p, 1000, &out));
  EXPECT_EQ(0u, vmk_PktListGetCount(&out));
  // With no maximum given the packet's MSS cuts; trailing pad is not payload.
  vmk_PktRelease(p);
  Bytes padded = tcpFrame;
  padded.resize(padded.size() + 6, 0);
  p = vmktest::pktMake(padded);
  ASSERT_EQ(VMK_OK, vmk_PktSetLargeTcpPacket(p, 1000));
  ASSERT_EQ(VMK_OK, vmk_PktTcpSegmentation(p, 0, &out));
  EXPECT_EQ(3u, vmk_PktListGetCount(&out));
  for (vmk_PktHandle* s = vmk_PktListGetFirstPkt(&out); s; s = vmk_PktListGetNextPkt(&out, s))
    EXPECT_EQ(54u + 1000u, vmk_PktFrameLenGet(s));
  vmk_PktListReleaseAllPkts(&out);
  vmk_PktRelease(p);
}

/* ---- Buffers, copies, clones ---------------------------------------------- */

TEST_F(PktTest, AllocationMapsForTheEnginesDeviceAndElementsFollowTheFrame) {
  vmk_PktHandle* p32 = nullptr;
  ASSERT_EQ(VMK_OK, vmk_PktAllocForDMAEngine(1932, engine32, &p32));
  EXPECT_EQ(0u, vmk_PktFrameLenGet(p32));
  ASSERT_EQ(1u, vmk_PktSgElemCount(p32));
  vmk_SgElem e{};
  ASSERT_EQ(VMK_OK, vmk_PktSgElemGet(p32, 0, &e));
  EXPECT_EQ(1932u, e.length) << "a receive buffer's element covers the whole buffer";
  EXPECT_LT(e.addr + e.length, 0x100000000ull);
  EXPECT_EQ(VMK_NOT_FOUND, vmk_PktSgElemGet(p32, 1, &e));
  vmk_SgElem mapped{};
  ASSERT_EQ(VMK_OK, vmk_DMAMapElem(engine32, VMK_DMA_DIRECTION_TO_MEMORY, &e, VMK_TRUE, &mapped, nullptr));
  ASSERT_EQ(VMK_OK, vmk_DMAUnmapElem(engine32, VMK_DMA_DIRECTION_TO_MEMORY, &mapped));
  EXPECT_EQ(VMK_OK, vmk_PktFrameLenSet(p32, 1932));
  EXPECT_EQ(VMK_BAD_PARAM, vmk_PktFrameLenSet(p32, 64 * 1024));
  vmk_PktRelease(p32);

  // Elements past the frame end stay listed: the transmit path skips them.
  vmk_PktHandle* p = vmktest::pktMake(Bytes(300, 3));
  ASSERT_TRUE(vmktest::pktSetSgLayout(p, {100, 200, 50}));
  ASSERT_EQ(3u, vmk_PktSgElemCount(p));
  vmk_SgElem a, b, c;
  ASSERT_EQ(VMK_OK, vmk_PktSgElemGet(p, 0, &a));
  ASSERT_EQ(VMK_OK, vmk_PktSgElemGet(p, 1, &b));
  ASSERT_EQ(VMK_OK, vmk_PktSgElemGet(p, 2, &c));
  EXPECT_EQ(a.addr + 100, b.addr);
  EXPECT_EQ(b.addr + 200, c.addr);
  EXPECT_GE(a.addr, 0x100000000ull) << "a 64-bit engine's packets may lie anywhere";
  vmk_PktRelease(p);
}

TEST_F(PktTest, CloneSharesTheBufferPartialCopyAndDuplicateOwnTheirs) {
  vmk_PktHandle* p = vmktest::pktMake(Bytes(60, 0x11), 8);
  ASSERT_EQ(VMK_OK, vmk_PktVlanIDSet(p, 5));
  ASSERT_EQ(VMK_OK, vmk_PktPrioritySet(p, 3));
  EXPECT_EQ(VMK_BAD_PARAM, vmk_PktVlanIDSet(p, 4096));
  EXPECT_EQ(VMK_BAD_PARAM, vmk_PktPrioritySet(p, 8));
  vmktest::pktSetMustVlanTag(p, true);
  ASSERT_TRUE(vmk_PktIsBufDescWritable(p));
  ASSERT_EQ(VMK_OK, vmk_PktBufDescWordSet(p, 3, VMK_PKT_BUFDESC_TUNNEL_CSUM_VFD));

  vmk_PktHandle* clone = nullptr;
  ASSERT_EQ(VMK_OK, vmk_PktClone(p, &clone));
  EXPECT_EQ(2, vmktest::live().packets);
  EXPECT_FALSE(vmk_PktIsBufDescWritable(p));
  EXPECT_FALSE(vmk_PktIsBufDescWritable(clone));
  EXPECT_EQ(VMK_FAILURE, vmk_PktBufDescWordSet(clone, 3, 0));
  EXPECT_EQ(VMK_FAILURE, vmk_PktPullHeadroom(p, 4)) << "a shared buffer is not changed";
  vmk_PktFrameMappedPointerGet(p)[0] = 0x22;
  EXPECT_EQ(0x22, vmk_PktFrameMappedPointerGet(clone)[0]) << "one buffer";
  vmk_uint32 word = 0;
  ASSERT_EQ(VMK_OK, vmk_PktBufDescWordGet(clone, 3, &word));
  EXPECT_EQ(VMK_PKT_BUFDESC_TUNNEL_CSUM_VFD, word);
  EXPECT_EQ(5, vmk_PktVlanIDGet(clone));
  EXPECT_TRUE(vmk_PktMustVlanTag(clone));
  vmk_PktRelease(clone);
  EXPECT_TRUE(vmk_PktIsBufDescWritable(p)) << "alone again";

  vmk_PktHandle* copy = nullptr;
  ASSERT_EQ(VMK_OK, vmk_PktPartialCopyWithHeadroom(p, 12, 8, &copy));
  EXPECT_EQ(vmktest::pktBytes(p), vmktest::pktBytes(copy));
  EXPECT_EQ(8u, vmk_PktHeadroomLenGet(copy));
  EXPECT_TRUE(vmk_PktIsBufDescWritable(copy));
  EXPECT_EQ(3, vmk_PktPriorityGet(copy));
  vmk_PktFrameMappedPointerGet(copy)[1] = 0x33;
  EXPECT_EQ(0x11, vmk_PktFrameMappedPointerGet(p)[1]) << "a copy has bytes of its own";
  ASSERT_EQ(VMK_OK, vmk_PktPullHeadroom(copy, 8));
  EXPECT_EQ(68u, vmk_PktFrameLenGet(copy));
  EXPECT_EQ(VMK_FAILURE, vmk_PktPullHeadroom(copy, 1)) << "no headroom left";
  EXPECT_EQ(VMK_BAD_PARAM, vmk_PktPartialCopy(p, 61, &copy));
  vmk_PktRelease(copy);

  vmk_PktHandle* small = vmktest::pktMake(Bytes(30, 0x44));
  vmk_PktHandle* dup = nullptr;
  ASSERT_EQ(VMK_OK, vmk_PktDupLenWithHeadroomAndTailroom(small, 30, 0, 6, &dup));
  ASSERT_EQ(VMK_OK, vmk_PktFrameLenSet(dup, 36));
  Bytes want(30, 0x44);
  want.resize(36, 0);
  EXPECT_EQ(want, vmktest::pktBytes(dup)) << "the tailroom is zero-filled";
  vmk_PktRelease(dup);
  vmk_PktRelease(small);
  vmk_PktRelease(p);
}

/* ---- Lists ------------------------------------------------------------------ */

TEST_F(PktTest, ListOperationsKeepOrderCountAndMembership) {
  vmk_PktHandle* p[5];
  for (int i = 0; i < 5; i++) {
    p[i] = vmktest::pktMake(Bytes(60, (uint8_t)i));
    vmk_PktQueueIDSet(p[i], i);
  }
  vmk_PktList a, b;
  vmk_PktListInit(&a);
  vmk_PktListInit(&b);
  EXPECT_EQ(nullptr, vmk_PktListPopFirstPkt(&a));
  ASSERT_EQ(VMK_OK, vmk_PktListAppendPkt(&a, p[1]));
  ASSERT_EQ(VMK_OK, vmk_PktListAppendPkt(&a, p[3]));
  ASSERT_EQ(VMK_OK, vmk_PktListPrependPkt(&a, p[0]));
  ASSERT_EQ(VMK_OK, vmk_PktListInsertPktAfter(&a, p[1], p[2]));
  EXPECT_EQ(VMK_EXISTS, vmk_PktListAppendPkt(&b, p[2])) << "one list at a time";
  EXPECT_EQ(VMK_NOT_FOUND, vmk_PktListInsertPktAfter(&b, p[2], p[4]));
  ASSERT_EQ(VMK_OK, vmk_PktListInsertPktAfter(&a, p[3], p[4]));  // after the last: the new last
  auto order = [](const vmk_PktList* l) {
    std::vector<vmk_uint32> q;
    for (vmk_PktHandle* x = vmk_PktListGetFirstPkt(l); x; x = vmk_PktListGetNextPkt(l, x)) q.push_back(vmk_PktQueueIDGet(x));
    return q;
  };
  EXPECT_EQ((std::vector<vmk_uint32>{0, 1, 2, 3, 4}), order(&a));
  EXPECT_EQ(5u, vmk_PktListGetCount(&a));
  EXPECT_EQ(p[0], vmk_PktListPopFirstPkt(&a));
  ASSERT_EQ(VMK_OK, vmk_PktListAppendPkt(&b, p[0]));
  vmk_PktListAppendList(&b, &a);
  EXPECT_TRUE(vmk_PktListIsEmpty(&a));
  EXPECT_EQ((std::vector<vmk_uint32>{0, 1, 2, 3, 4}), order(&b));
  ASSERT_EQ(VMK_OK, vmk_PktListAppendPkt(&a, vmk_PktListPopFirstPkt(&b))) << "moved packets belong to b";
  EXPECT_EQ(1u, vmk_PktListGetCount(&a));
  vmk_PktListReleaseAllPkts(&a);
  vmk_PktListReleaseAllPkts(&b);
  EXPECT_EQ(0, vmktest::live().packets);
}

/* ---- Failure injection and accounting ------------------------------------- */

TEST_F(PktTest, EveryFallibleServiceFailsOnRequestWithoutLeaking) {
  vmk_PktHandle* p = vmktest::pktMake(cat({eth({}, 0x0800), ipv4(6, 40 + 2000), tcp(1, 0x10), Bytes(2000, 1)}), 8);
  ASSERT_EQ(VMK_OK, vmk_PktSetLargeTcpPacket(p, 500));
  vmk_PktHandle* out = nullptr;
  vmk_PktList list;
  vmk_PktListInit(&list);
  vmk_PktHeaderEntry e;
  vmk_SgElem sg;
  std::pair<const char*, std::function<VMK_ReturnStatus()>> calls[] = {
      {"vmk_PktAllocForDMAEngine", [&] { return vmk_PktAllocForDMAEngine(100, engine64, &out); }},
      {"vmk_PktPartialCopy", [&] { return vmk_PktPartialCopy(p, 12, &out); }},
      {"vmk_PktPartialCopyWithHeadroom", [&] { return vmk_PktPartialCopyWithHeadroom(p, 12, 4, &out); }},
      {"vmk_PktClone", [&] { return vmk_PktClone(p, &out); }},
      {"vmk_PktDupLenWithHeadroomAndTailroom", [&] { return vmk_PktDupLenWithHeadroomAndTailroom(p, 30, 0, 6, &out); }},
      {"vmk_PktTcpSegmentation", [&] { return vmk_PktTcpSegmentation(p, 0, &list); }},
      {"vmk_PktPullHeadroom", [&] { return vmk_PktPullHeadroom(p, 4); }},
      {"vmk_PktFrameLenSet", [&] { return vmk_PktFrameLenSet(p, 100); }},
      {"vmk_PktSgElemGet", [&] { return vmk_PktSgElemGet(p, 0, &sg); }},
      {"vmk_PktHeaderL3Find", [&] { return vmk_PktHeaderL3Find(p, 0, &e, nullptr); }},
      {"vmk_PktHeaderL4Find", [&] { return vmk_PktHeaderL4Find(p, 0, &e, nullptr); }},
      {"vmk_PktHeaderEncapFind", [&] { return vmk_PktHeaderEncapFind(p, 0, &e, nullptr); }},
      {"vmk_PktBufDescWordSet", [&] { return vmk_PktBufDescWordSet(p, 3, 1); }},
      {"vmk_PktVlanIDSet", [&] { return vmk_PktVlanIDSet(p, 1); }},
      {"vmk_PktListAppendPkt", [&] { return vmk_PktListAppendPkt(&list, p); }},
  };
  for (auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    out = nullptr;
    vmktest::failCall(name, 1, VMK_NO_RESOURCES);
    EXPECT_EQ(VMK_NO_RESOURCES, call());
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(1u, vmktest::injectedCount(name));
    EXPECT_EQ(1, vmktest::live().packets) << vmktest::live().describe();
    EXPECT_EQ(0u, vmk_PktListGetCount(&list));
    EXPECT_EQ(2054u, vmk_PktFrameLenGet(p)) << "the packet is unchanged";
  }
  vmk_PktRelease(p);
}

TEST_F(PktTest, LiveAccountingShowsALeakedPacketAndItsClone) {
  vmk_PktHandle* p = nullptr;
  ASSERT_EQ(VMK_OK, vmk_PktAllocForDMAEngine(2048, engine64, &p));
  vmk_PktHandle* clone = nullptr;
  ASSERT_EQ(VMK_OK, vmk_PktClone(p, &clone));
  EXPECT_EQ("dmaEngines=2 packets=2", vmktest::live().describe()) << "a leaked packet shows";
  vmk_PktRelease(p);
  EXPECT_EQ("dmaEngines=2 packets=1", vmktest::live().describe()) << "the clone alone keeps the buffer";
  vmk_PktRelease(clone);
  EXPECT_EQ(0, vmktest::live().packets);

  // A second release, a release of a listed packet and a release of a buffer
  // still mapped for DMA are the driver's faults.
  std::vector<std::string> broken;
  vmktest::setLockRuleHandler([&](const std::string& what) { broken.push_back(what); });
  vmk_PktRelease(clone);
  ASSERT_EQ(1u, broken.size());
  EXPECT_NE(std::string::npos, broken[0].find("released twice"));
  vmk_PktHandle* q = vmktest::pktMake(Bytes(60, 1));
  vmk_PktList l;
  vmk_PktListInit(&l);
  ASSERT_EQ(VMK_OK, vmk_PktListAppendPkt(&l, q));
  vmk_PktRelease(q);
  ASSERT_EQ(2u, broken.size());
  EXPECT_EQ(1, vmktest::live().packets);
  vmk_PktListReleaseAllPkts(&l);

  vmk_PktHandle* m = vmktest::pktMake(Bytes(60, 1));
  vmk_SgElem e, mapped;
  ASSERT_EQ(VMK_OK, vmk_PktSgElemGet(m, 0, &e));
  ASSERT_EQ(VMK_OK, vmk_DMAMapElem(engine64, VMK_DMA_DIRECTION_FROM_MEMORY, &e, VMK_TRUE, &mapped, nullptr));
  vmk_PktRelease(m);
  EXPECT_EQ(1u, vmktest::pktFaults().releasedWhileMapped);
  ASSERT_EQ(VMK_OK, vmk_DMAUnmapElem(engine64, VMK_DMA_DIRECTION_FROM_MEMORY, &mapped));
}

/* ---- Panic context ------------------------------------------------------------ */

TEST_F(PktTest, PanicContextRefusesBlockingAndNormalRelease) {
  std::vector<std::string> broken;
  vmktest::setLockRuleHandler([&](const std::string& what) { broken.push_back(what); });
  vmk_PktHandle* p = vmktest::pktMake(Bytes(60, 1));
  vmk_PktHandle* q = vmktest::pktMake(Bytes(60, 2));
  vmk_ServiceID net;
  ASSERT_EQ(VMK_OK, vmk_ServiceGetID("net", &net));
  vmk_NetPollProperties props{[](void*, vmk_uint32) -> vmk_Bool { return VMK_FALSE; }, nullptr};
  vmk_NetPoll np = nullptr;
  ASSERT_EQ(VMK_OK, vmk_NetPollCreate(&props, net, 0, &np));

  vmktest::setPanicContext(true);
  vmk_PktRelease(p);
  EXPECT_EQ(2, vmktest::live().packets) << "refused: the packet stays with its owner";
  EXPECT_EQ(VMK_NOT_SUPPORTED, vmk_NetPollRxPktQueue(np, q));
  vmk_WorldSleep(1);
  EXPECT_EQ(VMK_WOULD_BLOCK, vmk_IntrSync(0));
  ASSERT_EQ(4u, broken.size());
  EXPECT_NE(std::string::npos, broken[0].find("panic-safe"));
  EXPECT_NE(std::string::npos, broken[2].find("vmk_WorldSleep"));
  vmk_PktReleasePanic(p);
  vmk_PktReleasePanic(q);
  EXPECT_EQ(0, vmktest::live().packets);
  vmktest::setPanicContext(false);
  EXPECT_EQ(4u, broken.size());
  ASSERT_EQ(VMK_OK, vmk_NetPollDestroy(np));
}

/* ---- NetPoll hand-over and queue notices ---------------------------------- */

struct PollData {
  vmk_NetPoll np = nullptr;
  std::vector<vmk_PktHandle*> toDeliver;
  std::vector<vmk_PktHandle*> toComplete;
};

TEST_F(PktTest, NetPollHandsReceivedPacketsUpAndReleasesCompletedOnes) {
  vmk_ServiceID net;
  ASSERT_EQ(VMK_OK, vmk_ServiceGetID("net", &net));
  PollData d;
  for (int i = 0; i < 3; i++) d.toDeliver.push_back(vmktest::pktMake(Bytes(60, (uint8_t)i)));
  d.toComplete.push_back(vmktest::pktMake(Bytes(60, 9)));
  vmk_NetPollProperties props{[](void* priv, vmk_uint32) -> vmk_Bool {
                                auto* pd = static_cast<PollData*>(priv);
                                for (auto* p : pd->toDeliver) EXPECT_EQ(VMK_OK, vmk_NetPollRxPktQueue(pd->np, p));
                                for (auto* p : pd->toComplete) EXPECT_EQ(VMK_OK, vmk_NetPollQueueCompPkt(pd->np, p));
                                pd->toDeliver.clear();
                                pd->toComplete.clear();
                                return VMK_FALSE;
                              },
                              &d};
  ASSERT_EQ(VMK_OK, vmk_NetPollCreate(&props, net, 0, &d.np));
  ASSERT_EQ(VMK_OK, vmk_NetPollActivate(d.np));
  vmktest::netPollDrain();
  std::vector<vmk_PktHandle*> got = vmktest::netPollTakeRx(d.np);
  ASSERT_EQ(3u, got.size());
  for (int i = 0; i < 3; i++) EXPECT_EQ(i, vmk_PktFrameMappedPointerGet(got[i])[0]) << "in queuing order";
  EXPECT_EQ(1u, vmktest::netPollCompleted(d.np));
  EXPECT_EQ(3, vmktest::live().packets) << "the completed packet was released by the stack";
  for (auto* p : got) vmk_PktRelease(p);

  // Queued outside a poll: handed up at the flush; what the stack did not
  // take goes with the NetPoll.
  vmk_PktHandle* late = vmktest::pktMake(Bytes(60, 7));
  ASSERT_EQ(VMK_OK, vmk_NetPollRxPktQueue(d.np, late));
  EXPECT_TRUE(vmktest::netPollTakeRx(d.np).empty());
  ASSERT_EQ(VMK_OK, vmk_NetPollFlushRx(d.np));
  vmktest::failCall("vmk_NetPollRxPktQueue", 1);
  vmk_PktHandle* refused = vmktest::pktMake(Bytes(60, 8));
  EXPECT_EQ(VMK_FAILURE, vmk_NetPollRxPktQueue(d.np, refused));
  vmk_PktRelease(refused);  // a refused packet stays the caller's
  ASSERT_EQ(VMK_OK, vmk_NetPollDestroy(d.np));
  EXPECT_EQ(0, vmktest::live().packets);
}

TEST_F(PktTest, UplinkRecordsQueueNoticesAndWatchdog) {
  vmk_UplinkRegData reg{};
  reg.ops.uplinkAssociate = [](vmk_AddrCookie, vmk_Uplink) -> VMK_ReturnStatus { return VMK_OK; };
  reg.ops.uplinkDisassociate = [](vmk_AddrCookie) -> VMK_ReturnStatus { return VMK_OK; };
  vmk_Uplink up = nullptr;
  ASSERT_EQ(VMK_OK, vmktest::uplinkAssociate(&reg, "vmnic0", &up));
  EXPECT_EQ(-1, vmktest::uplinkQueueState(up, 9));
  ASSERT_EQ(VMK_OK, vmk_UplinkQueueStop(up, 9));
  EXPECT_EQ(0, vmktest::uplinkQueueState(up, 9));
  ASSERT_EQ(VMK_OK, vmk_UplinkQueueStart(up, 9));
  ASSERT_EQ(VMK_OK, vmk_UplinkQueueStop(up, 9));
  EXPECT_EQ(2u, vmktest::uplinkQueueStops(up, 9));
  vmktest::failCall("vmk_UplinkQueueStart", 1);
  EXPECT_EQ(VMK_FAILURE, vmk_UplinkQueueStart(up, 9));
  EXPECT_EQ(0, vmktest::uplinkQueueState(up, 9)) << "a failed notice changes nothing";
  ASSERT_EQ(VMK_OK, vmk_UplinkWatchdogTimeoutSet(up, 30000));
  EXPECT_EQ(30000u, vmktest::uplinkWatchdogMs(up));
  vmktest::failCall("vmk_UplinkWatchdogTimeoutSet", 1);
  EXPECT_EQ(VMK_FAILURE, vmk_UplinkWatchdogTimeoutSet(up, 5000));
  EXPECT_EQ(30000u, vmktest::uplinkWatchdogMs(up));
  ASSERT_EQ(VMK_OK, vmktest::uplinkDisassociate(&reg, up));
}

/* ---- Threads ------------------------------------------------------------------ */

// Packets made on one thread are cloned, copied, cut and released on others
// (the receive path allocates in a NetPoll, the stack releases elsewhere).
TEST_F(PktTest, PacketsMoveBetweenThreadsWithoutRacesOrLeaks) {
  std::mutex m;
  std::deque<vmk_PktHandle*> handed;
  bool done = false;
  const int kPerProducer = 300;
  auto producer = [&](int id) {
    for (int i = 0; i < kPerProducer; i++) {
      vmk_PktHandle* p = nullptr;
      ASSERT_EQ(VMK_OK, vmk_PktAllocForDMAEngine(1932, id % 2 ? engine32 : engine64, &p));
      Bytes f = cat({eth({}, 0x0800), ipv4(6, 40 + 1200), tcp(i, 0x10), Bytes(1200, (uint8_t)i)});
      ASSERT_EQ(VMK_OK, vmk_PktFrameLenSet(p, (vmk_uint32)f.size()));
      memcpy(vmk_PktFrameMappedPointerGet(p), f.data(), f.size());
      vmk_PktHandle* c = nullptr;
      ASSERT_EQ(VMK_OK, vmk_PktClone(p, &c));
      std::lock_guard<std::mutex> g(m);
      handed.push_back(p);
      handed.push_back(c);
    }
  };
  auto consumer = [&] {
    for (;;) {
      vmk_PktHandle* p = nullptr;
      {
        std::lock_guard<std::mutex> g(m);
        if (handed.empty()) {
          if (done) return;
        } else {
          p = handed.front();
          handed.pop_front();
        }
      }
      if (p == nullptr) {
        std::this_thread::yield();
        continue;
      }
      vmk_PktHeaderEntry e;
      EXPECT_EQ(VMK_OK, vmk_PktHeaderL4Find(p, 0, &e, nullptr));
      vmk_PktList out;
      vmk_PktListInit(&out);
      EXPECT_EQ(VMK_OK, vmk_PktTcpSegmentation(p, 500, &out));
      EXPECT_EQ(3u, vmk_PktListGetCount(&out));
      vmk_PktListReleaseAllPkts(&out);
      vmk_PktRelease(p);
    }
  };
  std::vector<std::thread> producers, consumers;
  for (int i = 0; i < 3; i++) producers.emplace_back(producer, i);
  for (int i = 0; i < 3; i++) consumers.emplace_back(consumer);
  for (auto& t : producers) t.join();
  {
    std::lock_guard<std::mutex> g(m);
    done = true;
  }
  for (auto& t : consumers) t.join();
  EXPECT_EQ(0, vmktest::live().packets);
}

}  // namespace
