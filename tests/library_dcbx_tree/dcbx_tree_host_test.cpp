// The DCBX instance groups of each port as start-up and the TLV views'
// refresh make them, and AddApplicationTLV, DeleteApplicationTLV and
// ConfigurePGSettings as a client runs them, over the emulated host.
#include "config/cfg_dcbx_tree.h"
#include "dcbx_tree_fixture.h"
#include "profile_fixture.h"

namespace {

using adapter::Fault;

const std::vector<int> kEightPGs = {0, 1, 2, 3, 4, 5, 6, 7};

class DcbxTree : public DcbxTreeHost {
protected:
    void SetUp() override { boot(); }
    HmNode *p1() { return port(ctrl(0), "1"); }
    std::string key(HmNode *g, int slot) { return HM_GROUP(g)->keys[slot]; }
};

TEST_F(DcbxTree, StartUpBuildsEightPGsPerViewAndOneTLVGroupPerEntryInUse)
{
    boot(chardev::defaultHost(), [this](chardev::EmulatedHost &) {
        fill(dcbx(0, 1).admin, {{0, app(0x8906, 0, 0x08)}, {2, app(3260, 1, 0x10, 0x0A0B0C)}});
        fill(dcbx(0, 1).oper, {{1, app(0x8914, 0, 0x88)}});
        fill(dcbx(0, 1).peer, {{0, app(0x8906, 0, 0x01)}, {1, app(0x8914, 0, 0x02)}, {2, app(0x8915, 0, 0x04)}});
    });
    for (HmNode *p : {port(ctrl(0), "0"), p1(), port(ctrl(0), "3"), port(ctrl(1), "1")})
        for (const char *view : {"AdministratorPGSetting", "PeerPGSetting", "OperationalPGSettings"})
            EXPECT_EQ(numbers(pgView(p, view), "PG"), kEightPGs) << view;

    // Each group carries the number of its entry, also past a gap.
    HmNode *a = admin(p1());
    ASSERT_EQ(numbers(a, "ApplicationTLV"), (std::vector<int>{0, 2}));
    HmNode *iscsi = child(a, "ApplicationTLV2");
    EXPECT_EQ(cached(iscsi, "ProtocolSelector"), "1");
    EXPECT_EQ(cached(iscsi, "ProtocolID"), "0xcbc");
    EXPECT_EQ(cached(iscsi, "OUI"), "0xa0b0c");
    EXPECT_EQ(cached(iscsi, "PriorityBitMap"), "0x10");
    // The administrator's groups are keyed as AddApplicationTLV would make them.
    HmGroup *g = HM_GROUP(iscsi);
    EXPECT_EQ(g->key_a, a);
    EXPECT_EQ(g->key_b, internal_get_node(a, "AddApplicationTLV", HM_KIND_ACTION));
    EXPECT_NE(g->persistency_priority, 0u);
    EXPECT_EQ(key(iscsi, 0), "1");
    EXPECT_EQ(key(iscsi, 1), "3260");
    EXPECT_EQ(key(iscsi, 2), "16");
    EXPECT_EQ(key(iscsi, 3), "658188");
    EXPECT_EQ(cached(child(a, "ApplicationTLV0"), "ProtocolID"), "0x8906");
    EXPECT_EQ(cached(child(a, "ApplicationTLV0"), "OUI"), "0x1b21");

    HmNode *oper = tlvView(p1(), "OperationalTLVSettings"), *peer = tlvView(p1(), "PeerTLVSetting");
    EXPECT_EQ(numbers(oper, "ApplicationTLV"), (std::vector<int>{1}));
    EXPECT_EQ(numbers(peer, "ApplicationTLV"), (std::vector<int>{0, 1, 2}));
    HmNode *o1 = child(oper, "ApplicationTLV1");
    EXPECT_EQ(cached(o1, "ProtocolID"), "0x8914");
    EXPECT_EQ(cached(o1, "PriorityBitMap"), "0x88");
    EXPECT_EQ(cached(child(peer, "ApplicationTLV2"), "ProtocolID"), "0x8915");
    for (HmNode *n : {o1, child(peer, "ApplicationTLV0")}) {
        EXPECT_EQ(HM_GROUP(n)->key_a, nullptr);
        EXPECT_EQ(HM_GROUP(n)->key_b, nullptr);
        EXPECT_EQ(HM_GROUP(n)->persistency_priority, 0u);
    }
    // The other ports' adapters hold no entries.
    EXPECT_TRUE(numbers(admin(port(ctrl(0), "0")), "ApplicationTLV").empty());
    EXPECT_TRUE(numbers(admin(port(ctrl(1), "0")), "ApplicationTLV").empty());
}

TEST_F(DcbxTree, StartUpWithoutReadableViewsKeepsThePortsAndTheirPGs)
{
    boot(chardev::defaultHost(), [this](chardev::EmulatedHost &) {
        fill(dcbx(0, 1).admin, {{0, app(0x8906, 0, 0x08)}});
        fill(dcbx(1, 0).admin, {{0, app(0x8906, 0, 0x08)}});
        fw(0).setFault(16, 1, Fault{.status = 1});
    });
    ASSERT_NE(p1(), nullptr);
    EXPECT_EQ(numbers(pgView(p1(), "AdministratorPGSetting"), "PG"), kEightPGs);
    EXPECT_TRUE(numbers(admin(p1()), "ApplicationTLV").empty());
    EXPECT_EQ(numbers(admin(port(ctrl(1), "0")), "ApplicationTLV"), (std::vector<int>{0}));
}

TEST_F(DcbxTree, APortWithUnreadableViewsStillGetsItsChannels)
{
    // The configured profile puts NIC function 1 on port 1.
    ProfileImage profile;
    profile.port(1, 7);
    profile.pcie(1, 1);
    profile.function(ORSA_RES_NIC_FUNCTION, 1, 1);
    boot(chardev::defaultHost(), [this, profile](chardev::EmulatedHost &h) {
        fw(0).setFault(16, 1, Fault{.status = 1});
        h.setReplyRewrite([profile](u8 *reply, size_t size) {
            if (reply[1] != 1 || reply[0] != 164 || size < 16 + profile.bytes.size())
                return;
            reply[4] = 0;
            memcpy(reply + 16, profile.bytes.data(), profile.bytes.size());
        });
    });
    host_->setReplyRewrite(nullptr);
    EXPECT_TRUE(numbers(admin(p1()), "ApplicationTLV").empty());
    EXPECT_EQ(numbers(group(p1(), "ChannelManagement"), "Channel"), (std::vector<int>{0}));
}

TEST_F(DcbxTree, RefreshRebuildsTheGroupsOfEachView)
{
    boot(chardev::defaultHost(), [this](chardev::EmulatedHost &) {
        fill(dcbx(0, 1).admin, {{0, app(0x8906, 0, 0x08)}, {1, app(0x8914, 0, 0x08)}});
    });
    HmNode *a = admin(p1()), *oper = tlvView(p1(), "OperationalTLVSettings"), *peer = tlvView(p1(), "PeerTLVSetting");
    fill(dcbx(0, 1).admin, {{3, app(0x8915, 0, 0x20)}});
    fill(dcbx(0, 1).oper, {{0, app(0x8906, 0, 0x08)}, {14, app(3260, 1, 0x10)}});
    fill(dcbx(0, 1).peer, {{5, app(0x8906, 0, 0x08)}});
    EXPECT_EQ(group_AdministratorTLVSetting(a), 0u);
    EXPECT_EQ(group_OperationalTLVSettings(oper), 0u);
    EXPECT_EQ(group_PeerTLVSetting(peer), 0u);
    EXPECT_EQ(numbers(a, "ApplicationTLV"), (std::vector<int>{3}));
    EXPECT_EQ(numbers(oper, "ApplicationTLV"), (std::vector<int>{0, 14}));
    EXPECT_EQ(numbers(peer, "ApplicationTLV"), (std::vector<int>{5}));
    // Refreshed groups carry no keys; their values are read when asked for.
    HmNode *a3 = child(a, "ApplicationTLV3");
    EXPECT_EQ(HM_GROUP(a3)->key_b, nullptr);
    EXPECT_EQ(HM_GROUP(a3)->persistency_priority, 0u);
    EXPECT_EQ(cached(a3, "ProtocolID"), "0");

    // Inside a virtual function only the administrator's view is rebuilt.
    fill(dcbx(0, 1).admin, {});
    fill(dcbx(0, 1).peer, {});
    fill(dcbx(0, 1).oper, {});
    vm_flag = 1;
    EXPECT_EQ(group_PeerTLVSetting(peer), 0u);
    EXPECT_EQ(group_OperationalTLVSettings(oper), 0u);
    EXPECT_EQ(group_AdministratorTLVSetting(a), 0u);
    vm_flag = 0;
    EXPECT_TRUE(numbers(a, "ApplicationTLV").empty());
    EXPECT_EQ(numbers(peer, "ApplicationTLV"), (std::vector<int>{5}));
    EXPECT_EQ(numbers(oper, "ApplicationTLV"), (std::vector<int>{0, 14}));

    // A failed read leaves the groups; the operational view answers the
    // command's status, the others 1.
    fw(0).setFault(16, 1, Fault{.status = 1});
    orsa_reset_last_status();
    EXPECT_EQ(group_PeerTLVSetting(peer), 1u);
    EXPECT_EQ(last_code(), 101u);
    u32 rc = group_OperationalTLVSettings(oper);
    EXPECT_NE(rc, 0u);
    EXPECT_NE(rc, 1u);
    EXPECT_EQ(last_code(), 101u);
    EXPECT_EQ(numbers(peer, "ApplicationTLV"), (std::vector<int>{5}));
    EXPECT_EQ(numbers(oper, "ApplicationTLV"), (std::vector<int>{0, 14}));
}

TEST_F(DcbxTree, AddWritesTheFirstFreeEntryAndKeysTheNewGroup)
{
    adapter::DcbxView &v = dcbx(0, 1).admin;
    fill(v, {{0, app(0x8906, 0, 0x08)}, {2, app(0x8914, 0, 0x08)}});
    v.cnpv = 0x20;
    v.qcn_flags = adapter::kDcbxEnabled | adapter::kDcbxWilling;
    v.bandwidth = {50, 50, 0, 0, 0, 0, 0, 0};
    v.pg_id = {0, 0, 1, 1, 15, 15, 15, 15};
    ASSERT_EQ(group_AdministratorTLVSetting(admin(p1())), 0u);
    const unsigned before = writes(0);

    std::vector<u32> made;
    ASSERT_EQ(run(admin(p1()), "AddApplicationTLV", {"0", "0x8915", "0x08"}, &made), 0u) << last_text();
    ASSERT_EQ(writes(0), before + 1);
    std::vector<u8> w = lastWrite(0, kV1);
    EXPECT_EQ(w[0], 1u);
    EXPECT_EQ(w[1], 3u);
    EXPECT_EQ(rd32(w, 4), v.pg_flags);
    EXPECT_EQ(rd32(w, 8), v.pfc_flags);
    EXPECT_EQ(rd32(w, 12), v.qcn_flags);
    EXPECT_EQ(rd32(w, 16), v.app_flags);
    EXPECT_EQ(w[24], 50u);
    EXPECT_EQ(w[32 + 4 * 2], 1u);
    EXPECT_EQ(w[32 + 4 * 7], 15u);
    // Entry 1 is the first free one: protocol, selector, in use, the
    // default OUI 0x001B21 and priority 3 only.
    const size_t e = 72 + 16;
    EXPECT_EQ(rd16(w, e), 0x8915u);
    EXPECT_EQ(w[e + 2], 0u);
    EXPECT_EQ(w[e + 3], 1u);
    EXPECT_EQ(rd32(w, e + 4), 0x001B21u);
    for (unsigned k = 0; k < 8; k++)
        EXPECT_EQ(w[e + 8 + k], k == 3 ? 1u : 0u) << k;
    EXPECT_EQ(rd16(w, 72 + 32), 0x8914u);
    // The congestion-notification priorities stay as the adapter has them.
    EXPECT_EQ(w[312], 0x20u);
    EXPECT_EQ(w[316], 0u);
    EXPECT_EQ(dcbx(0, 1).admin.app_count, 3u);
    EXPECT_EQ(dcbx(0, 1).admin.apps[1].in_use, 1u);

    HmNode *a = admin(p1()), *g = child(a, "ApplicationTLV1");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(numbers(a, "ApplicationTLV"), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(made, (std::vector<u32>{g->tag}));
    EXPECT_EQ(cached(g, "ProtocolSelector"), "0");
    EXPECT_EQ(cached(g, "ProtocolID"), "0x8915");
    EXPECT_EQ(cached(g, "OUI"), "0x1b21");
    EXPECT_EQ(cached(g, "PriorityBitMap"), "0x08");
    EXPECT_EQ(HM_GROUP(g)->key_a, a);
    EXPECT_EQ(HM_GROUP(g)->key_b, internal_get_node(a, "AddApplicationTLV", HM_KIND_ACTION));
    EXPECT_EQ(key(g, 1), "0x8915");
    EXPECT_EQ(key(g, 2), "0x08");
    EXPECT_EQ(key(g, 3), "");
}

TEST_F(DcbxTree, AddPlacesTheGroupAtItsEntryWhenTheTreeLagsBehind)
{
    // Entries 0 and 1 came in after the tree was built.
    fill(dcbx(0, 1).admin, {{0, app(0x8906, 0, 0x08)}, {1, app(0x8914, 0, 0x08)}});
    std::vector<u32> made;
    ASSERT_EQ(run(admin(p1()), "AddApplicationTLV", {"1", "3260", "16", "0x1b21"}, &made), 0u) << last_text();
    HmNode *g = child(admin(p1()), "ApplicationTLV2");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(numbers(admin(p1()), "ApplicationTLV"), (std::vector<int>{2}));
    EXPECT_EQ(made, (std::vector<u32>{g->tag}));
    EXPECT_EQ(cached(g, "PriorityBitMap"), "0x10");
    EXPECT_EQ(cached(g, "ProtocolID"), "0xcbc");

    // Entry 0 goes away behind the tree's back: its group gives way to the
    // next entry 0.
    ASSERT_EQ(group_AdministratorTLVSetting(admin(p1())), 0u);
    dcbx(0, 1).admin.apps[0].in_use = 0;
    dcbx(0, 1).admin.app_count = 2;
    ASSERT_EQ(run(admin(p1()), "AddApplicationTLV", {"0", "0x8915", "4"}, &made), 0u) << last_text();
    HmNode *g0 = child(admin(p1()), "ApplicationTLV0");
    ASSERT_NE(g0, nullptr);
    EXPECT_EQ(made, (std::vector<u32>{g0->tag}));
    EXPECT_EQ(cached(g0, "ProtocolID"), "0x8915");
    EXPECT_EQ(HM_GROUP(g0)->key_b, internal_get_node(admin(p1()), "AddApplicationTLV", HM_KIND_ACTION));
    EXPECT_EQ(numbers(admin(p1()), "ApplicationTLV"), (std::vector<int>{0, 1, 2}));
}

TEST_F(DcbxTree, AFirmwareWithoutTheLongFormGetsTheShortOne)
{
    boot(chardev::defaultHost(), [this](chardev::EmulatedHost &) {
        adapter::dcbxState(fw(0)).v1 = false;
        fill(dcbx(0, 1).admin, {{0, app(0x8906, 0, 0x08)}, {1, app(0x8914, 0, 0x08)}});
        dcbx(0, 1).admin.qcn_flags = adapter::kDcbxEnabled;
    });
    HmNode *a = admin(p1());
    ASSERT_EQ(run(a, "AddApplicationTLV", {"0", "0x8915", "0x08"}), 0u) << last_text();
    std::vector<u8> w = lastWrite(0, kV0);
    EXPECT_EQ(w[1], 3u);
    EXPECT_EQ(rd32(w, 12), 0u);
    EXPECT_EQ(rd16(w, 72 + 32), 0x8915u);
    EXPECT_EQ(w[72 + 32 + 3], 1u);
    EXPECT_EQ(w[72 + 32 + 8 + 3], 1u);
    HmNode *g = child(a, "ApplicationTLV2");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(cached(g, "ProtocolID"), "0x8915");
    EXPECT_EQ(cached(g, "OUI"), "0x1b21");
    EXPECT_EQ(HM_GROUP(g)->key_b, internal_get_node(a, "AddApplicationTLV", HM_KIND_ACTION));

    ASSERT_EQ(run(a, "DeleteApplicationTLV", {"0"}), 0u) << last_text();
    w = lastWrite(0, kV0);
    EXPECT_EQ(w[1], 2u);
    EXPECT_EQ(w[72 + 3], 0u);
    EXPECT_EQ(w[72 + 16 + 3], 1u);
    EXPECT_EQ(numbers(a, "ApplicationTLV"), (std::vector<int>{1, 2}));
    EXPECT_EQ(dcbx(0, 1).admin.app_count, 2u);
}

TEST_F(DcbxTree, TheSixteenthTLVIsRefusedWithoutAWrite)
{
    std::vector<std::pair<unsigned, adapter::DcbxAppEntry>> all;
    for (unsigned n = 0; n < 15; n++)
        all.push_back({n, app((uint16_t)(0x8900 + n), 0, 0x08)});
    fill(dcbx(0, 1).admin, all);
    ASSERT_EQ(group_AdministratorTLVSetting(admin(p1())), 0u);
    ASSERT_EQ(numbers(admin(p1()), "ApplicationTLV").size(), 15u);
    const unsigned before = writes(0);
    EXPECT_EQ(run(admin(p1()), "AddApplicationTLV", {"0", "0x8915", "0x08"}), 1u);
    EXPECT_EQ(last_code(), 158u);
    EXPECT_EQ(last_text(), "Failed to add ApplicationTLV. Max ApplicationTLV's are reached.");
    EXPECT_EQ(writes(0), before);
}

TEST_F(DcbxTree, AddRefusesBadParametersBeforeAnyCommand)
{
    struct Case {
        std::vector<std::string> params;
        const char *text;
    } cases[] = {
        {{"0", "0x8906", "0x1z"}, "PriorityBitMap: Invalid Value."},
        {{"0", "0x8906", "-1"}, "PriorityBitMap: Invalid Value."},
        {{"0", "0x8906", "256"}, "PriorityBitMap: Invalid Value."},
        {{"0", "0x8906", "8", "0x1b2z"}, "OUI: Invalid Value."},
        {{"0", "0x8906", "8", "-6945"}, "OUI: Invalid Value."},
        // The entry keeps 16 bits of protocol id.
        {{"0", "70000", "8"}, "ProtocolID: Invalid Value."},
    };
    const unsigned reads = fw(0).commandsSeen(16, 1), before = writes(0);
    for (const Case &c : cases) {
        EXPECT_EQ(run(admin(p1()), "AddApplicationTLV", c.params), 1u) << c.params[2];
        EXPECT_EQ(last_code(), 6u);
        EXPECT_EQ(last_text(), c.text);
    }
    EXPECT_EQ(fw(0).commandsSeen(16, 1), reads);
    EXPECT_EQ(writes(0), before);
    EXPECT_TRUE(numbers(admin(p1()), "ApplicationTLV").empty());
}

// Without the long form the short one's failure is what the client sees:
// its own status (a failed write 102, a full table 158), not 101 for all.
TEST_F(DcbxTree, TheShortFormsFailureIsItsOwn)
{
    std::vector<std::pair<unsigned, adapter::DcbxAppEntry>> all;
    for (unsigned n = 0; n < 15; n++)
        all.push_back({n, app((uint16_t)(0x8900 + n), 0, 0x08)});
    boot(chardev::defaultHost(), [this](chardev::EmulatedHost &) {
        adapter::dcbxState(fw(0)).v1 = false;
        fill(dcbx(0, 1).admin, {{0, app(0x8906, 0, 0x08)}});
    });
    HmNode *a = admin(p1());
    struct Case {
        const char *what;
        const char *action;
        std::vector<std::string> params;
        Fault fault;  // on the write
        bool full;    // every entry in use
        u32 code;
    } cases[] = {
        {"add, the write fails", "AddApplicationTLV", {"0", "0x8914", "0x08"}, {.status = 1, .times = 1}, false, 102},
        {"delete, the write fails", "DeleteApplicationTLV", {"0"}, {.status = 1, .times = 1}, false, 102},
        {"add, no entry left", "AddApplicationTLV", {"0", "0x8914", "0x08"}, {}, true, 158},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.full) {
            fill(dcbx(0, 1).admin, all);
            ASSERT_EQ(group_AdministratorTLVSetting(a), 0u);
        }
        if (c.fault.status != 0)
            fw(0).setFault(16, 2, c.fault);
        const unsigned before = writes(0);
        EXPECT_NE(run(a, c.action, c.params), 0u);
        EXPECT_EQ(last_code(), c.code);
        EXPECT_EQ(writes(0), before + (c.fault.status != 0 ? 1u : 0u));
        EXPECT_EQ(numbers(a, "ApplicationTLV").size(), c.full ? 15u : 1u);
        fw(0).clearFaults();
    }
}

TEST_F(DcbxTree, FailedCommandsLeaveTheTreeAsItWas)
{
    HmNode *a = admin(p1());
    fw(0).setFault(16, 1, Fault{.status = 1, .times = 1});
    EXPECT_EQ(run(a, "AddApplicationTLV", {"0", "0x8906", "8"}), 1u);
    EXPECT_EQ(last_code(), 101u);

    fw(0).setFault(16, 2, Fault{.status = 1, .times = 1});
    u32 rc = run(a, "AddApplicationTLV", {"0", "0x8906", "8"});
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), 102u);
    EXPECT_TRUE(numbers(a, "ApplicationTLV").empty());

    ASSERT_EQ(run(a, "AddApplicationTLV", {"0", "0x8906", "8"}), 0u) << last_text();
    fw(0).setFault(16, 2, Fault{.status = 1, .times = 1});
    EXPECT_NE(run(a, "DeleteApplicationTLV", {"0"}), 0u);
    EXPECT_EQ(last_code(), 102u);
    EXPECT_EQ(numbers(a, "ApplicationTLV"), (std::vector<int>{0}));
    EXPECT_EQ(dcbx(0, 1).admin.apps[0].in_use, 1u);
}

