#include "host_spec.h"

#include <cstdio>

namespace chardev {

HostSpec defaultHost() {
  HostSpec h;
  AdapterSpec a;
  a.gen = adapter::Gen::KS3;
  a.bus = 3;
  a.device = 0;
  a.serial = "KS3EMU000001";
  a.functions = {
      {.fn = 0, .proto = Proto::Nic, .vfs = 0, .mtu = 1500, .ifname = "vmnic0"},
      {.fn = 1, .proto = Proto::Nic, .vfs = 0, .mtu = 9000, .ifname = "vmnic1"},
      {.fn = 2, .proto = Proto::Iscsi, .vmhba = "vmhba33", .iscsi_device = 0},
      {.fn = 3, .proto = Proto::Iscsi, .vmhba = "vmhba34", .iscsi_device = 1},
  };
  h.adapters.push_back(a);
  AdapterSpec b;
  b.gen = adapter::Gen::Veskarn;
  b.bus = 5;
  b.device = 0;
  b.serial = "VSKEMU000002";
  b.functions = {
      {.fn = 0, .proto = Proto::Nic, .vfs = 4, .mtu = 1500, .ifname = "vmnic2"},
      {.fn = 1, .proto = Proto::Nic, .vfs = 0, .mtu = 1500, .ifname = "vmnic3"},
  };
  h.adapters.push_back(b);
  return h;
}

std::string esxConfText(const HostSpec& spec) {
  std::string out = "/adv/Misc/HostName = \"emulated\"\n";
  char line[160];
  for (const AdapterSpec& a : spec.adapters) {
    for (const FunctionSpec& f : a.functions) {
      const std::string& name = f.proto == Proto::Nic ? f.ifname : f.vmhba;
      if (name.empty()) continue;
      snprintf(line, sizeof line, "/device/000:%03d:%02d.%d/vmkname = \"%s\"\n", a.bus, a.device, f.fn,
               name.c_str());
      out += line;
    }
  }
  return out;
}

unsigned nicFunctionCount(const HostSpec& spec) {
  unsigned n = 0;
  for (const AdapterSpec& a : spec.adapters)
    for (const FunctionSpec& f : a.functions) n += f.proto == Proto::Nic;
  return n;
}

unsigned iscsiFunctionCount(const HostSpec& spec) {
  unsigned n = 0;
  for (const AdapterSpec& a : spec.adapters)
    for (const FunctionSpec& f : a.functions) n += f.proto == Proto::Iscsi;
  return n;
}

}  // namespace chardev
