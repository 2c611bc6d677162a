// The firmware's NC-SI attributes, OEM execution configuration, boot
// configuration and VF parameters: the commands at their byte offsets, and
// what the flash file keeps of them.
#include <gtest/gtest.h>

#include <cstdio>

#include "fw_cfg_boot.h"
#include "fw_cmd.h"
#include "fw_engine.h"
#include "fw_profile.h"
#include "temp_path.h"

namespace {

using adapter::Carrier;
using adapter::Engine;
using adapter::Gen;
using fwtest::Req;

std::vector<uint8_t> payload(const Req& r, size_t n) { return std::vector<uint8_t>(r.b.begin() + 16, r.b.begin() + 16 + n); }

Req oemRead() { return Req(21, 4, 48); }

TEST(FwCfgBoot, OemExecutionConfigurationWritesCarryBitSevenOfByteThree)
{
  Engine fw(adapter::engineDefaults(Gen::KS3, 2));
  Req r = oemRead();
  r.run(fw, 1, Carrier::Ioctl);
  EXPECT_EQ(r.status(), 0);
  EXPECT_EQ(payload(r, 48), std::vector<uint8_t>(48, 0));

  struct Step {
    const char* what;
    std::vector<std::pair<size_t, uint8_t>> bytes;   // the request's non-zero bytes
    std::vector<std::pair<size_t, uint8_t>> kept;    // what a read answers afterwards (non-zero bytes)
  } steps[] = {
      {"address write", {{0, 1}, {3, 0x80}, {4, 2}, {9, 7}, {12, 5}, {14, 3}},
       {{0, 1}, {4, 2}, {9, 7}}},
      {"VLAN write", {{0, 2}, {3, 0x80}, {4, 9}, {12, 0xFF}, {13, 0x0F}, {14, 7}, {15, 0x80}},
       {{0, 3}, {4, 2}, {9, 7}, {12, 0xFF}, {13, 0x0F}, {14, 7}, {15, 0x80}}},
      // Valid bits and fields, but byte 3 bit 7 clear: a read, nothing changes.
      {"read with fields", {{0, 3}, {4, 0x55}, {12, 1}, {14, 1}},
       {{0, 3}, {4, 2}, {9, 7}, {12, 0xFF}, {13, 0x0F}, {14, 7}, {15, 0x80}}},
      {"write naming no field", {{3, 0x80}, {4, 0x55}, {12, 1}},
       {{0, 3}, {4, 2}, {9, 7}, {12, 0xFF}, {13, 0x0F}, {14, 7}, {15, 0x80}}},
  };
  for (const Step& s : steps) {
    Req w(21, 4, 48);
    for (auto [at, v] : s.bytes) w.u8(at, v);
    w.run(fw, 1, Carrier::Ioctl);
    EXPECT_EQ(w.status(), 0) << s.what;
    Req rd = oemRead();
    rd.run(fw, 1, Carrier::Ioctl);
    std::vector<uint8_t> want(48, 0);
    for (auto [at, v] : s.kept) want[at] = v;
    EXPECT_EQ(payload(rd, 48), want) << s.what;
  }
  // Per function: function 0 kept nothing.
  Req other = oemRead();
  other.run(fw, 0, Carrier::Ioctl);
  EXPECT_EQ(payload(other, 48), std::vector<uint8_t>(48, 0));
  // Shorter than the configuration: malformed.
  Req shortReq(21, 4, 40);
  shortReq.run(fw, 1, Carrier::Ioctl);
  EXPECT_EQ(shortReq.status(), adapter::kStatusIllegalField);
}

TEST(FwCfgBoot, NcsiAttributesAndTheUserBlock)
{
  Engine fw(adapter::engineDefaults(Gen::KS2, 2));
  Req r(1, 86, 72);
  r.run(fw, 0, Carrier::Ioctl);
  ASSERT_EQ(r.status(), 0);
  EXPECT_EQ(r.r8(0), 1);
  // The factory and user blocks start alike; the port 0 address is function 0's.
  std::array<uint8_t, 6> mac = fw.permanentMac(0);
  EXPECT_EQ(payload(r, 72)[8 + 5], mac[0]);
  EXPECT_EQ(payload(r, 72)[8 + 10], mac[5]);
  EXPECT_EQ(std::vector<uint8_t>(r.b.begin() + 16 + 8, r.b.begin() + 16 + 40),
            std::vector<uint8_t>(r.b.begin() + 16 + 40, r.b.begin() + 16 + 72));

  Req w(1, 87, 32);
  for (size_t i = 0; i < 32; ++i) w.u8(i, static_cast<uint8_t>(i + 1));
  w.run(fw, 0, Carrier::Ioctl);
  EXPECT_EQ(w.status(), 0);
  std::array<uint8_t, 72> now = adapter::ncsiAttributes(fw);
  for (size_t i = 0; i < 32; ++i) EXPECT_EQ(now[40 + i], i + 1);
  EXPECT_EQ(now[8 + 11], 1);   // the factory block stays

  // NC-SI off: the user block is not taken.
  now[0] = 0;
  adapter::setNcsiAttributes(fw, now);
  w.run(fw, 0, Carrier::Ioctl);
  EXPECT_EQ(w.status(), adapter::kStatusFailed);

  Engine piv(adapter::engineDefaults(Gen::Pivard, 2));
  r.run(piv, 0, Carrier::Ioctl);
  EXPECT_EQ(r.status(), adapter::kStatusNotSupported);
  EXPECT_EQ(r.additional(), 30);
}

TEST(FwCfgBoot, TheFlashFileKeepsEverySetting)
{
  std::string path = fwtest::freshTempPath("cfgboot");
  ASSERT_FALSE(path.empty());
  adapter::EngineConfig cfg = adapter::engineDefaults(Gen::Veskarn, 2);
  cfg.flash_file = path;
  std::array<uint8_t, 72> ncsi{};
  ncsi[0] = 1;
  ncsi[40 + 20] = 42;
  std::array<uint8_t, 48> oem{};
  oem[0] = 2;
  oem[12] = 10;
  {
    Engine fw(cfg);
    adapter::setNcsiAttributes(fw, ncsi);
    adapter::setOemExecConfig(fw, 1, oem);
    adapter::keepBootConfig(fw, 1, {0, 0, 1, 0, 0, 0, 0, 0});
    adapter::setVfParams(fw, 0, 3, {{0x02, 1, 2, 3, 4, 5}, 17, 25, 0});
  }
  Engine again(cfg);
  ASSERT_TRUE(again.bootedFromFlash());
  EXPECT_EQ(adapter::ncsiAttributes(again), ncsi);
  EXPECT_EQ(adapter::oemExecConfig(again, 1), oem);
  EXPECT_EQ(adapter::keptBootConfig(again, 1), (std::array<uint8_t, 8>{0, 0, 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(adapter::keptBootConfig(again, 0), (std::array<uint8_t, 8>{1, 0, 0, 1, 0, 0, 0, 0}));
  adapter::VfParams v = adapter::vfParams(again, 0, 3);
  EXPECT_EQ(v.mac, (std::array<uint8_t, 6>{0x02, 1, 2, 3, 4, 5}));
  EXPECT_EQ(v.vlan, 17);
  EXPECT_EQ(v.rate, 25);
  EXPECT_EQ(v.link, 0);
  std::remove(path.c_str());

  // A section cut short is no flash file of this firmware.
  adapter::CfgBootStore s;
  s.vfs[{0, 1}] = v;
  std::vector<uint8_t> b = adapter::encodeCfgBoot(s);
  adapter::CfgBootStore out;
  EXPECT_TRUE(adapter::decodeCfgBoot(b.data(), b.size(), &out));
  EXPECT_EQ(out.vfs.size(), 1u);
  for (size_t cut : {size_t(0), size_t(10), b.size() - 1})
    EXPECT_FALSE(adapter::decodeCfgBoot(b.data(), cut, &out)) << cut;
}

}  // namespace