TEST_F(DcbxTree, DeleteClearsTheEntryOfTheNamedGroup)
{
    adapter::DcbxView &v = dcbx(0, 1).admin;
    fill(v, {{0, app(0x8906, 0, 1)}, {1, app(0x8914, 0, 2)}, {2, app(0x8915, 0, 4)}, {3, app(3260, 1, 8)},
             {4, app(860, 1, 16)}});
    v.cnpv = 0x08;
    HmNode *a = admin(p1());
    ASSERT_EQ(group_AdministratorTLVSetting(a), 0u);
    const unsigned before = writes(0);

    EXPECT_EQ(run(a, "DeleteApplicationTLV", {"03"}), 1u);
    EXPECT_EQ(last_code(), 20u);
    EXPECT_EQ(last_text(), "Invalid instance number. Please use valid instance number.");
    EXPECT_EQ(run(a, "DeleteApplicationTLV", {"7"}), 1u);
    EXPECT_EQ(last_code(), 20u);
    EXPECT_EQ(writes(0), before);

    ASSERT_EQ(run(a, "DeleteApplicationTLV", {"3"}), 0u) << last_text();
    EXPECT_EQ(child(a, "ApplicationTLV3"), nullptr);
    EXPECT_EQ(numbers(a, "ApplicationTLV"), (std::vector<int>{0, 1, 2, 4}));
    std::vector<u8> w = lastWrite(0, kV1);
    EXPECT_EQ(w[1], 4u);
    EXPECT_EQ(w[72 + 48 + 3], 0u);
    EXPECT_EQ(w[72 + 64 + 3], 1u);
    EXPECT_EQ(w[312], 0x08u);
    EXPECT_EQ(v.app_count, 4u);
    EXPECT_EQ(v.apps[3].in_use, 0u);

    // An entry the adapter dropped meanwhile is not written again: the
    // count of entries in use would go wrong. Only its group goes.
    v.apps[4].in_use = 0;
    v.app_count = 3;
    ASSERT_EQ(run(a, "DeleteApplicationTLV", {"4"}), 0u) << last_text();
    EXPECT_EQ(writes(0), before + 1);
    EXPECT_EQ(numbers(a, "ApplicationTLV"), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(v.app_count, 3u);
}

}  // namespace
