// The emulated adapter's iSCSI initiator firmware, driven with raw commands
// against a real target (tgtd in the test root): logins with and without
// CHAP and digests, the target's refusals as raw status pairs, SCSI commands
// and their data, persistent targets over an emulated reboot.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <unistd.h>

#include "fw_cmd.h"
#include "fw_discovery.h"
#include "fw_engine.h"
#include "fw_library.h"
#include "fw_profile.h"
#include "iscsi/fw_iscsi.h"
#include "iscsi/fw_iscsi_net.h"
#include "iscsi_target.h"

namespace {

using adapter::Carrier;
using adapter::Engine;
using adapter::Gen;
using fwtest::Req;
using testroot::IscsiTarget;

constexpr unsigned kFn = 1;
const char* const kInitiator = "iqn.2026-01.emu.host:init1";
const char* const kDisk = "iqn.2026-01.emu.tgt:disk1";
const char* const kChap1 = "iqn.2026-01.emu.tgt:chap1";
const char* const kChap2 = "iqn.2026-01.emu.tgt:chap2";

// The login record, written here from its published layout.
struct Login {
  std::string target = kDisk;
  std::string address = IscsiTarget::kAddress;
  uint16_t port = IscsiTarget::kPort;
  uint16_t qualifier = 1;
  bool hdr = false, data = false;
  int chap = 0;  // 0 none, 1 one-way, 2 mutual
  std::string ini_user, ini_secret, tgt_user, tgt_secret;
  uint32_t flags = 0x41;
  uint32_t eto = 0xFFFFFFFF;

  std::vector<uint8_t> record() const {
    std::vector<uint8_t> r(1420, 0);
    auto text = [&](size_t at, const std::string& s) { std::copy(s.begin(), s.end(), r.begin() + long(at)); };
    auto u16 = [&](size_t at, uint16_t v) { fwtest::le(&r[at], v, 2); };
    auto u32 = [&](size_t at, uint32_t v) { fwtest::le(&r[at], v, 4); };
    text(0, target);
    u16(224, 24);
    r[227] = 1;
    unsigned a[4] = {};
    std::sscanf(address.c_str(), "%u.%u.%u.%u", &a[0], &a[1], &a[2], &a[3]);
    for (int i = 0; i < 4; ++i) r[228 + size_t(i)] = static_cast<uint8_t>(a[i]);
    u16(248, port);
    u32(508, flags);
    u32(520, eto);
    u16(524, qualifier);
    size_t b = 528;
    r[b] = 0x0F;
    u32(b + 4, 8192);
    u32(b + 8, 262144);
    u16(b + 12, 1);
    u16(b + 14, 1);
    u16(b + 16, 2);
    u16(b + 18, 20);
    r[b + 21] = hdr ? 1 : 0;
    r[b + 22] = data ? 1 : 0;
    u32(b + 24, 65536);
    u32(b + 28, 65536);
    u32(b + 36, 16000);
    r[b + 40] = chap != 0 ? 1 : 0;
    u32(b + 44, chap == 2 ? 1 : 0);
    text(b + 48, ini_user);
    std::copy_n(ini_secret.begin(), std::min<size_t>(16, ini_secret.size()), r.begin() + long(b + 304));
    text(b + 320, tgt_user);
    std::copy_n(tgt_secret.begin(), std::min<size_t>(16, tgt_secret.size()), r.begin() + long(b + 576));
    u16(b + 592, static_cast<uint16_t>(ini_user.size()));
    u16(b + 594, static_cast<uint16_t>(std::min<size_t>(16, ini_secret.size())));
    u16(b + 596, static_cast<uint16_t>(tgt_user.size()));
    u16(b + 598, static_cast<uint16_t>(std::min<size_t>(16, tgt_secret.size())));
    text(1128, kInitiator);
    u16(1398, 0xFFFF);
    u16(1400, 0xFFFF);
    return r;
  }
};

struct Rig {
  explicit Rig(Gen g = Gen::Veskarn, const std::string& flash = {}) : fw(config(g, flash)) {
    adapter::registerDiscoveryHandlers(fw);
    adapter::registerLibraryHandlers(fw);
    adapter::registerIscsiNetHandlers(fw);
    adapter::registerIscsiHandlers(fw);
    setAddress(true);
  }
  ~Rig() { adapter::iscsiRelease(fw); }
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;
  static adapter::EngineConfig config(Gen g, const std::string& flash) {
    adapter::EngineConfig c = adapter::engineDefaults(g, 2);
    c.flash_file = flash;
    return c;
  }
  void setAddress(bool on) {
    adapter::IscsiPortNet& net = adapter::iscsiNet(fw, kFn);
    net.addresses.clear();
    if (!on) return;
    adapter::IscsiAddressEntry e;
    e.address = {192, 0, 2, 20};
    e.mask = {255, 255, 255, 0};
    net.addresses.push_back(e);
  }
  Req run(Req r) {
    r.run(fw, kFn, Carrier::Ioctl);
    adapter::completeLibraryResponse(fw, r.b.data());
    return r;
  }
  Req login(const Login& l) {
    std::vector<uint8_t> rec = l.record();
    return run(Req(6, 23, 1420).bytes(0, rec.data(), rec.size()));
  }
  Req persist(const Login& l) {
    Login p = l;
    p.flags = 0x40;
    std::vector<uint8_t> rec = p.record();
    return run(Req(6, 27, 1420).bytes(0, rec.data(), rec.size()));
  }
  Req logout(uint32_t handle) { return run(Req(6, 24, 4).u32(0, handle)); }
  Req session(uint32_t handle) { return run(Req(6, 14, 1164).u32(0, handle)); }
  std::vector<uint32_t> active() {
    Req r = run(Req(6, 29, 64000).u32(0, 0xC0));
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < r.r32(0); ++i) out.push_back(r.r32(8 + 4 * i));
    return out;
  }
  Req scsi(uint32_t handle, uint8_t lun, std::vector<uint8_t> cdb, uint8_t dir, uint16_t len,
           const std::vector<uint8_t>& data = {}) {
    Req r(6, 59, 292 + len);
    r.u32(0, handle).u8(5, lun).u8(12, dir).u16(34, len);
    r.bytes(16, cdb.data(), cdb.size());
    if (!data.empty()) r.bytes(292, data.data(), data.size());
    return run(r);
  }
  Engine fw;
};

