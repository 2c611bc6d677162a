// tamsil: shared definitions of the NIC driver module.
//
// The driver-wide record, the per-PCI-function Adapter object and the small
// records it is built from, the module parameters, the log conventions and the
// memory helpers every part of the driver uses. Files of the driver add their
// own records in their own headers; records the Adapter embeds live here.
#pragma once

#include <cstdarg>

#include "vmkapi.h"
#include "tamsil_cmds_types.h"

/* ------------------------------------------------------------------------ */
/* Identity                                                                  */
/* ------------------------------------------------------------------------ */

#define TAMSIL_DRIVER_NAME "tamsil"
#define TAMSIL_DRIVER_VERSION "11.2.1149.0"
#define TAMSIL_MODULE_VERSION "11.2.1149.0-1OEM.550.0.0.1331820"
#define TAMSIL_VMKAPI_NAMESPACE "com.vmware.vmkapi#v2_2_0_0"
#define TAMSIL_INTERFACE_REVISION 0x02020000u
#define TAMSIL_DRIVER_TYPE "native"

/* ------------------------------------------------------------------------ */
/* Limits and sizes                                                          */
/* ------------------------------------------------------------------------ */

#define TAMSIL_MAX_PF_PARAMS 128     // entries of each array module parameter
#define TAMSIL_PARAM_LIST_LEN 2048   // text listing the array parameters at load
#define TAMSIL_PARAM_ENTRY_LEN 20    // one "name[i]=v " entry of that listing
#define TAMSIL_MAX_VECTORS 32
#define TAMSIL_MAX_UPLINK_QUEUES 64
#define TAMSIL_MAX_VFS 64
#define TAMSIL_MCC_Q_LEN 128
#define TAMSIL_PMAC_ENTRIES 128
#define TAMSIL_TXQ_LEN 2048
#define TAMSIL_MAX_LINK_MODES 16
#define TAMSIL_HASH_KEY_LEN 16       // PCI name keys of tamsil_vmkdevHashTbl
#define TAMSIL_HASH_ENTRIES 64
#define TAMSIL_PCI_NAME_LEN 32
#define TAMSIL_FW_VERSION_LEN 32
#define TAMSIL_MBOX_SIZE 272         // work request block and completion
#define TAMSIL_MBOX_ALLOC_SIZE 288   // room to align the mailbox to 16 bytes
#define TAMSIL_SCRATCH_SIZE 404

// Memory pool and heap sizing.
#define TAMSIL_MPOOL_BASE_PAGES 653u
#define TAMSIL_MPOOL_SLACK_PERCENT 120u
#define TAMSIL_MPOOL_RESERVATION_FACTOR 2u
#define TAMSIL_MPOOL_LIMIT_FACTOR 800u
#define TAMSIL_HEAP_INITIAL_FACTOR 2u
#define TAMSIL_HEAP_MAX_FACTOR 800u
#define TAMSIL_HEAP_TIMEOUT_MS 10u
#define TAMSIL_MPOOL_ALLOC_TIMEOUT_MS 10u

/* ------------------------------------------------------------------------ */
/* debugMask bits                                                            */
/* ------------------------------------------------------------------------ */

#define TAMSIL_DBG_DRIVER 0x1u
#define TAMSIL_DBG_UPLINK 0x2u
#define TAMSIL_DBG_QUEUE 0x4u
#define TAMSIL_DBG_MCC 0x10u
#define TAMSIL_DBG_PANIC 0x20u
#define TAMSIL_DBG_RX 0x40u
#define TAMSIL_DBG_MGMT 0x80u
#define TAMSIL_DBG_WORKER 0x100u
#define TAMSIL_DBG_SRIOV 0x200u
#define TAMSIL_DBG_VXLAN 0x1000u
#define TAMSIL_DEBUG_MASK_DEFAULT 0x1217u

// Log levels the messages are written at.
#define TAMSIL_LOG_LEVEL_ERR 1    // the component's current level: errors always appear
#define TAMSIL_LOG_LEVEL_INFO 0
#define TAMSIL_LOG_LEVEL_INFO2 2
#define TAMSIL_LOG_LEVEL_INFO3 3

/* ------------------------------------------------------------------------ */
/* Per-adapter state bits, feature word, ASIC generation                     */
/* ------------------------------------------------------------------------ */

