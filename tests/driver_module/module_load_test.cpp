// Module load and unload: every step, every undo, the parameter checks and
// the pool and heap sizing.
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "module_fixture.h"
#include "tamsil_bringup.h"

namespace {

std::string repeatList(int n, const std::string& value) {
  std::string s;
  for (int i = 0; i < n; i++) s += (i ? "," : "") + value;
  return s;
}

TEST_F(KernelTest, LoadBuildsEveryObjectAndUnloadLeavesNothing) {
  ASSERT_EQ(0, vmktest::loadModule(init_module));
  vmktest::Live l = vmktest::live();
  EXPECT_EQ(1, l.modules);
  EXPECT_EQ(1, l.memPools);
  EXPECT_EQ(1, l.heaps);
  EXPECT_EQ(1, l.logComponents);
  EXPECT_EQ(1, l.lockDomains);
  EXPECT_EQ(1, l.drivers);
  EXPECT_EQ(1, l.hashTables);
  EXPECT_EQ(1, l.mgmtHandles);
  EXPECT_TRUE(vmktest::mgmtRegistered("tamsilMgmtToKernel"));
  EXPECT_EQ(1, vmk_LogGetCurrentLogLevel(tamsilDriverLog));
  EXPECT_STREQ("tamsil", vmk_LogGetName(tamsilDriverLog));
  EXPECT_EQ(tamsilDriver.heap_id, vmk_ModuleGetHeapID(tamsilDriver.module_id));

  auto ok = linesWith("Initialization of tamsil driver successful\n");
  ASSERT_EQ(1u, ok.size());
  EXPECT_EQ(VMK_LOG_URGENCY_WARNING, ok[0].urgency);
  EXPECT_EQ(0u, ok[0].text.find("tamsil: init_module:"));
  // Default debugMask 0x1217 has both the VxLAN and the DRIVER bit.
  EXPECT_EQ(1u, vmktest::logCount("Allocation of tamsil_vmkdevHashTbl successful\n"));
  EXPECT_EQ(1u, vmktest::logCount("Initialization of tamsil driver with mgmt succeeded\n"));

  vmktest::unloadModule(cleanup_module);
  EXPECT_FALSE(vmktest::mgmtRegistered("tamsilMgmtToKernel"));
}

TEST_F(KernelTest, LoadAndUnloadTwice) {
  for (int i = 0; i < 2; i++) {
    ASSERT_EQ(0, vmktest::loadModule(init_module));
    vmktest::unloadModule(cleanup_module);
    EXPECT_TRUE(vmktest::live().allZero()) << vmktest::live().describe();
  }
}

TEST_F(KernelTest, DebugMaskZeroSilencesInformationalLines) {
  ASSERT_EQ(0, vmktest::loadModule(init_module, "debugMask=0 max_vfs=1"));
  EXPECT_EQ(0u, vmktest::logCount("Allocation of tamsil_vmkdevHashTbl successful"));
  EXPECT_EQ(0u, vmktest::logCount("with mgmt succeeded"));
  EXPECT_EQ(0u, vmktest::logCount("num_max_vfs="));
  // The warning is not gated.
  EXPECT_EQ(1u, vmktest::logCount("Initialization of tamsil driver successful"));
  vmktest::unloadModule(cleanup_module);
}

// One row per load step: the service made to fail, the line the load logs,
// whether that line carries the "tamsil: init_module:<line>: " prefix.
struct LoadStepCase {
  const char* failing;
  const char* message;
  bool prefixed;
  int step;  // index into kSteps of the failing step
};

// Load steps in order with the call that undoes each (none for the checks).
struct Step {
  const char* make;
  const char* undo;
};
const Step kSteps[] = {
    {"vmk_ModuleRegister", "vmk_ModuleUnregister"},
    {"vmk_MemPoolCreate", "vmk_MemPoolDestroy"},
    {"vmk_HeapCreate", "vmk_HeapDestroy"},
    {"vmk_LogRegister", "vmk_LogUnregister"},
    {"vmk_LockDomainCreate", "vmk_LockDomainDestroy"},
    {nullptr, nullptr},  // module parameter checks
    {"vmk_DriverRegister", "vmk_DriverUnregister"},
    {"vmk_HashAlloc", "vmk_HashRelease"},
    {"vmk_MgmtInit", "vmk_MgmtDestroy"},
};

const LoadStepCase kLoadSteps[] = {
    {"vmk_ModuleRegister", "vmk_ModuleRegister failed: Failure\n", false, 0},
    {"vmk_MemPoolCreate", "vmk_MemPoolCreate failed: Failure\n", false, 1},
    {"vmk_HeapCreate", "vmk_HeapCreate failed: Failure\n", false, 2},
    {"vmk_LogRegister", "vmk_LogRegister failed: Failure\n", false, 3},
    {"vmk_LockDomainCreate", "vmk_LockDomainCreate failed, status: 0xbad0001\n", true, 4},
    {nullptr, "Exceeding max PF limit while creating VFs. Allowed is 128\n", true, 5},
    {"vmk_DriverRegister", "Initialization of tamsil driver failed: 0xbad0001\n", true, 6},
    {"vmk_HashAlloc", "Initialization of tamsil_vmkdevHashTbl failed: 195887105\n", true, 7},
    {"vmk_MgmtInit", "Initialization of tamsil driver with mgmt failed, status: 0xbad0001\n", true, 8},
};

void PrintTo(const LoadStepCase& c, std::ostream* os) { *os << (c.failing ? c.failing : "param check"); }

class LoadStepFailure : public KernelTest, public ::testing::WithParamInterface<LoadStepCase> {};

TEST_P(LoadStepFailure, UndoesExactlyTheStepsBefore) {
  const LoadStepCase& c = GetParam();
  std::string options;
  if (c.failing) vmktest::failCall(c.failing, 1);
  else options = "max_vfs=" + repeatList(129, "1");

  EXPECT_EQ(1, vmktest::loadModule(init_module, options));

  // The Part's line, once, with the right form.
  auto lines = linesWith(c.message);
  ASSERT_EQ(1u, lines.size()) << c.message;
  if (c.prefixed) {
    EXPECT_EQ(0u, lines[0].text.find("tamsil: "));
    EXPECT_NE(std::string::npos, lines[0].text.find(": " + std::string(c.message)));
  } else {
    EXPECT_EQ(c.message, lines[0].text);
  }
  EXPECT_EQ(VMK_LOG_URGENCY_ALERT, lines[0].urgency);

  // Steps before the failing one were made and undone once each; the failing
  // one is not undone; nothing after it was tried.
  for (int i = 0; i < (int)(sizeof kSteps / sizeof kSteps[0]); i++) {
    if (kSteps[i].make == nullptr) continue;
    SCOPED_TRACE(kSteps[i].make);
    if (i < c.step) {
      EXPECT_EQ(1u, vmktest::callCount(kSteps[i].make));
      EXPECT_EQ(1u, vmktest::callCount(kSteps[i].undo));
    } else if (i == c.step) {
      EXPECT_EQ(1u, vmktest::callCount(kSteps[i].make));
      EXPECT_EQ(0u, vmktest::callCount(kSteps[i].undo));
    } else {
      EXPECT_EQ(0u, vmktest::callCount(kSteps[i].make));
      EXPECT_EQ(0u, vmktest::callCount(kSteps[i].undo));
    }
  }
  EXPECT_FALSE(vmktest::mgmtRegistered("tamsilMgmtToKernel"));
  EXPECT_EQ(VMK_INVALID_HASH_HANDLE, tamsil_vmkdevHashTbl);
  EXPECT_EQ(VMK_INVALID_LOG_HANDLE, tamsilDriverLog);
  // TearDown checks that no kernel object is left.
}

INSTANTIATE_TEST_SUITE_P(EveryStep, LoadStepFailure, ::testing::ValuesIn(kLoadSteps),
                         [](const ::testing::TestParamInfo<LoadStepCase>& info) {
                           return info.param.failing ? std::string(info.param.failing) : std::string("ParamCheck");
                         });

// Array parameter checks: the count limit per parameter.
struct ParamCountCase {
  const char* name;
  int count;
  int result;
  const char* message;  // logged when the load fails
};

const ParamCountCase kParamCounts[] = {
    {"max_vfs", 128, 0, nullptr},
    {"max_vfs", 129, 1, "Exceeding max PF limit while creating VFs. Allowed is 128\n"},
    {"RSS", 128, 0, nullptr},
    {"RSS", 129, 1, "Exceeding max PF limit while creating RSS queues. Allowed is 128\n"},
    {"DRSS", 128, 0, nullptr},
    {"DRSS", 129, 1, "Exceeding max PF limit while creating RSS queuesfor default queue. Allowed is 128\n"},
};

void PrintTo(const ParamCountCase& c, std::ostream* os) { *os << c.name << " x" << c.count; }

class ParamCount : public KernelTest, public ::testing::WithParamInterface<ParamCountCase> {};

TEST_P(ParamCount, CountAboveTheLimitFailsTheLoad) {
  const ParamCountCase& c = GetParam();
  std::string options = std::string(c.name) + "=" + repeatList(c.count, "1") + " debugMask=0";
  EXPECT_EQ(c.result, vmktest::loadModule(init_module, options));
  if (c.message) {
    EXPECT_EQ(1u, vmktest::logCount(c.message));
    EXPECT_EQ(0u, vmktest::callCount("vmk_DriverRegister"));
  } else {
    EXPECT_EQ(0u, vmktest::logCount("Exceeding max PF limit"));
    vmktest::unloadModule(cleanup_module);
  }
}

INSTANTIATE_TEST_SUITE_P(Limits, ParamCount, ::testing::ValuesIn(kParamCounts),
                         [](const ::testing::TestParamInfo<ParamCountCase>& info) {
                           return std::string(info.param.name) + "_" + std::to_string(info.param.count);
                         });

TEST_F(KernelTest, ParametersAreCheckedInOrderVfsFirst) {
  std::string all = repeatList(129, "1");
  EXPECT_EQ(1, vmktest::loadModule(init_module, "DRSS=" + all + " RSS=" + all + " max_vfs=" + all));
  EXPECT_EQ(1u, vmktest::logCount("Exceeding max PF limit while creating VFs."));
  EXPECT_EQ(0u, vmktest::logCount("Exceeding max PF limit while creating RSS"));
}

TEST_F(KernelTest, ParameterListingsWithTheDriverBit) {
  ASSERT_EQ(0, vmktest::loadModule(init_module, "debugMask=0x1 max_vfs=1,2,3 RSS=4 DRSS=0,-1"));
  auto vfs = linesWith("num_max_vfs=");
  ASSERT_EQ(1u, vfs.size());
  EXPECT_NE(std::string::npos, vfs[0].text.find(": num_max_vfs=3 max_vfs[0]=1 max_vfs[1]=2 max_vfs[2]=3 \n"));
  EXPECT_EQ(0u, vfs[0].text.find("tamsil: "));
  EXPECT_EQ(VMK_LOG_URGENCY_NORMAL, vfs[0].urgency);
  EXPECT_EQ(1u, vmktest::logCount(": num_max_rss=1 rssqs[0]=4 \n"));
  EXPECT_EQ(1u, vmktest::logCount(": num_max_drss=2 d_rssqs[0]=0 d_rssqs[1]=-1 \n"));
  vmktest::unloadModule(cleanup_module);
}

TEST_F(KernelTest, AbsentArrayParametersAreNotListed) {
  ASSERT_EQ(0, vmktest::loadModule(init_module, "debugMask=0x1"));
  EXPECT_EQ(0, num_max_vfs);
  EXPECT_EQ(0u, vmktest::logCount("num_max_"));
  vmktest::unloadModule(cleanup_module);
}

// The listing holds at most 2047 characters; what does not fit stops the
// listing with a line, and the load goes on.
struct ListingCase {
  const char* name;
  const char* value;
  const char* limitLine;
  const char* listingPrefix;
  size_t listedEntries;  // entries that made it into the listing
};

const ListingCase kListings[] = {
    // Entries of 17 to 19 characters: 113 fit in 2047 characters, the 114th does not.
    {"max_vfs", "12345", "Buffer limit exceeded while displaying max_vfs info\n", "num_max_vfs=128 ", 113},
    {"RSS", "1234567", "Buffer limit exceeded while displaying RSS queue info\n", "num_max_rss=128 ", 113},
    {"DRSS", "12345", "Buffer limit exceeded while displaying Default RSS queue info\n", "num_max_drss=128 ", 113},
    // An entry needing all of its 20 bytes stops the listing: from index 100 on here.
    {"max_vfs", "123456", "Buffer limit exceeded while displaying max_vfs info\n", "num_max_vfs=128 ", 100},
    {"max_vfs", "-2147483648", "Buffer limit exceeded while displaying max_vfs info\n", "num_max_vfs=128 ", 0},
};

void PrintTo(const ListingCase& c, std::ostream* os) { *os << c.name << "=" << c.value; }

class ParamListing : public KernelTest, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(ParamListing, OverlongListingStopsButTheLoadGoesOn) {
  const ListingCase& c = GetParam();
  std::string options = std::string(c.name) + "=" + repeatList(128, c.value) + " debugMask=1";
  ASSERT_EQ(0, vmktest::loadModule(init_module, options));
  EXPECT_EQ(1u, vmktest::logCount(c.limitLine));
  auto listing = linesWith(c.listingPrefix);
  ASSERT_EQ(1u, listing.size());
  std::string text = listing[0].text.substr(listing[0].text.find(c.listingPrefix) + strlen(c.listingPrefix));
  ASSERT_FALSE(text.empty());
  ASSERT_EQ('\n', text.back());
  text.pop_back();
  EXPECT_LE(text.size(), 2047u);
  size_t entries = 0;
  for (size_t pos = text.find('['); pos != std::string::npos; pos = text.find('[', pos + 1)) entries++;
  EXPECT_EQ(c.listedEntries, entries);
  vmktest::unloadModule(cleanup_module);
}

INSTANTIATE_TEST_SUITE_P(Limits, ParamListing, ::testing::ValuesIn(kListings),
                         [](const ::testing::TestParamInfo<ListingCase>& info) {
                           return std::string(info.param.name) + "_" + std::to_string(info.param.listedEntries);
                         });

TEST_F(KernelTest, ParameterTableInRegistrationOrder) {
  std::vector<std::string> expected = {
      "debugMask uint Enabled debug mask (default: DRIVER, UPLINK, QUEUE, SRIOV, MCC & VxLAN)",
      "DRSS array of int Number of RSS Queues to create on the Default Queue, 0 = disable",
      "RSS array of int Number of RSS Queues to create, 0 = disable",
      "emi_canceller bool Enable / Disable EMI Canceller, 0 = disable (default)",
      "tpe_recovery bool Enable / Disable TPE Recovery,1 = enable (default)",
      "vxlan_offload bool Enable / Disable vxlan_offload,1 = enable (default)",
      "msix bool Enable / Disable MSI-X, 1 = enable (default)",
      "dyn_netq bool Enable / Disable Dynamic Netqueue, 1 = enable (default)",
      "max_vfs array of int Number of PCI VFs to initialize, 0 = disable (default)",
  };
  EXPECT_EQ(expected, vmktest::moduleParameterList());
}

TEST_F(KernelTest, ModuleDeclaresItsNamespaceAndVersion) {
  std::vector<std::string> expected = {"namespace com.vmware.vmkapi#v2_2_0_0",
                                       "version 11.2.1149.0-1OEM.550.0.0.1331820"};
  EXPECT_EQ(expected, vmktest::moduleDeclarations());
}

TEST_F(KernelTest, ParameterDefaults) {
  ASSERT_TRUE(vmktest::setModuleParameters("msix=0 RSS=3 debugMask=5"));
  ASSERT_TRUE(vmktest::setModuleParameters(""));  // back to the defaults
  EXPECT_EQ(0x1217u, debugMask);
  EXPECT_EQ(0, emi_canceller);
  EXPECT_EQ(1, tpe_recovery);
  EXPECT_EQ(1, vxlan_offload);
  EXPECT_EQ(1, msix);
  EXPECT_EQ(1, dyn_netq);
  EXPECT_EQ(0, num_max_vfs);
  EXPECT_EQ(0, num_max_rss);
  EXPECT_EQ(0, num_max_drss);
  for (int i = 0; i < TAMSIL_MAX_PF_PARAMS; i++) {
    ASSERT_EQ(1, rssqs[i]);
    ASSERT_EQ(1, d_rssqs[i]);
    ASSERT_EQ(0, max_vfs[i]);
  }
}

TEST_F(LoadedModuleTest, PoolAndHeapSizing) {
  EXPECT_EQ(653u, tamsil_calculateMpoolSize());
  vmktest::PoolInfo pool;
  ASSERT_TRUE(vmktest::poolInfo("tamsil", &pool));
  EXPECT_EQ(1566u, pool.reservation);
  EXPECT_EQ(626400u, pool.limit);

  // The seven allocation descriptors, as the kernel sizes them.
  vmk_ByteCount hash = vmk_HashGetAllocSize(64);
  vmk_HeapAllocationDescriptor descs[] = {{40, 16, 1},  {40, 0, 172}, {hash, 0, 1}, {hash, 0, 1},
                                          {16, 0, 64}, {12, 0, 1},   {24, 0, 64}};
  vmk_ByteCount h = 0;
  ASSERT_EQ(VMK_OK, vmk_HeapDetermineMaxSize(descs, 7, &h));
  EXPECT_EQ(h, tamsil_calculateHeapSize());
  vmk_uint64 sized = h * 120 / 100;
  vmktest::HeapInfo heap;
  ASSERT_TRUE(vmktest::heapInfo("tamsil", &heap));
  EXPECT_EQ(2 * sized, heap.initial);
  EXPECT_EQ(800 * sized, heap.max);
  EXPECT_TRUE(heap.poolBacked);
}

TEST_F(KernelTest, UnloadEmptiesAndReleasesTheDeviceTable) {
  ASSERT_EQ(0, vmktest::loadModule(init_module));
  auto* node = (tamsil_vmkdevHashNode*)vmk_HeapAlloc(tamsilDriver.heap_id, sizeof(tamsil_vmkdevHashNode));
  ASSERT_NE(nullptr, node);
  char key[] = "0000:003:00.1";
  ASSERT_EQ(VMK_OK, vmk_HashKeyInsert(tamsil_vmkdevHashTbl, key, node));
  vmktest::unloadModule(cleanup_module);
  EXPECT_EQ(0u, vmktest::logCount("Error in deleting tamsil_vmkdevHashTbl hash entries"));
  EXPECT_EQ(VMK_INVALID_HASH_HANDLE, tamsil_vmkdevHashTbl);
}

TEST_F(KernelTest, UnloadGoesOnWhenEntriesCannotBeDeleted) {
  ASSERT_EQ(0, vmktest::loadModule(init_module));
  auto* node = (tamsil_vmkdevHashNode*)vmk_HeapAlloc(tamsilDriver.heap_id, sizeof(tamsil_vmkdevHashNode));
  char key[] = "0000:003:00.1";
  ASSERT_EQ(VMK_OK, vmk_HashKeyInsert(tamsil_vmkdevHashTbl, key, node));
  vmk_HashTable table = tamsil_vmkdevHashTbl;
  vmk_HeapID heap = tamsilDriver.heap_id;
  vmk_MemPool pool = tamsilDriver.mem_pool;

  vmktest::failCall("vmk_HashKeyIterate", 1);
  vmktest::unloadModule(cleanup_module);
  auto err = linesWith("Error in deleting tamsil_vmkdevHashTbl hash entries\n");
  ASSERT_EQ(1u, err.size());
  EXPECT_EQ("Error in deleting tamsil_vmkdevHashTbl hash entries\n", err[0].text);
  // The rest of the unload happened.
  EXPECT_FALSE(vmktest::mgmtRegistered("tamsilMgmtToKernel"));
  vmktest::Live l = vmktest::live();
  EXPECT_EQ(0, l.modules);
  EXPECT_EQ(0, l.drivers);
  EXPECT_EQ(0, l.lockDomains);
  EXPECT_EQ(0, l.logComponents);
  // The table still holds its entry, so it and the memory under it stay.
  EXPECT_EQ(1, l.hashTables);

  // Clean up what the failed deletion kept, for the next test.
  ASSERT_EQ(VMK_OK, vmk_HashKeyDelete(table, key, nullptr));
  vmk_HeapFree(heap, node);
  ASSERT_EQ(VMK_OK, vmk_HashRelease(table));
  ASSERT_EQ(VMK_OK, vmk_HeapDestroy(heap));
  ASSERT_EQ(VMK_OK, vmk_MemPoolDestroy(pool));
}

TEST(DeviceIdentity, NameIndexAndGenerationPerDeviceId) {
  struct Row {
    vmk_uint16 id;
    vmk_uint32 nameIndex;
    const char* name;
    vmk_uint32 generation;
  };
  const Row rows[] = {
      {0x3B00, 1, "Quorvantix", TAMSIL_ASIC_KS2},
      {0x3A11, 0, "Kalderstone 2", TAMSIL_ASIC_KS2},
      {0x3B10, 3, "Quorvantix (ks3)", TAMSIL_ASIC_KS3},
      {0x3A21, 2, "Kalderstone 3", TAMSIL_ASIC_KS3},
      {0x5C20, 4, "Quorvantix (Pivard)", TAMSIL_ASIC_PIVARD},
      {0x3B28, 5, "Veskarn", TAMSIL_ASIC_VESKARN},
      {0x3B20, 5, "Veskarn", TAMSIL_ASIC_VESKARN},
      {0x1234, 0, "Kalderstone 2", TAMSIL_ASIC_NONE},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.id);
    EXPECT_EQ(r.nameIndex, tamsil_deviceNameIndex(r.id));
    EXPECT_STREQ(r.name, tamsil_device_name[tamsil_deviceNameIndex(r.id)]);
    EXPECT_EQ(r.generation, tamsil_asicGeneration(r.id));
  }
}

}  // namespace

