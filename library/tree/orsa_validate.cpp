/* Validation of property values and action parameters against their
 * declared type, bounds and allowed values. 0 valid, 6 malformed, 7 number
 * out of range, 8 length out of range. */
#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "tree/hm_engine.h"
#include "tree/orsa_api.h"

u32 orsa_validate_val_string(const char *text, i32 min, i32 max)
{
    if (text == nullptr)
        return ORSA_STATUS_INVALID_VALUE;
    long long len = (long long)strlen(text);
    if (len < min || len > max)
        return ORSA_STATUS_BAD_LENGTH;
    return 0;
}

u32 orsa_validate_val_integer(const char *text, i32 min, i32 max)
{
    if (text == nullptr || text[0] == '\0')
        return ORSA_STATUS_INVALID_VALUE;
    char *end = nullptr;
    errno = 0;
    long value = strtol(text, &end, 0);
    if (end == text || *end != '\0')
        return ORSA_STATUS_INVALID_VALUE;
    /* The library's integers are 32 bits wide whatever long is. */
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
        return ORSA_STATUS_OUT_OF_RANGE;
    if (value < min || value > max)
        return ORSA_STATUS_OUT_OF_RANGE;
    return 0;
}

static u32 validate_ipv4(const char *text)
{
    if (strlen(text) > 15)
        return ORSA_STATUS_INVALID_VALUE;
    long field[4];
    const char *p = text;
    for (int i = 0; i < 4; i++) {
        char *end = nullptr;
        field[i] = strtol(p, &end, 10); /* an empty field reads as 0 */
        if (field[i] < 0 || field[i] > 255)
            return ORSA_STATUS_INVALID_VALUE;
        if (i < 3) {
            if (*end != '.')
                return ORSA_STATUS_INVALID_VALUE;
            p = end + 1;
        } else if (*end != '\0') {
            return ORSA_STATUS_INVALID_VALUE;
        }
    }
    if (field[0] == 127 || field[0] == 255)
        return ORSA_STATUS_INVALID_VALUE;
    if (field[0] == 0 && field[1] == 0 && field[2] == 0 && field[3] == 0)
        return ORSA_STATUS_INVALID_VALUE;
    return 0;
}

u32 orsa_validate_ip(char *text)
{
    if (text == nullptr)
        return ORSA_STATUS_INVALID_VALUE;
    if (strlen(text) > 2 && strchr(text, ':') != nullptr)
        return orsa_validate_ipv6(text);
    return validate_ipv4(text);
}

u32 orsa_validate_ipv6(char *text)
{
    if (text == nullptr || text[0] == '\0')
        return ORSA_STATUS_INVALID_VALUE;
    for (char *c = text; *c != '\0'; c++) {
        *c = (char)toupper((unsigned char)*c);
        if (!isxdigit((unsigned char)*c) && *c != ':')
            return ORSA_STATUS_INVALID_VALUE;
    }
    /* A leading colon can only start a compressed run there, which is refused. */
    if (text[0] == ':')
        return ORSA_STATUS_INVALID_VALUE;

    char groups[8][5];
    int ngroups = 0;
    int compressed_at = -1; /* number of groups before the compressed run */
    const char *p = text;
    while (*p != '\0') {
        const char *q = p;
        while (isxdigit((unsigned char)*q))
            q++;
        size_t n = (size_t)(q - p);
        if (n == 0 || n > 4 || ngroups == 8)
            return ORSA_STATUS_INVALID_VALUE;
        memset(groups[ngroups], '0', 4);
        memcpy(groups[ngroups] + 4 - n, p, n);
        groups[ngroups][4] = '\0';
        ngroups++;
        p = q;
        if (*p == '\0')
            break;
        if (p[1] == ':') {
            if (compressed_at >= 0)
                return ORSA_STATUS_INVALID_VALUE;
            compressed_at = ngroups;
            p += 2;
            if (*p == ':')
                return ORSA_STATUS_INVALID_VALUE;
        } else {
            p++;
            if (*p == '\0')
                return ORSA_STATUS_INVALID_VALUE;
        }
    }
    if (compressed_at < 0 && ngroups != 8)
        return ORSA_STATUS_INVALID_VALUE;

    char full[40];
    size_t len = 0;
    int zeros = compressed_at >= 0 ? 8 - ngroups : 0;
    for (int g = 0, out = 0; out < 8; out++) {
        const char *digits = "0000";
        if (!(compressed_at >= 0 && g == compressed_at && zeros > 0))
            digits = groups[g++];
        else
            zeros--;
        if (out > 0)
            full[len++] = ':';
        memcpy(full + len, digits, 4);
        len += 4;
    }
    full[len] = '\0';
    memcpy(text, full, len + 1);
    return 0;
}

u32 orsa_validate_subnetmask(const char *text)
{
    if (text == nullptr || strlen(text) > 15)
        return ORSA_STATUS_INVALID_VALUE;
    u32 mask = 0;
    int parts = 0;
    const char *p = text;
    for (;;) {
        if (parts == 4)
            return ORSA_STATUS_INVALID_VALUE;
        /* a part's digits count; anything after them up to the dot is ignored */
        long v = strtol(p, nullptr, 10);
        if (v < 0 || v > 255)
            return ORSA_STATUS_INVALID_VALUE;
        mask = (mask << 8) | (u32)v;
        parts++;
        const char *dot = strchr(p, '.');
        if (dot == nullptr)
            break;
        p = dot + 1;
    }
    if (parts != 4 || mask == 0)
        return ORSA_STATUS_INVALID_VALUE;
    /* ones from the top, then only zeros: ~mask + 1 is a power of two (or 0 for /32) */
    u32 inverted = ~mask;
    if ((inverted & (inverted + 1)) != 0)
        return ORSA_STATUS_INVALID_VALUE;
    return 0;
}

u32 orsa_validate_list(const char *text, const char *list)
{
    if (text == nullptr || list == nullptr)
        return ORSA_STATUS_INVALID_VALUE;
    if (list[0] == '\0')
        return text[0] == '\0' ? 0 : ORSA_STATUS_INVALID_VALUE;
    return orsa_internal_list_search((char *)list, text, 1) != nullptr ? 0 : ORSA_STATUS_INVALID_VALUE;
}

u32 orsa_validate(char *text, const char *list, u8 type, i32 min, i32 max)
{
    switch (type) {
    case HM_TYPE_STRING:
        return orsa_validate_val_string(text, min, max);
    case HM_TYPE_INTEGER:
        return orsa_validate_val_integer(text, min, max);
    case HM_TYPE_IPADDR:
        return orsa_validate_ip(text);
    case HM_TYPE_SUBNETMASK:
        return orsa_validate_subnetmask(text);
    case HM_TYPE_LIST:
        return orsa_validate_list(text, list);
    default:
        return 0;
    }
}
