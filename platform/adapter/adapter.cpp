// The device side of the emulated adapter: PCI functions, registers, the
// mailbox and MCC transports, completion and event queues, interrupts.
#include "adapter.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>

#include "fw_state.h"
#include "wire.h"

namespace adapter {

using namespace wire;

namespace {

// BAR roles per generation.
enum class Role { None, Csr, Doorbell, PciCfg };

Role barRole(Gen g, unsigned bar) {
  switch (g) {
    case Gen::Pivard: return bar == 0 ? Role::Doorbell : Role::None;
    case Gen::KS2:
      if (bar == 1) return Role::PciCfg;
      break;
    case Gen::KS3:
    case Gen::Veskarn:
      if (bar == 0) return Role::PciCfg;
      break;
  }
  if (bar == 2) return Role::Csr;
  if (bar == 4) return Role::Doorbell;
  return Role::None;
}

uint64_t roleSize(Role r) {
  switch (r) {
    case Role::Csr: return 0x20000;
    case Role::Doorbell: return 0x10000;
    case Role::PciCfg: return 0x2000;
    case Role::None: return 0;
  }
  return 0;
}

constexpr uint32_t kDbTx = 0x60;
constexpr uint32_t kDbTxVeskarn = 0x200;   // the offset Veskarn firmware hands out
constexpr uint32_t kDbRx = 0x100;
constexpr uint32_t kDbEqCq = 0x120;
constexpr uint32_t kDbMcc = 0x140;
constexpr uint32_t kDbMbox = 0x160;
constexpr uint32_t kPivStatus = 0x404;
constexpr uint32_t kPivControl = 0x408;
constexpr uint32_t kPivErr1 = 0x40C;
constexpr uint32_t kPivErr2 = 0x410;
constexpr uint32_t kPivPhysCtl = 0x414;

constexpr uint32_t kComplValid = 1u << 31;
constexpr uint32_t kComplAsync = 1u << 30;
constexpr uint32_t kComplDone = 1u << 28;

// Configuration-space layout of every function.
constexpr uint32_t kCapPm = 0x40;
constexpr uint32_t kCapMsix = 0x50;
constexpr uint32_t kCapPcieKs = 0xC0;
constexpr uint32_t kCapPciePivard = 0x94;

}  // namespace

AdapterConfig adapterDefaults(Gen g, unsigned functions) {
  AdapterConfig c;
  c.fw = engineDefaults(g, functions);
  return c;
}

// ---- async event encoders ----

AsyncEvent linkStateEvent(uint8_t port, bool up, bool logical, uint8_t speed_code,
                          uint8_t down_reason, uint16_t qos_speed) {
  AsyncEvent e;
  e.code = 1;
  e.data[0] = port;
  e.data[1] = static_cast<uint8_t>((up ? 1 : 0) | (logical ? 2 : 0));
  e.data[3] = speed_code;
  e.data[5] = down_reason;
  put16(e.data, 6, qos_speed);
  return e;
}
AsyncEvent qosSpeedEvent(uint8_t port, uint16_t speed_10mbps) {
  AsyncEvent e;
  e.code = 5;
  e.type = 1;
  e.data[0] = port;
  put16(e.data, 6, speed_10mbps);
  return e;
}
AsyncEvent priorityEvent(uint8_t bitmap, uint8_t recommended, bool valid) {
  AsyncEvent e;
  e.code = 5;
  e.type = 2;
  e.data[1] = bitmap;
  e.data[2] = recommended;
  e.data[3] = valid ? 1 : 0;
  return e;
}
AsyncEvent pvidEvent(bool enabled, uint16_t pvid) {
  AsyncEvent e;
  e.code = 5;
  e.type = 3;
  e.data[0] = enabled ? 1 : 0;
  put16(e.data, 2, pvid);
  return e;
}
AsyncEvent os2bmcEvent(bool enable, uint16_t filter_mask) {
  AsyncEvent e;
  e.code = 5;
  e.type = 5;
  e.data[0] = enable ? 0x4 : 0;
  put16(e.data, 4, filter_mask);
  return e;
}
AsyncEvent debugDataEvent(uint32_t w0, uint32_t w1, uint32_t w2) {
  AsyncEvent e;
  e.code = 5;
  e.type = 6;
  put32(e.data, 0, w0);
  put32(e.data, 4, w1);
  put32(e.data, 8, w2);
  return e;
}
AsyncEvent qnqEvent(bool valid, uint16_t vlan) {
  AsyncEvent e;
  e.code = 6;
  e.type = 1;
  e.data[0] = valid ? 1 : 0;
  put16(e.data, 2, vlan);
  return e;
}
AsyncEvent transceiverEvent(uint32_t word0, uint32_t word1) {
  AsyncEvent e;
  e.code = 17;
  e.type = 9;
  put32(e.data, 0, word0);
  put32(e.data, 4, word1);
  return e;
}

// ---- one PCI function ----

class Adapter::Fn final : public hostbus::Function, public Dma {
 public:
  Fn(Adapter* a, unsigned idx) : a_(a), idx_(idx) { initConfig(); }

  uint16_t segment() const override { return a_->cfg_.segment; }
  uint8_t bus() const override { return a_->cfg_.bus; }
  uint8_t device() const override { return a_->cfg_.device; }
  uint8_t function() const override { return static_cast<uint8_t>(idx_); }

  uint32_t configRead(uint32_t offset, unsigned width) override {
    std::lock_guard<std::mutex> g(a_->mu_);
    return cfgRead(offset, width);
  }
  void configWrite(uint32_t offset, uint32_t value, unsigned width) override {
    std::lock_guard<std::mutex> g(a_->mu_);
    cfgWrite(offset, value, width);
  }
  uint64_t barSize(unsigned bar) const override {
    return bar < 6 ? roleSize(barRole(a_->gen(), bar)) : 0;
  }
  uint32_t barRead(unsigned bar, uint64_t offset, unsigned width) override {
    std::lock_guard<std::mutex> g(a_->mu_);
    if (slot_gone_ || !validAccess(bar, offset, width)) return ones(width);
    uint32_t word = regRead(barRole(a_->gen(), bar), static_cast<uint32_t>(offset & ~3ull));
    unsigned shift = 8 * static_cast<unsigned>(offset & 3);
    return (word >> shift) & mask(width);
  }
  void barWrite(unsigned bar, uint64_t offset, uint32_t value, unsigned width) override {
    if (record_only_.load(std::memory_order_acquire) && recordOnly(bar, offset, value, width)) return;
    std::unique_lock<std::mutex> lk(a_->mu_);
    barWriteLocked(bar, offset, value, width);
    a_->flushOutbox(lk);   // frames a sync-mode transmit sent to another adapter
  }
  void barWriteLocked(unsigned bar, uint64_t offset, uint32_t value, unsigned width) {
    if (slot_gone_ || !validAccess(bar, offset, width)) return;
    Role r = barRole(a_->gen(), bar);
    uint32_t off = static_cast<uint32_t>(offset & ~3ull);
    if (width != 4) {
      // Narrow writes merge into the register's other bytes.
      unsigned shift = 8 * static_cast<unsigned>(offset & 3);
      uint32_t cur = regPeek(r, off);
      uint32_t m = mask(width) << shift;
      value = (cur & ~m) | ((value << shift) & m);
    }
    regWrite(r, off, value);
  }
  unsigned msixVectors() const override { return a_->cfg_.msix_vectors; }
  void attachHost(hostbus::Host* host) override {
    std::lock_guard<std::mutex> g(a_->mu_);
    host_ = host;
  }
  void detachHost() override {
    std::lock_guard<std::mutex> g(a_->mu_);
    // Doorbells still queued for this function die with the link.
    a_->dropPending(static_cast<int>(idx_));
    mbox_busy_ = false;
    intx_level_ = false;
    host_ = nullptr;
  }

