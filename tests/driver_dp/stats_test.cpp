// Statistics reporting: the rows of the private statistics in every mode
// (count, names, values, text) and their limits, the uplink statistics
// record against the emulated adapter's own counters after traffic, the
// refresh rule, and the reports running at once with each other and with
// traffic and the worker.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dp_fixture.h"
#include "dp_frame.h"
#include "frames.h"
#include "tamsil_cmds.h"
#include "tamsil_stats.h"

namespace {

using netframes::Bytes;
using adapter::Stat;

// The rows in the order the management client sees them.
const char* const kRxNames[] = {"rx_compl",         "rx_pkts",           "rx_bytes",           "rx_ucast_pkts",
                                "rx_bcast_pkts",    "rx_mcast_pkts",     "rx_rsvd_pkts",       "rx_post_fail",
                                "rx_no_dma_frags",  "rx_compl_err",      "rx_replicated_pkts", "rx_multi_frag_drops",
                                "rx_pkts_on_quiesce"};
const char* const kTxNames[] = {
    "tx_pkts",           "tx_bytes",           "tx_compl",
    "tx_pkt_less_than_min", "ipv6_ext_hdr_tx_drop", "ipv6_ext_hdr_tx_pkts",
    "tx_stops",          "tx_wrbs",            "tx_pad_fail_drops",
    "tx_ipv6_extn_drops", "tso_ip_frag_off_drop_count", "tx_tso_mss_zero_gr_9k_drop",
    "tx_gr_9k_non_tso_drop", "tx_os2bmc_pkts",   "tx_os2bmc_drops",
    "tx_vlan_insert_by_drvr_pkts", "tx_vlan_insert_by_drvr_drops", "tx_dma_map_fail_drops",
    "tx_l3_hdr_parse_fail_drops", "tx_trim_fail_drops", "tx_discarded_padded_frags",
    "tx_oversize_frag_len_pkts"};
const char* const kAdapterNames[] = {
    "on_die_temperature", "link_down_reason", "eth_red_drops", "rx_drops_no_pbuf", "rx_drops_no_txpb",
    "rx_drops_no_erx_descr", "rx_drops_no_tpre_descr", "rx_drops_too_many_frags", "forwarded_packets",
    "rx_drops_mtu", "rx_crc_errors", "rx_alignment_symbol_errors", "rx_pause_frames", "rx_priority_pause_frames",
    "rx_control_frames", "rx_in_range_errors", "rx_out_range_errors", "rx_frame_too_long", "rx_address_filtered",
    "rx_dropped_too_small", "rx_dropped_too_short", "rx_dropped_header_too_small", "rx_dropped_tcp_length",
    "rx_dropped_runt", "rx_ip_checksum_errs", "rx_tcp_checksum_errs", "rx_udp_checksum_errs",
    "rx_switched_unicast_packets", "rx_switched_multicast_packets", "rx_switched_broadcast_packets",
    "tx_pauseframes", "tx_priority_pauseframes", "tx_controlframes", "tso_gr_than_64k",
    "rxpp_fifo_overflow_drop", "rx_input_fifo_overflow_drop", "pmem_fifo_overflow_drop", "jabber_events",
    "count_invalid_txq_mapping", "tso_drop_gr_than_64k"};
static_assert(std::size(kRxNames) == 13 && std::size(kTxNames) == 22 && std::size(kAdapterNames) == 40);

std::string ringName(const char* prefix, unsigned i, const char* name) {
  return std::string(prefix) + std::to_string(i) + ": " + name + ":";
}
const char* rxPrefix(const tamsil_rxo& r) { return r.ring_type == 1 ? "rssq" : r.ring_type == 2 ? "drssq" : "rxo"; }

// The names an adapter's rows must carry, in order, from its rings as they stand.
std::vector<std::string> expectedNames(const Adapter& a) {
  std::vector<std::string> v;
  const unsigned eqs = a.num_eq_delay, vecs = a.num_vectors, txqs = a.num_tx_queues;
  for (const char* n : {"int_count", "ips"})
    for (unsigned i = 0; i < eqs; i++) v.push_back(ringName("eqo", i, n));
  for (unsigned i = 0; i < vecs; i++) v.push_back(ringName("aio", i, "cur_eqd"));
  for (unsigned i = 0; i < eqs; i++) v.push_back(ringName("eqo", i, "event_count"));
  for (const char* n : kRxNames)
    for (unsigned i = 0; i < vecs; i++)
      if (a.rxo[i].rxq.created) v.push_back(ringName(rxPrefix(a.rxo[i]), i, n));
  for (unsigned i = 0; i < txqs; i++)
    if (a.txo[i].q.created) v.push_back(ringName("txo", i, "tx_tso_less_than_min_mss"));
  if (a.features & TAMSIL_FEAT_VXLAN_OFFLOAD) {
    v.push_back("vxlanUdpPort:");
    for (unsigned i = 0; i < vecs; i++)
      if (a.rxo[i].rxq.created) v.push_back(ringName(rxPrefix(a.rxo[i]), i, "vxlan_rx_pkts"));
    for (unsigned i = 0; i < txqs; i++)
      if (a.txo[i].q.created) v.push_back(ringName("txo", i, "vxlan_tx_pkts"));
  }
  for (const char* n : kTxNames)
    for (unsigned i = 0; i < txqs; i++)
      if (a.txo[i].q.created) v.push_back(ringName("txo", i, n));
  for (const char* n : kAdapterNames) v.push_back(std::string(n) + ":");
  for (unsigned i = 0; i < eqs; i++) v.push_back(ringName("eqo", i, "int_ack_count"));
  return v;
}

// The three management tables of one adapter, read as the client reads
// them, each buffer followed by guard bytes that must stay untouched.
struct Tables {
  uint32_t count = 0;
  std::vector<std::string> names;
  std::vector<uint64_t> values;
};
constexpr size_t kGuard = 256;
constexpr uint8_t kGuardByte = 0xA5;

bool guardIntact(const std::vector<uint8_t>& b, size_t size) {
  for (size_t i = size; i < b.size(); i++)
    if (b[i] != kGuardByte) return false;
  return true;
}

Tables tables(Adapter* a) {
  Tables t;
  std::vector<uint8_t> cnt(4 + kGuard, kGuardByte), names(TAMSIL_MGMT_STAT_NAMES_SIZE + kGuard, kGuardByte),
      values(TAMSIL_MGMT_STAT_VALUES_SIZE + kGuard, kGuardByte);
  std::memset(cnt.data(), 0, 4);
  std::memset(names.data(), 0, TAMSIL_MGMT_STAT_NAMES_SIZE);
  std::memset(values.data(), 0, TAMSIL_MGMT_STAT_VALUES_SIZE);
  tamsil_fillPrivStatsBuff(a, TAMSIL_PSTATS_COUNT, cnt.data());
  tamsil_fillPrivStatsBuff(a, TAMSIL_PSTATS_NAMES, names.data());
  tamsil_fillPrivStatsBuff(a, TAMSIL_PSTATS_VALUES, values.data());
  EXPECT_TRUE(guardIntact(cnt, 4));
  EXPECT_TRUE(guardIntact(names, TAMSIL_MGMT_STAT_NAMES_SIZE));
  EXPECT_TRUE(guardIntact(values, TAMSIL_MGMT_STAT_VALUES_SIZE));
  std::memcpy(&t.count, cnt.data(), 4);
  uint32_t nn, nv;
  std::memcpy(&nn, names.data(), 4);
  std::memcpy(&nv, values.data(), 4);
  EXPECT_EQ(t.count, nn);
  EXPECT_EQ(t.count, nv);
  for (uint32_t i = 0; i < nn && i < TAMSIL_MGMT_STAT_ROWS; i++) {
    const char* s = reinterpret_cast<const char*>(names.data() + 4 + TAMSIL_MGMT_STAT_NAME_LEN * i);
    t.names.emplace_back(s, strnlen(s, TAMSIL_MGMT_STAT_NAME_LEN));
    uint64_t v;
    std::memcpy(&v, values.data() + 4 + 8 * i, 8);
    t.values.push_back(v);
  }
  return t;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

// The text of a run through the kernel's capability, `length` bytes asked.
std::string privText(Adapter* a, vmk_ByteCount length = TAMSIL_PSTATS_TEXT_LEN) {
  std::vector<char> buf(length + 1, 0);
  vmk_AddrCookie c;
  c.ptr = a;
  EXPECT_EQ(VMK_OK, tamsilPrivStatsOps.privStatsGet(c, buf.data(), length));
  return std::string(buf.data());
}

// Preamble lines of the text (a blank line and ten settings).
constexpr size_t kPreamble = 11;

// An adapter as the statistics see it, without a device: `vectors` event
// queues and receive rings of type 0, `txqs` transmit queues, every
// counter a different value.
std::unique_ptr<Adapter> fakeAdapter(unsigned vectors, unsigned txqs, bool vxlan) {
  auto a = std::make_unique<Adapter>();
  a->num_vectors = a->num_eq_delay = vectors;
  a->num_tx_queues = txqs;
  a->msix_enabled = 1;
  a->features = vxlan ? vmk_uint32{TAMSIL_FEAT_VXLAN_OFFLOAD} : 0u;
  a->vxlan_port = 4789;
  for (unsigned i = 0; i < vectors; i++) {
    a->rxo[i].rxq.created = a->rxo[i].cq.created = 1;
    a->rxo[i].idx = i;
    a->eqo[i].int_count = 1000 + i;
    a->eq_delay[i].cur_eqd = 40 + i;
    a->rxo[i].rx_mcast_pkts = 700 + i;
    a->rxo[i].rx_bytes = 5000000000ull + i;
  }
  for (unsigned i = 0; i < txqs; i++) {
    a->txo[i].q.created = a->txo[i].cq.created = 1;
    a->txo[i].tx_pkts = 300 + i;
  }
  a->hw_stats.rx_crc_errors = 17;
  a->counters.tso_drop_gr_than_64k = 23;
  return a;
}

// ---------------------------------------------------------------------------
// Rows in every mode
// ---------------------------------------------------------------------------

TEST(PrivStatsRows, FourVectorAdapterHasTheSameRowsInEveryMode) {
  struct Case {
    bool vxlan;
    uint32_t rows;
  };
  for (const Case& c : {Case{false, 135}, Case{true, 141}}) {
    SCOPED_TRACE(c.vxlan ? "vxlan" : "no vxlan");
    auto a = fakeAdapter(4, 1, c.vxlan);
    Tables t = tables(a.get());
    ASSERT_EQ(c.rows, t.count);
    EXPECT_EQ(expectedNames(*a), t.names);
    auto at = [&](const std::string& n) {
      auto it = std::find(t.names.begin(), t.names.end(), n);
      EXPECT_NE(t.names.end(), it) << n;
      return it == t.names.end() ? ~0ull : t.values[static_cast<size_t>(it - t.names.begin())];
    };
    EXPECT_EQ(1002u, at("eqo2: int_count:"));
    EXPECT_EQ(43u, at("aio3: cur_eqd:"));
    EXPECT_EQ(702u, at("rxo2: rx_mcast_pkts:"));
    EXPECT_EQ(5000000001ull, at("rxo1: rx_bytes:"));
    EXPECT_EQ(300u, at("txo0: tx_pkts:"));
    EXPECT_EQ(17u, at("rx_crc_errors:"));
    EXPECT_EQ(23u, at("tso_drop_gr_than_64k:"));
    if (c.vxlan) {
      // First of the VXLAN rows, right after the transmit queue's first row.
      EXPECT_EQ("vxlanUdpPort:", t.names[4 * 3 + 4 + 4 * 13 + 1]);
      EXPECT_EQ(4789u, at("vxlanUdpPort:"));
    }

    // The text: the preamble, then each row as "name value", then the
    // counters and ring states only the text shows.
    std::vector<std::string> l = lines(privText(a.get()));
    ASSERT_EQ(kPreamble + c.rows + 2 + 2 * 4 + 2 * 1, l.size());
    EXPECT_EQ("", l[0]);
    EXPECT_EQ("interrupt_mode: msix", l[4]);
    EXPECT_EQ(std::string("vxlan_offload: ") + (c.vxlan ? "true" : "false"), l[7]);
    for (uint32_t i = 0; i < c.rows; i++)
      EXPECT_EQ(t.names[i] + " " + std::to_string(t.values[i]), l[kPreamble + i]) << "row " << i;
    EXPECT_EQ("link_toggle:    0", l[kPreamble + c.rows]);
    EXPECT_EQ("txo0:  q-id:   0 used:    0 head:    0 tail:    0", l[kPreamble + c.rows + 2]);
    EXPECT_EQ("rxo3: cq-id:   0 used:    0 head:    0 tail:    0", l.back());
  }
}

// A ring not created has no rows (nor ring state); the event queues keep
// theirs. The ring type names the receive rows.
TEST(PrivStatsRows, AbsentRingsAndRingTypes) {
  auto a = fakeAdapter(8, 1, false);
  a->rxo[2].rxq.created = 0;
  a->rxo[5].ring_type = 1;
  a->rxo[7].ring_type = 2;
  a->msix_enabled = 0;
  Tables t = tables(a.get());
  EXPECT_EQ(8 * 4 + 8 + 7 * 13 + 1 + 22 + 40u, t.count);
  EXPECT_EQ(expectedNames(*a), t.names);
  for (const std::string& n : t.names) EXPECT_EQ(std::string::npos, n.find("rxo2:")) << n;
  EXPECT_NE(t.names.end(), std::find(t.names.begin(), t.names.end(), "eqo2: int_ack_count:"));
  EXPECT_NE(t.names.end(), std::find(t.names.begin(), t.names.end(), "rssq5: rx_compl:"));
  EXPECT_NE(t.names.end(), std::find(t.names.begin(), t.names.end(), "drssq7: rx_pkts_on_quiesce:"));
  const std::string text = privText(a.get());
  EXPECT_NE(std::string::npos, text.find("\ninterrupt_mode: intx\n"));
  EXPECT_NE(std::string::npos, text.find("\nrssq5: rx_compl: 0\n"));
  EXPECT_EQ(std::string::npos, text.find("rxo2"));
}

// 32 rings of each kind with VXLAN make more rows than the management
// tables hold: every mode stops at the 1200th row, the same rows.
TEST(PrivStatsRows, RowsStopAtTheTablesSizeInEveryMode) {
  auto a = fakeAdapter(TAMSIL_MAX_VECTORS, TAMSIL_MAX_VECTORS, true);
  std::vector<std::string> all = expectedNames(*a);
  ASSERT_GT(all.size(), TAMSIL_MGMT_STAT_ROWS);
  Tables t = tables(a.get());
  ASSERT_EQ(TAMSIL_MGMT_STAT_ROWS, t.count);
  all.resize(TAMSIL_MGMT_STAT_ROWS);
  EXPECT_EQ(all, t.names);
  std::vector<std::string> l = lines(privText(a.get()));
  ASSERT_GT(l.size(), kPreamble + TAMSIL_MGMT_STAT_ROWS);
  for (uint32_t i = 0; i < TAMSIL_MGMT_STAT_ROWS; i++)
    ASSERT_EQ(t.names[i] + " " + std::to_string(t.values[i]), l[kPreamble + i]) << "row " << i;
  EXPECT_EQ(0u, l[kPreamble + TAMSIL_MGMT_STAT_ROWS].rfind("link_toggle:", 0));
  // Row counters a caller left past the tables' end add nothing.
  std::vector<uint8_t> cnt(4 + kGuard, kGuardByte);
  const uint32_t full = TAMSIL_MGMT_STAT_ROWS;
  std::memcpy(cnt.data(), &full, 4);
  tamsil_fillPrivStatsBuff(a.get(), TAMSIL_PSTATS_COUNT, cnt.data());
  uint32_t after;
  std::memcpy(&after, cnt.data(), 4);
  EXPECT_EQ(full, after);
}

// ---------------------------------------------------------------------------
// The text and its copy
// ---------------------------------------------------------------------------

// The text never passes its length, and a line that does not fit is left
// out whole; the next run starts afresh.
TEST(PrivStatsText, StopsAtItsLengthWithWholeLines) {
  auto a = fakeAdapter(4, 1, false);
  tamsil_fillPrivStatsBuff(a.get(), TAMSIL_PSTATS_TEXT, nullptr);
  const std::string line(999, 'x');
  size_t added = 0;
  while (tamsil_pstatsAppend("%s\n", line.c_str())) added++;
  EXPECT_LE(tamsil_pstats.len, TAMSIL_PSTATS_TEXT_LEN);
  EXPECT_GT(tamsil_pstats.len + 1000, TAMSIL_PSTATS_TEXT_LEN);
  EXPECT_EQ(strlen(tamsil_pstats.text), tamsil_pstats.len);
  EXPECT_EQ('\n', tamsil_pstats.text[tamsil_pstats.len - 1]);
  EXPECT_GT(added, 80u);
  // What fits still goes in, up to the last byte and no further.
  const vmk_uint32 room = TAMSIL_PSTATS_TEXT_LEN - tamsil_pstats.len;
  EXPECT_FALSE(tamsil_pstatsAppend("%s", std::string(room + 1, 'y').c_str()));
  EXPECT_TRUE(tamsil_pstatsAppend("%s", std::string(room, 'y').c_str()));
  EXPECT_EQ(TAMSIL_PSTATS_TEXT_LEN, tamsil_pstats.len);
  EXPECT_EQ('\0', tamsil_pstats.text[TAMSIL_PSTATS_TEXT_LEN]);
  EXPECT_FALSE(tamsil_pstatsAppend("z"));
  const std::string fresh = privText(a.get());
  EXPECT_EQ(strlen(tamsil_pstats.text), tamsil_pstats.len);
  EXPECT_EQ(fresh, std::string(tamsil_pstats.text));
}

TEST(PrivStatsText, CopyIsBoundedByTheCallersLength) {
  auto a = fakeAdapter(4, 1, false);
  vmk_AddrCookie c;
  c.ptr = a.get();
  vmk_ByteCount len = 0;
  EXPECT_EQ(VMK_OK, tamsilPrivStatsOps.privStatsLengthGet(c, &len));
  EXPECT_EQ(87382u, len);
  const std::string whole = privText(a.get());
  ASSERT_GT(whole.size(), 200u);
  struct Case {
    vmk_ByteCount length;
    size_t copied;
    bool terminated;
  };
  const Case cases[] = {{0, 0, false}, {100, 100, false}, {whole.size(), whole.size(), false},
                        {whole.size() + 1, whole.size(), true}, {TAMSIL_PSTATS_TEXT_LEN, whole.size(), true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.length);
    std::vector<char> buf(TAMSIL_PSTATS_TEXT_LEN + 16, '#');
    EXPECT_EQ(VMK_OK, tamsilPrivStatsOps.privStatsGet(c, buf.data(), k.length));
    EXPECT_EQ(whole.substr(0, k.copied), std::string(buf.data(), k.copied));
    size_t next = k.copied;
    if (k.terminated) {
      EXPECT_EQ('\0', buf[next++]);
    }
    EXPECT_EQ('#', buf[next]) << "written past the copy";
  }
  EXPECT_EQ(VMK_BAD_PARAM, tamsilPrivStatsOps.privStatsGet(c, nullptr, 10));
}

// ---------------------------------------------------------------------------
// With the driver and the emulated adapter
// ---------------------------------------------------------------------------

class UplinkStatsTest : public DpTest {
 protected:
  using Record = std::array<vmk_uint64, TAMSIL_UPLINK_STATS_FIELDS>;
  Record uplinkStats(Adapter* a) {
    Record r;
    r.fill(0xDEAD);
    vmk_AddrCookie c;
    c.ptr = a;
    EXPECT_EQ(VMK_OK, tamsil_uplinkStatsGet(c, r.data()));
    return r;
  }
  Record uplinkStats() {
    Record r;
    r.fill(0xDEAD);
    EXPECT_EQ(VMK_OK, ops().uplinkStatsGet(cookie_, r.data()));
    return r;
  }
  Bytes mac() const { return Bytes(a_->uplink_reg.perm_mac, a_->uplink_reg.perm_mac + 6); }
  Bytes frame(size_t size, uint16_t type = 0x88B5, Bytes dst = {}) const {
    Bytes f(size);
    if (dst.empty()) dst = mac();
    std::memcpy(f.data(), dst.data(), 6);
    const uint8_t src[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x66};
    std::memcpy(f.data() + 6, src, 6);
    netframes::put16(f, 12, type);
    for (size_t i = 14; i < size; i++) f[i] = static_cast<uint8_t>(i * 5 + 3);
    return f;
  }
  // An IPv4 TCP or UDP frame to this function with valid checksums.
  Bytes ipFrame(uint8_t proto, size_t payload) const {
    const size_t l4 = proto == 6 ? 20 : 8;
    Bytes f = frame(14 + 20 + l4 + payload, 0x0800);
    uint8_t* ip = f.data() + 14;
    std::memset(ip, 0, 20 + l4);
    ip[0] = 0x45;
    netframes::put16(f, 16, static_cast<uint16_t>(20 + l4 + payload));
    ip[8] = 64;
    ip[9] = proto;
    const uint8_t addrs[8] = {10, 0, 0, 1, 10, 0, 0, 2};
    std::memcpy(ip + 12, addrs, 8);
    netframes::put16(f, 34, 40000);
    netframes::put16(f, 36, 5001);
    if (proto == 6) {
      ip[20 + 12] = 0x50;   // data offset: 5 words
      ip[20 + 13] = 0x18;
    } else {
      netframes::put16(f, 38, static_cast<uint16_t>(8 + payload));
    }
    adapter::dp::Layout l = adapter::dp::parse(f);
    adapter::dp::fillIpv4Checksum(f, l);
    adapter::dp::fillL4Checksum(f, l);
    return f;
  }
  uint64_t fwStat(Stat s) {
    std::lock_guard<std::mutex> g(card_->lock());
    const unsigned port = card_->engine().portOfFunction(0);
    int w = adapter::statsWord(card_->gen(), s, port);
    return w < 0 ? 0 : card_->engine().statsWordValue(0, static_cast<unsigned>(w));
  }
  void setFwStat(Stat s, uint32_t v) {
    std::lock_guard<std::mutex> g(card_->lock());
    card_->engine().setStat(0, s, v);
  }
  // Runs every ring's NetPoll and hands back what reached the stack.
  size_t drainRx() {
    EXPECT_TRUE(card_->waitIdle());
    for (vmk_uint32 i = 0; i < a_->num_vectors; i++)
      if (a_->netpoll[i].netpoll != nullptr) vmk_NetPollActivate(a_->netpoll[i].netpoll);
    vmktest::netPollDrain();
    size_t n = 0;
    for (vmk_uint32 i = 0; i < a_->num_vectors; i++) {
      if (a_->netpoll[i].netpoll == nullptr) continue;
      for (vmk_PktHandle* p : vmktest::netPollTakeRx(a_->netpoll[i].netpoll)) {
        vmk_PktRelease(p);
        n++;
      }
    }
    return n;
  }
  void transmit(const std::vector<Bytes>& frames) {
    vmk_PktList list;
    vmk_PktListInit(&list);
    for (const Bytes& f : frames) {
      vmk_PktHandle* p = vmktest::pktMake(f);
      ASSERT_NE(nullptr, p);
      vmk_PktQueueIDSet(p, a_->queue_info.maxRxQueues);   // default transmit queue
      ASSERT_EQ(VMK_OK, vmk_PktListAppendPkt(&list, p));
    }
    ASSERT_EQ(VMK_OK, ops().uplinkTx(cookie_, &list));
  }
  unsigned mccCommands() {
    EXPECT_TRUE(card_->waitIdle());
    return card_->counters(0).mcc_commands;
  }
};

// A known mix arrives on the port and leaves it: the record's fields are
// the sums of the adapter's counters (its statistics block and the rings'),
// and those counters moved with the traffic as expected.
TEST_F(UplinkStatsTest, UplinkFieldsAreTheSumsOfTheCountersAfterTraffic) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    associate(g);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(VMK_OK, startIO());
    const Bytes mcast = {0x01, 0x00, 0x5E, 0x00, 0x00, 0x07};
    const Bytes bcast(6, 0xFF);
    Bytes badIp = ipFrame(17, 100), badTcp = ipFrame(6, 200), badUdp = ipFrame(17, 300);
    badIp[14 + 10] ^= 0x5A;        // IPv4 header checksum
    badTcp[14 + 20 + 16] ^= 0x5A;  // TCP checksum
    badUdp[14 + 20 + 6] ^= 0x5A;   // UDP checksum
    const std::vector<Bytes> delivered = {frame(60), frame(1514), frame(300), frame(128, 0x88B5, mcast),
                                          frame(256, 0x88B5, mcast), frame(90, 0x88B6, mcast),
                                          frame(400, 0x88B5, bcast), ipFrame(6, 1000), badIp, badTcp, badUdp};
    Bytes pause = frame(60, 0x8808, {0x01, 0x80, 0xC2, 0x00, 0x00, 0x01});
    netframes::put16(pause, 14, 0x0001);
    const std::vector<Bytes> dropped = {
        Bytes(10, 0x02),                                   // runt
        frame(9300),                                       // too long for the MAC
        frame(100, 1510),                                  // 802.3 length out of range
        frame(100, 1000),                                  // 802.3 length past the frame
        pause,                                             // MAC control
        frame(4000),                                       // larger than a receive buffer
        frame(200, 0x88B5, {0x02, 0x77, 0x77, 0x77, 0x77, 0x77}),   // nobody's address
    };
    uint64_t rxBytes = 0;
    for (const Bytes& f : delivered) rxBytes += f.size();
    for (const Bytes& f : delivered) card_->receiveOnWire(0, f);
    for (const Bytes& f : dropped) card_->receiveOnWire(0, f);
    ASSERT_EQ(delivered.size(), drainRx());
    const std::vector<Bytes> sent = {frame(60, 0x88B5, bcast), frame(700, 0x88B5, bcast), frame(1514, 0x88B5, bcast)};
    transmit(sent);
    ASSERT_TRUE(card_->waitIdle());
    ASSERT_TRUE(vmktest::waitFor([&] { return card_->portCounters(0).tx_frames == sent.size(); }));

    const adapter::Adapter::PortCounters pc = card_->portCounters(0);
    EXPECT_EQ(delivered.size(), pc.rx_delivered);
    EXPECT_EQ(1u, pc.rx_no_buffer);
    EXPECT_EQ(3u, pc.rx_errors);
    EXPECT_EQ(1u, pc.rx_control);
    // The adapter's block moved with the traffic.
    EXPECT_EQ(1u, fwStat(Stat::RxDroppedRunt));
    EXPECT_EQ(1u, fwStat(Stat::RxFrameTooLong));
    EXPECT_EQ(1u, fwStat(Stat::RxOutRangeErrors));
    EXPECT_EQ(1u, fwStat(Stat::RxInRangeErrors));
    EXPECT_EQ(1u, fwStat(Stat::RxPauseFrames));
    EXPECT_EQ(1u, fwStat(Stat::RxIpChecksumErrs));
    EXPECT_EQ(1u, fwStat(Stat::RxTcpChecksumErrs));
    EXPECT_EQ(1u, fwStat(Stat::RxUdpChecksumErrs));
    EXPECT_EQ(1u, fwStat(Stat::RxAddressFiltered));
    const bool pivard = g == adapter::Gen::Pivard;
    EXPECT_EQ(pivard ? 0u : 1u, fwStat(Stat::RxDropsNoPbuf));
    EXPECT_EQ(pivard ? 1u : 0u, fwStat(Stat::RxInputFifoOverflowDrop));

    tamsil_updateStats(a_);   // the worker's tick
    const Record r = uplinkStats();
    // What the rings counted.
    EXPECT_EQ(delivered.size(), r[0]);
    EXPECT_EQ(sent.size(), r[1]);
    EXPECT_EQ(rxBytes, r[2]);
    EXPECT_EQ(pc.tx_bytes, r[3]);
    EXPECT_EQ(3u, r[8]);
    // What the block counted, as the fields sum it.
    const Stat errors[] = {Stat::RxCrcErrors,         Stat::RxAlignmentSymbolErrors, Stat::RxInRangeErrors,
                           Stat::RxOutRangeErrors,    Stat::RxFrameTooLong,          Stat::RxDroppedTooSmall,
                           Stat::RxDroppedTooShort,   Stat::RxDroppedHeaderTooSmall, Stat::RxDroppedTcpLength,
                           Stat::RxDroppedRunt,       Stat::RxIpChecksumErrs,        Stat::RxTcpChecksumErrs,
                           Stat::RxUdpChecksumErrs};
    uint64_t sum = 0;
    for (Stat s : errors) sum += fwStat(s);
    EXPECT_EQ(sum, r[4]);
    EXPECT_EQ(7u, r[4]);
    uint64_t multiFrag = 0;
    for (vmk_uint32 i = 0; i < a_->num_vectors; i++) multiFrag += a_->rxo[i].rx_multi_frag_drops;
    EXPECT_EQ(fwStat(Stat::RxDropsNoPbuf) + multiFrag, r[6]);
    EXPECT_EQ(0u, r[7]);
    EXPECT_EQ(fwStat(Stat::RxOutRangeErrors) + fwStat(Stat::RxInRangeErrors) + fwStat(Stat::RxFrameTooLong), r[10]);
    EXPECT_EQ(3u, r[10]);
    EXPECT_EQ(fwStat(Stat::RxCrcErrors), r[12]);
    EXPECT_EQ(fwStat(Stat::RxAlignmentSymbolErrors), r[13]);
    // Overflow drops: on Pivard the receive and input FIFO counters are one
    // word of the block, counted once.
    const uint64_t fifo = fwStat(Stat::RxInputFifoOverflowDrop) + fwStat(Stat::PmemFifoOverflowDrop) +
                          (pivard ? 0 : fwStat(Stat::RxppFifoOverflowDrop));
    EXPECT_EQ(fifo, r[14]);
    EXPECT_EQ(pivard ? 1u : 0u, r[14]);
    for (unsigned f : {5u, 9u, 11u, 15u, 16u, 17u, 18u, 19u, 20u}) EXPECT_EQ(0u, r[f]) << "field " << f;
    // The private statistics show the same block.
    const std::string text = privText(a_);
    EXPECT_NE(std::string::npos, text.find("\nrx_dropped_runt: 1\n"));
    EXPECT_NE(std::string::npos, text.find("\nrx_pause_frames: 1\n"));
    TearDown();
    SetUp();
  }
}

