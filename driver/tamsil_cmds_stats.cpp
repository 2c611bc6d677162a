// The firmware statistics block: its size per generation, the commands that
// fill it and the map from its words to the driver's named counters.
#include <cstddef>
#include <cstring>

#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_gen.h"
#include "tamsil_cmds_priv.h"

namespace {

// Columns of the counter map (the generation's traits name its column).
enum GenCol {
  kPivard = TAMSIL_STATS_COL_PIVARD,
  kKs2 = TAMSIL_STATS_COL_KS2,
  kKs3 = TAMSIL_STATS_COL_KS3,
  kVeskarn = TAMSIL_STATS_COL_VESKARN,
  kGenCols = TAMSIL_STATS_COLS
};

// Where one counter comes from in one generation's block.
struct Src {
  int16_t word;   // -1: the generation has no such counter
  int16_t word2;  // second word added to the first, or -1
  bool port;      // words count from the port block (port_num x stride)
};

constexpr Src N{-1, -1, false};
constexpr Src W(int w) { return Src{static_cast<int16_t>(w), -1, false}; }
constexpr Src B(int w) { return Src{static_cast<int16_t>(w), -1, true}; }
constexpr Src W2(int w, int w2) { return Src{static_cast<int16_t>(w), static_cast<int16_t>(w2), false}; }
constexpr Src B2(int w, int w2) { return Src{static_cast<int16_t>(w), static_cast<int16_t>(w2), true}; }

struct Row {
  size_t field;       // offset in tamsil_HwStats
  Src src[kGenCols];  // Pivard, KS2, KS3, Veskarn
};

#define F(name) offsetof(tamsil_HwStats, name)
// jabber_events on KS2 and KS3 depend on the port; handled apart.
const Row kMap[] = {
    {F(rx_crc_errors), {W(78), B(10), B(16), B(22)}},
    {F(rx_alignment_symbol_errors), {W(82), B(11), B(17), B(23)}},
    {F(rx_pause_frames), {W(84), B(12), B(18), B(24)}},
    {F(rx_priority_pause_frames), {N, N, B(19), B(25)}},
    {F(rx_control_frames), {W(98), B(13), B(20), B(26)}},
    {F(rx_in_range_errors), {W(102), B(14), B(21), B(27)}},
    {F(rx_out_range_errors), {W(103), B(15), B(22), B(28)}},
    {F(rx_frame_too_long), {W(90), B(16), B(23), B(29)}},
    {F(rx_address_filtered), {W2(104, 105), B2(17, 18), B(24), B(30)}},
    {F(rx_dropped_too_small), {W(106), B(19), B(25), B(31)}},
    {F(rx_dropped_too_short), {W(107), B(20), B(26), B(32)}},
    {F(rx_dropped_header_too_small), {W(108), B(21), B(27), B(33)}},
    {F(rx_dropped_tcp_length), {W(109), B(22), B(28), B(34)}},
    {F(rx_dropped_runt), {W(110), B(23), B(29), B(35)}},
    {F(rx_ip_checksum_errs), {W(111), B(34), B(40), B(46)}},
    {F(rx_tcp_checksum_errs), {W(112), B(35), B(41), B(47)}},
    {F(rx_udp_checksum_errs), {W(113), B(36), B(42), B(48)}},
    {F(tx_pauseframes), {W(24), B(56), B(56), B(62)}},
    {F(tx_priority_pauseframes), {N, N, N, B(63)}},
    {F(tx_controlframes), {W(32), B(57), B(58), B(64)}},
    {F(rxpp_fifo_overflow_drop), {W(140), B(68), B(69), B(75)}},
    {F(rx_input_fifo_overflow_drop), {W(140), B(69), B(70), B(76)}},
    {F(pmem_fifo_overflow_drop), {N, N, B(71), B(77)}},
    {F(jabber_events), {W(97), N, N, B(78)}},
    {F(rx_drops_no_pbuf), {N, W(136), W(294), W(414)}},
    {F(rx_drops_no_erx_descr), {N, W(138), W(296), W(416)}},
    {F(rx_drops_no_tpre_descr), {N, W(139), W(297), W(417)}},
    {F(rx_drops_too_many_frags), {W(142), W(148), W(304), W(424)}},
    {F(forwarded_packets), {W(138), W(150), W(306), W(426)}},
    {F(rx_drops_mtu), {W(146), W(151), W(307), W(427)}},
    {F(eth_red_drops), {N, W(263), W(442), W(650)}},
};
#undef F

GenCol genCol(const Adapter* a) { return static_cast<GenCol>(tamsil_traitsOf(a)->stats_col); }

// Word `idx` of the block, 0 when it lies outside the block.
uint32_t word(const uint8_t* blk, uint32_t words, uint64_t idx) {
  return idx < words ? tamsil_get32(blk, static_cast<uint32_t>(idx * 4)) : 0;
}

}  // namespace

