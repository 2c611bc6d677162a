// The address and name texts: IPv6 normalisation and refusals, the
// compressed IPv6 text and the byte form, IPv4 check kinds and masks, iSCSI
// names.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "iscsi/iscsi_addr.h"
#include "tree/hm_status.h"

namespace {

struct Bytes {
    u8 b[16];
};

Bytes bytes(std::initializer_list<unsigned> groups)
{
    Bytes out{};
    int g = 0;
    for (unsigned v : groups) {
        out.b[2 * g] = (u8)(v >> 8);
        out.b[2 * g + 1] = (u8)v;
        g++;
    }
    return out;
}

TEST(IPv6Text, NormalisesValidTextsInPlaceToTheFullForm)
{
    struct Case {
        const char *text;
        const char *full;
    } cases[] = {
        {"fe80::1", "FE80:0000:0000:0000:0000:0000:0000:0001"},
        {"1::", "0001:0000:0000:0000:0000:0000:0000:0000"},
        {"1:2::3", "0001:0002:0000:0000:0000:0000:0000:0003"},
        {"0::", ORSA_IPV6_ZERO_TEXT},
        {"0:0:0:0:0:0:0:0", ORSA_IPV6_ZERO_TEXT},
        {"0::1", "0000:0000:0000:0000:0000:0000:0000:0001"},
        {"2001:db8:0:0:1:2:3:4", "2001:0DB8:0000:0000:0001:0002:0003:0004"},
        {"1:2:3:4:5:6:7::", "0001:0002:0003:0004:0005:0006:0007:0000"},
        {"1::3:4:5:6:7:8", "0001:0000:0003:0004:0005:0006:0007:0008"},
        {"abcd:EF01:2345:6789:aBcD:ef01:2345:6789", "ABCD:EF01:2345:6789:ABCD:EF01:2345:6789"},
        {"FE80:0000:0000:0000:0000:0000:0000:0001", "FE80:0000:0000:0000:0000:0000:0000:0001"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        char buf[ORSA_IPV6_TEXT_SIZE];
        snprintf(buf, sizeof buf, "%s", c.text);
        EXPECT_EQ(validateIPv6Address(buf), 0u);
        EXPECT_STREQ(buf, c.full);
        // The full form is valid and stays as it is.
        EXPECT_EQ(validateIPv6Address(buf), 0u);
        EXPECT_STREQ(buf, c.full);
    }
}

TEST(IPv6Text, RefusesWhatIsNoAddress)
{
    const char *cases[] = {
        "",                                          // empty
        "::1",                                       // opens with a double colon
        "::",                                        // the same
        ":1:2:3:4:5:6:7",                            // a lone colon at the start
        "1:2:3:4:5:6:7:",                            // a lone colon at the end
        "1::2::3",                                   // two double colons
        "1:::2",                                     // three colons
        "12345::1",                                  // a group of five digits
        "1::12345",                                  // also as the last group
        "1:2:3:4:5:6:7:8:9",                         // a ninth group
        "1:2:3:4:5:6:7:8::",                         // eight groups and a run
        "1::2:3:4:5:6:7:8",                          // the same, run inside
        "1:2:3:4:5:6:7",                             // seven groups, no run
        "fe80::g",                                   // not a hexadecimal digit
        "fe80::1.2",                                 // a dot
        "fe80::1 ",                                  // a blank
        "0000:0000:0000:0000:0000:0000:0000:00001",  // longer than the full form
        "FE80:0000:0000:0000:0000:0000:0000:0001:",  // the full form and a colon
    };
    for (const char *text : cases) {
        SCOPED_TRACE(text);
        char buf[64];
        snprintf(buf, sizeof buf, "%s", text);
        EXPECT_EQ(validateIPv6Address(buf), (u32)ORSA_STATUS_INVALID_VALUE);
    }
}

TEST(IPv6Text, UpperCasesTheCallersBufferAndNeverWritesPastFortyBytes)
{
    // A valid text with lower-case letters is upper-cased where it stands.
    char buf[ORSA_IPV6_TEXT_SIZE + 8];
    memset(buf, '#', sizeof buf);
    snprintf(buf, ORSA_IPV6_TEXT_SIZE, "fe80::abc");
    ASSERT_EQ(validateIPv6Address(buf), 0u);
    EXPECT_STREQ(buf, "FE80:0000:0000:0000:0000:0000:0000:0ABC");
    for (size_t i = ORSA_IPV6_TEXT_SIZE; i < sizeof buf; i++)
        EXPECT_EQ(buf[i], '#') << "byte " << i;
    // An invalid one is upper-cased, not rewritten.
    char bad[ORSA_IPV6_TEXT_SIZE] = "fe80::ab::1";
    EXPECT_EQ(validateIPv6Address(bad), (u32)ORSA_STATUS_INVALID_VALUE);
    EXPECT_STREQ(bad, "FE80::AB::1");
}

TEST(IPv6Text, CompressedTextOfSixteenBytes)
{
    struct Case {
        Bytes address;
        const char *text;
    } cases[] = {
        {bytes({0, 0, 0, 0, 0, 0, 0, 0}), ""},
        {bytes({1, 0, 2, 0, 0, 0, 0, 3}), "1::2:0:0:0:0:3"},  // only the first zero group is compressed
        {bytes({0, 0, 0, 0, 0, 0, 0, 1}), "0::1"},             // never opens with "::"
        {bytes({0xfe80, 0, 0, 0, 0, 0, 0, 1}), "fe80::1"},
        {bytes({1, 0, 0, 0, 0, 0, 0, 0}), "1::"},
        {bytes({0, 1, 0, 0, 0, 0, 0, 0}), "0:1::"},
        {bytes({0x2001, 0xdb8, 0x12, 0x100, 0xffff, 0x1, 0xa, 0xabc}), "2001:db8:12:100:ffff:1:a:abc"},
        {bytes({1, 0, 0, 2, 0, 0, 0, 0}), "1::2:0:0:0:0"},
        {bytes({1, 0, 2, 3, 4, 5, 6, 0}), "1::2:3:4:5:6:0"},
        // The case left open: the only zero group is the last. It opens the
        // run and ends it, so the text names every group.
        {bytes({1, 2, 3, 4, 5, 6, 7, 0}), "1:2:3:4:5:6:7::"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        char out[ORSA_IPV6_TEXT_SIZE];
        memset(out, 'x', sizeof out);
        U8IPv6ToStr(c.address.b, out);
        EXPECT_STREQ(out, c.text);
        // Every text but the empty one normalises and packs back to the same bytes.
        if (c.text[0] != '\0') {
            ASSERT_EQ(validateIPv6Address(out), 0u) << out;
            u8 back[16];
            ASSERT_EQ(StrToU8IPv6(out, back), 0u);
            EXPECT_EQ(memcmp(back, c.address.b, 16), 0) << out;
        }
    }
}

TEST(IPv6Text, PacksTheDigitsOfTheFullForm)
{
    char text[ORSA_IPV6_TEXT_SIZE] = "FE80:0000:0000:0000:0000:0000:1234:ABCD";
    u8 out[16];
    memset(out, 0xEE, sizeof out);
    ASSERT_EQ(StrToU8IPv6(text, out), 0u);
    Bytes want = bytes({0xfe80, 0, 0, 0, 0, 0, 0x1234, 0xabcd});
    EXPECT_EQ(memcmp(out, want.b, 16), 0);
    // An empty text is first replaced by "0::": the all-zero address.
    char empty[ORSA_IPV6_TEXT_SIZE] = "";
    memset(out, 0xEE, sizeof out);
    ASSERT_EQ(StrToU8IPv6(empty, out), 0u);
    EXPECT_STREQ(empty, "0::");
    for (u8 b : out)
        EXPECT_EQ(b, 0);
    EXPECT_EQ(StrToU8IPv6(nullptr, out), 1u);
}

TEST(IPv6Text, AddressTextByKind)
{
    Bytes v4{};
    v4.b[0] = 10, v4.b[1] = 1, v4.b[2] = 2, v4.b[3] = 254, v4.b[4] = 9;
    Bytes v6 = bytes({0xfe80, 0, 0, 0, 0, 0, 0, 1});
    Bytes zero{};
    struct Case {
        const u8 *address;
        u32 kind;
        const char *text;
    } cases[] = {
        {v4.b, 0, "0.0.0.0"},
        {v4.b, 1, "10.1.2.254"},
        {v4.b, 2, "10.1.2.254"},
        {v4.b, 5, "10.1.2.254"},
        {v6.b, 16, "FE80:0000:0000:0000:0000:0000:0000:0001"},
        {v6.b, 48, "FE80:0000:0000:0000:0000:0000:0000:0001"},
        {zero.b, 16, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.kind);
        char out[ORSA_IPV6_TEXT_SIZE];
        ipaddr_to_string(c.address, out, c.kind);
        EXPECT_STREQ(out, c.text);
    }
}

TEST(IPv4Text, CheckKinds)
{
    struct Case {
        const char *text;
        u32 kind;
        u32 valid;
    } cases[] = {
        // kind 1, the host address
        {"0.1.2.3", 1, 1},
        {"10.1.2.3", 1, 1},
        {"127.0.0.1", 1, 0},
        {"255.1.1.1", 1, 0},
        {"0.0.0.0", 1, 0},
        {"255.255.255.255", 1, 0},
        {"1.2.3", 1, 0},
        {"1.2.3.4.5", 1, 0},
        {"1..2.3", 1, 0},
        {"1.2.3.", 1, 0},
        {"01.02.03.004", 1, 1},
        {"1.2.3.256", 1, 0},
        {".1.2.3", 1, 1},
        {"1.2.3.4a", 1, 0},
        {"1.2.-3.4", 1, 0},
        {" 1.2.3.4", 1, 0},
        {"", 1, 0},
        {"999999999999999", 1, 0},
        // Longer than 15 characters: refused, not judged on its first 15.
        {"192.168.100.1009", 1, 0},
        {"010.001.002.0003", 1, 0},
        // kind 0
        {"0.0.0.0", 0, 0},
        {"127.0.0.1", 0, 1},
        {"255.255.255.255", 0, 1},
        // kind 2
        {"10.1.2.3", 2, 1},
        {"10.1.2.0", 2, 0},
        {"10.1.2.255", 2, 0},
        {"0.0.1.2", 2, 0},
        {"0.1.1.2", 2, 1},
        {"127.1.1.2", 2, 0},
        // kind 3
        {"10.1.2.0", 3, 1},
        {"224.0.0.1", 3, 0},
        {"247.1.1.1", 3, 0},
        {"248.1.1.1", 3, 1},
        {"223.1.1.1", 3, 1},
        {"10.1.2.255", 3, 0},
        {"0.0.1.1", 3, 0},
        // kind 4
        {"0.0.0.0", 4, 1},
        {"255.255.255.255", 4, 1},
        {"1.2.3", 4, 0},
        // an unknown kind
        {"10.1.2.3", 6, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.text) + " kind " + std::to_string(c.kind));
        u8 octets[16];
        EXPECT_EQ(validateIPAddress(c.text, octets, c.kind), c.valid);
    }
    EXPECT_EQ(validateIPAddress(nullptr, nullptr, 1), 0u);
}

TEST(IPv4Text, OctetsAsParsedAndOnlyFourBytesWritten)
{
    u8 octets[8];
    memset(octets, 0xEE, sizeof octets);
    ASSERT_EQ(validateIPAddress("01.02.03.004", octets, 1), 1u);
    EXPECT_EQ(octets[0], 1);
    EXPECT_EQ(octets[1], 2);
    EXPECT_EQ(octets[2], 3);
    EXPECT_EQ(octets[3], 4);
    for (int i = 4; i < 8; i++)
        EXPECT_EQ(octets[i], 0xEE);
    ASSERT_EQ(validateIPAddress(".1.2.3", octets, 1), 1u);
    EXPECT_EQ(octets[0], 0);
    EXPECT_EQ(octets[3], 3);
    // A caller that only wants the verdict passes no buffer.
    EXPECT_EQ(validateIPAddress("10.0.0.1", nullptr, 1), 1u);
}

TEST(IPv4Text, SubnetMasksMustBeContiguous)
{
    struct Case {
        const char *text;
        u32 valid;
    } cases[] = {
        {"255.255.255.0", 1},
        {"255.255.254.0", 1},
        {"255.255.255.255", 1},
        {"128.0.0.0", 1},
        {"255.255.255.252", 1},
        {"255.0.255.0", 0},
        // Changed from the algorithm's own example, which let it pass: the
        // ones of a mask are contiguous.
        {"255.254.254.0", 0},
        {"254.255.0.0", 0},
        {"255.255.0.1", 0},
        {"0.0.0.0", 0},
        {"0.255.255.255", 0},
        {"255.255.255", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        u8 octets[4];
        EXPECT_EQ(validateIPAddress(c.text, octets, ORSA_IPV4_MASK), c.valid);
    }
}

TEST(IscsiName, ChecksAndLowerCases)
{
    std::string longest = "iqn.2000-01.com.example:" + std::string(ORSA_ISCSI_NAME_MAX - 24, 'a');
    ASSERT_EQ(longest.size(), (size_t)ORSA_ISCSI_NAME_MAX);
    struct Case {
        std::string text;
        u32 result;
        const char *lowered;  // on success
    } cases[] = {
        {"iqn.2000-01.com.example:init1", 0, "iqn.2000-01.com.example:init1"},
        {"IQN.2000-01.COM.Example:Init-1", 0, "iqn.2000-01.com.example:init-1"},
        {"eui.02004567A425678D", 0, "eui.02004567a425678d"},
        {longest, 0, nullptr},
        {longest + "a", 1, nullptr},  // one past the field: refused, not cut
        {"iqn.2000-01.com.example:init_1", 1, nullptr},
        {"iqn.2000-01.com.example: init1", 1, nullptr},
        {"iqn.2000-01.com.example:init,1", 1, nullptr},
        {"", 1, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        orsa_reset_last_status();
        char out[ORSA_ISCSI_NAME_SIZE];
        EXPECT_EQ(validateISCSIName(c.text.c_str(), out), c.result);
        if (c.result == 0) {
            EXPECT_EQ(orsa_last_status_code, 0u);
            EXPECT_STREQ(out, c.lowered != nullptr ? c.lowered : c.text.c_str());
        } else {
            EXPECT_EQ(orsa_last_status_code, (u32)ORSA_STATUS_INVALID_ISCSI_NAME);
            EXPECT_STREQ(orsa_last_status_string, "Invalid iSCSI name. Please use valid iSCSI name as per RFC 3722.");
        }
    }
    char out[ORSA_ISCSI_NAME_SIZE];
    EXPECT_EQ(validateISCSIName(nullptr, out), 1u);
    EXPECT_EQ(validateISCSIName("iqn.a", nullptr), 1u);
    orsa_reset_last_status();
}

}  // namespace
