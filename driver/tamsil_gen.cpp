// The traits records of the ASIC generations and their operations tables.
#include "tamsil_gen.h"

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"

// Kalderstone and Veskarn: the POST wait, the function reset command, no
// per-port reset, an injected unrecoverable error as the post-mortem dump.
const tamsil_genOps tamsilPostOps = {
    tamsil_cmdPOST, tamsil_mboxResetFunction, nullptr, tamsil_generateUE, nullptr,
};

// Pivard: the port status register says ready, the port control register
// resets, the firmware writes a dump when asked.
const tamsil_genOps tamsilPivardOps = {
    tamsil_testAndSetPivardReadyState, tamsil_pivardResetFunction, tamsil_pivardPortReset, nullptr,
    tamsil_pivardDumpRequest,
};

const tamsil_genTraits tamsilTraitsKs2 = {
    TAMSIL_ASIC_KS2, "KS2",
    /* bars */ {2, 4, 1},
    /* ver: cq, txq, mccq, profile, func, rss, link, stats */ {0, 0, 0, 1, 0, 0, 0, 0},
    /* stats */ 1076, TAMSIL_STATS_COL_KS2, 66, 860,
    /* mcc async */ 0x62,
    /* max_tx_qs */ 1,
    /* profile: uc_mac, max_vfs, rss_qs */ 64, 0, 0,
    /* tso_min_mss */ 0,
    /* tx_drain_polls */ 200,
    /* rx_flush_polls */ 51,
    /* write_object_ms */ 0,
    /* rss_hash_flags */ 15,
    TAMSIL_UE_INJECT_CSR,
    TAMSIL_GT_PROFILE_RESOURCES | TAMSIL_GT_FUNC_CAP | TAMSIL_GT_MCCQ_BASIC_FALLBACK |
        TAMSIL_GT_LINK_MODES_FROM_EVENT | TAMSIL_GT_DIAG_LOCAL | TAMSIL_GT_HOST_INTR | TAMSIL_GT_UE_MASKS |
        TAMSIL_GT_EMI_CANCELLER | TAMSIL_GT_TX_DUMMY_WRB | TAMSIL_GT_TX_IPV6_LSO | TAMSIL_GT_TX_SW_FIXUPS |
        TAMSIL_GT_RX_PORT_CHECK | TAMSIL_GT_RX_VLAN_SWAPPED | TAMSIL_GT_TX_MC_TAG_BIT0,
    &tamsilPostOps,
};

const tamsil_genTraits tamsilTraitsKs3 = {
    TAMSIL_ASIC_KS3, "KS3",
    /* bars */ {2, 4, 0},
    /* ver: cq, txq, mccq, profile, func, rss, link, stats */ {0, 0, 0, 1, 0, 0, 1, 1},
    /* stats */ 1804, TAMSIL_STATS_COL_KS3, 72, 1480,
    /* mcc async */ 0x62,
    /* max_tx_qs */ 0,
    /* profile: uc_mac, max_vfs, rss_qs */ 128, 30, 4,
    /* tso_min_mss */ 0,
    /* tx_drain_polls */ 200,
    /* rx_flush_polls */ 51,
    /* write_object_ms */ 0,
    /* rss_hash_flags */ 15,
    TAMSIL_UE_INJECT_CSR,
    TAMSIL_GT_PROFILE_RESOURCES | TAMSIL_GT_1G_PORTS | TAMSIL_GT_NO_RSS_WITH_VFS | TAMSIL_GT_RSS_OR_DRSS |
        TAMSIL_GT_PCIE_DESC_BUDGET | TAMSIL_GT_FUNC_CAP | TAMSIL_GT_MCCQ_BASIC_FALLBACK | TAMSIL_GT_LOGICAL_LINK |
        TAMSIL_GT_DIE_TEMP | TAMSIL_GT_DIAG_LOCAL | TAMSIL_GT_HOST_INTR | TAMSIL_GT_UE_MASKS |
        TAMSIL_GT_EMI_CANCELLER | TAMSIL_GT_QUEUE_PAIRS | TAMSIL_GT_TX_DUMMY_WRB | TAMSIL_GT_TX_IPV6_LSO |
        TAMSIL_GT_TX_SW_FIXUPS | TAMSIL_GT_RX_PORT_CHECK | TAMSIL_GT_RX_VLAN_SWAPPED | TAMSIL_GT_VF_DEFAULT_QUEUE |
        TAMSIL_GT_VF_LINK_STATE | TAMSIL_GT_QNQ_TAGGING | TAMSIL_GT_TX_MC_TAG_BIT0,
    &tamsilPostOps,
};

