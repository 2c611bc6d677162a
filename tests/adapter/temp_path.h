// A path in /tmp that no file has yet (the test removes what it leaves there).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace fwtest {

inline std::string freshTempPath(const std::string& stem) {
  std::string tmpl = "/tmp/" + stem + "_XXXXXX";
  int fd = mkstemp(tmpl.data());
  if (fd < 0) return {};
  close(fd);
  std::remove(tmpl.c_str());
  return tmpl;
}

}  // namespace fwtest
