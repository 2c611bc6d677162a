// What differs between the ASIC generations, as data.
//
// Every generation has one const traits record (command versions, sizes,
// limits, feature flags, BAR layout) and shares one of two operations tables
// for the steps that differ as a whole (firmware readiness, the function
// reset, the port reset, dumps). Code asks the record of its Adapter instead
// of testing the generation; the record follows from the generation bits set
// once at attach from the PCI device id.
//
// Conditions on the ASIC revision and on the function mode are not
// generation traits: they stay in the code that needs them (see the revision
// helpers at the end).
#pragma once

#include "tamsil.h"

struct tamsil_genOps;

// Flags of tamsil_genTraits::flags.
enum tamsil_genFlags : vmk_uint64 {
  // Resources come from the firmware profile (else from the function
  // configuration).
  TAMSIL_GT_PROFILE_RESOURCES = 1ull << 0,
  // Ports numbered above 1 are 1 Gb/s ports: single channel, one NetQueue,
  // no RSS.
  TAMSIL_GT_1G_PORTS = 1ull << 1,
  // With VFs asked for: one NetQueue and no RSS.
  TAMSIL_GT_NO_RSS_WITH_VFS = 1ull << 2,
  // RSS and DRSS exclude each other.
  TAMSIL_GT_RSS_OR_DRSS = 1ull << 3,
  // A PCIe descriptor of the profile with a VF count lowers the default
  // queue budget.
  TAMSIL_GT_PCIE_DESC_BUDGET = 1ull << 4,
  // The function capability command is sent at configuration.
  TAMSIL_GT_FUNC_CAP = 1ull << 5,
  // The controller's NetQueue count is clamped to 8 (0 kept); without the
  // flag a count outside 1-8 reads 2.
  TAMSIL_GT_NETQ_COUNT_CLAMP = 1ull << 6,
  // MAC addresses come from and go to MAC lists (else the permanent-MAC
  // query and PMAC add/delete).
  TAMSIL_GT_MAC_LIST = 1ull << 7,
  // The firmware splits the resources between the PF and its VFs.
  TAMSIL_GT_SRIOV_SPLIT = 1ull << 8,
  // Each enabled VF is announced with the enable-VF command.
  TAMSIL_GT_VF_ENABLE_CMD = 1ull << 9,
  // A refused extended MCC queue create falls back to the basic form.
  TAMSIL_GT_MCCQ_BASIC_FALLBACK = 1ull << 10,
  // The logical link properties command exists.
  TAMSIL_GT_LOGICAL_LINK = 1ull << 11,
  // The supported speed is the one the link event reports (no table of
  // modes from the PHY capabilities).
  TAMSIL_GT_LINK_MODES_FROM_EVENT = 1ull << 12,
  // Only link events with the logical link bit are taken.
  TAMSIL_GT_LINK_EVENT_LOGICAL = 1ull << 13,
  // The die temperature is queried with the statistics.
  TAMSIL_GT_DIE_TEMP = 1ull << 14,
  // Transceiver events and checks.
  TAMSIL_GT_SFP_CHECK = 1ull << 15,
  // Diagnostic pass-through requests are partly answered by the driver
  // (crash-dump bytecode among them).
  TAMSIL_GT_DIAG_LOCAL = 1ull << 16,
  // Host interrupts are switched by command (else always on).
  TAMSIL_GT_HOST_INTR = 1ull << 17,
  // Unrecoverable-error mask words in PCI configuration space.
  TAMSIL_GT_UE_MASKS = 1ull << 18,
  // The EMI canceller setting applies to the 10GBase-T PHY.
  TAMSIL_GT_EMI_CANCELLER = 1ull << 19,
  // Event queues may be set aside for RoCE.
  TAMSIL_GT_ROCE_VECTORS = 1ull << 20,
  // VXLAN offload.
  TAMSIL_GT_VXLAN = 1ull << 21,
  // Interfaces are created without enable flags and shared (the default
  // one and the first RSS ring's); the driver applies interface filters at
  // start I/O and removes them at quiesce.
  TAMSIL_GT_IF_FILTERS = 1ull << 22,
  // Receive completion queues are created at start I/O (else at set-up).
  TAMSIL_GT_RXCQ_AT_IO_START = 1ull << 23,
  // Receive queues pair with transmit queues (and may be dynamic).
  TAMSIL_GT_QUEUE_PAIRS = 1ull << 24,
  // The firmware dump is an object the driver asks for, reads and deletes.
  TAMSIL_GT_FW_DUMP_OBJECT = 1ull << 25,
  // Transmit: an odd entry count is made even with a dummy entry.
  TAMSIL_GT_TX_DUMMY_WRB = 1ull << 26,
  // Transmit: IPv6 segmentation bit in the header entry.
  TAMSIL_GT_TX_IPV6_LSO = 1ull << 27,
  // Transmit: software VLAN insertion, trimming of short IPv4 frames and
  // the drop of IPv6 TSO frames with extension headers.
  TAMSIL_GT_TX_SW_FIXUPS = 1ull << 28,
  // Receive: a completion for another port is a replicated frame.
  TAMSIL_GT_RX_PORT_CHECK = 1ull << 29,
  // Receive: the completion's VLAN tag is byte-swapped.
  TAMSIL_GT_RX_VLAN_SWAPPED = 1ull << 30,
  // NetQueue: queue 0 takes filters while VFs are enabled.
  TAMSIL_GT_VF_DEFAULT_QUEUE = 1ull << 31,
  // Transmit: short IPv4 frames are trimmed whatever the function mode.
  TAMSIL_GT_TX_TRIM_ALWAYS = 1ull << 32,
  // Statistics are read with the physical-port statistics command.
  TAMSIL_GT_PPORT_STATS = 1ull << 33,
  // The uplink reset runs with VFs enabled, and configures them again.
  TAMSIL_GT_RESET_WITH_VFS = 1ull << 34,
  // The link state of a VF can be changed.
  TAMSIL_GT_VF_LINK_STATE = 1ull << 35,
  // Transmit VLAN tagging in a multi-channel mode needs the QnQ event.
  TAMSIL_GT_QNQ_TAGGING = 1ull << 36,
  // Transmit: bit 0 of the header entry is cleared for a driver-inserted
  // tag in a multi-channel mode.
  TAMSIL_GT_TX_MC_TAG_BIT0 = 1ull << 37,
};

