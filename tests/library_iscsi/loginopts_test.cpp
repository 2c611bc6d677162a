// The login-options groups as a client reads and writes them through the
// tree API: refreshed from their file lines, the digest rules, the file
// rewritten on a change and left as it was on a refusal; the exported target
// handler, the copies between groups and the negotiated values of a session.
#include <cstring>

#include "iscsi/iscsi_loginopts.h"
#include "iscsi_tree.h"
#include "tree/hm_status.h"

namespace {

std::string lines(const std::vector<std::string> &ls)
{
    std::string s;
    for (const std::string &l : ls)
        s += l + "\n";
    return s;
}

// An intr_logopts.txt line with the four digest settings given.
std::string options_line(const char *key, const char *hd, const char *hp, const char *dd, const char *dp,
                         const char *chap_param = "Prohibited")
{
    return join({key, "Yes", "Yes", hd, dd, "One-Way CHAP", "", "", "tgtchap", "", chap_param, hp, dp});
}

class LoginOptions : public IscsiTree {};

TEST_F(LoginOptions, InitiatorGroupShowsItsLine)
{
    HmNode *opts = Options(lhba_[0], "InitiatorLoginOptions"), *auth = Auth(lhba_[0], "InitiatorLoginOptions");
    write_file(ORSA_LOGOPTS_FILE, lines({options_line(kKey1, "CRC32C", "Preferred", "None", "Prohibited"),
                                         join({kKey0, "No", "No", "CRC32C", "None", "Mutual CHAP", "ichap", "isecret",
                                               "tchap", "tsecret", "", "", ""})}));
    EXPECT_EQ(Get(opts, "InitialR2T"), "No");
    EXPECT_EQ(Get(opts, "HeaderDigest"), "CRC32C");
    EXPECT_EQ(Get(opts, "HeaderParam"), "Prohibited") << "an empty level reads Prohibited";
    EXPECT_EQ(Get(opts, "DataParam"), "Prohibited");
    EXPECT_EQ(Get(auth, "AuthenticationMethod"), "Mutual CHAP");
    EXPECT_EQ(Get(auth, "InitiatorSecret"), "isecret");
    EXPECT_EQ(Get(auth, "CHAPParam"), "Prohibited");
    // A user's edit shows at the next read.
    write_file(ORSA_LOGOPTS_FILE, lines({options_line(kKey0, "None", "Prohibited", "CRC32C", "Preferred")}));
    EXPECT_EQ(Get(opts, "DataParam"), "Preferred");
    EXPECT_EQ(Get(auth, "TargetCHAPName"), "tgtchap");
    // Without the file the tree's values stand.
    unlink(ORSA_LOGOPTS_FILE);
    u32 rc = 1;
    EXPECT_EQ(Get(opts, "DataParam", &rc), "Preferred");
    EXPECT_EQ(rc, 0u);
}

TEST_F(LoginOptions, DigestRulesRefuseAndLeaveTheFileAsItWas)
{
    HmNode *opts = Options(lhba_[0], "InitiatorLoginOptions");
    struct Case {
        const char *hd, *hp, *dd, *dp;  // the line before
        const char *property, *value;
        u32 want;                       // result and last status; 0 = taken
    } cases[] = {
        {"None", "Prohibited", "None", "Prohibited", "HeaderParam", "Preferred", 193},
        {"none", "Prohibited", "None", "Prohibited", "HeaderParam", "preferred", 193},
        {"CRC32C", "Prohibited", "None", "Prohibited", "HeaderParam", "Preferred", 0},
        {"None", "Prohibited", "None", "Prohibited", "DataParam", "Preferred", 193},
        {"None", "Prohibited", "CRC32C", "Prohibited", "DataParam", "Preferred", 0},
        {"CRC32C", "Preferred", "None", "Prohibited", "HeaderDigest", "None", 194},
        {"CRC32C", "Prohibited", "None", "Prohibited", "HeaderDigest", "None", 0},
        {"None", "Prohibited", "CRC32C", "Preferred", "DataDigest", "None", 194},
        {"None", "Prohibited", "CRC32C", "Prohibited", "DataDigest", "None", 0},
        {"CRC32C", "Preferred", "CRC32C", "Preferred", "DataParam", "Prohibited", 0},
        {"None", "Preferred", "None", "Prohibited", "HeaderDigest", "CRC32C", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.property) + "=" + c.value + " over " + c.hd + "/" + c.hp + "/" + c.dd + "/" + c.dp);
        const std::string before = lines({options_line(kKey0, c.hd, c.hp, c.dd, c.dp)});
        write_file(ORSA_LOGOPTS_FILE, before);
        std::string cached = Get(opts, c.property);
        EXPECT_EQ(Set(opts, c.property, c.value), c.want);
        EXPECT_EQ(LastCode(), c.want);
        if (c.want != 0) {
            EXPECT_EQ(read_file(ORSA_LOGOPTS_FILE), before);
            EXPECT_EQ(Cached(opts, c.property), cached);
        } else {
            EXPECT_NE(read_file(ORSA_LOGOPTS_FILE), before);
            EXPECT_EQ(Get(opts, c.property), c.value);
        }
    }
    // The order of the checks: HeaderDigest "CRC32C" first, then the level.
    write_file(ORSA_LOGOPTS_FILE, lines({options_line(kKey0, "None", "Prohibited", "None", "Prohibited")}));
    ASSERT_EQ(Set(opts, "HeaderDigest", "CRC32C"), 0u);
    ASSERT_EQ(Set(opts, "HeaderParam", "Preferred"), 0u);
    EXPECT_EQ(read_file(ORSA_LOGOPTS_FILE),
              lines({options_line(kKey0, "CRC32C", "Preferred", "None", "Prohibited")}));
}

