// The allowed-type mask of every entry point that takes an object id: each
// type the mask does not hold is refused as an incorrect type, types 0 and
// 17 as invalid, and an allowed type whose tag names no such object as not
// found - before anything in the tree is touched.
#include <unistd.h>

#include <fstream>

#include "ima_fixture.h"

namespace imatest {
namespace {

enum Shape { O, OP, OU, OUP, OPP, OUPP, OUPU, OUU, OUUP, OIP, OADDR, OSTATIC, OLUNS };

struct Entry {
  const char* name;
  u32 mask;
  Shape shape;
};

// The table every entry point's check follows.
const Entry kEntries[] = {
    {"IMA_AddLhbaMutualAuthParms", 0x8, OUP},
    {"IMA_GetInUseInitiatorAuthMethods", 0x8, OPP},
    {"IMA_GetLhbaMutualAuthParmsList", 0x8, OUP},
    {"IMA_GetLhbaProperties", 0x8, OP},
    {"IMA_GetSupportedAuthMethods", 0x8, OUPP},
    {"IMA_RemoveLhbaMutualAuthParms", 0x8, OUP},
    {"IMA_SetInitiatorAuthMethods", 0x8, OUP},
    {"IMA_SetInitiatorAuthParms", 0x8, OUP},
    {"IMA_VMW_GetLhbaProperties", 0x8, OP},
    {"IMA_GetPhbaProperties", 0x10, OP},
    {"IMA_GetPhbaStatus", 0x10, OP},
    {"IMA_PhbaDownload", 0x10, OUP},
    {"IMA_VMW_GetArpRedirectProperties", 0x10, OP},
    {"IMA_VMW_GetDiscoveryStatus", 0x10, OP},
    {"IMA_VMW_GetLhbaOidList", 0x10, OP},
    {"IMA_VMW_GetMtuProperties", 0x10, OP},
    {"IMA_VMW_GetPhbaProperties", 0x10, OP},
    {"IMA_VMW_SetArpRedirect", 0x10, OU},
    {"IMA_VMW_SetMtu", 0x10, OU},
    {"IMA_VMW_SetNetworkPortalIpAddress", 0x10, OP},
    {"IMA_VMW_GetNodeProperties", 0x18, OP},
    {"IMA_VMW_Rediscover", 0x18, O},
    {"IMA_VMW_SetNodeAlias", 0x18, OP},
    {"IMA_GetNetworkPortalProperties", 0x20, OP},
    {"IMA_SetNetworkPortalIpAddress", 0x20, OP},
    {"IMA_VMW_GetNetworkPortalProperties", 0x30, OP},
    {"IMA_GetDiscoveryProperties", 0x38, OP},
    {"IMA_SetIsnsDiscovery", 0x38, OUUP},
    {"IMA_SetSlpDiscovery", 0x38, OU},
    {"IMA_SetStaticDiscovery", 0x38, OU},
    {"IMA_GetLnpProperties", 0x80, OP},
    {"IMA_GetNetworkPortalOidList", 0x80, OP},
    {"IMA_VMW_GetLnpProperties", 0x80, OP},
    {"IMA_GetTargetOidList", 0x88, OP},
    {"IMA_VMW_GetNetworkPortalOidList", 0x88, OP},
    {"IMA_VMW_GetTargetOidList", 0x88, OP},
    {"IMA_GetPnpOidList", 0x90, OP},
    {"IMA_GetIpProperties", 0x100, OP},
    {"IMA_GetPnpProperties", 0x100, OP},
    {"IMA_SetIpConfigMethod", 0x100, OU},
    {"IMA_VMW_GetPnpProperties", 0x100, OP},
    {"IMA_AddDiscoveryAddress", 0x108, OADDR},
    {"IMA_AddStaticDiscoveryTarget", 0x108, OSTATIC},
    {"IMA_GetDiscoveryAddressOidList", 0x108, OP},
    {"IMA_GetStaticDiscoveryTargetOidList", 0x108, OP},
    {"IMA_VMW_GetStaticDiscoveryTargetOidList", 0x108, OP},
    {"IMA_VMW_GetIpProperties", 0x110, OP},
    {"IMA_GetNetworkPortStatus", 0x180, OP},
    {"IMA_SetDefaultGateway", 0x190, OIP},
    {"IMA_SetSubnetMask", 0x190, OIP},
    {"IMA_VMW_GetLnpOidList", 0x190, OP},
    {"IMA_VMW_SetDefaultGateway", 0x190, OIP},
    {"IMA_VMW_SetSubnetMask", 0x190, OIP},
    {"IMA_GetTargetProperties", 0x200, OP},
    {"IMA_GetIFMarkIntProperties", 0x208, OP},
    {"IMA_GetIFMarkerProperties", 0x208, OP},
    {"IMA_GetLuOidList", 0x208, OP},
    {"IMA_GetOFMarkIntProperties", 0x208, OP},
    {"IMA_GetOFMarkerProperties", 0x208, OP},
    {"IMA_GetSessionOidList", 0x208, OP},
    {"IMA_SetDataDigestValues", 0x208, OUP},
    {"IMA_SetDataPduInOrder", 0x208, OU},
    {"IMA_SetDataSequenceInOrder", 0x208, OU},
    {"IMA_SetDefaultTime2Retain", 0x208, OU},
    {"IMA_SetDefaultTime2Wait", 0x208, OU},
    {"IMA_SetErrorRecoveryLevel", 0x208, OU},
    {"IMA_SetFirstBurstLength", 0x208, OU},
    {"IMA_SetHeaderDigestValues", 0x208, OUP},
    {"IMA_SetIFMarkIntProperties", 0x208, OU},
    {"IMA_SetIFMarkerProperties", 0x208, OU},
    {"IMA_SetInitialR2T", 0x208, OU},
    {"IMA_SetMaxBurstLength", 0x208, OU},
    {"IMA_SetMaxConnections", 0x208, OU},
    {"IMA_SetMaxOutstandingR2T", 0x208, OU},
    {"IMA_SetMaxRecvDataSegmentLength", 0x208, OU},
    {"IMA_SetOFMarkIntProperties", 0x208, OU},
    {"IMA_SetOFMarkerProperties", 0x208, OU},
    {"IMA_GetLuProperties", 0x400, OP},
    {"IMA_LuReportLuns", 0x600, OLUNS},
    {"IMA_GetDiscoveryAddressProperties", 0x800, OP},
    {"IMA_RemoveDiscoveryAddress", 0x800, O},
    {"IMA_GetStaticDiscoveryTargetProperties", 0x1000, OP},
    {"IMA_RemoveStaticDiscoveryTarget", 0x1200, O},
    {"IMA_VMW_GetStaticDiscoveryTargetProperties", 0x1200, OP},
    {"IMA_GetAddressKeys", 0x1A00, OP},
    {"IMA_GetInitiatorLocalAuthParms", 0x1A00, OUPP},
    {"IMA_GetMutualLocalAuthParms", 0x1A00, OUP},
    {"IMA_SetInitiatorLocalAuthParms", 0x1A00, OUPU},
    {"IMA_SetMutualLocalAuth", 0x1A00, OUU},
    {"IMA_SetMutualLocalAuthParms", 0x1A00, OUPU},
    {"IMA_GetDataPduInOrderProperties", 0x1A08, OP},
    {"IMA_GetDataSequenceInOrderProperties", 0x1A08, OP},
    {"IMA_GetDefaultTime2RetainProperties", 0x1A08, OP},
    {"IMA_GetDefaultTime2WaitProperties", 0x1A08, OP},
    {"IMA_GetDigestProperties", 0x1A08, OP},
    {"IMA_GetErrorRecoveryLevelProperties", 0x1A08, OP},
    {"IMA_GetFirstBurstLengthProperties", 0x1A08, OP},
    {"IMA_GetImmediateDataProperties", 0x1A08, OP},
    {"IMA_GetInitialR2TProperties", 0x1A08, OP},
    {"IMA_GetInitiatorAuthParms", 0x1A08, OUP},
    {"IMA_GetMaxBurstLengthProperties", 0x1A08, OP},
    {"IMA_GetMaxConnectionsProperties", 0x1A08, OP},
    {"IMA_GetMaxOutstandingR2TProperties", 0x1A08, OP},
    {"IMA_GetMaxRecvDataSegmentLengthProperties", 0x1A08, OP},
    {"IMA_SetImmediateData", 0x1A08, OU},
    {"IMA_VMW_GetDataDigest", 0x1A08, OPP},
    {"IMA_VMW_GetHeaderDigest", 0x1A08, OPP},
    {"IMA_VMW_GetInUseInitiatorLocalAuthMethods", 0x1A08, OPP},
    {"IMA_VMW_GetMutualAuthParms", 0x1A08, OUP},
    {"IMA_VMW_GetSupportedAuthMethods", 0x1A08, OUPP},
    {"IMA_VMW_SetDataDigest", 0x1A08, OUP},
    {"IMA_VMW_SetHeaderDigest", 0x1A08, OUP},
    {"IMA_VMW_SetInitiatorAuthMethods", 0x1A08, OUP},
    {"IMA_VMW_SetInitiatorAuthParms", 0x1A08, OUP},
    {"IMA_VMW_SetMutualAuthParms", 0x1A08, OUP},
    {"IMA_GetConnectionProperties", 0x2000, OP},
    {"IMA_VMW_GetConnectionStatus", 0x2000, OP},
    {"IMA_GetConnectionOidList", 0x4000, OP},
    {"IMA_GetSessionProperties", 0x4000, OP},
    {"IMA_VMW_AddSession", 0x4208, O},
    {"IMA_VMW_RemoveSession", 0x4208, O},
};

class Masks : public ImaHost {
 protected:
  alignas(8) u8 buf[16384] = {};
  alignas(8) u8 buf2[16384] = {};