// How an unrecoverable error is injected for a post-mortem dump.
enum tamsil_ueInject : vmk_uint8 {
  TAMSIL_UE_INJECT_NONE = 0,
  TAMSIL_UE_INJECT_CSR = 1,     // CSR 0x138 then the kick at 0x1FFFC
  TAMSIL_UE_INJECT_PCICFG = 2,  // bit 0 of the PCI-configuration BAR byte 0x5F
};

// Column of the statistics counter map.
enum tamsil_statsCol : vmk_uint8 {
  TAMSIL_STATS_COL_PIVARD = 0,
  TAMSIL_STATS_COL_KS2 = 1,
  TAMSIL_STATS_COL_KS3 = 2,
  TAMSIL_STATS_COL_VESKARN = 3,
  TAMSIL_STATS_COLS = 4,
};

// BARs mapped at attach, -1 when the generation has none.
struct tamsil_genBars {
  vmk_int8 csr;
  vmk_int8 db;
  vmk_int8 pcicfg;
};

// Firmware command versions.
struct tamsil_genVersions {
  vmk_uint8 cq_create;       // 0: KS layout, 2: the later one
  vmk_uint8 txq_create;      // 0; 1 with the first vector's interface; 2 with the given one
  vmk_uint8 mccq_create;     // extended MCC queue create
  vmk_uint8 profile_config;  // get profile config
  vmk_uint8 func_config;     // get function config
  vmk_uint8 rss_config;
  vmk_uint8 link_query;
  vmk_uint8 nic_stats;
};

struct tamsil_genTraits {
  vmk_uint32 gen;            // AsicGeneration bit; 0 for a device id of no known generation
  const char* name;
  tamsil_genBars bars;
  tamsil_genVersions ver;

