// Administrator settings, DCBX state and mode, and the DCBX MIB as a client
// changes and reads them; every write checked byte by byte where the
// emulated firmware received it.
#include "dcbx_fixture.h"

#include "schema/builders.h"

namespace {

using adapter::kDcbxAdvertise;
using adapter::kDcbxEnabled;
using adapter::kDcbxWilling;

// The firmware configuration of a function without DCBX (capability bit 6).
void noDcbxFunction(adapter::Engine &, adapter::Cmd &c)
{
    c.respond(156);
    c.w32(120, 0x40);
}

chardev::AdapterSpec pivardAdapter()
{
    return adapterSpec(adapter::Gen::Pivard, 9, "PVDEMU000001", {nicFn(0, "vmnic0"), nicFn(1, "vmnic1")});
}

class DcbxSettings : public DcbxHost {
protected:
    void SetUp() override
    {
        boot();
        pg = port(ctrl(1), "1");
        ASSERT_NE(pg, nullptr);
        adapter::DcbxPort &d = fwPort(1, 1);
        d.admin.state = 1;
        d.admin.app_count = 2;
        d.admin.num_pg = 8;
        d.admin.pfc_flags = kDcbxAdvertise | 0x100;  // a bit the library does not name stays
        d.admin.pg_flags = kDcbxEnabled | kDcbxWilling;
        d.admin.qcn_flags = kDcbxEnabled;
        d.admin.app_flags = kDcbxEnabled | kDcbxAdvertise | kDcbxWilling;
        d.admin.pg_id = {0, 1, 2, 3, 4, 5, 6, 7};
        d.admin.bandwidth = {10, 10, 10, 10, 10, 10, 10, 30};
        d.admin.pfc = {0, 0, 0, 1, 0, 0, 0, 0};
        d.admin.apps[0].protocol = 0x8906;
        d.admin.apps[0].in_use = 1;
        d.admin.apps[0].oui = 0x1b21;
        d.admin.apps[1].protocol = 3260;
        d.admin.apps[1].selector = 1;
        d.admin.apps[1].in_use = 1;
        d.admin.apps[1].members = {1, 0, 0, 0, 0, 0, 0, 0};
        d.admin.cnpv = 0x08;
        d.admin.ready = 0x04;
        // The operational view differs: a set must read the administrator's.
        d.oper.pfc_flags = 0xFFFF;
    }
    // The version 0 write the firmware should see for the administrator
    // view as it is now, before change() edits it.
    std::vector<u8> expectedWrite(const std::function<void(std::vector<u8> &)> &change)
    {
        const adapter::DcbxView &v = fwPort(1, 1).admin;
        std::vector<u8> w(ORSA_DCBX_V0_SIZE, 0);
        w[0] = v.state;
        w[1] = v.app_count;
        auto put32 = [&](size_t at, u32 x) {
            for (int i = 0; i < 4; i++)
                w[at + i] = (u8)(x >> (8 * i));
        };
        put32(4, v.pg_flags);
        put32(8, v.pfc_flags);
        put32(16, v.app_flags);  // QCN (12) and CNPV (312) are not part of version 0
        for (unsigned k = 0; k < 8; k++) {
            w[24 + k] = v.bandwidth[k];
            w[32 + 4 * k] = v.pg_id[k];
            w[64 + k] = v.pfc[k];
        }
        for (unsigned n = 0; n < 15; n++) {
            const adapter::DcbxAppEntry &e = v.apps[n];
            size_t at = 72 + 16 * n;
            w[at] = (u8)e.protocol;
            w[at + 1] = (u8)(e.protocol >> 8);
            w[at + 2] = e.selector;
            w[at + 3] = e.in_use;
            for (int i = 0; i < 4; i++)
                w[at + 4 + i] = (u8)(e.oui >> (8 * i));
            for (unsigned k = 0; k < 8; k++)
                w[at + 8 + k] = e.members[k];
        }
        change(w);
        return w;
    }
    HmNode *pg = nullptr;
};

TEST_F(DcbxSettings, EachAdministratorSettingWritesItsBytesAndKeepsTheRest)
{
    HmNode *tlvs = group(pg, "DCBX/ApplicationTLVGroups/AdministratorTLVSetting");
    ASSERT_NE(initialize_AdministratorTLVSetting_ApplicationTLV(tlvs, nullptr, nullptr, nullptr), nullptr);
    ASSERT_NE(initialize_AdministratorTLVSetting_ApplicationTLV(tlvs, nullptr, nullptr, nullptr), nullptr);
    struct Case {
        const char *group, *property, *value;
        std::function<void(std::vector<u8> &)> change;
    } cases[] = {
        {"DCBXPortVars", "DCBXState", "Disabled", [](std::vector<u8> &w) { w[0] = 0; }},
        {"DCBXPortVars", "DCBXState", "enabled", [](std::vector<u8> &w) { w[0] = 1; }},
        {"DCBXPortVars", "DCBXState", "ENABLED", [](std::vector<u8> &w) { w[0] = 1; }},
        {"PFC/AdministratorPFCSetting", "Willing", "Yes", [](std::vector<u8> &w) { w[8] |= 0x4; }},
        {"PFC/AdministratorPFCSetting", "Advertise", "No", [](std::vector<u8> &w) { w[8] &= (u8)~0x2; }},
        {"PFC/AdministratorPFCSetting", "Enabled", "Yes", [](std::vector<u8> &w) { w[8] |= 0x1; }},
        {"PFC/AdministratorPFCSetting", "PriorityBitMap", "0x21",
         [](std::vector<u8> &w) {
             for (unsigned k = 0; k < 8; k++)
                 w[64 + k] = (k == 0 || k == 5) ? 1 : 0;
         }},
        {"PFC/AdministratorPFCSetting", "PriorityBitMap", "0", [](std::vector<u8> &w) { std::fill(&w[64], &w[72], 0); }},
        {"PriorityGroups/AdministratorPGSetting", "Enabled", "No", [](std::vector<u8> &w) { w[4] &= (u8)~0x1; }},
        {"PriorityGroups/AdministratorPGSetting", "Advertise", "Yes", [](std::vector<u8> &w) { w[4] |= 0x2; }},
        {"PriorityGroups/AdministratorPGSetting", "Willing", "No", [](std::vector<u8> &w) { w[4] &= (u8)~0x4; }},
        {"PriorityGroups/AdministratorPGSetting", "PG15PriorityMemberShip", "0x81",
         [](std::vector<u8> &w) { w[32] = w[32 + 4 * 7] = 15; }},
        {"PriorityGroups/AdministratorPGSetting", "PG15PriorityMemberShip", "0",  // clear bits move nothing
         [](std::vector<u8> &) {}},
        {"ApplicationTLVGroups/AdministratorTLVSetting", "Willing", "No", [](std::vector<u8> &w) { w[16] &= (u8)~0x4; }},
        {"ApplicationTLVGroups/AdministratorTLVSetting", "Enabled", "No", [](std::vector<u8> &w) { w[16] &= (u8)~0x1; }},
        {"ApplicationTLVGroups/AdministratorTLVSetting/ApplicationTLV1", "PriorityBitMap", "012",  // octal
         [](std::vector<u8> &w) {
             for (unsigned k = 0; k < 8; k++)
                 w[72 + 16 + 8 + k] = (k == 1 || k == 3) ? 1 : 0;
         }},
        {"ApplicationTLVGroups/AdministratorTLVSetting/ApplicationTLV0", "PriorityBitMap", "255",
         [](std::vector<u8> &w) { std::fill(&w[72 + 8], &w[72 + 16], 1); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.group) + " " + c.property + " " + c.value);
        std::vector<u8> want = expectedWrite(c.change);
        size_t before = writes().size();
        ASSERT_EQ(set(group(pg, std::string("DCBX/") + c.group), c.property, c.value), 0u);
        ASSERT_EQ(writes().size(), before + 1);
        std::vector<u8> got = writes().back();
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); i++)
            EXPECT_EQ(got[i], want[i]) << "byte " << i;
        EXPECT_EQ(cached(group(pg, std::string("DCBX/") + c.group), c.property), c.value);
        // The read before it asked for the administrator view.
        EXPECT_EQ(sent(16, 1).back().at(0), ORSA_DCBX_VIEW_ADMIN);
    }
    // The firmware keeps what was written and the QCN side it never saw.
    const adapter::DcbxView &v = fwPort(1, 1).admin;
    EXPECT_EQ(v.state, 1);
    EXPECT_EQ(v.pfc_flags, 0x100u | kDcbxWilling | kDcbxEnabled);
    EXPECT_EQ(v.qcn_flags, kDcbxEnabled);
    EXPECT_EQ(v.cnpv, 0x08);
    EXPECT_EQ(v.pg_id[0], 15);
    EXPECT_EQ(fwPort(1, 0).writes, 0u);
}

