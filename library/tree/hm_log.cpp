/* The library's log file and its counted allocator. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "tree/hm_log.h"

i32 orsa_debug_level = 0;
u32 orsa_debug_subsystem = 3;
FILE *orsa_log_fp = nullptr;
i32 orsa_counter = 0;
i32 orsa_dmalloc_fail_countdown = -1;

static const char *const level_tags[] = {"", "FATAL:", "CRITICAL:", "ERROR:", "Warning:", "INFO:", ""};

void pdebug(u32 category, i32 level, const char *format, ...)
{
    if ((orsa_debug_subsystem & category) == 0 || level > orsa_debug_level || orsa_log_fp == nullptr)
        return;

    char when[64];
    time_t now = time(nullptr);
    if (ctime_r(&now, when) == nullptr)
        when[0] = '\0';
    when[strcspn(when, "\n")] = '\0';

    const char *tag = (level >= 1 && level <= 5) ? level_tags[level] : "";
    fprintf(orsa_log_fp, "%s,%d,   %s", when, (int)getpid(), tag);
    va_list ap;
    va_start(ap, format);
    vfprintf(orsa_log_fp, format, ap);
    va_end(ap);
    fflush(orsa_log_fp);
}

u32 orsa_log_open(void)
{
    if (orsa_log_fp != nullptr)
        return 0;
    orsa_log_fp = fopen(ORSA_LOG_FILE, "ae+");
    return orsa_log_fp == nullptr ? 1 : 0;
}

void orsa_log_close(void)
{
    if (orsa_log_fp != nullptr) {
        fclose(orsa_log_fp);
        orsa_log_fp = nullptr;
    }
}

/* The counter tells the blocks that are live: an allocation that failed
 * and a free of nothing change nothing. */
void *orsa_dmalloc(size_t size)
{
    if (orsa_dmalloc_fail_countdown >= 0 && orsa_dmalloc_fail_countdown-- == 0)
        return nullptr;
    void *p = malloc(size);
    if (p != nullptr)
        orsa_counter++;
    return p;
}

void orsa_dfree(void *pointer)
{
    if (pointer == nullptr)
        return;
    orsa_counter--;
    free(pointer);
}

void *orsa_dzalloc(size_t size)
{
    void *p = orsa_dmalloc(size);
    if (p != nullptr)
        memset(p, 0, size);
    return p;
}

char *orsa_dstrdup(const char *text)
{
    if (text == nullptr)
        return nullptr;
    size_t n = strlen(text) + 1;
    char *copy = (char *)orsa_dmalloc(n);
    if (copy != nullptr)
        memcpy(copy, text, n);
    return copy;
}