  u32 call(const Entry& e, const Oid& oid) {
    memset(buf, 0, sizeof buf);
    memset(buf2, 0, sizeof buf2);
    const char* n = e.name;
    switch (e.shape) {
      case O: return host.call(n, oid);
      case OP: return host.call(n, oid, buf);
      case OU: return host.call(n, oid, (u32)0);
      case OUP: return host.call(n, oid, (u32)1, buf);
      case OPP: return host.call(n, oid, buf, buf2);
      case OUPP: return host.call(n, oid, (u32)1, buf, buf2);
      case OUPU: return host.call(n, oid, (u32)1, buf, (u32)1);
      case OUU: return host.call(n, oid, (u32)1, (u32)1);
      case OUUP: return host.call(n, oid, (u32)0, (u32)0, buf);
      case OIP: return host.call(n, oid, imahost::IpAddress{1, {10, 0, 0, 1}});
      case OADDR: return host.call(n, oid, imahost::TargetAddress{}, (Oid*)buf);
      case OSTATIC: return host.call(n, oid, imahost::StaticTarget{}, (Oid*)buf);
      case OLUNS: {
        u32 length = 64, sense_length = 32;
        return host.call(n, oid, (u32)0, (u8)0, buf, &length, buf2, &sense_length);
      }
    }
    return 0;
  }
};

TEST_F(Masks, EveryEntryPointRefusesTheTypesItsMaskDoesNotHold) {
  {
    std::ofstream banner("/etc/banner");
    banner << "VMware ESXi 5.5.0\n";
  }
  std::string before = state();
  for (const Entry& e : kEntries) {
    for (u32 type = 0; type <= 17; type++) {
      u32 want = type == 0 || type > 16 ? kInvalidType : (e.mask >> type & 1) ? kNotFound : kIncorrectType;
      // Tag 0 is ROOT: no object of any type.
      EXPECT_EQ(call(e, host.oid(type, 0)), want) << e.name << " type " << type;
    }
    // A right node of an allowed type, but another owner.
    for (u32 type = 0; type <= 16; type++) {
      if ((e.mask >> type & 1) == 0) continue;
      const char* path = type == kLhba                   ? kLhba0
                         : type == kPhba || type == kLnp ? kPhba0
                         : type == kPortal               ? kTcpip0
                         : type == kPnp                  ? kNic0
                                                         : nullptr;
      if (path != nullptr) {
        EXPECT_EQ(call(e, host.oid(type, tag(path), kOwner + 1)), kNotFound) << e.name << " type " << type;
      }
    }
  }
  EXPECT_EQ(state(), before);
  unlink("/etc/banner");
}

// Entry points of the objects this build does not serve yet answer "not
// supported" once their checks pass; the discovery setters and the LU
// pass-through answer so in any build.
TEST_F(Masks, NotYetServedEntryPointsAnswerNotSupportedAfterTheirChecks) {
  struct Case {
    const char* name;
    u32 type;
    const char* path;
  } cases[] = {
      {"IMA_AddDiscoveryAddress", kLhba, kLhba0},
      {"IMA_GetDiscoveryAddressOidList", kLhba, kLhba0},
      {"IMA_GetDiscoveryProperties", kPhba, kPhba0},
      {"IMA_SetStaticDiscovery", kPortal, kTcpip0},
      {"IMA_SetSlpDiscovery", kLhba, kLhba0},
      {"IMA_SetIsnsDiscovery", kPhba, kPhba0},
      {"IMA_VMW_Rediscover", kPhba, kPhba0},
      {"IMA_VMW_GetDiscoveryStatus", kPhba, kPhba0},
      {"IMA_GetTargetOidList", kLhba, kLhba0},
      {"IMA_VMW_GetTargetOidList", kLnp, kPhba0},
      {"IMA_GetStaticDiscoveryTargetOidList", kPnp, kNic0},
      {"IMA_AddStaticDiscoveryTarget", kLhba, kLhba0},
      {"IMA_GetSessionOidList", kLhba, kLhba0},
      {"IMA_VMW_AddSession", kLhba, kLhba0},
      {"IMA_VMW_RemoveSession", kLhba, kLhba0},
      {"IMA_GetLuOidList", kLhba, kLhba0},
  };
  std::string before = state();
  for (const Case& c : cases) {
    const Entry* e = nullptr;
    for (const Entry& x : kEntries)
      if (strcmp(x.name, c.name) == 0) e = &x;
    ASSERT_NE(e, nullptr) << c.name;
    EXPECT_EQ(call(*e, host.oid(c.type, tag(c.path))), kNotSupported) << c.name;
  }
  // Their own argument checks come first.
  EXPECT_EQ(host.call("IMA_SetIsnsDiscovery", host.oid(0, 0), (u32)1, (u32)3, buf), kInvalidParam);
  EXPECT_EQ(host.call("IMA_SetStaticDiscovery", host.oid(0, 0), (u32)2), kInvalidParam);
  EXPECT_EQ(host.call("IMA_AddDiscoveryAddress", lhba(), imahost::TargetAddress{}, (Oid*)nullptr), kInvalidParam);
  u32 zero = 0, sense = 32;
  EXPECT_EQ(host.call("IMA_LuReportLuns", host.oid(0, 0), (u32)0, (u8)0, buf, &zero, buf2, &sense), kInvalidParam);
  EXPECT_EQ(state(), before);
}

}  // namespace
}  // namespace imatest

