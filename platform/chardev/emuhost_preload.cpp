// libdrelmo_emuhost.so: the emulated host for any program, put in place by
// preloading (LD_PRELOAD; scripts/emulated-host does it). At load it
//   - stops the process outside the throw-away test root (testroot.h): the
//     host's files it writes are the machine's own paths;
//   - reads the host description from the file DRELMO_EMUHOST_SPEC names
//     (the format: host_spec.h), else takes defaultHost();
//   - keeps each adapter's flash in DRELMO_EMUHOST_STATE/<serial>.flash
//     (default /var/lib/drelmo-emuhost, which lives as long as the root), so
//     profiles, MACs, link and boot settings a run changes are there for the
//     next run, as on an adapter that was reset;
//   - writes /etc/vmware/esx.conf and the release files, and routes open,
//     ioctl and close of the NIC and iSCSI driver devices to the emulated
//     adapters (interpose.cpp, linked into this object).
// A client built with nothing but drelmo.h and -ldrelmo then finds the
// adapters as it would on a real host.
//
// Nothing of this object runs before its own static data is ready: the
// firmware model keeps its tables constant-initialised or function-local, so
// the host can be made in a constructor.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "emulated_host.h"
#include "testroot.h"

namespace {

constexpr const char* kName = "libdrelmo_emuhost.so";
constexpr const char* kDefaultState = "/var/lib/drelmo-emuhost";

[[noreturn]] void stop(const std::string& why) {
  fprintf(stderr, "%s: %s\n", kName, why.c_str());
  fflush(stderr);
  _exit(2);
}

bool readFile(const char* path, std::string* out) {
  FILE* f = fopen(path, "re");
  if (f == nullptr) return false;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
    out->append(buf, n);
    if (out->size() > (1u << 20)) break;  // no host description is that long
  }
  bool ok = ferror(f) == 0 && out->size() <= (1u << 20);
  fclose(f);
  return ok;
}

// mkdir -p; false when the folder is not there afterwards.
bool makeFolders(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at == path.size() || path[at] == '/') {
      std::string part = path.substr(0, at);
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Takes what DRELMO_EMUHOST_PRELOAD lists (scripts/emulated-host put it
// there) out of LD_PRELOAD: the commands the program starts (ip, a shell) are
// not libdrelmo clients and may be 64-bit programs, which cannot load it.
void forgetPreload() {
  const char* ours = getenv("DRELMO_EMUHOST_PRELOAD");
  const char* all = getenv("LD_PRELOAD");
  if (ours == nullptr || all == nullptr) return;
  std::string mine = std::string(":") + ours + ":", kept, list = all;
  size_t at = 0;
  while (at <= list.size()) {
    size_t end = list.find_first_of(": ", at);
    if (end == std::string::npos) end = list.size();
    std::string entry = list.substr(at, end - at);
    if (!entry.empty() && mine.find(":" + entry + ":") == std::string::npos) kept += (kept.empty() ? "" : ":") + entry;
    at = end + 1;
  }
  if (kept.empty())
    unsetenv("LD_PRELOAD");
  else
    setenv("LD_PRELOAD", kept.c_str(), 1);
  unsetenv("DRELMO_EMUHOST_PRELOAD");
}

// The host of this process; it lives until the process ends (the library may
// close its devices from an exit handler).
chardev::EmulatedHost* g_host;
// What it was made from, to make it again (drelmo_emuhost_factory_reset).
chardev::HostSpec* g_spec;

__attribute__((constructor)) void startEmulatedHost() {
  testroot::requireOrExit(kName, TAMSIL_SOURCE_DIR "/scripts/emulated-host");

  chardev::HostSpec spec = chardev::defaultHost();
  const char* spec_file = getenv("DRELMO_EMUHOST_SPEC");
  if (spec_file != nullptr && *spec_file != '\0') {
    std::string text, error;
    if (!readFile(spec_file, &text)) stop(std::string(spec_file) + ": cannot be read");
    if (!chardev::parseHostSpec(text, &spec, &error)) stop(std::string(spec_file) + ": " + error);
  }

  const char* state_env = getenv("DRELMO_EMUHOST_STATE");
  std::string state = state_env != nullptr && *state_env != '\0' ? state_env : kDefaultState;
  if (!makeFolders(state)) stop("cannot make the state folder " + state);
  for (chardev::AdapterSpec& a : spec.adapters) a.flash_file = state + "/" + a.serial + ".flash";

  g_spec = new chardev::HostSpec(spec);
  g_host = new chardev::EmulatedHost(spec);
  forgetPreload();
  if (!g_host->writeHostFiles()) stop("cannot write the host's files under /etc");
  chardev::install(g_host);
}

}  // namespace

// For test programs whose cases share one process: the adapters go back to
// their factory flash, as on a fresh host. Only while no client has the
// devices open (between a library's exit and its next init); 0 when done.
// Found with dlsym(RTLD_DEFAULT, "drelmo_emuhost_factory_reset").
extern "C" __attribute__((visibility("default"))) int drelmo_emuhost_factory_reset(void) {
  if (g_host == nullptr || g_spec == nullptr || g_host->openDescriptors() != 0) return -1;
  chardev::install(nullptr);
  delete g_host;
  for (const chardev::AdapterSpec& a : g_spec->adapters) unlink(a.flash_file.c_str());
  g_host = new chardev::EmulatedHost(*g_spec);
  if (!g_host->writeHostFiles()) return -1;
  chardev::install(g_host);
  return 0;
}
