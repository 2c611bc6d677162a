// SR-IOV sizing and enabling of virtual functions.
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_gen.h"

/* ------------------------------------------------------------------------ */
/* SR-IOV sizing and enabling                                                */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_sriovConfig(Adapter* a) {
  ResourceLimits l;
  memset(&l, 0, sizeof l);
  vmk_uint32 st = tamsil_cmdGetProfileConfig(a, 0, 0, &l);
  if (st != 0) return st;
  // The whole record: detach gives it back to the firmware.
  a->sriov.profile_limits = l;
  a->sriov.limits_saved = 1;
  a->sriov.profile_res.max_vfs = l.max_vfs;
  a->sriov.profile_res.max_rx_qs = l.max_rx_qs;
  a->sriov.profile_res.max_tx_qs = l.max_tx_qs;
  a->sriov.profile_res.max_rss_qs = l.max_rss_qs;
  a->sriov.profile_res.max_evt_qs = l.max_evt_qs;
  a->sriov.profile_res.uc_mac = l.max_uc_mac;
  a->sriov.profile_res.if_cap_flags = l.cap_flags2;
  if (a->features & TAMSIL_FEAT_SRIOV) {
    if ((vmk_int32)l.max_vfs < a->max_vfs) a->max_vfs = (vmk_int32)l.max_vfs;
    return tamsil_cmdSetSriovConfig(a, (vmk_uint16)a->max_vfs, &l);
  }
  a->max_vfs = 0;
  return VMK_OK;
}

void tamsil_enableVFs(Adapter* a) {
  vmk_uint8 m = a->function_mode;
  if (m == 2 || m == 4 || m == 6 || m == 7 || m == 10) {
    TAMSIL_ERR(a, "VFs cannot be enabled in multi-channel mode\n");
    return;
  }
  if (!(a->features & TAMSIL_FEAT_SRIOV)) {
    TAMSIL_ERR(a, "SR-IOV capability is not enabled for this adapter\n");
    return;
  }
  vmk_uint16 n = (vmk_uint16)a->max_vfs;
  if (n == 0 || vmk_PCIEnableVFs(tamsilDriver.module_id, a->pci_device, &n) != VMK_OK) {
    TAMSIL_ERR(a, "vmk_PCIEnableVFs() failed for adapter\n");
    return;
  }
  TAMSIL_MOD_DBG(TAMSIL_DBG_SRIOV, TAMSIL_LOG_LEVEL_INFO2, "vmk_PCIEnableVFs() success - num_vfs=%d\n", n);
  a->num_vfs = n;
  if (tamsil_hasTrait(a, TAMSIL_GT_VF_ENABLE_CMD))
    for (vmk_uint32 vf = 1; vf <= a->num_vfs; vf++) tamsil_cmdEnableVF(a, (vmk_uint8)vf);
}

void tamsil_destroyVF(Adapter* a, vmk_uint32 i) {
  if (a->vf_cfg == nullptr) return;
  VfRecord* vf = &a->vf_cfg[i];
  if (vf->if_handle == 0) return;
  vmk_uint8 dom = (vmk_uint8)(i + 1);
  if (vf->pmac_id != 0xFFFFFFFFu) {
    vmk_uint32 st = !tamsil_hasTrait(a, TAMSIL_GT_MAC_LIST) ? tamsil_cmdPmacDel(a, vf->if_handle, vf->pmac_id, dom)
                                                          : tamsil_cmdSetMacList(a, nullptr, 0, dom);
    if (st != 0) {
      TAMSIL_ERR(a, "VF mac Deletion failed for vf_idx(=%d)\n\n", (int)i);
      return;
    }
  }
  vf->pmac_id = 0xFFFFFFFFu;
  if (tamsil_cmdIfDestroy(a, vf->if_handle, dom) != 0) TAMSIL_ERR(a, "VF cmdIfDestroy failed for vf_idx(=%d)\n", (int)i);
  vf->if_handle = 0;
}

void tamsil_disableVFs(Adapter* a) {
  if (a->num_vfs == 0) return;
  for (vmk_uint32 i = 0; i < a->num_vfs; i++) tamsil_destroyVF(a, i);
  if (vmk_PCIDisableVFs(tamsilDriver.module_id, a->pci_device) != VMK_OK) TAMSIL_ERR(a, "Disable VFs failed\n");
  a->num_vfs = 0;
}

