// Attach, scan, associate, disassociate and detach of every generation, and a
// failure at each attach step undoing exactly what was done before it.
#include <algorithm>
#include <array>
#include <cstring>

#include "bringup_fixture.h"
#include "tamsil_cmds.h"

namespace {

struct GenCase {
  adapter::Gen gen;
  vmk_uint32 asicBit;
  bool pcicfgMapped;   // Pivard maps only its doorbell BAR
  int csrBar, dbBar, pcicfgBar;   // -1: not mapped
};

const GenCase kGens[] = {
    {adapter::Gen::KS2, TAMSIL_ASIC_KS2, true, 2, 4, 1},
    {adapter::Gen::KS3, TAMSIL_ASIC_KS3, true, 2, 4, 0},
    {adapter::Gen::Pivard, TAMSIL_ASIC_PIVARD, false, -1, 0, -1},
    {adapter::Gen::Veskarn, TAMSIL_ASIC_VESKARN, true, 2, 4, 0},
};

class LifecycleTest : public BringupTest, public ::testing::WithParamInterface<GenCase> {};

TEST_P(LifecycleTest, AttachScanAssociateDisassociateDetachLeavesNothing) {
  const GenCase& gc = GetParam();
  adapter::Adapter& card = newCard(gc.gen);
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev)) << genText(gc.gen);
  Adapter* a = adapterOf(dev);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(gc.asicBit, a->asic_gen);
  EXPECT_EQ(gc.pcicfgMapped, a->pcicfg_va != nullptr);
  EXPECT_NE(nullptr, a->db_va);
  EXPECT_EQ(gc.csrBar >= 0, a->csr_va != nullptr);
  if (gc.csrBar >= 0) { EXPECT_EQ(gc.csrBar, a->csr_bar.bar); }
  EXPECT_EQ(gc.dbBar, a->db_bar.bar);
  if (gc.pcicfgBar >= 0) { EXPECT_EQ(gc.pcicfgBar, a->pcicfg_bar.bar); }
  // Bus mastering is on.
  vmk_uint32 command = 0;
  ASSERT_EQ(VMK_OK, vmk_PCIReadConfig(tamsilDriver.module_id, a->pci_device, VMK_PCI_CONFIG_ACCESS_16, 4, &command));
  EXPECT_EQ(0x4u, command & 0x4u);
  EXPECT_GE(a->num_vectors, 1u);
  EXPECT_TRUE(a->eqo[0].q.created);
  EXPECT_TRUE(a->mcc_q.created);
  EXPECT_TRUE(vmk_BitVectorTest(a->flags, TAMSIL_FLAG_IO_QUIESCED));
  EXPECT_TRUE(vmk_BitVectorTest(a->flags, TAMSIL_FLAG_DEV_QUIESCED));
  EXPECT_GT(card.engine().countLive(adapter::ObjKind::Eq, 0), 0u);
  EXPECT_EQ(1u, card.engine().countLive(adapter::ObjKind::MccQueue, 0));
  EXPECT_STREQ("11.2.1149.0", a->fw_version);
  EXPECT_EQ(1u, logged("Driver version:11.2.1149.0."));
  EXPECT_EQ(1u, logged("has firmware ver 11.2.1149.0"));
  // The driver-information names the uplink shows.
  EXPECT_STREQ("tamsil", a->uplink_reg.driver_name);
  EXPECT_STREQ("native", a->uplink_reg.module_type);
  EXPECT_STREQ("11.2.1149.0", a->uplink_reg.driver_version);
  EXPECT_STREQ("11.2.1149.0", a->uplink_reg.fw_version);
  EXPECT_EQ(1, a->dev_data_valid);
  EXPECT_EQ(1, a->pause_rx);
  EXPECT_EQ(1, a->pause_tx);

  ASSERT_EQ(VMK_OK, vmktest::scanDevice(dev));
  auto children = vmktest::childDevices(dev);
  ASSERT_EQ(1u, children.size());
  const vmk_UplinkRegData* reg = regDataOf(children[0]);
  ASSERT_NE(nullptr, reg);
  EXPECT_EQ(TAMSIL_INTERFACE_REVISION, reg->apiRevision);
  EXPECT_EQ(a, reg->driverData.ptr);
  EXPECT_EQ(&a->shared_data, reg->sharedData);

  vmk_Uplink uplink = nullptr;
  ASSERT_EQ(VMK_OK, vmktest::uplinkAssociate(reg, "vmnic4", &uplink));
  EXPECT_STREQ("vmnic4", tamsil_devName(a));
  auto caps = vmktest::uplinkCapabilities(uplink);
  ASSERT_FALSE(caps.empty());
  EXPECT_EQ(1u, caps.front());   // SG_TX first
  EXPECT_EQ(30u, caps.back());   // Flow Control last
  EXPECT_EQ(a->msix_enabled != 0, std::count(caps.begin(), caps.end(), 21u) == 1);
  vmk_HashValue node = nullptr;
  ASSERT_EQ(VMK_OK, vmk_HashKeyFind(tamsil_vmkdevHashTbl, a->pci_name, &node));
  EXPECT_STREQ("vmnic4", static_cast<tamsil_vmkdevHashNode*>(node)->uplink_name);
  ASSERT_NE(nullptr, a->kv_handle);
  auto keys = vmktest::mgmtKeys("vmnic4");
  ASSERT_GE(keys.size(), 2u);
  EXPECT_EQ("Q_IDs", keys[0]);
  EXPECT_EQ("VF_Link_State", keys[1]);
  EXPECT_EQ(gc.gen == adapter::Gen::Pivard, std::count(keys.begin(), keys.end(), "FirmwareDump") == 1);

  ASSERT_EQ(VMK_OK, vmktest::uplinkDisassociate(reg, uplink));
  EXPECT_EQ(nullptr, a->kv_handle);
  EXPECT_EQ(nullptr, a->uplink);
  EXPECT_EQ(VMK_OK, vmktest::removeDevice(children[0]));
  EXPECT_EQ(VMK_OK, vmktest::quiesceDevice(dev));
  EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev));
  EXPECT_EQ(0u, card.engine().countLive()) << genText(gc.gen);
  EXPECT_TRUE(vmktest::netLive().allZero()) << vmktest::netLive().describe();
  unplug(dev);
}

