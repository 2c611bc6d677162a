// The emulated firmware's port state, transmit throttle and PHY commands of
// the host, driven with raw requests: each acts on the port it names (or the
// port of the function it reached), and Engine::reached() says which
// function and port that was.
#include <gtest/gtest.h>

#include "fw_cfg_link.h"
#include "fw_cmd.h"

namespace {

using adapter::Engine;
using adapter::Gen;
using fwtest::host;
using fwtest::Req;

// The last command the engine recorded, as {fn, port}.
std::pair<unsigned, int> lastReached(const Engine& fw) {
  const Engine::Reached& r = fw.reached().back();
  return {r.fn, r.port};
}

TEST(FwLink, PortStateAndThrottleArePerPort) {
  for (Gen g : {Gen::KS2, Gen::KS3, Gen::Pivard, Gen::Veskarn}) {
    SCOPED_TRACE(adapter::genName(g));
    Engine fw(adapter::engineDefaults(g, 4));
    bool pivard = g == Gen::Pivard;
    uint8_t version = pivard ? 1 : 0;
    for (unsigned fn = 0; fn < 4; ++fn) {
      // Pivard names the port in byte 2: function 0 asks for every port.
      unsigned sender = pivard ? 0 : fn;
      Req get(1, 71, 4, version);
      get.u8(2, pivard ? static_cast<uint8_t>(fn) : 0);
      ASSERT_EQ(host(get, fw, sender).status, 0);
      EXPECT_EQ(pivard ? get.r8(0) : get.r32(0), 1u) << "a port starts enabled";
      EXPECT_EQ(lastReached(fw), std::make_pair(sender, static_cast<int>(fn)));
    }
    // Port 1 off: port 0 and the others still read enabled.
    Req off(1, 62, 4, version);
    off.u8(0, 0).u8(2, pivard ? 1 : 0);
    ASSERT_EQ(host(off, fw, pivard ? 0 : 1).status, 0);
    EXPECT_EQ(lastReached(fw).second, 1);
    for (unsigned p = 0; p < 4; ++p) EXPECT_EQ(adapter::phyPort(fw, p).enabled, p != 1) << p;
    Req bad(1, 62, 4, version);
    bad.u32(0, pivard ? 0x0100 : 2).u8(2, pivard ? 7 : 0);
    EXPECT_EQ(host(bad, fw, 0).status, fwtest::kIllegal);

    Req throttle(1, 132, 4);
    throttle.u32(0, 1);
    ASSERT_EQ(host(throttle, fw, 3).status, 0);
    EXPECT_EQ(lastReached(fw), std::make_pair(3u, 3));
    Req read(1, 133, 4);
    ASSERT_EQ(host(read, fw, 2).status, 0);
    EXPECT_EQ(read.r32(0), 2u) << "port 2 keeps its own";
    ASSERT_EQ(host(read, fw, 3).status, 0);
    EXPECT_EQ(read.r32(0), 1u);
    throttle.u32(0, 3);
    EXPECT_EQ(host(throttle, fw, 3).status, fwtest::kIllegal);
  }
}

TEST(FwLink, ReachedNamesFunctionAndPort) {
  Engine fw(adapter::engineDefaults(Gen::Veskarn, 2));
  adapter::phyPort(fw, 0).type = 0x20;
  adapter::phyPort(fw, 1).type = 0x21;
  fw.clearReached();
  Req phy(1, 102, 24);
  ASSERT_EQ(host(phy, fw, 1).status, 0);
  EXPECT_EQ(phy.r16(0), 0x21);
  // The port speed names its port: function 0 may ask for port 1.
  Req speed(1, 134, 4);
  speed.u8(0, 1);
  ASSERT_EQ(host(speed, fw, 0).status, 0);
  Req stats(18, 8, 84);
  stats.u32(0, 0);
  ASSERT_EQ(host(stats, fw, 1).status, 0);
  // A command that names no port, and one a fault answers.
  Req attrs(1, 32, 540);
  host(attrs, fw, 1);
  fw.setFault(1, 5, {.status = 1});
  Req link(1, 5, 12, 1);
  host(link, fw, 0);
  std::vector<Engine::Reached> got(fw.reached().begin(), fw.reached().end());
  ASSERT_EQ(got.size(), 5u);
  struct Want {
    uint8_t sub, op;
    unsigned fn;
    int port;
  } want[] = {{1, 102, 1, 1}, {1, 134, 0, 1}, {18, 8, 1, 0}, {1, 32, 1, -1}, {1, 5, 0, -1}};
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].subsystem, want[i].sub) << i;
    EXPECT_EQ(got[i].opcode, want[i].op) << i;
    EXPECT_EQ(got[i].fn, want[i].fn) << i;
    EXPECT_EQ(got[i].port, want[i].port) << i;
  }
  // Only the latest commands are kept.
  for (size_t i = 0; i < Engine::kReachedKeep + 5; ++i) host(phy, fw, 0);
  EXPECT_EQ(fw.reached().size(), Engine::kReachedKeep);
  fw.clearReached();
  EXPECT_TRUE(fw.reached().empty());
}

}  // namespace
