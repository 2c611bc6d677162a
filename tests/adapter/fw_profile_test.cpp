// The profile store as the host's commands see it: byte layouts of the
// replies, what a write changes (the configured state only), the reset that
// makes it run, the answers per generation and the driver's paths on the
// same opcodes.
#include <gtest/gtest.h>

#include "fw_cmd.h"
#include "fw_engine.h"
#include "fw_library.h"
#include "fw_profile.h"

namespace {

using adapter::Carrier;
using adapter::Engine;
using adapter::EngineConfig;
using adapter::Gen;
using adapter::ProfileRecord;
using fwtest::host;
using fwtest::kIllegal;
using fwtest::kNotSupported;
using fwtest::kNotSupportedAdd;
using fwtest::Req;

EngineConfig cfgFor(Gen g, unsigned fns = 2) { return adapter::engineDefaults(g, fns); }


// Records of a 164 reply: u16 count at 0, records from 4 walked by their length byte.
std::vector<ProfileRecord> recordsOf(const Req& r) {
  std::vector<ProfileRecord> out;
  size_t off = 4;
  for (unsigned i = 0; i < r.r16(0); ++i) {
    uint8_t len = r.r8(off + 1);
    EXPECT_NE(len, 0) << "record " << i;
    if (len == 0) break;
    out.emplace_back(r.b.begin() + 16 + static_cast<long>(off), r.b.begin() + 16 + static_cast<long>(off + len));
    off += len;
  }
  return out;
}

std::vector<ProfileRecord> getProfile(Engine& fw, uint8_t config_type, uint8_t id = 0) {
  Req r(1, 164, 22620, 1);
  r.u8(0, id).u8(1, config_type);
  EXPECT_EQ(host(r, fw).status, 0);
  return recordsOf(r);
}

const ProfileRecord* findPcie(const std::vector<ProfileRecord>& rs, unsigned pf) {
  for (const ProfileRecord& r : rs)
    if (r[0] == 80 && adapter::recordPf(r) == pf) return &r;
  return nullptr;
}

std::string configuredPersonality(Engine& fw) {
  Req r(1, 114, 8);
  EXPECT_EQ(host(r, fw).status, 0);
  return r.rtext(0, 8);
}

uint8_t resetNeeded(Engine& fw) {
  Req r(1, 84, 4);
  EXPECT_EQ(host(r, fw).status, 0);
  return r.r8(0);
}

// The personality write: one 88-byte type-80 record per storage function,
// byte 3 bit 7, byte 13 = 1, byte 14 the type, in a 22624-byte request.
Req personalityWrite(std::initializer_list<unsigned> pfs, uint8_t type) {
  Req r(1, 165, 22624, 1);
  r.u32(4, static_cast<uint32_t>(pfs.size()));
  size_t off = 8;
  for (unsigned pf : pfs) {
    r.u8(off, 80).u8(off + 1, 88).u8(off + 3, 0x80).u8(off + 6, static_cast<uint8_t>(pf));
    r.u8(off + 13, 1).u8(off + 14, type);
    off += 88;
  }
  return r;
}

TEST(ProfileStore, VeskarnDefaultLayout) {
  Engine fw(cfgFor(Gen::Veskarn));
  std::vector<ProfileRecord> act = getProfile(fw, 2);
  ASSERT_FALSE(act.empty());
  // Port records first (the host takes a first type of 79 or less for an
  // older firmware), then each PCI function followed by its function record.
  EXPECT_EQ(act[0][0], 85);
  EXPECT_EQ(act[1][0], 85);
  EXPECT_EQ(act[1][4], 1);   // link number
  unsigned nic = 0, storage = 0;
  for (const ProfileRecord& r : act) {
    EXPECT_EQ(r[1], 88);
    if (r[0] == 80 && (r[20] & 0x6) != 0) {
      ++storage;
      EXPECT_EQ(r[13], 0) << "the factory profile presents no storage function";
    }
    if (r[0] == 81) {
      ++nic;
      EXPECT_EQ(r[10], 0x02) << "locally administered MAC";
      EXPECT_EQ(r[44] & 63, adapter::recordPf(r));
    }
  }
  EXPECT_EQ(nic, 2u);
  EXPECT_EQ(storage, 2u);
  EXPECT_EQ(getProfile(fw, 0), act) << "configured = active at power-on";
  EXPECT_EQ(configuredPersonality(fw), "NIC");
  EXPECT_EQ(resetNeeded(fw), 0);

  // Listed profile 2 presents iSCSI functions with their own records.
  std::vector<ProfileRecord> p2 = getProfile(fw, 1, 2);
  const ProfileRecord* s = findPcie(p2, 2);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ((*s)[13], 1);
  EXPECT_EQ((*s)[14], 2);
  Req unknown(1, 164, 22620, 1);
  unknown.u8(0, 99).u8(1, 1);
  EXPECT_EQ(host(unknown, fw).status, kIllegal);
}

TEST(ProfileStore, ListCapacitiesIdsAriAndLinks) {
  Engine fw(cfgFor(Gen::Veskarn));
  Req list(1, 166, 52120);
  ASSERT_EQ(host(list, fw).status, 0);
  ASSERT_EQ(list.r32(0), 4u);
  EXPECT_EQ(list.r8(4 + 516), 2);
  EXPECT_EQ(list.r8(4 + 516 + 2), 1);
  EXPECT_EQ(list.rtext(4 + 516 + 4, 512), "NIC and iSCSI");
  // A reply buffer with room for one descriptor gets one.
  Req small(1, 166, 4 + 516);
  ASSERT_EQ(host(small, fw).status, 0);
  EXPECT_EQ(small.r32(0), 1u);

  Req cap(1, 161, 10284, 1);
  cap.u8(0, 2);
  ASSERT_EQ(host(cap, fw).status, 0);
  ASSERT_EQ(cap.r32(0), 4u);   // 144, then NIC, iSCSI, FCoE
  EXPECT_EQ(cap.r8(4), 144);
  EXPECT_EQ(cap.r8(4 + 6), 0x7);
  EXPECT_EQ(cap.r16(4 + 8), 4);
  size_t off = 4 + cap.r8(5);
  EXPECT_EQ(cap.r8(off), 145);
  EXPECT_EQ(cap.r8(off + cap.r8(off + 1)), 146);

  Req ids(1, 167, 4);
  ASSERT_EQ(host(ids, fw).status, 0);
  EXPECT_EQ(ids.r16(0), 1);
  EXPECT_EQ(ids.r16(2), 1);

  Req ari(1, 94, 4);
  ASSERT_EQ(host(ari, fw).status, 0);
  EXPECT_EQ(ari.r8(0), 7);
  EXPECT_EQ(ari.r8(2), 7);
  EXPECT_EQ(ari.r8(3), 0x80);

  Req links(1, 201, 1196);
  ASSERT_EQ(host(links, fw).status, 0);
  EXPECT_EQ(links.r8(0), 1);
  EXPECT_EQ(links.r8(2), 1);
  ASSERT_EQ(links.r32(4), 2u);
  EXPECT_EQ(links.r8(8 + 36 + 3), 2);
  EXPECT_EQ(links.rtext(8 + 36 + 4, 32), "1x40GbE");
}

// The writes that take effect at the next reset: each changes the next
// state, raises reset-needed, and the reset makes it run.
TEST(ProfileStore, WritesWaitForTheReset) {
  struct Case {
    const char* name;
    uint8_t op;
    uint8_t b0, b3;
    uint8_t read_op;
    size_t read_len, field;
    uint8_t before, next, running_field;
  };
  const Case cases[] = {
      {"168 profile 3", 168, 3, 0, 167, 4, 2, 1, 3, 0},
      {"95 max function 15", 95, 15, 0, 94, 4, 0, 7, 15, 2},
      {"202 link 2", 202, 2, 0, 201, 1196, 2, 1, 2, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Engine fw(cfgFor(Gen::Veskarn));
    Req w(1, k.op, 4);
    w.u8(0, k.b0).u8(3, k.b3);
    ASSERT_EQ(host(w, fw).status, 0);
    EXPECT_EQ(resetNeeded(fw), 1);
    Req r(1, k.read_op, static_cast<uint32_t>(k.read_len));
    ASSERT_EQ(host(r, fw).status, 0);
    EXPECT_EQ(r.r8(k.field), k.next);
    EXPECT_EQ(r.r8(k.running_field), k.before);
    fw.profiles().reboot();
    EXPECT_EQ(resetNeeded(fw), 0);
    ASSERT_EQ(host(r, fw).status, 0);
    EXPECT_EQ(r.r8(k.running_field), k.next);
  }
  // Unknown ids and a zero maximum are refused and change nothing.
  Engine fw(cfgFor(Gen::Veskarn));
  for (int op : {168, 202, 95}) {
    Req w(1, static_cast<uint8_t>(op), 4);
    w.u8(0, op == 95 ? 0 : 77);
    EXPECT_EQ(host(w, fw).status, kIllegal) << op;
  }
  EXPECT_EQ(resetNeeded(fw), 0);
  // The factory / default bit.
  fw.profiles().ari.next_max_pf = 15;
  Req dflt(1, 95, 4);
  dflt.u8(3, 0x80);
  ASSERT_EQ(host(dflt, fw).status, 0);
  EXPECT_EQ(fw.profiles().ari.next_max_pf, fw.profiles().ari.max_pf);
  // Selecting a profile makes its records the configured ones.
  Req sel(1, 168, 4);
  sel.u8(0, 3);
  ASSERT_EQ(host(sel, fw).status, 0);
  EXPECT_EQ(getProfile(fw, 0), getProfile(fw, 1, 3));
  EXPECT_NE(getProfile(fw, 2), getProfile(fw, 1, 3));
}

TEST(ProfileStore, PersonalityWriteFollowsTo114AndTheReset) {
  Engine fw(cfgFor(Gen::Veskarn));
  Req w = personalityWrite({2, 3}, 2);
  ASSERT_EQ(host(w, fw).status, 0);
  EXPECT_EQ(configuredPersonality(fw), "iSCSI");
  EXPECT_EQ(resetNeeded(fw), 1);
  // The write names what the functions present; their roles and MACs stay.
  std::vector<ProfileRecord> cfgd = getProfile(fw, 0);
  const ProfileRecord* f2 = findPcie(cfgd, 2);
  ASSERT_NE(f2, nullptr);
  EXPECT_EQ((*f2)[13], 1);
  EXPECT_EQ((*f2)[14], 2);
  EXPECT_EQ((*f2)[20], 0x6);
  EXPECT_EQ(cfgd.size(), getProfile(fw, 2).size());
  // Running: still no storage function until the reset.
  EXPECT_EQ((*findPcie(getProfile(fw, 2), 2))[13], 0);
  fw.profiles().reboot();
  EXPECT_EQ((*findPcie(getProfile(fw, 2), 2))[14], 2);
  Req fcoe = personalityWrite({2, 3}, 4);
  ASSERT_EQ(host(fcoe, fw).status, 0);
  EXPECT_EQ(configuredPersonality(fw), "FCoE");
}

TEST(ProfileStore, SetProfileForms) {
  Engine fw(cfgFor(Gen::Veskarn));
  std::vector<ProfileRecord> before = getProfile(fw, 0);
  // 184 bytes: one NIC function record copied and changed (a new MAC).
  ProfileRecord nic1;
  for (const ProfileRecord& r : before)
    if (r[0] == 81 && adapter::recordPf(r) == 1) nic1 = r;
  ASSERT_FALSE(nic1.empty());
  nic1[15] = 0x77;
  Req one(1, 165, 184, 1);
  one.u32(4, 1).bytes(8, nic1.data(), nic1.size());
  ASSERT_EQ(host(one, fw).status, 0);
  bool seen = false;
  for (const ProfileRecord& r : getProfile(fw, 0))
    if (r[0] == 81 && adapter::recordPf(r) == 1) seen = r == nic1;
  EXPECT_TRUE(seen);
  EXPECT_EQ(getProfile(fw, 0).size(), before.size());

  // 8 + 88n + 68: the PCI function records and the multichannel types.
  std::vector<ProfileRecord> pcie;
  for (const ProfileRecord& r : before)
    if (r[0] == 80) pcie.push_back(r);
  pcie[0][16] = 9;
  Req all(1, 165, static_cast<uint32_t>(8 + 88 * pcie.size() + 68), 1);
  all.u8(3, 0x80).u32(4, static_cast<uint32_t>(pcie.size() + 1));
  size_t off = 8;
  for (const ProfileRecord& r : pcie) {
    all.bytes(off, r.data(), r.size());
    off += 88;
  }
  all.u8(off, 86).u8(off + 1, 68).u8(off + 52, 5).u8(off + 53, 2);
  ASSERT_EQ(host(all, fw).status, 0);
  std::vector<ProfileRecord> after = getProfile(fw, 0);
  EXPECT_EQ(after[0][5], 5);   // port 0: NPAR
  EXPECT_EQ(after[1][5], 2);   // port 1: UMC
  EXPECT_EQ((*findPcie(after, 0))[16], 9);
  EXPECT_EQ(fw.lastSetProfile().count, pcie.size() + 1);

  // Refused whole: nothing of them is taken.
  struct Bad {
    const char* name;
    uint32_t count;
    uint8_t type, len;
  };
  const Bad bad[] = {
      {"count 0", 0, 80, 88},          {"record past the request", 3, 80, 88},
      {"length 0", 1, 80, 0},          {"short record", 1, 81, 40},
      {"type the profile lacks", 1, 90, 88},
  };
  std::vector<ProfileRecord> kept = getProfile(fw, 0);
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.name);
    Req r(1, 165, 184, 1);
    r.u32(4, b.count).u8(8, b.type).u8(9, b.len).u8(8 + 6, 1).u8(8 + 88, 80).u8(8 + 89, 88);
    EXPECT_EQ(host(r, fw).status, kIllegal);
  }
  EXPECT_EQ(getProfile(fw, 0), kept);
}

