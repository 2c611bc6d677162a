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

void FakeHost::write32(uint64_t addr, uint32_t v) { dmaWrite(addr, &v, 4); }

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
  return true;
}

void FakeHost::raiseInterrupt(hostbus::Function* fn, unsigned vector) {
  interrupts.emplace_back(fn, vector);
}
