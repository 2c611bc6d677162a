// A small PCI function for the stand-in's own tests: configuration space,
// register BARs that record every access, MSI-X vectors, and a way to DMA and
// raise interrupts as a device would.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "hostbus.h"

class FakeFunction : public hostbus::Function {
 public:
  struct Access {
    bool write;
    unsigned bar;
    uint64_t offset;
    uint32_t value;
    unsigned width;
  };

  FakeFunction(uint16_t vendor = 0x1C4E, uint16_t device = 0x3b10, unsigned msix = 4);

  uint16_t segment() const override { return 0; }
  uint8_t bus() const override { return 5; }
  uint8_t device() const override { return 0; }
  uint8_t function() const override { return 1; }

  uint32_t configRead(uint32_t offset, unsigned width) override;
  void configWrite(uint32_t offset, uint32_t value, unsigned width) override;

  uint64_t barSize(unsigned bar) const override { return bar == 0 || bar == 2 ? 0x10000 : 0; }
  uint32_t barRead(unsigned bar, uint64_t offset, unsigned width) override;
  void barWrite(unsigned bar, uint64_t offset, uint32_t value, unsigned width) override;

  unsigned msixVectors() const override { return msix_; }
  void attachHost(hostbus::Host* host) override { host_ = host; }
  void detachHost() override { host_ = nullptr; }

  hostbus::Host* host() const { return host_; }
  std::vector<Access> accesses();
  void setRegister(unsigned bar, uint64_t offset, uint32_t value);

 private:
  std::mutex lock_;
  uint8_t config_[4096] = {};
  std::map<std::pair<unsigned, uint64_t>, uint32_t> regs_;
  std::vector<Access> log_;
  unsigned msix_;
  hostbus::Host* host_ = nullptr;
};
