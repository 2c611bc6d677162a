/*
 * drelmo.h - the interface of libdrelmo.so for its clients, in C (C99 or
 * later) and C++. Everything the library exports is declared here; the
 * library builds itself against this same file.
 *
 * A client opens the library, walks the tree of management objects by tags,
 * reads and writes property values, runs actions and closes it again:
 *
 *     #include <drelmo.h>
 *
 *     if (ORSA_init() != ORSA_OK) ...;
 *     static uint32_t tags[ORSA_MAX_CHILD_TAGS];
 *     uint32_t n = 0;
 *     ORSA_get_child_tags(0, tags, &n, ORSA_FILTER_PROPERTIES);   // ROOT is tag 0
 *     char value[HM_VALUE_SIZE];
 *     if (ORSA_get_property_val(0, tags[0], value, sizeof value) != ORSA_OK) {
 *         uint32_t code;
 *         char text[ORSA_STATUS_TEXT_SIZE];
 *         ORSA_get_last_status(&code, text);
 *     }
 *     ORSA_exit();
 *
 * Results. Every call returns 0 for success. A call that fails returns a
 * value other than 0 and leaves the reason in the last status, a code and a
 * text (ORSA_get_last_status; each thread reads its own). Every call but
 * ORSA_get_last_status clears the last status when it starts. The value
 * returned is either that code or 1:
 *   - 1, code 1 and a text naming the fault: a refused argument - a tag that
 *     names no node, a node of the wrong kind, a name no child has
 *     (ORSA_get_node_tag), a missing buffer, a size out of range;
 *   - 1 and the code: a value or parameter that fails its check (6, 7, 8, 9;
 *     10 for a read-only property), and the many handlers that report their
 *     own code that way (for example 278, 326);
 *   - the code itself: the handler's status as it is, mostly 259 "not
 *     supported"; 3 for a set of a property without handler; 11 when the
 *     caller's room is too small (below).
 * So after a result other than 0, read the code from the last status.
 * ORSA_get_property_val, ORSA_set_property_val and ORSA_do_action return
 * what the property's or action's handler returns, in either form. A read
 * that fails may still write a text into the buffer: "N/A", or the
 * property's default text with 259.
 * A success may leave a notice in the last status: a setting taken that needs
 * a reboot (252, 304, 312); ORSA_init on a host without adapters returns 0
 * with 313 ("... Adapter Not found ...") and a tree of ROOT alone.
 * ORSA_exit, ORSA_get_last_status and ORSA_refresh_group always return 0
 * (a refresh that failed, or a tag that names no group, leaves its reason in
 * the last status).
 *
 * Sizes. Values and parameters are texts of at most 255 characters and a
 * terminator (HM_VALUE_SIZE). ORSA_get_property_val writes at most size - 1
 * characters and a terminator (size 1 to HM_VALUE_SIZE); a longer value is
 * cut to fit and the call returns 11 (ORSA_STATUS_NO_ROOM), so a buffer of
 * HM_VALUE_SIZE bytes always takes the whole value. ORSA_get_child_tags
 * writes at most ORSA_MAX_CHILD_TAGS tags: an array of that size always
 * suffices (a group with more children of the kind asked for answers 11 and
 * writes none). ORSA_do_action writes the tags of the groups the action made
 * into new_tags (or none when it is null): first entry 0 is set to 0, then
 * one tag per group from entry 0 on, at most ORSA_MAX_NEW_TAGS; the count
 * is not returned, so give ORSA_MAX_NEW_TAGS + 1 entries set to 0 and read
 * up to the first 0 (tag 0 is ROOT, never a new group).
 *
 * Calls from several threads are run one at a time.
 *
 * Build: cc -m32 -std=c99 -I <folder of drelmo.h> client.c -L <folder of libdrelmo.so> -ldrelmo
 * (examples/adapter_report.c is a whole client; scripts/emulated-host runs one
 * over an emulated host.)
 */
#ifndef DRELMO_H
#define DRELMO_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define DRELMO_API __attribute__((visibility("default")))
#else
#define DRELMO_API
#endif

