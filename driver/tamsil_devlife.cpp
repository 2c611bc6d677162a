// Device life cycle: the driver operations the kernel's device layer calls
// for each PCI function (attach, scan, detach, quiesce, start, forget), the
// PCI resources of the function (BARs, bus mastering, DMA engine) and its
// interrupt cookies and handlers.
#include <cstdio>
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_mgmt.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_gen.h"
#include "tamsil_ue.h"

static void stopWorld(vmk_WorldID* world) {
  if (*world != VMK_INVALID_WORLD_ID) {
    vmk_WorldDestroy(*world);
    vmk_WorldWaitForDeath(*world);
    *world = VMK_INVALID_WORLD_ID;
  }
}

const vmk_DriverOps tamsilDrvOps = {
    tamsil_attachDevice, tamsil_scanDevice,  tamsil_detachDevice,
    tamsil_quiesceDevice, tamsil_startDevice, tamsil_forgetDevice,
};

static const vmk_DeviceOps tamsilUplinkDeviceOps = {tamsil_removeUplinkDevice};

VMK_ReturnStatus tamsil_driverRegister(void) {
  vmk_DriverProps props;
  memset(&props, 0, sizeof props);
  props.moduleID = tamsilDriver.module_id;
  vmk_NameInitialize(&props.name, TAMSIL_DRIVER_NAME);
  props.ops = &tamsilDrvOps;
  props.privateData.ptr = nullptr;
  return vmk_DriverRegister(&props, &tamsilDriver.driver_handle);
}

vmk_uint16 tamsil_getRoceVecShare(Adapter*, vmk_uint16) { return 0; }

const char* tamsil_asicRevName(vmk_uint8 r, char out[3]) {
  if (r <= 50 && r % 16 <= 2) {
    out[0] = (char)('A' + r / 16);
    out[1] = (char)('0' + r % 16);
    out[2] = '\0';
  } else {
    out[0] = ' ';
    out[1] = '\0';
  }
  return out;
}

/* ------------------------------------------------------------------------ */
/* PCI resources                                                             */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_mapResource(Adapter* a, vmk_uint8 bar, tamsil_barMap* rec, void** field) {
  vmk_VA va = 0;
  VMK_ReturnStatus st = vmk_PCIMapIOResource(tamsilDriver.module_id, a->pci_device, bar, nullptr, &va);
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "Failed to map Bar %d for device\n", bar);
    return st;
  }
  *field = (void*)va;
  rec->va = field;
  rec->bar = bar;
  return VMK_OK;
}

vmk_uint32 tamsil_unmapBars(Adapter* a) {
  struct {
    void** va;
    tamsil_barMap* rec;
  } bars[3] = {{&a->csr_va, &a->csr_bar}, {&a->db_va, &a->db_bar}, {&a->pcicfg_va, &a->pcicfg_bar}};
  for (auto& b : bars) {
    if (*b.va != nullptr) {
      vmk_PCIUnmapIOResource(tamsilDriver.module_id, a->pci_device, b.rec->bar);
      TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Freed Bar %d \n", b.rec->bar);
      *b.va = nullptr;
    }
  }
  return 0;
}

static VMK_ReturnStatus mapBars(Adapter* a) {
  const tamsil_genBars& b = tamsil_traitsOf(a)->bars;
  const struct {
    vmk_int8 bar;
    tamsil_barMap* rec;
    void** va;
  } maps[3] = {{b.csr, &a->csr_bar, &a->csr_va}, {b.db, &a->db_bar, &a->db_va}, {b.pcicfg, &a->pcicfg_bar, &a->pcicfg_va}};
  for (const auto& m : maps) {
    if (m.bar < 0) continue;
    VMK_ReturnStatus st = tamsil_mapResource(a, (vmk_uint8)m.bar, m.rec, m.va);
    if (st != VMK_OK) {
      tamsil_unmapBars(a);
      return st;
    }
  }
  return VMK_OK;
}

static void enableBusMaster(Adapter* a) {
  vmk_uint32 cmd = 0;
  if (vmk_PCIReadConfig(tamsilDriver.module_id, a->pci_device, VMK_PCI_CONFIG_ACCESS_16, 4, &cmd) != VMK_OK) {
    tamsil_logLine(VMK_LOG_URGENCY_ALERT, TAMSIL_LOG_LEVEL_ERR, true, a, "tamsil_enableBusMaster", __LINE__,
                   "Unable to read PCI Config for PCI_COMMAND offset\n");
    return;
  }
  if (!(cmd & 0x4)) vmk_PCIWriteConfig(tamsilDriver.module_id, a->pci_device, VMK_PCI_CONFIG_ACCESS_16, 4, cmd | 0x4);
}

