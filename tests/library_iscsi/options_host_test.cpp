// The login-options groups as a client meets them through the tree API over
// the emulated host: a KS3 with one iSCSI function. They send the adapter
// nothing; a change reaches the persistence file, a refusal changes neither
// the adapter nor the files, and what was set shows again after the library
// is started anew (the groups of targets and send-target portals made again
// as the start-up restore makes them).
#include <functional>
#include <string>

#include "host_fixture.h"
#include "iscsi/iscsi_loginopts.h"
#include "iscsi/iscsi_persist.h"
#include "schema/builders.h"
#include "iscsi_tree.h"

namespace {

std::string lines(const std::vector<std::string> &ls)
{
    std::string s;
    for (const std::string &l : ls)
        s += l + "\n";
    return s;
}

class OptionsHost : public DiscoveryHost {
protected:
    void SetUp() override
    {
        ASSERT_EQ(system("rm -rf /scratch/ferrosul/orsa/*.txt && mkdir -p /scratch/ferrosul/orsa"), 0);
        chardev::HostSpec spec;
        spec.adapters = {adapterSpec(adapter::Gen::KS3, 3, "KS3EMU0000C1", {iscsiFn(0, "vmhba33", 0), nicFn(1, "vmnic0")})};
        make(spec);
    }
    void TearDown() override
    {
        DiscoveryHost::TearDown();
        EXPECT_EQ(system("rm -rf /scratch/ferrosul/orsa/*.txt"), 0);
    }
    void Restart()
    {
        ASSERT_EQ(ORSA_exit(), 0u);
        started_ = false;
        ASSERT_EQ(start(), 0u);
    }
    HmNode *Lhba() { return group(ctrl(0), "iSCSIPhysicalHBA0/LogicalHBA0"); }
    // What the adapter was asked since the log was cleared.
    size_t Commands() const { return host_->log().size(); }

