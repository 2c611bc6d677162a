// Driver log lines: prefixes, device names and the repeat limiter.
#include <cstdio>
#include <string>

#include "tamsil.h"

const char* tamsil_devName(const Adapter* adapter) {
  if (adapter == nullptr) return "unknown";
  if (adapter->uplink_name.string[0] != '\0') return adapter->uplink_name.string;
  if (adapter->pci_name[0] != '\0') return adapter->pci_name;
  return "unknown";
}

// A line is formatted once, prefix and message into one buffer (on the stack
// unless the message is long), and handed to the kernel as it stands.
static void logFormatted(vmk_LogUrgency urgency, vmk_int32 level, char* buf, size_t cap, size_t used,
                         const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int n = vsnprintf(buf + used, cap - used, fmt, copy);
  va_end(copy);
  if (n < 0) n = 0;
  if ((size_t)n < cap - used) {
    vmk_LogLevel(urgency, tamsilDriverLog, level, "%s", buf);
    return;
  }
  std::string big(buf, used);
  big.resize(used + (size_t)n + 1);
  vsnprintf(big.data() + used, (size_t)n + 1, fmt, ap);
  big.resize(used + (size_t)n);
  vmk_LogLevel(urgency, tamsilDriverLog, level, "%s", big.c_str());
}

void tamsil_logLine(vmk_LogUrgency urgency, vmk_int32 level, bool withDevice, const Adapter* adapter,
                    const char* func, int line, const char* fmt, ...) {
  char buf[512];
  int used;
  if (withDevice)
    used = snprintf(buf, 160, "%s: %s:%d: [%s] ", TAMSIL_DRIVER_NAME, func, line, tamsil_devName(adapter));
  else
    used = snprintf(buf, 160, "%s: %s:%d: ", TAMSIL_DRIVER_NAME, func, line);
  if (used < 0) used = 0;
  if (used > 159) used = 159;  // the prefix as cut to its 160 bytes
  va_list ap;
  va_start(ap, fmt);
  logFormatted(urgency, level, buf, sizeof buf, (size_t)used, fmt, ap);
  va_end(ap);
}

bool tamsil_rateLimitPrints(vmk_uint32 c) {
  if (c < 100) return true;
  if (c < 12800) return c % 128 == 0;
  if (c < 1024000) return c % 1024 == 0;
  return (c & 0xEFFFFu) == 0;
}

void tamsil_logRepeated(vmk_uint32 count, const char* fmt, ...) {
  char buf[512];
  int used = snprintf(buf, sizeof buf, "This message has repeated %d times: ", (int)count);
  if (used < 0) used = 0;
  va_list ap;
  va_start(ap, fmt);
  logFormatted(VMK_LOG_URGENCY_NORMAL, TAMSIL_LOG_LEVEL_INFO, buf, sizeof buf, (size_t)used, fmt, ap);
  va_end(ap);
}
