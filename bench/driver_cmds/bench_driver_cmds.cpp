// One firmware command round trip through the emulated adapter: take a WRB,
// fill it, ring the doorbell, the adapter executes and completes, the
// completion is drained and the waiter woken.
//
// The card serves every doorbell inside the write (sync mode), so a figure is
// the driver's, the stand-in's and the device model's work and no device
// thread's delay. bench_adapter's device-only round trips run the same
// commands (GET_FW_VERSION on the MCC, GET_ACTIVE_PROFILE on the mailbox):
// the difference is the driver and the stand-in.
#include <benchmark/benchmark.h>

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <thread>

#include "rig.h"

namespace {

cmdtest::Rig* makeRig(adapter::Gen gen) {
  cmdtest::RigOptions o;
  o.gen = gen;
  o.clock_rate = 1.0;
  o.poller = false;
  o.card_config = [](adapter::AdapterConfig& c) { c.mode = adapter::Mode::Sync; };
  auto* rig = new cmdtest::Rig(o);
  if (!rig->up()) {
    delete rig;
    return nullptr;
  }
  return rig;
}

uint64_t threadCpuNs() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

// Polled MCC command (GET_FW_VERSION): the issuing thread drains its own
// completion.
void BM_MccPolledRoundTrip(benchmark::State& state) {
  cmdtest::Rig* rig = makeRig(adapter::Gen::KS3);
  if (rig == nullptr) {
    state.SkipWithError("rig");
    return;
  }
  char ver[32], flash[32];
  for (auto _ : state) {
    if (tamsil_cmdGetFwVer(rig->a, ver, flash) != 0) {
      state.SkipWithError("command failed");
      break;
    }
  }
  delete rig;
}
BENCHMARK(BM_MccPolledRoundTrip);

// Sleeping MCC command (GET_FLOW_CONTROL): another thread drains the
// completion and wakes the waiter. The real time per command includes the
// host's thread wake-ups; the counters split it: issuer_cpu_ns and
// drain_cpu_ns are the CPU time of the issuing thread and of the drain calls
// that found the completion (the driver's work, with the stand-in's),
// host_wait_ns the rest (the drainer noticing, the waiter waking).
void BM_MccSleepingRoundTrip(benchmark::State& state) {
  cmdtest::Rig* rig = makeRig(adapter::Gen::KS3);
  if (rig == nullptr) {
    state.SkipWithError("rig");
    return;
  }
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> drainNs{0};
  Adapter* a = rig->a;
  std::thread drainer([&] {
    while (!stop.load(std::memory_order_relaxed)) {
      uint64_t t0 = threadCpuNs();
      if (tamsil_processMcc(a) != 0)
        drainNs.fetch_add(threadCpuNs() - t0, std::memory_order_relaxed);
      else
        std::this_thread::yield();
    }
  });
  uint32_t tx, rx;
  uint64_t cpu0 = threadCpuNs();
  auto real0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (tamsil_cmdGetFlowControl(a, &tx, &rx) != 0) {
      state.SkipWithError("command failed");
      break;
    }
  }
  double n = static_cast<double>(state.iterations() ? state.iterations() : 1);
  double real = static_cast<double>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - real0).count());
  double issuer = static_cast<double>(threadCpuNs() - cpu0);
  stop = true;
  drainer.join();
  double drain = static_cast<double>(drainNs.load());
  state.counters["issuer_cpu_ns"] = issuer / n;
  state.counters["drain_cpu_ns"] = drain / n;
  state.counters["host_wait_ns"] = (real - issuer - drain) / n;
  delete rig;
}
BENCHMARK(BM_MccSleepingRoundTrip)->UseRealTime();

// Mailbox command (GET_ACTIVE_PROFILE): two doorbell halves and the ready
// polls.
void BM_MailboxCommand(benchmark::State& state) {
  cmdtest::Rig* rig = makeRig(adapter::Gen::KS3);
  if (rig == nullptr) {
    state.SkipWithError("rig");
    return;
  }
  uint16_t id;
  for (auto _ : state) {
    if (tamsil_cmdGetActiveProfile(rig->a, &id) != 0) {
      state.SkipWithError("command failed");
      break;
    }
  }
  delete rig;
}
BENCHMARK(BM_MailboxCommand);

}  // namespace
