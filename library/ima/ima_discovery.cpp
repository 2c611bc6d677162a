/*
 * ima_discovery.cpp - discovery addresses, static discovery targets,
 * targets, sessions, connections and LUs. The tree's targets, logins and
 * discovery are not served by this build yet: each entry point makes its
 * argument checks and its object id check, then answers
 * IMA_ERROR_NOT_SUPPORTED. The discovery setters and the LU pass-through
 * answer that in every build.
 */
#include "ima/ima_plugin.h"
#include "tree/orsa_entry.h"

namespace {

IMA_STATUS checked(const IMA_OID &oid, u32 mask)
{
    IMA_STATUS st = ima_check_oid(oid, mask);
    return st != 0 ? st : IMA_ERROR_NOT_SUPPORTED;
}

IMA_STATUS checked(const void *out, const IMA_OID &oid, u32 mask)
{
    return out == nullptr ? IMA_ERROR_INVALID_PARAMETER : checked(oid, mask);
}

} // namespace

IMA_STATUS IMA_AddDiscoveryAddress(IMA_OID oid, IMA_TARGET_ADDRESS, IMA_OID *discoveryAddressId)
{
    ORSA_ENTRY_LOCK();
    return checked(discoveryAddressId, oid, IMA_MASK_LHBA_PNP);
}

IMA_STATUS IMA_RemoveDiscoveryAddress(IMA_OID discoveryAddressId)
{
    ORSA_ENTRY_LOCK();
    return checked(discoveryAddressId, IMA_MASK_DISCOVERY);
}

IMA_STATUS IMA_GetDiscoveryAddressOidList(IMA_OID oid, IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    return checked(list, oid, IMA_MASK_LHBA_PNP);
}

IMA_STATUS IMA_GetDiscoveryAddressProperties(IMA_OID discoveryAddressId, IMA_DISCOVERY_ADDRESS_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    return checked(props, discoveryAddressId, IMA_MASK_DISCOVERY);
}

IMA_STATUS IMA_GetDiscoveryProperties(IMA_OID oid, IMA_DISCOVERY_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    return checked(props, oid, IMA_MASK_LHBA_PHBA_PORTAL);
}

IMA_STATUS IMA_SetStaticDiscovery(IMA_OID oid, uint32_t enable)
{
    ORSA_ENTRY_LOCK();
    return enable > 1 ? IMA_ERROR_INVALID_PARAMETER : checked(oid, IMA_MASK_LHBA_PHBA_PORTAL);
}

IMA_STATUS IMA_SetSlpDiscovery(IMA_OID oid, uint32_t enable)
{
    ORSA_ENTRY_LOCK();
    return enable > 1 ? IMA_ERROR_INVALID_PARAMETER : checked(oid, IMA_MASK_LHBA_PHBA_PORTAL);
}

IMA_STATUS IMA_SetIsnsDiscovery(IMA_OID oid, uint32_t enable, uint32_t method, const IMA_HOST_ID *)
{
    ORSA_ENTRY_LOCK();
    return enable > 1 || method > 2 ? IMA_ERROR_INVALID_PARAMETER : checked(oid, IMA_MASK_LHBA_PHBA_PORTAL);
}

IMA_STATUS IMA_VMW_Rediscover(IMA_OID oid)
{
    ORSA_ENTRY_LOCK();
    return checked(oid, IMA_MASK_LHBA_PHBA);
}

IMA_STATUS IMA_VMW_GetDiscoveryStatus(IMA_OID phbaId, uint32_t *status)
{
    ORSA_ENTRY_LOCK();
    return checked(status, phbaId, IMA_MASK_PHBA);
}

IMA_STATUS IMA_GetTargetOidList(IMA_OID oid, IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    return checked(list, oid, IMA_MASK_LHBA_LNP);
}

IMA_STATUS IMA_VMW_GetTargetOidList(IMA_OID oid, IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    return checked(list, oid, IMA_MASK_LHBA_LNP);
}

IMA_STATUS IMA_GetTargetProperties(IMA_OID targetId, IMA_TARGET_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    return checked(props, targetId, IMA_MASK_TARGET);
}

