// The texts of the multichannel code that need no adapter.
#include <gtest/gtest.h>

#include "config/cfg_multichannel.h"

namespace {

TEST(MultichannelTexts, SupportedTypesFromCapabilityBits)
{
    struct Case {
        u32 bits;
        const char *text;
    } cases[] = {
        {0x0, "N/A"},
        {0x1, "UMC"},
        {0x21, "vNIC2"},  // vNIC2 stands for UMC when both are offered
        {0x20, "vNIC2"},
        {0x1 | 0x8 | 0x200, "UMC,NPAR,HPUMC"},
        {0x7F9, "vNIC2,NPAR,vNIC1,UFP,HPUMC,HPFlex,HPFlexQBG"},
        {0x106, "N/A"},  // bits without a type
    };
    for (const Case &c : cases) {
        char out[HM_VALUE_SIZE];
        orsa_mc_types_text(c.bits, out);
        EXPECT_STREQ(out, c.text) << std::hex << c.bits;
    }
}

TEST(MultichannelTexts, SoftCapIsTenthsOfSpeedTimesShare)
{
    struct Case {
        u32 speed, share;
        const char *text;
    } cases[] = {
        {10, 25, "25"}, {1, 25, "2.5"}, {100, 100, "1000"}, {25, 3, "7.5"}, {40, 0, "0"},
        {100, 0xFFFFFFFFu, "42949672950"},  // all ones does not wrap
    };
    for (const Case &c : cases) {
        char out[HM_VALUE_SIZE];
        orsa_softcap_text(c.speed, c.share, out);
        EXPECT_STREQ(out, c.text) << c.speed << " x " << c.share;
    }
}

TEST(MultichannelTexts, ListEntriesAreComparedWhole)
{
    EXPECT_FALSE(orsa_list_has_entry("HPUMC", "UMC"));
    EXPECT_FALSE(orsa_list_has_entry("vNIC2,HPUMC", "NIC2"));
    EXPECT_TRUE(orsa_list_has_entry("vNIC2,HPUMC", "hpumc"));
    EXPECT_TRUE(orsa_list_has_entry("UMC,NPAR", "UMC"));
    EXPECT_FALSE(orsa_list_has_entry("UMC,NPAR", ""));
    EXPECT_FALSE(orsa_list_has_entry("UMC,NPAR", "UMC,NPAR"));
    EXPECT_FALSE(orsa_list_has_entry(nullptr, "UMC"));
}

}  // namespace
