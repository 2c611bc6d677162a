/*
 * drelmo_ima.h - libdrelmo.so as an iSCSI management (IMA) plugin: the
 * records and entry points the host's iSCSI management framework calls, in C
 * (C99 or later) and C++, for the 32-bit (i386) library.
 *
 * The framework loads the library, calls IMA_VMW_PluginInit with its owner
 * id, then the IMA_ and IMA_VMW_ entry points one at a time, and
 * IMA_VMW_PluginCleanup as often as it called IMA_VMW_PluginInit:
 *
 *     IMA_VMW_PluginInit(owner);
 *     IMA_OID_LIST *phbas = NULL;
 *     if (IMA_GetPhbaOidList(&phbas) == IMA_STATUS_SUCCESS) {
 *         IMA_PHBA_PROPERTIES props;
 *         IMA_GetPhbaProperties(phbas->oids[0], &props);
 *         IMA_FreeMemory(phbas);
 *     }
 *     IMA_VMW_PluginCleanup();
 *
 * Object ids. Every IMA object is a node of the management tree: an
 * IMA_OID carries the object type, the owner id given to IMA_VMW_PluginInit
 * and the node's tag in the low 32 bits of its sequence number (the high 32
 * bits are the tag's sign extension and are not read). An id is checked
 * before anything else is touched: type 0 or above 16 gives
 * IMA_ERROR_INVALID_OBJECT_TYPE, a type the entry point does not take
 * IMA_ERROR_INCORRECT_OBJECT_TYPE, a tag that names no node of that kind or
 * another owner IMA_ERROR_OBJECT_NOT_FOUND.
 *
 * Results. IMA_STATUS values below, or a library status code (drelmo.h,
 * ORSA_get_last_status tells its text) that a property or action of the tree
 * answered; the tree's plain refusal (1) arrives as IMA_ERROR_INVALID_PARAMETER.
 *
 * Memory. Every block an entry point hands out (IMA_OID_LIST, the address
 * keys, the mutual-authentication list) is freed with IMA_FreeMemory.
 *
 * Texts. Wide texts are arrays of 4-byte code points (UTF-32) ended by 0.
 */
#ifndef DRELMO_IMA_H
#define DRELMO_IMA_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#include "drelmo.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t IMA_STATUS;
typedef wchar_t IMA_WCHAR;

#define IMA_STATUS_SUCCESS 0x00000000u
#define IMA_ERROR_NOT_SUPPORTED 0x80000001u
#define IMA_ERROR_UNEXPECTED_OS_ERROR 0x80000004u
#define IMA_ERROR_UNKNOWN_ERROR 0x80000000u
#define IMA_ERROR_LU_NOT_AVAILABLE 0x80000101u
#define IMA_ERROR_INVALID_PARAMETER 0xC0000000u
#define IMA_ERROR_INVALID_OBJECT_TYPE 0xC0000001u
#define IMA_ERROR_INCORRECT_OBJECT_TYPE 0xC0000002u
#define IMA_ERROR_OBJECT_NOT_FOUND 0xC0000003u
#define IMA_ERROR_NAME_TOO_LONG 0xC0000004u

/* Object types. */
enum {
    IMA_OBJECT_TYPE_PLUGIN = 1,
    IMA_OBJECT_TYPE_NODE = 2,
    IMA_OBJECT_TYPE_LHBA = 3,
    IMA_OBJECT_TYPE_PHBA = 4,
    IMA_OBJECT_TYPE_NETWORK_PORTAL = 5,
    IMA_OBJECT_TYPE_PORTAL_GROUP = 6,
    IMA_OBJECT_TYPE_LNP = 7,
    IMA_OBJECT_TYPE_PNP = 8,
    IMA_OBJECT_TYPE_TARGET = 9,
    IMA_OBJECT_TYPE_LU = 10,
    IMA_OBJECT_TYPE_DISCOVERY_ADDRESS = 11,
    IMA_OBJECT_TYPE_STATIC_DISCOVERY_TARGET = 12,
    IMA_OBJECT_TYPE_CONNECTION = 13,
    IMA_OBJECT_TYPE_SESSION = 14
};

/* Authentication methods and digests in the method and digest lists. */
enum {
    IMA_AUTHMETHOD_NONE = 0,
    IMA_AUTHMETHOD_CHAP = 1
};
enum {
    IMA_DIGEST_NONE = 0,
    IMA_DIGEST_CRC32C = 1
};

