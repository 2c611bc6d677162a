// Code for a Linux host. Nothing in the library calls it on ESXi; on a Linux
// host it drives the host's tools (lspci, ethtool, ifconfig, modinfo, uname,
// setenforce) through the shell and the files the Linux drivers offer under
// /sys and /lib/firmware.
//
// Every command goes through one runner and every host file path is taken
// below one file root, both of which a test replaces:
//   static int fake_run(const char* command) { ... write the output file ...; return status; }
//   OrsaLinuxHost fake{fake_run, "/tmp/fakeroot"};
//   orsa_set_linux_host(&fake);      // commands and files now go to the fake
//   ... ORSA_get_all_iscsi_devices() ...
//   orsa_set_linux_host(nullptr);    // the real host again
// Names and paths that reach a command line are checked first: anything but a
// plain interface name, PCI address or file path is refused.
#pragma once

#include <string>

#include "tree/hm_types.h"

struct OrsaLinuxHost {
  // Runs a shell command line; returns what system() returns for it (the
  // wait status; -1 when no shell could be started).
  int (*run)(const char* command);
  // Prefix of every host file the functions below read or write ("" or
  // nullptr: the host's own root). Never ends in '/'.
  const char* root;
};

// The runner and file root in force (nullptr: system() and "/").
void orsa_set_linux_host(const OrsaLinuxHost* host);
// A command line through the runner: its exit status, -1 when it did not exit.
int orsa_linux_run(const char* command);
// A host path below the file root.
std::string orsa_linux_path(const char* path);

// The last '/'-separated component of path; 1 for a missing path or no
// component, else 0.
u32 get_flash_name(const char* path, char out[HM_VALUE_SIZE]);

// Kernel-release markers and their distribution codes, in the order tried.
struct OrsaDistribution {
  const char* marker;  // text that occurs in the kernel release
  i32 code;
};
extern const OrsaDistribution orsa_distributions[];
extern const size_t orsa_distribution_count;

// The distribution code of the first marker that occurs in the running
// kernel's release ("uname -r"); -1 when none does or it cannot be read.
i32 find_os_distribution(void);

// Lists the PCI addresses of the adapters' iSCSI functions (vendor 0x1C4E and
// 0x1E7B, the iSCSI device ids) into orsa_glob.iscsi_pci_addresses; returns
// how many were stored (at most 128).
u32 ORSA_get_all_iscsi_devices(void);

// Flashes the firmware file at path through the Linux NIC driver of NIC
// function `function` (1-based); kind 4 compares the controller's versions
// afterwards. 0 on success (last status 55 when a reboot is needed), else the
// failure's status with its text (166, or 318/336/337 from ethtool).
u32 ORSA_firmware_download(HmNode* node, u32 function, u32 kind, const char* path);

// PCI bus and function ("0x%lx") and, when the address carries one, the PCI
// domain of NIC function `function` (1-based), from its interface's bus-info.
// 0, or 1 when the function, its interface name or the address is unusable.
u32 ORSA_backend_client_nic_bdf(u32 function, char bus[HM_VALUE_SIZE], char fn[HM_VALUE_SIZE], u32* domain);

// Sets ORSA_NIC_INBOX_DRIVER_LOADED when the NIC driver module is not marked
// as an external one. 0.
u32 ORSA_get_nic_driver_type(void);