TEST_P(LifecycleTest, QuiesceAndStartBracketASleep) {
  adapter::Adapter& card = newCard(GetParam().gen);
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
  Adapter* a = adapterOf(dev);
  EXPECT_EQ(VMK_OK, vmktest::startDevice(dev));
  EXPECT_FALSE(vmk_BitVectorTest(a->flags, TAMSIL_FLAG_DEV_QUIESCED));
  EXPECT_EQ(VMK_OK, vmktest::quiesceDevice(dev));
  EXPECT_TRUE(vmk_BitVectorTest(a->flags, TAMSIL_FLAG_DEV_QUIESCED));
  EXPECT_EQ(1u, logged("Device being quiesced"));
}

// Quiesce arms wake-on-LAN with the adapter's MAC when it is enabled and
// disarms it otherwise; start always disarms; a recovery leaves it alone.
TEST_P(LifecycleTest, QuiesceArmsWakeOnLanStartDisarms) {
  struct Row {
    const char* name;
    vmk_uint8 enabled;
    bool recovering;
    bool armed;   // after quiesce
  };
  const Row rows[] = {
      {"Enabled", 1, false, true},
      {"Disabled", 0, false, false},
      {"EnabledDuringRecovery", 1, true, false},
  };
  adapter::Adapter& card = newCard(GetParam().gen);
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
  Adapter* a = adapterOf(dev);
  const std::array<uint8_t, 6> none{};
  std::array<uint8_t, 6> mac;
  memcpy(mac.data(), a->uplink_reg.perm_mac, 6);
  auto wolMac = [&] {
    std::lock_guard<std::mutex> g(card.lock());
    return card.engine().wolMac(0);
  };
  for (const Row& r : rows) {
    ASSERT_EQ(VMK_OK, vmktest::startDevice(dev)) << r.name;
    EXPECT_EQ(none, wolMac()) << r.name;
    a->wol_enabled = r.enabled;
    if (r.recovering) vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_TPE_REINIT);
    EXPECT_EQ(VMK_OK, vmktest::quiesceDevice(dev)) << r.name;
    vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_TPE_REINIT);
    EXPECT_EQ(r.armed ? mac : none, wolMac()) << r.name;
    if (r.armed) { EXPECT_EQ(0x108u, card.configWord(0, 0x44)) << r.name; }
  }
  ASSERT_EQ(VMK_OK, vmktest::startDevice(dev));
  EXPECT_EQ(none, wolMac());
}

