// The NC-SI configuration of each generation as a client reads and changes
// it, with the adapter's attributes kept by the emulated firmware.
#include <array>

#include "boot_vf_fixture.h"
#include "config/cfg_ncsi.h"
#include "fw_cfg_boot.h"

namespace {

using Block = std::array<u8, 72>;

class Ncsi : public BootVfHost {
protected:
    // Attributes with NC-SI on, handshake 0 and distinct bytes everywhere
    // else, so that a block read from the wrong offset shows.
    static Block attributes(u8 state = 1, u8 handshake = 0)
    {
        Block b{};
        for (size_t i = 0; i < b.size(); i++)
            b[i] = (u8)(0xA0 + i);
        b[0] = state;
        b[1] = handshake;
        for (size_t base : {size_t(8), size_t(40)}) {
            u8 *s = &b[base];
            s[4] = base == 8 ? 1 : 0;                 // port swap
            const u8 m0[6] = {0x02, 0x11, 0x22, 0x33, 0x44, (u8)base};
            const u8 m1[6] = {0x02, 0x55, 0x66, 0x77, 0x88, (u8)base};
            memcpy(s + 5, m0, 6);
            s[11] = base == 8 ? 1 : 0;               // port 0 wake-on-LAN
            memcpy(s + 12, m1, 6);
            s[18] = base == 8 ? 0 : 1;               // port 1 wake-on-LAN
            s[20] = (u8)(base == 8 ? 100 : 200);     // management VLAN
            s[21] = 0;
        }
        return b;
    }
    static HmNode *ncsi(int a) { return group(controller(a), "NCSI"); }
    static HmNode *fixed(int a) { return get_first_instance(ncsi(a), "NCSIStaticConfiguration"); }
    static HmNode *user(int a) { return get_first_instance(ncsi(a), "NCSIDynamicConfiguration"); }
};

TEST_F(Ncsi, EachGenerationShowsItsSupportAndOnlyKs2HasTheWakeOnLanGroups)
{
    struct Case {
        const char *what;
        int adapter;
        u8 state;
        const char *support, *handshake;
        unsigned commands;   // attribute reads of one NCSISupport read
        bool groups;
    } cases[] = {
        {"Pivard: nothing asked", kPivard, 1, "Not Supported", "N/A", 0, false},
        {"KS3 enabled", kKs3, 1, "Supported", "N/A", 1, false},
        {"Veskarn enabled", kVeskarn, 1, "Supported", "N/A", 1, false},
        {"KS3 disabled", kKs3, 0, "Not Supported", "N/A", 1, false},
        {"KS2 enabled", kKs2, 1, "Supported", "Success", 1, true},
        {"KS2 disabled", kKs2, 2, "Not Supported", "N/A", 1, true},
    };
    for (const Case &c : cases) {
        if (c.adapter != kPivard)
            adapter::setNcsiAttributes(fw(c.adapter), attributes(c.state));
        host_->clearLog();
        u32 rc = 99;
        EXPECT_EQ(get(ncsi(c.adapter), "NCSISupport", &rc), c.support) << c.what;
        EXPECT_EQ(rc, 0u) << c.what;
        EXPECT_EQ(cached(ncsi(c.adapter), "NCSIKSHandShake"), c.handshake) << c.what;
        EXPECT_EQ(sent(1, 86).size(), c.commands) << c.what;
        // Made at start-up, when NC-SI was on, on KS2 alone.
        EXPECT_EQ(fixed(c.adapter) != nullptr, c.groups) << c.what;
        EXPECT_EQ(user(c.adapter) != nullptr, c.groups) << c.what;
    }
    // A failing read keeps the texts and answers the command's failure.
    fw(kKs3).setFault(1, 86, {.status = 1});
    u32 rc = 0;
    get(ncsi(kKs3), "NCSISupport", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(cached(ncsi(kKs3), "NCSISupport"), "Not Supported");
}

TEST_F(Ncsi, OneStaticReadRefreshesSixPropertiesAndTheTwoStatusTexts)
{
    adapter::setNcsiAttributes(fw(kKs2), attributes(1, 1));
    set_prop_val(ncsi(kKs2), "NCSISupport", "stale");
    set_prop_val(ncsi(kKs2), "NCSIKSHandShake", "stale");
    host_->clearLog();
    EXPECT_EQ(get(fixed(kKs2), "Port1MAC"), "02:55:66:77:88:08");
    EXPECT_EQ(sent(1, 86).size(), 1u);
    EXPECT_EQ(cached(fixed(kKs2), "PortSwap"), "Yes");
    EXPECT_EQ(cached(fixed(kKs2), "EnableWOLPort0"), "Yes");
    EXPECT_EQ(cached(fixed(kKs2), "Port0MAC"), "02:11:22:33:44:08");
    EXPECT_EQ(cached(fixed(kKs2), "EnableWOLPort1"), "No");
    EXPECT_EQ(cached(fixed(kKs2), "MgmtVLANId"), "100");
    EXPECT_EQ(cached(ncsi(kKs2), "NCSISupport"), "Supported");
    EXPECT_EQ(cached(ncsi(kKs2), "NCSIKSHandShake"), "Error");
    // The user block is filled only when its own group is read.
    EXPECT_EQ(cached(user(kKs2), "MgmtVLANId"), "0");
    EXPECT_EQ(get(user(kKs2), "MgmtVLANId"), "200");
    EXPECT_EQ(cached(user(kKs2), "EnableWOLPort1"), "Yes");
    EXPECT_EQ(cached(user(kKs2), "Port0MAC"), "02:11:22:33:44:28");

    // A wake-on-LAN byte other than 0 or 1 leaves the text as it was.
    Block b = attributes();
    b[8 + 11] = 7;
    adapter::setNcsiAttributes(fw(kKs2), b);
    EXPECT_EQ(get(fixed(kKs2), "EnableWOLPort0"), "Yes");
}

TEST_F(Ncsi, DynamicWritesChangeOnlyTheirBytes)
{
    struct Case {
        const char *property, *value;
        u8 byte11_before;
        size_t at;                 // offset in the 32-byte block
        std::vector<u8> want;      // bytes from `at`
    } cases[] = {
        {"EnableWOLPort0", "Yes", 0x06, 11, {0x07}},
        {"EnableWOLPort0", "No", 0x07, 11, {0x00}},
        {"EnableWOLPort1", "Yes", 0x00, 18, {0x01}},
        {"EnableWOLPort1", "No", 0x00, 18, {0x00}},
        {"Port0MAC", "02-AA-BB-01-02-03", 0x00, 5, {0x02, 0xAA, 0xBB, 0x01, 0x02, 0x03}},
        {"Port1MAC", "02:aa:bb:01:02:3f", 0x00, 12, {0x02, 0xAA, 0xBB, 0x01, 0x02, 0x3F}},
        {"MgmtVLANId", "4095", 0x00, 20, {0xFF, 0x0F}},
        {"MgmtVLANId", "0", 0x00, 20, {0x00, 0x00}},
    };
    for (const Case &c : cases) {
        Block b = attributes();
        b[40 + 11] = c.byte11_before;
        adapter::setNcsiAttributes(fw(kKs2), b);
        get(ncsi(kKs2), "NCSISupport");
        host_->clearLog();
        ASSERT_EQ(set(user(kKs2), c.property, c.value), 0u) << c.property << "=" << c.value;
        std::vector<std::vector<u8>> writes = sent(1, 87);
        ASSERT_EQ(writes.size(), 1u) << c.property;
        ASSERT_GE(writes[0].size(), 32u);
        // Every other byte of the block goes back as it was read.
        std::vector<u8> expect(b.begin() + 40, b.end());
        for (size_t i = 0; i < c.want.size(); i++)
            expect[c.at + i] = c.want[i];
        EXPECT_EQ(std::vector<u8>(writes[0].begin(), writes[0].begin() + 32), expect) << c.property << "=" << c.value;
        EXPECT_EQ(cached(user(kKs2), c.property), c.value);
        // The firmware keeps it.
        EXPECT_TRUE(std::equal(expect.begin(), expect.end(), adapter::ncsiAttributes(fw(kKs2)).begin() + 40));
    }
}

TEST_F(Ncsi, DynamicWritesThatAreRefused)
{
    adapter::setNcsiAttributes(fw(kKs2), attributes());
    get(ncsi(kKs2), "NCSISupport");
    struct Case {
        const char *what, *property, *value;
        u32 status;
    } cases[] = {
        {"letters that are no hex digits", "Port0MAC", "zz-zz-zz-zz-zz-zz", 17},
        {"a field of three digits", "Port1MAC", "02-aa-bb-01-02345", 17},
        {"an empty field", "Port1MAC", "02--aa-bb-01-02-3", 17},
    };
    for (const Case &c : cases) {
        host_->clearLog();
        EXPECT_NE(set(user(kKs2), c.property, c.value), 0u) << c.what;
        EXPECT_EQ(last_code(), c.status) << c.what;
        EXPECT_TRUE(sent(1, 87).empty()) << c.what;
    }
    // 4096 is the tree's to refuse; nothing reaches the adapter.
    host_->clearLog();
    EXPECT_NE(set(user(kKs2), "MgmtVLANId", "4096"), 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_OUT_OF_RANGE);
    EXPECT_TRUE(sent(1, 86).empty());

    // The adapter refuses the write.
    fw(kKs2).setFault(1, 87, {.status = 1, .times = 1});
    EXPECT_NE(set(user(kKs2), "EnableWOLPort0", "Yes"), 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_NCSI_SET_FAILED);
    EXPECT_EQ(cached(user(kKs2), "EnableWOLPort0"), "No");   // nothing was taken

    // NC-SI switched off: 145 before any command.
    adapter::setNcsiAttributes(fw(kKs2), attributes(0));
    get(ncsi(kKs2), "NCSISupport");
    host_->clearLog();
    EXPECT_NE(set(user(kKs2), "EnableWOLPort0", "Yes"), 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_NCSI_DISABLED);
    EXPECT_TRUE(sent(1, 86).empty());
    EXPECT_TRUE(sent(1, 87).empty());

    // Inside a virtual function: 256.
    vm_flag = 1;
    EXPECT_NE(set(user(kKs2), "EnableWOLPort0", "Yes"), 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_VF_REFUSED);
    vm_flag = 0;
}

TEST_F(Ncsi, VersionOfEachGeneration)
{
    struct Case {
        int adapter;
        u8 state;
        const char *want;
        unsigned attribute_reads;
    } cases[] = {
        {kKs2, 1, "1.0.1.0-7", 1},
        {kKs3, 1, "1.1.0", 1},
        {kVeskarn, 1, "N/A", 0},
        {kKs3, 0, "N/A", 0},
        {kPivard, 1, "N/A", 0},
    };
    for (const Case &c : cases) {
        if (c.adapter != kPivard)
            adapter::setNcsiAttributes(fw(c.adapter), attributes(c.state));
        get(ncsi(c.adapter), "NCSISupport");
        host_->clearLog();
        u32 rc = 99;
        EXPECT_EQ(get(ncsi(c.adapter), "NCSIVersion", &rc), c.want) << c.adapter;
        EXPECT_EQ(rc, 0u);
        EXPECT_EQ(sent(1, 32).size(), c.attribute_reads) << c.adapter;
    }
    vm_flag = 1;
    u32 rc = 0;
    EXPECT_EQ(read_over(ncsi(kKs3), "NCSIVersion", "garbage", &rc), "N/A");
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_VF_REFUSED);
    vm_flag = 0;
}

}  // namespace
