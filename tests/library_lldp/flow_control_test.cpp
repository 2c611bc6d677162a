// Link-level flow control of a port group per adapter generation, with the
// request bytes the emulated firmware received.
#include "lldp_fixture.h"

namespace {

using adapter::Fault;

class Flow : public LldpHost {
protected:
    void SetUp() override { boot(); }
    void pause(size_t adapter, unsigned p, u16 tx, u16 rx)
    {
        fw(adapter).port(p).tx_pause = tx;
        fw(adapter).port(p).rx_pause = rx;
    }
    static HmNode *configuredPort0(HmNode *ks) { return group(ks, "ProfileManagement/ConfiguredProfile/Port0"); }
};

TEST_F(Flow, VeskarnReadsWithTheManagementCommand)
{
    struct Case {
        const char *number;
        unsigned p;
        u16 tx, rx;
        const char *want_tx, *want_rx;
    } cases[] = {
        {"0", 0, 1, 0, "Enabled", "Disabled"},
        {"0", 0, 0, 1, "Disabled", "Enabled"},
        {"1", 1, 1, 1, "Enabled", "Enabled"},
        {"1", 1, 0, 0, "Disabled", "Disabled"},
    };
    for (const Case &c : cases) {
        HmNode *pg = port(ctrl(1), c.number);
        ASSERT_NE(pg, nullptr);
        pause(1, c.p, c.tx, c.rx);
        host_->clearLog();
        u32 rc = 9;
        EXPECT_EQ(get(pg, "TxFlowControl", &rc), c.want_tx) << c.number;
        EXPECT_EQ(rc, 0u);
        EXPECT_EQ(cached(pg, "RxFlowControl"), c.want_rx) << c.number;
        std::vector<std::vector<u8>> reqs = sent(1, 205);
        ASSERT_EQ(reqs.size(), 1u);
        ASSERT_EQ(reqs[0].size(), 8u);
        EXPECT_EQ(reqs[0][0], 0u);
        EXPECT_EQ(reqs[0][1], 0u) << "a read carries no request flags";
        EXPECT_EQ(reqs[0][2], 0u);
        EXPECT_EQ(reqs[0][3], c.p);
        EXPECT_TRUE(sent(1, 37).empty());
    }
    fw(1).setFault(1, 205, Fault{.status = 1});
    u32 rc = 0;
    get(port(ctrl(1), "0"), "RxFlowControl", &rc);
    EXPECT_EQ(rc, 1u);
}

TEST_F(Flow, Ks3ReadsWithTheCommonCommandAndRefusesAWrite)
{
    // A NIC port and an iSCSI port of the KS3.
    for (unsigned p : {0u, 3u}) {
        HmNode *pg = port(ctrl(0), std::to_string(p).c_str());
        ASSERT_NE(pg, nullptr);
        pause(0, p, 0, 1);
        host_->clearLog();
        EXPECT_EQ(get(pg, "TxFlowControl"), "Disabled") << p;
        EXPECT_EQ(cached(pg, "RxFlowControl"), "Enabled") << p;
        std::vector<std::vector<u8>> reqs = sent(1, 37);
        ASSERT_EQ(reqs.size(), 1u);
        ASSERT_EQ(reqs[0].size(), 4u);
        EXPECT_EQ(rd32(reqs[0], 0), 0u) << "the read carries nothing";
        EXPECT_TRUE(sent(1, 205).empty());

        host_->clearLog();
        EXPECT_EQ(set(pg, "TxFlowControl", "Enabled"), 1u);
        EXPECT_EQ(last_code(), (u32)ORSA_STATUS_FLOW_SET_UNSUPPORTED);
        EXPECT_EQ(last_text(), "Failed to execute the command. Because operation is not supported on this adapter.");
        EXPECT_TRUE(sent(1, 205).empty());
        EXPECT_EQ(fw(0).port(p).tx_pause, 0u);
    }
    fw(0).setFault(1, 37, Fault{.status = 1});
    u32 rc = 0;
    get(port(ctrl(0), "0"), "TxFlowControl", &rc);
    EXPECT_EQ(rc, 1u);
}

TEST_F(Flow, VeskarnWriteKeepsTheOtherDirectionAndFollowsTheChannelType)
{
    HmNode *pg = port(ctrl(1), "1");
    ASSERT_NE(pg, nullptr);
    ASSERT_NE(configuredPort0(ctrl(1)), nullptr);
    struct Case {
        const char *mc;  // configured MCType of Port0
        const char *property, *value;
        u16 tx, rx;      // before
        u8 byte0, byte1;
    } cases[] = {
        {nullptr, "RxFlowControl", "Enabled", 0, 0, 0x10, 0x08},
        {nullptr, "RxFlowControl", "Enabled", 1, 0, 0x11, 0x08},
        {nullptr, "TxFlowControl", "Enabled", 0, 1, 0x11, 0x08},
        {nullptr, "TxFlowControl", "Disabled", 1, 1, 0x10, 0x08},
        {nullptr, "RxFlowControl", "Disabled", 1, 1, 0x01, 0x08},
        {"NPAR", "RxFlowControl", "Enabled", 0, 0, 0x10, 0x0B},
        {"NPAR", "TxFlowControl", "Enabled", 0, 0, 0x01, 0x0B},
    };
    for (const Case &c : cases) {
        if (c.mc != nullptr) {
            ASSERT_EQ(set(configuredPort0(ctrl(1)), "MCType", c.mc), 0u) << last_text();
        }
        pause(1, 1, c.tx, c.rx);
        host_->clearLog();
        EXPECT_EQ(set(pg, c.property, c.value), 0u) << c.property << last_text();
        std::vector<std::vector<u8>> reqs = sent(1, 205);
        ASSERT_EQ(reqs.size(), 2u) << "the other direction's read, then the write";
        EXPECT_EQ(reqs[0][1], 0u);
        EXPECT_EQ(reqs[1][0], c.byte0) << c.property << " " << c.value;
        EXPECT_EQ(reqs[1][1], c.byte1) << c.property;
        EXPECT_EQ(reqs[1][2], 0u);
        EXPECT_EQ(reqs[1][3], 1u);
        EXPECT_EQ(adapter::lastFlowFlags(fw(1)), c.byte1);
        EXPECT_EQ(get(pg, c.property), c.value);
    }
    // A failed write leaves the adapter as it was.
    pause(1, 1, 0, 0);
    fw(1).setFault(1, 205, Fault{.status = 1});
    EXPECT_NE(set(pg, "TxFlowControl", "Enabled"), 0u);
    fw(1).clearFaults();
    EXPECT_EQ(fw(1).port(1).tx_pause, 0u);
}

TEST_F(Flow, ResentAfterAProfileChangeAsTheAdapterHasIt)
{
    HmNode *pg = port(ctrl(1), "0");
    struct Case {
        u16 tx, rx;
        const char *mc;
        u8 byte0, byte1;
    } cases[] = {
        {1, 1, "NPAR", 0x11, 0x0B},
        {1, 0, "None", 0x01, 0x08},
        {0, 1, "npar", 0x10, 0x0B},
        {0, 0, "UMC", 0x00, 0x08},
    };
    for (const Case &c : cases) {
        pause(1, 0, c.tx, c.rx);
        host_->clearLog();
        EXPECT_EQ(ORSA_reset_flow_control_properties(pg, c.mc), 0u) << c.mc;
        std::vector<std::vector<u8>> reqs = sent(1, 205);
        ASSERT_FALSE(reqs.empty());
        EXPECT_EQ(reqs.back()[0], c.byte0) << c.mc;
        EXPECT_EQ(reqs.back()[1], c.byte1) << c.mc;
        EXPECT_EQ(reqs.back()[3], 0u);
        EXPECT_EQ(fw(1).port(0).tx_pause, c.tx);
        EXPECT_EQ(fw(1).port(0).rx_pause, c.rx);
    }
    EXPECT_EQ(ORSA_reset_flow_control_properties(nullptr, "NPAR"), 1u);
    EXPECT_EQ(ORSA_reset_flow_control_properties(pg, nullptr), 1u);
    // A setting that cannot be read is not replaced by "disabled".
    pause(1, 0, 1, 1);
    fw(1).setFault(1, 205, Fault{.status = 1, .times = 1});
    host_->clearLog();
    EXPECT_EQ(ORSA_reset_flow_control_properties(pg, "None"), 1u);
    EXPECT_EQ(sent(1, 205).size(), 1u) << "only the failed read";
    EXPECT_EQ(fw(1).port(0).tx_pause, 1u);
}

TEST_F(Flow, StoredTextsOfTheUpdate)
{
    HmNode *pg = port(ctrl(1), "0");
    EXPECT_EQ(ORSA_update_flow_control_props(pg, 1, 2), 0u);
    EXPECT_EQ(cached(pg, "TxFlowControl"), "Enabled");
    EXPECT_EQ(cached(pg, "RxFlowControl"), "Disabled");
    EXPECT_EQ(ORSA_update_flow_control_props(pg, 0, 1), 0u);
    EXPECT_EQ(cached(pg, "TxFlowControl"), "Disabled");
    EXPECT_EQ(cached(pg, "RxFlowControl"), "Enabled");
    EXPECT_EQ(ORSA_update_flow_control_props(nullptr, 1, 1), 1u);
    EXPECT_EQ(ORSA_update_flow_control_props(ctrl(1), 1, 1), 1u) << "a group without the properties";
}

TEST_F(Flow, VirtualFunctionReadsStillRun)
{
    HmNode *pg = port(ctrl(1), "0");
    pause(1, 0, 1, 0);
    vm_flag = 1;
    EXPECT_EQ(get(pg, "TxFlowControl"), "Enabled");
    vm_flag = 0;
}

class FlowOther : public LldpHost {};

TEST_F(FlowOther, Ks2AndPivardShowNotApplicableAndRefuseAWrite)
{
    struct Case {
        adapter::Gen gen;
        const char *serial;
    } cases[] = {{adapter::Gen::Pivard, "PIVEMU000001"}, {adapter::Gen::KS2, "KS2EMU000001"}};
    for (const Case &c : cases) {
        boot(singleHost(c.gen, c.serial));
        HmNode *pg = port(ctrl(0), "1");
        ASSERT_NE(pg, nullptr) << c.serial;
        host_->clearLog();
        u32 rc = 9;
        EXPECT_EQ(get(pg, "RxFlowControl", &rc), "N/A") << c.serial;
        EXPECT_EQ(rc, 0u);
        EXPECT_EQ(cached(pg, "TxFlowControl"), "N/A");
        EXPECT_EQ(set(pg, "TxFlowControl", "Enabled"), 1u) << c.serial;
        EXPECT_EQ(last_code(), (u32)ORSA_STATUS_FLOW_SET_UNSUPPORTED);
        EXPECT_TRUE(sent(1, 205).empty());
        EXPECT_TRUE(sent(1, 37).empty());
    }
}

}  // namespace
