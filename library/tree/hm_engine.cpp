/* The management tree engine: hierarchies and their tag tables, adding,
 * linking and deleting nodes, instance chains and lookups by label. */
#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "tree/hm_engine.h"

HmHierarchy *hierarchy_table[HM_MAX_HIERARCHIES];
u32 orsa_hierarchy_count;
HmHierarchy hierarchy_name_;
char orsa_current_hierarchy[20];
u32 persistency_priority = 1;
u32 *orsa_internal_new_tags;
u32 new_tag_index;

/* A chain of links longer than this is taken for a cycle. */
static const int max_link_depth = 64;

/* ---- small node helpers ---- */

HmInstanceInfo *hm_instance_info(const HmNode *node)
{
    if (node == nullptr || node->kind != HM_KIND_GROUP || node->body == nullptr)
        return nullptr;
    return ((HmGroup *)node->body)->instance_info;
}

static HmGroup *group_body(const HmNode *node)
{
    if (node == nullptr || node->kind != HM_KIND_GROUP)
        return nullptr;
    return (HmGroup *)node->body;
}

HmNode *hm_follow_links(HmNode *node)
{
    for (int i = 0; node != nullptr && node->kind == HM_KIND_LINK; i++) {
        if (i == max_link_depth || node->body == nullptr)
            return nullptr;
        node = ((HmLink *)node->body)->target;
    }
    return node;
}

u32 hm_effective_kind(HmNode *node)
{
    HmNode *end = hm_follow_links(node);
    return end != nullptr ? end->kind : 0;
}

void hm_node_label(const HmNode *node, char *out)
{
    const char *name = (node != nullptr && node->name != nullptr) ? node->name : "";
    HmInstanceInfo *info = hm_instance_info(node);
    if (info != nullptr)
        snprintf(out, HM_NAME_SIZE, "%s%d", name, (int)info->number);
    else
        snprintf(out, HM_NAME_SIZE, "%s", name);
}

/* Labels take part in comparisons with at most HM_NAME_SIZE - 1 characters. */
static bool label_equal(const char *label, const char *name)
{
    return strncasecmp(label, name, HM_NAME_SIZE - 1) == 0 &&
           (strlen(name) <= HM_NAME_SIZE - 1 || strlen(label) == HM_NAME_SIZE - 1);
}

/* ---- hierarchies and tags ---- */

u32 hm_setup_hierarchy(HmHierarchy *h)
{
    if (h == nullptr || orsa_hierarchy_count >= HM_MAX_HIERARCHIES)
        return 1;
    HmNode **table = (HmNode **)orsa_dzalloc(HM_TAG_STEP * sizeof(HmNode *));
    u8 *used = (u8 *)orsa_dzalloc((HM_TAG_STEP + 8) / 8);
    if (table == nullptr || used == nullptr) {
        orsa_dfree(table);
        orsa_dfree(used);
        return 1;
    }
    h->capacity = HM_TAG_STEP;
    h->tag_table = table;
    h->used_tags = used;
    h->free_from = 0;
    persistency_priority = 1;
    hierarchy_table[orsa_hierarchy_count++] = h;
    return 0;
}

u32 reinit_hm(HmHierarchy *h)
{
    u32 capacity = h->capacity + HM_TAG_STEP;
    HmNode **table = (HmNode **)orsa_dzalloc(capacity * sizeof(HmNode *));
    u8 *used = (u8 *)orsa_dzalloc((capacity + 8) / 8);
    if (table == nullptr || used == nullptr) {
        orsa_dfree(table);
        orsa_dfree(used);
        return 1;
    }
    memcpy(table, h->tag_table, h->capacity * sizeof(HmNode *));
    memcpy(used, h->used_tags, (h->capacity + 8) / 8);
    orsa_dfree(h->tag_table);
    orsa_dfree(h->used_tags);
    h->tag_table = table;
    h->used_tags = used;
    h->capacity = capacity;
    return 0;
}

HmHierarchy *hm_find_hierarchy(const char *name)
{
    if (name == nullptr)
        return nullptr;
    for (u32 i = 0; i < orsa_hierarchy_count; i++) {
        HmHierarchy *h = hierarchy_table[i];
        if (h != nullptr && h->name != nullptr && strcmp(h->name, name) == 0)
            return h;
    }
    return nullptr;
}

