#include "emulated_host.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>

#include "fw_cfg_boot.h"
#include "fw_cfg_mac.h"
#include "fw_discovery.h"
#include "fw_library.h"
#include "fw_library_dump.h"
#include "fw_library_lldp.h"
#include "fw_profile.h"
#include "iscsi/fw_iscsi.h"
#include "iscsi/fw_iscsi_net.h"
#include "nic_sub11.h"
#include "testroot.h"
#include "wire.h"

namespace chardev {

namespace {

using adapter::wire::get16;
using adapter::wire::get32;
using adapter::wire::put16;
using adapter::wire::put32;

// Request numbers and blocks of the two drivers.
constexpr unsigned long kNicDriverInfo = 4;
constexpr unsigned long kNicPassthru = 5;
constexpr unsigned long kNicChipInfo = 6;
constexpr unsigned long kNicVfTable = 7;
constexpr unsigned long kNicPciConf = 8;
constexpr unsigned long kIscsiVmhbaName = 1;
constexpr unsigned long kIscsiPassthru = 0x4580;

constexpr size_t kChipInfoSize = 89;
constexpr size_t kCharInfoSize = 980;
constexpr size_t kPciConfHeader = 60;
constexpr size_t kNicHeader = 21;  // signature, magic, bus, device, function, then the header
constexpr const char kSignature[16] = {'K', 'E', 'S', 'T', 'R', 'I', 'M', 'O',
                                       'N', 'D', 'A', 'L', 'E', ' ', 'C', 'O'};
constexpr uint16_t kMagic = 0x5052;
// What the NIC driver writes into the controller attributes it passes through.
constexpr const char* kDriverText = "sornic 11.2.1149.0";

std::atomic<EmulatedHost*> g_installed{nullptr};

int realOpenNull(int flags) {
  // The interposer routes this path to libc: a plain descriptor to stand for the device.
  return ::open("/dev/null", O_RDWR | (flags & O_CLOEXEC));
}

bool matches(Dev want, Dev got) { return want == Dev::Any || want == got; }

}  // namespace

void install(EmulatedHost* host) { g_installed.store(host); }
EmulatedHost* installed() { return g_installed.load(); }

EmulatedHost::EmulatedHost(const HostSpec& spec) : spec_(spec) {
  for (size_t i = 0; i < spec_.adapters.size(); ++i) {
    const AdapterSpec& a = spec_.adapters[i];
    adapter::AdapterConfig cfg;
    cfg.fw.gen = a.gen;
    unsigned fns = 1;
    for (const FunctionSpec& f : a.functions) fns = std::max<unsigned>(fns, f.fn + 1u);
    cfg.fw.functions = fns;
    cfg.fw.serial_number = a.serial;
    cfg.fw.flash_file = a.flash_file;
    // Every adapter of the host has addresses of its own.
    cfg.fw.base_mac[4] = static_cast<uint8_t>(i + 1);
    cfg.bus = a.bus;
    cfg.device = a.device;
    // The character devices reach the firmware engine directly and ring no
    // doorbell: a device thread would only sit idle in every library process.
    cfg.mode = adapter::Mode::Sync;
    cards_.push_back(std::make_unique<adapter::Adapter>(cfg));
    adapter::Adapter& card = *cards_.back();

    // The library's commands: discovery's identity queries first, then the rest.
    adapter::registerDiscoveryHandlers(card.engine());
    adapter::registerLibraryHandlers(card.engine());
    // Factory and permanent MAC addresses and the NIC data regions take over
    // the host's forms of the commands registered above.
    adapter::registerMacHandlers(card.engine());
    // LLDP per port and the host's flow-control commands.
    adapter::registerLldpHandlers(card.engine());
    // The iSCSI functions' network ports take over their commands' plain
    // get/set forms registered above.
    adapter::registerIscsiNetHandlers(card.engine());
    // Core dumps, firmware logs, transceiver pages; the NIC driver's own
    // registers for its dump answers (nic_sub11.h).
    adapter::registerDumpHandlers(card.engine());
    // The iSCSI initiator: logins, sessions, persistent targets, the boot
    // regions' flash objects (in front of the object commands above).
    adapter::registerIscsiHandlers(card.engine());
    prepareNicDriverRegisters(card);
  }
  for (size_t i = 0; i < spec_.adapters.size(); ++i) {
    for (const FunctionSpec& f : spec_.adapters[i].functions) {
      if (f.proto == Proto::Nic) nics_.push_back({i, &f});
    }
  }
  // iSCSI functions in device order: the library opens sorblock_0, _1, ... in turn.
  for (int dev = 0; dev < 128; ++dev)
    for (size_t i = 0; i < spec_.adapters.size(); ++i)
      for (const FunctionSpec& f : spec_.adapters[i].functions)
        if (f.proto == Proto::Iscsi && f.iscsi_device == dev) iscsis_.push_back({i, &f});
}

EmulatedHost::~EmulatedHost() {
  if (installed() == this) install(nullptr);
  // The iSCSI firmware's sessions end with their adapters.
  for (auto& c : cards_) adapter::iscsiRelease(c->engine());
  for (const OpenDev& od : open_) ::close(od.fd);
}

bool EmulatedHost::writeHostFiles() const {
  // Only ever inside the throw-away root: these are the machine's own paths.
  if (!testroot::inside()) return false;
  struct File {
    const char* path;
    std::string text;
  };
  const File files[] = {
      {"/etc/vmware/esx.conf", esxConfText(spec_)},
      {"/etc/vmware-release", spec_.release + "\n"},
      {"/etc/issue.net", spec_.release + " (ESXi)\n"},
      {"/etc/banner", "VMware ESXi\n"},
  };
  for (const File& f : files) {
    FILE* fp = fopen(f.path, "w");
    if (fp == nullptr) return false;
    bool ok = fwrite(f.text.data(), 1, f.text.size(), fp) == f.text.size();
    ok = fclose(fp) == 0 && ok;
    if (!ok) return false;
  }
  return true;
}

bool EmulatedHost::handlesPath(const char* path) const {
  if (path == nullptr) return false;
  if (strcmp(path, kNicDevicePath) == 0) return true;
  return strncmp(path, kIscsiDevicePrefix, strlen(kIscsiDevicePrefix)) == 0;
}

int EmulatedHost::openDevice(const char* path, int flags) {
  std::lock_guard<std::recursive_mutex> g(mu_);
  for (const auto& f : open_faults_) {
    if (f.first == path) {
      errno = f.second;
      return -1;
    }
  }
  Dev dev;
  int number = -1;
  if (strcmp(path, kNicDevicePath) == 0) {
    dev = Dev::Nic;
  } else {
    const char* digits = path + strlen(kIscsiDevicePrefix);
    char* end = nullptr;
    long n = strtol(digits, &end, 10);
    bool known = *digits != '\0' && end != nullptr && *end == '\0' && n >= 0 && n < 128;
    bool present = false;
    if (known)
      for (const FnRef& f : iscsis_) present |= f.fn->iscsi_device == n;
    if (!present) {
      errno = ENOENT;
      return -1;
    }
    dev = Dev::Iscsi;
    number = static_cast<int>(n);
  }
  int fd = realOpenNull(flags);
  if (fd < 0) return -1;
  open_.push_back({fd, dev, number});
  (dev == Dev::Nic ? nic_opens_ : iscsi_opens_)++;
  return fd;
}

bool EmulatedHost::ownsDescriptor(int fd) {
  std::lock_guard<std::recursive_mutex> g(mu_);
  for (const OpenDev& od : open_)
    if (od.fd == fd) return true;
  return false;
}

void EmulatedHost::release(int fd) {
  std::lock_guard<std::recursive_mutex> g(mu_);
  for (size_t i = 0; i < open_.size(); ++i) {
    if (open_[i].fd == fd) {
      open_.erase(open_.begin() + static_cast<long>(i));
      return;
    }
  }
}

int EmulatedHost::ioctl(int fd, unsigned long request, void* arg) {
  std::lock_guard<std::recursive_mutex> g(mu_);
  const OpenDev* od = nullptr;
  for (const OpenDev& o : open_)
    if (o.fd == fd) od = &o;
  if (od == nullptr) {
    errno = EBADF;
    return -1;
  }
  LoggedIoctl entry{od->dev, od->iscsi_device, request, {}, 0, 0};
  for (IoctlFault& f : ioctl_faults_) {
    if (f.times != 0 && matches(f.dev, od->dev) && (f.request == 0 || f.request == request)) {
      if (f.times > 0) --f.times;
      entry.result = -1;
      entry.err = f.err;
      log_.push_back(entry);
      errno = f.err;
      return -1;
    }
  }
  int rc = arg == nullptr ? (errno = EFAULT, -1) : ioctlLocked(*od, request, arg, &entry.bytes);
  entry.result = rc;
  entry.err = rc < 0 ? errno : 0;
  int saved = errno;
  log_.push_back(std::move(entry));
  errno = saved;
  return rc;
}

int EmulatedHost::ioctlLocked(const OpenDev& od, unsigned long request, void* arg, std::vector<uint8_t>* logged) {
  uint8_t* p = static_cast<uint8_t*>(arg);
  return od.dev == Dev::Nic ? nicIoctl(request, p, logged) : iscsiIoctl(od.iscsi_device, request, p, logged);
}

bool EmulatedHost::hidden(size_t adapter_index, uint8_t fn) const {
  for (const auto& h : hidden_)
    if (h.first == adapter_index && h.second == fn) return true;
  return false;
}

const EmulatedHost::FnRef* EmulatedHost::nicByBdf(uint8_t bus, uint8_t device, uint8_t fn) const {
  for (const FnRef& f : nics_) {
    const AdapterSpec& a = spec_.adapters[f.adapter];
    if (a.bus == bus && a.device == device && f.fn->fn == fn && !hidden(f.adapter, fn)) return &f;
  }
  return nullptr;
}

const EmulatedHost::FnRef* EmulatedHost::iscsiByDevice(int device) const {
  for (const FnRef& f : iscsis_)
    if (f.fn->iscsi_device == device) return &f;
  return nullptr;
}

// One firmware command (header + payload in place) for the function.
int EmulatedHost::passthrough(const FnRef& f, uint8_t* hdr) {
  adapter::Adapter& card = *cards_[f.adapter];
  uint32_t req_len = get32(hdr, 8);
  adapter::Request rq;
  rq.fn = f.fn->fn;
  rq.carrier = adapter::Carrier::Ioctl;
  rq.buf = hdr;
  rq.cap = 16 + size_t(req_len);
  adapter::Outcome out;
  {
    std::lock_guard<std::mutex> g(card.lock());
    out = card.engine().execute(rq);
    adapter::completeLibraryResponse(card.engine(), hdr);
  }
  if (!out.deliver) {
    errno = ETIMEDOUT;
    return -1;
  }
  if (reply_rewrite_) reply_rewrite_(hdr, rq.cap);
  return 0;
}

int EmulatedHost::nicIoctl(unsigned long request, uint8_t* p, std::vector<uint8_t>* logged) {
  switch (request) {
    case kNicChipInfo: {
      if (!chip_override_.empty()) {
        memcpy(p, chip_override_.data(), std::min(chip_override_.size(), kChipInfoSize));
        logged->assign(p, p + kChipInfoSize);
        return 0;
      }
      memset(p, 0, kChipInfoSize);
      uint8_t chips = 0;
      for (size_t i = 0; i < spec_.adapters.size() && chips < 8; ++i) {
        const AdapterSpec& a = spec_.adapters[i];
        uint8_t* rec = p + 1 + 11 * chips;
        uint8_t n = 0;
        for (const FunctionSpec& f : a.functions)
          if (f.proto == Proto::Nic && !hidden(i, f.fn) && n < 8) rec[3 + n++] = f.fn;
        if (n == 0) continue;
        rec[0] = a.bus;
        rec[1] = a.device;
        rec[2] = n;
        ++chips;
      }
      p[0] = chips;
      logged->assign(p, p + kChipInfoSize);
      return 0;
    }
    case kNicDriverInfo:
    case kNicVfTable: {
      logged->assign(p, p + kCharInfoSize);
      const FnRef* f = nicByBdf(p[0], p[1], p[2]);
      if (f == nullptr) {
        errno = ENODEV;
        return -1;
      }
      uint8_t* dinfo = p + 4;
      memset(dinfo, 0, kCharInfoSize - 4);
      adapter::Engine& fw = cards_[f->adapter]->engine();
      if (request == kNicDriverInfo) {
        dinfo[5] = fw.port(fw.portOfFunction(f->fn->fn)).down_reason;
        put16(dinfo, 8, f->fn->mtu);
      } else {
        // The count as the driver reports it; the table holds what fits.
        put32(dinfo, 12, f->fn->vfs);
        for (uint16_t vf = 0; vf < f->fn->vfs && 16 + 16 * size_t(vf + 1) <= kCharInfoSize - 4; ++vf) {
          uint8_t* e = dinfo + 16 + 16 * vf;
          adapter::VfParams v = adapter::vfParams(fw, f->fn->fn, vf);
          memcpy(e, v.mac.data(), 6);
          put16(e, 6, v.vlan);
          put16(e, 8, v.rate);  // 10 Mb/s units
          e[10] = v.link;
        }
        if (vf_table_rewrite_) vf_table_rewrite_(dinfo, kCharInfoSize - 4);
      }
      return 0;
    }
    case kNicPciConf: {
      uint32_t off = get32(p, 3);
      uint32_t len = get32(p, 7);
      logged->assign(p, p + kPciConfHeader);
      const FnRef* f = nicByBdf(p[0], p[1], p[2]);
      if (f == nullptr) {
        errno = ENODEV;
        return -1;
      }
      // The data area follows the parameters in the caller's block; a read
      // past the configuration space is refused.
      if (off > 4096 || len > 4096 - off) {
        errno = EINVAL;
        return -1;
      }
      hostbus::Function* fn = cards_[f->adapter]->function(f->fn->fn);
      for (uint32_t i = 0; i < len; ++i) p[kPciConfHeader + i] = static_cast<uint8_t>(fn->configRead(off + i, 1));
      return 0;
    }
    case kNicPassthru: {
      uint32_t req_len = get32(p, kNicHeader + 8);
      logged->assign(p, p + kNicHeader + 16 + req_len);
      if (memcmp(p, kSignature, sizeof kSignature) != 0 || get16(p, 16) != kMagic) {
        errno = EINVAL;
        return -1;
      }
      const FnRef* f = nicByBdf(p[18], p[19], p[20]);
      if (f == nullptr) {
        errno = ENODEV;
        return -1;
      }
      uint8_t* hdr = p + kNicHeader;
      // The NIC driver answers some requests itself (nic_sub11.h).
      adapter::Adapter& card = *cards_[f->adapter];
      int err = 0;
      int rc = 0;
      switch (nicDriverBefore(card, f->fn->fn, hdr, &err)) {
        case NicStep::Failed:
          errno = err;
          return -1;
        case NicStep::Answered:
          if (reply_rewrite_) reply_rewrite_(hdr, 16 + size_t(req_len));
          break;
        case NicStep::Send:
          rc = nicDriverAfter(card, f->fn->fn, hdr, req_len, passthrough(*f, hdr));
          break;
      }
      // Like the driver's own pass-through: the controller attributes carry
      // the function's PCI location and the NIC driver's version text.
      if (rc == 0 && hdr[0] == 32 && hdr[1] == 1 && hdr[4] == 0 && req_len >= 540) {
        hdr[16 + 508] = spec_.adapters[f->adapter].bus;
        hdr[16 + 509] = spec_.adapters[f->adapter].device;
        memset(hdr + 16 + 352, 0, 32);
        memcpy(hdr + 16 + 352, kDriverText, strlen(kDriverText));
      }
      return rc;
    }
    default:
      errno = ENOTTY;
      return -1;
  }
}

int EmulatedHost::iscsiIoctl(int device, unsigned long request, uint8_t* p, std::vector<uint8_t>* logged) {
  const FnRef* f = iscsiByDevice(device);
  if (f == nullptr) {
    errno = ENODEV;
    return -1;
  }
  switch (request) {
    case kIscsiVmhbaName: {
      memset(p, 0, 32);
      for (const auto& raw : vmhba_raw_) {
        if (raw.first == device) {
          memcpy(p, raw.second.data(), std::min<size_t>(raw.second.size(), 32));
          logged->assign(p, p + 32);
          return 0;
        }
      }
      snprintf(reinterpret_cast<char*>(p), 32, "%s", f->fn->vmhba.c_str());
      logged->assign(p, p + 32);
      return 0;
    }
    case kIscsiPassthru: {
      uint32_t req_len = get32(p, 8);
      logged->assign(p, p + 16 + req_len);
      return passthrough(*f, p);
    }
    default:
      errno = ENOTTY;
      return -1;
  }
}

void EmulatedHost::failIoctl(Dev dev, unsigned long request, int err, int times) {
  std::lock_guard<std::recursive_mutex> g(mu_);
  ioctl_faults_.push_back({dev, request, err, times});
}

void EmulatedHost::failOpen(const std::string& path, int err) {
  std::lock_guard<std::recursive_mutex> g(mu_);
  open_faults_.push_back({path, err});
}

void EmulatedHost::clearFaults() {
  std::lock_guard<std::recursive_mutex> g(mu_);
  ioctl_faults_.clear();
  open_faults_.clear();
  for (auto& c : cards_) {
    std::lock_guard<std::mutex> cg(c->lock());
    c->engine().clearFaults();
  }
}

void EmulatedHost::rebootAdapter(size_t i) {
  std::lock_guard<std::recursive_mutex> g(mu_);
  adapter::Adapter& c = *cards_.at(i);
  std::lock_guard<std::mutex> cg(c.lock());
  c.engine().profiles().reboot();
  adapter::applyRunningState(c.engine());
  // Sessions end with the reset; the persistent targets are logged in again.
  adapter::iscsiReboot(c.engine());
}

void EmulatedHost::setNicFunctionHidden(size_t adapter_index, uint8_t fn, bool hide) {
  std::lock_guard<std::recursive_mutex> g(mu_);
  for (size_t i = 0; i < hidden_.size(); ++i) {
    if (hidden_[i].first == adapter_index && hidden_[i].second == fn) {
      if (!hide) hidden_.erase(hidden_.begin() + static_cast<long>(i));
      return;
    }
  }
  if (hide) hidden_.push_back({adapter_index, fn});
}

void EmulatedHost::setChipInfoOverride(const std::vector<uint8_t>& block) {
  std::lock_guard<std::recursive_mutex> g(mu_);
  chip_override_ = block;
}

void EmulatedHost::setVmhbaNameRaw(int iscsi_device, const std::vector<uint8_t>& raw) {
  std::lock_guard<std::recursive_mutex> g(mu_);
  vmhba_raw_.push_back({iscsi_device, raw});
}

void EmulatedHost::setReplyRewrite(ReplyRewrite rewrite) {
  std::lock_guard<std::recursive_mutex> g(mu_);
  reply_rewrite_ = std::move(rewrite);
}

void EmulatedHost::setVfTableRewrite(ReplyRewrite rewrite) {
  std::lock_guard<std::recursive_mutex> g(mu_);
  vf_table_rewrite_ = std::move(rewrite);
}

void EmulatedHost::setVfCount(size_t adapter_index, uint8_t fn, uint16_t vfs) {
  std::lock_guard<std::recursive_mutex> g(mu_);
  for (FunctionSpec& f : spec_.adapters.at(adapter_index).functions)
    if (f.fn == fn) f.vfs = vfs;
}

namespace {

bool decimal(const std::string& s, unsigned long max, unsigned long* out) {
  if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  *out = strtoul(s.c_str(), nullptr, 10);
  return *out <= max;
}

bool macText(const std::string& s, std::array<uint8_t, 6>* mac) {
  unsigned b[6];
  char tail;
  if (s.size() != 17 || sscanf(s.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5],
                               &tail) != 6)
    return false;
  for (int i = 0; i < 6; ++i) (*mac)[i] = static_cast<uint8_t>(b[i]);
  return true;
}

}  // namespace

