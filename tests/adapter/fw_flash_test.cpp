// The emulated flash file: its bytes, what a later engine boots from, and
// the files it refuses (a refused file leaves the factory state).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "fw_cmd.h"
#include "fw_engine.h"
#include "fw_profile.h"
#include "temp_path.h"

namespace {

using adapter::Carrier;
using adapter::Engine;
using adapter::EngineConfig;
using adapter::Gen;
using adapter::ProfileStore;
using fwtest::Req;

// Little-endian bytes assembled by hand, after the file's documented layout.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& u8(uint8_t v) { b.push_back(v); return *this; }
  Bytes& u16(uint16_t v) { return u8(uint8_t(v)).u8(uint8_t(v >> 8)); }
  Bytes& u32(uint32_t v) { return u16(uint16_t(v)).u16(uint16_t(v >> 16)); }
  Bytes& str(const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& zeros(size_t n) {
    b.insert(b.end(), n, 0);
    return *this;
  }
  Bytes& section(uint16_t tag, const Bytes& body) {
    u16(tag).u16(0).u32(static_cast<uint32_t>(body.b.size()));
    b.insert(b.end(), body.b.begin(), body.b.end());
    return *this;
  }
};

std::vector<uint8_t> fileOf(Gen g, uint32_t sections, const Bytes& body, uint16_t version = 1) {
  Bytes f;
  f.str("EMFL").u16(version).u8(static_cast<uint8_t>(g)).u8(0);
  f.u32(static_cast<uint32_t>(16 + body.b.size())).u32(sections);
  f.b.insert(f.b.end(), body.b.begin(), body.b.end());
  return f.b;
}

class FlashFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = fwtest::freshTempPath("emflash");
    ASSERT_FALSE(path_.empty());
  }
  void TearDown() override { std::remove(path_.c_str()); }
  EngineConfig cfg(Gen g) {
    EngineConfig c = adapter::engineDefaults(g, 2);
    c.flash_file = path_;
    return c;
  }
  std::vector<uint8_t> read() const {
    std::ifstream in(path_, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  void write(const std::vector<uint8_t>& bytes) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::string path_;
};

// A store with almost nothing in it, byte for byte.
TEST_F(FlashFile, BytesOfASmallStore) {
  ProfileStore s;
  s.next_id = 0x0203;
  s.factory_profile = 4;
  s.ari = {9, 7, 7, true};
  s.link = {1, 2, 1};
  s.available_personalities = "NIC";
  s.legacy_count = 1;
  s.legacyEntry(0)[4] = 2;
  s.permanent_macs[1] = {0x02, 0x1C, 0x4E, 0xAA, 0xBB, 0xCC};
  s.regions["/nicdata/Port0/Partition0/Region1"] = {1, 2, 3};

  Bytes body;
  body.section(1, Bytes().u16(0x0203).u8(4).u8(9).u8(7).u8(1).u8(2).u8(1));
  body.section(3, Bytes().u16(0));
  body.section(4, Bytes().u16(0));
  body.section(5, Bytes().u16(3).str("NIC").u16(0));
  body.section(6, Bytes().u32(1).zeros(4).u8(2).zeros(16 * 68 - 5));
  body.section(7, Bytes().u16(0));
  body.section(8, Bytes().u16(1).u16(1).u8(0x02).u8(0x1C).u8(0x4E).u8(0xAA).u8(0xBB).u8(0xCC));
  body.section(9, Bytes().u16(33).str("/nicdata/Port0/Partition0/Region1").u32(3).u8(1).u8(2).u8(3));
  // A file of the first firmware (without the multichannel, QoS, switch and
  // link sections) is what the decode below reads; this firmware writes
  // those sections after the others.
  std::vector<uint8_t> want = fileOf(Gen::KS3, 8, body);
  Bytes now = body;
  now.section(10, Bytes().u16(0));
  now.section(11, Bytes().u16(0));
  now.section(12, Bytes().u32(0).u16(0));
  now.section(20, Bytes().u16(0));
  EXPECT_EQ(adapter::encodeFlash(s, Gen::KS3), fileOf(Gen::KS3, 12, now));

  ProfileStore back;
  back.available_personalities = "changed";
  ASSERT_TRUE(adapter::decodeFlash(want, Gen::KS3, &back));
  EXPECT_EQ(back.next_id, 0x0203);
  EXPECT_EQ(back.ari.next_max_pf, 9);
  EXPECT_EQ(back.link.next, 2);
  EXPECT_EQ(back.available_personalities, "NIC");
  EXPECT_EQ(back.legacy, s.legacy);
  EXPECT_EQ(back.permanent_macs, s.permanent_macs);
  EXPECT_EQ(back.regions, s.regions);
}

// A change the host makes is in the file at once; a later engine boots from
// it with the configured state running.
TEST_F(FlashFile, LaterEngineBootsFromIt) {
  {
    Engine fw(cfg(Gen::Veskarn));
    EXPECT_FALSE(fw.bootedFromFlash());
    Req w(1, 165, 22624, 1);
    w.u32(4, 1).u8(8, 80).u8(9, 88).u8(11, 0x80).u8(14, 2).u8(21, 1).u8(22, 2);
    ASSERT_EQ(w.run(fw, 0, Carrier::Ioctl).status, 0);
    Req ari(1, 95, 4);
    ari.u8(0, 15);
    ASSERT_EQ(ari.run(fw, 0, Carrier::Ioctl).status, 0);
  }
  std::vector<uint8_t> file = read();
  ASSERT_GE(file.size(), 16u);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "EMFL");
  EXPECT_EQ(file[4] | file[5] << 8, 1);
  EXPECT_EQ(file[6], static_cast<uint8_t>(Gen::Veskarn));

  Engine later(cfg(Gen::Veskarn));
  ASSERT_TRUE(later.bootedFromFlash());
  const ProfileStore& s = later.profiles();
  EXPECT_FALSE(s.reset_needed);
  EXPECT_EQ(s.active, s.configured);
  EXPECT_EQ(s.ari.active_max_pf, 15);
  bool found = false;
  for (const adapter::ProfileRecord& r : s.active)
    if (r[0] == 80 && adapter::recordPf(r) == 2) found = r[13] == 1 && r[14] == 2 && r[20] == 0x6;
  EXPECT_TRUE(found) << "function 2 presents iSCSI after the reset";
  Req p(1, 114, 8);
  ASSERT_EQ(p.run(later, 0, Carrier::Ioctl).status, 0);
  EXPECT_EQ(p.rtext(0, 8), "iSCSI");
}