// Bit numbers of the atomic AdapterFlags vector.
enum AdapterFlags {
  TAMSIL_FLAG_RECONFIG = 1,        // receive/transmit reconfiguration in progress
  TAMSIL_FLAG_LINK_UPDATE = 2,     // link update pending
  TAMSIL_FLAG_TPE_REINIT = 3,      // recovery re-initialisation in progress
  TAMSIL_FLAG_IO_QUIESCED = 4,     // I/O quiesced
  TAMSIL_FLAG_DEV_QUIESCED = 5,    // device quiesced: management answers busy
  TAMSIL_FLAG_SFP_CHECK = 6,       // transceiver check pending
  TAMSIL_FLAG_PIVARD_RECOVERY = 7, // Pivard error recovery in progress
  TAMSIL_FLAG_BITS = 8,
};

// Bits of the Adapter's plain feature word.
enum AdapterFeatures : vmk_uint32 {
  TAMSIL_FEAT_SRIOV = 0x1,
  TAMSIL_FEAT_VXLAN_OFFLOAD = 0x2,
  TAMSIL_FEAT_DMA64 = 0x4,
  TAMSIL_FEAT_NETDUMP_TX = 0x8,
  TAMSIL_FEAT_OS2BMC = 0x10,
  TAMSIL_FEAT_RSS = 0x20,
  TAMSIL_FEAT_DRSS = 0x40,
  TAMSIL_FEAT_RSS_IF_FLAG = 0x80,
};

// Generation bits of the Adapter, set once at attach from the PCI device id.
enum AsicGeneration : vmk_uint32 {
  TAMSIL_ASIC_NONE = 0x0,
  TAMSIL_ASIC_KS2 = 0x1,
  TAMSIL_ASIC_KS3 = 0x2,
  TAMSIL_ASIC_PIVARD = 0x4,
  TAMSIL_ASIC_VESKARN = 0x8,
};

// PCI device ids of the adapter functions.
#define TAMSIL_DEVID_KS2 0x3B00
#define TAMSIL_DEVID_KS2_ALT 0x3A11
#define TAMSIL_DEVID_KS3 0x3B10
#define TAMSIL_DEVID_KS3_ALT 0x3A21
#define TAMSIL_DEVID_PIVARD 0x5C20
#define TAMSIL_DEVID_VESKARN 0x3B28
#define TAMSIL_DEVID_VESKARN_ALT 0x3B20

#define TAMSIL_DEVICE_NAMES 6
extern const char* const tamsil_device_name[TAMSIL_DEVICE_NAMES];
vmk_uint32 tamsil_deviceNameIndex(vmk_uint16 deviceId);
vmk_uint32 tamsil_asicGeneration(vmk_uint16 deviceId);

/* ------------------------------------------------------------------------ */
/* DMA memory and rings                                                      */
/* ------------------------------------------------------------------------ */

// One DMA-mapped buffer of whole pages from the module memory pool.
struct DmaBuffer {
  vmk_SgOpsHandle sg_ops;
  vmk_SgArray* sg_array;  // after mapping, element 0 holds the bus address
  vmk_uint32 size;        // rounded up to whole pages
  void* va;               // NULL when not allocated
};

// One ring in DMA memory.
struct QueueInfo {
  DmaBuffer mem;
  vmk_uint16 len;         // entries, a power of two
  vmk_uint16 entry_size;
  vmk_uint16 id;          // firmware queue id
  vmk_uint16 tail;        // consumer index
  vmk_uint16 head;        // producer index
  vmk_uint8 created;      // the firmware object exists
  vmk_atomic64 used;      // entries posted and not yet consumed
};

struct Request_Header;

// Per-command wait record: one per MCC ring slot, plus one for the mailbox.
// A completion finds its record by the slot index and the generation that
// the work request's tag carries, never by an address.
struct WrbContext {
  Request_Header* header;     // where the firmware writes its response header
  vmk_uint8 wait_mcc_compl;   // 1 while a sleeping waiter expects the completion
  vmk_uint8 quiet;            // suppress the failure line (pass-through)
  vmk_uint8 outstanding;      // the completion of `gen` is still expected
  vmk_uint8 done;             // the completion of `gen` was accepted
  vmk_uint8 abandoned;        // its waiter left: `kept` goes with the completion
  vmk_uint16 index;           // slot index (the mailbox's is TAMSIL_MCC_Q_LEN)
  vmk_uint32 gen;             // generation of the command in the slot, never 0
  vmk_uint32 fail_status;     // set when the channel closes under the waiter
  DmaBuffer kept;             // command buffer the device may still write
};

// Interrupt moderation state of one event queue.
struct EqDelayState {
  vmk_uint8 adaptive;
  vmk_uint32 min_eqd;
  vmk_uint32 max_eqd;
  vmk_uint32 cur_eqd;
  vmk_uint32 static_eqd;
  vmk_uint64 prev_int_count;
};

struct Adapter;
struct tamsil_rxo;
struct qData;
typedef struct vmk_NetPollInt* vmk_NetPoll;
typedef struct vmk_UplinkInt* vmk_Uplink;

