// Multichannel, QoS, SR-IOV and port forwarding state of the emulated
// firmware as the host's commands see it, and what of it the driver finds
// after a reset or a boot from the flash file.
#include <gtest/gtest.h>

#include <cstdio>

#include "fw_cmd.h"
#include "fw_engine.h"
#include "fw_profile.h"
#include "temp_path.h"

namespace {

using adapter::Carrier;
using adapter::Engine;
using adapter::EngineConfig;
using adapter::Gen;
using adapter::ProfileRecord;
using fwtest::Req;

constexpr uint8_t kNotSupported = 2, kNotSupportedAdd = 30, kIllegal = 3;

EngineConfig cfgFor(Gen g) { return adapter::engineDefaults(g, 2); }

adapter::Outcome host(Req& r, Engine& fw, unsigned fn = 0) { return r.run(fw, fn, Carrier::Ioctl); }

std::vector<ProfileRecord> configuredProfile(Engine& fw) {
  Req r(1, 164, 22620, 1);
  EXPECT_EQ(host(r, fw).status, 0);
  std::vector<ProfileRecord> out;
  size_t off = 4;
  for (unsigned i = 0; i < r.r16(0); ++i) {
    uint8_t len = r.r8(off + 1);
    if (len == 0) break;
    out.emplace_back(r.b.begin() + 16 + long(off), r.b.begin() + 16 + long(off + len));
    off += len;
  }
  return out;
}

const ProfileRecord* find(const std::vector<ProfileRecord>& rs, uint8_t type, unsigned pf) {
  for (const ProfileRecord& r : rs)
    if (r[0] == type && adapter::recordPf(r) == pf) return &r;
  return nullptr;
}

unsigned u16At(const ProfileRecord& r, size_t off) { return r[off] | r[off + 1] << 8; }
uint32_t u32At(const ProfileRecord& r, size_t off) { return u16At(r, off) | uint32_t(u16At(r, off + 2)) << 16; }

// The SR-IOV rewrite of the configured profile: every type-80 record (88
// bytes each, byte 3 bits 6-7 clear), the target's state and VF count
// changed, then the multichannel-types record with code 1 for each port;
// count n + 1, 8 + 88n + 68 bytes.
Req sriovRewrite(Engine& fw, unsigned pf, bool enable) {
  std::vector<ProfileRecord> rs = configuredProfile(fw);
  std::vector<ProfileRecord> pcie;
  unsigned ports = 0;
  for (ProfileRecord r : rs) {
    if (r[0] == 85) ++ports;
    if (r[0] != 80) continue;
    r[3] &= 0x3F;
    if (adapter::recordPf(r) == pf) {
      r[12] = enable ? 1 : 0;
      r[16] = enable ? 255 : 0;
      r[17] = 0;
    }
    pcie.push_back(r);
  }
  Req w(1, 165, static_cast<uint32_t>(8 + 88 * pcie.size() + 68), 1);
  w.u8(0, 1).u8(3, 0x80).u32(4, static_cast<uint32_t>(pcie.size() + 1));
  size_t off = 8;
  for (const ProfileRecord& r : pcie) {
    w.bytes(off, r.data(), 88);
    off += 88;
  }
  w.u8(off, 86).u8(off + 1, 68);
  for (unsigned n = 0; n < ports; ++n) w.u8(off + 52 + n, 1);
  return w;
}

// The single-record form: 184 bytes, count 1, the record at 8.
Req singleRecord(const ProfileRecord& r) {
  Req w(1, 165, 184, 1);
  w.u32(4, 1).bytes(8, r.data(), r.size());
  return w;
}

// The KS3's SR-IOV change: one type-80 record, state at 12, function state
// 255, type 1, in a 22624-byte request.
Req ks3Sriov(unsigned pf, uint8_t state) {
  Req w(1, 165, 22624, 1);
  w.u32(4, 1).u8(8, 80).u8(9, 88).u8(14, static_cast<uint8_t>(pf)).u8(20, state).u8(21, 255).u8(22, 1);
  return w;
}

TEST(ChannelStore, DefaultsPerGeneration) {
  struct Row {
    Gen g;
    uint32_t caps;
    bool vnic;
  };
  const Row rows[] = {
      {Gen::KS2, 0, false}, {Gen::KS3, 0x59, true}, {Gen::Pivard, 0, false}, {Gen::Veskarn, 0x68, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(adapter::genName(row.g));
    Engine fw(cfgFor(row.g));
    Req caps(1, 123, 12);
    ASSERT_EQ(host(caps, fw).status, 0);
    EXPECT_EQ(caps.r32(0), row.caps);

    for (unsigned fn : {0u, 1u}) {
      Req name(1, 120, 92), stats(1, 64, 24);
      host(name, fw, fn);
      host(stats, fw, fn);
      if (!row.vnic) {
        EXPECT_EQ(name.status(), kNotSupported);
        EXPECT_EQ(name.additional(), kNotSupportedAdd);
        EXPECT_EQ(stats.status(), kNotSupported);
        continue;
      }
      ASSERT_EQ(name.status(), 0);
      EXPECT_EQ(name.r32(0), 1u);
      EXPECT_EQ(name.rtext(4, 88), "vNIC" + std::to_string(fn));
      ASSERT_EQ(stats.status(), 0);
      EXPECT_EQ(stats.r32(4), 100 + fn);
      EXPECT_EQ(stats.r32(12), 25u);
      EXPECT_EQ(stats.r32(16), 100u);
    }

    // The host's link parameters: speed code at 2 from the port (10 Gb/s: 4).
    fw.port(1).speed_code = 7;
    Req link0(1, 5, 12), link1(1, 5, 12);
    ASSERT_EQ(host(link0, fw, 0).status, 0);
    ASSERT_EQ(host(link1, fw, 1).status, 0);
    EXPECT_EQ(link0.r8(2), 4);
    EXPECT_EQ(link1.r8(2), 7);

    Req qos(1, 27, 32);
    ASSERT_EQ(host(qos, fw).status, 0);
    EXPECT_EQ(qos.r32(0), 10000u);
  }
}

// A function without a named vNIC answers 0 and no name.
TEST(ChannelStore, UnnamedFunction) {
  Engine fw(cfgFor(Gen::Veskarn));
  fw.profiles().vnics[1].enabled = false;
  Req name(1, 120, 92), stats(1, 64, 24);
  ASSERT_EQ(host(name, fw, 1).status, 0);
  ASSERT_EQ(host(stats, fw, 1).status, 0);
  EXPECT_EQ(name.r32(0), 0u);
  EXPECT_EQ(name.rtext(4, 88), "");
  EXPECT_EQ(stats.r32(12), 0u);
}

// QoS: the set names its fields by flag bits; the get answers I/Os at 8 and
// bytes (as sent, 1024 per unit the host shows) at 12, per function.
TEST(ChannelStore, QosPerFunction) {
  Engine fw(cfgFor(Gen::KS3));
  Req ios(1, 28, 36, 0);
  ios.u32(0, 0x4).u32(12, 5000).u32(16, 77);
  ASSERT_EQ(host(ios, fw, 1).status, 0);
  Req bytes(1, 28, 36, 0);
  bytes.u32(0, 0x40).u32(12, 1).u32(16, 100 * 1024);
  ASSERT_EQ(host(bytes, fw, 1).status, 0);
  Req none(1, 28, 36, 0);
  none.u32(12, 9).u32(16, 9);
  EXPECT_EQ(host(none, fw, 1).status, kIllegal);

  Req get1(1, 27, 32), get0(1, 27, 32);
  ASSERT_EQ(host(get1, fw, 1).status, 0);
  ASSERT_EQ(host(get0, fw, 0).status, 0);
  EXPECT_EQ(get1.r32(8), 5000u);
  EXPECT_EQ(get1.r32(12), 102400u);
  EXPECT_EQ(get0.r32(8), 0u);
  EXPECT_EQ(get0.r32(12), 0u);
  EXPECT_FALSE(fw.profiles().reset_needed);
}

// Port forwarding (Veskarn): VEB until set, per port; the others lack it.
TEST(ChannelStore, PortForwarding) {
  Engine fw(cfgFor(Gen::Veskarn));
  auto mode = [&](unsigned port) {
    Req r(1, 152, 16, 0);
    r.u16(0, static_cast<uint16_t>(port)).u8(3, 0x80);
    EXPECT_EQ(host(r, fw).status, 0);
    return (r.r16(0) >> 6) & 7;
  };
  auto set = [&](unsigned port, unsigned m) {
    Req r(1, 153, 20, 0);
    r.u16(0, static_cast<uint16_t>(port)).u8(3, 0x80).u16(4, static_cast<uint16_t>(m << 6));
    return host(r, fw).status;
  };
  EXPECT_EQ(mode(0), 2u);
  EXPECT_EQ(mode(1), 2u);
  EXPECT_EQ(set(1, 3), 0);
  EXPECT_EQ(mode(1), 3u);
  EXPECT_EQ(mode(0), 2u);
  EXPECT_EQ(set(1, 5), kIllegal);
  EXPECT_EQ(set(2, 3), kIllegal);
  EXPECT_EQ(mode(1), 3u);
  EXPECT_FALSE(fw.profiles().reset_needed);

  for (Gen g : {Gen::KS2, Gen::KS3, Gen::Pivard}) {
    Engine other(cfgFor(g));
    Req r(1, 152, 16, 0);
    host(r, other);
    EXPECT_EQ(r.status(), kNotSupported) << adapter::genName(g);
  }
}

// The SR-IOV rewrite changes the target's state and VF count only (the
// ports' multichannel types go to None with it); the reset makes it what the
// function's resources say.
TEST(ChannelStore, SriovRewriteOnTheProfile) {
  Engine fw(cfgFor(Gen::Veskarn));
  const std::vector<ProfileRecord> before = configuredProfile(fw);
  for (ProfileRecord& r : fw.profiles().configured)
    if (r[0] == 85) r[5] = 5;
  Req off = sriovRewrite(fw, 0, false);
  ASSERT_EQ(host(off, fw).status, 0);
  std::vector<ProfileRecord> now = configuredProfile(fw);
  ASSERT_EQ(now.size(), before.size());
  const ProfileRecord* p0 = find(now, 80, 0);
  ASSERT_NE(p0, nullptr);
  EXPECT_EQ((*p0)[12], 0);
  EXPECT_EQ(u16At(*p0, 16), 0u);
  EXPECT_EQ(*find(now, 80, 1), *find(before, 80, 1));
  EXPECT_EQ(*find(now, 81, 0), *find(before, 81, 0));
  for (const ProfileRecord& r : now) {
    if (r[0] != 85) continue;
    EXPECT_EQ(r[5], 1);
  }
  EXPECT_TRUE(fw.profiles().reset_needed);

  // Not running before the reset.
  EXPECT_TRUE(fw.limits(0).sriov);
  fw.profiles().reboot();
  adapter::applyRunningState(fw);
  EXPECT_FALSE(fw.limits(0).sriov);
  EXPECT_EQ(fw.limits(0).max_vfs, 0);
  EXPECT_TRUE(fw.limits(1).sriov);

  // Enabled again: 255 VFs is the function's maximum.
  Req on = sriovRewrite(fw, 0, true);
  ASSERT_EQ(host(on, fw).status, 0);
  fw.profiles().reboot();
  adapter::applyRunningState(fw);
  EXPECT_TRUE(fw.limits(0).sriov);
  EXPECT_EQ(fw.limits(0).max_vfs, fw.config().max_vfs);
}

// The single-function writers: fields marked unchanged (all ones, outer VLAN
// bits) keep what the function has; the rest is taken.
TEST(ChannelStore, SingleFunctionWrites) {
  Engine fw(cfgFor(Gen::Veskarn));
  ProfileRecord& stored = *std::find_if(fw.profiles().configured.begin(), fw.profiles().configured.end(),
                                        [](const ProfileRecord& r) { return r[0] == 81 && r[6] == 1; });
  stored[3] |= 0x08;   // hidden: the firmware's to say
  for (size_t f : {8, 18, 20, 28, 32, 38, 60, 62}) stored[f] = static_cast<uint8_t>(f);
  stored[36] = 7;
  stored[46] = 0x23;
  stored[47] = 0x01;
  stored[48] = 10;
  stored[52] = 90;
  const ProfileRecord kept = stored;

  // QoS of the NIC function: both shares and the port VLAN.
  ProfileRecord q = kept;
  q[3] = 0x04;
  for (size_t f : {8, 18, 20, 28, 32, 38, 60, 62}) q[f] = q[f + 1] = 0xFF;
  q[47] |= 0xF0;
  q[46] = 0;
  q[36] = 9;
  q[48] = 30;
  q[52] = 60;
  Req w = singleRecord(q);
  ASSERT_EQ(host(w, fw).status, 0);
  std::vector<ProfileRecord> profile = configuredProfile(fw);
  const ProfileRecord* now = find(profile, 81, 1);
  ASSERT_NE(now, nullptr);
  for (size_t f : {8, 18, 20, 28, 32, 38, 60, 62}) EXPECT_EQ(u16At(*now, f), f) << f;
  EXPECT_EQ(u16At(*now, 36), 9u);
  EXPECT_EQ((*now)[46], 0x23);
  EXPECT_EQ((*now)[47], 0x01);
  EXPECT_EQ(u32At(*now, 48), 30u);
  EXPECT_EQ(u32At(*now, 52), 60u);
  EXPECT_EQ((*now)[3] & 0x08, 0x08);

  // Logical link: both shares all ones keep them.
  ProfileRecord l = *now;
  l[2] = 0x80;
  l[45] |= 0x02;
  for (size_t f : {48, 49, 50, 51, 52, 53, 54, 55}) l[f] = 0xFF;
  Req w2 = singleRecord(l);
  ASSERT_EQ(host(w2, fw).status, 0);
  profile = configuredProfile(fw);
  now = find(profile, 81, 1);
  ASSERT_NE(now, nullptr);
  EXPECT_EQ((*now)[45] & 0x02, 0x02);
  EXPECT_EQ(u32At(*now, 48), 30u);
  EXPECT_EQ(u32At(*now, 52), 60u);
}

// A KS3 keeps no profiles: of a profile write it takes the SR-IOV change of a
// function (into its legacy entry) and the adapter's multichannel type.
TEST(ChannelStore, Ks3ProfileWrites) {
  Engine fw(cfgFor(Gen::KS3));
  adapter::ProfileStore& s = fw.profiles();
  ASSERT_EQ(s.legacyEntry(0)[12], 1);
  Req off = ks3Sriov(0, 0);
  ASSERT_EQ(host(off, fw).status, 0);
  EXPECT_EQ(s.legacyEntry(0)[12], 0);
  EXPECT_EQ(s.legacyEntry(0)[7], 0);
  EXPECT_EQ(s.legacyEntry(1)[12], 1);
  EXPECT_TRUE(s.reset_needed);

  // Enabling a function whose entry names no VFs gives it its maximum.
  s.legacyEntry(0)[10] = s.legacyEntry(0)[11] = 0;
  Req on = ks3Sriov(0, 1);
  ASSERT_EQ(host(on, fw).status, 0);
  EXPECT_EQ(s.legacyEntry(0)[12], 1);
  EXPECT_EQ(s.legacyEntry(0)[7], 1);
  EXPECT_EQ(s.legacyEntry(0)[10] | s.legacyEntry(0)[11] << 8, fw.config().max_vfs);

  // A storage function (not applicable) or one without an entry: refused, nothing taken.
  const std::vector<uint8_t> table = s.legacy;
  for (unsigned pf : {2u, 9u}) {
    Req bad = ks3Sriov(pf, 1);
    EXPECT_EQ(host(bad, fw).status, kIllegal) << pf;
  }
  EXPECT_EQ(s.legacy, table);

  // A personality record is a command a KS3 lacks.
  Req persona(1, 165, 22624, 1);
  persona.u32(4, 1).u8(8, 80).u8(9, 88).u8(11, 0x80).u8(14, 2).u8(21, 1).u8(22, 2);
  host(persona, fw);
  EXPECT_EQ(persona.status(), kNotSupported);
  EXPECT_EQ(persona.additional(), kNotSupportedAdd);

  // The multichannel type of a port record is the adapter's: every port takes it.
  ProfileRecord port(88, 0);
  port[0] = 85;
  port[1] = 88;
  port[5] = 5;
  Req mc = singleRecord(port);
  ASSERT_EQ(host(mc, fw).status, 0);
  unsigned ports = 0;
  for (const ProfileRecord& r : s.configured) {
    ASSERT_EQ(r[0], 85);
    EXPECT_EQ(r[5], 5);
    EXPECT_EQ(u16At(r, 12), 2u) << "the counts stay";
    ++ports;
  }
  EXPECT_EQ(ports, 2u);
  for (const ProfileRecord& r : s.active) {
    EXPECT_EQ(r[5], 1);
  }
}

// The legacy table's SR-IOV byte (1092-byte form) is what the functions run
// with after the reset.
TEST(ChannelStore, LegacySriovRoad) {
  Engine fw(cfgFor(Gen::KS3));
  Req get(1, 81, 1092, 1);
  ASSERT_EQ(host(get, fw).status, 0);
  EXPECT_EQ(get.r8(4 + 68 + 12), 1);
  Req set(1, 82, 1092, 1);
  set.bytes(0, get.b.data() + 16, 1092);
  set.u8(4 + 68 + 12, 0);
  ASSERT_EQ(host(set, fw).status, 0);
  EXPECT_EQ(fw.profiles().legacyEntry(1)[12], 0);
  EXPECT_TRUE(fw.limits(1).sriov);
  fw.profiles().reboot();
  adapter::applyRunningState(fw);
  EXPECT_FALSE(fw.limits(1).sriov);
  EXPECT_EQ(fw.limits(1).max_vfs, 0);
  EXPECT_TRUE(fw.limits(0).sriov);
  EXPECT_EQ(fw.limits(0).max_vfs, fw.config().max_vfs);
}

class ChannelFlash : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = fwtest::freshTempPath("emchannel");
    ASSERT_FALSE(path_.empty());
  }
  void TearDown() override { std::remove(path_.c_str()); }
  EngineConfig cfg(Gen g) {
    EngineConfig c = cfgFor(g);
    c.flash_file = path_;
    return c;
  }
  // The driver's profile query (mailbox) of a function: SR-IOV state and VF
  // count of its PCIe descriptor.
  static std::pair<uint8_t, unsigned> driverSees(Engine& fw, unsigned fn) {
    Req r(1, 164, 22620, fw.gen() == Gen::Pivard ? 0 : 1);
    r.u8(1, 2);
    EXPECT_EQ(r.run(fw, fn).status, 0);
    for (size_t off = 4, i = 0; i < r.r32(0); ++i, off += 88)
      if (r.r8(off) == 0x50) return {r.r8(off + 12), r.r16(off + 16)};
    ADD_FAILURE() << "no PCIe descriptor";
    return {0xFF, 0};
  }
  std::string path_;
};

