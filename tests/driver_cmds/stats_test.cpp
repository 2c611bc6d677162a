// The statistics block: size per generation, the command that fills it and
// the map from its words to the named counters.
#include <cstddef>
#include <cstring>

#include "rig.h"

using adapter::Gen;
using adapter::Stat;
using cmdtest::GenRigTest;
using cmdtest::Rig;
using cmdtest::genParamName;
using cmdtest::kAllGens;
using cmdtest::RigOptions;

namespace {

#define F(name) offsetof(tamsil_HwStats, name)
const struct {
  Stat stat;
  size_t field;
  const char* name;
} kCounters[] = {
    {Stat::RxCrcErrors, F(rx_crc_errors), "rx_crc_errors"},
    {Stat::RxAlignmentSymbolErrors, F(rx_alignment_symbol_errors), "rx_alignment_symbol_errors"},
    {Stat::RxPauseFrames, F(rx_pause_frames), "rx_pause_frames"},
    {Stat::RxPriorityPauseFrames, F(rx_priority_pause_frames), "rx_priority_pause_frames"},
    {Stat::RxControlFrames, F(rx_control_frames), "rx_control_frames"},
    {Stat::RxInRangeErrors, F(rx_in_range_errors), "rx_in_range_errors"},
    {Stat::RxOutRangeErrors, F(rx_out_range_errors), "rx_out_range_errors"},
    {Stat::RxFrameTooLong, F(rx_frame_too_long), "rx_frame_too_long"},
    {Stat::RxAddressFiltered, F(rx_address_filtered), "rx_address_filtered"},
    {Stat::RxDroppedTooSmall, F(rx_dropped_too_small), "rx_dropped_too_small"},
    {Stat::RxDroppedTooShort, F(rx_dropped_too_short), "rx_dropped_too_short"},
    {Stat::RxDroppedHeaderTooSmall, F(rx_dropped_header_too_small), "rx_dropped_header_too_small"},
    {Stat::RxDroppedTcpLength, F(rx_dropped_tcp_length), "rx_dropped_tcp_length"},
    {Stat::RxDroppedRunt, F(rx_dropped_runt), "rx_dropped_runt"},
    {Stat::RxIpChecksumErrs, F(rx_ip_checksum_errs), "rx_ip_checksum_errs"},
    {Stat::RxTcpChecksumErrs, F(rx_tcp_checksum_errs), "rx_tcp_checksum_errs"},
    {Stat::RxUdpChecksumErrs, F(rx_udp_checksum_errs), "rx_udp_checksum_errs"},
    {Stat::TxPauseFrames, F(tx_pauseframes), "tx_pauseframes"},
    {Stat::TxPriorityPauseFrames, F(tx_priority_pauseframes), "tx_priority_pauseframes"},
    {Stat::TxControlFrames, F(tx_controlframes), "tx_controlframes"},
    {Stat::RxppFifoOverflowDrop, F(rxpp_fifo_overflow_drop), "rxpp_fifo_overflow_drop"},
    {Stat::RxInputFifoOverflowDrop, F(rx_input_fifo_overflow_drop), "rx_input_fifo_overflow_drop"},
    {Stat::PmemFifoOverflowDrop, F(pmem_fifo_overflow_drop), "pmem_fifo_overflow_drop"},
    {Stat::JabberEvents, F(jabber_events), "jabber_events"},
    {Stat::RxDropsNoPbuf, F(rx_drops_no_pbuf), "rx_drops_no_pbuf"},
    {Stat::RxDropsNoErxDescr, F(rx_drops_no_erx_descr), "rx_drops_no_erx_descr"},
    {Stat::RxDropsNoTpreDescr, F(rx_drops_no_tpre_descr), "rx_drops_no_tpre_descr"},
    {Stat::RxDropsTooManyFrags, F(rx_drops_too_many_frags), "rx_drops_too_many_frags"},
    {Stat::ForwardedPackets, F(forwarded_packets), "forwarded_packets"},
    {Stat::RxDropsMtu, F(rx_drops_mtu), "rx_drops_mtu"},
    {Stat::EthRedDrops, F(eth_red_drops), "eth_red_drops"},
};
#undef F

uint32_t field(const Adapter* a, size_t off) {
  uint32_t v;
  memcpy(&v, reinterpret_cast<const uint8_t*>(&a->hw_stats) + off, sizeof v);
  return v;
}

class StatsTest : public GenRigTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(bringUp({}, true));
    ASSERT_EQ(0u, tamsil_statsInit(a));
  }
  uint32_t refresh() {
    return GetParam() == Gen::Pivard ? tamsil_cmdGetPportStats(a) : tamsil_cmdGetStats(a);
  }
};

