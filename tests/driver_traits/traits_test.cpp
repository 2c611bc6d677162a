// The generation records against the adapter families as documented: the
// tables below are typed apart from the driver's records (a value read off
// one would only check the copy), so a slip in either shows as a mismatch.
#include <gtest/gtest.h>

#include <string>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_gen.h"

namespace {

enum Col { kKs2, kKs3, kPivard, kVeskarn, kOther, kCols };
const char* const kColName[kCols] = {"KS2", "KS3", "Pivard", "Veskarn", "no known generation"};

// Values per generation.
struct Expected {
  vmk_uint16 deviceIds[2];  // 0: none more
  vmk_uint32 gen;
  // BARs: CSR, doorbell, PCI configuration (-1: not mapped).
  int csr, db, pcicfg;
  // Command versions.
  int cqCreate, txqCreate, mccqCreate, profileConfig, funcConfig, rssConfig, linkQuery, nicStats;
  // Statistics block: bytes, port block words, byte offset of the no-DMA counters.
  int statsSize, portStride, noDmaOff;
  tamsil_statsCol statsCol;
  vmk_uint32 mccAsyncMask;
  // Limits.
  int maxTxQs, profileUcMac, profileMaxVfs, profileRssQs, tsoMinMss, txDrainPolls, rxFlushPolls;
  vmk_uint32 writeObjectMs;
  int rssHashFlags;
  tamsil_ueInject ueInject;
};

const Expected kExpected[kCols] = {
    // KS2: BAR 2 CSR, BAR 4 doorbells, BAR 1 PCI configuration; version 0
    // everywhere but the profile query; one transmit queue; 64 MAC filters.
    {{0x3B00, 0x3A11}, TAMSIL_ASIC_KS2, 2, 4, 1,
     0, 0, 0, 1, 0, 0, 0, 0,
     1076, 66, 860, TAMSIL_STATS_COL_KS2, 0x62,
     1, 64, 0, 0, 0, 200, 51, 0, 15, TAMSIL_UE_INJECT_CSR},
    // KS3: BAR 0 PCI configuration; link query and statistics version 1;
    // 128 MAC filters, at most 30 VFs and 4 RSS rings from the profile.
    {{0x3B10, 0x3A21}, TAMSIL_ASIC_KS3, 2, 4, 0,
     0, 0, 0, 1, 0, 0, 1, 1,
     1804, 72, 1480, TAMSIL_STATS_COL_KS3, 0x62,
     0, 128, 30, 4, 0, 200, 51, 0, 15, TAMSIL_UE_INJECT_CSR},
    // Pivard: BAR 0 doorbells only; CQ version 2, TXQ 1, MCC 1, profile 0;
    // MSS at least 256; 3000 drain polls; no flush completion; write-object
    // requests wait 300000 ms.
    {{0x5C20, 0}, TAMSIL_ASIC_PIVARD, -1, 0, -1,
     2, 1, 1, 0, 0, 1, 1, 2,
     672, 0, 0, TAMSIL_STATS_COL_PIVARD, 0x20062,
     0, 0, 0, 0, 256, 3000, 0, 300000, 63, TAMSIL_UE_INJECT_NONE},
    // Veskarn: CQ 2, TXQ 2, function configuration 1; UE through the PCI
    // configuration BAR.
    {{0x3B28, 0x3B20}, TAMSIL_ASIC_VESKARN, 2, 4, 0,
     2, 2, 0, 1, 1, 1, 1, 2,
     2696, 102, 2044, TAMSIL_STATS_COL_VESKARN, 0x20062,
     0, 0, 0, 0, 0, 200, 51, 0, 63, TAMSIL_UE_INJECT_PCICFG},
    // A device id of no known generation takes the branches that name no
    // generation: the KS3/Veskarn BAR layout, the later CQ layout, the
    // Veskarn statistics layout, no UE injection.
    {{0x1234, 0}, TAMSIL_ASIC_NONE, 2, 4, 0,
     2, 0, 0, 1, 0, 0, 1, 0,
     2696, 102, 2044, TAMSIL_STATS_COL_VESKARN, 0x62,
     0, 0, 0, 0, 0, 200, 51, 0, 63, TAMSIL_UE_INJECT_NONE},
};

// Which generation has each flag.
struct FlagRow {
  vmk_uint64 flag;
  const char* what;
  bool has[kCols];  // KS2, KS3, Pivard, Veskarn, no known generation
};

const FlagRow kFlags[] = {
    {TAMSIL_GT_PROFILE_RESOURCES, "resources from the profile (KS2, KS3)", {1, 1, 0, 0, 0}},
    {TAMSIL_GT_1G_PORTS, "ports above 1 are 1G (KS3)", {0, 1, 0, 0, 0}},
    {TAMSIL_GT_NO_RSS_WITH_VFS, "no RSS with VFs (KS3)", {0, 1, 0, 0, 0}},
    {TAMSIL_GT_RSS_OR_DRSS, "RSS and DRSS exclusive (KS3)", {0, 1, 0, 0, 0}},
    {TAMSIL_GT_PCIE_DESC_BUDGET, "PCIe descriptor lowers the budget (KS3)", {0, 1, 0, 0, 0}},
    {TAMSIL_GT_FUNC_CAP, "function capability command (not Pivard)", {1, 1, 0, 1, 1}},
    {TAMSIL_GT_NETQ_COUNT_CLAMP, "NetQueue count min(value, 8) (Pivard)", {0, 0, 1, 0, 0}},
    {TAMSIL_GT_MAC_LIST, "MAC lists instead of query and PMAC (not KS2/KS3)", {0, 0, 1, 1, 1}},
    {TAMSIL_GT_SRIOV_SPLIT, "SR-IOV resource split (Veskarn)", {0, 0, 0, 1, 0}},
    {TAMSIL_GT_VF_ENABLE_CMD, "enable VF command (Pivard)", {0, 0, 1, 0, 0}},
    {TAMSIL_GT_MCCQ_BASIC_FALLBACK, "basic MCC create fallback (not Pivard)", {1, 1, 0, 1, 1}},
    {TAMSIL_GT_LOGICAL_LINK, "logical link command (not KS2)", {0, 1, 1, 1, 1}},
    {TAMSIL_GT_LINK_MODES_FROM_EVENT, "supported mode from the link event (KS2)", {1, 0, 0, 0, 0}},
    {TAMSIL_GT_LINK_EVENT_LOGICAL, "only logical link events (Pivard)", {0, 0, 1, 0, 0}},
    {TAMSIL_GT_DIE_TEMP, "die temperature pacing (not KS2)", {0, 1, 1, 1, 1}},
    {TAMSIL_GT_SFP_CHECK, "transceiver check (Pivard, Veskarn)", {0, 0, 1, 1, 0}},
    {TAMSIL_GT_DIAG_LOCAL, "subsystem 11 partly local (not Pivard)", {1, 1, 0, 1, 1}},
    {TAMSIL_GT_HOST_INTR, "host interrupts by command (not Pivard)", {1, 1, 0, 1, 1}},
    {TAMSIL_GT_UE_MASKS, "UE masks at 0xA8/0xAC (not Pivard)", {1, 1, 0, 1, 1}},
    {TAMSIL_GT_EMI_CANCELLER, "EMI canceller (not Pivard)", {1, 1, 0, 1, 1}},
    {TAMSIL_GT_ROCE_VECTORS, "RoCE vectors (Veskarn)", {0, 0, 0, 1, 0}},
    {TAMSIL_GT_VXLAN, "VXLAN set-up (Veskarn)", {0, 0, 0, 1, 0}},
    {TAMSIL_GT_IF_FILTERS, "interface filters (Pivard)", {0, 0, 1, 0, 0}},
    {TAMSIL_GT_RXCQ_AT_IO_START, "receive CQs at start I/O (Pivard)", {0, 0, 1, 0, 0}},
    {TAMSIL_GT_QUEUE_PAIRS, "FEAT_PAIR queues (not KS2)", {0, 1, 1, 1, 1}},
    {TAMSIL_GT_FW_DUMP_OBJECT, "firmware dump object (Pivard)", {0, 0, 1, 0, 0}},
    {TAMSIL_GT_TX_DUMMY_WRB, "dummy transmit entry (not Pivard)", {1, 1, 0, 1, 1}},
    {TAMSIL_GT_TX_IPV6_LSO, "IPv6 segmentation bit (not Pivard)", {1, 1, 0, 1, 1}},
    {TAMSIL_GT_TX_SW_FIXUPS, "software VLAN, trim, IPv6 extension drop (KS2, KS3, Pivard)", {1, 1, 1, 0, 0}},
    {TAMSIL_GT_RX_PORT_CHECK, "receive port check (not Pivard)", {1, 1, 0, 1, 1}},
    {TAMSIL_GT_RX_VLAN_SWAPPED, "receive VLAN byte-swapped (Kalderstone, Veskarn)", {1, 1, 0, 1, 1}},
    {TAMSIL_GT_VF_DEFAULT_QUEUE, "queue 0 with VFs (KS3, Veskarn)", {0, 1, 0, 1, 0}},
    {TAMSIL_GT_TX_TRIM_ALWAYS, "trim in any mode (Pivard)", {0, 0, 1, 0, 0}},
    {TAMSIL_GT_PPORT_STATS, "physical-port statistics (Pivard)", {0, 0, 1, 0, 0}},
    {TAMSIL_GT_RESET_WITH_VFS, "uplink reset with VFs (Pivard)", {0, 0, 1, 0, 0}},
    {TAMSIL_GT_VF_LINK_STATE, "VF link state (not KS2)", {0, 1, 1, 1, 1}},
    {TAMSIL_GT_QNQ_TAGGING, "QnQ event for multi-channel tagging (KS3)", {0, 1, 0, 0, 0}},
    {TAMSIL_GT_TX_MC_TAG_BIT0, "header bit 0 cleared in multi-channel (KS2, KS3)", {1, 1, 0, 0, 0}},
};

class GenTraitsTest : public ::testing::TestWithParam<int> {};

TEST_P(GenTraitsTest, RecordMatchesTheGeneration) {
  const int c = GetParam();
  const Expected& e = kExpected[c];
  SCOPED_TRACE(kColName[c]);
  for (vmk_uint16 id : e.deviceIds) {
    if (id == 0) continue;
    EXPECT_EQ(e.gen, tamsil_asicGeneration(id)) << std::hex << id;
  }
  const tamsil_genTraits* t = tamsil_traitsFor(e.gen);
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(e.gen, t->gen);

  EXPECT_EQ(e.csr, t->bars.csr);
  EXPECT_EQ(e.db, t->bars.db);
  EXPECT_EQ(e.pcicfg, t->bars.pcicfg);

  EXPECT_EQ(e.cqCreate, t->ver.cq_create);
  EXPECT_EQ(e.txqCreate, t->ver.txq_create);
  EXPECT_EQ(e.mccqCreate, t->ver.mccq_create);
  EXPECT_EQ(e.profileConfig, t->ver.profile_config);
  EXPECT_EQ(e.funcConfig, t->ver.func_config);
  EXPECT_EQ(e.rssConfig, t->ver.rss_config);
  EXPECT_EQ(e.linkQuery, t->ver.link_query);
  EXPECT_EQ(e.nicStats, t->ver.nic_stats);

  EXPECT_EQ(e.statsSize, t->stats_size);
  EXPECT_EQ(e.portStride, t->stats_port_stride);
  EXPECT_EQ(e.noDmaOff, t->stats_no_dma_off);
  EXPECT_EQ(e.statsCol, t->stats_col);
  EXPECT_EQ(e.mccAsyncMask, t->mcc_async_mask);

  EXPECT_EQ(e.maxTxQs, t->max_tx_qs);
  EXPECT_EQ(e.profileUcMac, t->profile_uc_mac);
  EXPECT_EQ(e.profileMaxVfs, t->profile_max_vfs);
  EXPECT_EQ(e.profileRssQs, t->profile_rss_qs);
  EXPECT_EQ(e.tsoMinMss, t->tso_min_mss);
  EXPECT_EQ(e.txDrainPolls, t->tx_drain_polls);
  EXPECT_EQ(e.rxFlushPolls, t->rx_flush_polls);
  EXPECT_EQ(e.writeObjectMs, t->write_object_ms);
  EXPECT_EQ(e.rssHashFlags, t->rss_hash_flags);
  EXPECT_EQ(e.ueInject, t->ue_inject);
}

TEST_P(GenTraitsTest, FlagsMatchTheGeneration) {
  const int c = GetParam();
  SCOPED_TRACE(kColName[c]);
  const tamsil_genTraits* t = tamsil_traitsFor(kExpected[c].gen);
  vmk_uint64 listed = 0;
  for (const FlagRow& r : kFlags) {
    listed |= r.flag;
    EXPECT_EQ(r.has[c], (t->flags & r.flag) != 0) << r.what;
  }
  // A flag the record carries must have a row here.
  EXPECT_EQ(0u, t->flags & ~listed);
}

// Pivard's readiness, resets and dumps are its own steps; the others share
// the POST wait, the reset command and the injected error.
TEST_P(GenTraitsTest, StepsMatchTheGeneration) {
  const int c = GetParam();
  SCOPED_TRACE(kColName[c]);
  const tamsil_genOps* ops = tamsil_traitsFor(kExpected[c].gen)->ops;
  ASSERT_NE(nullptr, ops);
  if (c == kPivard) {
    EXPECT_EQ(&tamsil_testAndSetPivardReadyState, ops->waitReady);
    EXPECT_EQ(&tamsil_pivardResetFunction, ops->resetFunction);
    EXPECT_EQ(&tamsil_pivardPortReset, ops->portReset);
    EXPECT_EQ(nullptr, ops->timeoutDump);
    EXPECT_EQ(&tamsil_pivardDumpRequest, ops->ringDump);
  } else {
    EXPECT_EQ(&tamsil_cmdPOST, ops->waitReady);
    EXPECT_EQ(&tamsil_mboxResetFunction, ops->resetFunction);
    EXPECT_EQ(nullptr, ops->portReset);
    EXPECT_EQ(&tamsil_generateUE, ops->timeoutDump);
    EXPECT_EQ(nullptr, ops->ringDump);
  }
}

std::string colTestName(const ::testing::TestParamInfo<int>& i) {
  static const char* const n[kCols] = {"KS2", "KS3", "Pivard", "Veskarn", "Unknown"};
  return n[i.param];
}

INSTANTIATE_TEST_SUITE_P(Generations, GenTraitsTest, ::testing::Range(0, static_cast<int>(kCols)), colTestName);

// Every generation bit has its own record; anything else is the unknown one.
TEST(GenTraitsLookup, EachBitHasItsRecord) {
  EXPECT_EQ(&tamsilTraitsKs2, tamsil_traitsFor(TAMSIL_ASIC_KS2));
  EXPECT_EQ(&tamsilTraitsKs3, tamsil_traitsFor(TAMSIL_ASIC_KS3));
  EXPECT_EQ(&tamsilTraitsPivard, tamsil_traitsFor(TAMSIL_ASIC_PIVARD));
  EXPECT_EQ(&tamsilTraitsVeskarn, tamsil_traitsFor(TAMSIL_ASIC_VESKARN));
  for (vmk_uint32 g : {0u, 0x3u, 0x10u, 0xFFFFFFFFu}) EXPECT_EQ(&tamsilTraitsUnknown, tamsil_traitsFor(g)) << g;
}

}  // namespace