  // Dma (the firmware's view of host memory), device lock held.
  bool read(uint64_t addr, void* dst, size_t len) override {
    if (host_ == nullptr || !busMaster() || !host_->dmaRead(addr, dst, len)) {
      std::memset(dst, 0xFF, len);
      ++ctr_.dropped_dma;
      return false;
    }
    return true;
  }
  bool write(uint64_t addr, const void* src, size_t len) override {
    if (host_ == nullptr || !busMaster() || !host_->dmaWrite(addr, src, len)) {
      ++ctr_.dropped_dma;
      return false;
    }
    return true;
  }

  // Record-only doorbells: the data-path doorbells are counted without the
  // device lock and go no further, so a measurement of the host's side sees
  // the write and nothing of the device's work.
  bool recordOnly(unsigned bar, uint64_t offset, uint32_t value, unsigned width) {
    if (bar >= 6 || width != 4 || barRole(a_->gen(), bar) != Role::Doorbell) return false;
    std::atomic<uint64_t>* n;
    std::atomic<uint32_t>* last;
    if (offset == kDbTx || offset == kDbTxVeskarn) {
      n = &rec_tx_;
      last = &rec_last_tx_;
    } else if (offset == kDbRx) {
      n = &rec_rx_;
      last = &rec_last_rx_;
    } else if (offset == kDbEqCq && (value & (1u << 10)) == 0 && recordedCq(cqId(value))) {
      n = &rec_eq_cq_;
      last = &rec_last_eq_cq_;
    } else {
      return false;
    }
    n->fetch_add(1, std::memory_order_relaxed);
    last->store(value, std::memory_order_relaxed);
    return true;
  }
  bool recordedCq(uint32_t id) const {
    for (unsigned i = 0; i < rec_cq_count_; ++i)
      if (rec_cqs_[i] == id) return true;
    return false;
  }
  // Written only while record_only_ is off, read after it is seen on.
  uint32_t rec_cqs_[8] = {};
  unsigned rec_cq_count_ = 0;
  std::atomic<bool> record_only_{false};
  std::atomic<uint64_t> rec_tx_{0}, rec_rx_{0}, rec_eq_cq_{0};
  std::atomic<uint32_t> rec_last_tx_{0}, rec_last_rx_{0}, rec_last_eq_cq_{0};

  // ---- state ----
  Adapter* a_;
  unsigned idx_;
  hostbus::Host* host_ = nullptr;
  uint8_t cfg_[4096] = {};
  uint32_t bar_base_[6] = {};
  bool slot_gone_ = false;
  bool mbox_ready_ = true;
  bool mbox_knob_ready_ = true;
  bool mbox_stuck_ = false;    // a mailbox command that never completes
  bool mbox_busy_ = false;     // a command waits for the device thread
  bool intx_level_ = false;    // the INTx line as driven now
  uint32_t mbox_hi_ = 0;
  struct HeldMbox {
    uint64_t addr;
    std::vector<uint8_t> wrb;
    std::vector<uint8_t> sge;
    uint64_t sge_addr;
    Outcome out;
    uint64_t tag;
  };
  std::deque<HeldMbox> held_mbox_;
  struct Held {
    uint32_t cq;
    uint8_t entry[16];
    int kind;
  };
  std::deque<Held> held_;          // late completions
  std::deque<Held> backlog_;       // completions waiting for room in their CQ
  uint32_t host_intr_ctl_ = 0;
  uint32_t cfgbar_58_ = 0x00000D00;
  uint32_t cfgbar_9c_ = 0x0000C0DE;
  bool window_armed_ = false;
  uint32_t window_addr_ = 0;
  uint32_t window_ctl_ = 0x00100000;
  unsigned dump_busy_reads_ = 0;
  bool dump_requested_ = false;
  FnCounters ctr_;

  static uint32_t mask(unsigned width) {
    return width >= 4 ? 0xFFFFFFFFu : ((1u << (8 * width)) - 1);
  }
  static uint32_t ones(unsigned width) { return mask(width); }
  bool busMaster() const { return (cfg_[4] & 0x4) != 0; }

  bool validAccess(unsigned bar, uint64_t offset, unsigned width) const {
    if (bar >= 6 || (width != 1 && width != 2 && width != 4)) return false;
    uint64_t size = roleSize(barRole(a_->gen(), bar));
    return offset + width <= size && (offset & (width - 1)) == 0;
  }

  // ---- configuration space ----
  void initConfig() {
    const AdapterConfig& c = a_->cfg_;
    Gen g = c.fw.gen;
    uint16_t vendor = c.vendor_id ? c.vendor_id : defaultVendorId(g);
    uint16_t dev = c.device_id ? c.device_id : defaultDeviceId(g);
    put16(cfg_, 0x00, vendor);
    put16(cfg_, 0x02, dev);
    put16(cfg_, 0x06, 0x0010);                       // capability list
    put8(cfg_, 0x08, c.fw.asic_rev);
    put8(cfg_, 0x0B, 0x02);                          // network controller
    put8(cfg_, 0x0E, a_->functionCountCfg() > 1 ? 0x80 : 0x00);
    for (unsigned b = 0; b < 6; ++b) {
      if (roleSize(barRole(g, b)) != 0) {
        bar_base_[b] = 0xE0000000u + (idx_ << 20) + (b << 17);
        put32(cfg_, 0x10 + 4 * b, bar_base_[b]);
      }
    }
    put16(cfg_, 0x2C, c.subsys_vendor_id ? c.subsys_vendor_id : vendor);
    put16(cfg_, 0x2E, c.subsys_device_id);
    put8(cfg_, 0x34, kCapPm);
    put8(cfg_, 0x3D, 1);                             // INTA
    // Power management (PMCSR at 0x44 is where wake-up is armed).
    put8(cfg_, kCapPm, 0x01);
    put8(cfg_, kCapPm + 1, kCapMsix);
    put16(cfg_, kCapPm + 2, 0xC803);
    // MSI-X.
    uint32_t pcie = g == Gen::Pivard ? kCapPciePivard : kCapPcieKs;
    put8(cfg_, kCapMsix, 0x11);
    put8(cfg_, kCapMsix + 1, static_cast<uint8_t>(pcie));
    put16(cfg_, kCapMsix + 2,
          static_cast<uint16_t>(c.msix_vectors ? (c.msix_vectors - 1) & 0x7FF : 0));
    put32(cfg_, kCapMsix + 4, 0x00004000 | (g == Gen::Pivard ? 0 : 4));   // table in BAR
    put32(cfg_, kCapMsix + 8, 0x00006000 | (g == Gen::Pivard ? 0 : 4));
    // PCI Express: x8 at 8 GT/s; link control/status at +0x10.
    put8(cfg_, pcie, 0x10);
    put8(cfg_, pcie + 1, 0);
    put16(cfg_, pcie + 2, 0x0002);
    put32(cfg_, pcie + 0x10, (3u << 16) | (8u << 20));
    if (g != Gen::Pivard) {
      put32(cfg_, 0xA0, 0);
      put32(cfg_, 0xA4, 0);
      put32(cfg_, 0xA8, c.ue_mask_lo);
      put32(cfg_, 0xAC, c.ue_mask_hi);
    }
  }

