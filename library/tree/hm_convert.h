// Small conversions shared by the handlers: shifts, address copies, text
// splitting, hexadecimal tests, digit reading and byte-order swaps.
#pragma once

#include <cstdint>

extern "C" {

// 32-bit shifts one place at a time; 32 places or more give 0.
uint32_t ULShr(uint32_t value, uint32_t n);
uint32_t ULShl(uint32_t value, uint32_t n);

// Widens (or copies) the 16 bytes of an address.
void copy_U32IP(uint32_t out[16], const uint8_t in[16]);
void copy_U8IP(uint8_t out[16], const uint8_t in[16]);

// Replaces, in place, every character of text found in delimiters by NUL;
// returns how many were replaced (0 for a missing or empty text).
uint32_t backend_split(char *text, const char *delimiters);

// 1 when the first n characters of text are hexadecimal digits (also for
// n below 1), else 0.
uint32_t is_hex(const char *text, int32_t n);

// Looks for a component type in the 32 entries of a firmware-image
// directory block (type word at byte 192 + 64*i); stores i and returns 1 on
// the first match, else 0.
uint32_t is_comp_in_ufi(const uint8_t *block, uint32_t type, uint32_t *index);

// Reads digits of the given radix (0-9, then A.. / a.. from 10) and returns
// their value modulo 2^32. Every character examined, the one that stops the
// reading included, is overwritten with its digit value: pass a copy.
uint32_t convert(char *text, uint32_t radix);

// Zeroes the 32 cells and writes the 8 binary digits of a, b, c and d (most
// significant first) into cells 0-7, 8-15, 16-23 and 24-31. 1, with the cells
// left zeroed, when a value lies outside 0-255; else 0.
uint32_t orsa_bin(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t cells[32]);

// Reverses the byte order of every whole 32-bit word within the first
// length bytes; a partial word at the end is left alone.
void swap32_buffer(uint32_t *words, uint32_t length);

// Nothing to do on this host.
uint32_t scan_from_os(void);
uint32_t orsa_get_sli_intf(void);

}  // extern "C"
