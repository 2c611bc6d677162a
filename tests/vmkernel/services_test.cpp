// Failure injection, module registration and parameters, the management
// channel, log capture, names and the system stop.
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kernel_fixture.h"

namespace {

class ServicesTest : public StandinTest {};

TEST_F(ServicesTest, FailTheNthCallOnly) {
  vmktest::failCall("vmk_LockDomainCreate", 2, VMK_NO_MEMORY);
  vmk_Name n;
  vmk_NameInitialize(&n, "d");
  vmk_LockDomainID d1, d2, d3;
  EXPECT_EQ(VMK_OK, vmk_LockDomainCreate(0, nullptr, &n, &d1));
  EXPECT_EQ(VMK_NO_MEMORY, vmk_LockDomainCreate(0, nullptr, &n, &d2));
  EXPECT_EQ(VMK_OK, vmk_LockDomainCreate(0, nullptr, &n, &d3));
  EXPECT_EQ(3u, vmktest::callCount("vmk_LockDomainCreate"));
  EXPECT_EQ(1u, vmktest::injectedCount("vmk_LockDomainCreate"));
  EXPECT_EQ(VMK_OK, vmk_LockDomainDestroy(d1));
  EXPECT_EQ(VMK_OK, vmk_LockDomainDestroy(d3));
}

TEST_F(ServicesTest, FailEveryCallFromTheNth) {
  vmk_MemPool pool;
  vmk_HeapID heap;
  makePoolAndHeap(&pool, &heap);
  vmktest::failCall("vmk_HeapAlloc", 3, VMK_NO_MEMORY, true);
  void* a = vmk_HeapAlloc(heap, 8);
  void* b = vmk_HeapAlloc(heap, 8);
  EXPECT_NE(nullptr, a);
  EXPECT_NE(nullptr, b);
  for (int i = 0; i < 5; i++) EXPECT_EQ(nullptr, vmk_HeapAlloc(heap, 8));
  vmktest::clearFailures();
  void* c = vmk_HeapAlloc(heap, 8);
  EXPECT_NE(nullptr, c);
  for (void* p : {a, b, c}) vmk_HeapFree(heap, p);
  EXPECT_EQ(VMK_OK, vmk_HeapDestroy(heap));
  EXPECT_EQ(VMK_OK, vmk_MemPoolDestroy(pool));
}

// A hook runs in the caller's thread before the failure rule is decided,
// on every call, and may hold the caller; clearing removes it.
TEST_F(ServicesTest, HookRunsInTheCallerAndMayHoldIt) {
  vmk_Name n;
  vmk_NameInitialize(&n, "d");
  std::atomic<int> calls{0};
  std::atomic<bool> inside{false}, open{false};
  thread_local bool mine = false;
  vmktest::onCall("vmk_LockDomainCreate", [&] {
    calls++;
    if (!mine) return;
    inside = true;
    while (!open) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  vmktest::failCall("vmk_LockDomainCreate", 2, VMK_NO_MEMORY);
  vmk_LockDomainID d1 = VMK_LOCKDOMAIN_INVALID, d2 = VMK_LOCKDOMAIN_INVALID;
  EXPECT_EQ(VMK_OK, vmk_LockDomainCreate(0, nullptr, &n, &d1));
  std::atomic<bool> done{false};
  VMK_ReturnStatus held = VMK_OK;
  std::thread t([&] {
    mine = true;
    held = vmk_LockDomainCreate(0, nullptr, &n, &d2);
    done = true;
  });
  ASSERT_TRUE(vmktest::waitFor([&] { return inside.load(); }));
  EXPECT_FALSE(done.load());
  open = true;
  t.join();
  EXPECT_EQ(VMK_NO_MEMORY, held) << "the rule still applies to a hooked call";
  EXPECT_EQ(2, calls.load());
  vmktest::clearFailures();
  vmk_LockDomainID d3;
  EXPECT_EQ(VMK_OK, vmk_LockDomainCreate(0, nullptr, &n, &d3));
  EXPECT_EQ(2, calls.load()) << "cleared with the rules";
  EXPECT_EQ(VMK_OK, vmk_LockDomainDestroy(d1));
  EXPECT_EQ(VMK_OK, vmk_LockDomainDestroy(d3));
}

TEST_F(ServicesTest, ModuleRegistrationChecksTheInterfaceRevision) {
  vmk_ModuleID id;
  EXPECT_EQ(VMK_NOT_SUPPORTED, vmk_ModuleRegister(&id, 0x02010000));
  ASSERT_EQ(VMK_OK, vmk_ModuleRegister(&id, 0x02020000));
  EXPECT_EQ(VMK_OK, vmk_ModuleUnregister(id));
  EXPECT_EQ(VMK_NOT_FOUND, vmk_ModuleUnregister(id));
  EXPECT_EQ(VMK_NOT_FOUND, vmk_ModuleGetID("pondrel", &id));
  vmktest::setModulePresent("pondrel", true);
  EXPECT_EQ(VMK_OK, vmk_ModuleGetID("pondrel", &id));
}

int demoCount = 0;
int demoArray[4];
unsigned demoMask = 0x10;
int demoFlag = 1;
const vmk_ModuleParamDesc demoParams[] = {
    {"stdemo_mask", VMK_PARAM_UINT, &demoMask, 0, nullptr, "a mask"},
    {"stdemo_flag", VMK_PARAM_BOOL, &demoFlag, 0, nullptr, "a flag"},
    {"stdemo_list", VMK_PARAM_INT_ARRAY, demoArray, 4, &demoCount, "a list"},
};
VMK_MODPARAM_TABLE(demoParams);

TEST_F(ServicesTest, LoaderSetsAndResetsParameters) {
  std::string err;
  ASSERT_TRUE(vmktest::setModuleParameters("stdemo_mask=0x7 stdemo_flag=5 stdemo_list=1,-2,3,4,5,6", &err)) << err;
  EXPECT_EQ(7u, demoMask);
  EXPECT_EQ(1, demoFlag);
  EXPECT_EQ(6, demoCount);  // every value counts, only four are kept
  EXPECT_EQ(-2, demoArray[1]);
  EXPECT_EQ(4, demoArray[3]);
  ASSERT_TRUE(vmktest::setModuleParameters(""));
  EXPECT_EQ(0x10u, demoMask);
  EXPECT_EQ(0, demoCount);
  EXPECT_FALSE(vmktest::setModuleParameters("stdemo_nope=1", &err));
  EXPECT_NE(std::string::npos, err.find("stdemo_nope"));
  EXPECT_FALSE(vmktest::setModuleParameters("stdemo_mask=zz", &err));
}

struct MgmtSeen {
  vmk_MgmtCookie cookie;
  uint8_t p1[28];
};
MgmtSeen seen;

VMK_ReturnStatus echoCb(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* p1, void* p2) {
  seen.cookie = cookie;
  memcpy(seen.p1, p1, 28);
  memset(p2, 0xEE, 4);
  ((uint8_t*)p1)[27] = 0x42;
  return VMK_OK;
}

TEST_F(ServicesTest, ManagementChannelInvocation) {
  vmk_MgmtCallbackInfo cb[] = {{VMK_MGMT_CALLBACK_LOCATION_KERNEL, echoCb, 1, 2,
                                {VMK_MGMT_PARMTYPE_INOUT, VMK_MGMT_PARMTYPE_OUT}, {28, 4}, 31}};
  vmk_MgmtSignature sig{};
  sig.version = VMK_REVISION_FROM_NUMBERS(1, 0, 0, 0);
  vmk_NameInitialize(&sig.name, "testChannel");
  vmk_NameInitialize(&sig.vendor, "talvor");
  sig.numCallbacks = 1;
  sig.callbacks = cb;
  vmk_MgmtHandle h;
  ASSERT_EQ(VMK_OK, vmk_MgmtInit(0, nullptr, &sig, nullptr, 9, &h));
  EXPECT_EQ(VMK_EXISTS, vmk_MgmtInit(0, nullptr, &sig, nullptr, 9, &h));
  uint8_t hdr[28] = {1, 2, 3};
  uint32_t out = 0;
  ASSERT_EQ(VMK_OK, vmktest::mgmtInvoke("testChannel", 31, hdr, 28, &out, 4));
  EXPECT_EQ(9u, seen.cookie);
  EXPECT_EQ(3, seen.p1[2]);
  EXPECT_EQ(0x42, hdr[27]);
  EXPECT_EQ(0xEEEEEEEEu, out);
  EXPECT_EQ(VMK_BAD_PARAM, vmktest::mgmtInvoke("testChannel", 31, hdr, 27, &out, 4));
  EXPECT_EQ(VMK_NOT_FOUND, vmktest::mgmtInvoke("testChannel", 30, hdr, 28, &out, 4));
  ASSERT_EQ(VMK_OK, vmk_MgmtDestroy(h));
  EXPECT_FALSE(vmktest::mgmtRegistered("testChannel"));
}

TEST_F(ServicesTest, LogLinesAreCapturedWithComponentUrgencyAndLevel) {
  vmk_LogProperties p{};
  vmk_NameInitialize(&p.name, "comp");
  vmk_LogComponent log;
  ASSERT_EQ(VMK_OK, vmk_LogRegister(&p, &log));
  vmk_LogSetCurrentLogLevel(log, 1);
  vmk_LogLevel(VMK_LOG_URGENCY_WARNING, log, 3, "value %d\n", 42);
  vmk_AlertMessage("plain %s\n", "alert");
  auto lines = vmktest::logLines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("comp", lines[0].component);
  EXPECT_EQ(VMK_LOG_URGENCY_WARNING, lines[0].urgency);
  EXPECT_EQ(3, lines[0].level);
  EXPECT_EQ("value 42\n", lines[0].text);
  EXPECT_EQ("", lines[1].component);
  EXPECT_EQ(VMK_LOG_URGENCY_ALERT, lines[1].urgency);
  EXPECT_EQ(1u, vmktest::logCount("plain alert"));
  EXPECT_EQ(VMK_OK, vmk_LogUnregister(log));
}

// The log keeps a bounded tail, but counts every line of a run: a test can
// still count lines that scrolled out of the tail.
TEST_F(ServicesTest, LogKeepsATailAndCountsEveryLine) {
  vmk_LogProperties p{};
  vmk_NameInitialize(&p.name, "comp");
  vmk_LogComponent log;
  ASSERT_EQ(VMK_OK, vmk_LogRegister(&p, &log));
  for (int i = 1; i <= 3; i++) vmk_LogLevel(VMK_LOG_URGENCY_NORMAL, log, 0, "Checkpoint %d\n", i);
  const int kLines = 10000;
  for (int i = 0; i < kLines; i++) vmk_LogLevel(VMK_LOG_URGENCY_NORMAL, log, 0, "line %d of many\n", i);
  std::string longLine(3000, 'x');
  vmk_LogLevel(VMK_LOG_URGENCY_ALERT, log, 2, "%s end\n", longLine.c_str());
  EXPECT_EQ(kLines + 4u, vmktest::logWritten());
  auto lines = vmktest::logLines();
  ASSERT_EQ(4096u, lines.size());
  // Oldest first, the newest last.
  EXPECT_EQ("line " + std::to_string(kLines - 4095) + " of many\n", lines.front().text);
  EXPECT_EQ(longLine + " end\n", lines.back().text);
  EXPECT_EQ(VMK_LOG_URGENCY_ALERT, lines.back().urgency);
  EXPECT_EQ("comp", lines.back().component);
  EXPECT_EQ(3u, vmktest::logCount("Checkpoint"));
  EXPECT_EQ(1u, vmktest::logCount("Checkpoint 2\n"));
  EXPECT_EQ(size_t(kLines), vmktest::logCount(" of many"));
  EXPECT_EQ(1u, vmktest::logCount("line 0 of many"));
  vmktest::clearLog();
  EXPECT_EQ(0u, vmktest::logCount("Checkpoint"));
  EXPECT_EQ(0u, vmktest::logWritten());
  EXPECT_TRUE(vmktest::logLines().empty());
  EXPECT_EQ(VMK_OK, vmk_LogUnregister(log));
}

// Calls are counted per thread: counts stay exact across threads, also
// threads that are gone, and an armed rule is seen by every thread.
TEST_F(ServicesTest, CallsAndInjectionsAreExactAcrossThreads) {
  vmk_MemPool pool;
  vmk_HeapID heap;
  makePoolAndHeap(&pool, &heap);
  const int kThreads = 6, kCalls = 2000;
  auto run = [&](std::atomic<int>* failed) {
    std::vector<std::thread> ts;
    for (int t = 0; t < kThreads; t++)
      ts.emplace_back([&] {
        for (int i = 0; i < kCalls; i++) {
          void* b = vmk_HeapAlloc(heap, 24);
          if (b == nullptr) failed->fetch_add(1);
          vmk_HeapFree(heap, b);
        }
      });
    for (auto& t : ts) t.join();
  };
  std::atomic<int> failed{0};
  run(&failed);
  EXPECT_EQ(0, failed.load());
  EXPECT_EQ(unsigned(kThreads * kCalls), vmktest::callCount("vmk_HeapAlloc"));
  vmktest::failCall("vmk_HeapAlloc", 100, VMK_NO_MEMORY, true);
  run(&failed);
  EXPECT_EQ(kThreads * kCalls - 99, failed.load());
  EXPECT_EQ(unsigned(kThreads * kCalls - 99), vmktest::injectedCount("vmk_HeapAlloc"));
  EXPECT_EQ(unsigned(2 * kThreads * kCalls), vmktest::callCount("vmk_HeapAlloc"));
  vmktest::clearFailures();
  EXPECT_EQ(0, vmktest::live().heapBlocks);
  EXPECT_EQ(VMK_OK, vmk_HeapDestroy(heap));
  EXPECT_EQ(VMK_OK, vmk_MemPoolDestroy(pool));
}

TEST_F(ServicesTest, NamesAndStatusTexts) {
  vmk_Name n;
  EXPECT_EQ(VMK_OK, vmk_NameInitialize(&n, "tamsil"));
  EXPECT_STREQ("tamsil", vmk_NameToString(&n));
  EXPECT_EQ(VMK_LIMIT_EXCEEDED, vmk_NameInitialize(&n, "0123456789012345678901234567890123456789"));
  EXPECT_EQ(31u, strlen(n.string));
  EXPECT_STREQ("Failure", vmk_StatusToString(VMK_FAILURE));
  EXPECT_STREQ("Not supported", vmk_StatusToString(VMK_NOT_SUPPORTED));
  EXPECT_STREQ("Timeout", vmk_StatusToString(VMK_TIMEOUT));
}

TEST(SystemStopDeath, PanicStopsTheProcessWithItsMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(vmk_Panic("Unrecoverable error in tamsil at%s:%s - %d", "file.cpp", "fn", 12),
               "Unrecoverable error in tamsil atfile.cpp:fn - 12");
}

}  // namespace

namespace {

char kvStore[64] = "initial";
VMK_ReturnStatus kvGet(vmk_uint64 cookie, void* out) {
  snprintf((char*)out, VMK_MGMT_KEY_STRING_MAX, "%s cookie=%llu", kvStore, (unsigned long long)cookie);
  return VMK_OK;
}
VMK_ReturnStatus kvSet(vmk_uint64, void* in) {
  snprintf(kvStore, sizeof kvStore, "%s", (const char*)in);
  return VMK_OK;
}

TEST_F(ServicesTest, KeyValueInstance) {
  vmk_MgmtSignature sig{};
  sig.version = VMK_REVISION_FROM_NUMBERS(1, 0, 0, 0);
  vmk_NameInitialize(&sig.name, "vmnic2");
  vmk_NameInitialize(&sig.vendor, "Talvor");
  vmk_MgmtHandle h;
  ASSERT_EQ(VMK_OK, vmk_MgmtInit(0, nullptr, &sig, nullptr, 77, &h));
  vmk_Name key;
  vmk_NameInitialize(&key, "Q_IDs");
  ASSERT_EQ(VMK_OK, vmk_MgmtAddKey(h, VMK_MGMT_KEY_TYPE_STRING, &key, kvGet, kvSet));
  EXPECT_EQ(VMK_EXISTS, vmk_MgmtAddKey(h, VMK_MGMT_KEY_TYPE_STRING, &key, kvGet, kvSet));
  vmktest::failCall("vmk_MgmtAddKey", 1);
  vmk_NameInitialize(&key, "VF_Link_State");
  EXPECT_EQ(VMK_FAILURE, vmk_MgmtAddKey(h, VMK_MGMT_KEY_TYPE_STRING, &key, kvGet, kvSet));
  EXPECT_EQ(std::vector<std::string>{"Q_IDs"}, vmktest::mgmtKeys("vmnic2"));
  std::string v;
  ASSERT_EQ(VMK_OK, vmktest::mgmtKeyGet("vmnic2", "Q_IDs", &v));
  EXPECT_EQ("initial cookie=77", v);
  ASSERT_EQ(VMK_OK, vmktest::mgmtKeySet("vmnic2", "Q_IDs", "3 2"));
  ASSERT_EQ(VMK_OK, vmktest::mgmtKeyGet("vmnic2", "Q_IDs", &v));
  EXPECT_EQ("3 2 cookie=77", v);
  EXPECT_EQ(VMK_NOT_FOUND, vmktest::mgmtKeyGet("vmnic2", "nope", &v));
  ASSERT_EQ(VMK_OK, vmk_MgmtDestroy(h));
  EXPECT_EQ(VMK_NOT_FOUND, vmktest::mgmtKeyGet("vmnic2", "Q_IDs", &v));
}

}  // namespace