struct NetPollInfo {
  Adapter* adapter;
  qData* qdata;           // NetQueue ring's queue record; NULL for RSS/DRSS rings
  vmk_NetPoll netpoll;
  tamsil_rxo* rxo;
  vmk_uint8 created;
  vmk_uint32 intr_cookie;
  vmk_uint8 bound;
  vmk_uint32 vector;
  vmk_uint8 enabled;      // start I/O enabled the kernel NetPoll
};

struct tamsil_eqo {
  QueueInfo q;            // 1024 entries of 4 bytes
  vmk_uint64 ips;
  vmk_uint32 int_count;
  vmk_uint32 int_ack_count;
  vmk_uint32 event_count;
  vmk_uint32 vector_idx;
  NetPollInfo* netpoll;
};

struct RxCompletion {
  vmk_uint16 rss_hash;
  vmk_uint16 vlan_tag;
  vmk_uint16 pkt_size;
  vmk_uint16 frag_index;
  vmk_uint8 num_frags;
  vmk_uint8 port;
  vmk_uint8 vlan_present;
  vmk_uint8 err;
  vmk_uint8 tcp;
  vmk_uint8 udp;
  vmk_uint8 ip_csum_ok;
  vmk_uint8 l4_csum_ok;
  vmk_uint8 ipv6;
  vmk_uint8 cast;
  vmk_uint8 vlan_keep;
  vmk_uint8 tunneled;
};

typedef struct vmk_PktHandle vmk_PktHandle;

struct tamsil_fragInfo {
  vmk_uint64 bus_addr;
  vmk_uint32 length;
  vmk_PktHandle* pkt;     // NULL: free entry
};

struct tamsil_rxo {
  Adapter* adapter;       // first field: the vector's interrupt handler data
  QueueInfo rxq;          // 1024 entries of 8 bytes
  QueueInfo cq;           // 1024 entries of 16 bytes
  RxCompletion rxcp;
  tamsil_fragInfo* frag_info_table;
  vmk_uint64 frag_info_size;
  vmk_uint64 quiesced;
  qData* qdata;
  vmk_uint64 rx_bytes;
  vmk_uint64 rx_pkts;
  vmk_uint32 rx_no_dma_frags;
  vmk_uint32 rx_post_fail;
  vmk_uint32 rx_compl;
  vmk_uint32 rx_mcast_pkts;
  vmk_uint32 rx_bcast_pkts;
  vmk_uint32 rx_ucast_pkts;
  vmk_uint32 rx_rsvd_pkts;
  vmk_uint32 rx_compl_err;
  vmk_uint32 rx_replicated_pkts;
  vmk_uint32 rx_multi_frag_drops;
  vmk_uint32 vxlan_rx_pkts;
  vmk_uint32 rx_pkts_on_quiesce;
  vmk_uint8 rss_id;
  vmk_uint8 rx_post_starved;
  vmk_uint16 last_consumed;
  vmk_uint32 idx;
  vmk_uint32 if_id;
  vmk_uint32 tunnel_mode;
  vmk_uint8 ring_type;    // 0 NetQueue, 1 RSS, 2 DRSS
  vmk_uint8 if_created;
  vmk_uint8 mq_state;
  vmk_uint8 intr_enabled;
  // Receive path: frames dropped because a packet service refused them, and
  // the mark of the one context posting to the ring (NetPoll refill or the
  // worker's retry of a starving ring).
  vmk_uint32 rx_pkt_service_drops;
  vmk_uint32 posting;
};

struct tamsil_txPending {
  vmk_PktHandle* sent;
  vmk_PktHandle* caller;
};

struct tamsil_txo {
  QueueInfo q;            // 2048 TxWrb entries
  QueueInfo cq;           // 1024 entries of 16 bytes
  tamsil_txPending pending[TAMSIL_TXQ_LEN];
  vmk_uint32 tx_stops;
  vmk_uint32 tx_wrbs;
  vmk_uint32 tx_compl;
  vmk_uint64 tx_bytes;
  vmk_uint64 tx_pkts;
  vmk_uint32 ipv6_ext_hdr_tx_drop;
  vmk_uint32 ipv6_ext_hdr_tx_pkts;
  vmk_uint32 tso_ip_frag_off_drop_count;
  vmk_uint32 tx_os2bmc_pkts;
  vmk_uint32 tx_os2bmc_drops;
  vmk_uint32 vxlan_tx_pkts;
  vmk_uint32 tx_tso_mss_zero_gr_9k_drop;
  vmk_uint32 tx_gr_9k_non_tso_drop;
  vmk_uint32 tx_discarded_padded_frags;
  vmk_uint32 tx_vlan_insert_by_drvr_pkts;
  vmk_uint32 tx_vlan_insert_by_drvr_drops;
  vmk_uint32 tx_oversize_frag_len_pkts;
  vmk_uint32 tx_dma_map_fail_drops;
  vmk_uint32 tx_l3_hdr_parse_fail_drops;
  vmk_uint32 tx_trim_fail_drops;
  vmk_uint32 tx_pkt_less_than_min;
  vmk_uint32 tx_ipv6_extn_drops;
  vmk_uint32 tx_pad_fail_drops;
  vmk_uint32 tx_tso_less_than_min_mss;
  vmk_uint32 idx;
  vmk_uint32 db_offset;
  qData* qdata;           // the uplink's record of this transmit queue
  // Packets with more fragments than one packet may take entries: copied
  // into one fragment, or dropped when even that does not fit the ring.
  vmk_uint32 tx_linearized_pkts;
  vmk_uint32 tx_ring_full_drops;
};

