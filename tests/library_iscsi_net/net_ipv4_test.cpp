// The IPv4 side of an iSCSI port through the tree, over the emulated
// adapter: address, DHCP, gateway, VLAN, ping, NIC parameters.
#include "net_fixture.h"

namespace {

using Bytes = std::vector<u8>;

class Ipv4 : public NetHost {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(boot()); }
    HmNode *t() { return tcpip(kKs3, 1); }
    // Configures an address and checks it took.
    void configure(const char *ip, const char *mask)
    {
        ASSERT_EQ(run(t(), "ConfigureIPAddress", {ip, mask}), 0u) << last_text();
        ASSERT_EQ(get(t(), "InitiatorIPAddress"), ip);
    }
};

TEST_F(Ipv4, ConfigureIPAddressSendsTheEntryAndTheRefreshShowsIt)
{
    EXPECT_EQ(get(t(), "InitiatorIPAddress"), "0.0.0.0");
    EXPECT_EQ(get(t(), "InitiatorSubnetMask"), "0.0.0.0");
    EXPECT_EQ(get(t(), "DHCPEnabled"), "False");
    host_->clearLog();
    ASSERT_EQ(run(t(), "ConfigureIPAddress", {"10.1.2.3", "255.255.255.0"}), 0u) << last_text();
    EXPECT_EQ(last_code(), 0u);
    std::vector<Bytes> entries = sent(2, 21);
    ASSERT_EQ(entries.size(), 1u) << "nothing to delete first";
    Bytes want(56, 0);
    want[0] = 1;                                        // one record
    want[4] = 1;                                        // add
    u32 handle = adapter::iscsiInterfaceHandle(1);
    memcpy(&want[8], &handle, 4);
    want[12] = 40;                                      // the address block
    want[14] = 1;                                       // IPv4
    want[16] = 10, want[17] = 1, want[18] = 2, want[19] = 3;
    want[32] = 255, want[33] = 255, want[34] = 255, want[35] = 0;
    EXPECT_EQ(entries[0], want);
    ASSERT_EQ(net(kKs3, 1).addresses.size(), 1u);
    EXPECT_EQ(net(kKs3, 1).addresses[0].address[3], 3);
    EXPECT_EQ(get(t(), "InitiatorIPAddress"), "10.1.2.3");
    EXPECT_EQ(get(t(), "InitiatorSubnetMask"), "255.255.255.0");

    // The same settings again: a notice, nothing sent.
    host_->clearLog();
    EXPECT_EQ(run(t(), "ConfigureIPAddress", {"10.1.2.3", "255.255.255.0"}), 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_IP_UNCHANGED);
    EXPECT_EQ(count(2, 21), 0u);

    // Another address: the old entry goes first, then the new one comes.
    host_->clearLog();
    ASSERT_EQ(run(t(), "ConfigureIPAddress", {"10.9.0.7", "255.255.0.0"}), 0u) << last_text();
    entries = sent(2, 21);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(rd32(entries[0], 4), 2u);
    EXPECT_EQ(Bytes(entries[0].begin() + 16, entries[0].begin() + 20), (Bytes{10, 1, 2, 3}));
    EXPECT_EQ(rd32(entries[1], 4), 1u);
    EXPECT_EQ(Bytes(entries[1].begin() + 16, entries[1].begin() + 20), (Bytes{10, 9, 0, 7}));
    EXPECT_EQ(get(t(), "InitiatorIPAddress"), "10.9.0.7");
    EXPECT_EQ(get(t(), "InitiatorSubnetMask"), "255.255.0.0");

    // 0.0.0.0 removes the address.
    ASSERT_EQ(run(t(), "ConfigureIPAddress", {"0.0.0.0", "0.0.0.0"}), 0u) << last_text();
    EXPECT_TRUE(net(kKs3, 1).addresses.empty());
    EXPECT_EQ(get(t(), "InitiatorIPAddress"), "0.0.0.0");
}

