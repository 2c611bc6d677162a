// The uplink's key-value keys as a key-value client sees them: which keys an
// uplink has, the exact texts of the gets, the TPE settings' ranges, the VF
// link-state changes reaching the emulated VF's endpoint, the Pivard dump
// request and deletion, refusals while the device is quiesced, and values
// longer than the driver parses.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dp_fixture.h"
#include "tamsil_gen.h"
#include "tamsil_keys.h"

namespace {

using adapter::Gen;

constexpr uint8_t kSubCommon = 1;
constexpr uint8_t kOpLogicalLink = 80, kOpDeleteObject = 174;
const char kUplink[] = "vmnic1";
const char kDump[] = "/dbg/dump.bin";

class KeysTest : public DpTest {
 protected:
  // Management requests meet a started device (else they are refused busy).
  KeysTest() { startDevice_ = true; }
  // An uplink with TPE recovery asked for and four VFs.
  void up(Gen g, const std::string& opts = "tpe_recovery=1 max_vfs=4") {
    adapter::AdapterConfig cfg;
    cfg.fw.gen = g;
    cfg.fw.functions = 1;
    // KS2 firmware without a profile: one channel, so VFs.
    if (g == Gen::KS2) cfg.fw.fw_caps = 0;
    associate(cfg, opts);
  }
  static VMK_ReturnStatus get(const std::string& key, std::string* value) {
    return vmktest::mgmtKeyGet(kUplink, key, value);
  }
  static std::string text(const std::string& key) {
    std::string v;
    EXPECT_EQ(VMK_OK, get(key, &v)) << key;
    return v;
  }
  static VMK_ReturnStatus set(const std::string& key, const std::string& value) {
    return vmktest::mgmtKeySet(kUplink, key, value);
  }
  unsigned seen(uint8_t op) { return fwSeen(kSubCommon, op); }
  // Ends the worker world (detach takes no world that is gone): fields the
  // tick reads can then be written by the test.
  void stopWorker() {
    vmk_WorldDestroy(a_->worker_world);
    vmk_WorldWaitForDeath(a_->worker_world);
    a_->worker_world = VMK_INVALID_WORLD_ID;
  }
  uint32_t vfLogicalLink(uint8_t domain) {
    std::lock_guard<std::mutex> g(card_->lock());
    return card_->engine().vfEndpoint(0, domain).logical_link;
  }
  bool dumpPresent() {
    std::lock_guard<std::mutex> g(card_->lock());
    return card_->engine().hasObject(kDump);
  }
  void setFlag(vmk_uint32 bit, bool on) {
    if (on)
      vmk_BitVectorAtomicSet(a_->flags, bit);
    else
      vmk_BitVectorAtomicClear(a_->flags, bit);
  }
};

const std::vector<std::string> kBaseKeys = {"Q_IDs", "VF_Link_State"};
const std::vector<std::string> kTpeKeys = {"TpeTsDrvrLoad", "TpeTsLastRecovery", "TpeRecoverySummary"};

std::vector<std::string> join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Only Pivard has the dump key; only the first function with TPE recovery
// asked for has the TPE keys.
TEST_F(KeysTest, WhichUplinksHaveWhichKeys) {
  struct Case {
    Gen gen;
    const char* opts;
    unsigned fn;
    std::vector<std::string> keys;
  } cases[] = {
      {Gen::KS3, "tpe_recovery=1", 0, join(kBaseKeys, kTpeKeys)},
      {Gen::KS3, "tpe_recovery=0", 0, kBaseKeys},
      {Gen::KS3, "tpe_recovery=1", 1, kBaseKeys},
      {Gen::Pivard, "tpe_recovery=1", 0, join(join(kBaseKeys, {"FirmwareDump"}), kTpeKeys)},
      {Gen::Pivard, "tpe_recovery=0", 0, join(kBaseKeys, {"FirmwareDump"})},
      {Gen::Veskarn, "tpe_recovery=1", 0, join(kBaseKeys, kTpeKeys)},
      {Gen::KS2, "tpe_recovery=0", 0, kBaseKeys},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(genText(c.gen)) + " '" + c.opts + "' fn " + std::to_string(c.fn));
    vmktest::unloadModule(cleanup_module);
    ASSERT_EQ(0, vmktest::loadModule(init_module, c.opts));
    adapter::Adapter& card = newCard(c.gen, 2);
    vmk_Device dev = plug(card, c.fn);
    ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
    ASSERT_EQ(VMK_OK, vmktest::scanDevice(dev));
    EXPECT_EQ(c.fn, adapterOf(dev)->pf_num);
    vmk_Device child = vmktest::childDevices(dev).at(0);
    vmk_Uplink uplink = nullptr;
    ASSERT_EQ(VMK_OK, vmktest::uplinkAssociate(regDataOf(child), "vmnic7", &uplink));
    EXPECT_EQ(c.keys, vmktest::mgmtKeys("vmnic7"));
    ASSERT_EQ(VMK_OK, vmktest::uplinkDisassociate(regDataOf(child), uplink));
    vmktest::removeDevice(child);
    unplug(dev);
  }
}

