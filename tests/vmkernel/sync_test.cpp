// Locks, worlds, waits, timers and the kernel clock.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>
#include <thread>

#include "kernel_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

double realMs(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

class SyncTest : public StandinTest {};

TEST_F(SyncTest, SpinlockExcludesAndCatchesRecursion) {
  vmk_SpinlockCreateProps p{};
  vmk_NameInitialize(&p.name, "test-lock");
  vmk_Lock lock;
  ASSERT_EQ(VMK_OK, vmk_SpinlockCreate(&p, &lock));
  EXPECT_EQ(1, vmktest::live().locks);
  ASSERT_EQ(VMK_OK, vmk_SPLock(lock));
  EXPECT_TRUE(vmk_SPIsLocked(lock));
  EXPECT_DEATH(vmk_SPLock(lock), "spinlock test-lock taken again by its holder");
  vmk_SPUnlock(lock);
  EXPECT_DEATH(vmk_SPUnlock(lock), "released by a thread that does not hold it");
  vmk_SpinlockDestroy(lock);
}

// Static destructors run after the thread-locals of the exiting thread are
// gone, and they may still take spinlocks (a test rig kept for the whole
// process does): the kernel's record of held locks must survive that.
vmk_Lock exitLock = nullptr;

TEST_F(SyncTest, SpinlocksStillWorkInExitHandlers) {
  EXPECT_EXIT(
      {
        vmk_SpinlockCreateProps p{};
        vmk_NameInitialize(&p.name, "exit-lock");
        if (vmk_SpinlockCreate(&p, &exitLock) != VMK_OK) _exit(3);
        vmk_SPLock(exitLock);
        vmk_SPUnlock(exitLock);
        atexit([] {
          vmk_SPLock(exitLock);
          vmk_SPUnlock(exitLock);
        });
        exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(SyncTest, BinarySemaphore) {
  vmk_Semaphore s;
  ASSERT_EQ(VMK_OK, vmk_BinarySemaCreate(&s, 0, "Mbox lock for tamsil"));
  vmk_SemaLock(&s);
  EXPECT_EQ(VMK_BUSY, vmk_SemaTryLock(&s));
  std::atomic<bool> got{false};
  std::thread t([&] {
    vmk_SemaLock(&s);
    got = true;
    vmk_SemaUnlock(&s);
  });
  // The second taker blocks, and is seen waiting.
  EXPECT_TRUE(vmktest::waitFor([&] { return vmktest::semaWaiters(s) == 1; }));
  EXPECT_FALSE(got);
  vmk_SemaUnlock(&s);
  t.join();
  EXPECT_TRUE(got);
  EXPECT_EQ(0, vmktest::semaWaiters(s));
  EXPECT_DEATH(vmk_SemaUnlock(&s), "released more often than taken");
  vmk_SemaDestroy(&s);
  EXPECT_EQ(nullptr, s);
}

TEST_F(SyncTest, LongSleepsCostLittleOnAFastClock) {
  vmktest::setClockRate(10000);
  auto start = Clock::now();
  uint64_t k0 = vmk_GetUptimeMS();
  EXPECT_EQ(VMK_OK, vmk_WorldSleep(12000000));  // 12 s
  EXPECT_GE(vmk_GetUptimeMS() - k0, 12000u);
  EXPECT_LT(realMs(start), 500.0);
}

TEST_F(SyncTest, ManyShortSleepsAndDelaysAddUp) {
  vmktest::setClockRate(0);  // stopped: only busy delays move it
  uint64_t t0 = vmktest::nowNs();
  auto start = Clock::now();
  for (int i = 0; i < 120000; i++) vmk_DelayUsecs(100);  // a 12 s polled wait
  EXPECT_EQ(12000000000ull, vmktest::nowNs() - t0);
  EXPECT_LT(realMs(start), 2000.0);
}

TEST_F(SyncTest, AdvanceWakesASleeperOnAStoppedClock) {
  vmktest::setClockRate(0);
  std::atomic<bool> done{false};
  std::thread t([&] {
    EXPECT_EQ(VMK_OK, vmk_WorldSleep(36000000));  // 36 s
    done = true;
  });
  // The sleeper must have taken its deadline before the clock moves.
  while (vmktest::sleepers() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(done);
  vmktest::advanceMs(35999);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(done);
  vmktest::advanceMs(1);
  t.join();
  EXPECT_TRUE(done);
}

struct WorldCtx {
  std::atomic<int> wakes{0};
  std::atomic<VMK_ReturnStatus> last{VMK_OK};
  int event = 0;
};

VMK_ReturnStatus waiterWorld(void* data) {
  auto* ctx = (WorldCtx*)data;
  for (;;) {
    VMK_ReturnStatus s = vmk_WorldWait((vmk_WorldEventID)&ctx->event, VMK_LOCK_INVALID, 1000, "test");
    ctx->last = s;
    if (s == VMK_DEATH_PENDING) return VMK_OK;
    if (s == VMK_OK) ctx->wakes++;
  }
}

TEST_F(SyncTest, WorldWaitWakeTimeoutAndDeath) {
  vmktest::setClockRate(1000);
  WorldCtx ctx;
  vmk_WorldProps p{};
  p.name = "waiter";
  p.startFunction = waiterWorld;
  p.data = &ctx;
  vmk_WorldID id;
  ASSERT_EQ(VMK_OK, vmk_WorldCreate(&p, &id));
  EXPECT_EQ(1, vmktest::live().worlds);
  // Wake-ups count; with nobody waking the 1 s waits time out.
  for (int i = 0; i < 50 && ctx.wakes == 0; i++) {
    vmk_WorldWakeup((vmk_WorldEventID)&ctx.event);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_GE(ctx.wakes.load(), 1);
  for (int i = 0; i < 200 && ctx.last != VMK_TIMEOUT; i++) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(VMK_TIMEOUT, ctx.last.load());
  ASSERT_EQ(VMK_OK, vmk_WorldDestroy(id));
  ASSERT_EQ(VMK_OK, vmk_WorldWaitForDeath(id));
  EXPECT_EQ(VMK_DEATH_PENDING, ctx.last.load());
  EXPECT_EQ(0, vmktest::live().worlds);
}

struct LockedCtx {
  vmk_Lock lock;
  bool flag = false;
  std::atomic<bool> sawFlag{false};
};

VMK_ReturnStatus lockedWaiter(void* data) {
  auto* ctx = (LockedCtx*)data;
  for (;;) {
    vmk_SPLock(ctx->lock);
    if (ctx->flag) {
      vmk_SPUnlock(ctx->lock);
      ctx->sawFlag = true;
      return VMK_OK;
    }
    // The lock goes atomically with falling asleep: a wake after the test
    // above cannot be lost.
    if (vmk_WorldWait((vmk_WorldEventID)&ctx->flag, ctx->lock, VMK_TIMEOUT_UNLIMITED_MS, "flag") ==
        VMK_DEATH_PENDING)
      return VMK_OK;
  }
}

TEST_F(SyncTest, WaitReleasesTheSpinlockWithoutLosingAWake) {
  vmktest::setClockRate(0);  // no timeouts can rescue a lost wake
  for (int round = 0; round < 20; round++) {
    LockedCtx ctx;
    vmk_SpinlockCreateProps sp{};
    vmk_NameInitialize(&sp.name, "flag");
    ASSERT_EQ(VMK_OK, vmk_SpinlockCreate(&sp, &ctx.lock));
    vmk_WorldProps p{};
    p.name = "locked";
    p.startFunction = lockedWaiter;
    p.data = &ctx;
    vmk_WorldID id;
    ASSERT_EQ(VMK_OK, vmk_WorldCreate(&p, &id));
    vmk_SPLock(ctx.lock);
    ctx.flag = true;
    vmk_WorldWakeup((vmk_WorldEventID)&ctx.flag);
    vmk_SPUnlock(ctx.lock);
    ASSERT_EQ(VMK_OK, vmk_WorldWaitForDeath(id));
    EXPECT_TRUE(ctx.sawFlag);
    vmk_SpinlockDestroy(ctx.lock);
  }
}

VMK_ReturnStatus sleeperWorld(void* data) {
  auto* status = (std::atomic<VMK_ReturnStatus>*)data;
  *status = vmk_WorldSleep(3600ull * 1000000ull);  // an hour
  return VMK_OK;
}

TEST_F(SyncTest, DestroyInterruptsASleep) {
  std::atomic<VMK_ReturnStatus> status{VMK_OK};
  vmk_WorldProps p{};
  p.name = "sleeper";
  p.startFunction = sleeperWorld;
  p.data = &status;
  vmk_WorldID id;
  ASSERT_EQ(VMK_OK, vmk_WorldCreate(&p, &id));
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  auto start = Clock::now();
  ASSERT_EQ(VMK_OK, vmk_WorldDestroy(id));
  ASSERT_EQ(VMK_OK, vmk_WorldWaitForDeath(id));
  EXPECT_EQ(VMK_DEATH_PENDING, status.load());
  EXPECT_LT(realMs(start), 500.0);
  EXPECT_EQ(VMK_NOT_FOUND, vmk_WorldDestroy(id));
}

void countTick(vmk_AddrCookie data) { (*(std::atomic<int>*)data.ptr)++; }

TEST_F(SyncTest, TimersFollowTheClock) {
  vmktest::setClockRate(0);
  std::atomic<int> oneShot{0}, periodic{0};
  vmk_AddrCookie a, b;
  a.ptr = &oneShot;
  b.ptr = &periodic;
  vmk_Timer t1, t2;
  ASSERT_EQ(VMK_OK, vmk_TimerSchedule(vmk_TimerQueueGetSystemDefault(), countTick, a, 30000000, 0,
                                      VMK_TIMER_ATTR_NONE, 0, 0, &t1));
  ASSERT_EQ(VMK_OK, vmk_TimerSchedule(vmk_TimerQueueGetSystemDefault(), countTick, b, 1000000, 0,
                                      VMK_TIMER_ATTR_PERIODIC, 0, 0, &t2));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(0, oneShot.load());
  EXPECT_EQ(0, periodic.load());
  for (int s = 0; s < 30; s++) {
    vmktest::advanceMs(1000);
    for (int i = 0; i < 100 && periodic.load() < s + 1; i++) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (int i = 0; i < 100 && oneShot.load() == 0; i++) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(1, oneShot.load());
  EXPECT_EQ(30, periodic.load());
  EXPECT_EQ(VMK_NOT_FOUND, vmk_TimerCancel(t1, true));  // fired and released
  EXPECT_EQ(VMK_OK, vmk_TimerCancel(t2, true));
  EXPECT_EQ(0, vmktest::live().timers);
}

}  // namespace

namespace {

TEST_F(SyncTest, InjectedSleepAndWaitStatuses) {
  vmktest::failCall("vmk_WorldSleep", 1, VMK_WAIT_INTERRUPTED);
  EXPECT_EQ(VMK_WAIT_INTERRUPTED, vmk_WorldSleep(1000000));
  vmk_SpinlockCreateProps sp{};
  vmk_NameInitialize(&sp.name, "w");
  vmk_Lock lock;
  ASSERT_EQ(VMK_OK, vmk_SpinlockCreate(&sp, &lock));
  vmktest::failCall("vmk_WorldWait", 1, VMK_DEATH_PENDING);
  vmk_SPLock(lock);
  EXPECT_EQ(VMK_DEATH_PENDING, vmk_WorldWait(1, lock, VMK_TIMEOUT_UNLIMITED_MS, "x"));
  EXPECT_FALSE(vmk_SPIsLocked(lock));  // released as a real wait would
  vmk_SpinlockDestroy(lock);
}

}  // namespace

namespace {

vmk_Lock makeLock(const char* name, vmk_LockRank rank, vmk_LockDomainID domain = VMK_LOCKDOMAIN_INVALID) {
  vmk_SpinlockCreateProps p{};
  vmk_NameInitialize(&p.name, name);
  p.type = VMK_SPINLOCK;
  p.rank = rank;
  p.domain = domain;
  vmk_Lock l = nullptr;
  EXPECT_EQ(VMK_OK, vmk_SpinlockCreate(&p, &l));
  return l;
}

// Each case: what a thread does while it holds `outer` (taken first).
struct RuleCase {
  const char* what;
  vmk_LockRank outer;
  std::function<void(vmk_Lock outer)> act;
  bool broken;
  const char* text;   // in the violation's text
};

}  // namespace

TEST_F(SyncTest, LockRulesCatchSleepsUnderASpinlockAndRankInversions) {
  vmk_Semaphore sema;
  ASSERT_EQ(VMK_OK, vmk_BinarySemaCreate(&sema, 0, "rules"));
  vmk_Lock r3 = makeLock("rank-3", 3), r1 = makeLock("rank-1", 1), un = makeLock("unranked", VMK_SPINLOCK_UNRANKED);
  vmk_Lock other = makeLock("rank-1-elsewhere", 1, 7);
  const RuleCase cases[] = {
      {"sleep", VMK_SPINLOCK_UNRANKED, [](vmk_Lock) { vmk_WorldSleep(1); }, true, "vmk_WorldSleep may sleep while spinlock outer"},
      {"semaphore down", VMK_SPINLOCK_UNRANKED, [&](vmk_Lock) { vmk_SemaLock(&sema); vmk_SemaUnlock(&sema); }, true, "vmk_SemaLock"},
      {"semaphore try", VMK_SPINLOCK_UNRANKED, [&](vmk_Lock) { if (vmk_SemaTryLock(&sema) == VMK_OK) vmk_SemaUnlock(&sema); }, false, ""},
      {"wait releasing another lock", VMK_SPINLOCK_UNRANKED,
       [&](vmk_Lock) { vmk_SPLock(un); vmk_WorldWait(1, un, 1, "x"); }, true, "vmk_WorldWait may sleep while spinlock outer"},
      {"wait releasing the held lock", VMK_SPINLOCK_UNRANKED,
       [](vmk_Lock outer) { vmk_WorldWait(1, outer, 1, "x"); vmk_SPLock(outer); }, false, ""},
      {"busy delay", VMK_SPINLOCK_UNRANKED, [](vmk_Lock) { vmk_DelayUsecs(1); }, false, ""},
      {"blocking page allocation", VMK_SPINLOCK_UNRANKED, [](vmk_Lock) {
         vmk_MemPoolAllocProps pp{};
         pp.creationTimeoutMS = 10;
         vmk_MpnRange r;
         vmk_MemPoolAlloc(nullptr, &pp, 1, &r);   // refused (no pool) after the check
       }, true, "vmk_MemPoolAlloc with a creation time-out"},
      {"lower rank under higher", 3, [&](vmk_Lock) { vmk_SPLock(r1); vmk_SPUnlock(r1); }, true,
       "spinlock rank-1 (rank 1) taken while outer (rank 3) is held"},
      {"same rank twice", 3, [&](vmk_Lock) { vmk_SPLock(r3); vmk_SPUnlock(r3); }, true, "rank-3 (rank 3) taken while outer"},
      {"higher rank under lower", 1, [&](vmk_Lock) { vmk_SPLock(r3); vmk_SPUnlock(r3); }, false, ""},
      {"unranked under ranked", 3, [&](vmk_Lock) { vmk_SPLock(un); vmk_SPUnlock(un); }, false, ""},
      {"ranked under unranked", VMK_SPINLOCK_UNRANKED, [&](vmk_Lock) { vmk_SPLock(r1); vmk_SPUnlock(r1); }, false, ""},
      {"other domain", 3, [&](vmk_Lock) { vmk_SPLock(other); vmk_SPUnlock(other); }, false, ""},
  };
  for (const RuleCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> seen;
    vmktest::setLockRuleHandler([&](const std::string& t) { seen.push_back(t); });
    unsigned before = vmktest::lockRuleViolations();
    vmk_Lock outer = makeLock("outer", c.outer);
    ASSERT_EQ(VMK_OK, vmk_SPLock(outer));
    c.act(outer);
    vmk_SPUnlock(outer);
    vmk_SpinlockDestroy(outer);
    EXPECT_EQ(vmktest::lockRuleViolations() - before, c.broken ? 1u : 0u);
    ASSERT_EQ(seen.size(), c.broken ? 1u : 0u);
    if (c.broken) {
      EXPECT_NE(seen[0].find(c.text), std::string::npos) << seen[0];
    }
  }
  // Once the lock is gone, sleeping is fine again.
  unsigned before = vmktest::lockRuleViolations();
  vmk_WorldSleep(1);
  EXPECT_EQ(before, vmktest::lockRuleViolations());
  for (vmk_Lock l : {r3, r1, un, other}) vmk_SpinlockDestroy(l);
  vmk_SemaDestroy(&sema);
}

TEST_F(SyncTest, ABrokenLockRuleStopsTheSystemWithoutAHandler) {
  vmk_Lock l = makeLock("held-while-sleeping", VMK_SPINLOCK_UNRANKED);
  EXPECT_DEATH(
      {
        vmk_SPLock(l);
        vmk_WorldSleep(1);
      },
      "lock rule broken: vmk_WorldSleep may sleep while spinlock held-while-sleeping is held");
  vmk_SpinlockDestroy(l);
}
