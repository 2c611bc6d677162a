// The configuration read at attach and reset: resources, the RSS decision
// and the queue budget.
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_gen.h"

/* ------------------------------------------------------------------------ */
/* Configuration read and queue budget                                       */
/* ------------------------------------------------------------------------ */

vmk_uint32 tamsil_getMaxKernelAllowedQueues(Adapter* a, vmk_uint32 n) {
  vmk_uint32 tx = 0, rx = 0;
  VMK_ReturnStatus st = vmk_UplinkQueueSupportQuery(n, n, &tx, &rx);
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "Could not determine number of queues to be exposed\n");
    return 0;
  }
  TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "Max Queues Allowed Tx=%u, Rx=%u\n", tx, rx);
  return rx;
}

// Records the RSS and DRSS ring counts granted; a kind left with no ring
// stops being configured.
void tamsil_setRssRings(Adapter* a, vmk_uint16 rss, vmk_uint16 drss) {
  a->rss = rss;
  a->drss = drss;
  a->res.max_rss_qs = rss;
  a->res.max_drss_qs = drss;
  if (rss == 0) a->features &= ~TAMSIL_FEAT_RSS;
  if (drss == 0) a->features &= ~TAMSIL_FEAT_DRSS;
}

vmk_uint16 tamsil_getQCount(Adapter* a, vmk_int32* available, vmk_uint16 wanted, vmk_uint16 minimum,
                            const char* name) {
  if (wanted == 0) return 0;
  if (*available > 0 && wanted < *available) {
    *available -= wanted;
    return wanted;
  }
  if (*available > 0 && *available >= minimum) {
    vmk_uint16 grant = (vmk_uint16)*available;
    *available = 0;
    if (grant < wanted)
      TAMSIL_WARN(a, "Reducing %s Queues to %d due to insufficient availability of resources\n", name, grant);
    return grant;
  }
  TAMSIL_WARN(a, "%s cannot be supported as sufficient Firmware/Kernel resources are not available\n", name);
  return 0;
}

// A 1 Gb/s port of a generation whose ports above 1 are.
static bool is1GPort(const Adapter* a) { return tamsil_hasTrait(a, TAMSIL_GT_1G_PORTS) && a->port_num > 1; }

// VFs asked for on a generation where they take the RSS rings.
static bool vfsTakeRss(const Adapter* a) { return tamsil_hasTrait(a, TAMSIL_GT_NO_RSS_WITH_VFS) && a->max_vfs > 0; }

static vmk_uint16 defaultNetQueues(Adapter* a) {
  if (is1GPort(a) || vfsTakeRss(a)) return 1;
  return a->function_mode < 2 ? 8 : 4;
}

static void copyLimits(Adapter* a, const ResourceLimits* l) {
  a->res.max_vfs = l->max_vfs;
  a->res.max_tx_qs = l->max_tx_qs;
  a->res.max_rx_qs = l->max_rx_qs;
  a->res.max_rss_qs = l->max_rss_qs;
  a->res.max_cq_count = l->max_cq_count;
  a->res.uc_mac = l->max_uc_mac;
  a->res.max_vlans = l->max_vlans;
  a->res.max_evt_qs = l->max_evt_qs;
  a->res.max_evt_qs_total = l->max_evt_qs;
  a->res.if_cap_flags = l->cap_flags;
  a->res.max_iface_count = l->max_iface_count;
  a->res.max_mcc_count = l->max_mcc_count;
}

