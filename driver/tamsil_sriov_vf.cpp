// SR-IOV virtual functions after enabling: one firmware interface and one
// registered kernel device per VF, their default MAC, rate, privileges and
// link, and the kernel's VF configuration requests (MAC, port VLAN).
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_gen.h"
#include "vmk_uplink.h"

namespace {

// Interface flags of a VF whose profile names none.
constexpr vmk_uint32 kVfCapFlags = 0x1BB8;
constexpr vmk_uint32 kVfEnFlags = 0x1030;
// Privilege the PF takes from a VF while it enforces the VF's port VLAN.
constexpr vmk_uint32 kVfPrivVlan = 0x40;
// Full transmit rate of the QoS command.
constexpr vmk_uint32 kQosMax = 1000;
constexpr vmk_uint32 kNoPmac = 0xFFFFFFFFu;
constexpr vmk_uint16 kPvidClear = 65535;
constexpr vmk_uint16 kPvidNone = 0xFFFF;
constexpr vmk_uint16 kMaxVlanId = 4094;
// The kernel's status for a VF request while SR-IOV is off.
constexpr VMK_ReturnStatus kStatusNoVfs = 0xbad005b;

// How the generations differ for their VFs.
struct VfRules {
  bool fixedIfFlags;  // VF interfaces always take the fixed flag pair
  bool qosMax;        // PF and VFs are set to the full transmit rate
  bool vlanFilter;    // a port VLAN change clears the VF's VLAN filter
};
constexpr VfRules kVfRulesKs2 = {false, false, true};
constexpr VfRules kVfRulesKs3 = {true, true, true};
constexpr VfRules kVfRulesPivard = {false, false, false};
constexpr VfRules kVfRulesVeskarn = {false, false, true};

const VfRules& vfRules(const Adapter* a) {
  switch (a->asic_gen) {
    case TAMSIL_ASIC_KS3: return kVfRulesKs3;
    case TAMSIL_ASIC_PIVARD: return kVfRulesPivard;
    case TAMSIL_ASIC_VESKARN: return kVfRulesVeskarn;
    default: return kVfRulesKs2;
  }
}

const vmk_PCIVFDeviceOps tamsilVfDeviceOps = {tamsil_removeVFDevice};

vmk_uint8 vfDomain(vmk_uint32 vf) { return (vmk_uint8)(vf + 1); }

bool macIsZero(const vmk_uint8* mac) {
  static const vmk_uint8 zero[6] = {};
  return memcmp(mac, zero, 6) == 0;
}

// Programs `mac` as the VF's one MAC: a PMAC on its interface, or its MAC
// list. Returns the channel status.
vmk_uint32 vfMacProgram(Adapter* a, vmk_uint32 vf, const vmk_uint8* mac) {
  VfRecord* r = &a->vf_cfg[vf];
  if (!tamsil_hasTrait(a, TAMSIL_GT_MAC_LIST)) return tamsil_cmdPmacAdd(a, mac, r->if_handle, &r->pmac_id, vfDomain(vf), 0);
  vmk_uint32 st = tamsil_cmdSetMacList(a, mac, 1, vfDomain(vf));
  r->pmac_id = 0;
  return st;
}

vmk_uint32 vfMacRemove(Adapter* a, vmk_uint32 vf) {
  VfRecord* r = &a->vf_cfg[vf];
  if (!tamsil_hasTrait(a, TAMSIL_GT_MAC_LIST)) return tamsil_cmdPmacDel(a, r->if_handle, r->pmac_id, vfDomain(vf));
  return tamsil_cmdSetMacList(a, nullptr, 0, vfDomain(vf));
}

// The VF's default MAC: the PF's vendor part, the PF's bus and
// device/function, and the VF index, so that it is unique per PF and VF.
void vfDefaultMac(const Adapter* a, vmk_uint32 vf, vmk_uint8* mac) {
  memcpy(mac, a->uplink_reg.perm_mac, 3);
  mac[3] = a->pci_addr.bus;
  vmk_uint8 df = a->pci_addr.devfn;
  mac[4] = (vmk_uint8)((df << 3) | (df >> 5));
  mac[5] = (vmk_uint8)vf;
}

// Interface flags of VF `vf`: those of its profile, else the fixed pair.
void vfIfFlags(Adapter* a, vmk_uint32 vf, vmk_uint32* cap, vmk_uint32* en) {
  *cap = kVfCapFlags;
  *en = kVfEnFlags;
  if (vfRules(a).fixedIfFlags) return;
  ResourceLimits l;
  memset(&l, 0, sizeof l);
  if (tamsil_cmdGetProfileConfig(a, vfDomain(vf), 0, &l) != 0 || l.cap_flags == 0) return;
  *cap = l.cap_flags;
  *en = l.cap_flags & kVfEnFlags;
}

// Sets (`set`) or clears the VLAN privilege of a VF whose privileges are
// `priv`, when it differs. Returns the channel status.
vmk_uint32 vfPrivVlan(Adapter* a, vmk_uint32 vf, vmk_uint32 priv, bool set, const char* failText) {
  if (((priv & kVfPrivVlan) != 0) == set) return 0;
  priv = set ? (priv | kVfPrivVlan) : (priv & ~kVfPrivVlan);
  vmk_uint32 st = tamsil_cmdSetFnPrivileges(a, priv, vfDomain(vf));
  if (st != 0) TAMSIL_ERR(a, "%s Privilege for VF %d failed status = %d\n", failText, (int)vf + 1, (int)st);
  return st;
}

// Registration failed at VF `failed`: VF devices registered in this run
// leave the kernel before their interfaces go, so no kernel request can
// reach a VF without an interface.
void vfRegisterUnwind(Adapter* a, vmk_uint32 failed, bool destroyFailed) {
  if (destroyFailed) tamsil_destroyVF(a, failed);
  for (vmk_uint32 i = failed; i-- > 0;) {
    if (a->sriov.vf_devices[i] != nullptr) {
      VMK_ReturnStatus st = vmk_PCIUnregisterVF(a->sriov.vf_devices[i]);
      if (st != VMK_OK) TAMSIL_ERR(a, "vmk_PCIUnregisterVF failed: %s\n", vmk_StatusToString(st));
      a->sriov.vf_devices[i] = nullptr;
    }
    tamsil_destroyVF(a, i);
  }
  a->sriov.vf_devices[failed] = nullptr;
}

VMK_ReturnStatus vfSetMac(Adapter* a, const vmk_NetVFMACParms* p) {
  vmk_uint32 vf = p->vfID;
  if (a->num_vfs == 0 || vf >= a->num_vfs || (p->mac[0] & 1) != 0) return VMK_FAILURE;
  VfRecord* r = &a->vf_cfg[vf];
  const bool toDefault = macIsZero(p->mac);
  // Another VF may have been given this VF's default MAC meanwhile: bringing
  // the default back then would put one MAC on two VFs. The VF itself may
  // go back to the default it already has.
  const vmk_uint8* want = toDefault ? r->default_mac : p->mac;
  for (vmk_uint32 i = 0; i < a->num_vfs; i++) {
    const VfRecord* o = &a->vf_cfg[i];
    if (toDefault && i == vf) continue;
    if (o->pmac_id != kNoPmac && memcmp(o->mac, want, 6) == 0) return VMK_FAILURE;
  }
  if (r->pmac_id != kNoPmac) {
    if (vfMacRemove(a, vf) != 0) {
      TAMSIL_ERR(a, "VF MAC Address Deletion failed for vf_idx(=%d)\n", (int)vf);
      return VMK_FAILURE;
    }
    r->pmac_id = kNoPmac;
  }
  vmk_uint8 mac[6];
  memcpy(mac, want, 6);
  vmk_uint32 st = vfMacProgram(a, vf, mac);
  if (st != 0) {
    TAMSIL_ERR(a, "VF MAC address assignment failed for vf_idx(=%d) with status 0x%x\n", (int)vf, st);
    return VMK_FAILURE;
  }
  memcpy(r->mac, mac, 6);
  return VMK_OK;
}

// The VF's interface in the firmware, created by the PF for the VF's domain;
// the VF has no MAC filter yet.
vmk_uint32 vfCreateInterface(Adapter* a, vmk_uint32 i) {
  vmk_uint32 cap, en;
  vfIfFlags(a, i, &cap, &en);
  vmk_uint32 ifId = 0;
  const vmk_uint32 st = tamsil_cmdIfCreate(a, cap, en, nullptr, true, &ifId, nullptr, vfDomain(i));
  if (st != 0) {
    TAMSIL_ERR(a, "tamsil_cmdIfCreate failed for vf_idx(=%d)\n", (int)i);
    return st;
  }
  a->vf_cfg[i].if_handle = ifId;
  a->vf_cfg[i].pmac_id = kNoPmac;
  return 0;
}

}  // namespace