static VMK_ReturnStatus dmaEngineCreate(Adapter* a) {
  vmk_DMAConstraints c;
  memset(&c, 0, sizeof c);
  c.addressMask = VMK_ADDRESS_MASK_64BIT;
  vmk_DMAEngineProps p;
  memset(&p, 0, sizeof p);
  vmk_NameInitialize(&p.name, TAMSIL_DRIVER_NAME);
  p.module = tamsilDriver.module_id;
  p.flags = VMK_DMA_ENGINE_FLAGS_COHERENT;
  p.device = a->device;
  p.constraints = &c;
  VMK_ReturnStatus st = vmk_DMAEngineCreate(&p, &a->dma_engine);
  if (st == VMK_OK) {
    a->features |= TAMSIL_FEAT_DMA64;
    return st;
  }
  c.addressMask = VMK_ADDRESS_MASK_32BIT;
  st = vmk_DMAEngineCreate(&p, &a->dma_engine);
  if (st != VMK_OK) {
    a->dma_engine = VMK_DMA_ENGINE_INVALID;
    TAMSIL_ERR(a, "DMA Engine create failed\n");
  }
  return st;
}

/* ------------------------------------------------------------------------ */
/* Interrupt cookies and handlers                                            */
/* ------------------------------------------------------------------------ */

static void cookiesFree(Adapter* a, vmk_uint32 n) {
  for (vmk_uint32 i = 0; i < n && i < TAMSIL_MAX_VECTORS; i++) a->intr_cookie[i] = VMK_INVALID_INTRCOOKIE;
}

VMK_ReturnStatus tamsil_msixEnable(Adapter* a) {
  vmk_uint32 nic = tamsil_getMaxKernelAllowedQueues(a, a->res.max_evt_qs);
  vmk_uint32 roce = 0;
  if (tamsil_hasTrait(a, TAMSIL_GT_ROCE_VECTORS) && (a->fw_caps & 0x4) && a->res.max_evt_qs_total > a->res.max_evt_qs)
    roce = tamsil_getMaxKernelAllowedQueues(a, a->res.max_evt_qs_total - a->res.max_evt_qs);
  // The cookie table holds TAMSIL_MAX_VECTORS entries.
  if (nic > TAMSIL_MAX_VECTORS) nic = TAMSIL_MAX_VECTORS;
  if (nic + roce > TAMSIL_MAX_VECTORS) roce = TAMSIL_MAX_VECTORS - nic;
  if (nic == 0) nic = 1;
  vmk_uint32 got = 0;
  VMK_ReturnStatus st = vmk_PCIAllocIntrCookie(tamsilDriver.module_id, a->pci_device, VMK_PCI_INTERRUPT_TYPE_MSIX,
                                               nic + roce, nic + roce, nullptr, a->intr_cookie, &got);
  if (st == VMK_OK) {
    if (got < 2) {
      a->nic_vectors = got;
      a->roce_vectors = 0;
    } else if (got == nic + roce) {
      a->nic_vectors = nic;
      a->roce_vectors = roce;
    } else {
      a->nic_vectors = got > TAMSIL_MAX_VECTORS ? TAMSIL_MAX_VECTORS : got;
      a->roce_vectors = 0;
    }
    a->msix_enabled = 1;
    TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Alloced %d(Nic: %d, RoCE: %d) vectors for device\n",
               (int)got, (int)a->nic_vectors, (int)a->roce_vectors);
  } else {
    cookiesFree(a, nic + roce);
    TAMSIL_ERR(a, "PCIAllocIntrCookie failed with error 0x%x for %d vectors\n", st, (int)(nic + roce));
    st = vmk_PCIAllocIntrCookie(tamsilDriver.module_id, a->pci_device, VMK_PCI_INTERRUPT_TYPE_MSIX, 1, 1, nullptr,
                                a->intr_cookie, &got);
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "PCIAllocIntrCookie failed for 1 MSIx, using Legacy\n");
      cookiesFree(a, 1);
      return st;
    }
    TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Alloced 1 MSIx vector for device\n");
    a->nic_vectors = 1;
    a->roce_vectors = 0;
    a->msix_enabled = 1;
  }
  if (a->nic_vectors < nic && (a->features & (TAMSIL_FEAT_RSS | TAMSIL_FEAT_DRSS))) {
    vmk_int32 pool = (vmk_int32)a->nic_vectors;
    vmk_int32 rss = a->rss > 0 ? a->rss : 0, drss = a->drss > 0 ? a->drss : 0;
    vmk_int32 netqWant = (vmk_int32)nic - drss - rss;
    if (netqWant < 1) netqWant = 1;
    tamsil_getQCount(a, &pool, (vmk_uint16)netqWant, 1, "NetQ");
    vmk_uint16 r, d;
    if (a->drss_first) {
      d = tamsil_getQCount(a, &pool, (vmk_uint16)drss, 1, "DRSS");
      r = tamsil_getQCount(a, &pool, (vmk_uint16)rss, 1, "RSS");
    } else {
      r = tamsil_getQCount(a, &pool, (vmk_uint16)rss, 1, "RSS");
      d = tamsil_getQCount(a, &pool, (vmk_uint16)drss, 1, "DRSS");
    }
    if (r == 1) r = 2;
    if (d == 1) d = 2;
    tamsil_setRssRings(a, r, d);
    // tamsil_setup keeps the first RSS ring at 1 or more when 2 per kind is
    // more than the vectors left.
  }
  return VMK_OK;
}

