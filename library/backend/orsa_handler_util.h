/*
 * orsa_handler_util.h - small helpers the backend's fillers and property
 * handlers share: reading little-endian fields of an adapter reply, and
 * storing a property's new value and answering it to the caller.
 */
#ifndef DRELMO_BACKEND_ORSA_HANDLER_UTIL_H
#define DRELMO_BACKEND_ORSA_HANDLER_UTIL_H

#include "backend/orsa_identity.h"
#include "backend/orsa_propertyutil.h"
#include "tree/hm_engine.h"
#include "tree/hm_status.h"
#include "tree/hm_lookup.h"
#include "tree/hm_types.h"

/* Little-endian fields of an adapter reply, read byte by byte so that no
 * alignment is assumed. */
inline u16 orsa_rd16(const u8 *p)
{
    return (u16)(p[0] | (p[1] << 8));
}

inline u32 orsa_rd32(const u8 *p)
{
    return (u32)p[0] | ((u32)p[1] << 8) | ((u32)p[2] << 16) | ((u32)p[3] << 24);
}

/* Copies the property's stored value to value (when both are there) and
 * returns rc. */
inline u32 orsa_answer(HmNode *property, char *value, u32 rc)
{
    if (value != nullptr && property != nullptr && property->body != nullptr)
        orsa_strlcpy(value, HM_PROPERTY(property)->value, HM_VALUE_SIZE);
    return rc;
}

/* Answers "N/A" without storing it (when there is a value to answer). */
inline void orsa_answer_na(char *value)
{
    if (value != nullptr)
        orsa_strlcpy(value, "N/A", HM_VALUE_SIZE);
}

/* Sets code with its text as the last status and fails the handler: the
 * caller learns the reason from the last status, the result is 1. */
inline u32 orsa_fail_with(u32 code)
{
    orsa_set_status(code);
    return 1;
}

/* A handler refused inside a virtual function: answers "N/A", sets
 * ORSA_STATUS_VF_REFUSED as the last status and fails. */
inline u32 orsa_refuse_in_vf(char *value)
{
    orsa_answer_na(value);
    return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
}

/* Stores text as the property's value and answers it; 1 when the property
 * has no group to store it in or the store fails. */
inline u32 orsa_store_and_answer(HmNode *property, char *value, const char *text)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    u32 rc = set_prop_val(property->parent, property->name, "%s", text);
    return orsa_answer(property, value, rc);
}

/* Where a node's commands go: its function (instance and device), the
 * domain and the physical-HBA port of the request. */
struct OrsaWhere {
    OrsaPort at{0, ORSA_PROTO_NONE};
    u8 domain = 0;
    u8 phba_port = 0;
};

inline OrsaWhere orsa_where_of(HmNode *node)
{
    OrsaWhere w;
    w.at = orsa_port_of(node);
    w.domain = (u8)get_domain_id(node);
    w.phba_port = (u8)get_phba_port_number(node);
    return w;
}

/* Where a controller's own commands go: through its first physical HBA
 * (orsa_first_phba); false when it has none, or none with a function. */
inline bool orsa_controller_where(HmNode *controller, OrsaWhere *w)
{
    HmNode *phba = controller != nullptr ? orsa_first_phba(controller) : nullptr;
    if (phba == nullptr)
        return false;
    *w = orsa_where_of(phba);
    return w->at.instance != 0;
}

#endif