/* Compile-time checks that hold in C99 as in C11 and C++. */
#if defined(__cplusplus)
#define DRELMO_STATIC_ASSERT(cond, name) static_assert(cond, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define DRELMO_STATIC_ASSERT(cond, name) _Static_assert(cond, #name)
#else
#define DRELMO_STATIC_ASSERT(cond, name) typedef char drelmo_static_assert_##name[(cond) ? 1 : -1]
#endif

/* ---- sizes ---- */

#define HM_VALUE_SIZE 256       /* one value or action parameter, terminator included */
#define HM_NAME_SIZE 35         /* a node's label: name and instance number, terminator included */
#define HM_DESCRIPTION_SIZE 1780
#define HM_MAX_PARAMS 6         /* parameters of one action */
#define HM_LIST_SIZE 256        /* allowed values, comma separated */
#define ORSA_STATUS_TEXT_SIZE 600
#define ORSA_MAX_CHILD_TAGS 4096  /* most tags ORSA_get_child_tags writes */
#define ORSA_MAX_NEW_TAGS 4097    /* most tags ORSA_do_action writes into new_tags */

/* First byte of an action parameter slot that the client does not give. */
#define ORSA_PARAM_NOT_GIVEN 0xFF

/* ---- node kinds, value types, child filters ---- */

enum {
    HM_KIND_ANY = 0,
    HM_KIND_GROUP = 1,
    HM_KIND_PROPERTY = 2,
    HM_KIND_ACTION = 3,
    HM_KIND_LINK = 4
};

enum {
    HM_TYPE_STRING = 0,
    HM_TYPE_INTEGER = 1,
    HM_TYPE_IPADDR = 2,
    HM_TYPE_SUBNETMASK = 3,
    HM_TYPE_LIST = 4
};

/* ORSA_get_child_tags: which children are listed. */
enum {
    ORSA_FILTER_NONE = 0,
    ORSA_FILTER_GROUPS = 1,
    ORSA_FILTER_PROPERTIES = 2,
    ORSA_FILTER_ACTIONS = 3,
    ORSA_FILTER_LINKS = 4,
    ORSA_FILTER_READONLY = 5,
    ORSA_FILTER_NOT_READONLY = 6,
    ORSA_FILTER_WRITABLE = 7
};

/* ---- status codes (the texts come with ORSA_get_last_status) ---- */

enum {
    ORSA_OK = 0,
    ORSA_FAILURE = 1,                /* generic failure, refused argument, unknown tag or name */
    ORSA_STATUS_NO_HANDLER = 3,      /* set on a property without handler */
    ORSA_STATUS_NODE_LINKED = 4,     /* delete refused while links point here */
    ORSA_STATUS_INVALID_VALUE = 6,
    ORSA_STATUS_OUT_OF_RANGE = 7,
    ORSA_STATUS_BAD_LENGTH = 8,
    ORSA_STATUS_PARAM_MISSING = 9,
    ORSA_STATUS_READ_ONLY = 10,
    ORSA_STATUS_NO_ROOM = 11,        /* the caller's table or value buffer is too small */
    ORSA_STATUS_NO_MEMORY = 16,
    ORSA_STATUS_CMD_UNKNOWN = 213,   /* the adapter does not know the command */
    ORSA_STATUS_VF_REFUSED = 256,
    ORSA_STATUS_NOT_SUPPORTED = 259  /* "This operation is not supported on this controller." */
};

/* ---- records handed to clients byte for byte ---- */

typedef char HmValueSlot[HM_VALUE_SIZE];

/* A node of the tree; clients name nodes by tag, the few calls that take a
 * node pointer are for clients that bind handlers of their own. */
typedef struct HmNode HmNode;

/* One action parameter (2084 bytes). */
typedef struct HmActionParam {
    uint8_t required;                      /* 1: must be given */
    char name[HM_NAME_SIZE];
    char description[HM_DESCRIPTION_SIZE];
    uint8_t type;                          /* HM_TYPE_* */
    char list[HM_LIST_SIZE];               /* allowed values of a list */
    uint8_t pad[3];
    int32_t min;                           /* length for a string, value for an integer */
    int32_t max;
} HmActionParam;

/* ORSA_get_param_info (12508 bytes). */
typedef struct HmParamInfo {
    uint32_t param_count;
    HmActionParam params[HM_MAX_PARAMS];
} HmParamInfo;