// A frame that finds no buffer posted on its ring moves that ring's no-DMA
// counter, which the driver extends and shows in the ring's row.
TEST_F(UplinkStatsTest, RingWithoutBuffersCountsItsDrops) {
  associate(adapter::Gen::KS3);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(VMK_OK, startIO());
  // Hold the polls so that nothing is posted again, then use up the ring.
  for (vmk_uint32 i = 0; i < a_->num_vectors; i++)
    if (a_->netpoll[i].netpoll != nullptr) {
      ASSERT_EQ(VMK_OK, vmk_NetPollDisable(a_->netpoll[i].netpoll));
    }
  ASSERT_TRUE(card_->waitIdle());
  // Frames nobody hashes go to the default ring.
  unsigned posted = 0;
  for (vmk_uint32 i = 0; i < a_->num_vectors; i++)
    if (a_->rxo[i].rxq.created) posted = std::max(posted, card_->rxPosted(0, a_->rxo[i].rxq.id));
  for (unsigned i = 0; i < posted + 5; i++) card_->receiveOnWire(0, frame(100));
  ASSERT_TRUE(card_->waitIdle());
  EXPECT_EQ(5u, card_->portCounters(0).rx_no_buffer);
  Record r = uplinkStats();   // refreshes the block
  EXPECT_EQ(5u, r[6]);
  unsigned ring = ~0u;
  for (vmk_uint32 i = 0; i < a_->num_vectors; i++)
    if (a_->rxo[i].rx_no_dma_frags != 0) {
      EXPECT_EQ(~0u, ring) << "a second ring counted drops";
      ring = i;
    }
  ASSERT_NE(~0u, ring);
  EXPECT_EQ(5u, a_->rxo[ring].rx_no_dma_frags);
  Tables t = tables(a_);
  auto it = std::find(t.names.begin(), t.names.end(), ringName(rxPrefix(a_->rxo[ring]), ring, "rx_no_dma_frags"));
  ASSERT_NE(t.names.end(), it);
  EXPECT_EQ(5u, t.values[static_cast<size_t>(it - t.names.begin())]);
  for (vmk_uint32 i = 0; i < a_->num_vectors; i++)
    if (a_->netpoll[i].netpoll != nullptr) {
      EXPECT_EQ(VMK_OK, vmk_NetPollEnable(a_->netpoll[i].netpoll));
    }
  drainRx();
}

