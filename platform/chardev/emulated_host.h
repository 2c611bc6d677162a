// The host the management library runs on, emulated: the NIC driver's one
// character device and the iSCSI driver's device per iSCSI function, at their
// real paths, answering the driver ioctls; the host's files; and the adapters
// behind them, whose firmware engine is the one the NIC driver's mailbox
// reaches.
//
// Usage (a library test, run in the throw-away test root):
//   chardev::EmulatedHost host(chardev::defaultHost());
//   host.writeHostFiles();          // /etc/vmware/esx.conf, /etc/issue.net ...
//   chardev::install(&host);        // open/ioctl/close of the device paths now reach it
//   ... call the library ...
//   host.failIoctl(chardev::Dev::Iscsi, 0x4580, EIO);      // knobs
//   host.engine(0).setFault(1, 32, {.status = 66});
//   host.setNicFunctionHidden(0, 1, true);                 // the NIC count changes
//   host.engine(1).profiles().active;                      // profile store (fw_profile.h)
//   host.rebootAdapter(1);                                 // configured -> running
//   adapter::iscsiNet(host.engine(0), 2);                  // iSCSI port of function 2
//                                                          // (iscsi/fw_iscsi_net.h)
//   chardev::install(nullptr);
//
// The NIC device answers as the host's NIC driver does: some core-dump
// commands and a card in error are answered by the driver itself, dump
// programs run in its interpreter (nic_sub11.h); the dump, log and
// transceiver data behind the firmware are fw_library_dump.h's.
//
// The library calls plain open/ioctl/close; interpose.cpp (linked into the
// test executable) hands calls on the device paths and descriptors to the
// installed host and everything else to libc. Descriptors the host hands out
// are real (of /dev/null), so fcntl and friends work on them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "adapter.h"
#include "host_spec.h"

namespace chardev {

constexpr const char* kNicDevicePath = "/vmfs/devices/char/vmkdriver/ks_esx_nic";
constexpr const char* kIscsiDevicePrefix = "/vmfs/devices/char/vmkdriver/sorblock_";

enum class Dev : uint8_t { Nic, Iscsi, Any };

// One ioctl as the device received it (before it was answered).
struct LoggedIoctl {
  Dev dev;
  int iscsi_device;         // N of sorblock_N; -1 for the NIC device
  unsigned long request;
  std::vector<uint8_t> bytes;  // the block as sent (pass-through: header, payload ...)
  int result;
  int err;
};

class EmulatedHost {
 public:
  explicit EmulatedHost(const HostSpec& spec);
  ~EmulatedHost();
  EmulatedHost(const EmulatedHost&) = delete;
  EmulatedHost& operator=(const EmulatedHost&) = delete;

  const HostSpec& spec() const { return spec_; }
  size_t adapterCount() const { return cards_.size(); }
  adapter::Adapter& card(size_t i) { return *cards_.at(i); }
  adapter::Engine& engine(size_t i) { return cards_.at(i)->engine(); }

  // Writes /etc/vmware/esx.conf, /etc/vmware-release, /etc/issue.net and
  // /etc/banner. Refuses (false) outside the throw-away test root.
  bool writeHostFiles() const;

  // ---- what the interposer calls ----
  bool handlesPath(const char* path) const;
  // A descriptor for the device at path, or -1 with errno set.
  int openDevice(const char* path, int flags);
  bool ownsDescriptor(int fd);
  // The ioctl result; errno is set when it is -1.
  int ioctl(int fd, unsigned long request, void* arg);
  // Forgets the descriptor (the interposer then closes it).
  void release(int fd);

  // ---- knobs ----
  // The next `times` ioctls `request` (0: any) on the device fail with err.
  void failIoctl(Dev dev, unsigned long request, int err, int times = -1);
  // Opening the device at path fails with err.
  void failOpen(const std::string& path, int err = ENOENT);
  void clearFaults();
  // The emulated reset of adapter i (fw_profile.h): what was configured for
  // the next reset runs now; the flash (and its file) stays as it is.
  void rebootAdapter(size_t i);
  // A hidden NIC function is left out of the chip information: the NIC
  // function count changes between two requests.
  void setNicFunctionHidden(size_t adapter_index, uint8_t fn, bool hidden);
  // The chip information block answered instead of the host's own (89 bytes).
  void setChipInfoOverride(const std::vector<uint8_t>& block);
  // The 32 bytes the vmhba-name ioctl of sorblock_N answers instead of the name.
  void setVmhbaNameRaw(int iscsi_device, const std::vector<uint8_t>& raw);
  // Every pass-through the firmware answers is then handed to `rewrite`
  // (header and payload in place, 16 + request length bytes), which may
  // change any of it: the reply the library reads is what it leaves. An
  // empty function lets the firmware's answers stand.
  using ReplyRewrite = std::function<void(uint8_t* reply, size_t size)>;
  void setReplyRewrite(ReplyRewrite rewrite);
  // The same for the VF table the NIC driver answers (976 bytes).
  void setVfTableRewrite(ReplyRewrite rewrite);
  // The number of VFs the NIC driver reports for a PCI function of adapter i.
  void setVfCount(size_t adapter_index, uint8_t fn, uint16_t vfs);
  // The host's "ip link set <ifname> vf <n> ..." run on the emulated host:
  // argv as the program gets it; "mac <addr>", "vlan <id>" and "rate <Mb/s>"
  // change the VF in its adapter's firmware, so the driver's VF table shows
  // them. The exit status: 0, 1 for an unknown interface or a bad value,
  // 2 for a VF the function does not have.
  int runIpLink(const std::vector<std::string>& argv);

  // ---- what tests look at ----
  std::vector<LoggedIoctl> log() const;
  void clearLog();
  size_t openDescriptors() const;
  unsigned opens(Dev dev) const;

 private:
  struct FnRef {
    size_t adapter;
    const FunctionSpec* fn;
  };
  struct OpenDev {
    int fd;
    Dev dev;
    int iscsi_device;
  };
  struct IoctlFault {
    Dev dev;
    unsigned long request;
    int err;
    int times;
  };

  int ioctlLocked(const OpenDev& od, unsigned long request, void* arg, std::vector<uint8_t>* logged);
  int nicIoctl(unsigned long request, uint8_t* arg, std::vector<uint8_t>* logged);
  int iscsiIoctl(int device, unsigned long request, uint8_t* arg, std::vector<uint8_t>* logged);
  const FnRef* nicByBdf(uint8_t bus, uint8_t device, uint8_t fn) const;
  const FnRef* iscsiByDevice(int device) const;
  int passthrough(const FnRef& f, uint8_t* hdr);
  bool hidden(size_t adapter_index, uint8_t fn) const;

  HostSpec spec_;
  std::vector<std::unique_ptr<adapter::Adapter>> cards_;
  std::vector<FnRef> nics_, iscsis_;
  mutable std::recursive_mutex mu_;
  std::vector<OpenDev> open_;
  std::vector<IoctlFault> ioctl_faults_;
  std::vector<std::pair<std::string, int>> open_faults_;
  std::vector<std::pair<size_t, uint8_t>> hidden_;
  std::vector<uint8_t> chip_override_;
  std::vector<std::pair<int, std::vector<uint8_t>>> vmhba_raw_;
  ReplyRewrite reply_rewrite_;
  ReplyRewrite vf_table_rewrite_;
  std::vector<LoggedIoctl> log_;
  unsigned nic_opens_ = 0, iscsi_opens_ = 0;
};

// The host the interposer routes to (none: everything goes to libc).
void install(EmulatedHost* host);
EmulatedHost* installed();

}  // namespace chardev