/* ORSA_get_node_description (1792 bytes). */
typedef struct HmNodeDescription {
    char description[HM_DESCRIPTION_SIZE];
    uint8_t kind;                          /* HM_KIND_* after following links */
    uint8_t type;                          /* properties only */
    uint8_t unused[2];
    int32_t min;                           /* properties only */
    int32_t max;
} HmNodeDescription;

/* ORSA_get_persistence_info (1544 bytes). */
typedef struct HmPersistenceInfo {
    uint32_t key_b_tag;                    /* the action that made the node */
    uint32_t key_a_tag;                    /* the group it ran on */
    HmValueSlot keys[HM_MAX_PARAMS];       /* its parameters */
} HmPersistenceInfo;

DRELMO_STATIC_ASSERT(sizeof(HmActionParam) == 2084, action_param_size);
DRELMO_STATIC_ASSERT(offsetof(HmActionParam, name) == 1, action_param_name);
DRELMO_STATIC_ASSERT(offsetof(HmActionParam, description) == 36, action_param_description);
DRELMO_STATIC_ASSERT(offsetof(HmActionParam, type) == 1816, action_param_type);
DRELMO_STATIC_ASSERT(offsetof(HmActionParam, list) == 1817, action_param_list);
DRELMO_STATIC_ASSERT(offsetof(HmActionParam, min) == 2076, action_param_min);
DRELMO_STATIC_ASSERT(offsetof(HmActionParam, max) == 2080, action_param_max);
DRELMO_STATIC_ASSERT(sizeof(HmParamInfo) == 12508, param_info_size);
DRELMO_STATIC_ASSERT(offsetof(HmParamInfo, params) == 4, param_info_params);
DRELMO_STATIC_ASSERT(sizeof(HmNodeDescription) == 1792, node_description_size);
DRELMO_STATIC_ASSERT(offsetof(HmNodeDescription, kind) == 1780, node_description_kind);
DRELMO_STATIC_ASSERT(offsetof(HmNodeDescription, type) == 1781, node_description_type);
DRELMO_STATIC_ASSERT(offsetof(HmNodeDescription, min) == 1784, node_description_min);
DRELMO_STATIC_ASSERT(offsetof(HmNodeDescription, max) == 1788, node_description_max);
DRELMO_STATIC_ASSERT(sizeof(HmPersistenceInfo) == 1544, persistence_info_size);
DRELMO_STATIC_ASSERT(offsetof(HmPersistenceInfo, key_a_tag) == 4, persistence_info_key_a);
DRELMO_STATIC_ASSERT(offsetof(HmPersistenceInfo, keys) == 8, persistence_info_keys);

/* ---- the tree API ---- */

DRELMO_API uint32_t ORSA_init(void);
DRELMO_API uint32_t ORSA_exit(void);
DRELMO_API uint32_t ORSA_get_last_status(uint32_t *code, char *text /* ORSA_STATUS_TEXT_SIZE */);
DRELMO_API uint32_t ORSA_get_param_info(uint32_t tag, HmParamInfo *info);
DRELMO_API uint32_t ORSA_get_child_tags(uint32_t tag, uint32_t *tags, uint32_t *count, uint32_t filter);
DRELMO_API uint32_t ORSA_get_parent_tag(uint32_t tag, uint32_t *parent);
DRELMO_API uint32_t ORSA_refresh_group(uint32_t tag);
DRELMO_API uint32_t ORSA_get_persistence_info(uint32_t tag, HmPersistenceInfo *info);
DRELMO_API uint32_t ORSA_get_node_description(uint32_t tag, HmNodeDescription *desc);
DRELMO_API uint32_t ORSA_get_node_name(uint32_t tag, char *name /* HM_NAME_SIZE */, uint32_t kind);
DRELMO_API uint32_t ORSA_get_persistent_nodes(uint32_t *tags, int32_t *count);
DRELMO_API uint32_t ORSA_get_valid_instances(uint32_t tag, const char *name, uint32_t *numbers, uint32_t *count);
DRELMO_API uint32_t ORSA_get_property_val(uint32_t group_tag, uint32_t property_tag, char *value, int32_t size);
DRELMO_API uint32_t ORSA_set_property_val(uint32_t group_tag, uint32_t property_tag, char *value, uint32_t size);
DRELMO_API uint32_t ORSA_do_action(uint32_t group_tag, uint32_t action_tag, HmValueSlot *params,
                                   uint32_t *new_tags);
