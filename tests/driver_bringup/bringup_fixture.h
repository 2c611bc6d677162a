// Fixture of the bring-up tests: the driver module loaded into a clean
// stand-in kernel, emulated adapters plugged in, and nothing left alive in
// the kernel or in the adapter's firmware afterwards.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "adapter.h"
#include "tamsil.h"
#include "tamsil_bringup.h"
#include "vmk_testing.h"
#include "vmk_uplink_testing.h"

// Firmware commands by (subsystem, opcode).
namespace fwop {
constexpr uint8_t kCommon = 1, kNic = 3;
constexpr uint8_t kCqCreate = 12, kEqCreate = 13, kMccqCreate = 21, kMccqCreateExt = 90, kIfCreate = 50,
                  kFunctionReset = 61, kQueryFwCfg = 58, kGetFuncConfig = 160, kGetProfileConfig = 164,
                  kTxqCreate = 7, kGetPhyInfo = 102;
}  // namespace fwop

inline const char* genText(adapter::Gen g) { return adapter::genName(g); }

class BringupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vmktest::reset();
    vmktest::netReset();
    vmktest::setClockRate(250.0);  // a 36 s command wait is 144 ms: room for a loaded machine
    ASSERT_TRUE(vmktest::live().allZero()) << vmktest::live().describe();
    ASSERT_EQ(0, vmktest::loadModule(init_module, options()));
  }
  void TearDown() override {
    vmktest::clearFailures();
    for (auto* d : devices_) vmktest::unplugPciFunction(d);
    devices_.clear();
    vmktest::netPollDrain();
    vmktest::unloadModule(cleanup_module);
    for (auto& c : cards_) EXPECT_EQ(0u, c->engine().countLive()) << "firmware objects left";
    cards_.clear();
    EXPECT_TRUE(vmktest::live().allZero()) << "left alive: " << vmktest::live().describe();
    EXPECT_TRUE(vmktest::netLive().allZero()) << "left alive: " << vmktest::netLive().describe();
    // A device write where nothing is mapped: the driver gave the device
    // memory it had already taken back.
    const vmktest::DmaFaults f = vmktest::dmaFaults();
    EXPECT_EQ(0u, f.unmappedWrites) << "a device wrote to unmapped bus address 0x" << std::hex << f.firstWriteAddr;
    vmktest::setClockRate(1.0);
  }
  virtual std::string options() { return ""; }

  adapter::Adapter& newCard(adapter::Gen g, unsigned functions = 1) {
    adapter::AdapterConfig cfg;
    cfg.fw.gen = g;
    cfg.fw.functions = functions;
    return newCard(cfg);
  }
  adapter::Adapter& newCard(const adapter::AdapterConfig& cfg) {
    cards_.push_back(std::make_unique<adapter::Adapter>(cfg));
    return *cards_.back();
  }
  vmk_Device plug(adapter::Adapter& card, unsigned fn = 0) {
    vmk_Device d = vmktest::plugPciFunction(card.function(fn));
    devices_.push_back(d);
    return d;
  }
  void unplug(vmk_Device d) {
    vmktest::unplugPciFunction(d);
    for (auto it = devices_.begin(); it != devices_.end(); ++it)
      if (*it == d) {
        devices_.erase(it);
        break;
      }
  }
  static Adapter* adapterOf(vmk_Device d) {
    vmk_AddrCookie c;
    c.ptr = nullptr;
    if (vmk_DeviceGetAttachedDriverData(d, &c) != VMK_OK) return nullptr;
    return static_cast<Adapter*>(c.ptr);
  }
  static size_t logged(const std::string& needle) { return vmktest::logCount(needle); }

  std::vector<std::unique_ptr<adapter::Adapter>> cards_;
  std::vector<vmk_Device> devices_;
};

inline const vmk_UplinkRegData* regDataOf(vmk_Device uplinkDevice) {
  return static_cast<const vmk_UplinkRegData*>(vmktest::deviceRegistrationData(uplinkDevice).ptr);
}