VMK_ReturnStatus tamsil_INTxEnable(Adapter* a) {
  vmk_uint32 got = 0;
  VMK_ReturnStatus st = vmk_PCIAllocIntrCookie(tamsilDriver.module_id, a->pci_device, VMK_PCI_INTERRUPT_TYPE_LEGACY,
                                               1, 1, nullptr, a->intr_cookie, &got);
  if (st != VMK_OK) {
    cookiesFree(a, 1);
    TAMSIL_ERR(a, "Failed to allocate 1 INT-x vector\n");
    return st;
  }
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Alloced %d INT-x vectors for device\n", (int)got);
  a->netpoll[0].vector = a->intr_cookie[0];
  return VMK_OK;
}

VMK_ReturnStatus tamsil_intrSetup(Adapter* a) {
  if (msix && tamsil_msixEnable(a) == VMK_OK) return VMK_OK;
  a->msix_enabled = 0;
  a->nic_vectors = 1;
  if (a->features & TAMSIL_FEAT_RSS) {
    a->res.max_rss_qs = 0;
    a->features &= ~TAMSIL_FEAT_RSS;
  }
  return tamsil_INTxEnable(a);
}

void tamsil_intrCleanup(Adapter* a) {
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Freeing Intr cookies\n");
  if (a->intr_cookie[0] != VMK_INVALID_INTRCOOKIE) vmk_PCIFreeIntrCookies(tamsilDriver.module_id, a->pci_device);
  cookiesFree(a, TAMSIL_MAX_VECTORS);
}

static VMK_ReturnStatus registerOne(Adapter* a, vmk_uint32 i, const char* name) {
  vmk_IntrProps p;
  memset(&p, 0, sizeof p);
  p.device = a->device;
  vmk_NameInitialize(&p.deviceName, name);
  p.acknowledgeInterrupt = tamsil_intAck;
  p.handler = tamsil_isr;
  p.handlerData = &a->rxo[i];
  p.attrs = VMK_INTR_ATTRS_ENTROPY_SOURCE;
  return vmk_IntrRegister(tamsilDriver.module_id, a->intr_cookie[i], &p);
}

static void unbindUnregister(Adapter* a, vmk_uint32 i) {
  NetPollInfo* np = &a->netpoll[i];
  if (np->bound && np->netpoll != nullptr) vmk_NetPollInterruptUnSet(np->netpoll);
  np->bound = 0;
  vmk_IntrUnregister(tamsilDriver.module_id, a->intr_cookie[i], &a->rxo[i]);
}

VMK_ReturnStatus tamsil_registerMSIxInterrupts(Adapter* a) {
  char name[2 * TAMSIL_PCI_NAME_LEN];
  for (vmk_uint32 i = 0; i < a->num_vectors; i++) {
    snprintf(name, sizeof name, "%s-rxq%d", a->pci_name, (int)i);
    VMK_ReturnStatus st = registerOne(a, i, name);
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "Failed to register MSIx Interrupt, status: 0x%x, vect %d\n", st, (int)i);
    } else {
      NetPollInfo* np = &a->netpoll[i];
      st = np->netpoll != nullptr ? vmk_NetPollInterruptSet(np->netpoll, a->intr_cookie[i]) : VMK_FAILURE;
      if (st == VMK_OK) {
        np->bound = 1;
        np->vector = a->intr_cookie[i];
        TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO3, "nicPoll for i=%d,vector=%d\n", (int)i,
                   (int)a->intr_cookie[i]);
        continue;
      }
      TAMSIL_ERR(a, "Failed to set netpoll vector %s\n", vmk_StatusToString(st));
      vmk_IntrUnregister(tamsilDriver.module_id, a->intr_cookie[i], &a->rxo[i]);
    }
    for (vmk_uint32 j = i; j-- > 0;) unbindUnregister(a, j);
    return st;
  }
  a->intr_registered = 1;
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Registered %d vectors\n", (int)a->num_vectors);
  return VMK_OK;
}

VMK_ReturnStatus tamsil_registerINTxInterrupts(Adapter* a) {
  char name[2 * TAMSIL_PCI_NAME_LEN];
  snprintf(name, sizeof name, "%s-rxq", a->pci_name);
  VMK_ReturnStatus st = registerOne(a, 0, name);
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "Failed to register INT-x interrupt status: 0x%x\n", st);
    return st;
  }
  NetPollInfo* np = &a->netpoll[0];
  st = np->netpoll != nullptr ? vmk_NetPollInterruptSet(np->netpoll, a->intr_cookie[0]) : VMK_FAILURE;
  if (st == VMK_OK) {
    np->bound = 1;
    np->vector = a->intr_cookie[0];
  } else {
    np->bound = 0;
    TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Failed to set netpoll vector, status %s\n",
               vmk_StatusToString(st));
  }
  a->intr_registered = 1;
  return VMK_OK;
}

