#include "tree/hm_lookup.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "backend/orsa_gateway.h"
#include "backend/orsa_propertyutil.h"
#include "tree/hm_engine.h"

namespace {

HmGroup *group_of(HmNode *node)
{
    if (node == nullptr || node->kind != HM_KIND_GROUP)
        return nullptr;
    return static_cast<HmGroup *>(node->body);
}

bool is_root(HmNode *node)
{
    return node->name != nullptr && strcasecmp(node->name, "ROOT") == 0;
}

bool named(HmNode *node, const char *name)
{
    return node->name != nullptr && strcmp(node->name, name) == 0;
}

// Walks up from node (itself included) to the first group named name;
// nullptr when ROOT (or a broken parent link) comes first.
HmNode *enclosing(HmNode *node, const char *name)
{
    while (node != nullptr && !is_root(node)) {
        if (node->kind == HM_KIND_GROUP && named(node, name))
            return node;
        if (node->parent == node)
            break;
        node = node->parent;
    }
    return nullptr;
}

bool property_equals(HmNode *group, const char *property, const char *value, bool *read_ok)
{
    char text[HM_VALUE_SIZE] = {};
    *read_ok = internal_get_property(group, property, text) == 0;
    return *read_ok && value != nullptr && strcasecmp(text, value) == 0;
}

}  // namespace

int32_t hm_instance_number(HmNode *node)
{
    HmInstanceInfo *info = hm_instance_info(node);
    return info != nullptr ? info->number : -1;
}

HmNode *hm_next_instance(HmNode *node)
{
    HmInstanceInfo *info = hm_instance_info(node);
    if (info == nullptr)
        return nullptr;
    HmNode *next = info->next_instance;
    return hm_instance_number(next) < 0 ? nullptr : next;
}

int32_t get_port_number(HmNode *node)
{
    while (node != nullptr && !is_root(node)) {
        HmGroup *g = group_of(node);
        if (g != nullptr && g->nhandle != nullptr) {
            uint32_t word;
            memcpy(&word, g->nhandle, sizeof word);
            if (word != 0)
                return static_cast<int32_t>(word);
        }
        if (node->parent == node)
            break;
        node = node->parent;
    }
    return -1;
}

uint32_t get_domain_id(HmNode *node)
{
    int32_t n = hm_instance_number(enclosing(node, "LogicalHBA"));
    return n < 0 ? 0 : static_cast<uint32_t>(n);
}

uint32_t get_ks_instance(HmNode *node)
{
    int32_t n = hm_instance_number(enclosing(node, "Kalderstone"));
    return n < 0 ? 0 : static_cast<uint32_t>(n);
}

HmNode *get_valid_phba(HmNode *controller, const char *port)
{
    if (controller == nullptr || port == nullptr)
        return nullptr;
    static const char *const kKinds[] = {"iSCSIPhysicalHBA", "NICPhysicalHBA"};
    for (const char *kind : kKinds) {
        for (HmNode *p = get_first_instance(controller, kind); p != nullptr; p = hm_next_instance(p)) {
            bool ok;
            if (property_equals(p, "PortNumber", port, &ok))
                return p;
            if (!ok)
                return nullptr;
        }
    }
    return nullptr;
}

HmNode *get_matchnode_by_propvalue(HmNode *parent, const char *kind, const char *property,
                                   const char *value)
{
    if (parent == nullptr || kind == nullptr || property == nullptr)
        return nullptr;
    for (HmNode *p = get_first_instance(parent, kind); p != nullptr; p = hm_next_instance(p)) {
        bool ok;
        if (property_equals(p, property, value, &ok))
            return p;
        if (!ok)
            return nullptr;
    }
    return nullptr;
}

HmNode *find_target(HmNode *node, const char *name)
{
    return get_matchnode_by_propvalue(node, "Target", "TargetISCSIName", name);
}

HmNode *find_session(HmNode *target, const char *ip, const char *port)
{
    if (target == nullptr)
        return nullptr;
    for (HmNode *s = get_first_instance(target, "Session"); s != nullptr; s = hm_next_instance(s)) {
        HmNode *c = get_first_instance(s, "Connection");
        if (c == nullptr)
            return nullptr;
        for (; c != nullptr; c = hm_next_instance(c)) {
            bool ok;
            bool ip_match = property_equals(c, "DestinationIPAddress", ip, &ok);
            if (!ok)
                return nullptr;
            bool port_match = property_equals(c, "DestinationPortNumber", port, &ok);
            if (!ok)
                return nullptr;
            if (ip_match && port_match)
                return s;
        }
    }
    return nullptr;
}

