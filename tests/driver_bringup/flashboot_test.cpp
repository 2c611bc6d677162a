// An adapter that boots from its flash file: what the management library
// configured before the emulated reboot (permanent MAC, the port's
// multichannel type, the SR-IOV state and VF count) is what the driver finds at attach.
#include <cstdio>
#include <fstream>

#include "../adapter/temp_path.h"
#include "bringup_fixture.h"
#include "fw_profile.h"

namespace {

// The fixture flash file (Veskarn, version 1): the ids, a configured profile
// of one port record (port 0, multichannel type 4) and the permanent MAC of
// function 0.
std::vector<uint8_t> fixtureFile() {
  std::vector<uint8_t> f = {
      'E', 'M', 'F', 'L', 0x01, 0x00, 0x03, 0x00, 0x96, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
      // ids: next profile 1, factory 1, max function 7/7, changeable, links 1/1
      0x01, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x07, 0x07, 0x01, 0x01, 0x01,
      // configured profile: one record of 88 bytes
      0x03, 0x00, 0x00, 0x00, 0x5C, 0x00, 0x00, 0x00, 0x01, 0x00, 0x58, 0x00,
      0x55, 0x58, 0x00, 0x00, 0x00, 0x04};
  f.insert(f.end(), 88 - 6, 0);
  const uint8_t macs[] = {0x08, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x01, 0x00,
                          0x00, 0x00, 0x02, 0x00, 0x5E, 0xF1, 0xA5, 0x01};
  f.insert(f.end(), macs, macs + sizeof macs);
  return f;
}

class FlashBootTest : public BringupTest {
 protected:
  void SetUp() override {
    BringupTest::SetUp();
    path_ = fwtest::freshTempPath("flashboot");
    ASSERT_FALSE(path_.empty());
  }
  void TearDown() override {
    std::remove(path_.c_str());
    BringupTest::TearDown();
  }
  // One entry per adapter: each row plugs a card of its own.
  std::string options() override { return "max_vfs=8,8"; }
  std::string path_;
};

TEST_F(FlashBootTest, AttachSeesWhatTheFlashKept) {
  struct Row {
    const char* name;
    bool file;
    std::array<uint8_t, 6> mac;
    unsigned vfs;
    size_t mc_notice;
  };
  const adapter::EngineConfig factory = adapter::engineDefaults(adapter::Gen::Veskarn, 1);
  const Row rows[] = {
      {"FromTheFile", true, {0x02, 0x00, 0x5E, 0xF1, 0xA5, 0x01}, 0, 1},
      {"NoFile", false, factory.base_mac, 8, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::remove(path_.c_str());
    if (r.file) {
      std::vector<uint8_t> bytes = fixtureFile();
      ASSERT_EQ(bytes.size(), 0x96u);
      std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                   static_cast<std::streamsize>(bytes.size()));
    }
    adapter::AdapterConfig cfg;
    cfg.fw = factory;
    cfg.fw.flash_file = path_;
    adapter::Adapter& card = newCard(cfg);
    {
      std::lock_guard<std::mutex> g(card.lock());
      ASSERT_EQ(r.file, card.engine().bootedFromFlash());
    }
    vmk_Device dev = plug(card);
    const size_t before = logged("VFs cannot be enabled in multi-channel mode");
    ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
    EXPECT_EQ(0, memcmp(r.mac.data(), adapterOf(dev)->uplink_reg.perm_mac, 6));
    EXPECT_EQ(r.vfs, adapterOf(dev)->num_vfs);
    EXPECT_EQ(r.mc_notice, logged("VFs cannot be enabled in multi-channel mode") - before);
    EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev));
    unplug(dev);
  }
}

}  // namespace

// The SR-IOV state the management library writes into the configured profile
// (state at byte 12, VF count at 16 of the function's PCIe record; 255: as
// many as the function may have) is the VF limit the driver attaches with.
class FlashBootVfTest : public FlashBootTest {
 protected:
  std::string options() override { return "max_vfs=8,8,8"; }
};

TEST_F(FlashBootVfTest, VfLimitFromTheKeptProfile) {
  struct Row {
    const char* name;
    uint8_t state;
    uint16_t vfs;
    unsigned want;
  };
  const Row rows[] = {
      {"Disabled", 0, 0, 0},
      {"FourVfs", 1, 4, 4},
      {"AsManyAsItMayHave", 1, 255, 8},   // the 8 asked for, below the adapter's 63
  };
  const adapter::EngineConfig factory = adapter::engineDefaults(adapter::Gen::Veskarn, 1);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    adapter::ProfileStore kept = adapter::defaultProfileStore(factory);
    bool found = false;
    for (adapter::ProfileRecord& rec : kept.configured) {
      if (rec[0] != adapter::kRecPcie || adapter::recordPf(rec) != 0) continue;
      rec[12] = r.state;
      rec[16] = static_cast<uint8_t>(r.vfs);
      rec[17] = static_cast<uint8_t>(r.vfs >> 8);
      found = true;
    }
    ASSERT_TRUE(found);
    ASSERT_TRUE(adapter::saveFlash(kept, adapter::Gen::Veskarn, path_));
    adapter::AdapterConfig cfg;
    cfg.fw = factory;
    cfg.fw.flash_file = path_;
    adapter::Adapter& card = newCard(cfg);
    vmk_Device dev = plug(card);
    ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
    EXPECT_EQ(r.want, adapterOf(dev)->num_vfs);
    EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev));
    unplug(dev);
  }
}
