// The bus between an emulated PCI device and the emulated host.
//
// The kernel stand-in (platform/vmkernel) plays the host: it owns guest memory
// handed out for DMA, maps BARs for drivers and delivers interrupts to their
// handlers. A device model (platform/adapter) plays the card: it answers
// configuration-space and BAR accesses and, like real hardware, reaches host
// memory only by bus address and signals the host only by interrupt.
//
// Neither side includes the other's headers; this file is all they share.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace hostbus {

// Bus (DMA) address as the device sees it.
using BusAddr = uint64_t;

// Services the host gives a device once the device is plugged in.
class Host {
 public:
  virtual ~Host() = default;
  // Copy between host memory and the device. False when any byte of the range
  // is not mapped for DMA (the device must then behave as on a master abort:
  // drop the write / read all ones).
  virtual bool dmaRead(BusAddr addr, void* dst, size_t len) = 0;
  virtual bool dmaWrite(BusAddr addr, const void* src, size_t len) = 0;
  // Stores one aligned little-endian 32-bit word with release ordering: a
  // host thread that reads the word with acquire ordering also sees every
  // earlier write of the device. Devices publish a ring entry this way, its
  // valid word last. A host without atomic access to its memory falls back to
  // a fence and a plain write.
  virtual bool dmaWriteRelease32(BusAddr addr, uint32_t value) {
    uint8_t le[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    std::atomic_thread_fence(std::memory_order_release);
    return dmaWrite(addr, le, sizeof le);
  }
  // Raise interrupt `vector` of `fn` (an MSI-X table index; 0 for INTx or MSI).
  // Delivered asynchronously if the driver registered a handler for it.
  virtual void raiseInterrupt(class Function* fn, unsigned vector) = 0;
  // The function's INTx line, which is level-triggered: the device holds it
  // asserted while an interrupt cause is pending and lowers it when the host
  // clears the cause. A host that has no level model takes the rising edge as
  // an interrupt.
  virtual void setIntxLine(class Function* fn, bool asserted) {
    if (asserted) raiseInterrupt(fn, 0);
  }
};

// One PCI function of an emulated device.
class Function {
 public:
  virtual ~Function() = default;

  // Location on the bus; the host uses it for the function's PCI name.
  virtual uint16_t segment() const = 0;
  virtual uint8_t bus() const = 0;
  virtual uint8_t device() const = 0;
  virtual uint8_t function() const = 0;

  // Configuration space (width 1, 2 or 4 bytes; little endian).
  virtual uint32_t configRead(uint32_t offset, unsigned width) = 0;
  virtual void configWrite(uint32_t offset, uint32_t value, unsigned width) = 0;

  // BAR i: size 0 means the BAR is not implemented.
  virtual uint64_t barSize(unsigned bar) const = 0;
  virtual uint32_t barRead(unsigned bar, uint64_t offset, unsigned width) = 0;
  virtual void barWrite(unsigned bar, uint64_t offset, uint32_t value, unsigned width) = 0;

  // Number of MSI-X vectors the function offers (0: no MSI-X capability).
  virtual unsigned msixVectors() const = 0;

  // Called by the host when the function is plugged in / pulled out.
  virtual void attachHost(Host* host) = 0;
  virtual void detachHost() = 0;
};

}  // namespace hostbus
