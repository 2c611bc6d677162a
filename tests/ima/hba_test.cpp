// Physical and logical HBAs and the initiator node as IMA objects.
#include "ima_fixture.h"

namespace imatest {
namespace {

TEST_F(ImaHost, PhbaPropertiesAtTheirOffsets) {
  for (const char* entry : {"IMA_GetPhbaProperties", "IMA_VMW_GetPhbaProperties"}) {
    SCOPED_TRACE(entry);
    Record<imahost::kPhbaProperties> r;
    ASSERT_EQ(host.call(entry, phba(), r.data()), kOk);
    EXPECT_EQ(r.wide(0, 64), get("Kalderstone0", "Manufacturer"));
    EXPECT_EQ(r.wide(256, 256), get("Kalderstone0", "ModelNumber"));
    EXPECT_EQ(r.wide(1280, 256), get("Kalderstone0", "Description"));
    EXPECT_EQ(r.wide(2304, 64), get("Kalderstone0", "SerialNumber"));
    EXPECT_EQ(r.wide(2560, 256), "N/A") << "the emulated description names no model line";
    EXPECT_EQ(r.wide(4608, 256), get("Kalderstone0", "ActiveFirmwareVersion"));
    EXPECT_EQ(r.wide(5632, 256), get("Kalderstone0", "BIOSVersion"));
    EXPECT_EQ(r.wide(6656, 256), get(std::string(kPhba0) + "/Driver", "DriverName"));
    EXPECT_EQ(r.wide(7680, 256), get(std::string(kPhba0) + "/Driver", "DriverVersion"));
    EXPECT_TRUE(r.zero(2560 + 4 * 4, 4608)) << "zeroed before it is filled";
    const u32 words[] = {1, 1, 16, 0, 0, 1, 0, 1, 1};
    for (size_t i = 0; i < 9; i++) EXPECT_EQ(r.u32at(8704 + 4 * i), words[i]) << 8704 + 4 * i;
    bool vmw = strstr(entry, "VMW") != nullptr;
    for (size_t at = 8740; at <= 8776; at += 4) EXPECT_EQ(r.u32at(at), vmw && at >= 8760 && at <= 8772 ? 1u : 0u) << at;
  }
  Record<imahost::kPhbaProperties> r;
  EXPECT_EQ(host.call("IMA_GetPhbaProperties", phba(), (u8*)nullptr), kInvalidParam);
  EXPECT_EQ(host.call("IMA_GetPhbaProperties", lnp(), r.data()), kIncorrectType);
}

TEST_F(ImaHost, PhbaStatusIsSetToWorkingBeforeTheIdCheck) {
  u32 st = 7;
  EXPECT_EQ(host.call("IMA_GetPhbaStatus", phba(), (u32*)nullptr), kInvalidParam);
  EXPECT_EQ(host.call("IMA_GetPhbaStatus", host.oid(kPhba, tag(kLhba0)), &st), kNotFound);
  EXPECT_EQ(st, 0u);
  st = 7;
  ASSERT_EQ(get("Kalderstone0", "FirmwareStatus"), "Working");
  EXPECT_EQ(host.call("IMA_GetPhbaStatus", phba(), &st), kOk);
  EXPECT_EQ(st, 0u);
}

// A logical HBA is listed only while its Enabled property reads as anything
// but false ("F" or "f" first); both lists follow it.
TEST_F(ImaHost, LogicalHbasAreListedWhileEnabled) {
  auto listed = [&](const char* entry, bool vmw) {
    std::vector<Oid> ids{Oid{}};
    u32 st = vmw ? host.list(entry, &ids, phba()) : host.list(entry, &ids);
    EXPECT_EQ(st, kOk) << entry;
    if (ids.empty()) {
      EXPECT_EQ(host.last_block_bytes(), 4u) << "an empty list is the count alone";
    }
    bool found = false;
    for (const Oid& o : ids) {
      EXPECT_EQ(o.type, kLhba);
      found = found || o.sequence == (uint64_t)tag(kLhba0);
    }
    return found;
  };
  for (int round = 0; round < 2; round++) {
    std::string enabled = get(kLhba0, "Enabled");
    bool want = enabled.rfind("<status", 0) != 0 && enabled[0] != 'F' && enabled[0] != 'f';
    EXPECT_EQ(listed("IMA_GetLhbaOidList", false), want) << enabled;
    EXPECT_EQ(listed("IMA_VMW_GetLhbaOidList", true), want) << enabled;
    if (set(kLhba0, "Enabled", want ? "False" : "True") != 0) break;
  }
  std::vector<Oid> ids;
  EXPECT_EQ(host.list("IMA_VMW_GetLhbaOidList", &ids, lhba()), kIncorrectType);
}

TEST_F(ImaHost, LhbaPropertiesAtTheirOffsets) {
  for (const char* entry : {"IMA_GetLhbaProperties", "IMA_VMW_GetLhbaProperties"}) {
    SCOPED_TRACE(entry);
    Record<imahost::kLhbaProperties> r;
    ASSERT_EQ(host.call(entry, lhba(), r.data()), kOk);
    EXPECT_EQ(r.wide(0, 256), get(kLhba0, "IfName"));
    EXPECT_EQ(r.wide(0, 256), "vmhba33");
    EXPECT_TRUE(r.zero(1024, 1040));
    EXPECT_EQ(r.u32at(1040), 1u);
    EXPECT_EQ(r.u32at(1044), 1u);
    EXPECT_EQ(r.u32at(1048), 1u);
    EXPECT_TRUE(r.zero(1052, 1064));
    EXPECT_EQ(r.u32at(1064), 1u);
    EXPECT_TRUE(r.zero(1068, 1180));
  }
}

TEST_F(ImaHost, NodeNameAndAliasReadAndSetThroughLhbaOrPhba) {
  const std::string names = std::string(kLhba0) + "/InitiatoriSCSIName";
  Record<imahost::kNodeProperties> r;
  ASSERT_EQ(host.call("IMA_VMW_GetNodeProperties", phba(), r.data()), kOk);
  EXPECT_EQ(r.u32at(0), 1u);
  EXPECT_EQ(r.u32at(4), 0u);
  EXPECT_EQ(r.u32at(8), 1u);
  EXPECT_EQ(r.wide(12, 224), get(names, "InitiatoriSCSIName"));
  EXPECT_EQ(r.u32at(908), 0u) << "no alias";
  EXPECT_EQ(r.wide(912, 256), "");
  EXPECT_EQ(r.u32at(1936), 1u);

  ASSERT_EQ(host.call("IMA_VMW_SetNodeName", lhba(), wide("iqn.2026-12.test.example:node1").data()), kOk);
  EXPECT_EQ(get(names, "InitiatoriSCSIName"), "iqn.2026-12.test.example:node1");
  ASSERT_EQ(host.call("IMA_VMW_SetNodeAlias", phba(), wide("rack 4 host").data()), kOk);
  EXPECT_EQ(get(names, "InitiatorAlias"), "rack 4 host");
  Record<imahost::kNodeProperties> again;
  ASSERT_EQ(host.call("IMA_VMW_GetNodeProperties", lhba(), again.data()), kOk);
  EXPECT_EQ(again.wide(12, 224), "iqn.2026-12.test.example:node1");
  EXPECT_EQ(again.u32at(908), 1u);
  EXPECT_EQ(again.wide(912, 256), "rack 4 host");

  // An empty alias clears it; an empty name is refused.
  ASSERT_EQ(host.call("IMA_VMW_SetNodeAlias", lhba(), wide("").data()), kOk);
  EXPECT_EQ(get(names, "InitiatorAlias"), "");
  EXPECT_EQ(host.call("IMA_VMW_SetNodeName", lhba(), wide("").data()), kInvalidParam);
  EXPECT_EQ(host.call("IMA_VMW_SetNodeName", lhba(), (u32*)nullptr), kInvalidParam);
  EXPECT_EQ(get(names, "InitiatoriSCSIName"), "iqn.2026-12.test.example:node1");
}

// Lengths count wide characters and are checked before the id; a name of
// 223 characters proceeds. A non-ASCII name that passes the length check but
// whose UTF-8 form does not fit the tree's text fails the conversion and the
// tree keeps its name.
TEST_F(ImaHost, NodeNameLengthsCountCharactersAndLongUtf8FormsFail) {
  const std::string names = std::string(kLhba0) + "/InitiatoriSCSIName";
  const std::string before = get(names, "InitiatoriSCSIName");
  Oid nowhere = host.oid(kPhba, 0xFFFFFF);
  std::string prefix = "iqn.2026-12.test.example:";
  std::string n224 = prefix + std::string(224 - prefix.size(), 'a');
  EXPECT_EQ(host.call("IMA_VMW_SetNodeName", nowhere, wide(n224).data()), kNameTooLong);
  EXPECT_EQ(host.call("IMA_VMW_SetNodeAlias", nowhere, wide(std::string(256, 'b')).data()), kNameTooLong);
  EXPECT_EQ(host.call("IMA_VMW_SetNodeName", nowhere, wide(n224.substr(1)).data()), kNotFound);
  EXPECT_EQ(get(names, "InitiatoriSCSIName"), before);

  std::string n223 = n224.substr(1);
  ASSERT_EQ(host.call("IMA_VMW_SetNodeName", lhba(), wide(n223).data()), kOk);
  EXPECT_EQ(get(names, "InitiatoriSCSIName"), n223);

  std::vector<u32> accented = wide(prefix);
  accented.pop_back();
  while (accented.size() < 223) accented.push_back(0xE9);  // two bytes each in UTF-8
  accented.push_back(0);
  EXPECT_EQ(host.call("IMA_VMW_SetNodeName", lhba(), accented.data()), kOsError);
  EXPECT_EQ(get(names, "InitiatoriSCSIName"), n223);
  std::vector<u32> alias(255, 0x4E2D);  // three bytes each
  alias.push_back(0);
  EXPECT_EQ(host.call("IMA_VMW_SetNodeAlias", lhba(), alias.data()), kOsError);
  EXPECT_EQ(get(names, "InitiatorAlias"), "");
}

TEST_F(ImaHost, PhbaDownloadChecksThenRunsTheControllersUpdate) {
  std::string before = state();
  EXPECT_EQ(host.call("IMA_PhbaDownload", phba(), (u32)0, (u32*)nullptr), kInvalidParam);
  EXPECT_EQ(host.call("IMA_PhbaDownload", host.oid(kPhba, 0xFFFFFF), (u32)4, wide("/tmp/x.ufi").data()), kNotFound);
  EXPECT_EQ(host.call("IMA_PhbaDownload", phba(), (u32)4, wide("/tmp/x.ufi").data()), kInvalidParam);

  // A file that is not there: the action's own answer, mapped.
  u32 ks = tag("Kalderstone0"), action = 0;
  ASSERT_EQ(host.call("ORSA_get_node_tag", ks, "UpgradeFlashROM", &action, (u32)3), 0u);
  char params[6][256];
  memset(params, 0, sizeof params);
  snprintf(params[0], sizeof params[0], "/tmp/none.ufi");
  u32 direct = host.call("ORSA_do_action", ks, action, params, (u32*)nullptr);
  ASSERT_NE(direct, 0u);
  u32 mapped = direct == 1 ? kInvalidParam : direct;
  EXPECT_EQ(host.call("IMA_PhbaDownload", phba(), (u32)3, wide("/tmp/none.ufi").data()), mapped);
  EXPECT_EQ(state(), before);
}

}  // namespace
}  // namespace imatest