HmHierarchy *hm_find_hierarchy_by_node(HmNode *node)
{
    if (node == nullptr)
        return nullptr;
    for (u32 i = 0; i < orsa_hierarchy_count; i++) {
        HmHierarchy *h = hierarchy_table[i];
        if (h != nullptr && node->tag < h->capacity && h->tag_table[node->tag] == node)
            return h;
    }
    return nullptr;
}

HmNode *hm_get_root(const char *name)
{
    HmHierarchy *h = hm_find_hierarchy(name);
    return h != nullptr ? h->root : nullptr;
}

HmNode *get_node(i32 tag)
{
    HmHierarchy *h = hm_find_hierarchy(orsa_current_hierarchy);
    if (h == nullptr || tag < 0 || (u32)tag >= h->capacity)
        return nullptr;
    return h->tag_table[tag];
}

u32 init_hm(void)
{
    return init_hm_data();
}

void exit_hm(void)
{
    exit_hm_data();
    for (u32 i = 0; i < orsa_hierarchy_count; i++) {
        HmHierarchy *h = hierarchy_table[i];
        if (h == nullptr)
            continue;
        if (h->root != nullptr)
            _delete_node(h->root);
        orsa_dfree(h->tag_table);
        orsa_dfree(h->used_tags);
        h->tag_table = nullptr;
        h->used_tags = nullptr;
        h->capacity = 0;
        hierarchy_table[i] = nullptr;
    }
    orsa_hierarchy_count = 0;
}

/* ---- adding ---- */

u32 node_exists(HmNode *node)
{
    if (node == nullptr || node->parent == nullptr || node->parent == node)
        return 0;
    HmGroup *pg = group_body(node->parent);
    if (pg == nullptr)
        return 0;
    HmInstanceInfo *info = hm_instance_info(node);
    for (HmNode *c = pg->first_child; c != nullptr && c != node->parent; c = c->next) {
        if (c->kind != node->kind || c->name == nullptr || node->name == nullptr ||
            strcasecmp(c->name, node->name) != 0)
            continue;
        HmInstanceInfo *ci = hm_instance_info(c);
        if (info != nullptr && ci != nullptr && info->number == ci->number)
            return 1;
        if (node->kind == HM_KIND_LINK && c->body != nullptr && node->body != nullptr &&
            ((HmLink *)c->body)->target == ((HmLink *)node->body)->target)
            return 1;
    }
    return 0;
}

/* The sentinel of an instance chain: an unlisted node of its own. */
static HmNode *make_sentinel(const HmInstanceInfo *like)
{
    HmNode *s = (HmNode *)orsa_dzalloc(sizeof(HmNode));
    HmGroup *g = (HmGroup *)orsa_dzalloc(sizeof(HmGroup));
    HmInstanceInfo *info = (HmInstanceInfo *)orsa_dzalloc(sizeof(HmInstanceInfo));
    if (s == nullptr || g == nullptr || info == nullptr) {
        orsa_dfree(s);
        orsa_dfree(g);
        orsa_dfree(info);
        return nullptr;
    }
    info->bitmap = like->bitmap;
    info->capacity = like->capacity;
    info->base = like->base;
    info->number = -1;
    info->next_instance = s;
    info->prev_instance = s;
    g->first_child = s;
    g->last_child = s;
    g->instance_info = info;
    s->kind = HM_KIND_GROUP;
    s->body = g;
    return s;
}

static void free_sentinel(HmNode *s)
{
    HmGroup *g = (HmGroup *)s->body;
    orsa_dfree(g->instance_info);
    orsa_dfree(g);
    orsa_dfree(s);
}

static void ring_insert_before(HmNode *parent, HmNode *node, HmNode *before)
{
    HmGroup *pg = (HmGroup *)parent->body;
    node->next = before;
    node->prev = before->prev;
    if (before->prev == parent)
        pg->first_child = node;
    else
        before->prev->next = node;
    before->prev = node;
}

static void ring_insert_after(HmNode *parent, HmNode *node, HmNode *after)
{
    HmGroup *pg = (HmGroup *)parent->body;
    node->prev = after;
    node->next = after->next;
    if (after->next == parent)
        pg->last_child = node;
    else
        after->next->prev = node;
    after->next = node;
}