TEST_F(LoginOptions, RefusalsOfTheTreeChangeNothing)
{
    HmNode *opts = Options(lhba_[0], "InitiatorLoginOptions"), *auth = Auth(lhba_[0], "InitiatorLoginOptions");
    const std::string before = lines({options_line(kKey0, "None", "Prohibited", "None", "Prohibited")});
    write_file(ORSA_LOGOPTS_FILE, before);
    struct Case {
        HmNode *group;
        const char *property, *value;
        u32 rc, status;
    } cases[] = {
        {opts, "InitialR2T", "No", 1, 10},               // read-only
        {auth, "InitiatorCHAPName", "user", 1, 10},      // through ConfigureCHAP only
        {opts, "HeaderDigest", "CRC32C,None", 1, 6},     // not one of the values
        {opts, "HeaderDigest", "CRC\n32C", 1, 6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.property) + "=" + c.value);
        EXPECT_EQ(Set(c.group, c.property, c.value), c.rc);
        EXPECT_EQ(LastCode(), c.status);
        EXPECT_EQ(read_file(ORSA_LOGOPTS_FILE), before);
    }
    // Inside the library a set of an initiator's Authentication value
    // answers the refreshed value and changes nothing.
    char value[HM_VALUE_SIZE] = "intruder";
    EXPECT_EQ(internal_set_property(auth, "TargetCHAPName", value), 0u);
    EXPECT_STREQ(value, "tgtchap");
    EXPECT_EQ(Cached(auth, "TargetCHAPName"), "tgtchap");
    EXPECT_EQ(read_file(ORSA_LOGOPTS_FILE), before);
    // No line of this logical HBA: nothing to rewrite, the value is taken.
    write_file(ORSA_LOGOPTS_FILE, lines({options_line(kKey1, "None", "Prohibited", "None", "Prohibited")}));
    EXPECT_EQ(Set(opts, "ImmediateData", "No"), 0u);
    // No file at all: the write fails and the tree keeps its value.
    unlink(ORSA_LOGOPTS_FILE);
    EXPECT_EQ(Set(opts, "ImmediateData", "Yes"), 1u);
    EXPECT_EQ(Cached(opts, "ImmediateData"), "No");
    EXPECT_FALSE(file_exists(ORSA_LOGOPTS_FILE));
}

