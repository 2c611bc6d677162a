// Requests from user space through the management channel: any callback id,
// cookie, header (name, operation, length) and parameter bytes, handed to the
// driver the way the kernel's transport does (parameters of the declared
// sizes), with firmware refusals in between.
//
// Input: records of a 12-byte head and up to 256 parameter bytes.
//   b0  callback id 16 + b0 % 19 (b0 >= 0xF0: an id the channel lacks)
//   b1  bit 0: the name is the attached function's, else b4-b11 and the
//       parameter's first 8 bytes give 16 raw name bytes; bit 1: another
//       cookie (the callback called directly); bit 2: no header; bit 3: no
//       parameter; bit 4: the firmware refuses the next command; bits 5-7:
//       the device is quiesced for this request
//   b2  number of parameter bytes that follow (the rest of the declared
//       parameter stays zero)
//   b3  reserved
//   b4-b7 operation, b8-b11 length (header words)
// For callback 30 the first 8 parameter bytes are also its offset and length
// words (after the 64000-byte data area).
// Pass-through requests (18) are held to a few harmless commands: the
// command set itself is fuzz_passthrough's.
// After every record no request is left in flight, the debug mask is put
// back, and the adapter answers a plain request.
//
// One adapter, attached, started and associated, serves every input of a
// process; at its exit it is detached and nothing may be left.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "adapter.h"
#include "tamsil.h"
#include "tamsil_bringup.h"
#include "tamsil_mgmt.h"
#include "uplink_rig.h"
#include "vmk_testing.h"
#include "vmk_uplink_testing.h"

namespace {

using fuzzdrv::fail;

// Kalderstone 2 firmware without a profile: one channel.
void singleChannel(adapter::AdapterConfig* cfg) {
  if (cfg->fw.gen == adapter::Gen::KS2) cfg->fw.fw_caps = 0;
}

struct MgmtRig : fuzzdrv::UplinkRig {
  MgmtRig() : UplinkRig("", singleChannel) {}
  void end() { down(); }
};

MgmtRig& rig() { return fuzzdrv::processRig<MgmtRig>(); }

const vmk_MgmtCallbackInfo* info(uint64_t id) {
  for (vmk_uint32 i = 0; i < tamsil_mgmtSignature.numCallbacks; i++)
    if (tamsil_mgmtSignature.callbacks[i].callbackId == id) return &tamsil_mgmtSignature.callbacks[i];
  return nullptr;
}

// Firmware requests a pass-through may carry here: version, link query and
// the crash-dump program (run in the driver).
void harmless(std::vector<uint8_t>& p, uint8_t pick) {
  static const uint8_t kOps[3][2] = {{1, 35}, {1, 5}, {11, 24}};
  p[0] = kOps[pick % 3][1];
  p[1] = kOps[pick % 3][0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MgmtRig& r = rig();
  vmktest::clearLog();
  const vmk_uint32 mask = r.a->debug_mask;
  size_t off = 0;
  while (off + 12 <= size) {
    const uint8_t* b = data + off;
    const size_t n = std::min<size_t>(b[2], size - off - 12);
    const uint8_t* bytes = b + 12;
    off += 12 + n;

    const uint64_t id = b[0] >= 0xF0 ? b[0] : 16 + b[0] % 19;
    const vmk_MgmtCallbackInfo* cb = info(id);
    std::vector<uint8_t> hdr(TAMSIL_MGMT_HEADER_SIZE, 0);
    if (b[1] & 1) {
      memcpy(hdr.data(), r.a->pci_name, strnlen(r.a->pci_name, 15));
    } else {
      memcpy(hdr.data(), b + 4, 8);
      memcpy(hdr.data() + 8, bytes, std::min<size_t>(n, 8));
    }
    memcpy(&hdr[16], b + 4, 4);
    memcpy(&hdr[20], b + 8, 4);
    std::vector<uint8_t> param(cb != nullptr ? cb->parameterSizes[1] : 4, 0);
    memcpy(param.data(), bytes, std::min(n, param.size()));
    // The chunk read's offset and length lie after its data area.
    if (id == TAMSIL_MGMT_FAT_DUMP && n >= 8) memcpy(&param[TAMSIL_MGMT_FAT_DATA], bytes, 8);
    if (id == TAMSIL_MGMT_PASSTHROUGH) harmless(param, b[3]);
    if (b[1] & 0x10) {
      std::lock_guard<std::mutex> g(r.card->lock());
      r.card->engine().setFault(1, b[3] % 2 ? 68 : 171, {.status = 2, .times = 1});
    }
    const bool quiesce = (b[1] & 0xE0) == 0xE0;
    if (quiesce) vmk_BitVectorAtomicSet(r.a->flags, TAMSIL_FLAG_DEV_QUIESCED);
    if (cb != nullptr && (b[1] & 0x0E) != 0) {
      // What the kernel's transport never sends.
      cb->callback((b[1] & 2) ? b[3] | 1u : TAMSIL_MGMT_COOKIE, 0, (b[1] & 4) ? nullptr : hdr.data(),
                   (b[1] & 8) ? nullptr : param.data());
    } else {
      vmktest::mgmtInvoke("tamsilMgmtToKernel", id, hdr.data(), hdr.size(), param.data(), param.size());
    }
    if (quiesce) vmk_BitVectorAtomicClear(r.a->flags, TAMSIL_FLAG_DEV_QUIESCED);
    {
      std::lock_guard<std::mutex> g(r.card->lock());
      r.card->engine().clearFaults();
    }
    r.a->debug_mask = mask;
    if (vmk_AtomicRead64(&r.a->mgmt_in_flight) != 0) fail("a request stayed in flight");
  }
  std::vector<uint8_t> hdr(TAMSIL_MGMT_HEADER_SIZE, 0), state(4);
  memcpy(hdr.data(), r.a->pci_name, strnlen(r.a->pci_name, 15));
  if (vmktest::mgmtInvoke("tamsilMgmtToKernel", TAMSIL_MGMT_LINK_STATE, hdr.data(), hdr.size(), state.data(), 4) !=
      VMK_OK)
    fail("the adapter stopped answering");
  return 0;
}
