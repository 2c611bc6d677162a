// One firmware command round trip through the emulated adapter: take a WRB,
// fill it, ring the doorbell, the adapter executes and completes, the
// completion is drained and the waiter woken.
#include <benchmark/benchmark.h>

#include "rig.h"

namespace {

cmdtest::Rig* makeRig(adapter::Gen gen, unsigned pollUs) {
  cmdtest::RigOptions o;
  o.gen = gen;
  o.clock_rate = 1.0;
  o.poll_interval_us = pollUs;
  auto* rig = new cmdtest::Rig(o);
  if (!rig->up()) {
    delete rig;
    return nullptr;
  }
  return rig;
}

// Polled MCC command: the issuing thread drains its own completion.
void BM_MccPolledRoundTrip(benchmark::State& state) {
  cmdtest::Rig* rig = makeRig(adapter::Gen::Veskarn, 100);
  if (rig == nullptr) {
    state.SkipWithError("rig");
    return;
  }
  rig->pollerOn(false);
  for (auto _ : state) {
    if (tamsil_cmdSetQos(rig->a, 1000, 0) != 0) state.SkipWithError("command failed");
  }
  delete rig;
}
BENCHMARK(BM_MccPolledRoundTrip);

// Sleeping MCC command: another thread drains and wakes the waiter.
void BM_MccSleepingRoundTrip(benchmark::State& state) {
  cmdtest::Rig* rig = makeRig(adapter::Gen::Veskarn, 0);
  if (rig == nullptr) {
    state.SkipWithError("rig");
    return;
  }
  uint32_t tx, rx;
  for (auto _ : state) {
    if (tamsil_cmdGetFlowControl(rig->a, &tx, &rx) != 0) state.SkipWithError("command failed");
  }
  delete rig;
}
BENCHMARK(BM_MccSleepingRoundTrip)->UseRealTime();

// Mailbox command: two doorbell halves and three ready polls.
void BM_MailboxCommand(benchmark::State& state) {
  cmdtest::Rig* rig = makeRig(adapter::Gen::KS3, 100);
  if (rig == nullptr) {
    state.SkipWithError("rig");
    return;
  }
  uint16_t id;
  for (auto _ : state) {
    if (tamsil_cmdGetActiveProfile(rig->a, &id) != 0) state.SkipWithError("command failed");
  }
  delete rig;
}
BENCHMARK(BM_MailboxCommand);

}  // namespace