  // Sizes.
  vmk_uint16 stats_size;         // bytes of the statistics block
  tamsil_statsCol stats_col;     // column of the counter map
  vmk_uint16 stats_port_stride;  // words of one port block (0: no port blocks)
  vmk_uint16 stats_no_dma_off;   // byte offset of the 16-bit no-DMA counters (0: none)
  vmk_uint32 mcc_async_mask;     // async events asked for at MCC queue create

  // Limits.
  vmk_uint16 max_tx_qs;          // transmit queues of the function (0: one per vector)
  vmk_uint16 profile_uc_mac;     // MAC filters on the profile path (before the multi-channel share)
  vmk_uint16 profile_max_vfs;    // VFs at most on the profile path with SR-IOV (0: as read)
  vmk_uint16 profile_rss_qs;     // RSS rings on the profile path (0: as read)
  vmk_uint16 tso_min_mss;        // smallest MSS the transmit header carries (0: any)
  vmk_uint16 tx_drain_polls;     // 1 ms polls of the transmit drain at quiesce
  vmk_uint16 rx_flush_polls;     // empty polls waiting for the flush completion (0: none comes)
  vmk_uint32 write_object_ms;    // timeout of a pass-through write-object request (0: the usual)
  vmk_uint8 rss_hash_flags;      // hash types of the RSS configuration
  tamsil_ueInject ue_inject;

  vmk_uint64 flags;              // tamsil_genFlags
  const tamsil_genOps* ops;
};

// Steps that differ as a whole. A NULL entry: the generation has no such
// step.
struct tamsil_genOps {
  // Waits for the firmware to be ready (attach, reset).
  VMK_ReturnStatus (*waitReady)(Adapter* adapter);
  // Resets the function; channel status.
  vmk_uint32 (*resetFunction)(Adapter* adapter);
  // Resets this function's port alone, without the command channel, and
  // waits until it is ready; its firmware objects are gone then.
  VMK_ReturnStatus (*portReset)(Adapter* adapter);
  // A command timed out: leave a post-mortem dump.
  void (*timeoutDump)(Adapter* adapter);
  // A ring was found inconsistent: ask for a dump before the system stops.
  void (*ringDump)(Adapter* adapter);
};

extern const tamsil_genTraits tamsilTraitsKs2;
extern const tamsil_genTraits tamsilTraitsKs3;
extern const tamsil_genTraits tamsilTraitsPivard;
extern const tamsil_genTraits tamsilTraitsVeskarn;
extern const tamsil_genTraits tamsilTraitsUnknown;
extern const tamsil_genOps tamsilPostOps;
extern const tamsil_genOps tamsilPivardOps;

// The record of a generation bit (AsicGeneration); tamsilTraitsUnknown for
// any other value.
static inline const tamsil_genTraits* tamsil_traitsFor(vmk_uint32 gen) {
  switch (gen) {
    case TAMSIL_ASIC_KS2: return &tamsilTraitsKs2;
    case TAMSIL_ASIC_KS3: return &tamsilTraitsKs3;
    case TAMSIL_ASIC_PIVARD: return &tamsilTraitsPivard;
    case TAMSIL_ASIC_VESKARN: return &tamsilTraitsVeskarn;
    default: return &tamsilTraitsUnknown;
  }
}

// The Adapter's record: its generation bits are set once at attach.
static inline const tamsil_genTraits* tamsil_traitsOf(const Adapter* a) { return tamsil_traitsFor(a->asic_gen); }
static inline const tamsil_genOps* tamsil_opsOf(const Adapter* a) { return tamsil_traitsOf(a)->ops; }
static inline bool tamsil_hasTrait(const Adapter* a, vmk_uint64 flag) { return (tamsil_traitsOf(a)->flags & flag) != 0; }

// Revision conditions (not generation traits): KS3 silicon of revision 1
// has the transmit capability flag and the IPv6 extension-header rule.
static inline bool tamsil_isKs3Rev1(const Adapter* a) { return (a->asic_gen & TAMSIL_ASIC_KS3) != 0 && a->asic_rev == 1; }
