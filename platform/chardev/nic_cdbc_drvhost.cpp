// What driver/tamsil_cdbc.cpp needs of its kernel, for the emulated host's
// build of it (see nic_cdbc_run.cpp for why the interpreter is linked here).
//
// The interpreter logs through the kernel's log and the driver's log line;
// here both count the line and keep the last one for the emulated host's
// tests. The Adapter bus of the interpreter (tamsilCdbcAdapterBus) is never
// used: runs get the emulated function's bus. Its kernel calls answer as
// for a device that is not there.
#include <cstdarg>
#include <cstdio>

#include <atomic>
#include <mutex>
#include <string>

#include "nic_cdbc.h"
#include "tamsil.h"

namespace {

std::atomic<unsigned> g_lines{0};
std::mutex g_mu;
std::string g_last;

void note(const char* fmt, va_list ap) {
  char line[512];
  vsnprintf(line, sizeof line, fmt, ap);
  std::lock_guard<std::mutex> g(g_mu);
  g_last = line;
  ++g_lines;
}

}  // namespace

tamsil_driverRecord tamsilDriver;

void vmk_LogMessage(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  note(fmt, ap);
  va_end(ap);
}

void tamsil_logLine(vmk_LogUrgency, vmk_int32, bool, const Adapter*, const char*, int, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  note(fmt, ap);
  va_end(ap);
}

VMK_ReturnStatus vmk_PCIQueryIOResource(vmk_PCIDevice, vmk_uint8, vmk_PCIResource*) { return VMK_NOT_FOUND; }
VMK_ReturnStatus vmk_PCIReadConfig(vmk_ModuleID, vmk_PCIDevice, vmk_PCIConfigAccess, vmk_uint16, vmk_uint32* value) {
  *value = 0xFFFFFFFFu;
  return VMK_NOT_FOUND;
}
VMK_ReturnStatus vmk_PCIWriteConfig(vmk_ModuleID, vmk_PCIDevice, vmk_PCIConfigAccess, vmk_uint16, vmk_uint32) {
  return VMK_NOT_FOUND;
}
vmk_uint8 vmk_MMIORead8(vmk_VA) { return 0xFF; }
vmk_uint16 vmk_MMIORead16(vmk_VA) { return 0xFFFF; }
vmk_uint32 vmk_MMIORead32(vmk_VA) { return 0xFFFFFFFFu; }
void vmk_MMIOWrite8(vmk_VA, vmk_uint8) {}
void vmk_MMIOWrite16(vmk_VA, vmk_uint16) {}
void vmk_MMIOWrite32(vmk_VA, vmk_uint32) {}
void vmk_DelayUsecs(vmk_uint32) {}

namespace chardev {

unsigned cdbcAssertions() { return g_lines.load(); }

const char* cdbcLastAssertion() {
  static thread_local std::string copy;
  std::lock_guard<std::mutex> g(g_mu);
  copy = g_last;
  return copy.c_str();
}

}  // namespace chardev