// Each refusal answers its status and leaves the adapter as it was.
TEST_F(Ipv4, RefusalsLeaveTheAdapterUnchanged)
{
    ASSERT_NO_FATAL_FAILURE(configure("10.1.2.3", "255.255.255.0"));
    ASSERT_EQ(set(t(), "DefaultGateway", "10.1.2.254"), 0u) << last_text();
    struct Case {
        const char *what;
        std::function<u32()> call;
        u32 status;
    } cases[] = {
        {"three octets", [&] { return run(t(), "ConfigureIPAddress", {"10.1.2", "255.255.255.0"}); }, 17},
        {"loopback", [&] { return run(t(), "ConfigureIPAddress", {"127.0.0.1", "255.0.0.0"}); }, 17},
        {"16 characters", [&] { return run(t(), "ConfigureIPAddress", {"192.168.100.1009", "255.255.255.0"}); },
         17},
        // The mask the design let pass: its ones are not contiguous.
        {"mask 255.254.254.0", [&] { return run(t(), "ConfigureIPAddress", {"10.1.2.5", "255.254.254.0"}); }, 17},
        {"mask 255.0.255.0", [&] { return run(t(), "ConfigureIPAddress", {"10.1.2.5", "255.0.255.0"}); }, 17},
        {"ping text", [&] { return run(t(), "Ping", {"10.1.2"}); }, ORSA_STATUS_INVALID_VALUE},
        // Texts the tree's address check lets pass and the host check does
        // not: the old gateway stays.
        {"gateway as IPv6", [&] { return set(t(), "DefaultGateway", "fe80::1"); }, 17},
        {"gateway two dots", [&] { return set(t(), "DefaultGateway", "10..1.254"); }, 17},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string before = state(kKs3, 1);
        host_->clearLog();
        EXPECT_NE(c.call(), 0u);
        EXPECT_EQ(last_code(), c.status) << last_text();
        EXPECT_EQ(state(kKs3, 1), before);
        EXPECT_EQ(count(2, 21) + count(2, 23) + count(2, 6), 0u) << "nothing changed at the adapter";
    }
    EXPECT_EQ(get(t(), "DefaultGateway"), "10.1.2.254");

    // While DHCP runs, addresses and gateways are the server's.
    ASSERT_EQ(run(t(), "DHCPEnable"), 0u) << last_text();
    struct DhcpCase {
        const char *what;
        std::function<u32()> call;
        u32 status;
    } dhcp[] = {
        {"ConfigureIPAddress", [&] { return run(t(), "ConfigureIPAddress", {"10.1.2.9", "255.255.255.0"}); }, 43},
        {"DefaultGateway", [&] { return set(t(), "DefaultGateway", "10.1.2.1"); }, 49},
        {"DeleteDefaultGateway", [&] { return run(t(), "DeleteDefaultGateway"); }, 43},
    };
    for (const DhcpCase &c : dhcp) {
        SCOPED_TRACE(c.what);
        std::string before = state(kKs3, 1);
        host_->clearLog();
        EXPECT_EQ(c.call(), 1u);
        EXPECT_EQ(last_code(), c.status);
        EXPECT_EQ(state(kKs3, 1), before);
        EXPECT_EQ(count(2, 21) + count(2, 23), 0u);
    }
}

// What the adapter answers for the entry: 47 (duplicate) and 11/13 are the
// success the design gives them; any other answer is a failure.
TEST_F(Ipv4, EntryStatusesOfTheAdapter)
{
    struct Case {
        u8 entry;
        u32 rc;
        u32 status;
        bool applied;
    } cases[] = {
        {47, 0, ORSA_STATUS_DUPLICATE_IP, true},
        {11, 0, 0, true},
        {13, 0, 0, true},
        {5, 1, ORSA_STATUS_IP_ENTRY, false},
    };
    int host = 20;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.entry);
        std::string ip = "10.1.2." + std::to_string(host++);
        adapter::queueIscsiEntryStatus(fw(kKs3), 1, c.entry);
        EXPECT_EQ(run(t(), "ConfigureIPAddress", {ip, "255.255.255.0"}), c.rc);
        EXPECT_EQ(last_code(), c.status) << last_text();
        bool held = !net(kKs3, 1).addresses.empty() && net(kKs3, 1).addresses[0].address[3] == host - 1;
        EXPECT_EQ(held, c.applied);
    }
    // An address another host answers for is a duplicate, as the adapter sees it.
    adapter::setPingReachable(fw(kKs3), fw(kKs3).portOfFunction(1), {10, 1, 2, 77});
    EXPECT_EQ(run(t(), "ConfigureIPAddress", {"10.1.2.77", "255.255.255.0"}), 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_DUPLICATE_IP);
    EXPECT_EQ(last_text(), "Duplicate IP address detected. Please check that the IP address given is not conflicting "
                           "with an existing IP address in the subnet. Choose a unique IP address.");
}

