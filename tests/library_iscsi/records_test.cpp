// The login records byte for byte, laid out here from their offsets (not
// from the library's structures): the persistent-target record filled from a
// target's groups, the login options block with each secret form, the delete
// record and the logout payload; the fields of a login answer read back into
// the negotiated-options groups; the ISID qualifier walks.
#include <cstring>
#include <functional>

#include "iscsi/iscsi_login_records.h"
#include "iscsi_tree.h"
#include "tree/hm_status.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes &b, size_t at, uint16_t v)
{
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}
void put32(Bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = (uint8_t)(v >> (8 * i));
}
void put_text(Bytes &b, size_t at, const std::string &s)
{
    memcpy(&b[at], s.data(), s.size());
}

template <typename T>
Bytes bytes_of(const T &record)
{
    const uint8_t *p = reinterpret_cast<const uint8_t *>(&record);
    return Bytes(p, p + sizeof record);
}

// The first differing offset, for a readable failure.
std::string diff(const Bytes &got, const Bytes &want)
{
    if (got.size() != want.size())
        return "sizes " + std::to_string(got.size()) + " and " + std::to_string(want.size());
    for (size_t i = 0; i < got.size(); i++) {
        if (got[i] != want[i])
            return "first difference at " + std::to_string(i) + ": " + std::to_string(got[i]) + " instead of " +
                   std::to_string(want[i]);
    }
    return "";
}

// The 600 bytes of the default block, from the table of defaults.
Bytes default_block()
{
    Bytes b(600, 0);
    b[0] = 0x0F;
    put32(b, 4, 8192);
    put32(b, 8, 262144);
    put16(b, 12, 1);
    put16(b, 14, 1);
    put16(b, 16, 2);
    put16(b, 18, 20);
    put32(b, 24, 65536);
    put32(b, 28, 65536);
    put32(b, 36, 16000);
    b[304] = ' ';
    b[576] = ' ';
    return b;
}

class Records : public IscsiTree {
protected:
    void SetUp() override
    {
        IscsiTree::SetUp();
        target_ = Target(lhba_[0], "iqn.2001-04.com.example:tgt", {{"10.1.2.3", "3260"}});
        opts_ = Options(target_, "TargetLoginOptions");
        auth_ = Auth(target_, "TargetLoginOptions");
    }
    void Options_(const char *r2t, const char *immediate, const char *hd, const char *dd)
    {
        Cache(opts_, "InitialR2T", r2t);
        Cache(opts_, "ImmediateData", immediate);
        Cache(opts_, "HeaderDigest", hd);
        Cache(opts_, "DataDigest", dd);
    }
    void Chap(const char *method, const char *in, const char *is, const char *tn, const char *ts)
    {
        Cache(auth_, "AuthenticationMethod", method);
        Cache(auth_, "InitiatorCHAPName", in);
        Cache(auth_, "InitiatorSecret", is);
        Cache(auth_, "TargetCHAPName", tn);
        Cache(auth_, "TargetSecret", ts);
    }
    login_option_block Block()
    {
        login_option_block b;
        memcpy(&b, get_default_login_options(), sizeof b);
        return b;
    }

    HmNode *target_ = nullptr, *opts_ = nullptr, *auth_ = nullptr;
};