VMK_ReturnStatus tamsil_registerVFs(Adapter* a) {
  a->sriov.vf_config_cb = reinterpret_cast<void*>(&tamsil_configVFOpsCB);
  for (vmk_uint32 i = 0; i < a->num_vfs; i++) {
    vmk_uint32 cst = vfCreateInterface(a, i);
    if (cst != 0) {
      TAMSIL_ERR(a, "tamsil_createVF failed for vf %d\n", (int)i);
      vfRegisterUnwind(a, i, false);
      return cst;
    }
    VMK_ReturnStatus st = vmk_PCIGetVFPCIDevice(a->pci_device, (vmk_uint16)i, &a->sriov.vf_devices[i]);
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "vmk_PCIGetVFPCIDevice failed: %s\n", vmk_StatusToString(st));
      vfRegisterUnwind(a, i, true);
      return st;
    }
    st = vmk_PCIRegisterVF(a->sriov.vf_devices[i], a->pci_device, tamsilDriver.driver_handle, &tamsilVfDeviceOps);
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "vmk_PCIRegisterVF failed: %s\n", vmk_StatusToString(st));
      vfRegisterUnwind(a, i, true);
      return st;
    }
    vmk_AddrCookie cb;
    cb.ptr = a->sriov.vf_config_cb;
    (void)vmk_PCISetVFPrivateData(a->sriov.vf_devices[i], cb);
  }
  return VMK_OK;
}