static void ring_append(HmNode *parent, HmNode *node)
{
    HmGroup *pg = (HmGroup *)parent->body;
    if (pg->first_child == parent) {
        pg->first_child = node;
        pg->last_child = node;
        node->prev = parent;
        node->next = parent;
        return;
    }
    ring_insert_after(parent, node, pg->last_child);
}

/* The lowest free tag, as get_first_zero finds it, 32 tags at a time and
 * from the first word that can hold it: a tree of many adapters adds
 * thousands of nodes, each past all the tags in use before it. -1 when
 * every tag is in use. */
static i32 lowest_free_tag(const HmHierarchy *h)
{
    const u8 *bits = h->used_tags;
    const u32 n = h->capacity;
    if (bits == nullptr || n == 0)
        return -1;
    u32 i = h->free_from < n ? h->free_from & ~31u : n & ~31u;
    for (; i + 32 <= n; i += 32) {
        u32 word;
        memcpy(&word, bits + i / 8, sizeof word);
        if (word != 0xFFFFFFFFu)
            return (i32)(i + (u32)__builtin_ctz(~word));
    }
    i32 rest = get_first_zero(bits + i / 8, (i32)(n - i));
    return rest < 0 ? -1 : (i32)i + rest;
}

u32 add_node(HmNode *node, HmHierarchy *h)
{
    if (node == nullptr || h == nullptr || h->tag_table == nullptr)
        return HM_TAG_NONE;
    /* Every kind but an action's shared descriptor needs a body of its own;
     * a child needs a group to hang in. */
    if (node->kind < HM_KIND_GROUP || node->kind > HM_KIND_LINK || node->body == nullptr)
        return HM_TAG_NONE;
    bool has_parent = node->parent != nullptr && node->parent != node;
    if (has_parent && group_body(node->parent) == nullptr)
        return HM_TAG_NONE;

    i32 tag = lowest_free_tag(h);
    for (;;) {
        if (node_exists(node))
            return HM_TAG_NONE;
        if (tag > h->max_tag)
            printf("BUG %d\n", (int)tag);
        if (tag >= 0)
            break;
        if (h->capacity > (u32)HM_MAX_TAG - 1) {
            printf("Hierarchy FULL!");
            return HM_TAG_NONE;
        }
        if (reinit_hm(h) != 0)
            return HM_TAG_NONE;
        tag = lowest_free_tag(h);
    }

    /* Instance chain: find the place by number before touching anything. */
    HmInstanceInfo *info = hm_instance_info(node);
    HmNode *before = nullptr;   /* instance the new one goes before */
    HmNode *sentinel = nullptr; /* a chain made for this first instance */
    if (info != nullptr) {
        HmNode *first = has_parent ? get_first_instance(node->parent, node->name) : nullptr;
        if (first != nullptr) {
            HmNode *at = first;
            for (;;) {
                HmInstanceInfo *ai = hm_instance_info(at);
                if (ai->number == -1 || ai->number > info->number)
                    break;
                at = ai->next_instance;
            }
            before = at;
        } else {
            sentinel = make_sentinel(info);
            if (sentinel == nullptr)
                return HM_TAG_NONE;
        }
    }

    node->tag = (u32)tag;
    if (node->kind == HM_KIND_GROUP) {
        HmGroup *g = (HmGroup *)node->body;
        if (info != nullptr) {
            if (sentinel != nullptr) {
                HmInstanceInfo *si = hm_instance_info(sentinel);
                si->next_instance = node;
                si->prev_instance = node;
                info->next_instance = sentinel;
                info->prev_instance = sentinel;
            } else {
                HmInstanceInfo *bi = hm_instance_info(before);
                HmNode *prev = bi->prev_instance;
                info->next_instance = before;
                info->prev_instance = prev;
                hm_instance_info(prev)->next_instance = node;
                bi->prev_instance = node;
            }
        }
        g->first_child = node;
        g->last_child = node;
    }

    if (!has_parent) {
        node->next = node;
        node->prev = node;
    } else if (before != nullptr && hm_instance_info(before)->number != -1) {
        ring_insert_before(node->parent, node, before);
    } else if (before != nullptr) {
        /* the new highest number: right after the previous highest */
        ring_insert_after(node->parent, node, info->prev_instance);
    } else {
        ring_append(node->parent, node);
    }

    set_bit(h->used_tags, (i32)h->capacity, tag);
    h->free_from = (u32)tag + 1;
    h->tag_table[tag] = node;
    return (u32)tag;
}

