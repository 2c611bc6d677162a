// The management channel "tamsilMgmtToKernel": synchronous callbacks that
// user-space clients send to one function, named by its PCI name, or to the
// driver as a whole (the function lists).
#include "tamsil_mgmt.h"

#include <cstddef>
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_stats.h"

static_assert(sizeof(MgmtRequestHeader) == TAMSIL_MGMT_HEADER_SIZE);
static_assert(sizeof(tamsil_mgmtSbdfEntry) == 48);
static_assert(sizeof(tamsil_mgmtSbdfList) == 1540);
static_assert(sizeof(tamsil_mgmtSbdfListV1) == 38404);
static_assert(sizeof(tamsil_mgmtDrvInfo) == 785);
static_assert(sizeof(tamsil_mgmtLinkStatus) == 167);
static_assert(sizeof(tamsil_mgmtDriverInfo) == 192);
static_assert(sizeof(tamsil_mgmtWolState) == 24);
static_assert(sizeof(tamsil_mgmtCoalesce) == 16);
static_assert(sizeof(tamsil_mgmtFatChunk) == 64008);
static_assert(sizeof(tamsil_mgmtCfgRead) == 264);

namespace {

// Requests between their table look-up and their count in mgmt_in_flight.
// Detach waits for this to drain after taking its entry out of the table, so
// a request that found the entry is counted before the Adapter can go.
vmk_atomic64 lookupsInFlight;

struct LookupWindow {
  LookupWindow() { vmk_AtomicInc64(&lookupsInFlight); }
  ~LookupWindow() { vmk_AtomicDec64(&lookupsInFlight); }
  LookupWindow(const LookupWindow&) = delete;
  LookupWindow& operator=(const LookupWindow&) = delete;
};

// Copies a text into a fixed field, leaving at least one NUL at its end (the
// field was cleared).
template <size_t N, size_t M>
void putText(char (&dst)[N], const char (&src)[M]) {
  memcpy(dst, src, strnlen(src, (M < N ? M : N) - 1));
}

bool isPivard(const Adapter* a) { return (a->asic_gen & TAMSIL_ASIC_PIVARD) != 0; }

// The frame every per-function callback runs in: look the Adapter up and
// count the request in mgmt_in_flight while the work runs. A quiesced,
// resetting or detaching device is refused as busy.
class Request {
 public:
  Request(vmk_MgmtCookie cookie, void* header, void* buffer) {
    MgmtRequestHeader* h = static_cast<MgmtRequestHeader*>(header);
    LookupWindow w;
    a_ = tamsil_mgmtGetAdapter(cookie, h, buffer);
    if (a_ == nullptr) {
      status_ = h != nullptr ? static_cast<VMK_ReturnStatus>(h->status) : VMK_BAD_PARAM;
      return;
    }
    status_ = tamsil_mgmtEnter(a_);
    if (status_ != VMK_OK) {
      TAMSIL_DBG(a_, TAMSIL_DBG_MGMT, TAMSIL_LOG_LEVEL_INFO, "Device is quiesced: request refused\n");
      a_ = nullptr;
    }
  }
  ~Request() {
    if (a_ != nullptr) tamsil_mgmtLeave(a_);
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  Adapter* adapter() const { return a_; }
  VMK_ReturnStatus status() const { return status_; }

 private:
  Adapter* a_ = nullptr;
  VMK_ReturnStatus status_ = VMK_OK;
};

#define TAMSIL_MGMT_ENTRY() TAMSIL_MOD_ENTRY(TAMSIL_DBG_MGMT)

// Runs `work` on the request's Adapter inside the frame; without one, the
// look-up's answer.
template <class Work>
VMK_ReturnStatus serve(vmk_MgmtCookie cookie, void* header, void* buffer, Work work) {
  Request r(cookie, header, buffer);
  if (r.adapter() == nullptr) return r.status();
  return work(r.adapter());
}

/* ---- Statistics ---------------------------------------------------------- */

VMK_ReturnStatus privStats(vmk_MgmtCookie cookie, void* header, void* buffer, vmk_uint32 size) {
  TAMSIL_MGMT_ENTRY();
  // All of it, whatever the answer: an output buffer goes back to user space
  // whole.
  if (buffer != nullptr) memset(buffer, 0, size);
  Request r(cookie, header, buffer);
  Adapter* a = r.adapter();
  if (a == nullptr) {
    if (buffer != nullptr && r.status() == VMK_NOT_FOUND) {
      static const char kText[] = TAMSIL_MGMT_INVALID_SBDF_TEXT;
      memcpy(buffer, kText, sizeof kText);
    }
    return r.status();
  }
  vmk_uint32 want = static_cast<MgmtRequestHeader*>(header)->length;
  if (want > size) want = size;
  tamsil_mgmtStatsGet(a, static_cast<char*>(buffer), want);
  return VMK_OK;
}

VMK_ReturnStatus tamsil_mgmtGetPrivStatsCB(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                           void* buffer) {
  return privStats(cookie, header, buffer, TAMSIL_MGMT_PRIV_STATS_SIZE);
}

VMK_ReturnStatus tamsil_mgmtGetPrivStatsCBV1(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                             void* buffer) {
  return privStats(cookie, header, buffer, TAMSIL_MGMT_PRIV_STATS_V1_SIZE);
}

VMK_ReturnStatus statTable(vmk_MgmtCookie cookie, void* header, void* buffer, vmk_uint32 mode, vmk_uint32 size) {
  TAMSIL_MGMT_ENTRY();
  return serve(cookie, header, buffer, [&](Adapter* a) -> VMK_ReturnStatus {
    memset(buffer, 0, size);
    tamsil_fillPrivStatsBuff(a, mode, buffer);
    return VMK_OK;
  });
}

VMK_ReturnStatus tamsil_mgmtCimGetStatCount(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                            void* buffer) {
  return statTable(cookie, header, buffer, TAMSIL_PSTATS_COUNT, 4);
}

VMK_ReturnStatus tamsil_mgmtCimGetStatStrings(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                              void* buffer) {
  return statTable(cookie, header, buffer, TAMSIL_PSTATS_NAMES, TAMSIL_MGMT_STAT_NAMES_SIZE);
}

VMK_ReturnStatus tamsil_mgmtCimGetStats(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                        void* buffer) {
  return statTable(cookie, header, buffer, TAMSIL_PSTATS_VALUES, TAMSIL_MGMT_STAT_VALUES_SIZE);
}

/* ---- Function lists -------------------------------------------------------- */

// Checks and the walk common to both lists; `list` is the full-size list.
VMK_ReturnStatus walkFunctions(MgmtRequestHeader* h, tamsil_mgmtSbdfListV1* list) {
  memset(list, 0, sizeof *list);
  vmk_AddrCookie data;
  data.ptr = list;
  VMK_ReturnStatus st;
  {
    // The walk reads the entries' uplink names: detach must not free one
    // under it.
    LookupWindow w;
    st = vmk_HashKeyIterate(tamsil_vmkdevHashTbl, tamsil_vmkdevHTableIterator, data);
  }
  if (st != VMK_OK) {
    if (h != nullptr) h->status = VMK_NOT_FOUND;
    TAMSIL_MOD_ERR("vmk_HashKeyIterate failed\n");
  }
  return st;
}

// The refusals both lists share; VMK_OK when the request may go on.
VMK_ReturnStatus checkListRequest(vmk_MgmtCookie cookie, MgmtRequestHeader* h, void* buffer) {
  if (cookie != TAMSIL_MGMT_COOKIE) {
    TAMSIL_MOD_ERR("cookie(0x%lx) != TAMSIL_MGMT_COOKIE(0x%x)\n", (unsigned long)cookie, TAMSIL_MGMT_COOKIE);
    if (h != nullptr) h->status = VMK_NOT_FOUND;
    return VMK_NOT_FOUND;
  }
  if (buffer == nullptr) {
    TAMSIL_MOD_ERR("mgmtSbdf is NULL\n");
    if (h != nullptr) h->status = VMK_NOT_FOUND;
    return VMK_NOT_FOUND;
  }
  return VMK_OK;
}

VMK_ReturnStatus tamsil_mgmtEnumerateSbdfV1CB(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                              void* buffer) {
  TAMSIL_MGMT_ENTRY();
  MgmtRequestHeader* h = static_cast<MgmtRequestHeader*>(header);
  VMK_ReturnStatus st = checkListRequest(cookie, h, buffer);
  if (st != VMK_OK) return st;
  return walkFunctions(h, static_cast<tamsil_mgmtSbdfListV1*>(buffer));
}

VMK_ReturnStatus tamsil_mgmtEnumerateSbdfCB(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                            void* buffer) {
  TAMSIL_MGMT_ENTRY();
  MgmtRequestHeader* h = static_cast<MgmtRequestHeader*>(header);
  VMK_ReturnStatus st = checkListRequest(cookie, h, buffer);
  if (st != VMK_OK) return st;
  vmk_uint64 allocated = 0;
  auto* full = static_cast<tamsil_mgmtSbdfListV1*>(tamsil_mpoolAlloc(sizeof(tamsil_mgmtSbdfListV1), &allocated));
  if (full == nullptr) {
    TAMSIL_MOD_ERR("mpoolAlloc failed for mgmtSbdfV1\n");
    if (h != nullptr) h->status = VMK_NOT_FOUND;
    return VMK_NOT_FOUND;
  }
  st = walkFunctions(h, full);
  auto* out = static_cast<tamsil_mgmtSbdfList*>(buffer);
  memcpy(out, full, sizeof *out);
  out->count = full->count < TAMSIL_MGMT_SBDF_MAX_V0 ? full->count : TAMSIL_MGMT_SBDF_MAX_V0;
  tamsil_mpoolFree(full, allocated);
  return st;
}

/* ---- Pass-through ------------------------------------------------------------ */

VMK_ReturnStatus tamsil_mgmtPassthroughCB(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                          void* buffer) {
  TAMSIL_MGMT_ENTRY();
  return serve(cookie, header, buffer, [&](Adapter* a) -> VMK_ReturnStatus {
    return static_cast<VMK_ReturnStatus>(tamsil_cmdPassthrough(a, buffer, TAMSIL_MGMT_PASSTHROUGH_SIZE));
  });
}

/* ---- Driver, link and device information ------------------------------------- */

VMK_ReturnStatus tamsil_mgmtDrvInfoCB(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header, void* buffer) {
  TAMSIL_MGMT_ENTRY();
  return serve(cookie, header, buffer, [&](Adapter* a) -> VMK_ReturnStatus {
    auto* o = static_cast<tamsil_mgmtDrvInfo*>(buffer);
    memset(o, 0, sizeof *o);
    vmk_uint32 n = a->vf_cfg != nullptr ? a->num_vfs : 0;
    if (n > TAMSIL_MAX_VFS) n = TAMSIL_MAX_VFS;
    o->num_vfs = static_cast<vmk_uint8>(n);
    const vmk_uint16 speed = static_cast<vmk_uint16>(a->link.link_speed / 10);
    for (vmk_uint32 i = 0; i < n; i++) {
      memcpy(o->vf[i].mac, a->vf_cfg[i].mac, 6);
      o->vf[i].pvid = static_cast<vmk_uint16>(a->vf_cfg[i].pvlan_id & 0xFFF);
      o->vf[i].speed = speed;
      o->vf[i].valid = 1;
    }
    o->link_down_reason = a->link.link_down_reason;
    o->link_state = static_cast<vmk_uint8>(a->shared_data.link.state);
    o->mtu = static_cast<vmk_uint16>(a->mtu);
    return VMK_OK;
  });
}

VMK_ReturnStatus tamsil_mgmtCimGetLinkState(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                            void* buffer) {
  TAMSIL_MGMT_ENTRY();
  return serve(cookie, header, buffer, [&](Adapter* a) -> VMK_ReturnStatus {
    vmk_uint32 state = a->shared_data.link.state;
    memcpy(buffer, &state, sizeof state);
    return VMK_OK;
  });
}

VMK_ReturnStatus tamsil_mgmtCimGetLinkStatus(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                             void* buffer) {
  TAMSIL_MGMT_ENTRY();
  return serve(cookie, header, buffer, [&](Adapter* a) -> VMK_ReturnStatus {
    auto* o = static_cast<tamsil_mgmtLinkStatus*>(buffer);
    memset(o, 0, sizeof *o);
    o->speed = a->shared_data.link.speed;
    o->duplex = a->shared_data.link.duplex;
    vmk_uint32 n = a->num_supported_modes;
    if (n > 16) n = 16;
    if (n > TAMSIL_MAX_LINK_MODES) n = TAMSIL_MAX_LINK_MODES;
    for (vmk_uint32 i = 0; i < n; i++) {
      o->modes[i].speed = a->supported_modes[i].speed;
      o->modes[i].duplex = a->supported_modes[i].duplex;
    }
    o->num_modes = n;
    o->port = static_cast<vmk_uint8>(a->port_num);
    const vmk_uint16 phy = a->link.phy_type;
    o->phy = (phy == 4 || phy == 5 || phy == 11 || phy == 12) ? 0 : 1;
    o->full_duplex = a->shared_data.link.duplex == 2 ? 1 : 0;
    return VMK_OK;
  });
}

VMK_ReturnStatus tamsil_mgmtCimGetDriverInfo(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                             void* buffer) {
  TAMSIL_MGMT_ENTRY();
  return serve(cookie, header, buffer, [&](Adapter* a) -> VMK_ReturnStatus {
    auto* o = static_cast<tamsil_mgmtDriverInfo*>(buffer);
    memset(o, 0, sizeof *o);
    // Each text keeps a terminator inside its 32 bytes.
    putText(o->driver_name, a->uplink_reg.driver_name);
    putText(o->driver_version, a->uplink_reg.driver_version);
    putText(o->fw_version, a->uplink_reg.fw_version);
    putText(o->driver_type, a->uplink_reg.module_type);
    return VMK_OK;
  });
}

VMK_ReturnStatus tamsil_mgmtCimGetWolState(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                           void* buffer) {
  TAMSIL_MGMT_ENTRY();
  return serve(cookie, header, buffer, [&](Adapter* a) -> VMK_ReturnStatus {
    constexpr vmk_uint32 kMagic = 0x20;
    auto* o = static_cast<tamsil_mgmtWolState*>(buffer);
    memset(o, 0, sizeof *o);
    o->supported = a->wol_cap ? kMagic : 0;
    o->enabled = a->wol_cap && a->wol_enabled ? kMagic : 0;
    return VMK_OK;
  });
}

VMK_ReturnStatus tamsil_mgmtCimGetCoalesceParams(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                                 void* buffer) {
  TAMSIL_MGMT_ENTRY();
  return serve(cookie, header, buffer, [&](Adapter* a) -> VMK_ReturnStatus {
    auto* o = static_cast<tamsil_mgmtCoalesce*>(buffer);
    memset(o, 0, sizeof *o);
    o->rx_delay = o->tx_delay = a->eq_delay[0].cur_eqd;
    return VMK_OK;
  });
}

VMK_ReturnStatus tamsil_mgmtCimGetPermMac(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                          void* buffer) {
  TAMSIL_MGMT_ENTRY();
  return serve(cookie, header, buffer, [&](Adapter* a) -> VMK_ReturnStatus {
    memcpy(buffer, a->uplink_reg.perm_mac, 6);
    return VMK_OK;
  });
}

/* ---- Firmware log and dump ----------------------------------------------------- */

// A failed command is the client's answer: a dump stored from zeroed data
// would look whole.
VMK_ReturnStatus tamsil_mgmtGetFatDumpSize(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                           void* buffer) {
  return serve(cookie, header, buffer, [&](Adapter* a) -> VMK_ReturnStatus {
    vmk_uint32 len = 0;
    vmk_uint32 st = isPivard(a) ? tamsil_cmdGetFwDumpLen(a, &len) : tamsil_cmdGetFatRegLen(a, &len);
    if (st != 0) len = 0;
    memcpy(buffer, &len, sizeof len);
    return static_cast<VMK_ReturnStatus>(st);
  });
}

VMK_ReturnStatus tamsil_mgmtGetFatDump(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                       void* buffer) {
  return serve(cookie, header, buffer, [&](Adapter* a) -> VMK_ReturnStatus {
    auto* o = static_cast<tamsil_mgmtFatChunk*>(buffer);
    const vmk_uint32 offset = o->offset;
    // The client's length is held to the data area.
    vmk_uint32 length = o->length;
    if (length > TAMSIL_MGMT_FAT_DATA) length = TAMSIL_MGMT_FAT_DATA;
    memset(o->data, 0, sizeof o->data);
    // A read of nothing asks the firmware for the object's size, not for data.
    if (length == 0) return VMK_OK;
    vmk_uint32 st;
    if (isPivard(a)) {
      // The client's offsets count from 4: the dump object starts at 0.
      if (offset < 4) {
        TAMSIL_DBG(a, TAMSIL_DBG_MGMT, TAMSIL_LOG_LEVEL_INFO, "Invalid dump offset %u\n", offset);
        return VMK_BAD_PARAM;
      }
      st = tamsil_cmdGetFwDump(a, offset - 4, length, o->data);
    } else {
      st = tamsil_cmdGetFatRegs(a, offset, length, o->data);
    }
    if (st != 0) memset(o->data, 0, sizeof o->data);
    return static_cast<VMK_ReturnStatus>(st);
  });
}

/* ---- Debug mask ------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_mgmtGetSetDebugMask(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                            void* buffer) {
  TAMSIL_MGMT_ENTRY();
  return serve(cookie, header, buffer, [&](Adapter* a) -> VMK_ReturnStatus {
    vmk_uint32 mask;
    if (static_cast<MgmtRequestHeader*>(header)->operation == TAMSIL_MGMT_DEBUG_MASK_SET) {
      memcpy(&mask, buffer, sizeof mask);
      TAMSIL_DBG(a, TAMSIL_DBG_MGMT, TAMSIL_LOG_LEVEL_INFO, "Setting debugMask to 0x%x (old mask: 0x%x)\n", mask,
                 a->debug_mask);
      __atomic_store_n(&a->debug_mask, mask, __ATOMIC_RELAXED);
    } else {
      mask = __atomic_load_n(&a->debug_mask, __ATOMIC_RELAXED);
      TAMSIL_DBG(a, TAMSIL_DBG_MGMT, TAMSIL_LOG_LEVEL_INFO, "Current debugMask is 0x%x\n", mask);
      memcpy(buffer, &mask, sizeof mask);
    }
    return VMK_OK;
  });
}

/* ---- Pivard configuration space ------------------------------------------------------ */

VMK_ReturnStatus tamsil_mgmtPivardReadPcieCfgCB(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle, void* header,
                                                void* buffer) {
  auto* req = static_cast<tamsil_mgmtCfgRead*>(buffer);
  if (req == nullptr || req->length >= TAMSIL_MGMT_CFG_DATA) return VMK_BAD_PARAM;
  return serve(cookie, header, buffer, [&](Adapter* a) -> VMK_ReturnStatus {
    if (!isPivard(a)) return VMK_NOT_SUPPORTED;
    memset(req->data, 0, sizeof req->data);
    return tamsil_pivardReadCfg(a, req);
  });
}

#define TAMSIL_MGMT_CB(id, fn, size, type)                                                   \
  {VMK_MGMT_CALLBACK_LOCATION_KERNEL,                                                        \
   fn,                                                                                       \
   1,                                                                                        \
   2,                                                                                        \
   {VMK_MGMT_PARMTYPE_INOUT, type},                                                          \
   {TAMSIL_MGMT_HEADER_SIZE, size},                                                          \
   id}

vmk_MgmtCallbackInfo tamsil_mgmtCallbacks[] = {
    TAMSIL_MGMT_CB(16, tamsil_mgmtGetPrivStatsCB, TAMSIL_MGMT_PRIV_STATS_SIZE, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(17, tamsil_mgmtEnumerateSbdfCB, sizeof(tamsil_mgmtSbdfList), VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(18, tamsil_mgmtPassthroughCB, TAMSIL_MGMT_PASSTHROUGH_SIZE, VMK_MGMT_PARMTYPE_INOUT),
    TAMSIL_MGMT_CB(19, tamsil_mgmtDrvInfoCB, sizeof(tamsil_mgmtDrvInfo), VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(20, tamsil_mgmtCimGetLinkState, 4, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(21, tamsil_mgmtCimGetLinkStatus, sizeof(tamsil_mgmtLinkStatus), VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(22, tamsil_mgmtCimGetDriverInfo, sizeof(tamsil_mgmtDriverInfo), VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(23, tamsil_mgmtCimGetWolState, sizeof(tamsil_mgmtWolState), VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(24, tamsil_mgmtCimGetCoalesceParams, sizeof(tamsil_mgmtCoalesce), VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(25, tamsil_mgmtCimGetPermMac, 6, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(26, tamsil_mgmtCimGetStatCount, 4, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(27, tamsil_mgmtCimGetStatStrings, TAMSIL_MGMT_STAT_NAMES_SIZE, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(28, tamsil_mgmtCimGetStats, TAMSIL_MGMT_STAT_VALUES_SIZE, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(29, tamsil_mgmtGetFatDumpSize, 4, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(30, tamsil_mgmtGetFatDump, sizeof(tamsil_mgmtFatChunk), VMK_MGMT_PARMTYPE_INOUT),
    TAMSIL_MGMT_CB(31, tamsil_mgmtGetSetDebugMask, 4, VMK_MGMT_PARMTYPE_INOUT),
    TAMSIL_MGMT_CB(32, tamsil_mgmtEnumerateSbdfV1CB, sizeof(tamsil_mgmtSbdfListV1), VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(33, tamsil_mgmtPivardReadPcieCfgCB, sizeof(tamsil_mgmtCfgRead), VMK_MGMT_PARMTYPE_INOUT),
    TAMSIL_MGMT_CB(34, tamsil_mgmtGetPrivStatsCBV1, TAMSIL_MGMT_PRIV_STATS_V1_SIZE, VMK_MGMT_PARMTYPE_OUT),
};

}  // namespace

vmk_MgmtSignature tamsil_mgmtSignature = {
    VMK_REVISION_FROM_NUMBERS(1, 0, 0, 0),
    {"tamsilMgmtToKernel"},
    {"talvor"},
    sizeof tamsil_mgmtCallbacks / sizeof tamsil_mgmtCallbacks[0],
    tamsil_mgmtCallbacks,
};

Adapter* tamsil_mgmtGetAdapter(vmk_MgmtCookie cookie, MgmtRequestHeader* h, void* buffer) {
  TAMSIL_MGMT_ENTRY();
  if (cookie != TAMSIL_MGMT_COOKIE) {
    TAMSIL_MOD_ERR("cookie(0x%lx) != TAMSIL_MGMT_COOKIE(0x%x)\n", (unsigned long)cookie, TAMSIL_MGMT_COOKIE);
    if (h != nullptr) h->status = VMK_BAD_PARAM;
    return nullptr;
  }
  if (buffer == nullptr) {
    TAMSIL_MOD_ERR("Buffer is NULL\n");
    if (h != nullptr) h->status = VMK_BAD_PARAM;
    return nullptr;
  }
  if (h == nullptr) {
    TAMSIL_MOD_ERR("No uplink name (mgmtParm: %p)\n", (void*)h);
    return nullptr;
  }
  // The client's name need not be terminated.
  char name[sizeof h->name + 1];
  memcpy(name, h->name, sizeof h->name);
  name[sizeof h->name] = '\0';
  vmk_HashValue value = nullptr;
  VMK_ReturnStatus st = vmk_HashKeyFind(tamsil_vmkdevHashTbl, name, &value);
  if (st != VMK_OK || value == nullptr) {
    if (st == VMK_OK) st = VMK_NOT_FOUND;
    TAMSIL_MOD_ERR("%s: Failed to find node in vmkDevice table status: 0x%x\n", name, st);
    h->status = VMK_NOT_FOUND;
    return nullptr;
  }
  auto* node = static_cast<tamsil_vmkdevHashNode*>(value);
  if (node->device == nullptr) {
    TAMSIL_MOD_ERR("%s: No vmkDevice (node: %p)\n", name, (void*)node);
    h->status = VMK_NOT_FOUND;
    return nullptr;
  }
  vmk_AddrCookie data;
  data.ptr = nullptr;
  st = vmk_DeviceGetAttachedDriverData(node->device, &data);
  if (st != VMK_OK || data.ptr == nullptr) {
    if (st == VMK_OK) st = VMK_NOT_FOUND;
    TAMSIL_MOD_ERR("%s: vmk_DeviceGetAttachedDriverData failed with status: 0x%x\n", name, st);
    h->status = VMK_NOT_FOUND;
    return nullptr;
  }
  h->status = VMK_OK;
  return static_cast<Adapter*>(data.ptr);
}

vmk_HashKeyIteratorCmd tamsil_vmkdevHTableIterator(vmk_HashTable table, vmk_HashKey key, vmk_HashValue value,
                                                   vmk_AddrCookie data) {
  if (table != tamsil_vmkdevHashTbl) {
    TAMSIL_MOD_ERR("hashTable != tamsil_vmkdevHashTblNode\n");
    return VMK_HASH_KEY_ITER_CMD_CONTINUE;
  }
  auto* list = static_cast<tamsil_mgmtSbdfListV1*>(data.ptr);
  if (list->count >= TAMSIL_MGMT_SBDF_MAX) return VMK_HASH_KEY_ITER_CMD_STOP;
  tamsil_mgmtSbdfEntry* e = &list->entry[list->count];
  const char* name = static_cast<const char*>(key);
  memcpy(e->pci_name, name, strnlen(name, sizeof e->pci_name - 1));
  const auto* node = static_cast<const tamsil_vmkdevHashNode*>(value);
  if (node != nullptr) putText(e->uplink_name, node->uplink_name);
  list->count++;
  return list->count >= TAMSIL_MGMT_SBDF_MAX ? VMK_HASH_KEY_ITER_CMD_STOP : VMK_HASH_KEY_ITER_CMD_CONTINUE;
}

VMK_ReturnStatus tamsil_pivardReadCfg(Adapter* a, tamsil_mgmtCfgRead* req) {
  const vmk_uint32 offset = req->offset, length = req->length;
  // Offset and length apart: their sum can wrap.
  if (offset > TAMSIL_MGMT_CFG_SPACE || length > TAMSIL_MGMT_CFG_SPACE - offset) {
    TAMSIL_DBG(a, TAMSIL_DBG_MGMT, TAMSIL_LOG_LEVEL_INFO, "Invalid data length %d in ioctl for PCI CFG offset %d\n\n",
               (int)length, (int)offset);
    return VMK_BAD_PARAM;
  }
  if (length > sizeof req->data) return VMK_BAD_PARAM;
  for (vmk_uint32 i = 0; i < length; i++) {
    vmk_uint32 v = 0;
    if (vmk_PCIReadConfig(tamsilDriver.module_id, a->pci_device, VMK_PCI_CONFIG_ACCESS_8,
                          static_cast<vmk_uint16>(offset + i), &v) != VMK_OK)
      break;
    req->data[i] = static_cast<vmk_uint8>(v);
  }
  return VMK_OK;
}

void tamsil_mgmtForget(Adapter* a) {
  vmk_HashValue node = nullptr;
  VMK_ReturnStatus st = vmk_HashKeyDelete(tamsil_vmkdevHashTbl, a->pci_name, &node);
  if (st != VMK_OK || node == nullptr) TAMSIL_ERR(a, "Failed to delete node from vmkdevice table,status 0x%x\n", st);
  // A request that found the entry before it went is now counted in
  // mgmt_in_flight, or refused; a function list is done reading it.
  while (vmk_AtomicRead64(&lookupsInFlight) != 0) vmk_WorldSleep(10);
  if (node != nullptr) vmk_HeapFree(tamsilDriver.heap_id, node);
}