INSTANTIATE_TEST_SUITE_P(Gens, StatsTest, testing::ValuesIn(kAllGens), genParamName);

TEST_P(StatsTest, BlockSizeAndCommand) {
  Gen g = GetParam();
  static const uint32_t kSize[] = {1076, 1804, 672, 2696};
  EXPECT_EQ(kSize[static_cast<int>(g)], tamsil_statsSize(a));
  EXPECT_EQ(adapter::statsBlockBytes(g), tamsil_statsSize(a));
  ASSERT_EQ(0u, refresh());
  EXPECT_EQ(0, a->stats_pending);
  if (g == Gen::Pivard) {
    auto r = rig->lastRequest(3, 18);
    ASSERT_EQ(672u, r.size());
    EXPECT_EQ(a->cntl_port, cmdtest::rq16(r, 0));
    EXPECT_EQ(0, cmdtest::rq8(r, 3));
  } else {
    auto r = rig->lastRequest(3, 4);
    ASSERT_EQ(tamsil_statsSize(a), r.size());
    static const uint8_t kVersion[] = {0, 1, 2, 2};
    EXPECT_EQ(kVersion[static_cast<int>(g)], r.at(12));
  }
}

// Each counter the generation has reads its own value; the others stay 0.
TEST_P(StatsTest, EveryNamedCounterOfTheBlockVersion) {
  Gen g = GetParam();
  rig->fw([&](adapter::Engine& e) {
    uint32_t v = 1000;
    for (const auto& c : kCounters) {
      if (adapter::statsWord(g, c.stat, 0) >= 0) e.setStat(0, c.stat, v);
      v += 1000;
    }
    return 0;
  });
  ASSERT_EQ(0u, refresh());
  uint32_t v = 1000;
  for (const auto& c : kCounters) {
    SCOPED_TRACE(c.name);
    int w = adapter::statsWord(g, c.stat, 0);
    int w2 = adapter::statsWordSecond(g, c.stat, 0);
    uint32_t expect = 0;
    if (w >= 0) {
      expect = rig->fw([&](adapter::Engine& e) {
        return e.statsWordValue(0, static_cast<unsigned>(w)) +
               (w2 >= 0 ? e.statsWordValue(0, static_cast<unsigned>(w2)) : 0);
      });
      EXPECT_NE(0u, expect);
    }
    EXPECT_EQ(expect, field(a, c.field));
    v += 1000;
  }
}

// Word positions written down here independently, for port 1.
TEST_P(StatsTest, PortBlockOfTheSecondPort) {
  Gen g = GetParam();
  if (g == Gen::Pivard) GTEST_SKIP() << "Pivard reads the port's own block";
  a->port_num = 1;
  struct {
    Gen gen;
    unsigned crcWord, jabberWord, noPbufWord;
  } cases[] = {{Gen::KS2, 66 + 10, 160, 136}, {Gen::KS3, 72 + 16, 144, 294}, {Gen::Veskarn, 102 + 22, 102 + 78, 414}};
  for (auto& c : cases) {
    if (c.gen != g) continue;
    rig->fw([&](adapter::Engine& e) {
      e.setStatsWord(0, c.crcWord, 11);
      e.setStatsWord(0, c.jabberWord, 22);
      e.setStatsWord(0, c.noPbufWord, 33);
      return 0;
    });
    ASSERT_EQ(0u, refresh());
    EXPECT_EQ(11u, a->hw_stats.rx_crc_errors);
    EXPECT_EQ(22u, a->hw_stats.jabber_events);
    EXPECT_EQ(33u, a->hw_stats.rx_drops_no_pbuf);
  }
  // KS2 port 0 takes its jabber count from word 159.
  if (g == Gen::KS2) {
    a->port_num = 0;
    rig->fw([](adapter::Engine& e) {
      e.setStatsWord(0, 159, 44);
      return 0;
    });
    ASSERT_EQ(0u, refresh());
    EXPECT_EQ(44u, a->hw_stats.jabber_events);
  }
}

