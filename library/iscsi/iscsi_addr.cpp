// Address and name texts of the iSCSI subsystem (iscsi_addr.h).
#include "iscsi/iscsi_addr.h"

#include <stdio.h>
#include <string.h>

#include "tree/hm_status.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The value of a hexadecimal digit, -1 for any other character.
int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

char upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

u32 orsa_fail_iscsi_name(void)
{
    orsa_set_status(ORSA_STATUS_INVALID_ISCSI_NAME);
    return 1;
}

// Appends to a text of at most ORSA_IPV6_TEXT_SIZE - 1 characters.
struct Text {
    char *out;
    size_t len = 0;
    void add(const char *s)
    {
        // At most 39 characters come together; anything beyond is dropped.
        for (; *s != '\0' && len + 1 < ORSA_IPV6_TEXT_SIZE; s++)
            out[len++] = *s;
        out[len] = '\0';
    }
};

bool mask_is_contiguous(const u32 v[4])
{
    u32 mask = v[0] << 24 | v[1] << 16 | v[2] << 8 | v[3];
    if (mask == 0)
        return false;
    // Ones from the top, then only zeros: the inverted mask plus one is a
    // power of two (0 for 255.255.255.255).
    u32 inverted = ~mask;
    return (inverted & (inverted + 1)) == 0;
}

}  // namespace

u32 validateIPAddress(const char *text, u8 *octets, u32 kind)
{
    if (text == nullptr || text[0] == '\0')
        return 0;
    // A longer text is not an address, whatever its first 15 characters say.
    if (strnlen(text, ORSA_IPV4_TEXT_MAX + 1) > ORSA_IPV4_TEXT_MAX)
        return 0;
    u32 v[4] = {};
    int tokens = 0;
    int dots = 0;
    const char *p = text;
    for (;;) {
        // A token runs to the next dot or the end; a leading dot gives an
        // empty first token, read as 0.
        u32 value = 0;
        while (*p != '\0' && *p != '.') {
            if (!is_digit(*p))
                return 0;
            value = value * 10 + (u32)(*p - '0');
            if (value > 255)
                return 0;
            p++;
        }
        if (tokens < 4) {
            v[tokens] = value;
            if (octets != nullptr)
                octets[tokens] = (u8)value;
        }
        tokens++;
        if (*p == '\0')
            break;
        dots++;
        p++;
        if (!is_digit(*p))  // two dots in a row, or a trailing dot
            return 0;
    }
    if (dots != 3 || tokens != 4)
        return 0;

    bool all_zero = (v[0] | v[1] | v[2] | v[3]) == 0;
    bool all_ones = v[0] == 255 && v[1] == 255 && v[2] == 255 && v[3] == 255;
    bool loop_or_broadcast = v[0] == 127 || v[0] == 255;
    bool first_two_zero = v[0] == 0 && v[1] == 0;
    switch (kind) {
    case ORSA_IPV4_NOT_ZERO:
        return all_zero ? 0 : 1;
    case ORSA_IPV4_HOST:
        return all_zero || loop_or_broadcast || all_ones ? 0 : 1;
    case ORSA_IPV4_KIND2:
        return loop_or_broadcast || all_ones || v[3] == 0 || v[3] == 255 || first_two_zero ? 0 : 1;
    case ORSA_IPV4_KIND3:
        return loop_or_broadcast || (v[0] >= 224 && v[0] <= 247) || all_ones || v[3] == 255 || first_two_zero ? 0
                                                                                                              : 1;
    case ORSA_IPV4_ANY:
        return 1;
    case ORSA_IPV4_MASK:
        return mask_is_contiguous(v) ? 1 : 0;
    default:
        return 0;
    }
}

u32 validateISCSIName(const char *text, char *out)
{
    if (text == nullptr || out == nullptr)
        return orsa_fail_iscsi_name();
    size_t len = strnlen(text, ORSA_ISCSI_NAME_MAX + 1);
    // A longer name would lose its tail in the 224-byte field: refused.
    if (len == 0 || len > ORSA_ISCSI_NAME_MAX)
        return orsa_fail_iscsi_name();
    memcpy(out, text, len);
    out[len] = '\0';
    for (size_t i = 0; i < len; i++) {
        char c = out[i];
        if (c >= 'A' && c <= 'Z')
            out[i] = (char)(c - 'A' + 'a');
        else if (!((c >= 'a' && c <= 'z') || is_digit(c) || c == '-' || c == '.' || c == ':'))
            return orsa_fail_iscsi_name();
    }
    return 0;
}