TEST_F(KeysTest, QueueIdsText) {
  up(Gen::KS3);
  ASSERT_EQ(VMK_OK, startIO());
  ASSERT_GE(a_->num_vectors, 1u);
  std::string want = "\n";
  want += "mcc_q_id = 0x" + (std::ostringstream() << std::hex << a_->mcc_q.id).str() + "\n";
  want += "mcc_cq_id = 0x" + (std::ostringstream() << std::hex << a_->mcc_cq.id).str() + "\n";
  for (vmk_uint32 i = 0; i < a_->num_vectors; i++) {
    const std::pair<const char*, unsigned> rows[] = {
        {"rx_if_id", a_->rxo[i].if_id}, {"eq_id", a_->eqo[i].q.id},   {"rx_q_id", a_->rxo[i].rxq.id},
        {"rx_cq_id", a_->rxo[i].cq.id}, {"tx_q_id", a_->txo[i].q.id}, {"tx_cq_id", a_->txo[i].cq.id},
    };
    for (const auto& [name, id] : rows)
      want += "Ring[" + std::to_string(i) + "]: " + name + " = 0x" + (std::ostringstream() << std::hex << id).str() +
              "\n";
  }
  EXPECT_EQ(want, text("Q_IDs"));
  // The ids shown are the firmware's: its queues are bound as the text pairs them.
  {
    std::lock_guard<std::mutex> g(card_->lock());
    adapter::Engine& fw = card_->engine();
    const adapter::QueueObj* mcc = fw.queue(adapter::ObjKind::MccQueue, a_->mcc_q.id);
    ASSERT_NE(nullptr, mcc);
    EXPECT_EQ(a_->mcc_cq.id, mcc->bound);
    const adapter::QueueObj* rxq = fw.queue(adapter::ObjKind::RxQueue, a_->rxo[0].rxq.id);
    ASSERT_NE(nullptr, rxq);
    EXPECT_EQ(a_->rxo[0].cq.id, rxq->bound);
    EXPECT_EQ(a_->rxo[0].if_id, rxq->if_id);
    const adapter::QueueObj* rxcq = fw.queue(adapter::ObjKind::Cq, a_->rxo[0].cq.id);
    ASSERT_NE(nullptr, rxcq);
    EXPECT_EQ(a_->eqo[0].q.id, rxcq->bound);
    const adapter::QueueObj* txq = fw.queue(adapter::ObjKind::TxQueue, a_->txo[0].q.id);
    ASSERT_NE(nullptr, txq);
    EXPECT_EQ(a_->txo[0].cq.id, txq->bound);
  }
  // Setting the key changes nothing.
  EXPECT_EQ(VMK_OK, set("Q_IDs", "3 2"));
  EXPECT_EQ(want, text("Q_IDs"));
}

// With every ring the Adapter holds (more than an emulated adapter gets) the
// queue-id text is longer than the kernel's key buffer: it stops at the
// buffer's end, NUL-terminated, and writes nothing beyond. A bare Adapter
// record shows it without threads reading the ring count.
TEST_F(KeysTest, QueueIdsTextStopsAtTheKeyBuffer) {
  auto a = std::make_unique<Adapter>();
  a->flags = vmk_BitVectorAlloc(tamsilDriver.heap_id, TAMSIL_FLAG_BITS);
  ASSERT_NE(nullptr, a->flags);
  a->num_vectors = TAMSIL_MAX_VECTORS;
  for (vmk_uint32 i = 0; i < TAMSIL_MAX_VECTORS; i++) a->rxo[i].if_id = 0x10000 + i;
  constexpr size_t kGuard = 64;
  std::vector<char> buf(VMK_MGMT_KEY_STRING_MAX + kGuard, '#');
  EXPECT_EQ(VMK_OK, tamsil_getQids(reinterpret_cast<uintptr_t>(a.get()), buf.data()));
  const std::string v(buf.data(), strnlen(buf.data(), buf.size()));
  EXPECT_EQ(size_t(VMK_MGMT_KEY_STRING_MAX - 1), v.size());
  EXPECT_EQ(0u, v.find("\nmcc_q_id = 0x0\nmcc_cq_id = 0x0\nRing[0]: rx_if_id = 0x10000\n"));
  EXPECT_EQ(std::string(kGuard, '#'), std::string(buf.data() + VMK_MGMT_KEY_STRING_MAX, kGuard));
  vmk_BitVectorFree(tamsilDriver.heap_id, a->flags);
}

