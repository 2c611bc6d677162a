/* The exported tree API: clients open and close the library, walk the tree
 * by tags, read and write properties, run actions and read the last status.
 * Every entry point holds the library's entry lock (tree/orsa_entry.h) for
 * its whole run, so threads of one client may call in at any time. */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include "backend/orsa_gateway.h"
#include "backend/orsa_propertyutil.h"
#include "tree/hm_engine.h"
#include "tree/orsa_api.h"
#include "tree/orsa_entry.h"

i32 orsa_client_count;

#define API_ENTER(name)                                                             \
    do {                                                                            \
        pdebug(ORSA_LOG_CAT_API, ORSA_LOG_DEBUG, "--- entering %s ---\n", name);   \
        orsa_rebuild_stale_hierarchy();                                             \
        orsa_reset_last_status();                                                   \
    } while (0)
#define API_LEAVE(name) pdebug(ORSA_LOG_CAT_API, ORSA_LOG_DEBUG, "--- leaving %s ---\n", name)

/* Makes sure the log directory exists before the log is opened. The host
 * layer provides the full version (modes of /scratch and the log file). */
__attribute__((weak)) u32 ORSA_config_log_dir_permissions(void)
{
    static const char *const dirs[] = {"/scratch/", "/scratch/ferrosul/", "/scratch/ferrosul/orsa/", ORSA_LOG_DIR};
    for (const char *d : dirs)
        mkdir(d, 0755);
    return 0;
}

static HmNode *current_root(void)
{
    return hm_get_root(orsa_current_hierarchy);
}

/* A refused argument (a tag that names no node, a node of the wrong kind, a
 * name no child has, a missing buffer): 1, with status 1 and a text that
 * says which. A client that reads the last status after a failure always
 * finds why. */
static u32 refuse(const char *format, ...) __attribute__((format(printf, 1, 2)));
static u32 refuse(const char *format, ...)
{
    char text[ORSA_STATUS_TEXT_SIZE];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    pdebug(ORSA_LOG_CAT_API, ORSA_LOG_ERROR, "%s\n", text);
    orsa_set_last_status(ORSA_FAILURE, text);
    return ORSA_FAILURE;
}

/* Why a tag is refused: no node at all, or one of another kind. */
static u32 refuse_tag(u32 tag, const HmNode *node, const char *wanted)
{
    if (node == nullptr)
        return refuse("No node has tag %u.", (unsigned)tag);
    return refuse("Tag %u is not %s.", (unsigned)tag, wanted);
}

/* What an entry point returns: a failure that left no status (a handler
 * that returned its code without a text, 3 and 11 of the tree itself) gets
 * its code with the code's standard text, so that every non-zero result
 * comes with a status. */
static u32 api_result(u32 rc)
{
    if (rc == 0 || orsa_last_status_code != 0)
        return rc;
    const char *text = orsa_status_text(rc);
    if (text[0] != '\0')
        orsa_set_last_status(rc, text);
    else
        orsa_set_last_statusf(rc, "Operation failed with status %u.", (unsigned)rc);
    return rc;
}

static const char *kind_word(u32 kind)
{
    switch (kind) {
    case HM_KIND_GROUP:
        return "group";
    case HM_KIND_PROPERTY:
        return "property";
    case HM_KIND_ACTION:
        return "action";
    case HM_KIND_LINK:
        return "link";
    default:
        return "node";
    }
}

static bool is_group(const HmNode *n)
{
    return n != nullptr && n->kind == HM_KIND_GROUP && n->body != nullptr;
}

u32 ORSA_init(void)
{
    ORSA_ENTRY_LOCK();
    API_ENTER("ORSA_init");
    if (orsa_log_fp == nullptr) {
        ORSA_config_log_dir_permissions();
        orsa_log_open(); /* without a log the library runs on */
    }
    ORSA_update_loglevel();
    orsa_client_count++;
    pdebug(ORSA_LOG_CAT_API, ORSA_LOG_INFO, "New client #%d!\n", (int)orsa_client_count);
    if (orsa_client_count > 1)
        return 0;
    orsa_current_hierarchy[0] = '\0';
    u32 rc = init_hm();
    if (rc != 0)
        orsa_client_count--;
    API_LEAVE("ORSA_init");
    return rc;
}