const tamsil_genTraits tamsilTraitsPivard = {
    TAMSIL_ASIC_PIVARD, "Pivard",
    /* bars */ {-1, 0, -1},
    /* ver: cq, txq, mccq, profile, func, rss, link, stats */ {2, 1, 1, 0, 0, 1, 1, 2},
    /* stats */ 672, TAMSIL_STATS_COL_PIVARD, 0, 0,
    /* mcc async */ 0x20062,
    /* max_tx_qs */ 0,
    /* profile: uc_mac, max_vfs, rss_qs */ 0, 0, 0,
    /* tso_min_mss */ 256,
    /* tx_drain_polls */ 3000,
    /* rx_flush_polls */ 0,
    /* write_object_ms */ TAMSIL_MCC_WAIT_LONG_MS,
    /* rss_hash_flags */ 63,
    TAMSIL_UE_INJECT_NONE,
    TAMSIL_GT_NETQ_COUNT_CLAMP | TAMSIL_GT_MAC_LIST | TAMSIL_GT_VF_ENABLE_CMD | TAMSIL_GT_LOGICAL_LINK |
        TAMSIL_GT_LINK_EVENT_LOGICAL | TAMSIL_GT_DIE_TEMP | TAMSIL_GT_SFP_CHECK | TAMSIL_GT_IF_FILTERS |
        TAMSIL_GT_RXCQ_AT_IO_START | TAMSIL_GT_QUEUE_PAIRS | TAMSIL_GT_FW_DUMP_OBJECT | TAMSIL_GT_TX_SW_FIXUPS |
        TAMSIL_GT_TX_TRIM_ALWAYS | TAMSIL_GT_PPORT_STATS | TAMSIL_GT_RESET_WITH_VFS | TAMSIL_GT_VF_LINK_STATE,
    &tamsilPivardOps,
};

const tamsil_genTraits tamsilTraitsVeskarn = {
    TAMSIL_ASIC_VESKARN, "Veskarn",
    /* bars */ {2, 4, 0},
    /* ver: cq, txq, mccq, profile, func, rss, link, stats */ {2, 2, 0, 1, 1, 1, 1, 2},
    /* stats */ 2696, TAMSIL_STATS_COL_VESKARN, 102, 2044,
    /* mcc async */ 0x20062,
    /* max_tx_qs */ 0,
    /* profile: uc_mac, max_vfs, rss_qs */ 0, 0, 0,
    /* tso_min_mss */ 0,
    /* tx_drain_polls */ 200,
    /* rx_flush_polls */ 51,
    /* write_object_ms */ 0,
    /* rss_hash_flags */ 63,
    TAMSIL_UE_INJECT_PCICFG,
    TAMSIL_GT_FUNC_CAP | TAMSIL_GT_MAC_LIST | TAMSIL_GT_SRIOV_SPLIT | TAMSIL_GT_MCCQ_BASIC_FALLBACK |
        TAMSIL_GT_LOGICAL_LINK | TAMSIL_GT_DIE_TEMP | TAMSIL_GT_SFP_CHECK | TAMSIL_GT_DIAG_LOCAL |
        TAMSIL_GT_HOST_INTR | TAMSIL_GT_UE_MASKS | TAMSIL_GT_EMI_CANCELLER | TAMSIL_GT_ROCE_VECTORS |
        TAMSIL_GT_VXLAN | TAMSIL_GT_QUEUE_PAIRS | TAMSIL_GT_TX_DUMMY_WRB | TAMSIL_GT_TX_IPV6_LSO |
        TAMSIL_GT_RX_PORT_CHECK | TAMSIL_GT_RX_VLAN_SWAPPED | TAMSIL_GT_VF_DEFAULT_QUEUE | TAMSIL_GT_VF_LINK_STATE,
    &tamsilPostOps,
};

// A device id of no known generation: every step that names generations
// takes its "other generations" branch (the Veskarn statistics layout, the
// POST wait), no feature named for one generation.
const tamsil_genTraits tamsilTraitsUnknown = {
    TAMSIL_ASIC_NONE, "unknown",
    /* bars */ {2, 4, 0},
    /* ver: cq, txq, mccq, profile, func, rss, link, stats */ {2, 0, 0, 1, 0, 0, 1, 0},
    /* stats */ 2696, TAMSIL_STATS_COL_VESKARN, 102, 2044,
    /* mcc async */ 0x62,
    /* max_tx_qs */ 0,
    /* profile: uc_mac, max_vfs, rss_qs */ 0, 0, 0,
    /* tso_min_mss */ 0,
    /* tx_drain_polls */ 200,
    /* rx_flush_polls */ 51,
    /* write_object_ms */ 0,
    /* rss_hash_flags */ 63,
    TAMSIL_UE_INJECT_NONE,
    TAMSIL_GT_FUNC_CAP | TAMSIL_GT_MAC_LIST | TAMSIL_GT_MCCQ_BASIC_FALLBACK | TAMSIL_GT_LOGICAL_LINK |
        TAMSIL_GT_DIE_TEMP | TAMSIL_GT_DIAG_LOCAL | TAMSIL_GT_HOST_INTR | TAMSIL_GT_UE_MASKS |
        TAMSIL_GT_EMI_CANCELLER | TAMSIL_GT_QUEUE_PAIRS | TAMSIL_GT_TX_DUMMY_WRB | TAMSIL_GT_TX_IPV6_LSO |
        TAMSIL_GT_RX_PORT_CHECK | TAMSIL_GT_RX_VLAN_SWAPPED | TAMSIL_GT_VF_LINK_STATE,
    &tamsilPostOps,
};
