// What the driver's fuzz targets share: the command layer's test rig (an
// emulated adapter plugged into the kernel stand-in and the driver's control
// path brought up on it as attach does), with doorbells served inside the
// write so that an input replays exactly. Taken down, every kernel object
// must have been given back.
//
// Bringing it up costs far more than one input, so one rig serves the
// inputs of a process until one leaves the card in error or the channel
// dead; then it is taken down and built anew. The generation comes from
// TAMSIL_FUZZ_GEN (KS2, KS3, Pivard, Veskarn; KS3 when unset): replay a
// saved input with the same setting.
#pragma once

#include <string>

#include "rig.h"

namespace fuzzdrv {

// The rig for the next input: the one of the last input while it is still
// usable, else a new one (poller: MCC completions drained in the background,
// as the MCC completion world does; `fresh` runs on each new rig first).
cmdtest::Rig& sharedRig(bool poller, void (*fresh)(Adapter*) = nullptr);

// What the kernel stand-in holds, to compare before and after an input.
std::string liveObjects();

}  // namespace fuzzdrv
