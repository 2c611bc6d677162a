// What the driver's fuzz targets share: an emulated adapter plugged into the
// kernel stand-in and the driver's control path brought up on it as attach
// does (mailbox, firmware init, event queue, MCC completion queue, MCC
// queue). Taken down, every kernel object must have been given back.
//
// Bringing it up costs far more than one input, so one rig serves the
// inputs of a process until one leaves the card in error or the channel
// dead; then it is taken down and built anew. The generation comes from
// TAMSIL_FUZZ_GEN (KS2, KS3, Pivard, Veskarn; KS3 when unset): replay a
// saved input with the same setting.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
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

// The rig for the next input: the one of the last input while it is still
// usable, else a new one.
// `fresh` runs on each new rig before its first input.
Rig& sharedRig(bool poller, void (*fresh)(Adapter*) = nullptr);
// What the kernel stand-in holds, to compare before and after an input.
std::string liveObjects();

}  // namespace fuzzdrv