HmNode *create_link(HmNode *parent, const char *name, HmNode *target, HmNode *key_a, HmNode *key_b,
                    HmValueSlot *keys)
{
    if (target == nullptr)
        return nullptr;
    HmHierarchy *h = hm_find_hierarchy_by_node(parent);
    if (h == nullptr)
        return nullptr;
    HmNode *node = (HmNode *)orsa_dzalloc(sizeof(HmNode));
    HmLink *link = (HmLink *)orsa_dzalloc(sizeof(HmLink));
    if (node == nullptr || link == nullptr) {
        orsa_dfree(node);
        orsa_dfree(link);
        return nullptr;
    }
    node->kind = HM_KIND_LINK;
    node->name = orsa_dstrdup(name);
    node->description = orsa_dstrdup(target->description);
    node->parent = parent;
    node->body = link;
    link->target = target;
    link->key_a = key_a;
    link->key_b = key_b;
    if (keys != nullptr)
        memcpy(link->keys, keys, sizeof link->keys);
    if (key_b != nullptr)
        link->persistency_priority = persistency_priority++;

    if (add_node(node, h) == HM_TAG_NONE) {
        orsa_dfree(node->name);
        orsa_dfree(node->description);
        orsa_dfree(link);
        orsa_dfree(node);
        return nullptr;
    }
    target->link_count++;
    return node;
}

/* ---- deleting ---- */

HmNode *get_dynamic_ancester(HmNode *node)
{
    for (HmNode *n = node; n != nullptr;) {
        if (hm_instance_info(n) != nullptr)
            return n;
        if (n->tag == 0 || n->parent == nullptr || n->parent == n)
            return nullptr;
        n = n->parent;
    }
    return nullptr;
}

static void leave_instance_chain(HmNode *node, HmInstanceInfo *info)
{
    HmNode *prev = info->prev_instance;
    HmNode *next = info->next_instance;
    if (prev != nullptr && next != nullptr) {
        hm_instance_info(prev)->next_instance = next;
        hm_instance_info(next)->prev_instance = prev;
    }
    clear_bit(info->bitmap, info->capacity, info->number - info->base);
    /* Once the chain holds only its sentinel, the sentinel goes too. */
    HmNode *s = next;
    while (s != nullptr && s != node && hm_instance_info(s)->number != -1)
        s = hm_instance_info(s)->next_instance;
    if (s != nullptr && s != node && hm_instance_info(s)->next_instance == s)
        free_sentinel(s);
    info->next_instance = nullptr;
    info->prev_instance = nullptr;
}

static void unlink_from_parent(HmNode *node)
{
    HmNode *parent = node->parent;
    if (parent == nullptr || parent == node)
        return;
    HmGroup *pg = group_body(parent);
    if (pg == nullptr)
        return;
    if (node->prev == parent)
        pg->first_child = node->next;
    else if (node->prev != nullptr)
        node->prev->next = node->next;
    if (node->next == parent)
        pg->last_child = node->prev;
    else if (node->next != nullptr)
        node->next->prev = node->prev;
    node->next = nullptr;
    node->prev = nullptr;
}

/* Is node inside the subtree of top (top included)? */
static bool is_within(const HmNode *node, const HmNode *top)
{
    for (const HmNode *n = node; n != nullptr; n = n->parent) {
        if (n == top)
            return true;
        if (n->parent == n)
            break;
    }
    return false;
}

/* Links whose target is about to go no longer point at it, so that a link
 * deleted later (or read) never touches a freed node. */
static void detach_links_to(HmHierarchy *h, HmNode *target)
{
    for (u32 t = 0; t < h->capacity && target->link_count > 0; t++) {
        HmNode *n = h->tag_table[t];
        if (n != nullptr && n->kind == HM_KIND_LINK && n->body != nullptr && ((HmLink *)n->body)->target == target) {
            ((HmLink *)n->body)->target = nullptr;
            target->link_count--;
        }
    }
    target->link_count = 0;
}

