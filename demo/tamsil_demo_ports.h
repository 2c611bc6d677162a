// The demo's emulated ports: an adapter attached, associated as an uplink
// and taken down again, as the kernel's device and network layers do it.
#pragma once

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "adapter.h"
#include "frames.h"
#include "tamsil.h"
#include "tamsil_bringup.h"
#include "vmk_pkt_testing.h"
#include "vmk_testing.h"
#include "vmk_uplink_testing.h"

namespace {

struct Port {
  std::unique_ptr<adapter::Adapter> card;
  vmk_Device dev = nullptr, child = nullptr;
  const vmk_UplinkRegData* reg = nullptr;
  Adapter* a = nullptr;
  vmk_Uplink uplink = nullptr;
  vmk_AddrCookie cookie{};
};

inline bool bringUp(Port& p, adapter::Gen g, int n) {
  adapter::AdapterConfig cfg;
  cfg.fw.gen = g;
  cfg.fw.functions = 1;
  cfg.bus = static_cast<uint8_t>(8 + n);
  cfg.fw.base_mac[4] = static_cast<uint8_t>(0x10 + n);
  p.card = std::make_unique<adapter::Adapter>(cfg);
  p.dev = vmktest::plugPciFunction(p.card->function(0));
  if (vmktest::attachDevice(p.dev) != VMK_OK || vmktest::scanDevice(p.dev) != VMK_OK) return false;
  std::vector<vmk_Device> kids = vmktest::childDevices(p.dev);
  if (kids.size() != 1) return false;
  p.child = kids[0];
  p.reg = static_cast<const vmk_UplinkRegData*>(vmktest::deviceRegistrationData(p.child).ptr);
  vmk_DeviceGetAttachedDriverData(p.dev, &p.cookie);
  p.a = static_cast<Adapter*>(p.cookie.ptr);
  std::string name = "vmnic" + std::to_string(10 + n);
  return vmktest::uplinkAssociate(p.reg, name, &p.uplink) == VMK_OK;
}

inline void takeDown(Port& p) {
  if (p.uplink != nullptr) {
    p.reg->ops.uplinkQuiesceIO(p.cookie);
    vmktest::netPollDrain();
    vmktest::uplinkDisassociate(p.reg, p.uplink);
    vmktest::removeDevice(p.child);
  }
  if (p.dev != nullptr) vmktest::unplugPciFunction(p.dev);
}

// Each adapter serves doorbells on its own thread: wait until the device
// has taken the buffers start I/O posted on every ring, or frames the other
// port sends at once would find none.
inline bool deviceHoldsBuffers(const Port& p) {
  for (int tries = 0; tries < 5000; ++tries) {
    bool all = true;
    for (vmk_uint32 i = 0; i < p.a->num_vectors && i < TAMSIL_MAX_VECTORS; ++i)
      if (p.a->rxo[i].rxq.created && p.card->rxPosted(0, p.a->rxo[i].rxq.id) == 0) all = false;
    if (all) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

inline netframes::Mac macOf(const Port& p) {
  netframes::Mac m;
  std::copy(p.a->uplink_reg.perm_mac, p.a->uplink_reg.perm_mac + 6, m.begin());
  return m;
}

}  // namespace