IMA_STATUS IMA_GetStaticDiscoveryTargetOidList(IMA_OID oid, IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    return checked(list, oid, IMA_MASK_LHBA_PNP);
}

IMA_STATUS IMA_VMW_GetStaticDiscoveryTargetOidList(IMA_OID oid, IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    return checked(list, oid, IMA_MASK_LHBA_PNP);
}

IMA_STATUS IMA_GetStaticDiscoveryTargetProperties(IMA_OID oid, IMA_STATIC_DISCOVERY_TARGET_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    return checked(props, oid, IMA_MASK_STATIC);
}

IMA_STATUS IMA_VMW_GetStaticDiscoveryTargetProperties(IMA_OID oid, IMA_STATIC_DISCOVERY_TARGET_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    return checked(props, oid, IMA_MASK_TARGET_STATIC);
}

IMA_STATUS IMA_AddStaticDiscoveryTarget(IMA_OID oid, IMA_STATIC_DISCOVERY_TARGET, IMA_OID *targetId)
{
    ORSA_ENTRY_LOCK();
    return checked(targetId, oid, IMA_MASK_LHBA_PNP);
}

IMA_STATUS IMA_RemoveStaticDiscoveryTarget(IMA_OID oid)
{
    ORSA_ENTRY_LOCK();
    return checked(oid, IMA_MASK_TARGET_STATIC);
}

IMA_STATUS IMA_GetAddressKeys(IMA_OID oid, IMA_ADDRESS_KEYS **keys)
{
    ORSA_ENTRY_LOCK();
    return checked(keys, oid, IMA_MASK_TARGET_DISC_STATIC);
}

IMA_STATUS IMA_GetSessionOidList(IMA_OID oid, IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    return checked(list, oid, IMA_MASK_LHBA_TARGET);
}

IMA_STATUS IMA_GetSessionProperties(IMA_OID sessionId, IMA_SESSION_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    return checked(props, sessionId, IMA_MASK_SESSION);
}

IMA_STATUS IMA_VMW_AddSession(IMA_OID oid)
{
    ORSA_ENTRY_LOCK();
    return checked(oid, IMA_MASK_LHBA_TARGET_SESSION);
}

IMA_STATUS IMA_VMW_RemoveSession(IMA_OID oid)
{
    ORSA_ENTRY_LOCK();
    return checked(oid, IMA_MASK_LHBA_TARGET_SESSION);
}

IMA_STATUS IMA_GetConnectionOidList(IMA_OID sessionId, IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    return checked(list, sessionId, IMA_MASK_SESSION);
}

IMA_STATUS IMA_GetConnectionProperties(IMA_OID connectionId, IMA_CONNECTION_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    return checked(props, connectionId, IMA_MASK_CONNECTION);
}

IMA_STATUS IMA_VMW_GetConnectionStatus(IMA_OID connectionId, IMA_VMW_CONNECTION_STATUS *status)
{
    ORSA_ENTRY_LOCK();
    return checked(status, connectionId, IMA_MASK_CONNECTION);
}

IMA_STATUS IMA_GetLuOidList(IMA_OID oid, IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    return checked(list, oid, IMA_MASK_LHBA_TARGET);
}

IMA_STATUS IMA_GetLuProperties(IMA_OID luId, IMA_LU_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    return checked(props, luId, IMA_MASK_LU);
}

IMA_STATUS IMA_LuReportLuns(IMA_OID oid, uint32_t sendToWellKnownLun, uint8_t, void *buffer, uint32_t *bufferLength,
                            uint8_t *senseBuffer, uint32_t *)
{
    ORSA_ENTRY_LOCK();
    if (bufferLength == nullptr || buffer == nullptr || senseBuffer == nullptr || sendToWellKnownLun > 1 ||
        *bufferLength == 0)
        return IMA_ERROR_INVALID_PARAMETER;
    return checked(oid, IMA_MASK_TARGET_LU);
}

IMA_STATUS IMA_check_session_status(uint32_t)
{
    ORSA_ENTRY_LOCK();
    return IMA_ERROR_NOT_SUPPORTED;
}