TEST_F(FlashFile, PermanentMacFromTheFile) {
  Bytes body;
  body.section(8, Bytes().u16(1).u16(0).u8(0x02).u8(0x00).u8(0x5E).u8(0x10).u8(0x20).u8(0x30));
  write(fileOf(Gen::KS3, 1, body));
  Engine fw(cfg(Gen::KS3));
  ASSERT_TRUE(fw.bootedFromFlash());
  EXPECT_EQ(fw.permanentMac(0), (std::array<uint8_t, 6>{0x02, 0x00, 0x5E, 0x10, 0x20, 0x30}));
  std::array<uint8_t, 6> own = adapter::engineDefaults(Gen::KS3, 2).base_mac;
  own[5] = static_cast<uint8_t>(own[5] + 1);
  EXPECT_EQ(fw.permanentMac(1), own) << "a function the file names no MAC for keeps its own";
  // What the file leaves out stays as the factory made it.
  EXPECT_EQ(fw.profiles().legacy_count, 4u);
}

TEST_F(FlashFile, RefusedFilesLeaveTheFactoryState) {
  Bytes ids;
  ids.section(1, Bytes().u16(3).u8(1).u8(15).u8(7).u8(1).u8(1).u8(1));
  std::vector<uint8_t> good = fileOf(Gen::Veskarn, 1, ids);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"newer version", fileOf(Gen::Veskarn, 1, ids, 2)});
  cases.push_back({"version 0", fileOf(Gen::Veskarn, 1, ids, 0)});
  cases.push_back({"other generation", fileOf(Gen::KS3, 1, ids)});
  std::vector<uint8_t> magic = good;
  magic[0] = 'X';
  cases.push_back({"magic", magic});
  std::vector<uint8_t> cut(good.begin(), good.end() - 1);
  cases.push_back({"cut short", cut});
  cases.push_back({"more sections than bytes", fileOf(Gen::Veskarn, 2, ids)});
  Bytes shortRec;
  shortRec.section(3, Bytes().u16(1).u16(4).u8(80).u8(4).u8(0).u8(0));
  cases.push_back({"record shorter than its head", fileOf(Gen::Veskarn, 1, shortRec)});
  Bytes shortBody;
  shortBody.section(1, Bytes().u16(3));
  cases.push_back({"section shorter than its fields", fileOf(Gen::Veskarn, 1, shortBody)});
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    write(k.bytes);
    Engine fw(cfg(Gen::Veskarn));
    EXPECT_FALSE(fw.bootedFromFlash());
    EXPECT_EQ(fw.profiles().next_id, 1);
    EXPECT_EQ(fw.profiles().ari.active_max_pf, 7);
  }
  // A section of a later version is passed over.
  Bytes later = ids;
  later.section(200, Bytes().u32(0xDEADBEEF));
  write(fileOf(Gen::Veskarn, 2, later));
  Engine fw(cfg(Gen::Veskarn));
  ASSERT_TRUE(fw.bootedFromFlash());
  EXPECT_EQ(fw.profiles().active_id, 3);
  EXPECT_EQ(fw.profiles().ari.active_max_pf, 15);
}

// Configuration regions are the flash objects under /nicdata/; other
// objects (a firmware dump) are not kept.
TEST_F(FlashFile, RegionsTravelAsObjects) {
  const std::vector<uint8_t> region = {0x10, 0x00, 0x07, 0x02, 0xAA};
  {
    Engine fw(cfg(Gen::Veskarn));
    fw.putObject("/nicdata/Port1/Partition0/Region1", region);
    fw.putObject("/dbg/other.bin", {1, 2, 3});
    ASSERT_TRUE(fw.flashChanged());
  }
  Engine later(cfg(Gen::Veskarn));
  ASSERT_TRUE(later.bootedFromFlash());
  ASSERT_NE(later.object("/nicdata/Port1/Partition0/Region1"), nullptr);
  EXPECT_EQ(*later.object("/nicdata/Port1/Partition0/Region1"), region);
  EXPECT_FALSE(later.hasObject("/dbg/other.bin"));
  // A region erased from the objects leaves the file at the next write.
  later.eraseObject("/nicdata/Port1/Partition0/Region1");
  ASSERT_TRUE(later.flashChanged());
  Engine third(cfg(Gen::Veskarn));
  EXPECT_FALSE(third.hasObject("/nicdata/Port1/Partition0/Region1"));
}

TEST_F(FlashFile, UnwritableFileFailsTheSave) {
  EngineConfig c = cfg(Gen::Veskarn);
  c.flash_file = "/nonexistent-dir/flash.bin";
  Engine fw(c);
  EXPECT_FALSE(fw.flashChanged());
  // The command itself still completes: the firmware's state changed.
  Req sel(1, 168, 4);
  sel.u8(0, 2);
  EXPECT_EQ(sel.run(fw, 0, Carrier::Ioctl).status, 0);
  EXPECT_EQ(fw.profiles().next_id, 2);
}

}  // namespace