// What the host's SR-IOV writes store is what a driver booting from the
// flash file reads; the multichannel, QoS and forwarding state travels too.
TEST_F(ChannelFlash, LaterEngineRunsWhatTheHostWrote) {
  {
    Engine fw(cfg(Gen::Veskarn));
    Req off = sriovRewrite(fw, 1, false);
    ASSERT_EQ(host(off, fw).status, 0);
    Req bytes(1, 28, 36, 0);
    bytes.u32(0, 0x40).u32(16, 2048);
    ASSERT_EQ(host(bytes, fw, 1).status, 0);
    Req fwd(1, 153, 20, 0);
    fwd.u16(0, 1).u8(3, 0x80).u16(4, 3 << 6);
    ASSERT_EQ(host(fwd, fw).status, 0);
    fw.profiles().vnics[0].name = "blue";
    fw.profiles().capabilities = 0x41;
    ASSERT_TRUE(fw.flashChanged());
    EXPECT_EQ(driverSees(fw, 1), std::make_pair(uint8_t{1}, unsigned{fw.config().max_vfs}));
  }
  Engine later(cfg(Gen::Veskarn));
  ASSERT_TRUE(later.bootedFromFlash());
  EXPECT_EQ(driverSees(later, 1), std::make_pair(uint8_t{0}, 0u));
  EXPECT_EQ(driverSees(later, 0), std::make_pair(uint8_t{1}, unsigned{later.config().max_vfs}));
  const adapter::ProfileStore& s = later.profiles();
  EXPECT_EQ(s.qos.at(1).max_bytes, 2048u);
  EXPECT_EQ(s.forwarding.at(1), adapter::kForwardVepa);
  EXPECT_EQ(s.vnics.at(0).name, "blue");
  EXPECT_EQ(s.vnics.at(1).name, "vNIC1");
  EXPECT_EQ(s.capabilities, 0x41u);
}

TEST_F(ChannelFlash, LegacyGenerations) {
  {
    Engine ks3(cfg(Gen::KS3));
    Req off = ks3Sriov(0, 0);
    ASSERT_EQ(host(off, ks3).status, 0);
  }
  Engine later(cfg(Gen::KS3));
  ASSERT_TRUE(later.bootedFromFlash());
  EXPECT_EQ(driverSees(later, 0), std::make_pair(uint8_t{0}, 0u));
  EXPECT_EQ(driverSees(later, 1), std::make_pair(uint8_t{1}, unsigned{later.config().max_vfs}));
  std::remove(path_.c_str());

  // Pivard: the common configuration's SR-IOV byte.
  {
    EngineConfig c = cfg(Gen::Pivard);
    adapter::ProfileStore s = adapter::defaultProfileStore(c);
    s.common[1][12] = 0;
    ASSERT_TRUE(adapter::saveFlash(s, Gen::Pivard, path_));
  }
  Engine pivard(cfg(Gen::Pivard));
  ASSERT_TRUE(pivard.bootedFromFlash());
  EXPECT_TRUE(pivard.limits(0).sriov);
  EXPECT_FALSE(pivard.limits(1).sriov);
}

}  // namespace
