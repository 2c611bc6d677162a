// The kernel's configuration requests for the SR-IOV virtual functions of a
// PF (its VF configuration callback): any operation code, VF index, MAC,
// VLAN id, enable flag and priority, with firmware refusals in between.
//
// Input: records of 12 bytes.
//   b0  bits 0-1 the request (0 statistics, 1 set MAC, 2 receive mode,
//       3 default VLAN); bit 7 set: b0 itself is the operation code;
//       bit 6 set: the firmware refuses the next command of the kind
//       b11 % 5 names (PMAC add, PMAC delete, MAC list, switch config,
//       privileges get)
//   b1  VF index of the request (the device it goes through: b1 % 4)
//   b2-b7  MAC (set MAC) / the five receive-mode flags
//   b8  enable, b9-b10 VLAN id, b11 priority (default VLAN)
// After every record: no two VFs with a programmed MAC hold the same one,
// and on Kalderstone each such VF's firmware endpoint holds exactly its MAC.
//
// One adapter with four VFs registered serves every input of a process; at
// its exit the adapter is detached and nothing may be left, in the kernel
// (VF devices included) or in the firmware.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "adapter.h"
#include "tamsil.h"
#include "tamsil_bringup.h"
#include "tamsil_gen.h"
#include "uplink_rig.h"
#include "vmk_testing.h"
#include "vmk_uplink_testing.h"

namespace {

using fuzzdrv::fail;

constexpr unsigned kVfs = 4;

struct VfRig {
  adapter::Adapter* card = nullptr;
  vmk_Device dev = nullptr;
  Adapter* a = nullptr;

  VfRig() {
    vmktest::reset();
    vmktest::netReset();
    fuzzdrv::fastClock();
    if (vmktest::loadModule(init_module, "max_vfs=4") != 0) fail("the module did not load");
    adapter::AdapterConfig cfg;
    cfg.fw.gen = fuzzdrv::genFromEnv();
    // Kalderstone 2 firmware without a profile: one channel, so VFs.
    if (cfg.fw.gen == adapter::Gen::KS2) cfg.fw.fw_caps = 0;
    cfg.mode = adapter::Mode::Sync;
    card = new adapter::Adapter(cfg);
    dev = vmktest::plugPciFunction(card->function(0));
    if (vmktest::attachDevice(dev) != VMK_OK || vmktest::scanDevice(dev) != VMK_OK) fail("the adapter did not come up");
    vmk_AddrCookie c;
    c.ptr = nullptr;
    if (vmk_DeviceGetAttachedDriverData(dev, &c) != VMK_OK || c.ptr == nullptr) fail("no driver data");
    a = static_cast<Adapter*>(c.ptr);
    if (vmktest::registeredVfs(a->pci_device) != kVfs) fail("the VFs were not registered");
    // Inputs run on the slower clock the uplink rigs use, for the same
    // reason: the checks below would blame the driver for a MAC the firmware
    // added after a time-out the fast clock made.
    vmktest::setClockRate(fuzzdrv::kInputClockRate);
  }
  void end() {
    fuzzdrv::fastClock();
    for (vmk_Device child : vmktest::childDevices(dev)) vmktest::removeDevice(child);
    vmktest::unplugPciFunction(dev);
    vmktest::unloadModule(cleanup_module);
    const vmktest::Live l = vmktest::live();
    const vmktest::NetLive n = vmktest::netLive();
    if (!l.allZero() || !n.allZero()) {
      fprintf(stderr, "kernel objects left after detach: %s%s\n", l.describe().c_str(), n.describe().c_str());
      abort();
    }
    if (card->engine().countLive() != 0) fail("firmware objects left after detach");
    delete card;
    card = nullptr;
  }
};

VfRig& rig() { return fuzzdrv::processRig<VfRig>(); }

const uint8_t kFaultOps[5] = {59, 60, 148, 153, 170};

void check(VfRig& r) {
  const Adapter* a = r.a;
  for (uint32_t i = 0; i < a->num_vfs; i++) {
    const VfRecord* v = &a->vf_cfg[i];
    if (v->pmac_id == 0xFFFFFFFFu) continue;
    for (uint32_t j = i + 1; j < a->num_vfs; j++) {
      const VfRecord* w = &a->vf_cfg[j];
      if (w->pmac_id != 0xFFFFFFFFu && memcmp(v->mac, w->mac, 6) == 0) fail("two VFs hold one MAC");
    }
    if (tamsil_hasTrait(a, TAMSIL_GT_MAC_LIST)) continue;
    std::lock_guard<std::mutex> g(r.card->lock());
    adapter::Engine::VfEndpoint e = r.card->engine().vfEndpoint(0, static_cast<uint8_t>(i + 1));
    if (e.macs.size() != 1 || memcmp(e.macs[0].data(), v->mac, 6) != 0) fail("a VF's endpoint lost its MAC");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VfRig& r = rig();
  vmktest::clearLog();
  for (size_t off = 0; off + 12 <= size; off += 12) {
    const uint8_t* b = data + off;
    if (b[0] & 0x40) {
      std::lock_guard<std::mutex> g(r.card->lock());
      r.card->engine().setFault(1, kFaultOps[b[11] % 5], {.status = 1, .times = 1});
    }
    static const uint32_t kOps[4] = {VMK_NETPTOP_VF_GET_STATS, VMK_NETPTOP_VF_SET_MAC, VMK_NETPTOP_VF_SET_RX_MODE,
                                     VMK_NETPTOP_VF_SET_DEFAULT_VLAN};
    const uint32_t op = (b[0] & 0x80) ? b[0] : kOps[b[0] & 3];
    const uint16_t device = b[1] % kVfs;
    vmk_NetVFStatsParms stats{b[1]};
    vmk_NetVFMACParms mac{};
    mac.vfID = b[1];
    memcpy(mac.mac, b + 2, 6);
    vmk_NetVFRXModeParms rx{b[1], b[2], b[3], b[4], b[5], b[6]};
    vmk_NetVFDefaultVLANParms vlan{};
    vlan.vfID = b[1];
    vlan.enable = b[8];
    vlan.vid = static_cast<uint16_t>(b[9] | b[10] << 8);
    vlan.prio = b[11];
    void* params = op == VMK_NETPTOP_VF_SET_MAC           ? static_cast<void*>(&mac)
                   : op == VMK_NETPTOP_VF_SET_RX_MODE     ? static_cast<void*>(&rx)
                   : op == VMK_NETPTOP_VF_SET_DEFAULT_VLAN ? static_cast<void*>(&vlan)
                                                           : static_cast<void*>(&stats);
    vmktest::vfConfigRequest(r.a->pci_device, device, op, params);
    {
      std::lock_guard<std::mutex> g(r.card->lock());
      r.card->engine().clearFaults();
    }
    check(r);
  }
  return 0;
}
