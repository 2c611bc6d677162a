// The management channel's callbacks as a client sees them: how a request
// finds its function, the declared parameters and the byte layout of every
// answer, the information callbacks, the debug mask and the statistics.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "mgmt_fixture.h"
#include "tamsil_stats.h"

namespace {

using adapter::Gen;
using Client = vmktest::MgmtClient;

constexpr uint32_t kUntouched = 0x5A5A5A5A;

// ---------------------------------------------------------------------------
// Finding the function
// ---------------------------------------------------------------------------

// The checks of a request in their order, through a callback (link state)
// and through the look-up itself.
TEST_F(MgmtTest, RequestFindsItsFunctionOrIsRefused) {
  ASSERT_NE(nullptr, upOne(Gen::Veskarn));
  struct Case {
    const char* what;
    vmk_MgmtCookie cookie;
    bool header, buffer;
    std::string name;  // empty: the attached function's
    bool quiesced;
    VMK_ReturnStatus result;
    uint32_t status;
    bool found;
  } cases[] = {
      {"bad cookie", 7, true, true, "", false, VMK_BAD_PARAM, VMK_BAD_PARAM, false},
      {"no buffer", TAMSIL_MGMT_COOKIE, true, false, "", false, VMK_BAD_PARAM, VMK_BAD_PARAM, false},
      {"no header", TAMSIL_MGMT_COOKIE, false, true, "", false, VMK_BAD_PARAM, kUntouched, false},
      {"unknown name", TAMSIL_MGMT_COOKIE, true, true, "0000:009:00.0", false, VMK_NOT_FOUND, VMK_NOT_FOUND, false},
      {"name of 16 characters", TAMSIL_MGMT_COOKIE, true, true, "0000:003:00.0XYZ", false, VMK_NOT_FOUND,
       VMK_NOT_FOUND, false},
      {"quiesced", TAMSIL_MGMT_COOKIE, true, true, "", true, VMK_BUSY, 0, true},
      {"good", TAMSIL_MGMT_COOKIE, true, true, "", false, VMK_OK, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> hdr = Client::header(c.name.empty() ? std::string(a_->pci_name) : "", 0, 0, kUntouched);
    if (!c.name.empty()) memcpy(hdr.data(), c.name.data(), c.name.size());
    std::vector<uint8_t> buf(4, 0xEE);
    if (c.quiesced) vmk_BitVectorAtomicSet(a_->flags, TAMSIL_FLAG_DEV_QUIESCED);
    VMK_ReturnStatus r = callback(TAMSIL_MGMT_LINK_STATE)(c.cookie, 0, c.header ? hdr.data() : nullptr,
                                                          c.buffer ? buf.data() : nullptr);
    EXPECT_EQ(c.result, r);
    EXPECT_EQ(c.status, Client::get32(hdr, 24));
    if (c.result == VMK_OK) EXPECT_EQ(a_->shared_data.link.state, Client::get32(buf, 0));
    else EXPECT_EQ(0xEEEEEEEEu, Client::get32(buf, 0));
    Adapter* found = tamsil_mgmtGetAdapter(c.cookie, c.header ? reinterpret_cast<MgmtRequestHeader*>(hdr.data())
                                                              : nullptr,
                                           c.buffer ? buf.data() : nullptr);
    EXPECT_EQ(c.found ? a_ : nullptr, found);
    if (c.quiesced) vmk_BitVectorAtomicClear(a_->flags, TAMSIL_FLAG_DEV_QUIESCED);
    EXPECT_EQ(0u, vmk_AtomicRead64(&a_->mgmt_in_flight));
  }
  EXPECT_GE(logged("cookie(0x7) != TAMSIL_MGMT_COOKIE(0x0)"), 2u);
  EXPECT_GE(logged("0000:009:00.0: Failed to find node in vmkDevice table status: 0xbad0003"), 2u);
}

// ---------------------------------------------------------------------------
// What the channel declares and the layouts of its answers
// ---------------------------------------------------------------------------

TEST(MgmtLayout, ChannelDeclaresEveryCallback) {
  struct Row {
    uint64_t id;
    vmk_ByteCount size;
    uint32_t type;  // of the second parameter: 1 written by the driver, 2 read and written
  } rows[] = {{16, 12288, 1}, {17, 1540, 1}, {18, 65536, 2}, {19, 785, 1},   {20, 4, 1},     {21, 167, 1},
              {22, 192, 1},   {23, 24, 1},   {24, 16, 1},    {25, 6, 1},     {26, 4, 1},     {27, 50404, 1},
              {28, 9604, 1},  {29, 4, 1},    {30, 64008, 2}, {31, 4, 2},     {32, 38404, 1}, {33, 264, 2},
              {34, 32768, 1}};
  ASSERT_EQ(std::size(rows), tamsil_mgmtSignature.numCallbacks);
  EXPECT_STREQ("tamsilMgmtToKernel", tamsil_mgmtSignature.name.string);
  for (size_t i = 0; i < std::size(rows); i++) {
    SCOPED_TRACE(rows[i].id);
    const vmk_MgmtCallbackInfo& cb = tamsil_mgmtSignature.callbacks[i];
    EXPECT_EQ(rows[i].id, cb.callbackId);
    EXPECT_EQ(VMK_MGMT_CALLBACK_LOCATION_KERNEL, cb.location);
    EXPECT_EQ(1u, cb.synchronous);
    EXPECT_EQ(2u, cb.numParameters);
    EXPECT_EQ(28u, cb.parameterSizes[0]);
    EXPECT_EQ(uint32_t{VMK_MGMT_PARMTYPE_INOUT}, cb.parameterTypes[0]);
    EXPECT_EQ(rows[i].size, cb.parameterSizes[1]);
    EXPECT_EQ(rows[i].type, cb.parameterTypes[1]);
  }
}

#define FIELD(type, field, at) {#type "." #field, offsetof(type, field), at}
TEST(MgmtLayout, EveryAnswerHasItsSizeAndOffsets) {
  struct Row {
    const char* what;
    size_t got, want;
  } rows[] = {
      {"MgmtRequestHeader", sizeof(MgmtRequestHeader), 28},
      FIELD(MgmtRequestHeader, operation, 16),
      FIELD(MgmtRequestHeader, length, 20),
      FIELD(MgmtRequestHeader, status, 24),
      {"tamsil_mgmtSbdfEntry", sizeof(tamsil_mgmtSbdfEntry), 48},
      FIELD(tamsil_mgmtSbdfEntry, uplink_name, 16),
      {"tamsil_mgmtSbdfList", sizeof(tamsil_mgmtSbdfList), 1540},
      FIELD(tamsil_mgmtSbdfList, count, 1536),
      {"tamsil_mgmtSbdfListV1", sizeof(tamsil_mgmtSbdfListV1), 38404},
      FIELD(tamsil_mgmtSbdfListV1, count, 38400),
      {"tamsil_mgmtVfInfo", sizeof(tamsil_mgmtVfInfo), 12},
      FIELD(tamsil_mgmtVfInfo, pvid, 6),
      FIELD(tamsil_mgmtVfInfo, speed, 8),
      FIELD(tamsil_mgmtVfInfo, valid, 10),
      {"tamsil_mgmtDrvInfo", sizeof(tamsil_mgmtDrvInfo), 785},
      FIELD(tamsil_mgmtDrvInfo, vf, 1),
      FIELD(tamsil_mgmtDrvInfo, link_down_reason, 769),
      FIELD(tamsil_mgmtDrvInfo, link_state, 770),
      FIELD(tamsil_mgmtDrvInfo, mtu, 771),
      FIELD(tamsil_mgmtDrvInfo, reserved, 773),
      {"tamsil_mgmtLinkStatus", sizeof(tamsil_mgmtLinkStatus), 167},
      FIELD(tamsil_mgmtLinkStatus, duplex, 4),
      FIELD(tamsil_mgmtLinkStatus, modes, 8),
      FIELD(tamsil_mgmtLinkStatus, num_modes, 136),
      FIELD(tamsil_mgmtLinkStatus, port, 140),
      FIELD(tamsil_mgmtLinkStatus, phy, 141),
      FIELD(tamsil_mgmtLinkStatus, full_duplex, 142),
      {"tamsil_mgmtDriverInfo", sizeof(tamsil_mgmtDriverInfo), 192},
      FIELD(tamsil_mgmtDriverInfo, driver_version, 32),
      FIELD(tamsil_mgmtDriverInfo, fw_version, 64),
      FIELD(tamsil_mgmtDriverInfo, driver_type, 96),
      FIELD(tamsil_mgmtDriverInfo, reserved, 128),
      {"tamsil_mgmtWolState", sizeof(tamsil_mgmtWolState), 24},
      FIELD(tamsil_mgmtWolState, enabled, 4),
      {"tamsil_mgmtCoalesce", sizeof(tamsil_mgmtCoalesce), 16},
      FIELD(tamsil_mgmtCoalesce, tx_delay, 8),
      {"tamsil_mgmtFatChunk", sizeof(tamsil_mgmtFatChunk), 64008},
      FIELD(tamsil_mgmtFatChunk, offset, 64000),
      FIELD(tamsil_mgmtFatChunk, length, 64004),
      {"tamsil_mgmtCfgRead", sizeof(tamsil_mgmtCfgRead), 264},
      FIELD(tamsil_mgmtCfgRead, length, 4),
      FIELD(tamsil_mgmtCfgRead, data, 8),
  };
  for (const Row& r : rows) EXPECT_EQ(r.want, r.got) << r.what;
}
#undef FIELD

// ---------------------------------------------------------------------------
// Information callbacks
// ---------------------------------------------------------------------------

// Callback 19 with four VFs: per VF its current MAC, port VLAN (12 bits) and
// the link speed in 10 Mbps units; then the link and the MTU.
TEST_F(MgmtTest, DriverInfoListsTheVfs) {
  ASSERT_NE(nullptr, upOne(Gen::Veskarn, "max_vfs=4"));
  ASSERT_EQ(4u, a_->num_vfs);
  ASSERT_NO_FATAL_FAILURE(parkWorker());
  a_->vf_cfg[1].pvlan_id = 0x1064;   // bits above 12 are not the VLAN's
  a_->vf_cfg[3].pvlan_id = 0xFFFF;   // port VLAN disabled
  a_->link.link_speed = 25000;
  a_->link.link_down_reason = 5;
  std::vector<uint8_t> b = param(TAMSIL_MGMT_DRV_INFO);
  auto r = call(TAMSIL_MGMT_DRV_INFO, a_, &b);
  ASSERT_EQ(VMK_OK, r.result);
  EXPECT_EQ(0u, r.status);
  EXPECT_EQ(4, b[0]);
  const uint16_t pvid[4] = {static_cast<uint16_t>(a_->vf_cfg[0].pvlan_id & 0xFFF), 0x064,
                            static_cast<uint16_t>(a_->vf_cfg[2].pvlan_id & 0xFFF), 0xFFF};
  for (unsigned i = 0; i < 4; i++) {
    SCOPED_TRACE(i);
    const size_t at = 1 + 12 * i;
    EXPECT_EQ(0, memcmp(&b[at], a_->vf_cfg[i].mac, 6));
    EXPECT_EQ(pvid[i], Client::get16(b, at + 6));
    EXPECT_EQ(2500u, Client::get16(b, at + 8));
    EXPECT_EQ(1, b[at + 10]);
    EXPECT_EQ(0, b[at + 11]);
  }
  EXPECT_TRUE(zeroed(b, 1 + 12 * 4, 769));
  EXPECT_EQ(5, b[769]);
  EXPECT_EQ(a_->shared_data.link.state, b[770]);
  EXPECT_EQ(a_->mtu, Client::get16(b, 771));
  EXPECT_TRUE(zeroed(b, 773, 785));
}

// Callback 21: the uplink's link, its supported modes, the port, and the
// PHY and full-duplex flags.
TEST_F(MgmtTest, LinkStatusLayout) {
  ASSERT_NE(nullptr, upOne(Gen::KS3));
  ASSERT_GT(a_->num_supported_modes, 0u);
  ASSERT_NO_FATAL_FAILURE(parkWorker());
  struct Case {
    uint16_t phy;
    uint32_t duplex;
    uint8_t phyFlag, full;
  } cases[] = {{4, 2, 0, 1}, {5, 1, 0, 0}, {11, 2, 0, 1}, {12, 2, 0, 1}, {3, 2, 1, 1}, {0, 0, 1, 0}};
  const tamsil_linkStatus saved = a_->shared_data.link;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.phy);
    a_->link.phy_type = c.phy;
    a_->shared_data.link.duplex = c.duplex;
    a_->shared_data.link.speed = 10000;
    std::vector<uint8_t> b = param(TAMSIL_MGMT_LINK_STATUS);
    ASSERT_EQ(VMK_OK, call(TAMSIL_MGMT_LINK_STATUS, a_, &b).result);
    EXPECT_EQ(10000u, Client::get32(b, 0));
    EXPECT_EQ(c.duplex, Client::get32(b, 4));
    ASSERT_EQ(a_->num_supported_modes, Client::get32(b, 136));
    for (uint32_t m = 0; m < 16; m++) {
      const bool used = m < a_->num_supported_modes;
      EXPECT_EQ(used ? a_->supported_modes[m].speed : 0u, Client::get32(b, 8 + 8 * m)) << "mode " << m;
      EXPECT_EQ(used ? a_->supported_modes[m].duplex : 0u, Client::get32(b, 12 + 8 * m)) << "mode " << m;
    }
    EXPECT_EQ(a_->port_num, b[140]);
    EXPECT_EQ(c.phyFlag, b[141]);
    EXPECT_EQ(c.full, b[142]);
    EXPECT_TRUE(zeroed(b, 143, 167));
  }
  a_->shared_data.link = saved;
}

