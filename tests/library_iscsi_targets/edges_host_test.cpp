// The edge cases of logins, sessions, targets and the extended timeout, and
// replies that break their own bounds: over the emulated adapter and the
// real target, scripted where the target cannot produce them.
#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "targets_fixture.h"

namespace {

class EdgesHost : public TargetsHost {
protected:
    // Runs the Login handler with parameter slots as given (the tree's own
    // checks of the parameters are not in the way: the start-up re-login
    // passes the file's texts like this).
    static u32 login(HmNode *t, const char *qualifier)
    {
        HmValueSlot params[HM_MAX_PARAMS] = {};
        snprintf(params[3], sizeof params[3], "%s", qualifier);
        return do_Login(t, internal_get_node(t, "Login", HM_KIND_ACTION), params);
    }
    // The target logged in once (qualifier 0).
    HmNode *loggedIn(int *tid = nullptr)
    {
        int id = serve();
        if (tid != nullptr)
            *tid = id;
        HmNode *t = restoreTarget(kVsk);
        EXPECT_EQ(run(t, "Login"), 0u) << last_text();
        return t;
    }
    static HmNode *session(HmNode *t, int n)
    {
        for (HmNode *s = first(t, "Session"); s != nullptr; s = hm_next_instance(s))
            if (hm_instance_number(s) == n)
                return s;
        return nullptr;
    }
    uint32_t etoOf(uint32_t handle)
    {
        for (const adapter::IscsiSessionView &v : sessions(kVsk))
            if (v.handle == handle)
                return v.eto;
        return 0;
    }
};

TEST_F(EdgesHost, TheSixtyFifthSessionIsRefusedBeforeAnyCommand)
{
    serve();
    HmNode *t = restoreTarget(kVsk);
    for (int i = 0; i < 64; i++)
        ASSERT_NE(initialize_Session(t, nullptr, nullptr, nullptr), nullptr) << i;
    host_->clearLog();
    EXPECT_EQ(run(t, "Login"), 1u);
    EXPECT_EQ(last_code(), 118u);
    EXPECT_EQ(count(6, 27) + count(6, 23), 0u);
}

TEST_F(EdgesHost, QualifierTextsOfALogin)
{
    HmNode *t = loggedIn();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(get(session(t, 0), "ISIDQualifier"), "0000");
    struct Case {
        const char *text;
        u32 rc, status;
        const char *shown; // the new session's ISIDQualifier
    } cases[] = {
        {"12abc", 1, 8, nullptr}, {"0x10", 0, 0, "0010"}, {"16", 1, 71, nullptr}, // in use by the session just made
        {"0X11", 0, 0, "0011"},   {"022", 0, 0, "0012"},                          // octal
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const int before = instances(t, "Session");
        orsa_reset_last_status();
        EXPECT_EQ(login(t, c.text), c.rc);
        EXPECT_EQ(last_code(), c.status) << last_text();
        EXPECT_EQ(instances(t, "Session"), before + (c.shown != nullptr ? 1 : 0));
        if (c.shown != nullptr) {
            EXPECT_EQ(get(session(t, before), "ISIDQualifier"), c.shown);
            EXPECT_EQ(get(session(t, before), "SessionStatus"), "Open");
        }
    }
    EXPECT_EQ(sessions(kVsk).size(), 4u);
    EXPECT_EQ(persistentLines(), 4);
}

TEST_F(EdgesHost, AClosedSessionIsReusedWithItsQualifier)
{
    int tid = 0;
    HmNode *t = loggedIn(&tid);
    ASSERT_NE(t, nullptr);
    HmNode *s = first(t, "Session");
    ASSERT_TRUE(tgt_.dropSessions(tid));
    // The target closes the connection on its own time; the adapter notices
    // at a session query (bounded wait for that).
    std::string status;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         (status = get(s, "SessionStatus")) != "Closed" && std::chrono::steady_clock::now() < end;)
        std::this_thread::yield();
    ASSERT_EQ(status, "Closed") << "the adapter noticed at its session query";
    host_->clearLog();
    ASSERT_EQ(run(t, "Login"), 0u) << last_text();
    EXPECT_EQ(count(6, 27), 0u) << "a reused session adds no persistent entry";
    EXPECT_EQ(first(t, "Session"), s) << "the same group";
    EXPECT_EQ(instances(t, "Session"), 1);
    EXPECT_EQ(get(s, "SessionStatus"), "Open");
    EXPECT_EQ(get(s, "ISIDQualifier"), "0000");
    EXPECT_NE(lunNumbered(t, 1), nullptr) << "its LUNs are read through the new adapter session";
    std::vector<adapter::IscsiSessionView> now = sessions(kVsk);
    ASSERT_EQ(now.size(), 1u);
    EXPECT_EQ(orsa_session_record(s)->session_handle, now[0].handle);
}