VMK_ReturnStatus tamsil_configureVFs(Adapter* a) {
  const VfRules& rules = vfRules(a);
  if (rules.qosMax && tamsil_cmdSetQos(a, kQosMax, 0) != 0) TAMSIL_ERR(a, "Setting QoS to Max for PF failed\n");
  for (vmk_uint32 i = 0; i < a->num_vfs; i++) {
    VfRecord* r = &a->vf_cfg[i];
    vmk_uint8 dom = vfDomain(i);
    vmk_uint8 mac[6];
    vfDefaultMac(a, i, mac);
    vmk_uint32 st = vfMacProgram(a, i, mac);
    if (st == 0) {
      memcpy(r->default_mac, mac, 6);
      memcpy(r->mac, mac, 6);
      TAMSIL_DBG(a, TAMSIL_DBG_SRIOV, TAMSIL_LOG_LEVEL_INFO2, "Successfully added Default MAC for vf_idx(=%d)\n", (int)i);
    } else {
      TAMSIL_ERR(a, " Failed to assign default MAC for vf_idx(=%d) with status 0x%x\n", (int)i, st);
    }
    if (rules.qosMax && tamsil_cmdSetQos(a, kQosMax, dom) != 0)
      TAMSIL_ERR(a, "Setting QoS to Max for VF %d failed\n", (int)dom);
    vmk_uint32 priv = 0;
    st = tamsil_cmdGetFnPrivileges(a, &priv, dom);
    if (st != 0) {
      TAMSIL_ERR(a, "Get Privilege for VF %d failed status = %d\n", (int)dom, (int)st);
      return st;
    }
    st = vfPrivVlan(a, i, priv, false, "Set");
    if (st != 0) return st;
    a->sriov.vf_link_state[i] = 1;
    if (tamsil_setLogicalLinkProperties(a, true, true, false, false, dom) == 0) a->sriov.vf_link_state[i] = 0;
  }
  return VMK_OK;
}

