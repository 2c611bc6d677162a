/*
 * hm_log.h - the library's log file and its counted allocator.
 *
 * Usage:
 *     pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: command failed %d\n", __func__, rc);
 *     char *buf = (char *)orsa_dmalloc(n);  ...  orsa_dfree(buf);
 * A line is written when its category is in orsa_debug_subsystem, its level
 * is at most orsa_debug_level (0 = off) and the log file is open. Each line is
 * "<ctime>,<pid>,   <TAG:>message"; the message carries its own newline.
 * Every library allocation goes through orsa_dmalloc/orsa_dfree so that
 * orsa_counter tells the number of live blocks.
 */
#ifndef DRELMO_TREE_HM_LOG_H
#define DRELMO_TREE_HM_LOG_H

#include <stdio.h>

#include "tree/hm_types.h"

/* Log categories (bits of orsa_debug_subsystem). */
#define ORSA_LOG_CAT_API 1u   /* the tree API */
#define ORSA_LOG_CAT_OTHER 2u /* everything else */

/* Log levels. */
enum {
    ORSA_LOG_OFF = 0,
    ORSA_LOG_FATAL = 1,
    ORSA_LOG_CRITICAL = 2,
    ORSA_LOG_ERROR = 3,
    ORSA_LOG_WARNING = 4,
    ORSA_LOG_INFO = 5,
    ORSA_LOG_DEBUG = 6,
};

#define ORSA_LOG_DIR "/scratch/ferrosul/orsa/logs/"
#define ORSA_LOG_FILE "/scratch/ferrosul/orsa/logs/orsa2d.log"

extern i32 orsa_debug_level;      /* 0 at load */
extern u32 orsa_debug_subsystem;  /* 3 at load */
extern FILE *orsa_log_fp;         /* none while closed */
extern i32 orsa_counter;          /* live allocations */

void pdebug(u32 category, i32 level, const char *format, ...) __attribute__((format(printf, 3, 4)));

/* Opens the log for append (close on exec) unless open; 0, or 1 when it cannot be opened. */
u32 orsa_log_open(void);
void orsa_log_close(void);

void *orsa_dmalloc(size_t size);
void orsa_dfree(void *pointer);
/* orsa_dmalloc'd zeroed block. */
void *orsa_dzalloc(size_t size);
/* orsa_dmalloc'd copy of a text; none for none or on failure. */
char *orsa_dstrdup(const char *text);

/* Fault injection for tests: when >= 0, the allocation after that many more
 * succeeds fails (0 = the next one). -1 (the default) never fails. */
extern i32 orsa_dmalloc_fail_countdown;

#endif
