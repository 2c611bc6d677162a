// The profile and link configuration groups of a Veskarn controller made
// from replies written by hand, and the configured profile's functions
// staged in config_prof.txt.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "backend/orsa_propertyutil.h"
#include "config/cfg_profile_tree.h"
#include "iscsi/iscsi_persist.h"
#include "profile_fixture.h"
#include "schema/builders.h"
#include "tree/hm_lookup.h"
#include "tree/hm_status.h"

namespace {

std::vector<u8> ids(u16 active, u16 next)
{
    return {(u8)active, (u8)(active >> 8), (u8)next, (u8)(next >> 8)};
}

std::vector<u8> ari(u8 active_max)
{
    return {0, 0, active_max, 0};
}

std::string read_file(const char *path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return in ? s.str() : std::string("<none>");
}

void write_file(const char *path, const std::string &text)
{
    std::ofstream(path, std::ios::trunc) << text;
}

// Whether a descriptor of this process still refers to path.
bool held_open(const char *path)
{
    DIR *d = opendir("/proc/self/fd");
    if (d == nullptr)
        return false;
    bool held = false;
    while (dirent *e = readdir(d)) {
        char link[300], target[512] = "";
        snprintf(link, sizeof link, "/proc/self/fd/%s", e->d_name);
        ssize_t n = readlink(link, target, sizeof target - 1);
        if (n > 0) {
            target[n] = '\0';
            held |= strstr(target, path) != nullptr;
        }
    }
    closedir(d);
    return held;
}

class ProfileTree : public ProfileHost {
protected:
    void SetUp() override
    {
        ProfileHost::SetUp();
        mgmt = group(vsk, "ProfileManagement");
        active = group(vsk, "ProfileManagement/ActiveProfile");
        configured = group(vsk, "ProfileManagement/ConfiguredProfile");
        links = group(vsk, "LinkReconfiguration");
        ASSERT_TRUE(mgmt && active && configured && links);
        ASSERT_EQ(orsa_cprof_identity(vsk, serial, bus), 0u);
        // Start-up made the groups of the adapter's own profiles: these tests
        // answer the commands themselves.
        reset();
        purge_nodes_within(mgmt, "Profile");
        purge_nodes_within(links, "LinkConfig");
        unlink(ORSA_CONFIG_PROF_FILE);
        answer(167, ids(7, 9));
        answer(94, ari(0));
    }
    void TearDown() override
    {
        unlink(ORSA_CONFIG_PROF_FILE);
        ProfileHost::TearDown();
    }
    void reset()
    {
        purge_nodes_within(active, "Port");
        purge_nodes_within(configured, "Port");
    }
    // "Protocol FunctionNumber MACAddress [SRIOVState State]" of each function.
    static std::vector<std::string> functions(HmNode *port, bool configured_kind = false)
    {
        std::vector<std::string> out;
        for (HmNode *f = port != nullptr ? get_first_instance(port, "Function") : nullptr; f != nullptr;
             f = hm_next_instance(f)) {
            std::string s = cached(f, "Protocol") + " " + cached(f, "FunctionNumber") + " " + cached(f, "MACAddress");
            if (configured_kind)
                s += " " + cached(f, "SRIOVState") + " " + cached(f, "State");
            out.push_back(s);
        }
        return out;
    }
    std::string line(const char *rest) const { return std::string(serial) + "," + bus + "," + rest + "\n"; }

    HmNode *mgmt = nullptr, *active = nullptr, *configured = nullptr, *links = nullptr;
    char serial[256] = "", bus[256] = "";
};

// Port 0 (UMC) without functions of its own, port 1 (type 9) with five.
ProfileImage two_port_profile()
{
    ProfileImage img;
    img.port(0, 2, {8, 2, 6, 1, 2, 1});
    img.port(1, 9, {8, 0x102, 0x121, 1, 3, 4});
    img.pcie(0, 1, 0, 1, 0, 0x10);
    img.function(ORSA_RES_NIC_FUNCTION, 0, 1);
    img.pcie(1, 1, 2, 2, 1, 0x00);  // sriov 1 but not marked changed
    img.function(ORSA_RES_ISCSI_FUNCTION, 1, 1);
    img.pcie(2, 0, 4, 4, 1, 0x10);
    img.function(ORSA_RES_FCOE_FUNCTION, 2, 1);
    img.pcie(3, 1, 0, 1, 7, 0x10);
    img.function(ORSA_RES_NIC_FUNCTION, 3, 1);
    img.roce(3);
    img.pcie(4, 1, 0, 1);
    img.function(ORSA_RES_NIC_FUNCTION, 4, 1, true);
    return img;
}

}  // namespace