TEST_F(DcbxSettings, BadBitmapsAndFailedCommandsChangeNothing)
{
    HmNode *pfc = group(pg, "DCBX/PFC/AdministratorPFCSetting");
    HmNode *pgs = group(pg, "DCBX/PriorityGroups/AdministratorPGSetting");
    ASSERT_EQ(get(pfc, "PriorityBitMap"), "0x08");
    // Bits above priority 7 name no priority; the text is refused rather
    // than cut to its low byte.
    for (const char *bad : {"-1", "0777", "3x", "256", "511"}) {
        EXPECT_EQ(set(pfc, "PriorityBitMap", bad), 1u) << bad;
        EXPECT_EQ(last_code(), 6u) << bad;
        EXPECT_EQ(last_text(), "Invalid Value.");
        EXPECT_EQ(set(pgs, "PG15PriorityMemberShip", bad), 1u) << bad;
        EXPECT_EQ(last_code(), 6u) << bad;
    }
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(cached(pfc, "PriorityBitMap"), "0x08");
    // A property the administrator block has no field for: nothing is written back.
    HmNode *tlv = initialize_AdministratorTLVSetting_ApplicationTLV(
        group(pg, "DCBX/ApplicationTLVGroups/AdministratorTLVSetting"), nullptr, nullptr, nullptr);
    ASSERT_NE(tlv, nullptr);
    PortAddress pa{};
    ASSERT_EQ(orsa_get_port_address(pg, &pa), 0u);
    EXPECT_EQ(ORSA_set_feature_vars((u32)pa.port_number, (u32)pa.phba_port, pa.domain_id,
                                    internal_get_node(tlv, "OUI", HM_KIND_PROPERTY), "0x1", get_ks_instance(pg)),
              1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(writes().empty());

    fw(1).setFault(16, 1, adapter::Fault{.status = 1, .times = 1});
    EXPECT_NE(set(pfc, "Willing", "Yes"), 0u);
    EXPECT_EQ(last_code(), 101u);
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(cached(pfc, "Willing"), "No");  // as last read

    fw(1).setFault(16, 2, adapter::Fault{.status = 1});
    EXPECT_NE(set(pfc, "PriorityBitMap", "0x01"), 0u);
    EXPECT_EQ(last_code(), 102u);
    EXPECT_EQ(last_text(),
              "Cannot set DCBX properites. Application internal error occurred. Please check orsa2d.log file for more "
              "information.");
    EXPECT_EQ(cached(pfc, "PriorityBitMap"), "0x08");
    EXPECT_EQ(fwPort(1, 1).admin.pfc[0], 0);
    HmNode *vars = group(pg, "DCBX/DCBXPortVars");
    EXPECT_NE(set(vars, "DCBXState", "Disabled"), 0u);
    EXPECT_EQ(last_code(), 102u);
    EXPECT_EQ(fwPort(1, 1).admin.state, 1);
}

TEST_F(DcbxSettings, DcbxStateFollowsTheBlockUnlessTheFunctionHasNoDcbx)
{
    HmNode *vars = group(pg, "DCBX/DCBXPortVars");
    adapter::DcbxPort &d = fwPort(1, 1);
    d.oper.state = 1;
    d.admin.state = 0;
    EXPECT_EQ(get(vars, "DCBXState"), "Enabled");  // the operational view
    EXPECT_EQ(sent(16, 1).back().at(0), ORSA_DCBX_VIEW_OPER);
    d.oper.state = 3;  // only 1 is "Enabled"
    EXPECT_EQ(get(vars, "DCBXState"), "Disabled");

    // Function capability bit 6: DCBX is not on the function, whatever
    // the block says; nothing is read but the firmware configuration.
    fw(1).registerHandler(1, 58, noDcbxFunction);
    unsigned reads = fw(1).commandsSeen(16, 1);
    u32 rc = 9;
    EXPECT_EQ(get(vars, "DCBXState", &rc), "N/A");
    EXPECT_EQ(rc, 0u);
    EXPECT_EQ(fw(1).commandsSeen(16, 1), reads);
    // A failed firmware configuration read is no reason to stop.
    fw(1).setFault(1, 58, adapter::Fault{.status = 1});
    d.oper.state = 1;
    EXPECT_EQ(get(vars, "DCBXState"), "Enabled");
}

TEST_F(DcbxSettings, PivardReadsTheStateWithoutTheFirmwareConfiguration)
{
    chardev::HostSpec spec;
    spec.adapters.push_back(pivardAdapter());
    boot(spec, [](chardev::EmulatedHost &h) {
        h.engine(0).registerHandler(1, 58, noDcbxFunction);
        adapter::dcbxPort(h.engine(0), 0).oper.state = 1;
    });
    HmNode *vars = group(port(ctrl(0), "0"), "DCBX/DCBXPortVars");
    unsigned configs = fw(0).commandsSeen(1, 58);
    EXPECT_EQ(get(vars, "DCBXState"), "Enabled");
    EXPECT_EQ(fw(0).commandsSeen(1, 58), configs);
}

TEST_F(DcbxSettings, ModeReadAndChanged)
{
    HmNode *vars = group(pg, "DCBX/DCBXPortVars");
    adapter::DcbxPort &d = fwPort(1, 1);
    const char *texts[] = {"CEE", "CIN", "Auto-CEE", "Auto-IEEE"};
    for (u8 code = 0; code < 4; code++) {
        d.mode = code;
        u32 rc = 9;
        EXPECT_EQ(get(vars, "DCBXMode", &rc), texts[code]);
        EXPECT_EQ(rc, 0u);
    }
    d.mode = 9;  // a code of no text: the value stays
    EXPECT_EQ(get(vars, "DCBXMode"), "Auto-IEEE");
    EXPECT_EQ(sent(16, 4).back().size(), 4u);

    // The current mode again (any letter case): nothing is sent, no notice.
    d.mode = 3;
    EXPECT_EQ(set(vars, "DCBXMode", "auto-ieee"), 0u);
    EXPECT_EQ(fw(1).commandsSeen(16, 5), 0u);
    EXPECT_EQ(last_code(), 0u);

    d.mode = 0;
    EXPECT_EQ(set(vars, "DCBXMode", "Auto-IEEE"), 0u);
    EXPECT_EQ(sent(16, 5).back(), (std::vector<u8>{0, 3, 0, 0}));
    EXPECT_EQ(d.mode, 3);
    EXPECT_EQ(last_code(), 152u);
    EXPECT_EQ(last_text(), "DCBX mode has changed. Please, reboot the system for the new mode to take effect.");
    EXPECT_EQ(cached(vars, "DCBXMode"), "Auto-IEEE");
    EXPECT_EQ(set(vars, "DCBXMode", "CIN"), 0u);
    EXPECT_EQ(sent(16, 5).back(), (std::vector<u8>{0, 1, 0, 0}));

    fw(1).setFault(16, 5, adapter::Fault{.status = 1});
    EXPECT_NE(set(vars, "DCBXMode", "CEE"), 0u);
    EXPECT_EQ(last_code(), 104u);
    EXPECT_EQ(last_text(),
              "Cannot set DCBX mode. Application internal error occurred. Please check orsa2d.log file for more "
              "information.");
    EXPECT_EQ(cached(vars, "DCBXMode"), "CIN");
    fw(1).setFault(16, 4, adapter::Fault{.status = 1});
    u32 rc = 0;
    get(vars, "DCBXMode", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), 103u);
    EXPECT_EQ(last_text(),
              "Cannot get DCBX mode. Application internal error occurred. Please check orsa2d.log file for more "
              "information.");
    unsigned sets = fw(1).commandsSeen(16, 5);
    EXPECT_EQ(set(vars, "DCBXMode", "CEE"), 1u);  // the current mode is unknown: nothing is sent
    EXPECT_EQ(fw(1).commandsSeen(16, 5), sets);
}

