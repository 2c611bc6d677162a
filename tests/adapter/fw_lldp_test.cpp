// The emulated firmware's LLDP and flow-control commands, driven with raw
// requests: what each answers, and the malformed requests it refuses.
#include <gtest/gtest.h>

#include "fw_cmd.h"
#include "fw_library_lldp.h"

namespace {

using adapter::Carrier;
using adapter::Engine;
using adapter::Gen;
using fwtest::Req;

struct Fw {
  explicit Fw(Gen g) : fw(adapter::engineDefaults(g, 2)) { adapter::registerLldpHandlers(fw); }
  Engine fw;
};

Req onPort(uint8_t sub, uint8_t op, uint32_t len, uint8_t port) {
  Req r(sub, op, len);
  r.b[2] = port;
  r.hdr[2] = port;
  return r;
}

TEST(FwLldp, ConfigurationViewsAndEnables) {
  Fw f(Gen::Veskarn);
  Req local = onPort(15, 1, 1576, 1);
  local.run(f.fw, 0, Carrier::Ioctl);
  ASSERT_EQ(local.status(), 0);
  EXPECT_EQ(local.respLen(), 1576u);
  EXPECT_EQ(local.r8(0), 0x03);
  EXPECT_EQ(local.r32(264), 4u);
  EXPECT_EQ(local.r32(524), 3u);
  EXPECT_EQ(local.r32(528), 120u);
  EXPECT_EQ(local.rtext(1300, 256), "Port 1");

  Req peer = onPort(15, 1, 1576, 1).u32(0, 1);
  peer.run(f.fw, 0, Carrier::Ioctl);
  ASSERT_EQ(peer.status(), 0);
  EXPECT_EQ(peer.r8(0), 0x03) << "the port's enables in every view";
  EXPECT_EQ(peer.rtext(8, 256), "");
  EXPECT_EQ(peer.r32(528), 0u);
  adapter::lldpPort(f.fw, 1).peer_present = true;
  adapter::lldpPort(f.fw, 1).peer.system_name = "sw";
  Req again = onPort(15, 1, 1576, 1).u32(0, 1);
  again.run(f.fw, 0, Carrier::Ioctl);
  ASSERT_EQ(again.status(), 0);
  EXPECT_EQ(again.rtext(532, 256), "sw");

  Req write = onPort(15, 2, 8, 1).u8(0, 0x02).u8(2, 1).u8(4, 1);
  write.run(f.fw, 0, Carrier::Ioctl);
  ASSERT_EQ(write.status(), 0);
  const uint8_t want[5] = {0x02, 0, 1, 0, 1};
  EXPECT_EQ(memcmp(adapter::lldpPort(f.fw, 1).enables, want, 5), 0);
  EXPECT_EQ(adapter::lldpPort(f.fw, 0).enables[0], 0x03) << "port 0 keeps its own";
}

TEST(FwLldp, MalformedRequestsAreRefused) {
  Fw f(Gen::Veskarn);
  struct Case {
    const char* what;
    Req req;
  } cases[] = {
      {"a view other than 0 and 1", onPort(15, 1, 1576, 0).u32(0, 2)},
      {"a port the adapter lacks", onPort(15, 1, 1576, 2)},
      {"a reply that does not fit", onPort(15, 1, 1000, 0)},
      {"a transmit/receive byte bit 2", onPort(15, 2, 8, 0).u8(0, 0x04)},
      {"a TLV byte bit 1", onPort(15, 2, 8, 0).u8(3, 0x02)},
      {"a non-zero byte 6", onPort(15, 2, 8, 0).u8(6, 1)},
      {"a short enables write", onPort(15, 2, 5, 0)},
      {"statistics of a port the adapter lacks", onPort(15, 3, 48, 3)},
      {"flow control flags 0x09", Req(1, 205, 8).u8(1, 0x09)},
      {"flow control flag bit 5", Req(1, 205, 8).u8(1, 0x20)},
      {"a pause nibble of 2", Req(1, 205, 8).u8(0, 0x20).u8(1, 0x08)},
      {"flow control of port 2", Req(1, 205, 8).u8(3, 2)},
  };
  for (Case& c : cases) {
    c.req.run(f.fw, 0, Carrier::Ioctl);
    EXPECT_EQ(c.req.status(), adapter::kStatusIllegalField) << c.what;
  }
  EXPECT_EQ(adapter::lldpPort(f.fw, 0).enables[0], 0x03);
  EXPECT_EQ(adapter::lastFlowFlags(f.fw), 0);
  Fw ks2(Gen::KS2);
  Req r(1, 205, 8);
  r.run(ks2.fw, 0, Carrier::Ioctl);
  EXPECT_EQ(r.status(), adapter::kStatusNotSupported);
}

TEST(FwLldp, FlowControlPerPort) {
  Fw f(Gen::Veskarn);
  Req write = Req(1, 205, 8).u8(0, 0x10).u8(1, 0x0B).u8(3, 1);
  write.run(f.fw, 0, Carrier::Ioctl);
  ASSERT_EQ(write.status(), 0);
  EXPECT_EQ(f.fw.port(1).tx_pause, 0);
  EXPECT_EQ(f.fw.port(1).rx_pause, 1);
  EXPECT_EQ(f.fw.port(0).tx_pause, 1) << "port 0 untouched";
  EXPECT_EQ(adapter::lastFlowFlags(f.fw), 0x0B);
  Req read = Req(1, 205, 8).u8(3, 0x41);  // bits 6-7 are not the port
  read.run(f.fw, 0, Carrier::Ioctl);
  ASSERT_EQ(read.status(), 0);
  EXPECT_EQ(read.r8(0), 0x10);

  // 37: the host names the port in the header; the driver's form answers
  // for its function's port.
  Req host = onPort(1, 37, 4, 1);
  host.run(f.fw, 0, Carrier::Ioctl);
  ASSERT_EQ(host.status(), 0);
  EXPECT_EQ(host.r16(0), 0);
  EXPECT_EQ(host.r16(2), 1);
  Req driver(1, 37, 4);
  driver.run(f.fw, 0, Carrier::Mailbox);
  ASSERT_EQ(driver.status(), 0);
  EXPECT_EQ(driver.r16(0), 1);
  EXPECT_EQ(driver.r16(2), 1);
}

TEST(FwLldp, CountersFollowTheEnablesAndThePartner) {
  Fw f(Gen::KS3);
  adapter::LldpPort& p = adapter::lldpPort(f.fw, 0);
  adapter::lldpTick(f.fw, 0, 2);
  EXPECT_EQ(p.tx, 2u);
  EXPECT_EQ(p.rx, 0u) << "no partner";
  p.peer_present = true;
  p.peer_org_tlvs = 1;
  adapter::lldpTick(f.fw, 0);
  EXPECT_EQ(p.rx, 1u);
  EXPECT_EQ(p.organizational, 1u);
  p.enables[0] = 0;
  adapter::lldpTick(f.fw, 0, 3);
  EXPECT_EQ(p.tx, 3u);
  EXPECT_EQ(p.dropped, 3u);
  Req stats = onPort(15, 3, 48, 0);
  stats.run(f.fw, 0, Carrier::Ioctl);
  ASSERT_EQ(stats.status(), 0);
  EXPECT_EQ(stats.r32(0), 3u);
  EXPECT_EQ(stats.r32(4), 1u);
  EXPECT_EQ(stats.r32(12), 3u);
  EXPECT_EQ(stats.r32(24), 1u);
}

}  // namespace