u32 validateIPv6Address(char *text)
{
    if (text == nullptr || text[0] == '\0')
        return ORSA_STATUS_INVALID_VALUE;
    size_t n = 0;
    for (; text[n] != '\0'; n++) {
        text[n] = upper(text[n]);
        if (hex_value(text[n]) < 0 && text[n] != ':')
            return ORSA_STATUS_INVALID_VALUE;
    }
    // The full form is the longest valid text.
    if (n > ORSA_IPV6_FULL_LENGTH)
        return ORSA_STATUS_INVALID_VALUE;
    // A colon opens no valid text: "::" at the start is refused, and a lone
    // one names no group.
    if (text[0] == ':')
        return ORSA_STATUS_INVALID_VALUE;

    const char *groups[8];
    size_t lengths[8];
    int count = 0;
    int gap = -1;  // groups before the "::"
    size_t i = 0;
    while (i < n) {
        size_t start = i;
        while (i < n && text[i] != ':')
            i++;
        size_t len = i - start;
        if (len == 0 || len > 4 || count == 8)
            return ORSA_STATUS_INVALID_VALUE;
        groups[count] = text + start;
        lengths[count] = len;
        count++;
        if (i == n)
            break;
        i++;                 // the ':' after the group
        if (i == n)          // a trailing lone ':'
            return ORSA_STATUS_INVALID_VALUE;
        if (text[i] == ':') {
            if (gap >= 0)    // a second "::"
                return ORSA_STATUS_INVALID_VALUE;
            gap = count;
            i++;
            if (i < n && text[i] == ':')
                return ORSA_STATUS_INVALID_VALUE;
        }
    }
    // "::" stands for one group at least.
    if (gap < 0 ? count != 8 : count > 7)
        return ORSA_STATUS_INVALID_VALUE;

    char full[ORSA_IPV6_TEXT_SIZE];
    size_t at = 0;
    int missing = 8 - count;
    for (int out = 0, g = 0; out < 8; out++) {
        if (out > 0)
            full[at++] = ':';
        if (g == gap && missing > 0) {
            memcpy(full + at, "0000", 4);
            missing--;
        } else {
            memset(full + at, '0', 4 - lengths[g]);
            memcpy(full + at + 4 - lengths[g], groups[g], lengths[g]);
            g++;
        }
        at += 4;
    }
    full[at] = '\0';
    memcpy(text, full, at + 1);
    return 0;
}

u32 StrToU8IPv6(char *text, u8 out[16])
{
    if (text == nullptr || out == nullptr)
        return 1;
    if (text[0] == '\0')
        memcpy(text, "0::", 4);
    memset(out, 0, 16);
    int nibble = 0;
    for (const char *c = text; *c != '\0' && nibble < 32; c++) {
        int v = hex_value(*c);
        if (v < 0)
            continue;
        out[nibble / 2] = (u8)(out[nibble / 2] | (nibble % 2 == 0 ? v << 4 : v));
        nibble++;
    }
    return 0;
}

void U8IPv6ToStr(const u8 address[16], char out[ORSA_IPV6_TEXT_SIZE])
{
    if (out == nullptr)
        return;
    out[0] = '\0';
    if (address == nullptr)
        return;
    Text t{out};
    char group[8];
    if (address[0] != 0)
        snprintf(group, sizeof group, "%x%02x", address[0], address[1]);
    else
        snprintf(group, sizeof group, "%x", address[1]);
    t.add(group);
    bool run_open = false;  // the text ends in the run's ':'
    bool run_used = false;
    for (int g = 1; g < 8; g++) {
        unsigned hi = address[2 * g], lo = address[2 * g + 1];
        if (hi != 0 || lo != 0) {
            if (hi != 0)
                snprintf(group, sizeof group, ":%x%02x", hi, lo);
            else
                snprintf(group, sizeof group, ":%x", lo);
            t.add(group);
            run_open = false;
        } else if (run_open) {
            if (g == 7)  // the run reaches the end: close it
                t.add(":");
        } else if (!run_used) {
            t.add(":");
            run_open = run_used = true;
            // The only zero group is the last one: the run opens and ends
            // here, so the text ends in "::" rather than a lone ':' that
            // names no group.
            if (g == 7)
                t.add(":");
        } else {
            t.add(":0");
        }
    }
    if (strcmp(out, "0::") == 0)
        out[0] = '\0';
}

void ipaddr_to_string(const u8 *address, char *out, u32 kind)
{
    if (out == nullptr)
        return;
    out[0] = '\0';
    if (kind == 0) {
        snprintf(out, ORSA_IPV6_TEXT_SIZE, "0.0.0.0");
        return;
    }
    if (address == nullptr)
        return;
    if ((kind & 7u) != 0) {
        snprintf(out, ORSA_IPV6_TEXT_SIZE, "%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
        return;
    }
    U8IPv6ToStr(address, out);
    validateIPv6Address(out);
}