INSTANTIATE_TEST_SUITE_P(AllGenerations, LifecycleTest, ::testing::ValuesIn(kGens),
                         [](const ::testing::TestParamInfo<GenCase>& i) { return std::string(genText(i.param.gen)); });

/* ------------------------------------------------------------------------ */
/* A failure at each attach step                                             */
/* ------------------------------------------------------------------------ */

struct StepFault {
  const char* name;
  const char* service;      // kernel service to fail ("" none)
  unsigned nth;
  bool every;
  uint8_t sub, op;          // firmware command to fail (op 0: none)
  const char* message;      // the line attach logs
};

const StepFault kSteps[] = {
    {"DmaEngine", "vmk_DMAEngineCreate", 1, true, 0, 0, "DMA Engine create failed"},
    {"MapBar", "vmk_PCIMapIOResource", 1, false, 0, 0, "Failed to map Bar"},
    {"MapSecondBar", "vmk_PCIMapIOResource", 2, false, 0, 0, "Failed to map Bar"},
    {"MboxLock", "vmk_BinarySemaCreate", 1, false, 0, 0, "Failed to create mbox_lock semaphore"},
    {"PmacLock", "vmk_BinarySemaCreate", 2, false, 0, 0, "Failed to create pmac_lock semaphore"},
    {"ResetLock", "vmk_BinarySemaCreate", 3, false, 0, 0, "Failed to create reset_lock semaphore"},
    {"MccLock", "vmk_SpinlockCreate", 1, false, 0, 0, "Failed to create mcc_lock spinlock"},
    {"MccCqLock", "vmk_SpinlockCreate", 2, false, 0, 0, "Failed to create mcc_cq_lock spinlock, error"},
    {"MccWaitLock", "vmk_SpinlockCreate", 3, false, 0, 0, "Failed to create mcc_compl_wait_lock spinlock"},
    {"WorkerLock", "vmk_SpinlockCreate", 4, false, 0, 0, "Failed to create mcc_compl_worker_lock spinlock"},
    {"FwInit", "", 0, false, adapter::kSubBare, adapter::kOpFwInit, "FW init failed"},
    {"FunctionReset", "", 0, false, fwop::kCommon, fwop::kFunctionReset, "Function Reset command to f/w failed"},
    {"QueryFwCfg", "", 0, false, fwop::kCommon, fwop::kQueryFwCfg, ""},
    {"Interrupts", "vmk_PCIAllocIntrCookie", 1, true, 0, 0, "Error in allocing Interrupt vectors"},
    {"EqCreate", "", 0, false, fwop::kCommon, fwop::kEqCreate, "tamsil_ifEqCreate() failed"},
    {"IfCreate", "", 0, false, fwop::kCommon, fwop::kIfCreate, "tamsil_cmdIfCreate() failed"},
    {"CqCreate", "", 0, false, fwop::kCommon, fwop::kCqCreate, "tamsil_rxCQueuesCreate() failed"},
    {"TxqCreate", "", 0, false, fwop::kNic, fwop::kTxqCreate, "tamsil_txQueuesCreate() failed"},
    {"MccWorld", "vmk_WorldCreate", 1, false, 0, 0, "Failed to create mcc compl worker thread"},
    {"NetPoll", "vmk_NetPollCreate", 1, false, 0, 0, "Failed to create driver data for device"},
    {"WriterLock", "vmk_SpinlockCreate", 5, false, 0, 0, "Failed to create writer lock for shared data area"},
    {"UeMaskRead", "vmk_PCIReadConfig", 2, false, 0, 0, "Pci Cfg read error"},
    {"WorkerWorld", "vmk_WorldCreate", 3, false, 0, 0, "Failed to create worker thread"},
    {"DriverData", "vmk_DeviceSetAttachedDriverData", 1, false, 0, 0, "Unable to set attached driver data"},
};

