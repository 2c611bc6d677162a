/*
 * hm_status.h - the library's status vocabulary and its last status.
 *
 * Usage: a failing function records why with
 *     orsa_set_last_status(ORSA_STATUS_NO_MEMORY, orsa_status_text(ORSA_STATUS_NO_MEMORY));
 * or, for its own wording of a code, orsa_set_last_status(code, "text").
 * orsa_set_status(code) is the short form with the code's standard text.
 * Clients read the pending status with ORSA_get_last_status (tree/orsa_api.h).
 * Every code's standard text lives in one table (hm_status.cpp); a code may
 * carry other texts at other call sites.
 */
#ifndef DRELMO_TREE_HM_STATUS_H
#define DRELMO_TREE_HM_STATUS_H

#include "tree/hm_types.h"

/* The status codes themselves (ORSA_OK, ORSA_STATUS_...) are part of the
 * client interface: drelmo.h, through tree/hm_types.h. */

struct OrsaStatusEntry {
    u32 code;
    const char *text;
};

/* The standard text of a code; "" for a code without one. */
const char *orsa_status_text(u32 code);
/* The table itself, for walking (tests, documentation). */
const OrsaStatusEntry *orsa_status_table(u32 *count);

/* The last status: one record per thread, so that a thread reads the result
 * of its own most recent API call, whatever other threads did meanwhile. */
extern thread_local u32 orsa_last_status_code;
extern thread_local char orsa_last_status_string[ORSA_STATUS_TEXT_SIZE];

/* Copies text (cut to 599 characters; none = empty) and stores code. */
void orsa_set_last_status(u32 code, const char *text);
/* printf-style text, cut to 599 characters. */
void orsa_set_last_statusf(u32 code, const char *format, ...) __attribute__((format(printf, 2, 3)));
/* Sets code with its standard text. Returns code, so callers can "return orsa_set_status(x);". */
u32 orsa_set_status(u32 code);
/* Copies the text (600 bytes) and the code out; either may be none. */
void orsa_get_last_status(u32 *code, char *out);
/* Code 0, empty text: what every API call starts with. */
void orsa_reset_last_status(void);

#endif
