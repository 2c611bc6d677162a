// The channel across functions and their life: the function lists over many
// attached functions, requests to two adapters at once, and requests that
// meet a device being quiesced and detached.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mgmt_fixture.h"

namespace {

using adapter::Gen;
using Client = vmktest::MgmtClient;

// 40 functions: five cards of eight functions on buses 3 to 7. Callback 32
// lists all of them, callback 17 the first 32 of the same walk.
TEST_F(MgmtTest, FunctionListsOfFortyFunctions) {
  std::set<std::pair<std::string, std::string>> want;
  for (unsigned c = 0; c < 5; c++) {
    adapter::AdapterConfig cfg = adapter::adapterDefaults(Gen::Veskarn, 8);
    cfg.mode = adapter::Mode::Sync;  // no device thread per card
    cfg.bus = static_cast<uint8_t>(3 + c);
    adapter::Adapter& card = newCard(cfg);
    for (unsigned f = 0; f < 8; f++) {
      const std::string name = "vmnic" + std::to_string(8 * c + f);
      Adapter* a = up(card, f, name);
      ASSERT_NE(nullptr, a) << name;
      want.insert({a->pci_name, name});
    }
  }
  ASSERT_EQ(40u, want.size());

  std::vector<uint8_t> v1 = MgmtTest::param(TAMSIL_MGMT_ENUM_SBDF_V1);
  auto r = client_.call(TAMSIL_MGMT_ENUM_SBDF_V1, "", &v1);
  ASSERT_EQ(VMK_OK, r.result);
  EXPECT_EQ(0u, r.status) << "left as the client sent it";
  ASSERT_EQ(40u, Client::get32(v1, 38400));
  std::set<std::pair<std::string, std::string>> got;
  for (size_t i = 0; i < 40; i++) got.insert({Client::text(v1, 48 * i, 16), Client::text(v1, 48 * i + 16, 32)});
  EXPECT_EQ(want, got);
  EXPECT_TRUE(zeroed(v1, 48 * 40, 38400));
  EXPECT_EQ("0000:003:00.0", Client::text(v1, 0, 16));

  std::vector<uint8_t> v0 = MgmtTest::param(TAMSIL_MGMT_ENUM_SBDF);
  r = client_.call(TAMSIL_MGMT_ENUM_SBDF, "", &v0);
  ASSERT_EQ(VMK_OK, r.result);
  EXPECT_EQ(32u, Client::get32(v0, 1536));
  EXPECT_TRUE(std::equal(v0.begin(), v0.begin() + 1536, v1.begin()));

  // Refusals: another cookie, no buffer.
  for (uint64_t id : {TAMSIL_MGMT_ENUM_SBDF, TAMSIL_MGMT_ENUM_SBDF_V1}) {
    SCOPED_TRACE(id);
    std::vector<uint8_t> hdr = Client::header("");
    std::vector<uint8_t> b = MgmtTest::param(id);
    EXPECT_EQ(VMK_NOT_FOUND, callback(id)(1, 0, hdr.data(), b.data()));
    EXPECT_EQ(uint32_t{VMK_NOT_FOUND}, Client::get32(hdr, 24));
    EXPECT_EQ(0xEEEEEEEEu, Client::get32(b, 0));
    hdr = Client::header("");
    EXPECT_EQ(VMK_NOT_FOUND, callback(id)(TAMSIL_MGMT_COOKIE, 0, hdr.data(), nullptr));
    EXPECT_EQ(uint32_t{VMK_NOT_FOUND}, Client::get32(hdr, 24));
  }
  EXPECT_EQ(2u, logged("mgmtSbdf is NULL"));
}

// A failed walk or scratch allocation answers 0xbad0003 in the header; a
// walk step called for another table adds nothing.
TEST_F(MgmtTest, FunctionListFailures) {
  ASSERT_NE(nullptr, upOne(Gen::KS3));
  ASSERT_NO_FATAL_FAILURE(parkWorker());  // its commands take pool pages too
  struct Case {
    uint64_t id;
    const char* service;
    VMK_ReturnStatus result;
    const char* line;
  } cases[] = {
      {TAMSIL_MGMT_ENUM_SBDF_V1, "vmk_HashKeyIterate", VMK_FAILURE, "vmk_HashKeyIterate failed"},
      {TAMSIL_MGMT_ENUM_SBDF, "vmk_HashKeyIterate", VMK_FAILURE, "vmk_HashKeyIterate failed"},
      {TAMSIL_MGMT_ENUM_SBDF, "vmk_MemPoolAlloc", VMK_NOT_FOUND, "mpoolAlloc failed for mgmtSbdfV1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.service);
    vmktest::clearLog();
    vmktest::failCall(c.service, 1);
    std::vector<uint8_t> b = param(c.id);
    auto r = client_.call(c.id, "", &b);
    vmktest::clearFailures();
    EXPECT_EQ(c.result, r.result);
    EXPECT_EQ(uint32_t{VMK_NOT_FOUND}, r.status);
    EXPECT_EQ(1u, logged(c.line));
  }
  // The pool's page counts: the scratch block went back.
  std::vector<uint8_t> b = param(TAMSIL_MGMT_ENUM_SBDF);
  vmktest::PoolInfo before, after;
  ASSERT_TRUE(vmktest::poolInfo(TAMSIL_DRIVER_NAME, &before));
  ASSERT_EQ(VMK_OK, client_.call(TAMSIL_MGMT_ENUM_SBDF, "", &b).result);
  ASSERT_TRUE(vmktest::poolInfo(TAMSIL_DRIVER_NAME, &after));
  EXPECT_EQ(before.pagesInUse, after.pagesInUse);
  EXPECT_EQ(1u, Client::get32(b, 1536));

  tamsil_mgmtSbdfListV1 list{};
  vmk_AddrCookie data;
  data.ptr = &list;
  EXPECT_EQ(VMK_HASH_KEY_ITER_CMD_CONTINUE,
            tamsil_vmkdevHTableIterator(a_->vxlan_table, const_cast<char*>("0000:003:00.0"), nullptr, data));
  EXPECT_EQ(0u, list.count);
  EXPECT_EQ(1u, logged("hashTable != tamsil_vmkdevHashTblNode"));
}

// Callbacks 16 and 34 on two adapters at once: each text is its adapter's
// whole, never mixed with the other's.
TEST_F(MgmtTest, StatisticsOfTwoAdaptersAtOnce) {
  adapter::Adapter& card = newCard(adapter::adapterDefaults(Gen::Veskarn, 2));
  Adapter* a = up(card, 0, "vmnic1");
  // A different generation on another bus, so its text differs.
  adapter::AdapterConfig cfg = adapter::adapterDefaults(Gen::KS3, 1);
  cfg.bus = 4;
  adapter::Adapter& other = newCard(cfg);
  Adapter* b = up(other, 0, "vmnic2");
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  std::vector<uint8_t> refA = param(TAMSIL_MGMT_PRIV_STATS_V1), refB = param(TAMSIL_MGMT_PRIV_STATS);
  ASSERT_EQ(VMK_OK, call(TAMSIL_MGMT_PRIV_STATS_V1, a, &refA, 0, 0xFFFFFFFF).result);
  ASSERT_EQ(VMK_OK, call(TAMSIL_MGMT_PRIV_STATS, b, &refB, 0, 0xFFFFFFFF).result);
  const std::vector<std::string> namesA = statLines(refA), namesB = statLines(refB);
  ASSERT_NE(namesA, namesB);

  std::atomic<int> bad{0};
  auto run = [&](uint64_t id, Adapter* ad, const std::vector<std::string>& names) {
    for (int i = 0; i < 40; i++) {
      std::vector<uint8_t> buf = MgmtTest::param(id);
      if (client_.call(id, ad->pci_name, &buf, 0, 0xFFFFFFFF).result != VMK_OK || statLines(buf) != names) bad++;
    }
  };
  std::thread t1(run, TAMSIL_MGMT_PRIV_STATS_V1, a, std::cref(namesA));
  std::thread t2(run, TAMSIL_MGMT_PRIV_STATS, b, std::cref(namesB));
  t1.join();
  t2.join();
  EXPECT_EQ(0, bad.load());
  EXPECT_EQ(0u, vmk_AtomicRead64(&a->mgmt_in_flight));
  EXPECT_EQ(0u, vmk_AtomicRead64(&b->mgmt_in_flight));
}

// The thread that detaches (see the hook below).
thread_local bool detacherThread = false;

// A request held inside the driver (in a configuration read) while the device
// is quiesced and detached: later requests are refused (busy while quiesced,
// not found once the function left the table), detach waits for the held
// request, and the held request finishes on a live Adapter.
TEST_F(MgmtTest, RequestsWhileTheDeviceGoesAway) {
  ASSERT_NE(nullptr, upOne(Gen::Pivard));
  const std::string name = a_->pci_name;
  ASSERT_TRUE(holdConfigRead(name));
  EXPECT_EQ(1u, vmk_AtomicRead64(&a_->mgmt_in_flight));

  // Quiesce gives up waiting for the held request after its bound; the
  // device stays refused from then on.
  EXPECT_EQ(VMK_OK, vmktest::quiesceDevice(uplinks_[0].dev));
  EXPECT_EQ(1u, logged("Some Mgmt operations are still pending, mgmtRequestsInFlight != 0 (1)"));
  std::vector<uint8_t> b = param(TAMSIL_MGMT_LINK_STATE);
  auto r = call(TAMSIL_MGMT_LINK_STATE, a_, &b);
  EXPECT_EQ(VMK_BUSY, r.result);
  EXPECT_EQ(0u, r.status) << "the function was found";
  EXPECT_EQ(0xEEEEEEEEu, Client::get32(b, 0));

  // The kernel takes the uplink away, then detaches the device.
  const Uplink u = uplinks_[0];
  vmktest::netPollDrain();
  vmktest::uplinkDisassociate(regDataOf(u.child), u.uplink);
  vmktest::removeDevice(u.child);
  forget(u.dev);
  // Detach waits for requests in flight once the command channel is closed,
  // sleeping between looks: its first such sleep shows it waiting. (After
  // that the Adapter is not looked at: it may be gone.)
  std::atomic<bool> detached{false}, detachWaits{false};
  Adapter* const a = a_;
  vmktest::onCall("vmk_WorldSleep", [&] {
    if (detacherThread && !detachWaits && a->mbox_closed) detachWaits = true;
  });
  VMK_ReturnStatus detachResult = VMK_FAILURE;
  std::thread detacher([&] {
    detacherThread = true;
    detachResult = vmktest::detachDevice(u.dev);
    detached = true;
  });
  ASSERT_TRUE(vmktest::waitFor([&] {
    std::vector<uint8_t> p = MgmtTest::param(TAMSIL_MGMT_LINK_STATE);
    return client_.call(TAMSIL_MGMT_LINK_STATE, name, &p).result == VMK_NOT_FOUND;
  }));
  // Detach reaches its wait for the held request and stays there.
  ASSERT_TRUE(vmktest::waitFor([&] { return detachWaits.load(); }));
  EXPECT_FALSE(detached.load());
  EXPECT_EQ(1u, vmk_AtomicRead64(&a->mgmt_in_flight));

  EXPECT_EQ(VMK_OK, releaseHeld());
  detacher.join();
  vmktest::onCall("vmk_WorldSleep", nullptr);
  EXPECT_EQ(card_->function(0)->configRead(0, 4), Client::get32(held_, 8));
  EXPECT_EQ(VMK_OK, detachResult);
  std::vector<uint8_t> p = param(TAMSIL_MGMT_LINK_STATE);
  r = client_.call(TAMSIL_MGMT_LINK_STATE, name, &p);
  EXPECT_EQ(VMK_NOT_FOUND, r.result);
  EXPECT_EQ(uint32_t{VMK_NOT_FOUND}, r.status);
}

}  // namespace
