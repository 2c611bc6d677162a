// Declarative description of the group kinds of the management tree.
//
// Every dynamic group kind is one SchemaKind: its group name, description,
// capacity per parent, its own instance bitmap and a flat list of rows that
// lists the kind's children in creation order. A static subgroup opens with
// a Group row and closes with an End row; its own children sit between the
// two. One builder engine (schema_build_instance) walks these rows for every
// kind, so each initialize_ function is a one-line entry over its table.
//
// Handlers are named, not linked: a row carries the handler's name and the
// registry in handler_registry.cpp resolves it when the kind is first built.
// A name the registry does not know yet is bound to a stand-in that answers
// "not supported".
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tree/hm_engine.h"

namespace schema {

// Short names for the tables: value types and access flags of the tree.
enum : uint8_t {
    T_STRING = HM_TYPE_STRING,
    T_INTEGER = HM_TYPE_INTEGER,
    T_IPV4 = HM_TYPE_IPADDR,
    T_MASK = HM_TYPE_SUBNETMASK,
    T_LIST = HM_TYPE_LIST,
};
enum : uint32_t { RO = HM_PROP_READONLY, RW = HM_PROP_WRITABLE };

enum class Row : uint8_t { Property, Group, End, Action };

struct SchemaParamSpec {
    uint8_t required;
    const char *name;
    const char *description;
    uint8_t type;
    const char *allowed;
    int32_t min;
    int32_t max;
};

// One static action descriptor: the table row it is filled from and the shared
// HmAction object itself (a global named like the descriptor).
struct SchemaActionSpec {
    const char *descriptor_name;
    const char *handler;
    HmAction *descriptor;
    uint32_t param_count;
    SchemaParamSpec params[6];
};

struct SchemaRow {
    Row row;
    const char *name;
    const char *description;
    uint32_t access;
    uint8_t type;
    int32_t min;
    int32_t max;
    const char *def;
    const char *allowed;
    const char *handler;           // property handler or group refresh handler
    SchemaActionSpec *action;      // Action rows only
    // resolved once by the engine
    HmPropertyHandler property_handler;
    HmGroupRefreshHandler group_handler;
};

struct SchemaKind {
    const char *builder;           // "initialize_Kalderstone"
    const char *group_name;        // "Kalderstone"
    const char *description;
    uint16_t capacity;
    uint8_t *bitmap;               // static, zero at load
    uint32_t bitmap_bytes;
    const char *refresh_handler;   // of the instance group, or nullptr
    SchemaRow *rows;
    uint32_t row_count;
    // filled by the engine on first use
    bool bound;
    HmGroupRefreshHandler refresh;
};

// Builds one instance of kind below parent, following the builder contract:
// lowest free number of the parent's slice, children in row order, keys,
// persistency priority, new-tag reporting. Returns the group or nullptr; on
// failure the kind's bitmap is as it was.
HmNode *schema_build_instance(SchemaKind *kind, HmNode *parent, HmNode *key_a, HmNode *key_b,
                              HmValueSlot *keys);

// Resolves every handler name of the kind (idempotent). The engine calls it
// on the first build; exposed so tests and the report can list unbound names.
void schema_bind_kind(SchemaKind *kind);

// Handler lookup by name; nullptr when the handler does not exist yet.
HmPropertyHandler schema_find_property_handler(const char *name);
HmActionHandler schema_find_action_handler(const char *name);
HmGroupRefreshHandler schema_find_group_handler(const char *name);

// Stand-ins bound where a named handler does not exist yet: each answers 259
// "not supported" (the property stand-in leaves the default text in a read's
// buffer).
uint32_t schema_unbound_property(HmNode *property, char *value, uint32_t mode);
uint32_t schema_unbound_action(HmNode *group, HmNode *action, HmValueSlot *params);
uint32_t schema_unbound_group(HmNode *group);

// Every handler name of the built kinds that is bound to a stand-in, each
// once, in table order (binds the kinds first).
std::vector<const char *> schema_standin_names(void);

// Every kind this library builds, for listings and tests.
extern SchemaKind *const schema_all_kinds[];
extern const size_t schema_all_kind_count;

// Instance bitmap size: one slice of ceil(capacity/8) bytes per possible
// parent instance.
constexpr uint32_t slice_bytes(uint32_t capacity) { return (capacity + 7) / 8; }

}  // namespace schema