class AttachFaultTest : public BringupTest, public ::testing::WithParamInterface<StepFault> {};

TEST_P(AttachFaultTest, UndoesWhatWasDone) {
  const StepFault& f = GetParam();
  adapter::Adapter& card = newCard(adapter::Gen::KS3);
  vmk_Device dev = plug(card);
  const vmktest::Live before = vmktest::live();
  if (f.service[0] != '\0') vmktest::failCall(f.service, f.nth, VMK_FAILURE, f.every);
  if (f.op != 0) {
    std::lock_guard<std::mutex> g(card.lock());
    adapter::Fault fault;
    fault.status = adapter::kStatusFailed;
    card.engine().setFault(f.sub, f.op, fault);
  }
  EXPECT_NE(VMK_OK, vmktest::attachDevice(dev)) << f.name;
  vmktest::clearFailures();
  if (f.message[0] != '\0') { EXPECT_GE(logged(f.message), 1u) << f.name; }
  const std::string step(f.name);
  if (step.find("Lock") != std::string::npos && step != "WriterLock") {
    EXPECT_EQ(1u, logged("Failed to initialize control path for device")) << f.name;
  }
  EXPECT_EQ(nullptr, adapterOf(dev));
  EXPECT_EQ(0u, card.engine().countLive()) << f.name;
  EXPECT_EQ(before.describe(), vmktest::live().describe()) << f.name;
  EXPECT_TRUE(vmktest::netLive().allZero()) << f.name << " " << vmktest::netLive().describe();
  {
    std::lock_guard<std::mutex> g(card.lock());
    card.engine().clearFaults();
  }
  // The function attaches cleanly afterwards.
  EXPECT_EQ(VMK_OK, vmktest::attachDevice(dev)) << f.name;
}

INSTANTIATE_TEST_SUITE_P(EachStep, AttachFaultTest, ::testing::ValuesIn(kSteps),
                         [](const ::testing::TestParamInfo<StepFault>& i) { return std::string(i.param.name); });

// Steps that yield no status of their own fail attach with the plain
// failure status.
TEST_F(BringupTest, AttachStepsWithoutAStatusFailPlainly) {
  struct Row {
    const char* service;
    unsigned nth;
  };
  const Row rows[] = {{"vmk_BitVectorAlloc", 1}};
  adapter::Adapter& card = newCard(adapter::Gen::KS3);
  vmk_Device dev = plug(card);
  const vmktest::Live before = vmktest::live();
  for (const Row& r : rows) {
    vmktest::failCall(r.service, r.nth, VMK_NO_MEMORY);
    EXPECT_EQ(VMK_FAILURE, vmktest::attachDevice(dev)) << r.service;
    vmktest::clearFailures();
    EXPECT_EQ(nullptr, adapterOf(dev)) << r.service;
    EXPECT_EQ(before.describe(), vmktest::live().describe()) << r.service;
  }
}

// A kernel that refuses the 64-bit DMA engine gets a 32-bit one: the adapter
// runs without the 64-bit feature and every buffer lies below 4 GB.
TEST_F(BringupTest, DmaEngineFallsBackTo32Bit) {
  struct Row {
    const char* name;
    bool refuse64;
  };
  const Row rows[] = {{"Dma64", false}, {"Dma32", true}};
  for (const Row& r : rows) {
    adapter::Adapter& card = newCard(adapter::Gen::KS3, 1);
    vmk_Device dev = plug(card);
    if (r.refuse64) vmktest::failCall("vmk_DMAEngineCreate", 1);
    ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev)) << r.name;
    vmktest::clearFailures();
    Adapter* a = adapterOf(dev);
    EXPECT_EQ(!r.refuse64, (a->features & TAMSIL_FEAT_DMA64) != 0) << r.name;
    if (r.refuse64) {
      const vmk_uint64 fourGb = 1ull << 32;
      EXPECT_LE(a->mbox_bus_addr + TAMSIL_MBOX_SIZE, fourGb) << r.name;
      EXPECT_LE(tamsil_dmaBusAddr(&a->eqo[0].q.mem) + TAMSIL_EQ_LEN * TAMSIL_EQE_SIZE, fourGb) << r.name;
      EXPECT_LE(tamsil_dmaBusAddr(&a->mcc_q.mem) + 128u * TAMSIL_WRB_SIZE, fourGb) << r.name;
    }
    EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev)) << r.name;
    unplug(dev);
  }
}

