// Login parameters and digests of a logical HBA.
#include "ima_fixture.h"

namespace imatest {
namespace {

const std::string kDefaults = std::string("Kalderstone0/iSCSIPhysicalHBA0/LogicalHBA0/InitiatorDefaultLoginOptions");
const std::string kOptions = std::string("Kalderstone0/iSCSIPhysicalHBA0/LogicalHBA0/InitiatorLoginOptions");

TEST_F(ImaHost, NumericParametersComeFromTheDefaultOptions) {
  const char* rows[][2] = {{"IMA_GetMaxConnectionsProperties", "MaxConnections"},
                           {"IMA_GetMaxRecvDataSegmentLengthProperties", "MaxRecvDataSegmentLength"},
                           {"IMA_GetMaxOutstandingR2TProperties", "MaxOutstandingR2T"},
                           {"IMA_GetMaxBurstLengthProperties", "MaxBurstLength"},
                           {"IMA_GetFirstBurstLengthProperties", "FirstBurstLength"},
                           {"IMA_GetErrorRecoveryLevelProperties", "ErrorRecoveryLevel"},
                           {"IMA_GetDefaultTime2WaitProperties", "DefaultTime2Wait"},
                           {"IMA_GetDefaultTime2RetainProperties", "DefaultTime2Retain"}};
  for (const auto& row : rows) {
    Record<imahost::kMinMax> r;
    ASSERT_EQ(host.call(row[0], lhba(), r.data()), kOk) << row[0];
    EXPECT_EQ(r.u32at(0), 1u);
    EXPECT_EQ(r.u32at(4), 0u);
    EXPECT_EQ(r.u32at(8), (u32)std::stoul(get(kDefaults, row[1]))) << row[1];
    EXPECT_TRUE(r.zero(12, 28));
    Record<imahost::kMinMax> refused;
    EXPECT_EQ(host.call(row[0], phba(), refused.data()), kIncorrectType);
    EXPECT_TRUE(refused.zero(0, 28)) << "zeroed before the id check";
    EXPECT_EQ(host.call(row[0], lhba(), (u8*)nullptr), kInvalidParam);
  }
  ASSERT_EQ(get(kDefaults, "MaxBurstLength"), "262144");
}

TEST_F(ImaHost, BooleanParametersAndImmediateData) {
  struct Row {
    const char* entry;
    u32 settable, value, dflt;
  } rows[] = {{"IMA_GetInitialR2TProperties", 0, 1, 0},
              {"IMA_GetImmediateDataProperties", 1, 1, 1},
              {"IMA_GetDataSequenceInOrderProperties", 0, 1, 0},
              {"IMA_GetDataPduInOrderProperties", 0, 1, 0}};
  for (const Row& row : rows) {
    Record<imahost::kBoolValue> r;
    ASSERT_EQ(host.call(row.entry, lhba(), r.data()), kOk) << row.entry;
    EXPECT_EQ(r.u32at(0), 1u) << row.entry;
    EXPECT_EQ(r.u32at(4), row.settable) << row.entry;
    EXPECT_EQ(r.u32at(8), row.value) << row.entry;
    EXPECT_EQ(r.u32at(12), row.dflt) << row.entry;
  }
  EXPECT_EQ(host.call("IMA_SetImmediateData", host.oid(0, 0), (u32)2), kInvalidParam) << "before the id check";
  // Without a saved line for the logical HBA the tree refuses the change.
  EXPECT_EQ(host.call("IMA_SetImmediateData", lhba(), (u32)0), kInvalidParam);
  EXPECT_EQ(get(kOptions, "ImmediateData"), "Yes");
  save_default_options();
  ASSERT_EQ(host.call("IMA_SetImmediateData", lhba(), (u32)0), kOk) << last_code();
  EXPECT_EQ(get(kOptions, "ImmediateData"), "No");
  Record<imahost::kBoolValue> r;
  ASSERT_EQ(host.call("IMA_GetImmediateDataProperties", lhba(), r.data()), kOk);
  EXPECT_EQ(r.u32at(8), 0u);
  ASSERT_EQ(host.call("IMA_SetImmediateData", lhba(), (u32)1), kOk);
  EXPECT_EQ(get(kOptions, "ImmediateData"), "Yes");
}

TEST_F(ImaHost, DigestsSetAndReadByTheFirstEntry) {
  const u32 crc[2] = {1, 0}, none_first[2] = {0, 1};
  u32 count = 9, list[2] = {9, 9};
  save_default_options();
  ASSERT_EQ(host.call("IMA_VMW_GetHeaderDigest", lhba(), &count, list), kOk);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(list[0], 0u);

  ASSERT_EQ(host.call("IMA_VMW_SetHeaderDigest", lhba(), (u32)2, crc), kOk) << last_code();
  EXPECT_EQ(get(kOptions, "HeaderDigest"), "CRC32C");
  EXPECT_EQ(get(kOptions, "HeaderParam"), "Preferred");
  ASSERT_EQ(host.call("IMA_VMW_GetHeaderDigest", lhba(), &count, list), kOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(list[0], 1u);
  EXPECT_EQ(list[1], 0u);

  ASSERT_EQ(host.call("IMA_VMW_SetHeaderDigest", lhba(), (u32)2, none_first), kOk) << last_code();
  EXPECT_EQ(get(kOptions, "HeaderDigest"), "None");
  EXPECT_EQ(get(kOptions, "HeaderParam"), "Prohibited");

  ASSERT_EQ(host.call("IMA_SetDataDigestValues", lhba(), (u32)1, crc), kOk) << last_code();
  EXPECT_EQ(get(kOptions, "DataDigest"), "CRC32C");
  EXPECT_EQ(get(kOptions, "DataParam"), "Preferred");
  ASSERT_EQ(host.call("IMA_VMW_GetDataDigest", lhba(), &count, list), kOk);
  EXPECT_EQ(count, 2u);

  std::string before = state();
  EXPECT_EQ(host.call("IMA_SetHeaderDigestValues", host.oid(0, 0), (u32)0, crc), kInvalidParam);
  EXPECT_EQ(host.call("IMA_SetHeaderDigestValues", host.oid(0, 0), (u32)1, (u32*)nullptr), kInvalidParam);
  list[0] = 9;
  EXPECT_EQ(host.call("IMA_VMW_GetDataDigest", host.oid(kPhba, tag(kPhba0)), &count, list), kIncorrectType);
  EXPECT_EQ(list[0], 0u) << "set before the id check";
  EXPECT_EQ(state(), before);

  Record<imahost::kDigestProperties> d;
  EXPECT_EQ(host.call("IMA_GetDigestProperties", phba(), d.data()), kIncorrectType);
  EXPECT_TRUE(d.zero(0, 8));
  ASSERT_EQ(host.call("IMA_GetDigestProperties", lhba(), d.data()), kOk);
  EXPECT_EQ(d.u32at(0), 1u);
  EXPECT_EQ(d.u32at(4), 1u);
}

// "no" in any letter case reads as off; a digest level change the tree's
// rules refuse comes back with the rule's status, and the first write stays.
TEST_F(ImaHost, OptionTextsAndRefusedDigestLevels) {
  save_options({"no", "NO", "None", "None", "None", "", "", "", "", "Prohibited", "Prohibited", "Prohibited"});
  Record<imahost::kBoolValue> r;
  ASSERT_EQ(host.call("IMA_GetInitialR2TProperties", lhba(), r.data()), kOk);
  EXPECT_EQ(r.u32at(8), 0u);
  ASSERT_EQ(host.call("IMA_GetImmediateDataProperties", lhba(), r.data()), kOk);
  EXPECT_EQ(r.u32at(8), 0u);
  EXPECT_EQ(r.u32at(4), 1u);
  const u32 crc[1] = {1};
  ASSERT_EQ(host.call("IMA_SetHeaderDigestValues", lhba(), (u32)1, crc), kOk);
  EXPECT_EQ(get(kOptions, "HeaderParam"), "Preferred");
  // The level stays Preferred while the digest is CRC32C: turning the digest
  // off writes the level first, then the digest.
  const u32 off[1] = {0};
  ASSERT_EQ(host.call("IMA_SetHeaderDigestValues", lhba(), (u32)1, off), kOk);
  EXPECT_EQ(get(kOptions, "HeaderDigest"), "None");
}

TEST_F(ImaHost, SettersTheTreeDoesNotOfferAreNotSupported) {
  std::string before = state();
  for (const char* entry :
       {"IMA_SetMaxConnections", "IMA_SetMaxRecvDataSegmentLength", "IMA_SetMaxOutstandingR2T", "IMA_SetMaxBurstLength",
        "IMA_SetFirstBurstLength", "IMA_SetErrorRecoveryLevel", "IMA_SetDefaultTime2Wait", "IMA_SetDefaultTime2Retain",
        "IMA_SetOFMarkIntProperties", "IMA_SetIFMarkIntProperties"}) {
    EXPECT_EQ(host.call(entry, lhba(), (u32)7), kNotSupported) << entry;
    EXPECT_EQ(host.call(entry, phba(), (u32)7), kIncorrectType) << entry;
  }
  for (const char* entry : {"IMA_SetInitialR2T", "IMA_SetDataSequenceInOrder", "IMA_SetDataPduInOrder",
                            "IMA_SetOFMarkerProperties", "IMA_SetIFMarkerProperties"}) {
    EXPECT_EQ(host.call(entry, phba(), (u32)2), kInvalidParam) << entry << ": the flag before the id";
    EXPECT_EQ(host.call(entry, lhba(), (u32)1), kNotSupported) << entry;
  }
  for (const char* entry : {"IMA_GetOFMarkIntProperties", "IMA_GetIFMarkIntProperties", "IMA_GetOFMarkerProperties",
                            "IMA_GetIFMarkerProperties"}) {
    Record<imahost::kMinMax> r;
    EXPECT_EQ(host.call(entry, lhba(), (u8*)nullptr), kInvalidParam) << entry;
    EXPECT_EQ(host.call(entry, lhba(), r.data()), kNotSupported) << entry;
    EXPECT_TRUE(r.zero(0, 16)) << entry;
    EXPECT_EQ(r.u32at(16), 0xA5A5A5A5u) << entry;
  }
  EXPECT_EQ(state(), before);
}

}  // namespace
}  // namespace imatest