// Commands a generation's firmware lacks answer "not supported" (status 2,
// additional 30), which the host takes for an older firmware.
TEST(ProfileStore, GenerationsWithoutTheCommand) {
  struct Case {
    Gen g;
    uint8_t op, version;
    uint32_t len;
  };
  const Case cases[] = {
      {Gen::KS3, 164, 1, 22620}, {Gen::KS2, 164, 1, 22620},  {Gen::Pivard, 164, 1, 22620},
      {Gen::KS3, 165, 1, 184},   {Gen::Pivard, 166, 0, 52120}, {Gen::KS3, 161, 1, 10284},
      {Gen::KS3, 168, 0, 4},     {Gen::KS3, 94, 0, 4},       {Gen::Pivard, 95, 0, 4},
      {Gen::KS3, 201, 0, 1196},  {Gen::Pivard, 202, 0, 4},   {Gen::Veskarn, 81, 0, 836},
      {Gen::Pivard, 82, 1, 1092}, {Gen::KS3, 169, 1, 4},     {Gen::KS2, 169, 0, 4},
      {Gen::Veskarn, 164, 0, 18436},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(adapter::genName(k.g)) + " opcode " + std::to_string(k.op));
    Engine fw(cfgFor(k.g));
    Req r(1, k.op, k.len, k.version);
    r.u8(1, 2);
    if (k.len >= 96) r.u32(4, 1).u8(8, 80).u8(9, 88);
    host(r, fw);
    EXPECT_EQ(r.status(), kNotSupported);
    EXPECT_EQ(r.additional(), kNotSupportedAdd);
    EXPECT_EQ(fw.profiles().reset_needed, false);
  }
}