// The kernel's per-queue shared data of one uplink queue.
struct qData {
  vmk_uint32 flags;
  vmk_uint32 type;        // 1 receive, 2 transmit
  vmk_uint64 qid;
  vmk_uint32 state;
  vmk_uint32 supportedFeatures;
  vmk_uint32 activeFeatures;
  vmk_uint32 maxFilters;
  vmk_uint32 activeFilters;
  vmk_NetPoll netpoll;
  vmk_DMAEngine dmaEngine;
  vmk_uint8 priority;
  vmk_uint8 coalesceParams[16];
};

struct tamsil_pmacEntry {
  vmk_uint8 nic_ref;
  vmk_uint8 rdma_ref;
  vmk_uint8 mac[6];
  vmk_uint32 queue;
};

struct VfRecord {
  vmk_uint8 mac[6];
  vmk_uint8 default_mac[6];
  vmk_uint32 if_handle;
  vmk_uint32 pmac_id;
  vmk_uint8 pvlan_enabled;
  vmk_uint16 pvlan_id;
};

struct tamsil_linkMode {
  vmk_uint32 speed;
  vmk_uint32 duplex;
};

// Uplink link status as the kernel reads it.
struct tamsil_linkStatus {
  vmk_uint32 state;
  vmk_uint32 speed;
  vmk_uint32 duplex;
};

// Queue information of the uplink shared data.
struct tamsil_queueInfo {
  vmk_uint32 supportedQueueTypes;
  vmk_uint32 supportedRxQueueFilterClasses;
  vmk_uint64 defaultRxQueueID;
  vmk_uint64 defaultTxQueueID;
  vmk_uint32 maxRxQueues;
  vmk_uint32 maxTxQueues;
  vmk_uint32 activeRxQueues;
  vmk_uint32 activeTxQueues;
  qData* queueData;
};

// The uplink's shared data area (the kernel reads it; writers use the version
// counters under `lock`).
struct tamsil_uplinkSharedData {
  vmk_uint32 lockedCount;
  vmk_uint32 unlockedCount;
  vmk_uint32 flags;
  vmk_uint32 state;
  tamsil_linkStatus link;
  vmk_uint32 mtu;
  tamsil_linkMode* supportedModes;
  vmk_uint32 supportedModesArraySz;
  tamsil_queueInfo* queueInfo;
  vmk_Lock lock;
};

// Uplink registration record and the names kept for driver information.
struct tamsil_uplinkRegData {
  vmk_revnum apiRevision;
  vmk_ModuleID moduleID;
  void* ops[11];
  tamsil_uplinkSharedData* sharedData;
  Adapter* driverData;
  vmk_uint8 perm_mac[6];
  vmk_uint8 curr_mac[6];
  char driver_name[32];
  char driver_version[32];
  char fw_version[32];
  char module_type[32];
};

/* ------------------------------------------------------------------------ */
/* Adapter                                                                   */
/* ------------------------------------------------------------------------ */

struct tamsil_barMap {
  void** va;              // the Adapter field the BAR is mapped into
  vmk_uint8 bar;
};

struct tamsil_pciId {
  vmk_uint16 vendor_id;
  vmk_uint16 device_id;
  vmk_uint16 subsystem_vendor_id;
  vmk_uint16 subsystem_device_id;
};

struct tamsil_pciAddr {
  vmk_uint16 segment;
  vmk_uint8 bus;
  vmk_uint8 devfn;        // device in bits 0-4, function in bits 5-7
};