// Callback 21 on a port as the card reports it: a port that auto-negotiates
// (speed code 0, capabilities set) lists its speeds and then the
// auto-negotiation entry, speed 0 with duplex 0xFFFFFFFF; a port forced to
// a speed has no such entry.
TEST_F(MgmtTest, LinkStatusModesOfAnEmulatedPort) {
  struct Case {
    const char* what;
    uint16_t speedCode;
    std::vector<std::pair<uint32_t, uint32_t>> modes;
  } cases[] = {{"auto-negotiated", 0, {{1000, 2}, {10000, 2}, {0, 0xFFFFFFFFu}}},
               {"forced to 10000", 1, {{1000, 2}, {10000, 2}}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    adapter::AdapterConfig cfg = adapter::adapterDefaults(Gen::Veskarn, 1);
    cfg.fw.phy_if_type = 10;
    cfg.fw.speed_caps = cfg.fw.speed_caps2 = 0x0C;
    card_ = &newCard(cfg);
    {
      std::lock_guard<std::mutex> g(card_->lock());
      card_->engine().port(card_->engine().portOfFunction(0)).port_speed_code = c.speedCode;
    }
    a_ = up(*card_, 0, "vmnic1");
    ASSERT_NE(nullptr, a_);
    std::vector<uint8_t> b = param(TAMSIL_MGMT_LINK_STATUS);
    ASSERT_EQ(VMK_OK, call(TAMSIL_MGMT_LINK_STATUS, a_, &b).result);
    ASSERT_EQ(c.modes.size(), Client::get32(b, 136));
    std::vector<std::pair<uint32_t, uint32_t>> got;
    for (size_t m = 0; m < c.modes.size(); m++) got.push_back({Client::get32(b, 8 + 8 * m), Client::get32(b, 12 + 8 * m)});
    EXPECT_EQ(c.modes, got);
    EXPECT_TRUE(zeroed(b, 8 + 8 * c.modes.size(), 136));
    TearDown();
    SetUp();
  }
}

// Callbacks 20 and 22-25 read their Adapter fields into their layouts.
TEST_F(MgmtTest, SmallInformationCallbacks) {
  ASSERT_NE(nullptr, upOne(Gen::Pivard));
  ASSERT_NO_FATAL_FAILURE(parkWorker());
  a_->shared_data.link.state = 1;
  a_->eq_delay[0].cur_eqd = 48;
  a_->eq_delay[1].cur_eqd = 96;
  struct Wol {
    uint8_t cap, enabled;
    uint32_t supported, on;
  } wol[] = {{0, 1, 0, 0}, {1, 0, 0x20, 0}, {1, 1, 0x20, 0x20}};
  for (const Wol& w : wol) {
    a_->wol_cap = w.cap;
    a_->wol_enabled = w.enabled;
    std::vector<uint8_t> b = param(TAMSIL_MGMT_WOL_STATE);
    ASSERT_EQ(VMK_OK, call(TAMSIL_MGMT_WOL_STATE, a_, &b).result);
    EXPECT_EQ(w.supported, Client::get32(b, 0));
    EXPECT_EQ(w.on, Client::get32(b, 4));
    EXPECT_EQ(std::vector<uint8_t>(16, 0), std::vector<uint8_t>(b.begin() + 8, b.end()));
  }

  std::vector<uint8_t> b = param(TAMSIL_MGMT_LINK_STATE);
  ASSERT_EQ(VMK_OK, call(TAMSIL_MGMT_LINK_STATE, a_, &b).result);
  EXPECT_EQ(1u, Client::get32(b, 0));

  b = param(TAMSIL_MGMT_COALESCE);
  ASSERT_EQ(VMK_OK, call(TAMSIL_MGMT_COALESCE, a_, &b).result);
  EXPECT_EQ(48u, Client::get32(b, 0));
  EXPECT_EQ(0u, Client::get32(b, 4));
  EXPECT_EQ(48u, Client::get32(b, 8));
  EXPECT_EQ(0u, Client::get32(b, 12));

  b = param(TAMSIL_MGMT_PERM_MAC);
  ASSERT_EQ(VMK_OK, call(TAMSIL_MGMT_PERM_MAC, a_, &b).result);
  EXPECT_EQ(0, memcmp(b.data(), a_->uplink_reg.perm_mac, 6));

  b = param(TAMSIL_MGMT_DRIVER_INFO);
  ASSERT_EQ(VMK_OK, call(TAMSIL_MGMT_DRIVER_INFO, a_, &b).result);
  EXPECT_EQ(TAMSIL_DRIVER_NAME, Client::text(b, 0, 32));
  EXPECT_EQ(TAMSIL_DRIVER_VERSION, Client::text(b, 32, 32));
  EXPECT_EQ(std::string(a_->uplink_reg.fw_version), Client::text(b, 64, 32));
  EXPECT_FALSE(Client::text(b, 64, 32).empty());
  EXPECT_EQ("native", Client::text(b, 96, 32));
  // Each text is NUL-padded to its 32 bytes; the last 64 bytes are zero.
  for (size_t at = 0; at < 128; at += 32) EXPECT_TRUE(zeroed(b, at + Client::text(b, at, 32).size(), at + 32));
  EXPECT_TRUE(zeroed(b, 128, 192));
}

// ---------------------------------------------------------------------------
// Debug mask
// ---------------------------------------------------------------------------

TEST_F(MgmtTest, DebugMaskSetAndGet) {
  ASSERT_NE(nullptr, upOne(Gen::KS3));
  struct Step {
    uint32_t op, value;
    uint32_t maskAfter, answer;
    size_t traced;  // lines of the adapter's 0x80 messages
  } steps[] = {
      {2, 0x80, 0x80, 0x80, 0},  // set: the old mask has no 0x80, so no line
      {0, 0xEEEE, 0x80, 0x80, 1},
      {1, 0xEEEE, 0x80, 0x80, 1},  // any operation but 2 reads
      {2, 0x10, 0x10, 0x10, 1},    // the line is written under the old mask
      {0, 0xEEEE, 0x10, 0x10, 0},
  };
  __atomic_store_n(&a_->debug_mask, 0x1u, __ATOMIC_RELAXED);
  for (const Step& s : steps) {
    SCOPED_TRACE(s.op);
    vmktest::clearLog();
    std::vector<uint8_t> b(4);
    Client::put32(b, 0, s.value);
    auto r = call(TAMSIL_MGMT_DEBUG_MASK, a_, &b, s.op);
    ASSERT_EQ(VMK_OK, r.result);
    EXPECT_EQ(s.maskAfter, a_->debug_mask);
    EXPECT_EQ(s.answer, Client::get32(b, 0));
    EXPECT_EQ(s.traced, logged("debugMask is 0x") + logged("Setting debugMask to 0x"));
  }
}

// ---------------------------------------------------------------------------
// Statistics
// ---------------------------------------------------------------------------

// Callbacks 16 and 34 copy the first `length` bytes of the text, at most
// their buffer; a failed look-up answers with a text of its own.
TEST_F(MgmtTest, StatisticsTextLength) {
  ASSERT_NE(nullptr, upOne(Gen::KS3));
  std::vector<char> ref(TAMSIL_PSTATS_BUF_LEN, 0);
  ASSERT_EQ(VMK_OK, tamsil_mgmtStatsGet(a_, ref.data(), TAMSIL_PSTATS_TEXT_LEN));
  const size_t textLen = strlen(ref.data());
  ASSERT_GT(textLen, 200u);
  // The text's first 100 bytes stay the same while the device runs; the
  // counters further on may move between two reads.
  struct Case {
    uint64_t id;
    uint32_t length;
    size_t copied;  // exact bytes; 0: as much of the text as fits
  } cases[] = {
      {16, 100, 100}, {34, 100, 100}, {16, 0, 0}, {16, 0xFFFFFFFF, 0}, {34, 0xFFFFFFFF, 0},
  };
  const std::vector<std::string> lines = statLines(ref.data(), ref.size());
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.id << " length " << c.length);
    std::vector<uint8_t> b = param(c.id);
    auto r = call(c.id, a_, &b, 0, c.length);
    ASSERT_EQ(VMK_OK, r.result);
    EXPECT_EQ(0u, r.status);
    size_t end = c.copied;
    if (c.length == 0xFFFFFFFF) {
      end = strnlen(reinterpret_cast<const char*>(b.data()), b.size());
      std::vector<std::string> got = statLines(b);
      if (end == b.size()) {
        // Cut at the buffer's end: the lines that fit.
        ASSERT_LT(got.size(), lines.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), lines.begin()));
      } else {
        EXPECT_EQ(lines, got);
      }
    } else {
      EXPECT_EQ(0, memcmp(b.data(), ref.data(), c.copied));
    }
    EXPECT_TRUE(zeroed(b, end, b.size()));
  }

  for (uint64_t id : {16u, 34u}) {
    std::vector<uint8_t> b = param(id);
    auto r = client_.call(id, "0000:077:00.0", &b, 0, 100);
    EXPECT_EQ(VMK_NOT_FOUND, r.result);
    EXPECT_EQ(uint32_t{VMK_NOT_FOUND}, r.status);
    EXPECT_EQ(TAMSIL_MGMT_INVALID_SBDF_TEXT, Client::text(b, 0, b.size()));
    EXPECT_TRUE(zeroed(b, sizeof TAMSIL_MGMT_INVALID_SBDF_TEXT, b.size()));
  }
}