  uint32_t cfgRead(uint32_t off, unsigned width) {
    if (slot_gone_ || off >= 4096 || off + width > 4096) return ones(width);
    if (a_->gen() != Gen::Pivard && (off & ~3u) == 0xA0) return field(a_->ue_lo_, off, width);
    if (a_->gen() != Gen::Pivard && (off & ~3u) == 0xA4) return field(a_->ue_hi_, off, width);
    if ((off & ~3u) == 0xFC && a_->gen() != Gen::Pivard) return windowRead(off, width);
    uint32_t v = 0;
    for (unsigned i = 0; i < width; ++i) v |= static_cast<uint32_t>(cfg_[off + i]) << (8 * i);
    return v;
  }
  static uint32_t field(uint32_t word, uint32_t off, unsigned width) {
    return (word >> (8 * (off & 3))) & mask(width);
  }

  void cfgWrite(uint32_t off, uint32_t value, unsigned width) {
    if (slot_gone_ || off >= 4096 || off + width > 4096) return;
    uint32_t base = off & ~3u;
    if (base >= 0x10 && base <= 0x24) {
      unsigned b = (base - 0x10) / 4;
      uint64_t size = roleSize(barRole(a_->gen(), b));
      if (size == 0 || width != 4) return;
      bar_base_[b] = value & ~static_cast<uint32_t>(size - 1);
      put32(cfg_, base, bar_base_[b]);
      return;
    }
    if (base == 0xFC && a_->gen() != Gen::Pivard) {
      if (width == 4) windowWrite(value);
      return;
    }
    bool writable = (off >= 0x04 && off + width <= 0x06) ||      // command
                    (off >= 0x0C && off + width <= 0x0E) ||      // cache line, latency
                    (off >= 0x3C && off + width <= 0x3D) ||      // interrupt line
                    (off >= kCapPm + 4 && off + width <= kCapPm + 8) ||
                    (off >= kCapMsix + 2 && off + width <= kCapMsix + 4) ||
                    (a_->gen() != Gen::Pivard && off >= 0xA8 && off + width <= 0xB0);
    if (!writable) return;
    for (unsigned i = 0; i < width; ++i) cfg_[off + i] = static_cast<uint8_t>(value >> (8 * i));
    updateIntx();   // MSI-X enable and INTx disable decide the line
  }

  // The memory-BAR window (configuration register 0xFC): a write with bit 31
  // latches a CSR address, the next access reads or writes that register.
  uint32_t windowRead(uint32_t off, unsigned width) {
    uint32_t v;
    if (window_armed_) {
      window_armed_ = false;
      v = regRead(Role::Csr, window_addr_);
    } else {
      v = window_ctl_;
    }
    return field(v, off, width);
  }
  void windowWrite(uint32_t value) {
    if (window_armed_) {
      window_armed_ = false;
      regWrite(Role::Csr, window_addr_, value);
      return;
    }
    if ((value & 0x80000000u) != 0) {
      window_addr_ = value & 0x000FFFFCu;
      window_ctl_ = value & 0x3FF00000u;
      window_armed_ = true;
    }
  }

  // ---- registers ----
  // Registers the model gives no meaning: what was written reads back, the
  // rest read registerDefault() (0).
  std::map<uint32_t, uint32_t> regs_[3];
  uint32_t stored(Space s, uint32_t off) {
    auto& m = regs_[static_cast<int>(s)];
    auto it = m.find(off);
    return it != m.end() ? it->second : Adapter::registerDefault(s, off);
  }
  // The current value of a register for a narrow write, without the side
  // effects of a read.
  uint32_t regPeek(Role r, uint32_t off) {
    switch (r) {
      case Role::PciCfg:
        if (off == 0x5C) return a_->soft_reset_reg_;
        if (off == 0xFC) return host_intr_ctl_;
        if (off == 0x58) return cfgbar_58_;
        return stored(Space::PciCfg, off);
      case Role::Csr: return off == 0xAC ? 0 : stored(Space::Csr, off);
      default: return 0;
    }
  }

  uint32_t regRead(Role r, uint32_t off) {
    switch (r) {
      case Role::Doorbell:
        if (off == kDbMbox) {
          return (mbox_ready_ && mbox_knob_ready_ && !mbox_busy_ && !mbox_stuck_ && !a_->in_ue_) ? 1u : 0u;
        }
        if (a_->gen() == Gen::Pivard) {
          if (off == kPivStatus) return a_->readPivardStatus();
          if (off == kPivErr1) return a_->pivard_status_ & 0x80000000u ? 0x0000E001u : 0;
          if (off == kPivErr2) return a_->pivard_status_ & 0x80000000u ? 0x00000042u : 0;
          if (off == kPivPhysCtl) {
            if (a_->dump_timed_) {
              const bool busy = dump_requested_ && (a_->dump_forever_ || a_->clockMs() < a_->dump_until_ms_);
              return busy ? 1u << 30 : 0;
            }
            if (dump_busy_reads_ > 0) {
              --dump_busy_reads_;
              return 1u << 30;
            }
            return 0;
          }
        }
        return stored(Space::Doorbell, off);
      case Role::Csr:
        if (off == 0xAC) return a_->readPostStage();
        return stored(Space::Csr, off);
      case Role::PciCfg:
        if (off == 0x58) return cfgbar_58_;
        if (off == 0x9C) return cfgbar_9c_;
        if (off == 0x5C) return a_->soft_reset_reg_;
        if (off == 0xFC) return host_intr_ctl_;
        return stored(Space::PciCfg, off);
      case Role::None: return 0xFFFFFFFFu;
    }
    return 0;
  }

  void regWrite(Role r, uint32_t off, uint32_t value) {
    switch (r) {
      case Role::Doorbell: doorbellWrite(off, value); return;
      case Role::Csr:
        if (a_->gen() == Gen::KS2 || a_->gen() == Gen::KS3) {
          if (off == 0x138) a_->ue_inject_138_ = value;
          if (off == 0x1FFFC && a_->ue_inject_138_ == 0xFFFFFFFFu) {
            a_->ue_inject_138_ = 0;
            ++ctr_.ue_injections;
            a_->enterUe(1u << 4, 0, 0xD001);     // "Host" error, not recoverable
          }
        }
        if (off != 0xAC) regs_[static_cast<int>(Space::Csr)][off] = value;
        return;
      case Role::PciCfg:
        if (off == 0x5C) {
          if (a_->gen() == Gen::Veskarn && (value & (1u << 24))) {
            ++ctr_.ue_injections;
            a_->enterUe(1u << 4, 0, 0xD001);
          }
          if (value & 0x80) {
            ++ctr_.soft_resets;
            a_->chipSoftReset();
          }
          a_->soft_reset_reg_ = value & ~(0x80u | (1u << 24));
          return;
        }
        if (off == 0xFC) host_intr_ctl_ = value;
        else if (off == 0x58) cfgbar_58_ = value;
        else if (off != 0x9C) regs_[static_cast<int>(Space::PciCfg)][off] = value;
        return;
      case Role::None: return;
    }
  }

  // The ring a doorbell belongs to: its work is served in writing order.
  static uint64_t ringKey(unsigned fn, uint32_t off, uint32_t id) {
    return (static_cast<uint64_t>(fn) << 48) | (static_cast<uint64_t>(off) << 20) | id;
  }