// The kinds, defined in their table files.
extern schema::SchemaKind kind_Kalderstone, kind_iSCSIPhysicalHBA, kind_NICPhysicalHBA, kind_NICLogicalHBA,
    kind_EventLogEntry, kind_ExtFATModule, kind_ExtFATMode;
extern schema::SchemaKind kind_LogicalHBA, kind_SendTargetPortal, kind_Target, kind_LUN, kind_Session, kind_Connection,
    kind_TargetPortal, kind_iSNSServer, kind_ARPTableEntry, kind_RouteTableEntry;
extern schema::SchemaKind kind_PortDiscoveryAndConfiguration, kind_Channel, kind_OperationalTLVSettings_ApplicationTLV,
    kind_PeerTLVSetting_ApplicationTLV, kind_AdministratorTLVSetting_ApplicationTLV, kind_OperationalPGSettings_PG,
    kind_PeerPGSetting_PG, kind_AdministratorPGSetting_PG;
extern schema::SchemaKind kind_ConfiguredProfile_Port, kind_ConfiguredProfile_Port_Function, kind_ActiveProfile_Port,
    kind_ActiveProfile_Port_Function, kind_Profile, kind_Profile_Protocol;
extern schema::SchemaKind kind_NCSIStaticConfiguration, kind_NCSIDynamicConfiguration, kind_LinkConfig;

// Row helpers for the tables.
#define SCHEMA_PROP(name, acc, type, mn, mx, def, allowed, handler, desc) \
    { schema::Row::Property, name, desc, schema::acc, schema::type, mn, mx, def, allowed, handler, nullptr, nullptr, nullptr }
#define SCHEMA_GROUP(name, desc, refresh) \
    { schema::Row::Group, name, desc, 0, 0, 0, 0, nullptr, nullptr, refresh, nullptr, nullptr, nullptr }
#define SCHEMA_END() \
    { schema::Row::End, nullptr, nullptr, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr }
#define SCHEMA_ACTION(name, desc, spec) \
    { schema::Row::Action, name, desc, 0, 0, 0, 0, nullptr, nullptr, nullptr, &spec, nullptr, nullptr }

// Defines the shared descriptor object <id>_action and its spec <id>_spec.
// (Two levels so that an id built by another macro is expanded first.)
#define SCHEMA_DESCRIPTOR(id, handler, ...) SCHEMA_DESCRIPTOR_(id, handler, __VA_ARGS__)
#define SCHEMA_DESCRIPTOR_(id, handler, count, ...) \
    HmAction id##_action;                               \
    static schema::SchemaActionSpec id##_spec = { #id "_action", handler, &id##_action, count, { __VA_ARGS__ } }
// The same for a descriptor that the library publishes to its clients.
#define SCHEMA_PUBLISHED_DESCRIPTOR(id, handler, ...) SCHEMA_PUBLISHED_DESCRIPTOR_(id, handler, __VA_ARGS__)
#define SCHEMA_PUBLISHED_DESCRIPTOR_(id, handler, count, ...)   \
    __attribute__((visibility("default"))) HmAction id##_action; \
    static schema::SchemaActionSpec id##_spec = { #id "_action", handler, &id##_action, count, { __VA_ARGS__ } }
#define SCHEMA_PARAM(req, name, type, mn, mx, allowed, desc) \
    { req, name, desc, schema::type, allowed, mn, mx }

#define SCHEMA_KIND(var, builder, group, desc, capacity, slices, refresh, rows)                 \
    static uint8_t var##_bitmap[(slices) * schema::slice_bytes(capacity)];                    \
    schema::SchemaKind var = { builder, group, desc, capacity, var##_bitmap, sizeof(var##_bitmap), \
                               refresh, rows, sizeof(rows) / sizeof(rows[0]), false, nullptr }