uint32_t check_for_stp_in_ORSA(HmNode *node, const char *ip, const char *port)
{
    if (node == nullptr)
        return 0;
    for (HmNode *p = get_first_instance(node, "SendTargetPortal"); p != nullptr; p = hm_next_instance(p)) {
        bool ok;
        bool ip_match = property_equals(p, "IPAddress", ip, &ok);
        if (!ok)
            return 0;
        bool port_match = property_equals(p, "PortNumber", port, &ok);
        if (!ok)
            return 0;
        if (ip_match && port_match)
            return 1;
    }
    return 0;
}

HmNode *get_selected_group_node(HmNode *node, const char *prefix, const char *suffix)
{
    if (node == nullptr || prefix == nullptr || suffix == nullptr)
        return nullptr;
    // The prefix is a plain text, never a format: it may come from a client.
    char label[HM_NAME_SIZE * 2];
    int n = snprintf(label, sizeof label, "%s%s", prefix, suffix);
    if (n < 0 || static_cast<size_t>(n) >= sizeof label)
        return nullptr;
    return internal_get_node(node, label, HM_KIND_GROUP);
}

uint32_t get_initiator_name(HmNode *node, char out[256], uint32_t n)
{
    if (node == nullptr || out == nullptr || node->parent == nullptr)
        return 1;
    char label[HM_NAME_SIZE];
    snprintf(label, sizeof label, "LogicalHBA%u", n);
    HmNode *lhba = internal_get_node(node->parent, label, HM_KIND_GROUP);
    if (lhba == nullptr)
        return 1;
    return internal_get_property(lhba, "InitiatoriSCSIName", out) == 0 ? 0 : 1;
}

namespace {

// The device a node's port number belongs to. The number comes from the
// nearest physical HBA (or the port group that shares its record), so the
// device must come from there too: a controller with iSCSI functions also
// has NIC ones, and pairing a NIC function number with the iSCSI device
// sends the command to another adapter's function.
uint32_t port_protocol(HmNode *node)
{
    if (enclosing(node, "iSCSIPhysicalHBA") != nullptr)
        return 1;
    if (enclosing(node, "NICPhysicalHBA") != nullptr)
        return 2;
    int32_t controller = static_cast<int32_t>(get_ks_instance(node));
    HmNode *port = enclosing(node, "PortDiscoveryAndConfiguration");
    if (port != nullptr) {
        uint32_t bits = get_port_bitmap(controller, hm_instance_number(port));
        if (bits == 1 || bits == 2)
            return bits;
    }
    return static_cast<uint32_t>(get_the_protocol(controller));
}

}  // namespace

uint32_t orsa_get_port_address(HmNode *node, PortAddress *out)
{
    if (node == nullptr || out == nullptr)
        return 1;
    out->port_number = get_port_number(node);
    out->domain_id = get_domain_id(node);
    out->phba_port = get_phba_port_number(node);
    out->protocol = port_protocol(node);
    // -1 would index the function tables from their end.
    return out->port_number < 1 ? 1 : 0;
}

namespace {

bool valid_port(int32_t controller, int32_t port)
{
    return controller >= 0 && controller < static_cast<int32_t>(ORSA_MAX_CONTROLLERS) && port >= 0 && port < 4;
}

}  // namespace

uint32_t get_port_bitmap(int32_t controller, int32_t port)
{
    if (!valid_port(controller, port))
        return 4;
    uint8_t bits = orsa_glob.port_bitmap[controller * 4 + port];
    if (bits & 0x1)
        return 1;
    if (bits & 0x2)
        return 2;
    return 4;
}

void set_protocol(int32_t controller, uint32_t protocol)
{
    if (controller < 0 || controller >= static_cast<int32_t>(ORSA_MAX_CONTROLLERS) || protocol < 1 || protocol > 3)
        return;
    orsa_glob.controller_protocol[controller] |= static_cast<uint8_t>(1u << (protocol - 1));
}

uint32_t set_port_bitmap(void)
{
    HmNode *root = hm_get_root(orsa_current_hierarchy);
    for (HmNode *ks = get_first_instance(root, "Kalderstone"); ks != nullptr; ks = hm_next_instance(ks)) {
        int32_t controller = hm_instance_number(ks);
        if (controller < 0 || controller >= static_cast<int32_t>(ORSA_MAX_CONTROLLERS))
            continue;
        for (int32_t port = 0; port < 4; port++) {
            char text[16];
            snprintf(text, sizeof text, "%d", port);
            HmNode *phba = get_valid_phba(ks, text);
            if (phba == nullptr)
                continue;
            uint8_t bit = named(phba, "iSCSIPhysicalHBA") ? 0x1 : named(phba, "NICPhysicalHBA") ? 0x2 : 0x4;
            orsa_glob.port_bitmap[controller * 4 + port] |= bit;
        }
    }
    return 0;
}

