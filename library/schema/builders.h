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

// iSCSI initiator side (below iSCSIPhysicalHBA<n>)
HmNode *initialize_LogicalHBA(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_SendTargetPortal(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_Target(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_LUN(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_Session(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_Connection(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_TargetPortal(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_iSNSServer(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_ARPTableEntry(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_RouteTableEntry(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);

// Ports, their channels and DCBX entries (below the controller group)
HmNode *initialize_PortDiscoveryAndConfiguration(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_Channel(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_OperationalTLVSettings_ApplicationTLV(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_PeerTLVSetting_ApplicationTLV(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_AdministratorTLVSetting_ApplicationTLV(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_OperationalPGSettings_PG(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_PeerPGSetting_PG(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_AdministratorPGSetting_PG(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);

// Profiles, NC-SI and link configurations of a controller
HmNode *initialize_ConfiguredProfile_Port(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_ConfiguredProfile_Port_Function(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_ActiveProfile_Port(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_ActiveProfile_Port_Function(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_Profile(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_Profile_Protocol(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_NCSIStaticConfiguration(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_NCSIDynamicConfiguration(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);
HmNode *initialize_LinkConfig(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);

#endif
