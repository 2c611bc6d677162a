/*
 * cfg_profile_model.h - the adapter's profiles as the firmware hands them
 * over: the payloads of the profile commands (profile configuration, profile
 * list and capacities, active profile ids, ARI settings, link
 * reconfiguration, configuration signature, the Pivard common profile
 * configuration), a bounded walk over a profile's resource records, and the
 * two shared readers.
 *
 * Usage:
 *     ProfileConfig *p = ORSA_get_profile(controller, ORSA_CFG_ACTIVE, 0, 0);
 *     if (p != nullptr) {
 *         OrsaProfileWalk w;
 *         orsa_profile_walk_begin(&w, p);
 *         while (const u8 *rec = orsa_profile_walk_next(&w))
 *             if (rec[0] == ORSA_RES_NIC_FUNCTION) ... orsa_res_pf(rec) ...
 *         orsa_dfree(p);
 *     }
 *
 * Every integer of a payload is little-endian; the structures are packed and
 * their sizes and field offsets are pinned below. Firmware replies are not
 * trusted: the walk never leaves the buffer, stops at a record of length 0,
 * and hands out a function or port record only when it is long enough to
 * hold the fields the readers take from it. Descriptor counts are capped at
 * what their buffers hold (orsa_profile_list_count and its siblings).
 */
#ifndef DRELMO_CONFIG_CFG_PROFILE_MODEL_H
#define DRELMO_CONFIG_CFG_PROFILE_MODEL_H

#include <cstddef>

#include "backend/orsa_gateway.h"
#include "tree/hm_types.h"

/* config_type of a profile read (request byte 1, bits 0-1). */
enum {
    ORSA_CFG_CONFIGURED = 0, /* the profile the adapter takes at its next reset */
    ORSA_CFG_LISTED = 1,     /* the listed profile named by profile_id */
    ORSA_CFG_ACTIVE = 2,     /* the profile running now */
};

/* res_desc_type of a resource record. */
enum {
    ORSA_RES_PCIE_FUNCTION = 80,
    ORSA_RES_NIC_FUNCTION = 81,
    ORSA_RES_ISCSI_FUNCTION = 82,
    ORSA_RES_FCOE_FUNCTION = 83,
    ORSA_RES_ROCE_FUNCTION = 84,
    ORSA_RES_PORT = 85,
    ORSA_RES_MC_TYPES = 86,
};

/* Capability descriptor types of a ProfileCapacity reply. */
enum {
    ORSA_CAP_FUNCTIONS = 144,
    ORSA_CAP_NIC = 145,
    ORSA_CAP_ISCSI = 146,
    ORSA_CAP_FCOE = 147,
    ORSA_CAP_ROCE = 148,
};

#define ORSA_RES_DESC_LEN 88u    /* types 80 to 83 and 85 */
#define ORSA_RES_MC_DESC_LEN 68u /* type 86 */
#define ORSA_RES_HIDDEN 0x08u    /* flags bit: readers skip a hidden function record */

#define ORSA_PROFILE_CONFIG_SIZE 22620u
#define ORSA_PROFILE_RECORDS_OFFSET 4u
#define ORSA_PROFILE_LIST_SIZE 52120u
#define ORSA_PROFILE_LIST_MAX 101u
#define ORSA_PROFILE_CAP_SIZE 10284u
#define ORSA_LINK_RECONFIG_SIZE 1196u
#define ORSA_LINK_CONFIG_MAX 33u
#define ORSA_COMMON_PROFILE_SIZE 18436u
#define ORSA_COMMON_PROFILE_MAX 256u
#define ORSA_SET_PROFILE_HEAD 8u       /* set-profile-config: id, flags, u32 count */
#define ORSA_SET_ONE_FUNCTION_SIZE 184u /* set-profile-config of one function record */

