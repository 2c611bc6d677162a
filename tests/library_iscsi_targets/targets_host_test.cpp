// Targets, logins, sessions, LUNs, logout and boot sessions end to end: the
// library's actions over the emulated adapter, whose firmware logs in for
// real (libiscsi) to tgtd in the test root. What the real target cannot do
// (refusals in a given order, state bits, malformed replies) is scripted
// through the firmware's knobs or a rewrite of its replies.
#include <string>
#include <vector>

#include "targets_fixture.h"

namespace {

const char *kIniUser = "kd-initiator";
const char *kIniSecret = "inisecret1234";
const char *kTgtUser = "kd-target";
const char *kTgtSecret = "tgtsecret5678";

TEST_F(TargetsHost, AddTargetWritesItsLinesAndEndsWithASessionAndLuns)
{
    int tid = serve(kIqn, 2);
    HmNode *l = lhba(kVsk);
    ASSERT_NE(l, nullptr);
    host_->clearLog();
    ASSERT_EQ(run(l, "AddTarget", {kIqn, kTgtIp}), 0u) << last_text();
    HmNode *t = target(kVsk);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(cached(first(t, "TargetPortal"), "TargetPortNumber"), "3260");
    EXPECT_EQ(cached(first(t, "TargetPortal"), "PortalGroupTag"), "0");
    EXPECT_EQ(count(6, 27), 1u) << "one persistent entry";
    EXPECT_EQ(entries(kVsk), 1u);
    const std::string lines = file(ORSA_SAVETGT_FILE);
    EXPECT_NE(lines.find(std::string(",") + kIqn + "," + kTgtIp + ",3260,,"), std::string::npos) << lines;
    EXPECT_EQ(persistentLines(), 1) << lines;

    HmNode *s = first(t, "Session");
    ASSERT_NE(s, nullptr) << "AddTarget ends with the adapter's persistent login";
    EXPECT_EQ(get(s, "SessionStatus"), "Open");
    EXPECT_EQ(get(s, "Persistent"), "True");
    HmNode *c = first(s, "Connection");
    EXPECT_EQ(get(c, "DestinationIPAddress"), kTgtIp);
    EXPECT_EQ(get(c, "DestinationPortNumber"), "3260");
    EXPECT_EQ(get(c, "SourceIPAddress"), "192.0.2.10");
    EXPECT_EQ(get(c, "Status"), "Logged-in");
    ASSERT_EQ(sessions(kVsk).size(), 1u);

    // The target's refresh reads its LUNs through the session.
    ASSERT_EQ(ORSA_refresh_group(t->tag), 0u);
    ASSERT_EQ(instances(t, "LUN"), 3) << "the target's controller (LUN 0) and its two disks";
    EXPECT_EQ(get(lunNumbered(t, 0), "LUNType"), "0xc");
    for (int n = 1; n <= 2; n++) {
        SCOPED_TRACE(n);
        HmNode *lun = lunNumbered(t, n);
        ASSERT_NE(lun, nullptr);
        EXPECT_EQ(get(lun, "DeviceVendorName"), "KDEMU   ");
        EXPECT_EQ(get(lun, "DeviceModelNumber").substr(0, 5), "DISK" + std::to_string(n));
        // tgtd right-aligns the serial number in its page; it is shown as the page holds it.
        const std::string serial = get(lun, "LUNSerialNumber");
        EXPECT_EQ(serial.substr(serial.find_first_not_of(' ')), "EMUSN000" + std::to_string(n)) << serial;
        EXPECT_EQ(get(lun, "LUNType"), "0x0");
        EXPECT_EQ(get(lun, "BlockSize"), "512");
        EXPECT_EQ(get(lun, "LUNSize"), "2.00 MB");
    }
    (void)tid;
}

TEST_F(TargetsHost, LoginWithEachAuthenticationGivesAnOpenSessionWithItsConnection)
{
    ASSERT_TRUE(tgt_.addAccount(kIniUser, kIniSecret));
    ASSERT_TRUE(tgt_.addAccount(kTgtUser, kTgtSecret));
    struct Case {
        const char *what;
        const char *iqn;
        const char *method; // nullptr: none
        bool mutual_on_target;
        bool header_digest;
    } cases[] = {
        {"no CHAP", "iqn.2026-01.emu.tgt:none", nullptr, false, false},
        {"one-way CHAP", "iqn.2026-01.emu.tgt:oneway", "One-Way CHAP", false, false},
        {"mutual CHAP", "iqn.2026-01.emu.tgt:mutual", "Mutual CHAP", true, false},
        {"header digest", "iqn.2026-01.emu.tgt:digest", nullptr, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        int tid = serve(c.iqn);
        if (c.method != nullptr) {
            ASSERT_TRUE(tgt_.bindAccount(tid, kIniUser));
            if (c.mutual_on_target) {
                ASSERT_TRUE(tgt_.bindAccount(tid, kTgtUser, true));
            }
        }
        HmNode *t = restoreTarget(kVsk, c.iqn);
        ASSERT_NE(t, nullptr);
        if (c.method != nullptr) {
            option(t, "AuthenticationMethod", c.method);
            option(t, "InitiatorCHAPName", kIniUser);
            option(t, "InitiatorSecret", kIniSecret);
            option(t, "TargetCHAPName", kTgtUser);
            option(t, "TargetSecret", kTgtSecret);
            option(t, "CHAPParam", "Required");
        }
        if (c.header_digest) {
            option(t, "HeaderDigest", "CRC32C");
            option(t, "HeaderParam", "Preferred");
        }
        ASSERT_EQ(run(t, "Login"), 0u) << last_text();
        HmNode *s = first(t, "Session");
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(get(s, "SessionStatus"), "Open");
        EXPECT_EQ(get(s, "Persistent"), "True");
        HmNode *conn = first(s, "Connection");
        ASSERT_NE(conn, nullptr);
        EXPECT_EQ(get(conn, "DestinationIPAddress"), kTgtIp);
        EXPECT_EQ(get(conn, "Status"), "Logged-in");
        HmNode *negotiated = group(conn, "ConnectionNegotiatedLoginOptions");
        EXPECT_EQ(cached(negotiated, "AuthenticationMethod"), c.method != nullptr ? c.method : "None");
        EXPECT_EQ(cached(negotiated, "HeaderDigest"), c.header_digest ? "CRC32C" : "None");
        EXPECT_EQ(persistentLines(c.iqn), 1);
        EXPECT_NE(lunNumbered(t, 1), nullptr) << "the login reads the target's LUNs";
        bool seen = false;
        for (const adapter::IscsiSessionView &v : sessions(kVsk))
            if (v.target_name == c.iqn) {
                seen = true;
                EXPECT_EQ(v.chap, c.method != nullptr);
                EXPECT_EQ(v.mutual_chap, c.mutual_on_target);
                EXPECT_EQ(v.header_digest, c.header_digest);
            }
        EXPECT_TRUE(seen);
    }
}

// The attempts the engine made, first one in the highest bits: 4 = data
// digest, 2 = header digest, 1 = CHAP.
uint32_t attempts(std::initializer_list<uint32_t> order)
{
    uint32_t v = 0;
    for (uint32_t a : order)
        v = v << 3 | a;
    return v;
}

TEST_F(TargetsHost, RetriesRunOverChapAndDigestChoicesInOrder)
{
    ASSERT_TRUE(tgt_.addAccount(kIniUser, kIniSecret));
    struct Case {
        const char *what;
        const char *iqn;
        bool chap_on_target;
        const char *secret;
        const char *chap_param, *header_param, *data_param;
        std::vector<adapter::IscsiStatus> scripted;
        u32 status;
        uint32_t order;
        bool session;
    } cases[] = {
        {"wrong secret, CHAP preferred: on, then off, both refused",
         "iqn.2026-01.emu.tgt:r1",
         true,
         "wrongsecret1234",
         "Preferred",
         "Prohibited",
         "Prohibited",
         {},
         25,
         attempts({1, 0}),
         false},
        {"wrong secret, CHAP required: one attempt",
         "iqn.2026-01.emu.tgt:r2",
         true,
         "wrongsecret1234",
         "Required",
         "Prohibited",
         "Prohibited",
         {},
         25,
         attempts({1}),
         false},
        {"CHAP discouraged: off first, then on with the right secret",
         "iqn.2026-01.emu.tgt:r3",
         true,
         kIniSecret,
         "Discouraged",
         "Prohibited",
         "Prohibited",
         {},
         0,
         attempts({0, 1}),
         true},
        {"everything preferred: seven refusals, the eighth attempt logs in", "iqn.2026-01.emu.tgt:r4", false,
         kIniSecret, "Preferred", "Preferred", "Preferred",
         std::vector<adapter::IscsiStatus>(7, adapter::kIscsiDataDigest), 0, attempts({7, 3, 5, 1, 6, 2, 4, 0}), true},
        {"digest refused on the last choice", "iqn.2026-01.emu.tgt:r5", false, kIniSecret, "Prohibited", "Preferred",
         "Prohibited", std::vector<adapter::IscsiStatus>(2, adapter::kIscsiDataDigest), 243, attempts({2, 0}), false},
        {"target not found ends at once with 237",
         "iqn.2026-01.emu.tgt:r6",
         false,
         kIniSecret,
         "Preferred",
         "Prohibited",
         "Prohibited",
         {adapter::kIscsiTargetNotFound},
         237,
         attempts({1}),
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        int tid = serve(c.iqn);
        if (c.chap_on_target) {
            ASSERT_TRUE(tgt_.bindAccount(tid, kIniUser));
        }
        HmNode *t = restoreTarget(kVsk, c.iqn);
        ASSERT_NE(t, nullptr);
        option(t, "AuthenticationMethod", "One-Way CHAP");
        option(t, "InitiatorCHAPName", kIniUser);
        option(t, "InitiatorSecret", c.secret);
        option(t, "HeaderDigest", "CRC32C");
        option(t, "DataDigest", "CRC32C");
        option(t, "CHAPParam", c.chap_param);
        option(t, "HeaderParam", c.header_param);
        option(t, "DataParam", c.data_param);
        for (const adapter::IscsiStatus &st : c.scripted)
            adapter::queueLoginOutcome(fw(kVsk), 1, st);
        orsa_login_attempts = 0;
        const size_t before = entries(kVsk);
        EXPECT_EQ(run(t, "Login"), c.status != 0 ? 1u : 0u);
        EXPECT_EQ(last_code(), c.status) << last_text();
        EXPECT_EQ(orsa_login_attempts, c.order) << std::oct << orsa_login_attempts;
        EXPECT_EQ(first(t, "Session") != nullptr, c.session);
        EXPECT_EQ(entries(kVsk), before + (c.session ? 1 : 0)) << "a failed attempt's persistent entry is removed";
        EXPECT_EQ(persistentLines(c.iqn), c.session ? 1 : 0);
        // Keep the next case's counts apart from this one's sessions.
        if (HmNode *s = first(t, "Session")) {
            EXPECT_EQ(run(t, "Logout"), 0u) << last_text();
            (void)s;
        }
    }
}

TEST_F(TargetsHost, LogoutEndsTheSessionAndDeleteTargetWaitsForIt)
{
    serve();
    HmNode *t = restoreTarget(kVsk);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(run(t, "Login"), 0u) << last_text();
    ASSERT_NE(first(t, "Session"), nullptr);

    // An open session keeps its target: nothing changes.
    const std::string lines = file(ORSA_SAVETGT_FILE);
    host_->clearLog();
    EXPECT_EQ(run(lhba(kVsk), "DeleteTarget", {"0"}), 1u);
    EXPECT_EQ(last_code(), 34u);
    EXPECT_EQ(target(kVsk), t);
    EXPECT_EQ(file(ORSA_SAVETGT_FILE), lines);
    EXPECT_EQ(count(6, 28), 0u) << "no persistent entry deleted";
    EXPECT_EQ(entries(kVsk), 1u);

    ASSERT_EQ(run(t, "Logout"), 0u) << last_text();
    EXPECT_EQ(first(t, "Session"), nullptr);
    EXPECT_EQ(instances(t, "LUN"), 0);
    EXPECT_TRUE(sessions(kVsk).empty());
    EXPECT_EQ(entries(kVsk), 0u);
    EXPECT_EQ(persistentLines(), 0) << file(ORSA_SAVETGT_FILE);
    EXPECT_EQ(run(t, "Logout"), 1u);
    EXPECT_EQ(last_code(), 174u);

    EXPECT_EQ(run(lhba(kVsk), "DeleteTarget", {"0"}), 0u) << last_text();
    EXPECT_EQ(target(kVsk), nullptr);
    EXPECT_EQ(file(ORSA_SAVETGT_FILE).find(kIqn), std::string::npos);
}

TEST_F(TargetsHost, ScsiWriteZeroesBlocksOfTheLunAndRefusesLongWrites)
{
    int tid = serve();
    HmNode *t = restoreTarget(kVsk);
    ASSERT_EQ(run(t, "Login"), 0u) << last_text();
    HmNode *lun = lunNumbered(t, 1);
    ASSERT_NE(lun, nullptr);
    ASSERT_EQ(tgt_.lunBytes(tid, 1, 0, 1)[0], 0xA5);

    host_->clearLog();
    EXPECT_EQ(run(lun, "SCSIWrite", {"2", "128"}), 1u);
    EXPECT_EQ(last_code(), 7u);
    EXPECT_EQ(count(6, 59), 0u) << "refused before anything is sent";

    EXPECT_EQ(run(lun, "SCSIWrite", {"2", "3"}), 0u) << last_text();
    std::vector<uint8_t> bytes = tgt_.lunBytes(tid, 1, 0, 6 * 512);
    ASSERT_EQ(bytes.size(), 6u * 512);
    for (size_t i = 0; i < bytes.size(); i++) {
        bool written = i >= 2 * 512 && i < 5 * 512;
        ASSERT_EQ(bytes[i], written ? 0 : 0xA5) << i;
    }
    EXPECT_EQ(run(lun, "StdInquiry"), 0u) << last_text();
}

TEST_F(TargetsHost, AnEmulatedRebootLogsInThePersistentTargetAgain)
{
    serve();
    ASSERT_EQ(run(lhba(kVsk), "AddTarget", {kIqn, kTgtIp}), 0u) << last_text();
    ASSERT_EQ(sessions(kVsk).size(), 1u);
    const uint32_t before = sessions(kVsk)[0].handle;
    host_->rebootAdapter(kVsk);
    std::vector<adapter::IscsiSessionView> after = sessions(kVsk);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after[0].handle, before) << "a new session";
    EXPECT_EQ(after[0].state & adapter::kSessOpen, adapter::kSessOpen);
    EXPECT_EQ(after[0].flags & adapter::kSessFlagNotPersistent, 0u);
    // The tree learns it from the target's refreshes: the first drops the
    // group whose session the adapter no longer has (its record cannot be
    // read, which also ends that refresh's session walk), the next one
    // makes the group of the new session.
    HmNode *t = target(kVsk);
    ASSERT_EQ(ORSA_refresh_group(t->tag), 0u);
    EXPECT_EQ(instances(t, "Session"), 0);
    ASSERT_EQ(ORSA_refresh_group(t->tag), 0u);
    ASSERT_EQ(instances(t, "Session"), 1);
    EXPECT_EQ(get(first(t, "Session"), "SessionStatus"), "Open");
}

TEST_F(TargetsHost, AddTargetRefusesNamesThatWouldBreakItsLine)
{
    for (const char *name : {"iqn.2026-01.emu.tgt:a,b", "iqn.2026-01.emu.tgt:a\tb"}) {
        host_->clearLog();
        EXPECT_EQ(run(lhba(kVsk), "AddTarget", {name, kTgtIp}), 1u) << name;
        EXPECT_EQ(last_code(), 6u);
        EXPECT_EQ(instances(lhba(kVsk), "Target"), 0);
        EXPECT_EQ(count(6, 27), 0u);
        EXPECT_EQ(file(ORSA_SAVETGT_FILE), "");
    }
}

TEST_F(TargetsHost, BootSessionsPerGeneration)
{
    ASSERT_TRUE(tgt_.addAccount(kIniUser, kIniSecret));
    ASSERT_TRUE(tgt_.addAccount(kTgtUser, kTgtSecret));
    int tid = serve();
    ASSERT_TRUE(tgt_.bindAccount(tid, kIniUser));
    ASSERT_TRUE(tgt_.bindAccount(tid, kTgtUser, true));
    struct Case {
        const char *what;
        size_t adapter;
        size_t object_writes; // flash object writes of the set to "True"
    } cases[] = {
        {"KS3: the boot flag only", kKs3, 0},
        {"Veskarn: also region 3 and, with mutual CHAP, region 2", kVsk, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        HmNode *t = restoreTarget(c.adapter);
        ASSERT_NE(t, nullptr);
        option(t, "AuthenticationMethod", "Mutual CHAP");
        option(t, "InitiatorCHAPName", kIniUser);
        option(t, "InitiatorSecret", kIniSecret);
        option(t, "TargetCHAPName", kTgtUser);
        option(t, "TargetSecret", kTgtSecret);
        option(t, "CHAPParam", "Required");
        ASSERT_EQ(run(t, "Login"), 0u) << last_text();
        HmNode *s = first(t, "Session");
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(get(s, "iSCSIBoot"), "False");

        host_->clearLog();
        EXPECT_EQ(set(s, "iSCSIBoot", "False"), 0u) << "the current value: nothing sent";
        EXPECT_EQ(count(6, 53), 0u);
        EXPECT_EQ(set(s, "iSCSIBoot", "True"), 0u) << last_text();
        EXPECT_EQ(count(6, 53), 1u);
        EXPECT_EQ(count(1, 172), c.object_writes);
        EXPECT_EQ(get(s, "iSCSIBoot"), "True") << "the adapter's flag";
        if (c.adapter == kVsk) {
            Where w = where(s);
            uint8_t *region = ORSA_read_iscsi_region(w.port, w.domain, w.phba, 3);
            ASSERT_NE(region, nullptr);
            int boot_entries = 0;
            const uint32_t area = orsa_region_length(region);
            for (uint32_t at = 0; at + 3 <= area;) {
                uint32_t length = region[16 + at + 1] | region[16 + at + 2] << 8;
                if (region[16 + at] == 3) {
                    boot_entries++;
                    EXPECT_EQ(region[16 + at + 16], 2) << "mutual CHAP";
                    EXPECT_EQ(std::string(reinterpret_cast<char *>(region) + 16 + at + 27 + 4, strlen(kIqn)), kIqn);
                }
                at += length + 3;
            }
            orsa_dfree(region);
            EXPECT_EQ(boot_entries, 1);
        }
        // Every IP change of that port is refused while the boot session lives.
        host_->clearLog();
        EXPECT_EQ(run(tcpip(c.adapter, 1), "ConfigureIPAddress", {"192.0.2.20", "255.255.255.0"}), 1u);
        EXPECT_EQ(last_code(), 44u);
        EXPECT_EQ(run(tcpip(c.adapter, 1), "DHCPEnable"), 1u);
        EXPECT_EQ(last_code(), 44u);
        EXPECT_EQ(count(2, 21), 0u);
        EXPECT_EQ(count(2, 17), 0u);
        // An open boot session is not logged out.
        EXPECT_EQ(run(t, "Logout"), 1u);
        EXPECT_EQ(last_code(), 126u);
        EXPECT_EQ(set(s, "iSCSIBoot", "False"), 0u) << last_text();
        EXPECT_EQ(run(t, "Logout"), 0u) << last_text();
    }
}

TEST_F(TargetsHost, BootLoginsAndBootTargetsWriteTheBootRegionOnVeskarnOnly)
{
    struct Case {
        const char *what;
        size_t adapter;
        bool add_target; // AddTarget with BootTarget, else Login with it
        int entries;     // boot entries in region 3 afterwards; -1: no region written
    } cases[] = {
        {"Login, Veskarn", kVsk, false, 1},
        {"Login, KS3", kKs3, false, -1},
        {"AddTarget, Veskarn", kVsk, true, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string iqn =
            std::string("iqn.2026-01.emu.tgt:boot") + (c.add_target ? "a" : "l") + std::to_string(c.adapter);
        serve(iqn.c_str());
        host_->clearLog();
        HmNode *t = nullptr;
        if (c.add_target) {
            ASSERT_EQ(run(lhba(c.adapter), "AddTarget", {iqn, kTgtIp, "-", "True"}), 0u) << last_text();
            t = target(c.adapter, iqn.c_str());
        } else {
            t = restoreTarget(c.adapter, iqn.c_str());
            ASSERT_EQ(run(t, "Login", {"-", "-", "-", "-", "True"}), 0u) << last_text();
        }
        ASSERT_NE(first(t, "Session"), nullptr);
        if (c.entries < 0) {
            EXPECT_EQ(count(1, 172), 0u) << "no flash region is written";
        } else {
            EXPECT_EQ(bootEntries(t), c.entries);
        }
    }
}

} // namespace
