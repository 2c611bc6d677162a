// CHAP authentication of a logical HBA. The tree's ConfigureCHAP and
// DeleteCHAP are not served by this build (status 259 "not supported"):
// every change reaches the tree's action and comes back with its status,
// and nothing changes.
#include "ima_fixture.h"

namespace imatest {
namespace {

const std::string kAuth = "Kalderstone0/iSCSIPhysicalHBA0/LogicalHBA0/InitiatorLoginOptions/Authentication";
constexpr u32 kTreeNotSupported = 259;

Record<imahost::kAuthParms> chap(const std::string& name, const std::string& secret, u32 level = 4) {
  Record<imahost::kAuthParms> r(0);
  r.puttext(imahost::kChapName, name);
  r.put32(imahost::kChapNameLength, (u32)name.size());
  r.puttext(imahost::kChapSecret, secret);
  r.put32(imahost::kChapSecretLength, (u32)secret.size());
  r.put32(imahost::kChapLevel, level);
  return r;
}

TEST_F(ImaHost, SupportedMethodsAreCutToTheCallersCount) {
  struct Case {
    u32 count, want_count;
  } cases[] = {{0, 0}, {1, 1}, {2, 2}, {5, 2}};
  for (const Case& c : cases) {
    u32 count = c.count, list[2] = {9, 9};
    ASSERT_EQ(host.call("IMA_GetSupportedAuthMethods", lhba(), (u32)0, &count, list), kOk);
    EXPECT_EQ(count, c.want_count);
    for (u32 i = 0; i < 2; i++) EXPECT_EQ(list[i], i < c.want_count ? i : 9u) << c.count;
  }
  u32 count = 2, list[2];
  EXPECT_EQ(host.call("IMA_GetSupportedAuthMethods", lhba(), (u32)0, &count, (u32*)nullptr), kInvalidParam);
  EXPECT_EQ(host.call("IMA_GetSupportedAuthMethods", phba(), (u32)2, &count, list), kIncorrectType);
  EXPECT_EQ(host.call("IMA_GetSupportedAuthMethods", lhba(), (u32)2, &count, list), kInvalidParam);
  EXPECT_EQ(host.call("IMA_VMW_GetSupportedAuthMethods", lhba(), (u32)1, &count, list), kOk);
}

TEST_F(ImaHost, InUseMethodsAndReadersWhileChapIsOff) {
  ASSERT_EQ(get(kAuth, "AuthenticationMethod"), "None");
  u32 count = 0, list[2] = {9, 9};
  ASSERT_EQ(host.call("IMA_GetInUseInitiatorAuthMethods", lhba(), &count, list), kOk);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(list[0], 0u);
  ASSERT_EQ(host.call("IMA_VMW_GetInUseInitiatorLocalAuthMethods", lhba(), &count, list), kOk);
  EXPECT_EQ(count, 1u);

  Record<imahost::kAuthParms> r;
  ASSERT_EQ(host.call("IMA_GetInitiatorAuthParms", lhba(), (u32)1, r.data()), kOk);
  EXPECT_TRUE(r.zero(0, imahost::kAuthParms)) << "one-way CHAP is off: the zeroed record";
  EXPECT_EQ(host.call("IMA_GetInitiatorAuthParms", lhba(), (u32)0, r.data()), kInvalidParam);

  Record<imahost::kAuthParms> m;
  ASSERT_EQ(host.call("IMA_VMW_GetMutualAuthParms", lhba(), (u32)1, m.data()), kOk);
  EXPECT_EQ(m.u32at(imahost::kChapLevel), 1u);
  EXPECT_TRUE(m.zero(0, imahost::kChapLevel));

  u8* block = nullptr;
  ASSERT_EQ(host.call("IMA_GetLhbaMutualAuthParmsList", lhba(), (u32)1, &block), kOk);
  ASSERT_NE(block, nullptr);
  u32 n;
  memcpy(&n, block, 4);
  EXPECT_EQ(n, 1u);
  u32 max;
  memcpy(&max, block + 4 + imahost::kChapMax, 4);
  EXPECT_EQ(max, 256u);
  EXPECT_EQ(block[4 + imahost::kChapName], 0);
  EXPECT_EQ(host.free_block(block), kOk);
}

TEST_F(ImaHost, MethodListsAreCheckedBeforeTheId) {
  std::string before = state();
  Oid nowhere = host.oid(kPhba, 0xFFFFFF);
  const u32 twice1[2] = {1, 1}, twice0[2] = {0, 0}, two[1] = {2};
  EXPECT_EQ(host.call("IMA_SetInitiatorAuthMethods", nowhere, (u32)2, twice1), kInvalidParam);
  EXPECT_EQ(host.call("IMA_SetInitiatorAuthMethods", nowhere, (u32)2, twice0), kInvalidParam);
  EXPECT_EQ(host.call("IMA_SetInitiatorAuthMethods", nowhere, (u32)1, two), kInvalidParam);
  EXPECT_EQ(host.call("IMA_SetInitiatorAuthMethods", nowhere, (u32)1, (u32*)nullptr), kInvalidParam);
  // The host extension checks the entries after the id.
  EXPECT_EQ(host.call("IMA_VMW_SetInitiatorAuthMethods", nowhere, (u32)1, two), kIncorrectType);
  EXPECT_EQ(host.call("IMA_VMW_SetInitiatorAuthMethods", lhba(), (u32)1, two), kInvalidParam);
  EXPECT_EQ(host.call("IMA_VMW_SetInitiatorAuthMethods", lhba(), (u32)3, twice1), kInvalidParam);
  EXPECT_EQ(state(), before);
}

// Switching CHAP on without credentials configures one-way CHAP with the
// built-in credentials; [0] deletes. Both reach the tree's actions, which this
// build does not serve.
TEST_F(ImaHost, MethodChangesRunTheTreesActions) {
  std::string before = state();
  const u32 on[1] = {1}, off[1] = {0}, preferred[2] = {1, 0};
  EXPECT_EQ(host.call("IMA_SetInitiatorAuthMethods", lhba(), (u32)1, on), kTreeNotSupported);
  EXPECT_EQ(host.call("IMA_SetInitiatorAuthMethods", lhba(), (u32)2, preferred), kTreeNotSupported);
  EXPECT_EQ(host.call("IMA_SetInitiatorAuthMethods", lhba(), (u32)1, off), kTreeNotSupported);
  EXPECT_EQ(host.call("IMA_VMW_SetInitiatorAuthMethods", lhba(), (u32)1, on), kTreeNotSupported);
  EXPECT_EQ(state(), before);
  EXPECT_EQ(get(kAuth, "TargetSecret"), "") << "the built-in secret was not stored";
}

TEST_F(ImaHost, CredentialSettersCheckTheRecordThenRunTheActions) {
  std::string before = state();
  Record<imahost::kAuthParms> good = chap("host-one", "secret123456");
  EXPECT_EQ(host.call("IMA_SetInitiatorAuthParms", lhba(), (u32)2, good.data()), kInvalidParam);
  EXPECT_EQ(host.call("IMA_SetInitiatorAuthParms", lhba(), (u32)1, (u8*)nullptr), kInvalidParam);
  EXPECT_EQ(host.call("IMA_SetInitiatorAuthParms", lhba(), (u32)0, good.data()), kOk) << "method none: nothing";
  EXPECT_EQ(host.call("IMA_SetInitiatorAuthParms", lhba(), (u32)1, good.data()), kTreeNotSupported);
  EXPECT_EQ(host.call("IMA_VMW_SetInitiatorAuthParms", lhba(), (u32)1, good.data()), kTreeNotSupported);
  // Mutual credentials while CHAP is off: ConfigureCHAP with nothing given,
  // which the tree refuses for its missing method.
  EXPECT_EQ(host.call("IMA_AddLhbaMutualAuthParms", lhba(), (u32)1, good.data()), kInvalidParam);
  EXPECT_EQ(last_code(), 9u);
  EXPECT_EQ(host.call("IMA_RemoveLhbaMutualAuthParms", lhba(), (u32)1, good.data()), kTreeNotSupported);

  // Secret lengths 12 to 16 where the entry point asks for them.
  for (const char* secret : {"elevenchars", "seventeen-letters"}) {
    Record<imahost::kAuthParms> r = chap("host-one", secret);
    EXPECT_EQ(host.call("IMA_VMW_SetInitiatorAuthParms", lhba(), (u32)1, r.data()), kInvalidParam) << secret;
    EXPECT_EQ(host.call("IMA_AddLhbaMutualAuthParms", lhba(), (u32)1, r.data()), kInvalidParam) << secret;
    EXPECT_EQ(host.call("IMA_VMW_SetMutualAuthParms", lhba(), (u32)1, r.data()), kInvalidParam) << secret;
  }
  // Level 1 (prohibited): the mutual setter does nothing.
  Record<imahost::kAuthParms> prohibited = chap("host-one", "elevenchars", 1);
  EXPECT_EQ(host.call("IMA_VMW_SetMutualAuthParms", lhba(), (u32)1, prohibited.data()), kOk);
  EXPECT_EQ(host.call("IMA_VMW_SetInitiatorAuthParms", lhba(), (u32)1, prohibited.data()), kTreeNotSupported)
      << "DeleteCHAP";

  // A name or secret is bounded by its own field, not by the length words:
  // one that does not end inside its field, or is longer than a tree text,
  // is refused and nothing is cut.
  Record<imahost::kAuthParms> unended = chap("", "secret123456");
  memset(unended.data() + imahost::kChapName, 'n', 512);
  Record<imahost::kAuthParms> long_name = chap(std::string(300, 'n'), "secret123456");
  Record<imahost::kAuthParms> unended_secret = chap("host-one", "");
  memset(unended_secret.data() + imahost::kChapSecret, 's', 256);
  for (auto* r : {&unended, &long_name, &unended_secret}) {
    EXPECT_EQ(host.call("IMA_SetInitiatorAuthParms", lhba(), (u32)1, r->data()), kInvalidParam);
    EXPECT_EQ(host.call("IMA_VMW_SetInitiatorAuthParms", lhba(), (u32)1, r->data()), kInvalidParam);
    EXPECT_EQ(host.call("IMA_AddLhbaMutualAuthParms", lhba(), (u32)1, r->data()), kInvalidParam);
  }
  EXPECT_EQ(state(), before);
}

// One-way and mutual CHAP as the saved options show them.
TEST_F(ImaHost, CredentialReadersFollowTheMethod) {
  save_options({"Yes", "Yes", "None", "None", "One-Way CHAP", "", "", "tgt-user", "tgtsecret1234", "Preferred",
                "Prohibited", "Prohibited"});
  ASSERT_EQ(get(kAuth, "AuthenticationMethod"), "One-Way CHAP");
  Record<imahost::kAuthParms> r;
  ASSERT_EQ(host.call("IMA_GetInitiatorAuthParms", lhba(), (u32)1, r.data()), kOk);
  EXPECT_EQ(r.u32at(imahost::kChapRetries), 0u);
  EXPECT_EQ(std::string((const char*)r.data() + imahost::kChapName), "tgt-user");
  EXPECT_EQ(r.u32at(imahost::kChapNameLength), 8u);
  EXPECT_EQ(r.u32at(imahost::kChapMin), 0u);
  EXPECT_EQ(r.u32at(imahost::kChapMax), 256u);
  EXPECT_EQ(std::string((const char*)r.data() + imahost::kChapSecret), "tgtsecret1234");
  EXPECT_EQ(r.u32at(imahost::kChapSecretLength), 13u);
  u32 count = 0, list[2] = {9, 9};
  ASSERT_EQ(host.call("IMA_GetInUseInitiatorAuthMethods", lhba(), &count, list), kOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(list[0], 1u);
  EXPECT_EQ(list[1], 0u);
  // Keeping the one-way credentials, the mutual ones go to ConfigureCHAP.
  Record<imahost::kAuthParms> good = chap("host-one", "secret123456", 3);
  EXPECT_EQ(host.call("IMA_AddLhbaMutualAuthParms", lhba(), (u32)1, good.data()), kTreeNotSupported);
  EXPECT_EQ(host.call("IMA_SetInitiatorAuthMethods", lhba(), (u32)1, std::vector<u32>{1}.data()), kTreeNotSupported);
  EXPECT_EQ(get(kAuth, "TargetCHAPName"), "tgt-user");

  save_options({"Yes", "Yes", "None", "None", "Mutual CHAP", "init-user", "initsecret123", "tgt-user", "tgtsecret1234",
                "Required", "Prohibited", "Prohibited"});
  Record<imahost::kAuthParms> one;
  ASSERT_EQ(host.call("IMA_GetInitiatorAuthParms", lhba(), (u32)1, one.data()), kOk);
  EXPECT_TRUE(one.zero(0, imahost::kAuthParms)) << "mutual CHAP: the one-way reader answers the zeroed record";
  Record<imahost::kAuthParms> m;
  ASSERT_EQ(host.call("IMA_VMW_GetMutualAuthParms", lhba(), (u32)1, m.data()), kOk);
  EXPECT_EQ(m.u32at(imahost::kChapRetries), 3u);
  EXPECT_EQ(std::string((const char*)m.data() + imahost::kChapName), "init-user");
  EXPECT_EQ(m.u32at(imahost::kChapNameLength), 9u);
  EXPECT_EQ(m.u32at(imahost::kChapMin), 12u);
  EXPECT_EQ(m.u32at(imahost::kChapMax), 16u);
  EXPECT_EQ(std::string((const char*)m.data() + imahost::kChapSecret), "initsecret123");
  EXPECT_EQ(m.u32at(imahost::kChapSecretLength), 13u);
  EXPECT_EQ(m.u32at(imahost::kChapLevel), 4u);
  u8* block = nullptr;
  ASSERT_EQ(host.call("IMA_GetLhbaMutualAuthParmsList", lhba(), (u32)1, &block), kOk);
  EXPECT_EQ(std::string((const char*)block + 4 + imahost::kChapName), "init-user");
  EXPECT_EQ(host.free_block(block), kOk);
  ASSERT_EQ(host.call("IMA_GetInUseInitiatorAuthMethods", lhba(), &count, list), kOk);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(list[0], 1u);
}

// The entry points that take target, discovery-address and static-target ids
// have no object to act on until the tree serves targets and send-target
// portals: each refuses an LHBA id by its mask.
TEST_F(ImaHost, LocalCredentialEntryPointsTakeNoLogicalHba) {
  Record<imahost::kAuthParms> good = chap("host-one", "secret123456");
  u32 method = 0;
  EXPECT_EQ(host.call("IMA_SetMutualLocalAuth", lhba(), (u32)1, (u32)1), kIncorrectType);
  EXPECT_EQ(host.call("IMA_SetMutualLocalAuthParms", lhba(), (u32)1, good.data(), (u32)1), kIncorrectType);
  EXPECT_EQ(host.call("IMA_SetInitiatorLocalAuthParms", lhba(), (u32)1, good.data(), (u32)1), kIncorrectType);
  EXPECT_EQ(host.call("IMA_GetInitiatorLocalAuthParms", lhba(), (u32)1, &method, good.data()), kIncorrectType);
  EXPECT_EQ(host.call("IMA_GetMutualLocalAuthParms", lhba(), (u32)1, good.data()), kIncorrectType);
  EXPECT_EQ(host.call("IMA_SetMutualLocalAuth", lhba(), (u32)0, (u32)1), kInvalidParam) << "method before the id";
}

}  // namespace
}  // namespace imatest
