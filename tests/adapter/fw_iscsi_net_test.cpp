// The emulated iSCSI firmware's network port, driven with raw requests: the
// malformed requests it refuses, what a KS3 answers for IPv6, and the state
// its flash file keeps for a later engine.
#include <gtest/gtest.h>

#include <cstdio>

#include "fw_cmd.h"
#include "fw_engine.h"
#include "fw_profile.h"
#include "iscsi/fw_iscsi_net.h"
#include "temp_path.h"

namespace {

using adapter::Carrier;
using adapter::Engine;
using adapter::Gen;
using fwtest::Req;

struct Fw {
  explicit Fw(Gen g, const std::string& flash = {}) : fw(config(g, flash)) { adapter::registerIscsiNetHandlers(fw); }
  static adapter::EngineConfig config(Gen g, const std::string& flash) {
    adapter::EngineConfig c = adapter::engineDefaults(g, 2);
    c.flash_file = flash;
    return c;
  }
  Engine fw;
};

constexpr unsigned kFn = 1;
const uint32_t kHandle = adapter::iscsiInterfaceHandle(kFn);

Req entry(uint32_t action, uint8_t kind, std::vector<uint8_t> address, uint32_t handle = kHandle) {
  Req r(2, 21, 56);
  r.u32(0, 1).u32(4, action).u32(8, handle).u16(12, 40).u8(14, kind);
  r.bytes(16, address.data(), address.size());
  return r;
}

uint8_t run(Req r, Engine& fw, uint32_t* entry_status = nullptr) {
  r.run(fw, kFn, Carrier::Ioctl);
  if (entry_status != nullptr) *entry_status = r.r32(52);
  return r.status();
}

TEST(FwIscsiNet, MalformedRequestsAreRefused) {
  Fw f(Gen::Veskarn);
  adapter::iscsiNet(f.fw, kFn);  // the factory state, in place before the first request
  struct Case {
    const char* what;
    Req req;
    uint8_t status, additional;
  } cases[] = {
      {"another function's handle", entry(1, 1, {10, 0, 0, 1}, kHandle + 1), 3, 0},
      {"two records", entry(1, 1, {10, 0, 0, 1}).u32(0, 2), 3, 0},
      {"unknown action", entry(3, 1, {10, 0, 0, 1}), 3, 0},
      {"unknown kind", entry(1, 16, {10, 0, 0, 1}), 3, 0},
      {"short entry", Req(2, 21, 40), 3, 0},
      {"interface information of kind 2", Req(2, 25, 1296).u32(0, kHandle).u32(4, 2), 3, 0},
      {"VLAN id 4095", Req(2, 14, 8).u32(0, kHandle).u32(4, 4095), 3, 0},
      {"DHCP kind 6", Req(2, 17, 16).u32(0, kHandle).u32(4, 6), 3, 0},
      {"gateway add without the block length", Req(2, 23, 28).u32(0, 1).u8(7, 1).u8(8, 10), 3, 0},
      {"gateway add of nothing", Req(2, 23, 28).u32(0, 1).u16(4, 24).u8(7, 1), 1, 0},
      {"gateway delete of none", Req(2, 23, 28).u32(0, 2).u8(7, 1).u8(8, 10), 1, 0},
      {"ping of kind 2", Req(2, 6, 24).u8(3, 2), 3, 0},
      {"ping with no address", Req(2, 6, 24).u8(3, 1).u8(4, 10), 46, 0},
      {"save of an empty name", Req(6, 7, 260), 3, 0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> before = adapter::encodeIscsiNet(f.fw.profiles().iscsi_net);
    c.req.run(f.fw, kFn, Carrier::Ioctl);
    EXPECT_EQ(c.req.status(), c.status);
    EXPECT_EQ(c.req.additional(), c.additional);
    EXPECT_EQ(adapter::encodeIscsiNet(f.fw.profiles().iscsi_net), before) << "nothing changed";
  }
}

TEST(FwIscsiNet, Ks3AnswersNoIpv6) {
  Fw f(Gen::KS3);
  Req reqs[] = {
      entry(1, 80, {0xFE, 0x80}),
      Req(2, 25, 1296).u32(0, kHandle).u32(4, 16),
      Req(2, 22, 24).u32(0, 16),
      Req(2, 17, 16).u32(0, kHandle).u32(4, 144),
  };
  for (Req& r : reqs) {
    r.run(f.fw, kFn, Carrier::Ioctl);
    EXPECT_EQ(r.status(), 1);
    EXPECT_EQ(r.additional(), 75);
  }
  // IPv4 works.
  uint32_t st = 9;
  EXPECT_EQ(run(entry(1, 1, {10, 0, 0, 1}), f.fw, &st), 0);
  EXPECT_EQ(st, 0u);
}

TEST(FwIscsiNet, AddressEntriesPerKind) {
  Fw f(Gen::Pivard);
  uint32_t st = 0;
  ASSERT_EQ(run(entry(1, 48, {0x20, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}), f.fw, &st), 0);
  ASSERT_EQ(run(entry(1, 48, {0x20, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}), f.fw, &st), 0);
  EXPECT_EQ(run(entry(1, 48, {0x20, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3}), f.fw), 66) << "two routable";
  ASSERT_EQ(run(entry(1, 80, {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}), f.fw, &st), 0);
  ASSERT_EQ(run(entry(1, 80, {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}), f.fw, &st), 0);
  Req info(2, 25, 1296);
  info.u32(0, kHandle).u32(4, 80);
  info.run(f.fw, kFn, Carrier::Ioctl);
  ASSERT_EQ(info.status(), 0);
  ASSERT_EQ(info.r32(8), 3u) << "every IPv6 entry, one link-local";
  EXPECT_EQ(info.r8(16 + 2), 48);
  EXPECT_EQ(info.r8(16 + 80 + 2), 80);
  EXPECT_EQ(info.r8(16 + 80 + 4 + 15), 2);
  // The same address on the other function is a duplicate, still taken.
  Req dup = entry(1, 48, {0x20, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, adapter::iscsiInterfaceHandle(0));
  dup.run(f.fw, 0, Carrier::Ioctl);
  EXPECT_EQ(dup.status(), 0);
  EXPECT_EQ(dup.r32(52), 47u);
  EXPECT_EQ(adapter::iscsiNet(f.fw, 0).addresses.size(), 1u);
  // A queued status that is no success leaves the entries alone.
  adapter::queueIscsiEntryStatus(f.fw, kFn, 9);
  EXPECT_EQ(run(entry(1, 1, {10, 0, 0, 1}), f.fw, &st), 0);
  EXPECT_EQ(st, 9u);
  EXPECT_EQ(adapter::iscsiNet(f.fw, kFn).addresses.size(), 3u);
}

TEST(FwIscsiNet, FlashFileKeepsTheNetworkForTheNextBoot) {
  std::string path = fwtest::freshTempPath("emiscsi");
  ASSERT_FALSE(path.empty());
  {
    Fw f(Gen::Veskarn, path);
    ASSERT_EQ(run(entry(1, 1, {10, 1, 2, 3}), f.fw), 0);
    ASSERT_EQ(run(Req(2, 23, 28).u32(0, 1).u16(4, 24).u8(7, 16).u8(8, 0xFE).u8(9, 0x80).u8(23, 9), f.fw), 0);
    ASSERT_EQ(run(Req(2, 14, 8).u32(0, kHandle).u32(4, 24676), f.fw), 0);
    ASSERT_EQ(run(Req(2, 17, 16).u32(0, kHandle).u32(4, 144).u32(8, 1).u32(12, 1), f.fw), 0);
    ASSERT_EQ(run(Req(6, 7, 260).text(4, "iqn.2000-01.com.example:x").text(228, "al"), f.fw), 0);
  }
  Fw later(Gen::Veskarn, path);
  ASSERT_TRUE(later.fw.bootedFromFlash());
  const adapter::IscsiPortNet& n = adapter::iscsiNet(later.fw, kFn);
  ASSERT_EQ(n.addresses.size(), 1u);
  EXPECT_EQ(n.addresses[0].address[3], 3);
  EXPECT_TRUE(n.gw6_set);
  EXPECT_EQ(n.gw6[15], 9);
  EXPECT_EQ(n.vlan_tag, 24676);
  EXPECT_EQ(n.ipv6_flags, adapter::kIpv6Auto);
  EXPECT_EQ(n.initiator_name, "iqn.2000-01.com.example:x");
  EXPECT_EQ(n.alias, "al");
  Req name(6, 6, 260);
  name.run(later.fw, kFn, Carrier::Ioctl);
  EXPECT_EQ(name.rtext(4, 224), "iqn.2000-01.com.example:x");
  std::remove(path.c_str());

  // A section cut short is no store.
  std::vector<uint8_t> bytes = adapter::encodeIscsiNet(later.fw.profiles().iscsi_net);
  adapter::IscsiNetStore back;
  ASSERT_TRUE(adapter::decodeIscsiNet(bytes.data(), bytes.size(), &back));
  EXPECT_EQ(adapter::encodeIscsiNet(back), bytes);
  for (size_t cut = 0; cut < bytes.size(); ++cut)
    EXPECT_FALSE(adapter::decodeIscsiNet(bytes.data(), cut, &back)) << cut;
}

}  // namespace