/* The i386 layout: 64-bit members are 4-byte aligned. */
typedef struct IMA_OID {
    uint32_t objectType;
    uint32_t ownerId;
    uint64_t objectSequenceNumber;
} IMA_OID;

/* One block: the count and the ids packed from byte 4. */
typedef struct IMA_OID_LIST {
    uint32_t oidCount;
    IMA_OID oids[1];
} IMA_OID_LIST;

/* An IP address: the IPv4 flag (1: the first four bytes are an IPv4 address
 * in network order), then 16 address bytes. */
typedef struct IMA_IP_ADDRESS {
    uint32_t ipv4Address;
    uint8_t ipAddress[16];
} IMA_IP_ADDRESS;

typedef struct IMA_TARGET_ADDRESS {
    uint32_t hostNameFlag;
    union {
        IMA_IP_ADDRESS ipAddress;
        IMA_WCHAR hostName[256];
    } id;
    uint16_t portNumber;
    uint8_t reserved[2];
} IMA_TARGET_ADDRESS;

typedef struct IMA_STATIC_DISCOVERY_TARGET {
    IMA_WCHAR targetName[224];
    IMA_TARGET_ADDRESS targetAddress;
    uint8_t reserved[8];
} IMA_STATIC_DISCOVERY_TARGET;

typedef struct IMA_PHBA_PROPERTIES {
    IMA_WCHAR vendor[64];
    IMA_WCHAR model[256];
    IMA_WCHAR description[256];
    IMA_WCHAR serialNumber[64];
    IMA_WCHAR hardwareVersion[512];
    IMA_WCHAR firmwareVersion[256];
    IMA_WCHAR optionRomVersion[256];
    IMA_WCHAR driverName[256];
    IMA_WCHAR driverVersion[256];
    uint32_t words[41]; /* the constant words and the maximum CDB length (word 2) */
} IMA_PHBA_PROPERTIES;

typedef struct IMA_LHBA_PROPERTIES {
    IMA_WCHAR osDeviceName[256];
    uint8_t reserved0[16];
    uint32_t words[3];
    uint8_t reserved1[12];
    uint32_t word4;
    uint8_t reserved2[112];
} IMA_LHBA_PROPERTIES;

typedef struct IMA_NODE_PROPERTIES {
    uint32_t runningInInitiatorMode;
    uint32_t runningInTargetMode;
    uint32_t nameValid;
    IMA_WCHAR name[224];
    uint32_t aliasValid;
    IMA_WCHAR alias[256];
    uint32_t nameAndAliasSettable;
    uint8_t reserved[64];
} IMA_NODE_PROPERTIES;

typedef struct IMA_NETWORK_PORTAL_PROPERTIES {
    IMA_IP_ADDRESS ipAddress;
    IMA_OID associatedLnp;
} IMA_NETWORK_PORTAL_PROPERTIES;

typedef struct IMA_LNP_PROPERTIES {
    uint8_t macAddress[6];
    uint8_t reserved[2];
    uint32_t macAddressValid;
} IMA_LNP_PROPERTIES;

typedef struct IMA_VMW_LNP_PROPERTIES {
    IMA_LNP_PROPERTIES lnp;
    IMA_WCHAR name[8];
} IMA_VMW_LNP_PROPERTIES;

typedef struct IMA_PNP_PROPERTIES {
    IMA_OID associatedPhba;
    uint8_t macAddress[6];
    uint8_t reserved[2];
    uint32_t macAddressValid;
    uint32_t maximumTransferRate; /* Mb/s */
    uint32_t currentTransferRate; /* Mb/s */
    uint32_t maximumFrameSize;
} IMA_PNP_PROPERTIES;

typedef struct IMA_VMW_PNP_PROPERTIES {
    IMA_PNP_PROPERTIES pnp;
    IMA_WCHAR name[8];
} IMA_VMW_PNP_PROPERTIES;

typedef struct IMA_IP_PROPERTIES {
    uint32_t ipConfigurationMethodSettable;
    uint32_t dhcpConfigurationEnabled;
    uint32_t subnetMaskSettable;
    uint32_t subnetMaskValid;
    IMA_IP_ADDRESS subnetMask;
    uint32_t defaultGatewaySettable;
    uint32_t defaultGatewayValid;
    IMA_IP_ADDRESS defaultGateway;
    uint8_t reserved0[32];
    uint32_t word96;
    uint8_t reserved1[84];
} IMA_IP_PROPERTIES;

