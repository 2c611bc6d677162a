#include "fake_host.h"

uint64_t FakeHost::alloc(size_t size, uint64_t addr) {
  size = (size + 4095) & ~size_t{4095};
  if (addr == 0) {
    addr = next_;
    next_ += size + 4096;   // a hole between buffers catches overruns
  }
  mem_[addr].assign(size, 0);
  return addr;
}

bool FakeHost::range(uint64_t addr, size_t len, uint8_t** p) {
  auto it = mem_.upper_bound(addr);
  if (it == mem_.begin()) return false;
  --it;
  uint64_t off = addr - it->first;
  if (off > it->second.size() || len > it->second.size() - off) return false;
  *p = it->second.data() + off;
  return true;
}

uint8_t* FakeHost::at(uint64_t addr) {
  uint8_t* p = nullptr;
  return range(addr, 1, &p) ? p : nullptr;
}

uint32_t FakeHost::read32(uint64_t addr) {
  uint32_t v = 0;
  dmaRead(addr, &v, 4);
  return v;
}

void FakeHost::write32(uint64_t addr, uint32_t v) {
  uint8_t* p = nullptr;
  if (range(addr, 4, &p)) std::memcpy(p, &v, 4);   // the host's own store: not logged
}

bool FakeHost::dmaRead(hostbus::BusAddr addr, void* dst, size_t len) {
  uint8_t* p = nullptr;
  if (!range(addr, len, &p)) return false;
  std::memcpy(dst, p, len);
  return true;
}

bool FakeHost::dmaWrite(hostbus::BusAddr addr, const void* src, size_t len) {
  uint8_t* p = nullptr;
  if (!range(addr, len, &p)) return false;
  std::memcpy(p, src, len);
  std::lock_guard<std::mutex> g(log_mu_);
  log_.push_back(Write{addr, len, false});
  return true;
}

bool FakeHost::dmaWriteRelease32(hostbus::BusAddr addr, uint32_t value) {
  uint8_t* p = nullptr;
  if ((addr & 3) != 0 || !range(addr, 4, &p)) return false;
  {
    std::lock_guard<std::mutex> g(log_mu_);
    log_.push_back(Write{addr, 4, true});
  }
  __atomic_store_n(reinterpret_cast<uint32_t*>(p), value, __ATOMIC_RELEASE);
  return true;
}

uint32_t FakeHost::load32Acquire(uint64_t addr) {
  uint8_t* p = at(addr);
  return __atomic_load_n(reinterpret_cast<uint32_t*>(p), __ATOMIC_ACQUIRE);
}

std::vector<FakeHost::Write> FakeHost::writes() {
  std::lock_guard<std::mutex> g(log_mu_);
  return log_;
}

void FakeHost::clearWrites() {
  std::lock_guard<std::mutex> g(log_mu_);
  log_.clear();
}

void FakeHost::setIntxLine(hostbus::Function*, bool asserted) { intx.push_back(asserted); }

void FakeHost::raiseInterrupt(hostbus::Function* fn, unsigned vector) {
  interrupts.emplace_back(fn, vector);
}
