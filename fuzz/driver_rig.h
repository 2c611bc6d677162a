// What the driver's fuzz targets share: an emulated adapter plugged into the
// kernel stand-in and the driver's control path brought up on it as attach
// does (mailbox, firmware init, event queue, MCC completion queue, MCC
// queue), built anew for each input and taken down after it, when every
// kernel object must have been given back.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "adapter.h"
#include "adapter_bed.h"
#include "tamsil.h"

namespace fuzzdrv {

class Rig {
 public:
  // poller: drain MCC completions on a thread of their own, as the MCC
  // completion world does (a sleeping command needs it).
  Rig(adapter::Gen gen, bool poller);
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // Ends the background draining (the caller drains from then on).
  void stopPoller();

  Adapter* a = nullptr;
  std::unique_ptr<adapter::Adapter> card;

 private:
  bool up();
  void down();
  bool allocRing(QueueInfo* q, uint16_t entries, uint16_t size);
  void freeRing(QueueInfo* q);

  AdapterBed bed_;
  QueueInfo eq_{};
  bool poll_;
  std::thread poller_;
  std::atomic<bool> stop_{false};
};

adapter::Gen genOf(uint8_t selector);

}  // namespace fuzzdrv
