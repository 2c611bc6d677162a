#include "tree/hm_persist.h"

#include <cstring>

#include "tree/hm_engine.h"
#include "tree/orsa_api.h"
#include "tree/orsa_entry.h"

namespace {

constexpr u32 kFirstLineSize = 250;
// No record of a sound file comes near this (three paths and six values of
// at most 255 characters each); longer lines are skipped whole.
constexpr u32 kMaxLineSize = 64 * 1024;
constexpr char kSep = '|';

HmNode *tree_root()
{
    return hm_get_root(orsa_current_hierarchy);
}

HmGroup *group_body(HmNode *node)
{
    return node != nullptr && node->kind == HM_KIND_GROUP ? HM_GROUP(node) : nullptr;
}

u32 priority_of(HmNode *node)
{
    if (node == nullptr || node->body == nullptr)
        return 0;
    if (node->kind == HM_KIND_GROUP)
        return HM_GROUP(node)->persistency_priority;
    if (node->kind == HM_KIND_LINK)
        return HM_LINK(node)->persistency_priority;
    return 0;
}

// A saved text ends at the first line break: the file has one record per
// line, and a value must never be able to add a record of its own.
void put_text(FILE *file, const char *text)
{
    fprintf(file, "%.*s", static_cast<int>(strcspn(text, "\r\n")), text);
}

void skip_rest_of_line(FILE *file)
{
    int c;
    while ((c = getc(file)) != EOF && c != '\n') {
    }
}

// Bounds and validates one replayed text as the exported API does a
// client's: at most 255 characters, then the rules of its property or
// parameter. A state file is only text; it gets no more trust than a client.
bool take_value(char (&slot)[HM_VALUE_SIZE], const char *text, const char *list, u8 type, i32 min,
                i32 max)
{
    memset(slot, 0, sizeof slot);
    if (strlen(text) >= sizeof slot)
        return false;
    memcpy(slot, text, strlen(text));
    return orsa_validate(slot, list, type, min, max) == 0;
}

void replay_group(char **f, u32 nfields)
{
    if (nfields < 4)
        return;
    HmNode *key_a = hm_follow_links(internal_get_node_path(f[2], HM_KIND_GROUP));
    HmNode *key_b = hm_follow_links(internal_get_node_path(f[3], HM_KIND_ACTION));
    if (key_a == nullptr || key_b == nullptr || key_b->kind != HM_KIND_ACTION || key_b->body == nullptr)
        return;
    HmAction *action = HM_ACTION(key_b);
    if (action->handler == nullptr)
        return;
    HmValueSlot params[HM_MAX_PARAMS];
    memset(params, 0, sizeof params);
    for (u32 i = 0; i < HM_MAX_PARAMS && 4 + i < nfields; i++) {
        const char *text = f[4 + i];
        if (i < action->param_count) {
            const HmActionParam &p = action->params[i];
            if (!take_value(params[i], text, p.list, p.type, p.min, p.max))
                return;
        } else if (strlen(text) < HM_VALUE_SIZE) {
            memcpy(params[i], text, strlen(text));
        } else {
            return;
        }
    }
    u32 *saved_tags = orsa_internal_new_tags;
    orsa_internal_new_tags = nullptr;  // a replay reports no new groups
    action->handler(key_a, key_b, params);
    orsa_internal_new_tags = saved_tags;
}

void replay_property(char **f, u32 nfields)
{
    if (nfields < 3)
        return;
    HmNode *node = hm_follow_links(internal_get_node_path(f[1], HM_KIND_PROPERTY));
    if (node == nullptr || node->kind != HM_KIND_PROPERTY || node->body == nullptr)
        return;
    HmProperty *prop = HM_PROPERTY(node);
    if (prop->handler == nullptr || (prop->flags & HM_PROP_READONLY) != 0)
        return;
    HmValueSlot value;
    if (!take_value(value, f[2], prop->list, prop->type, prop->min, prop->max))
        return;
    prop->handler(node, value, HM_MODE_SET);
}

void replay_link(char **f, u32 nfields)
{
    if (nfields < 4 || strlen(f[1]) >= HM_NAME_SIZE || f[1][0] == '\0')
        return;
    HmNode *parent = internal_get_node_path(f[2], HM_KIND_GROUP);
    HmNode *target = hm_follow_links(internal_get_node_path(f[3], HM_KIND_GROUP));
    if (parent == nullptr || target == nullptr)
        return;
    create_link(parent, f[1], target, nullptr, nullptr, nullptr);
}

void replay_line(char *line)
{
    u32 nfields = orsa_split(line, kSep);
    // Records have at most 1 + 3 + 6 fields; more are ignored.
    char *f[10];
    u32 kept = nfields < 10 ? nfields : 10;
    char *p = line;
    for (u32 i = 0; i < kept; i++) {
        f[i] = p;
        p += strlen(p) + 1;
    }
    if (kept == 0)
        return;
    if (strcmp(f[0], "GROUP") == 0)
        replay_group(f, kept);
    else if (strcmp(f[0], "PROPERTY") == 0)
        replay_property(f, kept);
    else if (strcmp(f[0], "SYMLINK") == 0)
        replay_link(f, kept);
}

}  // namespace

