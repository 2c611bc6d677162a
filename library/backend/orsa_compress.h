// One-shot zlib compression of whole buffers (core-dump segments).
#pragma once

#include <cstdint>

// The output size that CompressData needs for length input bytes:
// length + ((length + 16383) >> 14) * 5 + 6.
uint32_t GetMaxCompressedLen(uint32_t length);

// Deflates in into out in one call at the default level. Returns the
// compressed length, or all ones when zlib fails or out is too small.
uint32_t CompressData(const uint8_t *in, uint32_t in_length, uint8_t *out, uint32_t out_length);

// Inflates in into out in one call. Returns the inflated length, or all ones
// when the data is damaged or out is too small.
uint32_t UncompressData(const uint8_t *in, uint32_t in_length, uint8_t *out, uint32_t out_length);