// The firmware statistics are read again only when no recovery
// re-initialisation runs and no other statistics command is in flight.
TEST_F(UplinkStatsTest, RefreshRule) {
  for (adapter::Gen g : {adapter::Gen::KS3, adapter::Gen::Pivard}) {
    SCOPED_TRACE(genText(g));
    associate(g);
    ASSERT_FALSE(HasFatalFailure());
    setFwStat(Stat::RxCrcErrors, 5);
    vmk_BitVectorAtomicSet(a_->flags, TAMSIL_FLAG_TPE_REINIT);
    unsigned before = mccCommands();
    EXPECT_EQ(0u, uplinkStats()[12]);
    EXPECT_EQ(std::string::npos, privText(a_).find("rx_crc_errors: 5"));
    std::vector<char> buf(TAMSIL_PSTATS_TEXT_LEN + 1);
    EXPECT_EQ(VMK_OK, tamsil_mgmtStatsGet(a_, buf.data(), buf.size()));
    EXPECT_EQ(before, mccCommands());
    vmk_BitVectorAtomicClear(a_->flags, TAMSIL_FLAG_TPE_REINIT);

    // Another caller's command owns the block: nobody sends a second one,
    // and the owner's mark stays.
    __atomic_store_n(&a_->stats_pending, 1, __ATOMIC_RELEASE);
    EXPECT_EQ(0u, uplinkStats()[12]);
    EXPECT_EQ(VMK_OK, tamsil_mgmtStatsGet(a_, buf.data(), buf.size()));
    EXPECT_EQ(std::string::npos, std::string(buf.data()).find("rx_crc_errors: 5"));
    EXPECT_EQ(before, mccCommands());
    EXPECT_EQ(VMK_BUSY, g == adapter::Gen::Pivard ? tamsil_cmdGetPportStats(a_) : tamsil_cmdGetStats(a_));
    before = mccCommands();   // (the die temperature may have been asked for)
    EXPECT_EQ(1, __atomic_load_n(&a_->stats_pending, __ATOMIC_ACQUIRE));
    __atomic_store_n(&a_->stats_pending, 0, __ATOMIC_RELEASE);

    EXPECT_EQ(5u, uplinkStats()[12]);
    EXPECT_LT(before, mccCommands());
    setFwStat(Stat::RxCrcErrors, 7);
    EXPECT_EQ(VMK_OK, tamsil_mgmtStatsGet(a_, buf.data(), buf.size()));
    EXPECT_NE(std::string::npos, std::string(buf.data()).find("\nrx_crc_errors: 7\n"));
    EXPECT_EQ(0, __atomic_load_n(&a_->stats_pending, __ATOMIC_ACQUIRE));
    TearDown();
    SetUp();
  }
}

