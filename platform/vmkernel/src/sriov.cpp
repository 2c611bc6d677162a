// SR-IOV virtual functions as the PCI layer offers them to a PF driver: the
// VF devices of an enabled PF, their registration by the PF's driver, their
// private data (the PF driver's VF configuration callback), and the kernel's
// configuration requests, which the test controls play.
#include <map>
#include <mutex>
#include <vector>

#include "internal.h"
#include "net_internal.h"
#include "vmk_uplink_testing.h"

namespace vmknet {
std::atomic<long> vfDevices{0};
}  // namespace vmknet

namespace {

struct VfSlot {
  vmk_PCIDevice dev = nullptr;
  bool registered = false;
  vmk_PCIDevice pf = nullptr;
  vmk_Driver driver = nullptr;
  vmk_PCIVFDeviceOps ops{};
  vmk_AddrCookie priv{};
};

// VF objects by PF, made when the driver first asks for one. A VF device
// still registered when its PF's VFs go away stays here (counted as live).
std::mutex vfLock;
std::map<vmk_PCIDevice, std::vector<VfSlot>> vfSlots;  // vfLock

VfSlot* slotOfLocked(vmk_PCIDevice vf) {
  for (auto& [pf, slots] : vfSlots)
    for (auto& s : slots)
      if (s.dev == vf && vf != nullptr) return &s;
  return nullptr;
}

}  // namespace

using namespace vmknet;

VMK_ReturnStatus vmk_PCIGetVFPCIDevice(vmk_PCIDevice pf, vmk_uint16 vfIndex, vmk_PCIDevice* vf) {
  VMK_FAULT_RETURN("vmk_PCIGetVFPCIDevice");
  if (pf == nullptr || vf == nullptr) return VMK_BAD_PARAM;
  unsigned enabled = vmktest::enabledVfs(pf);
  if (vfIndex >= enabled) return VMK_NOT_FOUND;
  std::lock_guard<std::mutex> g(vfLock);
  auto& slots = vfSlots[pf];
  if (slots.size() < enabled) slots.resize(enabled);
  if (slots[vfIndex].dev == nullptr) slots[vfIndex].dev = newVfPciDevice();
  *vf = slots[vfIndex].dev;
  return VMK_OK;
}

VMK_ReturnStatus vmk_PCIRegisterVF(vmk_PCIDevice vf, vmk_PCIDevice pf, vmk_Driver driver,
                                   const vmk_PCIVFDeviceOps* ops) {
  VMK_FAULT_RETURN("vmk_PCIRegisterVF");
  if (vf == nullptr || pf == nullptr || ops == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(vfLock);
  VfSlot* s = slotOfLocked(vf);
  if (s == nullptr) return VMK_INVALID_HANDLE;
  if (s->registered) return VMK_EXISTS;
  s->registered = true;
  s->pf = pf;
  s->driver = driver;
  s->ops = *ops;
  s->priv.ptr = nullptr;
  vfDevices++;
  return VMK_OK;
}

VMK_ReturnStatus vmk_PCIUnregisterVF(vmk_PCIDevice vf) {
  VMK_FAULT_RETURN("vmk_PCIUnregisterVF");
  std::lock_guard<std::mutex> g(vfLock);
  VfSlot* s = slotOfLocked(vf);
  if (s == nullptr || !s->registered) return VMK_INVALID_HANDLE;
  s->registered = false;
  s->priv.ptr = nullptr;
  vfDevices--;
  return VMK_OK;
}

VMK_ReturnStatus vmk_PCISetVFPrivateData(vmk_PCIDevice vf, vmk_AddrCookie data) {
  VMK_FAULT_RETURN("vmk_PCISetVFPrivateData");
  std::lock_guard<std::mutex> g(vfLock);
  VfSlot* s = slotOfLocked(vf);
  if (s == nullptr || !s->registered) return VMK_INVALID_HANDLE;
  s->priv = data;
  return VMK_OK;
}

namespace vmknet {

void vfDevicesRemove(vmk_PCIDevice pf) {
  std::vector<std::pair<vmk_PCIDevice, VMK_ReturnStatus (*)(vmk_PCIDevice)>> toRemove;
  {
    std::lock_guard<std::mutex> g(vfLock);
    auto it = vfSlots.find(pf);
    if (it == vfSlots.end()) return;
    for (auto& s : it->second)
      if (s.registered && s.ops.removeVF != nullptr) toRemove.emplace_back(s.dev, s.ops.removeVF);
  }
  // The driver's remove operation unregisters: no kernel lock held.
  for (auto& [dev, remove] : toRemove) remove(dev);
  std::lock_guard<std::mutex> g(vfLock);
  auto it = vfSlots.find(pf);
  if (it == vfSlots.end()) return;
  bool kept = false;
  for (auto& s : it->second) {
    if (s.registered) {
      kept = true;
    } else if (s.dev != nullptr) {
      deleteVfPciDevice(s.dev);
      s.dev = nullptr;
    }
  }
  if (!kept) vfSlots.erase(it);
}

}  // namespace vmknet

namespace vmktest {

unsigned registeredVfs(vmk_PCIDevice pf) {
  std::lock_guard<std::mutex> g(vfLock);
  auto it = vfSlots.find(pf);
  if (it == vfSlots.end()) return 0;
  unsigned n = 0;
  for (auto& s : it->second)
    if (s.registered) n++;
  return n;
}

VMK_ReturnStatus vfConfigRequest(vmk_PCIDevice pf, uint16_t vfIndex, uint32_t op, void* params) {
  vmk_PCIVFConfigCallback cb = nullptr;
  {
    std::lock_guard<std::mutex> g(vfLock);
    auto it = vfSlots.find(pf);
    if (it == vfSlots.end() || vfIndex >= it->second.size()) return VMK_NOT_FOUND;
    const VfSlot& s = it->second[vfIndex];
    if (!s.registered || s.priv.ptr == nullptr) return VMK_NOT_FOUND;
    cb = reinterpret_cast<vmk_PCIVFConfigCallback>(s.priv.ptr);
  }
  return cb(pfDriverData(pf), op, params);
}

}  // namespace vmktest