TEST_P(StatsTest, NoDmaFragmentsExtendedFrom16Bits) {
  Gen g = GetParam();
  a->num_vectors = 2;
  a->rxo[0].rxq.created = 1;
  a->rxo[0].rxq.id = 5;
  a->rxo[1].rxq.created = 1;
  a->rxo[1].rxq.id = 1000;  // beyond any block: no counter
  a->rxo[1].rx_no_dma_frags = 77;
  struct {
    uint16_t hw;
    uint32_t expect;
  } steps[] = {{0xFFF0, 0xFFF0}, {0x0010, 0x10010}, {0x0020, 0x10020}};
  for (auto& s : steps) {
    rig->fw([&](adapter::Engine& e) {
      e.setNoDmaCounter(0, 5, s.hw);
      return 0;
    });
    ASSERT_EQ(0u, refresh());
    EXPECT_EQ(g == Gen::Pivard ? 0u : s.expect, a->rxo[0].rx_no_dma_frags);
    EXPECT_EQ(77u, a->rxo[1].rx_no_dma_frags);
  }
}

TEST_P(StatsTest, TimedOutRefreshIsNotParsed) {
  Gen g = GetParam();
  a->hw_stats.rx_crc_errors = 5;
  rig->fw([&](adapter::Engine& e) {
    e.setStat(0, Stat::RxCrcErrors, 9);
    return 0;
  });
  rig->setFault(3, g == Gen::Pivard ? 18 : 4, {.no_completion = true});
  EXPECT_EQ(TAMSIL_CH_TIMEOUT, refresh());
  EXPECT_EQ(5u, a->hw_stats.rx_crc_errors);
  EXPECT_EQ(0, a->stats_pending);
}

// Only a time-out keeps the counters: after any other failure the block is
// parsed as it stands.
TEST_P(StatsTest, FailedRefreshIsStillParsed) {
  Gen g = GetParam();
  rig->fw([&](adapter::Engine& e) {
    e.setStat(0, Stat::RxCrcErrors, 9);
    return 0;
  });
  ASSERT_EQ(0u, refresh());
  ASSERT_EQ(9u, a->hw_stats.rx_crc_errors);
  a->hw_stats.rx_crc_errors = 5;
  rig->setFault(3, g == Gen::Pivard ? 18 : 4, {.status = 66});
  EXPECT_EQ(66u, refresh());
  EXPECT_EQ(9u, a->hw_stats.rx_crc_errors);
  EXPECT_EQ(0, a->stats_pending);
}

TEST_P(StatsTest, DieTemperaturePacedByTheStatistics) {
  Gen g = GetParam();
  if (g == Gen::Pivard) GTEST_SKIP() << "Pivard refreshes with the port command";
  a->die_temp_last = vmk_GetUptimeMS();
  ASSERT_EQ(0u, refresh());
  EXPECT_EQ(0u, rig->seen(1, 121));
  vmktest::advanceMs(30001);
  ASSERT_EQ(0u, refresh());
  EXPECT_EQ(g == Gen::KS2 ? 0u : 1u, rig->seen(1, 121));
}

}  // namespace

namespace {

TEST(StatsTotals, RingCountersSummed) {
  RigOptions o;
  o.mcc = false;
  Rig rig(o);
  ASSERT_TRUE(rig.up());
  Adapter* a = rig.a;
  a->num_vectors = 2;
  a->rxo[0].rx_bytes = 100;
  a->rxo[1].rx_bytes = 50;
  a->rxo[0].rx_pkts = 3;
  a->rxo[1].rx_mcast_pkts = 4;
  a->rxo[0].vxlan_rx_pkts = 9;
  a->num_tx_queues = 3;
  for (int i = 0; i < 3; i++) {
    a->txo[i].tx_pkts = 10;
    a->txo[i].tx_bytes = 1000;
    a->txo[i].vxlan_tx_pkts = 1;
    a->txo[i].q.created = 1;
    a->txo[i].cq.created = i != 2;  // a queue without its completion ring is left out
  }
  a->rx_totals.rx_bytes = 12345;  // stale totals are replaced
  tamsil_updateStats(a);
  EXPECT_EQ(150u, a->rx_totals.rx_bytes);
  EXPECT_EQ(3u, a->rx_totals.rx_pkts);
  EXPECT_EQ(4u, a->rx_totals.rx_mcast_pkts);
  EXPECT_EQ(0u, a->rx_totals.vxlan_rx_pkts);
  EXPECT_EQ(20u, a->tx_totals.tx_pkts);
  EXPECT_EQ(2000u, a->tx_totals.tx_bytes);
  EXPECT_EQ(0u, a->tx_totals.vxlan_tx_pkts);
  a->features |= TAMSIL_FEAT_VXLAN_OFFLOAD;
  tamsil_updateStats(a);
  EXPECT_EQ(9u, a->rx_totals.vxlan_rx_pkts);
  EXPECT_EQ(2u, a->tx_totals.vxlan_tx_pkts);
  a->num_vectors = 0;
  a->num_tx_queues = 0;
}

}  // namespace