// A target with two LUNs; two CHAP targets (one-way, mutual).
struct Target {
  Target() {
    std::string why;
    started = tgt.start(&why);
    EXPECT_TRUE(started) << why;
    if (!started) return;
    disk = tgt.addTarget(kDisk);
    EXPECT_TRUE(tgt.addLun(disk, 1, {.blocks = 4096, .pattern = 0xA5, .pattern_blocks = 16, .serial = "EMUSN0001"}));
    EXPECT_TRUE(tgt.addLun(disk, 2, {.blocks = 8192, .pattern = 0x3C, .pattern_blocks = 4}));
    chap1 = tgt.addTarget(kChap1);
    EXPECT_TRUE(tgt.addLun(chap1, 1));
    EXPECT_TRUE(tgt.addAccount("ini-user", "ini-secret-12"));
    EXPECT_TRUE(tgt.bindAccount(chap1, "ini-user"));
    chap2 = tgt.addTarget(kChap2);
    EXPECT_TRUE(tgt.addLun(chap2, 1));
    EXPECT_TRUE(tgt.bindAccount(chap2, "ini-user"));
    EXPECT_TRUE(tgt.addAccount("tgt-user", "tgt-secret-12"));
    EXPECT_TRUE(tgt.bindAccount(chap2, "tgt-user", true));
  }
  IscsiTarget tgt;
  bool started = false;
  int disk = 0, chap1 = 0, chap2 = 0;
};

Login chapLogin(const char* target, int chap) {
  Login l;
  l.target = target;
  l.chap = chap;
  l.ini_user = "ini-user";
  l.ini_secret = "ini-secret-12";
  if (chap == 2) {
    l.tgt_user = "tgt-user";
    l.tgt_secret = "tgt-secret-12";
  }
  return l;
}

