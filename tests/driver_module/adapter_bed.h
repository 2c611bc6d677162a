// Test bed for driver code that works on an Adapter: loads the module into
// the stand-in kernel, plugs a PCI function in and builds the Adapter the way
// the device attach does it (zeroed pool block, identity, PCI name,
// generation, per-adapter debug mask, AdapterFlags with bits 4 and 5, DMA
// engine, BARs per generation, bus mastering). Tests of firmware commands,
// queues or the bytecode interpreter can run on it before the device life
// cycle exists; tearDown() gives everything back.
//
//   AdapterBed bed;
//   ASSERT_TRUE(bed.setUp(&function));      // or setUp(&function, "debugMask=0x10")
//   ... use bed.adapter ...
//   bed.tearDown();                          // then vmktest::live().allZero()
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "hostbus.h"
#include "tamsil.h"
#include "vmk_testing.h"

struct AdapterBed {
  hostbus::Function* fn = nullptr;
  vmk_Device device = nullptr;
  Adapter* adapter = nullptr;
  bool loaded = false;

  // dma32: take the 32-bit DMA engine (as when the 64-bit one is refused).
  bool setUp(hostbus::Function* function, const std::string& options = "", bool dma32 = false) {
    fn = function;
    if (vmktest::loadModule(init_module, options) != 0) return false;
    loaded = true;
    device = vmktest::plugPciFunction(fn);
    vmk_uint64 size = 0;
    adapter = (Adapter*)tamsil_mpoolAlloc(sizeof(Adapter), &size);
    if (adapter == nullptr) return false;
    adapter->alloc_size = size;
    adapter->debug_mask = debugMask;
    adapter->device = device;
    adapter->flags = vmk_BitVectorAlloc(tamsilDriver.heap_id, TAMSIL_FLAG_BITS);
    if (adapter->flags == nullptr) return false;
    vmk_BitVectorAtomicSet(adapter->flags, TAMSIL_FLAG_IO_QUIESCED);
    vmk_BitVectorAtomicSet(adapter->flags, TAMSIL_FLAG_DEV_QUIESCED);
    for (auto& c : adapter->intr_cookie) c = VMK_INVALID_INTRCOOKIE;

    vmk_AddrCookie reg;
    if (vmk_DeviceGetRegistrationData(device, &reg) != VMK_OK) return false;
    adapter->pci_device = (vmk_PCIDevice)reg.ptr;
    vmk_PCIDeviceID id;
    vmk_PCIDeviceAddr addr;
    if (vmk_PCIQueryDeviceID(adapter->pci_device, &id) != VMK_OK) return false;
    if (vmk_PCIQueryDeviceAddr(adapter->pci_device, &addr) != VMK_OK) return false;
    adapter->pci_id = {id.vendorID, id.deviceID, id.subVendorID, id.subDeviceID};
    adapter->pci_addr = {addr.seg, addr.bus, (vmk_uint8)((addr.dev & 0x1F) | (addr.fn << 5))};
    snprintf(adapter->pci_name, sizeof adapter->pci_name, "%04x:%03x:%02x.%x", addr.seg, addr.bus, addr.dev,
             addr.fn);
    adapter->asic_gen = tamsil_asicGeneration(id.deviceID);

    vmk_DMAConstraints c{};
    c.addressMask = dma32 ? VMK_ADDRESS_MASK_32BIT : VMK_ADDRESS_MASK_64BIT;
    vmk_DMAEngineProps p{};
    vmk_NameInitialize(&p.name, TAMSIL_DRIVER_NAME);
    p.module = tamsilDriver.module_id;
    p.flags = VMK_DMA_ENGINE_FLAGS_COHERENT;
    p.device = device;
    p.constraints = &c;
    if (vmk_DMAEngineCreate(&p, &adapter->dma_engine) != VMK_OK) return false;
    if (!dma32) adapter->features |= TAMSIL_FEAT_DMA64;

    if (adapter->asic_gen & TAMSIL_ASIC_PIVARD) {
      if (!mapBar(0, &adapter->db_va, &adapter->db_bar)) return false;
    } else {
      if (!mapBar(2, &adapter->csr_va, &adapter->csr_bar)) return false;
      if (!mapBar(4, &adapter->db_va, &adapter->db_bar)) return false;
      if (!mapBar((adapter->asic_gen & TAMSIL_ASIC_KS2) ? 1 : 0, &adapter->pcicfg_va, &adapter->pcicfg_bar))
        return false;
    }
    vmk_uint32 cmd = 0;
    if (vmk_PCIReadConfig(tamsilDriver.module_id, adapter->pci_device, VMK_PCI_CONFIG_ACCESS_16, 4, &cmd) == VMK_OK &&
        !(cmd & 0x4))
      vmk_PCIWriteConfig(tamsilDriver.module_id, adapter->pci_device, VMK_PCI_CONFIG_ACCESS_16, 4, cmd | 0x4);
    return true;
  }

  void tearDown() {
    if (adapter != nullptr) {
      for (tamsil_barMap* b : {&adapter->csr_bar, &adapter->db_bar, &adapter->pcicfg_bar})
        if (b->va != nullptr && *b->va != nullptr) {
          vmk_PCIUnmapIOResource(tamsilDriver.module_id, adapter->pci_device, b->bar);
          *b->va = nullptr;
        }
      if (adapter->dma_engine) vmk_DMAEngineDestroy(adapter->dma_engine);
      if (adapter->flags) vmk_BitVectorFree(tamsilDriver.heap_id, adapter->flags);
      tamsil_mpoolFree(adapter, adapter->alloc_size);
      adapter = nullptr;
    }
    if (device) vmktest::unplugPciFunction(device);
    device = nullptr;
    if (loaded) vmktest::unloadModule(cleanup_module);
    loaded = false;
  }

 private:
  bool mapBar(vmk_uint8 bar, void** va, tamsil_barMap* rec) {
    if (fn->barSize(bar) == 0) return true;  // the function does not offer it
    vmk_VA mapped = 0;
    if (vmk_PCIMapIOResource(tamsilDriver.module_id, adapter->pci_device, bar, nullptr, &mapped) != VMK_OK)
      return false;
    *va = (void*)mapped;
    rec->va = va;
    rec->bar = bar;
    return true;
  }
};
