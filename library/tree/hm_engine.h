/*
 * hm_engine.h - the management tree engine: hierarchy and tags, nodes,
 * instance chains, lookups by label, bitmaps and comma-separated lists.
 *
 * Usage (a builder adding one property below a group g):
 *     HmNode *n = (HmNode *)orsa_dzalloc(sizeof(HmNode));
 *     HmProperty *p = (HmProperty *)orsa_dzalloc(sizeof(HmProperty));
 *     n->kind = HM_KIND_PROPERTY; n->name = orsa_dstrdup("PortNumber");
 *     n->description = orsa_dstrdup("..."); n->parent = g; n->body = p;
 *     p->handler = handle_internal_property; p->flags = HM_PROP_READONLY;
 *     if (add_node(n, hm_find_hierarchy_by_node(g)) == (u32)-1) ... free and fail
 * Handlers find their neighbours by label:
 *     HmNode *pci = internal_get_node(phba, "PCI", HM_KIND_GROUP);
 *     internal_get_property(pci, "DeviceID", text);   // through the handler
 *     SET_CACHE_PROP_VAL(prop, "%d", value);         // just the cache
 * Nodes with a dynamic ancestor (an instance group) are freed on delete;
 * static nodes (ROOT and its built-ins) keep their records.
 * The engine takes no lock: callers serialise.
 */
#ifndef DRELMO_TREE_HM_ENGINE_H
#define DRELMO_TREE_HM_ENGINE_H

#include "tree/hm_log.h"
#include "tree/hm_status.h"
#include "tree/hm_types.h"

#define HM_TAG_NONE 0xFFFFFFFFu /* add_node's failure */
#define HM_MAX_NEW_TAGS ORSA_MAX_NEW_TAGS /* groups one action may report (drelmo.h) */

/* Library-wide state of the tree. */
extern HmHierarchy *hierarchy_table[HM_MAX_HIERARCHIES];
extern u32 orsa_hierarchy_count;
extern HmHierarchy hierarchy_name_;
extern char orsa_current_hierarchy[20];
extern u32 persistency_priority;
extern u32 *orsa_internal_new_tags;
extern u32 new_tag_index;

/* Bitmaps: bit i is bit (i % 8) of byte i / 8. */
i32 is_set(const u8 *bitmap, i32 nbits, i32 index);
i32 get_first_one(const u8 *bitmap, i32 nbits);
i32 get_first_zero(const u8 *bitmap, i32 nbits);
i32 set_bit(u8 *bitmap, i32 nbits, i32 index);
i32 clear_bit(u8 *bitmap, i32 nbits, i32 index);
u8 *alloc_bitfield(u32 nbits);
void free_bitfield(u8 *bitmap);

/* Hierarchy and tags. */
u32 hm_setup_hierarchy(HmHierarchy *h);
u32 reinit_hm(HmHierarchy *h);
HmHierarchy *hm_find_hierarchy(const char *name);
HmHierarchy *hm_find_hierarchy_by_node(HmNode *node);
HmNode *hm_get_root(const char *name);
HmNode *get_node(i32 tag);
u32 init_hm(void);
void exit_hm(void);

/* Nodes. */
u32 add_node(HmNode *node, HmHierarchy *h);
HmNode *create_link(HmNode *parent, const char *name, HmNode *target, HmNode *key_a, HmNode *key_b,
                    HmValueSlot *keys);
u32 delete_node(HmNode *node);
void _delete_node(HmNode *node);
u32 node_exists(HmNode *node);
HmNode *get_dynamic_ancester(HmNode *node);

/* Labels: name, or name + instance number for an instance group. out holds HM_NAME_SIZE bytes. */
void hm_node_label(const HmNode *node, char *out);
/* The instance record of an instance group, else none. */
HmInstanceInfo *hm_instance_info(const HmNode *node);
/* The node a chain of links ends in (the node itself when it is no link). */
HmNode *hm_follow_links(HmNode *node);
/* The kind of the node that a chain of links ends in. */
u32 hm_effective_kind(HmNode *node);

/* Lookups. */
HmNode *internal_get_node(HmNode *group, const char *name, u32 kind);
HmNode *get_first_instance(HmNode *parent, const char *name);
u32 internal_get_property(HmNode *group, const char *name, char *out);
u32 internal_set_property(HmNode *group, const char *name, char *text);
int SET_CACHE_PROP_VAL(HmNode *property, const char *format, ...) __attribute__((format(printf, 2, 3)));
HmActionParam *orsa_internal_get_param(HmNode *action, const char *name);

/* Comma-separated lists of at most 256 bytes; mode 1 ignores case, 0 exact. */
char *orsa_internal_list_search(char *list, const char *item, u32 mode);
u32 orsa_internal_list_add(char *list, const char *item, u32 mode);
u32 orsa_internal_list_del(char *list, const char *item, u32 mode);
u32 orsa_split(char *text, char character);

/* Text helpers: bounded copy that always terminates (size >= 1); returns dst. */
char *orsa_strlcpy(char *dst, const char *src, size_t size);

/* The bootstrap (library/schema/bootstrap.cpp) that init_hm/exit_hm run. */
u32 init_hm_data(void);
void exit_hm_data(void);

#endif