typedef struct IMA_VMW_MTU_PROPERTIES {
    uint32_t words[7];
} IMA_VMW_MTU_PROPERTIES;

typedef struct IMA_VMW_ARP_REDIRECT_PROPERTIES {
    uint32_t words[4];
} IMA_VMW_ARP_REDIRECT_PROPERTIES;

typedef struct IMA_MIN_MAX_VALUE {
    uint32_t currentValueValid;
    uint32_t settable;
    uint32_t currentValue;
    uint32_t defaultValue;
    uint32_t minimumValue;
    uint32_t maximumValue;
    uint32_t incrementValue;
} IMA_MIN_MAX_VALUE;

typedef struct IMA_BOOL_VALUE {
    uint32_t currentValueValid;
    uint32_t settable;
    uint32_t currentValue;
    uint32_t defaultValue;
} IMA_BOOL_VALUE;

typedef struct IMA_DIGEST_PROPERTIES {
    uint32_t words[2];
} IMA_DIGEST_PROPERTIES;

/* The CHAP member of the authentication parameters; the union is 12296 bytes. */
typedef struct IMA_CHAP_INITIATOR_AUTHPARMS {
    uint32_t retries;
    uint8_t name[512];
    uint32_t nameLength;
    uint32_t minValueLength;
    uint32_t maxValueLength;
    uint8_t challengeSecret[256];
    uint32_t challengeSecretLength;
    uint32_t level; /* 1 prohibited, 2 discouraged, 3 preferred, 4 required */
} IMA_CHAP_INITIATOR_AUTHPARMS;

typedef union IMA_INITIATOR_AUTHPARMS {
    IMA_CHAP_INITIATOR_AUTHPARMS chapParms;
    uint8_t reserved[12296];
} IMA_INITIATOR_AUTHPARMS;

typedef struct IMA_LHBA_MUTUAL_AUTHPARMS_LIST {
    uint32_t count;
    IMA_INITIATOR_AUTHPARMS parms[1];
} IMA_LHBA_MUTUAL_AUTHPARMS_LIST;

/* Records of the entry points that answer IMA_ERROR_NOT_SUPPORTED in this
 * build (discovery addresses, targets, sessions, connections, LUs). */
typedef struct IMA_PLUGIN_PROPERTIES IMA_PLUGIN_PROPERTIES;
typedef struct IMA_HOST_ID IMA_HOST_ID;
typedef struct IMA_DISCOVERY_ADDRESS_PROPERTIES IMA_DISCOVERY_ADDRESS_PROPERTIES;
typedef struct IMA_DISCOVERY_PROPERTIES IMA_DISCOVERY_PROPERTIES;
typedef struct IMA_TARGET_PROPERTIES IMA_TARGET_PROPERTIES;
typedef struct IMA_STATIC_DISCOVERY_TARGET_PROPERTIES IMA_STATIC_DISCOVERY_TARGET_PROPERTIES;
typedef struct IMA_ADDRESS_KEYS IMA_ADDRESS_KEYS;
typedef struct IMA_SESSION_PROPERTIES IMA_SESSION_PROPERTIES;
typedef struct IMA_CONNECTION_PROPERTIES IMA_CONNECTION_PROPERTIES;
typedef struct IMA_VMW_CONNECTION_STATUS IMA_VMW_CONNECTION_STATUS;
typedef struct IMA_LU_PROPERTIES IMA_LU_PROPERTIES;