DRELMO_API uint32_t ORSA_get_node_tag(uint32_t group_tag, const char *name, uint32_t *tag, uint32_t kind);

/* ---- the tree state file ---- */

/* Saves the persistent part of the tree below start; a property value is
 * saved when (its flags & mask) != 0. */
DRELMO_API uint32_t save_node(HmNode *start, FILE *file, uint32_t mask);
/* Replays a saved state file onto the tree. */
DRELMO_API uint32_t restore_hm(FILE *file);

/* ---- lock files by which processes using the library exclude each other ---- */

DRELMO_API uint32_t orsa_acquire_lock(const char *name);
DRELMO_API uint32_t orsa_release_lock(const char *name);
DRELMO_API uint32_t orsa_init_acquire_lock(void);
DRELMO_API uint32_t orsa_init_release_lock(void);
DRELMO_API uint32_t orsa_lock_init(void);
DRELMO_API uint32_t orsa_lock_free(void);

/* ---- client hooks: only while ORSA_init has counted the client ---- */

/* Checks the tree against the adapters again (rebuilding it when they
 * changed); clients is the number of open clients. 0, or 1 with the last
 * status. */
DRELMO_API uint32_t backend_client_init(int32_t clients);
/* A leaving client's clean-up; does its work when clients is 0. */
DRELMO_API void backend_client_exit(uint32_t clients);

/* ---- utilities and handlers for clients ---- */

DRELMO_API void swap16_buffer(uint32_t *words, uint32_t length);
DRELMO_API uint32_t word_count(const char *text, const char *needle);
DRELMO_API uint32_t get_field(const uint8_t *text, uint8_t delimiter, uint8_t *field, int32_t size);
DRELMO_API uint32_t get_nic_count(HmNode *node);
DRELMO_API uint32_t get_vpd_data(uint32_t port, uint8_t domain, uint8_t phba_port, HmNode *vpd, uint32_t protocol,
                                 uint32_t function);
DRELMO_API uint32_t update_nic_ifname(void);
DRELMO_API uint32_t handle_CIM_IPv4Address(HmNode *property, char *value, uint32_t mode);
DRELMO_API uint32_t handle_CIM_IPv6Address(HmNode *property, char *value, uint32_t mode);
DRELMO_API uint32_t handle_CIM_IPProtocolEndPointName(HmNode *property, char *value, uint32_t mode);
/* CIM properties of a NIC function that no group binds: each has its
 * group's property filled by the host ("N/A" on this host) and answers it. */
DRELMO_API uint32_t handle_CIM_AddressOrigin(HmNode *property, char *value, uint32_t mode);
DRELMO_API uint32_t handle_CIM_IPv6GateWay(HmNode *property, char *value, uint32_t mode);
DRELMO_API uint32_t handle_CIM_GateWay(HmNode *property, char *value, uint32_t mode);
DRELMO_API uint32_t handle_NICPhysicalHBA_CIM_SubnetMask(HmNode *property, char *value, uint32_t mode);
DRELMO_API uint32_t handle_CIM_IPProtocolIfType(HmNode *property, char *value, uint32_t mode);
/* The NIC driver's view of the virtual functions of NIC function port:
 * ORSA_get_vf_params writes the text of one VF property ("TxRate",
 * "VLANID", "MACAddress" or "LinkStatus"; "N/A" for a VF the driver does not
 * report) into out (HM_VALUE_SIZE bytes), 1 when the driver cannot be
 * asked; ORSA_get_nic_logicalhba stores the VF count in count and, with
 * create 1, makes one NICLogicalHBA group per VF below node; it answers 0. */
DRELMO_API uint32_t ORSA_get_vf_params(uint32_t port, uint32_t vf, char *out, const char *name);
DRELMO_API uint32_t ORSA_get_nic_logicalhba(HmNode *node, uint32_t port, uint32_t *count, uint32_t create);
/* Linux hosts: 0 when ifname is an interface of the adapter family. */
DRELMO_API uint32_t ORSA_check_valid_interface(const char *ifname);

