// Fixture of the data-path tests: the driver module loaded, one emulated
// adapter (on its device thread) attached, its uplink device created and
// associated as the network stack does it, and I/O started on request.
// TearDown quiesces I/O, disassociates, unplugs and checks that nothing is
// left alive in the kernel stand-in or in the adapter's firmware.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "bringup_fixture.h"
#include "tamsil_datapath.h"
#include "vmk_pkt_testing.h"

class DpTest : public BringupTest {
 protected:
  // Attaches a card of generation `g` (reloading the module with `opts`
  // when given) and associates its uplink as "vmnic1".
  void associate(adapter::Gen g, const std::string& opts = "", unsigned functions = 1) {
    adapter::AdapterConfig cfg;
    cfg.fw.gen = g;
    cfg.fw.functions = functions;
    associate(cfg, opts);
  }
  void associate(const adapter::AdapterConfig& cfg, const std::string& opts = "", unsigned fn = 0) {
    if (!opts.empty()) {
      vmktest::unloadModule(cleanup_module);
      ASSERT_EQ(0, vmktest::loadModule(init_module, opts));
    }
    card_ = &newCard(cfg);
    dev_ = plug(*card_, fn);
    ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev_));
    ASSERT_EQ(VMK_OK, vmktest::scanDevice(dev_));
    if (startDevice_) {
      ASSERT_EQ(VMK_OK, vmktest::startDevice(dev_));
    }
    a_ = adapterOf(dev_);
    ASSERT_NE(nullptr, a_);
    child_ = vmktest::childDevices(dev_).at(0);
    ASSERT_EQ(VMK_OK, vmktest::uplinkAssociate(regDataOf(child_), "vmnic1", &uplink_));
    cookie_.ptr = a_;
  }
  // The kernel's operations as the stack calls them.
  const vmk_UplinkOps& ops() const { return regDataOf(child_)->ops; }
  VMK_ReturnStatus startIO() { return ops().uplinkStartIO(cookie_); }
  VMK_ReturnStatus quiesceIO() { return ops().uplinkQuiesceIO(cookie_); }
  bool ioStarted() const { return a_ != nullptr && a_->io_started != 0; }
  bool ioQuiesced() const { return tamsil_flagTest(a_, TAMSIL_FLAG_IO_QUIESCED); }
  // The card's firmware, under the card's lock: commands seen, refusals.
  unsigned fwSeen(uint8_t subsystem, uint8_t opcode) {
    std::lock_guard<std::mutex> g(card_->lock());
    return card_->engine().commandsSeen(subsystem, opcode);
  }
  void fwFault(uint8_t subsystem, uint8_t opcode, const adapter::Fault& f) {
    std::lock_guard<std::mutex> g(card_->lock());
    card_->engine().setFault(subsystem, opcode, f);
  }
  void fwClearFaults() {
    std::lock_guard<std::mutex> g(card_->lock());
    card_->engine().clearFaults();
  }

  void TearDown() override {
    if (uplink_ != nullptr) {
      // As the kernel does, whatever the driver is doing.
      if (a_ != nullptr) quiesceIO();
      vmktest::netPollDrain();
      vmktest::uplinkDisassociate(regDataOf(child_), uplink_);
      vmktest::removeDevice(child_);
      uplink_ = nullptr;
    }
    BringupTest::TearDown();
  }

  // The kernel starts the device after the scan; until then the worker's
  // tick stays idle (device quiesced). Tests of the tick start it.
  bool startDevice_ = false;
  adapter::Adapter* card_ = nullptr;
  vmk_Device dev_ = nullptr, child_ = nullptr;
  Adapter* a_ = nullptr;
  vmk_Uplink uplink_ = nullptr;
  vmk_AddrCookie cookie_{};
};

// Every generation, for tables of cases run on each.
inline const std::vector<adapter::Gen>& allGens() {
  static const std::vector<adapter::Gen> g = {adapter::Gen::KS2, adapter::Gen::KS3, adapter::Gen::Pivard,
                                               adapter::Gen::Veskarn};
  return g;
}