u32 get_full_path(HmNode *node, char out[HM_PATH_SIZE])
{
    if (out == nullptr)
        return 1;
    out[0] = '\0';
    if (node == nullptr)
        return 1;
    // Collect the labels from the node up to (not including) ROOT.
    char labels[HM_PATH_SIZE / 2][HM_NAME_SIZE];
    u32 depth = 0;
    size_t length = strlen("ROOT");
    for (HmNode *n = node; n->parent != n; n = n->parent) {
        if (n->parent == nullptr || depth == HM_PATH_SIZE / 2)
            return 1;
        hm_node_label(n, labels[depth]);
        length += 1 + strlen(labels[depth]);
        if (length >= HM_PATH_SIZE)
            return 1;
        depth++;
    }
    char *p = out;
    p += sprintf(p, "ROOT");
    while (depth > 0)
        p += sprintf(p, "/%s", labels[--depth]);
    return 0;
}

HmNode *internal_get_node_path(const char *path, u32 kind)
{
    if (path == nullptr)
        return nullptr;
    if (strcmp(path, "ROOT") == 0)
        return tree_root();
    size_t len = strlen(path);
    if (len >= HM_PATH_SIZE || strchr(path, '/') == nullptr)
        return nullptr;
    char copy[HM_PATH_SIZE];
    memcpy(copy, path, len + 1);
    u32 parts = orsa_split(copy, '/');
    HmNode *cur = tree_root();
    char *comp = copy + strlen(copy) + 1;  // the first component stands for ROOT
    for (u32 i = 1; i < parts && cur != nullptr; i++) {
        bool last = i + 1 == parts;
        cur = internal_get_node(cur, comp, last ? kind : static_cast<u32>(HM_KIND_GROUP));
        comp += strlen(comp) + 1;
    }
    return cur;
}

void enumerate_nodes(HmNode *table[], HmNode *node)
{
    if (table == nullptr || node == nullptr)
        return;
    u32 p = priority_of(node);
    if (p != 0 && p < persistency_priority)
        table[p - 1] = node;
    HmGroup *g = group_body(node);
    if (g == nullptr)
        return;
    for (HmNode *c = g->first_child; c != nullptr && c != node; c = c->next) {
        if (c->kind == HM_KIND_GROUP || c->kind == HM_KIND_LINK)
            enumerate_nodes(table, c);
    }
}

u32 dump_group(HmNode *group, FILE *file)
{
    HmGroup *g = group_body(group);
    if (g == nullptr || file == nullptr)
        return 1;
    char path[HM_PATH_SIZE], key_a[HM_PATH_SIZE], key_b[HM_PATH_SIZE];
    if (get_full_path(group, path) != 0 || get_full_path(g->key_a, key_a) != 0 ||
        get_full_path(g->key_b, key_b) != 0)
        return 1;
    fprintf(file, "GROUP%c%s%c%s%c%s", kSep, path, kSep, key_a, kSep, key_b);
    // The parameters end at the first empty one; a slot the client left out
    // (beyond the action's own parameters it is never cleared) ends them too.
    for (u32 i = 0; i < HM_MAX_PARAMS && g->keys[i][0] != '\0' &&
                    static_cast<u8>(g->keys[i][0]) != ORSA_PARAM_NOT_GIVEN;
         i++) {
        fputc(kSep, file);
        char text[HM_VALUE_SIZE];
        orsa_strlcpy(text, g->keys[i], sizeof text);
        put_text(file, text);
    }
    fputc('\n', file);
    return 0;
}