// Firmware resource limits and derived queue budgets.
struct tamsil_resources {
  vmk_uint16 max_vfs;
  vmk_uint16 max_tx_qs;
  vmk_uint16 max_rx_qs;
  vmk_uint16 max_rss_qs;
  vmk_uint16 max_drss_qs;
  vmk_uint16 max_cq_count;
  vmk_uint16 uc_mac;
  vmk_uint16 max_vlans;
  vmk_uint16 max_evt_qs;
  vmk_uint16 max_evt_qs_total;
  vmk_uint32 if_cap_flags;  // carries the RSS flags 0x4 and 0x1000000
  vmk_uint32 max_iface_count;
  vmk_uint32 max_mcc_count;
};

// SR-IOV configuration state.
struct tamsil_sriovState {
  vmk_uint32 sriov_cap;
  vmk_uint32 fw_max_vfs;
  vmk_uint32 vf_queues;
  vmk_uint32 vf_flags;
  vmk_PCIDevice vf_devices[TAMSIL_MAX_VFS];
  void* vf_config_cb;
  vmk_uint8 vf_link_state[TAMSIL_MAX_VFS];
  tamsil_resources profile_res;
  ResourceLimits profile_limits;  // the PF's limits as the profile reported them
  vmk_uint8 limits_saved;
};

// Driver statistics counters.
struct tamsil_driverCounters {
  vmk_uint64 count_invalid_txq_mapping;
  vmk_uint64 tso_drop_gr_than_64k;
  vmk_uint64 tso_gr_than_64k;
  vmk_uint32 rx_drops_no_pbuf;
  vmk_uint32 rx_crc_errors;
  vmk_uint32 tx_timeout_count;
  vmk_uint32 stats_cmd_fail;
  vmk_uint64 rx_bytes;
  vmk_uint64 rx_pkts;
  vmk_uint64 tx_bytes;
  vmk_uint64 tx_pkts;
};

// Link and PHY state.
struct tamsil_linkState {
  vmk_uint8 link_up;
  vmk_uint16 link_speed;      // Mbps
  vmk_uint16 qos_link_speed;  // 10 Mbps units
  vmk_uint8 link_down_reason;
  vmk_uint8 duplex;
  vmk_uint8 reported_link;
  vmk_uint16 reported_speed;
  vmk_uint8 autoneg;
  vmk_uint16 phy_type;
  vmk_uint16 phy_if_type;
  vmk_uint16 speed_mask;
  vmk_uint16 speed_mask2;
  vmk_uint8 phy_flags;
  vmk_uint8 cable_type;
  vmk_uint8 fixed_link;
  vmk_uint8 sfp_state_port[4];
  char sfp_vendor[17];
  char sfp_part[17];
  char cntl_text[32];
};