VMK_ReturnStatus tamsil_configVFOpsCB(vmk_AddrCookie driverData, vmk_uint32 op, void* params) {
  Adapter* a = static_cast<Adapter*>(driverData.ptr);
  switch (op) {
    case VMK_NETPTOP_VF_GET_STATS: {
      const vmk_NetVFStatsParms* p = static_cast<const vmk_NetVFStatsParms*>(params);
      TAMSIL_ERR(a,
                 "vf_id=%d:Adapter does not support PF access to VF statistics. VF statistics can be obtained "
                 "from the guest VM that the VF has been assigned to.\n",
                 (int)p->vfID);
      return VMK_NOT_SUPPORTED;
    }
    case VMK_NETPTOP_VF_SET_MAC: {
      const vmk_NetVFMACParms* p = static_cast<const vmk_NetVFMACParms*>(params);
      const vmk_uint8* m = p->mac;
      TAMSIL_DBG(a, TAMSIL_DBG_SRIOV, TAMSIL_LOG_LEVEL_INFO2,
                 "VMK_NETPTOP_VF_SET_MAC invoked.. vf_idx=%d  mac=%02x:%02x:%02x:%02x:%02x:%02x\n", (int)p->vfID,
                 m[0], m[1], m[2], m[3], m[4], m[5]);
      // The kernel's requests come on several threads: the check for a
      // MAC held by another VF and the change must not interleave (nor
      // the privilege read and write-back of two VLAN requests).
      vmk_SemaLock(&a->pmac_lock);
      VMK_ReturnStatus st = vfSetMac(a, p);
      vmk_SemaUnlock(&a->pmac_lock);
      return st;
    }
    case VMK_NETPTOP_VF_SET_RX_MODE: {
      const vmk_NetVFRXModeParms* p = static_cast<const vmk_NetVFRXModeParms*>(params);
      TAMSIL_ERR(a,
                 "vf_id=%d flags: ucast %d mcast %d bcast %d allmulti %d promiscuous %d Changing RX mode of the VF "
                 "after initialization is not currently supported by PF driver \n",
                 (int)p->vfID, p->unicast, p->multicast, p->broadcast, p->allmulti, p->promiscuous);
      return VMK_NOT_SUPPORTED;
    }
    case VMK_NETPTOP_VF_SET_DEFAULT_VLAN: {
      const vmk_NetVFDefaultVLANParms* p = static_cast<const vmk_NetVFDefaultVLANParms*>(params);
      TAMSIL_DBG(a, TAMSIL_DBG_SRIOV, TAMSIL_LOG_LEVEL_INFO2,
                 "VMK_NETPTOP_VF_SET_DEFAULT_VLAN invoked.. enable=%d  vf_idx=%d vid=%d prio=%d\n", p->enable,
                 p->vfID, p->vid, p->prio);
      vmk_SemaLock(&a->pmac_lock);
      VMK_ReturnStatus st = tamsil_setVFVLAN(a, p->enable, p->vfID, p->vid, p->prio);
      vmk_SemaUnlock(&a->pmac_lock);
      return st == VMK_OK ? VMK_OK : VMK_FAILURE;
    }
    default:
      TAMSIL_ERR(a, "Unhandled OP %d\n", (int)op);
      return VMK_FAILURE;
  }
}