#if defined(__i386__)
DRELMO_STATIC_ASSERT(sizeof(IMA_OID) == 16, ima_oid_size);
DRELMO_STATIC_ASSERT(offsetof(IMA_OID_LIST, oids) == 4, ima_oid_list_oids);
DRELMO_STATIC_ASSERT(sizeof(IMA_IP_ADDRESS) == 20, ima_ip_address_size);
DRELMO_STATIC_ASSERT(sizeof(IMA_TARGET_ADDRESS) == 1032, ima_target_address_size);
DRELMO_STATIC_ASSERT(offsetof(IMA_TARGET_ADDRESS, portNumber) == 1028, ima_target_address_port);
DRELMO_STATIC_ASSERT(sizeof(IMA_STATIC_DISCOVERY_TARGET) == 1936, ima_static_target_size);
DRELMO_STATIC_ASSERT(offsetof(IMA_STATIC_DISCOVERY_TARGET, targetAddress) == 896, ima_static_target_address);
DRELMO_STATIC_ASSERT(sizeof(IMA_PHBA_PROPERTIES) == 8868, ima_phba_size);
DRELMO_STATIC_ASSERT(offsetof(IMA_PHBA_PROPERTIES, hardwareVersion) == 2560, ima_phba_hw);
DRELMO_STATIC_ASSERT(offsetof(IMA_PHBA_PROPERTIES, driverVersion) == 7680, ima_phba_drv_version);
DRELMO_STATIC_ASSERT(offsetof(IMA_PHBA_PROPERTIES, words) == 8704, ima_phba_words);
DRELMO_STATIC_ASSERT(sizeof(IMA_LHBA_PROPERTIES) == 1180, ima_lhba_size);
DRELMO_STATIC_ASSERT(offsetof(IMA_LHBA_PROPERTIES, words) == 1040, ima_lhba_words);
DRELMO_STATIC_ASSERT(offsetof(IMA_LHBA_PROPERTIES, word4) == 1064, ima_lhba_word4);
DRELMO_STATIC_ASSERT(sizeof(IMA_NODE_PROPERTIES) == 2004, ima_node_size);
DRELMO_STATIC_ASSERT(offsetof(IMA_NODE_PROPERTIES, name) == 12, ima_node_name);
DRELMO_STATIC_ASSERT(offsetof(IMA_NODE_PROPERTIES, aliasValid) == 908, ima_node_alias_valid);
DRELMO_STATIC_ASSERT(offsetof(IMA_NODE_PROPERTIES, alias) == 912, ima_node_alias);
DRELMO_STATIC_ASSERT(offsetof(IMA_NODE_PROPERTIES, nameAndAliasSettable) == 1936, ima_node_settable);
DRELMO_STATIC_ASSERT(sizeof(IMA_NETWORK_PORTAL_PROPERTIES) == 36, ima_portal_size);
DRELMO_STATIC_ASSERT(sizeof(IMA_LNP_PROPERTIES) == 12, ima_lnp_size);
DRELMO_STATIC_ASSERT(sizeof(IMA_VMW_LNP_PROPERTIES) == 44, ima_vmw_lnp_size);
DRELMO_STATIC_ASSERT(sizeof(IMA_PNP_PROPERTIES) == 40, ima_pnp_size);
DRELMO_STATIC_ASSERT(offsetof(IMA_PNP_PROPERTIES, maximumTransferRate) == 28, ima_pnp_max_rate);
DRELMO_STATIC_ASSERT(sizeof(IMA_VMW_PNP_PROPERTIES) == 72, ima_vmw_pnp_size);
DRELMO_STATIC_ASSERT(sizeof(IMA_IP_PROPERTIES) == 184, ima_ip_size);
DRELMO_STATIC_ASSERT(offsetof(IMA_IP_PROPERTIES, defaultGatewayValid) == 40, ima_ip_gateway_valid);
DRELMO_STATIC_ASSERT(offsetof(IMA_IP_PROPERTIES, defaultGateway) == 44, ima_ip_gateway);
DRELMO_STATIC_ASSERT(offsetof(IMA_IP_PROPERTIES, word96) == 96, ima_ip_word96);
DRELMO_STATIC_ASSERT(sizeof(IMA_MIN_MAX_VALUE) == 28, ima_min_max_size);
DRELMO_STATIC_ASSERT(sizeof(IMA_BOOL_VALUE) == 16, ima_bool_size);
DRELMO_STATIC_ASSERT(offsetof(IMA_CHAP_INITIATOR_AUTHPARMS, nameLength) == 516, ima_chap_name_length);
DRELMO_STATIC_ASSERT(offsetof(IMA_CHAP_INITIATOR_AUTHPARMS, challengeSecret) == 528, ima_chap_secret);
DRELMO_STATIC_ASSERT(offsetof(IMA_CHAP_INITIATOR_AUTHPARMS, level) == 788, ima_chap_level);
DRELMO_STATIC_ASSERT(sizeof(IMA_INITIATOR_AUTHPARMS) == 12296, ima_authparms_size);
DRELMO_STATIC_ASSERT(sizeof(IMA_LHBA_MUTUAL_AUTHPARMS_LIST) == 12300, ima_mutual_list_size);
#endif

