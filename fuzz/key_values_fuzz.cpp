// The uplink's key-value keys as user space writes and reads them: any text
// (embedded NULs, no terminator within the driver's 63 characters, numbers
// out of every range) set to every key, and gets in between, on an uplink
// with I/O started, four VFs and the TPE keys.
//
// Input: records of a control byte, a length byte n and n text bytes (fewer
// when the input ends). Control bits 0-2 name the key (Q_IDs, VF_Link_State,
// FirmwareDump, TpeTsDrvrLoad, TpeTsLastRecovery, TpeRecoverySummary; 6 and
// 7 the first two again); bit 7 reads the key instead of setting it.
// After every record: no request is left counted in flight, the TPE minutes
// are within their ranges, every VF's recorded link state is 0, 1 or 2 and
// (where VF link states can change) the VF's logical link in the firmware
// agrees with it.
//
// One uplink serves every input of a process; at its exit I/O is quiesced,
// the adapter taken down, and nothing may be left in the kernel.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "tamsil_gen.h"
#include "uplink_rig.h"

namespace {

using fuzzdrv::fail;

const char* const kKeys[8] = {"Q_IDs",         "VF_Link_State",      "FirmwareDump", "TpeTsDrvrLoad",
                              "TpeTsLastRecovery", "TpeRecoverySummary", "Q_IDs",        "VF_Link_State"};

// Kalderstone 2 firmware without a profile: one channel, so VFs.
void singleChannel(adapter::AdapterConfig* cfg) {
  if (cfg->fw.gen == adapter::Gen::KS2) cfg->fw.fw_caps = 0;
}

struct KeyRig : fuzzdrv::UplinkRig {
  KeyRig() : UplinkRig("tpe_recovery=1 max_vfs=4", singleChannel) {
    if (ops().uplinkStartIO(cookie) != VMK_OK) fail("I/O did not start");
    if (a->num_vfs != 4) fail("the VFs were not enabled");
  }
  void end() {
    fuzzdrv::fastClock();
    if (ops().uplinkQuiesceIO(cookie) != VMK_OK) fail("I/O did not quiesce");
    down();
  }
};

KeyRig& rig() { return fuzzdrv::processRig<KeyRig>(); }

void check(KeyRig& r) {
  const Adapter* a = r.a;
  if (vmk_AtomicRead64(&a->mgmt_in_flight) != 0) fail("a key request stayed counted in flight");
  if (a->tpe_min_after_load < 10 || a->tpe_min_after_load > 1440) fail("minutes after load out of range");
  if (a->tpe_min_between < 10 || a->tpe_min_between > 4320) fail("minutes between recoveries out of range");
  const bool changes = tamsil_hasTrait(a, TAMSIL_GT_VF_LINK_STATE);
  for (vmk_uint32 i = 0; i < a->num_vfs; i++) {
    const vmk_uint8 s = a->sriov.vf_link_state[i];
    if (s > 2) fail("a VF's link state is none of the three");
    if (!changes) continue;
    std::lock_guard<std::mutex> g(r.card->lock());
    const uint32_t word = r.card->engine().vfEndpoint(0, static_cast<uint8_t>(i + 1)).logical_link;
    const uint32_t want = s == 0 ? 0x101u : s == 1 ? 0x1u : 0x0u;
    if (word != want) fail("a VF's logical link disagrees with its recorded state");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KeyRig& r = rig();
  vmktest::clearLog();
  size_t off = 0;
  while (off + 2 <= size) {
    const uint8_t control = data[off];
    size_t n = data[off + 1];
    off += 2;
    if (n > size - off) n = size - off;
    const std::string text(reinterpret_cast<const char*>(data + off), n);
    off += n;
    const char* key = kKeys[control & 7];
    if (control & 0x80) {
      std::string out;
      vmktest::mgmtKeyGet("vmnic1", key, &out);
    } else {
      vmktest::mgmtKeySet("vmnic1", key, text);
    }
    check(r);
  }
  return 0;
}