TEST_F(EdgesHost, SessionStatesAndRedirectionAsTheAdapterShowsThem)
{
    HmNode *t = loggedIn();
    HmNode *s = first(t, "Session");
    HmNode *c = first(s, "Connection");
    ASSERT_NE(c, nullptr);
    const uint32_t handle = sessions(kVsk).at(0).handle;
    struct Case {
        uint32_t state;
        const char *status;
    } cases[] = {{adapter::kSessInRecovery, "In Recovery"},
                 {adapter::kSessLoginInProgress, "Login in Progress"},
                 {adapter::kSessDeleted, "Deleted"},
                 {adapter::kSessOpen | adapter::kSessClosed, "Open"},
                 {0, "Open"}};
    for (const Case &k : cases) {
        adapter::setSessionState(fw(kVsk), handle, k.state);
        EXPECT_EQ(get(s, "SessionStatus"), k.status) << std::hex << k.state;
    }
    EXPECT_EQ(get(c, "RedirectedDestinationIPAddress"), "N/A");
    EXPECT_EQ(get(c, "RedirectedDestinationPort"), "N/A");
    std::array<uint8_t, 16> other{};
    other[0] = 192, other[1] = 0, other[2] = 2, other[3] = 7;
    adapter::setRedirect(fw(kVsk), handle, 1, other, 3261);
    EXPECT_EQ(get(c, "RedirectedDestinationIPAddress"), "192.0.2.7");
    EXPECT_EQ(get(c, "RedirectedDestinationPort"), "3261");
}

TEST_F(EdgesHost, ATargetTheAdapterReportsTwiceIsImportedOnce)
{
    adapter::IscsiPortal portal;
    portal.address = {192, 0, 2, 1};
    adapter::addDiscoveredTarget(fw(kVsk), 1, kIqn, portal);
    adapter::addDiscoveredTarget(fw(kVsk), 1, "iqn.2026-01.emu.tgt:a,b", portal);
    // The list names the first target twice.
    host_->setReplyRewrite([](uint8_t *r, size_t n) {
        if (r[0] != 30 || r[1] != 6 || n < 16 + 4 + 24)
            return;
        uint8_t *p = r + 16;
        uint32_t count = p[0] | p[1] << 8;
        if (count == 2) {
            p[0] = 3;
            memcpy(p + 4 + 16, p + 4, 8);
        }
    });
    HmNode *l = lhba(kVsk);
    Where w = where(l);
    HmValueSlot params[HM_MAX_PARAMS] = {};
    EXPECT_EQ(get_all_targets(l, w.port, w.domain, w.phba, 1, params), 0u) << last_text();
    host_->setReplyRewrite({});
    EXPECT_EQ(instances(l, "Target"), 1) << "one group; the name with a comma is skipped";
    HmNode *t = target(kVsk);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(get(t, "TargetType"), "Discovered");
    EXPECT_EQ(instances(t, "TargetPortal"), 1);
    const std::string lines = file(ORSA_SAVETGT_FILE);
    EXPECT_EQ(lines.find("a,b"), std::string::npos) << lines;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1) << lines;
}

