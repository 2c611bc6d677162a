/* Property utilities every handler uses, the log-level file and the
 * exported text and buffer helpers. */
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backend/orsa_propertyutil.h"
#include "tree/hm_engine.h"
#include "tree/orsa_entry.h"

u32 set_prop_val(HmNode *group, const char *name, const char *format, ...)
{
    HmNode *node = hm_follow_links(internal_get_node(group, name, HM_KIND_PROPERTY));
    if (node == nullptr || node->body == nullptr)
        return 1;
    HmProperty *p = (HmProperty *)node->body;
    va_list ap;
    va_start(ap, format);
    vsnprintf(p->value, sizeof p->value, format, ap);
    va_end(ap);
    return 0;
}

u32 handle_internal_property(HmNode *property, char *value, u32 mode)
{
    if (property == nullptr || property->body == nullptr || value == nullptr)
        return 0;
    HmProperty *p = (HmProperty *)property->body;
    if (mode == HM_MODE_GET)
        orsa_strlcpy(value, p->value, HM_VALUE_SIZE);
    else if (mode == HM_MODE_SET)
        orsa_strlcpy(p->value, value, HM_VALUE_SIZE);
    return 0;
}

void orsa_release_node_handle(HmNode *group)
{
    if (group == nullptr || group->kind != HM_KIND_GROUP || group->body == nullptr)
        return;
    HmGroup *g = (HmGroup *)group->body;
    if (g->nhandle != nullptr) {
        orsa_dfree(g->nhandle);
        g->nhandle = nullptr;
    }
}

/* Deletes a group and only then releases its instance-number record: a
 * group that a link still holds stays, and keeps its record with it. */
static u32 delete_with_handle(HmNode *group)
{
    HmGroup *g = (HmGroup *)group->body;
    void *record = g != nullptr ? g->nhandle : nullptr;
    u32 rc = delete_node(group);
    if (rc == 0 && record != nullptr)
        orsa_dfree(record);
    return rc;
}

u32 purge_nodes_within(HmNode *parent, const char *kind)
{
    HmNode *inst = get_first_instance(parent, kind);
    u32 rc = 0;
    while (inst != nullptr) {
        HmInstanceInfo *info = hm_instance_info(inst);
        HmNode *next = info != nullptr ? info->next_instance : nullptr;
        if (next != nullptr && hm_instance_info(next)->number == -1)
            next = nullptr;
        if (inst->name != nullptr && strcmp(inst->name, "Session") == 0) {
            HmNode *conn = get_first_instance(inst, "Connection");
            if (conn != nullptr)
                delete_with_handle(conn);
        }
        rc = delete_with_handle(inst);
        if (rc != 0)
            break;
        inst = next;
    }
    return rc;
}

i32 get_phba_port_number(HmNode *node)
{
    for (HmNode *n = node; n != nullptr; n = n->parent) {
        if (n->name != nullptr && strcmp(n->name, "ROOT") == 0)
            return 0;
        if (n->kind == HM_KIND_GROUP && n->name != nullptr &&
            (strcmp(n->name, "iSCSIPhysicalHBA") == 0 || strcmp(n->name, "PortDiscoveryAndConfiguration") == 0 ||
             strcmp(n->name, "NICPhysicalHBA") == 0)) {
            char text[HM_VALUE_SIZE] = "";
            if (internal_get_property(n, "PortNumber", text) != 0)
                return 0;
            return (i32)strtol(text, nullptr, 10);
        }
        if (n->parent == n)
            break;
    }
    return 0;
}

/* ---- the log-level file ---- */

/* The whole text goes to a new file of its own beside liborsa.conf, which
 * then takes the name by rename: a reader (another process opening the
 * library) finds the old file or the new one, never half of one. A symbolic
 * link at the name is replaced by the file, not followed, so the library
 * never writes into a file somewhere else. */
u32 ORSA_set_debug_level(void)
{
    char text[512];
    int len = snprintf(text, sizeof text, "%s%d", ORSA_CONF_HEADER, (int)orsa_debug_level);
    if (len < 0 || (size_t)len >= sizeof text)
        return 1;
    char temp[] = ORSA_CONF_FILE ".XXXXXX";
    int fd = mkstemp(temp);
    if (fd < 0)
        return 1;
    bool ok = fchmod(fd, 0644) == 0;
    for (int done = 0; ok && done < len;) {
        ssize_t n = write(fd, text + done, (size_t)(len - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += n > 0 ? (int)n : 0;
    }
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp, ORSA_CONF_FILE) != 0) {
        unlink(temp);
        return 1;
    }
    return 0;
}

/* 0644 on liborsa.conf itself: through a symbolic link it would land on
 * whatever file the link names, so a link is left as it is. */