int EmulatedHost::runIpLink(const std::vector<std::string>& argv) {
  std::lock_guard<std::recursive_mutex> g(mu_);
  if (argv.size() < 8 || argv[1] != "link" || argv[2] != "set" || argv[4] != "vf" || (argv.size() - 6) % 2 != 0)
    return 1;
  const FunctionSpec* fn = nullptr;
  size_t card = 0;
  for (size_t i = 0; i < spec_.adapters.size() && fn == nullptr; ++i)
    for (const FunctionSpec& f : spec_.adapters[i].functions)
      if (f.proto == Proto::Nic && f.ifname == argv[3]) {
        fn = &f;
        card = i;
      }
  unsigned long vf = 0;
  if (fn == nullptr || !decimal(argv[5], 0xFFFF, &vf)) return 1;
  if (vf >= fn->vfs) return 2;
  adapter::Engine& fw = cards_[card]->engine();
  adapter::VfParams v = adapter::vfParams(fw, fn->fn, static_cast<unsigned>(vf));
  for (size_t i = 6; i + 1 < argv.size(); i += 2) {
    const std::string& key = argv[i];
    const std::string& value = argv[i + 1];
    unsigned long n = 0;
    if (key == "mac") {
      if (!macText(value, &v.mac)) return 1;
    } else if (key == "vlan") {
      if (!decimal(value, 4095, &n)) return 1;
      v.vlan = static_cast<uint16_t>(n);
    } else if (key == "rate") {
      if (!decimal(value, 100000, &n)) return 1;
      v.rate = static_cast<uint16_t>(n / 10);
    } else {
      return 1;
    }
  }
  adapter::setVfParams(fw, fn->fn, static_cast<unsigned>(vf), v);
  return 0;
}

std::vector<LoggedIoctl> EmulatedHost::log() const {
  std::lock_guard<std::recursive_mutex> g(mu_);
  return log_;
}

void EmulatedHost::clearLog() {
  std::lock_guard<std::recursive_mutex> g(mu_);
  log_.clear();
}

size_t EmulatedHost::openDescriptors() const {
  std::lock_guard<std::recursive_mutex> g(mu_);
  return open_.size();
}

unsigned EmulatedHost::opens(Dev dev) const {
  std::lock_guard<std::recursive_mutex> g(mu_);
  if (dev == Dev::Nic) return nic_opens_;
  if (dev == Dev::Iscsi) return iscsi_opens_;
  return nic_opens_ + iscsi_opens_;
}

}  // namespace chardev