/* Status codes of the profile readers. */
enum {
    ORSA_STATUS_BUFFER_SPACE = 31,
    ORSA_STATUS_PROFILE_LIST_FAILED = 275,
    ORSA_STATUS_PROFILE_CAP_FAILED = 276,
    ORSA_STATUS_ACTIVE_PROFILE_FAILED = 277,
    ORSA_STATUS_PROFILE_CONFIG_FAILED = 278,
    ORSA_STATUS_PROFILE_ROAD_UNUSABLE = 288, /* use the older configuration commands */
    ORSA_STATUS_LINK_RECONFIG_FAILED = 332,
};

#pragma pack(push, 1)

/* Common head of every resource record. */
struct resource_desc {
    u8 res_desc_type;
    u8 des_len;
    u8 reserved2;
    u8 flags; /* bit 3 hidden */
    u8 reserved4[2];
    u8 pf_lo;   /* pf bits 0-7 */
    u8 pf_hi;   /* bits 0-1: pf bits 8-9; bits 2-7 belong to other fields */
};

/* Type 80: one PCI function. */
struct pcie_function_desc {
    resource_desc head;
    u8 reserved8[4];
    u8 sriov_state;      /* 0 disabled, 1 enabled, else not applicable */
    u8 pf_state;         /* 1 enabled; non-zero: function_type is valid */
    u8 function_type;    /* storage_fun_type */
    u8 reserved15;
    u16 number_vfs;
    u8 reserved18[2];
    u8 mission_roles;    /* bit 1 or 2: a storage function */
    u8 reserved21[2];
    u8 change_flags;     /* bit 3 presentation_chg, bit 4 sriov_state_chg */
    u8 reserved24[64];
};

/* Type 81: NIC function. */
struct nic_function_desc {
    resource_desc head;
    u8 reserved8[2];
    u8 mac[6];
    u8 reserved16[28];
    u8 port; /* bits 0-5 */
    u8 reserved45[43];
};

/* Type 82: iSCSI function. */
struct iscsi_function_desc {
    resource_desc head;
    u8 reserved8[6];
    u8 mac[6];
    u8 reserved20[12];
    u8 port; /* bits 0-5 */
    u8 reserved33[55];
};

/* Type 83: FCoE function. */
struct fcoe_function_desc {
    resource_desc head;
    u8 reserved8[32];
    u8 mac[6];
    u8 reserved46[6];
    u8 port; /* bits 0-5 */
    u8 reserved53[35];
};

/* Type 85: one physical port. Counts are 12 bits: low byte, then bits 8-11. */
struct port_desc {
    u8 res_desc_type;
    u8 des_len;
    u8 reserved2;
    u8 flags;
    u8 link_number; /* bits 0-5 */
    u8 mc_type;
    u8 reserved6[6];
    u8 max_pf_count[2];
    u8 max_storage_pf_count[2];
    u8 max_nic_pf_count[2];
    u8 max_roce_pf_count[2];
    u8 max_iscsi_pf_count[2];
    u8 max_fcoe_pf_count[2];
    u8 reserved24[64];
};

/* Type 86: the multichannel type of each port (written only). */
struct mc_types_desc {
    resource_desc head;
    u8 reserved8[44];
    u8 mc_type[16]; /* port n at byte 52 + n */
};

/* Get-profile-config payload: request head, reply count, the records. */
struct ProfileConfig {
    union {
        struct {
            u8 profile_id;
            u8 type_flags; /* bits 0-1 config_type, bit 2 the option flag */
        } request;
        u16 resource_desc_count;
    };
    u8 reserved2[2];
    u8 records[ORSA_PROFILE_CONFIG_SIZE - ORSA_PROFILE_RECORDS_OFFSET];
};

/* Payload of ARI settings read (94) and write (95). */
struct AriSettings {
    u8 next_max_pf_id;   /* write: the new maximum function number */
    u8 max_pf_id;
    u8 active_max_pf_id;
    u8 flags;            /* bit 7: read cari (changeable); write: back to the default */
};

/* Payload of the active profile read (167). The write (168) puts the id in
 * byte 0 and bit 7 of byte 3 for the factory default. */
