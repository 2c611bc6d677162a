// The IPv6 side of an iSCSI port through the tree over the emulated
// adapter: state, link-local and routable addresses, the IPv6 gateway,
// auto-configuration; a KS3 port has none of it.
#include "net_fixture.h"

namespace {

using Bytes = std::vector<u8>;

constexpr const char *kLinkLocal = "FE80:0000:0000:0000:0000:0000:0000:0001";
constexpr const char *kRoutable1 = "2001:0DB8:0000:0000:0000:0000:0000:0005";
constexpr const char *kRoutable2 = "2001:0DB8:0000:0000:0000:0000:0000:0006";

Bytes bytes_of(const char *full)
{
    char text[ORSA_IPV6_TEXT_SIZE];
    snprintf(text, sizeof text, "%s", full);
    u8 b[16];
    StrToU8IPv6(text, b);
    return Bytes(b, b + 16);
}

class Ipv6 : public NetHost {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(boot()); }
    HmNode *g() { return ipv6(kVsk, 1); }
    std::vector<Bytes> held(u8 kind)
    {
        std::vector<Bytes> out;
        for (const adapter::IscsiAddressEntry &e : net(kVsk, 1).addresses)
            if (e.kind == kind)
                out.emplace_back(e.address.begin(), e.address.end());
        return out;
    }
};

TEST_F(Ipv6, AddressesAreConfiguredAndReadBackInTheFullForm)
{
    EXPECT_EQ(get(g(), "IPv6State"), "Static");
    EXPECT_EQ(get(g(), "InitiatorLinkLocalAddress"), ORSA_IPV6_ZERO_TEXT);
    EXPECT_EQ(get(g(), "InitiatorRoutableAddress1"), ORSA_IPV6_ZERO_TEXT);

    host_->clearLog();
    ASSERT_EQ(run(g(), "ConfigureIPv6Address", {"0", "fe80::1"}), 0u) << last_text();
    std::vector<Bytes> entries = sent(2, 21);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(rd32(entries[0], 4), 1u);
    EXPECT_EQ(entries[0][14], 80);
    EXPECT_EQ(Bytes(entries[0].begin() + 16, entries[0].begin() + 32), bytes_of(kLinkLocal));
    EXPECT_EQ(Bytes(entries[0].begin() + 32, entries[0].begin() + 48), Bytes(16, 0)) << "no mask";
    EXPECT_EQ(count(2, 18), 0u) << "a link-local address leaves auto-configuration alone";
    EXPECT_EQ(cached(g(), "InitiatorLinkLocalAddress"), kLinkLocal);

    // A routable address first releases auto-configuration.
    host_->clearLog();
    ASSERT_EQ(run(g(), "ConfigureIPv6Address", {"1", "2001:db8::5"}), 0u) << last_text();
    std::vector<Bytes> release = sent(2, 18);
    ASSERT_EQ(release.size(), 1u);
    EXPECT_EQ(rd32(release[0], 4), 144u);
    ASSERT_EQ(run(g(), "ConfigureIPv6Address", {"2", "2001:DB8:0:0:0:0:0:6"}), 0u) << last_text();
    EXPECT_EQ(held(48), (std::vector<Bytes>{bytes_of(kRoutable1), bytes_of(kRoutable2)}));

    // Read back from the adapter: each property finds its own record.
    EXPECT_EQ(get(g(), "InitiatorLinkLocalAddress"), kLinkLocal);
    EXPECT_EQ(get(g(), "InitiatorRoutableAddress1"), kRoutable1);
    EXPECT_EQ(get(g(), "InitiatorRoutableAddress2"), kRoutable2);

    // A new routable address 1 replaces the one the property shows.
    host_->clearLog();
    ASSERT_EQ(run(g(), "ConfigureIPv6Address", {"1", "2001:db8::7"}), 0u) << last_text();
    entries = sent(2, 21);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(rd32(entries[0], 4), 2u);
    EXPECT_EQ(Bytes(entries[0].begin() + 16, entries[0].begin() + 32), bytes_of(kRoutable1));
    EXPECT_EQ(get(g(), "InitiatorRoutableAddress2"), "2001:0DB8:0000:0000:0000:0000:0000:0007")
        << "the adapter lists the new address after the kept one";

    // The all-zero address, in full or not, removes and adds nothing.
    host_->clearLog();
    ASSERT_EQ(run(g(), "ConfigureIPv6Address", {"0", "0:0:0:0:0:0:0:0"}), 0u) << last_text();
    EXPECT_EQ(count(2, 21), 1u);
    EXPECT_TRUE(held(80).empty());
    EXPECT_EQ(get(g(), "InitiatorLinkLocalAddress"), ORSA_IPV6_ZERO_TEXT);
}

