/*
 * ima_frame.cpp - the plugin's frame: opening and closing the management
 * library for the host's framework, the owner id, the object id checks, the
 * mapping of tree results to IMA statuses, the debug log, the tree access
 * routines every entry point shares and the plugin-level entry points.
 */
#include <ctype.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "ima/ima_plugin.h"
#include "tree/orsa_entry.h"

u32 MyOwnerId = 0;
i32 open_count = 0;
u32 library_initialised = 0;

static constexpr const char *kImaLog = "/tmp/ima.log";

/* The plugin's debug log. A link at the log's name in the shared /tmp is
 * not followed: another user could point it at any file the host may write. */
void ppdebug(const char *format, ...)
{
    int fd = open(kImaLog, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    FILE *f = fdopen(fd, "a");
    if (f == nullptr) {
        close(fd);
        return;
    }
    va_list ap;
    va_start(ap, format);
    vfprintf(f, format, ap);
    va_end(ap);
    fflush(f);
    fclose(f);
}

/* The first open of a cycle opens the management library; a failure is only
 * logged, later tree calls then fail. */
void driver_open(void)
{
    open_count++;
    if (library_initialised == 0) {
        u32 st = ORSA_init();
        if (st != 0)
            ppdebug("ORSA_init status is %d\n", (int)st);
        library_initialised = 1;
    }
}

void driver_close(void)
{
    if (library_initialised != 1 || open_count <= 0)
        return;
    if (open_count-- == 1) {
        ORSA_exit();
        library_initialised = 0;
    }
}

IMA_STATUS IMA_VMW_PluginInit(uint32_t ownerId)
{
    ORSA_ENTRY_LOCK();
    driver_open();
    MyOwnerId = ownerId;
    return IMA_STATUS_SUCCESS;
}

void IMA_VMW_PluginCleanup(void)
{
    ORSA_ENTRY_LOCK();
    driver_close();
}

IMA_STATUS IMA_FreeMemory(void *memory)
{
    free(memory);
    return IMA_STATUS_SUCCESS;
}

IMA_OID ima_make_oid(u32 type, u32 tag)
{
    IMA_OID oid;
    oid.objectType = type;
    oid.ownerId = MyOwnerId;
    oid.objectSequenceNumber = (u64)(int64_t)(i32)tag;
    return oid;
}

IMA_STATUS CheckParameters(u32 object_type, u32 owner_id, u32 tag, u32 high, u32 mask)
{
    if (object_type - 1u > 15u)
        return IMA_ERROR_INVALID_OBJECT_TYPE;
    if ((mask >> object_type & 1u) == 0)
        return IMA_ERROR_INCORRECT_OBJECT_TYPE;
    return ValidateOidTag(object_type, owner_id, tag, high);
}

/* The group label ("LogicalHBA3") of a tag; false for no group. */
static bool group_name(u32 tag, char *name)
{
    memset(name, 0, HM_NAME_SIZE);
    return ORSA_get_node_name(tag, name, HM_KIND_GROUP) == 0;
}

/* word followed by a decimal instance number and nothing else. */
static bool is_instance_of(const char *name, const char *word)
{
    size_t n = strlen(word);
    if (strncmp(name, word, n) != 0 || name[n] == 0)
        return false;
    for (const char *p = name + n; *p != 0; p++)
        if (!isdigit((unsigned char)*p))
            return false;
    return true;
}

/* A fixed group under Network of an iSCSIPhysicalHBA<n>. */
static bool is_network_group(u32 tag, const char *name, const char *want)
{
    char up[HM_NAME_SIZE];
    u32 network = 0, phba = 0;
    return strcmp(name, want) == 0 && ORSA_get_parent_tag(tag, &network) == 0 && group_name(network, up) &&
           strcmp(up, "Network") == 0 && ORSA_get_parent_tag(network, &phba) == 0 && group_name(phba, up) &&
           is_instance_of(up, "iSCSIPhysicalHBA");
}

/* Does the tag name a node of the object type? Names are matched exactly:
 * the word and an instance number, not any name that holds the word (a
 * session's "SessionLoginOptions" is no session). */
IMA_STATUS ValidateOidTag(u32 object_type, u32 owner_id, u32 tag, u32 high)
{
    (void)high;
    if (object_type < 3 || object_type > 14 || object_type == 6)
        return IMA_ERROR_INCORRECT_OBJECT_TYPE;
    char name[HM_NAME_SIZE];
    if (!group_name(tag, name))
        return IMA_ERROR_OBJECT_NOT_FOUND;
    bool ok = false;
    switch (object_type) {
    case 3:
        ok = is_instance_of(name, "LogicalHBA");
        break;
    case 4:
    case 7:
        ok = is_instance_of(name, "iSCSIPhysicalHBA");
        break;
    case 5:
        ok = is_network_group(tag, name, "TCPIPConfiguration");
        break;
    case 8:
        ok = is_network_group(tag, name, "NICConfiguration");
        break;
    case 9:
    case 12: {
        u32 target = 0;
        char up[HM_NAME_SIZE];
        ok = is_instance_of(name, "TargetPortal") && Get_Target_tag(tag, &target) == 0 && group_name(target, up) &&
             is_instance_of(up, "Target");
        break;
    }
    case 10:
        ok = is_instance_of(name, "LUN");
        break;
    case 11:
        ok = is_instance_of(name, "SendTargetPortal");
        break;
    case 13:
        ok = is_instance_of(name, "Connection");
        break;
    case 14:
        ok = is_instance_of(name, "Session");
        break;
    default:
        ok = false;
        break;
    }
    if (!ok || owner_id != MyOwnerId)
        return IMA_ERROR_OBJECT_NOT_FOUND;
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS ErrorCheck(u32 result)
{
    if (result == 0xFFFFFFFFu)
        return IMA_ERROR_OBJECT_NOT_FOUND;
    if (result == 1) {
        ppdebug("in Error check and failed in ORSA\n");
        return IMA_ERROR_INVALID_PARAMETER;
    }
    return result;
}

/* ---- tree access ---- */

u32 ima_child(u32 tag, const char *name, u32 kind, u32 *out)
{
    return ORSA_get_node_tag(tag, name, out, kind);
}

u32 ima_parent(u32 tag, u32 *out)
{
    return ORSA_get_parent_tag(tag, out);
}

u32 GetOrsaPropertyVal(u32 group_tag, const char *property, char *out)
{
    u32 prop = 0;
    u32 st = ORSA_get_node_tag(group_tag, property, &prop, HM_KIND_PROPERTY);
    if (st != 0)
        return st;
    return ORSA_get_property_val(group_tag, prop, out, IMA_TEXT_SIZE);
}

u32 GetOrsaVal(u32 tag, const char *group, const char *property, char *out)
{
    u32 g = 0;
    u32 st = ORSA_get_node_tag(tag, group, &g, HM_KIND_GROUP);
    if (st != 0)
        return st;
    return GetOrsaPropertyVal(g, property, out);
}

u32 SetOrsaPropertyVal(u32 tag, const char *group, const char *property, const char *value)
{
    u32 g = 0, prop = 0;
    u32 st = ORSA_get_node_tag(tag, group, &g, HM_KIND_GROUP);
    if (st == 0)
        st = ORSA_get_node_tag(g, property, &prop, HM_KIND_PROPERTY);
    if (st != 0)
        return st;
    char text[IMA_TEXT_SIZE];
    snprintf(text, sizeof text, "%s", value);
    return ORSA_set_property_val(g, prop, text, IMA_TEXT_SIZE);
}

u32 Get_Target_tag(u32 tag, u32 *parent)
{
    return ORSA_get_parent_tag(tag, parent) == 0 ? 0 : 1;
}

u32 Orsa_Get_Child_Tags(u32 tag, const char *name, u32 *tags, u32 *count)
{
    /* The instance query writes every number the group has: room for the
     * most children a group can list. */
    std::vector<u32> numbers(ORSA_MAX_CHILD_TAGS);
    u32 n = 0;
    u32 st = ORSA_get_valid_instances(tag, name, numbers.data(), &n);
    if (st != 0)
        return st;
    *count = 0;
    if (n == 0)
        return 0;
    u32 found = 0;
    for (u32 i = 0; i < n && found < IMA_MAX_INSTANCES; i++) {
        char label[64];
        snprintf(label, sizeof label, "%s%u", name, (unsigned)numbers[i]);
        u32 t = 0;
        st = ORSA_get_node_tag(tag, label, &t, HM_KIND_GROUP);
        if (st == 0)
            tags[found++] = t;
    }
    *count = found;
    return st;
}

u32 Orsa_Get_TargetPortal_Tags(const u32 *targets, u32 *tags, u32 count, u32 *total)
{
    if (count == 0) {
        *total = 0;
        return 0;
    }
    u32 all = 0;
    std::vector<u32> one(IMA_MAX_INSTANCES);
    for (u32 i = 0; i < count; i++) {
        u32 n = 0;
        u32 st = Orsa_Get_Child_Tags(targets[i], "TargetPortal", one.data(), &n);
        if (st != 0)
            return st;
        for (u32 k = 0; k < n && all < IMA_MAX_INSTANCES; k++)
            tags[all++] = one[k];
    }
    *total = all;
    return 0;
}

u32 ima_run_action(u32 group_tag, const char *action, HmValueSlot *params)
{
    u32 act = 0;
    u32 st = ORSA_get_node_tag(group_tag, action, &act, HM_KIND_ACTION);
    if (st != 0)
        return st;
    return ORSA_do_action(group_tag, act, params, nullptr);
}

u32 IMA_copy_ipv6_addr(char *out, const IMA_IP_ADDRESS *address)
{
    const u8 *b = address->ipAddress;
    snprintf(out, IMA_TEXT_SIZE, "%02x%02x:%02x%02x:%02x%02x:%02x%02x:%02x%02x:%02x%02x:%02x%02x:%02x%02x", b[0], b[1],
             b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return 0;
}

u32 Covert_Hex_To_Bin(u8 *out, const char *hex, u32 length, i32 room)
{
    if (out == nullptr || hex == nullptr)
        return IMA_ERROR_UNKNOWN_ERROR;
    if (room < 1 || length < 2)
        return 0;
    u32 n = length / 2 < (u32)room ? length / 2 : (u32)room;
    for (u32 i = 0; i < n; i++) {
        char pair[3] = {hex[2 * i], hex[2 * i + 1], 0};
        out[i] = isxdigit((unsigned char)pair[0]) ? (u8)strtol(pair, nullptr, 16) : 0;
    }
    return 0;
}

IMA_STATUS ima_hand_out_list(u32 type, const u32 *tags, u32 count, IMA_OID_LIST **list, IMA_STATUS fail)
{
    size_t bytes = 4 + 16 * (size_t)count;
    IMA_OID_LIST *block = (IMA_OID_LIST *)calloc(1, bytes);
    if (block == nullptr)
        return fail;
    for (u32 i = 0; i < count; i++)
        block->oids[i] = ima_make_oid(type, tags[i]);
    block->oidCount = count;
    *list = block;
    return IMA_STATUS_SUCCESS;
}

/* ---- plugin-level entry points ---- */

IMA_STATUS IMA_GetPluginProperties(IMA_OID pluginId, IMA_PLUGIN_PROPERTIES *props)
{
    (void)pluginId;
    return props == nullptr ? IMA_ERROR_INVALID_PARAMETER : IMA_ERROR_NOT_SUPPORTED;
}

IMA_STATUS IMA_GetSharedNodeOid(IMA_OID *nodeId)
{
    ORSA_ENTRY_LOCK();
    if (nodeId == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    static const char *const path[] = {"Kalderstone0", "iSCSIPhysicalHBA0", "LogicalHBA0", "InitiatoriSCSIName"};
    u32 tag = 0;
    for (const char *name : path) {
        u32 st = ima_child(tag, name, HM_KIND_GROUP, &tag);
        if (st != 0)
            return ErrorCheck(st);
    }
    *nodeId = ima_make_oid(IMA_OBJECT_TYPE_NODE, tag);
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS IMA_VMW_CheckSupportedParameterLevel(uint32_t objectType, ...)
{
    if (objectType - 1u > 15u)
        return IMA_ERROR_INVALID_OBJECT_TYPE;
    switch (objectType) {
    case 3:
    case 5:
    case 7:
    case 8:
    case 9:
    case 11:
    case 12:
        return IMA_STATUS_SUCCESS;
    default:
        return IMA_ERROR_INCORRECT_OBJECT_TYPE;
    }
}

IMA_STATUS IMA_VMW_GetSupportedMutualAuthMethods(IMA_OID, uint32_t, uint32_t *, uint32_t *)
{
    return IMA_ERROR_NOT_SUPPORTED;
}

IMA_STATUS IMA_VMW_SetMutualAuthMethods(IMA_OID, uint32_t, const uint32_t *)
{
    return IMA_ERROR_NOT_SUPPORTED;
}

IMA_STATUS IMA_PersistHbaParameters(IMA_OID)
{
    return IMA_ERROR_NOT_SUPPORTED;
}

IMA_STATUS IMA_VMW_SetDebugLevel(uint32_t)
{
    return IMA_ERROR_NOT_SUPPORTED;
}