    HmNode *MakeTarget(const char *name, const char *ip, const char *port)
    {
        HmNode *t = initialize_Target(Lhba(), nullptr, nullptr, nullptr);
        EXPECT_NE(t, nullptr);
        set_prop_val(t, "TargetISCSIName", "%s", name);
        HmNode *p = initialize_TargetPortal(t, nullptr, nullptr, nullptr);
        EXPECT_NE(p, nullptr);
        set_prop_val(p, "TargetIPAddress", "%s", ip);
        set_prop_val(p, "TargetPortNumber", "%s", port);
        return t;
    }
    HmNode *MakeStp(const char *ip, const char *port)
    {
        HmNode *s = initialize_SendTargetPortal(group(Lhba(), "Discovery"), nullptr, nullptr, nullptr);
        EXPECT_NE(s, nullptr);
        set_prop_val(s, "IPAddress", "%s", ip);
        set_prop_val(s, "PortNumber", "%s", port);
        return s;
    }
};

TEST_F(OptionsHost, InitiatorOptionsPersistAndRefusalsChangeNothing)
{
    write_file(ORSA_LOGOPTS_FILE, lines({logopts_line(kKey0)}));
    ASSERT_EQ(start(), 0u);
    HmNode *opts = group(Lhba(), "InitiatorLoginOptions");
    ASSERT_NE(opts, nullptr);
    EXPECT_EQ(get(opts, "HeaderDigest"), "None");
    host_->clearLog();

    struct Step {
        const char *property, *value;
        u32 rc, status;
    } steps[] = {
        {"HeaderParam", "Preferred", 193, 193},
        {"DataParam", "Preferred", 193, 193},
        {"InitialR2T", "No", 1, 10},
        {"HeaderDigest", "MD5", 1, 6},
        {"HeaderDigest", "CRC32C", 0, 0},
        {"HeaderParam", "Preferred", 0, 0},
        {"HeaderDigest", "None", 194, 194},
        {"ImmediateData", "No", 0, 0},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(std::string(s.property) + "=" + s.value);
        const std::string before = read_file(ORSA_LOGOPTS_FILE);
        EXPECT_EQ(set(opts, s.property, s.value), s.rc);
        EXPECT_EQ(last_code(), s.status);
        if (s.rc != 0) {
            EXPECT_EQ(read_file(ORSA_LOGOPTS_FILE), before);
        }
    }
    EXPECT_EQ(Commands(), 0u) << "login options are the library's own: the adapter is not asked";
    const std::string want = join({kKey0, "Yes", "No", "CRC32C", "None", "None", "", "", "", "", "Prohibited",
                                   "Preferred", "Prohibited"}) + "\n";
    EXPECT_EQ(read_file(ORSA_LOGOPTS_FILE), want);

    Restart();
    opts = group(Lhba(), "InitiatorLoginOptions");
    EXPECT_EQ(get(opts, "HeaderDigest"), "CRC32C");
    EXPECT_EQ(get(opts, "HeaderParam"), "Preferred");
    EXPECT_EQ(get(opts, "ImmediateData"), "No");
    EXPECT_EQ(read_file(ORSA_LOGOPTS_FILE), want);
}

TEST_F(OptionsHost, TargetAndPortalOptionsPersistAndRefusalsChangeNothing)
{
    const std::string persistent = tgt_line(kKey0, "iqn.t1", "10.1.2.3", "3260", "5");
    write_file(ORSA_SAVETGT_FILE, lines({tgt_line(kKey0, "iqn.t1", "10.1.2.3", "3260", "", "None", "False",
                                                  "Discovered"),
                                         persistent}));
    write_file(ORSA_SAVESTP_FILE, lines({stp_line(kKey0, "10.1.2.9", "3260")}));
    ASSERT_EQ(start(), 0u);
    HmNode *t = MakeTarget("iqn.t1", "10.1.2.3", "3260");
    HmNode *stp = MakeStp("10.1.2.9", "3260");
    HmNode *topts = group(t, "TargetLoginOptions"), *tauth = group(t, "TargetLoginOptions/Authentication");
    HmNode *sopts = group(stp, "SendTargetPortalLoginOptions");
    EXPECT_EQ(get(t, "TargetType"), "Discovered");
    EXPECT_EQ(get(topts, "DataDigest"), "None");
    host_->clearLog();

    EXPECT_EQ(set(topts, "DataDigest", "CRC32C"), 0u);
    EXPECT_EQ(set(topts, "DataParam", "Preferred"), 0u);
    EXPECT_EQ(set(sopts, "HeaderDigest", "CRC32C"), 0u);
    const std::string tgt_after = read_file(ORSA_SAVETGT_FILE), stp_after = read_file(ORSA_SAVESTP_FILE);
    EXPECT_NE(tgt_after.find(persistent), std::string::npos) << "a persistent login's line keeps its options";

    struct Refusal {
        const char *what;
        std::function<u32()> call;
        u32 rc, status;
    } refusals[] = {
        {"target digest back to None while Preferred", [&] { return set(topts, "DataDigest", "None"); }, 194, 194},
        {"portal level Preferred without digest", [&] { return set(sopts, "DataParam", "Preferred"); }, 193, 193},
        {"target CHAP name with a comma",
         [&] {
             char v[HM_VALUE_SIZE] = "user,1";
             return handle_target_loginopts(internal_get_node(tauth, "InitiatorCHAPName", HM_KIND_PROPERTY), v,
                                            HM_MODE_SET);
         },
         1, 6},
        {"target secret with a line break",
         [&] {
             char v[HM_VALUE_SIZE] = "secret123456\nKalderstone0";
             return handle_target_loginopts(internal_get_node(tauth, "TargetSecret", HM_KIND_PROPERTY), v,
                                            HM_MODE_SET);
         },
         1, 6},
        {"read-only Authentication value", [&] { return set(tauth, "TargetCHAPName", "x"); }, 1, 10},
    };
    for (const Refusal &r : refusals) {
        SCOPED_TRACE(r.what);
        orsa_reset_last_status();
        EXPECT_EQ(r.call(), r.rc);
        EXPECT_EQ(last_code(), r.status);
        EXPECT_EQ(read_file(ORSA_SAVETGT_FILE), tgt_after);
        EXPECT_EQ(read_file(ORSA_SAVESTP_FILE), stp_after);
    }
    char v[HM_VALUE_SIZE] = "user1";
    ASSERT_EQ(handle_target_loginopts(internal_get_node(tauth, "InitiatorCHAPName", HM_KIND_PROPERTY), v, HM_MODE_SET),
              0u);
    EXPECT_EQ(Commands(), 0u);

    Restart();
    t = MakeTarget("iqn.t1", "10.1.2.3", "3260");
    stp = MakeStp("10.1.2.9", "3260");
    EXPECT_EQ(get(group(t, "TargetLoginOptions"), "DataDigest"), "CRC32C");
    EXPECT_EQ(get(group(t, "TargetLoginOptions"), "DataParam"), "Preferred");
    EXPECT_EQ(get(group(t, "TargetLoginOptions/Authentication"), "InitiatorCHAPName"), "user1");
    EXPECT_EQ(get(t, "TargetType"), "Discovered");
    EXPECT_EQ(get(group(stp, "SendTargetPortalLoginOptions"), "HeaderDigest"), "CRC32C");
}

}  // namespace
