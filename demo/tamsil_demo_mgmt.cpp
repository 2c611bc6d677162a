// The demo's management part: a two-function adapter attached as two
// uplinks, and a user-space client asking the driver's management channel
// for its functions, then for one function's driver names and link.
#include <cstdio>
#include <string>
#include <vector>

#include "adapter.h"
#include "tamsil.h"
#include "vmk_mgmt_client.h"
#include "vmk_testing.h"
#include "vmk_uplink_testing.h"

int tamsil_demoMgmt() {
  if (vmktest::loadModule(init_module, "") != 0) {
    printf("   The module refused to load.\n");
    return 1;
  }
  vmktest::setClockRate(1000.0);
  int failures = 0;
  adapter::AdapterConfig cfg = adapter::adapterDefaults(adapter::Gen::Veskarn, 2);
  adapter::Adapter card(cfg);
  struct Fn {
    vmk_Device dev = nullptr, child = nullptr;
    vmk_Uplink uplink = nullptr;
  } fns[2];
  for (unsigned f = 0; f < 2; f++) {
    fns[f].dev = vmktest::plugPciFunction(card.function(f));
    VMK_ReturnStatus st = vmktest::attachDevice(fns[f].dev);
    if (st == VMK_OK) st = vmktest::scanDevice(fns[f].dev);
    if (st == VMK_OK) st = vmktest::startDevice(fns[f].dev);
    std::vector<vmk_Device> kids = vmktest::childDevices(fns[f].dev);
    if (st == VMK_OK && kids.size() == 1) {
      fns[f].child = kids[0];
      auto* reg = static_cast<const vmk_UplinkRegData*>(vmktest::deviceRegistrationData(kids[0]).ptr);
      st = vmktest::uplinkAssociate(reg, "vmnic" + std::to_string(f + 1), &fns[f].uplink);
    }
    if (st != VMK_OK) {
      printf("   Function %u could not be attached (status 0x%x)\n", f, st);
      failures++;
    }
  }

  vmktest::MgmtClient client;
  std::vector<uint8_t> list(38404);
  vmktest::MgmtClient::Reply r = client.call(32, "", &list);
  const uint32_t count = r.result == VMK_OK ? vmktest::MgmtClient::get32(list, 38400) : 0;
  printf("   The client asks for the driver's functions (callback 32): status 0x%x, %u function(s)\n", r.result,
         count);
  for (uint32_t i = 0; i < count && i < 800; i++)
    printf("     %s  %s\n", vmktest::MgmtClient::text(list, 48 * i, 16).c_str(),
           vmktest::MgmtClient::text(list, 48 * i + 16, 32).c_str());
  if (count != 2) failures++;

  if (count > 0) {
    const std::string name = vmktest::MgmtClient::text(list, 0, 16);
    std::vector<uint8_t> names(192), link(167);
    r = client.call(22, name, &names);
    if (r.result == VMK_OK) {
      printf("   Driver information of %s (callback 22): driver %s %s, firmware %s, type %s\n", name.c_str(),
             vmktest::MgmtClient::text(names, 0, 32).c_str(), vmktest::MgmtClient::text(names, 32, 32).c_str(),
             vmktest::MgmtClient::text(names, 64, 32).c_str(), vmktest::MgmtClient::text(names, 96, 32).c_str());
    } else {
      printf("   Driver information of %s failed: 0x%x\n", name.c_str(), r.result);
      failures++;
    }
    r = client.call(21, name, &link);
    if (r.result == VMK_OK) {
      const uint32_t modes = vmktest::MgmtClient::get32(link, 136);
      printf("   Link status of %s (callback 21): %u Mbps, duplex %u, port %u, %u supported mode(s):", name.c_str(),
             vmktest::MgmtClient::get32(link, 0), vmktest::MgmtClient::get32(link, 4), link[140], modes);
      for (uint32_t m = 0; m < modes && m < 16; m++) {
        const uint32_t speed = vmktest::MgmtClient::get32(link, 8 + 8 * m);
        // Speed 0 with duplex 0xFFFFFFFF: the port auto-negotiates.
        if (speed == 0 && vmktest::MgmtClient::get32(link, 12 + 8 * m) == 0xFFFFFFFFu)
          printf(" auto-negotiation");
        else
          printf(" %u", speed);
      }
      printf("%s\n", vmktest::MgmtClient::get32(link, 0) == 0 ? " (no speed until I/O starts)" : "");
    } else {
      printf("   Link status of %s failed: 0x%x\n", name.c_str(), r.result);
      failures++;
    }
  }
  std::vector<uint8_t> none(192);
  r = client.call(22, "0000:0ff:00.0", &none);
  printf("   A name no function has answers 0x%x (not found), header status 0x%x\n", r.result, r.status);

  vmktest::netPollDrain();
  for (Fn& f : fns) {
    if (f.uplink != nullptr) {
      auto* reg = static_cast<const vmk_UplinkRegData*>(vmktest::deviceRegistrationData(f.child).ptr);
      vmktest::uplinkDisassociate(reg, f.uplink);
    }
    if (f.child != nullptr) vmktest::removeDevice(f.child);
    vmktest::quiesceDevice(f.dev);
    vmktest::detachDevice(f.dev);
    vmktest::unplugPciFunction(f.dev);
  }
  if (card.engine().countLive() != 0) {
    printf("   The adapter's firmware still holds objects\n");
    failures++;
  }
  vmktest::unloadModule(cleanup_module);
  vmktest::setClockRate(1.0);
  return failures;
}