// The driver's commands on the shared opcodes keep the driver's answers.
TEST(ProfileStore, DriverPathsStay) {
  Engine fw(cfgFor(Gen::KS3));
  Req drv(1, 164, 23236, 1);
  drv.u8(1, 2);
  ASSERT_EQ(drv.run(fw, 0, Carrier::Mcc).status, 0);
  EXPECT_EQ(drv.r8(4), 0x55);
  Req tbl(1, 81, 836);
  ASSERT_EQ(tbl.run(fw, 0, Carrier::Mailbox).status, 0);
  EXPECT_EQ(tbl.r32(0), 2u);   // the driver's view: its PCI functions
  Req vx(1, 165, 96, 1);
  vx.u32(4, 1).u32(8, 0xC0005855u).u32(12, 1).u32(16, 23u | (4789u << 16));
  ASSERT_EQ(vx.run(fw, 0, Carrier::Mcc).status, 0);
  EXPECT_EQ(fw.vxlanPort(1), 4789);
  EXPECT_FALSE(fw.profiles().reset_needed);
}

TEST(ProfileStore, LegacyTableBothForms) {
  Engine fw(cfgFor(Gen::KS3));
  Req v1(1, 81, 1092, 1);
  ASSERT_EQ(host(v1, fw).status, 0);
  ASSERT_EQ(v1.r32(0), 4u);
  // Entry of PCI function 2 (68-byte form): iSCSI (type 1, state 0), SR-IOV n/a.
  size_t e2 = 4 + 2 * 68;
  EXPECT_EQ(v1.r8(e2 + 4), 2);
  EXPECT_EQ(v1.r8(e2 + 5), 0);
  EXPECT_EQ(v1.r8(e2 + 6), 1);
  EXPECT_EQ(v1.r8(e2 + 12), 255);
  EXPECT_EQ(v1.r8(4 + 12), 1) << "NIC function 0 with SR-IOV";
  EXPECT_EQ(configuredPersonality(fw), "iSCSI");

  // The short form reads and writes the first 52 bytes of each entry.
  fw.profiles().legacyEntry(2)[60] = 0x5A;
  Req v0(1, 81, 836);
  ASSERT_EQ(host(v0, fw).status, 0);
  EXPECT_EQ(v0.r8(4 + 2 * 52 + 6), 1);
  Req w(1, 82, 836);
  w.bytes(0, &v0.b[16], 836);
  w.u8(4 + 2 * 52 + 6, 2).u8(4 + 3 * 52 + 6, 2);
  ASSERT_EQ(host(w, fw).status, 0);
  EXPECT_EQ(configuredPersonality(fw), "FCoE");
  EXPECT_EQ(resetNeeded(fw), 1);
  ASSERT_EQ(host(v1, fw).status, 0);
  EXPECT_EQ(v1.r8(e2 + 6), 2);
  EXPECT_EQ(v1.r8(e2 + 60), 0x5A) << "bytes only the long form carries stay";

  Req shortReq(1, 81, 835);
  EXPECT_EQ(host(shortReq, fw).status, kIllegal);
  Req tooMany(1, 82, 1092, 1);
  tooMany.u32(0, 17);
  EXPECT_EQ(host(tooMany, fw).status, kIllegal);
}