namespace imatest {
namespace {

// Which argument checks come before the id check: each entry point is
// called with one bad argument and an id of type 0. A check made first
// answers invalid parameter; one made after the id lets the id's invalid
// type answer.
TEST_F(Masks, ArgumentChecksComeBeforeOrAfterTheIdAsEachEntryPointSays) {
  {
    std::ofstream banner("/etc/banner");
    banner << "VMware ESXi 5.5.0\n";
  }
  const Oid bad = host.oid(0, tag(kPhba0));
  void* null = nullptr;
  struct Case {
    const char* name;
    int how;  // 0 null out; 1 flag 2; 2 count 0; 3 method 5; 4 null second pointer
    bool before;
  } cases[] = {
      {"IMA_GetPhbaProperties", 0, true},
      {"IMA_VMW_GetPhbaProperties", 0, true},
      {"IMA_GetPhbaStatus", 0, true},
      {"IMA_GetLhbaProperties", 0, true},
      {"IMA_VMW_GetLhbaProperties", 0, true},
      {"IMA_VMW_GetNodeProperties", 0, true},
      {"IMA_VMW_SetNodeName", 0, true},
      {"IMA_VMW_SetNodeAlias", 0, true},
      {"IMA_VMW_GetLhbaOidList", 0, true},
      {"IMA_GetPnpOidList", 0, true},
      {"IMA_GetNetworkPortalOidList", 0, true},
      {"IMA_VMW_GetNetworkPortalOidList", 0, true},
      {"IMA_VMW_GetLnpOidList", 0, true},
      {"IMA_GetNetworkPortalProperties", 0, true},
      {"IMA_VMW_GetNetworkPortalProperties", 0, true},
      {"IMA_GetLnpProperties", 0, true},
      {"IMA_VMW_GetLnpProperties", 0, true},
      {"IMA_GetPnpProperties", 0, true},
      {"IMA_VMW_GetPnpProperties", 0, true},
      {"IMA_GetIpProperties", 0, true},
      {"IMA_VMW_GetIpProperties", 0, true},
      {"IMA_GetNetworkPortStatus", 0, false},
      {"IMA_VMW_GetMtuProperties", 0, true},
      {"IMA_VMW_GetArpRedirectProperties", 0, true},
      {"IMA_SetNetworkPortalIpAddress", 0, true},
      {"IMA_VMW_SetNetworkPortalIpAddress", 0, true},
      {"IMA_SetIpConfigMethod", 1, false},
      {"IMA_GetMaxBurstLengthProperties", 0, true},
      {"IMA_GetDefaultTime2RetainProperties", 0, true},
      {"IMA_GetInitialR2TProperties", 0, true},
      {"IMA_GetDataPduInOrderProperties", 0, true},
      {"IMA_GetOFMarkerProperties", 0, true},
      {"IMA_GetIFMarkIntProperties", 0, true},
      {"IMA_GetDigestProperties", 0, true},
      {"IMA_SetImmediateData", 1, true},
      {"IMA_SetInitialR2T", 1, true},
      {"IMA_SetDataSequenceInOrder", 1, true},
      {"IMA_SetDataPduInOrder", 1, true},
      {"IMA_SetOFMarkerProperties", 1, true},
      {"IMA_SetIFMarkerProperties", 1, true},
      {"IMA_SetMaxBurstLength", 1, false},
      {"IMA_SetHeaderDigestValues", 2, true},
      {"IMA_SetDataDigestValues", 2, true},
      {"IMA_VMW_SetHeaderDigest", 2, true},
      {"IMA_VMW_SetDataDigest", 2, true},
      {"IMA_VMW_GetHeaderDigest", 4, true},
      {"IMA_VMW_GetDataDigest", 4, true},
      {"IMA_GetSupportedAuthMethods", 1, false},
      {"IMA_VMW_GetSupportedAuthMethods", 1, false},
      {"IMA_GetInUseInitiatorAuthMethods", 4, true},
      {"IMA_VMW_GetInUseInitiatorLocalAuthMethods", 4, true},
      {"IMA_SetInitiatorAuthMethods", 2, true},
      {"IMA_VMW_SetInitiatorAuthMethods", 2, true},
      {"IMA_SetInitiatorAuthParms", 3, true},
      {"IMA_VMW_SetInitiatorAuthParms", 3, true},
      {"IMA_AddLhbaMutualAuthParms", 3, true},
      {"IMA_VMW_SetMutualAuthParms", 3, true},
      {"IMA_RemoveLhbaMutualAuthParms", 3, true},
      {"IMA_GetInitiatorAuthParms", 3, true},
      {"IMA_VMW_GetMutualAuthParms", 3, true},
      {"IMA_GetMutualLocalAuthParms", 3, true},
      {"IMA_GetLhbaMutualAuthParmsList", 3, true},
  };
  std::string before = state();
  u32 count = 2;
  for (const Case& c : cases) {
    u32 got = 0;
    memset(buf, 0, sizeof buf);
    switch (c.how) {
      case 0: got = host.call(c.name, bad, null); break;
      case 1:
        got = strstr(c.name, "Supported") != nullptr ? host.call(c.name, bad, (u32)2, &count, buf)
                                                     : host.call(c.name, bad, (u32)2);
        break;
      case 2: got = host.call(c.name, bad, (u32)0, buf); break;
      case 3: got = host.call(c.name, bad, (u32)5, buf); break;
      case 4: got = host.call(c.name, bad, &count, null); break;
    }
    EXPECT_EQ(got, c.before ? kInvalidParam : kInvalidType) << c.name;
  }
  // The local-authentication entry points: the method is checked first.
  u32 method = 0;
  EXPECT_EQ(host.call("IMA_SetInitiatorLocalAuthParms", bad, (u32)5, buf, (u32)1), kInvalidParam);
  EXPECT_EQ(host.call("IMA_SetMutualLocalAuthParms", bad, (u32)5, buf, (u32)1), kInvalidParam);
  EXPECT_EQ(host.call("IMA_SetMutualLocalAuth", bad, (u32)5, (u32)1), kInvalidParam);
  EXPECT_EQ(host.call("IMA_GetInitiatorLocalAuthParms", bad, (u32)5, &method, buf), kInvalidParam);
  EXPECT_EQ(host.call("IMA_PhbaDownload", bad, (u32)0, null), kInvalidParam);
  EXPECT_EQ(host.call("IMA_PhbaDownload", bad, (u32)9, buf), kInvalidType) << "the image type after the id";
  EXPECT_EQ(state(), before);
  unlink("/etc/banner");
}

}  // namespace
}  // namespace imatest
