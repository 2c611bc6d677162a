// Interrupt resources: the fall-back from MSI-X to one vector to INTx, and,
// after bring-up, firmware completions and link events arriving through the
// event queue, the interrupt handler and vector 0's NetPoll.
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "bringup_fixture.h"
#include "tamsil_cmds.h"

namespace {

// Waits (in real time, up to 10 s) until `done` holds, moving the kernel
// clock along so that timed waits of the driver's worlds come round.
bool waitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 10000; i++) {
    if (done()) return true;
    vmktest::advanceMs(10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

struct IntrCase {
  const char* name;
  const char* options;
  unsigned failAllocs;     // the first MSI-X allocation is refused
  unsigned msixVectors;    // vectors the function offers (0: no MSI-X)
  vmk_uint8 msix;          // expected msix_enabled
  bool oneVector;          // expected nic_vectors == 1
  const char* message;
};

const IntrCase kIntr[] = {
    {"AllVectors", "", 0, 32, 1, false, "vectors for device"},
    {"OneMsix", "", 1, 32, 1, true, "PCIAllocIntrCookie failed with error"},
    {"Intx", "", 0, 0, 0, true, "PCIAllocIntrCookie failed for 1 MSIx, using Legacy"},
    {"MsixParamOff", "msix=0", 0, 32, 0, true, "Alloced 1 INT-x vectors for device"},
};

class IntrFallbackTest : public BringupTest, public ::testing::WithParamInterface<IntrCase> {
 protected:
  std::string options() override { return GetParam().options; }
};

TEST_P(IntrFallbackTest, FallsBackInOrder) {
  const IntrCase& c = GetParam();
  vmktest::unloadModule(cleanup_module);
  ASSERT_EQ(0, vmktest::loadModule(init_module, std::string(c.options) + " debugMask=0xffff"));
  adapter::AdapterConfig cfg;
  cfg.fw.gen = adapter::Gen::Veskarn;
  cfg.msix_vectors = c.msixVectors;
  adapter::Adapter& card = newCard(cfg);
  vmk_Device dev = plug(card);
  if (c.failAllocs) vmktest::failCall("vmk_PCIAllocIntrCookie", 1);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev)) << c.name;
  Adapter* a = adapterOf(dev);
  EXPECT_EQ(c.msix, a->msix_enabled) << c.name;
  if (c.oneVector) {
    EXPECT_EQ(1u, a->nic_vectors) << c.name;
  } else {
    EXPECT_GT(a->nic_vectors, 1u) << c.name;
  }
  EXPECT_GE(logged(c.message), 1u) << c.name;
  if (c.oneVector) {
    // One vector carries no RSS ring: ring 0 keeps its interface and queue.
    EXPECT_EQ(0u, a->res.max_rss_qs);
    EXPECT_EQ(0u, a->res.max_drss_qs);
    EXPECT_TRUE(a->rxo[0].if_created);
    EXPECT_TRUE(a->txo[0].q.created);
  }
}

INSTANTIATE_TEST_SUITE_P(Fallback, IntrFallbackTest, ::testing::ValuesIn(kIntr),
                         [](const ::testing::TestParamInfo<IntrCase>& i) { return std::string(i.param.name); });

// The MSI-X vectors asked for are the NIC's event queues plus, on Veskarn
// with the RDMA capability, the sibling module's share; never more than the
// cookie table holds.
struct SplitCase {
  const char* name;
  adapter::Gen gen;
  const char* options;
  uint32_t fwCaps;
  uint32_t hostQueues;
  uint16_t queues;          // the firmware's transmit, receive and event queues
  uint16_t evtqsTotal;
  vmk_uint32 nic, roce;
};

const SplitCase kSplit[] = {
    {"VeskarnWithRdma", adapter::Gen::Veskarn, "", 0x20004, 16, 16, 32, 16, 16},
    {"VeskarnWithoutRdmaCap", adapter::Gen::Veskarn, "", 0x20000, 16, 16, 32, 16, 0},
    {"PivardIgnoresRdmaCap", adapter::Gen::Pivard, "", 0x20004, 16, 16, 32, 16, 0},
    {"NoRdmaShareLeft", adapter::Gen::Veskarn, "", 0x20004, 16, 16, 16, 16, 0},
    // The NIC budget alone fills the 32 cookies: the sibling gets none.
    {"CookieTableFull", adapter::Gen::Veskarn, "RSS=24 DRSS=24", 0x20004, 64, 64, 64, 32, 0},
};

class VectorSplitTest : public BringupTest, public ::testing::WithParamInterface<SplitCase> {
 protected:
  std::string options() override { return GetParam().options; }
};