TEST_F(KeysTest, VfLinkStateText) {
  struct Case {
    const char* opts;
    std::string rows;
  } cases[] = {
      {"max_vfs=4",
       "     1       0 (Follow Physical Link)\n     2       1 (Always Up)\n     3       2 (Always Down)\n"
       "     4       7 (Invalid State)\n"},
      {"", "<<     No VFs found on vmnic1     >>\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.opts);
    up(Gen::Veskarn, c.opts);
    ASSERT_EQ(VMK_OK, startIO());
    if (a_->num_vfs == 4) {
      a_->sriov.vf_link_state[1] = 1;
      a_->sriov.vf_link_state[2] = 2;
      a_->sriov.vf_link_state[3] = 7;
    }
    const std::string rule = "----------------------------------------\n";
    const std::string want = "\nvmnic1: Link state details VFs\n" + rule + "  VF Num   VF Link Status           \n" +
                             rule + c.rows + rule + "\n" + "Instruction to change (Set) VF_Link_State:\n" +
                             "\t-k VF_Link_State -s \"<VF_Num> <VF_Link_State>\"\n" + "\tWhere ..\n" +
                             "\t\t<VF_Num> = VF Number\n" + "\t\t<VF_Link_State> = \n" +
                             "\t\t\t 0 = Follow Physical Link\n" + "\t\t\t 1 = Always Up\n" +
                             "\t\t\t 2 = Always Down\n";
    EXPECT_EQ(want, text("VF_Link_State"));
    TearDown();
    SetUp();
  }
}

// A change reaches the VF's logical link in the firmware (follow the
// physical link in bit 8, link up in bit 0) and is recorded; the recorded
// state again sends nothing; VF numbers outside 1..4 and states outside
// 0..2 are refused before any command.
TEST_F(KeysTest, VfLinkStateSet) {
  up(Gen::KS3);
  ASSERT_EQ(4u, a_->num_vfs);
  ASSERT_EQ(VMK_OK, startIO());
  ASSERT_EQ(0x101u, vfLogicalLink(2));
  struct Step {
    const char* value;
    VMK_ReturnStatus result;
    unsigned commands;     // logical link commands sent
    vmk_uint8 recorded;    // VF 2's state afterwards
    uint32_t word;         // VF 2's logical link word afterwards
    const char* logged;
  } steps[] = {
      {"2 1", VMK_OK, 1, 1, 0x001, nullptr},
      {"2 1", VMK_OK, 0, 1, 0x001, nullptr},
      {"2\t \t2", VMK_OK, 1, 2, 0x000, nullptr},
      {"2 0", VMK_OK, 1, 0, 0x101, nullptr},
      {"0 1", VMK_FAILURE, 0, 0, 0x101, "Invalid VF number 0 (num_vfs_enabled: 4)"},
      {"5 1", VMK_FAILURE, 0, 0, 0x101, "Invalid VF number 5 (num_vfs_enabled: 4)"},
      {"-1 1", VMK_FAILURE, 0, 0, 0x101, "Invalid VF number -1"},
      {"2 3", VMK_FAILURE, 0, 0, 0x101, "Invalid VF State 3 for VF num 2"},
      {"2 257", VMK_FAILURE, 0, 0, 0x101, "Invalid VF State 257 for VF num 2"},
      {"", VMK_FAILURE, 0, 0, 0x101, "Invalid VF number 0"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.value);
    const unsigned before = seen(kOpLogicalLink);
    const size_t logs = s.logged ? logged(s.logged) : 0;
    EXPECT_EQ(s.result, set("VF_Link_State", s.value));
    EXPECT_EQ(s.commands, seen(kOpLogicalLink) - before);
    EXPECT_EQ(s.recorded, a_->sriov.vf_link_state[1]);
    EXPECT_EQ(s.word, vfLogicalLink(2));
    if (s.logged) {
      EXPECT_EQ(logs + 1, logged(s.logged));
    }
  }
  // The other VFs were not touched.
  for (uint8_t d : {1, 3, 4}) EXPECT_EQ(0x101u, vfLogicalLink(d)) << int(d);
  EXPECT_EQ(0u, vmk_AtomicRead64(&a_->mgmt_in_flight));
}

// A firmware refusal is returned and the recorded state stays.
TEST_F(KeysTest, VfLinkStateFirmwareRefusalKeepsTheRecord) {
  up(Gen::Pivard);
  ASSERT_EQ(VMK_OK, startIO());
  fwFault(kSubCommon, kOpLogicalLink, {.status = 3});
  const VMK_ReturnStatus st = set("VF_Link_State", "3 2");
  EXPECT_NE(VMK_OK, st);
  EXPECT_EQ(0, a_->sriov.vf_link_state[2]);
  fwClearFaults();
  EXPECT_EQ(0x101u, vfLogicalLink(3));
  EXPECT_EQ(VMK_OK, set("VF_Link_State", "3 2"));
  EXPECT_EQ(2, a_->sriov.vf_link_state[2]);
  EXPECT_EQ(0u, vfLogicalLink(3));
}

TEST_F(KeysTest, VfLinkStateRefusedOnKs2) {
  up(Gen::KS2);
  ASSERT_EQ(4u, a_->num_vfs);
  ASSERT_EQ(VMK_OK, startIO());
  const unsigned before = seen(kOpLogicalLink);
  EXPECT_EQ(VMK_FAILURE, set("VF_Link_State", "2 1"));
  EXPECT_EQ(1u, logged("Can not change VF Link State for KS2"));
  EXPECT_EQ(before, seen(kOpLogicalLink));
  EXPECT_EQ(0, a_->sriov.vf_link_state[1]);
}

// While the device is quiesced every key answers busy and does nothing;
// VF_Link_State instead answers 0 and does nothing while I/O is quiesced.
// A VF link change is a firmware command: with the device quiesced but I/O
// not, it is refused as busy too, not sent under a detach.
TEST_F(KeysTest, QuiescedDeviceAndQuiescedIo) {
  up(Gen::Pivard);
  ASSERT_EQ(VMK_OK, startIO());
  const vmk_uint16 load = a_->tpe_min_after_load;
  const unsigned requests = card_->counters(0).dump_requests;
  setFlag(TAMSIL_FLAG_DEV_QUIESCED, true);
  struct Op {
    const char* key;
    const char* value;
  } ops[] = {{"Q_IDs", "1"},          {"FirmwareDump", "1"},        {"TpeTsDrvrLoad", "20"},
             {"TpeTsLastRecovery", "20"}, {"TpeRecoverySummary", "1"}, {"VF_Link_State", "2 1"}};
  for (const Op& o : ops) {
    SCOPED_TRACE(o.key);
    std::string v = "untouched";
    EXPECT_EQ(VMK_BUSY, get(o.key, &v));
    EXPECT_EQ("", v);
    EXPECT_EQ(VMK_BUSY, set(o.key, o.value));
  }
  EXPECT_EQ(load, a_->tpe_min_after_load);
  EXPECT_EQ(requests, card_->counters(0).dump_requests);
  EXPECT_EQ(0, a_->sriov.vf_link_state[1]);
  EXPECT_EQ(0u, vmk_AtomicRead64(&a_->mgmt_in_flight));

  setFlag(TAMSIL_FLAG_IO_QUIESCED, true);
  const unsigned before = seen(kOpLogicalLink);
  std::string v;
  EXPECT_EQ(VMK_OK, get("VF_Link_State", &v));
  EXPECT_EQ("", v);
  EXPECT_EQ(VMK_OK, set("VF_Link_State", "2 1"));
  EXPECT_EQ(0, a_->sriov.vf_link_state[1]);
  setFlag(TAMSIL_FLAG_DEV_QUIESCED, false);
  EXPECT_EQ(VMK_OK, set("VF_Link_State", "2 1"));
  EXPECT_EQ(0, a_->sriov.vf_link_state[1]);
  EXPECT_EQ(before, seen(kOpLogicalLink));
  setFlag(TAMSIL_FLAG_IO_QUIESCED, false);
  EXPECT_EQ(0u, vmk_AtomicRead64(&a_->mgmt_in_flight));
}

// TPE settings: values outside the range are logged and the old value stays;
// the bounds themselves are taken; the get shows the value in force.
TEST_F(KeysTest, TpeSettingsRanges) {
  up(Gen::KS3);
  struct Case {
    const char* key;
    const char* value;
    bool taken;
    vmk_uint16 Adapter::*field;
    const char* range;
  } cases[] = {
      {"TpeTsDrvrLoad", "9", false, &Adapter::tpe_min_after_load, "10-1440"},
      {"TpeTsDrvrLoad", "1441", false, &Adapter::tpe_min_after_load, "10-1440"},
      {"TpeTsDrvrLoad", "70000", false, &Adapter::tpe_min_after_load, "10-1440"},
      {"TpeTsDrvrLoad", "-10", false, &Adapter::tpe_min_after_load, "10-1440"},
      {"TpeTsDrvrLoad", "10", true, &Adapter::tpe_min_after_load, nullptr},
      {"TpeTsDrvrLoad", "1440", true, &Adapter::tpe_min_after_load, nullptr},
      {"TpeTsLastRecovery", "9", false, &Adapter::tpe_min_between, "10-4320"},
      {"TpeTsLastRecovery", "4321", false, &Adapter::tpe_min_between, "10-4320"},
      {"TpeTsLastRecovery", "10", true, &Adapter::tpe_min_between, nullptr},
      {"TpeTsLastRecovery", "4320", true, &Adapter::tpe_min_between, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    const vmk_uint16 old = a_->*c.field;
    const std::string message = std::string("Value ") + c.value + " not within Range " + (c.range ? c.range : "");
    const size_t logs = logged(message);
    EXPECT_EQ(VMK_OK, set(c.key, c.value));
    EXPECT_EQ(c.taken ? static_cast<vmk_uint16>(atoi(c.value)) : old, a_->*c.field);
    EXPECT_EQ(c.taken ? logs : logs + 1, logged(message));
  }
  ASSERT_EQ(VMK_OK, set("TpeTsDrvrLoad", "10"));
  EXPECT_EQ("\nRequired Time since Driver Load for TPE Recovery = 10 mins\n", text("TpeTsDrvrLoad"));
  EXPECT_EQ("\nRequired Time since Last Successful TPE Recovery to try Next TPE Recovery = 4320 mins\n",
            text("TpeTsLastRecovery"));
}

// Minutes since the load and, after a recovery, its code and the minutes
// since it; the clock stands still while the text is made.
TEST_F(KeysTest, TpeRecoverySummaryText) {
  up(Gen::KS3);
  stopWorker();
  vmktest::setClockRate(0);
  vmktest::advanceMs(200 * 60000);
  const vmk_uint64 now = vmk_GetUptimeMS();
  a_->load_time_ms = now - (125 * 60000 + 59999);
  EXPECT_EQ("\nTime since Driver load = 125 mins\nNumber of Successful TPE Recoveries = 0\n",
            text("TpeRecoverySummary"));
  a_->tpe_recoveries = 2;
  a_->last_tpe_code = 0x1c;
  a_->last_recovery_ms = now - 3 * 60000;
  EXPECT_EQ(
      "\nTime since Driver load = 125 mins\nNumber of Successful TPE Recoveries = 2\n"
      "Last Successful Recovery TPE Code = 0x1c\nTime since Last Successful TPE Recovery = 3 mins\n",
      text("TpeRecoverySummary"));
  EXPECT_EQ(VMK_OK, set("TpeRecoverySummary", "0"));
  EXPECT_EQ(2u, a_->tpe_recoveries);
  vmktest::setClockRate(250.0);
}

// 1 (in hexadecimal: "0x1" too) asks the firmware for a dump at the
// physical-device control register; 2 deletes the dump object; anything
// else is logged and ignored.
TEST_F(KeysTest, FirmwareDumpOptions) {
  up(Gen::Pivard);
  struct Step {
    const char* value;
    unsigned requests;  // dump requests at register 0x414
    unsigned deletes;
    bool present;       // the dump object afterwards
    const char* logged;
  } steps[] = {
      {"1", 1, 0, true, nullptr},
      {"0x1", 1, 0, true, nullptr},
      {"3", 0, 0, true, "Invalid option 3, valid option 1 or 2"},
      {"10", 0, 0, true, "Invalid option 16, valid option 1 or 2"},
      {"2", 0, 1, false, nullptr},
  };
  ASSERT_TRUE(dumpPresent());
  for (const Step& s : steps) {
    SCOPED_TRACE(s.value);
    const unsigned requests = card_->counters(0).dump_requests;
    const unsigned deletes = seen(kOpDeleteObject);
    const size_t logs = s.logged ? logged(s.logged) : 0;
    EXPECT_EQ(VMK_OK, set("FirmwareDump", s.value));
    EXPECT_EQ(s.requests, card_->counters(0).dump_requests - requests);
    EXPECT_EQ(s.deletes, seen(kOpDeleteObject) - deletes);
    EXPECT_EQ(s.present, dumpPresent());
    if (s.logged) {
      EXPECT_EQ(logs + 1, logged(s.logged));
    }
  }
  std::string v = "untouched";
  EXPECT_EQ(VMK_OK, get("FirmwareDump", &v));
  EXPECT_EQ("", v);
  EXPECT_EQ(0u, vmk_AtomicRead64(&a_->mgmt_in_flight));
}

// A dump request is counted in flight (a detach waits for it) for as long
// as it works, and leaves the count when done. The card answers nothing
// while its lock is held: the request stops at its register write.
TEST_F(KeysTest, DumpRequestCountedInFlightWhileItWorks) {
  up(Gen::Pivard);
  const unsigned requests = card_->counters(0).dump_requests;
  std::atomic<bool> done{false};
  VMK_ReturnStatus st = VMK_FAILURE;
  std::thread t;
  {
    std::lock_guard<std::mutex> g(card_->lock());
    t = std::thread([&] {
      st = set("FirmwareDump", "1");
      done = true;
    });
    EXPECT_TRUE(vmktest::waitFor([&] { return vmk_AtomicRead64(&a_->mgmt_in_flight) == 1; }));
    EXPECT_FALSE(done);
  }
  t.join();
  EXPECT_EQ(VMK_OK, st);
  EXPECT_EQ(requests + 1, card_->counters(0).dump_requests);
  EXPECT_EQ(0u, vmk_AtomicRead64(&a_->mgmt_in_flight));
}

// A deletion the firmware refuses is reported: the dump is still there.
TEST_F(KeysTest, FirmwareDumpDeletionRefused) {
  up(Gen::Pivard);
  fwFault(kSubCommon, kOpDeleteObject, {.status = 3});
  EXPECT_EQ(VMK_FAILURE, set("FirmwareDump", "2"));
  EXPECT_TRUE(dumpPresent());
  EXPECT_EQ(1u, logged("Deleting the firmware dump failed"));
}

// Only the first 63 characters of a value are parsed: "000...0100" of 64
// characters reads as 10, and a value as long as the kernel's buffer
// overruns nothing.
TEST_F(KeysTest, LongValuesAreCut) {
  up(Gen::Pivard);
  ASSERT_EQ(VMK_OK, startIO());
  const std::string cut = std::string(61, '0') + "100";
  ASSERT_EQ(64u, cut.size());
  EXPECT_EQ(VMK_OK, set("TpeTsDrvrLoad", cut));
  EXPECT_EQ(10, a_->tpe_min_after_load);
  EXPECT_EQ(VMK_OK, set("TpeTsLastRecovery", std::string(62, '0') + "20"));
  EXPECT_EQ(4320, a_->tpe_min_between);  // "0...02": 2 is out of range
  // "2", 62 blanks, "1": the state falls beyond the cut and reads 0, the
  // state recorded: nothing is sent.
  const unsigned before = seen(kOpLogicalLink);
  EXPECT_EQ(VMK_OK, set("VF_Link_State", "2" + std::string(62, ' ') + "1"));
  EXPECT_EQ(before, seen(kOpLogicalLink));
  EXPECT_EQ(0, a_->sriov.vf_link_state[1]);
  const std::string huge(VMK_MGMT_KEY_STRING_MAX - 1, '7');
  for (const char* key : {"Q_IDs", "VF_Link_State", "FirmwareDump", "TpeTsDrvrLoad", "TpeTsLastRecovery",
                          "TpeRecoverySummary"})
    EXPECT_NE(VMK_BUSY, set(key, huge)) << key;
}

}  // namespace
