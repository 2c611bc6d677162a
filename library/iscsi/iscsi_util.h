// Small helpers the target, session, LUN, region and boot code share.
#pragma once

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"
#include "tree/hm_status.h"

namespace iscsi {

#define ISCSI_LOG(level, ...) pdebug(ORSA_LOG_CAT_OTHER, level, __VA_ARGS__)

// Where a node's iSCSI commands go.
struct Where {
    uint32_t port = 0;
    uint8_t domain = 0;
    uint8_t phba = 0;
};

inline Where where_of(HmNode *node)
{
    Where w;
    int32_t p = get_port_number(node);
    w.port = p > 0 ? (uint32_t)p : 0;
    w.domain = (uint8_t)get_domain_id(node);
    int32_t ph = get_phba_port_number(node);
    w.phba = ph > 0 ? (uint8_t)ph : 0;
    return w;
}

inline OrsaPort at(uint32_t port)
{
    return orsa_iscsi_port(port);
}

// Reads a property through its handler; false when it fails.
inline bool read_prop(HmNode *group, const char *name, char text[HM_VALUE_SIZE])
{
    text[0] = '\0';
    return group != nullptr && internal_get_property(group, name, text) == 0;
}

// The cached text of a property; "" when missing.
inline const char *cached(HmNode *group, const char *name)
{
    HmNode *p = group != nullptr ? internal_get_node(group, name, HM_KIND_PROPERTY) : nullptr;
    return p != nullptr && p->body != nullptr ? HM_PROPERTY(p)->value : "";
}

inline bool given(const char *text)
{
    return text != nullptr && text[0] != '\0' && (uint8_t)text[0] != 0xFF;
}

// A session has ended: "Closed" or "Login Failed" (any case).
inline bool ended(const char *status)
{
    return strcasecmp(status, "Closed") == 0 || strcasecmp(status, "Login Failed") == 0;
}

inline void clear_params(HmValueSlot *params)
{
    if (params != nullptr)
        memset(params, 0, sizeof(HmValueSlot) * HM_MAX_PARAMS);
}

inline HmNode *group_of(HmNode *node, const char *kind)
{
    for (HmNode *n = node; n != nullptr; n = n->parent) {
        if (n->kind == HM_KIND_GROUP && n->name != nullptr && strcmp(n->name, kind) == 0)
            return n;
        if (n->parent == n)
            break;
    }
    return nullptr;
}

inline uint32_t count_instances(HmNode *parent, const char *kind)
{
    uint32_t n = 0;
    for (HmNode *g = parent != nullptr ? get_first_instance(parent, kind) : nullptr; g != nullptr;
         g = hm_next_instance(g))
        n++;
    return n;
}

// The controller group above node by its "Kalderstone%d" name and its ASIC
// generation; ORSA_ASIC_UNREADABLE when either is missing.
inline uint32_t asic_of(HmNode *node, HmNode **controller = nullptr)
{
    char label[HM_NAME_SIZE];
    snprintf(label, sizeof label, "Kalderstone%u", (unsigned)get_ks_instance(node));
    HmNode *ks = internal_get_node(hm_get_root(orsa_current_hierarchy), label, HM_KIND_GROUP);
    if (controller != nullptr)
        *controller = ks;
    if (ks == nullptr) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: Failed to get %s node\n", __func__, label);
        return ORSA_ASIC_UNREADABLE;
    }
    return get_ks_type(ks);
}

inline void put16(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

inline void put32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

inline uint32_t be32(const uint8_t *p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

} // namespace iscsi
