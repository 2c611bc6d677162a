// Records of the firmware command layer: limits reported by the firmware and
// the named counters of the statistics block.
#pragma once

#include <cstdint>

// Sleeping waiters one drain pass wakes at most.
constexpr uint32_t TAMSIL_WAKE_LIST = 16;

// Resource budget of a function, as the profile and function-configuration
// queries report it.
struct ResourceLimits {
  uint16_t max_vfs;
  uint16_t max_tx_qs;
  uint16_t max_rx_qs;
  uint16_t max_rss_qs;
  uint16_t max_cq_count;
  uint16_t max_uc_mac;
  uint16_t max_mcc_count;
  uint16_t max_evt_qs;
  uint16_t max_vlans;
  uint32_t cap_flags;
  uint32_t cap_flags2;
  uint32_t max_iface_count;
};

// Named counters filled from the firmware statistics block.
struct tamsil_HwStats {
  uint32_t rx_crc_errors;
  uint32_t rx_alignment_symbol_errors;
  uint32_t rx_pause_frames;
  uint32_t rx_priority_pause_frames;
  uint32_t rx_control_frames;
  uint32_t rx_in_range_errors;
  uint32_t rx_out_range_errors;
  uint32_t rx_frame_too_long;
  uint32_t rx_address_filtered;
  uint32_t rx_dropped_too_small;
  uint32_t rx_dropped_too_short;
  uint32_t rx_dropped_header_too_small;
  uint32_t rx_dropped_tcp_length;
  uint32_t rx_dropped_runt;
  uint32_t rx_ip_checksum_errs;
  uint32_t rx_tcp_checksum_errs;
  uint32_t rx_udp_checksum_errs;
  uint32_t tx_pauseframes;
  uint32_t tx_priority_pauseframes;
  uint32_t tx_controlframes;
  uint32_t rxpp_fifo_overflow_drop;
  uint32_t rx_input_fifo_overflow_drop;
  uint32_t pmem_fifo_overflow_drop;
  uint32_t jabber_events;
  uint32_t rx_drops_no_pbuf;
  uint32_t rx_drops_no_erx_descr;
  uint32_t rx_drops_no_tpre_descr;
  uint32_t rx_drops_too_many_frags;
  uint32_t forwarded_packets;
  uint32_t rx_drops_mtu;
  uint32_t eth_red_drops;
};

// Adapter totals of the receive rings' counters (summed each worker tick).
struct tamsil_RxTotals {
  uint64_t rx_bytes;
  uint64_t rx_pkts;
  uint32_t rx_post_fail;
  uint32_t rx_compl;
  uint32_t rx_mcast_pkts;
  uint32_t vxlan_rx_pkts;
};

// Adapter totals of the transmit queues' counters, field by field.
struct tamsil_TxTotals {
  uint32_t tx_stops;
  uint32_t tx_wrbs;
  uint32_t tx_compl;
  uint64_t tx_bytes;
  uint64_t tx_pkts;
  uint32_t ipv6_ext_hdr_tx_drop;
  uint32_t ipv6_ext_hdr_tx_pkts;
  uint32_t tso_ip_frag_off_drop_count;
  uint32_t tx_os2bmc_pkts;
  uint32_t tx_os2bmc_drops;
  uint32_t vxlan_tx_pkts;
  uint32_t tx_tso_mss_zero_gr_9k_drop;
  uint32_t tx_gr_9k_non_tso_drop;
  uint32_t tx_discarded_padded_frags;
  uint32_t tx_vlan_insert_by_drvr_pkts;
  uint32_t tx_vlan_insert_by_drvr_drops;
  uint32_t tx_oversize_frag_len_pkts;
  uint32_t tx_dma_map_fail_drops;
  uint32_t tx_l3_hdr_parse_fail_drops;
  uint32_t tx_trim_fail_drops;
  uint32_t tx_pkt_less_than_min;
  uint32_t tx_ipv6_extn_drops;
  uint32_t tx_pad_fail_drops;
  uint32_t tx_tso_less_than_min_mss;
};
