// What the driver's fuzz targets with an associated uplink share: one
// emulated adapter (doorbells served inside the write, so an input replays
// exactly) attached, started and its uplink associated as the network stack
// does it, built once per process (bringing it up costs far more than an
// input); taken down at the process's end, when every kernel object must
// have been given back. The generation comes from TAMSIL_FUZZ_GEN (KS2,
// KS3, Pivard, Veskarn; KS3 when unset). The VF target, which has no
// uplink, takes the generation, the clocks and its per-process rig from here
// too.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "adapter.h"
#include "tamsil.h"
#include "tamsil_bringup.h"
#include "vmk_testing.h"
#include "vmk_uplink_testing.h"

namespace fuzzdrv {

inline adapter::Gen genFromEnv() {
  const char* g = getenv("TAMSIL_FUZZ_GEN");
  if (g == nullptr || *g == '\0') return adapter::Gen::KS3;
  for (adapter::Gen gen : {adapter::Gen::KS2, adapter::Gen::KS3, adapter::Gen::Pivard, adapter::Gen::Veskarn})
    if (adapter::genName(gen) == std::string(g)) return gen;
  fprintf(stderr, "TAMSIL_FUZZ_GEN=%s names no generation (KS2, KS3, Pivard, Veskarn)\n", g);
  exit(2);
}

[[noreturn]] inline void fail(const char* what) {
  fprintf(stderr, "fuzz rig: %s\n", what);
  abort();
}

// The clock while inputs run. At the set-up's speed a command's time-out
// (36 s) passes in under 2 ms, which a loaded machine can take to get to the
// completion: the driver then rightly gives up on a command the firmware
// went on to carry out, and the rig's checks would blame the driver. At 200
// times the time-out is 180 ms, while the driver's polls (the completion
// world's 100 ms while I/O is quiesced) stay well under a millisecond.
constexpr double kInputClockRate = 200.0;
constexpr double kSetUpClockRate = 20000.0;

// Time runs fast for bringing the adapter up and taking it down: the drains
// of a quiesce wait milliseconds, not seconds.
inline void fastClock() { vmktest::setClockRate(kSetUpClockRate); }

struct UplinkRig {
  adapter::Adapter* card = nullptr;
  vmk_Device dev = nullptr, child = nullptr;
  Adapter* a = nullptr;
  vmk_Uplink uplink = nullptr;
  vmk_AddrCookie cookie{};

  const vmk_UplinkRegData* reg() const {
    return static_cast<const vmk_UplinkRegData*>(vmktest::deviceRegistrationData(child).ptr);
  }
  const vmk_UplinkOps& ops() const { return reg()->ops; }

  // `options`: the module's load options; `tweak` may change the card's
  // configuration before it is built.
  explicit UplinkRig(const std::string& options = "", void (*tweak)(adapter::AdapterConfig*) = nullptr) {
    vmktest::reset();
    vmktest::netReset();
    fastClock();
    if (vmktest::loadModule(init_module, options) != 0) fail("the module did not load");
    adapter::AdapterConfig cfg;
    cfg.fw.gen = genFromEnv();
    cfg.mode = adapter::Mode::Sync;
    if (tweak != nullptr) tweak(&cfg);
    card = new adapter::Adapter(cfg);
    dev = vmktest::plugPciFunction(card->function(0));
    if (vmktest::attachDevice(dev) != VMK_OK || vmktest::scanDevice(dev) != VMK_OK ||
        vmktest::startDevice(dev) != VMK_OK)
      fail("the adapter did not come up");
    vmk_AddrCookie c;
    c.ptr = nullptr;
    if (vmk_DeviceGetAttachedDriverData(dev, &c) != VMK_OK || c.ptr == nullptr) fail("no driver data");
    a = static_cast<Adapter*>(c.ptr);
    child = vmktest::childDevices(dev).at(0);
    if (vmktest::uplinkAssociate(reg(), "vmnic1", &uplink) != VMK_OK) fail("the uplink did not associate");
    cookie.ptr = a;
    vmktest::setClockRate(kInputClockRate);
  }

  // The uplink and the adapter gone, and nothing left alive.
  void down() {
    fastClock();
    vmktest::netPollDrain();
    vmktest::uplinkDisassociate(reg(), uplink);
    vmktest::removeDevice(child);
    vmktest::unplugPciFunction(dev);
    vmktest::netPollDrain();
    vmktest::unloadModule(cleanup_module);
    const vmktest::Live l = vmktest::live();
    const vmktest::NetLive n = vmktest::netLive();
    if (!l.allZero() || !n.allZero()) {
      fprintf(stderr, "kernel objects left after tear-down: %s%s\n", l.describe().c_str(), n.describe().c_str());
      abort();
    }
    if (card->engine().countLive() != 0) fail("firmware objects left after tear-down");
    delete card;
    card = nullptr;
  }
};

// The one rig of a process: built at the first input (bringing an adapter
// up costs far more than an input) and taken down by its end() when the
// process exits.
template <class Rig>
Rig& processRig() {
  static Rig* rig = nullptr;
  if (rig == nullptr) {
    rig = new Rig;
    atexit([] { rig->end(); });
  }
  return *rig;
}

}  // namespace fuzzdrv