u32 ORSA_exit(void)
{
    ORSA_ENTRY_LOCK();
    /* No rebuild of a stale tree here: the last client takes the tree down
     * anyway, and for the others the next call that walks it rebuilds it. */
    pdebug(ORSA_LOG_CAT_API, ORSA_LOG_DEBUG, "--- entering %s ---\n", "ORSA_exit");
    orsa_reset_last_status();
    if (orsa_client_count < 1)
        return 0;
    pdebug(ORSA_LOG_CAT_API, ORSA_LOG_INFO, "Client disconnecting #%d\n", (int)orsa_client_count);
    orsa_client_count--;
    if (orsa_client_count > 0)
        return 0;
    exit_hm();
    API_LEAVE("ORSA_exit");
    orsa_log_close();
    return 0;
}

bool orsa_library_is_open(const char *entry)
{
    if (orsa_client_count > 0)
        return true;
    pdebug(ORSA_LOG_CAT_API, ORSA_LOG_ERROR, "%s: called while the library is not open\n",
           entry != nullptr ? entry : "");
    orsa_set_last_status(ORSA_FAILURE, "The library is not open. Please call ORSA_init first.");
    return false;
}

u32 ORSA_get_last_status(u32 *code, char *text)
{
    ORSA_ENTRY_LOCK();
    orsa_get_last_status(code, text);
    return 0;
}

u32 ORSA_get_param_info(u32 tag, HmParamInfo *info)
{
    ORSA_ENTRY_LOCK();
    API_ENTER("ORSA_get_param_info");
    HmNode *node = hm_follow_links(get_node((i32)tag));
    if (info == nullptr)
        return refuse("No record for the parameters.");
    if (node == nullptr || node->kind != HM_KIND_ACTION || node->body == nullptr)
        return refuse_tag(tag, node, "an action");
    HmAction *a = (HmAction *)node->body;
    info->param_count = a->param_count;
    memcpy(info->params, a->params, sizeof info->params);
    return 0;
}

/* Does a child pass a child-tag filter? */
static bool passes_filter(HmNode *child, u32 filter)
{
    HmNode *end = hm_follow_links(child);
    if (end == nullptr)
        return false;
    u32 kind = end->kind;
    u32 flags = (kind == HM_KIND_PROPERTY && end->body != nullptr) ? ((HmProperty *)end->body)->flags : 0;
    switch (filter) {
    case ORSA_FILTER_GROUPS:
        return kind == HM_KIND_GROUP;
    case ORSA_FILTER_PROPERTIES:
        return kind == HM_KIND_PROPERTY;
    case ORSA_FILTER_ACTIONS:
        return kind == HM_KIND_ACTION;
    case ORSA_FILTER_READONLY:
        return kind == HM_KIND_PROPERTY && (flags & HM_PROP_READONLY) != 0;
    case ORSA_FILTER_NOT_READONLY:
        return kind == HM_KIND_PROPERTY && (flags & HM_PROP_READONLY) == 0;
    case ORSA_FILTER_WRITABLE:
        return kind == HM_KIND_PROPERTY && (flags & (HM_PROP_READONLY | HM_PROP_NOFILTER)) == 0;
    default:
        return false;
    }
}

u32 ORSA_get_child_tags(u32 tag, u32 *tags, u32 *count, u32 filter)
{
    ORSA_ENTRY_LOCK();
    API_ENTER("ORSA_get_child_tags");
    HmNode *group = hm_follow_links(get_node((i32)tag));
    if (count == nullptr || tags == nullptr)
        return refuse("No room for the tags or their count.");
    if (filter > 7)
        return refuse("Filter %u is not a child filter (0 to 7).", (unsigned)filter);
    if (!is_group(group))
        return refuse_tag(tag, group, "a group");
    /* Counted first: the caller's array holds ORSA_MAX_CHILD_TAGS tags, and
     * nothing is written beyond it. */
    HmNode *root = current_root();
    bool globals = filter == ORSA_FILTER_ACTIONS && is_group(root) && group != root;
    auto each = [&](auto &&emit) {
        HmGroup *g = (HmGroup *)group->body;
        for (HmNode *c = g->first_child; c != nullptr && c != group; c = c->next) {
            if (passes_filter(c, filter))
                emit(c->tag);
        }
        if (globals) {
            HmGroup *rg = (HmGroup *)root->body;
            for (HmNode *c = rg->first_child; c != nullptr && c != root; c = c->next) {
                if (c->kind == HM_KIND_ACTION && c->body != nullptr && ((HmAction *)c->body)->global == 1)
                    emit(c->tag);
            }
        }
    };
    u32 n = 0;
    each([&](u32) { n++; });
    if (n > ORSA_MAX_CHILD_TAGS) {
        *count = 0;
        orsa_set_last_statusf(ORSA_STATUS_NO_ROOM, "Group tag %u has %u children of that kind, more than %u.",
                              (unsigned)tag, (unsigned)n, (unsigned)ORSA_MAX_CHILD_TAGS);
        return ORSA_STATUS_NO_ROOM;
    }
    n = 0;
    each([&](u32 t) { tags[n++] = t; });
    *count = n;
    return 0;
}