// The RSS decision: refuses RSS with the reason, or settles rss and drss.
static void rssDecision(Adapter* a, vmk_uint16* netqs) {
  bool refuse = true;
#define TAMSIL_RSS_MSG(fmt) tamsil_logLine(VMK_LOG_URGENCY_WARNING, TAMSIL_LOG_LEVEL_INFO, true, a, "tamsil_isRssSupported", __LINE__, fmt)
  if (a->rss == 0 && a->drss == 0) {
    TAMSIL_RSS_MSG("RSS/DRSS is not enabled by user.\n");
  } else if (!msix) {
    TAMSIL_RSS_MSG("RSS cannot be supported when msix is disabled.\n");
  } else if (!(a->res.if_cap_flags & 0x4) || a->res.max_rss_qs < 4) {
    TAMSIL_RSS_MSG("RSS is not supported on this interface.\n");
  } else if (is1GPort(a)) {
    TAMSIL_RSS_MSG("RSS cannot be supported on 1G interface\n");
  } else if (vfsTakeRss(a)) {
    TAMSIL_RSS_MSG("RSS cannot be supported on this interface as VFs are created\n");
  } else if (a->kernel_max_queues <= 7) {
    TAMSIL_RSS_MSG("RSS cannot be supported as the host does not have minimum required CPUs.\n");
  } else if (a->fw_max_queues <= 7) {
    TAMSIL_RSS_MSG("RSS cannot be supported as sufficient Firmware resources are not available\n");
  } else {
    refuse = false;
  }
  if (refuse) {
    a->rss = a->drss = 0;
    a->res.max_rss_qs = a->res.max_drss_qs = 0;
    *netqs = defaultNetQueues(a);
    return;
  }
  if (a->res.if_cap_flags & 0x1000000) a->features |= TAMSIL_FEAT_RSS_IF_FLAG;
  if (a->rss == -1 && a->drss >= 1) a->drss_first = 1;
  bool keepN = (a->rss == -1 && a->drss == 0) || (a->rss == 0 && a->drss == -1) || (a->rss == -1 && a->drss == -1);
  if (!keepN) *netqs = 4;
  if (a->rss == -1) a->rss = 4;
  if (a->drss == -1) a->drss = 4;
  a->res.max_rss_qs = (vmk_uint16)a->rss;
  a->res.max_drss_qs = (vmk_uint16)a->drss;
  if (a->rss != 0) a->features |= TAMSIL_FEAT_RSS;
  if (a->drss != 0) a->features |= TAMSIL_FEAT_DRSS;
  if (tamsil_hasTrait(a, TAMSIL_GT_RSS_OR_DRSS) && a->rss != 0 && a->drss != 0) {
    if (a->drss_first) {
      TAMSIL_RSS_MSG("on KS3, RSS cannot be supported along  with DRSS. Disabling RSS.!\n");
      a->rss = 0;
      a->res.max_rss_qs = 0;
      a->features &= ~TAMSIL_FEAT_RSS;
    } else {
      TAMSIL_RSS_MSG("on KS3, RSS cannot be supported along  with DRSS. Disabling DRSS.!\n");
      a->drss = 0;
      a->res.max_drss_qs = 0;
      a->features &= ~TAMSIL_FEAT_DRSS;
    }
  }
#undef TAMSIL_RSS_MSG
}