TEST(AsicRevision, LetterAndStepOrABlank) {
  struct Row {
    vmk_uint8 rev;
    const char* name;
  };
  const Row rows[] = {{0, "A0"}, {1, "A1"}, {2, "A2"}, {3, " "},  {15, " "}, {16, "B0"},
                      {34, "C2"}, {48, "D0"}, {50, "D2"}, {51, " "}, {64, " "}, {255, " "}};
  for (const Row& r : rows) {
    char out[3];
    EXPECT_STREQ(r.name, tamsil_asicRevName(r.rev, out)) << (int)r.rev;
  }
}

TEST_F(BringupTest, QuiesceGivesUpOnAHangingManagementRequest) {
  adapter::Adapter& card = newCard(adapter::Gen::KS3);
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
  Adapter* a = adapterOf(dev);
  vmk_AtomicWrite64(&a->mgmt_in_flight, 1);
  const uint64_t t0 = vmktest::nowNs();
  EXPECT_EQ(VMK_OK, vmktest::quiesceDevice(dev));
  const uint64_t waitedMs = (vmktest::nowNs() - t0) / 1000000ull;
  EXPECT_GE(waitedMs, 36000u);   // 36 one-second waits
  EXPECT_TRUE(vmk_BitVectorTest(a->flags, TAMSIL_FLAG_DEV_QUIESCED));
  EXPECT_EQ(1u, logged("Some Mgmt operations are still pending, mgmtRequestsInFlight != 0 (1)"));
  vmk_AtomicWrite64(&a->mgmt_in_flight, 0);
}

TEST_F(BringupTest, DetachAfterDetachedStateCleansNothingTwice) {
  adapter::Adapter& card = newCard(adapter::Gen::Veskarn);
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
  Adapter* a = adapterOf(dev);
  // Every clean-up step may meet state a failed reset already took down.
  for (int pass = 0; pass < 2; pass++) {
    tamsil_freeInterrupts(a);
    tamsil_disableVFs(a);
    tamsil_clear(a);
    tamsil_vxlanClear(a, 1);
    tamsil_cleanupUplinkData(a);
    tamsil_intrCleanup(a);
    tamsil_statsCleanup(a);
  }
  EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev));
  EXPECT_EQ(0u, card.engine().countLive());
}

TEST_F(BringupTest, DetachAfterTheControlPathIsGone) {
  adapter::Adapter& card = newCard(adapter::Gen::KS3);
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
  Adapter* a = adapterOf(dev);
  // A reset that stopped half-way: the chip lost its objects and the control
  // path is already down when detach comes.
  vmk_WorldDestroy(a->mcc_worker_world);
  vmk_WorldWaitForDeath(a->mcc_worker_world);
  a->mcc_worker_world = VMK_INVALID_WORLD_ID;
  {
    std::lock_guard<std::mutex> g(card.lock());
    card.engine().destroyFunctionObjects(0);
  }
  tamsil_ctrlCleanup(a);
  tamsil_clear(a);
  tamsil_ctrlCleanup(a);
  EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev));
  EXPECT_EQ(0u, card.engine().countLive());
}

