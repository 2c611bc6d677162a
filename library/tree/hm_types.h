/*
 * hm_types.h - the records of the management tree.
 *
 * Usage: every subsystem that builds or walks the tree includes this header
 * (usually through "tree/hm_engine.h"). A node is an HmNode whose body is an
 * HmGroup, HmProperty, HmAction or HmLink according to its kind. Builders fill
 * kind, name, description, parent and body, then call add_node(); handlers get
 * the node they are bound to and exchange values as 256-byte HmValueSlot texts.
 *
 *   HmNode *g = ...;                       // a group
 *   HmGroup *gb = HM_GROUP(g);             // its body
 *   HmProperty *p = HM_PROPERTY(prop);     // a property's body
 *
 * Field order and names are fixed: other subsystems rely on them, and
 * HmActionParam is handed to clients byte for byte.
 */
#ifndef DRELMO_TREE_HM_TYPES_H
#define DRELMO_TREE_HM_TYPES_H

#include <stddef.h>
#include <stdint.h>

/* Sizes, node kinds, value types, HmValueSlot and HmActionParam: the same
 * declarations the library's clients use. */
#include "drelmo.h"

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef int32_t i32;
typedef uint64_t u64;

/* HmProperty.flags */
#define HM_PROP_READONLY 0x1u
#define HM_PROP_WRITABLE 0x2u
#define HM_PROP_NOFILTER 0x8u /* left out of the writable-property child filter */

/* Property handler modes. */
#define HM_MODE_GET 0u
#define HM_MODE_SET 1u

struct HmNode;

/* Handler contracts: 0 on success, else a status whose text is in the last status. */
typedef u32 (*HmPropertyHandler)(struct HmNode *property, char *value, u32 mode);
typedef u32 (*HmActionHandler)(struct HmNode *group, struct HmNode *action, HmValueSlot *params);
typedef u32 (*HmGroupRefreshHandler)(struct HmNode *group);

struct HmNode {
    u32 tag;              /* index in the hierarchy's tag table, set by add_node */
    u32 kind;             /* HM_KIND_* */
    char *name;           /* owned; instance groups carry the kind's base name */
    char *description;    /* owned */
    HmNode *parent;       /* ROOT's parent is ROOT */
    HmNode *next;         /* next sibling; the last child's next is the parent */
    HmNode *prev;         /* previous sibling; the first child's prev is the parent */
    u32 link_count;       /* links whose target is this node */
    void *body;           /* HmGroup, HmProperty, HmAction or HmLink by kind */
};

struct HmInstanceInfo {
    u8 *bitmap;           /* this parent's slice of the kind's instance bitmap */
    HmNode *next_instance;
    HmNode *prev_instance;
    u16 capacity;         /* bits in the slice */
    u16 base;             /* instance number of bit 0 */
    i32 number;           /* base + bit; -1 in the chain's sentinel */
};

struct HmGroup {
    HmNode *first_child;  /* the group itself when empty */
    HmNode *last_child;   /* the group itself when empty */
    HmGroupRefreshHandler refresh_handler;
    HmInstanceInfo *instance_info; /* none for a static group */
    HmNode *key_a;        /* group the creating action ran on; none once it is deleted */
    HmNode *key_b;        /* creating action node; set = persistent. Deleting key A or B
                           * clears both and the priority (delete_node) */
    HmValueSlot keys[HM_MAX_PARAMS];
    u32 persistency_priority; /* 1-based creation order; 0 = not persistent */
    void *nhandle;        /* private data of the subsystem that made the group */
};

struct HmProperty {
    HmValueSlot value;    /* cached value text */
    HmPropertyHandler handler; /* none: the cache is the value */
    u32 flags;            /* HM_PROP_* */
    u8 type;              /* HM_TYPE_* */
    char list[HM_LIST_SIZE]; /* allowed values, comma separated */
    i32 min;              /* length for a string, value for an integer */
    i32 max;
};

/* One static descriptor per action kind, shared by its nodes, never freed. */
struct HmAction {
    HmActionHandler handler; /* none = not implemented */
    u32 global;           /* 1: found from every group when a child of ROOT */
    u32 param_count;      /* at most HM_MAX_PARAMS */
    HmActionParam params[HM_MAX_PARAMS];
};

struct HmLink {
    HmNode *target;       /* a group */
    HmNode *key_a;
    HmNode *key_b;
    HmValueSlot keys[HM_MAX_PARAMS];
    u32 persistency_priority;
};

struct HmHierarchy {
    HmNode *root;
    const char *name;
    u32 capacity;         /* tag table slots: 1024 at set-up, grows by 1024 */
    HmNode **tag_table;   /* node per tag; none = free */
    u8 *used_tags;        /* capacity bits plus one spare byte */
    i32 max_tag;
    u32 description_size;
    u32 name_size;
    u32 max_params;
    u32 limit_1075;       /* recorded by the bootstrap, read by nobody */
    u32 limit_1024;
    u32 free_from;        /* every tag below it is in use */
};

#define HM_MAX_HIERARCHIES 5
#define HM_TAG_STEP 1024u
#define HM_MAX_TAG 226759896

/* Body accessors (no checks: test the kind first). */
#define HM_GROUP(n) ((HmGroup *)(n)->body)
#define HM_PROPERTY(n) ((HmProperty *)(n)->body)
#define HM_ACTION(n) ((HmAction *)(n)->body)
#define HM_LINK(n) ((HmLink *)(n)->body)

#endif