struct ActiveProfileIds {
    u16 active_profile_id;
    u16 next_profile_id;
};

struct link_config_desc {
    u8 reserved0[3];
    u8 link_config_id;
    char link_config_desc_string[32];
};

/* Payload of the link reconfiguration read (201). The write (202) puts the
 * id in byte 0 and bit 7 of byte 3 for the factory default. */
struct LinkReconfigInfo {
    u8 active_link_config_id; /* 0 none */
    u8 reserved1;
    u8 next_link_config_id;   /* 0 none */
    u8 reserved3;
    i32 link_config_descriptor_count;
    link_config_desc descriptors[ORSA_LINK_CONFIG_MAX];
};

struct profile_descriptor {
    u8 profile_id;
    u8 reserved1;
    u8 profile_index;
    u8 reserved3;
    char profile_description_string[512];
};

/* Payload of the profile list read (166). */
struct ProfileList {
    i32 profile_descriptor_count;
    profile_descriptor descriptors[ORSA_PROFILE_LIST_MAX];
};

/* Payload of the profile capacities read (161): request byte 0 the profile
 * id; reply the descriptor count, then descriptors walked like records. */
struct ProfileCapacity {
    union {
        u8 profile_id;
        i32 cap_desc_count;
    };
    u8 descriptors[ORSA_PROFILE_CAP_SIZE - 4];
};

/* Type 144 capability descriptor. */
struct cap_functions_desc {
    u8 desc_type;
    u8 desc_len;
    u8 reserved2[4];
    u8 mission_roles;
    u8 reserved7;
    u16 total_func;
};

/* Write form of the ARI settings (95), the active profile (168) and the link
 * configuration (202): the new id or maximum function number, or bit 7 of
 * byte 3 for the adapter's default (id 0). */
struct ConfigIdWrite {
    u8 id;
    u8 reserved1[2];
    u8 flags; /* bit 7: the default */
};
#define ORSA_CONFIG_ID_DEFAULT 0x80u

/* Head of a set-profile-config request; the records follow from byte 8. */
struct SetProfileConfigHead {
    u8 profile_id;
    u8 reserved1[2];
    u8 flags; /* bit 7 set */
    u32 record_count;
};

/* Payload of the configuration signature write (79). */
struct ConfigSignature {
    u32 signature; /* 3 */
    u8 reserved4[128];
};

/* One entry of the Pivard common profile configuration. */
struct common_profile_entry {
    u8 kind;            /* 64: a PCI function */
    u8 reserved1[5];
    u16 pf;             /* bits 0-9 */
    u8 reserved8[4];
    u8 sriov_state;     /* 0 disabled, 1 enabled */
    u8 function_state;
    u8 function_type;   /* 1 NIC, 4 FCoE */
    u8 reserved15[57];
};

/* Pivard common profile configuration (opcode 164 with header version 0). */
struct CommonProfileConfig {
    u32 entry_count;
    common_profile_entry entries[ORSA_COMMON_PROFILE_MAX];
};

#pragma pack(pop)

