// Every command builder: the request as the firmware decoded it (per
// generation where the formats differ) and what the driver keeps of the
// response.
#include <cstring>
#include <functional>
#include <string>

#include "rig.h"

using adapter::Gen;
using cmdtest::GenRigTest;
using cmdtest::Rig;
using cmdtest::genParamName;
using cmdtest::kAllGens;
using cmdtest::RigOptions;
using cmdtest::rq16;
using cmdtest::rq32;
using cmdtest::rq8;
using Req = std::vector<uint8_t>;

namespace {

bool isKs(Gen g) { return g == Gen::KS2 || g == Gen::KS3; }
uint8_t hdrVersion(const Req& r) { return r.at(12); }
uint8_t hdrDomain(const Req& r) { return r.at(3); }

const uint8_t kMac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

class BuilderTest : public GenRigTest {
 protected:
  void SetUp() override { bringUp({}, true); }

  // An interface of the function, for commands that name one.
  uint32_t makeInterface() {
    uint32_t ifId = 0, pmac = 0;
    EXPECT_EQ(0u, tamsil_cmdIfCreate(a, 0x1BB4, 0x1BB4, nullptr, true, &ifId, &pmac, 0));
    return ifId;
  }

};

INSTANTIATE_TEST_SUITE_P(Gens, BuilderTest, testing::ValuesIn(kAllGens), genParamName);

// ---------------------------------------------------------------------------
// Configuration (mailbox)
// ---------------------------------------------------------------------------

TEST_P(BuilderTest, FirmwareConfigurationAndAttributes) {
  Gen g = GetParam();
  static const uint8_t kFamily[] = {0, 3, 10, 4};
  EXPECT_EQ(1, a->asic_rev);
  EXPECT_EQ(kFamily[static_cast<int>(g)], a->fw_chip_family);
  EXPECT_EQ(0u, a->port_num);
  EXPECT_EQ(0x20000u, a->fw_caps);
  EXPECT_EQ(0x2u, a->fw_func_caps);
  EXPECT_EQ(140u, rig->lastRequest(1, 58).size());
  auto attrs = rig->lastRequest(1, 32);
  ASSERT_EQ(560u, attrs.size());  // sent in its own buffer of 560 bytes
  EXPECT_EQ(0u, a->cntl_port);
  EXPECT_EQ(0u, a->pf_num);
  EXPECT_STREQ("Kalderstone emulated controller", a->link.cntl_text);
  EXPECT_EQ(8, a->netq_count);
}

TEST(BuilderConfig, A0AdaptersRefused) {
  struct Case {
    Gen gen;
    const char* line;
  } cases[] = {{Gen::KS2, "Bailing out KS2 A0 adapter"},
               {Gen::KS3, "Bailing out KS3 A0 adapter"},
               {Gen::Pivard, "Bailing out PIVARD A0 adapter"},
               {Gen::Veskarn, nullptr}};
  for (const Case& c : cases) {
    RigOptions o;
    o.gen = c.gen;
    o.mcc = false;
    o.card_config = [](adapter::AdapterConfig& cfg) { cfg.fw.asic_rev = 0; };
    Rig rig(o);
    ASSERT_TRUE(rig.up());
    uint32_t st = tamsil_cmdQueryFwCfg(rig.a);
    if (c.line != nullptr) {
      EXPECT_EQ(0xFFFFFFFFu, st) << adapter::genName(c.gen);
      EXPECT_EQ(1u, vmktest::logCount(c.line));
    } else {
      EXPECT_EQ(0u, st);
    }
  }
}

TEST(BuilderConfig, NetQueueCountPerGeneration) {
  struct Case {
    Gen gen;
    uint8_t reported, kept;
  } cases[] = {{Gen::Pivard, 12, 8}, {Gen::Pivard, 0, 0}, {Gen::Pivard, 5, 5}, {Gen::KS3, 0, 2},
               {Gen::KS3, 9, 2},     {Gen::KS3, 8, 8},   {Gen::Veskarn, 1, 1}};
  for (const Case& c : cases) {
    RigOptions o;
    o.gen = c.gen;
    o.mcc = false;
    uint8_t n = c.reported;
    o.card_config = [n](adapter::AdapterConfig& cfg) { cfg.fw.netqueues = n; };
    Rig rig(o);
    ASSERT_TRUE(rig.up());
    EXPECT_EQ(0u, tamsil_cmdGetCntlAttributes(rig.a));
    EXPECT_EQ(c.kept, rig.a->netq_count) << adapter::genName(c.gen) << " " << int(c.reported);
  }
}

TEST_P(BuilderTest, FunctionCapabilities) {
  Gen g = GetParam();
  uint32_t st = tamsil_cmdCheckFunctionCap(a);
  if (g == Gen::Pivard) {
    EXPECT_NE(0u, st);  // this firmware does not know the query
    return;
  }
  ASSERT_EQ(0u, st);
  auto r = rig->lastRequest(1, 103);
  EXPECT_EQ(14u, rq32(r, 0));
  EXPECT_EQ(12u, rq32(r, 4));
  EXPECT_EQ(1, a->cap_advanced_rx);
  EXPECT_EQ(g == Gen::KS3 ? 1 : 0, a->cap_ks3_tx);
}

TEST_P(BuilderTest, ProfileAndFunctionConfiguration) {
  Gen g = GetParam();
  ResourceLimits l;
  memset(&l, 0, sizeof l);
  // With the MCC queue up, the profile goes over it (polled).
  unsigned mbox = rig->card->counters(0).mailbox_commands;
  uint32_t st = tamsil_cmdGetProfileConfig(a, 0, 0, &l);
  if (g == Gen::KS2) {
    // Older firmware: the caller falls back to the resource records.
    EXPECT_EQ(2u, st);
    return;
  }
  ASSERT_EQ(0u, st);
  EXPECT_EQ(mbox, rig->card->counters(0).mailbox_commands);
  auto r = rig->lastRequest(1, 164);
  EXPECT_EQ(g == Gen::Pivard ? 0 : 1, hdrVersion(r));
  EXPECT_EQ(2, rq8(r, 1));
  EXPECT_EQ(1, a->function_mode);
  EXPECT_EQ(16, l.max_vfs);
  EXPECT_TRUE(a->features & TAMSIL_FEAT_SRIOV);
  EXPECT_EQ(16, l.max_tx_qs);
  EXPECT_EQ(17, l.max_rx_qs);
  EXPECT_EQ(16, l.max_rss_qs);
  EXPECT_EQ(64, l.max_cq_count);
  EXPECT_EQ(32, l.max_evt_qs);
  EXPECT_EQ(64, l.max_uc_mac);
  EXPECT_EQ(0x1BB4u | 0x1000000u, l.cap_flags);
  EXPECT_EQ(g == Gen::KS3 ? 1 : 0, a->profile_desc_seen);

  // The modifiable form asks with bit 3 of p+1.
  ResourceLimits m;
  memset(&m, 0, sizeof m);
  EXPECT_EQ(0u, tamsil_cmdGetProfileConfig(a, 0, 1, &m));
  EXPECT_EQ(10, rq8(rig->lastRequest(1, 164), 1));

  if (!isKs(g)) {
    ResourceLimits f;
    memset(&f, 0, sizeof f);
    ASSERT_EQ(0u, tamsil_cmdGetFuncConfig(a, &f));
    EXPECT_EQ(g == Gen::Veskarn ? 1 : 0, hdrVersion(rig->lastRequest(1, 160)));
    EXPECT_EQ(17, f.max_rx_qs);
    EXPECT_EQ(32u, f.max_iface_count);
  }
}

TEST(BuilderConfig, ProfileDescriptorsOfLengthZeroAreWalkedIn72ByteSteps) {
  RigOptions o;
  o.gen = Gen::Veskarn;
  o.card_config = [](adapter::AdapterConfig& cfg) {
    cfg.fw.profile_zero_lengths = true;
    cfg.fw.function_mode = 4;
  };
  Rig rig(o);
  ASSERT_TRUE(rig.up());
  ASSERT_EQ(0u, tamsil_cmdGetCntlAttributes(rig.a));
  DmaBuffer buf;
  memset(&buf, 0, sizeof buf);
  ASSERT_NE(nullptr, tamsil_mpoolAllocMap(rig.a, &buf, 23252));
  ASSERT_EQ(0u, tamsil_cmdGetProfileConfigMbox(rig.a, 0, 0, &buf));
  tamsil_mpoolUnmapFree(rig.a, &buf);
  ResourceLimits l;
  memset(&l, 0, sizeof l);
  ASSERT_EQ(0u, tamsil_cmdGetProfileConfig(rig.a, 0, 0, &l));
  EXPECT_EQ(4, rig.a->function_mode);
  EXPECT_EQ(16, l.max_vfs);
  EXPECT_EQ(17, l.max_rx_qs);
}

TEST_P(BuilderTest, ConfigResourcesRecords) {
  if (!isKs(GetParam())) GTEST_SKIP() << "Kalderstone query";
  a->features &= ~TAMSIL_FEAT_SRIOV;
  ASSERT_EQ(0u, tamsil_getConfigResources(a));
  EXPECT_EQ(852u, rig->lastRequest(1, 81).size());
  EXPECT_TRUE(a->features & TAMSIL_FEAT_SRIOV);
  EXPECT_EQ(16u, a->sriov_total_vfs);
}

TEST_P(BuilderTest, SetProfileConfigRefusesMoreThan176Bytes) {
  uint8_t desc[200] = {};
  EXPECT_EQ(VMK_BAD_PARAM, tamsil_cmdSetProfileConfig(a, desc, 177, 2, 1, 0));
  EXPECT_EQ(0u, rig->seen(1, 165));
}

TEST_P(BuilderTest, SriovSplitOnlyOnVeskarn) {
  Gen g = GetParam();
  ResourceLimits pf;
  memset(&pf, 0, sizeof pf);
  pf.max_vfs = 16;
  pf.max_rx_qs = 64;
  pf.max_cq_count = 64;
  pf.max_uc_mac = 64;
  pf.max_mcc_count = 2;
  pf.max_vlans = 64;
  pf.max_iface_count = 32;
  pf.cap_flags2 = 0x1000004;
  a->rss = -1;
  a->drss = -1;
  a->function_mode = 1;
  uint32_t st = tamsil_cmdSetSriovConfig(a, 3, &pf);
  if (g != Gen::Veskarn) {
    EXPECT_EQ(0u, st);
    EXPECT_EQ(0u, rig->seen(1, 165));
    return;
  }
  ASSERT_EQ(0u, st);
  auto r = rig->lastRequest(1, 165);
  ASSERT_EQ(200u, r.size());
  EXPECT_EQ(1, hdrVersion(r));
  EXPECT_EQ(2u, rq32(r, 4));
  const uint8_t* pcie = r.data() + 16 + 8;
  const uint8_t* nic = pcie + 88;
  EXPECT_EQ(0x50, pcie[0]);
  EXPECT_EQ(88, pcie[1]);
  EXPECT_EQ(1, pcie[12]);
  EXPECT_EQ(3, pcie[16]);
  EXPECT_EQ(0x51, nic[0]);
  // a = c = 12 + 4 = 16; 3 < 16 - 16 is false, so t = 64 / 3 = 21 -> 4.
  uint16_t q = static_cast<uint16_t>(nic[22] | nic[23] << 8);
  uint16_t cqs = static_cast<uint16_t>(nic[30] | nic[31] << 8);
  EXPECT_EQ(cqs, 64 / 4);
  // The firmware's modifiable limits decide whether several queues per VF
  // are allowed; either way the three queue fields agree.
  EXPECT_EQ(q, static_cast<uint16_t>(nic[24] | nic[25] << 8));
  EXPECT_EQ(q, static_cast<uint16_t>(nic[26] | nic[27] << 8));
  EXPECT_TRUE(q == 1 || q == 4) << q;
}

TEST_P(BuilderTest, ActiveProfileAndWakeCapability) {
  uint16_t id = 0;
  ASSERT_EQ(0u, tamsil_cmdGetActiveProfile(a, &id));
  EXPECT_EQ(1, id);
  uint32_t st = tamsil_cmdGetAcpiWolCap(a);
  EXPECT_EQ(0u, st);
  auto r = rig->lastRequest(3, 12);
  ASSERT_EQ(1204u, r.size());
  EXPECT_EQ(1, hdrVersion(r));
  EXPECT_EQ(2, rq8(r, 2));
}

TEST_P(BuilderTest, InterfacesAndPermanentMac) {
  Gen g = GetParam();
  uint32_t ifId = 0, pmac = 0;
  ASSERT_EQ(0u, tamsil_cmdIfCreate(a, 0x21, 0x20, kMac, false, &ifId, &pmac, 0));
  auto r = rig->lastRequest(1, 50);
  EXPECT_EQ(0x21u, rq32(r, 4));
  EXPECT_EQ(0x20u, rq32(r, 8));
  EXPECT_EQ(0, memcmp(r.data() + 16 + 12, kMac, 6));
  EXPECT_EQ(0, rq8(r, 19));
  EXPECT_NE(nullptr, rig->fw([&](adapter::Engine& e) { return e.interface(ifId); }));
  EXPECT_EQ(1u, rig->fw([&](adapter::Engine& e) { return e.macFilters(0).size(); }));

  uint8_t mac[6] = {};
  ASSERT_EQ(0u, tamsil_getPermMac(a, mac));
  auto perm = rig->fw([](adapter::Engine& e) { return e.permanentMac(0); });
  EXPECT_EQ(0, memcmp(mac, perm.data(), 6));
  if (isKs(g)) {
    auto q = rig->lastRequest(1, 1);
    EXPECT_EQ(1, rq8(q, 0));
    EXPECT_EQ(1, rq8(q, 1));
    EXPECT_EQ(0u, rig->seen(1, 147));
  } else {
    auto q = rig->lastRequest(1, 147);
    EXPECT_EQ(548u, q.size());
    EXPECT_EQ(1, rq8(q, 0));
    EXPECT_EQ(1, rq8(q, 1));
  }
  // The current MAC of an interface.
  ASSERT_EQ(0u, tamsil_cmdMacAddrQuery(a, mac, 0, false, ifId));
  EXPECT_EQ(ifId, rq16(rig->lastRequest(1, 1), 2));

  ASSERT_EQ(0u, tamsil_cmdIfDestroy(a, ifId, 0));
  EXPECT_EQ(ifId, rq32(rig->lastRequest(1, 51), 0));
  EXPECT_EQ(nullptr, rig->fw([&](adapter::Engine& e) { return e.interface(ifId); }));
}

TEST(BuilderConfig, MacListFlagEntry) {
  struct Case {
    bool flagEntry, flagIn;
    uint32_t status;
    bool flagOut, macCopied;
  } cases[] = {
      {true, false, 0, true, false},
      {false, false, 0, false, true},
      {false, true, TAMSIL_CH_REFUSED, true, false},
  };
  for (const Case& c : cases) {
    RigOptions o;
    o.gen = Gen::Veskarn;
    o.mcc = false;
    bool fe = c.flagEntry;
    o.card_config = [fe](adapter::AdapterConfig& cfg) { cfg.fw.mac_list_flag_entry = fe; };
    Rig rig(o);
    ASSERT_TRUE(rig.up());
    uint8_t mac[6] = {9, 9, 9, 9, 9, 9};
    bool flag = c.flagIn;
    EXPECT_EQ(c.status, tamsil_cmdGetMacFromList(rig.a, mac, &flag, 0));
    EXPECT_EQ(c.flagOut, flag);
    auto perm = rig.fw([](adapter::Engine& e) { return e.permanentMac(0); });
    EXPECT_EQ(c.macCopied, memcmp(mac, perm.data(), 6) == 0);
  }
}

TEST_P(BuilderTest, InterruptSwitchAndVfEnable) {
  Gen g = GetParam();
  if (g == Gen::Pivard) {
    // No host interrupt command here: attach falls back to a register.
    EXPECT_EQ(2u, tamsil_cmdIntrSet(a, true));
  } else {
    EXPECT_EQ(0u, tamsil_cmdIntrSet(a, true));
    EXPECT_TRUE(rig->fw([](adapter::Engine& e) { return e.interruptsEnabled(0); }));
    EXPECT_EQ(0u, tamsil_cmdIntrSet(a, false));
    EXPECT_FALSE(rig->fw([](adapter::Engine& e) { return e.interruptsEnabled(0); }));
  }
  EXPECT_EQ(0, rq8(rig->lastRequest(1, 89), 0) & ~1);
  uint32_t st = tamsil_cmdEnableVF(a, 1);
  auto r = rig->lastRequest(1, 196);
  EXPECT_EQ(1, hdrDomain(r));
  EXPECT_EQ(1, rq8(r, 0));
  if (g == Gen::Pivard) {
    EXPECT_EQ(0u, st);
    EXPECT_TRUE(rig->fw([](adapter::Engine& e) { return e.vfsEnabled(0, 1); }));
  }
}

TEST_P(BuilderTest, QueueCreateAndDestroyPerGeneration) {
  Gen g = GetParam();
  uint32_t ifId = makeInterface();
  a->rxo[0].if_id = ifId;
  QueueInfo eq{}, cq{}, txq{}, rcq{}, rxq{};
  ASSERT_TRUE(rig->allocRing(&eq, 1024, 4));
  ASSERT_TRUE(rig->allocRing(&cq, 1024, 16));
  ASSERT_TRUE(rig->allocRing(&txq, 2048, 16));
  ASSERT_TRUE(rig->allocRing(&rcq, 128, 16));
  ASSERT_TRUE(rig->allocRing(&rxq, 1024, 8));

  ASSERT_EQ(0u, tamsil_cmdEqCreate(a, &eq, 128));
  EXPECT_EQ(82u, (rq32(rig->lastRequest(1, 13), 12) >> 13) & 0x3FF);
  ASSERT_EQ(0u, tamsil_cmdCqCreate(a, &cq, &eq, true, false, 2));
  auto c = rig->lastRequest(1, 12);
  EXPECT_EQ(4, rq16(c, 0));  // 16 KB: four pages
  if (isKs(g)) {
    EXPECT_EQ(2u, (rq32(c, 4) >> 12) & 3);
    EXPECT_TRUE(rq32(c, 4) & (1u << 30));
  }
  EXPECT_EQ(2u, (rq32(c, 4) >> 27) & 3);  // 1024 entries
  ASSERT_EQ(0u, tamsil_cmdCqCreate(a, &rcq, &eq, false, false, 0));
  EXPECT_EQ(3u, (rq32(rig->lastRequest(1, 12), 4) >> 27) & 3);  // fewer than 256

  uint32_t db = 0;
  ASSERT_EQ(0u, tamsil_cmdTxqCreate(a, &txq, &cq, ifId, &db));
  auto t = rig->lastRequest(3, 7);
  static const uint8_t kTxVersion[] = {0, 0, 1, 2};
  EXPECT_EQ(kTxVersion[static_cast<int>(g)], hdrVersion(t));
  EXPECT_EQ(8, rq8(t, 0));
  EXPECT_EQ(12, rq8(t, 6));
  EXPECT_EQ(cq.id, rq16(t, 12));
  if (!isKs(g)) {
    EXPECT_EQ(ifId, rq16(t, 4));
  }
  EXPECT_EQ(g == Gen::Veskarn ? 0x200u : 0x60u, db);
  EXPECT_TRUE(txq.created);

  uint8_t rssId = 0xEE;
  ASSERT_EQ(0u, tamsil_cmdRxqCreateUseMcc(a, &rxq, cq.id, 2048, 1932, ifId, 0, &rssId));
  auto rx = rig->lastRequest(3, 8);
  EXPECT_EQ(cq.id, rq16(rx, 0));
  EXPECT_EQ(11, rq8(rx, 2));
  EXPECT_EQ(2, rq8(rx, 3));
  EXPECT_EQ(ifId, rq32(rx, 20));
  EXPECT_EQ(1932, rq16(rx, 24));
  EXPECT_TRUE(rxq.created);
  ASSERT_EQ(0u, tamsil_cmdRxqDestroy(a, &rxq));
  EXPECT_EQ(rxq.id, rq16(rig->lastRequest(3, 10), 0));
  EXPECT_FALSE(rxq.created);

  ASSERT_EQ(0u, tamsil_cmdQDestroy(a, &txq, TAMSIL_QTYPE_TXQ));
  ASSERT_EQ(0u, tamsil_cmdQDestroy(a, &rcq, TAMSIL_QTYPE_CQ));
  ASSERT_EQ(0u, tamsil_cmdQDestroy(a, &cq, TAMSIL_QTYPE_CQ));
  ASSERT_EQ(0u, tamsil_cmdQDestroy(a, &eq, TAMSIL_QTYPE_EQ));
  EXPECT_EQ(0u, rig->fw([](adapter::Engine& e) { return e.countLive(adapter::ObjKind::TxQueue, 0); }));
  EXPECT_EQ(1u, rig->fw([](adapter::Engine& e) { return e.countLive(adapter::ObjKind::Eq, 0); }));
  for (QueueInfo* q : {&eq, &cq, &txq, &rcq, &rxq}) rig->freeRing(q);
}

TEST_P(BuilderTest, FunctionResetDestroysTheFunctionsObjects) {
  Gen g = GetParam();
  if (g == Gen::Pivard) {
    // The Pivard reset is a port reset between two readiness waits.
    EXPECT_EQ(0u, tamsil_cmdResetFunction(a));
    EXPECT_EQ(0u, vmktest::logCount("Pivard Adapter in non recoverable error"));
    return;
  }
  makeInterface();
  a->mcc_q.created = 0;  // the reset takes the MCC queue with it
  ASSERT_EQ(0u, tamsil_cmdResetFunction(a));
  EXPECT_EQ(16u, rig->lastRequest(1, 61).size());
  EXPECT_EQ(0u, rig->fw([](adapter::Engine& e) { return e.countLive(0); }));
  a->mcc_cq.created = 0;
  rig->eq.created = 0;
}

// ---------------------------------------------------------------------------
// Runtime commands (MCC): one table of request encodings
// ---------------------------------------------------------------------------

struct RtCase {
  const char* name;
  uint8_t sub, op;
  uint32_t len;                                   // request bytes as received
  std::function<uint32_t(Adapter*, uint32_t)> run;  // (adapter, interface id)
  std::function<void(const Req&, Gen, uint32_t)> check;
  bool (*applies)(Gen) = nullptr;
};

TEST_P(BuilderTest, RuntimeRequestEncodings) {
  Gen g = GetParam();
  uint32_t ifId = makeInterface();
  static const uint16_t tags[3] = {10, 20, 4094};
  static const uint8_t key[40] = {1, 2, 3, 4, 5};
  static const uint8_t table[4] = {0, 1, 0, 1};
  const RtCase cases[] = {
      {"PmacAdd", 1, 59, 28,
       [](Adapter* x, uint32_t i) {
         uint32_t id = 0;
         return tamsil_cmdPmacAdd(x, kMac, i, &id, 0, 0);
       },
       [](const Req& r, Gen, uint32_t i) {
         EXPECT_EQ(i, rq32(r, 0));
         EXPECT_EQ(0, memcmp(r.data() + 20, kMac, 6));
         EXPECT_EQ(0, hdrVersion(r));
       }},
      {"PmacAdd kind 2", 1, 59, 28,
       [](Adapter* x, uint32_t i) {
         uint32_t id = 0;
         uint8_t m[6] = {2, 0, 0, 0, 0, 7};
         return tamsil_cmdPmacAdd(x, m, i, &id, 0, 2);
       },
       [](const Req& r, Gen, uint32_t) {
         EXPECT_EQ(1, hdrVersion(r));
         EXPECT_EQ(1, rq8(r, 10));
       }},
      {"SetMacList", 1, 148, 404,
       [](Adapter* x, uint32_t) {
         uint8_t macs[12] = {2, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2};
         return tamsil_cmdSetMacList(x, macs, 2, 0);
       },
       [](const Req& r, Gen, uint32_t) {
         EXPECT_EQ(2, rq8(r, 0));
         EXPECT_EQ(2, rq8(r, 10));
       }},
      {"VlanConfig", 1, 4, 148, [](Adapter* x, uint32_t i) { return tamsil_cmdVlanConfig(x, i, tags, 3, 0, false, 0); },
       [](const Req& r, Gen, uint32_t i) {
         EXPECT_EQ(i, rq8(r, 0));
         EXPECT_EQ(0, rq8(r, 1));
         EXPECT_EQ(3, rq8(r, 3));
         EXPECT_EQ(4094, rq16(r, 8));
       }},
      {"RxfFilterConfig", 1, 34, 424,
       [](Adapter* x, uint32_t i) { return tamsil_cmdRxfFilterConfig(x, i, 0x80, 0x80); },
       [](const Req& r, Gen, uint32_t i) {
         EXPECT_EQ(0x80u, rq32(r, 8));
         EXPECT_EQ(0x80u, rq32(r, 12));
         EXPECT_EQ(i, rq32(r, 16));
       }},
      {"ConfigRSS", 3, 1, 196,
       [](Adapter* x, uint32_t i) { return tamsil_cmdConfigRSS(x, i, 15, key, 40, table, 4); },
       [](const Req& r, Gen gg, uint32_t i) {
         EXPECT_EQ(isKs(gg) || gg == Gen::KS2 ? 0 : 1, hdrVersion(r));
         EXPECT_EQ(i, rq32(r, 0));
         EXPECT_EQ(15, rq16(r, 4));
         EXPECT_EQ(2, rq16(r, 6));
         EXPECT_EQ(3, rq8(r, 10));
         EXPECT_EQ(1, rq8(r, 49));
         EXPECT_EQ(1, rq8(r, 176));
       }},
      {"ConfigRSS no table", 3, 1, 196,
       [](Adapter* x, uint32_t i) { return tamsil_cmdConfigRSS(x, i, 15, key, 40, table, 0); },
       [](const Req& r, Gen, uint32_t) { EXPECT_EQ(0xFFFF, rq16(r, 6)); }},
      {"SetFlowControl", 1, 36, 20, [](Adapter* x, uint32_t) { return tamsil_cmdSetFlowControl(x, 1, 0); },
       [](const Req& r, Gen, uint32_t) {
         EXPECT_EQ(1, hdrVersion(r));
         EXPECT_EQ(1, rq16(r, 0));
         EXPECT_EQ(0, rq16(r, 2));
       }},
      {"SetQos", 1, 28, 52, [](Adapter* x, uint32_t) { return tamsil_cmdSetQos(x, 2500, 0); },
       [](const Req& r, Gen, uint32_t) {
         EXPECT_EQ(1u, rq32(r, 0));
         EXPECT_EQ(2500u, rq32(r, 4));
       }},
      {"SetHswConfig", 1, 153, 36, [](Adapter* x, uint32_t i) { return tamsil_cmdSetHswConfig(x, 100, 0, i); },
       [](const Req& r, Gen, uint32_t i) {
         EXPECT_EQ(i | (1u << 30), rq32(r, 0));
         EXPECT_EQ(100, rq16(r, 6));
       }},
      {"SetFnPrivileges", 1, 100, 20, [](Adapter* x, uint32_t) { return tamsil_cmdSetFnPrivileges(x, 0x40, 0); },
       [](const Req& r, Gen, uint32_t) { EXPECT_EQ(0x40u, rq32(r, 0)); }},
      {"SetEmiCanceller", 1, 13, 24, [](Adapter* x, uint32_t) { return tamsil_cmdSetEmiCanceller(x, 1); },
       [](const Req& r, Gen, uint32_t) {
         EXPECT_EQ(0u, rq32(r, 0));
         EXPECT_EQ(1u, rq32(r, 4));
       }},
      {"DeleteObject", 1, 174, 128, [](Adapter* x, uint32_t) { return tamsil_cmdDeleteObject(x, "/dbg/dump.bin"); },
       [](const Req& r, Gen, uint32_t) { EXPECT_EQ(0, memcmp(r.data() + 24, "/dbg/dump.bin", 14)); },
       nullptr},
      {"EnableMagicWol", 3, 12, 604, [](Adapter* x, uint32_t) { return tamsil_cmdEnableMagicWol(x, kMac); },
       [](const Req& r, Gen, uint32_t) { EXPECT_EQ(0, memcmp(r.data() + 16 + 580, kMac, 6)); }},
      {"SetPortSpeedV1", 1, 57, 24, [](Adapter* x, uint32_t) { return tamsil_cmdSetPortSpeedV1(x, 0, 13); },
       [](const Req& r, Gen, uint32_t) {
         EXPECT_EQ(1, hdrVersion(r));
         EXPECT_EQ(0, rq8(r, 0));
         EXPECT_EQ(0, rq8(r, 1));
         EXPECT_EQ(13, rq16(r, 2));
       }},
      {"ManageIfaceFilters op 2", 1, 193, 52,
       [](Adapter* x, uint32_t i) {
         uint32_t f = 0;
         return tamsil_cmdManageIfaceFiltersCreate(x, 2, i, i, kMac, 5000, &f);
       },
       [](const Req& r, Gen, uint32_t i) {
         EXPECT_EQ(2, rq8(r, 0));
         EXPECT_EQ(2, rq8(r, 2));
         EXPECT_EQ(i, rq32(r, 4));
         EXPECT_EQ(5000u, rq32(r, 20));
       },
       [](Gen gg) { return gg == Gen::Veskarn; }},
      {"AddIfQueueFilter", 1, 145, 32,
       [](Adapter* x, uint32_t i) {
         uint32_t f = 0;
         return tamsil_cmdAddIfQueueFilter(x, kMac, i, &f, 0, 3);
       },
       [](const Req& r, Gen, uint32_t i) {
         EXPECT_EQ(i, rq32(r, 0));
         EXPECT_EQ(3, rq16(r, 6));
         EXPECT_EQ(0, memcmp(r.data() + 26, kMac, 6));
       },
       [](Gen gg) { return gg == Gen::Pivard; }},
  };
  for (const RtCase& c : cases) {
    if (c.applies != nullptr && !c.applies(g)) continue;
    SCOPED_TRACE(c.name);
    if (std::string(c.name) == "DeleteObject")
      rig->fw([](adapter::Engine& e) {
        e.putObject("/dbg/dump.bin", {1, 2, 3});
        return 0;
      });
    unsigned before = rig->seen(c.sub, c.op);
    EXPECT_EQ(0u, c.run(a, ifId));
    EXPECT_EQ(before + 1, rig->seen(c.sub, c.op));
    Req r = rig->lastRequest(c.sub, c.op);
    ASSERT_EQ(c.len, r.size());
    c.check(r, g, ifId);
  }
  EXPECT_EQ(0u, vmk_AtomicRead64(&a->mcc_q.used));
}

// Filters are taken down with the ids the create answered; the firmware
// holds nothing afterwards.
TEST_P(BuilderTest, FilterDeletesNameTheCreatedFilter) {
  Gen g = GetParam();
  if (isKs(g)) GTEST_SKIP() << "queue and tunnel filters belong to Pivard and Veskarn";
  uint32_t ifId = makeInterface();
  if (g == Gen::Pivard) {
    uint32_t f = 0;
    ASSERT_EQ(0u, tamsil_cmdAddIfQueueFilter(a, kMac, ifId, &f, 0, 3));
    ASSERT_EQ(1u, rig->fw([](adapter::Engine& e) { return e.countLive(adapter::ObjKind::QueueFilter, 0); }));
    ASSERT_EQ(0u, tamsil_cmdDelIfQueueFilter(a, ifId, f, 0));
    auto r = rig->lastRequest(1, 146);
    ASSERT_EQ(24u, r.size());
    EXPECT_EQ(ifId, rq32(r, 0));
    EXPECT_EQ(f, rq32(r, 4));
    EXPECT_EQ(0u, rig->fw([](adapter::Engine& e) { return e.countLive(adapter::ObjKind::QueueFilter, 0); }));
  }
  if (g == Gen::Veskarn) {
    uint32_t tenant = makeInterface();
    uint32_t f = 0;
    ASSERT_EQ(0u, tamsil_cmdManageIfaceFiltersCreate(a, 0, ifId, 0, nullptr, 0, &f));
    auto r0 = rig->lastRequest(1, 193);
    ASSERT_EQ(52u, r0.size());
    EXPECT_EQ(0, rq8(r0, 0));
    EXPECT_EQ(ifId, rq32(r0, 8));
    ASSERT_EQ(0u, tamsil_cmdManageIfaceFiltersCreate(a, 5, ifId, tenant, kMac, 77, &f));
    auto r5 = rig->lastRequest(1, 193);
    EXPECT_EQ(5, rq8(r5, 0));
    EXPECT_EQ(tenant, rq32(r5, 8));
    EXPECT_EQ(0, memcmp(r5.data() + 16 + 12, kMac, 6));
    EXPECT_EQ(77u, rq32(r5, 20));
    ASSERT_EQ(1u, rig->fw([](adapter::Engine& e) { return e.countLive(adapter::ObjKind::TunnelFilter, 0); }));
    ASSERT_EQ(0u, tamsil_cmdManageIfaceFiltersDelete(a, ifId, f));
    auto rd = rig->lastRequest(1, 193);
    ASSERT_EQ(52u, rd.size());
    EXPECT_EQ(6, rq8(rd, 0));
    EXPECT_EQ(ifId, rq32(rd, 8));
    EXPECT_EQ(f, rq32(rd, 24));
    EXPECT_EQ(0u, rig->fw([](adapter::Engine& e) { return e.countLive(adapter::ObjKind::TunnelFilter, 0); }));
  }
  EXPECT_EQ(0u, vmk_AtomicRead64(&a->mcc_q.used));
}

// The mailbox form of the receive-queue create encodes as the MCC form.
TEST_P(BuilderTest, ReceiveQueueOverTheMailbox) {
  uint32_t ifId = makeInterface();
  QueueInfo eq{}, cq{}, rxq{};
  ASSERT_TRUE(rig->allocRing(&eq, 1024, 4));
  ASSERT_TRUE(rig->allocRing(&cq, 1024, 16));
  ASSERT_TRUE(rig->allocRing(&rxq, 1024, 8));
  ASSERT_EQ(0u, tamsil_cmdEqCreate(a, &eq, 0));
  ASSERT_EQ(0u, tamsil_cmdCqCreate(a, &cq, &eq, false, false, 0));
  unsigned mbox = rig->card->counters(0).mailbox_commands;
  uint8_t rssId = 0xEE;
  ASSERT_EQ(0u, tamsil_cmdRxqCreate(a, &rxq, cq.id, 16384, 9032, ifId, 1, &rssId));
  EXPECT_EQ(mbox + 1, rig->card->counters(0).mailbox_commands);
  auto rx = rig->lastRequest(3, 8);
  ASSERT_EQ(48u, rx.size());
  EXPECT_EQ(cq.id, rq16(rx, 0));
  EXPECT_EQ(14, rq8(rx, 2));
  EXPECT_EQ(2, rq8(rx, 3));
  EXPECT_EQ(ifId, rq32(rx, 20));
  EXPECT_EQ(9032, rq16(rx, 24));
  EXPECT_EQ(1u, rq32(rx, 28));
  EXPECT_TRUE(rxq.created);
  EXPECT_NE(0xEE, rssId);
  ASSERT_EQ(0u, tamsil_cmdQDestroy(a, &rxq, TAMSIL_QTYPE_RXQ));
  EXPECT_EQ(rxq.id, rq16(rig->lastRequest(3, 10), 0));
  ASSERT_EQ(0u, tamsil_cmdQDestroy(a, &cq, TAMSIL_QTYPE_CQ));
  ASSERT_EQ(0u, tamsil_cmdQDestroy(a, &eq, TAMSIL_QTYPE_EQ));
  EXPECT_EQ(0u, rig->fw([](adapter::Engine& e) { return e.countLive(adapter::ObjKind::RxQueue, 0); }));
  for (QueueInfo* q : {&eq, &cq, &rxq}) rig->freeRing(q);
}

TEST_P(BuilderTest, RuntimeResponsesKept) {
  Gen g = GetParam();
  uint32_t ifId = makeInterface();

  uint32_t pmac = 0;
  ASSERT_EQ(0u, tamsil_cmdPmacAdd(a, kMac, ifId, &pmac, 0, 0));
  EXPECT_EQ(1u, rig->fw([](adapter::Engine& e) { return e.macFilters(0).size(); }));
  uint32_t if2 = makeInterface();
  EXPECT_EQ(0u, tamsil_cmdPmacMigrate(a, ifId, if2, pmac, 0));
  auto mig = rig->lastRequest(1, 206);
  EXPECT_EQ(pmac & 0xFF, rq8(mig, 0));
  EXPECT_EQ(ifId & 0xFF, rq8(mig, 1));
  EXPECT_EQ(if2 & 0xFF, rq8(mig, 2));
  EXPECT_EQ(0u, tamsil_cmdPmacDel(a, if2, pmac, 0));
  auto del = rig->lastRequest(1, 60);
  EXPECT_EQ(24u, del.size());
  EXPECT_EQ(pmac, rq32(del, 4));
  ASSERT_EQ(0u, tamsil_cmdPmacAdd(a, kMac, ifId, &pmac, 0, 0));
  EXPECT_EQ(0u, tamsil_cmdPmacDelV1(a, ifId, pmac, 0));
  EXPECT_EQ(28u, rig->lastRequest(1, 60).size());
  EXPECT_EQ(1, rq8(rig->lastRequest(1, 60), 8));

  uint32_t tx = 9, rx = 9;
  ASSERT_EQ(0u, tamsil_cmdGetFlowControl(a, &tx, &rx));
  EXPECT_EQ(1u, tx);
  EXPECT_EQ(1u, rx);

  rig->fw([](adapter::Engine& e) {
    e.port(0).speed_code = 6;
    e.port(0).qos_speed = 0;
    return 0;
  });
  ASSERT_EQ(0u, tamsil_cmdLinkStatusQuery(a, 0));
  EXPECT_EQ(g == Gen::KS2 ? 0 : 1, hdrVersion(rig->lastRequest(1, 5)));
  EXPECT_EQ(1, a->link.link_up);
  EXPECT_EQ(25000, a->link.link_speed);
  rig->fw([](adapter::Engine& e) {
    e.port(0).qos_speed = 250;
    return 0;
  });
  ASSERT_EQ(0u, tamsil_cmdLinkStatusQuery(a, 0));
  EXPECT_EQ(2500, a->link.link_speed);
  rig->fw([](adapter::Engine& e) {
    e.port(0).link_up = false;
    return 0;
  });
  ASSERT_EQ(0u, tamsil_cmdLinkStatusQuery(a, 0));
  EXPECT_EQ(0, a->link.link_up);
  EXPECT_EQ(0, a->link.link_speed);

  uint16_t first = 0, second = 0;
  rig->fw([](adapter::Engine& e) {
    e.port(0).port_speed_code = 13;
    return 0;
  });
  ASSERT_EQ(0u, tamsil_cmdGetPortSpeed(a, 0, &first, &second));
  EXPECT_EQ(13, first);
  first = 0;
  ASSERT_EQ(0u, tamsil_cmdGetPortSpeedAsync(a, 0, &first, &second));
  EXPECT_EQ(13, first);

  char name = 0;
  ASSERT_EQ(0u, tamsil_cmdQueryPortName(a, &name));
  EXPECT_EQ('0', name);

  uint32_t priv = 0;
  ASSERT_EQ(0u, tamsil_cmdGetFnPrivileges(a, &priv, 0));
  EXPECT_EQ(0x7FFu, priv);
  rig->setFault(1, 170, {.status = 3});
  priv = 77;
  EXPECT_EQ(3u, tamsil_cmdGetFnPrivileges(a, &priv, 0));
  EXPECT_EQ(0u, priv);
  rig->clearFaults();

  ASSERT_EQ(0u, tamsil_cmdGetPhyInfo(a));
  EXPECT_EQ(40u, rig->lastRequest(1, 102).size());
  EXPECT_EQ(7, a->link.phy_type);
  EXPECT_EQ(10, a->link.phy_if_type);
  EXPECT_EQ(0x0C, a->link.speed_mask);
  ASSERT_EQ(0u, tamsil_cmdReadTransreceiverData(a));
  auto tr = rig->lastRequest(1, 73);
  EXPECT_EQ(280u, tr.size());
  EXPECT_EQ(160u, rq32(tr, 0));
  EXPECT_EQ(a->cntl_port, rq32(tr, 4));

  char ver[32] = {}, flash[32] = {};
  ASSERT_EQ(0u, tamsil_cmdGetFwVer(a, ver, flash));
  EXPECT_STREQ("11.2.1149.0", ver);
  EXPECT_STREQ("11.2.1149.0", flash);

  a->tpe_requested = 1;
  uint32_t st = tamsil_cmdSetUeRecovery(a);
  if (g == Gen::Pivard) {
    EXPECT_EQ(2u, st);
    EXPECT_EQ(0, a->tpe_supported);
    EXPECT_EQ(0u, vmktest::logCount("opcode 191-1 failed"));  // not logged
  } else {
    ASSERT_EQ(0u, st);
    EXPECT_EQ(1, a->tpe_supported);
    EXPECT_EQ(15000, a->ue2rp);
    EXPECT_EQ(5000, a->ue2sr);
  }
}

TEST_P(BuilderTest, LogicalLinkEncodingsAndFallback) {
  Gen g = GetParam();
  if (g == Gen::KS2) {
    EXPECT_EQ(0u, tamsil_setLogicalLinkProperties(a, true, true, false, false, 0));
    EXPECT_EQ(0u, rig->seen(1, 80));
    return;
  }
  struct {
    bool follow, up, f3, f4;
    uint32_t word;
  } cases[] = {{true, true, false, false, 0x101},
               {true, true, true, false, 0x501},
               {true, true, true, true, 0x701},
               {false, false, false, false, 0}};
  for (auto& c : cases) {
    ASSERT_EQ(0u, tamsil_setLogicalLinkProperties(a, c.follow, c.up, c.f3, c.f4, 0));
    auto r = rig->lastRequest(1, 80);
    EXPECT_EQ(2, hdrVersion(r));
    EXPECT_EQ(c.word, rq32(r, 0));
  }
  rig->setFault(1, 80, {.status = 3, .times = 1});
  unsigned before = rig->seen(1, 80);
  EXPECT_EQ(0u, tamsil_setLogicalLinkProperties(a, true, true, false, false, 0));
  EXPECT_EQ(before + 2, rig->seen(1, 80));
  EXPECT_EQ(1, hdrVersion(rig->lastRequest(1, 80)));
  EXPECT_EQ(1u, vmktest::logCount("SET_LOGICAL_LINK_CONFIG V2 failed for domain 0with status 0x3, trying V1"));
}

TEST_P(BuilderTest, SetPortSpeedAdditionalStatus96) {
  rig->setFault(1, 57, {.status = 3, .additional = 96});
  EXPECT_EQ(96u, tamsil_cmdSetPortSpeedV1(a, 0, 13));
  rig->setFault(1, 57, {.status = 3, .additional = 1});
  EXPECT_EQ(3u, tamsil_cmdSetPortSpeedV1(a, 0, 13));
}

TEST_P(BuilderTest, FirmwareObjectsAndLog) {
  std::vector<uint8_t> dump(3000);
  for (size_t i = 0; i < dump.size(); i++) dump[i] = static_cast<uint8_t>(i * 7);
  rig->fw([&](adapter::Engine& e) {
    e.putObject("/dbg/dump.bin", dump);
    return 0;
  });
  uint32_t len = 0;
  ASSERT_EQ(0u, tamsil_cmdGetFwDumpLen(a, &len));
  EXPECT_EQ(3000u, len);
  auto r = rig->lastRequest(1, 171);
  EXPECT_EQ(0u, rq32(r, 0));
  EXPECT_EQ(1u, rq32(r, 112));
  std::vector<uint8_t> out(1000, 0);
  ASSERT_EQ(0u, tamsil_cmdGetFwDump(a, 1000, 1000, out.data()));
  EXPECT_EQ(0, memcmp(out.data(), dump.data() + 1000, 1000));
  r = rig->lastRequest(1, 171);
  EXPECT_EQ(1000u, rq32(r, 0));
  EXPECT_EQ(1000u, rq32(r, 4));
  EXPECT_EQ(1000u, rq32(r, 116));

  // FAT log length: reported 0 leaves the value, 1-4 give 0, more give n - 4.
  struct {
    size_t logBytes;
    uint32_t before, after;
  } fat[] = {{0, 55, 55}, {600, 0, 600}};
  for (auto& c : fat) {
    rig->fw([&](adapter::Engine& e) {
      e.fatLog().assign(c.logBytes, 0xAB);
      return 0;
    });
    uint32_t v = c.before;
    ASSERT_EQ(0u, tamsil_cmdGetFatRegLen(a, &v));
    EXPECT_EQ(c.after, v);
  }
  EXPECT_EQ(1u, rq32(rig->lastRequest(1, 68), 0));
  std::vector<uint8_t> fat2(256, 0);
  ASSERT_EQ(0u, tamsil_cmdGetFatRegs(a, 100, 256, fat2.data()));
  auto fr = rig->lastRequest(1, 68);
  EXPECT_EQ(256u + 36u, fr.size());
  EXPECT_EQ(100u, rq32(fr, 4));
  EXPECT_EQ(256u, rq32(fr, 8));
  EXPECT_EQ(0xAB, fat2[0]);
  EXPECT_EQ(0xAB, fat2[255]);
}

TEST_P(BuilderTest, VpdLogged) {
  a->debug_mask |= TAMSIL_DBG_DRIVER;
  ASSERT_EQ(0u, tamsil_cmdGetVpdData(a));
  EXPECT_EQ(4120u, rig->lastRequest(1, 91).size());
  EXPECT_EQ(1u, vmktest::logCount("Serial Number = EMU1234567890"));
  EXPECT_EQ(1u, vmktest::logCount("Model Name = KM-2P-10G"));
  EXPECT_EQ(1u, vmktest::logCount("Model Desc = Emulated 2-port 10GbE converged adapter"));
  EXPECT_EQ(1u, vmktest::logCount("Program Type = ETH"));
}

TEST(BuilderVpd, WalkStaysInsideTheBuffer) {
  RigOptions o;
  o.mcc = false;
  Rig rig(o);
  ASSERT_TRUE(rig.up());
  rig.a->debug_mask |= TAMSIL_DBG_DRIVER;
  // A read-only section that claims more bytes than there are, with a
  // keyword that runs past the end.
  uint8_t v[16] = {0x90, 0xFF, 0x00, 'S', 'N', 0xF0, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'};
  tamsil_parseVpd(rig.a, v, sizeof v);
  EXPECT_EQ(1u, vmktest::logCount("Serial Number = ABCDEFGHIJ"));
}

}  // namespace

// ---------------------------------------------------------------------------
// Counts and lengths the firmware reports are held to the buffers
// ---------------------------------------------------------------------------

namespace hostile {

// FAT data: claims far more bytes than were asked for.
void fatTooLong(adapter::Engine&, adapter::Cmd& c) {
  c.respond(16);
  c.w32(4, 100000);
}
// Object read: claims to have read far more than the buffer holds.
void readTooLong(adapter::Engine&, adapter::Cmd& c) {
  c.respond(8);
  c.w32(0, 100000);
  c.w32(4, 1);
}
// Profile: 65535 descriptors, all of length 0 (read as 72).
void profileEndless(adapter::Engine&, adapter::Cmd& c) {
  c.respond(c.pcap);
  c.w16(0, 0xFFFF);
}

// Profile with a PCIe and a NIC descriptor but no port descriptor.
void profileNoPort(adapter::Engine&, adapter::Cmd& c) {
  c.respond(4 + 2 * 72);
  c.w32(0, 2);
  c.w8(4, 0x50);
  c.w8(5, 72);
  c.w8(4 + 6, 0);  // PCI function 0
  c.w8(4 + 12, 1);
  c.w16(4 + 16, 5);
  c.w8(76, 0x51);
  c.w8(77, 72);
  c.w16(76 + 24, 9);
  c.w32(76 + 40, 0x1234);
}
// FAT length query answering 3 (less than the 4-byte header of the log).
void fatLength3(adapter::Engine&, adapter::Cmd& c) {
  c.respond(20);
  c.w32(0, 3);
}

}  // namespace hostile

TEST(BuilderConfig, ProfileWithoutPortDescriptor) {
  RigOptions o;
  o.gen = Gen::Veskarn;
  Rig rig(o);
  ASSERT_TRUE(rig.up());
  rig.fw([](adapter::Engine& e) {
    e.registerHandler(1, 164, hostile::profileNoPort);
    e.registerHandler(1, 68, hostile::fatLength3);
    return 0;
  });
  rig.a->function_mode = 7;
  rig.a->features = 0;
  ResourceLimits l;
  memset(&l, 0, sizeof l);
  ASSERT_EQ(0u, tamsil_cmdGetProfileConfig(rig.a, 0, 0, &l));
  EXPECT_EQ(7, rig.a->function_mode);
  EXPECT_EQ(5, l.max_vfs);
  EXPECT_EQ(9, l.max_rx_qs);
  EXPECT_EQ(0x1234u, l.cap_flags);
  EXPECT_TRUE(rig.a->features & TAMSIL_FEAT_SRIOV);
  uint32_t len = 99;
  ASSERT_EQ(0u, tamsil_cmdGetFatRegLen(rig.a, &len));
  EXPECT_EQ(0u, len);
}

TEST(BuilderHostileFirmware, ReportedLengthsClampedToTheBuffers) {
  RigOptions o;
  o.gen = Gen::Veskarn;
  Rig rig(o);
  ASSERT_TRUE(rig.up());
  rig.fw([](adapter::Engine& e) {
    e.registerHandler(1, 68, hostile::fatTooLong);
    e.registerHandler(1, 171, hostile::readTooLong);
    e.registerHandler(1, 164, hostile::profileEndless);
    return 0;
  });
  struct Case {
    const char* name;
    uint32_t asked;
    std::function<uint32_t(Adapter*, uint8_t*, uint32_t)> run;
  } cases[] = {
      {"FAT data", 256, [](Adapter* x, uint8_t* out, uint32_t n) { return tamsil_cmdGetFatRegs(x, 0, n, out); }},
      {"firmware dump", 100, [](Adapter* x, uint8_t* out, uint32_t n) { return tamsil_cmdGetFwDump(x, 0, n, out); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> out(c.asked + 64, 0x5A);
    EXPECT_EQ(0u, c.run(rig.a, out.data(), c.asked));
    for (size_t i = c.asked; i < out.size(); i++) ASSERT_EQ(0x5A, out[i]) << "byte " << i;
  }
  ResourceLimits l;
  memset(&l, 0, sizeof l);
  EXPECT_EQ(0u, tamsil_cmdGetProfileConfig(rig.a, 0, 0, &l));
  EXPECT_EQ(0, l.max_rx_qs);  // no NIC descriptor among them
}