VMK_ReturnStatus tamsil_registerInterrupts(Adapter* a) {
  if (!a->msix_enabled) return tamsil_registerINTxInterrupts(a);
  if (tamsil_registerMSIxInterrupts(a) == VMK_OK) return VMK_OK;
  tamsil_intrCleanup(a);
  a->msix_enabled = 0;
  VMK_ReturnStatus st = tamsil_INTxEnable(a);
  if (st != VMK_OK) return st;
  return tamsil_registerINTxInterrupts(a);
}

VMK_ReturnStatus tamsil_freeInterrupts(Adapter* a) {
  if (a->intr_registered && a->num_vectors > 0) {
    for (vmk_uint32 i = 0; i < a->num_vectors; i++) {
      if (a->intr_cookie[i] == VMK_INVALID_INTRCOOKIE) continue;
      NetPollInfo* np = &a->netpoll[i];
      if (np->bound && np->netpoll != nullptr) vmk_NetPollInterruptUnSet(np->netpoll);
      np->bound = 0;
      VMK_ReturnStatus st = vmk_IntrUnregister(tamsilDriver.module_id, a->intr_cookie[i], &a->rxo[i]);
      if (st != VMK_OK)
        TAMSIL_ERR(a, "Failed to unregister interrupt, status: 0x%x for vect %d\n", st, (int)i);
    }
  }
  a->intr_registered = 0;
  return VMK_OK;
}

/* ------------------------------------------------------------------------ */
/* Versions and driver information                                           */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_displayVersions(Adapter* a) {
  const char* name = tamsil_device_name[tamsil_deviceNameIndex(a->pci_id.device_id)];
  char rev[3];
  tamsil_asicRevName(a->asic_rev, rev);
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO, "%s Driver version:%s.\n", name, TAMSIL_DRIVER_VERSION);
  char flash[TAMSIL_FW_VERSION_LEN] = {0};
  if (tamsil_cmdGetFwVer(a, a->fw_version, flash) == 0)
    TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO, "%s ASIC Rev %s has firmware ver %s\n", name, rev,
               a->fw_version);
  else
    TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO, "%s ASIC Rev %s has failed to get firmware version\n",
               name, rev);
  vmk_uint16 profile = 0;
  vmk_uint32 st = tamsil_cmdGetActiveProfile(a, &profile);
  if (st == 0) TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO, "Using profile 0x%x\n", profile);
  return st;
}

void tamsil_updateDevData(Adapter* a) {
  snprintf(a->uplink_reg.driver_name, sizeof a->uplink_reg.driver_name, "%s", TAMSIL_DRIVER_NAME);
  snprintf(a->uplink_reg.module_type, sizeof a->uplink_reg.module_type, "%s", TAMSIL_DRIVER_TYPE);
  snprintf(a->uplink_reg.driver_version, sizeof a->uplink_reg.driver_version, "%s", TAMSIL_DRIVER_VERSION);
  snprintf(a->uplink_reg.fw_version, sizeof a->uplink_reg.fw_version, "%s", a->fw_version);
  a->dev_data_valid = 1;
  a->pause_rx = 1;
  a->pause_tx = 1;
}

/* ------------------------------------------------------------------------ */
/* Attach                                                                    */
/* ------------------------------------------------------------------------ */

static vmk_int32 paramEntry(Adapter* a, const int* values, int count, const char* fmt, vmk_int32 absent,
                            bool rssRule) {
  vmk_uint32 i = adapter_idx;
  if ((int)i >= count || i >= TAMSIL_MAX_PF_PARAMS) return absent;
  int v = values[i];
  if (v < 0) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    TAMSIL_ERR(a, fmt, v, (int)i);
#pragma GCC diagnostic pop
    return 0;
  }
  if (rssRule) return v == 1 ? 4 : (v < 24 ? v : 24);
  return v < TAMSIL_MAX_VFS ? v : TAMSIL_MAX_VFS;
}

static void freeAdapter(Adapter* a) {
  // A quarantined buffer keeps the engine that mapped it.
  if (a->dma_engine != VMK_DMA_ENGINE_INVALID && !tamsil_quarantineUses(a->dma_engine)) {
    vmk_DMAEngineDestroy(a->dma_engine);
    a->dma_engine = VMK_DMA_ENGINE_INVALID;
  }
  if (a->flags != nullptr) vmk_BitVectorFree(tamsilDriver.heap_id, a->flags);
  a->flags = nullptr;
  tamsil_mpoolFree(a, a->alloc_size);
}

static VMK_ReturnStatus createWorld(Adapter* a, const char* name, vmk_WorldStartFunc fn, vmk_WorldID* id) {
  vmk_WorldProps wp;
  memset(&wp, 0, sizeof wp);
  wp.moduleID = tamsilDriver.module_id;
  wp.name = name;
  wp.startFunction = fn;
  wp.data = a;
  wp.schedClass = VMK_WORLD_SCHED_CLASS_QUICK;
  wp.heapID = tamsilDriver.heap_id;
  VMK_ReturnStatus st = vmk_WorldCreate(&wp, id);
  if (st != VMK_OK) *id = VMK_INVALID_WORLD_ID;
  return st;
}

