// The plugin as the host's framework drives it: the framework stand-in
// (platform/imahost) loads libdrelmo.so over the emulated host
// (run-over-emuhost) and opens it with owner id kOwner; the tree is read and
// checked through the same library's ORSA_ API.
//
// The default emulated host: Kalderstone0 (a KS3) with two iSCSI functions,
// iSCSIPhysicalHBA0 and iSCSIPhysicalHBA1, each with LogicalHBA0.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "imahost.h"

namespace imatest {

using imahost::Oid;
using imahost::Record;
using imahost::u32;
using imahost::u8;

constexpr u32 kOwner = 0x4d2;

// IMA statuses.
constexpr u32 kOk = 0, kNotSupported = 0x80000001, kOsError = 0x80000004, kUnknown = 0x80000000,
              kInvalidParam = 0xC0000000, kInvalidType = 0xC0000001, kIncorrectType = 0xC0000002,
              kNotFound = 0xC0000003, kNameTooLong = 0xC0000004;
// Object types.
enum : u32 { kNode = 2, kLhba = 3, kPhba = 4, kPortal = 5, kLnp = 7, kPnp = 8, kTarget = 9, kDisc = 11, kStatic = 12 };

class ImaHost : public ::testing::Test {
 protected:
  imahost::Host host;

  void SetUp() override {
    // The cases share one process and its emulated host: each starts from
    // factory flash, as a fresh host would.
    auto reset = reinterpret_cast<int (*)(void)>(dlsym(RTLD_DEFAULT, "drelmo_emuhost_factory_reset"));
    ASSERT_NE(reset, nullptr) << "run over the emulated host (run-over-emuhost)";
    ASSERT_EQ(reset(), 0) << "the emulated host's devices are still open";
    std::string why;
    ASSERT_TRUE(host.load("libdrelmo.so", &why)) << why;
    ASSERT_EQ(host.init(kOwner), kOk);
  }

  // ---- the tree, through the same library ----
  // Tag of a group path below ROOT ("Kalderstone0/iSCSIPhysicalHBA0"); 0xFFFFFFFF when missing.
  u32 tag(const std::string& path) {
    u32 t = 0;
    size_t at = 0;
    while (at <= path.size()) {
      size_t end = path.find('/', at);
      if (end == std::string::npos) end = path.size();
      std::string part = path.substr(at, end - at);
      u32 next = 0;
      if (host.call("ORSA_get_node_tag", t, part.c_str(), &next, (u32)1) != 0) return 0xFFFFFFFFu;
      t = next;
      at = end + 1;
    }
    return t;
  }
  std::string get(const std::string& group, const char* property) {
    u32 g = tag(group), p = 0;
    char value[256] = "";
    if (g == 0xFFFFFFFFu || host.call("ORSA_get_node_tag", g, property, &p, (u32)2) != 0) return "<missing>";
    u32 st = host.call("ORSA_get_property_val", g, p, value, (int32_t)sizeof value);
    return st == 0 ? std::string(value) : "<status " + std::to_string(st) + ">";
  }
  u32 set(const std::string& group, const char* property, const std::string& value) {
    u32 g = tag(group), p = 0;
    char text[256] = "";
    snprintf(text, sizeof text, "%s", value.c_str());
    if (g == 0xFFFFFFFFu || host.call("ORSA_get_node_tag", g, property, &p, (u32)2) != 0) return 0xFFFF;
    return host.call("ORSA_set_property_val", g, p, text, (u32)sizeof text);
  }
  u32 last_code() {
    u32 code = 0;
    char text[600] = "";
    host.call("ORSA_get_last_status", &code, text);
    return code;
  }
  std::string node_name(u32 t) {
    char name[64] = "";
    host.call("ORSA_get_node_name", t, name, (u32)1);
    return name;
  }