u32 ORSA_get_parent_tag(u32 tag, u32 *parent)
{
    ORSA_ENTRY_LOCK();
    API_ENTER("ORSA_get_parent_tag");
    HmNode *node = get_node((i32)tag);
    if (parent == nullptr)
        return refuse("No room for the parent's tag.");
    if (node == nullptr || node->parent == nullptr)
        return refuse_tag(tag, node, "in the tree");
    *parent = node->parent->tag;
    return 0;
}

u32 ORSA_refresh_group(u32 tag)
{
    ORSA_ENTRY_LOCK();
    API_ENTER("ORSA_refresh_group");
    HmNode *group = hm_follow_links(get_node((i32)tag));
    if (is_group(group)) {
        HmGroup *g = (HmGroup *)group->body;
        if (g->refresh_handler != nullptr)
            g->refresh_handler(group);
    } else {
        /* Still 0, as for a refresh that failed: the reason is the status. */
        refuse_tag(tag, group, "a group");
    }
    return 0;
}

u32 ORSA_get_persistence_info(u32 tag, HmPersistenceInfo *info)
{
    ORSA_ENTRY_LOCK();
    API_ENTER("ORSA_get_persistence_info");
    HmNode *node = get_node((i32)tag);
    if (info == nullptr)
        return refuse("No record for the persistence information.");
    if (node == nullptr || node->body == nullptr)
        return refuse_tag(tag, nullptr, "");
    HmNode *key_a, *key_b;
    HmValueSlot *keys;
    u32 priority;
    if (node->kind == HM_KIND_GROUP) {
        HmGroup *g = (HmGroup *)node->body;
        key_a = g->key_a, key_b = g->key_b, keys = g->keys, priority = g->persistency_priority;
    } else if (node->kind == HM_KIND_LINK) {
        HmLink *l = (HmLink *)node->body;
        key_a = l->key_a, key_b = l->key_b, keys = l->keys, priority = l->persistency_priority;
    } else {
        return refuse("Tag %u is not a group or link.", (unsigned)tag);
    }
    if (priority == 0 || key_b == nullptr)
        return refuse("Tag %u is not persistent.", (unsigned)tag);
    info->key_b_tag = key_b->tag;
    info->key_a_tag = key_a != nullptr ? key_a->tag : 0;
    memcpy(info->keys, keys, sizeof info->keys);
    return 0;
}

u32 ORSA_get_node_description(u32 tag, HmNodeDescription *desc)
{
    ORSA_ENTRY_LOCK();
    API_ENTER("ORSA_get_node_description");
    HmNode *node = hm_follow_links(get_node((i32)tag));
    if (desc == nullptr)
        return refuse("No record for the description.");
    if (node == nullptr)
        return refuse_tag(tag, nullptr, "");
    orsa_strlcpy(desc->description, node->description, sizeof desc->description);
    desc->kind = (u8)node->kind;
    if (node->kind == HM_KIND_PROPERTY && node->body != nullptr) {
        HmProperty *p = (HmProperty *)node->body;
        desc->type = p->type;
        desc->min = p->min;
        desc->max = p->max;
    }
    return 0;
}

u32 ORSA_get_node_name(u32 tag, char *name, u32 kind)
{
    ORSA_ENTRY_LOCK();
    /* A stale tree is rebuilt before any node is looked up: a rebuild frees
     * every node record a lookup made before it could have returned. */
    orsa_rebuild_stale_hierarchy();
    HmNode *node = get_node((i32)tag);
    if (name == nullptr)
        return refuse("No room for the name.");
    if (node == nullptr)
        return refuse_tag(tag, nullptr, "");
    API_ENTER("ORSA_get_node_name");
    if (kind == 0 || kind > 7 || hm_effective_kind(node) != kind)
        return refuse("Tag %u is not a %s.", (unsigned)tag, kind_word(kind));
    if (node->kind == HM_KIND_LINK)
        snprintf(name, HM_NAME_SIZE, "%s", node->name != nullptr ? node->name : "");
    else
        hm_node_label(node, name);
    return 0;
}