  void doorbellWrite(uint32_t off, uint32_t v) {
    uint32_t ring;
    if (off == kDbMbox) {
      mailboxWrite(v);
      return;
    } else if (off == kDbMcc) {
      ++ctr_.mcc_commands;
      ring = v & 0x7FF;
    } else if (off == kDbEqCq) {
      ctr_.last_eq_cq_doorbell = v;
      bool is_eq = (v & (1u << 10)) != 0;
      // Clearing the interrupt cause acts on the line at once.
      if (is_eq && (v & (1u << 9)) != 0) clearInterrupt(eqId(v));
      ring = (is_eq ? 0x10000u : 0) | (is_eq ? eqId(v) : cqId(v));
    } else if (off == kDbRx) {
      ++ctr_.rx_doorbells;
      ctr_.last_rx_doorbell = v;
      ring = v & 0x3FF;
    } else if (off == kDbTx || off == kDbTxVeskarn) {
      ++ctr_.tx_doorbells;
      ctr_.last_tx_doorbell = v;
      ring = v & 0x7FF;
    } else {
      registerWrite(off, v);
      return;
    }
    if (a_->cfg_.mode == Mode::Async) {
      a_->defer(idx_, off, v, ringKey(idx_, off, ring));
    } else {
      serve(off, v);
    }
  }

  // Does what a doorbell asks (sync mode: inside the write; async mode: on
  // the device thread).
  void serve(uint32_t off, uint64_t v) {
    uint32_t w = static_cast<uint32_t>(v);
    if (off == kDbMbox) {
      mailboxRun(v);
    } else if (off == kDbMcc) {
      mccDoorbell(w & 0x7FF, (w >> 16) & 0x3FFF);
    } else if (off == kDbEqCq) {
      eqCqDoorbell(w);
    } else if (off == kDbRx) {
      rxDoorbell(w & 0x3FF, w >> 24);
    } else {
      txDoorbell(w & 0x7FF, (w >> 16) & 0x3FFF);
    }
  }

  static uint32_t eqId(uint32_t v) { return (v & 0x1FF) | (((v >> 11) & 0x1F) << 9); }
  static uint32_t cqId(uint32_t v) { return (v & 0x3FF) | (((v >> 11) & 0x1F) << 10); }

  void registerWrite(uint32_t off, uint32_t v) {
    if (a_->gen() == Gen::Pivard && off == kPivControl) {
      if (v & 0x08000000u) {
        ++ctr_.port_resets;
        a_->pivardPortReset(idx_);
      }
    } else if (a_->gen() == Gen::Pivard && off == kPivPhysCtl) {
      if (v == 6) {
        ++ctr_.dump_requests;
        dump_busy_reads_ = 3;
        dump_requested_ = true;
        a_->dump_forever_ = a_->dump_busy_ms_ == kForever;
        a_->dump_until_ms_ = a_->dump_forever_ ? 0 : a_->clockMs() + a_->dump_busy_ms_;
        a_->takeDump();
      }
    } else if (!(a_->gen() == Gen::Pivard && off >= kPivStatus && off <= kPivPhysCtl)) {
      regs_[static_cast<int>(Space::Doorbell)][off] = v;
    }
  }

  // ---- data path ----
  std::vector<TxFrame> tx_frames_;

  void rxDoorbell(uint32_t id, uint32_t count) {
    QueueObj* q = a_->fw_.queue(ObjKind::RxQueue, id);
    if (q == nullptr || q->fn != idx_) return;
    q->outstanding = std::min(q->outstanding + count, q->entries);
  }

  // Consumes whole packets: a header entry, then its fragments (and dummy).
  void txDoorbell(uint32_t id, uint32_t added) {
    if (a_->in_ue_) return;
    QueueObj* q = a_->fw_.queue(ObjKind::TxQueue, id);
    if (q == nullptr || q->fn != idx_ || q->entries == 0) return;
    q->outstanding = std::min(q->outstanding + added, q->entries);
    while (q->outstanding > 0) {
      uint8_t hdr[16];
      if (!read(ringAddr(*q, q->hw_index), hdr, 16)) return;
      uint32_t d2 = get32(hdr, 8);
      uint32_t count = (d2 >> 13) & 0x1F;
      if (count == 0 || count > q->outstanding) return;   // not all of it posted yet
      TxFrame f;
      f.txq = id;
      for (int i = 0; i < 4; ++i) f.hdr[i] = get32(hdr, 4 * i);
      uint32_t last = q->hw_index;
      for (uint32_t k = 1; k < count; ++k) {
        uint32_t idx = (q->hw_index + k) % q->entries;
        last = idx;
        uint8_t e[16];
        if (!read(ringAddr(*q, idx), e, 16)) break;
        uint64_t addr = (static_cast<uint64_t>(get32(e, 0)) << 32) | get32(e, 4);
        uint32_t len = get32(e, 12) & 0xFFFF;
        if (len == 0) continue;   // the dummy entry
        size_t at = f.bytes.size();
        f.bytes.resize(at + len);
        read(addr, f.bytes.data() + at, len);
      }
      if ((d2 & (1u << 10)) != 0 && f.bytes.size() >= 12) {
        uint16_t tag = static_cast<uint16_t>(f.hdr[3] >> 16);
        const uint8_t vlan[4] = {0x81, 0x00, static_cast<uint8_t>(tag >> 8), static_cast<uint8_t>(tag)};
        f.bytes.insert(f.bytes.begin() + 12, vlan, vlan + 4);
      }
      a_->transmitFrame(idx_, f.hdr, f.bytes);
      q->hw_index = (q->hw_index + count) % q->entries;
      q->outstanding -= count;
      ++ctr_.tx_frames;
      tx_frames_.push_back(std::move(f));
      uint8_t cpl[16] = {};
      put32(cpl, 0, last & 0xFFFF);
      put32(cpl, 12, 1);   // dword 3 non-zero: valid
      postCq(q->bound, cpl, Entry::Tx);
    }
  }

  bool injectRx(uint32_t id, const std::vector<uint8_t>& frame, const RxMeta& m) {
    QueueObj* q = a_->fw_.queue(ObjKind::RxQueue, id);
    if (q == nullptr || q->fn != idx_ || a_->in_ue_) return false;
    uint32_t frag = q->ctx[1] <= 16 ? (1u << q->ctx[1]) : 0;
    if (q->outstanding == 0 || frame.size() > frag || frame.size() > 0x3FFF) {
      ++ctr_.rx_no_buffer;
      return false;
    }
    uint8_t d[8];
    if (!read(ringAddr(*q, q->hw_index), d, 8)) return false;
    uint64_t addr = (static_cast<uint64_t>(get32(d, 0)) << 32) | get32(d, 4);
    if (!frame.empty() && !write(addr, frame.data(), frame.size())) return false;
    uint32_t port = m.port >= 0 ? static_cast<uint32_t>(m.port) : a_->fw_.portOfFunction(idx_);
    uint8_t cpl[16];
    encodeRxCompletion(a_->gen(), a_->fw_.fnState(idx_).advanced_mode, port, q->hw_index,
                       static_cast<uint32_t>(frame.size()), m, cpl);
    q->hw_index = (q->hw_index + 1) % q->entries;
    --q->outstanding;
    ++ctr_.rx_frames;
    postCq(q->bound, cpl, Entry::Rx);
    return true;
  }

  // ---- mailbox ----
  void mailboxWrite(uint32_t v) {
    if (v & 2) {
      mbox_hi_ = v & ~3u;
      return;
    }
    uint64_t addr = (static_cast<uint64_t>(mbox_hi_) << 32) | (static_cast<uint64_t>(v >> 2) << 4);
    // Firmware busy, stuck or dead (UE): it does not take the command.
    if (mbox_busy_ || mbox_stuck_ || !mbox_knob_ready_ || !mbox_ready_ || a_->in_ue_) return;
    ++ctr_.mailbox_commands;
    if (a_->cfg_.mode == Mode::Async) {
      mbox_busy_ = true;   // not ready until the device thread has run it
      a_->defer(idx_, kDbMbox, addr, ringKey(idx_, kDbMbox, 0));
      return;
    }
    mailboxRun(addr);
  }