uint32_t update_trace_level_for_mode(HmNode *node, const char *mode, uint8_t *records,
                                     uint32_t records_size, uint32_t level)
{
    if (mode == nullptr || (strcasecmp(mode, "UART") != 0 && strcasecmp(mode, "RAM") != 0 &&
                            strcasecmp(mode, "ALL") != 0))
        return 1;
    bool all = strcasecmp(mode, "ALL") == 0;
    HmNode *module = get_first_instance(node, "ExtFATModule");
    if (module == nullptr && node != nullptr) {
        // Called with the controller: the modules live in its ExtFATData.
        HmNode *data = internal_get_node(node, "ExtFATData", HM_KIND_GROUP);
        if (data != nullptr)
            module = get_first_instance(data, "ExtFATModule");
    }
    if (records == nullptr)
        return module == nullptr ? 0 : 1;
    uint32_t offset = 0;
    for (; module != nullptr; module = hm_next_instance(module)) {
        if (offset > records_size || records_size - offset < 40)
            break;  // no record left in the image for this module
        uint32_t count;
        memcpy(&count, records + offset + 36, sizeof count);
        uint32_t entry_index = 0;
        for (HmNode *m = get_first_instance(module, "ExtFATMode"); m != nullptr;
             m = hm_next_instance(m), entry_index++) {
            char text[HM_VALUE_SIZE] = {};
            if (internal_get_property(m, "Mode", text) != 0)
                return 1;
            // Only the record's own entries: a mode group without an entry
            // must not write into the next record.
            uint64_t entry = static_cast<uint64_t>(offset) + 40 + 16ull * entry_index;
            if (entry_index >= count || entry + 8 > records_size)
                continue;
            if (all || strcasecmp(text, mode) == 0)
                memcpy(records + entry + 4, &level, sizeof level);
        }
        uint64_t next = static_cast<uint64_t>(offset) + (count == 0 ? 56 : 40 + 16ull * count);
        if (next > records_size)
            break;
        offset = static_cast<uint32_t>(next);
    }
    return 0;
}

namespace {

uint32_t update_digest(HmNode *node, uint8_t *digest, uint32_t choice, const char *property)
{
    if (node == nullptr || internal_get_node(node, "Authentication", HM_KIND_GROUP) == nullptr)
        return 1;
    if (choice != 1) {
        *digest = 0;
        return 0;
    }
    char text[HM_VALUE_SIZE] = {};
    uint32_t rc = internal_get_property(node, property, text);
    if (rc == 0)
        *digest = strcasecmp(text, "CRC32C") == 0 ? 1 : 0;
    return rc;
}

login_option_block g_login_options;

}  // namespace

uint32_t update_header_digest_details(HmNode *node, login_option_block *block, uint32_t choice)
{
    if (block == nullptr)
        return 1;
    return update_digest(node, &block->header_digest, choice, "HeaderDigest");
}

uint32_t update_data_digest_details(HmNode *node, login_option_block *block, uint32_t choice)
{
    if (block == nullptr)
        return 1;
    return update_digest(node, &block->data_digest, choice, "DataDigest");
}

login_option_block *get_default_login_options(void)
{
    login_option_block &b = g_login_options;
    b.flags = static_cast<uint8_t>(b.flags | 0x0F);
    b.error_recovery_level = 0;
    b.first_burst_length = 8192;
    b.max_burst_length = 262144;
    b.max_connections = 1;
    b.max_outstanding_r2t = 1;
    b.default_time2wait = 2;
    b.default_time2retain = 20;
    b.connection_options = 0;
    b.header_digest = 0;
    b.data_digest = 0;
    b.max_recv_data_segment_length = 65536;
    b.further_segment_length = 65536;
    b.tcp_mss = 0;
    b.tcp_window_size = 16000;
    b.authentication = 0;
    b.mutual_chap = 0;
    memset(b.initiator_chap_name, 0, sizeof b.initiator_chap_name);
    memset(b.initiator_secret, 0, sizeof b.initiator_secret);
    b.initiator_secret[0] = ' ';
    memset(b.target_chap_name, 0, sizeof b.target_chap_name);
    memset(b.target_secret, 0, sizeof b.target_secret);
    b.target_secret[0] = ' ';
    b.initiator_chap_name_length = 0;
    b.initiator_secret_length = 0;
    b.target_chap_name_length = 0;
    b.target_secret_length = 0;
    return &b;
}