VMK_ReturnStatus tamsil_setVFVLAN(Adapter* a, vmk_uint8 enable, vmk_uint16 vf, vmk_uint16 vid, vmk_uint8 prio) {
  TAMSIL_DBG(a, TAMSIL_DBG_SRIOV, TAMSIL_LOG_LEVEL_INFO2,
             "tamsil_setVFVLAN Entry - enable=%d vf_idx=%d vf_if_handle=%d pvid=%d qos=%d\n", enable, vf,
             vf < a->num_vfs ? (int)a->vf_cfg[vf].if_handle : -1, vid, prio);
  if (a->num_vfs == 0) return kStatusNoVfs;
  if (vf >= a->num_vfs || (enable && vid > kMaxVlanId)) return VMK_BAD_PARAM;
  VfRecord* r = &a->vf_cfg[vf];
  vmk_uint8 dom = vfDomain(vf);
  vmk_uint32 st = tamsil_cmdSetHswConfig(a, kPvidClear, dom, r->if_handle);
  if (st != 0) TAMSIL_ERR(a, "tamsil_cmdSetHswConfig failed for vf_idx(=%d) with status 0x%x\n", (int)vf, st);
  if (vfRules(a).vlanFilter) tamsil_clearVFVLANTags(a, vf);
  vmk_uint32 priv = 0;
  st = tamsil_cmdGetFnPrivileges(a, &priv, dom);
  if (st != 0) {
    TAMSIL_ERR(a, "Getting Privilege for VF %d failed status = %d\n", (int)dom, (int)st);
    return st;
  }
  // While the PF enforces a port VLAN the VF may not choose its own.
  st = vfPrivVlan(a, vf, priv, !enable, "Setting");
  if (st != 0) return st;
  if (!enable) {
    r->pvlan_enabled = 0;
    r->pvlan_id = kPvidNone;
    return VMK_OK;
  }
  if (vid != 0) {
    st = tamsil_cmdSetHswConfig(a, vid, dom, r->if_handle);
    if (st != 0) TAMSIL_ERR(a, "tamsil_cmdSetHswConfig Failed for vf_idx(=%d) with status 0x%x\n", (int)vf, st);
  }
  r->pvlan_enabled = 1;
  r->pvlan_id = vid;
  return VMK_OK;
}

vmk_uint32 tamsil_clearVFVLANTags(Adapter* a, vmk_uint32 vf) {
  vmk_uint32 st = tamsil_cmdVlanConfig(a, a->vf_cfg[vf].if_handle, nullptr, 0, 1, false, vfDomain(vf));
  if (st != 0) TAMSIL_ERR(a, "tamsil_cmdVlanConfig failed for vf_idx(=%d) with status 0x%x\n", (int)vf, st);
  return st;
}

VMK_ReturnStatus tamsil_removeVFDevice(vmk_PCIDevice vf) {
  TAMSIL_MOD_DBG(TAMSIL_DBG_SRIOV, TAMSIL_LOG_LEVEL_INFO2, "VF device:%p\n", (void*)vf);
  VMK_ReturnStatus st = vmk_PCIUnregisterVF(vf);
  if (st != VMK_OK) TAMSIL_MOD_ERR("VF device:%p unregister failed\n", (void*)vf);
  return st;
}

// After a reset of the function the firmware holds nothing of the VFs: the
// VF devices stay registered with the kernel, their interfaces, enables and
// MACs are made again, and a MAC or port VLAN the kernel set comes back.
VMK_ReturnStatus tamsil_reconfigureVFs(Adapter* a) {
  for (vmk_uint32 i = 0; i < a->num_vfs; i++) {
    if (tamsil_hasTrait(a, TAMSIL_GT_VF_ENABLE_CMD)) tamsil_cmdEnableVF(a, vfDomain(i));
    const vmk_uint32 st = vfCreateInterface(a, i);
    if (st != 0) return st;
  }
  // What the kernel chose outlives the firmware's loss.
  vmk_uint8 kernelMac[TAMSIL_MAX_VFS][6];
  for (vmk_uint32 i = 0; i < a->num_vfs; i++) memcpy(kernelMac[i], a->vf_cfg[i].mac, 6);
  VMK_ReturnStatus st = tamsil_configureVFs(a);
  if (st != VMK_OK) return st;
  for (vmk_uint32 i = 0; i < a->num_vfs; i++) {
    VfRecord* r = &a->vf_cfg[i];
    if (!macIsZero(kernelMac[i]) && memcmp(kernelMac[i], r->mac, 6) != 0) {
      vmk_NetVFMACParms p;
      memset(&p, 0, sizeof p);
      p.vfID = i;
      memcpy(p.mac, kernelMac[i], 6);
      if (vfSetMac(a, &p) != VMK_OK) TAMSIL_ERR(a, "VF MAC address restore failed for vf_idx(=%d)\n", (int)i);
    }
    if (r->pvlan_enabled && tamsil_setVFVLAN(a, 1, (vmk_uint16)i, r->pvlan_id, 0) != VMK_OK)
      TAMSIL_ERR(a, "VF port VLAN restore failed for vf_idx(=%d)\n", (int)i);
  }
  return VMK_OK;
}
