// The SR-IOV decoders and request builders on replies made by hand.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>

#include <string>
#include <vector>

#include "config/cfg_personality.h"
#include "config/cfg_sriov.h"
#include "profile_fixture.h"

namespace {

TEST(SriovDecode, FunctionNumbersAndRecordTexts)
{
    struct Number {
        const char *text;
        bool ok;
        u32 want;
    } numbers[] = {{"0x1f", true, 31}, {"0X2", true, 2}, {"12", true, 12}, {"010", true, 8},
                   {"-1", false, 0},   {"0x1g", false, 0}, {"", false, 0},  {"abc", false, 0}};
    for (const Number &n : numbers) {
        u32 got = 99;
        EXPECT_EQ(sriov::parse_function(n.text, &got), n.ok) << n.text;
        if (n.ok) {
            EXPECT_EQ(got, n.want) << n.text;
        }
    }

    ProfileImage img;
    img.pcie(0, 1, 1, 1, 1, 0x00);  // change flag clear: the state does not apply
    img.pcie(1, 1, 1, 1, 0, 0x10);
    img.pcie(2, 1, 1, 1, 1, 0x10);
    img.pcie(3, 1, 1, 1, 7, 0x10);  // a state without a text
    auto *profile = (const ProfileConfig *)img.bytes.data();
    struct Case {
        u32 function;
        bool found;
        const char *want;  // none: the property stays
    } cases[] = {{0, true, "N/A"}, {1, true, "Disabled"}, {2, true, "Enabled"}, {3, true, nullptr},
                 {4, false, nullptr}};
    for (const Case &c : cases) {
        bool found = false;
        const char *got = sriov::from_profile(profile, c.function, &found);
        EXPECT_EQ(found, c.found) << c.function;
        EXPECT_STREQ(got, c.want) << c.function;
    }
}

// A 1092-byte table; each entry {function, pf_state, pf_type, sriov}.
std::vector<u8> ksTable(std::vector<std::vector<u8>> entries, u32 count = 0)
{
    std::vector<u8> t(ORSA_KS_CONF_V1_SIZE, 0);
    t[0] = (u8)(count != 0 ? count : entries.size());
    for (size_t i = 0; i < entries.size(); i++) {
        u8 *e = &t[4 + i * 68];
        e[4] = entries[i][0];
        e[5] = entries[i][1];
        e[6] = entries[i][2];
        e[12] = entries[i][3];
    }
    return t;
}

TEST(SriovDecode, LegacyTableEntries)
{
    struct Case {
        const char *what;
        std::vector<u8> table;
        const char *function;
        const char *want;
    } cases[] = {
        {"enabled", ksTable({{0, 0, 0, 1}}), "0x0", "Enabled"},
        {"disabled, case ignored", ksTable({{10, 0, 0, 0}}), "0XA", "Disabled"},
        {"not applicable", ksTable({{1, 0, 0, 255}}), "0x1", "N/A"},
        {"the first match stands", ksTable({{1, 0, 0, 1}, {1, 0, 0, 0}}), "0x1", "Enabled"},
        {"a storage function", ksTable({{2, 0, 1, 1}}), "0x2", "N/A"},
        {"a function in another state", ksTable({{0, 1, 0, 1}}), "0x0", "N/A"},
        {"no such function", ksTable({{0, 0, 0, 1}}), "0x3", "N/A"},
        {"decimal text is no match", ksTable({{10, 0, 0, 1}}), "10", "N/A"},
        {"beyond the count", ksTable({{0, 0, 0, 0}, {1, 0, 0, 1}}, 1), "0x1", "N/A"},
        // A count beyond the 16 entries: the 16 are read, nothing past them.
        {"a count beyond the table", ksTable({{0, 0, 0, 1}}, 200), "0x0", "Enabled"},
    };
    for (Case &c : cases)
        EXPECT_STREQ(sriov::ks_text(sriov::ks_entry(c.table.data(), c.table.size(), c.function)), c.want) << c.what;
}

TEST(SriovDecode, PivardCommonConfiguration)
{
    std::vector<u8> buf(sizeof(CommonProfileConfig), 0);
    auto *cfg = (CommonProfileConfig *)buf.data();
    auto entry = [&](u32 i, u16 pf, u8 type, u8 state, u8 sriov) {
        common_profile_entry &e = cfg->entries[i];
        e.kind = 64;
        e.pf = (u16)(pf | 0xFC00);  // bits 10-15 belong to other fields
        e.function_type = type;
        e.function_state = state;
        e.sriov_state = sriov;
    };
    entry(0, 0, 4, 1, 1);  // FCoE: not this road's
    entry(1, 0, 1, 1, 1);
    entry(2, 1, 1, 0, 1);  // disabled function
    entry(3, 1, 1, 1, 0);
    entry(4, 2, 1, 1, 9);
    cfg->entry_count = 5;
    struct Case {
        u32 count;
        const char *function;
        const char *want;
    } cases[] = {{5, "0x0", "Enabled"}, {5, "1", "Disabled"}, {5, "0x2", "N/A"}, {5, "0x3", "N/A"},
                 {5, "x", "N/A"},       {512, "0x0", "Enabled"}, {513, "0x0", "N/A"}};
    for (const Case &c : cases) {
        cfg->entry_count = c.count;
        EXPECT_STREQ(sriov::from_common_profile(cfg, c.function), c.want) << c.count << " " << c.function;
    }
}

TEST(SriovRequest, SingleRecordWrite)
{
    std::vector<u8> req(ORSA_SRIOV_REQUEST_SIZE, 0xEE);
    struct Case {
        const char *value;
        u8 state;
    } cases[] = {{"Disabled", 0}, {"disabled", 0}, {"Enabled", 1}, {"Other", 1}};
    for (const Case &c : cases) {
        ASSERT_EQ(sriov::build_single_request(req.data(), req.size(), 0x105, c.value), 96u);
        std::vector<u8> want(96, 0);
        want[4] = 1;  // one record
        u8 *r = &want[8];
        r[0] = 80;
        r[1] = 88;
        r[6] = 0x05;
        r[7] = 0x01;
        r[12] = c.state;
        r[13] = 255;
        r[14] = 1;
        EXPECT_EQ(std::vector<u8>(req.begin(), req.begin() + 96), want) << c.value;
        EXPECT_EQ(std::count(req.begin() + 96, req.end(), 0), (long)req.size() - 96) << "the rest is zero";
    }
    EXPECT_EQ(sriov::build_single_request(req.data(), 95, 0, "Enabled"), 0u);
}

// The configured profile lacks function 1: function 1 goes out as read with
// the option flag, absent; function 3, the record after the mismatch, goes
// out as configured.
TEST(SriovRequest, RewriteOfEveryFunctionWithTheMultichannelTypes)
{
    ProfileImage flagged, configured;
    flagged.port(0, 1);
    flagged.port(1, 1);
    for (u32 pf = 0; pf < 4; pf++) {
        u8 *r = flagged.pcie(pf, 1, 0x1, 1, 0, 0x10);
        r[40] = 0xF0;  // what only the flagged read shows
    }
    configured.port(0, 1);
    configured.port(1, 1);
    configured.pcie(0, 1, 0x1, 1, 0, 0x10)[3] = 0xC8;  // hidden, write flags set
    configured.function(ORSA_RES_NIC_FUNCTION, 0, 0);
    configured.pcie(2, 1, 0x3, 2, 1, 0x10)[16] = 4;
    u8 *last = configured.pcie(3, 1, 0x1, 1, 0, 0x10);
    last[40] = 0x33;

    sriov::RewriteEntry list[ORSA_SRIOV_MAX_FUNCTIONS];
    bool absent[ORSA_SRIOV_MAX_FUNCTIONS];
    u32 n = sriov::list_functions((const ProfileConfig *)flagged.bytes.data(), list, ORSA_SRIOV_MAX_FUNCTIONS);
    ASSERT_EQ(n, 4u);
    u32 ports = sriov::match_configured((const ProfileConfig *)configured.bytes.data(), list, absent, n);
    EXPECT_EQ(ports, 2u);
    EXPECT_EQ(std::vector<bool>(absent, absent + 4), std::vector<bool>({false, true, false, false}));

    std::vector<u8> req(8 + 88 * 4 + 68 + 10, 0xEE);
    ASSERT_EQ(sriov::build_rewrite(req.data(), req.size(), 7, list, absent, n, ports, 0, "Enabled"),
              8u + 88 * 4 + 68);
    EXPECT_EQ(std::vector<u8>(req.begin(), req.begin() + 8), std::vector<u8>({7, 0, 0, 0x80, 5, 0, 0, 0}));
    auto rec = [&](u32 i) { return &req[8 + 88 * i]; };
    for (u32 i = 0; i < 4; i++) {
        EXPECT_EQ(rec(i)[0], 80) << i;
        EXPECT_EQ(rec(i)[1], 88) << i;
        EXPECT_EQ(rec(i)[6], i) << "in the adapter's order";
        EXPECT_EQ(rec(i)[3] & 0xC0, 0) << i;
    }
    // The target: enabled with 255 VFs, its hidden flag kept.
    EXPECT_EQ(rec(0)[3], 0x08);
    EXPECT_EQ(rec(0)[12], 1);
    EXPECT_EQ(rec(0)[16], 255);
    EXPECT_EQ(rec(0)[17], 0);
    // Function 1 is absent from the configured profile.
    EXPECT_EQ(rec(1)[13], 0);
    EXPECT_EQ(rec(1)[14], 1);
    EXPECT_EQ(rec(1)[40], 0xF0);
    // Functions 2 and 3 as configured.
    EXPECT_EQ(rec(2)[14], 2);
    EXPECT_EQ(rec(2)[12], 1);
    EXPECT_EQ(rec(2)[16], 4);
    EXPECT_EQ(rec(3)[13], 1);
    EXPECT_EQ(rec(3)[40], 0x33) << "the record after a mismatch is matched too";
    // The multichannel types: code 1 for ports 0 and 1.
    const u8 *mc = rec(4);
    EXPECT_EQ(mc[0], 86);
    EXPECT_EQ(mc[1], 68);
    EXPECT_EQ(mc[52], 1);
    EXPECT_EQ(mc[53], 1);
    EXPECT_EQ(std::count(mc + 54, mc + 68, 0), 14);
    EXPECT_EQ(req[8 + 88 * 4 + 68], 0) << "the buffer beyond is cleared";

    // Disabled: no VFs; any other text changes nothing.
    ASSERT_NE(sriov::build_rewrite(req.data(), req.size(), 7, list, absent, n, ports, 2, "Disabled"), 0u);
    EXPECT_EQ(rec(2)[12], 0);
    EXPECT_EQ(rec(2)[16], 0);
    ASSERT_NE(sriov::build_rewrite(req.data(), req.size(), 7, list, absent, n, ports, 2, "Maybe"), 0u);
    EXPECT_EQ(rec(2)[12], 1);
    EXPECT_EQ(rec(2)[16], 4);
    // No function, or no room.
    EXPECT_EQ(sriov::build_rewrite(req.data(), req.size(), 7, list, absent, 0, ports, 0, "Enabled"), 0u);
    EXPECT_EQ(sriov::build_rewrite(req.data(), 8 + 88 * 4 + 67, 7, list, absent, n, ports, 0, "Enabled"), 0u);
}

TEST(SriovRequest, ForwardingPayloads)
{
    u8 get[16];
    sriov::hsw_get_payload(get, 0x102);
    EXPECT_EQ(std::vector<u8>(get, get + 16), std::vector<u8>({2, 1, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    u8 set[20];
    sriov::hsw_set_payload(set, 1, "Enabled");
    EXPECT_EQ(std::vector<u8>(set, set + 8), std::vector<u8>({1, 0, 0, 0x80, 0xC0, 0, 0, 0}));
    sriov::hsw_set_payload(set, 1, "Disabled");
    EXPECT_EQ(set[4], 0x80);
    EXPECT_EQ(set[5], 0);
    struct Case {
        u16 word;
        const char *want;
    } cases[] = {{3 << 6, "Enabled"}, {(3 << 6) | 0xFE3F, "Enabled"}, {2 << 6, "Disabled"}, {7 << 6, "Disabled"},
                 {0, "Disabled"}};
    for (const Case &c : cases) {
        u8 reply[16] = {(u8)c.word, (u8)(c.word >> 8)};
        EXPECT_STREQ(sriov::vepa_text(reply), c.want) << c.word;
    }
}

}  // namespace
