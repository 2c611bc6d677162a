/*
 * orsa_api.h - the exported tree API of libdrelmo and the value validators.
 *
 * Usage (a client):
 *     ORSA_init();
 *     u32 tags[64], n;
 *     ORSA_get_child_tags(0, tags, &n, ORSA_FILTER_PROPERTIES);   // ROOT is tag 0
 *     char v[256];
 *     if (ORSA_get_property_val(0, tags[0], v, sizeof v) != 0) {
 *         u32 code; char text[600];
 *         ORSA_get_last_status(&code, text);
 *     }
 *     ORSA_exit();
 * Every call returns 0 for success, 1 for a bad argument, a tag naming no node
 * or a node of the wrong kind, else a library status. Callers serialise all
 * calls. The validators are shared with the handlers of every subsystem:
 * 0 valid, 6 malformed, 7 number out of range, 8 length out of range.
 */
#ifndef DRELMO_TREE_ORSA_API_H
#define DRELMO_TREE_ORSA_API_H

#include "tree/hm_types.h"

#define ORSA_API extern "C" __attribute__((visibility("default")))

/* Child-tag filters. */
enum {
    ORSA_FILTER_NONE = 0,
    ORSA_FILTER_GROUPS = 1,
    ORSA_FILTER_PROPERTIES = 2,
    ORSA_FILTER_ACTIONS = 3,
    ORSA_FILTER_LINKS = 4,
    ORSA_FILTER_READONLY = 5,
    ORSA_FILTER_NOT_READONLY = 6,
    ORSA_FILTER_WRITABLE = 7,
};

/* Records returned to clients byte for byte. */
struct HmParamInfo {
    u32 param_count;
    HmActionParam params[HM_MAX_PARAMS];
};

struct HmNodeDescription {
    char description[HM_DESCRIPTION_SIZE];
    u8 kind;
    u8 type;
    u8 unused[2];
    i32 min;
    i32 max;
};

struct HmPersistenceInfo {
    u32 key_b_tag;
    u32 key_a_tag;
    HmValueSlot keys[HM_MAX_PARAMS];
};

static_assert(sizeof(HmActionParam) == 2084, "HmActionParam layout");
static_assert(offsetof(HmActionParam, description) == 36, "HmActionParam layout");
static_assert(offsetof(HmActionParam, type) == 1816, "HmActionParam layout");
static_assert(offsetof(HmActionParam, list) == 1817, "HmActionParam layout");
static_assert(offsetof(HmActionParam, min) == 2076, "HmActionParam layout");
static_assert(sizeof(HmParamInfo) == 12508, "HmParamInfo layout");
static_assert(sizeof(HmNodeDescription) == 1792, "HmNodeDescription layout");
static_assert(offsetof(HmNodeDescription, min) == 1784, "HmNodeDescription layout");
static_assert(sizeof(HmPersistenceInfo) == 1544, "HmPersistenceInfo layout");

extern i32 orsa_client_count;

ORSA_API u32 ORSA_init(void);
ORSA_API u32 ORSA_exit(void);
ORSA_API u32 ORSA_get_last_status(u32 *code, char *text);
ORSA_API u32 ORSA_get_param_info(u32 tag, HmParamInfo *info);
ORSA_API u32 ORSA_get_child_tags(u32 tag, u32 *tags, u32 *count, u32 filter);
ORSA_API u32 ORSA_get_parent_tag(u32 tag, u32 *parent);
ORSA_API u32 ORSA_refresh_group(u32 tag);
ORSA_API u32 ORSA_get_persistence_info(u32 tag, HmPersistenceInfo *info);
ORSA_API u32 ORSA_get_node_description(u32 tag, HmNodeDescription *desc);
ORSA_API u32 ORSA_get_node_name(u32 tag, char *name, u32 kind);
ORSA_API u32 ORSA_get_persistent_nodes(u32 *tags, i32 *count);
ORSA_API u32 ORSA_get_valid_instances(u32 tag, const char *name, u32 *numbers, u32 *count);
ORSA_API u32 ORSA_get_property_val(u32 group_tag, u32 property_tag, char *value, i32 size);
/* ORSA_get_property_val for library code that walks the tree: the same
 * checks, statuses and handler call, but a stale tree is never rebuilt under
 * the walk (the next API entry rebuilds it). */
u32 orsa_read_property_val(u32 group_tag, u32 property_tag, char *value, i32 size);
ORSA_API u32 ORSA_set_property_val(u32 group_tag, u32 property_tag, char *value, u32 size);
ORSA_API u32 ORSA_do_action(u32 group_tag, u32 action_tag, HmValueSlot *params, u32 *new_tags);
ORSA_API u32 ORSA_get_node_tag(u32 group_tag, const char *name, u32 *tag, u32 kind);

/* Validators. orsa_validate_ip/orsa_validate_ipv6 rewrite an IPv6 text in
 * place to its full form: the buffer must hold 40 bytes. */
u32 orsa_validate(char *text, const char *list, u8 type, i32 min, i32 max);
u32 orsa_validate_val_string(const char *text, i32 min, i32 max);
u32 orsa_validate_val_integer(const char *text, i32 min, i32 max);
u32 orsa_validate_ip(char *text);
u32 orsa_validate_ipv6(char *text);
u32 orsa_validate_subnetmask(const char *text);
u32 orsa_validate_list(const char *text, const char *list);

#endif