u32 dump_properties(HmNode *group, FILE *file, u32 mask)
{
    HmGroup *g = group_body(group);
    if (g == nullptr || file == nullptr)
        return 1;
    for (HmNode *c = g->first_child; c != nullptr && c != group; c = c->next) {
        if (c->kind != HM_KIND_PROPERTY || c->body == nullptr || (HM_PROPERTY(c)->flags & mask) == 0)
            continue;
        char value[HM_VALUE_SIZE] = {};
        char path[HM_PATH_SIZE];
        if (orsa_read_property_val(group->tag, c->tag, value, sizeof value) != 0 ||
            get_full_path(c, path) != 0)
            continue;
        value[HM_VALUE_SIZE - 1] = '\0';
        fprintf(file, "PROPERTY%c%s%c", kSep, path, kSep);
        put_text(file, value);
        fputc('\n', file);
    }
    return 0;
}

u32 dump_static_groups(HmNode *start, FILE *file, u32 mask)
{
    HmGroup *g = group_body(start);
    if (g == nullptr || file == nullptr)
        return 1;
    if (g->persistency_priority == 0)
        dump_properties(start, file, mask);
    for (HmNode *c = g->first_child; c != nullptr && c != start; c = c->next) {
        HmGroup *cg = group_body(c);
        if (cg != nullptr && cg->key_b == nullptr)
            dump_static_groups(c, file, mask);
    }
    return 0;
}

u32 dump_node(HmNode *node, FILE *file, u32 mask)
{
    if (node == nullptr || file == nullptr || node->body == nullptr)
        return 1;
    if (node->kind == HM_KIND_LINK) {
        char parent[HM_PATH_SIZE], target[HM_PATH_SIZE];
        if (get_full_path(node->parent, parent) != 0 || get_full_path(HM_LINK(node)->target, target) != 0)
            return 1;
        fprintf(file, "SYMLINK%c", kSep);
        put_text(file, node->name != nullptr ? node->name : "");
        fprintf(file, "%c%s%c%s\n", kSep, parent, kSep, target);
        return 0;
    }
    HmGroup *g = group_body(node);
    if (g == nullptr)
        return 1;
    if (g->instance_info != nullptr) {
        if (dump_group(node, file) != 0)
            return 1;  // without its group the properties could not be replayed
        return dump_properties(node, file, mask);
    }
    dump_properties(node, file, mask);
    return dump_group(node, file);
}

u32 save_node(HmNode *start, FILE *file, u32 mask)
{
    ORSA_ENTRY_LOCK();
    HmNode *root = tree_root();
    if (start == nullptr || file == nullptr || root == nullptr)
        return 1;
    u32 entries = persistency_priority;
    auto **table = static_cast<HmNode **>(orsa_dzalloc((entries + 1) * sizeof(HmNode *)));
    if (table == nullptr)
        return 1;
    enumerate_nodes(table, root);
    for (u32 i = 0; i + 1 < entries; i++) {
        if (table[i] != nullptr)
            dump_node(table[i], file, mask);
    }
    orsa_dfree(table);
    dump_static_groups(start, file, mask);
    fflush(file);
    return 0;
}

u32 orsa_get_line(FILE *file, char *buffer, u32 size)
{
    if (file == nullptr || buffer == nullptr || size < 2)
        return 2;
    off_t start = ftello(file);
    u32 n = 0;
    for (;;) {
        int c = getc(file);
        if (c == EOF) {
            buffer[n] = '\0';
            return n == 0 ? 0 : 1;
        }
        if (c == '\n') {
            buffer[n] = '\0';
            return 1;
        }
        if (n == size - 1) {
            if (start < 0 || fseeko(file, start, SEEK_SET) != 0)
                return 0;
            return 2;
        }
        buffer[n++] = static_cast<char>(c);
    }
}

u32 restore_hm(FILE *file)
{
    ORSA_ENTRY_LOCK();
    if (file == nullptr)
        return 0;
    u32 size = kFirstLineSize;
    auto *line = static_cast<char *>(orsa_dmalloc(size));
    if (line == nullptr)
        return 0;
    for (;;) {
        u32 rc = orsa_get_line(file, line, size);
        if (rc == 0)
            break;
        if (rc == 2) {
            if (size >= kMaxLineSize) {
                skip_rest_of_line(file);
                continue;
            }
            auto *bigger = static_cast<char *>(orsa_dmalloc(size * 2));
            if (bigger == nullptr) {
                skip_rest_of_line(file);
                continue;
            }
            orsa_dfree(line);
            line = bigger;
            size *= 2;
            continue;
        }
        replay_line(line);
    }
    orsa_dfree(line);
    return 0;
}
