// SaveProfile over an emulated Veskarn: the request built from the staged
// tree, the answers to a refused or failed write, the channels carried over,
// and the switch to no multichannel.
#include "save_fixture.h"

namespace {

class SaveCases : public SaveHost {};

u32 vfs(const std::vector<u8> &r)
{
    return r.at(16) | r.at(17) << 8;
}

// Listed functions in record order: 0 and 1 named by the tree, 4 named by
// none. Function 1 staged "None"; function 0's SR-IOV staged per case.
TEST_F(SaveCases, RequestCarriesTheStagedValues)
{
    struct Case {
        const char *profile_id;
        const char *sriov0;
        u8 want_sriov0;
    } cases[] = {{"1", "Enabled", 1}, {"1", "Disabled", 0}, {"24", "Disabled", 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.profile_id) + " " + c.sriov0);
        ASSERT_NO_FATAL_FAILURE(bootVeskarn(2, 2));
        HmNode *f0 = function(cp, "0x0"), *f1 = function(cp, "0x1");
        ASSERT_TRUE(f0 && f1);
        EXPECT_EQ(function(cp, "0x4"), nullptr) << "no port names function 4";
        ASSERT_EQ(set(cp, "ProfileId", c.profile_id), 0u);
        ASSERT_EQ(set(f0, "SRIOVState", c.sriov0), 0u);
        ASSERT_EQ(ORSA_set_config_prof_prop(vsk, "0x1", "None", 1, ORSA_CPROF_PROTOCOL), 0u);
        host_->clearLog();
        ASSERT_EQ(save(), 0u) << last_text();

        Bytes req = saveRequest();
        ASSERT_EQ(req.size(), 8u + 88 * 3 + 68);
        EXPECT_EQ(req[0], (u8)atoi(c.profile_id));
        EXPECT_EQ(req[3] & 0x80, 0x80);
        EXPECT_EQ(rd32(req, 4), 4u);
        struct Want {
            unsigned pf;
            u8 state, type, sriov;
        } want[] = {{0, 1, 1, c.want_sriov0}, {1, 0, 1, 0}, {4, 0, 1, 0}};
        for (size_t i = 0; i < 3; i++) {
            SCOPED_TRACE(want[i].pf);
            Bytes r = record(req, i);
            EXPECT_EQ(r[0], ORSA_RES_PCIE_FUNCTION);
            EXPECT_EQ(r[1], ORSA_RES_DESC_LEN);
            EXPECT_EQ(r[3] & 0xC0, 0);
            EXPECT_EQ((r[6] | (r[7] & 3) << 8), (int)want[i].pf);
            EXPECT_EQ(r[13], want[i].state);
            EXPECT_EQ(r[14], want[i].type);
            EXPECT_EQ(r[12], want[i].sriov);
            EXPECT_EQ(vfs(r), want[i].sriov == 1 ? 255u : 0u);
            // What the firmware took into the configured profile.
            const adapter::ProfileRecord *s = stored(store().configured, adapter::kRecPcie, want[i].pf);
            ASSERT_NE(s, nullptr);
            EXPECT_EQ((*s)[13], want[i].state);
            EXPECT_EQ((*s)[12], want[i].sriov);
        }
        const u8 *mc = req.data() + 8 + 88 * 3;
        EXPECT_EQ(mc[0], ORSA_RES_MC_TYPES);
        EXPECT_EQ(mc[1], ORSA_RES_MC_DESC_LEN);
        EXPECT_EQ(mc[52], 2);
        EXPECT_EQ(mc[53], 2);
        EXPECT_EQ(mc[54], 0);
        EXPECT_EQ(last_code(), (u32)ORSA_STATUS_SAVE_REBOOT);
        // The tree is rebuilt from what the adapter now holds.
        EXPECT_EQ(get(function(cp, "0x1"), "State"), "Disabled");
        EXPECT_EQ(get(function(cp, "0x0"), "State"), "Enabled");
    }
}

// The records sent pair the active profile's function records with the
// configured ones in order: a function in the same place goes out as it
// runs now, one out of step as configured.
TEST_F(SaveCases, ActiveRecordsInStepReplaceTheConfiguredOnes)
{
    ASSERT_NO_FATAL_FAILURE(bootVeskarn(2, 2));
    auto pcie = [](std::vector<adapter::ProfileRecord> &records, unsigned pf) {
        for (auto it = records.begin(); it != records.end(); ++it)
            if ((*it)[0] == adapter::kRecPcie && adapter::recordPf(*it) == pf)
                return it;
        return records.end();
    };
    for (unsigned pf : {0u, 1u}) {
        (*pcie(store().configured, pf))[20] = 0x9;
        (*pcie(store().active, pf))[20] = 0x1;
    }
    // The active profile lists function 4 before function 1.
    adapter::ProfileRecord four = *pcie(store().active, 4);
    store().active.erase(pcie(store().active, 4));
    store().active.insert(pcie(store().active, 1), four);
    host_->clearLog();
    ASSERT_EQ(save(), 0u) << last_text();
    Bytes req = saveRequest();
    ASSERT_EQ(req.size(), 8u + 88 * 3 + 68);
    EXPECT_EQ(record(req, 0)[20], 0x1) << "function 0 in step: the active record";
    EXPECT_EQ(record(req, 1)[20], 0x9) << "function 1 out of step: the configured record";
    EXPECT_EQ(record(req, 2)[20], 0x6);
}