VMK_ReturnStatus tamsil_getConfig(Adapter* a) {
  vmk_uint32 st = tamsil_cmdQueryFwCfg(a);
  if (st != 0) return st;
  st = tamsil_cmdGetCntlAttributes(a);
  if (st != 0) return st;
  st = tamsil_sriovConfig(a);
  if (st != 0 && st != 2) return st;
  st = 0;

  a->kernel_max_queues = tamsil_getMaxKernelAllowedQueues(a, TAMSIL_KERNEL_QUEUE_ASK);
  const tamsil_genTraits* t = tamsil_traitsOf(a);
  if (t->flags & TAMSIL_GT_PROFILE_RESOURCES) {
    ResourceLimits l;
    memset(&l, 0, sizeof l);
    vmk_uint32 pst = tamsil_cmdGetProfileConfig(a, 0, 0, &l);
    if (pst == 2) {
      tamsil_logLine(VMK_LOG_URGENCY_NORMAL, TAMSIL_LOG_LEVEL_INFO, true, a, "tamsil_getKSxResources", __LINE__,
                     "get_profile_config failed, switching to config and resources ioctl on older firmware\n");
      memset(&l, 0, sizeof l);
      st = tamsil_getConfigResources(a);
      if (st != 0) TAMSIL_ERR(a, "get configuration_and_resources ioctl failed\n");
      if (a->fw_caps & 0x20000)
        a->function_mode = 4;
      else if (a->fw_caps & 0x400)
        a->function_mode = 3;
      else if (a->fw_caps & 0x1000000)
        a->function_mode = 2;
      else
        a->function_mode = 1;
    } else {
      st = pst;
    }
    if (is1GPort(a)) a->function_mode = 1;
    if (t->profile_max_vfs != 0 && (a->features & TAMSIL_FEAT_SRIOV)) {
      l.max_vfs = t->profile_max_vfs;
      if (a->max_vfs > (vmk_int32)t->profile_max_vfs) a->max_vfs = t->profile_max_vfs;
    }
    l.max_uc_mac = t->profile_uc_mac;
    if (t->profile_rss_qs != 0) l.max_rss_qs = t->profile_rss_qs;
    if (a->function_mode > 1) l.max_uc_mac /= 4;
    if (l.max_rx_qs == 0 || l.max_tx_qs == 0 || l.max_evt_qs == 0) {
      vmk_uint16 q = (a->profile_desc_seen || a->function_mode >= 2) ? 8 : 16;
      l.max_rx_qs = l.max_tx_qs = l.max_evt_qs = q;
    }
    copyLimits(a, &l);
  } else {
    ResourceLimits l;
    memset(&l, 0, sizeof l);
    st = tamsil_cmdGetFuncConfig(a, &l);
    if (st != 0) return st;
    copyLimits(a, &l);
    a->res.max_vfs = (vmk_uint16)a->max_vfs;
    a->res.max_evt_qs = (vmk_uint16)(a->res.max_evt_qs_total - tamsil_getRoceVecShare(a, a->res.max_evt_qs_total));
  }

  vmk_uint32 fwMax = a->res.max_rx_qs;
  if (a->res.max_tx_qs < fwMax) fwMax = a->res.max_tx_qs;
  if (a->res.max_evt_qs < fwMax) fwMax = a->res.max_evt_qs;
  a->fw_max_queues = fwMax;
  vmk_uint32 budget = a->kernel_max_queues < fwMax ? a->kernel_max_queues : fwMax;
  // The per-vector arrays hold TAMSIL_MAX_VECTORS entries: never plan more.
  if (budget > TAMSIL_MAX_VECTORS) budget = TAMSIL_MAX_VECTORS;

  vmk_uint16 netqs = defaultNetQueues(a);
  // NetQueues may give up rings to RSS, but take back what the RSS kinds
  // leave over, up to the default count.
  const vmk_uint16 netqWanted = netqs;
  rssDecision(a, &netqs);

  vmk_int32 avail = (vmk_int32)budget;
  vmk_uint16 gotNetq = tamsil_getQCount(a, &avail, netqs, 0, "NetQueue");
  if (a->features & (TAMSIL_FEAT_RSS | TAMSIL_FEAT_DRSS)) {
    vmk_uint16 r, d;
    if (a->drss_first) {
      d = tamsil_getQCount(a, &avail, (vmk_uint16)a->drss, 2, "DRSS");
      r = tamsil_getQCount(a, &avail, (vmk_uint16)a->rss, 2, "RSS");
    } else {
      r = tamsil_getQCount(a, &avail, (vmk_uint16)a->rss, 2, "RSS");
      d = tamsil_getQCount(a, &avail, (vmk_uint16)a->drss, 2, "DRSS");
    }
    tamsil_setRssRings(a, r, d);
  }
  vmk_uint32 nq = gotNetq + (avail > 0 ? (vmk_uint32)avail : 0);
  if (nq > netqWanted) nq = netqWanted;
  TAMSIL_MOD_DBG(TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "netqueues: %d, drssqs: %d rssqs: %d\n", (int)nq,
                 a->drss, a->rss);
  vmk_uint32 total = nq + (vmk_uint32)(a->rss > 0 ? a->rss : 0) + (vmk_uint32)(a->drss > 0 ? a->drss : 0);
  if (total > TAMSIL_MAX_VECTORS) total = TAMSIL_MAX_VECTORS;
  if (st == 0 && total == 0) {
    tamsil_logLine(VMK_LOG_URGENCY_ALERT, TAMSIL_LOG_LEVEL_ERR, true, a, "tamsil_getResources", __LINE__,
                   "Firmware specified insufficient number of queues max_tx_qs:%d max_rx_qs:%d max_evt_qs:%d\n",
                   a->res.max_tx_qs, a->res.max_rx_qs, a->res.max_evt_qs);
    st = VMK_FAILURE;
  } else if (total > 0) {
    a->res.max_evt_qs = a->res.max_rx_qs = (vmk_uint16)total;
    a->res.max_tx_qs = t->max_tx_qs != 0 ? t->max_tx_qs : (vmk_uint16)total;
  }
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2,
             "max_vfs: %d uc_mac: %d max_tx_qs: %d max_rx_qs: %d(max_rss_qs: %d, max_drss_qs: %d)max_evt_qs: %d\n",
             a->max_vfs, a->res.uc_mac, a->res.max_tx_qs, a->res.max_rx_qs, a->res.max_rss_qs, a->res.max_drss_qs,
             a->res.max_evt_qs);
  if (st != 0) {
    TAMSIL_ERR(a, "tamsil_getResources init failed with status 0x%x\n", st);
    return st;
  }
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "1G Port Capability: %s\n",
             is1GPort(a) ? "True" : "False");
  if (t->flags & TAMSIL_GT_FUNC_CAP) tamsil_cmdCheckFunctionCap(a);
  tamsil_cmdGetAcpiWolCap(a);
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "wolCap=0x%x wol=%d\n", a->wol_cap, a->wol_enabled);
  return VMK_OK;
}