static_assert(sizeof(resource_desc) == 8);
static_assert(sizeof(pcie_function_desc) == ORSA_RES_DESC_LEN);
static_assert(offsetof(pcie_function_desc, sriov_state) == 12);
static_assert(offsetof(pcie_function_desc, pf_state) == 13);
static_assert(offsetof(pcie_function_desc, function_type) == 14);
static_assert(offsetof(pcie_function_desc, number_vfs) == 16);
static_assert(offsetof(pcie_function_desc, mission_roles) == 20);
static_assert(offsetof(pcie_function_desc, change_flags) == 23);
static_assert(sizeof(nic_function_desc) == ORSA_RES_DESC_LEN);
static_assert(offsetof(nic_function_desc, mac) == 10);
static_assert(offsetof(nic_function_desc, port) == 44);
static_assert(sizeof(iscsi_function_desc) == ORSA_RES_DESC_LEN);
static_assert(offsetof(iscsi_function_desc, mac) == 14);
static_assert(offsetof(iscsi_function_desc, port) == 32);
static_assert(sizeof(fcoe_function_desc) == ORSA_RES_DESC_LEN);
static_assert(offsetof(fcoe_function_desc, mac) == 40);
static_assert(offsetof(fcoe_function_desc, port) == 52);
static_assert(sizeof(port_desc) == ORSA_RES_DESC_LEN);
static_assert(offsetof(port_desc, link_number) == 4);
static_assert(offsetof(port_desc, mc_type) == 5);
static_assert(offsetof(port_desc, max_pf_count) == 12);
static_assert(offsetof(port_desc, max_storage_pf_count) == 14);
static_assert(offsetof(port_desc, max_nic_pf_count) == 16);
static_assert(offsetof(port_desc, max_roce_pf_count) == 18);
static_assert(offsetof(port_desc, max_iscsi_pf_count) == 20);
static_assert(offsetof(port_desc, max_fcoe_pf_count) == 22);
static_assert(sizeof(mc_types_desc) == ORSA_RES_MC_DESC_LEN);
static_assert(offsetof(mc_types_desc, mc_type) == 52);
static_assert(sizeof(ProfileConfig) == ORSA_PROFILE_CONFIG_SIZE);
static_assert(offsetof(ProfileConfig, records) == ORSA_PROFILE_RECORDS_OFFSET);
static_assert(sizeof(ProfileConfig::records) / ORSA_RES_DESC_LEN == 257);
static_assert(sizeof(AriSettings) == 4);
static_assert(sizeof(ActiveProfileIds) == 4);
static_assert(offsetof(ActiveProfileIds, next_profile_id) == 2);
static_assert(sizeof(link_config_desc) == 36);
static_assert(offsetof(link_config_desc, link_config_id) == 3);
static_assert(offsetof(link_config_desc, link_config_desc_string) == 4);
static_assert(sizeof(LinkReconfigInfo) == ORSA_LINK_RECONFIG_SIZE);
static_assert(offsetof(LinkReconfigInfo, next_link_config_id) == 2);
static_assert(offsetof(LinkReconfigInfo, link_config_descriptor_count) == 4);
static_assert(offsetof(LinkReconfigInfo, descriptors) == 8);
static_assert(sizeof(profile_descriptor) == 516);
static_assert(offsetof(profile_descriptor, profile_index) == 2);
static_assert(offsetof(profile_descriptor, profile_description_string) == 4);
static_assert(sizeof(ProfileList) == ORSA_PROFILE_LIST_SIZE);
static_assert(offsetof(ProfileList, descriptors) == 4);
static_assert(sizeof(ProfileCapacity) == ORSA_PROFILE_CAP_SIZE);
static_assert(offsetof(cap_functions_desc, mission_roles) == 6);
static_assert(offsetof(cap_functions_desc, total_func) == 8);
static_assert(sizeof(ConfigIdWrite) == 4);
static_assert(offsetof(ConfigIdWrite, flags) == 3);
static_assert(sizeof(SetProfileConfigHead) == ORSA_SET_PROFILE_HEAD);
static_assert(offsetof(SetProfileConfigHead, record_count) == 4);
static_assert(sizeof(ConfigSignature) == 132);
static_assert(sizeof(common_profile_entry) == 72);
static_assert(offsetof(common_profile_entry, pf) == 6);
static_assert(offsetof(common_profile_entry, sriov_state) == 12);
static_assert(offsetof(common_profile_entry, function_state) == 13);
static_assert(offsetof(common_profile_entry, function_type) == 14);
static_assert(sizeof(CommonProfileConfig) == ORSA_COMMON_PROFILE_SIZE);

/* ---- field readers of a record (rec points at its type byte) ---- */

/* The 10-bit PCI function number: byte 6 plus bits 0-1 of byte 7. */
inline u32 orsa_res_pf(const u8 *rec)
{
    return (u32)rec[6] | ((u32)(rec[7] & 3u) << 8);
}