// A refused write: 305, the tree shows what the adapter kept, and a staged
// switch to no multichannel clears nothing on the adapter.
TEST_F(SaveCases, RefusedWriteRebuildsTheTreeAndErasesNothing)
{
    ASSERT_NO_FATAL_FAILURE(bootVeskarn(2, 2));
    ASSERT_NO_FATAL_FAILURE(subsystem("0x0e10"));
    HmNode *port0 = group(cp, "Port0");
    ASSERT_NE(port0, nullptr);
    ASSERT_EQ(set(port0, "MCType", "None"), 0u) << last_text();
    const std::vector<adapter::ProfileRecord> before = store().configured;
    fw(1).setFault(1, 165, {.status = 3});
    host_->clearLog();
    EXPECT_EQ(save(), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_SAVE_INVALID);
    EXPECT_EQ(sent(1, 165).size(), 1u);
    EXPECT_TRUE(sent(1, 7).empty()) << "no erase after a refused write";
    EXPECT_TRUE(store().erased.empty());
    EXPECT_EQ(store().configured, before);
    EXPECT_EQ(get(group(cp, "Port0"), "MCType"), "UMC") << "rebuilt from the adapter";
}

// Configured "None" over an active "UMC": virtual MACs reset and the erase
// (27) sent, except on the server maker's systems; the erase's answer is the
// action's unless an earlier step failed.
TEST_F(SaveCases, NoMultichannelOverUmcErasesTheConfiguration)
{
    struct Case {
        const char *what;
        const char *subsystem;
        u8 erase_answer;
        bool reset_needed_fails;
        u32 rc;
        u32 code;
        bool erased;
    } cases[] = {
        {"outside the server maker's table", "0x0e10", 0, false, 0, ORSA_STATUS_SAVE_REBOOT, true},
        {"in the server maker's table", "0x1f43", 0, false, 0, ORSA_STATUS_SAVE_REBOOT, false},
        {"the erase fails", "0x0e10", 3, false, 1, 0, true},
        {"the erase done, a reset applies it", "0x0e10", 44, false, 0, ORSA_STATUS_SAVE_REBOOT, true},
        {"an earlier failure stands", "0x0e10", 0, true, 1, ORSA_STATUS_RESET_NEEDED_FAILED, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(bootVeskarn(2, 2));
        ASSERT_NO_FATAL_FAILURE(subsystem(c.subsystem));
        ASSERT_EQ(set(group(cp, "Port0"), "MCType", "None"), 0u) << last_text();
        store().erase_status[27] = c.erase_answer;
        if (c.reset_needed_fails)
            fw(1).setFault(1, 84, {.status = 3});
        host_->clearLog();
        u32 rc = save();
        EXPECT_EQ(rc != 0, c.rc != 0);
        if (c.code != 0) {
            EXPECT_EQ(last_code(), c.code);
        }
        EXPECT_EQ(saveRequest().at(8 + 88 * 3 + 52), 1) << "port 0 written as None";
        std::vector<Bytes> erase = sent(1, 7);
        ASSERT_EQ(erase.size(), c.erased ? 1u : 0u);
        if (c.erased) {
            Bytes want(20, 0);
            want[0] = 3;
            want[4] = 27;
            EXPECT_EQ(erase[0], want);
        }
    }
}

// A port without channels is passed over; the next port's channels get
// their bandwidth shares back after the rebuild.
TEST_F(SaveCases, PortWithoutChannelsIsSkipped)
{
    ASSERT_NO_FATAL_FAILURE(bootVeskarn(2, 2));
    HmNode *p0 = port(vsk, "0"), *p1 = port(vsk, "1");
    ASSERT_TRUE(p0 && p1);
    HmNode *cm0 = group(p0, "ChannelManagement"), *cm1 = group(p1, "ChannelManagement");
    ASSERT_TRUE(cm0 && cm1);
    purge_nodes_within(cm0, "Channel");
    HmNode *ch = get_first_instance(cm1, "Channel");
    ASSERT_NE(ch, nullptr);
    ASSERT_EQ(set_prop_val(ch, "MinBandWidth", "%s", "20"), 0u);
    ASSERT_EQ(set_prop_val(ch, "MaxBandWidth", "%s", "60"), 0u);
    host_->clearLog();
    ASSERT_EQ(save(), 0u) << last_text();
    EXPECT_EQ(get_first_instance(cm0, "Channel"), nullptr) << "port 0 was passed over";
    ch = get_first_instance(cm1, "Channel");
    ASSERT_NE(ch, nullptr) << "port 1 rebuilt";
    const adapter::ProfileRecord *nic1 = stored(store().configured, adapter::kRecNic, 1);
    ASSERT_NE(nic1, nullptr);
    EXPECT_EQ((*nic1)[48], 20);
    EXPECT_EQ((*nic1)[52], 60);
    const adapter::ProfileRecord *nic0 = stored(store().configured, adapter::kRecNic, 0);
    ASSERT_NE(nic0, nullptr);
    EXPECT_EQ((*nic0)[48], 10) << "port 0's channel untouched";
    EXPECT_EQ(cached(ch, "LPVID"), "7");
    EXPECT_EQ(cached(ch, "LogicalLinkState"), "Enabled");
}

// The channel record and its restoration on their own: what is kept of a
// channel, and the ports whose channels are left alone.
TEST_F(SaveCases, ChannelSaveAndRestore)
{
    ASSERT_NO_FATAL_FAILURE(bootVeskarn(2, 2));
    HmNode *cm1 = group(port(vsk, "1"), "ChannelManagement");
    ASSERT_NE(cm1, nullptr);
    HmNode *ch = get_first_instance(cm1, "Channel");
    ASSERT_NE(ch, nullptr);
    ASSERT_EQ(set_prop_val(ch, "MinBandWidth", "%s", "30"), 0u);
    ASSERT_EQ(set_prop_val(ch, "MaxBandWidth", "%s", "70"), 0u);
    ASSERT_EQ(set_prop_val(ch, "LPVID", "%s", "N/A"), 0u);
    ASSERT_EQ(set_prop_val(ch, "LogicalLinkState", "%s", "Disabled"), 0u);
    OrsaMcSaveTable table = {};
    u32 n = 99;
    ASSERT_EQ(ORSA_save_mc_props(cm1, &table, 1, &n), 0u);
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(table.ports[1].active_mc_code, 2u) << "UMC";
    const OrsaMcSavedChannel &e = table.ports[1].channels[0];
    EXPECT_EQ(e.min_bw, 30u);
    EXPECT_EQ(e.max_bw, 70u);
    EXPECT_EQ(e.lpvid, 0u);
    EXPECT_STREQ(e.type, "NIC");
    EXPECT_EQ(e.link_disabled, 1u);
    EXPECT_EQ(ORSA_save_mc_props(cm1, &table, ORSA_MC_SAVE_PORTS, &n), 1u) << "no such port record";

    const u32 umc[] = {2, 2}, none[] = {2, 1};
    host_->clearLog();
    EXPECT_EQ(ORSA_reset_mc_props(cm1, &table, 1, none, 2, n), 0u);
    EXPECT_TRUE(sent(1, 165).empty()) << "configured without multichannel: left alone";
    OrsaMcSaveTable was_none = table;
    was_none.ports[1].active_mc_code = 1;
    EXPECT_EQ(ORSA_reset_mc_props(cm1, &was_none, 1, umc, 2, n), 0u);
    EXPECT_TRUE(sent(1, 165).empty()) << "ran without multichannel: left alone";

    EXPECT_EQ(ORSA_reset_mc_props(cm1, &table, 1, umc, 2, n), 0u) << last_text();
    const adapter::ProfileRecord *nic1 = stored(store().configured, adapter::kRecNic, 1);
    ASSERT_NE(nic1, nullptr);
    EXPECT_EQ((*nic1)[48], 30);
    EXPECT_EQ((*nic1)[52], 70);
    EXPECT_EQ(cached(ch, "LPVID"), "0");
    EXPECT_EQ(cached(ch, "LogicalLinkState"), "Disabled");

    // No channels below the group: 317, nothing recorded.
    purge_nodes_within(cm1, "Channel");
    EXPECT_EQ(ORSA_save_mc_props(cm1, &table, 1, &n), (u32)ORSA_STATUS_NO_CHANNELS);
}

// KS2, KS3 and Pivard keep no staged profile: 303 and nothing sent.
TEST_F(SaveCases, GenerationsWithoutProfilesRefuse)
{
    for (adapter::Gen g : {adapter::Gen::KS2, adapter::Gen::KS3, adapter::Gen::Pivard}) {
        SCOPED_TRACE((int)g);
        chardev::HostSpec spec = chardev::defaultHost();
        spec.adapters[0].gen = g;
        boot(spec);
        HmNode *ks_pm = group(ctrl(0), "ProfileManagement");
        ASSERT_NE(ks_pm, nullptr);
        host_->clearLog();
        EXPECT_EQ(run(ks_pm, "SaveProfile", {}), 1u);
        EXPECT_EQ(last_code(), (u32)ORSA_STATUS_SAVE_UNSUPPORTED);
        EXPECT_TRUE(sent(1, 165).empty());
        EXPECT_TRUE(sent(1, 164).empty());
    }
}

}  // namespace