  void mailboxRun(uint64_t addr) {
    mbox_busy_ = false;
    if (mbox_stuck_ || a_->in_ue_) return;
    uint8_t wrb[256];
    if (!read(addr, wrb, sizeof wrb)) return;
    static const uint8_t kInit[8] = {0xFF, 0x12, 0x34, 0xFF, 0xFF, 0x56, 0x78, 0xFF};
    static const uint8_t kClean[8] = {0xFF, 0xAA, 0xBB, 0xFF, 0xFF, 0xCC, 0xDD, 0xFF};
    HeldMbox h{addr, {}, {}, 0, {}, 0};
    if (std::memcmp(wrb, kInit, 8) == 0) {
      h.out = a_->fw_.fwInit(idx_);
    } else if (std::memcmp(wrb, kClean, 8) == 0) {
      h.out = a_->fw_.fwClean(idx_);
      if (h.out.deliver && h.out.status == 0) forgetRingState();
    } else {
      h.tag = get64(wrb, 8);
      h.out = runWrb(wrb, Carrier::Mailbox, &h.sge, &h.sge_addr);
    }
    h.wrb.assign(wrb, wrb + 256);
    if (applyOutcomeFlags(h.out)) {
      mbox_stuck_ = true;
      return;
    }
    if (h.out.late) {
      mbox_ready_ = false;
      held_mbox_.push_back(std::move(h));
      a_->notifyHeld(idx_);
      return;
    }
    finishMailbox(h);
  }

  void finishMailbox(const HeldMbox& h) {
    mbox_ready_ = true;
    if (h.out.no_entry) return;
    write(h.addr, h.wrb.data(), h.wrb.size());
    if (!h.sge.empty()) write(h.sge_addr, h.sge.data(), h.sge.size());
    uint8_t cpl[16] = {};
    put16(cpl, 0, h.out.status);
    put16(cpl, 2, h.out.ext_status);
    put64(cpl, 4, h.tag);
    put32(cpl, 12, (h.out.malformed ? 0 : kComplValid) | kComplDone);
    publish(h.addr + 256, cpl, sizeof cpl, 12);
  }

  // Returns true when the command must not complete at all.
  bool applyOutcomeFlags(const Outcome& o) {
    if (o.card_error) a_->enterUe(1u << 5, 0, 0xD002);    // MPU
    if (o.slot_gone) slot_gone_ = true;
    return !o.deliver;
  }

  // Runs one WRB (embedded or one scatter-gather entry). The WRB is updated in
  // place; an external buffer comes back in *sge.
  Outcome runWrb(uint8_t* wrb, Carrier carrier, std::vector<uint8_t>* sge, uint64_t* sge_addr) {
    uint32_t flags = get32(wrb, 0);
    uint32_t len = get32(wrb, 4);
    Request rq;
    rq.fn = idx_;
    rq.carrier = carrier;
    rq.dma = this;
    if (flags & 1) {
      rq.buf = wrb + 20;
      rq.cap = 236;
      if (len < 16 || len > 236) {
        Outcome o;
        o.status = kStatusIllegalField;
        return o;
      }
      return execute(rq);
    }
    unsigned nsge = (flags >> 3) & 0x1F;
    uint32_t slen = get32(wrb, 28);
    *sge_addr = (static_cast<uint64_t>(get32(wrb, 24)) << 32) | get32(wrb, 20);
    if (nsge != 1 || slen < 16 || slen > (1u << 20)) {
      Outcome o;
      o.status = kStatusIllegalField;
      return o;
    }
    sge->assign(slen, 0);
    if (!read(*sge_addr, sge->data(), slen)) {
      sge->clear();
      Outcome o;
      o.status = kStatusIllegalField;
      return o;
    }
    rq.buf = sge->data();
    rq.cap = slen;
    uint32_t req_len = get32(sge->data(), 8);
    Outcome o = execute(rq);
    // Only the bytes of the command and its answer go back: the rest of the
    // buffer may have been written by the command itself (a read-object whose
    // data lands behind the command in the same buffer).
    uint32_t resp_len = get32(sge->data(), 8);
    uint64_t keep = 16 + static_cast<uint64_t>(std::max(req_len, resp_len));
    if (keep < sge->size()) sge->resize(static_cast<size_t>(keep));
    return o;
  }

  // Runs a command; a receive queue that goes away leaves a flush completion
  // on its completion queue (every generation but Pivard).
  Outcome execute(const Request& rq) {
    Outcome o = a_->fw_.execute(rq);
    updateIntx();   // a destroyed EQ no longer holds the line
    uint32_t flush_cq = a_->gen() != Gen::Pivard ? o.rx_flush_cq : 0;
    if (flush_cq != 0 && o.deliver && o.status == 0) {
      uint8_t e[16] = {};
      put32(e, 8, 0x1);          // dword 2 non-zero: valid; num_frags 0: flush
      postCq(flush_cq, e, Entry::Rx);
    }
    return o;
  }

  // ---- MCC ----
  void mccDoorbell(uint32_t ring, uint32_t count) {
    if (a_->in_ue_) return;   // the firmware is dead until the chip is reset
    QueueObj* q = a_->fw_.queue(ObjKind::MccQueue, ring);
    if (q == nullptr || q->fn != idx_ || q->entries == 0) return;
    for (uint32_t n = 0; n < count && n < q->entries; ++n) {
      // The queue can vanish under a command (function reset over the MCC).
      q = a_->fw_.queue(ObjKind::MccQueue, ring);
      if (q == nullptr) return;
      uint64_t at = ringAddr(*q, q->hw_index);
      q->hw_index = (q->hw_index + 1) % q->entries;
      uint32_t cq = q->bound;
      uint8_t wrb[256];
      if (!read(at, wrb, sizeof wrb)) continue;
      std::vector<uint8_t> sge;
      uint64_t sge_addr = 0;
      Outcome o = runWrb(wrb, Carrier::Mcc, &sge, &sge_addr);
      write(at, wrb, sizeof wrb);
      if (!sge.empty()) write(sge_addr, sge.data(), sge.size());
      if (applyOutcomeFlags(o) || o.no_entry) continue;
      Held h{cq, {}, 0};
      put16(h.entry, 0, o.status);
      put16(h.entry, 2, o.ext_status);
      std::memcpy(h.entry + 4, wrb + 8, 8);
      put32(h.entry, 12, (o.malformed ? 0 : kComplValid) | kComplDone);
      if (o.late) {
        held_.push_back(h);
        a_->notifyHeld(idx_);
        continue;
      }
      postCq(h.cq, h.entry);
    }
  }

  uint64_t ringAddr(const QueueObj& q, uint32_t index) const {
    uint64_t byte = static_cast<uint64_t>(index) * q.entry_size;
    uint64_t page = byte / 4096;
    if (page >= q.npages) page = q.npages ? q.npages - 1 : 0;
    return q.pages[page] + (byte % 4096);
  }

  // Writes one entry into a completion queue and signals its event queue.
  // What a CQ entry is: it decides the counter and which word marks it valid.
  enum class Entry { Mcc, Event, Rx, Tx };
  static uint32_t validOffset(Entry k) { return k == Entry::Rx ? 8 : 12; }

