// The profile store seen from the management library's process (32-bit,
// emulated host): the library's command layer writes a personality change,
// the flash file holds it, and a later adapter (a fresh engine, or the next
// emulated host) boots from it. Also the statuses the command layer makes of
// the store's answers.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "backend/orsa_ioctl_wrappers.h"
#include "channel_fixture.h"
#include "fw_profile.h"
#include "temp_path.h"

namespace channel_test {
namespace {

constexpr uint32_t kVeskarnNic = 3;   // controller 1's first NIC function
constexpr uint32_t kKs3Nic = 1;
constexpr size_t kVeskarn = 1;        // adapter index in the default host

std::vector<uint8_t> personalityRequest(uint8_t type) {
  std::vector<uint8_t> req(22624, 0);
  req[4] = 2;
  for (size_t i = 0; i < 2; ++i) {
    uint8_t* r = req.data() + 8 + 88 * i;
    r[0] = 80;
    r[1] = 88;
    r[3] = 0x80;
    r[6] = static_cast<uint8_t>(2 + i);
    r[13] = 1;
    r[14] = type;
  }
  return req;
}

class LibraryFlash : public ChannelTest {
 protected:
  void SetUp() override {
    path_ = fwtest::freshTempPath("libflash");
    ASSERT_FALSE(path_.empty());
    spec_ = chardev::defaultHost();
    spec_.adapters[kVeskarn].flash_file = path_;
    startHost(spec_);
  }
  void TearDown() override {
    ChannelTest::TearDown();
    std::remove(path_.c_str());
  }
  std::vector<uint8_t> file() const {
    std::ifstream in(path_, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  std::string path_;
  chardev::HostSpec spec_;
};

// Sections of a flash file: (tag, offset of the payload, payload length).
struct Section {
  uint16_t tag;
  size_t at, len;
};
std::vector<Section> sectionsOf(const std::vector<uint8_t>& f) {
  std::vector<Section> out;
  size_t off = 16;
  for (uint32_t i = 0; i < le32(f, 12); ++i) {
    Section s{le16(f, off), off + 8, le32(f, off + 4)};
    out.push_back(s);
    off = s.at + s.len;
  }
  EXPECT_EQ(off, f.size());
  return out;
}

TEST_F(LibraryFlash, PersonalityChangeWrittenAndBootedFrom) {
  std::vector<uint8_t> req = personalityRequest(2);
  ASSERT_EQ(ioctl_set_profile_config(orsa_nic_port(kVeskarnNic), req.data(), 22624, 0, 0), 0u);
  uint8_t needed[4] = {};
  ASSERT_EQ(ioctl_get_reset_needed(orsa_nic_port(kVeskarnNic), needed, 0, 0), 0u);
  EXPECT_EQ(needed[0], 1);

  // The file: header, sections in their order, the configured records.
  std::vector<uint8_t> f = file();
  ASSERT_GE(f.size(), 16u);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "EMFL");
  EXPECT_EQ(le16(f, 4), 1) << "version";
  EXPECT_EQ(f[6], 3) << "generation";
  EXPECT_EQ(f[7], 0);
  EXPECT_EQ(le32(f, 8), f.size());
  std::vector<Section> secs = sectionsOf(f);
  std::vector<uint16_t> tags;
  for (const Section& s : secs) tags.push_back(s.tag);
  EXPECT_EQ(tags, (std::vector<uint16_t>{1, 2, 2, 2, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 20}));
  // ids: next profile 1, factory 1, max function 7 (next and default), changeable, links 1 and 1.
  const Section& ids = secs[0];
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + long(ids.at), f.begin() + long(ids.at + ids.len)),
            (std::vector<uint8_t>{1, 0, 1, 7, 7, 1, 1, 1}));
  const Section& cfg = secs[5];
  size_t off = cfg.at + 2;
  unsigned storage = 0;
  for (unsigned i = 0; i < le16(f, cfg.at); ++i) {
    size_t len = le16(f, off);
    const uint8_t* r = f.data() + off + 2;
    ASSERT_EQ(len, 88u);
    ASSERT_EQ(r[1], 88);
    if (r[0] == 80 && (r[6] == 2 || r[6] == 3)) {
      ++storage;
      EXPECT_EQ(r[3] & 0x80, 0) << "the stored record keeps its own flags";
      EXPECT_EQ(r[13], 1);
      EXPECT_EQ(r[14], 2);
      EXPECT_EQ(r[20], 0x6) << "mission roles kept";
    }
    off += 2 + len;
  }
  EXPECT_EQ(storage, 2u);