/* A login option or Authentication value of a target (property is one of
 * the properties of a Target's TargetLoginOptions group or of its
 * Authentication child): mode 0 refreshes the target's options from its
 * saved line and answers the value in value (256 bytes); mode 1 writes value
 * into the target's saved lines and the property, without the digest rules
 * of the property's own handler. A value holding "," or a control character
 * is refused (1, last status 6). 0, or 1. */
DRELMO_API uint32_t handle_target_loginopts(HmNode *property, char *value, uint32_t mode);

/* Set when the software iSCSI initiator serves the iSCSI functions. */
extern DRELMO_API uint8_t OPEN_ISCSI_DRIVER_LOADED;

/* ---- MAC addresses of the adapter's functions ---- */

/* 1 and the six bytes in out (when out is given) for six groups of one or
 * two hexadecimal digits separated by ':' or '-' and nothing else; else 0. */
DRELMO_API uint32_t validateMACAddress(const char *text, uint8_t *out);
/* Copies source to dest (room for strlen(source) + 1 bytes), every from
 * character replaced by to; 1 without source or dest, else 0. */
DRELMO_API uint32_t ORSA_convert_mac_addr(const char *source, char from, char *dest, char to);
/* The permanent MAC address of the PCI function of phba (an iSCSIPhysicalHBA
 * or NICPhysicalHBA group), driver_type 2 NIC or 1 iSCSI, stored as
 * PermanentMACAddress of target (and answered in buffer, 256 bytes, when
 * given); 0 or 1. */
DRELMO_API uint32_t ORSA_get_last_configured_mac(HmNode *phba, HmNode *target, char *buffer, uint32_t driver_type);
/* Writes text as that permanent address (taken at the adapter's next reset);
 * 0 or 1 with the last status. */
DRELMO_API uint32_t ORSA_set_last_configured_mac(HmNode *phba, HmNode *target, const char *text,
                                                 uint32_t driver_type);
/* The same through the legacy configuration table of KS2 adapters. */
DRELMO_API uint32_t ORSA_get_legacy_last_configured_mac(HmNode *phba, HmNode *target);
DRELMO_API uint32_t ORSA_set_legacy_last_configured_mac(HmNode *phba, HmNode *target, const char *text);
/* Puts the factory addresses of the configured profile's functions back into
 * the NIC data regions of adapter flash, passing over partition 1 of every
 * port when skip_function0 is 1; 0, or 1 when a region could not be written. */
DRELMO_API uint32_t ORSA_reset_virt_mac(HmNode *controller, uint32_t skip_function0);
/* The NIC data region of partition partition of port region_port, read
 * through NIC function port: a copy (free it with free()) of the 16-byte
 * header and the TLV area, or none. */
DRELMO_API uint8_t *ORSA_read_nic_region(uint32_t port, uint8_t domain, uint8_t phba_port, uint32_t region_port,
                                         uint32_t partition);
/* Writes a region image (its header's length names the TLV bytes that
 * follow); the command's status, or 1. */
DRELMO_API uint32_t ORSA_write_nic_region(uint32_t port, uint8_t domain, uint8_t phba_port, uint32_t region_port,
                                          uint32_t partition, uint8_t *image);

/* ---- action descriptors of the port groups ---- */

/* Shared by the matching action of every port group; a client reads their
 * parameters with ORSA_get_param_info on the action's tag. */
typedef struct HmAction HmAction;
extern DRELMO_API HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_Beacon_action;
extern DRELMO_API HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_SetPortSpeed_action;
extern DRELMO_API HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_DumpTransceiverData_action;
extern DRELMO_API HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_ErasePortandDiscoveryConfiguration_action;
extern DRELMO_API HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_BaseT10G_SelfTest_action;
extern DRELMO_API HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_BaseT10G_RunTDR_action;
extern DRELMO_API HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_BaseT10G_ClearCounters_action;
extern DRELMO_API HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_DCBX_ApplicationTLVGroups_AdministratorTLVSetting_AddApplicationTLV_action;
extern DRELMO_API HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_DCBX_ApplicationTLVGroups_AdministratorTLVSetting_DeleteApplicationTLV_action;

#ifdef __cplusplus
}
#endif

#endif