  // Writes a ring entry with its valid word last, by a release store.
  bool publish(uint64_t addr, const uint8_t* entry, size_t len, size_t valid_off) {
    bool ok = true;
    if (valid_off > 0) ok = write(addr, entry, valid_off);
    if (ok && valid_off + 4 < len) ok = write(addr + valid_off + 4, entry + valid_off + 4, len - valid_off - 4);
    if (!ok) return false;
    if (host_ == nullptr || !busMaster() || !host_->dmaWriteRelease32(addr + valid_off, get32(entry, valid_off))) {
      ++ctr_.dropped_dma;
      return false;
    }
    return true;
  }
  void postCq(uint32_t cq_id, const uint8_t* entry, Entry kind = Entry::Mcc) {
    QueueObj* cq = a_->fw_.queue(ObjKind::Cq, cq_id);
    if (cq == nullptr || cq->entries == 0) return;
    if (cq->outstanding >= cq->entries) {
      Held h{cq_id, {}, static_cast<int>(kind)};
      std::memcpy(h.entry, entry, 16);
      backlog_.push_back(h);
      return;
    }
    publish(ringAddr(*cq, cq->hw_index), entry, 16, validOffset(kind));
    cq->hw_index = (cq->hw_index + 1) % cq->entries;
    ++cq->outstanding;
    if (kind == Entry::Event) ++ctr_.events_written;
    else if (kind == Entry::Mcc) ++ctr_.completions_written;
    signalCq(*cq);
  }

  void signalCq(QueueObj& cq) {
    if (quiet_ || !cq.armed || cq.outstanding == 0) return;
    cq.armed = false;
    QueueObj* eq = a_->fw_.queue(ObjKind::Eq, cq.bound);
    if (eq == nullptr || eq->entries == 0) return;
    if (eq->outstanding < eq->entries) {
      uint8_t e[4];
      put32(e, 0, 0x1u | ((cq.id & 0xFFFF) << 16));
      publish(ringAddr(*eq, eq->hw_index), e, 4, 0);
      eq->hw_index = (eq->hw_index + 1) % eq->entries;
      ++eq->outstanding;
      ++ctr_.eq_entries_written;
    }
    signalEq(*eq);
  }

  void signalEq(QueueObj& eq) {
    if (!eq.armed || eq.outstanding == 0) return;
    eq.armed = false;
    eq.int_pending = true;
    unsigned vec = eq.vector < a_->cfg_.msix_vectors ? eq.vector : 0;
    ++ctr_.interrupts;
    if (msixEnabled()) {
      if (host_ != nullptr) host_->raiseInterrupt(this, vec);
    } else {
      updateIntx();
    }
  }

  bool msixEnabled() const { return (get16(cfg_, kCapMsix + 2) & 0x8000) != 0; }

  // INTx is level-triggered: asserted while an EQ's interrupt is not cleared
  // (and the command register's interrupt-disable bit is clear).
  void updateIntx() {
    bool level = false;
    if (!msixEnabled() && (get16(cfg_, 0x04) & 0x0400) == 0) {
      for (QueueObj* q : a_->fw_.queues(ObjKind::Eq, static_cast<int>(idx_))) level = level || q->int_pending;
    }
    if (level == intx_level_) return;
    intx_level_ = level;
    if (level) ++ctr_.intx_asserts;
    if (host_ != nullptr) host_->setIntxLine(this, level);
  }

  void clearInterrupt(uint32_t eq_id) {
    QueueObj* eq = a_->fw_.queue(ObjKind::Eq, eq_id);
    if (eq == nullptr || eq->fn != idx_) return;
    eq->int_pending = false;
    updateIntx();
  }

  void eqCqDoorbell(uint32_t v) {
    bool is_eq = (v & (1u << 10)) != 0;
    uint32_t popped = (v >> 16) & 0x1FFF;
    bool rearm = (v & (1u << 29)) != 0;
    if (is_eq) {
      uint32_t id = eqId(v);
      QueueObj* eq = a_->fw_.queue(ObjKind::Eq, id);
      if (eq == nullptr || eq->fn != idx_) return;
      eq->outstanding -= std::min(popped, eq->outstanding);
      if (rearm) {
        eq->armed = true;
        signalEq(*eq);
      }
      return;
    }
    uint32_t id = cqId(v);
    QueueObj* cq = a_->fw_.queue(ObjKind::Cq, id);
    if (cq == nullptr || cq->fn != idx_) return;
    cq->outstanding -= std::min(popped, cq->outstanding);
    // Completions that waited for room go in now.
    while (!backlog_.empty() && backlog_.front().cq == id && cq->outstanding < cq->entries) {
      Held h = backlog_.front();
      backlog_.pop_front();
      postCq(h.cq, h.entry, static_cast<Entry>(h.kind));
    }
    if (rearm) {
      cq->armed = true;
      signalCq(*cq);
    }
  }

  bool postAsync(const AsyncEvent& ev) {
    bool any = false;
    for (QueueObj* q : a_->fw_.queues(ObjKind::MccQueue, static_cast<int>(idx_))) {
      if (ev.code >= 32 || (q->async_mask & (1u << ev.code)) == 0) continue;
      uint8_t e[16] = {};
      std::memcpy(e, ev.data, 12);
      put32(e, 12, kComplValid | kComplAsync | (static_cast<uint32_t>(ev.code) << 8) |
                       (static_cast<uint32_t>(ev.type) << 16));
      postCq(q->bound, e, Entry::Event);
      any = true;
    }
    return any;
  }

  void releaseHeld(bool signal) {
    while (!held_mbox_.empty()) {
      HeldMbox h = std::move(held_mbox_.front());
      held_mbox_.pop_front();
      finishMailbox(h);
    }
    quiet_ = !signal;
    while (!held_.empty()) {
      Held h = held_.front();
      held_.pop_front();
      postCq(h.cq, h.entry);
    }
    quiet_ = false;
  }
  bool quiet_ = false;   // entries written without an event (a lost interrupt)

  // Ring state that dies with the firmware objects.
  void forgetRingState() {
    held_.clear();
    backlog_.clear();
    updateIntx();
  }

