// The firmware statistics block: its size per generation, the commands that
// fill it and the map from its words to the driver's named counters.
#include <cstddef>
#include <cstring>

#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_gen.h"
#include "tamsil_cmds_priv.h"
#include "tamsil_statctr.h"

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
    // The reports read these while a refresh runs.
    tamsil_statSet(*reinterpret_cast<uint32_t*>(out + r.field), v);
  }
  if (g == kKs2) tamsil_statSet(a->hw_stats.jabber_events, word(blk, words, a->port_num >= 1 ? 160 : 159));
  if (g == kKs3) tamsil_statSet(a->hw_stats.jabber_events, word(blk, words, 72ull * (a->port_num + 1ull)));
  if (t->stats_no_dma_off == 0) return;

  // Extend each receive ring's no-DMA count from the hardware's 16 bits.
  for (uint32_t i = 0; i < a->num_vectors && i < TAMSIL_MAX_VECTORS; i++) {
    tamsil_rxo* rxo = &a->rxo[i];
    if (!rxo->rxq.created) continue;
    uint64_t at = t->stats_no_dma_off + 4ull * rxo->rxq.id;
    if (at + 4 > t->stats_size) continue;  // a ring id the block has no counter for
    uint32_t hw = tamsil_get32(blk, static_cast<uint32_t>(at)) & 0xFFFF;
    uint32_t old = tamsil_statGet(rxo->rx_no_dma_frags);
    uint32_t nv = (old & 0xFFFF0000u) + hw;
    if (hw < (old & 0xFFFF)) nv += 0x10000;
    tamsil_statSet(rxo->rx_no_dma_frags, nv);
  }
}

bool tamsil_statsFifoOverflowShared(Adapter* a) {
  const Src* rxpp = nullptr;
  const Src* input = nullptr;
  for (const Row& r : kMap) {
    if (r.field == offsetof(tamsil_HwStats, rxpp_fifo_overflow_drop)) rxpp = &r.src[genCol(a)];
    if (r.field == offsetof(tamsil_HwStats, rx_input_fifo_overflow_drop)) input = &r.src[genCol(a)];
  }
  return rxpp != nullptr && input != nullptr && rxpp->word >= 0 && rxpp->word == input->word &&
         rxpp->port == input->port;
}

// One block serves every caller (the kernel's statistics, the management
// channel): whoever finds a command in flight leaves the block to it and
// reads the counters as they stand.
static uint32_t statsCommand(Adapter* a, uint8_t opcode, const char* label) {
  if (a->stats_buf.va == nullptr) return VMK_NOT_INITIALIZED;
  if (__atomic_exchange_n(&a->stats_pending, 1, __ATOMIC_ACQ_REL) != 0) return VMK_BUSY;
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBeginBuf(a, &c, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_NIC, opcode, tamsil_statsSize(a),
                                   &a->stats_buf, label);
  if (st != 0) {
    __atomic_store_n(&a->stats_pending, 0, __ATOMIC_RELEASE);
    return st;
  }
  if (opcode == TAMSIL_OPC_NIC_GET_STATS) {
    c.hdr->version = tamsil_traitsOf(a)->ver.nic_stats;
  } else {
    tamsil_put16(c.p, 0, static_cast<uint16_t>(a->cntl_port));
    tamsil_put8(c.p, 3, 0);
  }
  st = tamsil_cmdRun(&c);
  if (st != TAMSIL_CH_TIMEOUT && !c.abandoned) tamsil_parseStats(a);
  tamsil_cmdEnd(&c);
  __atomic_store_n(&a->stats_pending, 0, __ATOMIC_RELEASE);
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

// The data path writes the ring counters while the worker sums them, and
// the kernel's statistics read the sums: every access is a relaxed atomic.
void tamsil_updateStats(Adapter* a) {
  const bool vxlan = (a->features & TAMSIL_FEAT_VXLAN_OFFLOAD) != 0;
  tamsil_RxTotals r{};
  for (uint32_t i = 0; i < a->num_vectors && i < TAMSIL_MAX_VECTORS; i++) {
    const tamsil_rxo* rxo = &a->rxo[i];
    r.rx_bytes += tamsil_statGet(rxo->rx_bytes);
    r.rx_pkts += tamsil_statGet(rxo->rx_pkts);
    r.rx_post_fail += tamsil_statGet(rxo->rx_post_fail);
    r.rx_compl += tamsil_statGet(rxo->rx_compl);
    r.rx_mcast_pkts += tamsil_statGet(rxo->rx_mcast_pkts);
    if (vxlan) r.vxlan_rx_pkts += tamsil_statGet(rxo->vxlan_rx_pkts);
  }
  tamsil_RxTotals* R = &a->rx_totals;
  tamsil_statSet(R->rx_bytes, r.rx_bytes);
  tamsil_statSet(R->rx_pkts, r.rx_pkts);
  tamsil_statSet(R->rx_post_fail, r.rx_post_fail);
  tamsil_statSet(R->rx_compl, r.rx_compl);
  tamsil_statSet(R->rx_mcast_pkts, r.rx_mcast_pkts);
  tamsil_statSet(R->vxlan_rx_pkts, r.vxlan_rx_pkts);

  tamsil_TxTotals t{};
#define TAMSIL_TX_TOTALS(X)                                                                                     \
  X(tx_stops) X(tx_wrbs) X(tx_compl) X(tx_bytes) X(tx_pkts) X(ipv6_ext_hdr_tx_drop) X(ipv6_ext_hdr_tx_pkts)      \
  X(tso_ip_frag_off_drop_count) X(tx_os2bmc_pkts) X(tx_os2bmc_drops) X(tx_tso_mss_zero_gr_9k_drop)              \
  X(tx_gr_9k_non_tso_drop) X(tx_discarded_padded_frags) X(tx_vlan_insert_by_drvr_pkts)                          \
  X(tx_vlan_insert_by_drvr_drops) X(tx_oversize_frag_len_pkts) X(tx_dma_map_fail_drops)                         \
  X(tx_l3_hdr_parse_fail_drops) X(tx_trim_fail_drops) X(tx_pkt_less_than_min) X(tx_ipv6_extn_drops)             \
  X(tx_pad_fail_drops) X(tx_tso_less_than_min_mss)
#define TAMSIL_SUM(f) t.f += tamsil_statGet(txo->f);
  for (uint32_t i = 0; i < a->num_tx_queues && i < TAMSIL_MAX_VECTORS; i++) {
    const tamsil_txo* txo = &a->txo[i];
    if (!txo->q.created || !txo->cq.created) continue;
    TAMSIL_TX_TOTALS(TAMSIL_SUM)
    if (vxlan) TAMSIL_SUM(vxlan_tx_pkts)
  }
#undef TAMSIL_SUM
  // The totals are published field by field; a reader sees each one whole.
#define TAMSIL_PUT(f) tamsil_statSet(a->tx_totals.f, t.f);
  TAMSIL_TX_TOTALS(TAMSIL_PUT)
  TAMSIL_PUT(vxlan_tx_pkts)
#undef TAMSIL_PUT
#undef TAMSIL_TX_TOTALS
}