uint32_t tamsil_statsSize(Adapter* a) { return tamsil_traitsOf(a)->stats_size; }

uint32_t tamsil_statsInit(Adapter* a) {
  if (tamsil_mpoolAllocMap(a, &a->stats_buf, tamsil_statsSize(a)) == nullptr) return TAMSIL_CH_MBOX_FAIL;
  return 0;
}

void tamsil_statsCleanup(Adapter* a) {
  if (a->stats_buf.va != nullptr) tamsil_mpoolUnmapFree(a, &a->stats_buf);
}

void tamsil_parseStats(Adapter* a) {
  const tamsil_genTraits* t = tamsil_traitsOf(a);
  GenCol g = genCol(a);
  const uint8_t* blk = static_cast<const uint8_t*>(a->stats_buf.va);
  if (blk == nullptr) return;
  const uint32_t words = t->stats_size / 4u;
  const uint64_t base = static_cast<uint64_t>(a->port_num) * t->stats_port_stride;
  uint8_t* out = reinterpret_cast<uint8_t*>(&a->hw_stats);
  for (const Row& r : kMap) {
    const Src& s = r.src[g];
    if (s.word < 0) continue;
    uint64_t off = s.port ? base : 0;
    uint32_t v = word(blk, words, off + s.word);
    if (s.word2 >= 0) v += word(blk, words, off + s.word2);
    memcpy(out + r.field, &v, sizeof v);
  }
  if (g == kKs2) a->hw_stats.jabber_events = word(blk, words, a->port_num >= 1 ? 160 : 159);
  if (g == kKs3) a->hw_stats.jabber_events = word(blk, words, 72ull * (a->port_num + 1ull));
  if (t->stats_no_dma_off == 0) return;

  // Extend each receive ring's no-DMA count from the hardware's 16 bits.
  for (uint32_t i = 0; i < a->num_vectors && i < TAMSIL_MAX_VECTORS; i++) {
    tamsil_rxo* rxo = &a->rxo[i];
    if (!rxo->rxq.created) continue;
    uint64_t at = t->stats_no_dma_off + 4ull * rxo->rxq.id;
    if (at + 4 > t->stats_size) continue;  // a ring id the block has no counter for
    uint32_t hw = tamsil_get32(blk, static_cast<uint32_t>(at)) & 0xFFFF;
    uint32_t old = rxo->rx_no_dma_frags;
    uint32_t nv = (old & 0xFFFF0000u) + hw;
    if (hw < (old & 0xFFFF)) nv += 0x10000;
    rxo->rx_no_dma_frags = nv;
  }
}