void _delete_node(HmNode *node)
{
    HmHierarchy *h = hm_find_hierarchy_by_node(node);
    if (h == nullptr)
        return;
    bool free_record = node->kind == HM_KIND_LINK || get_dynamic_ancester(node) != nullptr;

    if (node->kind == HM_KIND_LINK && node->body != nullptr) {
        HmNode *target = ((HmLink *)node->body)->target;
        if (target != nullptr && target->link_count > 0)
            target->link_count--;
        ((HmLink *)node->body)->target = nullptr;
    }
    if (node->link_count > 0)
        detach_links_to(h, node);

    if (node->kind == HM_KIND_GROUP && node->body != nullptr) {
        HmGroup *g = (HmGroup *)node->body;
        HmNode *child = g->first_child;
        while (child != nullptr && child != node) {
            HmNode *next = child->next;
            _delete_node(child);
            child = next;
        }
        if (g->instance_info != nullptr)
            leave_instance_chain(node, g->instance_info);
    }

    clear_bit(h->used_tags, (i32)h->capacity, (i32)node->tag);
    if (node->tag < h->free_from)
        h->free_from = node->tag;
    unlink_from_parent(node);
    h->tag_table[node->tag] = nullptr;

    /* Only what was allocated is freed: the live counter also counts a free of nothing. */
    if (node->kind != HM_KIND_ACTION && node->body != nullptr) {
        if (node->kind == HM_KIND_GROUP && ((HmGroup *)node->body)->instance_info != nullptr)
            orsa_dfree(((HmGroup *)node->body)->instance_info);
        orsa_dfree(node->body);
    }
    node->body = nullptr;

    if (free_record) {
        if (node->name != nullptr)
            orsa_dfree(node->name);
        if (node->description != nullptr)
            orsa_dfree(node->description);
        orsa_dfree(node);
    }
}

/* Does a link outside the subtree of top point into it? */
static bool linked_from_outside(HmNode *top)
{
    HmHierarchy *h = hm_find_hierarchy_by_node(top);
    if (h == nullptr)
        return false;
    for (u32 t = 0; t < h->capacity; t++) {
        HmNode *n = h->tag_table[t];
        if (n == nullptr || n->kind != HM_KIND_LINK || n->body == nullptr)
            continue;
        HmNode *target = ((HmLink *)n->body)->target;
        if (target != nullptr && is_within(target, top) && !is_within(n, top))
            return true;
    }
    return false;
}

static u32 subtree_link_count(HmNode *node)
{
    u32 count = node->link_count;
    if (node->kind == HM_KIND_GROUP && node->body != nullptr) {
        HmGroup *g = (HmGroup *)node->body;
        for (HmNode *c = g->first_child; c != nullptr && c != node; c = c->next)
            count += subtree_link_count(c);
    }
    return count;
}

/* A persistent group or link outside the subtree of top whose key group or
 * key action lies inside it can no longer be replayed from a state file: it
 * stops being persistent, so that neither the saved-tree walk nor
 * ORSA_get_persistence_info reads the freed key later. */
static void forget_keys_into(HmNode *top)
{
    HmHierarchy *h = hm_find_hierarchy_by_node(top);
    if (h == nullptr || persistency_priority <= 1) /* no persistent node was ever made */
        return;
    for (u32 t = 0; t < h->capacity; t++) {
        HmNode *n = h->tag_table[t];
        if (n == nullptr || n->body == nullptr || is_within(n, top))
            continue;
        HmNode **key_a, **key_b;
        u32 *priority;
        if (n->kind == HM_KIND_GROUP) {
            HmGroup *g = (HmGroup *)n->body;
            key_a = &g->key_a, key_b = &g->key_b, priority = &g->persistency_priority;
        } else if (n->kind == HM_KIND_LINK) {
            HmLink *l = (HmLink *)n->body;
            key_a = &l->key_a, key_b = &l->key_b, priority = &l->persistency_priority;
        } else {
            continue;
        }
        if ((*key_a != nullptr && is_within(*key_a, top)) || (*key_b != nullptr && is_within(*key_b, top))) {
            *key_a = nullptr;
            *key_b = nullptr;
            *priority = 0;
        }
    }
}

u32 delete_node(HmNode *node)
{
    if (node == nullptr)
        return 1;
    if (node->link_count != 0)
        return ORSA_STATUS_NODE_LINKED;
    /* A node below that a link elsewhere still names would leave that link
     * pointing at freed memory: refuse as for the node itself. */
    if (subtree_link_count(node) != 0 && linked_from_outside(node))
        return ORSA_STATUS_NODE_LINKED;
    forget_keys_into(node);
    _delete_node(node);
    return 0;
}

