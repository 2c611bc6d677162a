// The profile management properties and actions of a Veskarn controller (and
// their refusals on a KS3) through the tree API over the emulated host.
#include <string.h>

#include <string>
#include <vector>

#include "backend/orsa_identity.h"
#include "backend/orsa_propertyutil.h"
#include "config/cfg_personality.h"
#include "config/cfg_profile_tree.h"
#include "tree/hm_lookup.h"
#include "config/cfg_profile_props.h"
#include "fw_profile.h"
#include "personality_fixture.h"
#include "profile_fixture.h"
#include "schema/builders.h"

namespace {

using Bytes = std::vector<u8>;

class ProfileProps : public ProfileHost {
public:
    adapter::ProfileStore &store(size_t i) { return host_->engine(i).profiles(); }
    HmNode *cp(HmNode *ks) { return group(ks, "ProfileManagement/ConfiguredProfile"); }
    HmNode *pm(HmNode *ks) { return group(ks, "ProfileManagement"); }
    HmNode *lr(HmNode *ks) { return group(ks, "LinkReconfiguration"); }
    // Reads of the configured profile (164, request byte 1 bits 0-1 = 0).
    size_t configuredReads()
    {
        size_t n = 0;
        for (const Bytes &r : sent(164))
            n += r.size() > 1 && (r[1] & 3) == 0;
        return n;
    }
    int fcoeFunctions(HmNode *ks)
    {
        int n = 0;
        for (HmNode *p = get_first_instance(cp(ks), "Port"); p != nullptr; p = hm_next_instance(p))
            for (HmNode *f = get_first_instance(p, "Function"); f != nullptr; f = hm_next_instance(f))
                n += cached(f, "Protocol") == "FCoE";
        return n;
    }
    void subsystem(HmNode *ks, const char *id)
    {
        HmNode *pci = internal_get_node(orsa_first_phba(ks), "PCI", HM_KIND_GROUP);
        ASSERT_NE(pci, nullptr);
        ASSERT_EQ(set_prop_val(pci, "SubsysDeviceID", "%s", id), 0u);
    }
};

TEST_F(ProfileProps, AriProperties)
{
    const char *names[] = {"MaxFunctionNumber", "IPLMaxFunctionNumber", "SettableMaxFunctionNumber"};
    store(1).ari.next_max_pf = 15;
    EXPECT_EQ(get(cp(vsk), "MaxFunctionNumber"), "15");
    EXPECT_EQ(get(cp(vsk), "IPLMaxFunctionNumber"), "7");
    EXPECT_EQ(get(cp(vsk), "SettableMaxFunctionNumber"), "Yes");
    store(1).ari.changeable = false;
    EXPECT_EQ(get(cp(vsk), "MaxFunctionNumber"), "15");
    EXPECT_EQ(cached(cp(vsk), "SettableMaxFunctionNumber"), "No") << "one read refreshes all three";

    // An adapter without the ARI commands: "N/A" in all three, no error.
    answer(94, Bytes{}, 2, 30);
    for (const char *n : names) {
        u32 rc = 9;
        EXPECT_EQ(get(cp(vsk), n, &rc), "N/A") << n;
        EXPECT_EQ(rc, 0u) << n;
    }
    answer(94, Bytes{}, 2, 99);
    u32 rc = 0;
    get(cp(vsk), "MaxFunctionNumber", &rc);
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_ARI_FAILED);
    for (const char *n : names)
        EXPECT_EQ(get(cp(ks3), n), "N/A") << "KS3: " << n;
    host_->clearLog();
    vm_flag = 1;
    EXPECT_EQ(get(cp(vsk), "MaxFunctionNumber", &rc), "N/A");
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_VF_REFUSED);
    vm_flag = 0;
    EXPECT_TRUE(sent(94).empty()) << "nothing asked on a KS3 or inside a virtual function";
}

