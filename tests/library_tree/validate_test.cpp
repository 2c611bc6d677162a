/* The value rules as tables of texts and results. The library is 32-bit:
 * these run in the i386 build, where long is 32 bits wide. */
#include <gtest/gtest.h>
#include <string.h>

#include "tree/hm_engine.h"
#include "tree/orsa_api.h"

namespace {

TEST(Validate, BuiltFor32Bits)
{
    EXPECT_EQ(sizeof(long), 4u);
    EXPECT_EQ(sizeof(void *), 4u);
}

TEST(Validate, Integer)
{
    struct {
        const char *text;
        i32 min, max;
        u32 rc;
    } cases[] = {
        {"70000", 1024, 65535, 7},
        {"1024", 1024, 65535, 0},
        {"65535", 1024, 65535, 0},
        {"1023", 1024, 65535, 7},
        {"0x10", 0, 100, 0},     /* hexadecimal */
        {"0x10", 17, 100, 7},    /* 16 */
        {"010", 8, 8, 0},        /* octal */
        {"09", 0, 100, 6},       /* not octal */
        {"  42", 0, 100, 0},     /* leading blanks */
        {"+42", 0, 100, 0},
        {"-5", -10, 10, 0},
        {"42 ", 0, 100, 6},      /* characters after the number */
        {"4x", 0, 100, 6},
        {"", 0, 100, 6},
        {"abc", 0, 100, 6},
        {" ", 0, 100, 6},
        {"2147483647", 0, INT32_MAX, 0},
        {"2147483648", 0, INT32_MAX, 7},   /* overflows 32 bits */
        {"-2147483648", INT32_MIN, 0, 0},
        {"-2147483649", INT32_MIN, 0, 7},
        {"99999999999999999999", INT32_MIN, INT32_MAX, 7},
        {"0xFFFFFFFF", INT32_MIN, INT32_MAX, 7},
    };
    for (auto &c : cases)
        EXPECT_EQ(orsa_validate_val_integer(c.text, c.min, c.max), c.rc) << '"' << c.text << '"';
}

TEST(Validate, StringLength)
{
    struct {
        const char *text;
        i32 min, max;
        u32 rc;
    } cases[] = {
        {"abcde", 5, 32, 0}, {"abcd", 5, 32, 8}, {"", 0, 0, 0}, {"a", 0, 0, 8},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", 5, 32, 8},
    };
    for (auto &c : cases)
        EXPECT_EQ(orsa_validate_val_string(c.text, c.min, c.max), c.rc) << '"' << c.text << '"';
}

TEST(Validate, IPv4)
{
    struct {
        const char *text;
        u32 rc;
    } cases[] = {
        {"10.1.1.1", 0},    {"192.168.100.254", 0}, {"1..2.3", 0}, /* an empty field reads as 0 */
        {"127.0.0.1", 6},   {"255.1.1.1", 6},       {"0.0.0.0", 6},         {"255.255.255.255", 6},
        {"1.2.3", 6},       {"1.2.3.4.5", 6},       {"1.2.3.256", 6},       {"1.2.-3.4", 6},
        {"1.2.3.4x", 6},    {"1111.2.3.4", 6},      {"10.10.10.10.", 6},    {"", 6},
        {"100.100.100.1000", 6}, /* 16 characters */
    };
    for (auto &c : cases) {
        char text[64];
        strcpy(text, c.text);
        EXPECT_EQ(orsa_validate_ip(text), c.rc) << '"' << c.text << '"';
        EXPECT_EQ(orsa_validate(text, "", HM_TYPE_IPADDR, 0, 0), c.rc) << '"' << c.text << '"';
    }
}

TEST(Validate, IPv6IsNormalisedInPlace)
{
    struct {
        const char *text;
        u32 rc;
        const char *after; /* the buffer after a valid text */
    } cases[] = {
        {"fe80::1", 0, "FE80:0000:0000:0000:0000:0000:0000:0001"},
        {"1::", 0, "0001:0000:0000:0000:0000:0000:0000:0000"},
        {"1:2:3:4:5:6:7:8", 0, "0001:0002:0003:0004:0005:0006:0007:0008"},
        {"abcd:EF01::2:3", 0, "ABCD:EF01:0000:0000:0000:0000:0002:0003"},
        {"1:2:3:4::5:6:7", 0, "0001:0002:0003:0004:0000:0005:0006:0007"},
        {"::1", 6, nullptr},           /* begins with the compressed run */
        {"12345::1", 6, nullptr},      /* five digits */
        {"1::2::3", 6, nullptr},       /* two compressed runs */
        {"1:2:3:4:5:6:7", 6, nullptr}, /* seven groups, no run */
        {"1:2:3:4:5:6:7:8:9", 6, nullptr},
        {"fe80::g", 6, nullptr},
        {"fe80:::1", 6, nullptr},
        {"1:2:3:4:5:6:7:", 6, nullptr},
        {":1:2:3:4:5:6:7", 6, nullptr},
    };
    for (auto &c : cases) {
        char text[64];
        strcpy(text, c.text);
        EXPECT_EQ(orsa_validate_ip(text), c.rc) << c.text;
        if (c.after != nullptr) {
            EXPECT_STREQ(text, c.after);
        }
    }
    char empty[40] = "";
    EXPECT_EQ(orsa_validate_ipv6(empty), 6u);
}

TEST(Validate, SubnetMask)
{
    struct {
        const char *text;
        u32 rc;
    } cases[] = {
        {"255.255.255.0", 0}, {"255.255.255.255", 0}, {"128.0.0.0", 0},    {"255.255.254.0", 0},
        {"255.0.255.0", 6},   {"0.0.0.0", 6},         {"255.255.255", 6},  {"255.255.255.0.0", 6},
        {"256.0.0.0", 6},     {"255.255.255.1", 6},   {"0.255.255.255", 6}, {"255.255.255.0000", 6},
        {"255.255.255.0x", 0}, /* characters after a part's digits are ignored */
    };
    for (auto &c : cases)
        EXPECT_EQ(orsa_validate_subnetmask(c.text), c.rc) << '"' << c.text << '"';
}

TEST(Validate, ListAndDispatch)
{
    struct {
        const char *text, *list;
        u32 rc;
    } cases[] = {
        {"on", "On,Off", 0}, {"OFF", "On,Off", 0}, {"O", "On,Off", 6}, {"On,Off", "On,Off", 6},
        {"", "", 0},         {"x", "", 6},         {"", "On,Off", 6},
    };
    for (auto &c : cases)
        EXPECT_EQ(orsa_validate_list(c.text, c.list), c.rc) << c.text << " in " << c.list;

    char text[64] = "anything";
    EXPECT_EQ(orsa_validate(text, "", 5, 0, 0), 0u); /* a type beyond 4 is valid */
    EXPECT_EQ(orsa_validate(text, "a,b", HM_TYPE_LIST, 0, 0), 6u);
    EXPECT_EQ(orsa_validate(text, "", HM_TYPE_STRING, 1, 4), 8u);
    EXPECT_EQ(orsa_validate(text, "", HM_TYPE_INTEGER, 1, 4), 6u);
    EXPECT_EQ(orsa_validate(text, "", HM_TYPE_SUBNETMASK, 1, 4), 6u);
}

} // namespace
