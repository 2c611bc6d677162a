// The emulated-host demo: loads the tamsil driver module into the stand-in
// kernel and tells, in plain words, what happened.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "adapter.h"
#include "tamsil.h"
#include "vmk_testing.h"

int tamsil_demoUplinks();
int tamsil_demoTraffic();
int tamsil_demoRecovery();
int tamsil_demoMgmt();

namespace {

void say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void say(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vprintf(fmt, ap);
  va_end(ap);
  fputc('\n', stdout);
}

// Shows the lines written since `mark` (a count of vmktest::logWritten());
// the stand-in keeps only the newest lines, so older ones may be gone.
void showKernelLog(uint64_t mark) {
  auto lines = vmktest::logLines();
  uint64_t since = vmktest::logWritten() - mark;
  size_t from = since < lines.size() ? lines.size() - static_cast<size_t>(since) : 0;
  for (size_t i = from; i < lines.size(); i++) {
    std::string t = lines[i].text;
    if (!t.empty() && t.back() == '\n') t.pop_back();
    printf("    kernel log: %s\n", t.c_str());
  }
}

void showLive(const char* when) {
  vmktest::Live l = vmktest::live();
  if (l.allZero()) say("  %s the kernel holds nothing for the driver any more.", when);
  else say("  %s the kernel holds: %s", when, l.describe().c_str());
}

}  // namespace

int main() {
  vmktest::reset();
  say("tamsil %s, emulated host", TAMSIL_DRIVER_VERSION);
  say("There is no hypervisor kernel here: a user-space stand-in provides the kernel services, with a clock");
  say("that runs faster than the wall clock while adapters are up (steps 4 to 7): times shown are emulated.");
  say("PCI functions are named as the kernel names them, 0000:BBB:DD.F.");
  fputc('\n', stdout);

  say("The module binary declares:");
  for (const std::string& d : vmktest::moduleDeclarations()) say("   %s", d.c_str());
  fputc('\n', stdout);

  say("1. Loading the driver module with its default parameters.");
  int rc = vmktest::loadModule(init_module, "");
  if (rc != 0) {
    say("   The module refused to load (init returned %d).", rc);
    showKernelLog(0);
    return 1;
  }
  vmktest::PoolInfo pool;
  vmktest::HeapInfo heap;
  vmktest::poolInfo(TAMSIL_DRIVER_NAME, &pool);
  vmktest::heapInfo(TAMSIL_DRIVER_NAME, &heap);
  say("   Loaded. The module reserved a memory pool of %u pages (up to %u pages) and a heap of %lu bytes",
      pool.reservation, pool.limit, (unsigned long)heap.initial);
  say("   (growing to %lu bytes), registered its log component, lock domain and driver, created its",
      (unsigned long)heap.max);
  say("   device table and opened the management channel \"%s\": %s.", tamsil_mgmtSignature.name.string,
      vmktest::mgmtRegistered(tamsil_mgmtSignature.name.string) ? "clients can reach it" : "NOT registered");
  say("   Parameters in force: debugMask=0x%x, tpe_recovery=%d, msix=%d, vxlan_offload=%d.", debugMask, tpe_recovery,
      msix, vxlan_offload);
  showKernelLog(0);
  showLive(" While loaded,");
  fputc('\n', stdout);

  say("2. Unloading the module.");
  uint64_t mark = vmktest::logWritten();
  vmktest::unloadModule(cleanup_module);
  showKernelLog(mark);
  showLive(" After unload");
  fputc('\n', stdout);

  say("3. Loading again with max_vfs given for 129 functions (the limit is %d).", TAMSIL_MAX_PF_PARAMS);
  std::string many;
  for (int i = 0; i < 129; i++) many += i ? ",1" : "1";
  mark = vmktest::logWritten();
  rc = vmktest::loadModule(init_module, "max_vfs=" + many);
  say("   The module %s (init returned %d).", rc == 0 ? "loaded" : "refused to load", rc);
  showKernelLog(mark);
  if (rc == 0) vmktest::unloadModule(cleanup_module);
  showLive(" Afterwards");
  fputc('\n', stdout);

  say("4. Attaching one emulated adapter of each generation as an uplink, then detaching it.");
  int uplinkFailures = tamsil_demoUplinks();
  showLive(" Afterwards");
  fputc('\n', stdout);

  say("5. Two emulated ports of each generation joined by a cable, I/O started on both; a mix of frames");
  say("   (small, full-size, TSO, VLAN inserted by the device, IPv6, VXLAN on Veskarn) each way.");
  int trafficFailures = tamsil_demoTraffic();
  showLive(" Afterwards");
  fputc('\n', stdout);

  say("6. An unrecoverable error injected into one of two Veskarn ports while frames flow: the driver");
  say("   soft-resets the chip and rebuilds the adapter on its own.");
  int recoveryFailures = tamsil_demoRecovery();
  showLive(" Afterwards");
  fputc('\n', stdout);

  say("7. A two-function Veskarn adapter as two uplinks; a user-space client asks the management channel");
  say("   for the driver's functions, then for one function's driver information and link status.");
  int mgmtFailures = tamsil_demoMgmt();
  showLive(" Afterwards");
  return vmktest::live().allZero() && uplinkFailures == 0 && trafficFailures == 0 && recoveryFailures == 0 &&
                 mgmtFailures == 0
             ? 0
             : 1;
}