TEST_F(ProfileTree, ActiveProfilePortsFunctionsAndCounts)
{
    reset();
    answer(164, two_port_profile());
    ASSERT_EQ(ORSA_get_active_profiles(vsk), 0u);
    EXPECT_EQ(cached(active, "ProfileId"), "7");
    HmNode *p0 = group(active, "Port0"), *p1 = group(active, "Port1");
    ASSERT_TRUE(p0 && p1);
    EXPECT_TRUE(functions(p0).empty()) << "every function sits on port 1";
    EXPECT_EQ(cached(p0, "MCType"), "UMC");
    EXPECT_EQ(cached(p1, "MCType"), "None") << "type 9 has no text: the default stays";
    EXPECT_EQ(functions(p1), std::vector<std::string>({"NIC 0x0 02-00-00-00-01-00", "iSCSI 0x1 02-00-00-00-01-01",
                                                       "None 0x2 02-00-00-00-01-02",
                                                       "NIC+RoCE 0x3 02-00-00-00-01-03"}));
    struct Count {
        const char *name, *value;
    } counts[] = {{"MaxStoragePFCount", "258"}, {"MaxNICPFCount", "289"}, {"MaxRoCEPFCount", "1"},
                  {"MaxiSCSIPFCount", "3"},     {"MaxFCoEPFCount", "4"}};
    for (const Count &c : counts)
        EXPECT_EQ(cached(p1, c.name), c.value) << c.name << ": 12-bit counts";
}

TEST_F(ProfileTree, ActiveWalkEndsAtTheMaximumsAndPlacesLoneRoce)
{
    struct Case {
        u32 max_pf_count;
        u8 max_pf_id;
        size_t functions;
    } cases[] = {{8, 0, 4}, {2, 0, 2}, {1, 0, 1}, {8, 1, 2}, {8, 2, 3}, {0, 0, 0}};
    for (const Case &c : cases) {
        reset();
        ProfileImage img = two_port_profile();
        img.bytes[4 + 88 + 12] = (u8)c.max_pf_count;  // the last port record's count stands
        answer(164, img);
        answer(94, ari(c.max_pf_id));
        ASSERT_EQ(ORSA_get_active_profiles(vsk), 0u);
        EXPECT_EQ(functions(group(active, "Port1")).size(), c.functions)
            << "max PF count " << c.max_pf_count << ", max PF id " << (int)c.max_pf_id;
    }
    reset();
    answer(94, ari(0));
    ProfileImage lone;
    lone.port(1, 2);
    lone.roce(6);  // before any function record: no port to belong to
    lone.pcie(5, 1);
    lone.function(ORSA_RES_NIC_FUNCTION, 5, 1, true);
    lone.roce(5);
    lone.function(ORSA_RES_NIC_FUNCTION, 8, 0);
    lone.roce(8);  // on another port
    answer(164, lone);
    ASSERT_EQ(ORSA_get_active_profiles(vsk), 0u);
    EXPECT_EQ(functions(group(active, "Port0")), std::vector<std::string>({"RoCE 0x5 00:00:00:00:00:00"}))
        << "a RoCE function on a port without functions; no MAC address to copy";
}