  // A fresh engine of the other flavour's kind boots from the same bytes.
  adapter::EngineConfig ec = adapter::engineDefaults(adapter::Gen::Veskarn, 2);
  ec.flash_file = path_;
  adapter::Engine fresh(ec);
  ASSERT_TRUE(fresh.bootedFromFlash());
  EXPECT_EQ(fresh.profiles().configuredPersonality(adapter::Gen::Veskarn), "iSCSI");
  EXPECT_EQ(fresh.profiles().active, host_->engine(kVeskarn).profiles().configured);

  // The next emulated host (the machine rebooted): the active profile reads iSCSI.
  startHost(spec_);
  std::vector<uint8_t> prof(22620, 0);
  prof[1] = 2;
  ASSERT_EQ(ioctl_get_profile_config(orsa_nic_port(kVeskarnNic), prof.data(), 22620, 0, 0), 0u);
  bool iscsi = false;
  size_t at = 4;
  for (unsigned i = 0; i < le16(prof, 0); ++i) {
    if (prof[at] == 80 && prof[at + 6] == 2) iscsi = prof[at + 13] == 1 && prof[at + 14] == 2;
    at += prof[at + 1];
  }
  EXPECT_TRUE(iscsi);
  std::vector<uint8_t> conf(16 + 8, 0);
  ASSERT_EQ(ioctl_get_configured_personality(orsa_nic_port(kVeskarnNic), conf.data(), 8, 0, 0), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(conf.data() + 16)), "iSCSI");
  ASSERT_EQ(ioctl_get_reset_needed(orsa_nic_port(kVeskarnNic), needed, 0, 0), 0u);
  EXPECT_EQ(needed[0], 0);
}

TEST_F(LibraryFlash, RebootStepMakesTheNextProfileRun) {
  uint8_t sel[4] = {3, 0, 0, 0};
  ASSERT_EQ(ioctl_set_active_profile(orsa_nic_port(kVeskarnNic), sel, 0, 0), 0u);
  uint8_t ids[4] = {};
  ASSERT_EQ(ioctl_get_active_profile(orsa_nic_port(kVeskarnNic), ids, 0, 0), 0u);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[2], 3);
  host_->rebootAdapter(kVeskarn);
  ASSERT_EQ(ioctl_get_active_profile(orsa_nic_port(kVeskarnNic), ids, 0, 0), 0u);
  EXPECT_EQ(ids[0], 3);
  EXPECT_EQ(host_->engine(kVeskarn).profiles().active, host_->engine(kVeskarn).profiles().listed[2].records);
}

// What the command layer makes of the store's answers.
TEST_F(LibraryFlash, CommandLayerStatuses) {
  struct Case {
    const char* name;
    uint32_t (*call)();
    uint32_t result;
  };
  const Case cases[] = {
      {"169 answers 30: needs reboot",
       [] {
         uint8_t p[4] = {0, 1, 0, 0};
         return ioctl_set_factory_profile_config_v1(orsa_nic_port(kVeskarnNic), p, 0, 0);
       },
       55},
      {"erase NIC configuration answers 44: needs reboot",
       [] {
         uint8_t p[20] = {3, 0, 0, 0, 14};
         return ioctl_erase_ROM(orsa_nic_port(kVeskarnNic), p, 0, 0);
       },
       55},
      {"erase port configuration answers 0",
       [] {
         uint8_t p[20] = {3, 0, 0, 0, 15};
         return ioctl_erase_ROM(orsa_nic_port(kVeskarnNic), p, 0, 0);
       },
       0},
      {"KS3 has no profiles: not supported",
       [] {
         std::vector<uint8_t> p(22620, 0);
         p[1] = 2;
         return ioctl_get_profile_config(orsa_nic_port(kKs3Nic), p.data(), 22620, 0, 0);
       },
       213},
      {"KS3 has no factory profile: not supported",
       [] {
         uint8_t p[4] = {0, 1, 0, 0};
         return ioctl_set_factory_profile_config_v1(orsa_nic_port(kKs3Nic), p, 0, 0);
       },
       213},
      {"unknown profile id: refused",
       [] {
         uint8_t p[4] = {9, 0, 0, 0};
         return ioctl_set_active_profile(orsa_nic_port(kVeskarnNic), p, 0, 0);
       },
       1},
  };
  for (const Case& k : cases) EXPECT_EQ(k.call(), k.result) << k.name;
}

}  // namespace
}  // namespace channel_test