struct Adapter {
  void* csr_va;
  tamsil_barMap csr_bar;
  void* db_va;
  tamsil_barMap db_bar;
  void* pcicfg_va;
  tamsil_barMap pcicfg_bar;
  vmk_Device device;
  vmk_PCIDevice pci_device;
  tamsil_pciId pci_id;
  tamsil_pciAddr pci_addr;
  char pci_name[TAMSIL_PCI_NAME_LEN];
  tamsil_resources res;
  tamsil_sriovState sriov;
  vmk_int32 rss;
  vmk_int32 drss;
  vmk_int32 max_vfs;
  vmk_uint32 profile_word;
  vmk_uint32 num_vfs;
  vmk_uint8 profile_desc_seen;
  VfRecord* vf_cfg;
  vmk_uint32 intr_cookie[TAMSIL_MAX_VECTORS];
  vmk_uint32 nic_vectors;
  vmk_uint32 roce_vectors;
  vmk_uint8 msix_enabled;
  vmk_uint8 intr_registered;
  vmk_uint8 dev_data_valid;
  vmk_uint8 uplink_state;
  vmk_uint8 drss_first;
  vmk_Device uplink_device;
  tamsil_uplinkRegData uplink_reg;
  vmk_Name uplink_name;
  vmk_Uplink uplink;        // the kernel uplink while associated
  vmk_DMAEngine dma_engine;
  vmk_uint64 io_started;
  vmk_atomic64 mgmt_in_flight;
  vmk_uint32 mgmt_gate_closed;  // a full reset runs: management requests are refused
  vmk_uint32 port_num;
  vmk_uint32 cntl_port;
  vmk_uint32 link_toggle;
  vmk_uint32 tx_timeouts;
  qData uplink_qdata[TAMSIL_MAX_UPLINK_QUEUES];
  NetPollInfo netpoll[TAMSIL_MAX_VECTORS];
  tamsil_uplinkSharedData shared_data;
  tamsil_queueInfo queue_info;
  tamsil_linkMode supported_modes[TAMSIL_MAX_LINK_MODES];
  vmk_uint32 num_supported_modes;
  vmk_uint8 internal_quiesce;
  vmk_uint32 reset_count;
  vmk_uint32 mtu;
  vmk_Semaphore mbox_lock;
  vmk_Semaphore reset_lock;
  vmk_Semaphore pmac_lock;
  vmk_IOA mbox_bus_addr;
  vmk_uint32 mbox_size;
  void* mbox_va;            // 16-byte aligned inside mbox_mem
  DmaBuffer mbox_mem;
  void* mbox_wrb;
  WrbContext mbox_ctx;
  QueueInfo mcc_q;
  QueueInfo mcc_cq;
  WrbContext wrb_ctx[TAMSIL_MCC_Q_LEN];
  vmk_int8 async_mcc_enabled;
  vmk_uint64 alloc_size;
  vmk_Lock mcc_lock;
  vmk_Lock mcc_cq_lock;
  vmk_Lock mcc_compl_wait_lock;
  vmk_Lock mcc_compl_worker_lock;
  vmk_uint32 num_tx_queues;
  tamsil_txo txo[TAMSIL_MAX_VECTORS];
  tamsil_rxo rxo[TAMSIL_MAX_VECTORS];
  EqDelayState eq_delay[TAMSIL_MAX_VECTORS];
  vmk_uint32 num_vectors;
  tamsil_eqo eqo[TAMSIL_MAX_VECTORS];
  vmk_uint32 num_eq_delay;
  tamsil_driverCounters counters;
  vmk_uint32 max_frame;
  vmk_uint32 rx_frag_size;
  DmaBuffer stats_buf;
  vmk_uint8 qnq_received;
  vmk_uint16 qnq_vlan_tag;
  DmaBuffer scratch;
  vmk_uint64 die_temp_last;
  vmk_uint8 on_die_temperature;
  char fw_version[TAMSIL_FW_VERSION_LEN];
  vmk_uint32 default_rx_if;
  vmk_uint8 hw_error;
  vmk_uint8 fw_timeout;
  vmk_uint8 wol_enabled;
  vmk_uint8 wol_cap;
  vmk_uint32 pf_num;
  vmk_uint32 fw_caps;
  vmk_uint32 fw_func_caps;
  vmk_uint32 if_caps;
  vmk_uint8 function_mode;
  vmk_uint8 asic_rev;
  union {                   // the generation bits (enum AsicGeneration); either name
    vmk_uint32 AsicGeneration;
    vmk_uint32 asic_gen;
  };
  vmk_uint32 pause_rx;
  vmk_uint32 pause_tx;
  vmk_uint8 stats_pending;    // a statistics command is outstanding
  vmk_uint8 cap_advanced_rx;  // second receive completion layout
  vmk_uint8 cap_ks3_tx;       // KS3 transmit capability flag
  tamsil_linkState link;
  vmk_uint16 pvid;
  vmk_uint8 vlan_prio_bmap;
  vmk_uint16 recommended_prio;
  vmk_uint16 os2bmc_filter;
  vmk_WorldID worker_world;
  vmk_WorldID mcc_worker_world;
  vmk_uint8 mcc_worker_pending;
  tamsil_pmacEntry pmac[TAMSIL_PMAC_ENTRIES];
  vmk_BitVector* flags;     // AdapterFlags
  vmk_uint32 die_temp_interval;
  vmk_uint16 qnq_vid;
  vmk_uint32 features;      // AdapterFeatures
  vmk_uint8 sfp_state;
  vmk_uint16 vxlan_port;
  vmk_HashTable vxlan_table;
  vmk_MgmtHandle kv_handle;
  vmk_uint32 debug_mask;
  vmk_uint32 kernel_max_queues;
  vmk_uint32 fw_max_queues;
  vmk_uint32 ue_status_lo_mask;
  vmk_uint32 ue_status_hi_mask;
  vmk_uint8 tpe_requested;
  vmk_uint8 tpe_supported;
  vmk_uint16 ue2rp;
  vmk_uint16 ue2sr;
  vmk_uint16 tpe_state;
  vmk_WorldID tpe_world;
  vmk_uint64 ue_detect_ms;
  vmk_uint64 load_time_ms;
  vmk_uint16 tpe_min_after_load;
  vmk_uint64 last_recovery_ms;
  vmk_uint16 tpe_min_between;
  vmk_uint16 last_tpe_code;
  vmk_uint32 tpe_recoveries;
  vmk_uint32 tpe_attempts;
  // Fields other parts of the driver add go below this line.