TEST(FwIscsiLogin, LogsInForRealWithEachAuthenticationAndDigest) {
  Target t;
  ASSERT_TRUE(t.started);
  struct Case {
    const char* what;
    Login login;
  } cases[] = {
      {"no CHAP", Login{}},
      {"header digest",
       [] {
         Login l;
         l.hdr = true;
         return l;
       }()},
      {"one-way CHAP", chapLogin(kChap1, 1)},
      {"mutual CHAP", chapLogin(kChap2, 2)},
      {"mutual CHAP and header digest",
       [] {
         Login l = chapLogin(kChap2, 2);
         l.hdr = true;
         return l;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig;
    Req ans = rig.login(c.login);
    ASSERT_EQ(ans.status(), 0) << int(ans.additional()) << "\n" << t.tgt.log();
    uint32_t handle = ans.r32(0);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(ans.r8(4) & 1, 1);  // opened
    EXPECT_EQ(ans.r8(5) & 1, 0);
    EXPECT_NE(ans.r32(8), 0u);
    EXPECT_EQ(ans.r8(36 + 1), c.login.hdr ? 1 : 0);
    EXPECT_EQ(ans.r8(36 + 20), c.login.chap != 0 ? 1 : 0);
    EXPECT_EQ(ans.r32(36 + 24), c.login.chap == 2 ? 1u : 0u);
    // The target sees the initiator.
    std::string conn;
    t.tgt.admin({"--op", "show", "--mode", "target"}, &conn);
    EXPECT_NE(conn.find(kInitiator), std::string::npos) << conn;
    // The session record.
    Req s = rig.session(handle);
    ASSERT_EQ(s.status(), 0);
    EXPECT_EQ(s.r32(0), handle);
    EXPECT_EQ(s.r32(4), adapter::kSessOpen);
    EXPECT_EQ(s.r8(12), 0);  // ISID qualifier 1, big-endian
    EXPECT_EQ(s.r8(13), 1);
    EXPECT_EQ(s.r32(16) & 1, 1u);  // no stored entry: not persistent
    EXPECT_EQ(s.r16(20), 1);
    EXPECT_EQ(s.rtext(24, 224), c.login.target);
    EXPECT_EQ(s.rtext(248, 224), kInitiator);
    EXPECT_EQ(s.r32(492), ans.r32(8));
    EXPECT_EQ(s.r32(496) & 1, 1u);  // logged in
    EXPECT_NE(s.r16(500), 0);       // the socket's source port
    EXPECT_EQ(s.r16(502), IscsiTarget::kPort);
    EXPECT_EQ(s.r8(492 + 23), 1);
    EXPECT_EQ(s.r8(492 + 24), 192);  // the port's configured address
    EXPECT_EQ(s.r8(492 + 27), 20);
    EXPECT_EQ(s.r8(492 + 48 + 3), 1);  // 192.0.2.1
    EXPECT_EQ(s.r8(492 + 92 + 1), c.login.hdr ? 1 : 0);
    EXPECT_EQ(s.rtext(492 + 92 + 28, 256), c.login.chap != 0 ? "ini-user" : "");
    EXPECT_EQ(rig.active(), std::vector<uint32_t>{handle});
    // Logout ends it at the target too.
    EXPECT_EQ(rig.logout(handle).status(), 0);
    EXPECT_TRUE(rig.active().empty());
    EXPECT_EQ(rig.session(handle).status(), 1);
  }
}

TEST(FwIscsiLogin, RefusalsAnswerRawStatusPairs) {
  Target t;
  ASSERT_TRUE(t.started);
  struct Case {
    const char* what;
    Login login;
    bool address;
    uint8_t status, additional;
  } cases[] = {
      {"wrong initiator secret",
       [] {
         Login l = chapLogin(kChap1, 1);
         l.ini_secret = "wrong-secret-1";
         return l;
       }(),
       true, 1, 44},
      {"no CHAP where the target demands it",
       [] {
         Login l;
         l.target = kChap1;
         return l;
       }(),
       true, 1, 44},
      {"wrong target secret",
       [] {
         Login l = chapLogin(kChap2, 2);
         l.tgt_secret = "wrong-secret-1";
         return l;
       }(),
       true, 1, 44},
      {"unknown target",
       [] {
         Login l;
         l.target = "iqn.2026-01.emu.tgt:none";
         return l;
       }(),
       true, 1, 46},
      {"nothing listens",
       [] {
         Login l;
         l.port = 3261;
         return l;
       }(),
       true, 1, 21},
      {"no IPv4 address on the port", Login{}, false, 46, 0},
      {"data digest",
       [] {
         Login l;
         l.data = true;
         return l;
       }(),
       true, 1, 100},
      {"no host at that address",
       [] {
         Login l;
         l.address = "192.0.2.99";
         return l;
       }(),
       true, 1, 19},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig;
    rig.setAddress(c.address);
    Req ans = rig.login(c.login);
    EXPECT_EQ(ans.status(), c.status);
    EXPECT_EQ(ans.additional(), c.additional);
    EXPECT_TRUE(adapter::iscsiSessions(rig.fw, kFn).empty());
  }
}

TEST(FwIscsiLogin, DiscoverySessionLogsInWithoutATargetName) {
  Target t;
  ASSERT_TRUE(t.started);
  Rig rig;
  Login l;
  l.target = "";
  l.flags = 0x41 | 0x11;
  Req ans = rig.login(l);
  ASSERT_EQ(ans.status(), 0) << int(ans.additional());
  uint32_t h = ans.r32(0);
  Req s = rig.session(h);
  EXPECT_EQ(s.r32(4), adapter::kSessOpen);
  EXPECT_EQ(s.r32(16) & 1, 1u);  // never persistent
  // Not a target of the firmware's list.
  EXPECT_EQ(rig.run(Req(6, 30, 64000).u32(4, 14)).r32(0), 0u);
  EXPECT_EQ(rig.logout(h).status(), 0);
}

TEST(FwIscsiLogin, SameKeyWhileOpenIsRefusedAndScriptedAttemptsComeFirst) {
  Target t;
  ASSERT_TRUE(t.started);
  Rig rig;
  Req first = rig.login(Login{});
  ASSERT_EQ(first.status(), 0);
  // The same target, portal and qualifier: "session already opened".
  Req again = rig.login(Login{});
  EXPECT_EQ(again.status(), 1);
  EXPECT_EQ(again.additional(), 17);
  // Another qualifier is another session.
  Login other;
  other.qualifier = 2;
  Req second = rig.login(other);
  ASSERT_EQ(second.status(), 0);
  EXPECT_EQ(rig.active().size(), 2u);
  // A scripted sequence: refused, then refused otherwise, then real.
  Login third;
  third.qualifier = 3;
  adapter::queueLoginOutcome(rig.fw, kFn, {1, 44});
  adapter::queueLoginOutcome(rig.fw, kFn, {1, 100});
  adapter::queueLoginOutcome(rig.fw, kFn, {0, 0});
  EXPECT_EQ(rig.login(third).additional(), 44);
  EXPECT_EQ(rig.login(third).additional(), 100);
  EXPECT_EQ(rig.login(third).status(), 0);
  EXPECT_EQ(rig.active().size(), 3u);
  // Scripted states and a redirect show in the record.
  uint32_t h = first.r32(0);
  adapter::setSessionState(rig.fw, h, adapter::kSessInRecovery);
  adapter::setRedirect(rig.fw, h, 1, {192, 0, 2, 99}, 3262);
  Req s = rig.session(h);
  EXPECT_EQ(s.r32(4), adapter::kSessInRecovery);
  EXPECT_EQ(s.r32(496) & 4, 4u);
  EXPECT_EQ(s.r16(504), 3262);
  EXPECT_EQ(s.r8(492 + 75), 99);
}

TEST(FwIscsiLogin, DroppedSessionIsNoticedAndPersistentEntryLogsInAgain) {
  Target t;
  ASSERT_TRUE(t.started);
  Rig rig;
  ASSERT_EQ(rig.persist(Login{}).status(), 0);
  // The stored entry is logged in at the next list.
  std::vector<uint32_t> list = rig.active();
  ASSERT_EQ(list.size(), 1u);
  uint32_t h = list[0];
  Req s = rig.session(h);
  EXPECT_EQ(s.r32(4), adapter::kSessOpen);
  EXPECT_EQ(s.r32(16) & 1, 0u);  // persistent
  // The target ends it: the firmware notices at the session query.
  ASSERT_TRUE(t.tgt.dropSessions(t.disk));
  bool closed = false;
  for (int i = 0; i < 500 && !closed; ++i) {
    closed = rig.session(h).r32(4) == adapter::kSessClosed;
    if (!closed) usleep(10000);
  }
  EXPECT_TRUE(closed);
  EXPECT_EQ(rig.session(h).r32(496) & 1, 0u);
  // The next list logs the entry in again.
  list = rig.active();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(rig.session(list[0]).r32(4), adapter::kSessOpen);
  // A plain login of the same key is "already opened".
  EXPECT_EQ(rig.login(Login{}).additional(), 17);
}

TEST(FwIscsiScsi, CommandsAndDataGoToTheTarget) {
  Target t;
  ASSERT_TRUE(t.started);
  Rig rig;
  Req ans = rig.login(Login{});
  ASSERT_EQ(ans.status(), 0);
  uint32_t h = ans.r32(0);
  // REPORT LUNS: 0 (the controller), 1 and 2.
  Req rl = rig.scsi(h, 0, {0xA0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0, 0}, 1, 256);
  ASSERT_EQ(rl.status(), 0);
  EXPECT_EQ(rl.r8(15), 0);
  uint32_t list_len = uint32_t(rl.r8(292)) << 24 | uint32_t(rl.r8(293)) << 16 | rl.r8(294) << 8 | rl.r8(295);
  EXPECT_EQ(list_len, 24u);
  EXPECT_EQ(rl.r8(292 + 8 + 8 + 1), 1);
  EXPECT_EQ(rl.r8(292 + 8 + 16 + 1), 2);
  // INQUIRY of LUN 1: a disk.
  Req inq = rig.scsi(h, 1, {0x12, 0, 0, 0, 36, 0}, 1, 36);
  ASSERT_EQ(inq.status(), 0);
  EXPECT_EQ(inq.r8(292) & 0x1F, 0);
  EXPECT_EQ(inq.rtext(292 + 8, 8).substr(0, 3), "IET");
  // The serial-number page.
  Req sn = rig.scsi(h, 1, {0x12, 1, 0x80, 0, 0xFF, 0}, 1, 256);
  ASSERT_EQ(sn.status(), 0);
  EXPECT_EQ(sn.r8(293), 0x80);
  // tgt pads the number with blanks in front.
  std::string serial(reinterpret_cast<const char*>(&sn.b[16 + 296]), sn.r8(295));
  EXPECT_EQ(serial.substr(serial.find_first_not_of(' ')), "EMUSN0001") << serial;
  // READ CAPACITY(10) and (16): 4096 and 8192 blocks of 512.
  Req rc10 = rig.scsi(h, 1, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 8);
  EXPECT_EQ(uint32_t(rc10.r8(292 + 2)) << 8 | rc10.r8(292 + 3), 4095u);
  EXPECT_EQ(rc10.r8(292 + 6), 2);  // 512
  Req rc16 = rig.scsi(h, 2, {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0}, 1, 12);
  EXPECT_EQ(uint32_t(rc16.r8(292 + 6)) << 8 | rc16.r8(292 + 7), 8191u);
  // WRITE(10) of two zero blocks at LBA 3 replaces the pattern in the file.
  std::vector<uint8_t> zeros(1024, 0);
  Req wr = rig.scsi(h, 1, {0x2A, 0, 0, 0, 0, 3, 0, 0, 2, 0}, 2, 1024, zeros);
  ASSERT_EQ(wr.status(), 0);
  EXPECT_EQ(wr.r8(15), 0);
  std::vector<uint8_t> file = t.tgt.lunBytes(t.disk, 1, 2 * 512, 4 * 512);
  ASSERT_EQ(file.size(), 4u * 512);
  for (size_t i = 0; i < file.size(); ++i) ASSERT_EQ(file[i], i < 512 || i >= 1536 ? 0xA5 : 0) << i;
  // A check condition comes back in the status byte (an unsupported opcode).
  Req bad = rig.scsi(h, 1, {0xFF, 0, 0, 0, 0, 0}, 0, 0);
  EXPECT_EQ(bad.status(), 0);
  EXPECT_EQ(bad.r8(15), 2);
  // An unknown session.
  EXPECT_EQ(rig.scsi(h + 100, 1, {0x12, 0, 0, 0, 36, 0}, 1, 36).additional(), 18);
}

TEST(FwIscsiPersist, EntriesBootFlagRegionsAndDiscoveryBlockOutliveAReboot) {
  Target t;
  ASSERT_TRUE(t.started);
  char path[] = "/tmp/fw-iscsi-flash.XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::remove(path);
  uint32_t boot_handle = 0;
  {
    Rig rig(Gen::Veskarn, path);
    rig.setAddress(true);
    adapter::iscsiNetChanged(rig.fw);
    Login l = chapLogin(kChap2, 2);
    ASSERT_EQ(rig.persist(l).status(), 0);
    std::vector<uint32_t> list = rig.active();
    ASSERT_EQ(list.size(), 1u);
    boot_handle = list[0];
    EXPECT_EQ(rig.run(Req(6, 53, 528).u32(0, boot_handle).u32(4, 0x100)).status(), 0);
    EXPECT_EQ(rig.session(boot_handle).r32(16), 0x100u);
    // Region 3: the factory image, then a written one.
    std::string region3 = "/iscsidata/Port1/Instance0/Region3";
    Req rd = rig.run(Req(1, 171, 32876, 1).text(8, region3));
    ASSERT_EQ(rd.status(), 0);
    EXPECT_EQ(rd.r32(0), 20u);
    EXPECT_EQ(rd.r8(7) & 0x80, 0x80);
    EXPECT_EQ(rd.r32(8 + 4), 4u);
    std::vector<uint8_t> image = {3, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 5, 0, 1, 2, 3, 4, 5};
    Req wr(1, 172, 128 + 8, 1);
    wr.u32(0, 0x80000000u | uint32_t(image.size())).u32(4, 0).text(8, region3).bytes(112, image.data(), image.size());
    Req w = rig.run(wr);
    ASSERT_EQ(w.status(), 0);
    EXPECT_EQ(w.r32(0), image.size());
    EXPECT_EQ(w.r8(4), 1);
    // The discovery parameter block.
    std::vector<uint8_t> block(888, 0);
    block[544] = 1;
    std::string name = kInitiator;
    std::copy(name.begin(), name.end(), block.begin() + 548);
    EXPECT_EQ(rig.run(Req(2, 29, 888).bytes(0, block.data(), block.size())).status(), 0);
  }
  // A later engine boots from the flash file: the entry logs in at the next list.
  Rig rig(Gen::Veskarn, path);
  std::vector<uint32_t> list = rig.active();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_NE(list[0], 0u);
  Req s = rig.session(list[0]);
  EXPECT_EQ(s.r32(4), adapter::kSessOpen);
  EXPECT_EQ(s.r32(16), 0x100u);  // persistent, boot
  EXPECT_EQ(s.r8(492 + 92 + 20), 1);
  EXPECT_EQ(s.r32(492 + 92 + 24), 1u);
  Req rd = rig.run(Req(1, 171, 32876, 1).text(8, "/iscsidata/Port1/Instance0/Region3"));
  EXPECT_EQ(rd.r32(0), 24u);
  EXPECT_EQ(rd.r8(8 + 16), 3);
  Req disc = rig.run(Req(2, 28, 888));
  EXPECT_EQ(disc.r8(544), 1);
  EXPECT_EQ(disc.rtext(548, 224), kInitiator);
  // An emulated reboot ends the session and logs the entry in again.
  adapter::iscsiReboot(rig.fw);
  std::vector<adapter::IscsiSessionView> after = adapter::iscsiSessions(rig.fw, kFn);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_NE(after[0].handle, list[0]);
  EXPECT_EQ(after[0].state, adapter::kSessOpen);
  // Deleting the entry: the session is no longer persistent; a second delete finds nothing.
  Req del(6, 28, 480);
  del.text(0, kChap2).u16(224, 24).u8(227, 1).bytes(228, "\xC0\x00\x02\x01", 4).u16(248, 3260).u32(252, 0x80000001u);
  del.text(256, kInitiator);
  EXPECT_EQ(rig.run(del).status(), 0);
  EXPECT_EQ(rig.session(after[0].handle).r32(16) & 1, 1u);
  EXPECT_EQ(rig.run(del).status(), 31);
  std::remove(path);
}

TEST(FwIscsiTargets, ListsStoredAndOpenTargetsWithTheirPortals) {
  Target t;
  ASSERT_TRUE(t.started);
  Rig rig;
  ASSERT_EQ(rig.persist(Login{}).status(), 0);
  Login other;
  other.port = 3262;  // nobody there: stored, listed, never logged in
  ASSERT_EQ(rig.persist(other).status(), 0);
  ASSERT_EQ(rig.login(chapLogin(kChap1, 1)).status(), 0);
  adapter::addDiscoveredTarget(rig.fw, kFn, "iqn.2026-01.emu.tgt:found", {1, {192, 0, 2, 7}, 3260});
  // Size query, then the list.
  Req q = rig.run(Req(6, 30, 12).u32(0, 0).u32(4, 14));
  EXPECT_EQ(q.actualLen(), 4u + 8 * 2);
  Req ids = rig.run(Req(6, 30, 64000).u32(0, 0).u32(4, 14));
  ASSERT_EQ(ids.status(), 0);
  ASSERT_EQ(ids.r32(0), 2u);
  Req found = rig.run(Req(6, 30, 64000).u32(0, 1).u32(4, 14));
  ASSERT_EQ(found.r32(0), 1u);
  // The first target: two portals, each in a group of its own.
  uint32_t id = ids.r32(4);
  Req size = rig.run(Req(6, 32, 816).u32(0, id));
  EXPECT_EQ(size.status(), 4);
  EXPECT_EQ(size.actualLen(), 264u + 2 * 552);
  Req rec = rig.run(Req(6, 32, 264 + 2 * 552).u32(0, id));
  ASSERT_EQ(rec.status(), 0);
  EXPECT_EQ(rec.rtext(4, 224), kDisk);
  EXPECT_EQ(rec.r32(260), 2u);
  EXPECT_EQ(rec.r16(256 + 8), 1);
  EXPECT_EQ(rec.r16(256 + 10), 1);
  EXPECT_EQ(rec.r8(271), 1);
  EXPECT_EQ(rec.r8(272 + 3), 1);
  EXPECT_EQ(rec.r16(292), 3260);
  EXPECT_EQ(rec.r16(292 + 552), 3262);
  EXPECT_EQ(rig.run(Req(6, 32, 816).u32(0, 999)).status(), 3);
  // Session configuration: the ETO of a new session is the default; a set changes it.
  uint32_t h = rig.active()[0];
  Req conf = rig.run(Req(6, 16, 276).u32(0, h));
  EXPECT_EQ(conf.r32(4), 30u);
  Req set(6, 17, 280);
  set.u32(0, h).u32(4, 1).u32(8, 45);
  EXPECT_EQ(rig.run(set).status(), 0);
  EXPECT_EQ(rig.run(Req(6, 16, 276).u32(0, h)).r32(4), 45u);
  adapter::setDefaultEto(rig.fw, 60);
  EXPECT_EQ(rig.run(Req(1, 32, 540)).r32(92), 60u);
}

}  // namespace

namespace {

// What a real target cannot produce: scripted sessions and their LUNs.
TEST(FwIscsiScripted, SixtyFifthSessionAndScriptedLuns) {
  Rig rig;
  std::vector<adapter::ScriptedLun> luns;
  for (uint16_t i = 0; i < 300; ++i) luns.push_back({.lun = i, .blocks = 4194304});
  luns[1].blocks = 0x200000000ull;  // a last LBA beyond 32 bits
  luns[1].serial = "SERIAL-OF-ONE";
  uint32_t first = 0;
  for (uint16_t q = 0; q < adapter::kMaxSessionsPerFunction; ++q) {
    Login l;
    l.qualifier = static_cast<uint16_t>(100 + q);
    uint32_t h = adapter::addScriptedSession(rig.fw, kFn, l.record(), luns);
    ASSERT_NE(h, 0u);
    if (first == 0) first = h;
  }
  EXPECT_EQ(rig.active().size(), 64u);
  // The 65th is refused before any connection (nobody listens here).
  Login more;
  more.qualifier = 7;
  Req ans = rig.login(more);
  EXPECT_EQ(ans.status(), 20);
  EXPECT_EQ(ans.additional(), 0);
  EXPECT_EQ(adapter::addScriptedSession(rig.fw, kFn, more.record(), {}), 0u);
  // The same key as an open scripted one: already opened.
  Login same;
  same.qualifier = 100;
  EXPECT_EQ(rig.login(same).additional(), 17);
  // REPORT LUNS of 300 LUNs: the list length says all, the data holds what fits.
  Req rl = rig.scsi(first, 0, {0xA0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0x00, 0, 0}, 1, 4096);
  ASSERT_EQ(rl.status(), 0);
  EXPECT_EQ(uint32_t(rl.r8(292 + 2)) << 8 | rl.r8(292 + 3), 2400u);
  EXPECT_EQ(rl.r8(292 + 8 + 8 * 299), 0x41);  // LUN 299: flat addressing
  EXPECT_EQ(rl.r8(292 + 8 + 8 * 299 + 1), 0x2B);
  // READ CAPACITY(10) of a LUN beyond 32 bits: all ones; (16) the real value.
  Req rc10 = rig.scsi(first, 1, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 8);
  EXPECT_EQ(rc10.r32(292), 0xFFFFFFFFu);
  Req rc16 = rig.scsi(first, 1, {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0}, 1, 12);
  EXPECT_EQ(rc16.r8(292 + 3), 1);
  EXPECT_EQ(rc16.r8(292 + 7), 0xFF);
  Req sn = rig.scsi(first, 1, {0x12, 1, 0x80, 0, 0xFF, 0}, 1, 256);
  EXPECT_EQ(sn.r8(295), 13);
  EXPECT_EQ(sn.rtext(296, 13), "SERIAL-OF-ONE");
  Req inq = rig.scsi(first, 0, {0x12, 0, 0, 0, 36, 0}, 1, 36);
  EXPECT_EQ(inq.rtext(292 + 8, 6), "KLDSTN");
  // An unknown LUN: check condition.
  Req unknown(6, 59, 292 + 8);
  unknown.u32(0, first).u8(4, 0x41).u8(5, 0x2C).u8(12, 1).u8(16, 0x25).u16(34, 8);  // LUN 300
  EXPECT_EQ(rig.run(unknown).r8(15), 2);
  Req known = unknown;
  known.u8(5, 0x2B);  // LUN 299
  EXPECT_EQ(rig.run(known).r8(15), 0);
  Req wr = rig.scsi(first, 3, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 2, 512, std::vector<uint8_t>(512, 0));
  EXPECT_EQ(wr.r8(15), 0);
}

TEST(FwIscsiScripted, MalformedRepliesBreakTheirOwnBounds) {
  using M = adapter::IscsiMalformed;
  Rig rig;
  Login l;
  uint32_t h = adapter::addScriptedSession(rig.fw, kFn, l.record(), {{.lun = 0}});
  ASSERT_NE(h, 0u);
  const std::string region = "/iscsidata/Port1/Instance0/Region2";
  struct Case {
    const char* what;
    M kind;
    std::function<Req()> send;
    std::function<bool(const Req&)> broken;
  } cases[] = {
      {"connection count", M::SessionConnectionCount, [&] { return rig.session(h); },
       [](const Req& r) { return r.r16(20) == 0xFFFF; }},
      {"active session count", M::ActiveSessionCount, [&] { return rig.run(Req(6, 29, 12).u32(0, 0xC0)); },
       [](const Req& r) { return r.r32(0) > 1; }},
      {"target id count", M::TargetIdCount, [&] { return rig.run(Req(6, 30, 64000).u32(4, 14)); },
       [](const Req& r) { return r.r32(0) > 64000 / 8; }},
      {"portal groups", M::TargetPortalGroups,
       [&] {
         uint32_t id = rig.run(Req(6, 30, 64000).u32(4, 14)).r32(4);
         return rig.run(Req(6, 32, 816).u32(0, id));
       },
       [](const Req& r) { return r.r32(260) == 0xFFFFFFFFu; }},
      {"portal count", M::TargetPortalCount,
       [&] {
         uint32_t id = rig.run(Req(6, 30, 64000).u32(4, 14)).r32(4);
         return rig.run(Req(6, 32, 816).u32(0, id));
       },
       [](const Req& r) { return r.r16(266) == 0xFFFF; }},
      {"REPORT LUNS length", M::ReportLunsLength,
       [&] {
         return rig.scsi(h, 0, {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0}, 1, 16);
       },
       [](const Req& r) { return r.r8(292 + 1) == 0xFF; }},
      {"serial number length", M::SerialNumberLength,
       [&] {
         return rig.scsi(h, 0, {0x12, 1, 0x80, 0, 0xFF, 0}, 1, 256);
       },
       [](const Req& r) { return r.r8(295) == 0xFF; }},
      {"region length", M::RegionLength, [&] { return rig.run(Req(1, 171, 32876, 1).text(8, region)); },
       [](const Req& r) { return r.r32(8 + 4) > r.r32(0); }},
      {"object read length", M::ObjectReadLength, [&] { return rig.run(Req(1, 171, 32876, 1).text(8, region)); },
       [](const Req& r) { return r.r32(0) > 32868; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(c.broken(c.send())) << "well formed without the knob";
    adapter::setMalformedReply(rig.fw, c.kind, true);
    Req r = c.send();
    EXPECT_EQ(r.status(), 0);
    EXPECT_TRUE(c.broken(r));
    adapter::setMalformedReply(rig.fw, c.kind, false);
  }
}

}  // namespace