  void reset() {
    forgetRingState();
    held_mbox_.clear();
    mbox_busy_ = false;
    updateIntx();   // the EQs are gone: nothing keeps the line up
    mbox_stuck_ = false;
    mbox_ready_ = true;
    window_armed_ = false;
  }
};

// ---- Adapter ----

static EngineConfig withIdentity(const AdapterConfig& c) {
  EngineConfig e = c.fw;
  e.pci_vendor = c.vendor_id ? c.vendor_id : defaultVendorId(c.fw.gen);
  e.pci_device = c.device_id ? c.device_id : defaultDeviceId(c.fw.gen);
  e.pci_subsys_vendor = c.subsys_vendor_id ? c.subsys_vendor_id : e.pci_vendor;
  e.pci_subsys_device = c.subsys_device_id;
  e.pci_bus = c.bus;
  e.pci_dev = c.device;
  return e;
}

Adapter::Adapter(const AdapterConfig& cfg) : cfg_(cfg), fw_(withIdentity(cfg)), rng_(cfg.async_seed) {
  cfg_.fw = fw_.config();
  if (cfg_.msix_vectors > 2048) cfg_.msix_vectors = 2048;
  post_reads_left_ = cfg_.post_reads_until_ready;
  for (unsigned i = 0; i < fw_.functions(); ++i) fns_.push_back(std::make_unique<Fn>(this, i));
  ports_.resize(fw_.ports());
  if (cfg_.mode == Mode::Async) device_ = std::thread([this] { deviceLoop(); });
}

Adapter::~Adapter() {
  for (unsigned p = 0; p < ports_.size(); ++p) disconnectCable(p);
  {
    std::lock_guard<std::mutex> g(mu_);
    stop_ = true;
  }
  work_cv_.notify_all();
  if (device_.joinable()) device_.join();
}

// ---- the device thread ----

void Adapter::defer(unsigned fn, uint32_t off, uint64_t value, uint64_t ring) {
  auto due = std::chrono::steady_clock::now() + std::chrono::microseconds(cfg_.async_delay_us);
  if (cfg_.async_jitter_us > 0) due += std::chrono::microseconds(rng_() % (cfg_.async_jitter_us + 1ull));
  std::deque<Work>& q = pending_[ring];
  // A ring's doorbells keep their order, whatever their jitter.
  if (!q.empty() && due < q.back().due) due = q.back().due;
  q.push_back(Work{fn, off, value, due});
  work_cv_.notify_all();
}

void Adapter::dropPending(int fn) {
  for (auto it = pending_.begin(); it != pending_.end();) {
    std::deque<Work>& q = it->second;
    q.erase(std::remove_if(q.begin(), q.end(), [&](const Work& w) { return fn < 0 || w.fn == unsigned(fn); }),
            q.end());
    it = q.empty() ? pending_.erase(it) : std::next(it);
  }
  if (pending_.empty()) idle_cv_.notify_all();
}

void Adapter::deviceLoop() {
  std::unique_lock<std::mutex> lk(mu_);
  std::vector<uint64_t> due;
  while (!stop_) {
    if (pending_.empty()) {
      work_cv_.wait(lk);
      continue;
    }
    auto now = std::chrono::steady_clock::now();
    auto next = std::chrono::steady_clock::time_point::max();
    due.clear();
    for (auto& [ring, q] : pending_) {
      if (q.front().due <= now) due.push_back(ring);
      else next = std::min(next, q.front().due);
    }
    if (due.empty()) {
      work_cv_.wait_until(lk, next);
      continue;
    }
    // Any ring with due work may go first.
    uint64_t ring = due[rng_() % due.size()];
    std::deque<Work>& q = pending_[ring];
    Work w = q.front();
    q.pop_front();
    if (q.empty()) pending_.erase(ring);
    if (w.fn < fns_.size()) fns_[w.fn]->serve(w.off, w.value);
    flushOutbox(lk);
    if (pending_.empty() && delivering_ == 0) idle_cv_.notify_all();
  }
}

bool Adapter::deliverRxLocked(unsigned fn, uint32_t rxq_id, const std::vector<uint8_t>& frame, const RxMeta& m) {
  return fns_[fn]->injectRx(rxq_id, frame, m);
}

bool Adapter::waitIdle(unsigned timeout_ms) {
  std::unique_lock<std::mutex> lk(mu_);
  return idle_cv_.wait_for(lk, std::chrono::milliseconds(timeout_ms), [this] {
    return pending_.empty() && outbox_.empty() && delivering_ == 0;
  });
}

size_t Adapter::pendingDoorbells() const {
  std::lock_guard<std::mutex> g(mu_);
  size_t n = 0;
  for (auto& [ring, q] : pending_) n += q.size();
  return n;
}

void Adapter::setAsyncDelay(unsigned delay_us, unsigned jitter_us) {
  std::lock_guard<std::mutex> g(mu_);
  cfg_.async_delay_us = delay_us;
  cfg_.async_jitter_us = jitter_us;
}

bool Adapter::intxAsserted(unsigned fn) const {
  std::lock_guard<std::mutex> g(mu_);
  return fn < fns_.size() && fns_[fn]->intx_level_;
}

unsigned Adapter::functionCount() const { return static_cast<unsigned>(fns_.size()); }
unsigned Adapter::functionCountCfg() const { return fw_.functions(); }

hostbus::Function* Adapter::function(unsigned fn) {
  return fn < fns_.size() ? fns_[fn].get() : nullptr;
}

void Adapter::setSlotGone(unsigned fn, bool gone) {
  std::lock_guard<std::mutex> g(mu_);
  if (fn < fns_.size()) fns_[fn]->slot_gone_ = gone;
}
void Adapter::setMailboxReady(unsigned fn, bool ready) {
  std::lock_guard<std::mutex> g(mu_);
  if (fn < fns_.size()) fns_[fn]->mbox_knob_ready_ = ready;
}
void Adapter::setPostStage(uint16_t stage, bool error) {
  std::lock_guard<std::mutex> g(mu_);
  post_stage_ = stage;
  post_error_ = error;
  post_reads_left_ = 0;
}
void Adapter::setPivardStatus(uint32_t status) {
  std::lock_guard<std::mutex> g(mu_);
  pivard_status_ = status;
  post_reads_left_ = 0;
}
void Adapter::setCfgBarRegister(unsigned fn, uint32_t off, uint32_t value) {
  std::lock_guard<std::mutex> g(mu_);
  if (fn >= fns_.size()) return;
  if (off == 0x58) fns_[fn]->cfgbar_58_ = value;
  if (off == 0x9C) fns_[fn]->cfgbar_9c_ = value;
}

void Adapter::injectUe(uint32_t lo, uint32_t hi, uint16_t port_status_code) {
  std::lock_guard<std::mutex> g(mu_);
  enterUe(lo, hi, port_status_code);
}

void Adapter::enterUe(uint32_t lo, uint32_t hi, uint16_t code) {
  in_ue_ = true;
  if (gen() == Gen::Pivard) {
    pivard_status_ = (pivard_status_ | 0x80000000u | 0x01000000u) & ~0x00800000u;
  } else {
    ue_lo_ |= lo;
    ue_hi_ |= hi;
    post_stage_ = code;
    post_error_ = true;
  }
  takeDump();
}

bool Adapter::inUe() const {
  std::lock_guard<std::mutex> g(mu_);
  return in_ue_;
}

void Adapter::takeDump() {
  std::vector<uint8_t> dump(32768);
  ++dumps_;
  for (size_t i = 0; i < dump.size(); ++i) dump[i] = static_cast<uint8_t>(i * 13 + dumps_);
  fw_.putObject("/dbg/dump.bin", std::move(dump));
}

uint32_t Adapter::readPostStage() {
  if (!in_ue_ && bootingAfterReset()) return 0x0100;
  if (post_reads_left_ > 0) {
    --post_reads_left_;
    return 0x0100;    // still booting
  }
  return (post_error_ ? 0x80000000u : 0) | post_stage_;
}

uint32_t Adapter::readPivardStatus() {
  if (!in_ue_ && bootingAfterReset()) return pivard_status_ & ~0x00800000u;
  if (post_reads_left_ > 0) {
    --post_reads_left_;
    return pivard_status_ & ~0x00800000u;
  }
  return pivard_status_;
}

void Adapter::chipSoftReset() {
  // The whole chip restarts: every function's objects are gone, the error is
  // cleared and the firmware boots again.
  fw_.destroyAllObjects();
  dropPending(-1);
  for (auto& f : fns_) f->reset();
  ue_lo_ = ue_hi_ = 0;
  post_stage_ = 0xC000;
  post_error_ = false;
  in_ue_ = false;
  post_reads_left_ = cfg_.post_reads_until_ready;
  armReadyDelay();
}

void Adapter::pivardPortReset(unsigned fn) {
  fw_.destroyFunctionObjects(fn);
  dropPending(static_cast<int>(fn));
  fns_[fn]->reset();
  post_reads_left_ = cfg_.post_reads_until_ready;
  if (pivard_sticky_error_) return;   // the port comes back in error
  pivard_status_ = 0x00800000u;
  in_ue_ = false;
  armReadyDelay();
}

void Adapter::armReadyDelay() {
  ready_at_ms_ = ready_after_reset_ms_ != 0 ? clockMs() + ready_after_reset_ms_ : 0;
}

void Adapter::injectPivardError(bool reset_needed, bool survives_reset) {
  std::lock_guard<std::mutex> g(mu_);
  if (gen() != Gen::Pivard) return;
  in_ue_ = true;
  pivard_sticky_error_ = survives_reset;
  // The port stays ready: it takes the port reset that clears the error.
  pivard_status_ = pivard_status_ | 0x80000000u | (reset_needed ? 0x01000000u : 0);
  takeDump();
}

void Adapter::powerCycle() {
  std::lock_guard<std::mutex> g(mu_);
  pivard_sticky_error_ = false;
  const uint64_t delay = ready_after_reset_ms_;
  ready_after_reset_ms_ = 0;
  chipSoftReset();
  ready_after_reset_ms_ = delay;
  pivard_status_ = 0x00800000u;
  post_reads_left_ = 0;
}

void Adapter::setClock(std::function<uint64_t()> now_ms) {
  std::lock_guard<std::mutex> g(mu_);
  clock_ = std::move(now_ms);
}

void Adapter::setReadyAfterReset(uint64_t ms) {
  std::lock_guard<std::mutex> g(mu_);
  ready_after_reset_ms_ = ms;
}

void Adapter::setDumpBusyTime(uint64_t ms) {
  std::lock_guard<std::mutex> g(mu_);
  dump_timed_ = true;
  dump_busy_ms_ = ms;
}

bool Adapter::injectAsyncEvent(unsigned fn, const AsyncEvent& ev) {
  std::lock_guard<std::mutex> g(mu_);
  if (fn >= fns_.size()) return false;
  // Keep the firmware's own view consistent with what it announces.
  if (ev.code == 1) {
    Engine::PortState& p = fw_.port(ev.data[0]);
    p.link_up = (ev.data[1] & 1) != 0;
    p.logical = (ev.data[1] >> 1) & 1;
    p.speed_code = ev.data[3];
    p.down_reason = ev.data[5];
    p.qos_speed = get16(ev.data, 6);
  } else if (ev.code == 5 && ev.type == 1) {
    fw_.port(ev.data[0]).qos_speed = get16(ev.data, 6);
  } else if (ev.code == 17 && ev.type == 9) {
    for (unsigned p = 0; p < fw_.ports(); ++p) {
      fw_.port(p).transceiver_state = static_cast<uint8_t>(get32(ev.data, 0) >> (8 * p));
      fw_.port(p).link_effect = static_cast<uint8_t>(get32(ev.data, 4) >> (8 * p));
    }
  }
  return fns_[fn]->postAsync(ev);
}

void Adapter::setHeldHook(std::function<void(unsigned fn)> hook) {
  std::lock_guard<std::mutex> g(mu_);
  held_hook_ = std::move(hook);
}

void Adapter::notifyHeld(unsigned fn) {
  if (held_hook_) held_hook_(fn);
}

size_t Adapter::heldCompletions(unsigned fn) const {
  std::lock_guard<std::mutex> g(mu_);
  if (fn >= fns_.size()) return 0;
  return fns_[fn]->held_.size() + fns_[fn]->held_mbox_.size();
}

void Adapter::releaseHeldCompletions(unsigned fn, bool signal) {
  std::lock_guard<std::mutex> g(mu_);
  if (fn < fns_.size()) fns_[fn]->releaseHeld(signal);
}

std::vector<TxFrame> Adapter::takeTxFrames(unsigned fn) {
  std::lock_guard<std::mutex> g(mu_);
  std::vector<TxFrame> v;
  if (fn < fns_.size()) v.swap(fns_[fn]->tx_frames_);
  return v;
}

bool Adapter::injectRxFrame(unsigned fn, uint32_t rxq_id, const std::vector<uint8_t>& frame,
                            const RxMeta& meta) {
  std::lock_guard<std::mutex> g(mu_);
  return fn < fns_.size() && fns_[fn]->injectRx(rxq_id, frame, meta);
}

unsigned Adapter::rxPosted(unsigned fn, uint32_t rxq_id) const {
  std::lock_guard<std::mutex> g(mu_);
  QueueObj* q = const_cast<Engine&>(fw_).queue(ObjKind::RxQueue, rxq_id);
  return q != nullptr && q->fn == fn ? q->outstanding : 0;
}

void Adapter::setRecordOnlyDoorbells(unsigned fn, bool on, const std::vector<uint32_t>& cqs) {
  if (fn >= fns_.size()) return;
  Fn& f = *fns_[fn];
  f.record_only_.store(false, std::memory_order_release);
  if (!on) return;
  f.rec_cq_count_ = 0;
  for (uint32_t id : cqs)
    if (f.rec_cq_count_ < std::size(f.rec_cqs_)) f.rec_cqs_[f.rec_cq_count_++] = id;
  f.record_only_.store(true, std::memory_order_release);
}

RecordedDoorbells Adapter::recordedDoorbells(unsigned fn) const {
  RecordedDoorbells r;
  if (fn >= fns_.size()) return r;
  const Fn& f = *fns_[fn];
  r.tx = f.rec_tx_.load(std::memory_order_relaxed);
  r.rx = f.rec_rx_.load(std::memory_order_relaxed);
  r.eq_cq = f.rec_eq_cq_.load(std::memory_order_relaxed);
  r.last_tx = f.rec_last_tx_.load(std::memory_order_relaxed);
  r.last_rx = f.rec_last_rx_.load(std::memory_order_relaxed);
  r.last_eq_cq = f.rec_last_eq_cq_.load(std::memory_order_relaxed);
  return r;
}

void encodeRxCompletion(Gen g, bool advanced, uint32_t port, uint32_t frag_index, uint32_t size, const RxMeta& m,
                        uint8_t out[16]) {
  uint16_t tag = m.vlan;
  if (g != Gen::Pivard) tag = static_cast<uint16_t>((tag >> 8) | (tag << 8));
  uint32_t d0 = tag | (size << 16);
  uint32_t d1 = (m.error ? 1u : 0) | (m.tcp ? 1u << 3 : 0) | (m.udp ? 1u << 4 : 0) | (m.ip_csum_ok ? 1u << 5 : 0) |
                (m.l4_csum_ok ? 1u << 6 : 0) | (m.ipv6 ? 1u << 7 : 0) | ((frag_index & 0x3FF) << 16) | (1u << 29);
  uint32_t d2 = 1u | ((m.cast & 3u) << 1) | (m.vlan_keep ? 1u << 3 : 0);
  if (advanced) {
    d0 |= m.vlan_present ? 1u << 30 : 0;
    d2 |= ((port & 3u) << 5) | (m.tunneled ? 1u << 30 : 0);
  } else {
    d0 |= (port & 1u) << 30;
    d1 |= m.vlan_present ? 1u << 14 : 0;
  }
  put32(out, 0, d0);
  put32(out, 4, d1);
  put32(out, 8, d2);
  put32(out, 12, m.rss_hash);
}

FnCounters Adapter::counters(unsigned fn) const {
  std::lock_guard<std::mutex> g(mu_);
  return fn < fns_.size() ? fns_[fn]->ctr_ : FnCounters{};
}

uint32_t Adapter::configWord(unsigned fn, uint32_t off) {
  return fn < fns_.size() ? fns_[fn]->configRead(off, 4) : 0xFFFFFFFFu;
}

uint32_t Adapter::registerDefault(Space s, uint32_t off) {
  (void)s;
  (void)off;
  return 0;
}

void Adapter::setRegister(unsigned fn, Space s, uint32_t off, uint32_t value) {
  std::lock_guard<std::mutex> g(mu_);
  if (fn < fns_.size()) fns_[fn]->regs_[static_cast<int>(s)][off & ~3u] = value;
}

uint32_t Adapter::hostIntrCtl(unsigned fn) const {
  std::lock_guard<std::mutex> g(mu_);
  return fn < fns_.size() ? fns_[fn]->host_intr_ctl_ : 0;
}

}  // namespace adapter
