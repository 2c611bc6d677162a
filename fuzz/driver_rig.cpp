#include "driver_rig.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "tamsil_cmds_os.h"
#include "vmk_testing.h"

namespace fuzzdrv {

namespace {

adapter::Gen genFromEnv() {
  const char* g = getenv("TAMSIL_FUZZ_GEN");
  if (g == nullptr || *g == '\0') return adapter::Gen::KS3;
  for (adapter::Gen gen : cmdtest::kAllGens)
    if (adapter::genName(gen) == std::string(g)) return gen;
  fprintf(stderr, "TAMSIL_FUZZ_GEN=%s names no generation (KS2, KS3, Pivard, Veskarn)\n", g);
  exit(2);
}

}  // namespace

cmdtest::Rig& sharedRig(bool poller, void (*fresh)(Adapter*)) {
  static std::unique_ptr<cmdtest::Rig> rig;
  if (rig && (tamsil_cardError(rig->a) || !rig->a->mcc_q.created)) {
    rig.reset();
    vmktest::Live l = vmktest::live();
    if (!l.allZero()) {
      fprintf(stderr, "kernel objects left after tear-down: %s\n", l.describe().c_str());
      abort();
    }
  }
  // The stand-in keeps every log line: only the lines of one input are kept.
  vmktest::clearLog();
  if (!rig) {
    cmdtest::RigOptions o;
    o.gen = genFromEnv();
    o.poller = poller;
    // Time runs fast: a command the firmware never answers times out in
    // milliseconds.
    o.clock_rate = 20000.0;
    o.poll_interval_us = 50;
    o.card_config = [](adapter::AdapterConfig& c) { c.mode = adapter::Mode::Sync; };
    rig = std::make_unique<cmdtest::Rig>(o);
    if (!rig->up()) {
      fprintf(stderr, "fuzz rig: the control path did not come up\n");
      abort();
    }
    if (fresh != nullptr) fresh(rig->a);
  }
  return *rig;
}

std::string liveObjects() { return vmktest::live().describe(); }

}  // namespace fuzzdrv