namespace {

// The channel's callbacks through the kernel, with their declared parameter
// sizes: with no function attached, a request naming one finds nothing and
// the function lists come back empty.
TEST_F(LoadedModuleTest, ManagementCallbacksAnswerThroughTheChannel) {
  struct Row {
    uint64_t id;
    size_t size;
  };
  const Row rows[] = {{16, 12288}, {17, 1540},  {18, 65536}, {19, 785},  {20, 4},    {21, 167}, {22, 192},
                      {23, 24},    {24, 16},    {25, 6},     {26, 4},    {27, 50404}, {28, 9604}, {29, 4},
                      {30, 64008}, {31, 4},     {32, 38404}, {33, 264},  {34, 32768}};
  EXPECT_EQ(19u, tamsil_mgmtSignature.numCallbacks);
  EXPECT_STREQ("talvor", tamsil_mgmtSignature.vendor.string);
  EXPECT_EQ(0x01000000u, tamsil_mgmtSignature.version);
  std::vector<uint8_t> hdr(28), buf(65536);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.id);
    std::fill(hdr.begin(), hdr.end(), 0);
    memcpy(hdr.data(), "0000:004:00.0", 14);
    const bool list = r.id == 17 || r.id == 32;
    EXPECT_EQ(list ? VMK_OK : VMK_NOT_FOUND,
              vmktest::mgmtInvoke("tamsilMgmtToKernel", r.id, hdr.data(), 28, buf.data(), r.size));
    uint32_t status;
    memcpy(&status, &hdr[24], 4);
    EXPECT_EQ(list ? 0u : uint32_t{VMK_NOT_FOUND}, status);
    EXPECT_EQ(VMK_BAD_PARAM, vmktest::mgmtInvoke("tamsilMgmtToKernel", r.id, hdr.data(), 28, buf.data(), r.size - 1));
  }
  EXPECT_EQ(VMK_NOT_FOUND, vmktest::mgmtInvoke("tamsilMgmtToKernel", 35, hdr.data(), 28, buf.data(), 4));
}

TEST_F(LoadedModuleTest, DeviceOperationsAreTheLifeCycleEntryPoints) {
  EXPECT_EQ(&tamsil_attachDevice, tamsilDrvOps.attachDevice);
  EXPECT_EQ(&tamsil_scanDevice, tamsilDrvOps.scanDevice);
  EXPECT_EQ(&tamsil_detachDevice, tamsilDrvOps.detachDevice);
  EXPECT_EQ(&tamsil_quiesceDevice, tamsilDrvOps.quiesceDevice);
  EXPECT_EQ(&tamsil_startDevice, tamsilDrvOps.startDevice);
  EXPECT_EQ(&tamsil_forgetDevice, tamsilDrvOps.forgetDevice);
}

}  // namespace
