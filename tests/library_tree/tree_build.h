/*
 * tree_build.h - small helpers that build tree nodes the way the schema's
 * builders do, for the tree's tests and benchmarks.
 *
 *   TreeBuild b;                                   // frees static records at the end
 *   HmNode *g = b.group(ROOT_node, "Static");      // static group
 *   HmNode *i = b.instance(parent, "Target", bits, 256);   // lowest free number
 *   HmNode *p = b.property(g, "Name", HM_TYPE_STRING, HM_PROP_WRITABLE, 1, 32);
 *   HmNode *a = b.action(g, "Do", &descriptor);
 */
#ifndef TESTS_LIBRARY_TREE_TREE_BUILD_H
#define TESTS_LIBRARY_TREE_TREE_BUILD_H

#include <string.h>

#include <vector>

#include "backend/orsa_propertyutil.h"
#include "schema/bootstrap.h"
#include "tree/hm_engine.h"

struct TreeBuild {
    /* Records of static nodes (no instance ancestor): the tree keeps them on
     * delete, as it keeps ROOT's, so their owner frees them. */
    std::vector<HmNode *> static_records;

    ~TreeBuild() { release(); }

    void release()
    {
        for (HmNode *n : static_records) {
            orsa_dfree(n->name);
            orsa_dfree(n->description);
            orsa_dfree(n);
        }
        static_records.clear();
    }

    static HmHierarchy *hier(HmNode *parent) { return hm_find_hierarchy_by_node(parent); }

    HmNode *node(HmNode *parent, u32 kind, const char *name, void *body)
    {
        HmNode *n = (HmNode *)orsa_dzalloc(sizeof(HmNode));
        n->kind = kind;
        n->name = orsa_dstrdup(name);
        char desc[64];
        snprintf(desc, sizeof desc, "about %s", name);
        n->description = orsa_dstrdup(desc);
        n->parent = parent;
        n->body = body;
        return n;
    }

    /* Adds n; on refusal frees it and answers none. */
    HmNode *add(HmNode *n, bool free_body = true)
    {
        if (add_node(n, hier(n->parent)) == HM_TAG_NONE) {
            if (free_body && n->kind != HM_KIND_ACTION) {
                if (n->kind == HM_KIND_GROUP)
                    orsa_dfree(HM_GROUP(n)->instance_info);
                orsa_dfree(n->body);
            }
            orsa_dfree(n->name);
            orsa_dfree(n->description);
            orsa_dfree(n);
            return nullptr;
        }
        if (n->kind != HM_KIND_LINK && get_dynamic_ancester(n) == nullptr)
            static_records.push_back(n);
        return n;
    }

    HmNode *group(HmNode *parent, const char *name, HmGroupRefreshHandler refresh = nullptr)
    {
        HmGroup *g = (HmGroup *)orsa_dzalloc(sizeof(HmGroup));
        g->refresh_handler = refresh;
        return add(node(parent, HM_KIND_GROUP, name, g));
    }

    /* An instance with the given number (bit), set in the bitmap once added. */
    HmNode *instance_at(HmNode *parent, const char *name, u8 *bitmap, u16 capacity, i32 bit, HmNode *key_b = nullptr)
    {
        HmGroup *g = (HmGroup *)orsa_dzalloc(sizeof(HmGroup));
        HmInstanceInfo *info = (HmInstanceInfo *)orsa_dzalloc(sizeof(HmInstanceInfo));
        info->bitmap = bitmap;
        info->capacity = capacity;
        info->number = bit;
        g->instance_info = info;
        g->key_b = key_b;
        HmNode *n = add(node(parent, HM_KIND_GROUP, name, g));
        if (n == nullptr)
            return nullptr;
        if (key_b != nullptr)
            g->persistency_priority = persistency_priority++;
        set_bit(bitmap, capacity, bit);
        if (orsa_internal_new_tags != nullptr && new_tag_index < HM_MAX_NEW_TAGS)
            orsa_internal_new_tags[new_tag_index++] = n->tag;
        return n;
    }

    HmNode *instance(HmNode *parent, const char *name, u8 *bitmap, u16 capacity, HmNode *key_b = nullptr)
    {
        i32 bit = get_first_zero(bitmap, capacity);
        if (bit < 0)
            return nullptr;
        return instance_at(parent, name, bitmap, capacity, bit, key_b);
    }

    HmNode *property(HmNode *parent, const char *name, u8 type, u32 flags, i32 min, i32 max, const char *list = "",
                     const char *value = "", HmPropertyHandler handler = handle_internal_property)
    {
        HmProperty *p = (HmProperty *)orsa_dzalloc(sizeof(HmProperty));
        p->type = type;
        p->flags = flags;
        p->min = min;
        p->max = max;
        p->handler = handler;
        orsa_strlcpy(p->list, list, sizeof p->list);
        orsa_strlcpy(p->value, value, sizeof p->value);
        return add(node(parent, HM_KIND_PROPERTY, name, p));
    }

    HmNode *action(HmNode *parent, const char *name, HmAction *descriptor)
    {
        return add(node(parent, HM_KIND_ACTION, name, descriptor));
    }
};

/* Fills one parameter descriptor. */
inline void set_param(HmActionParam *p, u8 required, const char *name, u8 type, i32 min, i32 max,
                      const char *list = "")
{
    memset(p, 0, sizeof *p);
    p->required = required;
    orsa_strlcpy(p->name, name, sizeof p->name);
    snprintf(p->description, sizeof p->description, "The %s parameter.", name);
    p->type = type;
    orsa_strlcpy(p->list, list, sizeof p->list);
    p->min = min;
    p->max = max;
}

#endif
