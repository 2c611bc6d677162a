// SR-IOV: the endpoint of each virtual function, as the firmware holds it
// from the commands its physical function's driver sent in the VF's domain.
#include <algorithm>

#include "fw_engine.h"
#include "fw_state.h"

namespace adapter {

namespace {

const InterfaceObj* domainInterface(const Engine& fw, unsigned fn, uint8_t domain) {
  for (const InterfaceObj* i : fw.interfaces(fn)) {
    if (i->domain == domain) return i;
  }
  return nullptr;
}

}  // namespace

Engine::VfEndpoint Engine::vfEndpoint(unsigned fn, uint8_t domain) {
  VfEndpoint e;
  const InterfaceObj* i = domain != 0 ? domainInterface(*this, fn, domain) : nullptr;
  if (i == nullptr) return e;
  e.present = true;
  e.if_id = i->id;
  e.cap_flags = i->cap_flags;
  e.en_flags = i->en_flags;
  e.vlans = i->vlans;
  e.delivered_frames = i->endpoint_frames;
  for (const MacFilter& m : macFilters(static_cast<int>(fn))) {
    if (m.if_id == i->id) e.macs.push_back(m.mac);
  }
  for (const auto& m : macList(fn, domain)) e.macs.push_back(m);
  e.pvid = hswPvid(fn, domain);
  e.qos_bandwidth = qosBandwidth(fn, domain);
  e.logical_link = logicalLinkWord(fn, domain);
  e.privileges = fnPrivileges(fn, domain);
  return e;
}

std::vector<uint8_t> Engine::vfDomains(unsigned fn) const {
  std::vector<uint8_t> d;
  for (const InterfaceObj* i : interfaces(fn)) {
    if (i->domain != 0) d.push_back(i->domain);
  }
  std::sort(d.begin(), d.end());
  return d;
}

InterfaceObj* Engine::vfInterfaceForMac(unsigned port, const uint8_t* mac) {
  auto same = [&](const std::array<uint8_t, 6>& m) { return std::equal(m.begin(), m.end(), mac); };
  for (unsigned fn = 0; fn < functions(); ++fn) {
    if (portOfFunction(fn) != port) continue;
    for (const MacFilter& m : macFilters(static_cast<int>(fn))) {
      if (m.domain == 0 || !same(m.mac)) continue;
      InterfaceObj* i = interfaceMut(m.if_id);
      if (i != nullptr && i->domain != 0) return i;
    }
    for (const auto& [domain, list] : fnState(fn).mac_lists) {
      if (domain == 0 || std::none_of(list.begin(), list.end(), same)) continue;
      const InterfaceObj* i = domainInterface(*this, fn, domain);
      if (i != nullptr) return interfaceMut(i->id);
    }
  }
  return nullptr;
}

}  // namespace adapter
