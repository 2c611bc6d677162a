/*
 * orsa_api.h - the exported tree API of libdrelmo and the value validators.
 *
 * Usage (a client):
 *     ORSA_init();
 *     u32 tags[64], n;
 *     ORSA_get_child_tags(0, tags, &n, ORSA_FILTER_PROPERTIES);   // ROOT is tag 0
 *     char v[256];
 *     if (ORSA_get_property_val(0, tags[0], v, sizeof v) != 0) {
 *         u32 code; char text[600];
 *         ORSA_get_last_status(&code, text);
 *     }
 *     ORSA_exit();
 * Results, sizes and the last status: the header comment of drelmo.h. Calls
 * from several threads are run one at a time; each thread reads its own last
 * status. The validators are shared with the handlers of every subsystem:
 * 0 valid, 6 malformed, 7 number out of range, 8 length out of range.
 */
#ifndef DRELMO_TREE_ORSA_API_H
#define DRELMO_TREE_ORSA_API_H

#include "tree/hm_types.h"

/* The exported calls, their records and codes: drelmo.h (through hm_types.h). */

extern i32 orsa_client_count;

/* For the exported hooks that work on the tree of open clients: true while
 * ORSA_init has counted a client; else false, with the last status 1 "The
 * library is not open. Please call ORSA_init first." and a log line naming
 * entry. */
bool orsa_library_is_open(const char *entry);

/* ORSA_get_property_val for library code that walks the tree: the same
 * checks, statuses and handler call, but a stale tree is never rebuilt under
 * the walk (the next API entry rebuilds it). */
u32 orsa_read_property_val(u32 group_tag, u32 property_tag, char *value, i32 size);

/* Validators. orsa_validate_ip/orsa_validate_ipv6 rewrite an IPv6 text in
 * place to its full form: the buffer must hold 40 bytes. */
u32 orsa_validate(char *text, const char *list, u8 type, i32 min, i32 max);
u32 orsa_validate_val_string(const char *text, i32 min, i32 max);
u32 orsa_validate_val_integer(const char *text, i32 min, i32 max);
u32 orsa_validate_ip(char *text);
u32 orsa_validate_ipv6(char *text);
u32 orsa_validate_subnetmask(const char *text);
u32 orsa_validate_list(const char *text, const char *list);

#endif
