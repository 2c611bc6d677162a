// The emulated host's description (DRELMO_EMUHOST_SPEC, a file a user
// writes; host_spec.h): any text. A description that is taken must hold what
// the parser promises (1-16 adapters of known generations, each with 1-8
// functions of unique numbers and names, no bus and device or serial twice)
// and its text must read back to the same host; a refused one names its
// fault and leaves the description untouched.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "host_spec.h"

namespace {

[[noreturn]] void fail(const char* what) {
  fprintf(stderr, "host description: %s\n", what);
  abort();
}

bool same(const chardev::HostSpec& a, const chardev::HostSpec& b) {
  if (a.release != b.release || a.adapters.size() != b.adapters.size()) return false;
  for (size_t i = 0; i < a.adapters.size(); ++i) {
    const chardev::AdapterSpec &x = a.adapters[i], &y = b.adapters[i];
    if (x.gen != y.gen || x.bus != y.bus || x.device != y.device || x.serial != y.serial ||
        x.functions.size() != y.functions.size())
      return false;
    for (size_t k = 0; k < x.functions.size(); ++k) {
      const chardev::FunctionSpec &f = x.functions[k], &g = y.functions[k];
      if (f.fn != g.fn || f.proto != g.proto || f.vfs != g.vfs || f.mtu != g.mtu || f.ifname != g.ifname ||
          f.vmhba != g.vmhba || f.iscsi_device != g.iscsi_device)
        return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  chardev::HostSpec spec;
  spec.release = "untouched";
  std::string error;
  if (!chardev::parseHostSpec(text, &spec, &error)) {
    if (error.empty()) fail("refused without a reason");
    if (spec.release != "untouched") fail("a refused text changed the description");
    return 0;
  }
  if (spec.adapters.empty() || spec.adapters.size() > 16) fail("adapter count");
  std::set<std::string> names, serials;
  for (const chardev::AdapterSpec& a : spec.adapters) {
    if (a.functions.empty() || a.functions.size() > 8) fail("function count");
    if (!serials.insert(a.serial).second) fail("a serial twice");
    if (a.serial.empty() || a.serial.find('/') != std::string::npos) fail("a serial that is no file name");
    for (const chardev::FunctionSpec& f : a.functions) {
      if (f.fn > 7) fail("function number");
      const std::string& n = f.proto == chardev::Proto::Nic ? f.ifname : f.vmhba;
      if (n.empty() || !names.insert(n).second) fail("a name empty or twice");
      if (f.proto == chardev::Proto::Iscsi && (f.iscsi_device < 0 || f.iscsi_device > 127)) fail("iSCSI device");
    }
  }
  chardev::HostSpec again;
  if (!chardev::parseHostSpec(chardev::hostSpecText(spec), &again, &error)) fail("its own text is refused");
  if (!same(spec, again)) fail("its own text reads back as another host");
  return 0;
}