  // ---- Firmware command layer (tamsil_cmds) ----
  vmk_uint32 mcc_gen;          // last generation handed to a slot
  vmk_uint8 mcc_closed;        // the MCC channel takes no more commands
  vmk_uint8 mbox_closed;       // the mailbox takes no more commands
  vmk_atomic64 mcc_users;      // threads inside a command of either carrier
  vmk_uint32 stale_completions;  // completions no live command waited for
  vmk_uint32 quarantined;      // DMA buffers kept because the device may write them
  vmk_uint8 mbox_quarantine;   // the mailbox memory goes to quarantine at clean-up
  vmk_uint8 fw_chip_family;    // ASIC generation code of the firmware configuration
  vmk_uint8 netq_count;        // NetQueue count of the controller attributes
  vmk_uint8 sfp_link_effect;   // link effect byte of the last transceiver event
  vmk_uint32 sriov_total_vfs;  // VFs the firmware grants the function in total
  tamsil_HwStats hw_stats;     // named counters of the statistics block
  tamsil_RxTotals rx_totals;   // receive ring counters summed (tamsil_updateStats)
  tamsil_TxTotals tx_totals;   // transmit queue counters summed (tamsil_updateStats)
  // ---- end of firmware command layer ----

  // ---- Data path ----
  vmk_uint32 link_tx_pending;  // TAMSIL_LINK_TX_*: transmit queue action of a link change
  vmk_uint32 worker_posting;   // the worker is refilling starved rings (quiesce waits it out)
  // The transmit door: quiesce closes it and waits until no transmit is
  // inside (`tx_inside`) before it drains and a reset frees the rings;
  // start I/O opens it again.
  vmk_uint32 tx_closed;
  vmk_uint32 tx_inside;
  // ---- end of data path ----

  // ---- Error recovery ----
  vmk_Lock tpe_lock;           // guards tpe_wait between the detector and the re-initialisation world
  vmk_uint8 tpe_wait;          // the re-initialisation world is about to sleep (a waker clears it)
  // ---- end of error recovery ----
};

/* ------------------------------------------------------------------------ */
/* Driver-wide state                                                         */
/* ------------------------------------------------------------------------ */

struct tamsil_driverRecord {
  vmk_Name name;
  vmk_ModuleID module_id;
  vmk_HeapID heap_id;
  vmk_MemPool mem_pool;
  vmk_Driver driver_handle;
  vmk_LockDomainID lock_domain;
  vmk_LogComponent log;
};

extern tamsil_driverRecord tamsilDriver;
extern vmk_LogComponent tamsilDriverLog;
extern vmk_HashTable tamsil_vmkdevHashTbl;
extern vmk_MgmtHandle tamsil_mgmtHandle;
extern vmk_uint32 adapter_idx;

// Value of a tamsil_vmkdevHashTbl entry (key: the adapter's PCI name).
struct tamsil_vmkdevHashNode {
  char uplink_name[VMK_MISC_NAME_MAX];
  vmk_Device device;
};

// Module parameters.
extern unsigned int debugMask;
extern int d_rssqs[TAMSIL_MAX_PF_PARAMS];
extern int num_max_drss;
extern int rssqs[TAMSIL_MAX_PF_PARAMS];
extern int num_max_rss;
extern int emi_canceller;
extern int tpe_recovery;
extern int vxlan_offload;
extern int msix;
extern int dyn_netq;
extern int max_vfs[TAMSIL_MAX_PF_PARAMS];
extern int num_max_vfs;

/* ------------------------------------------------------------------------ */
/* Module entry points and memory helpers                                    */
/* ------------------------------------------------------------------------ */

extern "C" int init_module(void);
extern "C" void cleanup_module(void);

vmk_uint32 tamsil_calculateMpoolSize(void);
vmk_uint32 tamsil_calculateHeapSize(void);
int tamsil_DestroyHeap(void);
void* tamsil_mpoolAlloc(vmk_uint64 size, vmk_uint64* allocated);
void tamsil_mpoolFree(void* va, vmk_uint64 size);
void* tamsil_mpoolAllocMap(Adapter* adapter, DmaBuffer* buf, vmk_uint32 size);
void tamsil_mpoolUnmapFree(Adapter* adapter, DmaBuffer* buf);
// Keeps a buffer the device may still write (its descriptor is cleared):
// mapped and allocated, with the Adapter's DMA engine, until module unload.
void tamsil_quarantine(Adapter* adapter, DmaBuffer* buf);
vmk_uint32 tamsil_quarantinedBuffers(void);
// True when a quarantined buffer was mapped by `engine` (it then outlives
// its Adapter).
bool tamsil_quarantineUses(vmk_DMAEngine engine);
void tamsil_quarantineRelease(void);
// Bus address of a mapped buffer (element 0 of its array).
static inline vmk_IOA tamsil_dmaBusAddr(const DmaBuffer* buf) {
  return buf->sg_array ? buf->sg_array->elem[0].addr : 0;
}

