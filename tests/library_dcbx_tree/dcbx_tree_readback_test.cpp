// What the DCBX actions changed as the groups' own handlers read it back:
// priority groups configured, and the tree a restarted library shows.
#include "config/cfg_dcbx_tree.h"
#include "dcbx_tree_fixture.h"

namespace {

class DcbxReadBack : public DcbxTreeHost {
protected:
    void SetUp() override { boot(); }
    HmNode *p1() { return port(ctrl(0), "1"); }
};

TEST_F(DcbxReadBack, RefreshedGroupsShowTheirEntryWhenRead)
{
    HmNode *a = admin(p1()), *oper = tlvView(p1(), "OperationalTLVSettings");
    fill(dcbx(0, 1).admin, {{3, app(0x8915, 0, 0x20)}});
    fill(dcbx(0, 1).oper, {{0, app(0x8906, 0, 0x08)}, {14, app(3260, 1, 0x10)}});
    ASSERT_EQ(group_AdministratorTLVSetting(a), 0u);
    ASSERT_EQ(group_OperationalTLVSettings(oper), 0u);
    HmNode *a3 = child(a, "ApplicationTLV3"), *o14 = child(oper, "ApplicationTLV14");
    EXPECT_EQ(get(a3, "ProtocolID"), "0x8915");
    EXPECT_EQ(get(a3, "PriorityBitMap"), "0x20");
    EXPECT_EQ(get(o14, "ProtocolSelector"), "1");
    EXPECT_EQ(get(o14, "ProtocolID"), "0xcbc");
}

TEST_F(DcbxReadBack, RestartShowsWhatTheActionsChanged)
{
    fill(dcbx(0, 1).admin, {{0, app(0x8906, 0, 1)}, {1, app(0x8914, 0, 2)}, {2, app(0x8915, 0, 4)}});
    ASSERT_EQ(group_AdministratorTLVSetting(admin(p1())), 0u);
    ASSERT_EQ(run(admin(p1()), "DeleteApplicationTLV", {"1"}), 0u) << last_text();
    HmNode *iscsi_port = port(ctrl(0), "2");
    ASSERT_EQ(run(admin(iscsi_port), "AddApplicationTLV", {"1", "3260", "0x10"}), 0u) << last_text();
    ASSERT_EQ(run(child(pgView(p1(), "AdministratorPGSetting"), "PG2"), "ConfigurePGSettings", {"0x03", "0"}), 0u)
        << last_text();

    restart();
    // Entries 0 and 2 keep their numbers across the gap.
    HmNode *a = admin(p1());
    EXPECT_EQ(numbers(a, "ApplicationTLV"), (std::vector<int>{0, 2}));
    EXPECT_EQ(get(child(a, "ApplicationTLV2"), "ProtocolID"), "0x8915");
    EXPECT_EQ(get(child(a, "ApplicationTLV2"), "PriorityBitMap"), "0x04");
    EXPECT_EQ(get(child(a, "ApplicationTLV0"), "ProtocolID"), "0x8906");
    HmNode *i0 = child(admin(port(ctrl(0), "2")), "ApplicationTLV0");
    ASSERT_NE(i0, nullptr);
    EXPECT_EQ(get(i0, "ProtocolSelector"), "1");
    EXPECT_EQ(get(i0, "ProtocolID"), "0xcbc");
    EXPECT_TRUE(numbers(admin(port(ctrl(0), "3")), "ApplicationTLV").empty());
    EXPECT_EQ(get(child(pgView(p1(), "AdministratorPGSetting"), "PG2"), "PriorityMembership"), "0x03");

    // Deleting the group past the gap clears its own entry.
    ASSERT_EQ(run(a, "DeleteApplicationTLV", {"2"}), 0u) << last_text();
    EXPECT_EQ(dcbx(0, 1).admin.apps[2].in_use, 0u);
    EXPECT_EQ(dcbx(0, 1).admin.apps[0].in_use, 1u);
    EXPECT_EQ(dcbx(0, 1).admin.app_count, 1u);
}

class DcbxPG : public DcbxReadBack {
protected:
    void SetUp() override
    {
        boot(chardev::defaultHost(), [this](chardev::EmulatedHost &) {
            adapter::DcbxView &v = dcbx(0, 1).admin;
            v.pg_id = {0, 0, 1, 1, 2, 15, 15, 15};
            v.bandwidth = {40, 30, 30, 0, 0, 0, 0, 0};
        });
    }
    HmNode *pg(int n) { return child(pgView(p1(), "AdministratorPGSetting"), "PG" + std::to_string(n)); }
};

TEST_F(DcbxPG, ConfigureMovesThePrioritiesAndSetsTheBandwidth)
{
    const unsigned before = writes(0);
    ASSERT_EQ(run(pg(2), "ConfigurePGSettings", {"0x03", "30"}), 0u) << last_text();
    ASSERT_EQ(writes(0), before + 1);
    std::vector<u8> w = lastWrite(0, kV0);
    // Priorities 0 and 1 leave PG 0 for PG 2; priority 4 left PG 2 and
    // belongs to no group.
    const u8 ids[8] = {2, 2, 1, 1, 15, 15, 15, 15};
    for (unsigned k = 0; k < 8; k++)
        EXPECT_EQ(w[32 + 4 * k], ids[k]) << k;
    EXPECT_EQ(w[24], 40u);
    EXPECT_EQ(w[25], 30u);
    EXPECT_EQ(w[26], 30u);
    EXPECT_EQ(w[1], 0u);
    EXPECT_EQ(cached(pg(0), "PriorityMembership"), "0x00");
    EXPECT_EQ(cached(pg(1), "PriorityMembership"), "0x0c");
    EXPECT_EQ(cached(pg(2), "PriorityMembership"), "0x03");
    EXPECT_EQ(dcbx(0, 1).admin.pg_id, (std::array<uint8_t, 8>{2, 2, 1, 1, 15, 15, 15, 15}));
    EXPECT_EQ(get(pg(2), "Bandwidth"), "30");

    // A group after the configured one gives its priorities up as well.
    ASSERT_EQ(run(pg(0), "ConfigurePGSettings", {"0x05", "40"}), 0u) << last_text();
    EXPECT_EQ(dcbx(0, 1).admin.pg_id, (std::array<uint8_t, 8>{0, 2, 0, 1, 15, 15, 15, 15}));
    EXPECT_EQ(cached(pg(1), "PriorityMembership"), "0x08");
    EXPECT_EQ(cached(pg(2), "PriorityMembership"), "0x02");
}

TEST_F(DcbxPG, TheBandwidthMayNotPassOneHundredPercent)
{
    const unsigned before = writes(0);
    EXPECT_EQ(run(pg(2), "ConfigurePGSettings", {"0x10", "31"}), 1u);
    EXPECT_EQ(last_code(), 51u);
    EXPECT_EQ(last_text(), "Cannot set bandwidth as total bandwidth exceeds 100 percent.");
    EXPECT_EQ(writes(0), before);
    EXPECT_EQ(dcbx(0, 1).admin.bandwidth[2], 30u);

    // No limit is no share: neither the new 255 nor a group that reads 255.
    ASSERT_EQ(run(pg(3), "ConfigurePGSettings", {"0x80", "255"}), 0u) << last_text();
    EXPECT_EQ(dcbx(0, 1).admin.bandwidth[3], 255u);
    ASSERT_EQ(run(pg(0), "ConfigurePGSettings", {"0x03", "40"}), 0u) << last_text();
    EXPECT_EQ(writes(0), before + 2);

    for (const char *bad : {"0x1FF", "zz", "-3"}) {
        EXPECT_EQ(run(pg(2), "ConfigurePGSettings", {bad, "10"}), 1u) << bad;
        EXPECT_EQ(last_code(), 6u);
        EXPECT_EQ(last_text(), "Invalid Value.");
    }
    EXPECT_EQ(writes(0), before + 2);
}

}  // namespace