TEST_F(ProfileProps, SetMaxFunctionNumber)
{
    HmNode *g = cp(vsk);
    // Not read yet: the default text "No" refuses the change.
    ASSERT_EQ(cached(g, "SettableMaxFunctionNumber"), "No");
    EXPECT_EQ(act(g, "SetMaxFunctionNumber", {"15"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_ARI_NOT_SETTABLE);
    EXPECT_TRUE(sent(95).empty());
    ASSERT_EQ(get(g, "SettableMaxFunctionNumber"), "Yes");

    struct Case {
        const char *what;
        std::vector<std::string> params;
        u32 rc, code;
        Bytes sent;  // empty: nothing sent
    } cases[] = {
        {"8 is no maximum", {"8"}, 1, ORSA_STATUS_PROFILE_INVALID_VALUE, {}},
        {"the adapter's default", {}, 0, ORSA_STATUS_PROFILE_CONFIGURED, {0, 0, 0, 0x80}},
        {"15", {"15"}, 0, ORSA_STATUS_PROFILE_CONFIGURED, {15, 0, 0, 0}},
        {"7", {"7"}, 0, ORSA_STATUS_PROFILE_CONFIGURED, {7, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        host_->clearLog();
        size_t reads = configuredReads();
        EXPECT_EQ(act(g, "SetMaxFunctionNumber", c.params), c.rc) << c.what;
        EXPECT_EQ(last_code(), c.code) << c.what;
        std::vector<Bytes> w = sent(95);
        if (c.sent.empty()) {
            EXPECT_TRUE(w.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(w.size(), 1u) << c.what;
        EXPECT_EQ(w[0], c.sent) << c.what;
        EXPECT_GT(configuredReads(), reads) << c.what << ": ConfiguredProfile built again";
    }
    EXPECT_EQ(store(1).ari.next_max_pf, 7);
    char invalid[ORSA_STATUS_TEXT_SIZE];
    u32 code = 0;
    act(g, "SetMaxFunctionNumber", {"8"});
    ORSA_get_last_status(&code, invalid);
    EXPECT_STREQ(invalid, "Invalid Value.");

    answer(95, Bytes{}, 2, 99);
    EXPECT_EQ(act(g, "SetMaxFunctionNumber", {"15"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_ARI_FAILED);
    EXPECT_EQ(act(cp(ks3), "SetMaxFunctionNumber", {"15"}), 1u);
}

TEST_F(ProfileProps, SetProfileIdSendsOneByteAndRefuses256)
{
    ASSERT_EQ(fcoeFunctions(vsk), 0);
    host_->clearLog();
    ASSERT_EQ(act(pm(vsk), "SetProfileId", {"3"}), 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_PROFILE_CONFIGURED);
    ASSERT_EQ(sent(168).size(), 1u);
    EXPECT_EQ(sent(168)[0], (Bytes{3, 0, 0, 0}));
    EXPECT_EQ(store(1).next_id, 3);
    EXPECT_EQ(fcoeFunctions(vsk), 2) << "the configured profile shows profile 3's functions";

    struct Case {
        const char *what;
        HmNode *ks;
        const char *id;
        u32 rc, code;
    } cases[] = {
        // Only the low byte would travel: 256 was profile 0.
        {"256", vsk, "256", 1, ORSA_STATUS_OUT_OF_RANGE},
        {"a profile the adapter does not offer", vsk, "9", 1, ORSA_STATUS_SET_ACTIVE_PROFILE_FAILED},
        {"KS3", ks3, "2", 1, ORSA_FAILURE},
    };
    for (const Case &c : cases) {
        host_->clearLog();
        EXPECT_EQ(act(pm(c.ks), "SetProfileId", {c.id}), c.rc) << c.what;
        EXPECT_EQ(last_code(), c.code) << c.what;
        EXPECT_EQ(sent(168).size(), c.code == ORSA_STATUS_SET_ACTIVE_PROFILE_FAILED ? 1u : 0u) << c.what;
    }
    EXPECT_EQ(store(1).next_id, 3);
    EXPECT_EQ(fcoeFunctions(vsk), 2);
}

TEST_F(ProfileProps, LinkConfiguration)
{
    host_->clearLog();
    ASSERT_EQ(act(lr(vsk), "SetLinkConfigID", {"2"}), 0u);
    EXPECT_EQ(sent(202), (std::vector<Bytes>{{2, 0, 0, 0}}));
    EXPECT_EQ(get(lr(vsk), "ConfiguredLinkConfigID"), "2");
    host_->clearLog();
    ASSERT_EQ(act(lr(vsk), "SetLinkConfigFactoryDefaults"), 0u);
    EXPECT_EQ(sent(202), (std::vector<Bytes>{{0, 0, 0, 0x80}}));
    EXPECT_EQ(get(lr(vsk), "ConfiguredLinkConfigID"), "1");
    EXPECT_EQ(act(lr(vsk), "SetLinkConfigID", {"9"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_LINK_CONFIG_FAILED);

    // KS3 keeps no link configurations.
    const char *kText = "Setting factory Link configuration settings is not supported on this adapter.";
    for (const char *action : {"SetLinkConfigID", "SetLinkConfigFactoryDefaults"}) {
        host_->clearLog();
        EXPECT_EQ(act(lr(ks3), action, {"1"}), 1u) << action;
        char t[ORSA_STATUS_TEXT_SIZE];
        u32 code = 0;
        ORSA_get_last_status(&code, t);
        EXPECT_EQ(code, (u32)ORSA_STATUS_LINK_CONFIG_UNSUPPORTED) << action;
        EXPECT_STREQ(t, kText) << action;
        EXPECT_TRUE(sent(202).empty()) << action;
    }
    EXPECT_EQ(get(lr(ks3), "ConfiguredLinkConfigID"), "N/A");
    EXPECT_EQ(get(cp(ks3), "MaxFunctionNumber"), "N/A");
    vm_flag = 1;
    EXPECT_EQ(act(lr(vsk), "SetLinkConfigID", {"2"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_VF_REFUSED);
    vm_flag = 0;
}

TEST_F(ProfileProps, EveryWriteRebuildsTheConfiguredProfile)
{
    ASSERT_EQ(get(cp(vsk), "SettableMaxFunctionNumber"), "Yes");
    subsystem(vsk, "0x1f43");
    struct Case {
        const char *action;
        HmNode *(ProfileProps::*group)(HmNode *);
        std::vector<std::string> params;
    } cases[] = {
        {"SetMaxFunctionNumber", &ProfileProps::cp, {"15"}},
        {"SetProfileId", &ProfileProps::pm, {"3"}},
        {"SetLinkConfigID", &ProfileProps::lr, {"2"}},
        {"SetLinkConfigFactoryDefaults", &ProfileProps::lr, {}},
        {"SetFactoryDefaults", &ProfileProps::pm, {}},
    };
    for (const Case &c : cases) {
        // A stale function group that only a rebuild removes.
        HmNode *port = get_first_instance(cp(vsk), "Port");
        ASSERT_NE(port, nullptr) << c.action;
        HmNode *stale = initialize_ConfiguredProfile_Port_Function(port, nullptr, nullptr, nullptr);
        ASSERT_NE(stale, nullptr);
        set_prop_val(stale, "FunctionNumber", "stale");
        host_->clearLog();
        EXPECT_EQ(act((this->*c.group)(vsk), c.action, c.params), 0u) << c.action;
        EXPECT_GE(configuredReads(), 1u) << c.action;
        int left = 0, fns = 0;
        for (HmNode *p = get_first_instance(cp(vsk), "Port"); p != nullptr; p = hm_next_instance(p))
            for (HmNode *f = get_first_instance(p, "Function"); f != nullptr; f = hm_next_instance(f), ++fns)
                left += cached(f, "FunctionNumber") == "stale";
        EXPECT_EQ(left, 0) << c.action << ": ConfiguredProfile built again";
        EXPECT_GT(fns, 0) << c.action;
    }
}

TEST_F(ProfileProps, FactoryDefaultsAndTheServerMakersSystems)
{
    struct Case {
        const char *what;
        const char *subsystem;
        u8 erase_answer;  // firmware status of the erase
        u32 rc;
        bool erased;
    } cases[] = {
        {"a subsystem id of the server maker's table", "0x1f43", 0, 0, false},
        {"the table's last id", "0x1f58", 0, 0, false},
        {"an id outside the table", "0x0e10", 0, 0, true},
        {"the erase done, a reset applies it", "0x0e10", 44, 0, true},
        {"the erase fails", "0x0e10", 3, 1, true},
    };
    for (const Case &c : cases) {
        subsystem(vsk, c.subsystem);
        store(1).erase_status[27] = c.erase_answer;
        store(1).next_id = 3;
        host_->clearLog();
        u32 rc = act(pm(vsk), "SetFactoryDefaults");
        EXPECT_EQ(rc != 0, c.rc != 0) << c.what;
        EXPECT_EQ(sent(168), (std::vector<Bytes>{{0, 0, 0, 0x80}})) << c.what;
        EXPECT_EQ(store(1).next_id, store(1).factory_profile) << c.what;
        std::vector<Bytes> erase = sent(7);
        ASSERT_EQ(erase.size(), c.erased ? 1u : 0u) << c.what;
        EXPECT_EQ(sent(171).empty(), !c.erased) << c.what << ": the virtual MAC restore reads the regions";
        if (c.erased) {
            Bytes want(20, 0);
            want[0] = 3;
            want[4] = 27;
            EXPECT_EQ(erase[0], want) << c.what;
        }
    }
    // Refusals before anything is sent.
    host_->clearLog();
    vm_flag = 1;
    EXPECT_EQ(act(pm(vsk), "SetFactoryDefaults"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_VF_REFUSED);
    vm_flag = 0;
    EXPECT_EQ(act(pm(ks3), "SetFactoryDefaults"), 1u);
    answer(168, Bytes{}, 2, 99);
    EXPECT_EQ(act(pm(vsk), "SetFactoryDefaults"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_SET_ACTIVE_PROFILE_FAILED);
    EXPECT_EQ(sent(7).empty(), true);
}

}  // namespace