/* ---- lookups ---- */

HmNode *internal_get_node(HmNode *group, const char *name, u32 kind)
{
    if (name == nullptr)
        return nullptr;
    group = hm_follow_links(group);
    HmGroup *g = group_body(group);
    if (g == nullptr)
        return nullptr;
    char label[HM_NAME_SIZE];
    int first = tolower((unsigned char)name[0]);
    for (HmNode *c = g->first_child; c != nullptr && c != group; c = c->next) {
        /* a label starts with the name: most children differ at once */
        if (c->name == nullptr || tolower((unsigned char)c->name[0]) != first)
            continue;
        hm_node_label(c, label);
        if (!label_equal(label, name))
            continue;
        if (kind == HM_KIND_ANY || hm_effective_kind(c) == kind)
            return c;
    }
    if (kind != HM_KIND_ACTION)
        return nullptr;
    HmHierarchy *h = hm_find_hierarchy_by_node(group);
    HmNode *root = h != nullptr ? h->root : nullptr;
    HmGroup *rg = group_body(root);
    if (rg == nullptr)
        return nullptr;
    for (HmNode *c = rg->first_child; c != nullptr && c != root; c = c->next) {
        if (c->kind == HM_KIND_ACTION && c->body != nullptr && c->name != nullptr &&
            strcasecmp(c->name, name) == 0 && ((HmAction *)c->body)->global == 1)
            return c;
    }
    return nullptr;
}

HmNode *get_first_instance(HmNode *parent, const char *name)
{
    HmGroup *g = group_body(parent);
    if (g == nullptr || name == nullptr)
        return nullptr;
    for (HmNode *c = g->first_child; c != nullptr && c != parent; c = c->next) {
        HmInstanceInfo *info = hm_instance_info(c);
        if (info == nullptr || c->name == nullptr || strcmp(c->name, name) != 0)
            continue;
        i32 bit = get_first_one(info->bitmap, info->capacity);
        if (bit < 0)
            return nullptr;
        char label[HM_NAME_SIZE];
        snprintf(label, sizeof label, "%s%d", name, (int)(info->base + bit));
        return internal_get_node(parent, label, HM_KIND_GROUP);
    }
    return nullptr;
}

u32 internal_get_property(HmNode *group, const char *name, char *out)
{
    HmNode *node = internal_get_node(group, name, HM_KIND_PROPERTY);
    HmNode *prop = hm_follow_links(node);
    if (prop == nullptr || prop->body == nullptr || out == nullptr)
        return 1;
    HmProperty *p = (HmProperty *)prop->body;
    if (p->handler != nullptr)
        return p->handler(prop, out, HM_MODE_GET);
    orsa_strlcpy(out, p->value, HM_VALUE_SIZE);
    return 0;
}

u32 internal_set_property(HmNode *group, const char *name, char *text)
{
    HmNode *node = internal_get_node(group, name, HM_KIND_PROPERTY);
    HmNode *prop = hm_follow_links(node);
    if (prop == nullptr || prop->body == nullptr)
        return 1;
    HmProperty *p = (HmProperty *)prop->body;
    if (p->handler == nullptr)
        return ORSA_STATUS_NO_HANDLER;
    return p->handler(prop, text, HM_MODE_SET);
}

int SET_CACHE_PROP_VAL(HmNode *property, const char *format, ...)
{
    if (property == nullptr || property->kind != HM_KIND_PROPERTY || property->body == nullptr)
        return -1;
    HmProperty *p = (HmProperty *)property->body;
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(p->value, sizeof p->value, format, ap);
    va_end(ap);
    return n;
}

HmActionParam *orsa_internal_get_param(HmNode *action, const char *name)
{
    if (action == nullptr || action->kind != HM_KIND_ACTION || action->body == nullptr || name == nullptr)
        return nullptr;
    HmAction *a = (HmAction *)action->body;
    for (u32 i = 0; i < a->param_count && i < HM_MAX_PARAMS; i++) {
        if (strncasecmp(a->params[i].name, name, HM_NAME_SIZE) == 0)
            return &a->params[i];
    }
    return nullptr;
}
