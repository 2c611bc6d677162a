/* Bitmaps, comma-separated lists and small text helpers of the tree. */
#include <string.h>
#include <strings.h>

#include "tree/hm_engine.h"

/* ---- bitmaps: bit i is bit (i % 8) of byte i / 8 ---- */

i32 is_set(const u8 *bitmap, i32 nbits, i32 index)
{
    if (bitmap == nullptr || index < 0 || index >= nbits)
        return -1;
    return (bitmap[index / 8] >> (index % 8)) & 1;
}

i32 get_first_one(const u8 *bitmap, i32 nbits)
{
    if (bitmap == nullptr || nbits < 1)
        return -1;
    for (i32 i = 0; i < nbits; i++) {
        if (bitmap[i / 8] == 0) {
            i |= 7; /* skip the rest of an empty byte */
            continue;
        }
        if ((bitmap[i / 8] >> (i % 8)) & 1)
            return i;
    }
    return -1;
}

i32 get_first_zero(const u8 *bitmap, i32 nbits)
{
    if (bitmap == nullptr || nbits < 1)
        return -1;
    for (i32 i = 0; i < nbits; i++) {
        if (bitmap[i / 8] == 0xFF) {
            i |= 7; /* skip the rest of a full byte */
            continue;
        }
        if (((bitmap[i / 8] >> (i % 8)) & 1) == 0)
            return i;
    }
    return -1;
}

i32 set_bit(u8 *bitmap, i32 nbits, i32 index)
{
    if (bitmap == nullptr || index < 0 || index >= nbits)
        return -1;
    bitmap[index / 8] = (u8)(bitmap[index / 8] | (1u << (index % 8)));
    return 0;
}

i32 clear_bit(u8 *bitmap, i32 nbits, i32 index)
{
    if (bitmap == nullptr || index < 0 || index >= nbits)
        return -1;
    bitmap[index / 8] = (u8)(bitmap[index / 8] & ~(1u << (index % 8)));
    return 0;
}

u8 *alloc_bitfield(u32 nbits)
{
    if (nbits == 0)
        return nullptr;
    return (u8 *)orsa_dzalloc((nbits + 7) / 8);
}

void free_bitfield(u8 *bitmap)
{
    if (bitmap != nullptr)
        orsa_dfree(bitmap);
}

/* ---- comma-separated lists ---- */

static bool item_equal(const char *element, size_t element_len, const char *item, u32 mode)
{
    if (strlen(item) != element_len)
        return false;
    if (mode == 1)
        return strncasecmp(element, item, element_len) == 0;
    if (mode == 0)
        return strncmp(element, item, element_len) == 0;
    return false;
}

char *orsa_internal_list_search(char *list, const char *item, u32 mode)
{
    if (list == nullptr || item == nullptr)
        return nullptr;
    size_t len = strnlen(list, HM_LIST_SIZE);
    char *p = list;
    char *end = list + len;
    while (p <= end) {
        char *comma = (char *)memchr(p, ',', (size_t)(end - p));
        size_t n = comma != nullptr ? (size_t)(comma - p) : (size_t)(end - p);
        if (item_equal(p, n, item, mode))
            return p;
        if (comma == nullptr)
            break;
        p = comma + 1;
    }
    return nullptr;
}

u32 orsa_internal_list_add(char *list, const char *item, u32 mode)
{
    if (list == nullptr || item == nullptr)
        return 1;
    if (orsa_internal_list_search(list, item, mode) != nullptr)
        return 1;
    size_t len = strnlen(list, HM_LIST_SIZE);
    size_t item_len = strlen(item);
    /* The whole item, its comma and the terminator must fit: a cut item
     * would be a different element reported as added. */
    size_t need = len + (len != 0 ? 1 : 0) + item_len + 1;
    if (len + 2 > HM_LIST_SIZE || need > HM_LIST_SIZE)
        return 1;
    if (len != 0)
        list[len++] = ',';
    memcpy(list + len, item, item_len + 1);
    return 0;
}

u32 orsa_internal_list_del(char *list, const char *item, u32 mode)
{
    char *p = orsa_internal_list_search(list, item, mode);
    if (p == nullptr)
        return 1;
    size_t item_len = strlen(item);
    char *after = p + item_len;
    if (p == list) {
        /* first element: take the following comma with it */
        if (*after == ',')
            after++;
        memmove(p, after, strlen(after) + 1);
    } else {
        /* later element: take the preceding comma with it */
        memmove(p - 1, after, strlen(after) + 1);
    }
    return 0;
}

u32 orsa_split(char *text, char character)
{
    if (text == nullptr)
        return 0;
    u32 fields = 1;
    for (char *p = text; *p != '\0'; p++) {
        if (*p == character) {
            *p = '\0';
            fields++;
        }
    }
    return fields;
}

char *orsa_strlcpy(char *dst, const char *src, size_t size)
{
    if (dst == nullptr || size == 0)
        return dst;
    if (src == nullptr)
        src = "";
    size_t n = strnlen(src, size - 1);
    memmove(dst, src, n);
    dst[n] = '\0';
    return dst;
}
