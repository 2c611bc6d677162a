#include "tree/hm_convert.h"

#include <cctype>
#include <cstring>

extern "C" {

uint32_t ULShr(uint32_t value, uint32_t n)
{
    for (uint32_t i = 0; i < n && value != 0; i++)
        value >>= 1;
    return n >= 32 ? 0 : value;
}

uint32_t ULShl(uint32_t value, uint32_t n)
{
    for (uint32_t i = 0; i < n && value != 0; i++)
        value <<= 1;
    return n >= 32 ? 0 : value;
}

void copy_U32IP(uint32_t out[16], const uint8_t in[16])
{
    for (int i = 0; i < 16; i++)
        out[i] = in[i];
}

void copy_U8IP(uint8_t out[16], const uint8_t in[16])
{
    memmove(out, in, 16);
}

uint32_t backend_split(char *text, const char *delimiters)
{
    if (text == nullptr || delimiters == nullptr)
        return 0;
    uint32_t replaced = 0;
    for (char *p = text; *p != '\0'; p++) {
        if (strchr(delimiters, *p) != nullptr) {
            *p = '\0';
            replaced++;
        }
    }
    return replaced;
}

uint32_t is_hex(const char *text, int32_t n)
{
    if (text == nullptr)
        return n < 1 ? 1 : 0;
    for (int32_t i = 0; i < n; i++) {
        if (!isxdigit(static_cast<unsigned char>(text[i])))
            return 0;  // also stops at the terminator of a short text
    }
    return 1;
}

uint32_t is_comp_in_ufi(const uint8_t *block, uint32_t type, uint32_t *index)
{
    if (block == nullptr)
        return 0;
    for (uint32_t i = 0; i < 32; i++) {
        uint32_t word;
        memcpy(&word, block + 192 + 64 * i, sizeof word);
        if (word == type) {
            if (index != nullptr)
                *index = i;
            return 1;
        }
    }
    return 0;
}

uint32_t convert(char *text, uint32_t radix)
{
    uint32_t value = 0;
    if (text == nullptr)
        return 0;
    for (char *p = text; *p != '\0'; p++) {
        int digit = static_cast<unsigned char>(*p) - '0';
        if (digit > 16) {
            digit = static_cast<unsigned char>(*p) - '7';
            if (digit >= static_cast<int>(radix))
                digit -= 32;
        }
        *p = static_cast<char>(digit);
        if (digit < 0 || digit >= static_cast<int>(radix))
            break;
        value = value * radix + static_cast<uint32_t>(digit);
    }
    return value;
}

uint32_t orsa_bin(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t cells[32])
{
    const uint32_t values[4] = {a, b, c, d};
    memset(cells, 0, 32 * sizeof cells[0]);
    for (uint32_t v : values) {
        if (v > 255)
            return 1;
    }
    for (int k = 0; k < 4; k++) {
        for (int bit = 0; bit < 8; bit++)
            cells[k * 8 + bit] = (values[k] >> (7 - bit)) & 1u;
    }
    return 0;
}

void swap32_buffer(uint32_t *words, uint32_t length)
{
    if (words == nullptr)
        return;
    // Only whole words: the bytes after the last whole word may belong to
    // the caller's neighbour, or lie past the allocation.
    auto *bytes = reinterpret_cast<uint8_t *>(words);
    for (uint32_t off = 0; off + 4 <= length; off += 4) {
        uint8_t *w = bytes + off;
        uint8_t t0 = w[0], t1 = w[1];
        w[0] = w[3];
        w[1] = w[2];
        w[2] = t1;
        w[3] = t0;
    }
}

uint32_t scan_from_os(void)
{
    return 0;
}

uint32_t orsa_get_sli_intf(void)
{
    return 0;
}

}  // extern "C"
