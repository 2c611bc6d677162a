// Test rig of the command layer: an emulated adapter plugged into the
// kernel stand-in, an Adapter record prepared as attach would (the module
// tests' AdapterBed), and the
// control path (mailbox, firmware init, event queue, MCC completion queue,
// MCC queue) brought up with the driver's own builders.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "adapter.h"
#include "../driver_module/adapter_bed.h"
#include "tamsil.h"
#include "tamsil_cmds.h"
#include "vmk_testing.h"

namespace cmdtest {

struct RigOptions {
  adapter::Gen gen = adapter::Gen::KS3;
  bool mcc = true;         // create the MCC queue
  bool poller = true;      // drain MCC completions in the background
  double clock_rate = 250.0;  // a 36 s command wait is 144 ms: room for a loaded machine
  unsigned poll_interval_us = 100;  // 0: the poller only yields between drains
  // Changes to the emulated card before it is built.
  std::function<void(adapter::AdapterConfig&)> card_config;
};

class Rig {
 public:
  explicit Rig(const RigOptions& o);
  ~Rig();

  // Brings the control path up; false (with a gtest failure) when a step
  // failed.
  bool up();
  void down();

  Adapter* a = nullptr;
  std::unique_ptr<adapter::Adapter> card;
  vmk_Device dev = nullptr;
  QueueInfo eq{};
  RigOptions opt;

  // The firmware, under the device lock.
  template <typename F>
  auto fw(F f) {
    std::lock_guard<std::mutex> g(card->lock());
    return f(card->engine());
  }
  // Last request of (sub, opcode) as the firmware received it.
  std::vector<uint8_t> lastRequest(uint8_t sub, uint8_t op);
  unsigned seen(uint8_t sub, uint8_t op);
  void setFault(uint8_t sub, uint8_t op, const adapter::Fault& f);
  void clearFaults();

  // Background draining of MCC completions (the MCC completion world's job).
  // Once it returns with false, no poll is under way and none starts.
  void pollerOn(bool on) {
    std::lock_guard<std::mutex> g(poll_mu_);
    polling_ = on;
  }

  bool allocRing(QueueInfo* q, uint16_t entries, uint16_t size);
  void freeRing(QueueInfo* q);

 private:
  AdapterBed bed_;
  std::thread poller_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> polling_{false};
  std::mutex poll_mu_;  // held by the poller around each poll
};

// Payload byte helpers over a raw request.
inline uint8_t rq8(const std::vector<uint8_t>& r, size_t p) { return r.at(16 + p); }
inline uint16_t rq16(const std::vector<uint8_t>& r, size_t p) {
  return static_cast<uint16_t>(r.at(16 + p) | (r.at(17 + p) << 8));
}
inline uint32_t rq32(const std::vector<uint8_t>& r, size_t p) {
  return static_cast<uint32_t>(r.at(16 + p)) | (static_cast<uint32_t>(r.at(17 + p)) << 8) |
         (static_cast<uint32_t>(r.at(18 + p)) << 16) | (static_cast<uint32_t>(r.at(19 + p)) << 24);
}

uint32_t asicBit(adapter::Gen g);

// The generations a per-generation suite runs on, and its test names.
inline constexpr adapter::Gen kAllGens[] = {adapter::Gen::KS2, adapter::Gen::KS3, adapter::Gen::Pivard,
                                            adapter::Gen::Veskarn};
inline std::string genParamName(const testing::TestParamInfo<adapter::Gen>& i) { return adapter::genName(i.param); }

// Fixture of the per-generation suites: a rig of the test's generation.
class GenRigTest : public testing::TestWithParam<adapter::Gen> {
 protected:
  // Brings the rig up with `o` (of the test's generation); with
  // `queryConfig` also reads the firmware configuration and the controller
  // attributes, as attach does before it uses the adapter.
  void bringUp(RigOptions o = {}, bool queryConfig = false) {
    o.gen = GetParam();
    rig = std::make_unique<Rig>(o);
    ASSERT_TRUE(rig->up());
    a = rig->a;
    if (!queryConfig) return;
    ASSERT_EQ(0u, tamsil_cmdQueryFwCfg(a));
    ASSERT_EQ(0u, tamsil_cmdGetCntlAttributes(a));
  }
  void TearDown() override { rig.reset(); }

  std::unique_ptr<Rig> rig;
  Adapter* a = nullptr;
};

}  // namespace cmdtest
