// The staged configured-profile choices of a Veskarn controller (profile
// id, multichannel type of a port, protocol of a function) in
// config_prof.txt, and what the controller's profile management answers.
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "config/cfg_profile_tree.h"
#include "iscsi/iscsi_persist.h"
#include "mc_fixture.h"

namespace {

std::string read_file(const char *path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return in ? s.str() : std::string("<none>");
}

class Staged : public McHost {
protected:
    void SetUp() override
    {
        McHost::SetUp();
        configured = group(vsk, "ProfileManagement/ConfiguredProfile");
        ASSERT_NE(configured, nullptr);
        ASSERT_EQ(orsa_cprof_identity(vsk, serial, bus), 0u);
        purge_nodes_within(configured, "Port");
        unlink(ORSA_CONFIG_PROF_FILE);
        answer(167, std::vector<u8>{7, 0, 9, 0});
        answer(94, std::vector<u8>{0, 0, 0, 0});
        answer(164, profile());
        ASSERT_EQ(ORSA_get_configured_profiles(vsk), 0u);
        port0 = group(configured, "Port0");
        ASSERT_NE(port0, nullptr);
        f0 = get_first_instance(port0, "Function");
        f1 = f0 != nullptr ? hm_next_instance(f0) : nullptr;
        ASSERT_TRUE(f0 && f1);
        ASSERT_EQ(cached(f1, "FunctionNumber"), "0x1");
    }
    void TearDown() override
    {
        unlink(ORSA_CONFIG_PROF_FILE);
        McHost::TearDown();
    }
    // Port 0 (UMC) with function 0 (NIC and RoCE offered) and function 1
    // (NIC only); port 1 allows six functions.
    static ProfileImage profile()
    {
        ProfileImage img;
        img.port(0, 2, {8, 0, 8, 0, 0, 0});
        img.port(1, 2, {6, 0, 6, 0, 0, 0});
        img.pcie(0, 1, 0x1 | 0x8, 1);
        img.function(ORSA_RES_NIC_FUNCTION, 0, 0);
        img.pcie(1, 1, 0x1, 1);
        img.function(ORSA_RES_NIC_FUNCTION, 1, 0);
        return img;
    }
    std::string line(const std::string &rest) const { return std::string(serial) + "," + bus + "," + rest + "\n"; }

    HmNode *configured = nullptr, *port0 = nullptr, *f0 = nullptr, *f1 = nullptr;
    char serial[256] = "", bus[256] = "";
};

TEST_F(Staged, ProtocolTakesOnlyWhatTheFunctionOffers)
{
    const std::string before = read_file(ORSA_CONFIG_PROF_FILE);
    ASSERT_EQ(before, line("9,UMC,0x0,NIC,N/A") + line("9,UMC,0x1,NIC,N/A"));
    struct Case {
        HmNode **function;
        const char *value;
        const char *staged;  // nullptr: refused with 17, nothing staged
    } cases[] = {
        {&f1, "NIC,FCoE", nullptr},  // would add a field to the line
        {&f1, "NIC\nx", nullptr},     // would split the line
        {&f1, "FCoE", nullptr},       // not offered
        {&f1, "RoCE", nullptr},
        {&f1, "NIC+RoCE", nullptr},
        {&f1, "nic", "NIC"},
        {&f0, "NIC+RoCE", "NIC+RoCE"},
        {&f0, "RoCE", "RoCE"},
        {&f0, "None", "NIC"},  // function 0 cannot be switched off
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        std::string file = read_file(ORSA_CONFIG_PROF_FILE);
        u32 rc = set(*c.function, "Protocol", c.value);
        if (c.staged == nullptr) {
            EXPECT_NE(rc, 0u);
            EXPECT_EQ(last_code(), 17u);
            EXPECT_EQ(read_file(ORSA_CONFIG_PROF_FILE), file);
            continue;
        }
        EXPECT_EQ(rc, 0u);
        EXPECT_EQ(cached(*c.function, "Protocol"), c.staged);
        EXPECT_EQ(get(*c.function, "Protocol"), c.staged);
    }
    EXPECT_EQ(read_file(ORSA_CONFIG_PROF_FILE), line("9,UMC,0x0,NIC,N/A") + line("9,UMC,0x1,NIC,N/A"));
}

TEST_F(Staged, McTypeIsStagedForEveryFunctionOfThePort)
{
    capabilities(0x200 | 0x8);  // HPUMC and NPAR
    u32 rc = set(port0, "MCType", "UMC");
    EXPECT_NE(rc, 0u) << "UMC is no entry of \"NPAR,HPUMC\"";
    EXPECT_EQ(last_code(), 294u);
    EXPECT_NE(set(port0, "MCType", "HPFlex"), 0u);
    EXPECT_EQ(last_code(), 294u);
    ASSERT_EQ(set(port0, "MCType", "HPUMC"), 0u);
    EXPECT_EQ(read_file(ORSA_CONFIG_PROF_FILE), line("9,HPUMC,0x0,NIC,N/A") + line("9,HPUMC,0x1,NIC,N/A"));
    EXPECT_EQ(get(port0, "MCType"), "HPUMC");

    // The port's configured type as the Veskarn channel handlers see it.
    char active[HM_VALUE_SIZE], conf[HM_VALUE_SIZE], reboot[HM_VALUE_SIZE];
    HmNode *pg = port_group(vsk, "0");
    ASSERT_NE(pg, nullptr);
    ASSERT_EQ(ORSA_get_vkh_mc_type(vsk, pg, active, conf, reboot), 0u);
    EXPECT_STREQ(conf, "HPUMC");

    ASSERT_EQ(set(port0, "MCType", "None"), 0u);
    EXPECT_EQ(read_file(ORSA_CONFIG_PROF_FILE), line("9,None,0x0,NIC,N/A") + line("9,None,0x1,NIC,N/A"));
}

TEST_F(Staged, ProfileIdAndMaximumFunctions)
{
    ASSERT_EQ(set(configured, "ProfileId", "5"), 0u);
    EXPECT_EQ(read_file(ORSA_CONFIG_PROF_FILE), line("5,UMC,0x0,NIC,N/A") + line("5,UMC,0x1,NIC,N/A"));
    EXPECT_EQ(get(configured, "ProfileId"), "5");
    EXPECT_EQ(get(group(vsk, "ProfileManagement"), "MaxFunctionsPerPort"), "6") << "the last port record";

    // KS3 stages nothing: a read shows N/A, a write is refused.
    HmNode *ks3_configured = group(ks3, "ProfileManagement/ConfiguredProfile");
    ASSERT_NE(ks3_configured, nullptr);
    EXPECT_EQ(get(ks3_configured, "ProfileId"), "N/A");
    EXPECT_NE(set(ks3_configured, "ProfileId", "3"), 0u);
    EXPECT_EQ(last_code(), 259u);
    EXPECT_EQ(get(group(ks3, "ProfileManagement"), "MaxFunctionsPerPort"), "N/A");
}

}  // namespace
