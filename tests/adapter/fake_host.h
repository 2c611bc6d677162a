// A tiny host for the device tests: DMA memory in a few buffers at chosen bus
// addresses, and a record of the interrupts the device raised.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "hostbus.h"

class FakeHost : public hostbus::Host {
 public:
  // A buffer of `size` bytes at bus address `addr` (default: the next free
  // page above 4 GB, so that both doorbell address halves matter).
  uint64_t alloc(size_t size, uint64_t addr = 0);
  uint8_t* at(uint64_t addr);   // host view of a DMA address (nullptr when unmapped)
  uint32_t read32(uint64_t addr);
  void write32(uint64_t addr, uint32_t v);
  void fill(uint64_t addr, const void* src, size_t n) { std::memcpy(at(addr), src, n); }

  bool dmaRead(hostbus::BusAddr addr, void* dst, size_t len) override;
  bool dmaWrite(hostbus::BusAddr addr, const void* src, size_t len) override;
  bool dmaWriteRelease32(hostbus::BusAddr addr, uint32_t value) override;
  void raiseInterrupt(hostbus::Function* fn, unsigned vector) override;
  void setIntxLine(hostbus::Function* fn, bool asserted) override;

  // The valid word of a ring entry as a host thread reads it (acquire).
  uint32_t load32Acquire(uint64_t addr);

  // Every device write in order: plain copies and release stores.
  struct Write {
    uint64_t addr;
    size_t len;
    bool release;
  };
  std::vector<Write> writes();
  void clearWrites();

  std::vector<std::pair<hostbus::Function*, unsigned>> interrupts;
  std::vector<bool> intx;   // every change of the INTx line, in order

 private:
  bool range(uint64_t addr, size_t len, uint8_t** p);
  std::map<uint64_t, std::vector<uint8_t>> mem_;
  std::mutex log_mu_;
  std::vector<Write> log_;
  uint64_t next_ = 0x123450000ull;
};
