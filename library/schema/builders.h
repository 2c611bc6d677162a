/*
 * builders.h - the group builders of the management schema.
 *
 * Usage: discovery and the handlers that add groups call one builder per
 * group kind; every builder takes (parent, key A, key B, keys) and returns
 * the new instance group or none:
 *     HmNode *ks = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
 *     HmNode *phba = initialize_NICPhysicalHBA(ks, nullptr, nullptr, nullptr);
 *     HmNode *vf = initialize_NICLogicalHBA(phba, nullptr, nullptr, nullptr);
 * The instance is named "<Kind><n>" with the lowest free n below its parent;
 * none comes back when the parent holds the kind's capacity already, when an
 * allocation fails or when the client action has reported 4097 new groups.
 * Handlers an instance needs are bound by name (schema/kind_table.h); those
 * that do not exist yet keep the stored value or answer "not supported".
 */
#ifndef DRELMO_SCHEMA_BUILDERS_H
#define DRELMO_SCHEMA_BUILDERS_H

#include "tree/hm_types.h"

HmNode *initialize_Kalderstone(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_iSCSIPhysicalHBA(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_NICPhysicalHBA(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_NICLogicalHBA(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_EventLogEntry(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_ExtFATModule(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_ExtFATMode(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);

#endif