  // The saved initiator login options of Kalderstone0's first logical HBA
  // (the tree's InitiatorLoginOptions group shows this line): InitialR2T,
  // ImmediateData, HeaderDigest, DataDigest, AuthenticationMethod,
  // InitiatorCHAPName, InitiatorSecret, TargetCHAPName, TargetSecret,
  // CHAPParam, HeaderParam, DataParam.
  static void save_options(const std::vector<std::string>& fields) {
    std::string line = "Kalderstone0,iSCSIPhysicalHBA0,LogicalHBA0";
    for (const std::string& f : fields) line += "," + f;
    FILE* f = fopen("/scratch/ferrosul/orsa/intr_logopts.txt", "w");
    ASSERT_NE(f, nullptr);
    fprintf(f, "%s\n", line.c_str());
    fclose(f);
  }
  static void save_default_options() {
    save_options({"Yes", "Yes", "None", "None", "None", "", "", "", "", "Prohibited", "Prohibited", "Prohibited"});
  }

  // ---- ids of the default host ----
  static constexpr const char* kPhba0 = "Kalderstone0/iSCSIPhysicalHBA0";
  static constexpr const char* kLhba0 = "Kalderstone0/iSCSIPhysicalHBA0/LogicalHBA0";
  static constexpr const char* kTcpip0 = "Kalderstone0/iSCSIPhysicalHBA0/Network/TCPIPConfiguration";
  static constexpr const char* kNic0 = "Kalderstone0/iSCSIPhysicalHBA0/Network/NICConfiguration";
  Oid id(u32 type, const std::string& path) { return host.oid(type, tag(path)); }
  Oid phba() { return id(kPhba, kPhba0); }
  Oid lnp() { return id(kLnp, kPhba0); }
  Oid lhba() { return id(kLhba, kLhba0); }
  Oid portal() { return id(kPortal, kTcpip0); }
  Oid pnp() { return id(kPnp, kNic0); }

  // What the plugin can change, for both physical HBAs: the names, the
  // login options with their authentication, the IP settings.
  std::string state() {
    static const char* const groups[] = {"LogicalHBA0/InitiatoriSCSIName", "LogicalHBA0/InitiatorLoginOptions",
                                         "LogicalHBA0/InitiatorLoginOptions/Authentication",
                                         "LogicalHBA0/InitiatorDefaultLoginOptions"};
    static const char* const ip[] = {"InitiatorIPAddress", "InitiatorSubnetMask", "DefaultGateway", "DHCPEnabled"};
    std::string out;
    for (const char* phba : {"Kalderstone0/iSCSIPhysicalHBA0", "Kalderstone0/iSCSIPhysicalHBA1"}) {
      for (const char* g : groups) out += snapshot(std::string(phba) + "/" + g, false);
      for (const char* p : ip)
        out += std::string(p) + "=" + get(std::string(phba) + "/Network/TCPIPConfiguration", p) + "\n";
      out += get(std::string(phba) + "/Network/TCPIPConfiguration/IPv6Configuration", "DefaultIPv6Gateway") + "\n";
    }
    return out;
  }

  // Every property value below a group, as one comparable text.
  std::string snapshot(const std::string& group, bool deep = true) {
    std::string out;
    dump(tag(group), group, out, deep);
    return out;
  }
  void dump(u32 t, const std::string& path, std::string& out, bool deep) {
    static u32 tags[4096];
    u32 n = 0;
    std::vector<u32> props, groups;
    if (host.call("ORSA_get_child_tags", t, tags, &n, (u32)2) == 0) props.assign(tags, tags + n);
    n = 0;
    if (host.call("ORSA_get_child_tags", t, tags, &n, (u32)1) == 0) groups.assign(tags, tags + n);
    for (u32 p : props) {
      char name[64] = "", value[256] = "";
      host.call("ORSA_get_node_name", p, name, (u32)2);
      host.call("ORSA_get_property_val", t, p, value, (int32_t)sizeof value);
      out += path + "/" + name + "=" + value + "\n";
    }
    if (deep)
      for (u32 g : groups) dump(g, path + "/" + node_name(g), out, deep);
  }
};

inline std::vector<u32> wide(const std::string& s) { return imahost::widen(s); }

}  // namespace imatest