// The kernel's private statistics of one adapter and a management request
// (with its refresh) and the kernel's uplink statistics of another, all at
// once: each text is whole, never mixed with the other's.
TEST_F(UplinkStatsTest, ReportsOfTwoAdaptersAtOnce) {
  associate(adapter::Gen::KS3);
  ASSERT_FALSE(HasFatalFailure());
  adapter::AdapterConfig cfg;
  cfg.fw.gen = adapter::Gen::Pivard;
  adapter::Adapter& card2 = newCard(cfg);
  vmk_Device dev2 = plug(card2);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev2));
  ASSERT_EQ(VMK_OK, vmktest::scanDevice(dev2));
  Adapter* b = adapterOf(dev2);
  ASSERT_NE(nullptr, b);
  setFwStat(Stat::RxCrcErrors, 3);
  {
    std::lock_guard<std::mutex> g(card2.lock());
    card2.engine().setStat(0, Stat::RxCrcErrors, 9);
  }

  auto* kernelOps = static_cast<const tamsil_privStatsOps*>(vmktest::uplinkCapOps(uplink_, 14));
  ASSERT_NE(nullptr, kernelOps);
  const std::string textA = privText(a_);
  std::vector<char> first(TAMSIL_PSTATS_TEXT_LEN + 1);
  ASSERT_EQ(VMK_OK, tamsil_mgmtStatsGet(b, first.data(), TAMSIL_PSTATS_TEXT_LEN));
  const size_t linesB = lines(first.data()).size();
  ASSERT_NE(std::string::npos, std::string(first.data()).find("\nrx_crc_errors: 9\n"));
  ASSERT_EQ(std::string::npos, textA.find("\nrx_crc_errors: 9\n"));

  constexpr int kRounds = 40;
  std::atomic<int> badA{0}, badB{0};
  std::thread kernel([&] {
    std::vector<char> buf(TAMSIL_PSTATS_TEXT_LEN + 1);
    for (int i = 0; i < kRounds; i++) {
      std::fill(buf.begin(), buf.end(), 0);
      if (kernelOps->privStatsGet(cookie_, buf.data(), TAMSIL_PSTATS_TEXT_LEN) != VMK_OK || textA != buf.data())
        badA++;
    }
  });
  std::thread mgmt([&] {
    std::vector<char> buf(TAMSIL_PSTATS_TEXT_LEN + 1);
    for (int i = 0; i < kRounds; i++) {
      std::fill(buf.begin(), buf.end(), 0);
      if (tamsil_mgmtStatsGet(b, buf.data(), TAMSIL_PSTATS_TEXT_LEN) != VMK_OK) badB++;
      const std::vector<std::string> l = lines(buf.data());
      if (l.size() != linesB || std::count(l.begin(), l.end(), "interrupt_mode: msix") != 1 ||
          std::count(l.begin(), l.end(), "rx_crc_errors: 9") != 1)
        badB++;
    }
  });
  std::thread uplinkB([&] {
    for (int i = 0; i < kRounds; i++) uplinkStats(b);
  });
  kernel.join();
  mgmt.join();
  uplinkB.join();
  EXPECT_EQ(0, badA);
  EXPECT_EQ(0, badB);
  EXPECT_EQ(0, __atomic_load_n(&b->stats_pending, __ATOMIC_ACQUIRE));
  EXPECT_EQ(3u, uplinkStats()[12]);
  vmktest::removeDevice(vmktest::childDevices(dev2).at(0));
}

// Traffic in both directions while the worker sums the rings every tick
// and the kernel reads the statistics: the totals catch up with what was
// carried (and, under ThreadSanitizer, no access races).
TEST_F(UplinkStatsTest, WorkerSumsWhileTrafficRuns) {
  startDevice_ = true;
  associate(adapter::Gen::KS3);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(VMK_OK, startIO());
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop.load()) {
      uplinkStats();
      privText(a_, 4096);
    }
  });
  constexpr unsigned kRounds = 20, kPerRound = 10;
  const Bytes bcast(6, 0xFF);
  size_t received = 0;
  for (unsigned round = 0; round < kRounds; round++) {
    for (unsigned i = 0; i < kPerRound; i++) card_->receiveOnWire(0, frame(64 + i + round));
    transmit({frame(100, 0x88B5, bcast), frame(200, 0x88B5, bcast)});
    received += drainRx();
  }
  ASSERT_EQ(kRounds * kPerRound, received);
  EXPECT_TRUE(vmktest::waitFor([&] {
    Record r = uplinkStats();
    return r[0] == kRounds * kPerRound && r[1] == 2 * kRounds;
  }));
  stop = true;
  reader.join();
}

}  // namespace