TEST_P(VectorSplitTest, NicAndRdmaShare) {
  const SplitCase& c = GetParam();
  vmktest::setHostQueueLimit(c.hostQueues);
  adapter::AdapterConfig cfg;
  cfg.fw.gen = c.gen;
  cfg.fw.functions = 1;
  cfg.fw.fw_caps = c.fwCaps;
  cfg.fw.txqs = cfg.fw.rxqs = c.queues;
  cfg.fw.evtqs = c.evtqsTotal;
  cfg.msix_vectors = 64;
  adapter::Adapter& card = newCard(cfg);
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev)) << c.name;
  Adapter* a = adapterOf(dev);
  EXPECT_EQ(1, a->msix_enabled) << c.name;
  EXPECT_EQ(c.nic, a->nic_vectors) << c.name;
  EXPECT_EQ(c.roce, a->roce_vectors) << c.name;
  EXPECT_EQ(c.nic, a->num_vectors) << c.name;
  unsigned cookies = 0;
  for (vmk_uint32 i = 0; i < TAMSIL_MAX_VECTORS; i++) cookies += a->intr_cookie[i] != VMK_INVALID_INTRCOOKIE;
  EXPECT_EQ(c.nic + c.roce, cookies) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Table, VectorSplitTest, ::testing::ValuesIn(kSplit),
                         [](const ::testing::TestParamInfo<SplitCase>& i) { return std::string(i.param.name); });

// Handler registration (at start I/O): an MSI-X vector that cannot be
// registered undoes the vectors before it and falls back to one INTx line.
TEST_F(BringupTest, HandlerRegistrationFallsBackToIntx) {
  struct Row {
    const char* name;
    const char* service;
    unsigned nth;
    const char* message;
  };
  const Row rows[] = {
      {"ThirdVectorRefused", "vmk_IntrRegister", 3, "Failed to register MSIx Interrupt, status: 0xbad0001, vect 2"},
      {"SecondBindingRefused", "vmk_NetPollInterruptSet", 2, "Failed to set netpoll vector"},
  };
  for (const Row& r : rows) {
    adapter::Adapter& card = newCard(adapter::Gen::Veskarn, 1);
    vmk_Device dev = plug(card);
    ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev)) << r.name;
    Adapter* a = adapterOf(dev);
    ASSERT_EQ(1, a->msix_enabled) << r.name;
    ASSERT_GT(a->num_vectors, 2u) << r.name;
    const long before = vmktest::live().intrRegistrations;
    vmktest::failCall(r.service, r.nth);
    EXPECT_EQ(VMK_OK, tamsil_registerInterrupts(a)) << r.name;
    vmktest::clearFailures();
    EXPECT_EQ(1u, logged(r.message)) << r.name;
    EXPECT_EQ(0, a->msix_enabled) << r.name;
    EXPECT_EQ(1, a->intr_registered) << r.name;
    EXPECT_NE(VMK_INVALID_INTRCOOKIE, a->intr_cookie[0]) << r.name;
    EXPECT_EQ(VMK_INVALID_INTRCOOKIE, a->intr_cookie[1]) << r.name;
    EXPECT_EQ(before + 1, vmktest::live().intrRegistrations) << r.name;   // the INTx line only
    EXPECT_EQ(1, a->netpoll[0].bound) << r.name;
    for (vmk_uint32 i = 1; i < a->num_vectors; i++) EXPECT_EQ(0, a->netpoll[i].bound) << r.name << " " << i;
    EXPECT_EQ(VMK_OK, tamsil_freeInterrupts(a)) << r.name;
    EXPECT_EQ(before, vmktest::live().intrRegistrations) << r.name;
    EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev)) << r.name;
    unplug(dev);
  }
}

// Interrupts are registered under the function's PCI name: "-rxq<i>" per
// MSI-X vector, "-rxq" for the INTx line.
TEST_P(IntrFallbackTest, HandlersNamedAfterTheFunction) {
  const IntrCase& c = GetParam();
  vmktest::unloadModule(cleanup_module);
  ASSERT_EQ(0, vmktest::loadModule(init_module, c.options));
  adapter::AdapterConfig cfg;
  cfg.fw.gen = adapter::Gen::Veskarn;
  cfg.msix_vectors = c.msixVectors;
  adapter::Adapter& card = newCard(cfg);
  vmk_Device dev = plug(card);
  if (c.failAllocs) vmktest::failCall("vmk_PCIAllocIntrCookie", 1);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev)) << c.name;
  vmktest::clearFailures();
  Adapter* a = adapterOf(dev);
  ASSERT_EQ(VMK_OK, tamsil_registerInterrupts(a)) << c.name;
  const std::string pci = a->pci_name;
  if (a->msix_enabled) {
    for (vmk_uint32 i = 0; i < a->num_vectors; i++)
      EXPECT_EQ(pci + "-rxq" + std::to_string(i), vmktest::interruptName(a->intr_cookie[i])) << c.name;
  } else {
    EXPECT_EQ(pci + "-rxq", vmktest::interruptName(a->intr_cookie[0])) << c.name;
  }
  EXPECT_EQ(VMK_OK, tamsil_freeInterrupts(a));
  EXPECT_EQ("", vmktest::interruptName(a->intr_cookie[0])) << c.name;
}

