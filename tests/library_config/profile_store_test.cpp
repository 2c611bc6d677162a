// The profile groups and config_prof.txt made at library start from the
// emulated adapter's own profile store, through the driver channel.
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "backend/orsa_propertyutil.h"
#include "config/cfg_profile_model.h"
#include "config/cfg_profile_tree.h"
#include "fw_profile.h"
#include "host_fixture.h"
#include "iscsi/iscsi_persist.h"
#include "tree/hm_lookup.h"

namespace {

// The default host: controller 0 a KS3, controller 1 a Veskarn with two NIC
// functions, whose store offers profiles 1 "NIC", 2 "NIC and iSCSI", 3 "NIC
// and FCoE" and 4 "NIC and RoCE" over two ports (NIC functions 0 and 1,
// storage functions 2 and 3).
class ProfileStoreHost : public DiscoveryHost {
protected:
    void SetUp() override
    {
        unlink(ORSA_CONFIG_PROF_FILE);
        make(chardev::defaultHost());
    }
    void TearDown() override
    {
        DiscoveryHost::TearDown();
        unlink(ORSA_CONFIG_PROF_FILE);
    }
    adapter::ProfileStore &store() { return host_->engine(1).profiles(); }
    // Makes the listed profile id the one configured (and, with running,
    // the one running).
    void select(uint8_t id, bool running)
    {
        adapter::ListedProfile *p = store().findListed(id);
        ASSERT_NE(p, nullptr);
        store().configured = p->records;
        store().next_id = id;
        if (running) {
            store().active = p->records;
            store().active_id = id;
        }
    }
    void begin()
    {
        ASSERT_EQ(start(), 0u);
        vsk = ctrl(1);
        ASSERT_NE(vsk, nullptr);
        ASSERT_EQ(orsa_cprof_identity(vsk, serial, bus), 0u);
    }
    // The MAC address text of function pf as the store keeps it.
    std::string mac(unsigned pf)
    {
        for (const adapter::ProfileRecord &r : store().configured)
            if (r[0] >= 81 && r[0] <= 83 && adapter::recordPf(r) == pf) {
                const size_t at = r[0] == 81 ? 10 : r[0] == 82 ? 14 : 40;
                char t[18];
                snprintf(t, sizeof t, "%02x-%02x-%02x-%02x-%02x-%02x", r[at], r[at + 1], r[at + 2], r[at + 3],
                         r[at + 4], r[at + 5]);
                return t;
            }
        return "?";
    }
    static std::vector<std::string> functions(HmNode *port, const char *extra = nullptr)
    {
        std::vector<std::string> out;
        for (HmNode *f = port != nullptr ? get_first_instance(port, "Function") : nullptr; f != nullptr;
             f = hm_next_instance(f)) {
            std::string s = cached(f, "Protocol") + " " + cached(f, "FunctionNumber") + " " + cached(f, "MACAddress");
            if (extra != nullptr)
                s += " " + cached(f, extra);
            out.push_back(s);
        }
        return out;
    }
    std::string lines(std::initializer_list<const char *> rest) const
    {
        std::string out;
        for (const char *r : rest)
            out += std::string(serial) + "," + bus + "," + r + "\n";
        return out;
    }
    static std::string file()
    {
        std::ifstream in(ORSA_CONFIG_PROF_FILE);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    HmNode *vsk = nullptr;
    char serial[256] = "", bus[256] = "";
};

}  // namespace

TEST_F(ProfileStoreHost, StartUpShowsTheAdaptersProfilesAndLinkConfigurations)
{
    begin();
    HmNode *mgmt = group(vsk, "ProfileManagement");
    ASSERT_EQ(instances(mgmt, "Profile"), 4);
    struct Offered {
        const char *profile, *id, *text;
        std::vector<std::string> protocols;
    } offered[] = {
        {"Profile0", "1", "NIC", {"NIC 2", "iSCSI 2", "FCoE 2"}},
        {"Profile3", "4", "NIC and RoCE", {"NIC+RoCE 2"}},
    };
    for (const Offered &o : offered) {
        HmNode *p = group(mgmt, o.profile);
        EXPECT_EQ(cached(p, "ProfileId"), o.id);
        EXPECT_EQ(cached(p, "ProfileDescription"), o.text);
        std::vector<std::string> protocols;
        for (HmNode *g = get_first_instance(p, "Protocol"); g != nullptr; g = hm_next_instance(g))
            protocols.push_back(cached(g, "ProtocolName") + " " + cached(g, "FunctionCount"));
        EXPECT_EQ(protocols, o.protocols) << o.profile;
    }

    HmNode *active = group(mgmt, "ActiveProfile");
    EXPECT_EQ(cached(active, "ProfileId"), "1");
    EXPECT_EQ(functions(group(active, "Port0")), std::vector<std::string>({"NIC 0x0 " + mac(0), "None 0x2 " + mac(2)}));
    EXPECT_EQ(functions(group(active, "Port1")), std::vector<std::string>({"NIC 0x1 " + mac(1), "None 0x3 " + mac(3)}));
    EXPECT_EQ(cached(group(active, "Port0"), "MaxNICPFCount"), "1");

    HmNode *configured = group(mgmt, "ConfiguredProfile");
    EXPECT_EQ(functions(group(configured, "Port0"), "State"),
              std::vector<std::string>({"NIC 0x0 " + mac(0) + " Enabled", "iSCSI 0x2 " + mac(2) + " Disabled"}));
    const char *sriov0 = store().configured[2][12] == 1 ? "Enabled" : "Disabled";
    EXPECT_EQ(cached(group(configured, "Port0/Function0"), "SRIOVState"), sriov0);
    EXPECT_EQ(file(), lines({(std::string("1,None,0x0,NIC,") + sriov0).c_str(), "1,None,0x2,iSCSI,Disabled",
                             (std::string("1,None,0x1,NIC,") + (store().configured[4][12] == 1 ? "Enabled" : "Disabled")).c_str(),
                             "1,None,0x3,iSCSI,Disabled"}));

    HmNode *links = group(vsk, "LinkReconfiguration");
    EXPECT_EQ(cached(links, "ActiveLinkConfigID"), "1");
    EXPECT_EQ(cached(links, "ConfiguredLinkConfigID"), "1");
    EXPECT_EQ(instances(links, "LinkConfig"), 2);
    EXPECT_EQ(cached(group(links, "LinkConfig1"), "LinkConfigDescription"), "1x40GbE");

    HmNode *ks3 = ctrl(0);
    EXPECT_EQ(instances(group(ks3, "ProfileManagement"), "Profile"), 0);
    EXPECT_EQ(instances(group(ks3, "ProfileManagement/ActiveProfile"), "Port"), 0);
    EXPECT_EQ(cached(group(ks3, "LinkReconfiguration"), "ActiveLinkConfigID"), "N/A");
}

TEST_F(ProfileStoreHost, RoceFunctionsHaveOneNicPlusRoceLine)
{
    select(4, true);
    begin();
    HmNode *active = group(vsk, "ProfileManagement/ActiveProfile");
    EXPECT_EQ(functions(group(active, "Port0")), std::vector<std::string>({"NIC+RoCE 0x0 " + mac(0)}));
    EXPECT_EQ(functions(group(vsk, "ProfileManagement/ConfiguredProfile/Port1")),
              std::vector<std::string>({"NIC+RoCE 0x1 " + mac(1)}));
    std::string text = file();
    EXPECT_EQ(text.find(",NIC,"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
    char fields[ORSA_CPROF_FIELDS][256];
    ASSERT_EQ(ORSA_get_config_prof_prop(vsk, "0x1", fields, 1), 0u);
    EXPECT_STREQ(fields[ORSA_CPROF_PROTOCOL], "NIC+RoCE");
    EXPECT_STREQ(fields[ORSA_CPROF_PROFILE_ID], "4");
}

TEST_F(ProfileStoreHost, ConfiguredProfileRunsAfterTheAdaptersReset)
{
    select(2, false);  // NIC and iSCSI configured, NIC running
    begin();
    HmNode *active = group(vsk, "ProfileManagement/ActiveProfile");
    HmNode *configured = group(vsk, "ProfileManagement/ConfiguredProfile");
    EXPECT_EQ(cached(configured, "ProfileId"), "2");
    EXPECT_EQ(functions(group(configured, "Port1"), "State"),
              std::vector<std::string>({"NIC 0x1 " + mac(1) + " Enabled", "iSCSI 0x3 " + mac(3) + " Enabled"}));
    EXPECT_EQ(functions(group(active, "Port1")), std::vector<std::string>({"NIC 0x1 " + mac(1), "None 0x3 " + mac(3)}));
    EXPECT_NE(file().find(lines({"2,None,0x3,iSCSI,Disabled"})), std::string::npos) << file();

    OrsaPort at = orsa_controller_port(vsk);
    u32 count = 9, fns[8], types[8];
    ASSERT_EQ(ORSA_get_storage_functions(at, 0, 0, vsk, &count, fns, types, 8, 0), 0u);
    EXPECT_EQ(count, 0u) << "no storage function runs yet";

    host_->rebootAdapter(1);
    purge_nodes_within(active, "Port");
    ASSERT_EQ(ORSA_get_active_profiles(vsk), 0u);
    EXPECT_EQ(cached(active, "ProfileId"), "2");
    EXPECT_EQ(functions(group(active, "Port1")), std::vector<std::string>({"NIC 0x1 " + mac(1), "iSCSI 0x3 " + mac(3)}));
    ASSERT_EQ(ORSA_get_storage_functions(at, 0, 0, vsk, &count, fns, types, 8, 0), 0u);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(std::vector<u32>(fns, fns + 2), std::vector<u32>({2, 3}));
    EXPECT_EQ(std::vector<u32>(types, types + 2), std::vector<u32>({2, 2}));
}