TEST_F(EdgesHost, EtoGoesToEverySessionAndStopsAtTheFirstFailure)
{
    serve();
    HmNode *t = restoreTarget(kVsk);
    // Without sessions the value is only kept, and the next login sends it.
    host_->clearLog();
    EXPECT_EQ(get(t, "ETO"), "30") << "the adapter's default";
    EXPECT_EQ(set(t, "ETO", "40"), 0u);
    EXPECT_EQ(count(6, 17), 0u);
    ASSERT_EQ(run(t, "Login"), 0u) << last_text();
    ASSERT_EQ(login(t, "0x10"), 0u) << last_text();
    std::vector<adapter::IscsiSessionView> two = sessions(kVsk);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].eto, 40u);
    EXPECT_EQ(two[1].eto, 40u);

    host_->clearLog();
    EXPECT_EQ(set(t, "ETO", "50"), 0u) << last_text();
    EXPECT_EQ(count(6, 17), 2u);
    EXPECT_EQ(etoOf(two[0].handle), 50u);
    EXPECT_EQ(etoOf(two[1].handle), 50u);
    EXPECT_EQ(get(t, "ETO"), "50");

    // The second session's configuration write fails in the adapter: the
    // first keeps the new value, the second the old one, and the call fails.
    int writes = 0;
    host_->setReplyRewrite([this, &writes](uint8_t *r, size_t) {
        if (r[0] == 17 && r[1] == 6 && ++writes == 1)
            fw(kVsk).setFault(6, 17, {.status = 1, .additional = 43, .times = 1});
    });
    EXPECT_NE(set(t, "ETO", "60"), 0u);
    host_->setReplyRewrite({});
    fw(kVsk).clearFault(6, 17);
    EXPECT_EQ(writes, 2);
    EXPECT_EQ(etoOf(two[0].handle), 60u);
    EXPECT_EQ(etoOf(two[1].handle), 50u);
}

TEST_F(EdgesHost, RepliesThatOverrunThemselvesFailTheirCalls)
{
    HmNode *t = loggedIn();
    ASSERT_NE(t, nullptr);
    HmNode *s = first(t, "Session");
    HmNode *lun = first(t, "LUN");
    ASSERT_NE(lun, nullptr);
    HmNode *l = lhba(kVsk);
    Where w = where(l);
    struct Case {
        const char *what;
        adapter::IscsiMalformed kind;
        std::function<u32()> call;
        u32 status; // 0: the call bounds the reply and goes on
    } cases[] = {
        {"connection count", adapter::IscsiMalformed::SessionConnectionCount,
         [&] { return get(s, "SessionStatus", nullptr), last_code(); }, 85},
        {"active-session count", adapter::IscsiMalformed::ActiveSessionCount,
         [&] {
             HmValueSlot p[HM_MAX_PARAMS] = {};
             return get_all_sessions(l, w.port, w.domain, w.phba, t, nullptr, p) != 0 ? last_code() : 0u;
         },
         84},
        {"target-id count", adapter::IscsiMalformed::TargetIdCount,
         [&] {
             HmValueSlot p[HM_MAX_PARAMS] = {};
             return get_all_targets(l, w.port, w.domain, w.phba, 0, p);
         },
         82},
        {"portal groups", adapter::IscsiMalformed::TargetPortalGroups,
         [&] {
             HmValueSlot p[HM_MAX_PARAMS] = {};
             get_all_targets(l, w.port, w.domain, w.phba, 0, p);
             return last_code();
         },
         83},
        {"portal count", adapter::IscsiMalformed::TargetPortalCount,
         [&] {
             HmValueSlot p[HM_MAX_PARAMS] = {};
             get_all_targets(l, w.port, w.domain, w.phba, 0, p);
             return last_code();
         },
         83},
        {"REPORT LUNS length", adapter::IscsiMalformed::ReportLunsLength,
         [&] {
             HmValueSlot p[HM_MAX_PARAMS] = {};
             char out[HM_VALUE_SIZE];
             return get_all_luns(t, w.domain, w.phba, t, nullptr, p, out);
         },
         0},
        {"serial number length", adapter::IscsiMalformed::SerialNumberLength,
         [&] {
             u32 rc = 0;
             std::string serial = get(lunNumbered(t, 1), "LUNSerialNumber", &rc);
             return rc != 0 || serial.size() > 251 ? 1u : 0u;
         },
         0},
        {"region length", adapter::IscsiMalformed::RegionLength,
         [&] { return set(s, "iSCSIBoot", "True") != 0 ? last_code() : 0u; }, 306},
        {"object read length", adapter::IscsiMalformed::ObjectReadLength,
         [&] { return set(s, "iSCSIBoot", "True") != 0 ? last_code() : 0u; }, 306},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        adapter::setMalformedReply(fw(kVsk), c.kind, true);
        orsa_reset_last_status();
        EXPECT_EQ(c.call(), c.status) << last_text();
        adapter::setMalformedReply(fw(kVsk), c.kind, false);
        // Put the boot flag back for the next case.
        if (get(s, "iSCSIBoot") == "True") {
            set(s, "iSCSIBoot", "False");
        }
    }
    EXPECT_EQ(get(s, "SessionStatus"), "Open") << "the session itself is untouched";
    (void)lun;
}