void tamsil_workerStop(Adapter* a) { stopWorld(&a->worker_world); }

VMK_ReturnStatus tamsil_workerStart(Adapter* a) {
  if (a->worker_world != VMK_INVALID_WORLD_ID) return VMK_OK;
  VMK_ReturnStatus st = createWorld(a, "tamsil_workerThread", tamsil_workerThread, &a->worker_world);
  if (st != VMK_OK) TAMSIL_ERR(a, "tamsil driver: Failed to create worker thread\n");
  return st;
}

// The UE mask words of configuration space, read at attach and after every
// reset (Kalderstone and Veskarn).
VMK_ReturnStatus tamsil_readUeMasks(Adapter* a) {
  if (!tamsil_hasTrait(a, TAMSIL_GT_UE_MASKS)) return VMK_OK;
  static const vmk_uint16 offs[2] = {0xA8, 0xAC};
  vmk_uint32* dst[2] = {&a->ue_status_lo_mask, &a->ue_status_hi_mask};
  for (int i = 0; i < 2; i++) {
    VMK_ReturnStatus st =
        vmk_PCIReadConfig(tamsilDriver.module_id, a->pci_device, VMK_PCI_CONFIG_ACCESS_32, offs[i], dst[i]);
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "Pci Cfg read error %d at offset %d\n", st, offs[i]);
      return st;
    }
  }
  return VMK_OK;
}

