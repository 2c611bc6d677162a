// The semi-volatile MAC address, the network-boot VLAN, network boot and the
// KS3 native mode as a client reads and changes them, with the settings kept
// by the emulated firmware.
#include <array>

#include "boot_vf_fixture.h"
#include "config/cfg_boot_vf.h"
#include "fw_cfg_boot.h"
#include "fw_discovery.h"

namespace {

class NetBoot : public BootVfHost {
protected:
    static HmNode *boot(int a, int n = 0) { return group(nic(a, n), "NetworkBootConfiguration"); }
    static std::array<u8, 48> oem(u16 vlan, u8 priority, const std::array<u8, 6> &mac = {})
    {
        std::array<u8, 48> c{};
        c[0] = 0x03;
        memcpy(&c[4], mac.data(), 6);
        c[12] = (u8)vlan;
        c[13] = (u8)(vlan >> 8);
        c[14] = priority;
        c[15] = 0x80;
        return c;
    }
};

TEST_F(NetBoot, VolatileMacReadWrittenAndTheSameTextSendsNothing)
{
    adapter::setOemExecConfig(fw(kKs3), 1, oem(0, 0, {0x02, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}));
    EXPECT_EQ(get(boot(kKs3, 1), "VolatileMACAddress"), "02-0a-0b-0c-0d-0e");

    host_->clearLog();
    ASSERT_EQ(set(boot(kKs3, 1), "VolatileMACAddress", "02:AA:BB:01:02:03"), 0u);
    std::vector<std::vector<u8>> w = sent(21, 4);
    ASSERT_EQ(w.size(), 1u);
    std::vector<u8> want(48, 0);
    want[0] = 0x01;
    want[3] = 0x80;
    const u8 mac[6] = {0x02, 0xAA, 0xBB, 0x01, 0x02, 0x03};
    memcpy(&want[4], mac, 6);
    EXPECT_EQ(w[0], want);
    EXPECT_EQ(last_code(), 0u);   // no reboot notice
    EXPECT_EQ(get(boot(kKs3, 1), "VolatileMACAddress"), "02-aa-bb-01-02-03");
    // The firmware took only the address: the VLAN it kept stays.
    EXPECT_EQ(adapter::oemExecConfig(fw(kKs3), 1)[15], 0x80);

    // The text it shows, in another case: nothing is sent.
    host_->clearLog();
    EXPECT_EQ(set(boot(kKs3, 1), "VolatileMACAddress", "02-AA-BB-01-02-03"), 0u);
    EXPECT_EQ(last_code(), 0u);
    EXPECT_TRUE(sent(21, 4).empty());

    struct Refusal {
        const char *what, *value;
        u32 status;
    } refusals[] = {
        {"no hex digits", "zz-zz-zz-zz-zz-zz", 17},
        {"a trailing separator", "02-aa-bb-01-02-3-", 17},
    };
    for (const Refusal &r : refusals) {
        host_->clearLog();
        EXPECT_EQ(set(boot(kKs3, 1), "VolatileMACAddress", r.value), 1u) << r.what;
        EXPECT_EQ(last_code(), r.status) << r.what;
        EXPECT_TRUE(sent(21, 4).empty()) << r.what;
    }
    fw(kKs3).setFault(21, 4, {.status = 1, .times = 1});
    EXPECT_EQ(set(boot(kKs3, 1), "VolatileMACAddress", "02-aa-bb-01-02-04"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_VOLATILE_MAC_FAILED);
    vm_flag = 1;
    EXPECT_EQ(set(boot(kKs3, 1), "VolatileMACAddress", "02-aa-bb-01-02-04"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_VF_REFUSED);
    vm_flag = 0;
}

// KS2 keeps no OEM execution configuration: its reads answer "N/A" in the
// client's buffer (they used to leave whatever the client had there) and
// its writes are refused before any command.
TEST_F(NetBoot, Ks2AnswersNotAvailableInTheClientsBuffer)
{
    host_->clearLog();
    for (const char *name : {"VolatileMACAddress", "VLANId", "VLANPriority"}) {
        u32 rc = 99;
        EXPECT_EQ(read_over(boot(kKs2), name, "client text", &rc), "N/A") << name;
        EXPECT_EQ(rc, 0u) << name;
    }
    EXPECT_EQ(set(boot(kKs2), "VolatileMACAddress", "02-aa-bb-01-02-03"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_ADAPTER_UNSUPPORTED);
    EXPECT_EQ(act(boot(kKs2), "ConfigureVLAN", {"10", "1"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_ADAPTER_UNSUPPORTED);
    EXPECT_TRUE(sent(21, 4).empty());
}

TEST_F(NetBoot, ConfigureVlanKeepsThePriority)
{
    adapter::setOemExecConfig(fw(kKs3), 0, oem(100, 5));
    EXPECT_EQ(get(boot(kKs3), "VLANId"), "100");
    EXPECT_EQ(cached(boot(kKs3), "VLANPriority"), "5");

    struct Case {
        const char *what;
        const char *vlan, *priority;
        u8 adapter_priority;   // what the adapter holds before the action
        u16 want_vlan;
        u8 want_priority;
    } cases[] = {
        {"priority given", "10", "3", 5, 10, 3},
        {"priority not given: the one shown", "20", nullptr, 3, 20, 3},
        // Changed behind the tree's back: the adapter's priority is kept,
        // not the text the tree last showed.
        {"priority not given, changed elsewhere", "4095", nullptr, 6, 4095, 6},
    };
    for (const Case &c : cases) {
        adapter::setOemExecConfig(fw(kKs3), 0, oem(1, c.adapter_priority));
        host_->clearLog();
        ASSERT_EQ(act(boot(kKs3), "ConfigureVLAN", {c.vlan, c.priority}), 0u) << c.what;
        std::vector<std::vector<u8>> w = sent(21, 4);
        ASSERT_FALSE(w.empty()) << c.what;
        std::vector<u8> want(48, 0);
        want[0] = 0x02;
        want[3] = 0x80;
        want[12] = (u8)c.want_vlan;
        want[13] = (u8)(c.want_vlan >> 8);
        want[14] = c.want_priority;
        want[15] = 0x80;
        EXPECT_EQ(w.back(), want) << c.what;
        EXPECT_EQ(get(boot(kKs3), "VLANId"), std::to_string(c.want_vlan)) << c.what;
        EXPECT_EQ(get(boot(kKs3), "VLANPriority"), std::to_string(c.want_priority)) << c.what;
    }
    fw(kKs3).setFault(21, 4, {.status = 1});
    EXPECT_EQ(act(boot(kKs3), "ConfigureVLAN", {"10", "1"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_VLAN_PRIORITY_FAILED);
    fw(kKs3).clearFault(21, 4);
    vm_flag = 1;
    EXPECT_EQ(act(boot(kKs3), "ConfigureVLAN", {"10", "1"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_VF_REFUSED);
    vm_flag = 0;
}

TEST_F(NetBoot, SetNetworkBootBytePatterns)
{
    struct Case {
        const char *what;
        int adapter;
        const char *state, *method;
        u32 status;     // 0: written
        u8 byte0, byte3;
    } cases[] = {
        {"disabled, no method", kKs3, "Disabled", nullptr, 0, 0, 0},
        {"enabled with PXE", kKs3, "Enabled", "PXE", 0, 1, 1},
        {"disabled with a method", kVeskarn, "Disabled", "iBFT", 0, 0, 0},
        {"enabled with iBFT on Pivard", kPivard, "Enabled", "iBFT", 0, 1, 2},
        {"enabled with iBFT elsewhere", kKs3, "Enabled", "iBFT", ORSA_STATUS_NETBOOT_METHOD_UNSUPPORTED, 0, 0},
        {"enabled without a method", kVeskarn, "Enabled", nullptr, ORSA_STATUS_NETBOOT_METHOD_MISSING, 0, 0},
    };
    for (const Case &c : cases) {
        const std::array<u8, 8> before = {0x55, 9, 1, 0x55, 4, 5, 6, 7};
        adapter::setBootConfig(fw(c.adapter), 0, before);
        host_->clearLog();
        u32 rc = act(boot(c.adapter), "SetNetworkBoot", {c.state, c.method});
        std::vector<std::vector<u8>> w = sent(1, 67);
        if (c.status != 0) {
            EXPECT_EQ(rc, 1u) << c.what;
            EXPECT_EQ(last_code(), c.status) << c.what;
            EXPECT_TRUE(w.empty()) << c.what;
            EXPECT_EQ(adapter::bootConfig(fw(c.adapter), 0), before) << c.what;
            continue;
        }
        ASSERT_EQ(rc, 0u) << c.what;
        ASSERT_EQ(w.size(), 1u) << c.what;
        std::vector<u8> want(before.begin(), before.end());
        want[0] = c.byte0;
        want[3] = c.byte3;
        EXPECT_EQ(w[0], want) << c.what;
        EXPECT_EQ(cached(boot(c.adapter), "NetworkBootState"), c.state) << c.what;
    }

    // A function without a boot ROM: its state reads "N/A", nothing is sent.
    adapter::setExpansionRomWord(fw(kKs3), 0);
    host_->clearLog();
    EXPECT_EQ(act(boot(kKs3), "SetNetworkBoot", {"Enabled", "PXE"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_NETBOOT_UNSUPPORTED);
    EXPECT_TRUE(sent(1, 67).empty());
    adapter::setExpansionRomWord(fw(kKs3), 0xFF);

    fw(kVeskarn).setFault(1, 67, {.status = 1});
    EXPECT_EQ(act(boot(kVeskarn), "SetNetworkBoot", {"Enabled", "PXE"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_BOOT_SET_FAILED);
}

TEST_F(NetBoot, SetNetworkBootReadFailureIsReported)
{
    // The first boot configuration read is the state's, through its
    // handler; the second is the action's own, and it fails.
    host_->setReplyRewrite([n = 0](u8 *reply, size_t) mutable {
        if (reply[0] == 66 && reply[1] == 1 && ++n == 2)
            reply[4] = 1;
    });
    host_->clearLog();
    EXPECT_EQ(act(boot(kVeskarn), "SetNetworkBoot", {"Enabled", "PXE"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_BOOT_STATUS_FAILED);
    EXPECT_EQ(sent(1, 66).size(), 2u);
    EXPECT_TRUE(sent(1, 67).empty());
    host_->setReplyRewrite(nullptr);
}

TEST_F(NetBoot, AdvancedModeOnKs3Only)
{
    adapter::setBootConfig(fw(kKs3), 0, {1, 2, 0, 1, 3, 4, 5, 6});
    EXPECT_EQ(get(controller(kKs3), "AdvancedMode"), "Disabled");
    host_->clearLog();
    ASSERT_EQ(set(controller(kKs3), "AdvancedMode", "Enabled"), 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_ADVANCED_MODE_CHANGED);
    std::vector<std::vector<u8>> w = sent(1, 67);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0], (std::vector<u8>{1, 2, 1, 1, 3, 4, 5, 6}));
    EXPECT_EQ(get(controller(kKs3), "AdvancedMode"), "Enabled");

    for (int a : {kKs2, kPivard, kVeskarn}) {
        u32 rc = 99;
        EXPECT_EQ(read_over(controller(a), "AdvancedMode", "client text", &rc), "N/A") << a;
        EXPECT_EQ(rc, 0u);
        EXPECT_EQ(set(controller(a), "AdvancedMode", "Enabled"), 1u) << a;
        EXPECT_EQ(last_code(), (u32)ORSA_STATUS_ADVANCED_MODE_UNSUPPORTED) << a;
    }
    vm_flag = 1;
    u32 rc = 0;
    EXPECT_EQ(read_over(controller(kKs3), "AdvancedMode", "client text", &rc), "N/A");
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_VF_REFUSED);
    vm_flag = 0;
}

}  // namespace