/* A 12-bit count of a port record: low byte plus bits 0-3 of the next. */
inline u32 orsa_res_count12(const u8 *field)
{
    return (u32)field[0] | ((u32)(field[1] & 15u) << 8);
}

inline bool orsa_res_hidden(const u8 *rec)
{
    return (rec[3] & ORSA_RES_HIDDEN) != 0;
}

/* The port a NIC, iSCSI or FCoE function record sits on; -1 for another type. */
i32 orsa_res_port(const u8 *rec);
/* The MAC address of a NIC, iSCSI or FCoE function record; none otherwise. */
const u8 *orsa_res_mac(const u8 *rec);

/* The multichannel type text of a port record's mc_type; none for codes
 * without a text (9, above 10). The texts are the port MCType list's. */
const char *orsa_mc_type_text(u32 mc_type);

/* ---- the record walk ---- */

struct OrsaProfileWalk {
    const u8 *buffer; /* the ProfileConfig */
    u32 size;         /* its bytes */
    u32 offset;       /* the next record */
    u32 remaining;    /* records the reply still claims */
};

void orsa_profile_walk_begin(OrsaProfileWalk *walk, const ProfileConfig *profile);
/* Begins on any buffer laid out like ProfileConfig (count at 0, records from
 * byte 4) of size bytes. */
void orsa_profile_walk_begin_raw(OrsaProfileWalk *walk, const u8 *buffer, u32 size);
/* Begins on descriptors that start at byte 4 of a buffer of size bytes, of
 * which the reply claims count (ProfileCapacity). */
void orsa_profile_walk_begin_counted(OrsaProfileWalk *walk, const u8 *buffer, u32 size, u32 count);
/* The next record, or none once the count is reached, a record would reach
 * past the buffer end, or a record length is 0. A function or port record
 * (types 80 to 85) shorter than the fields read from it is stepped over. */
const u8 *orsa_profile_walk_next(OrsaProfileWalk *walk);
/* The next record of one type, under the same rules. */
const u8 *orsa_profile_walk_next_of(OrsaProfileWalk *walk, u8 type);

/* Descriptor counts of the firmware replies, negative counts as 0 and
 * capped at what the buffer holds. */
u32 orsa_profile_list_count(const ProfileList *list);
u32 orsa_link_config_count(const LinkReconfigInfo *info);
u32 orsa_common_profile_count(const CommonProfileConfig *config);

/* ---- the readers ---- */

/* One profile of the controller as a new ProfileConfig (free with
 * orsa_dfree); none without a controller or a physical HBA (no status), with
 * status 16 when memory runs out, or with status 278 when the read fails.
 * config_type is reduced to two bits, option_flag to bit 0. */
ProfileConfig *ORSA_get_profile(HmNode *controller, u32 config_type, u32 profile_id, u32 option_flag);

/* The storage functions of the active profile at the given function: for
 * each type-80 record whose mission_roles has bit 1 or 2 set, its pf in
 * functions[] and its type (byte 14 when pf_state is non-zero, else 1) in
 * types[]. mode 0 counts only functions with a non-zero pf_state (an entry of
 * a zero-pf_state function is overwritten by the next); mode 1 counts every
 * one. At most capacity entries are stored: the arrays are the caller's.
 * Returns 0, 1 (status 16: no memory), 213 (the adapter does not know the
 * command) or 288 (any other failure, or a first record of type 79 or less):
 * on 213 and 288 the caller uses the older configuration commands, and no
 * last status is set. */
u32 ORSA_get_storage_functions(OrsaPort at, u8 domain, u8 phba_port, HmNode *controller, u32 *count,
                               u32 *functions, u32 *types, u32 capacity, u32 mode);

/* Sends the configuration signature (3) to the controller's function at with
 * domain 0 and physical-HBA port 0; the command's result. Nothing is sent
 * for a NIC function (0). */
u32 ORSA_set_config_signature(OrsaPort at);

#endif