/* ---- plugin frame ---- */

DRELMO_API IMA_STATUS IMA_VMW_PluginInit(uint32_t ownerId);
DRELMO_API void IMA_VMW_PluginCleanup(void);
DRELMO_API IMA_STATUS IMA_FreeMemory(void *memory);
DRELMO_API IMA_STATUS IMA_GetPluginProperties(IMA_OID pluginId, IMA_PLUGIN_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_GetSharedNodeOid(IMA_OID *nodeId);
/* Reads only the object type. */
DRELMO_API IMA_STATUS IMA_VMW_CheckSupportedParameterLevel(uint32_t objectType, ...);
DRELMO_API IMA_STATUS IMA_VMW_GetSupportedMutualAuthMethods(IMA_OID oid, uint32_t settableOnly, uint32_t *count,
                                                            uint32_t *methods);
DRELMO_API IMA_STATUS IMA_VMW_SetMutualAuthMethods(IMA_OID oid, uint32_t count, const uint32_t *methods);
DRELMO_API IMA_STATUS IMA_PersistHbaParameters(IMA_OID hbaId);
DRELMO_API IMA_STATUS IMA_VMW_SetDebugLevel(uint32_t level);

/* ---- HBA and node objects ---- */

DRELMO_API IMA_STATUS IMA_GetPhbaOidList(IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_GetLnpOidList(IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_GetLhbaOidList(IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_VMW_GetLhbaOidList(IMA_OID phbaId, IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_GetPhbaProperties(IMA_OID phbaId, IMA_PHBA_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_VMW_GetPhbaProperties(IMA_OID phbaId, IMA_PHBA_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_GetPhbaStatus(IMA_OID phbaId, uint32_t *status);
DRELMO_API IMA_STATUS IMA_GetLhbaProperties(IMA_OID lhbaId, IMA_LHBA_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_VMW_GetLhbaProperties(IMA_OID lhbaId, IMA_LHBA_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_VMW_GetNodeProperties(IMA_OID hbaId, IMA_NODE_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_VMW_SetNodeName(IMA_OID hbaId, const IMA_WCHAR *name);
DRELMO_API IMA_STATUS IMA_VMW_SetNodeAlias(IMA_OID hbaId, const IMA_WCHAR *alias);
DRELMO_API IMA_STATUS IMA_PhbaDownload(IMA_OID phbaId, uint32_t imageType, const IMA_WCHAR *fileName);

/* ---- network ports, portals and IP settings ---- */

DRELMO_API IMA_STATUS IMA_GetPnpOidList(IMA_OID oid, IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_GetNetworkPortalOidList(IMA_OID lnpId, IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_VMW_GetNetworkPortalOidList(IMA_OID oid, IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_VMW_GetLnpOidList(IMA_OID oid, IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_GetNetworkPortalProperties(IMA_OID portalId, IMA_NETWORK_PORTAL_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_VMW_GetNetworkPortalProperties(IMA_OID oid, IMA_NETWORK_PORTAL_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_GetLnpProperties(IMA_OID lnpId, IMA_LNP_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_VMW_GetLnpProperties(IMA_OID lnpId, IMA_VMW_LNP_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_GetPnpProperties(IMA_OID pnpId, IMA_PNP_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_VMW_GetPnpProperties(IMA_OID pnpId, IMA_VMW_PNP_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_GetIpProperties(IMA_OID pnpId, IMA_IP_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_VMW_GetIpProperties(IMA_OID oid, IMA_IP_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_GetNetworkPortStatus(IMA_OID portId, uint32_t *status);
DRELMO_API IMA_STATUS IMA_VMW_GetMtuProperties(IMA_OID phbaId, IMA_VMW_MTU_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_VMW_GetArpRedirectProperties(IMA_OID phbaId, IMA_VMW_ARP_REDIRECT_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_SetIpConfigMethod(IMA_OID pnpId, uint32_t enableDhcp);
DRELMO_API IMA_STATUS IMA_SetSubnetMask(IMA_OID oid, IMA_IP_ADDRESS subnetMask);
DRELMO_API IMA_STATUS IMA_VMW_SetSubnetMask(IMA_OID oid, IMA_IP_ADDRESS subnetMask);
DRELMO_API IMA_STATUS IMA_SetDefaultGateway(IMA_OID oid, IMA_IP_ADDRESS gateway);
DRELMO_API IMA_STATUS IMA_VMW_SetDefaultGateway(IMA_OID oid, IMA_IP_ADDRESS gateway);
DRELMO_API IMA_STATUS IMA_SetNetworkPortalIpAddress(IMA_OID portalId, const IMA_IP_ADDRESS *address);
DRELMO_API IMA_STATUS IMA_VMW_SetNetworkPortalIpAddress(IMA_OID phbaId, const IMA_IP_ADDRESS *address);
DRELMO_API IMA_STATUS IMA_VMW_SetMtu(IMA_OID phbaId, uint32_t mtu);
DRELMO_API IMA_STATUS IMA_VMW_SetArpRedirect(IMA_OID phbaId, uint32_t enable);

/* ---- login parameters and digests ---- */

DRELMO_API IMA_STATUS IMA_GetMaxConnectionsProperties(IMA_OID oid, IMA_MIN_MAX_VALUE *props);
DRELMO_API IMA_STATUS IMA_GetMaxRecvDataSegmentLengthProperties(IMA_OID oid, IMA_MIN_MAX_VALUE *props);
DRELMO_API IMA_STATUS IMA_GetMaxOutstandingR2TProperties(IMA_OID oid, IMA_MIN_MAX_VALUE *props);
DRELMO_API IMA_STATUS IMA_GetMaxBurstLengthProperties(IMA_OID oid, IMA_MIN_MAX_VALUE *props);
DRELMO_API IMA_STATUS IMA_GetFirstBurstLengthProperties(IMA_OID oid, IMA_MIN_MAX_VALUE *props);
DRELMO_API IMA_STATUS IMA_GetErrorRecoveryLevelProperties(IMA_OID oid, IMA_MIN_MAX_VALUE *props);
DRELMO_API IMA_STATUS IMA_GetDefaultTime2WaitProperties(IMA_OID oid, IMA_MIN_MAX_VALUE *props);
DRELMO_API IMA_STATUS IMA_GetDefaultTime2RetainProperties(IMA_OID oid, IMA_MIN_MAX_VALUE *props);
DRELMO_API IMA_STATUS IMA_GetInitialR2TProperties(IMA_OID oid, IMA_BOOL_VALUE *props);
DRELMO_API IMA_STATUS IMA_GetImmediateDataProperties(IMA_OID oid, IMA_BOOL_VALUE *props);
DRELMO_API IMA_STATUS IMA_GetDataSequenceInOrderProperties(IMA_OID oid, IMA_BOOL_VALUE *props);
DRELMO_API IMA_STATUS IMA_GetDataPduInOrderProperties(IMA_OID oid, IMA_BOOL_VALUE *props);
DRELMO_API IMA_STATUS IMA_SetMaxConnections(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetMaxRecvDataSegmentLength(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetMaxOutstandingR2T(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetMaxBurstLength(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetFirstBurstLength(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetErrorRecoveryLevel(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetDefaultTime2Wait(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetDefaultTime2Retain(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetInitialR2T(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetDataSequenceInOrder(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetDataPduInOrder(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetOFMarkerProperties(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetIFMarkerProperties(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetOFMarkIntProperties(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetIFMarkIntProperties(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_GetOFMarkIntProperties(IMA_OID oid, IMA_MIN_MAX_VALUE *props);
DRELMO_API IMA_STATUS IMA_GetIFMarkIntProperties(IMA_OID oid, IMA_MIN_MAX_VALUE *props);
DRELMO_API IMA_STATUS IMA_GetOFMarkerProperties(IMA_OID oid, IMA_BOOL_VALUE *props);
DRELMO_API IMA_STATUS IMA_GetIFMarkerProperties(IMA_OID oid, IMA_BOOL_VALUE *props);
DRELMO_API IMA_STATUS IMA_SetImmediateData(IMA_OID oid, uint32_t value);
DRELMO_API IMA_STATUS IMA_SetHeaderDigestValues(IMA_OID oid, uint32_t count, const uint32_t *digests);
DRELMO_API IMA_STATUS IMA_SetDataDigestValues(IMA_OID oid, uint32_t count, const uint32_t *digests);
DRELMO_API IMA_STATUS IMA_VMW_SetHeaderDigest(IMA_OID oid, uint32_t count, const uint32_t *digests);
DRELMO_API IMA_STATUS IMA_VMW_SetDataDigest(IMA_OID oid, uint32_t count, const uint32_t *digests);
/* digests: room for at least two entries. */
DRELMO_API IMA_STATUS IMA_VMW_GetHeaderDigest(IMA_OID oid, uint32_t *count, uint32_t *digests);
DRELMO_API IMA_STATUS IMA_VMW_GetDataDigest(IMA_OID oid, uint32_t *count, uint32_t *digests);
DRELMO_API IMA_STATUS IMA_GetDigestProperties(IMA_OID oid, IMA_DIGEST_PROPERTIES *props);

/* ---- CHAP authentication ---- */

/* methods: room for two entries. */
DRELMO_API IMA_STATUS IMA_GetSupportedAuthMethods(IMA_OID lhbaId, uint32_t settableOnly, uint32_t *count,
                                                  uint32_t *methods);
DRELMO_API IMA_STATUS IMA_VMW_GetSupportedAuthMethods(IMA_OID oid, uint32_t settableOnly, uint32_t *count,
                                                      uint32_t *methods);
DRELMO_API IMA_STATUS IMA_GetInUseInitiatorAuthMethods(IMA_OID lhbaId, uint32_t *count, uint32_t *methods);
DRELMO_API IMA_STATUS IMA_VMW_GetInUseInitiatorLocalAuthMethods(IMA_OID oid, uint32_t *count, uint32_t *methods);
DRELMO_API IMA_STATUS IMA_SetInitiatorAuthMethods(IMA_OID lhbaId, uint32_t count, const uint32_t *methods);
DRELMO_API IMA_STATUS IMA_VMW_SetInitiatorAuthMethods(IMA_OID oid, uint32_t count, const uint32_t *methods);
DRELMO_API IMA_STATUS IMA_SetInitiatorAuthParms(IMA_OID lhbaId, uint32_t method, const IMA_INITIATOR_AUTHPARMS *parms);
DRELMO_API IMA_STATUS IMA_SetInitiatorLocalAuthParms(IMA_OID oid, uint32_t method, const IMA_INITIATOR_AUTHPARMS *parms,
                                                     uint32_t enable);
DRELMO_API IMA_STATUS IMA_VMW_SetInitiatorAuthParms(IMA_OID oid, uint32_t method, const IMA_INITIATOR_AUTHPARMS *parms);
DRELMO_API IMA_STATUS IMA_AddLhbaMutualAuthParms(IMA_OID lhbaId, uint32_t method, const IMA_INITIATOR_AUTHPARMS *parms);
DRELMO_API IMA_STATUS IMA_VMW_SetMutualAuthParms(IMA_OID oid, uint32_t method, const IMA_INITIATOR_AUTHPARMS *parms);
DRELMO_API IMA_STATUS IMA_SetMutualLocalAuth(IMA_OID oid, uint32_t method, uint32_t enable);
DRELMO_API IMA_STATUS IMA_SetMutualLocalAuthParms(IMA_OID oid, uint32_t method, const IMA_INITIATOR_AUTHPARMS *parms,
                                                  uint32_t enable);
DRELMO_API IMA_STATUS IMA_RemoveLhbaMutualAuthParms(IMA_OID lhbaId, uint32_t method,
                                                    const IMA_INITIATOR_AUTHPARMS *parms);
DRELMO_API IMA_STATUS IMA_GetInitiatorAuthParms(IMA_OID oid, uint32_t method, IMA_INITIATOR_AUTHPARMS *parms);
DRELMO_API IMA_STATUS IMA_GetInitiatorLocalAuthParms(IMA_OID oid, uint32_t method, uint32_t *inUseMethod,
                                                     IMA_INITIATOR_AUTHPARMS *parms);
DRELMO_API IMA_STATUS IMA_VMW_GetMutualAuthParms(IMA_OID oid, uint32_t method, IMA_INITIATOR_AUTHPARMS *parms);
DRELMO_API IMA_STATUS IMA_GetMutualLocalAuthParms(IMA_OID oid, uint32_t method, IMA_INITIATOR_AUTHPARMS *parms);
DRELMO_API IMA_STATUS IMA_GetLhbaMutualAuthParmsList(IMA_OID lhbaId, uint32_t method,
                                                     IMA_LHBA_MUTUAL_AUTHPARMS_LIST **list);

/* ---- discovery addresses, targets, sessions, connections and LUs ----
 * In this build each answers IMA_ERROR_NOT_SUPPORTED once its arguments and
 * its object id have passed their checks. */

DRELMO_API IMA_STATUS IMA_AddDiscoveryAddress(IMA_OID oid, IMA_TARGET_ADDRESS address, IMA_OID *discoveryAddressId);
DRELMO_API IMA_STATUS IMA_RemoveDiscoveryAddress(IMA_OID discoveryAddressId);
DRELMO_API IMA_STATUS IMA_GetDiscoveryAddressOidList(IMA_OID oid, IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_GetDiscoveryAddressProperties(IMA_OID discoveryAddressId,
                                                        IMA_DISCOVERY_ADDRESS_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_GetDiscoveryProperties(IMA_OID oid, IMA_DISCOVERY_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_SetStaticDiscovery(IMA_OID oid, uint32_t enable);
DRELMO_API IMA_STATUS IMA_SetSlpDiscovery(IMA_OID oid, uint32_t enable);
DRELMO_API IMA_STATUS IMA_SetIsnsDiscovery(IMA_OID oid, uint32_t enable, uint32_t method, const IMA_HOST_ID *host);
DRELMO_API IMA_STATUS IMA_VMW_Rediscover(IMA_OID oid);
DRELMO_API IMA_STATUS IMA_VMW_GetDiscoveryStatus(IMA_OID phbaId, uint32_t *status);
DRELMO_API IMA_STATUS IMA_GetTargetOidList(IMA_OID oid, IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_VMW_GetTargetOidList(IMA_OID oid, IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_GetTargetProperties(IMA_OID targetId, IMA_TARGET_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_GetStaticDiscoveryTargetOidList(IMA_OID oid, IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_VMW_GetStaticDiscoveryTargetOidList(IMA_OID oid, IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_GetStaticDiscoveryTargetProperties(IMA_OID oid,
                                                             IMA_STATIC_DISCOVERY_TARGET_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_VMW_GetStaticDiscoveryTargetProperties(IMA_OID oid,
                                                                 IMA_STATIC_DISCOVERY_TARGET_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_AddStaticDiscoveryTarget(IMA_OID oid, IMA_STATIC_DISCOVERY_TARGET target, IMA_OID *targetId);
DRELMO_API IMA_STATUS IMA_RemoveStaticDiscoveryTarget(IMA_OID oid);
DRELMO_API IMA_STATUS IMA_GetAddressKeys(IMA_OID oid, IMA_ADDRESS_KEYS **keys);
DRELMO_API IMA_STATUS IMA_GetSessionOidList(IMA_OID oid, IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_GetSessionProperties(IMA_OID sessionId, IMA_SESSION_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_VMW_AddSession(IMA_OID oid);
DRELMO_API IMA_STATUS IMA_VMW_RemoveSession(IMA_OID oid);
DRELMO_API IMA_STATUS IMA_GetConnectionOidList(IMA_OID sessionId, IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_GetConnectionProperties(IMA_OID connectionId, IMA_CONNECTION_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_VMW_GetConnectionStatus(IMA_OID connectionId, IMA_VMW_CONNECTION_STATUS *status);
DRELMO_API IMA_STATUS IMA_GetLuOidList(IMA_OID oid, IMA_OID_LIST **list);
DRELMO_API IMA_STATUS IMA_GetLuProperties(IMA_OID luId, IMA_LU_PROPERTIES *props);
DRELMO_API IMA_STATUS IMA_LuReportLuns(IMA_OID oid, uint32_t sendToWellKnownLun, uint8_t selectReport, void *buffer,
                                       uint32_t *bufferLength, uint8_t *senseBuffer, uint32_t *senseLength);
/* Logs in to every portal of the target (a Target group's tag) that has no
 * live session. */
DRELMO_API IMA_STATUS IMA_check_session_status(uint32_t targetTag);

#ifdef __cplusplus
}
#endif

#endif
