// Entry points whose parts of the driver are not built yet. The kernel finds
// them registered (the driver operations and the management channel's
// callbacks) and each answers VMK_NOT_SUPPORTED. Whoever builds a part moves
// its entry points out of this file into the part's own file.
#include "tamsil.h"

/* ------------------------------------------------------------------------ */
/* Management channel callbacks                                              */
/* ------------------------------------------------------------------------ */

#define TAMSIL_MGMT_PENDING(fn) \
  static VMK_ReturnStatus fn(vmk_MgmtCookie, vmk_MgmtEnvelopeHandle, void*, void*) { return VMK_NOT_SUPPORTED; }

TAMSIL_MGMT_PENDING(tamsil_mgmtGetPrivStatsCB)
TAMSIL_MGMT_PENDING(tamsil_mgmtEnumerateSbdfCB)
TAMSIL_MGMT_PENDING(tamsil_mgmtPassthroughCB)
TAMSIL_MGMT_PENDING(tamsil_mgmtDrvInfoCB)
TAMSIL_MGMT_PENDING(tamsil_mgmtCimGetLinkState)
TAMSIL_MGMT_PENDING(tamsil_mgmtCimGetLinkStatus)
TAMSIL_MGMT_PENDING(tamsil_mgmtCimGetDriverInfo)
TAMSIL_MGMT_PENDING(tamsil_mgmtCimGetWolState)
TAMSIL_MGMT_PENDING(tamsil_mgmtCimGetCoalesceParams)
TAMSIL_MGMT_PENDING(tamsil_mgmtCimGetPermMac)
TAMSIL_MGMT_PENDING(tamsil_mgmtCimGetStatCount)
TAMSIL_MGMT_PENDING(tamsil_mgmtCimGetStatStrings)
TAMSIL_MGMT_PENDING(tamsil_mgmtCimGetStats)
TAMSIL_MGMT_PENDING(tamsil_mgmtGetFatDumpSize)
TAMSIL_MGMT_PENDING(tamsil_mgmtGetFatDump)
TAMSIL_MGMT_PENDING(tamsil_mgmtGetSetDebugMask)
TAMSIL_MGMT_PENDING(tamsil_mgmtEnumerateSbdfV1CB)
TAMSIL_MGMT_PENDING(tamsil_mgmtPivardReadPcieCfgCB)
TAMSIL_MGMT_PENDING(tamsil_mgmtGetPrivStatsCBV1)

#define TAMSIL_MGMT_HEADER_SIZE 28

#define TAMSIL_MGMT_CB(id, fn, size, type)                                                   \
  {VMK_MGMT_CALLBACK_LOCATION_KERNEL,                                                        \
   fn,                                                                                       \
   1,                                                                                        \
   2,                                                                                        \
   {VMK_MGMT_PARMTYPE_INOUT, type},                                                          \
   {TAMSIL_MGMT_HEADER_SIZE, size},                                                          \
   id}

static vmk_MgmtCallbackInfo tamsil_mgmtCallbacks[] = {
    TAMSIL_MGMT_CB(16, tamsil_mgmtGetPrivStatsCB, 12288, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(17, tamsil_mgmtEnumerateSbdfCB, 1540, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(18, tamsil_mgmtPassthroughCB, 65536, VMK_MGMT_PARMTYPE_INOUT),
    TAMSIL_MGMT_CB(19, tamsil_mgmtDrvInfoCB, 785, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(20, tamsil_mgmtCimGetLinkState, 4, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(21, tamsil_mgmtCimGetLinkStatus, 167, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(22, tamsil_mgmtCimGetDriverInfo, 192, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(23, tamsil_mgmtCimGetWolState, 24, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(24, tamsil_mgmtCimGetCoalesceParams, 16, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(25, tamsil_mgmtCimGetPermMac, 6, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(26, tamsil_mgmtCimGetStatCount, 4, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(27, tamsil_mgmtCimGetStatStrings, 50404, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(28, tamsil_mgmtCimGetStats, 9604, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(29, tamsil_mgmtGetFatDumpSize, 4, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(30, tamsil_mgmtGetFatDump, 64008, VMK_MGMT_PARMTYPE_INOUT),
    TAMSIL_MGMT_CB(31, tamsil_mgmtGetSetDebugMask, 4, VMK_MGMT_PARMTYPE_INOUT),
    TAMSIL_MGMT_CB(32, tamsil_mgmtEnumerateSbdfV1CB, 38404, VMK_MGMT_PARMTYPE_OUT),
    TAMSIL_MGMT_CB(33, tamsil_mgmtPivardReadPcieCfgCB, 264, VMK_MGMT_PARMTYPE_INOUT),
    TAMSIL_MGMT_CB(34, tamsil_mgmtGetPrivStatsCBV1, 32768, VMK_MGMT_PARMTYPE_OUT),
};

vmk_MgmtSignature tamsil_mgmtSignature = {
    VMK_REVISION_FROM_NUMBERS(1, 0, 0, 0),
    {"tamsilMgmtToKernel"},
    {"talvor"},
    sizeof tamsil_mgmtCallbacks / sizeof tamsil_mgmtCallbacks[0],
    tamsil_mgmtCallbacks,
};