TEST(ProfileStore, PivardCommonConfiguration) {
  Engine fw(cfgFor(Gen::Pivard));
  Req r(1, 164, 18436, 0);
  auto read = [&] { return host(r.u8(1, 2), fw).status; };   // the reply overwrote the request
  ASSERT_EQ(read(), 0);
  ASSERT_EQ(r.r32(0), 4u);
  size_t e2 = 4 + 2 * 72;
  EXPECT_EQ(r.r8(e2), 64);
  EXPECT_EQ(r.r16(e2 + 6) & 0x3FF, 2);
  EXPECT_EQ(r.r8(e2 + 13), 1);
  EXPECT_EQ(r.r8(e2 + 14), 1);
  // Set by a test: an FCoE personality.
  for (ProfileRecord& e : fw.profiles().common) e[14] = 4;
  ASSERT_EQ(read(), 0);
  EXPECT_EQ(r.r8(e2 + 14), 4);
  EXPECT_EQ(configuredPersonality(fw), "FCoE");
  // 169 goes back to the factory configuration.
  Req f(1, 169, 4, 1);
  f.u8(1, 1);
  EXPECT_EQ(host(f, fw).status, 30);
  ASSERT_EQ(read(), 0);
  EXPECT_EQ(r.r8(e2 + 14), 1);
}