VMK_ReturnStatus tamsil_attachDevice(vmk_Device device) {
  vmk_uint64 got = 0;
  Adapter* a = static_cast<Adapter*>(tamsil_mpoolAlloc(sizeof(Adapter), &got));
  if (a == nullptr) return VMK_FAILURE;
  memset(a, 0, sizeof *a);
  a->alloc_size = got;
  for (vmk_uint32 i = 0; i < TAMSIL_MAX_VECTORS; i++) a->intr_cookie[i] = VMK_INVALID_INTRCOOKIE;
  a->debug_mask = debugMask;
  VMK_ReturnStatus st;
  vmk_uint32 cst;
  a->flags = vmk_BitVectorAlloc(tamsilDriver.heap_id, TAMSIL_FLAG_BITS);
  if (a->flags == nullptr) {
    tamsil_mpoolFree(a, a->alloc_size);
    return VMK_FAILURE;
  }
  vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_IO_QUIESCED);
  vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_DEV_QUIESCED);
  a->device = device;
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2,
             "*** allocated devData=%p, uplink=%p, requested size=%lu allocated size=%lu\n\n", (void*)a,
             (void*)a->uplink, (unsigned long)sizeof(Adapter), (unsigned long)got);

  vmk_AddrCookie reg;
  st = vmk_DeviceGetRegistrationData(device, &reg);
  if (st != VMK_OK) {
    TAMSIL_MOD_ERR("Get device from kernel failed status: 0x%x\n", st);
    freeAdapter(a);
    return st;
  }
  a->pci_device = static_cast<vmk_PCIDevice>(reg.ptr);
  vmk_PCIDeviceID id;
  st = vmk_PCIQueryDeviceID(a->pci_device, &id);
  if (st != VMK_OK) {
    TAMSIL_MOD_ERR("Get deviceID from kernel device failed status: 0x%x\n", st);
    freeAdapter(a);
    return st;
  }
  a->pci_id.vendor_id = id.vendorID;
  a->pci_id.device_id = id.deviceID;
  a->pci_id.subsystem_vendor_id = id.subVendorID;
  a->pci_id.subsystem_device_id = id.subDeviceID;
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2,
             "Found kernel device with following Dev Id 0x%04x, Vend ID 0x%04x, Sub Dev ID 0x%04x, Sub Vend ID "
             "0x%04x,\n",
             id.deviceID, id.vendorID, id.subDeviceID, id.subVendorID);
  vmk_PCIDeviceAddr addr;
  st = vmk_PCIQueryDeviceAddr(a->pci_device, &addr);
  if (st != VMK_OK) {
    TAMSIL_MOD_ERR("Get deviceAddr for device failed, status 0x%x\n", st);
    freeAdapter(a);
    return st;
  }
  a->pci_addr.segment = addr.seg;
  a->pci_addr.bus = addr.bus;
  a->pci_addr.devfn = (vmk_uint8)((addr.dev & 0x1F) | ((addr.fn & 0x7) << 5));
  snprintf(a->pci_name, sizeof a->pci_name, "%04x:%03x:%02x.%x", addr.seg, addr.bus, addr.dev, addr.fn);
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Found kernel device\n");
  a->asic_gen = tamsil_asicGeneration(id.deviceID);

  a->max_vfs = paramEntry(a, max_vfs, num_max_vfs,
                          "Invalid module param value (%d) for max_vfs[%d]. VFs will not be enabled for this PF\n", 0,
                          false);
  a->rss = paramEntry(a, rssqs, num_max_rss,
                      "Invalid module param value (%d) for rss[%d]. RSS Qs will not be created for this PF\n", -1,
                      true);
  a->drss = paramEntry(
      a, d_rssqs, num_max_drss,
      "Invalid module param value (%d) for d_rssqs[%d]. RSS Qs on Defaukt Q will not be created for this PF\n", -1,
      true);

  st = dmaEngineCreate(a);
  if (st != VMK_OK) goto undo_adapter;
  st = mapBars(a);
  if (st != VMK_OK) goto undo_adapter;
  enableBusMaster(a);
  st = tamsil_ctrlInit(a);
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "Failed to initialize control path for device\n");
    goto undo_bars;
  }
  st = tamsil_firmwareWaitReady(a);
  if (st != VMK_OK) goto undo_ctrl;
  cst = tamsil_cmdFwInit(a);
  if (cst != 0) {
    TAMSIL_ERR(a, "FW init failed\n");
    st = cst;
    goto undo_ctrl;
  }
  cst = tamsil_cmdResetFunction(a);
  if (cst != 0) {
    TAMSIL_ERR(a, "Function Reset command to f/w failed\n");
    st = cst;
    goto undo_ctrl;
  }
  st = tamsil_getConfig(a);
  if (st != VMK_OK) goto undo_ctrl;
  if (a->max_vfs > 0) {
    TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "adapter_idx=%d devData->max_vfs=%d\n",
               (int)adapter_idx, a->max_vfs);
    a->vf_cfg = static_cast<VfRecord*>(vmk_HeapAlloc(tamsilDriver.heap_id, sizeof(VfRecord) * (vmk_uint32)a->max_vfs));
    if (a->vf_cfg == nullptr) {
      st = VMK_FAILURE;
      goto undo_ctrl;
    }
    memset(a->vf_cfg, 0, sizeof(VfRecord) * (vmk_uint32)a->max_vfs);
    tamsil_enableVFs(a);
  }
  adapter_idx++;
  cst = tamsil_statsInit(a);
  if (cst != 0) {
    TAMSIL_ERR(a, "Stats init failed\n");
    st = cst;
    goto undo_vf;
  }
  if (tamsil_hasTrait(a, TAMSIL_GT_HOST_INTR)) tamsil_intrSet(a, 0);
  cookiesFree(a, TAMSIL_MAX_VECTORS);
  st = tamsil_intrSetup(a);
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "Error in allocing Interrupt vectors 0x%x\n", st);
    goto undo_stats;
  }
  cst = tamsil_setup(a);
  if (cst != 0) {
    TAMSIL_ERR(a, "Error in setting up ks controller\n");
    st = cst;
    goto undo_intr;
  }
  st = tamsil_createUplinkData(a);
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "Failed to create driver data for device\n");
    goto undo_uplink;
  }
  tamsil_displayVersions(a);
  tamsil_updateDevData(a);
  st = tamsil_readUeMasks(a);
  if (st != VMK_OK) goto undo_uplink;
  a->tpe_state = 1;
  if (tpe_recovery) {
    a->tpe_requested = 1;
    tamsil_cmdSetUeRecovery(a);
  }
  // A command channel that died during set-up is only worth keeping when a
  // recovery can restart it.
  if (tamsil_cardError(a) && !(a->tpe_requested && a->tpe_supported)) {
    TAMSIL_ERR(a, "Command channel died during set-up and no recovery can restart it\n");
    st = VMK_FAILURE;
    goto undo_uplink;
  }
  if (a->tpe_requested && a->tpe_supported) {
    TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Feature TPE is supported\n");
    if (tamsil_tpeLockCreate(a) != VMK_OK ||
        createWorld(a, "tamsil_tpeReInitWorkerThread", tamsil_tpeReInitWorkerThread, &a->tpe_world) != VMK_OK)
      TAMSIL_ERR(a, "tamsil driver: Failed to create worker thread\n");
  } else {
    TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Feature TPE is not enabled\n");
  }
  a->load_time_ms = vmk_GetUptimeMS();
  a->tpe_min_after_load = 1440;
  a->tpe_min_between = 4320;
  st = createWorld(a, "tamsil_workerThread", tamsil_workerThread, &a->worker_world);
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "tamsil driver: Failed to create worker thread\n");
    goto undo_tpe;
  }
  {
    vmk_AddrCookie data;
    data.ptr = a;
    st = vmk_DeviceSetAttachedDriverData(device, data);
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "Unable to set attached driver data for device\n");
      stopWorld(&a->worker_world);
      goto undo_tpe;
    }
  }
  return VMK_OK;

undo_tpe:
  tamsil_tpeWorldStop(a);
undo_uplink:
  // Nothing that takes the uplink data's writer lock may run past here:
  // the MCC world drains completions and their events use that lock.
  stopWorld(&a->mcc_worker_world);
  tamsil_cleanupUplinkData(a);
  tamsil_clear(a);
undo_intr:
  tamsil_intrCleanup(a);
undo_stats:
  tamsil_statsCleanup(a);
