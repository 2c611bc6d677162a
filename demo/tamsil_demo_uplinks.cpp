// The demo's second half: one emulated adapter of each generation attached,
// shown as an uplink, and detached again.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "adapter.h"
#include "tamsil.h"
#include "tamsil_bringup.h"
#include "vmk_testing.h"
#include "vmk_uplink_testing.h"

int tamsil_demoUplinks() {
  const adapter::Gen gens[] = {adapter::Gen::KS2, adapter::Gen::KS3, adapter::Gen::Pivard, adapter::Gen::Veskarn};
  if (vmktest::loadModule(init_module, "") != 0) {
    printf("   The module refused to load.\n");
    return 1;
  }
  vmktest::setClockRate(1000.0);
  int failures = 0;
  int n = 0;
  for (adapter::Gen g : gens) {
    adapter::AdapterConfig cfg;
    cfg.fw.gen = g;
    cfg.fw.functions = 1;
    cfg.bus = (uint8_t)(3 + n);
    cfg.fw.base_mac[4] = (uint8_t)(n + 1);
    adapter::Adapter card(cfg);
    vmk_Device dev = vmktest::plugPciFunction(card.function(0));
    VMK_ReturnStatus st = vmktest::attachDevice(dev);
    if (st == VMK_OK) st = vmktest::scanDevice(dev);
    std::vector<vmk_Device> kids = vmktest::childDevices(dev);
    vmk_Uplink uplink = nullptr;
    std::string name = "vmnic" + std::to_string(n);
    if (st == VMK_OK && kids.size() == 1) {
      auto* reg = static_cast<const vmk_UplinkRegData*>(vmktest::deviceRegistrationData(kids[0]).ptr);
      st = vmktest::uplinkAssociate(reg, name, &uplink);
      vmk_AddrCookie c;
      vmk_DeviceGetAttachedDriverData(dev, &c);
      const Adapter* a = static_cast<const Adapter*>(c.ptr);
      const vmk_uint8* m = a->uplink_reg.perm_mac;
      printf("   %-7s %s at %s: MAC %02x:%02x:%02x:%02x:%02x:%02x, link %s, %u vectors (%s), "
             "receive queues %u, transmit queues %u, RSS rings %u, DRSS rings %u, firmware %s\n",
             adapter::genName(g), name.c_str(), a->pci_name, m[0], m[1], m[2], m[3], m[4], m[5],
             a->shared_data.link.state ? "up" : "down (I/O not started)", a->num_vectors,
             a->msix_enabled ? "MSI-X" : "INTx", a->queue_info.maxRxQueues, a->queue_info.maxTxQueues,
             a->res.max_rss_qs, a->res.max_drss_qs, a->fw_version);
      vmktest::uplinkDisassociate(reg, uplink);
      vmktest::removeDevice(kids[0]);
    } else {
      printf("   %-7s could not be attached (status 0x%x)\n", adapter::genName(g), st);
      failures++;
    }
    vmktest::quiesceDevice(dev);
    vmktest::detachDevice(dev);
    vmktest::unplugPciFunction(dev);
    size_t left = card.engine().countLive();
    if (left != 0) {
      printf("   %-7s left %zu firmware objects behind\n", adapter::genName(g), left);
      failures++;
    }
    n++;
  }
  vmktest::netPollDrain();
  vmktest::unloadModule(cleanup_module);
  vmktest::setClockRate(1.0);
  printf("   All four adapters detached; the firmware holds no object of theirs.\n");
  return failures;
}