TEST_F(LoginOptions, TargetGroupFollowsItsLinesWithoutQualifier)
{
    HmNode *t = Target(lhba_[0], "iqn.a", {{"10.0.0.1", "3260"}});
    HmNode *opts = Options(t, "TargetLoginOptions"), *auth = Auth(t, "TargetLoginOptions");
    const std::string q5 = tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260", "5", "CRC32C", "True", "Static");
    write_file(ORSA_SAVETGT_FILE, lines({q5, tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260", "", "None", "False",
                                                      "Discovered")}));
    EXPECT_EQ(Get(opts, "HeaderDigest"), "None") << "a persistent login's line keeps its own options";
    EXPECT_EQ(Get(t, "TargetType"), "Discovered");
    ASSERT_EQ(Set(opts, "HeaderDigest", "CRC32C"), 0u);
    EXPECT_EQ(read_file(ORSA_SAVETGT_FILE),
              lines({q5, tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260", "", "CRC32C", "True", "Discovered")}));
    EXPECT_EQ(Get(opts, "HeaderDigest"), "CRC32C");
    EXPECT_EQ(Set(opts, "HeaderParam", "Preferred"), 0u);
    EXPECT_EQ(Set(opts, "HeaderDigest", "None"), 194u);
    // Only a persistent line: it is the one shown.
    write_file(ORSA_SAVETGT_FILE, lines({q5}));
    EXPECT_EQ(Get(opts, "HeaderParam"), "Prohibited");
    EXPECT_EQ(Get(t, "TargetType"), "Static");
    // An empty type reads as a static target's.
    write_file(ORSA_SAVETGT_FILE, lines({tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260", "", "None", "True", "")}));
    set_prop_val(t, "TargetType", "%s", "Discovered");
    EXPECT_EQ(Get(t, "TargetType"), "Static");
    // No file is no error: the tree's values stand.
    unlink(ORSA_SAVETGT_FILE);
    u32 rc = 1;
    EXPECT_EQ(Get(auth, "CHAPParam", &rc), "Prohibited");
    EXPECT_EQ(rc, 0u);
}

TEST_F(LoginOptions, ExportedTargetHandlerWritesAuthenticationValues)
{
    HmNode *t = Target(lhba_[0], "iqn.a", {{"10.0.0.1", "3260"}});
    HmNode *opts = Options(t, "TargetLoginOptions"), *auth = Auth(t, "TargetLoginOptions");
    const std::string before = lines({tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260", "", "None", "False")});
    write_file(ORSA_SAVETGT_FILE, before);
    HmNode *name = internal_get_node(auth, "InitiatorCHAPName", HM_KIND_PROPERTY);
    HmNode *level = internal_get_node(opts, "HeaderParam", HM_KIND_PROPERTY);
    struct Refusal {
        const char *value;
    } refusals[] = {{"user,x"}, {"user\n"}, {"\x7f"}, {"a\tb"}};
    for (const Refusal &r : refusals) {
        char v[HM_VALUE_SIZE];
        snprintf(v, sizeof v, "%s", r.value);
        orsa_reset_last_status();
        EXPECT_EQ(handle_target_loginopts(name, v, HM_MODE_SET), 1u);
        EXPECT_EQ(LastCode(), static_cast<u32>(ORSA_STATUS_INVALID_VALUE));
        EXPECT_EQ(read_file(ORSA_SAVETGT_FILE), before);
        EXPECT_EQ(Cached(auth, "InitiatorCHAPName"), "");
    }
    char v[HM_VALUE_SIZE] = "chapuser";
    ASSERT_EQ(handle_target_loginopts(name, v, HM_MODE_SET), 0u);
    EXPECT_EQ(Cached(auth, "InitiatorCHAPName"), "chapuser");
    EXPECT_NE(read_file(ORSA_SAVETGT_FILE).find(",None,chapuser,,,,Static,"), std::string::npos);
    // No digest rules here.
    snprintf(v, sizeof v, "Preferred");
    ASSERT_EQ(handle_target_loginopts(level, v, HM_MODE_SET), 0u);
    EXPECT_EQ(Cached(opts, "HeaderParam"), "Preferred");
    // A read refreshes from the line.
    write_file(ORSA_SAVETGT_FILE, before);
    char out[HM_VALUE_SIZE] = "";
    ASSERT_EQ(handle_target_loginopts(name, out, HM_MODE_GET), 0u);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(handle_target_loginopts(name, out, 7), 0u);
    EXPECT_EQ(handle_target_loginopts(nullptr, out, HM_MODE_GET), 1u);
    EXPECT_EQ(handle_target_loginopts(internal_get_node(lhba_[0], "IfName", HM_KIND_PROPERTY), out, HM_MODE_GET), 1u);
}

TEST_F(LoginOptions, SendTargetPortalGroup)
{
    HmNode *stp = Stp(lhba_[0], "10.0.0.9", "3260");
    HmNode *opts = Options(stp, "SendTargetPortalLoginOptions"), *auth = Auth(stp, "SendTargetPortalLoginOptions");
    const std::string mine = stp_line(kKey0, "10.0.0.9", "3260", "CRC32C");
    const std::string other = stp_line(kKey0, "10.0.0.9", "32600");
    write_file(ORSA_SAVESTP_FILE, lines({other, mine}));
    EXPECT_EQ(Get(opts, "HeaderDigest"), "CRC32C");
    ASSERT_EQ(Set(opts, "HeaderParam", "Preferred"), 0u);
    EXPECT_EQ(Set(opts, "HeaderDigest", "None"), 194u);
    EXPECT_NE(read_file(ORSA_SAVESTP_FILE).find(",CRC32C,None,None,,,,,Prohibited,Preferred,Prohibited\n"),
              std::string::npos);
    // Its Authentication values: a set inside the library goes to the cache.
    const std::string file = read_file(ORSA_SAVESTP_FILE);
    char v[HM_VALUE_SIZE] = "portaluser";
    ASSERT_EQ(internal_set_property(auth, "InitiatorCHAPName", v), 0u);
    EXPECT_EQ(Cached(auth, "InitiatorCHAPName"), "portaluser");
    EXPECT_EQ(read_file(ORSA_SAVESTP_FILE), file);
    // No file: the refresh fails, the tree's value is shown.
    unlink(ORSA_SAVESTP_FILE);
    EXPECT_EQ(ORSA_get_stploginoptions(stp, opts, auth), 1u);
    EXPECT_EQ(Get(opts, "HeaderParam"), "Preferred");
}

TEST_F(LoginOptions, CopyBetweenGroups)
{
    write_file(ORSA_LOGOPTS_FILE, lines({join({kKey0, "No", "No", "CRC32C", "CRC32C", "Mutual CHAP", "ichap",
                                               "isecret12345", "tchap", "tsecret12345", "Required", "Preferred",
                                               "Preferred"})}));
    HmNode *t = Target(lhba_[0], "iqn.a", {{"10.0.0.1", "3260"}});
    const std::string line = tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260", "", "None", "False");
    HmNode *src = Options(lhba_[0], "InitiatorLoginOptions");
    HmNode *dst = Options(t, "TargetLoginOptions"), *dst_auth = Auth(t, "TargetLoginOptions");

    write_file(ORSA_SAVETGT_FILE, lines({line}));
    EXPECT_EQ(copy_login_options(src, dst, 4), 1u);
    EXPECT_EQ(copy_login_options(src, G(lhba_[0], "InitiatorDefaultLoginOptions"), 0), 1u) << "no Authentication";
    ASSERT_EQ(copy_login_options(src, dst, 3), 0u);
    EXPECT_EQ(Cached(dst_auth, "AuthenticationMethod"), "Mutual CHAP");
    EXPECT_EQ(Cached(dst_auth, "TargetSecret"), "tsecret12345");
    EXPECT_EQ(Cached(dst_auth, "CHAPParam"), "Prohibited") << "not one of the five texts";
    EXPECT_EQ(Cached(dst, "InitialR2T"), "Yes");
    EXPECT_EQ(read_file(ORSA_SAVETGT_FILE), lines({line}));

    ASSERT_EQ(copy_login_options(src, dst, 0), 0u);
    // InitialR2T through the target's handler (its line), the others into
    // the cache only.
    EXPECT_EQ(read_file(ORSA_SAVETGT_FILE),
              lines({join({kKey0, "iqn.a", "10.0.0.1", "3260", "", "iqn.init", "No", "Yes", "None", "None", "None",
                           "", "", "", "", "Static", "Prohibited", "Prohibited", "Prohibited", "True"})}));
    EXPECT_EQ(Cached(dst, "ImmediateData"), "No");
    EXPECT_EQ(Cached(dst, "HeaderDigest"), "CRC32C");

    // Into a session's options everything goes through their handlers.
    HmNode *s = initialize_Session(t, nullptr, nullptr, nullptr);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(copy_login_options(src, Options(s, "SessionLoginOptions"), 0), 0u);
    EXPECT_EQ(Cached(Options(s, "SessionLoginOptions"), "DataDigest"), "CRC32C");
    EXPECT_EQ(Cached(Auth(s, "SessionLoginOptions"), "InitiatorCHAPName"), "ichap");
}

TEST_F(LoginOptions, NegotiatedValuesOfASession)
{
    HmNode *t = Target(lhba_[0], "iqn.a", {{"10.0.0.1", "3260"}});
    HmNode *s = initialize_Session(t, nullptr, nullptr, nullptr);
    ASSERT_NE(s, nullptr);
    negotiated_connection_record r{};
    r.header_digest = 1;
    r.data_digest = 0;
    r.authentication = 1;
    r.mutual_chap = 0;
    strcpy(r.initiator_chap_name, "ichap");
    memcpy(r.initiator_secret, "0123456789abcdef", 16);  // fills its field: no terminator
    strcpy(r.target_chap_name, "tchap");
    strcpy(r.target_secret, "tsecret");
    ASSERT_EQ(setup_initiator_target_loginopts(t, &r), 0u);
    HmNode *opts = Options(t, "TargetLoginOptions"), *auth = Auth(t, "TargetLoginOptions");
    EXPECT_EQ(Cached(opts, "HeaderDigest"), "CRC32C");
    EXPECT_EQ(Cached(opts, "DataDigest"), "None");
    EXPECT_EQ(Cached(auth, "AuthenticationMethod"), "One-Way CHAP");
    EXPECT_EQ(Cached(auth, "InitiatorSecret"), "0123456789abcdef");
    EXPECT_EQ(Cached(auth, "TargetCHAPName"), "tchap");

    struct Case {
        u8 chap;
        u32 mutual;
        const char *want;
    } cases[] = {{0, 1, "None"}, {1, 1, "Mutual CHAP"}, {1, 0, "One-Way CHAP"}, {2, 0, "One-Way CHAP"}};
    for (const Case &c : cases) {
        r.authentication = c.chap;
        r.mutual_chap = c.mutual;
        ASSERT_EQ(setup_initiator_target_loginopts(s, &r), 0u);
        EXPECT_EQ(Cached(Auth(s, "SessionLoginOptions"), "AuthenticationMethod"), c.want)
            << "chap " << (int)c.chap << " mutual " << c.mutual << " (any other pair writes nothing)";
    }
    EXPECT_EQ(setup_initiator_target_loginopts(lhba_[0], &r), 1u) << "no SessionLoginOptions";
    EXPECT_EQ(setup_initiator_target_loginopts(t, nullptr), 1u);
    EXPECT_EQ(ORSA_update_session_authentication(t), 0u);
}

}  // namespace
