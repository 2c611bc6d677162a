// VXLAN set-up: the tunnel port in the firmware profile, the filter table
// and the tunnel interface of the default ring.
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_netq.h"

/* ------------------------------------------------------------------------ */
/* VXLAN                                                                     */
/* ------------------------------------------------------------------------ */

vmk_uint32 tamsil_setCommonProfileConfig(Adapter* a, vmk_uint16 port) {
  if (port == 0) return 0;
  vmk_uint8 desc[88];
  memset(desc, 0, sizeof desc);
  vmk_uint32 w0 = 0xC0005855u, w1 = a->pf_num & 0x3Fu, w2 = 23u | ((vmk_uint32)port << 16);
  memcpy(desc + 0, &w0, 4);
  memcpy(desc + 4, &w1, 4);
  memcpy(desc + 8, &w2, 4);
  vmk_uint32 st = tamsil_cmdSetProfileConfig(a, desc, sizeof desc, 1, 1, 0);
  if (st != 0) {
    TAMSIL_ERR(a, "vxlanSetup Failed, vxlan offload may not work\n");
    return st;
  }
  a->vxlan_port = port;
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "vxlanSetup successful\n");
  return 0;
}

static void releaseVxlanTable(Adapter* a) {
  if (a->vxlan_table != VMK_INVALID_HASH_HANDLE) {
    vmk_HashDeleteAll(a->vxlan_table);
    vmk_HashRelease(a->vxlan_table);
  }
  a->vxlan_table = VMK_INVALID_HASH_HANDLE;
  a->features &= ~TAMSIL_FEAT_VXLAN_OFFLOAD;
}

vmk_uint32 tamsil_vxlanSetup(Adapter* a) {
  vmk_uint16 nbo = vmk_UplinkVXLANPortNBOGet();
  vmk_uint16 port = (vmk_uint16)((nbo >> 8) | (nbo << 8));
  if (port == 0) port = TAMSIL_DEFAULT_VXLAN_PORT;
  if (a->num_vfs > 0) {
    TAMSIL_ERR(a, "vxlan offload cannot be enabled on SR-IOVenabled adapter\n");
    return VMK_FAILURE;
  }
  TAMSIL_DBG(a, TAMSIL_DBG_VXLAN, TAMSIL_LOG_LEVEL_INFO2, "vxlanUdpPort=0x%x\n", port);
  vmk_HashProperties hp;
  memset(&hp, 0, sizeof hp);
  hp.moduleID = tamsilDriver.module_id;
  hp.heapID = tamsilDriver.heap_id;
  hp.keyType = VMK_HASH_KEY_TYPE_OPAQUE;
  hp.keyFlags = VMK_HASH_KEY_FLAGS_LOCAL_COPY;
  hp.keySize = 4;
  hp.nbEntries = 64;
  VMK_ReturnStatus hs = vmk_HashAlloc(&hp, &a->vxlan_table);
  if (hs != VMK_OK) {
    a->vxlan_table = VMK_INVALID_HASH_HANDLE;
    TAMSIL_ERR(a, "Initialization of vxlanHashTable failed, status: 0x%x\n", hs);
    return hs;
  }
  TAMSIL_DBG(a, TAMSIL_DBG_VXLAN, TAMSIL_LOG_LEVEL_INFO2, "Allocation of vxlanHashTable successful\n");
  vmk_uint32 st = tamsil_setCommonProfileConfig(a, port);
  if (st == 0 && a->msix_enabled) {
    a->features |= TAMSIL_FEAT_VXLAN_OFFLOAD;
    vmk_uint32 fid = 0;
    vmk_uint32 fs = tamsil_cmdManageIfaceFiltersCreate(a, 1, a->default_rx_if, 0, nullptr, 0, &fid);
    if (fs != 0) {
      TAMSIL_ERR(a,
                 "Unable to create tunnelRx_If status: 0x%x, steering of vxlan rx packets to netqueues will not "
                 "work\n",
                 fs);
      return fs;
    }
    TAMSIL_DBG(a, TAMSIL_DBG_VXLAN, TAMSIL_LOG_LEVEL_INFO2,
               "Successful conversion of Normal to Tunnel Interface for Default ring RxIf: %d\n", a->default_rx_if);
    return 0;
  }
  releaseVxlanTable(a);
  return st;
}

void tamsil_vxlanClear(Adapter* a, vmk_uint8 freeNodes) {
  if (a->vxlan_table == VMK_INVALID_HASH_HANDLE) return;
  if (freeNodes) {
    vmk_AddrCookie data;
    data.ptr = a;
    vmk_HashKeyIterate(a->vxlan_table, tamsil_vxlanHashTableIterator, data);
  }
  for (vmk_uint32 i = 0; i < TAMSIL_MAX_VECTORS; i++) a->rxo[i].tunnel_mode = 0;
  releaseVxlanTable(a);
}