undo_vf:
  // VFs enabled by this attach go with it: nothing else would disable them.
  tamsil_disableVFs(a);
  if (a->vf_cfg != nullptr) vmk_HeapFree(tamsilDriver.heap_id, a->vf_cfg);
  a->vf_cfg = nullptr;
undo_ctrl:
  tamsil_ctrlCleanup(a);
undo_bars:
  tamsil_unmapBars(a);
undo_adapter:
  freeAdapter(a);
  return st;
}

/* ------------------------------------------------------------------------ */
/* Scan, detach, quiesce, start, forget                                      */
/* ------------------------------------------------------------------------ */

static Adapter* fetchAdapter(vmk_Device device, VMK_ReturnStatus* st) {
  vmk_AddrCookie data;
  data.ptr = nullptr;
  *st = vmk_DeviceGetAttachedDriverData(device, &data);
  return *st == VMK_OK ? static_cast<Adapter*>(data.ptr) : nullptr;
}

VMK_ReturnStatus tamsil_removeUplinkDevice(vmk_Device device) {
  TAMSIL_MOD_DBG(TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "tamsil_removeUplinkDevice: device=%p\n", (void*)device);
  return vmk_DeviceUnregister(device);
}

VMK_ReturnStatus tamsil_scanDevice(vmk_Device device) {
  VMK_ReturnStatus st;
  Adapter* a = fetchAdapter(device, &st);
  if (st != VMK_OK) {
    TAMSIL_ERR(nullptr, "vmk_DeviceGetAttachedDriverData failed, status %s\n", vmk_StatusToString(st));
    return st;
  }
  if (a == nullptr) {
    TAMSIL_ERR(nullptr, "devData fetched NULL\n");
    return VMK_FAILURE;
  }
  vmk_Name busName;
  st = vmk_NameInitialize(&busName, "logical");
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "vmk_NameInitialize failed, status %s\n", vmk_StatusToString(st));
    return st;
  }
  vmk_BusType bus;
  st = vmk_BusTypeFind(&busName, &bus);
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "vmk_BusTypeFind failed, status %s\n", vmk_StatusToString(st));
    return st;
  }
  char* busAddr = nullptr;
  vmk_uint32 busAddrLen = 0;
  st = vmk_LogicalCreateBusAddress(tamsilDriver.driver_handle, a->device, 0, &busAddr, &busAddrLen);
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "vmk_LogicalCreateBusAddress failed, status %s\n", vmk_StatusToString(st));
    vmk_BusTypeRelease(bus);
    return st;
  }
  vmk_DeviceID devId;
  devId.busType = bus;
  devId.busAddress = busAddr;
  devId.busAddressLen = busAddrLen;
  devId.busIdentifier = "com.vmware.uplink";
  devId.busIdentifierLen = 17;
  vmk_DeviceProps props;
  props.registeringDriver = tamsilDriver.driver_handle;
  props.deviceID = &devId;
  props.deviceOps = &tamsilUplinkDeviceOps;
  props.registeringDriverData.ptr = a;
  props.registrationData.ptr = &a->uplink_reg;
  st = vmk_DeviceRegister(&props, a->device, &a->uplink_device);
  vmk_LogicalFreeBusAddress(tamsilDriver.driver_handle, busAddr);
  vmk_BusTypeRelease(bus);
  if (st != VMK_OK) {
    a->uplink_device = nullptr;
    TAMSIL_ERR(a, "Failed to register device: %s\n", vmk_StatusToString(st));
    return st;
  }
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Register uplink device succeeds, device: %p\n",
             (void*)a->uplink_device);
  if (a->num_vfs > 0) {
    VMK_ReturnStatus vs = tamsil_registerVFs(a);
    if (vs != VMK_OK) {
      TAMSIL_ERR(a, "register_vfs failed status: 0x%x\n", vs);
    } else {
      vs = tamsil_configureVFs(a);
      if (vs != VMK_OK) TAMSIL_ERR(a, "configure_vfs failed: 0x%x\n", vs);
    }
  }
  return VMK_OK;
}

/* ------------------------------------------------------------------------ */
/* Management requests in flight                                             */
/* ------------------------------------------------------------------------ */

static bool mgmtRefused(const Adapter* a) {
  return tamsil_flagTest(a, TAMSIL_FLAG_DEV_QUIESCED) || __atomic_load_n(&a->mgmt_gate_closed, __ATOMIC_SEQ_CST) != 0;
}

VMK_ReturnStatus tamsil_mgmtEnter(Adapter* a) {
  if (mgmtRefused(a)) return VMK_BUSY;
  vmk_AtomicInc64(&a->mgmt_in_flight);
  // A quiesce or reset that closed the door meanwhile may already have seen
  // no request.
  if (mgmtRefused(a)) {
    tamsil_mgmtLeave(a);
    return VMK_BUSY;
  }
  return VMK_OK;
}

void tamsil_mgmtLeave(Adapter* a) { vmk_AtomicDec64(&a->mgmt_in_flight); }

void tamsil_mgmtGateSet(Adapter* a, bool closed) {
  __atomic_store_n(&a->mgmt_gate_closed, closed ? 1u : 0u, __ATOMIC_SEQ_CST);
}

