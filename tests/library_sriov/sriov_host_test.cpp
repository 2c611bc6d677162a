// SR-IOV and VEPA state as a client reads and changes them through the tree
// API over the emulated host, with chosen adapter commands answered by
// replies made here. Controller 0 is a KS3 (legacy road), controller 1 a
// Veskarn (profile road).
#include <string.h>

#include <string>
#include <vector>

#include "backend/orsa_propertyutil.h"
#include "config/cfg_personality.h"
#include "config/cfg_sriov.h"
#include "iscsi/iscsi_persist.h"
#include "profile_fixture.h"
#include "schema/builders.h"

namespace {

class Sriov : public ProfileHost {
protected:
    void status(u8 opcode, u8 st, u8 additional = 0) { answer(opcode, std::vector<u8>(1, 0), st, additional); }
    static HmNode *nic(HmNode *ks) { return get_first_instance(ks, "NICPhysicalHBA"); }
    // A firmware configuration; bit 6 of the function capabilities says
    // SR-IOV does not apply to the function.
    static std::vector<u8> fwConfig(bool not_applicable)
    {
        std::vector<u8> c(156, 0);
        c[120] = not_applicable ? 0x41 : 0x01;
        return c;
    }
    // A 1092-byte table: NIC functions 0 and 1 (pf_state 0, type 0) with
    // the given SR-IOV bytes, storage functions 2 and 3.
    static std::vector<u8> ksTable(u8 sriov0, u8 sriov1)
    {
        std::vector<u8> t(ORSA_KS_CONF_V1_SIZE, 0);
        const u8 fns[4][4] = {{0, 0, 0, sriov0}, {1, 0, 0, sriov1}, {2, 0, 1, 255}, {3, 0, 1, 255}};
        t[0] = 4;
        for (size_t i = 0; i < 4; i++) {
            u8 *e = &t[4 + i * 68];
            e[4] = fns[i][0];
            e[5] = fns[i][1];
            e[6] = fns[i][2];
            e[12] = fns[i][3];
        }
        return t;
    }
    // A Veskarn profile: two ports, NIC functions 0 and 1 with the SR-IOV
    // state of function 0 (change flag set unless said).
    static ProfileImage profile(u8 sriov0, u8 change0 = 0x10)
    {
        ProfileImage img;
        img.port(0, 1);
        img.port(1, 1);
        img.pcie(0, 1, 0x1, 1, sriov0, change0);
        img.function(ORSA_RES_NIC_FUNCTION, 0, 0);
        img.pcie(1, 1, 0x1, 1, 0, 0x10);
        img.function(ORSA_RES_NIC_FUNCTION, 1, 1);
        return img;
    }
};

TEST_F(Sriov, NicPortStateOnBothRoads)
{
    struct Case {
        const char *what;
        int controller;
        bool not_applicable;
        std::vector<CannedReply> profile;  // 164; empty: the firmware's own
        std::vector<u8> table;             // 81; empty: the firmware's own
        u32 rc;
        const char *want;
        unsigned profile_reads;
    } cases[] = {
        {"enabled", 1, false, {{profile(1).bytes}}, {}, 0, "Enabled", 1},
        {"disabled", 1, false, {{profile(0).bytes}}, {}, 0, "Disabled", 1},
        {"no state change", 1, false, {{profile(1, 0).bytes}}, {}, 0, "N/A", 1},
        {"a state without a text", 1, false, {{profile(9).bytes}}, {}, 0, "sentinel", 1},
        {"SR-IOV does not apply", 1, true, {{profile(1).bytes}}, {}, 0, "N/A", 0},
        {"profile read fails", 1, false, {{{}, 2, 99}}, {}, 1, "sentinel", 1},
        {"no profile commands, no table on this adapter", 1, false, {{{}, 2, 30}}, {}, 0, "N/A", 1},
        {"KS3 table: enabled", 0, false, {}, ksTable(1, 0), 0, "Enabled", 1},
        {"KS3 table: disabled", 0, false, {}, ksTable(0, 1), 0, "Disabled", 1},
        {"KS3 table: not applicable", 0, false, {}, ksTable(255, 1), 0, "N/A", 1},
        {"KS3 table: SR-IOV does not apply", 0, true, {}, ksTable(1, 1), 0, "N/A", 0},
    };
    for (const Case &c : cases) {
        HmNode *g = nic(ctrl(c.controller));
        ASSERT_NE(g, nullptr);
        set_prop_val(g, "SRIOVState", "sentinel");
        answer(58, fwConfig(c.not_applicable));
        if (!c.profile.empty())
            answer(164, c.profile);
        else
            replies_.erase(key(1, 164));
        if (!c.table.empty())
            answer(81, c.table);
        host_->clearLog();
        u32 rc = 99;
        std::string got = get(g, "SRIOVState", &rc);
        EXPECT_EQ(rc, c.rc) << c.what;
        EXPECT_EQ(cached(g, "SRIOVState"), c.want) << c.what;
        if (c.rc == 0) {
            EXPECT_EQ(got, c.want) << c.what;
        } else if (c.controller == 1) {
            EXPECT_EQ(last_code(), ORSA_STATUS_PROFILE_CONFIG_FAILED) << c.what;
        }
        EXPECT_EQ(sent(164).size(), c.profile_reads) << c.what;
    }
    // The table cannot be read.
    fail(81);
    answer(58, fwConfig(false));
    u32 rc = 0;
    get(nic(ks3), "SRIOVState", &rc);
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_SRIOV_GET_FAILED);
}

