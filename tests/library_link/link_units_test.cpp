// The speed code table, the speed lists of a PHY and the speed texts.
#include <gtest/gtest.h>

#include <string>

#include "config/cfg_link.h"

namespace {

TEST(LinkSpeedCodes, EveryRowReadsBackAsTheCodeItSets)
{
    for (u32 code = 1; code <= 23; code++) {
        const char *speed = orsa_speed_code_text(code);
        const char *mode = orsa_speed_code_mode(code);
        ASSERT_NE(speed, nullptr) << code;
        EXPECT_EQ(orsa_speed_code(mode, speed), code) << mode << " " << speed;
    }
    EXPECT_STREQ(orsa_speed_code_text(0), "All Supported Speeds");
    EXPECT_STREQ(orsa_speed_code_mode(0), "Default");
    EXPECT_EQ(orsa_speed_code_text(24), nullptr);
    EXPECT_STREQ(orsa_speed_code_mode(24), "Auto-Negotiate");
}

TEST(LinkSpeedCodes, PairsOfTheTable)
{
    struct Case {
        const char *mode, *speed;
        u32 code;
    } cases[] = {
        {"Default", "10Gb", 0},          {"default", "", 0},
        {"Force", "10Gb", 1},            {"force", "1GB", 2},
        {"Auto-Negotiate", "10Gb/1Gb", 6}, {"Force", "40Gb", 14},
        {"Auto-Negotiate", "40Gb", 15},  {"Force", "20Gb", 19},
        {"Auto-Negotiate", "20Gb/10Gb/1Gb", 23},
        {"Force", "10Gb/1Gb", 0},        // not a row: no code of its own
        {"Auto-Negotiate", "25Gb", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(orsa_speed_code(c.mode, c.speed), c.code) << c.mode << " " << c.speed;
}

TEST(LinkSpeedTexts, MasksAndValues)
{
    char out[HM_VALUE_SIZE];
    struct Mask {
        u32 mask;
        const char *want;
    } masks[] = {{0x0C, "1Gb,10Gb"}, {0, "0"}, {0x3F, "10Mb,100Mb,1Gb,10Gb,20Gb,40Gb"}, {0xC0, "0"}, {0x22, "100Mb,40Gb"}};
    for (const Mask &m : masks) {
        orsa_speed_mask_text(m.mask, out);
        EXPECT_STREQ(out, m.want) << m.mask;
    }
    struct Value {
        unsigned long long tenths;
        const char *want;
    } values[] = {{25000, "2.5Gb"}, {100000, "10Gb"}, {5000, "500Mb"}, {132000, "13.2Gb"}, {33, "3.3Mb"},
                  {0, "0Mb"},       {10000, "1Gb"},    {9990, "999Mb"}};
    for (const Value &v : values) {
        orsa_speed_text(v.tenths, out);
        EXPECT_STREQ(out, v.want) << v.tenths;
    }
    EXPECT_STREQ(orsa_physical_speed_text(0), "0 (Link Down)");
    EXPECT_STREQ(orsa_physical_speed_text(4), "10Gb");
    EXPECT_STREQ(orsa_physical_speed_text(8), "100Gb");
    EXPECT_STREQ(orsa_physical_speed_text(9), "0 (Link Down)");
}

}  // namespace