/* Visits every node below group (not through link targets). */
template <typename F> static void walk_tree(HmNode *group, F &&visit)
{
    if (!is_group(group))
        return;
    HmGroup *g = (HmGroup *)group->body;
    for (HmNode *c = g->first_child; c != nullptr && c != group; c = c->next) {
        visit(c);
        if (c->kind == HM_KIND_GROUP)
            walk_tree(c, visit);
    }
}

static u32 node_priority(const HmNode *n)
{
    if (n->body == nullptr)
        return 0;
    if (n->kind == HM_KIND_GROUP)
        return ((HmGroup *)n->body)->persistency_priority;
    if (n->kind == HM_KIND_LINK)
        return ((HmLink *)n->body)->persistency_priority;
    return 0;
}

u32 ORSA_get_persistent_nodes(u32 *tags, i32 *count)
{
    ORSA_ENTRY_LOCK();
    API_ENTER("ORSA_get_persistent_nodes");
    if (tags == nullptr || count == nullptr)
        return refuse("No room for the tags or their count.");
    if (*count < 0)
        return api_result(ORSA_STATUS_NO_ROOM);
    HmNode *root = current_root();
    if (root == nullptr)
        return refuse("The library is not open.");
    u32 slots = persistency_priority;
    HmNode **table = (HmNode **)orsa_dzalloc((slots + 1) * sizeof(HmNode *));
    if (table == nullptr)
        return orsa_set_status(ORSA_STATUS_NO_MEMORY);
    walk_tree(root, [&](HmNode *n) {
        u32 p = node_priority(n);
        if (p != 0 && p - 1 < slots)
            table[p - 1] = n;
    });
    u32 filled = 0;
    for (u32 i = 0; i + 1 < slots; i++)
        filled += table[i] != nullptr;
    if (filled > (u32)*count) {
        orsa_dfree(table);
        return api_result(ORSA_STATUS_NO_ROOM);
    }
    u32 n = 0;
    for (u32 i = 0; i + 1 < slots; i++) {
        if (table[i] != nullptr)
            tags[n++] = table[i]->tag;
    }
    *count = (i32)n;
    orsa_dfree(table);
    return 0;
}

u32 ORSA_get_valid_instances(u32 tag, const char *name, u32 *numbers, u32 *count)
{
    ORSA_ENTRY_LOCK();
    API_ENTER("ORSA_get_valid_instances");
    HmNode *group = hm_follow_links(get_node((i32)tag));
    if (name == nullptr || numbers == nullptr || count == nullptr)
        return refuse("No name, or no room for the numbers or their count.");
    if (!is_group(group))
        return refuse_tag(tag, group, "a group");
    u32 n = 0;
    for (HmNode *inst = get_first_instance(group, name); inst != nullptr;) {
        HmInstanceInfo *info = hm_instance_info(inst);
        if (info == nullptr || info->number == -1)
            break;
        numbers[n++] = (u32)info->number;
        inst = info->next_instance;
    }
    *count = n;
    return 0;
}

u32 ORSA_get_property_val(u32 group_tag, u32 property_tag, char *value, i32 size)
{
    ORSA_ENTRY_LOCK();
    orsa_rebuild_stale_hierarchy();
    return api_result(orsa_read_property_val(group_tag, property_tag, value, size));
}