TEST_F(Sriov, NotApplicableStateRefusesAChangeBeforeAnyCommand)
{
    for (HmNode *ks : {ks3, vsk}) {
        HmNode *g = nic(ks);
        set_prop_val(g, "SRIOVState", "N/A");
        host_->clearLog();
        EXPECT_EQ(set(g, "SRIOVState", "Enabled"), 1u);
        EXPECT_EQ(last_code(), ORSA_STATUS_SRIOV_NOT_CHANGEABLE);
        EXPECT_TRUE(sent(164).empty());
        EXPECT_TRUE(sent(165).empty());
        EXPECT_TRUE(sent(81).empty());
        EXPECT_TRUE(sent(82).empty());
    }
}

TEST_F(Sriov, Ks3SingleRecordWrite)
{
    HmNode *g = nic(ks3);
    status(165, 0);
    ASSERT_EQ(set(g, "SRIOVState", "Disabled"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_SRIOV_CHANGED);
    std::vector<std::vector<u8>> reqs = sent(165);
    ASSERT_EQ(reqs.size(), 1u);
    ASSERT_EQ(reqs[0].size(), ORSA_SRIOV_REQUEST_SIZE);
    std::vector<u8> want(96, 0);
    want[4] = 1;
    want[8] = 80;
    want[8 + 1] = 88;
    want[8 + 12] = 0;
    want[8 + 13] = 255;
    want[8 + 14] = 1;
    EXPECT_EQ(std::vector<u8>(reqs[0].begin(), reqs[0].begin() + 96), want);
    EXPECT_TRUE(sent(82).empty()) << "the profile road took it";

    // The adapter refuses the record: no legacy road, no notice.
    status(165, 2, 99);
    EXPECT_EQ(set(g, "SRIOVState", "Enabled"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_SET_PORT_PROTOCOL_FAILED);
    EXPECT_TRUE(sent(82).empty());
}

TEST_F(Sriov, Ks3LegacyWriteAndItsRefusals)
{
    HmNode *g = nic(ks3);
    status(165, 2, 30);  // the adapter does not know the profile write
    struct Case {
        const char *what;
        std::vector<u8> table;
        u8 write_status, write_additional;
        const char *value;
        u32 rc, code;
        bool written;
    } cases[] = {
        {"enable", ksTable(0, 0), 0, 0, "Enabled", 0, ORSA_STATUS_SRIOV_CHANGED, true},
        {"disable", ksTable(1, 1), 0, 0, "Disabled", 0, ORSA_STATUS_SRIOV_CHANGED, true},
        {"UMC refuses", ksTable(0, 0), 2, 104, "Enabled", 1, ORSA_STATUS_SRIOV_UMC, true},
        {"write fails", ksTable(0, 0), 2, 99, "Enabled", 1, ORSA_STATUS_SRIOV_SET_FAILED, true},
        // No entry of NIC function 0: nothing written, no reboot notice.
        {"no entry", ksTable(0, 0), 0, 0, "Enabled", 1, ORSA_STATUS_SRIOV_NOT_CHANGEABLE, false},
    };
    for (Case &c : cases) {
        if (strcmp(c.what, "no entry") == 0)
            c.table[4 + 5] = 1;  // function 0 in another state
        set_prop_val(g, "SRIOVState", "Disabled");
        answer(81, c.table);
        answer(82, std::vector<u8>(1, 0), c.write_status, c.write_additional);
        host_->clearLog();
        EXPECT_EQ(set(g, "SRIOVState", c.value), c.rc) << c.what;
        EXPECT_EQ(last_code(), c.code) << c.what;
        std::vector<std::vector<u8>> writes = sent(82);
        ASSERT_EQ(writes.size(), c.written ? 1u : 0u) << c.what;
        if (!c.written)
            continue;
        ASSERT_EQ(writes[0].size(), ORSA_KS_CONF_V1_SIZE) << c.what;
        std::vector<u8> want = c.table;
        want[4 + 12] = strcmp(c.value, "Enabled") == 0 ? 1 : 0;
        EXPECT_EQ(writes[0], want) << c.what << ": the table as read, one byte changed";
    }
    fail(81);
    EXPECT_EQ(set(g, "SRIOVState", "Enabled"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_SRIOV_GET_FAILED);
}

TEST_F(Sriov, VeskarnRewritesTheConfiguredProfile)
{
    HmNode *g = nic(vsk);
    HmNode *configured = group(vsk, "ProfileManagement/ConfiguredProfile");
    ASSERT_NE(configured, nullptr);
    // Staged as a client stages it: the rewrite takes the staged profile id.
    ASSERT_EQ(set(configured, "ProfileId", "3"), 0u);
    // With the option flag the adapter lists functions 0 to 2; function 1
    // is not in the configured profile.
    ProfileImage flagged, plain;
    flagged.port(0, 1);
    flagged.port(1, 1);
    for (u32 pf = 0; pf < 3; pf++)
        flagged.pcie(pf, 1, 0x1, 1, 0, 0x10);
    plain.port(0, 1);
    plain.port(1, 1);
    plain.pcie(0, 1, 0x1, 1, 0, 0x10)[3] = 0x08;  // hidden: still rewritten
    plain.pcie(2, 1, 0x1, 1, 1, 0x10)[16] = 8;
    answer(164, {CannedReply{flagged.bytes}, CannedReply{plain.bytes}});
    status(165, 0);
    host_->clearLog();
    ASSERT_EQ(set(g, "SRIOVState", "Enabled"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_SRIOV_CHANGED);

    std::vector<std::vector<u8>> reads = sent(164);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0][1], 0x04) << "configured, with the option flag";
    EXPECT_EQ(reads[1][1], 0x00) << "configured, without it";
    std::vector<std::vector<u8>> reqs = sent(165);
    ASSERT_EQ(reqs.size(), 1u);
    const std::vector<u8> &r = reqs[0];
    ASSERT_EQ(r.size(), 8u + 88 * 3 + 68);
    EXPECT_EQ(std::vector<u8>(r.begin(), r.begin() + 8), std::vector<u8>({3, 0, 0, 0x80, 4, 0, 0, 0}));
    const u8 *f0 = &r[8], *f1 = &r[96], *f2 = &r[184], *mc = &r[272];
    EXPECT_EQ(f0[3], 0x08);
    EXPECT_EQ(f0[12], 1);
    EXPECT_EQ(f0[16], 255);
    EXPECT_EQ(f1[6], 1);
    EXPECT_EQ(f1[13], 0) << "absent from the configured profile";
    EXPECT_EQ(f1[14], 1);
    EXPECT_EQ(f2[12], 1);
    EXPECT_EQ(f2[16], 8);
    EXPECT_EQ(mc[0], 86);
    EXPECT_EQ(mc[1], 68);
    EXPECT_EQ(mc[52], 1);
    EXPECT_EQ(mc[53], 1);
    EXPECT_EQ(mc[54], 0);

    // The configured function 0 mirrors the new state.
    HmNode *port = get_first_instance(configured, "Port");
    HmNode *fn = port != nullptr ? get_first_instance(port, "Function") : nullptr;
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(cached(fn, "FunctionNumber"), "0x0");
    EXPECT_EQ(cached(fn, "SRIOVState"), "Enabled");

    // The adapter refuses the rewrite.
    answer(164, {CannedReply{flagged.bytes}, CannedReply{plain.bytes}});
    status(165, 2, 99);
    set_prop_val(fn, "SRIOVState", "Enabled");
    EXPECT_EQ(set(g, "SRIOVState", "Disabled"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_PROFILE_SAVE_INVALID);
    EXPECT_EQ(cached(fn, "SRIOVState"), "Enabled");
    // A profile read that fails.
    answer(164, std::vector<u8>{}, 2, 99);
    EXPECT_EQ(set(g, "SRIOVState", "Disabled"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_PROFILE_CONFIG_FAILED);
}

TEST_F(Sriov, VepaState)
{
    HmNode *g = nic(vsk);
    // Reads: the forwarding mode, bits 6-8 of the reply's first word.
    struct Read {
        u16 word;
        u8 status, additional;
        u32 rc;
        const char *want;
    } reads[] = {{3 << 6, 0, 0, 0, "Enabled"}, {2 << 6, 0, 0, 0, "Disabled"}, {0, 66, 0, 1, "N/A"},
                 {0, 2, 99, 1, "sentinel"}};
    for (const Read &c : reads) {
        set_prop_val(g, "VEPAState", "sentinel");
        answer(152, std::vector<u8>{(u8)c.word, (u8)(c.word >> 8)}, c.status, c.additional);
        host_->clearLog();
        u32 rc = 99;
        std::string got = get(g, "VEPAState", &rc);
        EXPECT_EQ(rc, c.rc) << c.want;
        EXPECT_EQ(cached(g, "VEPAState"), c.want);
        if (c.status != 2) {
            EXPECT_EQ(got, c.want);
        }
        std::vector<std::vector<u8>> reqs = sent(152);
        ASSERT_EQ(reqs.size(), 1u);
        std::vector<u8> want(16, 0);
        want[0] = (u8)get_phba_port_number(g);
        want[3] = 0x80;
        EXPECT_EQ(reqs[0], want);
    }

    // Writes: SR-IOV must be on; the value already there sends nothing.
    struct Write {
        const char *sriov, *current, *value;
        u32 rc, code;
        int mode;  // -1: nothing sent
    } writes[] = {
        {"Disabled", "Disabled", "Enabled", 1, ORSA_STATUS_VEPA_UNSUPPORTED, -1},
        {"N/A", "Disabled", "Enabled", 1, ORSA_STATUS_VEPA_UNSUPPORTED, -1},
        {"Enabled", "Enabled", "Enabled", 0, 0, -1},
        {"Enabled", "Disabled", "Enabled", 0, 0, 3},
        {"Enabled", "Enabled", "Disabled", 0, 0, 2},
    };
    status(153, 0);
    for (const Write &c : writes) {
        set_prop_val(g, "SRIOVState", "%s", c.sriov);
        set_prop_val(g, "VEPAState", "%s", c.current);
        host_->clearLog();
        orsa_set_status(0);
        EXPECT_EQ(set(g, "VEPAState", c.value), c.rc) << c.sriov << c.current << c.value;
        EXPECT_EQ(last_code(), c.code);
        std::vector<std::vector<u8>> reqs = sent(153);
        if (c.mode < 0) {
            EXPECT_TRUE(reqs.empty());
            continue;
        }
        ASSERT_EQ(reqs.size(), 1u);
        std::vector<u8> want(20, 0);
        want[0] = (u8)get_phba_port_number(g);
        want[3] = 0x80;
        want[4] = (u8)(c.mode << 6);
        want[5] = (u8)((c.mode << 6) >> 8);
        EXPECT_EQ(reqs[0], want);
        EXPECT_EQ(cached(g, "VEPAState"), c.value);
    }
    // The forwarding write refused.
    status(153, 2, 99);
    set_prop_val(g, "VEPAState", "Disabled");
    EXPECT_EQ(set(g, "VEPAState", "Enabled"), 1u);
    EXPECT_EQ(cached(g, "VEPAState"), "Disabled");

    // The KS3 has no VEPA.
    EXPECT_EQ(get(nic(ks3), "VEPAState"), "N/A");
    EXPECT_EQ(set(nic(ks3), "VEPAState", "Enabled"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_VEPA_UNSUPPORTED);
}

TEST_F(Sriov, VirtualFunctionRefusesTheNicPortStates)
{
    vm_flag = 1;
    host_->clearLog();
    for (const char *property : {"SRIOVState", "VEPAState"}) {
        u32 rc = 0;
        EXPECT_EQ(get(nic(vsk), property, &rc), "N/A") << property;
        EXPECT_EQ(rc, 1u);
        EXPECT_EQ(last_code(), ORSA_STATUS_VF_REFUSED);
        EXPECT_EQ(set(nic(vsk), property, "Enabled"), 1u);
        EXPECT_EQ(last_code(), ORSA_STATUS_VF_REFUSED);
    }
    EXPECT_TRUE(host_->log().empty() || (sent(164).empty() && sent(152).empty() && sent(153).empty()));
    vm_flag = 0;
}

TEST_F(Sriov, ProfileFunctionStates)
{
    HmNode *cport = get_first_instance(group(vsk, "ProfileManagement/ConfiguredProfile"), "Port");
    HmNode *cfn = cport != nullptr ? get_first_instance(cport, "Function") : nullptr;
    HmNode *aport = get_first_instance(group(vsk, "ProfileManagement/ActiveProfile"), "Port");
    HmNode *afn = aport != nullptr ? get_first_instance(aport, "Function") : nullptr;
    ASSERT_TRUE(cfn && afn);

    // Configured: staged in config_prof.txt, the adapter untouched.
    host_->clearLog();
    ASSERT_EQ(set(cfn, "SRIOVState", "Enabled"), 0u);
    EXPECT_TRUE(sent(165).empty());
    char fields[ORSA_CPROF_FIELDS][256];
    ASSERT_EQ(ORSA_get_config_prof_prop(vsk, cached(cfn, "FunctionNumber").c_str(), fields, 1), 0u);
    EXPECT_STREQ(fields[ORSA_CPROF_SRIOV], "Enabled");
    set_prop_val(cfn, "SRIOVState", "Disabled");
    EXPECT_EQ(get(cfn, "SRIOVState"), "Enabled") << "the staged value answers";

    // Active: the active profile's record.
    struct Case {
        bool not_applicable;
        ProfileImage profile;
        const char *want;
    } cases[] = {{false, profile(1), "Enabled"}, {false, profile(0), "Disabled"}, {false, profile(1, 0), "N/A"},
                 {true, profile(1), "N/A"}};
    for (const Case &c : cases) {
        answer(58, fwConfig(c.not_applicable));
        answer(164, c.profile);
        host_->clearLog();
        u32 rc = 1;
        EXPECT_EQ(get(afn, "SRIOVState", &rc), c.want);
        EXPECT_EQ(rc, 0u);
        std::vector<std::vector<u8>> reads = sent(164);
        ASSERT_EQ(reads.size(), c.not_applicable ? 0u : 1u);
        if (!reads.empty()) {
            EXPECT_EQ(reads[0][1], ORSA_CFG_ACTIVE);
        }
    }

    // The KS3 has no profile functions of its own: "N/A", a set does nothing.
    HmNode *kfn = nullptr;
    HmNode *kconf = group(ks3, "ProfileManagement/ConfiguredProfile");
    if (kconf != nullptr) {
        HmNode *kport = initialize_ConfiguredProfile_Port(kconf, nullptr, nullptr, nullptr);
        kfn = kport != nullptr ? initialize_ConfiguredProfile_Port_Function(kport, nullptr, nullptr, nullptr) : nullptr;
    }
    if (kfn != nullptr) {
        EXPECT_EQ(get(kfn, "SRIOVState"), "N/A");
        EXPECT_EQ(set(kfn, "SRIOVState", "Enabled"), 0u);
        EXPECT_EQ(cached(kfn, "SRIOVState"), "N/A");
    }
}

}  // namespace
