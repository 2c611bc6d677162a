// Log lines the kernel stand-in captured, as the interpreter tests read them.
#pragma once

#include <string>

#include "vmk_testing.h"

namespace cdbctest {

inline void LogClear() { vmktest::clearLog(); }
inline std::string LogText() {
  std::string all;
  for (const std::string& t : vmktest::logTexts()) all += t;
  return all;
}
inline bool LogHas(const std::string& needle) { return LogText().find(needle) != std::string::npos; }

}  // namespace cdbctest
