// The initiator name and alias of a LogicalHBA, and the port's network as it
// shows again after a library restart and an emulated reboot.
#include <stdio.h>

#include "net_fixture.h"

namespace {

using Bytes = std::vector<u8>;

class Names : public NetHost {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(boot()); }
    HmNode *n() { return names(kVsk, 2); }
    // The name block of the last save (header version in *version).
    Bytes last_save(u8 *version = nullptr)
    {
        Bytes out;
        for (const chardev::LoggedIoctl &l : host_->log())
            if (l.dev == chardev::Dev::Iscsi && l.bytes.size() >= 16 + 260 && l.bytes[0] == 7 && l.bytes[1] == 6) {
                out.assign(l.bytes.begin() + 16, l.bytes.end());
                if (version != nullptr)
                    *version = l.bytes[12];
            }
        return out;
    }
};

TEST_F(Names, NameAndAliasAreReadAndWritten)
{
    EXPECT_EQ(get(n(), "InitiatoriSCSIName"), adapter::factoryInitiatorName(2));
    EXPECT_EQ(get(n(), "InitiatorAlias"), "");

    host_->clearLog();
    ASSERT_EQ(set(n(), "InitiatoriSCSIName", "IQN.2000-01.COM.Example:Host-A"), 0u) << last_text();
    EXPECT_EQ(net(kVsk, 2).initiator_name, "iqn.2000-01.com.example:host-a");
    EXPECT_EQ(cached(n(), "InitiatoriSCSIName"), "iqn.2000-01.com.example:host-a");
    u8 version = 0xFF;
    Bytes block = last_save(&version);
    ASSERT_EQ(block.size(), 260u);
    EXPECT_EQ(version, 1) << "the version-1 command first";
    EXPECT_EQ(std::string((const char *)&block[4]), "iqn.2000-01.com.example:host-a");
    EXPECT_EQ(block[0] & 1, 0) << "flag bit 0 cleared";

    ASSERT_EQ(set(n(), "InitiatorAlias", "init1"), 0u) << last_text();
    EXPECT_EQ(net(kVsk, 2).alias, "init1");
    EXPECT_EQ(net(kVsk, 2).initiator_name, "iqn.2000-01.com.example:host-a") << "the other field kept as fetched";
    EXPECT_EQ(get(n(), "InitiatorAlias"), "init1");
    ASSERT_EQ(set(n(), "InitiatorAlias", ""), 0u);
    EXPECT_EQ(get(n(), "InitiatorAlias"), "");
    // Another function keeps its own.
    EXPECT_EQ(get(names(kVsk, 1), "InitiatoriSCSIName"), adapter::factoryInitiatorName(1));
}

TEST_F(Names, RefusedNamesLeaveTheAdapterUnchanged)
{
    const char *cases[] = {"iqn.2000-01.com.example:host_a", "iqn.2000-01.com.example host", "iqn.a,b"};
    for (const char *name : cases) {
        SCOPED_TRACE(name);
        std::string before = state(kVsk, 2);
        host_->clearLog();
        EXPECT_EQ(set(n(), "InitiatoriSCSIName", name), 1u);
        EXPECT_EQ(last_code(), (u32)ORSA_STATUS_INVALID_ISCSI_NAME);
        EXPECT_EQ(state(kVsk, 2), before);
        EXPECT_EQ(count(6, 7) + count(6, 6), 0u) << "refused before the adapter is asked";
    }
    EXPECT_EQ(get(n(), "InitiatoriSCSIName"), adapter::factoryInitiatorName(2));
}

// An adapter that withdrew the version-1 commands answers the pair the
// status map turns into 213; the library goes on with version 0.
TEST_F(Names, VersionZeroWhenVersionOneIsWithdrawn)
{
    adapter::withdrawInitiatorNameV1(fw(kVsk), true);
    host_->clearLog();
    ASSERT_EQ(set(n(), "InitiatoriSCSIName", "iqn.2000-01.com.example:v0"), 0u) << last_text();
    EXPECT_EQ(net(kVsk, 2).initiator_name, "iqn.2000-01.com.example:v0");
    std::vector<u8> versions;
    for (const chardev::LoggedIoctl &l : host_->log())
        if (l.dev == chardev::Dev::Iscsi && l.bytes.size() >= 16 && l.bytes[1] == 6 && (l.bytes[0] == 6 || l.bytes[0] == 7))
            versions.push_back((u8)(l.bytes[0] * 10 + l.bytes[12]));
    EXPECT_EQ(versions, (std::vector<u8>{61, 60, 71, 70})) << "fetch v1, v0, save v1, v0";
    EXPECT_EQ(get(n(), "InitiatoriSCSIName"), "iqn.2000-01.com.example:v0");
    EXPECT_EQ(last_code(), 0u) << "the withdrawn command leaves no status behind";

    // Failures of either version.
    fw(kVsk).setFault(6, 6, {.status = 1, .additional = 0});
    u32 rc = 0;
    get(n(), "InitiatoriSCSIName", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_NAME_GET);
    EXPECT_EQ(set(n(), "InitiatorAlias", "x"), rc);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_NAME_GET);
    fw(kVsk).clearFault(6, 6);
    // The version-0 save refused (the version-1 one is withdrawn): 111.
    host_->setReplyRewrite([](uint8_t *r, size_t) {
        if (r[0] == 7 && r[1] == 6 && r[4] == 0)  // the save that went through: version 0
            r[4] = 3;
    });
    EXPECT_EQ(set(n(), "InitiatorAlias", "x"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_NAME_SET);
    host_->setReplyRewrite({});
    // A version-1 save refused for another reason is a failure with no retry.
    adapter::withdrawInitiatorNameV1(fw(kVsk), false);
    fw(kVsk).setFault(6, 7, {.status = 3});
    host_->clearLog();
    EXPECT_EQ(set(n(), "InitiatorAlias", "x"), 1u);
    EXPECT_EQ(count(6, 7), 1u);
    fw(kVsk).clearFault(6, 7);
    // (The rewritten answer came after the adapter took "x".)
    EXPECT_EQ(net(kVsk, 2).alias, "x") << "the refused version-1 save changed nothing";
}