u32 orsa_read_property_val(u32 group_tag, u32 property_tag, char *value, i32 size)
{
    pdebug(ORSA_LOG_CAT_API, ORSA_LOG_DEBUG, "--- entering %s ---\n", "ORSA_get_property_val");
    orsa_reset_last_status();
    HmNode *group = get_node((i32)group_tag);
    HmNode *prop = get_node((i32)property_tag);
    if (value == nullptr)
        return refuse("No buffer for the value.");
    /* The caller's buffer holds size bytes, never more than a slot. */
    if (size > HM_VALUE_SIZE || size < 1)
        return refuse("A value buffer of %d bytes: it holds 1 to %d.", (int)size, HM_VALUE_SIZE);
    for (int depth = 0;; depth++) {
        if (group == nullptr || (group->kind != HM_KIND_GROUP && group->kind != HM_KIND_LINK))
            return refuse_tag(group_tag, group, "a group");
        if (prop == nullptr || (prop->kind != HM_KIND_PROPERTY && prop->kind != HM_KIND_LINK))
            return refuse_tag(property_tag, prop, "a property");
        if (depth > 64)
            return refuse("Property tag %u is a chain of links.", (unsigned)property_tag);
        group = hm_follow_links(group);
        if (group == nullptr || prop->parent != group)
            return refuse("Property tag %u is not in group tag %u.", (unsigned)property_tag, (unsigned)group_tag);
        if (prop->kind != HM_KIND_LINK)
            break;
        prop = ((HmLink *)prop->body)->target;
    }
    HmProperty *p = (HmProperty *)prop->body;
    if (p == nullptr)
        return refuse_tag(property_tag, prop, "a property");
    /* The handler works on a full slot of the library's own; the caller gets
     * at most size - 1 characters and the terminator. */
    HmValueSlot slot;
    memset(slot, 0, sizeof slot);
    memcpy(slot, value, strnlen(value, (size_t)size - 1));
    u32 rc = 0;
    if (p->handler == nullptr)
        orsa_strlcpy(slot, p->value, sizeof slot);
    else
        rc = p->handler(prop, slot, HM_MODE_GET);
    slot[HM_VALUE_SIZE - 1] = '\0';
    orsa_strlcpy(value, slot, (size_t)size);
    API_LEAVE("ORSA_get_property_val");
    /* A value cut to the caller's buffer is not the value: said, not hidden. */
    size_t length = strlen(slot);
    if (rc == 0 && length >= (size_t)size) {
        orsa_set_last_statusf(ORSA_STATUS_NO_ROOM,
                              "The value has %u characters: the buffer of %d bytes holds %d and the terminator.",
                              (unsigned)length, (int)size, (int)size - 1);
        return ORSA_STATUS_NO_ROOM;
    }
    return rc;
}

static void set_validation_status(u32 code, const char *param, i32 min, i32 max)
{
    const char *prefix = param != nullptr ? param : "";
    const char *sep = param != nullptr ? ": " : "";
    switch (code) {
    case ORSA_STATUS_OUT_OF_RANGE:
        orsa_set_last_statusf(code, "%s%sValue out of range. Valid range is from %d to %d.", prefix, sep, (int)min,
                              (int)max);
        break;
    case ORSA_STATUS_BAD_LENGTH:
        orsa_set_last_statusf(code, "%s%sNumber of characters should be from %d to %d.", prefix, sep, (int)min,
                              (int)max);
        break;
    default:
        orsa_set_last_statusf(code, "%s%sInvalid value.", prefix, sep);
        break;
    }
}

u32 ORSA_set_property_val(u32 group_tag, u32 property_tag, char *value, u32 size)
{
    ORSA_ENTRY_LOCK();
    API_ENTER("ORSA_set_property_val");
    HmNode *group = get_node((i32)group_tag);
    HmNode *prop = get_node((i32)property_tag);
    if (value == nullptr)
        return refuse("No value.");
    for (int depth = 0;; depth++) {
        if (depth > 64)
            return refuse("Property tag %u is a chain of links.", (unsigned)property_tag);
        if (group == nullptr)
            return refuse_tag(group_tag, nullptr, "");
        if (prop == nullptr)
            return refuse_tag(property_tag, nullptr, "");
        if (group->kind == HM_KIND_LINK)
            group = hm_follow_links(group);
        if (group == nullptr || group->kind != HM_KIND_GROUP)
            return refuse_tag(group_tag, group, "a group");
        if (prop->parent != group)
            return refuse("Property tag %u is not in group tag %u.", (unsigned)property_tag, (unsigned)group_tag);
        if (prop->kind != HM_KIND_LINK)
            break;
        if (size > HM_VALUE_SIZE)
            return refuse("A value of %u bytes: a value holds at most %d.", (unsigned)size, HM_VALUE_SIZE);
        prop = ((HmLink *)prop->body)->target;
    }
    if (prop->kind != HM_KIND_PROPERTY || prop->body == nullptr)
        return refuse_tag(property_tag, prop, "a property");
    HmProperty *p = (HmProperty *)prop->body;
    if (p->flags & HM_PROP_READONLY) {
        orsa_set_last_status(ORSA_STATUS_READ_ONLY, "Read only property");
        return 1;
    }
    if (size > HM_VALUE_SIZE)
        return refuse("A value of %u bytes: a value holds at most %d.", (unsigned)size, HM_VALUE_SIZE);
    /* Validation may rewrite the text (IPv6) and handlers may write into it:
     * both work on the library's own slot, never on the caller's text. */
    size_t len = strnlen(value, HM_VALUE_SIZE);
    if (len == HM_VALUE_SIZE)
        return refuse("The value is longer than %d characters.", HM_VALUE_SIZE - 1);
    HmValueSlot slot;
    memset(slot, 0, sizeof slot);
    memcpy(slot, value, len);
    u32 rc = orsa_validate(slot, p->list, p->type, p->min, p->max);
    if (rc != 0) {
        set_validation_status(rc, nullptr, p->min, p->max);
        return 1;
    }
    if (p->handler == nullptr) {
        API_LEAVE("ORSA_set_property_val");
        return api_result(ORSA_STATUS_NO_HANDLER);
    }
    return api_result(p->handler(prop, slot, HM_MODE_SET));
}