static uint32_t statsCommand(Adapter* a, uint8_t opcode, const char* label) {
  if (a->stats_buf.va == nullptr) return VMK_NOT_INITIALIZED;
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBeginBuf(a, &c, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_NIC, opcode, tamsil_statsSize(a),
                                   &a->stats_buf, label);
  if (st != 0) return st;
  if (opcode == TAMSIL_OPC_NIC_GET_STATS) {
    c.hdr->version = tamsil_traitsOf(a)->ver.nic_stats;
  } else {
    tamsil_put16(c.p, 0, static_cast<uint16_t>(a->cntl_port));
    tamsil_put8(c.p, 3, 0);
  }
  a->stats_pending = 1;
  st = tamsil_cmdRun(&c);
  a->stats_pending = 0;
  if (st != TAMSIL_CH_TIMEOUT && !c.abandoned) tamsil_parseStats(a);
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdGetStats(Adapter* a) {
  if (tamsil_hasTrait(a, TAMSIL_GT_DIE_TEMP) && a->die_temp_interval != 0) {
    uint64_t now = tamsil_nowMs();
    if (now - a->die_temp_last > static_cast<uint64_t>(a->die_temp_interval) * 1000) {
      a->die_temp_last = now;
      tamsil_cmdGetDieTemperature(a);
    }
  }
  return statsCommand(a, TAMSIL_OPC_NIC_GET_STATS, "GetStats");
}

uint32_t tamsil_cmdGetPportStats(Adapter* a) { return statsCommand(a, TAMSIL_OPC_NIC_GET_PPORT_STATS, "GetPportStats"); }

void tamsil_updateStats(Adapter* a) {
  const bool vxlan = (a->features & TAMSIL_FEAT_VXLAN_OFFLOAD) != 0;
  tamsil_RxTotals* r = &a->rx_totals;
  memset(r, 0, sizeof *r);
  for (uint32_t i = 0; i < a->num_vectors && i < TAMSIL_MAX_VECTORS; i++) {
    const tamsil_rxo* rxo = &a->rxo[i];
    r->rx_bytes += rxo->rx_bytes;
    r->rx_pkts += rxo->rx_pkts;
    r->rx_post_fail += rxo->rx_post_fail;
    r->rx_compl += rxo->rx_compl;
    r->rx_mcast_pkts += rxo->rx_mcast_pkts;
    if (vxlan) r->vxlan_rx_pkts += rxo->vxlan_rx_pkts;
  }
  tamsil_TxTotals* t = &a->tx_totals;
  memset(t, 0, sizeof *t);
  for (uint32_t i = 0; i < a->num_tx_queues && i < TAMSIL_MAX_VECTORS; i++) {
    const tamsil_txo* txo = &a->txo[i];
    if (!txo->q.created || !txo->cq.created) continue;
    t->tx_stops += txo->tx_stops;
    t->tx_wrbs += txo->tx_wrbs;
    t->tx_compl += txo->tx_compl;
    t->tx_bytes += txo->tx_bytes;
    t->tx_pkts += txo->tx_pkts;
    t->ipv6_ext_hdr_tx_drop += txo->ipv6_ext_hdr_tx_drop;
    t->ipv6_ext_hdr_tx_pkts += txo->ipv6_ext_hdr_tx_pkts;
    t->tso_ip_frag_off_drop_count += txo->tso_ip_frag_off_drop_count;
    t->tx_os2bmc_pkts += txo->tx_os2bmc_pkts;
    t->tx_os2bmc_drops += txo->tx_os2bmc_drops;
    if (vxlan) t->vxlan_tx_pkts += txo->vxlan_tx_pkts;
    t->tx_tso_mss_zero_gr_9k_drop += txo->tx_tso_mss_zero_gr_9k_drop;
    t->tx_gr_9k_non_tso_drop += txo->tx_gr_9k_non_tso_drop;
    t->tx_discarded_padded_frags += txo->tx_discarded_padded_frags;
    t->tx_vlan_insert_by_drvr_pkts += txo->tx_vlan_insert_by_drvr_pkts;
    t->tx_vlan_insert_by_drvr_drops += txo->tx_vlan_insert_by_drvr_drops;
    t->tx_oversize_frag_len_pkts += txo->tx_oversize_frag_len_pkts;
    t->tx_dma_map_fail_drops += txo->tx_dma_map_fail_drops;
    t->tx_l3_hdr_parse_fail_drops += txo->tx_l3_hdr_parse_fail_drops;
    t->tx_trim_fail_drops += txo->tx_trim_fail_drops;
    t->tx_pkt_less_than_min += txo->tx_pkt_less_than_min;
    t->tx_ipv6_extn_drops += txo->tx_ipv6_extn_drops;
    t->tx_pad_fail_drops += txo->tx_pad_fail_drops;
    t->tx_tso_less_than_min_mss += txo->tx_tso_less_than_min_mss;
  }
}
