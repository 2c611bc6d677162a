// The plugin's frame as the framework sees it: opening and closing, object
// id checks, the id list block, the shared node id, the plugin-level entry
// points and the debug log.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "ima_fixture.h"

namespace imatest {
namespace {

std::string read_file(const char* path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST_F(ImaHost, TwoOpensOpenTheLibraryOnceAndTheSecondCloseReleasesIt) {
  ASSERT_EQ(host.init(kOwner), kOk);  // a second open: counted, the tree stays
  std::vector<Oid> phbas;
  ASSERT_EQ(host.list("IMA_GetPhbaOidList", &phbas), kOk);
  ASSERT_EQ(phbas.size(), 2u);
  u32 tag0 = tag(kPhba0);

  host.cleanup();
  EXPECT_EQ(host.list("IMA_GetPhbaOidList", &phbas), kOk) << "one open is left";
  EXPECT_EQ(phbas.size(), 2u);

  host.cleanup();
  EXPECT_EQ(host.list("IMA_GetPhbaOidList", &phbas), kUnknown) << "the library is closed";
  u32 status = 7;
  EXPECT_EQ(host.call("IMA_GetPhbaStatus", host.oid(kPhba, tag0), &status), kNotFound);
  host.cleanup();  // a close without an open does nothing
  EXPECT_EQ(host.opens(), 0);

  // A new cycle with another owner: the old owner's ids are not found.
  ASSERT_EQ(host.init(kOwner + 1), kOk);
  ASSERT_EQ(host.list("IMA_GetPhbaOidList", &phbas), kOk);
  ASSERT_EQ(phbas.size(), 2u);
  EXPECT_EQ(phbas[0].owner, kOwner + 1);
  EXPECT_EQ(host.call("IMA_GetPhbaStatus", host.oid(kPhba, tag(kPhba0), kOwner), &status), kNotFound);
  EXPECT_EQ(host.call("IMA_GetPhbaStatus", phbas[0], &status), kOk);
  EXPECT_EQ(status, 0u);
}

TEST_F(ImaHost, IdListIsOneBlockOfCountAndPackedIds) {
  imahost::OidList* block = nullptr;
  ASSERT_EQ(host.call("IMA_GetPhbaOidList", &block), kOk);
  ASSERT_NE(block, nullptr);
  const u8* b = reinterpret_cast<const u8*>(block);
  u32 count, type, owner, lo, hi;
  memcpy(&count, b, 4);
  ASSERT_EQ(count, 2u);
  const u32 want[2] = {tag(kPhba0), tag("Kalderstone0/iSCSIPhysicalHBA1")};
  for (u32 k = 0; k < 2; k++) {
    memcpy(&type, b + 4 + 16 * k, 4);
    memcpy(&owner, b + 8 + 16 * k, 4);
    memcpy(&lo, b + 12 + 16 * k, 4);
    memcpy(&hi, b + 16 + 16 * k, 4);
    EXPECT_EQ(type, kPhba);
    EXPECT_EQ(owner, kOwner);
    EXPECT_EQ(lo, want[k]);
    EXPECT_EQ(hi, 0u) << "tags below 2^31 extend with zeros";
  }
  EXPECT_EQ(host.free_block(block), kOk);
  EXPECT_EQ(host.free_block(nullptr), kOk);

  std::vector<Oid> lnps;
  ASSERT_EQ(host.list("IMA_GetLnpOidList", &lnps), kOk);
  ASSERT_EQ(lnps.size(), 2u);
  EXPECT_EQ(lnps[0].type, kLnp);
  EXPECT_EQ((u32)lnps[0].sequence, want[0]);
}

TEST_F(ImaHost, IdChecksRefuseTypeKindAndOwnerInThatOrder) {
  u32 st = 0;
  Oid good = phba();
  struct Case {
    Oid oid;
    u32 want;
  } cases[] = {
      {host.oid(0, tag(kPhba0)), kInvalidType},
      {host.oid(17, tag(kPhba0)), kInvalidType},
      {host.oid(6, tag(kPhba0)), kIncorrectType},
      {host.oid(kLhba, tag(kLhba0)), kIncorrectType},         // a type the mask does not take
      {host.oid(kPhba, tag(kLhba0)), kNotFound},              // a node of another kind
      {host.oid(kPhba, 0xFFFFFF), kNotFound},                 // no node at all
      {host.oid(kPhba, tag(kPhba0), kOwner + 9), kNotFound},  // another owner
      {good, kOk},
  };
  for (const Case& c : cases)
    EXPECT_EQ(host.call("IMA_GetPhbaStatus", c.oid, &st), c.want) << c.oid.type << " " << (u32)c.oid.sequence;

  // Only the low half of the sequence number is the tag.
  Oid high = good;
  high.sequence |= 0xABCD000000000000ull;
  EXPECT_EQ(host.call("IMA_GetPhbaStatus", high, &st), kOk);
  // A target id must name a TargetPortal<n> of a Target<n>: a logical HBA's
  // parent is no target.
  u32 out[2] = {9, 9}, count = 0;
  EXPECT_EQ(host.call("IMA_VMW_GetHeaderDigest", host.oid(kTarget, tag(kLhba0)), &count, out), kNotFound);
}

// Names are matched exactly (word and instance number), not as substrings:
// a group whose name only holds a word is not that object.
TEST_F(ImaHost, IdChecksMatchWholeNamesNotWordsInsideThem) {
  struct Probe {
    u32 type;
    const char* word;
  } probes[] = {{kLhba, "LogicalHBA"},
                {kPhba, "iSCSIPhysicalHBA"},
                {kPortal, "TCPIPConfiguration"},
                {kPnp, "NICConfiguration"},
                {10, "LUN"},
                {kDisc, "SendTargetPortal"},
                {13, "Connection"},
                {14, "Session"}};
  // Every group of the tree, with its path.
  std::vector<std::pair<u32, std::string>> groups;
  std::vector<u32> todo{0};
  static u32 tags[4096];
  while (!todo.empty()) {
    u32 t = todo.back();
    todo.pop_back();
    u32 n = 0;
    if (host.call("ORSA_get_child_tags", t, tags, &n, (u32)1) != 0) continue;
    for (u32 i = 0; i < n; i++) {
      groups.emplace_back(tags[i], node_name(tags[i]));
      todo.push_back(tags[i]);
    }
  }
  size_t near_misses = 0;
  for (const auto& [t, name] : groups) {
    for (const Probe& p : probes) {
      if (name.find(p.word) == std::string::npos) continue;
      bool exact = name.size() > strlen(p.word) && name.compare(0, strlen(p.word), p.word) == 0 &&
                   name.find_first_not_of("0123456789", strlen(p.word)) == std::string::npos;
      if (p.type == kPortal || p.type == kPnp) exact = name == p.word;
      if (exact) continue;
      near_misses++;
      u32 st = 0;
      Record<imahost::kBoolValue> rec;
      Record<imahost::kMinMax> mm;
      u32 got = 0;
      switch (p.type) {
        case kLhba:
        case kDisc: got = host.call("IMA_GetDigestProperties", host.oid(p.type, t), rec.data()); break;
        case kPhba: got = host.call("IMA_GetPhbaStatus", host.oid(p.type, t), &st); break;
        case kPortal: got = host.call("IMA_GetNetworkPortalProperties", host.oid(p.type, t), mm.data()); break;
        case kPnp: got = host.call("IMA_GetNetworkPortStatus", host.oid(p.type, t), &st); break;
        case 10: got = host.call("IMA_GetLuProperties", host.oid(p.type, t), mm.data()); break;
        case 13: got = host.call("IMA_GetConnectionProperties", host.oid(p.type, t), mm.data()); break;
        case 14: got = host.call("IMA_GetSessionProperties", host.oid(p.type, t), mm.data()); break;
      }
      EXPECT_EQ(got, kNotFound) << name << " as type " << p.type;
    }
  }
  EXPECT_GT(near_misses, 3u) << "the default host has groups such as InitiatorLoginOptions' neighbours";
}

TEST_F(ImaHost, SharedNodeIdNamesTheFirstInitiatorNameGroup) {
  EXPECT_EQ(host.call("IMA_GetSharedNodeOid", (Oid*)nullptr), kInvalidParam);
  Oid node{};
  ASSERT_EQ(host.call("IMA_GetSharedNodeOid", &node), kOk);
  EXPECT_EQ(node.type, kNode);
  EXPECT_EQ(node.owner, kOwner);
  EXPECT_EQ(node.sequence, (uint64_t)tag(std::string(kLhba0) + "/InitiatoriSCSIName"));
}

TEST_F(ImaHost, PluginLevelEntryPoints) {
  u8 props[64];
  EXPECT_EQ(host.call("IMA_GetPluginProperties", host.oid(1, 0), (u8*)nullptr), kInvalidParam);
  EXPECT_EQ(host.call("IMA_GetPluginProperties", host.oid(1, 0), props), kNotSupported);
  for (u32 type = 0; type <= 17; type++) {
    u32 want = type == 0 || type > 16 ? kInvalidType
               : (type == 3 || type == 5 || type == 7 || type == 8 || type == 9 || type == 11 || type == 12)
                   ? kOk
                   : kIncorrectType;
    EXPECT_EQ(host.call("IMA_VMW_CheckSupportedParameterLevel", type, (u32)0, (u32)0), want) << type;
  }
  u32 count = 2, methods[2] = {0, 0};
  EXPECT_EQ(host.call("IMA_VMW_GetSupportedMutualAuthMethods", lhba(), (u32)0, &count, methods), kNotSupported);
  EXPECT_EQ(host.call("IMA_VMW_SetMutualAuthMethods", lhba(), (u32)1, methods), kNotSupported);
  EXPECT_EQ(host.call("IMA_PersistHbaParameters", phba()), kNotSupported);
  EXPECT_EQ(host.call("IMA_VMW_SetDebugLevel", (u32)3), kNotSupported);
  EXPECT_EQ(host.call("IMA_check_session_status", tag(kPhba0)), kNotSupported) << "targets are not served yet";
}

// A refusal of the tree API reaches the host as an invalid parameter and
// leaves a line in the plugin's log; a handler's own status passes as it is.
TEST_F(ImaHost, TreeRefusalsAreInvalidParameterAndHandlerStatusesPass) {
  unlink("/tmp/ima.log");
  // The tree refuses a name that is no iSCSI name.
  EXPECT_EQ(host.call("IMA_VMW_SetNodeName", lhba(), wide("no spaces allowed").data()), kInvalidParam);
  EXPECT_NE(read_file("/tmp/ima.log").find("in Error check and failed in ORSA\n"), std::string::npos);
  // CHAP configuration is not served by this build's tree: its status passes.
  const u32 on[1] = {1};
  EXPECT_EQ(host.call("IMA_SetInitiatorAuthMethods", lhba(), (u32)1, on), 259u);
}

TEST_F(ImaHost, DebugLogFollowsNoLink) {
  unlink("/tmp/ima.log");
  ASSERT_EQ(mkdir("/tmp/victim", 0755) == 0 || errno == EEXIST, true);
  {
    std::ofstream v("/tmp/victim/file");
    v << "keep\n";
  }
  ASSERT_EQ(symlink("/tmp/victim/file", "/tmp/ima.log"), 0);
  EXPECT_EQ(host.call("IMA_VMW_SetNodeName", lhba(), wide("no spaces allowed").data()), kInvalidParam);
  EXPECT_EQ(read_file("/tmp/victim/file"), "keep\n");
  unlink("/tmp/ima.log");
  EXPECT_EQ(host.call("IMA_VMW_SetNodeName", lhba(), wide("no spaces allowed").data()), kInvalidParam);
  EXPECT_NE(read_file("/tmp/ima.log").find("failed in ORSA"), std::string::npos);
}

}  // namespace
}  // namespace imatest
