/*
 * orsa_propertyutil.h - property utilities every handler leans on, the
 * log-level file and a few exported text and buffer helpers.
 *
 * Usage:
 *     rc |= set_prop_val(group, "PortNumber", "%d", port);   // 1 when missing
 *     p->handler = handle_internal_property;                 // plain cached value
 *     purge_nodes_within(profile_mgmt, "Profile");           // before enumerating again
 *     i32 port = get_phba_port_number(node);
 * The level file /scratch/ferrosul/orsa/liborsa.conf is read by ORSA_init for
 * every client (ORSA_update_loglevel) and rewritten when the level changes.
 */
#ifndef DRELMO_BACKEND_ORSA_PROPERTYUTIL_H
#define DRELMO_BACKEND_ORSA_PROPERTYUTIL_H

#include "tree/hm_types.h"

#define ORSA_CONF_FILE "/scratch/ferrosul/orsa/liborsa.conf"
#define ORSA_CONF_HEADER                                                                         \
    "#ORSALogLevel: Control the number of messages logged to the orsa2d.log file.\n"             \
    "#Possible values are 0 - Disabled, 1 - FATAL, 2 - CRITICAL, 3 - ERROR, 4 - WARNING, 5 - " \
    "INFORMATION, 6 - DEBUG.\n"                                                                  \
    "ORSALogLevel "
#define ORSA_CONF_KEY "ORSALogLevel "

u32 set_prop_val(HmNode *group, const char *name, const char *format, ...) __attribute__((format(printf, 3, 4)));
u32 handle_internal_property(HmNode *property, char *value, u32 mode);
u32 purge_nodes_within(HmNode *parent, const char *kind);
i32 get_phba_port_number(HmNode *node);

/* Releases the instance-number record (HmGroup.nhandle) of a group. The
 * start-up code that makes such records may replace how they are freed. */
void orsa_release_node_handle(HmNode *group);

u32 ORSA_set_debug_level(void);
u32 ORSA_get_debug_level(void);
u32 ORSA_update_loglevel(void);

u32 orsa_getip(char *text, u32 octets[4]);

/* Exported (drelmo.h): swap16_buffer, word_count, get_field, get_nic_count. */

/* ROOT's ORSADebugLevel: get answers the level in force, set makes it the level. */
u32 handle_ORSADebugLevel(HmNode *property, char *value, u32 mode);

#endif