void tamsil_mgmtDrain(Adapter* a) {
  for (int i = 0; vmk_AtomicRead64(&a->mgmt_in_flight) != 0 && i < 36; i++) vmk_WorldSleep(1000000);
  if (vmk_AtomicRead64(&a->mgmt_in_flight) != 0)
    TAMSIL_MOD_ERR("Some Mgmt operations are still pending, mgmtRequestsInFlight != 0 (%ld)\n",
                   (long)vmk_AtomicRead64(&a->mgmt_in_flight));
}

VMK_ReturnStatus tamsil_detachDevice(vmk_Device device) {
  VMK_ReturnStatus st;
  Adapter* a = fetchAdapter(device, &st);
  if (a == nullptr) return VMK_OK;
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Device is being detached\n");
  // No new management request from here on.
  vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_DEV_QUIESCED);
  tamsil_mgmtForget(a);
  tamsil_disableVFs(a);
  stopWorld(&a->worker_world);
  tamsil_tpeWorldStop(a);
  if (a->kv_handle != nullptr) {
    vmk_MgmtDestroy(a->kv_handle);
    a->kv_handle = nullptr;
  }
  tamsil_clear(a);
  // The channel is closed and its waiters are gone: the requests still in
  // flight end soon, and the Adapter stays until they have.
  for (vmk_uint32 i = 1; vmk_AtomicRead64(&a->mgmt_in_flight) != 0; i++) {
    if (i % 10000 == 0)
      TAMSIL_ERR(a, "Detach waits for %ld management requests\n", (long)vmk_AtomicRead64(&a->mgmt_in_flight));
    vmk_WorldSleep(1000);
  }
  tamsil_cleanupUplinkData(a);
  tamsil_intrCleanup(a);
  tamsil_statsCleanup(a);
  // A reset stopped on Pivard, or a recovery the detach cut short, leaves
  // the recovery marked: nothing recovers any more, and every lock goes.
  vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_TPE_REINIT);
  tamsil_ctrlCleanup(a);
  tamsil_unmapBars(a);
  if (a->vf_cfg != nullptr) vmk_HeapFree(tamsilDriver.heap_id, a->vf_cfg);
  a->vf_cfg = nullptr;
  vmk_AddrCookie none;
  none.ptr = nullptr;
  vmk_DeviceSetAttachedDriverData(device, none);
  freeAdapter(a);
  return VMK_OK;
}

VMK_ReturnStatus tamsil_quiesceDevice(vmk_Device device) {
  VMK_ReturnStatus st;
  Adapter* a = fetchAdapter(device, &st);
  if (a == nullptr) return VMK_OK;
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Device being quiesced\n");
  vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_DEV_QUIESCED);
  tamsil_mgmtDrain(a);
  if (tamsil_flagTest(a, TAMSIL_FLAG_TPE_REINIT)) return VMK_OK;
  tamsil_setupWOL(a, a->wol_enabled ? 1 : 0);
  return VMK_OK;
}

VMK_ReturnStatus tamsil_startDevice(vmk_Device device) {
  VMK_ReturnStatus st;
  Adapter* a = fetchAdapter(device, &st);
  if (a == nullptr) return st != VMK_OK ? st : VMK_FAILURE;
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Device started\n");
  tamsil_setupWOL(a, 0);
  a->io_started = 0;
  vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_DEV_QUIESCED);
  return st;
}

void tamsil_forgetDevice(vmk_Device device) {
  TAMSIL_MOD_DBG(TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "device=%p\n", (void*)device);
}

VMK_ReturnStatus tamsil_setupWOL(Adapter* a, vmk_uint8 enable) {
  DmaBuffer buf;
  memset(&buf, 0, sizeof buf);
  if (tamsil_mpoolAllocMap(a, &buf, 604) == nullptr) return VMK_NO_MEMORY;
  VMK_ReturnStatus st;
  if (enable) {
    st = vmk_PCIWriteConfig(tamsilDriver.module_id, a->pci_device, VMK_PCI_CONFIG_ACCESS_32, 0x44, 0x108);
    if (st != VMK_OK) TAMSIL_ERR(a, "Failed to configure Wake-on-lan\n");
    st = tamsil_cmdEnableMagicWol(a, a->uplink_reg.perm_mac);
    if (st == 0) {
      st = vmk_PCIEnablePME(tamsilDriver.module_id, a->pci_device);
      if (st != VMK_OK) TAMSIL_ERR(a, "Failed to enable PME status: (%s)\n", vmk_StatusToString(st));
    }
  } else {
    static const vmk_uint8 zero[6] = {0};
    st = tamsil_cmdEnableMagicWol(a, zero);
    if (st == 0) {
      st = vmk_PCIDisablePME(tamsilDriver.module_id, a->pci_device);
      if (st != VMK_OK) TAMSIL_ERR(a, "Failed to disable PME. Returned status: (%s)\n", vmk_StatusToString(st));
    }
  }
  tamsil_mpoolUnmapFree(a, &buf);
  return st;
}