TEST_F(Ipv6, RefusalsAndTheAdaptersAnswers)
{
    ASSERT_EQ(run(g(), "ConfigureIPv6Address", {"0", "fe80::1"}), 0u) << last_text();
    ASSERT_EQ(set(g(), "DefaultIPv6Gateway", "fe80::ff"), 0u) << last_text();
    struct Case {
        const char *what;
        std::function<u32()> call;
        u32 status;
    } cases[] = {
        {"two runs", [&] { return run(g(), "ConfigureIPv6Address", {"0", "fe80::1::2"}); }, 17},
        {"opens with ::", [&] { return run(g(), "ConfigureIPv6Address", {"1", "::1"}); }, 17},
        {"five digits", [&] { return run(g(), "ConfigureIPv6Address", {"1", "2001:db8::12345"}); }, 17},
        // Longer than the full form: refused, not cut to 39 characters.
        {"40 characters",
         [&] { return run(g(), "ConfigureIPv6Address", {"0", "FE80:0000:0000:0000:0000:0000:0000:00012"}); }, 17},
        {"gateway not an address", [&] { return set(g(), "DefaultIPv6Gateway", "fe80::g"); }, 17},
        {"gateway all zero", [&] { return set(g(), "DefaultIPv6Gateway", "0::"); }, 17},
        {"gateway 40 characters", [&] { return set(g(), "DefaultIPv6Gateway", "FE80:0000:0000:0000:0000:0000:0000:00FF0"); },
         17},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string before = state(kVsk, 1);
        host_->clearLog();
        EXPECT_NE(c.call(), 0u);
        EXPECT_EQ(last_code(), c.status);
        EXPECT_EQ(state(kVsk, 1), before);
        EXPECT_EQ(count(2, 21) + count(2, 23) + count(2, 18), 0u);
    }

    // A duplicate is a failure here (the IPv4 road takes it as a notice).
    adapter::queueIscsiEntryStatus(fw(kVsk), 1, 47);
    EXPECT_EQ(run(g(), "ConfigureIPv6Address", {"1", "2001:db8::5"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_DUPLICATE_IP);
    adapter::queueIscsiEntryStatus(fw(kVsk), 1, 9);
    EXPECT_EQ(run(g(), "ConfigureIPv6Address", {"2", "2001:db8::6"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_IP_ENTRY);
    EXPECT_EQ(held(48).size(), 1u) << "only the duplicate was taken";
    // The adapter refusing the command: 122.
    fw(kVsk).setFault(2, 21, {.status = 3});
    EXPECT_EQ(run(g(), "ConfigureIPv6Address", {"0", "fe80::2"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_IP_ENTRY);
    fw(kVsk).clearFault(2, 21);
    EXPECT_EQ(get(g(), "InitiatorLinkLocalAddress"), kLinkLocal) << "the refused delete left the address";
}

TEST_F(Ipv6, GatewayIsReplacedAndDeleted)
{
    EXPECT_EQ(get(g(), "DefaultIPv6Gateway"), ORSA_IPV6_ZERO_TEXT);
    host_->clearLog();
    ASSERT_EQ(set(g(), "DefaultIPv6Gateway", "fe80::ff"), 0u) << last_text();
    std::vector<Bytes> gw = sent(2, 23);
    ASSERT_EQ(gw.size(), 1u);
    Bytes add(28, 0);
    add[0] = 1, add[4] = 24, add[7] = 16;
    Bytes a = bytes_of("FE80:0000:0000:0000:0000:0000:0000:00FF");
    std::copy(a.begin(), a.end(), add.begin() + 8);
    EXPECT_EQ(gw[0], add);
    EXPECT_EQ(get(g(), "DefaultIPv6Gateway"), "FE80:0000:0000:0000:0000:0000:0000:00FF");

    host_->clearLog();
    ASSERT_EQ(set(g(), "DefaultIPv6Gateway", "fe80::fe"), 0u) << last_text();
    gw = sent(2, 23);
    ASSERT_EQ(gw.size(), 2u);
    EXPECT_EQ(rd32(gw[0], 0), 2u);
    EXPECT_EQ(gw[0][4], 24) << "an IPv6 delete carries the block length";
    EXPECT_EQ(gw[0][23], 0xFF);
    EXPECT_EQ(gw[1][23], 0xFE);

    ASSERT_EQ(run(g(), "DeleteDefaultIPv6Gateway"), 0u) << last_text();
    EXPECT_FALSE(net(kVsk, 1).gw6_set);
    host_->clearLog();
    EXPECT_EQ(run(g(), "DeleteDefaultIPv6Gateway"), 0u);
    EXPECT_EQ(count(2, 23), 0u) << "nothing to delete";
    EXPECT_EQ(get(g(), "DefaultIPv6Gateway"), ORSA_IPV6_ZERO_TEXT);
}

TEST_F(Ipv6, AutoAssignmentTakesOverFromManualAddresses)
{
    ASSERT_EQ(run(g(), "ConfigureIPv6Address", {"1", "2001:db8::5"}), 0u);
    ASSERT_EQ(run(g(), "ConfigureIPv6Address", {"2", "2001:db8::6"}), 0u);
    ASSERT_EQ(run(g(), "ConfigureIPv6Address", {"0", "fe80::1"}), 0u);
    ASSERT_EQ(set(g(), "DefaultIPv6Gateway", "fe80::ff"), 0u);
    host_->clearLog();
    ASSERT_EQ(run(g(), "AutoAssignEnable", {"Auto"}), 0u) << last_text();
    EXPECT_FALSE(net(kVsk, 1).gw6_set);
    EXPECT_TRUE(held(48).empty()) << "both routable addresses went";
    EXPECT_EQ(held(80).size(), 1u) << "the link-local address stays";
    std::vector<Bytes> on = sent(2, 17);
    ASSERT_EQ(on.size(), 1u);
    EXPECT_EQ(rd32(on[0], 4), 144u);
    EXPECT_EQ(get(g(), "IPv6State"), "AutoAssign");
    ASSERT_EQ(run(g(), "AutoAssignDisable"), 0u) << last_text();
    EXPECT_EQ(get(g(), "IPv6State"), "Static");
    fw(kVsk).setFault(2, 18, {.status = 1, .additional = 0});
    EXPECT_EQ(run(g(), "AutoAssignDisable"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_DHCP_RELEASE);
    fw(kVsk).clearFault(2, 18);
}

TEST_F(Ipv6, PingToAnIpv6Address)
{
    ASSERT_EQ(run(g(), "ConfigureIPv6Address", {"0", "fe80::1"}), 0u);
    adapter::setPingReachable(fw(kVsk), fw(kVsk).portOfFunction(1), bytes_of("FE80:0000:0000:0000:0000:0000:0000:0009"));
    host_->clearLog();
    EXPECT_EQ(run(tcpip(kVsk, 1), "Ping", {"fe80::9"}), 0u) << last_text();
    std::vector<Bytes> p = sent(2, 6);
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0][3], 16);
    EXPECT_EQ(Bytes(p[0].begin() + 4, p[0].begin() + 20), bytes_of("FE80:0000:0000:0000:0000:0000:0000:0009"));
    EXPECT_EQ(run(tcpip(kVsk, 1), "Ping", {"fe80::a"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_PING_FAILED);
}

// A KS3 has no IPv6: its properties read "N/A", the actions are refused with
// 291 and nothing is sent; the routable addresses read as none.
TEST_F(Ipv6, Ks3HasNone)
{
    HmNode *k = ipv6(kKs3, 1);
    ASSERT_NE(k, nullptr);
    host_->clearLog();
    EXPECT_EQ(get(k, "IPv6State"), "N/A");
    EXPECT_EQ(get(k, "InitiatorLinkLocalAddress"), "N/A");
    EXPECT_EQ(get(k, "DefaultIPv6Gateway"), "N/A");
    EXPECT_EQ(set(k, "DefaultIPv6Gateway", "fe80::1"), 0u);
    EXPECT_EQ(cached(k, "DefaultIPv6Gateway"), "N/A");
    u32 rc = 1;
    EXPECT_EQ(get(k, "InitiatorRoutableAddress1", &rc), ORSA_IPV6_ZERO_TEXT);
    EXPECT_EQ(rc, 0u);
    EXPECT_EQ(last_code(), 0u) << "the refused read leaves no status behind";
    struct Case {
        const char *action;
        std::vector<std::string> params;
    } cases[] = {
        {"ConfigureIPv6Address", {"0", "fe80::1"}},
        {"AutoAssignEnable", {"Auto"}},
        {"AutoAssignDisable", {}},
        {"DeleteDefaultIPv6Gateway", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.action);
        EXPECT_EQ(run(k, c.action, c.params), 1u);
        EXPECT_EQ(last_code(), (u32)ORSA_STATUS_NO_IPV6);
    }
    EXPECT_EQ(count(2, 21) + count(2, 23) + count(2, 17) + count(2, 18), 0u);
}

TEST_F(Ipv6, MalformedAddressCountIsAFailedRead)
{
    ASSERT_EQ(run(g(), "ConfigureIPv6Address", {"0", "fe80::1"}), 0u);
    host_->setReplyRewrite([](uint8_t *r, size_t n) {
        u32 v = 1000;
        if (r[0] == 25 && r[1] == 2 && n >= 16 + 12)
            memcpy(r + 16 + 8, &v, 4);
    });
    u32 rc = 0;
    char buffer[HM_VALUE_SIZE] = "client";
    u32 prop = 0;
    ASSERT_EQ(ORSA_get_node_tag(g()->tag, "InitiatorLinkLocalAddress", &prop, HM_KIND_PROPERTY), 0u);
    rc = ORSA_get_property_val(g()->tag, prop, buffer, sizeof buffer);
    EXPECT_EQ(rc, 1u) << "a failed read is no success";
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_IF_INFO);
    EXPECT_STREQ(buffer, kLinkLocal) << "the value as it stood, not the client's own bytes";
    EXPECT_EQ(get(g(), "InitiatorRoutableAddress1", &rc), ORSA_IPV6_ZERO_TEXT);
    EXPECT_EQ(rc, 0u);
    host_->setReplyRewrite({});
    EXPECT_EQ(get(g(), "InitiatorLinkLocalAddress"), kLinkLocal);
}

}  // namespace