TEST(EqDoorbell, EncodesIdsAsTheHardwareDefines) {
  // The doorbell layout, checked through the register the adapter sees.
  struct Row {
    bool eq;
    vmk_uint16 id;
    vmk_uint32 popped;
    bool arm, clear;
    vmk_uint32 word;
  };
  const Row rows[] = {
      {true, 0x3ABC, 0, false, false, 0x0BCu | (1u << 10) | (0x1Du << 11)},
      {false, 0x7ABC, 0, false, false, 0x2BCu | (0x1Eu << 11)},
      {true, 5, 3, true, true, 5u | (1u << 9) | (1u << 10) | (3u << 16) | (1u << 29)},
      {false, 5, 1024, true, false, 5u | (1024u << 16) | (1u << 29)},
  };
  vmktest::reset();
  adapter::AdapterConfig cfg;
  cfg.fw.gen = adapter::Gen::KS3;
  adapter::Adapter card(cfg);
  vmk_Device dev = vmktest::plugPciFunction(card.function(0));
  vmk_AddrCookie reg;
  ASSERT_EQ(VMK_OK, vmk_DeviceGetRegistrationData(dev, &reg));
  vmk_VA db = 0;
  ASSERT_EQ(VMK_OK, vmk_PCIMapIOResource(0, static_cast<vmk_PCIDevice>(reg.ptr), 4, nullptr, &db));
  static Adapter a;
  memset(&a, 0, sizeof a);
  a.db_va = (void*)db;
  for (const Row& r : rows) {
    if (r.eq)
      tamsil_eqNotify(&a, r.id, r.arm, r.clear, r.popped);
    else
      tamsil_cqNotify(&a, r.id, r.arm, r.popped);
    EXPECT_EQ(r.word, card.counters(0).last_eq_cq_doorbell) << std::hex << r.id;
  }
  // Nothing reaches the adapter while it is in error.
  a.hw_error = 1;
  tamsil_eqNotify(&a, 1, true, true, 1);
  EXPECT_EQ(rows[3].word, card.counters(0).last_eq_cq_doorbell);
  vmk_PCIUnmapIOResource(0, static_cast<vmk_PCIDevice>(reg.ptr), 4);
  vmktest::unplugPciFunction(dev);
}

/* ------------------------------------------------------------------------ */
/* Completions through the interrupt path                                    */
/* ------------------------------------------------------------------------ */

class InterruptPathTest : public BringupTest, public ::testing::WithParamInterface<const char*> {
 protected:
  std::string options() override { return GetParam(); }
  // What start I/O will do once it exists: handlers registered, I/O no longer
  // quiesced, event queues and the MCC completion queue armed, async events on.
  void startIoByHand(Adapter* a) {
    ASSERT_EQ(VMK_OK, tamsil_registerInterrupts(a));
    for (vmk_uint32 i = 0; i < a->num_vectors; i++) ASSERT_EQ(VMK_OK, vmk_IntrEnable(a->intr_cookie[i]));
    vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_IO_QUIESCED);
    a->io_started = 1;
    // While I/O runs the MCC world sleeps; with it gone altogether nothing
    // but the interrupt path can drain a completion.
    vmk_WorldDestroy(a->mcc_worker_world);
    vmk_WorldWaitForDeath(a->mcc_worker_world);
    a->mcc_worker_world = VMK_INVALID_WORLD_ID;
    tamsil_asyncMccEnable(a);
    for (vmk_uint32 i = 0; i < a->num_vectors; i++) tamsil_eqNotify(a, a->eqo[i].q.id, true, false, 0);
  }
  void stopIoByHand(Adapter* a) {
    a->io_started = 0;
    tamsil_asyncMccDisable(a);
    vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_IO_QUIESCED);
    tamsil_freeInterrupts(a);
    vmktest::netPollDrain();
    vmk_WorldProps wp = {};
    wp.moduleID = tamsilDriver.module_id;
    wp.name = "tamsil_processMccWorkerThread";
    wp.startFunction = tamsil_processMccWorkerThread;
    wp.data = a;
    wp.schedClass = VMK_WORLD_SCHED_CLASS_QUICK;
    wp.heapID = tamsilDriver.heap_id;
    ASSERT_EQ(VMK_OK, vmk_WorldCreate(&wp, &a->mcc_worker_world));
  }
};

