/*
 * cfg_profile_props.h - the properties and actions of a Veskarn adapter's
 * profile management: the maximum PCI function number (ARI settings), the
 * profile and the link configuration the adapter takes at its next reset, and
 * the return to its factory profile or link configuration. Every action that
 * changes the adapter rebuilds the ConfiguredProfile groups, so that the tree
 * shows what the adapter will run after its reset; none resets it.
 *
 * The handlers are bound by name through the schema's registry.
 */
#ifndef DRELMO_CONFIG_CFG_PROFILE_PROPS_H
#define DRELMO_CONFIG_CFG_PROFILE_PROPS_H

#include "tree/hm_types.h"

/* Status codes of this area. */
#define ORSA_STATUS_PROFILE_INVALID_VALUE 6
#define ORSA_STATUS_PROFILE_CONFIGURED 280
#define ORSA_STATUS_SET_ACTIVE_PROFILE_FAILED 281
#define ORSA_STATUS_FACTORY_PROFILE_UNSUPPORTED 301
#define ORSA_STATUS_ARI_FAILED 314
#define ORSA_STATUS_ARI_NOT_SETTABLE 316
#define ORSA_STATUS_LINK_CONFIG_UNSUPPORTED 333
#define ORSA_STATUS_LINK_CONFIG_FAILED 334

/* Property handlers (get and set alike). */
u32 handle_IPLMaxFunctionNumber(HmNode *property, char *value, u32 mode);
u32 handle_SettableMaxFunctionNumber(HmNode *property, char *value, u32 mode);
u32 handle_MaxFunctionNumber(HmNode *property, char *value, u32 mode);
u32 handle_ConfiguredLinkConfigID(HmNode *property, char *value, u32 mode);

/* Action handlers. */
u32 do_SetMaxFunctionNumber(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_SetProfileId(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_SetFactoryDefaults(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_SetLinkConfigID(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_SetLinkConfigFactoryDefaults(HmNode *group, HmNode *action, HmValueSlot *params);

namespace profile_props {

/* A decimal parameter text of lo..hi, nothing after it. */
bool parse_decimal(const char *text, u32 lo, u32 hi, u32 *out);

/* The configuration erase a factory reset ends with: u32 3, u32 27, zeros. */
void factory_erase_payload(u8 payload[20]);

}  // namespace profile_props

#endif
