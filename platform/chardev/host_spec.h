// The description of an emulated host: its adapters with their generation,
// PCI location and functions (NIC or iSCSI, VFs, MTU, interface and vmhba
// names, iSCSI device numbers). The physical port of a function is the
// firmware's to tell (the emulated adapter numbers them fn % ports). The library's tests and the demo build their hosts from
// these records; defaultHost() is the host they share unless a test needs
// another.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fw_engine.h"

namespace chardev {

enum class Proto : uint8_t { Nic, Iscsi };

struct FunctionSpec {
  uint8_t fn = 0;             // PCI function number
  Proto proto = Proto::Nic;
  uint16_t vfs = 0;           // NIC: virtual functions
  uint16_t mtu = 1500;        // NIC
  std::string ifname;         // NIC: host interface name ("vmnic0")
  std::string vmhba;          // iSCSI: vmhba name ("vmhba33")
  int iscsi_device = -1;      // iSCSI: number N of its character device sorblock_N
};

struct AdapterSpec {
  adapter::Gen gen = adapter::Gen::KS3;
  uint8_t bus = 3;
  uint8_t device = 0;
  std::string serial = "EMU1234567890";
  std::vector<FunctionSpec> functions;
  // The adapter's flash as a file: it boots from it when the file exists and
  // writes back every change (empty: nothing outlives the host).
  std::string flash_file;
};

struct HostSpec {
  std::vector<AdapterSpec> adapters;
  std::string release = "VMware ESXi 6.5.0 build-4564106";
};

// Two adapters: a KS3 with two NIC and two iSCSI functions, and a Veskarn
// with two NIC functions (one with VFs).
HostSpec defaultHost();

// A host description as text (the emulated host of scripts/emulated-host
// reads one from the file DRELMO_EMUHOST_SPEC names). One setting a line,
// "key = value"; '#' starts a comment; "[adapter]" starts the next adapter,
// whose settings follow it:
//   release = VMware ESXi 6.5.0 build-4564106     (host-wide, before any adapter)
//   [adapter]
//   gen = KS3                    KS2, KS3, Pivard or Veskarn
//   bus = 3                      PCI bus 0-255; device = 0-31 (default 0)
//   serial = KS3EMU000001        letters, digits, '-' and '_', 1-32 characters
//   nic = 0 vmnic0 vfs=4 mtu=9000       PCI function 0-7, interface name, options
//   iscsi = 2 vmhba33 0                 PCI function, vmhba name, N of sorblock_N (0-127)
// Every adapter needs a generation and a function; functions, iSCSI device
// numbers, interface and vmhba names, and bus/device pairs are unique.
// parseHostSpec fills spec and answers true, or leaves it and names the first
// fault with its line number in error.
bool parseHostSpec(const std::string& text, HostSpec* spec, std::string* error);
// The text of a description (parseHostSpec reads it back to the same host;
// flash files are not part of it).
std::string hostSpecText(const HostSpec& spec);

// The /etc/vmware/esx.conf text that names the host's functions.
std::string esxConfText(const HostSpec& spec);

// Number of NIC / iSCSI functions of the host.
unsigned nicFunctionCount(const HostSpec& spec);
unsigned iscsiFunctionCount(const HostSpec& spec);

}  // namespace chardev