TEST_P(InterruptPathTest, McccompletionsAndLinkEventsArriveThroughVectorZero) {
  adapter::Adapter& card = newCard(adapter::Gen::Veskarn);
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
  ASSERT_EQ(VMK_OK, vmktest::scanDevice(dev));
  Adapter* a = adapterOf(dev);
  auto children = vmktest::childDevices(dev);
  ASSERT_EQ(1u, children.size());
  vmk_Uplink uplink = nullptr;
  ASSERT_EQ(VMK_OK, vmktest::uplinkAssociate(regDataOf(children[0]), "vmnic0", &uplink));
  startIoByHand(a);

  const unsigned intrBefore = card.counters(0).interrupts;
  const vmk_uint32 ackBefore = a->eqo[0].int_ack_count;
  // A sleeping MCC command: answered only through the event queue, the
  // interrupt and vector 0's NetPoll (the MCC world sleeps while I/O runs).
  uint16_t first = 0, second = 0;
  EXPECT_EQ(0u, tamsil_cmdGetPortSpeedAsync(a, (uint8_t)a->port_num, &first, &second));
  EXPECT_GT(card.counters(0).interrupts, intrBefore);
  // The handler runs on the kernel's interrupt thread, the poll on its NetPoll thread.
  waitFor([&] { return vmktest::netPollRuns(a->netpoll[0].netpoll) > 0; });
  vmktest::netPollDrain();
  EXPECT_GT(a->eqo[0].int_count, 0u) << "interrupts " << card.counters(0).interrupts << ", event entries " << card.counters(0).eq_entries_written;
  EXPECT_GT(a->eqo[0].event_count, 0u);
  EXPECT_GT(vmktest::netPollRuns(a->netpoll[0].netpoll), 0u);
  if (a->msix_enabled) {
    EXPECT_GT(a->eqo[0].int_ack_count, ackBefore);  // MSI-X: the acknowledge only counts
  }

  // The firmware reports the link up, then down again.
  ASSERT_TRUE(card.injectAsyncEvent(0, adapter::linkStateEvent((uint8_t)a->port_num, true, true, 4, 0, 0)));
  waitFor([&] { return vmktest::uplinkLinkState(uplink).state == VMK_LINK_STATE_UP; });
  vmktest::netPollDrain();
  EXPECT_EQ((vmk_uint32)VMK_LINK_STATE_UP, a->shared_data.link.state);
  EXPECT_EQ((vmk_uint32)VMK_LINK_STATE_UP, vmktest::uplinkLinkState(uplink).state);
  EXPECT_EQ(10000u, vmktest::uplinkLinkState(uplink).speed);
  EXPECT_EQ((vmk_uint32)VMK_LINK_DUPLEX_FULL, vmktest::uplinkLinkState(uplink).duplex);
  const unsigned reports = vmktest::uplinkLinkReports(uplink);
  EXPECT_GE(reports, 1u);

  {
    // The firmware's own view goes down too, so that no later answer of
    // it reports the link up again.
    std::lock_guard<std::mutex> g(card.lock());
    card.engine().port(card.engine().portOfFunction(0)).link_up = false;
  }
  ASSERT_TRUE(card.injectAsyncEvent(0, adapter::linkStateEvent((uint8_t)a->port_num, false, true, 4, 0, 0)));
  waitFor([&] { return vmktest::uplinkLinkState(uplink).state == VMK_LINK_STATE_DOWN; });
  vmktest::netPollDrain();
  EXPECT_EQ((vmk_uint32)VMK_LINK_STATE_DOWN, a->shared_data.link.state);
  EXPECT_EQ((vmk_uint32)VMK_LINK_STATE_DOWN, vmktest::uplinkLinkState(uplink).state);
  EXPECT_EQ(0u, vmktest::uplinkLinkState(uplink).speed);
  EXPECT_GT(vmktest::uplinkLinkReports(uplink), reports);
  EXPECT_EQ(a->shared_data.lockedCount, a->shared_data.unlockedCount);

  stopIoByHand(a);
  ASSERT_EQ(VMK_OK, vmktest::uplinkDisassociate(regDataOf(children[0]), uplink));
  EXPECT_EQ(VMK_OK, vmktest::removeDevice(children[0]));
}

INSTANTIATE_TEST_SUITE_P(MsixAndIntx, InterruptPathTest, ::testing::Values("", "msix=0"),
                         [](const ::testing::TestParamInfo<const char*>& i) {
                           return std::string(i.param[0] ? "Intx" : "Msix");
                         });

}  // namespace