TEST_F(BringupTest, ModuleParametersPerAdapter) {
  vmktest::unloadModule(cleanup_module);
  ASSERT_EQ(0, vmktest::loadModule(init_module, "max_vfs=100,-1 RSS=1,30 DRSS=0"));
  adapter::Adapter& card = newCard(adapter::Gen::Veskarn, 3);
  vmk_Device d0 = plug(card, 0), d1 = plug(card, 1), d2 = plug(card, 2);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(d0));
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(d1));
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(d2));
  EXPECT_EQ(1u, logged("Invalid module param value (-1) for max_vfs[1]. VFs will not be enabled for this PF"));
  EXPECT_EQ(0, adapterOf(d1)->max_vfs);
  EXPECT_EQ(0, adapterOf(d2)->max_vfs);   // beyond the last entry
  // 100 asks for 64; the firmware's profile allows 16 and the kernel enables them.
  Adapter* a0 = adapterOf(d0);
  EXPECT_EQ(16, a0->max_vfs);
  EXPECT_EQ(16u, a0->num_vfs);
  EXPECT_EQ(16u, vmktest::enabledVfs(a0->pci_device));
  EXPECT_EQ(4, a0->rss);   // RSS entry 1 means 4 rings
  EXPECT_EQ(0, a0->drss);
  EXPECT_EQ(4, adapterOf(d2)->drss);   // no entry: the configuration decides
  EXPECT_EQ(VMK_OK, vmktest::detachDevice(d0));
  EXPECT_EQ(0, vmktest::netLive().enabledVfs);
}

// VF registration failing at scan is logged; the uplink device stays and
// scan succeeds.
TEST_F(BringupTest, ScanSucceedsWhenVfRegistrationFails) {
  vmktest::unloadModule(cleanup_module);
  ASSERT_EQ(0, vmktest::loadModule(init_module, "max_vfs=4"));
  adapter::Adapter& card = newCard(adapter::Gen::Veskarn, 1);
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
  ASSERT_EQ(4u, adapterOf(dev)->num_vfs);
  vmktest::failCall("vmk_PCIRegisterVF", 1);
  EXPECT_EQ(VMK_OK, vmktest::scanDevice(dev));
  auto children = vmktest::childDevices(dev);
  ASSERT_EQ(1u, children.size());
  EXPECT_EQ(1u, logged("register_vfs failed status: 0x"));
  EXPECT_EQ(VMK_OK, vmktest::removeDevice(children[0]));
}

TEST_F(BringupTest, NoVfsInMultiChannelMode) {
  vmktest::unloadModule(cleanup_module);
  ASSERT_EQ(0, vmktest::loadModule(init_module, "max_vfs=8"));
  adapter::AdapterConfig cfg;
  cfg.fw.gen = adapter::Gen::Veskarn;
  cfg.fw.function_mode = 4;
  adapter::Adapter& card = newCard(cfg);
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
  EXPECT_EQ(0u, adapterOf(dev)->num_vfs);
  EXPECT_EQ(1u, logged("VFs cannot be enabled in multi-channel mode"));
  EXPECT_EQ(0, vmktest::netLive().enabledVfs);
}

}  // namespace

namespace {

// After a chip reset the firmware has lost every object: clearing frees the
// rings without destroy commands and fails the commands still waiting.
TEST_F(BringupTest, ClearAfterChipResetFailsWaitersAndFreesRings) {
  adapter::Adapter& card = newCard(adapter::Gen::Veskarn);
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
  Adapter* a = adapterOf(dev);
  // A waiter whose command the firmware will never answer.
  vmk_uint8 response[16] = {};
  a->wrb_ctx[5].header = reinterpret_cast<Request_Header*>(response);
  a->wrb_ctx[5].wait_mcc_compl = 1;
  {
    std::lock_guard<std::mutex> g(card.lock());
    card.engine().destroyFunctionObjects(0);
  }
  // The reset stops the MCC world before its rings go.
  vmk_WorldDestroy(a->mcc_worker_world);
  vmk_WorldWaitForDeath(a->mcc_worker_world);
  a->mcc_worker_world = VMK_INVALID_WORLD_ID;
  const unsigned destroysBefore = card.engine().commandsSeen(fwop::kCommon, 55);
  EXPECT_EQ(0u, tamsil_clearReset(a));
  EXPECT_EQ(0, a->wrb_ctx[5].wait_mcc_compl);
  EXPECT_EQ(1, response[4]);
  EXPECT_EQ(nullptr, a->mcc_q.mem.va);
  EXPECT_EQ(nullptr, a->eqo[0].q.mem.va);
  EXPECT_EQ(0, a->rxo[0].if_created);
  EXPECT_EQ(destroysBefore, card.engine().commandsSeen(fwop::kCommon, 55));
  EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev));
}

}  // namespace
