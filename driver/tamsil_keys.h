// The uplink's key-value keys: what a key-value client reads and writes per
// uplink (queue ids, the VFs' link-state policy, the TPE recovery settings
// and summary, the Pivard firmware dump).
#pragma once

#include "tamsil.h"

// Names of the VF link states 0, 1 and 2.
extern const char* const tamsil_vfLinkState[3];

// Get operations write a NUL-terminated text of at most
// VMK_MGMT_KEY_STRING_MAX bytes into `keyValue`; set operations read the
// client's text from it. The cookie is the Adapter.
VMK_ReturnStatus tamsil_getQids(vmk_uint64 cookie, void* keyValue);
VMK_ReturnStatus tamsil_setQids(vmk_uint64 cookie, void* keyValue);
VMK_ReturnStatus tamsil_getVfLinkState(vmk_uint64 cookie, void* keyValue);
VMK_ReturnStatus tamsil_setVfLinkState(vmk_uint64 cookie, void* keyValue);
VMK_ReturnStatus tamsil_getFwDump(vmk_uint64 cookie, void* keyValue);
VMK_ReturnStatus tamsil_setFwDump(vmk_uint64 cookie, void* keyValue);
VMK_ReturnStatus tamsil_getTpeTsDL(vmk_uint64 cookie, void* keyValue);
VMK_ReturnStatus tamsil_setTpeTsDL(vmk_uint64 cookie, void* keyValue);
VMK_ReturnStatus tamsil_getTpeTsLR(vmk_uint64 cookie, void* keyValue);
VMK_ReturnStatus tamsil_setTpeTsLR(vmk_uint64 cookie, void* keyValue);
VMK_ReturnStatus tamsil_getTpeRS(vmk_uint64 cookie, void* keyValue);
VMK_ReturnStatus tamsil_setTpeRS(vmk_uint64 cookie, void* keyValue);