TEST_F(Ipv4, DhcpTakesTheAddressAndGatewayAndGivesThemBack)
{
    ASSERT_NO_FATAL_FAILURE(configure("10.1.2.3", "255.255.255.0"));
    ASSERT_EQ(set(t(), "DefaultGateway", "10.1.2.254"), 0u);
    host_->clearLog();
    ASSERT_EQ(run(t(), "DHCPEnable"), 0u) << last_text();
    EXPECT_EQ(last_code(), 0u);
    EXPECT_TRUE(net(kKs3, 1).addresses.empty()) << "the manual address was deleted";
    EXPECT_FALSE(net(kKs3, 1).gw4_set) << "the manual gateway was deleted";
    EXPECT_TRUE(net(kKs3, 1).dhcp);
    std::vector<Bytes> dhcp = sent(2, 17);
    ASSERT_EQ(dhcp.size(), 1u);
    EXPECT_EQ(dhcp[0], (Bytes{(u8)adapter::iscsiInterfaceHandle(1), 0x2A, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}));
    std::vector<Bytes> gw = sent(2, 23);
    ASSERT_EQ(gw.size(), 1u);
    EXPECT_EQ(rd32(gw[0], 0), 2u);
    EXPECT_EQ(gw[0][7], 1);
    EXPECT_EQ(Bytes(gw[0].begin() + 8, gw[0].begin() + 12), (Bytes{10, 1, 2, 254}));
    EXPECT_EQ(get(t(), "DHCPEnabled"), "True");

    // Already on: a notice, nothing sent.
    host_->clearLog();
    EXPECT_EQ(run(t(), "DHCPEnable"), 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_DHCP_UNCHANGED);
    EXPECT_EQ(count(2, 17), 0u);

    ASSERT_EQ(run(t(), "DHCPDisable"), 0u) << last_text();
    EXPECT_FALSE(net(kKs3, 1).dhcp);
    EXPECT_EQ(cached(t(), "DHCPEnabled"), "False");
    EXPECT_EQ(cached(t(), "InitiatorIPAddress"), "0.0.0.0");
    std::vector<Bytes> release = sent(2, 18);
    ASSERT_EQ(release.size(), 1u);
    EXPECT_EQ(rd32(release[0], 4), 5u);

    // A release the adapter refuses.
    fw(kKs3).setFault(2, 18, {.status = 1, .additional = 0});
    EXPECT_EQ(run(t(), "DHCPDisable"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_DHCP_RELEASE);
    fw(kKs3).clearFault(2, 18);

    // The adapter took the request but still shows DHCP off: 135.
    host_->setReplyRewrite([](uint8_t *r, size_t n) {
        if (r[0] == 25 && r[1] == 2 && n >= 16 + 16)
            memset(r + 16 + 12, 0, 4);
    });
    EXPECT_EQ(run(t(), "DHCPEnable"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_DHCP_FAILED);
    EXPECT_EQ(last_text(), "Firmware failed to enable DHCP.");
    host_->setReplyRewrite({});
}

TEST_F(Ipv4, DefaultGatewayIsReplacedAndDeleted)
{
    EXPECT_EQ(get(t(), "DefaultGateway"), "0.0.0.0");
    host_->clearLog();
    ASSERT_EQ(set(t(), "DefaultGateway", "10.1.2.254"), 0u) << last_text();
    std::vector<Bytes> gw = sent(2, 23);
    ASSERT_EQ(gw.size(), 1u) << "no gateway to delete first";
    Bytes add(28, 0);
    add[0] = 1, add[4] = 24, add[7] = 1, add[8] = 10, add[9] = 1, add[10] = 2, add[11] = 254;
    EXPECT_EQ(gw[0], add);
    EXPECT_EQ(get(t(), "DefaultGateway"), "10.1.2.254");

    host_->clearLog();
    ASSERT_EQ(set(t(), "DefaultGateway", "10.1.2.1"), 0u) << last_text();
    gw = sent(2, 23);
    ASSERT_EQ(gw.size(), 2u);
    EXPECT_EQ(rd32(gw[0], 0), 2u);
    EXPECT_EQ(gw[0][11], 254);
    EXPECT_EQ(rd32(gw[1], 0), 1u);
    EXPECT_EQ(gw[1][11], 1);
    EXPECT_EQ(get(t(), "DefaultGateway"), "10.1.2.1");

    ASSERT_EQ(run(t(), "DeleteDefaultGateway"), 0u) << last_text();
    EXPECT_FALSE(net(kKs3, 1).gw4_set);
    EXPECT_EQ(get(t(), "DefaultGateway"), "0.0.0.0");
    host_->clearLog();
    EXPECT_EQ(run(t(), "DeleteDefaultGateway"), 0u) << "nothing to delete";
    EXPECT_EQ(count(2, 23), 0u);

    // The query failing: 133, nothing changed.
    fw(kKs3).setFault(2, 22, {.status = 1, .additional = 0});
    EXPECT_NE(set(t(), "DefaultGateway", "10.1.2.1"), 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_GATEWAY_GET);
    fw(kKs3).clearFault(2, 22);
    EXPECT_FALSE(net(kKs3, 1).gw4_set);
}

TEST_F(Ipv4, VlanTagAndItsProperties)
{
    struct Case {
        const char *action;
        std::vector<std::string> params;
        u32 tag;
        const char *enabled, *id, *priority;
    } cases[] = {
        {"ConfigureVLAN", {"100"}, 100, "True", "100", "0"},
        {"ConfigureVLAN", {"100", "3"}, 24676, "True", "100", "3"},
        {"ConfigureVLAN", {"4094", "7"}, (7u << 13) | 4094u, "True", "4094", "7"},
        {"VLANDisable", {}, 65535, "False", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tag);
        host_->clearLog();
        ASSERT_EQ(run(t(), c.action, c.params), 0u) << last_text();
        std::vector<Bytes> v = sent(2, 14);
        ASSERT_EQ(v.size(), 1u);
        EXPECT_EQ(rd32(v[0], 0), adapter::iscsiInterfaceHandle(1));
        EXPECT_EQ(rd32(v[0], 4), c.tag);
        EXPECT_EQ(net(kKs3, 1).vlan_tag, c.tag);
        // The action's own re-read already shows it.
        EXPECT_EQ(cached(t(), "VLANEnabled"), c.enabled);
        EXPECT_EQ(cached(t(), "VLANId"), c.id);
        EXPECT_EQ(cached(t(), "Priority"), c.priority);
    }
    fw(kKs3).setFault(2, 14, {.status = 3});
    EXPECT_EQ(run(t(), "ConfigureVLAN", {"5"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_VLAN);
    fw(kKs3).clearFault(2, 14);
    EXPECT_EQ(net(kKs3, 1).vlan_tag, 65535);
}

TEST_F(Ipv4, PingReachesWhatThePortsNetworkAnswers)
{
    // No address on the port yet: the adapter cannot send.
    EXPECT_EQ(run(t(), "Ping", {"10.1.2.9"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_PING_FAILED);
    ASSERT_NO_FATAL_FAILURE(configure("10.1.2.3", "255.255.255.0"));
    adapter::setPingReachable(fw(kKs3), fw(kKs3).portOfFunction(1), {10, 1, 2, 9});
    host_->clearLog();
    EXPECT_EQ(run(t(), "Ping", {"10.1.2.9"}), 0u) << last_text();
    std::vector<Bytes> p = sent(2, 6);
    ASSERT_EQ(p.size(), 1u);
    Bytes want(24, 0);
    want[3] = 1, want[4] = 10, want[5] = 1, want[6] = 2, want[7] = 9;
    EXPECT_EQ(p[0], want);
    EXPECT_EQ(run(t(), "Ping", {"10.1.2.10"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_PING_FAILED) << "53 replaces what the status map set";
    EXPECT_EQ(last_text(), "Ping failed. Please check cable and network connections and make sure that the IP address "
                           "is valid. For more information, see the Troubleshooting section in Kalderstone "
                           "documentation.");
    // Another port does not answer for this one's network.
    EXPECT_EQ(run(tcpip(kVsk, 1), "Ping", {"10.1.2.9"}), 1u);
}

TEST_F(Ipv4, NicParametersAndAddresses)
{
    HmNode *n = nicconf(kKs3, 1);
    struct Case {
        u32 code, mtu;
        const char *speed, *max_mtu;
    } cases[] = {
        {3, 1500, "1Gb", "1500"},
        {4, 9000, "10Gb", "9000"},
        {0, 8000, "Unknown", "8000"},
        {7, 4000, "Unknown", "4000"},  // a code without a text leaves the speed as it was
        {2, 2000, "less than 1Gb", "2000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        adapter::setIscsiNicParams(fw(kKs3), 1, c.code, c.mtu);
        EXPECT_EQ(get(n, "MaxMTUSize"), c.max_mtu);
        EXPECT_EQ(get(n, "PortMaxSpeed"), c.speed);
    }
    char mac[24];
    std::array<uint8_t, 6> m = fw(kKs3).permanentMac(1);
    snprintf(mac, sizeof mac, "%02x-%02x-%02x-%02x-%02x-%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    EXPECT_EQ(get(n, "MACAddress"), mac);
    // RefreshNICConfig shows the same query in PermanentMACAddress.
    HmNode *perm = internal_get_node(n, "PermanentMACAddress", HM_KIND_PROPERTY);
    ASSERT_NE(perm, nullptr);
    SET_CACHE_PROP_VAL(perm, "%s", "old");
    adapter::setIscsiNicParams(fw(kKs3), 1, 6, 1234);
    EXPECT_EQ(run(n, "RefreshNICConfig"), 0u);
    EXPECT_EQ(cached(n, "PermanentMACAddress"), mac);
    EXPECT_EQ(cached(n, "PortMaxSpeed"), "40Gb");
    EXPECT_EQ(cached(n, "MaxMTUSize"), "1234");
    fw(kKs3).setFault(2, 7, {.status = 3});
    u32 rc = 0;
    get(n, "MaxMTUSize", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_NIC_PARAMS);
    fw(kKs3).clearFault(2, 7);
}

// Counts from the adapter are bounded by its reply: a count the reply cannot
// hold is a malformed reply, never read past.
TEST_F(Ipv4, MalformedCountsAreRefused)
{
    struct Case {
        const char *what;
        u8 opcode;
        size_t at;
        u32 value;
        u32 status;
    } cases[] = {
        {"33 addresses in 1296 bytes", 25, 8, 33, ORSA_STATUS_IF_INFO},
        {"a huge address count", 25, 8, 0xFFFFFFFFu, ORSA_STATUS_IF_INFO},
        {"no interface", 24, 0, 0, ORSA_STATUS_IF_LIST},
        {"33 interfaces in 132 bytes", 24, 0, 33, ORSA_STATUS_IF_LIST},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        host_->setReplyRewrite([&](uint8_t *r, size_t n) {
            if (r[0] == c.opcode && r[1] == 2 && n >= 16 + c.at + 4)
                memcpy(r + 16 + c.at, &c.value, 4);
        });
        u32 rc = 0;
        get(t(), "InitiatorIPAddress", &rc);
        EXPECT_NE(rc, 0u);
        EXPECT_EQ(last_code(), c.status);
        host_->setReplyRewrite({});
    }
    // 32 addresses fit: the reply is read.
    host_->setReplyRewrite([](uint8_t *r, size_t n) {
        if (r[0] == 25 && r[1] == 2 && n >= 16 + 1296) {
            u32 v = 32;
            memcpy(r + 16 + 8, &v, 4);
            r[16 + 20] = 10, r[16 + 21] = 0, r[16 + 22] = 0, r[16 + 23] = 32;
        }
    });
    u32 rc = 1;
    EXPECT_EQ(get(t(), "InitiatorIPAddress", &rc), "10.0.0.32");
    EXPECT_EQ(rc, 0u);
    host_->setReplyRewrite({});
}

}  // namespace