static void conf_file_mode(void)
{
    int fd = open(ORSA_CONF_FILE, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    fchmod(fd, 0644);
    close(fd);
}

u32 ORSA_get_debug_level(void)
{
    FILE *f = fopen(ORSA_CONF_FILE, "r");
    if (f == nullptr)
        return 1;
    char line[256];
    bool rewrite = false;
    while (fgets(line, sizeof line, f) != nullptr) {
        /* Only the line end goes: the file ends without one, right after the level. */
        line[strcspn(line, "\r\n")] = '\0';
        if (strstr(line, ORSA_CONF_KEY) == nullptr)
            continue;
        char *save = nullptr;
        char *first = strtok_r(line, " \t", &save);
        char *second = first != nullptr ? strtok_r(nullptr, " \t", &save) : nullptr;
        char *end = nullptr;
        long level = second != nullptr ? strtol(second, &end, 10) : -1;
        if (second != nullptr && end != second && *end == '\0' && level >= 0 && level <= 6)
            orsa_debug_level = (i32)level;
        else
            rewrite = true; /* a missing or bad value is replaced by the level in force */
    }
    fclose(f);
    if (rewrite)
        ORSA_set_debug_level();
    return 0;
}

u32 ORSA_update_loglevel(void)
{
    if (access(ORSA_CONF_FILE, R_OK) == 0)
        ORSA_get_debug_level();
    else
        ORSA_set_debug_level();
    conf_file_mode();
    return 0;
}

u32 handle_ORSADebugLevel(HmNode *property, char *value, u32 mode)
{
    if (property == nullptr || property->body == nullptr || value == nullptr)
        return 1;
    if (mode == HM_MODE_GET) {
        ORSA_get_debug_level();
        SET_CACHE_PROP_VAL(property, "%d", (int)orsa_debug_level);
        orsa_strlcpy(value, HM_PROPERTY(property)->value, HM_VALUE_SIZE);
        return 0;
    }
    if (mode == HM_MODE_SET) {
        orsa_debug_level = (i32)strtol(value, nullptr, 10);
        ORSA_set_debug_level();
        orsa_strlcpy(HM_PROPERTY(property)->value, value, HM_VALUE_SIZE);
        return 0;
    }
    return 0;
}

/* ---- text and buffer helpers ---- */

u32 orsa_getip(char *text, u32 octets[4])
{
    octets[0] = octets[1] = octets[2] = octets[3] = 0;
    if (text == nullptr)
        return 0;
    /* Split at every dot: an empty part is an octet of 0, as the address
     * validation reads it (strtok would run two dots together). */
    char *part = text;
    for (int i = 0; i < 4 && part != nullptr; i++) {
        char *dot = strchr(part, '.');
        if (dot != nullptr)
            *dot = '\0';
        octets[i] = (u32)strtoul(part, nullptr, 10);
        part = dot != nullptr ? dot + 1 : nullptr;
    }
    return 0;
}

void swap16_buffer(u32 *words, u32 length)
{
    ORSA_ENTRY_LOCK();
    if (words == nullptr)
        return;
    /* Whole words only: rounding the length up would touch bytes past it. */
    for (u32 i = 0; i < length / 4; i++) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "In %s: word = %x\n", __func__, words[i]);
        words[i] = (words[i] << 16) | (words[i] >> 16);
    }
}

u32 word_count(const char *text, const char *needle)
{
    ORSA_ENTRY_LOCK();
    if (text == nullptr || needle == nullptr || needle[0] == '\0')
        return 0;
    u32 count = 0;
    size_t n = strlen(needle);
    for (const char *p = strstr(text, needle); p != nullptr; p = strstr(p + n, needle))
        count++;
    return count;
}

u32 get_field(const u8 *text, u8 delimiter, u8 *field, i32 size)
{
    ORSA_ENTRY_LOCK();
    if (field != nullptr && size > 0)
        memset(field, 0, (size_t)size);
    if (text == nullptr)
        return 0;
    if (text[0] == delimiter)
        return 1;
    if (text[0] == '\0')
        return 0;
    if (field == nullptr || size < 1) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "dest len is smaller %d %d", 0, (int)size);
        return 0;
    }
    i32 i = 0;
    while (text[i] != delimiter && text[i] != '\0') {
        /* Keep room for the terminator: a full field is cut, never left open. */
        if (i == size - 1) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "dest len is smaller %d %d", (int)i, (int)size);
            return 0;
        }
        field[i] = text[i];
        i++;
    }
    return 0;
}

u32 get_nic_count(HmNode *node)
{
    ORSA_ENTRY_LOCK();
    if (node == nullptr || node->parent == nullptr)
        return 1;
    char port[HM_VALUE_SIZE] = "";
    if (internal_get_property(node, "PortNumber", port) != 0)
        return 1;
    HmNode *first = get_first_instance(node->parent, "NICPhysicalHBA");
    if (first == nullptr)
        return 1;
    if (first->kind != HM_KIND_GROUP)
        return 0;
    u32 count = 0;
    for (HmNode *n = first; n != nullptr;) {
        HmInstanceInfo *info = hm_instance_info(n);
        if (info == nullptr || info->number == -1)
            break;
        char other[HM_VALUE_SIZE] = "";
        if (internal_get_property(n, "PortNumber", other) != 0)
            return 1;
        if (strcmp(other, port) == 0)
            count++;
        n = info->next_instance;
    }
    return count;
}
