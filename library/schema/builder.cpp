// The one builder engine behind every initialize_ function: it walks a
// kind's rows and makes the instance group with all its children.
#include <stdio.h>
#include <string.h>

#include "schema/builders.h"
#include "schema/kind_table.h"

namespace schema {

namespace {

// Deepest nesting of static subgroups any table may use.
constexpr int kMaxDepth = 8;

void fill_descriptor(SchemaActionSpec *spec)
{
    HmAction *d = spec->descriptor;
    memset(d, 0, sizeof(*d));
    HmActionHandler h = schema_find_action_handler(spec->handler);
    d->handler = h != nullptr ? h : schema_unbound_action;
    d->global = 0;
    d->param_count = spec->param_count <= HM_MAX_PARAMS ? spec->param_count : HM_MAX_PARAMS;
    for (u32 i = 0; i < d->param_count; i++) {
        const SchemaParamSpec &p = spec->params[i];
        HmActionParam &q = d->params[i];
        q.required = p.required;
        orsa_strlcpy(q.name, p.name != nullptr ? p.name : "", sizeof(q.name));
        orsa_strlcpy(q.description, p.description != nullptr ? p.description : "", sizeof(q.description));
        q.type = p.type;
        orsa_strlcpy(q.list, p.allowed != nullptr ? p.allowed : "", sizeof(q.list));
        q.min = p.min;
        q.max = p.max;
    }
}

// The live-allocation counter also counts a free of nothing, so only what
// was really taken is given back.
void release(void *p)
{
    if (p != nullptr)
        orsa_dfree(p);
}

// Frees a node that never made it into the tree.
void free_loose_node(HmNode *n)
{
    if (n == nullptr)
        return;
    if (n->kind != HM_KIND_ACTION)
        release(n->body);
    release(n->name);
    release(n->description);
    orsa_dfree(n);
}

// A zeroed node with its own copies of name and description; none when any
// allocation fails (a node without its texts is of no use to a client).
HmNode *new_node(u32 kind, const char *name, const char *description, HmNode *parent)
{
    HmNode *n = (HmNode *)orsa_dzalloc(sizeof(HmNode));
    if (n == nullptr)
        return nullptr;
    n->kind = kind;
    n->parent = parent;
    n->name = orsa_dstrdup(name != nullptr ? name : "");
    n->description = orsa_dstrdup(description != nullptr ? description : "");
    if (n->name == nullptr || n->description == nullptr) {
        free_loose_node(n);
        return nullptr;
    }
    return n;
}

HmNode *new_group(const char *name, const char *description, HmNode *parent, HmGroupRefreshHandler refresh)
{
    HmNode *n = new_node(HM_KIND_GROUP, name, description, parent);
    if (n == nullptr)
        return nullptr;
    HmGroup *g = (HmGroup *)orsa_dzalloc(sizeof(HmGroup));
    if (g == nullptr) {
        free_loose_node(n);
        return nullptr;
    }
    g->first_child = n;
    g->last_child = n;
    g->refresh_handler = refresh;
    n->body = g;
    return n;
}

HmNode *new_property(const SchemaRow &r, HmNode *parent)
{
    HmNode *n = new_node(HM_KIND_PROPERTY, r.name, r.description, parent);
    if (n == nullptr)
        return nullptr;
    HmProperty *p = (HmProperty *)orsa_dzalloc(sizeof(HmProperty));
    if (p == nullptr) {
        free_loose_node(n);
        return nullptr;
    }
    orsa_strlcpy(p->value, r.def != nullptr ? r.def : "", sizeof(p->value));
    p->handler = r.property_handler;
    p->flags = r.access;
    p->type = r.type;
    orsa_strlcpy(p->list, r.allowed != nullptr ? r.allowed : "", sizeof(p->list));
    p->min = r.min;
    p->max = r.max;
    n->body = p;
    return n;
}

// Adds a child; on refusal the child is freed. Returns false on any failure.
bool add_child(HmNode *n, HmHierarchy *h)
{
    if (n == nullptr)
        return false;
    if (add_node(n, h) == HM_TAG_NONE) {
        free_loose_node(n);
        return false;
    }
    return true;
}

// Makes the kind's children below group, in row order.
bool build_children(SchemaKind *kind, HmNode *group, HmHierarchy *h)
{
    HmNode *stack[kMaxDepth + 1];
    int depth = 0;
    stack[0] = group;
    for (u32 i = 0; i < kind->row_count; i++) {
        const SchemaRow &r = kind->rows[i];
        HmNode *parent = stack[depth];
        switch (r.row) {
        case Row::Property:
            if (!add_child(new_property(r, parent), h))
                return false;
            break;
        case Row::Group: {
            if (depth == kMaxDepth)
                return false;
            HmNode *g = new_group(r.name, r.description, parent, r.group_handler);
            if (!add_child(g, h))
                return false;
            stack[++depth] = g;
            break;
        }
        case Row::End:
            if (depth == 0)
                return false;
            depth--;
            break;
        case Row::Action: {
            HmNode *a = new_node(HM_KIND_ACTION, r.name, r.description, parent);
            if (a == nullptr)
                return false;
            a->body = r.action->descriptor;
            if (!add_child(a, h))
                return false;
            break;
        }
        }
    }
    return depth == 0;
}

// The parent's slice of the kind's bitmap: a mixed-radix number over the
// instance groups from the parent up to the root. None when the parent lies
// outside the slices the kind reserved (a builder called below a parent it
// was not made for must not write past its bitmap).
u8 *parent_slice(SchemaKind *kind, HmNode *parent, HmHierarchy *h)
{
    unsigned long long index = 0, weight = 1;
    HmNode *n = parent;
    for (int steps = 0; n != nullptr && n != h->root; steps++) {
        if (steps > 64)
            return nullptr;
        HmInstanceInfo *ii = hm_instance_info(n);
        if (ii != nullptr) {
            if (ii->number < (i32)ii->base)
                return nullptr;
            index += (unsigned long long)(ii->number - ii->base) * weight;
            weight *= ii->capacity;
        }
        if (n->parent == n)
            break;
        n = n->parent;
    }
    const unsigned long long bytes = slice_bytes(kind->capacity);
    if ((index + 1) * bytes > kind->bitmap_bytes)
        return nullptr;
    return kind->bitmap + index * bytes;
}

// A group without a refresh name has no refresh; a name that has not landed
// gets the stand-in.
HmGroupRefreshHandler bind_group_handler(const char *name)
{
    if (name == nullptr)
        return nullptr;
    HmGroupRefreshHandler h = schema_find_group_handler(name);
    return h != nullptr ? h : schema_unbound_group;
}

}  // namespace

void schema_bind_kind(SchemaKind *kind)
{
    if (kind->bound)
        return;
    kind->refresh = bind_group_handler(kind->refresh_handler);
    for (u32 i = 0; i < kind->row_count; i++) {
        SchemaRow &r = kind->rows[i];
        switch (r.row) {
        case Row::Property: {
            HmPropertyHandler ph = schema_find_property_handler(r.handler);
            r.property_handler = ph != nullptr ? ph : schema_unbound_property;
            break;
        }
        case Row::Group:
            r.group_handler = bind_group_handler(r.handler);
            break;
        case Row::Action:
            fill_descriptor(r.action);
            break;
        case Row::End:
            break;
        }
    }
    kind->bound = true;
}

HmNode *schema_build_instance(SchemaKind *kind, HmNode *parent, HmNode *key_a, HmNode *key_b,
                              HmValueSlot *keys)
{
    if (kind == nullptr || parent == nullptr || parent->kind != HM_KIND_GROUP || parent->body == nullptr)
        return nullptr;
    HmHierarchy *h = hm_find_hierarchy_by_node(parent);
    if (h == nullptr)
        return nullptr;
    schema_bind_kind(kind);

    // One client action reports at most HM_MAX_NEW_TAGS groups; refusing
    // before anything is made leaves no trace of the refused group.
    if (orsa_internal_new_tags != nullptr && new_tag_index >= HM_MAX_NEW_TAGS) {
        printf("Too many groups added in this action\n");
        fflush(stdout);
        return nullptr;
    }

    u8 *slice = parent_slice(kind, parent, h);
    if (slice == nullptr)
        return nullptr;
    i32 bit = get_first_zero(slice, kind->capacity);
    if (bit < 0)
        return nullptr;

    HmNode *group = new_group(kind->group_name, kind->description, parent, nullptr);
    if (group == nullptr)
        return nullptr;
    HmGroup *g = HM_GROUP(group);
    HmInstanceInfo *ii = (HmInstanceInfo *)orsa_dzalloc(sizeof(HmInstanceInfo));
    if (ii == nullptr) {
        free_loose_node(group);
        return nullptr;
    }
    ii->bitmap = slice;
    ii->capacity = kind->capacity;
    ii->base = 0;
    ii->number = ii->base + bit;
    g->instance_info = ii;

    if (add_node(group, h) == HM_TAG_NONE) {
        orsa_dfree(ii);
        g->instance_info = nullptr;
        free_loose_node(group);
        return nullptr;
    }
    g->refresh_handler = kind->refresh;

    if (!build_children(kind, group, h)) {
        delete_node(group);
        return nullptr;
    }

    g->key_a = key_a;
    g->key_b = key_b;
    if (keys != nullptr)
        memcpy(g->keys, keys, sizeof(g->keys));
    if (key_b != nullptr)
        g->persistency_priority = persistency_priority++;

    set_bit(slice, kind->capacity, bit);

    if (orsa_internal_new_tags != nullptr)
        orsa_internal_new_tags[new_tag_index++] = group->tag;
    return group;
}

}  // namespace schema