// What the adapter keeps shows again after the library restarts over the
// same adapters, and after they reboot from their flash file.
TEST_F(Names, NetworkStateShowsAgainAfterRestartAndReboot)
{
    const char *kFile = "/tmp/iscsi_net_vsk.flash";
    remove(kFile);
    ASSERT_NO_FATAL_FAILURE(boot(netHost(kFile)));
    HmNode *t = tcpip(kVsk, 1);
    ASSERT_EQ(run(t, "ConfigureIPAddress", {"10.7.0.2", "255.255.255.0"}), 0u) << last_text();
    ASSERT_EQ(set(t, "DefaultGateway", "10.7.0.1"), 0u);
    ASSERT_EQ(run(t, "ConfigureVLAN", {"12", "5"}), 0u);
    ASSERT_EQ(run(ipv6(kVsk, 1), "ConfigureIPv6Address", {"0", "fe80::1:2"}), 0u);
    ASSERT_EQ(set(ipv6(kVsk, 1), "DefaultIPv6Gateway", "fe80::ff"), 0u);
    ASSERT_EQ(set(names(kVsk, 1), "InitiatoriSCSIName", "iqn.2000-01.com.example:kept"), 0u);
    ASSERT_EQ(set(names(kVsk, 1), "InitiatorAlias", "kept"), 0u);
    struct Want {
        const char *group;
        const char *property;
        const char *value;
    } wants[] = {
        {"Network/TCPIPConfiguration", "InitiatorIPAddress", "10.7.0.2"},
        {"Network/TCPIPConfiguration", "InitiatorSubnetMask", "255.255.255.0"},
        {"Network/TCPIPConfiguration", "DefaultGateway", "10.7.0.1"},
        {"Network/TCPIPConfiguration", "VLANEnabled", "True"},
        {"Network/TCPIPConfiguration", "VLANId", "12"},
        {"Network/TCPIPConfiguration", "Priority", "5"},
        {"Network/TCPIPConfiguration/IPv6Configuration", "InitiatorLinkLocalAddress",
         "FE80:0000:0000:0000:0000:0000:0001:0002"},
        {"Network/TCPIPConfiguration/IPv6Configuration", "DefaultIPv6Gateway",
         "FE80:0000:0000:0000:0000:0000:0000:00FF"},
        {"LogicalHBA0/InitiatoriSCSIName", "InitiatoriSCSIName", "iqn.2000-01.com.example:kept"},
        {"LogicalHBA0/InitiatoriSCSIName", "InitiatorAlias", "kept"},
    };
    auto check = [&](const char *when) {
        SCOPED_TRACE(when);
        for (const Want &w : wants) {
            SCOPED_TRACE(w.property);
            HmNode *g = group(phba(kVsk, 1), w.group);
            // VLANId and Priority are filled by the refresh the address read runs.
            if (strcmp(w.property, "VLANId") == 0 || strcmp(w.property, "Priority") == 0 ||
                strcmp(w.property, "VLANEnabled") == 0) {
                get(g, "InitiatorIPAddress");
                EXPECT_EQ(cached(g, w.property), w.value);
            } else {
                EXPECT_EQ(get(g, w.property), w.value);
            }
        }
    };
    check("running");
    ASSERT_NO_FATAL_FAILURE(restart());
    check("after a library restart");
    // A new host: the adapter boots from its flash file.
    ASSERT_NO_FATAL_FAILURE(boot(netHost(kFile)));
    ASSERT_TRUE(fw(kVsk).bootedFromFlash());
    check("after a reboot from flash");
    remove(kFile);
}

}  // namespace