TEST_F(ProfileTree, ConfiguredProfileStatesAndOneLinePerFunction)
{
    reset();
    write_file(ORSA_CONFIG_PROF_FILE, "OTHER0001,9,3,UFP,0x0,NIC,Enabled\n" + line("1,UMC,0x7,iSCSI,N/A") +
                                          "OTHER0001,9,3,UFP,0x1,FCoE,Disabled\n");
    answer(164, two_port_profile());
    ASSERT_EQ(ORSA_get_configured_profiles(vsk), 0u);
    EXPECT_EQ(cached(configured, "ProfileId"), "9");
    EXPECT_TRUE(functions(group(configured, "Port0")).empty());
    EXPECT_EQ(functions(group(configured, "Port1"), true),
              std::vector<std::string>({"NIC 0x0 02-00-00-00-01-00 Disabled Enabled",
                                        "iSCSI 0x1 02-00-00-00-01-01 N/A Enabled",
                                        "FCoE 0x2 02-00-00-00-01-02 Enabled Disabled",
                                        "NIC+RoCE 0x3 02-00-00-00-01-03 N/A Enabled"}));
    EXPECT_EQ(read_file(ORSA_CONFIG_PROF_FILE),
              "OTHER0001,9,3,UFP,0x0,NIC,Enabled\nOTHER0001,9,3,UFP,0x1,FCoE,Disabled\n" +
                  line("9,None,0x0,NIC,Disabled") + line("9,None,0x1,iSCSI,N/A") + line("9,None,0x2,FCoE,Enabled") +
                  line("9,None,0x3,NIC+RoCE,N/A"));
    struct stat st{};
    ASSERT_EQ(stat(ORSA_CONFIG_PROF_FILE, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_NE(access(ORSA_TEMP_CPROF_FILE, F_OK), 0) << "the staging file was moved into place";

    // Built again, the file holds the same lines: none doubles.
    std::string before = read_file(ORSA_CONFIG_PROF_FILE);
    reset();
    ASSERT_EQ(ORSA_get_configured_profiles(vsk), 0u);
    EXPECT_EQ(read_file(ORSA_CONFIG_PROF_FILE), before);
}

TEST_F(ProfileTree, ConfiguredWalkOverZeroLengthAndOverlongCount)
{
    struct Case {
        const char *name;
        ProfileImage img;
        std::string lines;
    };
    ProfileImage zero;
    zero.port(0, 5);
    zero.pcie(0, 1);
    zero.function(ORSA_RES_NIC_FUNCTION, 0, 0);
    zero.add(ORSA_RES_NIC_FUNCTION, 0);
    zero.function(ORSA_RES_NIC_FUNCTION, 1, 0);
    ProfileImage full;
    full.port(0, 5, {64, 0, 64, 0, 0, 0});
    for (u32 i = 0; full.end + 2 * ORSA_RES_DESC_LEN <= full.bytes.size() && i < 40; i++) {
        full.pcie(i, 1);
        full.function(ORSA_RES_NIC_FUNCTION, i, 0);
    }
    while (full.end + ORSA_RES_DESC_LEN <= full.bytes.size())
        full.pcie(1000, 1);
    full.count(0xFFFF);
    std::string full_lines;
    for (u32 i = 0; i < 40; i++)
        full_lines += line(("9,NPAR," + [&] {
                                char b[8];
                                snprintf(b, sizeof b, "0x%x", i);
                                return std::string(b);
                            }() + ",NIC,N/A").c_str());
    Case cases[] = {
        {"zero length", zero, line("9,NPAR,0x0,NIC,N/A")},
        {"count past the buffer", full, full_lines},
    };
    for (Case &c : cases) {
        reset();
        unlink(ORSA_CONFIG_PROF_FILE);
        answer(164, c.img);
        EXPECT_EQ(ORSA_get_configured_profiles(vsk), 0u) << c.name;
        EXPECT_EQ(read_file(ORSA_CONFIG_PROF_FILE), c.lines) << c.name;
    }
}

TEST_F(ProfileTree, FailedReadsSetTheirStatusAndReleaseTheStagingFile)
{
    reset();
    write_file(ORSA_CONFIG_PROF_FILE, line("9,UMC,0x0,NIC,N/A"));
    FILE *probe = fopen(ORSA_CONFIG_PROF_FILE, "r");
    ASSERT_TRUE(probe != nullptr && held_open(ORSA_CONFIG_PROF_FILE)) << "open descriptors can be seen";
    fclose(probe);
    // The walk reads the profile, then the port's maximum PF count fails.
    answer(164, std::vector<CannedReply>{CannedReply{two_port_profile().bytes, 0, 0}, CannedReply{{}, 2, 99}});
    EXPECT_EQ(ORSA_get_configured_profiles(vsk), 1u);
    EXPECT_FALSE(held_open(ORSA_TEMP_CPROF_FILE)) << "the staging file was left open (and locked)";
    EXPECT_NE(access(ORSA_TEMP_CPROF_FILE, F_OK), 0);
    EXPECT_EQ(read_file(ORSA_CONFIG_PROF_FILE).find(serial), std::string::npos)
        << "no half-made lines of this adapter";
    answer(164, two_port_profile());
    reset();
    EXPECT_EQ(ORSA_get_configured_profiles(vsk), 0u) << "the staging file can be taken again";

    struct Case {
        const char *name;
        u8 opcode;
        u32 (*fill)(HmNode *);
        u32 status;
    } cases[] = {
        {"profile list", 166, ORSA_list_available_profiles, 275},
        {"active ids", 167, ORSA_get_active_profiles, 277},
        {"configured ids", 167, ORSA_get_configured_profiles, 277},
        {"active profile", 164, ORSA_get_active_profiles, 278},
        {"link configurations", 201, [](HmNode *ks) { return ORSA_get_link_reconfig_details(ks, 0); }, 332},
    };
    for (const Case &c : cases) {
        reset();
        answer(167, ids(7, 9));
        answer(164, two_port_profile());
        fail(c.opcode);
        orsa_reset_last_status();
        EXPECT_EQ(c.fill(vsk), 1u) << c.name;
        EXPECT_EQ(last_code(), c.status) << c.name;
    }
    for (u32 (*fill)(HmNode *) : {ORSA_list_available_profiles, ORSA_get_active_profiles,
                                  ORSA_get_configured_profiles}) {
        orsa_reset_last_status();
        EXPECT_EQ(fill(ks3), 1u);
        EXPECT_EQ(fill(nullptr), 1u);
        EXPECT_EQ(last_code(), 0u) << "a KS3 keeps no profiles: no status";
    }
}

TEST_F(ProfileTree, OfferedProfilesAndTheirProtocols)
{
    std::vector<u8> list(ORSA_PROFILE_LIST_SIZE, 0);
    auto *pl = (ProfileList *)list.data();
    const char *names[] = {"NIC only", "NIC and RoCE", "Storage"};
    for (int i = 0; i < 3; i++) {
        pl->descriptors[i].profile_id = (u8)(10 + i);
        snprintf(pl->descriptors[i].profile_description_string, 512, "%s", names[i]);
    }
    pl->profile_descriptor_count = 3;
    answer(166, list);
    ProfileImage img;
    img.port(0, 2, {8, 0, 4, 2, 1, 0});
    img.port(1, 2, {8, 0, 0x105, 2, 1, 3});
    answer(164, img);
    std::vector<u8> cap(ORSA_PROFILE_CAP_SIZE, 0);
    const u8 descs[][2] = {{144, 12}, {145, 8}, {146, 8}, {148, 8}, {147, 8}};
    size_t at = 4;
    for (const auto &d : descs) {
        cap[at] = d[0];
        cap[at + 1] = d[1];
        at += d[1];
    }
    cap[0] = 5;
    answer(161, cap);
    ASSERT_EQ(ORSA_list_available_profiles(vsk), 0u);
    ASSERT_EQ(instances(mgmt, "Profile"), 3);
    HmNode *p1 = group(mgmt, "Profile1");
    EXPECT_EQ(cached(p1, "ProfileId"), "11");
    EXPECT_EQ(cached(p1, "ProfileDescription"), "NIC and RoCE");
    std::vector<std::string> protocols;
    for (HmNode *p = get_first_instance(p1, "Protocol"); p != nullptr; p = hm_next_instance(p))
        protocols.push_back(cached(p, "ProtocolName") + " " + cached(p, "FunctionCount"));
    EXPECT_EQ(protocols, std::vector<std::string>({"NIC+RoCE 265", "iSCSI 2", "FCoE 3"}));

    // A RoCE capability first makes a protocol of its own; a zero-length
    // descriptor ends the walk.
    purge_nodes_within(mgmt, "Profile");
    cap.assign(cap.size(), 0);
    cap[0] = 200;
    cap[4] = 148, cap[5] = 8, cap[12] = 145, cap[13] = 0;
    answer(161, cap);
    ASSERT_EQ(ORSA_list_available_profiles(vsk), 0u);
    HmNode *p0 = group(mgmt, "Profile0");
    ASSERT_EQ(instances(p0, "Protocol"), 1);
    EXPECT_EQ(cached(group(p0, "Protocol0"), "ProtocolName"), "RoCE");
    EXPECT_EQ(cached(group(p0, "Protocol0"), "FunctionCount"), "4");

    // The list claims more descriptors than its buffer holds: 101 are read,
    // of which the controller takes 100.
    purge_nodes_within(mgmt, "Profile");
    pl->profile_descriptor_count = 5000;
    answer(166, list);
    EXPECT_EQ(ORSA_list_available_profiles(vsk), 1u);
    EXPECT_EQ(instances(mgmt, "Profile"), 100);
    purge_nodes_within(mgmt, "Profile");
}

TEST_F(ProfileTree, LinkConfigurations)
{
    std::vector<u8> info(ORSA_LINK_RECONFIG_SIZE, 0);
    auto *li = (LinkReconfigInfo *)info.data();
    li->active_link_config_id = 0;
    li->next_link_config_id = 3;
    li->link_config_descriptor_count = 2;
    li->descriptors[0].link_config_id = 1;
    snprintf(li->descriptors[0].link_config_desc_string, 32, "4x10G");
    li->descriptors[1].link_config_id = 3;
    memset(li->descriptors[1].link_config_desc_string, 'A', 32);  // no end of text
    answer(201, info);
    purge_nodes_within(links, "LinkConfig");
    ASSERT_EQ(ORSA_get_link_reconfig_details(vsk, 1), 0u);
    EXPECT_EQ(cached(links, "ActiveLinkConfigID"), "N/A");
    EXPECT_EQ(cached(links, "ConfiguredLinkConfigID"), "3");
    EXPECT_EQ(instances(links, "LinkConfig"), 0) << "ids only";
    ASSERT_EQ(ORSA_get_link_reconfig_details(vsk, 0), 0u);
    ASSERT_EQ(instances(links, "LinkConfig"), 2);
    EXPECT_EQ(cached(group(links, "LinkConfig0"), "LinkConfigDescription"), "4x10G");
    EXPECT_EQ(cached(group(links, "LinkConfig1"), "LinkConfigID"), "3");
    EXPECT_EQ(cached(group(links, "LinkConfig1"), "LinkConfigDescription"), std::string(32, 'A'));

    purge_nodes_within(links, "LinkConfig");
    li->link_config_descriptor_count = 1000;
    answer(201, info);
    EXPECT_EQ(ORSA_get_link_reconfig_details(vsk, 0), 1u) << "33 descriptors read, 32 groups fit";
    EXPECT_EQ(instances(links, "LinkConfig"), 32);
    purge_nodes_within(links, "LinkConfig");

    EXPECT_EQ(ORSA_get_link_reconfig_details(ks3, 0), 1u);
    EXPECT_EQ(cached(group(ks3, "LinkReconfiguration"), "ActiveLinkConfigID"), "N/A");
}

TEST_F(ProfileTree, ConfigProfLookUpRewriteAndRemoval)
{
    char fields[ORSA_CPROF_FIELDS][256];
    EXPECT_EQ(ORSA_get_config_prof_prop(vsk, nullptr, fields, 0), 1u) << "no file";
    EXPECT_EQ(ORSA_set_config_prof_prop(vsk, "0x1", "Enabled", 1, 6), 1u) << "no file";

    const std::string other = "OTHER0001,9,3,UFP,0x1,NIC,Enabled\n";
    write_file(ORSA_CONFIG_PROF_FILE, other + line("4,UMC,0x1,NIC,Disabled") + line("4,UMC,0x2,iSCSI,N/A") +
                                          line("4,UMC,0x1,NIC+RoCE,Disabled"));
    struct Look {
        const char *function;
        u32 by_function;
        u32 rc;
        const char *protocol;
    } looks[] = {
        {nullptr, 0, 0, "NIC"},  // the adapter's first line
        {"0x1", 1, 0, "NIC+RoCE"},
        {"0X2", 1, 0, "iSCSI"},
        {"0x9", 1, 1, "untouched"},  // nothing matches: non-zero, fields left alone
    };
    for (const Look &l : looks) {
        for (auto &f : fields)
            snprintf(f, 256, "untouched");
        EXPECT_EQ(ORSA_get_config_prof_prop(vsk, l.function, fields, l.by_function), l.rc)
            << (l.function ? l.function : "adapter");
        EXPECT_STREQ(fields[ORSA_CPROF_PROTOCOL], l.protocol) << (l.function ? l.function : "adapter");
    }

    EXPECT_EQ(ORSA_set_config_prof_prop(vsk, "0x1", "Enabled", 1, ORSA_CPROF_SRIOV), 0u);
    EXPECT_EQ(ORSA_set_config_prof_prop(vsk, nullptr, "vNIC2", 0, ORSA_CPROF_MC_TYPE), 0u);
    EXPECT_EQ(ORSA_set_config_prof_prop(vsk, "0x2", std::string(50, 'x').c_str(), 1, ORSA_CPROF_PROTOCOL), 0u);
    EXPECT_EQ(ORSA_set_config_prof_prop(vsk, "0x2", "ignored", 1, 7), 0u);
    EXPECT_EQ(read_file(ORSA_CONFIG_PROF_FILE), other + line("4,vNIC2,0x1,NIC,Enabled") +
                                                    line(("4,vNIC2,0x2," + std::string(34, 'x') + ",N/A").c_str()) +
                                                    line("4,vNIC2,0x1,NIC+RoCE,Enabled"));
    struct stat st{};
    ASSERT_EQ(stat(ORSA_CONFIG_PROF_FILE, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    EXPECT_EQ(ORSA_delete_cfg_prof_from_file(serial, bus), 0u);
    EXPECT_EQ(read_file(ORSA_CONFIG_PROF_FILE), other);
    EXPECT_EQ(ORSA_get_config_prof_prop(vsk, nullptr, fields, 0), 1u);
}

TEST(ConfigProfLines, CompareModesAndFileData)
{
    char f[ORSA_CPROF_FIELDS][ORSA_CPROF_FIELD_SIZE];
    struct Case {
        const char *line, *function;
        u32 mode, rc;
        const char *field4;
    } cases[] = {
        {"SN1,5,3,UMC,0x2,NIC,N/A", "0x2", 1, 0, "0x2"},
        {"sn1,5,3,UMC,0X2,NIC,N/A", "0x2", 1, 0, "0X2"},
        {"SN1,5,3,UMC,0x3,NIC,N/A", "0x2", 1, 1, "0x3"},
        {"SN1,5,3,UMC,0x3,NIC,N/A", "0x2", 0, 0, "0x3"},
        {"SN1,6,3,UMC,0x2,NIC,N/A", "0x2", 0, 1, "0x2"},
        {"SN1,5", nullptr, 0, 0, ""},
        {"SN1", nullptr, 0, 1, ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ORSA_compare_cprofile_data(c.line, "SN1", "5", c.function, f, c.mode), c.rc) << c.line;
        EXPECT_STREQ(f[ORSA_CPROF_FUNCTION], c.field4) << c.line;
    }
    ORSA_compare_cprofile_data((std::string(40, 'S') + ",5").c_str(), "SN1", "5", nullptr, f, 0);
    EXPECT_EQ(strlen(f[0]), 34u) << "a field keeps at most 34 characters";

    FILE *fp = tmpfile();
    ASSERT_NE(fp, nullptr);
    u32 size = 9, lines = 9;
    EXPECT_EQ(ORSA_get_file_data(fp, &size, &lines), nullptr) << "empty file";
    EXPECT_EQ(ORSA_get_file_data(nullptr, &size, &lines), nullptr);
    fputs("a,b\nc,d\ne", fp);
    char *text = ORSA_get_file_data(fp, &size, &lines);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "a,b\nc,d\ne");
    EXPECT_EQ(size, 9u);
    EXPECT_EQ(lines, 2u);
    EXPECT_EQ(ftell(fp), 0) << "rewound";
    orsa_dfree(text);
    fclose(fp);
}
