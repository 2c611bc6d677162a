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

static std::string vformatText(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int n = vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string out((size_t)n + 1, '\0');
  vsnprintf(out.data(), out.size(), fmt, ap);
  out.resize((size_t)n);
  return out;
}

void tamsil_logLine(vmk_LogUrgency urgency, vmk_int32 level, bool withDevice, const Adapter* adapter,
                    const char* func, int line, const char* fmt, ...) {
  char prefix[160];
  if (withDevice)
    snprintf(prefix, sizeof prefix, "%s: %s:%d: [%s] ", TAMSIL_DRIVER_NAME, func, line, tamsil_devName(adapter));
  else
    snprintf(prefix, sizeof prefix, "%s: %s:%d: ", TAMSIL_DRIVER_NAME, func, line);
  va_list ap;
  va_start(ap, fmt);
  std::string msg = vformatText(fmt, ap);
  va_end(ap);
  vmk_LogLevel(urgency, tamsilDriverLog, level, "%s%s", prefix, msg.c_str());
}

bool tamsil_rateLimitPrints(vmk_uint32 c) {
  if (c < 100) return true;
  if (c < 12800) return c % 128 == 0;
  if (c < 1024000) return c % 1024 == 0;
  return (c & 0xEFFFFu) == 0;
}

void tamsil_logRepeated(vmk_uint32 count, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string msg = vformatText(fmt, ap);
  va_end(ap);
  vmk_LogLevel(VMK_LOG_URGENCY_NORMAL, tamsilDriverLog, TAMSIL_LOG_LEVEL_INFO, "This message has repeated %d times: %s",
               (int)count, msg.c_str());
}