// Callbacks 26-28 with more rows than their tables hold: every one stops at
// the 1200th row and they agree with each other.
TEST_F(MgmtTest, StatisticsTablesStopAt1200Rows) {
  ASSERT_NE(nullptr, upOne(Gen::Veskarn));
  ASSERT_NO_FATAL_FAILURE(parkWorker());
  // Rows come per ring: the Adapter is made to count 32 rings of each kind
  // for the reads, then put back.
  struct Saved {
    vmk_uint32 vectors, eqDelay, txqs, features;
    vmk_uint8 rxq[TAMSIL_MAX_VECTORS], rxcq[TAMSIL_MAX_VECTORS], txq[TAMSIL_MAX_VECTORS], txcq[TAMSIL_MAX_VECTORS];
  } s{a_->num_vectors, a_->num_eq_delay, a_->num_tx_queues, a_->features, {}, {}, {}, {}};
  for (unsigned i = 0; i < TAMSIL_MAX_VECTORS; i++) {
    s.rxq[i] = a_->rxo[i].rxq.created;
    s.rxcq[i] = a_->rxo[i].cq.created;
    s.txq[i] = a_->txo[i].q.created;
    s.txcq[i] = a_->txo[i].cq.created;
    a_->rxo[i].rxq.created = a_->rxo[i].cq.created = a_->txo[i].q.created = a_->txo[i].cq.created = 1;
  }
  a_->num_vectors = a_->num_eq_delay = a_->num_tx_queues = TAMSIL_MAX_VECTORS;
  a_->features |= TAMSIL_FEAT_VXLAN_OFFLOAD;

  std::vector<uint8_t> count = param(TAMSIL_MGMT_STAT_COUNT), names = param(TAMSIL_MGMT_STAT_STRINGS),
                       values = param(TAMSIL_MGMT_STATS);
  EXPECT_EQ(VMK_OK, call(TAMSIL_MGMT_STAT_COUNT, a_, &count).result);
  EXPECT_EQ(VMK_OK, call(TAMSIL_MGMT_STAT_STRINGS, a_, &names).result);
  EXPECT_EQ(VMK_OK, call(TAMSIL_MGMT_STATS, a_, &values).result);
  std::vector<char> text(TAMSIL_PSTATS_BUF_LEN, 0);
  tamsil_mgmtStatsGet(a_, text.data(), TAMSIL_PSTATS_TEXT_LEN);

  for (unsigned i = 0; i < TAMSIL_MAX_VECTORS; i++) {
    a_->rxo[i].rxq.created = s.rxq[i];
    a_->rxo[i].cq.created = s.rxcq[i];
    a_->txo[i].q.created = s.txq[i];
    a_->txo[i].cq.created = s.txcq[i];
  }
  a_->num_vectors = s.vectors;
  a_->num_eq_delay = s.eqDelay;
  a_->num_tx_queues = s.txqs;
  a_->features = s.features;

  EXPECT_EQ(1200u, Client::get32(count, 0));
  EXPECT_EQ(1200u, Client::get32(names, 0));
  EXPECT_EQ(1200u, Client::get32(values, 0));
  // Every slot is used; each row's name and value are the text's line.
  const std::string all(text.data());
  for (size_t row = 0; row < 1200; row++) {
    const std::string name = Client::text(names, 4 + 42 * row, 42);
    ASSERT_FALSE(name.empty()) << "row " << row;
    uint64_t v;
    memcpy(&v, &values[4 + 8 * row], 8);
    ASSERT_NE(std::string::npos, all.find("\n" + name + " " + std::to_string(v) + "\n")) << name;
  }
}

}  // namespace