// Entry points of the device life cycle and the management channel (its
// callbacks and answer layouts: tamsil_mgmt.h).
extern const vmk_DriverOps tamsilDrvOps;
VMK_ReturnStatus tamsil_driverRegister(void);
extern vmk_MgmtSignature tamsil_mgmtSignature;
#define TAMSIL_MGMT_COOKIE 0

/* ------------------------------------------------------------------------ */
/* Log lines                                                                 */
/* ------------------------------------------------------------------------ */

// The name shown in device log lines: the uplink name, else the PCI name,
// else "unknown".
const char* tamsil_devName(const Adapter* adapter);

// Writes one line "<component>: <func>:<line>: [<device>] <message>" (device
// form) or "<component>: <func>:<line>: <message>" (module form, adapter
// absent and withDevice false).
void tamsil_logLine(vmk_LogUrgency urgency, vmk_int32 level, bool withDevice, const Adapter* adapter,
                    const char* func, int line, const char* fmt, ...) __attribute__((format(printf, 7, 8)));
// Does a rate-limited site with this new count print?
bool tamsil_rateLimitPrints(vmk_uint32 count);
void tamsil_logRepeated(vmk_uint32 count, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

static inline vmk_uint32 tamsil_adapterMask(const Adapter* adapter) {
  // Callback 31 changes it while every thread logs.
  return adapter ? __atomic_load_n(&adapter->debug_mask, __ATOMIC_RELAXED) : debugMask;
}

// Device messages.
#define TAMSIL_ERR(adapter, fmt, ...) \
  tamsil_logLine(VMK_LOG_URGENCY_ALERT, TAMSIL_LOG_LEVEL_ERR, true, adapter, __func__, __LINE__, fmt, ##__VA_ARGS__)
#define TAMSIL_WARN(adapter, fmt, ...) \
  tamsil_logLine(VMK_LOG_URGENCY_WARNING, TAMSIL_LOG_LEVEL_INFO, true, adapter, __func__, __LINE__, fmt, ##__VA_ARGS__)
#define TAMSIL_DBG(adapter, bit, level, fmt, ...)                                                      \
  do {                                                                                                 \
    if (tamsil_adapterMask(adapter) & (bit))                                                           \
      tamsil_logLine(VMK_LOG_URGENCY_NORMAL, level, true, adapter, __func__, __LINE__, fmt, ##__VA_ARGS__); \
  } while (0)
#define TAMSIL_ENTRY(adapter, bit) TAMSIL_DBG(adapter, bit, TAMSIL_LOG_LEVEL_INFO, "Entry ...     \n")

// Module messages (no device), gated by the global debugMask.
#define TAMSIL_MOD_ERR(fmt, ...) \
  tamsil_logLine(VMK_LOG_URGENCY_ALERT, TAMSIL_LOG_LEVEL_ERR, false, nullptr, __func__, __LINE__, fmt, ##__VA_ARGS__)
#define TAMSIL_MOD_WARN(fmt, ...) \
  tamsil_logLine(VMK_LOG_URGENCY_WARNING, TAMSIL_LOG_LEVEL_INFO, false, nullptr, __func__, __LINE__, fmt, ##__VA_ARGS__)
#define TAMSIL_MOD_DBG(bit, level, fmt, ...)                                                             \
  do {                                                                                                   \
    if (debugMask & (bit))                                                                               \
      tamsil_logLine(VMK_LOG_URGENCY_NORMAL, level, false, nullptr, __func__, __LINE__, fmt, ##__VA_ARGS__); \
  } while (0)
#define TAMSIL_MOD_ENTRY(bit) TAMSIL_MOD_DBG(bit, TAMSIL_LOG_LEVEL_INFO, "Entry ...\n")

// Hot-path message: each call site counts its occurrences and prints only
// some of them, prefixed "This message has repeated %d times: ".
#define TAMSIL_LOG_RATELIMITED(fmt, ...)                       \
  do {                                                         \
    static vmk_uint32 tamsil_rlCount_;                         \
    vmk_uint32 tamsil_rlNow_ =                                 \
        __atomic_add_fetch(&tamsil_rlCount_, 1, __ATOMIC_RELAXED); \
    if (tamsil_rateLimitPrints(tamsil_rlNow_))                 \
      tamsil_logRepeated(tamsil_rlNow_, fmt, ##__VA_ARGS__);   \
  } while (0)

// A ring found inconsistent stops the machine.
#define TAMSIL_SYSTEM_STOP() \
  vmk_Panic("Unrecoverable error in tamsil at%s:%s - %d", __FILE__, __func__, __LINE__)