static void detach_new_tags(void)
{
    orsa_internal_new_tags = nullptr;
    new_tag_index = 0;
}

u32 ORSA_do_action(u32 group_tag, u32 action_tag, HmValueSlot *params, u32 *new_tags)
{
    ORSA_ENTRY_LOCK();
    API_ENTER("ORSA_do_action");
    HmNode *group = get_node((i32)group_tag);
    HmNode *action = get_node((i32)action_tag);
    if (params == nullptr)
        return refuse("No parameters.");
    if (group == nullptr || (group->kind != HM_KIND_GROUP && group->kind != HM_KIND_LINK))
        return refuse_tag(group_tag, group, "a group");
    if (action == nullptr || (action->kind != HM_KIND_ACTION && action->kind != HM_KIND_LINK))
        return refuse_tag(action_tag, action, "an action");

    orsa_internal_new_tags = new_tags;
    if (new_tags != nullptr)
        new_tags[0] = 0;
    new_tag_index = 0;

    group = hm_follow_links(group);
    action = hm_follow_links(action);
    if (!is_group(group) || action == nullptr || action->kind != HM_KIND_ACTION || action->body == nullptr) {
        detach_new_tags();
        return refuse("Tag %u or %u ends in no %s.", (unsigned)group_tag, (unsigned)action_tag,
                      !is_group(group) ? "group" : "action");
    }
    HmAction *a = (HmAction *)action->body;
    for (u32 i = 0; i < a->param_count && i < HM_MAX_PARAMS; i++) {
        HmActionParam *d = &a->params[i];
        char *slot = params[i];
        if ((u8)slot[0] == ORSA_PARAM_NOT_GIVEN) {
            if (d->required) {
                orsa_set_last_statusf(ORSA_STATUS_PARAM_MISSING, "%s: Parameter missing.", d->name);
                detach_new_tags();
                return 1;
            }
            memset(slot, 0, HM_VALUE_SIZE);
            continue;
        }
        u32 rc = ORSA_STATUS_INVALID_VALUE;
        if (strnlen(slot, HM_VALUE_SIZE) < HM_VALUE_SIZE) /* an unterminated slot is no text */
            rc = orsa_validate(slot, d->list, d->type, d->min, d->max);
        if (rc != 0) {
            set_validation_status(rc, d->name, d->min, d->max);
            detach_new_tags();
            return 1;
        }
    }
    if (a->handler == nullptr) {
        pdebug(ORSA_LOG_CAT_API, ORSA_LOG_ERROR, "Not Implimented\n");
        detach_new_tags();
        return api_result(1);
    }
    u32 rc = a->handler(group, action, params);
    detach_new_tags();
    API_LEAVE("ORSA_do_action");
    return api_result(rc);
}

u32 ORSA_get_node_tag(u32 group_tag, const char *name, u32 *tag, u32 kind)
{
    ORSA_ENTRY_LOCK();
    API_ENTER("ORSA_get_node_tag");
    HmNode *group = get_node((i32)group_tag);
    if (name == nullptr || tag == nullptr)
        return refuse("No name, or no room for the tag.");
    if (kind > 7)
        return refuse("Kind %u is not a node kind (0 to 7).", (unsigned)kind);
    if (!is_group(group))
        return refuse_tag(group_tag, group, "a group");
    HmNode *node = internal_get_node(group, name, kind);
    if (node == nullptr)
        return refuse("Group tag %u has no %s named \"%.64s\".", (unsigned)group_tag, kind_word(kind), name);
    *tag = node->tag;
    return 0;
}
