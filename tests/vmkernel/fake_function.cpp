#include "fake_function.h"

#include <cstring>

FakeFunction::FakeFunction(uint16_t vendor, uint16_t device, unsigned msix) : msix_(msix) {
  memcpy(config_ + 0x00, &vendor, 2);
  memcpy(config_ + 0x02, &device, 2);
  uint16_t subVendor = vendor, subDevice = 0x1234;
  memcpy(config_ + 0x2C, &subVendor, 2);
  memcpy(config_ + 0x2E, &subDevice, 2);
}

uint32_t FakeFunction::configRead(uint32_t offset, unsigned width) {
  std::lock_guard<std::mutex> g(lock_);
  uint32_t v = 0;
  memcpy(&v, config_ + offset, width);
  return v;
}

void FakeFunction::configWrite(uint32_t offset, uint32_t value, unsigned width) {
  std::lock_guard<std::mutex> g(lock_);
  memcpy(config_ + offset, &value, width);
}

uint32_t FakeFunction::barRead(unsigned bar, uint64_t offset, unsigned width) {
  std::lock_guard<std::mutex> g(lock_);
  uint32_t v = regs_[{bar, offset}];
  log_.push_back({false, bar, offset, v, width});
  return v;
}

void FakeFunction::barWrite(unsigned bar, uint64_t offset, uint32_t value, unsigned width) {
  std::lock_guard<std::mutex> g(lock_);
  regs_[{bar, offset}] = value;
  log_.push_back({true, bar, offset, value, width});
}

std::vector<FakeFunction::Access> FakeFunction::accesses() {
  std::lock_guard<std::mutex> g(lock_);
  return log_;
}

void FakeFunction::setRegister(unsigned bar, uint64_t offset, uint32_t value) {
  std::lock_guard<std::mutex> g(lock_);
  regs_[{bar, offset}] = value;
}
