/*
 * cfg_profile_tree.h - the adapter's profiles and link configurations as
 * groups below its controller: the offered profiles with their protocols,
 * the ports and functions of the active and of the configured profile (the
 * latter also staged in config_prof.txt), and the link configurations.
 * Every function returns 0 or 1 unless said otherwise; groups made before a
 * failure stay.
 */
#ifndef DRELMO_CONFIG_CFG_PROFILE_TREE_H
#define DRELMO_CONFIG_CFG_PROFILE_TREE_H

#include <cstdio>

#include "tree/hm_types.h"

/* Start-up fillers, per controller (KS2, KS3 and Pivard: 1, nothing made). */
u32 ORSA_list_available_profiles(HmNode *controller);
u32 ORSA_get_active_profiles(HmNode *controller);
u32 ORSA_get_configured_profiles(HmNode *controller);
/* The two link configuration ids and, unless ids_only is 1, the LinkConfig
 * groups. KS2, KS3 and Pivard: ActiveLinkConfigID "N/A", 1. */
u32 ORSA_get_link_reconfig_details(HmNode *controller, u32 ids_only);

/* The Protocol groups of one Profile group. */
u32 ORSA_get_profile_capacities(u32 profile_id, HmNode *profile, HmNode *controller);
/* The Port groups (and their Function groups) of the ActiveProfile or
 * ConfiguredProfile group; the configured one also rewrites this adapter's
 * lines of config_prof.txt. */
u32 ORSA_get_port_profile(HmNode *controller, HmNode *group, u32 profile_id, u32 config_type, u32 max_pf_id);
/* The Function groups of one port of the active profile. */
u32 ORSA_enumerate_profile_port_function(HmNode *controller, HmNode *port, u32 link_number, u32 config_type,
                                         u32 profile_id, u32 max_pf_id, u32 max_pf_count);
/* The Function groups of one port of the configured profile, and one line per
 * function (prefix "serial,bus,profile id,MCType") appended to the locked
 * staging file. */
u32 ORSA_enum_cfg_profile_port_function(HmNode *controller, HmNode *port, u32 link_number, u32 config_type,
                                        u32 profile_id, u32 max_pf_count, const char *prefix, FILE *stage);
/* The maximum PF count of the configured profile's port records into
 * *max_pf_count (the last port record's stands) and, below ActiveProfile, the
 * per-protocol maxima on the port group. 1 when an argument is none or the
 * profile cannot be read. */
u32 ORSA_update_max_pf_count(HmNode *controller, HmNode *group, HmNode *port, u32 *max_pf_count);

#endif
