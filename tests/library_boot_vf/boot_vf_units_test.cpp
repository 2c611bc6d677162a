// The texts, requests and decoders of NC-SI, network boot and VF settings,
// on buffers made here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backend/orsa_identity.h"
#include "config/cfg_boot_vf.h"
#include "config/cfg_ncsi.h"

namespace {

TEST(BootVfUnits, MacTexts)
{
    struct Case {
        const char *text;
        bool ok;
        std::vector<u8> bytes;
    } cases[] = {
        {"02:aa:bb:01:02:03", true, {0x02, 0xAA, 0xBB, 0x01, 0x02, 0x03}},
        {"02-AA-BB-01-02-03", true, {0x02, 0xAA, 0xBB, 0x01, 0x02, 0x03}},
        {"02:aa:bb:01:02:3", true, {0x02, 0xAA, 0xBB, 0x01, 0x02, 0x03}},
        {"2:a:b:1:2:3", true, {0x02, 0x0A, 0x0B, 0x01, 0x02, 0x03}},
        {"", false, {}},
        {"02:aa:bb:01:02", false, {}},
        {"02:aa:bb:01:02:03:04", false, {}},
        {"02:aa:bb:01:02:03:", false, {}},
        {"zz-zz-zz-zz-zz-zz", false, {}},
        {"02--aa-bb-01-02", false, {}},
        {"02-AA-BB-01-02-0345", false, {}},
        {"02 aa bb 01 02 03", false, {}},
        {"02:aa:bb:01:02:03 ", false, {}},
        {" 02:aa:bb:01:02:03", false, {}},
        {"0x2:aa:bb:01:02:03", false, {}},
    };
    for (const Case &c : cases) {
        u8 mac[6] = {9, 9, 9, 9, 9, 9};
        EXPECT_EQ(bootvf::parse_mac(c.text, mac), c.ok) << "'" << c.text << "'";
        std::vector<u8> want = c.ok ? c.bytes : std::vector<u8>(6, 9);   // a refused text leaves the bytes
        EXPECT_EQ(std::vector<u8>(mac, mac + 6), want) << c.text;
    }
}

TEST(BootVfUnits, IntegersReadAsTheTreeChecksThem)
{
    struct Case {
        const char *text;
        long min, max;
        bool ok;
        long value;
    } cases[] = {
        {"010", 0, 100, true, 8},     {"0x10", 0, 100, true, 16}, {" 20", 0, 100, true, 20},
        {"4094", 0, 4094, true, 4094}, {"4095", 0, 4094, false, 0}, {"-1", 0, 4094, false, 0},
        {"12a", 0, 4094, false, 0},   {"", 0, 4094, false, 0},    {"99999999999999999999", 0, 4094, false, 0},
    };
    for (const Case &c : cases) {
        long v = -7;
        EXPECT_EQ(bootvf::parse_int(c.text, c.min, c.max, &v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(BootVfUnits, VfTableEntriesAndItsSixtyEntryBound)
{
    std::vector<u8> t(ORSA_VF_TABLE_SIZE, 0);
    auto count = [&](u32 n) {
        t[12] = (u8)n;
        t[13] = (u8)(n >> 8);
        t[14] = (u8)(n >> 16);
        t[15] = (u8)(n >> 24);
    };
    u8 *e = &t[16 + 16 * 59];
    const u8 mac[6] = {0x02, 1, 2, 3, 4, 5};
    memcpy(e, mac, 6);
    e[6] = 0xFE;   // VLAN 4094
    e[7] = 0x0F;
    e[8] = 25;     // 250 Mb/s
    e[10] = 0;
    char out[HM_VALUE_SIZE];
    struct Case {
        u32 count, vf;
        const char *name, *want;
        bool written;
    } cases[] = {
        {60, 59, "MACAddress", "02:01:02:03:04:05", true},
        {60, 59, "VLANID", "4094", true},
        {60, 59, "TxRate", "250", true},
        {60, 59, "LinkStatus", "0", true},
        {64, 59, "VLANID", "4094", true},
        {64, 60, "VLANID", "N/A", true},
        {0xFFFFFFFF, 63, "TxRate", "N/A", true},
        {59, 59, "MACAddress", "N/A", true},
        {60, 59, "PortSpeed", "untouched", false},
    };
    for (const Case &c : cases) {
        count(c.count);
        snprintf(out, sizeof out, "%s", "untouched");
        EXPECT_EQ(bootvf::vf_text(t.data(), t.size(), c.vf, c.name, out), c.written) << c.name;
        EXPECT_STREQ(out, c.want) << c.count << "/" << c.vf << " " << c.name;
    }
    count(1000);
    EXPECT_EQ(bootvf::vf_count(t.data(), t.size()), 60u);
    EXPECT_EQ(bootvf::vf_count(t.data(), 16 + 16 * 3 + 8), 3u);
    EXPECT_EQ(bootvf::vf_count(t.data(), 10), 0u);
}

TEST(BootVfUnits, RequestsCarryOnlyTheirOwnFields)
{
    u8 r[ORSA_OEM_EXEC_SIZE];
    memset(r, 0xEE, sizeof r);
    const u8 mac[6] = {0x02, 0xAA, 0xBB, 1, 2, 3};
    bootvf::oem_mac_request(r, mac);
    std::vector<u8> want(48, 0);
    want[0] = 1;
    want[3] = 0x80;
    memcpy(&want[4], mac, 6);
    EXPECT_EQ(std::vector<u8>(r, r + 48), want);

    memset(r, 0xEE, sizeof r);
    bootvf::oem_vlan_request(r, 4095, 7);
    want.assign(48, 0);
    want[0] = 2;
    want[3] = 0x80;
    want[12] = 0xFF;
    want[13] = 0x0F;
    want[14] = 7;
    want[15] = 0x80;
    EXPECT_EQ(std::vector<u8>(r, r + 48), want);

    u8 boot[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    bootvf::set_boot(boot, true, false);
    EXPECT_EQ(std::vector<u8>(boot, boot + 8), (std::vector<u8>{1, 9, 9, 2, 9, 9, 9, 9}));
    bootvf::set_boot(boot, false, true);
    EXPECT_EQ(std::vector<u8>(boot, boot + 8), (std::vector<u8>{0, 9, 9, 0, 9, 9, 9, 9}));
}

TEST(BootVfUnits, NcsiTexts)
{
    EXPECT_STREQ(ncsi::yes_no(1), "Yes");
    EXPECT_STREQ(ncsi::yes_no(0), "No");
    EXPECT_EQ(ncsi::yes_no(2), nullptr);

    std::vector<u8> a(540, 'x');
    const u8 v[10] = {1, 0, 2, 0, 3, 0, 4, 0, 0x2C, 0x01};
    memcpy(&a[80], v, 10);
    char out[HM_VALUE_SIZE];
    ncsi::version_text(ORSA_ASIC_KS2, a.data(), a.size(), out);
    EXPECT_STREQ(out, "1.2.3.4-300");
    // KS3: the text, however far the adapter left it unterminated.
    memset(&a[80], 'x', 10);
    ncsi::version_text(ORSA_ASIC_KS3, a.data(), a.size(), out);
    EXPECT_EQ(std::string(out).size(), 32u);
    ncsi::version_text(ORSA_ASIC_KS3, a.data(), 85, out);
    EXPECT_EQ(std::string(out).size(), 5u);
    ncsi::version_text(ORSA_ASIC_VESKARN, a.data(), a.size(), out);
    EXPECT_STREQ(out, "N/A");

    u8 block[ORSA_NCSI_BLOCK_SIZE] = {};
    block[11] = 0x06;
    EXPECT_TRUE(ncsi::apply(block, "EnableWOLPort0", "Yes"));
    EXPECT_EQ(block[11], 0x07);
    EXPECT_TRUE(ncsi::apply(block, "EnableWOLPort0", "maybe"));
    EXPECT_EQ(block[11], 0x07);
    EXPECT_TRUE(ncsi::apply(block, "EnableWOLPort0", "No"));
    EXPECT_EQ(block[11], 0x00);
    EXPECT_FALSE(ncsi::apply(block, "MgmtVLANId", "4096"));
    EXPECT_FALSE(ncsi::apply(block, "PortSwap", "Yes"));
}

}  // namespace