// LUN lists and sizes a real target does not offer, from a session the
// firmware scripts (no connection behind it).
TEST_F(EdgesHost, LunListsAndSizesOfAScriptedSession)
{
    auto luns = [](uint16_t first, size_t n, uint64_t blocks) {
        std::vector<adapter::ScriptedLun> v;
        for (size_t i = 0; i < n; i++) {
            adapter::ScriptedLun l;
            l.lun = (uint16_t)(first + i);
            l.blocks = blocks;
            v.push_back(l);
        }
        return v;
    };
    struct Case {
        const char *what;
        std::vector<adapter::ScriptedLun> luns;
        int groups;
        int number; // a LUN to look at
        const char *lun_number, *size, *block_size;
    } cases[] = {
        {"no LUN", {}, 0, -1, nullptr, nullptr, nullptr},
        {"LUN 5, READ CAPACITY(10): 4194303 blocks of 512", luns(5, 1, 4194304), 1, 5, "0000000000000500", "2.00 GB",
         "512"},
        {"beyond 32 bits: READ CAPACITY(16)", luns(1, 1, 1ull << 32), 1, 1, "0000000000000100", "2.00 TB", "512"},
        {"300 LUNs: 255 taken", luns(0, 300, 2048), 255, 254, "000000000000fe00", "1.00 MB", "512"},
    };
    int k = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string iqn = "iqn.2026-01.emu.tgt:scripted" + std::to_string(k++);
        HmNode *t = restoreTarget(kVsk, iqn.c_str());
        ASSERT_NE(t, nullptr);
        target_params record = {};
        snprintf(record.target_name, sizeof record.target_name, "%s", iqn.c_str());
        ASSERT_EQ(orsa_target_address(kTgtIp, &record.address_kind, record.address), 0u);
        record.port = 3260;
        record.isid_qualifier = (uint16_t)(100 + k);
        snprintf(record.initiator_name, sizeof record.initiator_name, "%s", "iqn.2026-01.emu.init:scripted");
        const uint8_t *raw = reinterpret_cast<const uint8_t *>(&record);
        ASSERT_NE(adapter::addScriptedSession(fw(kVsk), 1, std::vector<uint8_t>(raw, raw + sizeof record), c.luns), 0u);
        ASSERT_EQ(ORSA_refresh_group(t->tag), 0u);
        ASSERT_EQ(instances(t, "Session"), 1);
        EXPECT_EQ(get(first(t, "Session"), "SessionStatus"), "Open");
        EXPECT_EQ(instances(t, "LUN"), c.groups);
        if (c.number >= 0) {
            HmNode *lun = lunNumbered(t, c.number);
            ASSERT_NE(lun, nullptr);
            EXPECT_EQ(get(lun, "LUNNumber"), c.lun_number);
            EXPECT_EQ(get(lun, "LUNSize"), c.size);
            EXPECT_EQ(get(lun, "BlockSize"), c.block_size);
        }
    }
}

} // namespace