TEST(ProfileStore, FactoryProfileAnswers30) {
  Engine fw(cfgFor(Gen::Veskarn));
  Req w = personalityWrite({2, 3}, 2);
  ASSERT_EQ(host(w, fw).status, 0);
  fw.profiles().reboot();
  Req f(1, 169, 4, 1);
  f.u8(1, 1);
  host(f, fw);
  EXPECT_EQ(f.status(), 30);
  EXPECT_EQ(f.respLen(), 0u);
  EXPECT_EQ(getProfile(fw, 0), getProfile(fw, 1, 1));
  EXPECT_EQ(configuredPersonality(fw), "NIC");
  EXPECT_EQ(resetNeeded(fw), 1);
  Req bad(1, 169, 4, 1);
  bad.u8(0, 42);
  EXPECT_EQ(host(bad, fw).status, kIllegal);
}

TEST(ProfileStore, EraseAnswersPerType) {
  Engine fw(cfgFor(Gen::Veskarn));
  adapter::registerLibraryHandlers(fw);
  Req w = personalityWrite({2}, 2);
  ASSERT_EQ(host(w, fw).status, 0);
  struct Case {
    uint32_t type;
    uint8_t status;
  };
  for (const Case& k : {Case{15, 0}, Case{27, 0}, Case{14, 44}}) {
    Req e(1, 7, 20);
    e.u32(0, 3).u32(4, k.type);
    host(e, fw);
    EXPECT_EQ(e.status(), k.status) << k.type;
  }
  EXPECT_EQ(fw.profiles().erased, (std::vector<uint32_t>{15, 27, 14}));
  EXPECT_EQ(configuredPersonality(fw), "NIC") << "the NIC configuration erase restores the listed profile";
  fw.profiles().erase_status[15] = 0;
  fw.profiles().erase_status[14] = 0;
  Req e(1, 7, 20);
  e.u32(0, 3).u32(4, 14);
  EXPECT_EQ(host(e, fw).status, 0);
}

TEST(ProfileStore, PersonalityTextsAndFaultKnob) {
  Engine fw(cfgFor(Gen::KS3));
  Req a(1, 113, 512);
  ASSERT_EQ(host(a, fw).status, 0);
  EXPECT_EQ(a.rtext(0, 512), "NIC,iSCSI,FCoE");
  EXPECT_EQ(a.respLen(), 15u);
  fw.profiles().available_personalities = "NIC,iSCSI";
  ASSERT_EQ(host(a, fw).status, 0);
  EXPECT_EQ(a.rtext(0, 512), "NIC,iSCSI");
  fw.setFault(1, 114, {.status = 5, .times = 1});
  Req c(1, 114, 8);
  EXPECT_EQ(host(c, fw).status, 5);
  EXPECT_EQ(host(c, fw).status, 0);
}

}  // namespace
