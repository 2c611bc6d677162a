// Network ports, portals and the IP settings of a physical HBA.
#include <unistd.h>

#include <fstream>

#include "ima_fixture.h"

namespace imatest {
namespace {

imahost::IpAddress v4(u8 a, u8 b, u8 c, u8 d) {
  imahost::IpAddress ip{};
  ip.ipv4 = 1;
  ip.bytes[0] = a;
  ip.bytes[1] = b;
  ip.bytes[2] = c;
  ip.bytes[3] = d;
  return ip;
}

TEST_F(ImaHost, NetworkObjectListsOneIdEach) {
  struct Case {
    const char* entry;
    Oid oid;
    u32 type;
    std::string group;
  } cases[] = {
      {"IMA_GetPnpOidList", phba(), kPnp, kNic0},
      {"IMA_GetPnpOidList", lnp(), kPnp, kNic0},
      {"IMA_GetNetworkPortalOidList", lnp(), kPortal, kTcpip0},
      {"IMA_VMW_GetNetworkPortalOidList", lhba(), kPortal, kTcpip0},
      {"IMA_VMW_GetNetworkPortalOidList", lnp(), kPortal, kTcpip0},
      {"IMA_VMW_GetLnpOidList", pnp(), kLnp, kPhba0},
      {"IMA_VMW_GetLnpOidList", phba(), kLnp, kPhba0},
  };
  for (const Case& c : cases) {
    std::vector<Oid> ids;
    ASSERT_EQ(host.list(c.entry, &ids, c.oid), kOk) << c.entry;
    ASSERT_EQ(ids.size(), 1u) << c.entry;
    EXPECT_EQ(host.last_block_bytes(), 20u);
    EXPECT_EQ(ids[0].type, c.type) << c.entry;
    EXPECT_EQ(ids[0].owner, kOwner);
    EXPECT_EQ(ids[0].sequence, (uint64_t)tag(c.group)) << c.entry;
  }
  std::vector<Oid> ids;
  EXPECT_EQ(host.call("IMA_GetPnpOidList", phba(), (void*)nullptr), kInvalidParam);
  EXPECT_EQ(host.list("IMA_GetNetworkPortalOidList", &ids, phba()), kIncorrectType);
}

TEST_F(ImaHost, PortPropertiesAtTheirOffsets) {
  Record<imahost::kVmwLnpProperties> lnpr;
  ASSERT_EQ(host.call("IMA_VMW_GetLnpProperties", lnp(), lnpr.data()), kOk);
  ASSERT_EQ(get(kNic0, "MACAddress"), "02-1c-4e-00-01-52");
  const u8 mac[6] = {0x02, 0x1c, 0x4e, 0x00, 0x01, 0x52};
  EXPECT_EQ(memcmp(lnpr.data(), mac, 6), 0);
  EXPECT_EQ(lnpr.u32at(8), 0u);
  EXPECT_TRUE(lnpr.zero(12, 44));
  Record<imahost::kVmwLnpProperties> plain;
  ASSERT_EQ(host.call("IMA_GetLnpProperties", lnp(), plain.data()), kOk);
  EXPECT_EQ(memcmp(plain.data(), mac, 6), 0);
  EXPECT_EQ(plain.u32at(12), 0xA5A5A5A5u) << "the standard record ends at 12";

  Record<imahost::kVmwPnpProperties> pnpr;
  ASSERT_EQ(host.call("IMA_VMW_GetPnpProperties", pnp(), pnpr.data()), kOk);
  Oid owner = pnpr.oidat(0);
  EXPECT_EQ(owner.type, kPhba);
  EXPECT_EQ(owner.owner, kOwner);
  EXPECT_EQ(owner.sequence, (uint64_t)tag(kPhba0));
  EXPECT_EQ(memcmp(pnpr.data() + 16, mac, 6), 0);
  EXPECT_EQ(pnpr.u32at(24), 0u);
  EXPECT_EQ(pnpr.u32at(28), 10000u) << get(kNic0, "PortMaxSpeed");
  EXPECT_EQ(pnpr.u32at(32), 10000u) << get(kNic0, "PortSpeed");
  EXPECT_EQ(pnpr.u32at(36), 9000u);
  EXPECT_TRUE(pnpr.zero(40, 72));

  u32 status = 9;
  EXPECT_EQ(host.call("IMA_GetNetworkPortStatus", pnp(), &status), kOk);
  EXPECT_EQ(status, 0u) << get(kNic0, "LogicalLinkStatus");
  status = 9;
  EXPECT_EQ(host.call("IMA_GetNetworkPortStatus", lnp(), &status), kOk);
  EXPECT_EQ(status, 0u);
  // The out pointer is checked after the id here.
  EXPECT_EQ(host.call("IMA_GetNetworkPortStatus", phba(), (u32*)nullptr), kIncorrectType);
  EXPECT_EQ(host.call("IMA_GetNetworkPortStatus", pnp(), (u32*)nullptr), kInvalidParam);

  Record<imahost::kMtuProperties> mtu;
  ASSERT_EQ(host.call("IMA_VMW_GetMtuProperties", phba(), mtu.data()), kOk);
  EXPECT_EQ(mtu.u32at(0), 1u);
  EXPECT_EQ(mtu.u32at(4), 0u);
  EXPECT_EQ(mtu.u32at(8), 9000u);
  EXPECT_TRUE(mtu.zero(12, 28));
  Record<imahost::kArpProperties> arp;
  ASSERT_EQ(host.call("IMA_VMW_GetArpRedirectProperties", phba(), arp.data()), kOk);
  EXPECT_EQ(arp.u32at(0), 1u);
  EXPECT_TRUE(arp.zero(4, 16));
  EXPECT_EQ(host.call("IMA_VMW_SetMtu", phba(), (u32)1500), kNotSupported);
  EXPECT_EQ(host.call("IMA_VMW_SetArpRedirect", phba(), (u32)1), kNotSupported);
  EXPECT_EQ(host.call("IMA_VMW_SetMtu", pnp(), (u32)1500), kIncorrectType);
}

TEST_F(ImaHost, PortalAddressMaskAndGatewayThroughTheTree) {
  // The current mask reads 0.0.0.0: the address change sends 255.255.255.0.
  ASSERT_EQ(get(kTcpip0, "InitiatorSubnetMask"), "0.0.0.0");
  imahost::IpAddress addr = v4(10, 20, 30, 40);
  EXPECT_EQ(host.call("IMA_SetNetworkPortalIpAddress", portal(), (imahost::IpAddress*)nullptr), kInvalidParam);
  ASSERT_EQ(host.call("IMA_SetNetworkPortalIpAddress", portal(), &addr), kOk) << last_code();
  EXPECT_EQ(get(kTcpip0, "InitiatorIPAddress"), "10.20.30.40");
  EXPECT_EQ(get(kTcpip0, "InitiatorSubnetMask"), "255.255.255.0");

  Record<imahost::kPortalProperties> pr;
  ASSERT_EQ(host.call("IMA_GetNetworkPortalProperties", portal(), pr.data()), kOk);
  EXPECT_EQ(pr.u32at(0), 1u);
  EXPECT_EQ(pr.u32at(4), 0x281E140Au) << "10.20.30.40 in network order";
  Oid l = pr.oidat(20);
  EXPECT_EQ(l.type, kLnp);
  EXPECT_EQ(l.sequence, (uint64_t)tag(kPhba0));

  ASSERT_EQ(host.call("IMA_SetSubnetMask", pnp(), v4(255, 255, 0, 0)), kOk) << last_code();
  EXPECT_EQ(get(kTcpip0, "InitiatorSubnetMask"), "255.255.0.0");
  EXPECT_EQ(get(kTcpip0, "InitiatorIPAddress"), "10.20.30.40");
  ASSERT_EQ(host.call("IMA_VMW_SetSubnetMask", phba(), v4(255, 255, 255, 128)), kOk);
  EXPECT_EQ(get(kTcpip0, "InitiatorSubnetMask"), "255.255.255.128");

  ASSERT_EQ(host.call("IMA_SetDefaultGateway", lnp(), v4(10, 20, 30, 1)), kOk);
  EXPECT_EQ(get(kTcpip0, "DefaultGateway"), "10.20.30.1");

  Record<imahost::kIpProperties> ip;
  ASSERT_EQ(host.call("IMA_VMW_GetIpProperties", phba(), ip.data()), kOk);
  EXPECT_EQ(ip.u32at(0), 1u);
  EXPECT_EQ(ip.u32at(4), 0u) << "DHCPEnabled False";
  EXPECT_EQ(ip.u32at(8), 1u);
  EXPECT_EQ(ip.u32at(12), 1u);
  EXPECT_EQ(ip.u32at(16), 1u);
  EXPECT_EQ(ip.u32at(20), 0x80FFFFFFu);
  EXPECT_EQ(ip.u32at(36), 1u);
  EXPECT_EQ(ip.u32at(40), 1u);
  EXPECT_EQ(ip.u32at(44), 1u);
  EXPECT_EQ(ip.u32at(48), 0x011E140Au);
  EXPECT_TRUE(ip.zero(64, 72));
  EXPECT_EQ(ip.u32at(96), 0u);
  EXPECT_TRUE(ip.zero(100, 184)) << "the VMW reader zeroes the whole record";
  Record<imahost::kIpProperties> std_ip;
  ASSERT_EQ(host.call("IMA_GetIpProperties", pnp(), std_ip.data()), kOk);
  EXPECT_EQ(std_ip.u32at(48), 0x011E140Au);
  EXPECT_EQ(std_ip.u32at(100), 0xA5A5A5A5u) << "the standard reader writes only its fields";
}

TEST_F(ImaHost, ZeroMaskReadsNotValidWithZeroBytes) {
  Record<imahost::kIpProperties> ip;
  ASSERT_EQ(host.call("IMA_GetIpProperties", pnp(), ip.data()), kOk);
  EXPECT_EQ(ip.u32at(12), 0u);
  EXPECT_EQ(ip.u32at(20), 0u);
  EXPECT_EQ(ip.u32at(40), 0u);
}

// A gateway the tree refuses leaves the old one and the host is told.
TEST_F(ImaHost, RefusedGatewayIsRestoredAndReported) {
  ASSERT_EQ(host.call("IMA_SetDefaultGateway", phba(), v4(10, 0, 0, 1)), kOk);
  std::string before = state();
  EXPECT_EQ(host.call("IMA_SetDefaultGateway", phba(), v4(255, 255, 255, 255)), kInvalidParam);
  EXPECT_EQ(host.call("IMA_VMW_SetDefaultGateway", pnp(), v4(255, 255, 255, 255)), kInvalidParam);
  EXPECT_EQ(get(kTcpip0, "DefaultGateway"), "10.0.0.1");
  EXPECT_EQ(state(), before);
}

TEST_F(ImaHost, DhcpOnAndOffThroughTheActions) {
  EXPECT_EQ(host.call("IMA_SetIpConfigMethod", host.oid(kPnp, 0xFFFFFF), (u32)2), kNotFound)
      << "the flag is checked after the id";
  EXPECT_EQ(host.call("IMA_SetIpConfigMethod", pnp(), (u32)2), kInvalidParam);
  ASSERT_EQ(host.call("IMA_SetIpConfigMethod", pnp(), (u32)1), kOk) << last_code();
  EXPECT_EQ(get(kTcpip0, "DHCPEnabled"), "True");
  Record<imahost::kIpProperties> ip;
  ASSERT_EQ(host.call("IMA_GetIpProperties", pnp(), ip.data()), kOk);
  EXPECT_EQ(ip.u32at(4), 1u);
  ASSERT_EQ(host.call("IMA_SetIpConfigMethod", pnp(), (u32)0), kOk) << last_code();
  EXPECT_EQ(get(kTcpip0, "DHCPEnabled"), "False");
}

// The portal reader of the host extension answers by the host's banner.
TEST_F(ImaHost, BannerDecidesTheExtensionPortalReader) {
  Record<imahost::kPortalProperties> pr;
  struct Case {
    const char* banner;  // nullptr: no file
    u32 want;
  } cases[] = {{nullptr, 1u}, {"VMware ESXi 6.0.0 build-2494585\n", kNotSupported}, {"VMware ESXi 5.5.0\n", kOk}};
  for (const Case& c : cases) {
    unlink("/etc/banner");
    if (c.banner != nullptr) {
      std::ofstream f("/etc/banner");
      f << "Welcome\n" << c.banner;
    }
    EXPECT_EQ(host.call("IMA_VMW_GetNetworkPortalProperties", phba(), pr.data()), c.want)
        << (c.banner ? c.banner : "no banner");
    // "6.0" answers before any id check.
    if (c.want == kNotSupported) {
      EXPECT_EQ(host.call("IMA_VMW_GetNetworkPortalProperties", host.oid(0, 0), pr.data()), kNotSupported);
    }
  }
  EXPECT_EQ(host.call("IMA_VMW_GetNetworkPortalProperties", portal(), pr.data()), kOk);
  EXPECT_EQ(pr.oidat(20).sequence, (uint64_t)tag(kPhba0));
  unlink("/etc/banner");
}

}  // namespace
}  // namespace imatest