TEST_F(DcbxSettings, MibInBothFormsFillsPortVarsAndStatistics)
{
    auto fill = [](adapter::DcbxMib &m) {
        m = adapter::DcbxMib{.operating_version = 1, .max_version = 2, .sequence = 3, .ack = 4, .peer_sequence = 5,
                             .peer_ack = 6, .app_sequence = 7, .pg_sequence = 8, .pfc_sequence = 9,
                             .tx_packets = 4000000000u, .rx_packets = 11, .dropped = 12};
    };
    struct Want {
        const char *group, *property, *value;
    } want[] = {
        {"DCBXPortVars", "OperatingVersion", "1"},       {"DCBXPortVars", "MaxVersion", "2"},
        {"DCBXPortVars", "SequenceNumber", "3"},         {"DCBXPortVars", "AckNumber", "4"},
        {"DCBXPortVars", "PeerSequenceNumber", "5"},     {"DCBXPortVars", "PeerAckNumber", "6"},
        {"DCBXPortVars", "AppFeatureSequenceNumber", "7"}, {"DCBXPortVars", "PGFeatureSequenceNumber", "8"},
        {"DCBXPortVars", "PFCFeatureSequenceNumber", "9"},
        // A count above 2^31 stays a count.
        {"DCBXStatistics", "TxPacketCount", "4000000000"}, {"DCBXStatistics", "RxPacketCount", "11"},
        {"DCBXStatistics", "NumPacketsDropped", "12"},
    };
    fill(fwPort(1, 1).mib);
    for (const Want &w : want) {
        u32 rc = 9;
        EXPECT_EQ(get(group(pg, std::string("DCBX/") + w.group), w.property, &rc), w.value) << w.property;
        EXPECT_EQ(rc, 0u);
    }
    EXPECT_EQ(sent(16, 3).back(), std::vector<u8>(108, 0));

    // Pivard: the 60-byte form.
    chardev::HostSpec spec;
    spec.adapters.push_back(pivardAdapter());
    boot(spec, [&](chardev::EmulatedHost &h) { fill(adapter::dcbxPort(h.engine(0), 1).mib); });
    HmNode *p1 = port(ctrl(0), "1");
    for (const Want &w : want)
        EXPECT_EQ(get(group(p1, std::string("DCBX/") + w.group), w.property), w.value) << "Pivard " << w.property;
    EXPECT_EQ(sent(16, 3).back(), std::vector<u8>(60, 0));

    fw(0).setFault(16, 3, adapter::Fault{.status = 1});
    u32 rc = 0;
    get(group(p1, "DCBX/DCBXStatistics"), "RxPacketCount", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), 108u);
    EXPECT_EQ(last_text(),
              "Cannot obtain DCBX MIB params. Application internal error occurred. Please check orsa2d.log file for "
              "more information.");
    EXPECT_EQ(cached(group(p1, "DCBX/DCBXStatistics"), "RxPacketCount"), "11");
}

}  // namespace
