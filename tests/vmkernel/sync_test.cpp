// Locks, worlds, waits, timers and the kernel clock.
#include <atomic>
#include <chrono>
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
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(got);
  vmk_SemaUnlock(&s);
  t.join();
  EXPECT_TRUE(got);
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
