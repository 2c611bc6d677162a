#include "host_spec.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

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

namespace {

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> words(const std::string& s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    size_t b = i;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
    if (i > b) out.push_back(s.substr(b, i - b));
  }
  return out;
}

// A decimal number 0..max, digits only.
bool number(const std::string& s, unsigned long max, unsigned long* out) {
  if (s.empty() || s.size() > 6 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  *out = strtoul(s.c_str(), nullptr, 10);
  return *out <= max;
}

// Names that reach host files and device paths: letters, digits, '-', '_'.
bool plainName(const std::string& s, size_t max) {
  if (s.empty() || s.size() > max) return false;
  for (char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
      return false;
  return true;
}

bool genByName(const std::string& s, adapter::Gen* gen) {
  const adapter::Gen all[] = {adapter::Gen::KS2, adapter::Gen::KS3, adapter::Gen::Pivard, adapter::Gen::Veskarn};
  for (adapter::Gen g : all) {
    if (strcasecmp(s.c_str(), adapter::genName(g)) == 0) {
      *gen = g;
      return true;
    }
  }
  return false;
}

// The checks across a finished description.
bool checkHost(const HostSpec& h, std::string* why) {
  std::set<std::pair<unsigned, unsigned>> places;
  std::set<std::string> names;
  std::set<int> devices;
  std::set<std::string> serials;
  for (size_t i = 0; i < h.adapters.size(); ++i) {
    const AdapterSpec& a = h.adapters[i];
    std::string which = "adapter " + std::to_string(i + 1);
    if (a.functions.empty()) return *why = which + " has no function", false;
    if (!places.insert({a.bus, a.device}).second)
      return *why = which + ": another adapter has its bus and device", false;
    // The serial names the adapter's flash file.
    if (!serials.insert(a.serial).second) return *why = which + ": another adapter has its serial", false;
    std::set<unsigned> fns;
    for (const FunctionSpec& f : a.functions) {
      if (!fns.insert(f.fn).second) return *why = which + ": function " + std::to_string(f.fn) + " twice", false;
      const std::string& n = f.proto == Proto::Nic ? f.ifname : f.vmhba;
      if (!names.insert(n).second) return *why = which + ": the name " + n + " twice", false;
      if (f.proto == Proto::Iscsi && !devices.insert(f.iscsi_device).second)
        return *why = which + ": iSCSI device " + std::to_string(f.iscsi_device) + " twice", false;
    }
  }
  return true;
}

}  // namespace

bool parseHostSpec(const std::string& text, HostSpec* spec, std::string* error) {
  HostSpec h;
  h.adapters.clear();
  std::vector<bool> has_gen;
  size_t line_no = 0, at = 0;
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = line_no != 0 ? "line " + std::to_string(line_no) + ": " + why : why;
    return false;
  };
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    std::string line = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
    at = nl == std::string::npos ? text.size() : nl + 1;
    ++line_no;
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    line = trim(line);
    if (line.empty()) continue;
    if (line == "[adapter]") {
      if (h.adapters.size() >= 16) return fail("more than 16 adapters");
      h.adapters.emplace_back();
      h.adapters.back().functions.clear();
      has_gen.push_back(false);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) return fail("neither \"key = value\" nor [adapter]");
    std::string key = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
    if (key == "release") {
      if (!h.adapters.empty()) return fail("release belongs before the first [adapter]");
      if (value.empty() || value.size() > 120) return fail("release must be 1-120 characters");
      h.release = value;
      continue;
    }
    if (h.adapters.empty()) return fail("\"" + key + "\" outside an [adapter]");
    AdapterSpec& a = h.adapters.back();
    unsigned long n = 0;
    if (key == "gen") {
      if (!genByName(value, &a.gen)) return fail("gen must be KS2, KS3, Pivard or Veskarn");
      has_gen.back() = true;
    } else if (key == "bus") {
      if (!number(value, 255, &n)) return fail("bus must be 0-255");
      a.bus = static_cast<uint8_t>(n);
    } else if (key == "device") {
      if (!number(value, 31, &n)) return fail("device must be 0-31");
      a.device = static_cast<uint8_t>(n);
    } else if (key == "serial") {
      if (!plainName(value, 32)) return fail("serial must be 1-32 letters, digits, '-' or '_'");
      a.serial = value;
    } else if (key == "nic" || key == "iscsi") {
      std::vector<std::string> w = words(value);
      if (w.size() < (key == "nic" ? 2u : 3u)) return fail(key + " needs a function number and a name");
      if (a.functions.size() >= 8) return fail("more than 8 functions in one adapter");
      FunctionSpec f;
      if (!number(w[0], 7, &n)) return fail("the function number must be 0-7");
      f.fn = static_cast<uint8_t>(n);
      if (!plainName(w[1], 31)) return fail("the name must be 1-31 letters, digits, '-' or '_'");
      if (key == "nic") {
        f.proto = Proto::Nic;
        f.ifname = w[1];
        for (size_t i = 2; i < w.size(); ++i) {
          if (w[i].rfind("vfs=", 0) == 0 && number(w[i].substr(4), 64, &n)) {
            f.vfs = static_cast<uint16_t>(n);
          } else if (w[i].rfind("mtu=", 0) == 0 && number(w[i].substr(4), 9000, &n) && n >= 576) {
            f.mtu = static_cast<uint16_t>(n);
          } else {
            return fail("a nic option is vfs=0-64 or mtu=576-9000, not \"" + w[i] + "\"");
          }
        }
      } else {
        if (w.size() != 3 || !number(w[2], 127, &n))
          return fail("iscsi takes a function, a vmhba name and a device 0-127");
        f.proto = Proto::Iscsi;
        f.vmhba = w[1];
        f.iscsi_device = static_cast<int>(n);
      }
      a.functions.push_back(f);
    } else {
      return fail("unknown key \"" + key + "\"");
    }
  }
  line_no = 0;
  if (h.adapters.empty()) return fail("no [adapter]");
  for (size_t i = 0; i < has_gen.size(); ++i)
    if (!has_gen[i]) return fail("adapter " + std::to_string(i + 1) + " has no gen");
  std::string why;
  if (!checkHost(h, &why)) return fail(why);
  *spec = std::move(h);
  return true;
}

std::string hostSpecText(const HostSpec& spec) {
  std::string out = "release = " + spec.release + "\n";
  for (const AdapterSpec& a : spec.adapters) {
    out += "\n[adapter]\ngen = " + std::string(adapter::genName(a.gen)) + "\nbus = " + std::to_string(a.bus) +
           "\ndevice = " + std::to_string(a.device) + "\nserial = " + a.serial + "\n";
    for (const FunctionSpec& f : a.functions) {
      if (f.proto == Proto::Nic)
        out += "nic = " + std::to_string(f.fn) + " " + f.ifname + " vfs=" + std::to_string(f.vfs) +
               " mtu=" + std::to_string(f.mtu) + "\n";
      else
        out += "iscsi = " + std::to_string(f.fn) + " " + f.vmhba + " " + std::to_string(f.iscsi_device) + "\n";
    }
  }
  return out;
}

}  // namespace chardev
