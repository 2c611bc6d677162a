/*
 * esx50_codeset.cpp - UTF-8 <-> UTF-32 for the texts the plugin exchanges
 * with the host: the host speaks 4-byte wide strings, the tree UTF-8.
 *
 * The decoder and the encoder accept exactly the scalar values of RFC 3629:
 * 0 to 0x10FFFF without the surrogates 0xD800 to 0xDFFF, in both directions,
 * so every name written into the tree can be read back to the host.
 */
#include <stdlib.h>

#include "ima/ima_plugin.h"

/* Bytes of the UTF-8 sequence at start (1 to 4), 0 when it is not a valid
 * one; the value goes to code_point when given. */
u32 Iscsi_CodeSetOldGetUtf8(const u8 *start, const u8 *end, u32 *code_point)
{
    if (start >= end)
        return 0;
    u32 first = start[0];
    if (first < 0x80) {
        if (code_point != nullptr)
            *code_point = first;
        return 1;
    }
    if (first - 0xC2u > 50u)
        return 0;
    u32 bytes, value;
    if (first < 0xE0) {
        bytes = 2;
        value = first - 0xC0;
    } else if (first < 0xF0) {
        bytes = 3;
        value = first - 0xE0;
    } else {
        bytes = 4;
        value = first - 0xF0;
    }
    if ((size_t)(end - start) < bytes)
        return 0;
    for (u32 i = 1; i < bytes; i++) {
        if ((start[i] & 0xC0) != 0x80)
            return 0;
        value = value * 64 + (start[i] - 0x80u);
    }
    if (value < (1u << (5 * bytes - 4)))
        return 0; /* overlong form */
    if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    if (code_point != nullptr)
        *code_point = value;
    return bytes;
}

i32 Iscsi_CodeSet_LengthInCodePoints(const char *text)
{
    const u8 *p = (const u8 *)text;
    const u8 *end = p;
    while (*end != 0)
        end++;
    i32 count = 0;
    while (p < end) {
        u32 n = Iscsi_CodeSetOldGetUtf8(p, end, nullptr);
        if (n == 0)
            return -1;
        p += n;
        count++;
    }
    return count;
}

u32 Iscsi_CodeSet_UTF8ToUTF32(const char *text, u32 **out)
{
    *out = nullptr;
    if (text == nullptr)
        return 1;
    i32 count = Iscsi_CodeSet_LengthInCodePoints(text);
    if (count < 0)
        return 0;
    u32 *wide = (u32 *)malloc(((size_t)count + 1) * sizeof(u32));
    if (wide == nullptr)
        return 0;
    const u8 *p = (const u8 *)text;
    const u8 *end = p;
    while (*end != 0)
        end++;
    for (i32 i = 0; i < count; i++)
        p += Iscsi_CodeSetOldGetUtf8(p, end, &wide[i]);
    wide[count] = 0;
    *out = wide;
    return 1;
}

u32 Iscsi_CodeSet_UTF32ToUTF8(const u32 *wide, char **out)
{
    *out = nullptr;
    if (wide == nullptr)
        return 1;
    size_t count = 0;
    while (wide[count] != 0)
        count++;
    u8 *text = (u8 *)malloc(4 * count + 1);
    if (text == nullptr)
        return 0;
    u8 *p = text;
    for (size_t i = 0; i < count; i++) {
        u32 v = wide[i];
        if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) {
            free(text);
            return 0;
        }
        if (v < 0x80) {
            *p++ = (u8)v;
        } else if (v < 0x800) {
            *p++ = (u8)(0xC0 | v >> 6);
            *p++ = (u8)(0x80 | (v & 0x3F));
        } else if (v < 0x10000) {
            *p++ = (u8)(0xE0 | v >> 12);
            *p++ = (u8)(0x80 | (v >> 6 & 0x3F));
            *p++ = (u8)(0x80 | (v & 0x3F));
        } else {
            *p++ = (u8)(0xF0 | v >> 18);
            *p++ = (u8)(0x80 | (v >> 12 & 0x3F));
            *p++ = (u8)(0x80 | (v >> 6 & 0x3F));
            *p++ = (u8)(0x80 | (v & 0x3F));
        }
    }
    *p = 0;
    *out = (char *)text;
    return 1;
}
