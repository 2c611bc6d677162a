// The operations on savetgt.txt, savestp.txt and intr_logopts.txt: appends,
// the duplicate test, removals, option rewrites and the syncs with the tree,
// over a subtree made by the schema's builders. Keys are whole fields: each
// table holds the rows that a substring match would get wrong.
#include <sys/wait.h>

#include <algorithm>
#include <cstring>

#include "iscsi_tree.h"
#include "iscsi/iscsi_loginopts.h"
#include "tree/hm_status.h"

namespace {

std::string lines(const std::vector<std::string> &ls)
{
    std::string s;
    for (const std::string &l : ls)
        s += l + "\n";
    return s;
}

class Files : public IscsiTree {};

TEST_F(Files, AddTargetWritesOneLineWithTheInitiatorsOptions)
{
    write_file(ORSA_LOGOPTS_FILE, lines({logopts_line(kKey0, "CRC32C", "Preferred")}));
    HmNode *t = Target(lhba_[0], "iqn.t1", {{"10.1.2.3", "3260"}});
    ASSERT_EQ(ORSA_add_target_into_file(lhba_[0], t, "iqn.t1", "10.1.2.3", "3260", nullptr, "True"), 0u);
    const std::string want = "Kalderstone0,iSCSIPhysicalHBA0,LogicalHBA0,iqn.t1,10.1.2.3,3260,,iqn.init,Yes,Yes,"
                             "CRC32C,None,None,,,,,Static,Prohibited,Preferred,Prohibited,True\n";
    EXPECT_EQ(read_file(ORSA_SAVETGT_FILE), want);
    EXPECT_EQ(Cached(Options(t, "TargetLoginOptions"), "HeaderDigest"), "CRC32C");
    EXPECT_EQ(Cached(Options(t, "TargetLoginOptions"), "HeaderParam"), "Preferred");
    EXPECT_EQ(Cached(Auth(t, "TargetLoginOptions"), "CHAPParam"), "Prohibited");
    struct stat st{};
    ASSERT_EQ(stat(ORSA_SAVETGT_FILE, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_FALSE(file_exists(ORSA_TEMP_TGT_FILE)) << "the staging file is not left behind";

    // The portal is there already, also when only a persistent line has it.
    write_file(ORSA_SAVETGT_FILE, lines({tgt_line(kKey0, "iqn.t1", "10.1.2.3", "3260", "5")}));
    EXPECT_EQ(ORSA_add_target_into_file(lhba_[0], t, "iqn.t1", "10.1.2.3", "3260", nullptr, "True"), 0u);
    EXPECT_EQ(read_file(ORSA_SAVETGT_FILE), lines({tgt_line(kKey0, "iqn.t1", "10.1.2.3", "3260", "5")}));
    // A port that merely begins another's is another portal.
    ASSERT_EQ(ORSA_add_target_into_file(lhba_[0], t, "iqn.t1", "10.1.2.3", "326", nullptr, "True"), 0u);
    EXPECT_NE(read_file(ORSA_SAVETGT_FILE).find("iqn.t1,10.1.2.3,326,,"), std::string::npos);
}

TEST_F(Files, PersistentLoginLineCarriesTheTargetsOptions)
{
    HmNode *t = Target(lhba_[0], "iqn.t1", {{"10.1.2.3", "3260"}});
    write_file(ORSA_SAVETGT_FILE, lines({tgt_line(kKey0, "iqn.t1", "10.1.2.3", "3260", "", "CRC32C", "True",
                                                  "Discovered")}));
    ASSERT_EQ(ORSA_update_tgt_entry(lhba_[0], t, "10.1.2.3", "3260", 5, "True"), 0u);
    ASSERT_EQ(ORSA_update_tgt_entry(lhba_[0], t, "10.1.2.3", "3260", 50, "True"), 0u);
    ASSERT_EQ(ORSA_update_tgt_entry(lhba_[0], t, "10.1.2.3", "3260", 5, "True"), 0u);  // there already
    EXPECT_EQ(read_file(ORSA_SAVETGT_FILE),
              lines({tgt_line(kKey0, "iqn.t1", "10.1.2.3", "3260", "", "CRC32C", "True", "Discovered"),
                     tgt_line(kKey0, "iqn.t1", "10.1.2.3", "3260", "5", "CRC32C", "True", "Discovered"),
                     tgt_line(kKey0, "iqn.t1", "10.1.2.3", "3260", "50", "CRC32C", "True", "Discovered")}));
}

TEST_F(Files, FailedAppendsAreReported)
{
    write_file(ORSA_LOGOPTS_FILE, lines({logopts_line(kKey0)}));
    HmNode *t = Target(lhba_[0], "iqn.t1", {{"10.1.2.3", "3260"}});
    struct Case {
        const char *what;
        const char *name;
        bool directory;  // savetgt.txt cannot be opened for appending
    } cases[] = {
        {"comma in the name", "iqn.a,b", false},
        {"line break in the name", "iqn.a\nb", false},
        {"no file to append to", "iqn.t1", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        unlink(ORSA_SAVETGT_FILE);
        rmdir(ORSA_SAVETGT_FILE);
        if (c.directory) {
            ASSERT_EQ(mkdir(ORSA_SAVETGT_FILE, 0755), 0);
        }
        orsa_reset_last_status();
        EXPECT_EQ(ORSA_add_target_into_file(lhba_[0], t, c.name, "10.1.2.3", "3260", nullptr, "True"), 1u);
        EXPECT_EQ(ORSA_update_tgt_entry(lhba_[0], t, "10.1.2.3", c.directory ? "3260" : "32,60", 5, "True"), 1u);
        if (!c.directory) {
            EXPECT_EQ(LastCode(), static_cast<u32>(ORSA_STATUS_INVALID_VALUE));
            EXPECT_FALSE(file_exists(ORSA_SAVETGT_FILE));
        }
        EXPECT_FALSE(file_exists(ORSA_TEMP_TGT_FILE));
    }
    rmdir(ORSA_SAVETGT_FILE);
}

TEST_F(Files, DuplicateTestComparesWholeFieldsInExactCase)
{
    write_file(ORSA_SAVETGT_FILE, lines({tgt_line(kKey0, "iqn.ab", "10.0.0.1", "3260"),
                                         tgt_line(kKey0, "iqn.a", "10.0.0.1", "10240"),
                                         tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260", "50")}));
    write_file(ORSA_SAVESTP_FILE, lines({stp_line(kKey0, "10.0.0.9", "32600")}));
    struct Case {
        int phba;
        const char *name, *ip, *port;
        u32 kind, qualifier, want;
    } cases[] = {
        {0, "iqn.a", "10.0.0.1", "1024", ORSA_ENTRY_TARGET, ORSA_NO_QUALIFIER, 0},   // not 10240
        {0, "iqn.a", "10.0.0.1", "10240", ORSA_ENTRY_TARGET, ORSA_NO_QUALIFIER, 1},
        {0, "iqn.a", "10.0.0.1", "3260", ORSA_ENTRY_TARGET, ORSA_NO_QUALIFIER, 1},   // a qualified line counts
        {0, "iqn.a", "10.0.0.1", "3260", ORSA_ENTRY_TARGET, 5, 0},                   // not 50
        {0, "iqn.a", "10.0.0.1", "3260", ORSA_ENTRY_TARGET, 50, 1},
        {0, "iqn.ab", "10.0.0.1", "3260", ORSA_ENTRY_TARGET, ORSA_NO_QUALIFIER, 1},
        {0, "IQN.AB", "10.0.0.1", "3260", ORSA_ENTRY_TARGET, ORSA_NO_QUALIFIER, 0},  // case as written
        {0, "iqn.ab", "10.0.0.10", "3260", ORSA_ENTRY_TARGET, ORSA_NO_QUALIFIER, 0},
        {1, "iqn.ab", "10.0.0.1", "3260", ORSA_ENTRY_TARGET, ORSA_NO_QUALIFIER, 0},  // another port's HBA
        {0, nullptr, "10.0.0.9", "3260", ORSA_ENTRY_STP, 0, 0},                      // not 32600
        {0, nullptr, "10.0.0.9", "32600", ORSA_ENTRY_STP, 0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.name ? c.name : "-") + " " + c.ip + ":" + c.port + " q" +
                     std::to_string(c.qualifier));
        EXPECT_EQ(ORSA_check_for_duplicate_tgt(ks_, phba_[c.phba], lhba_[c.phba], c.name, c.ip, c.port, c.kind,
                                               c.qualifier),
                  c.want);
    }
    unlink(ORSA_SAVETGT_FILE);
    EXPECT_EQ(ORSA_check_for_duplicate_tgt(ks_, phba_[0], lhba_[0], "iqn.ab", "10.0.0.1", "3260", ORSA_ENTRY_TARGET,
                                           ORSA_NO_QUALIFIER),
              0u);
}

TEST_F(Files, RemovalDropsTheLinesOfItsKeyOnly)
{
    const std::string a = tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260");
    const std::string a5 = tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260", "5");
    const std::string a50 = tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260", "50");
    const std::string a_port = tgt_line(kKey0, "iqn.a", "10.0.0.1", "32600");
    const std::string ab = tgt_line(kKey0, "iqn.ab", "10.0.0.1", "3260");
    const std::string other = tgt_line(kKey1, "iqn.a", "10.0.0.1", "3260");
    const std::string upper = tgt_line("KALDERSTONE0,ISCSIPHYSICALHBA0,LOGICALHBA0", "IQN.A", "10.0.0.1", "3260", "7");
    // Empty lines carry no record: a rewrite drops them and goes on.
    const std::string file = a + "\n\n" + a5 + "\n" + a50 + "\n" + a_port + "\n" + ab + "\n\n" + other + "\n" +
                             upper + "\n";
    struct Case {
        const char *what;
        const char *name, *ip, *port;
        u32 qualifier, kind;
        std::vector<std::string> left;
    } cases[] = {
        {"one persistent login", "iqn.a", "10.0.0.1", "3260", 5, ORSA_ENTRY_TARGET,
         {a, a50, a_port, ab, other, upper}},
        {"a whole portal, any case", "iqn.a", "10.0.0.1", "3260", ORSA_NO_QUALIFIER, ORSA_ENTRY_TARGET,
         {a_port, ab, other}},
        {"a port no line has", "iqn.a", "10.0.0.1", "326", ORSA_NO_QUALIFIER, ORSA_ENTRY_TARGET,
         {a, a5, a50, a_port, ab, other, upper}},
        {"a name no line has", "iqn", "10.0.0.1", "3260", ORSA_NO_QUALIFIER, ORSA_ENTRY_TARGET,
         {a, a5, a50, a_port, ab, other, upper}},
        {"every line of the logical HBA", nullptr, nullptr, nullptr, 0, ORSA_ENTRY_LHBA, {other}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        write_file(ORSA_SAVETGT_FILE, file);
        ASSERT_EQ(ORSA_remove_entry_from_file(lhba_[0], c.name, c.ip, c.port, c.qualifier, c.kind), 0u);
        EXPECT_EQ(read_file(ORSA_SAVETGT_FILE), lines(c.left));
        EXPECT_FALSE(file_exists(ORSA_TEMP_TGT_FILE));
    }

    write_file(ORSA_SAVESTP_FILE, lines({stp_line(kKey0, "10.0.0.9", "3260"), stp_line(kKey0, "10.0.0.9", "32600"),
                                         stp_line(kKey1, "10.0.0.9", "3260")}));
    ASSERT_EQ(ORSA_remove_entry_from_file(lhba_[0], nullptr, "10.0.0.9", "3260", 0, ORSA_ENTRY_STP), 0u);
    EXPECT_EQ(read_file(ORSA_SAVESTP_FILE),
              lines({stp_line(kKey0, "10.0.0.9", "32600"), stp_line(kKey1, "10.0.0.9", "3260")}));

    unlink(ORSA_SAVETGT_FILE);
    EXPECT_EQ(ORSA_remove_entry_from_file(lhba_[0], "iqn.a", "10.0.0.1", "3260", 5, ORSA_ENTRY_TARGET), 1u);
    EXPECT_FALSE(file_exists(ORSA_SAVETGT_FILE));
    EXPECT_FALSE(file_exists(ORSA_TEMP_TGT_FILE));
}

TEST_F(Files, TargetOptionRewritesTheTargetsLinesWithoutQualifier)
{
    HmNode *t = Target(lhba_[0], "iqn.a", {{"10.0.0.1", "3260"}});
    HmNode *opts = Options(t, "TargetLoginOptions"), *auth = Auth(t, "TargetLoginOptions");
    const std::string a = tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260", "", "None", "False");
    const std::string a5 = tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260", "5", "None", "False");
    const std::string a2 = tgt_line(kKey0, "iqn.a", "10.0.0.2", "3261", "", "None", "False");
    const std::string ab = tgt_line(kKey0, "iqn.ab", "10.0.0.1", "3260", "", "None", "False");
    const std::string other = tgt_line(kKey1, "iqn.a", "10.0.0.1", "3260", "", "None", "False");
    const std::string file = lines({a, a5, a2, ab, other});

    write_file(ORSA_SAVETGT_FILE, file);
    ASSERT_EQ(ORSA_set_target_loginoptions(t, opts, auth, "headerdigest", "CRC32C"), 0u);
    EXPECT_EQ(read_file(ORSA_SAVETGT_FILE),
              lines({tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260", "", "CRC32C", "True"), a5,
                     tgt_line(kKey0, "iqn.a", "10.0.0.2", "3261", "", "CRC32C", "True"), ab, other}));

    // The names of the options and where they go.
    for (u32 i = 0; i < ORSA_LOGIN_OPTION_COUNT; i++) {
        SCOPED_TRACE(orsa_login_option_names[i]);
        write_file(ORSA_SAVETGT_FILE, lines({a}));
        ASSERT_EQ(ORSA_set_target_loginoptions(t, opts, auth, orsa_login_option_names[i], "X"), 0u);
        std::string got = read_file(ORSA_SAVETGT_FILE);
        std::vector<std::string> fields;
        std::stringstream ss(got.substr(0, got.size() - 1));
        for (std::string f; std::getline(ss, f, ',');)
            fields.push_back(f);
        ASSERT_EQ(fields.size(), 22u);
        EXPECT_EQ(fields[orsa_login_option_field(ORSA_FILE_SAVETGT, i)], "X");
        EXPECT_EQ(fields[21], "True");
    }

    // An unknown name rewrites the line unchanged, but for its last field.
    write_file(ORSA_SAVETGT_FILE, file);
    ASSERT_EQ(ORSA_set_target_loginoptions(t, opts, auth, "Bogus", "X"), 0u);
    EXPECT_EQ(read_file(ORSA_SAVETGT_FILE),
              lines({tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260", "", "None", "True"), a5,
                     tgt_line(kKey0, "iqn.a", "10.0.0.2", "3261", "", "None", "True"), ab, other}));

    // Refusals leave the file as it was.
    struct Refusal {
        const char *what;
        HmNode *target, *options, *authentication;
        const char *value;
        u32 status;
    } refusals[] = {
        {"comma", t, opts, auth, "a,b", ORSA_STATUS_INVALID_VALUE},
        {"line break", t, opts, auth, "a\nb", ORSA_STATUS_INVALID_VALUE},
        {"carriage return", t, opts, auth, "ab\r", ORSA_STATUS_INVALID_VALUE},
        {"tab", t, opts, auth, "a\tb", ORSA_STATUS_INVALID_VALUE},
        {"no options group", t, nullptr, auth, "x", 0},
        {"no authentication group", t, opts, nullptr, "x", 0},
        {"target without a portal", Target(lhba_[0], "iqn.a", {}), opts, auth, "x", 0},
    };
    for (const Refusal &r : refusals) {
        SCOPED_TRACE(r.what);
        write_file(ORSA_SAVETGT_FILE, file);
        orsa_reset_last_status();
        EXPECT_EQ(ORSA_set_target_loginoptions(r.target, r.options, r.authentication, "TargetSecret", r.value), 1u);
        EXPECT_EQ(LastCode(), r.status);
        EXPECT_EQ(read_file(ORSA_SAVETGT_FILE), file);
    }
    unlink(ORSA_SAVETGT_FILE);
    EXPECT_EQ(ORSA_set_target_loginoptions(t, opts, auth, "HeaderDigest", "CRC32C"), 1u);
    EXPECT_FALSE(file_exists(ORSA_SAVETGT_FILE));
}

TEST_F(Files, PortalAndInitiatorOptionsRewriteTheirOwnLine)
{
    HmNode *stp = Stp(lhba_[0], "10.0.0.9", "3260");
    HmNode *sopts = Options(stp, "SendTargetPortalLoginOptions"), *sauth = Auth(stp, "SendTargetPortalLoginOptions");
    const std::string s = stp_line(kKey0, "10.0.0.9", "3260");
    const std::string s_port = stp_line(kKey0, "10.0.0.9", "32600");
    const std::string s_ip = stp_line(kKey0, "10.0.0.90", "3260");
    const std::string s_other = stp_line(kKey1, "10.0.0.9", "3260");
    write_file(ORSA_SAVESTP_FILE, lines({s, s_port, s_ip, s_other}));
    ASSERT_EQ(ORSA_set_stploginoptions(stp, sopts, sauth, "HEADERDIGEST", "CRC32C"), 0u);
    EXPECT_EQ(read_file(ORSA_SAVESTP_FILE),
              lines({stp_line(kKey0, "10.0.0.9", "3260", "CRC32C"), s_port, s_ip, s_other}));
    // InitialR2T is named exactly in this file.
    write_file(ORSA_SAVESTP_FILE, lines({s}));
    ASSERT_EQ(ORSA_set_stploginoptions(stp, sopts, sauth, "initialr2t", "No"), 0u);
    EXPECT_EQ(read_file(ORSA_SAVESTP_FILE), lines({s}));
    ASSERT_EQ(ORSA_set_stploginoptions(stp, sopts, sauth, "InitialR2T", "No"), 0u);
    EXPECT_NE(read_file(ORSA_SAVESTP_FILE).find(",02:00:00:00:00:01,No,Yes,"), std::string::npos);
    EXPECT_EQ(ORSA_set_stploginoptions(stp, sopts, sauth, "TargetCHAPName", "a,b"), 1u);
    EXPECT_EQ(LastCode(), static_cast<u32>(ORSA_STATUS_INVALID_VALUE));

    HmNode *iopts = Options(lhba_[0], "InitiatorLoginOptions"), *iauth = Auth(lhba_[0], "InitiatorLoginOptions");
    write_file(ORSA_LOGOPTS_FILE, lines({logopts_line(kKey0), logopts_line(kKey1)}));
    ASSERT_EQ(ORSA_set_initiator_loginoptions(lhba_[0], iopts, iauth, "HeaderParam", "Preferred"), 0u);
    EXPECT_EQ(read_file(ORSA_LOGOPTS_FILE),
              lines({logopts_line(kKey0, "None", "Preferred"), logopts_line(kKey1)}));
    // A line with fields missing is written whole; one with more keeps 15.
    write_file(ORSA_LOGOPTS_FILE, kKey0 + std::string(",Yes\n") + logopts_line(kKey0) + ",extra\n");
    ASSERT_EQ(ORSA_set_initiator_loginoptions(lhba_[0], iopts, iauth, "DataParam", "Preferred"), 0u);
    EXPECT_EQ(read_file(ORSA_LOGOPTS_FILE),
              lines({join({kKey0, "Yes", "", "", "", "", "", "", "", "", "", "", "Preferred"}),
                     join({kKey0, "Yes", "Yes", "None", "None", "None", "", "", "", "", "Prohibited", "Prohibited",
                           "Preferred"})}));
}

TEST_F(Files, LongLinesAreReadAndRewrittenWhole)
{
    // Names of 223 characters and CHAP names of 255 make a legitimate line
    // longer than 1024 bytes; a user's long secrets make it longer still.
    const std::string name(223, 'n'), chap_i(255, 'i'), chap_t(255, 't');
    HmNode *t = Target(lhba_[0], name.c_str(), {{"10.0.0.1", "3260"}});
    const std::string line = join({kKey0, name, "10.0.0.1", "3260", "", std::string(223, 'a'), "Yes", "No",
                                   "CRC32C", "None", "Mutual CHAP", chap_i, "0x" + std::string(253, 'f'), chap_t,
                                   std::string(255, 's'), "Static", "Required", "Prohibited", "Prohibited",
                                   "True"});
    ASSERT_GT(line.size(), 1536u);
    write_file(ORSA_SAVETGT_FILE, line + "\n");
    HmNode *opts = Options(t, "TargetLoginOptions"), *auth = Auth(t, "TargetLoginOptions");
    ASSERT_EQ(ORSA_get_target_loginoptions(t, opts, auth), 0u);
    EXPECT_EQ(Cached(auth, "InitiatorCHAPName"), chap_i);
    EXPECT_EQ(Cached(auth, "TargetCHAPName"), chap_t);
    EXPECT_EQ(Cached(auth, "TargetSecret"), std::string(255, 's'));
    EXPECT_EQ(Cached(auth, "CHAPParam"), "Required");
    EXPECT_EQ(Cached(opts, "ImmediateData"), "No");
    ASSERT_EQ(ORSA_set_target_loginoptions(t, opts, auth, "DataDigest", "CRC32C"), 0u);
    std::string want = line;
    want.replace(want.find(",CRC32C,None,"), 13, ",CRC32C,CRC32C,");
    EXPECT_EQ(read_file(ORSA_SAVETGT_FILE), want + "\n");
}

TEST_F(Files, SyncDeletesTargetsAndPortalsWithoutALine)
{
    struct Case {
        const char *what;
        std::string file;
        bool a_kept, a_portal1_kept, b_kept;
    } cases[] = {
        {"lines of a and of another name", lines({tgt_line(kKey0, "iqn.ab", "10.0.0.2", "3260"),
                                                  tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260")}),
         true, false, false},
        {"a name that only begins another's", lines({tgt_line(kKey0, "iqn.ab", "10.0.0.1", "3260")}), false, false,
         false},
        {"a port that only begins another's", lines({tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260"),
                                                     tgt_line(kKey0, "iqn.a", "10.0.0.2", "32600"),
                                                     tgt_line(kKey0, "iqn.b", "10.0.0.3", "3260", "4")}),
         true, false, true},
        {"another logical HBA's lines", lines({tgt_line(kKey1, "iqn.a", "10.0.0.1", "3260")}), false, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        HmNode *a = Target(lhba_[0], "iqn.a", {{"10.0.0.1", "3260"}, {"10.0.0.2", "3260"}});
        HmNode *b = Target(lhba_[0], "iqn.b", {{"10.0.0.3", "3260"}});
        int a_number = hm_instance_number(a), b_number = hm_instance_number(b);
        write_file(ORSA_SAVETGT_FILE, c.file);
        ASSERT_EQ(ORSA_sync_targets_with_file(lhba_[0]), 0u);
        HmNode *a_now = nullptr, *b_now = nullptr;
        for (HmNode *x = get_first_instance(lhba_[0], "Target"); x != nullptr; x = hm_next_instance(x)) {
            if (hm_instance_number(x) == a_number)
                a_now = x;
            if (hm_instance_number(x) == b_number)
                b_now = x;
        }
        EXPECT_EQ(a_now != nullptr, c.a_kept);
        EXPECT_EQ(b_now != nullptr, c.b_kept);
        if (a_now != nullptr) {
            HmNode *p0 = get_first_instance(a_now, "TargetPortal");
            ASSERT_NE(p0, nullptr);
            EXPECT_EQ(Cached(p0, "TargetIPAddress"), "10.0.0.1");
            EXPECT_EQ(hm_next_instance(p0) != nullptr, c.a_portal1_kept);
        }
        for (HmNode *x = get_first_instance(lhba_[0], "Target"); x != nullptr;) {
            HmNode *next = hm_next_instance(x);
            ASSERT_EQ(delete_node(x), 0u);
            x = next;
        }
    }
    // No file: nothing to compare with, nothing deleted.
    unlink(ORSA_SAVETGT_FILE);
    HmNode *a = Target(lhba_[0], "iqn.a", {{"10.0.0.1", "3260"}});
    EXPECT_EQ(ORSA_sync_targets_with_file(lhba_[0]), 0u);
    EXPECT_EQ(get_first_instance(lhba_[0], "Target"), a);
}

TEST_F(Files, SendTargetPortalSync)
{
    write_file(ORSA_SAVESTP_FILE, lines({stp_line(kKey0, "10.0.0.9", "32600"), stp_line(kKey1, "10.0.0.8", "3260"),
                                         stp_line("kalderstone0,iscsiphysicalhba0,logicalhba0", "10.0.0.7", "3260")}));
    HmNode *d = G(lhba_[0], "Discovery");
    struct Case {
        int phba;
        const char *ip, *port;
        u32 want;
    } cases[] = {
        {0, "10.0.0.9", "32600", 0}, {0, "10.0.0.9", "3260", 1}, {0, "10.0.0.8", "3260", 1},
        {1, "10.0.0.8", "3260", 0},  {0, "10.0.0.7", "3260", 0}, {0, "10.0.0.7", "326", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.ip) + ":" + c.port);
        EXPECT_EQ(ORSA_sync_stp_with_file(ks_, phba_[c.phba], d, d, c.ip, c.port), c.want);
    }
    EXPECT_EQ(ORSA_sync_stp_with_file(ks_, phba_[0], nullptr, d, "10.0.0.9", "32600"), 1u);
    unlink(ORSA_SAVESTP_FILE);
    EXPECT_EQ(ORSA_sync_stp_with_file(ks_, phba_[0], d, d, "10.0.0.9", "32600"), 1u);
}

TEST(IscsiDataFromFile, KeysAreWholeFieldsWithoutRegardToCase)
{
    struct Case {
        const char *line;
        std::vector<std::string> keys;
        u32 nfields;
        u32 want;
        std::vector<std::string> fields;  // after the call ("?" = left as it was)
    } cases[] = {
        {"Kalderstone0,iSCSIPhysicalHBA0,LogicalHBA0,iqn.a,x\n", {"kalderstone0", "ISCSIPHYSICALHBA0", "LogicalHBA0"},
         5, 0, {"Kalderstone0", "iSCSIPhysicalHBA0", "LogicalHBA0", "iqn.a", "x"}},
        {"K,P,L,iqn.ab,x", {"K", "P", "L", "iqn.a"}, 5, 1, {"K", "P", "L", "iqn.ab", "?"}},
        {"K,P,L,iqn.a", {"K", "P", "L", "iqn.a"}, 6, 0, {"K", "P", "L", "iqn.a", "?", "?"}},
        {"K,P", {"K", "P", "L"}, 3, 1, {"K", "P", "?"}},
        {"K,P,L,,y", {"K", "P", "L", ""}, 5, 0, {"K", "P", "L", "", "y"}},
        {"", {}, 2, 0, {"", "?"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        char keys[8][ORSA_FILE_FIELD_SIZE] = {};
        for (size_t i = 0; i < c.keys.size(); i++)
            snprintf(keys[i], sizeof keys[i], "%s", c.keys[i].c_str());
        char fields[8][ORSA_FILE_FIELD_SIZE];
        for (auto &f : fields)
            strcpy(f, "?");
        EXPECT_EQ(ORSA_get_iscsi_data_from_file(c.line, keys, fields, c.nfields, (u32)c.keys.size()), c.want);
        for (size_t i = 0; i < c.fields.size(); i++)
            EXPECT_EQ(std::string(fields[i]), c.fields[i]) << "field " << i;
    }
    char fields[2][ORSA_FILE_FIELD_SIZE];
    std::string long_field = "K," + std::string(400, 'x');
    EXPECT_EQ(ORSA_get_iscsi_data_from_file(long_field.c_str(), nullptr, fields, 2, 0), 0u);
    EXPECT_EQ(strlen(fields[1]), 255u);
}

// An append racing a rewrite of the same file, each in its own process,
// many rounds: every appended line and every rewrite survive.
TEST_F(Files, AppendsAndRewritesOfTwoProcessesLoseNothing)
{
    HmNode *t = Target(lhba_[0], "iqn.a", {{"10.0.0.1", "3260"}});
    HmNode *opts = Options(t, "TargetLoginOptions"), *auth = Auth(t, "TargetLoginOptions");
    write_file(ORSA_SAVETGT_FILE, lines({tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260")}));
    const int rounds = 300;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int failed = 0;
        for (int q = 1; q <= rounds; q++)
            failed += ORSA_update_tgt_entry(lhba_[0], t, "10.0.0.1", "3260", (u16)q, "True") != 0;
        _exit(failed == 0 ? 0 : 1);
    }
    int failed = 0;
    for (int i = 0; i < rounds; i++) {
        char secret[32];
        snprintf(secret, sizeof secret, "secret%04d", i);
        failed += ORSA_set_target_loginoptions(t, opts, auth, "TargetSecret", secret) != 0;
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "an append failed";
    EXPECT_EQ(failed, 0) << "a rewrite failed";

    std::stringstream in(read_file(ORSA_SAVETGT_FILE));
    std::vector<int> seen(rounds + 1, 0);
    int unqualified = 0;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        for (std::string x; std::getline(ss, x, ',');)
            f.push_back(x);
        ASSERT_EQ(std::count(line.begin(), line.end(), ','), 21) << line;
        if (f[6].empty()) {
            unqualified++;
            EXPECT_EQ(f[16], "secret0299") << "the last rewrite stands";
        } else {
            int q = atoi(f[6].c_str());
            ASSERT_GE(q, 1);
            ASSERT_LE(q, rounds);
            seen[q]++;
        }
    }
    EXPECT_EQ(unqualified, 1);
    for (int q = 1; q <= rounds; q++)
        EXPECT_EQ(seen[q], 1) << "qualifier " << q;
    EXPECT_FALSE(file_exists(ORSA_TEMP_TGT_FILE));
}

}  // namespace