TEST_F(Records, PersistentTargetRecordByteForByte)
{
    Options_("No", "Yes", "CRC32C", "None");
    Chap("Mutual CHAP", "ichap", "0x0102030405060708090a0b0c", "tchap", "tsecret-16chars!");
    struct Case {
        const char *what;
        const char *ip, *port, *boot;
        uint32_t eto, flags_before, flags_after, eto_sent;
        uint8_t kind;
        Bytes address;
    } cases[] = {
        {"IPv4, no ETO", "10.1.2.3", "3260", "False", 0, 0, 0x40, 0xFFFFFFFF, 1, {10, 1, 2, 3}},
        {"IPv4 of 15 characters, ETO given, a login's flags before", "192.168.100.200", "65535", nullptr, 30, 0x41,
         0x40, 30, 1, {192, 168, 100, 200}},
        {"IPv6 full form, boot target", "FE80:0000:0000:0000:0202:B3FF:FE1E:8329", "3261", "true", 0, 0x11, 0x150,
         0xFFFFFFFF, 16, {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0x02, 0xB3, 0xFF, 0xFE, 0x1E, 0x83, 0x29}},
        {"IPv6 compressed", "2001:db8::8a2e:370:7334", "1024", "False", 3600, 0, 0x40, 3600, 16,
         {0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0x8A, 0x2E, 0x03, 0x70, 0x73, 0x34}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        target_params record{};
        memcpy(&record.options, get_default_login_options(), sizeof record.options);
        ASSERT_EQ(get_login_options(opts_, &record.options, 2), 0u);
        record.login_flags = c.flags_before;
        ASSERT_EQ(ORSA_update_target_params(&record, lhba_[0], target_, 9, c.ip, c.port, c.boot, "iqn.session.init",
                                            c.eto),
                  0u);

        Bytes want(1420, 0);
        put_text(want, 0, "iqn.2001-04.com.example:tgt");
        put16(want, 224, 24);
        want[227] = c.kind;
        memcpy(&want[228], c.address.data(), c.address.size());
        put16(want, 248, (uint16_t)atoi(c.port));
        put32(want, 508, c.flags_after);
        put32(want, 520, c.eto_sent);
        put16(want, 524, 9);
        Bytes block = default_block();
        block[0] = 0x0E;  // InitialR2T No, ImmediateData Yes
        block[21] = 1;    // header digest
        block[40] = 1;    // CHAP
        put32(block, 44, 1);  // mutual
        put_text(block, 48, "ichap");
        memset(&block[304], 0, 16);
        for (int i = 0; i < 12; i++)
            block[304 + i] = (uint8_t)(i + 1);
        put_text(block, 320, "tchap");
        put_text(block, 576, "tsecret-16chars!");
        put16(block, 592, 5);
        put16(block, 594, 12);
        put16(block, 596, 5);
        put16(block, 598, 16);
        memcpy(&want[528], block.data(), block.size());
        put_text(want, 1128, "iqn.session.init");
        put_text(want, 1352, "alias0");
        put16(want, 1398, 0xFFFF);
        put16(want, 1400, 0xFFFF);
        Bytes got = bytes_of(record);
        EXPECT_EQ(got, want) << diff(got, want);
    }
}

TEST_F(Records, PersistentTargetRefusals)
{
    target_params record{};
    // A qualifier in use anywhere in the tree.
    HmNode *other = Target(lhba_[1], "iqn.other", {{"10.0.0.1", "3260"}});
    HmNode *s = initialize_Session(other, nullptr, nullptr, nullptr);
    ASSERT_NE(s, nullptr);
    Cache(s, "ISIDQualifier", "1f");
    orsa_reset_last_status();
    EXPECT_EQ(ORSA_update_target_params(&record, lhba_[0], target_, 0x1f, "10.1.2.3", "3260", "False", "iqn.i", 0),
              1u);
    EXPECT_EQ(LastCode(), 71u);
    EXPECT_EQ(record.isid_qualifier, 0u);
    EXPECT_EQ(ORSA_update_target_params(&record, lhba_[0], target_, 0x20, "10.1.2.3", "3260", "False", "iqn.i", 0),
              0u);
    struct Case {
        const char *what;
        HmNode *lhba, *target;
        const char *ip, *port, *initiator;
    } cases[] = {
        {"no logical HBA", nullptr, target_, "10.1.2.3", "3260", "iqn.i"},
        {"no target", lhba_[0], nullptr, "10.1.2.3", "3260", "iqn.i"},
        {"no address", lhba_[0], target_, nullptr, "3260", "iqn.i"},
        {"no port", lhba_[0], target_, "10.1.2.3", nullptr, "iqn.i"},
        {"no initiator name", lhba_[0], target_, "10.1.2.3", "3260", nullptr},
        {"no alias group", target_, target_, "10.1.2.3", "3260", "iqn.i"},
        {"an IPv6 text that is none", lhba_[0], target_, "fe80:0000:0000:0000:0202:b3ff:fe1e:83zz", "3260", "iqn.i"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ORSA_update_target_params(&record, c.lhba, c.target, 0x21, c.ip, c.port, "False", c.initiator, 0),
                  1u);
    }
    EXPECT_EQ(ORSA_update_target_params(nullptr, lhba_[0], target_, 0x21, "10.1.2.3", "3260", "False", "i", 0), 1u);
    // A name longer than its field is cut, terminated.
    std::string longname(300, 'x');
    ASSERT_EQ(ORSA_update_target_params(&record, lhba_[0], target_, 0x22, "10.1.2.3", "3260", "False",
                                        longname.c_str(), 0),
              0u);
    EXPECT_EQ(std::string(record.initiator_name), std::string(223, 'x'));
}

TEST_F(Records, SecretsAndNamesInTheBlock)
{
    Options_("Yes", "Yes", "None", "None");
    struct Case {
        const char *secret;
        Bytes field;     // the 16 bytes
        uint16_t length;
    } cases[] = {
        {"0x0102030405060708090a0b0c", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0, 0, 0, 0}, 12},
        {"0XA0B0C0D0E0F00112233445566778899F",
         {0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF0, 0x01, 0x12, 0x23, 0x34, 0x45, 0x56, 0x67, 0x78, 0x89, 0x9F}, 16},
        {"0x0102030405060708090a0b0c7", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0, 0, 0, 0}, 12},  // odd digit dropped
        {"0x0102030405060708090a0b0c0d0e0f10ffeeddcc",  // longer than its field: cut
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 16},
        {"abcdefghijklmnop", {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p'}, 16},
        {"abcdefghijkl", {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 0, 0, 0, 0}, 12},
        {"0123456789ab", {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 0, 0, 0, 0}, 12},
        {"abcdefghijklmnopqrst", {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p'},
         16},
        {"", Bytes(16, 0), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.secret);
        Chap("One-Way CHAP", std::string(300, 'n').substr(0, 255).c_str(), c.secret, "", c.secret);
        login_option_block b = Block();
        ASSERT_EQ(get_login_options(opts_, &b, 2), 0u);
        EXPECT_EQ(Bytes(b.initiator_secret, b.initiator_secret + 16), c.field);
        EXPECT_EQ(Bytes(b.target_secret, b.target_secret + 16), c.field);
        EXPECT_EQ(b.initiator_secret_length, c.length);
        EXPECT_EQ(b.target_secret_length, c.length);
        EXPECT_EQ(b.authentication, 1);
        EXPECT_EQ(b.mutual_chap, 0u);
        EXPECT_EQ(b.initiator_chap_name_length, 255);
        EXPECT_EQ(b.initiator_chap_name[255], 0);
        EXPECT_EQ(b.target_chap_name_length, 0);
    }
    uint8_t out[4] = {9, 9, 9, 9};
    EXPECT_EQ(convert_hex_to_bin("a1b", 3, out), 0);
    EXPECT_EQ(out[0], 0xA1);
    EXPECT_EQ(out[1], 9) << "an odd last digit is dropped";
    EXPECT_EQ(convert_hex_to_bin(nullptr, 2, out), -1);
    EXPECT_EQ(convert_hex_to_bin("a1", 2, nullptr), -1);
}

TEST_F(Records, FillersByModeAndFlag)
{
    Options_("No", "No", "CRC32C", "CRC32C");
    Chap("Mutual CHAP", "ichap", "isecret12345", "tchap", "tsecret12345");
    const Bytes defaults = default_block();
    struct Case {
        const char *what;
        std::function<uint32_t(login_option_block *)> fill;
        uint32_t rc;
        bool auth;           // CHAP values filled
        uint8_t flags, header, data;
    } cases[] = {
        {"mode 0", [&](login_option_block *b) { return get_login_options(opts_, b, 0); }, 0, true, 0x0C, 1, 1},
        {"mode 1 touches nothing", [&](login_option_block *b) { return get_login_options(opts_, b, 1); }, 0, false,
         0x0F, 0, 0},
        {"mode 3: authentication only", [&](login_option_block *b) { return get_login_options(opts_, b, 3); }, 0,
         true, 0x0F, 0, 0},
        {"mode 4", [&](login_option_block *b) { return get_login_options(opts_, b, 4); }, 1, false, 0x0F, 0, 0},
        {"no Authentication group",
         [&](login_option_block *b) { return get_login_options(G(lhba_[0], "InitiatorDefaultLoginOptions"), b, 0); },
         1, false, 0x0F, 0, 0},
        {"conditional: header only, no CHAP",
         [&](login_option_block *b) { return conditional_get_login_options(opts_, b, 0, 1, 0, 0); }, 0, false, 0x0C,
         1, 0},
        {"conditional: data and CHAP",
         [&](login_option_block *b) { return conditional_get_login_options(opts_, b, 2, 0, 1, 1); }, 0, true, 0x0C,
         0, 1},
        {"CHAP details off", [&](login_option_block *b) { return update_chap_details(opts_, b, 0); }, 0, false, 0x0C,
         0, 0},
        {"CHAP details on", [&](login_option_block *b) { return update_chap_details(opts_, b, 1); }, 0, true, 0x0C, 0,
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        login_option_block b = Block();
        EXPECT_EQ(c.fill(&b), c.rc);
        EXPECT_EQ(b.flags, c.flags);
        EXPECT_EQ(b.header_digest, c.header);
        EXPECT_EQ(b.data_digest, c.data);
        EXPECT_EQ(b.authentication, c.auth ? 1 : 0);
        EXPECT_EQ(b.mutual_chap, c.auth ? 1u : 0u);
        EXPECT_EQ(std::string(b.target_chap_name), c.auth ? "tchap" : "");
        EXPECT_EQ(b.initiator_secret_length, c.auth ? 12 : 0);
        if (!c.auth && c.flags == 0x0F) {
            EXPECT_EQ(bytes_of(b), defaults) << diff(bytes_of(b), defaults);
        }
    }
    // "None" and other methods leave the CHAP byte and the mutual word alone.
    Chap("None", "", "", "", "");
    login_option_block b = Block();
    b.authentication = 1;
    ASSERT_EQ(get_login_options(opts_, &b, 3), 0u);
    EXPECT_EQ(b.authentication, 1);
}

TEST_F(Records, DeleteRecordAndLogoutPayload)
{
    struct Case {
        const char *ip;
        uint8_t kind;
        Bytes address;
    } cases[] = {
        {"10.1.2.3", 1, {10, 1, 2, 3}},
        {"FE80:0000:0000:0000:0202:B3FF:FE1E:8329", 16,
         {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0x02, 0xB3, 0xFF, 0xFE, 0x1E, 0x83, 0x29}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ip);
        delete_persistent_record record;
        memset(&record, 0xAA, sizeof record);
        ASSERT_EQ(orsa_fill_delete_record(&record, "iqn.t", c.ip, "3260", 5, "iqn.i"), 0u);
        Bytes want(480, 0);
        put_text(want, 0, "iqn.t");
        put16(want, 224, 24);
        want[227] = c.kind;
        memcpy(&want[228], c.address.data(), c.address.size());
        put16(want, 248, 3260);
        put32(want, 252, 0x80000005);
        put_text(want, 256, "iqn.i");
        EXPECT_EQ(bytes_of(record), want) << diff(bytes_of(record), want);
    }
    delete_persistent_record record;
    EXPECT_EQ(orsa_fill_delete_record(&record, "iqn.t", nullptr, "3260", 5, "iqn.i"), 1u);
    EXPECT_EQ(orsa_fill_delete_record(nullptr, "iqn.t", "10.1.2.3", "3260", 5, "iqn.i"), 1u);

    logout_payload logout{0x12345678};
    EXPECT_EQ(bytes_of(logout), (Bytes{0x78, 0x56, 0x34, 0x12}));
}

TEST_F(Records, LoginAnswerReadBack)
{
    Bytes raw(1420, 0);
    put32(raw, 0, 0xCAFE0001);
    raw[5] = 1;
    put32(raw, 8, 0xBEEF0002);
    raw[16] = 0x05;  // InitialR2T and DataPDUInOrder set, ImmediateData and DataSequenceInOrder clear
    raw[17] = 1;
    put32(raw, 20, 4096);
    put32(raw, 24, 131072);
    put16(raw, 28, 1);
    put16(raw, 30, 2);
    put16(raw, 32, 3);
    put16(raw, 34, 15);
    raw[37] = 1;  // header digest
    raw[38] = 0;  // data digest
    put32(raw, 40, 8192);
    put32(raw, 48, 1460);
    put32(raw, 52, 64000);
    raw[56] = 1;
    put32(raw, 60, 1);
    login_answer answer;
    memcpy(&answer, raw.data(), sizeof answer);
    EXPECT_EQ(answer.session_handle, 0xCAFE0001u);
    EXPECT_EQ(answer.status_flags & 1, 1);
    EXPECT_EQ(answer.connection_handle, 0xBEEF0002u);

    HmNode *s = initialize_Session(target_, nullptr, nullptr, nullptr);
    ASSERT_NE(s, nullptr);
    HmNode *c = initialize_Connection(s, nullptr, nullptr, nullptr);
    ASSERT_NE(c, nullptr);
    HmNode *sn = G(s, "SessionNegotiatedLoginOptions"), *cn = G(c, "ConnectionNegotiatedLoginOptions");
    ASSERT_EQ(set_session_login_options(sn, &answer.session), 0u);
    const std::pair<const char *, const char *> session_values[] = {
        {"InitialR2T", "Yes"},         {"ImmediateData", "No"},      {"FirstBurstLength", "Irrelevant"},
        {"MaxConnections", "1"},       {"MaxBurstLength", "131072"}, {"MaxOutstandingR2T", "2"},
        {"DataPDUInOrder", "Yes"},     {"DataSequenceInOrder", "No"}, {"DefaultTime2Wait", "3"},
        {"DefaultTime2Retain", "15"},  {"ErrorRecoveryLevel", "1"},
    };
    for (const auto &v : session_values)
        EXPECT_EQ(Cached(sn, v.first), v.second) << v.first;
    answer.session.flags = 0x03;
    ASSERT_EQ(set_session_login_options(sn, &answer.session), 0u);
    EXPECT_EQ(Cached(sn, "FirstBurstLength"), "4096");

    // Every value the connection record names has its property.
    ASSERT_EQ(set_connection_login_options(cn, &answer.connection), 0u);
    const std::pair<const char *, const char *> connection_values[] = {
        {"HeaderDigest", "CRC32C"},
        {"DataDigest", "None"},
        {"MaxSendDataSegmentLength", "8192"},
        {"TCPMSS", "1460"},
        {"AuthenticationMethod", "Mutual CHAP"},
    };
    for (const auto &v : connection_values)
        EXPECT_EQ(Cached(cn, v.first), v.second) << v.first;
    answer.connection.mutual_chap = 7;  // no method of that pair: nothing written
    ASSERT_EQ(set_connection_login_options(cn, &answer.connection), 0u);
    EXPECT_EQ(Cached(cn, "AuthenticationMethod"), "Mutual CHAP");
    EXPECT_EQ(set_session_login_options(nullptr, &answer.session), 1u);
    EXPECT_EQ(set_connection_login_options(sn, &answer.connection), 1u) << "not a connection's group";
}

TEST_F(Records, IsidQualifiersOfTheWholeTree)
{
    EXPECT_EQ(check_for_isid_existence(0), 0u);
    EXPECT_EQ(generate_isid_qualifier(), 0u) << "no session";
    HmNode *t1 = Target(lhba_[1], "iqn.b", {{"10.0.0.2", "3260"}});
    const char *qualifiers[] = {"0", "1", "3", "a"};
    HmNode *targets[] = {target_, target_, t1, t1};
    HmNode *last = nullptr;
    for (int i = 0; i < 4; i++) {
        last = initialize_Session(targets[i], nullptr, nullptr, nullptr);
        ASSERT_NE(last, nullptr);
        Cache(last, "ISIDQualifier", qualifiers[i]);
    }
    struct Case {
        uint32_t qualifier, want;
    } cases[] = {{0, 1}, {1, 1}, {2, 0}, {3, 1}, {10, 1}, {0x10003, 1}, {0x10002, 0}, {0xFFFF, 0}};
    for (const Case &c : cases)
        EXPECT_EQ(check_for_isid_existence(c.qualifier), c.want) << c.qualifier;
    EXPECT_EQ(generate_isid_qualifier(), 2u);
    // A session without the property takes every qualifier.
    ASSERT_EQ(delete_node(internal_get_node(last, "ISIDQualifier", HM_KIND_PROPERTY)), 0u);
    EXPECT_EQ(check_for_isid_existence(2), 1u);
    EXPECT_EQ(generate_isid_qualifier(), 65535u);
}

}  // namespace
