// Statistics reporting: the kernel's uplink statistics record, and one row
// emitter behind the private statistics text and the management channel's
// row count, names and values, so that all of them agree row for row.
#include "tamsil_stats.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_gen.h"
#include "tamsil_statctr.h"

tamsil_pstatsBuf tamsil_pstats;

namespace {

// One text run at a time, whatever the adapter or the caller: the text is
// printed and then copied out under this lock word. Runs are short and may
// sleep (the caller's copy), so waiters sleep too.
vmk_uint32 pstatsBusy;

void pstatsLock() {
  while (__atomic_exchange_n(&pstatsBusy, 1u, __ATOMIC_ACQUIRE) != 0) vmk_WorldSleep(50);
}
void pstatsUnlock() { __atomic_store_n(&pstatsBusy, 0u, __ATOMIC_RELEASE); }

Adapter* adapterOf(vmk_AddrCookie c) { return static_cast<Adapter*>(c.ptr); }

template <typename Rec>
struct Counter {
  const char* name;
  vmk_uint64 (*get)(const Rec&);
};
#define TAMSIL_CTR(Rec, f) \
  Counter<Rec> { #f, [](const Rec& r) -> vmk_uint64 { return tamsil_statGet(r.f); } }

const Counter<tamsil_rxo> kRxRows[] = {
    TAMSIL_CTR(tamsil_rxo, rx_compl),        TAMSIL_CTR(tamsil_rxo, rx_pkts),
    TAMSIL_CTR(tamsil_rxo, rx_bytes),        TAMSIL_CTR(tamsil_rxo, rx_ucast_pkts),
    TAMSIL_CTR(tamsil_rxo, rx_bcast_pkts),   TAMSIL_CTR(tamsil_rxo, rx_mcast_pkts),
    TAMSIL_CTR(tamsil_rxo, rx_rsvd_pkts),    TAMSIL_CTR(tamsil_rxo, rx_post_fail),
    TAMSIL_CTR(tamsil_rxo, rx_no_dma_frags), TAMSIL_CTR(tamsil_rxo, rx_compl_err),
    TAMSIL_CTR(tamsil_rxo, rx_replicated_pkts), TAMSIL_CTR(tamsil_rxo, rx_multi_frag_drops),
    TAMSIL_CTR(tamsil_rxo, rx_pkts_on_quiesce),
};

const Counter<tamsil_txo> kTxRows[] = {
    TAMSIL_CTR(tamsil_txo, tx_pkts),
    TAMSIL_CTR(tamsil_txo, tx_bytes),
    TAMSIL_CTR(tamsil_txo, tx_compl),
    TAMSIL_CTR(tamsil_txo, tx_pkt_less_than_min),
    TAMSIL_CTR(tamsil_txo, ipv6_ext_hdr_tx_drop),
    TAMSIL_CTR(tamsil_txo, ipv6_ext_hdr_tx_pkts),
    TAMSIL_CTR(tamsil_txo, tx_stops),
    TAMSIL_CTR(tamsil_txo, tx_wrbs),
    TAMSIL_CTR(tamsil_txo, tx_pad_fail_drops),
    TAMSIL_CTR(tamsil_txo, tx_ipv6_extn_drops),
    TAMSIL_CTR(tamsil_txo, tso_ip_frag_off_drop_count),
    TAMSIL_CTR(tamsil_txo, tx_tso_mss_zero_gr_9k_drop),
    TAMSIL_CTR(tamsil_txo, tx_gr_9k_non_tso_drop),
    TAMSIL_CTR(tamsil_txo, tx_os2bmc_pkts),
    TAMSIL_CTR(tamsil_txo, tx_os2bmc_drops),
    TAMSIL_CTR(tamsil_txo, tx_vlan_insert_by_drvr_pkts),
    TAMSIL_CTR(tamsil_txo, tx_vlan_insert_by_drvr_drops),
    TAMSIL_CTR(tamsil_txo, tx_dma_map_fail_drops),
    TAMSIL_CTR(tamsil_txo, tx_l3_hdr_parse_fail_drops),
    TAMSIL_CTR(tamsil_txo, tx_trim_fail_drops),
    TAMSIL_CTR(tamsil_txo, tx_discarded_padded_frags),
    TAMSIL_CTR(tamsil_txo, tx_oversize_frag_len_pkts),
};

// Adapter rows: the firmware statistics, with the driver's own counters at
// their places. Four names no statistics command fills read 0.
#define TAMSIL_HW(f) \
  Counter<Adapter> { #f, [](const Adapter& a) -> vmk_uint64 { return tamsil_statGet(a.hw_stats.f); } }
#define TAMSIL_DRV(f) \
  Counter<Adapter> { #f, [](const Adapter& a) -> vmk_uint64 { return tamsil_statGet(a.counters.f); } }
#define TAMSIL_NONE(f) \
  Counter<Adapter> { #f, [](const Adapter&) -> vmk_uint64 { return 0; } }
const Counter<Adapter> kAdapterRows[] = {
    {"on_die_temperature", [](const Adapter& a) -> vmk_uint64 { return tamsil_statGet(a.on_die_temperature); }},
    {"link_down_reason", [](const Adapter& a) -> vmk_uint64 { return tamsil_statGet(a.link.link_down_reason); }},
    TAMSIL_HW(eth_red_drops),
    TAMSIL_HW(rx_drops_no_pbuf),
    TAMSIL_NONE(rx_drops_no_txpb),
    TAMSIL_HW(rx_drops_no_erx_descr),
    TAMSIL_HW(rx_drops_no_tpre_descr),
    TAMSIL_HW(rx_drops_too_many_frags),
    TAMSIL_HW(forwarded_packets),
    TAMSIL_HW(rx_drops_mtu),
    TAMSIL_HW(rx_crc_errors),
    TAMSIL_HW(rx_alignment_symbol_errors),
    TAMSIL_HW(rx_pause_frames),
    TAMSIL_HW(rx_priority_pause_frames),
    TAMSIL_HW(rx_control_frames),
    TAMSIL_HW(rx_in_range_errors),
    TAMSIL_HW(rx_out_range_errors),
    TAMSIL_HW(rx_frame_too_long),
    TAMSIL_HW(rx_address_filtered),
    TAMSIL_HW(rx_dropped_too_small),
    TAMSIL_HW(rx_dropped_too_short),
    TAMSIL_HW(rx_dropped_header_too_small),
    TAMSIL_HW(rx_dropped_tcp_length),
    TAMSIL_HW(rx_dropped_runt),
    TAMSIL_HW(rx_ip_checksum_errs),
    TAMSIL_HW(rx_tcp_checksum_errs),
    TAMSIL_HW(rx_udp_checksum_errs),
    TAMSIL_NONE(rx_switched_unicast_packets),
    TAMSIL_NONE(rx_switched_multicast_packets),
    TAMSIL_NONE(rx_switched_broadcast_packets),
    TAMSIL_HW(tx_pauseframes),
    TAMSIL_HW(tx_priority_pauseframes),
    TAMSIL_HW(tx_controlframes),
    TAMSIL_DRV(tso_gr_than_64k),
    TAMSIL_HW(rxpp_fifo_overflow_drop),
    TAMSIL_HW(rx_input_fifo_overflow_drop),
    TAMSIL_HW(pmem_fifo_overflow_drop),
    TAMSIL_HW(jabber_events),
    TAMSIL_DRV(count_invalid_txq_mapping),
    TAMSIL_DRV(tso_drop_gr_than_64k),
};
#undef TAMSIL_HW
#undef TAMSIL_DRV
#undef TAMSIL_NONE
#undef TAMSIL_CTR

vmk_uint32 clampRings(vmk_uint32 n) { return n < TAMSIL_MAX_VECTORS ? n : TAMSIL_MAX_VECTORS; }

const char* rxPrefix(const tamsil_rxo& r) {
  switch (r.ring_type) {
    case 1: return "rssq";
    case 2: return "drssq";
    default: return "rxo";
  }
}

// One run of the emitter. Modes 0-2 keep the row counter in the management
// buffer (the index of the next slot); the text keeps its own. Both stop at
// the slots the management tables have, so every mode names the same rows.
class Emitter {
 public:
  Emitter(vmk_uint32 mode, vmk_uint8* mgmt) : mode_(mode), mgmt_(mgmt) {}

  void ringRow(const char* prefix, vmk_uint32 index, const char* name, vmk_uint64 v) {
    char n[64];
    snprintf(n, sizeof n, "%s%u: %s:", prefix, index, name);
    row(n, v);
  }
  void adapterRow(const char* name, vmk_uint64 v) {
    char n[64];
    snprintf(n, sizeof n, "%s:", name);
    row(n, v);
  }
  bool text() const { return mode_ == TAMSIL_PSTATS_TEXT; }

  // Once a line did not fit, no later (shorter) line goes in either.
  __attribute__((format(printf, 2, 3))) void print(const char* fmt, ...) {
    if (!text() || full_) return;
    va_list ap;
    va_start(ap, fmt);
    full_ = !tamsil_pstatsVAppend(fmt, ap);
    va_end(ap);
  }

 private:
  void row(const char* name, vmk_uint64 v) {
    if (text()) {
      if (textRows_ >= TAMSIL_MGMT_STAT_ROWS) return;
      textRows_++;
      print("%s %llu\n", name, static_cast<unsigned long long>(v));
      return;
    }
    if (mgmt_ == nullptr) return;
    vmk_uint32 idx;
    memcpy(&idx, mgmt_, sizeof idx);
    if (idx >= TAMSIL_MGMT_STAT_ROWS) return;
    if (mode_ == TAMSIL_PSTATS_NAMES) {
      char* slot = reinterpret_cast<char*>(mgmt_ + 4 + static_cast<size_t>(TAMSIL_MGMT_STAT_NAME_LEN) * idx);
      const size_t n = strnlen(name, TAMSIL_MGMT_STAT_NAME_LEN - 1);
      memcpy(slot, name, n);
      slot[n] = '\0';
    } else if (mode_ == TAMSIL_PSTATS_VALUES) {
      memcpy(mgmt_ + 4 + 8 * static_cast<size_t>(idx), &v, sizeof v);
    } else if (mode_ != TAMSIL_PSTATS_COUNT) {
      return;
    }
    idx++;
    memcpy(mgmt_, &idx, sizeof idx);
  }

  vmk_uint32 mode_;
  vmk_uint8* mgmt_;
  vmk_uint32 textRows_ = 0;
  bool full_ = false;
};

void preamble(Emitter& e, const Adapter* a) {
  auto yes = [&](vmk_uint32 bit) { return (a->features & bit) != 0 ? "true" : "false"; };
  e.print("\n");
  e.print("%s: %d\n", "port_num", static_cast<int>(a->port_num));
  e.print("%s: %d\n", "pvid", static_cast<int>(a->pvid));
  e.print("%s: %d\n", "qnq_vid", static_cast<int>(a->qnq_vid));
  e.print("%s: %s\n", "interrupt_mode", a->msix_enabled ? "msix" : "intx");
  e.print("%s: %s\n", "sriov_enabled", yes(TAMSIL_FEAT_SRIOV));
  e.print("%s: %d\n", "maxNumVFsSupported", static_cast<int>(a->sriov.fw_max_vfs));
  e.print("%s: %s\n", "vxlan_offload", yes(TAMSIL_FEAT_VXLAN_OFFLOAD));
  e.print("%s: %s\n", "os2bmc_offload", yes(TAMSIL_FEAT_OS2BMC));
  e.print("%s: %s\n", "rss", yes(TAMSIL_FEAT_RSS));
  e.print("%s: %s\n", "drss", yes(TAMSIL_FEAT_DRSS));
}

void ringState(Emitter& e, const char* prefix, vmk_uint32 index, const char* idName, const QueueInfo& q) {
  e.print("%s%u: %5s:%4d %s: %4lu %s: %4d %s: %4d\n", prefix, index, idName, static_cast<int>(q.id), "used",
          static_cast<unsigned long>(vmk_AtomicRead64(&q.used)), "head",
          static_cast<int>(tamsil_statGet(q.head)), "tail", static_cast<int>(tamsil_statGet(q.tail)));
}

void emit(Adapter* a, Emitter& e) {
  const vmk_uint32 eqs = clampRings(a->num_eq_delay);
  const vmk_uint32 vecs = clampRings(a->num_vectors);
  const vmk_uint32 txqs = clampRings(a->num_tx_queues);
  auto rxExists = [&](vmk_uint32 i) { return a->rxo[i].rxq.created != 0; };
  auto txExists = [&](vmk_uint32 i) { return a->txo[i].q.created != 0; };

  if (e.text()) preamble(e, a);
  for (vmk_uint32 i = 0; i < eqs; i++) e.ringRow("eqo", i, "int_count", tamsil_statGet(a->eqo[i].int_count));
  for (vmk_uint32 i = 0; i < eqs; i++) e.ringRow("eqo", i, "ips", tamsil_statGet(a->eqo[i].ips));
  for (vmk_uint32 i = 0; i < vecs; i++) e.ringRow("aio", i, "cur_eqd", tamsil_statGet(a->eq_delay[i].cur_eqd));
  for (vmk_uint32 i = 0; i < eqs; i++) e.ringRow("eqo", i, "event_count", tamsil_statGet(a->eqo[i].event_count));
  for (const Counter<tamsil_rxo>& c : kRxRows)
    for (vmk_uint32 i = 0; i < vecs; i++)
      if (rxExists(i)) e.ringRow(rxPrefix(a->rxo[i]), i, c.name, c.get(a->rxo[i]));
  for (vmk_uint32 i = 0; i < txqs; i++)
    if (txExists(i)) e.ringRow("txo", i, "tx_tso_less_than_min_mss", tamsil_statGet(a->txo[i].tx_tso_less_than_min_mss));
  if (a->features & TAMSIL_FEAT_VXLAN_OFFLOAD) {
    e.adapterRow("vxlanUdpPort", tamsil_statGet(a->vxlan_port));
    for (vmk_uint32 i = 0; i < vecs; i++)
      if (rxExists(i)) e.ringRow(rxPrefix(a->rxo[i]), i, "vxlan_rx_pkts", tamsil_statGet(a->rxo[i].vxlan_rx_pkts));
    for (vmk_uint32 i = 0; i < txqs; i++)
      if (txExists(i)) e.ringRow("txo", i, "vxlan_tx_pkts", tamsil_statGet(a->txo[i].vxlan_tx_pkts));
  }
  for (const Counter<tamsil_txo>& c : kTxRows)
    for (vmk_uint32 i = 0; i < txqs; i++)
      if (txExists(i)) e.ringRow("txo", i, c.name, c.get(a->txo[i]));
  for (const Counter<Adapter>& c : kAdapterRows) e.adapterRow(c.name, c.get(*a));
  for (vmk_uint32 i = 0; i < eqs; i++) e.ringRow("eqo", i, "int_ack_count", tamsil_statGet(a->eqo[i].int_ack_count));
  if (!e.text()) return;

  e.print("%s: %4d\n", "link_toggle", static_cast<int>(tamsil_statGet(a->link_toggle)));
  e.print("%s: %4d\n", "tx_timeouts", static_cast<int>(tamsil_statGet(a->tx_timeouts)));
  for (vmk_uint32 i = 0; i < txqs; i++) {
    if (!txExists(i)) continue;
    ringState(e, "txo", i, "q-id", a->txo[i].q);
    ringState(e, "txo", i, "cq-id", a->txo[i].cq);
  }
  for (vmk_uint32 i = 0; i < vecs; i++) {
    if (!rxExists(i)) continue;
    ringState(e, "rxo", i, "q-id", a->rxo[i].rxq);
    ringState(e, "rxo", i, "cq-id", a->rxo[i].cq);
  }
  if (a->mcc_q.created) {
    ringState(e, "mcc", 0, "q-id", a->mcc_q);
    ringState(e, "mcc", 0, "cq-id", a->mcc_cq);
  }
}

// A text run; the caller holds the text buffer's lock.
void printText(Adapter* a) {
  memset(tamsil_pstats.text, 0, TAMSIL_PSTATS_TEXT_LEN);
  tamsil_pstats.len = 0;
  Emitter e(TAMSIL_PSTATS_TEXT, nullptr);
  emit(a, e);
}

// The text as a string copy bounded by `length`: at most `length` bytes,
// the terminator only when it fits.
VMK_ReturnStatus printAndCopy(Adapter* a, char* buffer, vmk_ByteCount length) {
  if (length != 0 && buffer == nullptr) return VMK_BAD_PARAM;
  pstatsLock();
  printText(a);
  const vmk_ByteCount n = tamsil_pstats.len < length ? tamsil_pstats.len : length;
  if (n != 0) memcpy(buffer, tamsil_pstats.text, n);
  if (n < length) buffer[n] = '\0';
  pstatsUnlock();
  return VMK_OK;
}

// The firmware statistics are read again unless a recovery re-initialisation
// runs (the block may be gone) or another caller's command is in flight (it
// owns the block; the command layer's test-and-set decides).
void refreshFirmwareStats(Adapter* a) {
  if (tamsil_flagTest(a, TAMSIL_FLAG_TPE_REINIT)) return;
  if (__atomic_load_n(&a->stats_pending, __ATOMIC_ACQUIRE) != 0) return;
  if (tamsil_hasTrait(a, TAMSIL_GT_PPORT_STATS))
    tamsil_cmdGetPportStats(a);
  else
    tamsil_cmdGetStats(a);
}

}  // namespace

bool tamsil_pstatsVAppend(const char* fmt, va_list ap) {
  const vmk_uint32 len = tamsil_pstats.len;
  if (len > TAMSIL_PSTATS_TEXT_LEN) return false;
  const size_t room = TAMSIL_PSTATS_TEXT_LEN - len;
  int n = vsnprintf(tamsil_pstats.text + len, room + 1, fmt, ap);
  if (n < 0 || static_cast<size_t>(n) > room) {
    tamsil_pstats.text[len] = '\0';
    return false;
  }
  tamsil_pstats.len = len + static_cast<vmk_uint32>(n);
  return true;
}

bool tamsil_pstatsAppend(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  bool ok = tamsil_pstatsVAppend(fmt, ap);
  va_end(ap);
  return ok;
}

const tamsil_privStatsOps tamsilPrivStatsOps = {tamsil_privStatsLengthGet, tamsil_privStatsGet};

void tamsil_fillPrivStatsBuff(Adapter* a, vmk_uint32 mode, void* mgmtBuf) {
  if (mode == TAMSIL_PSTATS_TEXT) {
    pstatsLock();
    printText(a);
    pstatsUnlock();
    return;
  }
  Emitter e(mode, static_cast<vmk_uint8*>(mgmtBuf));
  emit(a, e);
}

VMK_ReturnStatus tamsil_uplinkStatsGet(vmk_AddrCookie driverData, void* stats) {
  Adapter* a = adapterOf(driverData);
  vmk_uint64 f[TAMSIL_UPLINK_STATS_FIELDS] = {};
  f[0] = tamsil_statGet(a->rx_totals.rx_pkts);
  f[1] = tamsil_statGet(a->tx_totals.tx_pkts);
  f[2] = tamsil_statGet(a->rx_totals.rx_bytes);
  f[3] = tamsil_statGet(a->tx_totals.tx_bytes);
  f[8] = tamsil_statGet(a->rx_totals.rx_mcast_pkts);

  refreshFirmwareStats(a);
  tamsil_HwStats h;
  {
    const vmk_uint32* from = reinterpret_cast<const vmk_uint32*>(&a->hw_stats);
    vmk_uint32* to = reinterpret_cast<vmk_uint32*>(&h);
    static_assert(sizeof h % sizeof(vmk_uint32) == 0);
    for (size_t i = 0; i < sizeof h / sizeof(vmk_uint32); i++) to[i] = tamsil_statGet(from[i]);
  }
  f[4] = static_cast<vmk_uint64>(h.rx_crc_errors) + h.rx_alignment_symbol_errors + h.rx_in_range_errors +
         h.rx_out_range_errors + h.rx_frame_too_long + h.rx_dropped_too_small + h.rx_dropped_too_short +
         h.rx_dropped_header_too_small + h.rx_dropped_tcp_length + h.rx_dropped_runt + h.rx_ip_checksum_errs +
         h.rx_tcp_checksum_errs + h.rx_udp_checksum_errs;

  f[6] = h.rx_drops_no_pbuf;
  for (vmk_uint32 i = 0; i < clampRings(a->num_vectors); i++) f[6] += tamsil_statGet(a->rxo[i].rx_multi_frag_drops);

  f[7] = tamsil_statGet(a->counters.count_invalid_txq_mapping) + tamsil_statGet(a->counters.tso_drop_gr_than_64k);
  for (vmk_uint32 i = 0; i < clampRings(a->num_tx_queues); i++) {
    const tamsil_txo& t = a->txo[i];
    if (!t.q.created || !t.cq.created) continue;
    f[7] += static_cast<vmk_uint64>(tamsil_statGet(t.tso_ip_frag_off_drop_count)) +
            tamsil_statGet(t.ipv6_ext_hdr_tx_drop) + tamsil_statGet(t.tx_tso_mss_zero_gr_9k_drop) +
            tamsil_statGet(t.tx_gr_9k_non_tso_drop) + tamsil_statGet(t.tx_vlan_insert_by_drvr_drops) +
            tamsil_statGet(t.tx_dma_map_fail_drops) + tamsil_statGet(t.tx_l3_hdr_parse_fail_drops) +
            tamsil_statGet(t.tx_trim_fail_drops) + tamsil_statGet(t.tx_ipv6_extn_drops) +
            tamsil_statGet(t.tx_pad_fail_drops);
  }

  f[10] = static_cast<vmk_uint64>(h.rx_out_range_errors) + h.rx_in_range_errors + h.rx_frame_too_long;
  f[12] = h.rx_crc_errors;
  f[13] = h.rx_alignment_symbol_errors;
  // Overflow drops. Where the block keeps the receive FIFO and the input
  // FIFO overflows in one word, that word is one count of drops, not two.
  f[14] = static_cast<vmk_uint64>(h.rx_input_fifo_overflow_drop) + h.pmem_fifo_overflow_drop;
  if (!tamsil_statsFifoOverflowShared(a)) f[14] += h.rxpp_fifo_overflow_drop;

  memcpy(stats, f, sizeof f);
  return VMK_OK;
}

VMK_ReturnStatus tamsil_privStatsLengthGet(vmk_AddrCookie, vmk_ByteCount* length) {
  *length = TAMSIL_PSTATS_TEXT_LEN;
  return VMK_OK;
}

VMK_ReturnStatus tamsil_privStatsGet(vmk_AddrCookie driverData, char* buffer, vmk_ByteCount length) {
  return printAndCopy(adapterOf(driverData), buffer, length);
}

VMK_ReturnStatus tamsil_mgmtStatsGet(Adapter* a, char* buffer, vmk_ByteCount length) {
  refreshFirmwareStats(a);
  return printAndCopy(a, buffer, length);
}
