#include "backend/orsa_compress.h"

#include <zlib.h>

#include "tree/hm_log.h"

namespace {
constexpr uint32_t kFailed = 0xFFFFFFFFu;

// Runs a stream whose init has succeeded over all of in at once, then ends
// it. The bytes written to out, or kFailed unless the stream came to its end
// (out too small, damaged input).
uint32_t run_whole(z_stream &strm, const uint8_t *in, uint32_t in_length, uint8_t *out, uint32_t out_length,
                   int (*step)(z_streamp, int), int (*end)(z_streamp))
{
    strm.next_in = const_cast<Bytef *>(in);
    strm.avail_in = in_length;
    strm.next_out = out;
    strm.avail_out = out_length;
    int rc = step(&strm, Z_FINISH);
    uint32_t produced = static_cast<uint32_t>(strm.total_out);
    end(&strm);
    return rc == Z_STREAM_END ? produced : kFailed;
}
}  // namespace

uint32_t GetMaxCompressedLen(uint32_t length)
{
    uint32_t max_len = length + ((length + 16383) >> 14) * 5 + 6;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:MaxCompressedLen = %d\n", __func__, static_cast<int>(max_len));
    return max_len;
}

uint32_t CompressData(const uint8_t *in, uint32_t in_length, uint8_t *out, uint32_t out_length)
{
    if (in == nullptr || out == nullptr)
        return kFailed;
    z_stream strm{};
    if (deflateInit(&strm, Z_DEFAULT_COMPRESSION) != Z_OK)
        return kFailed;
    uint32_t produced = run_whole(strm, in, in_length, out, out_length, deflate, deflateEnd);
    if (produced == kFailed)
        return kFailed;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_INFO, "%s:Compression succeded.\n", __func__);
    return produced;
}

uint32_t UncompressData(const uint8_t *in, uint32_t in_length, uint8_t *out, uint32_t out_length)
{
    if (in == nullptr || out == nullptr)
        return kFailed;
    // The source is binary and not terminated: print no more than its first
    // bytes.
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:src data = %.*s\n", __func__, static_cast<int>(in_length < 64 ? in_length : 64),
           reinterpret_cast<const char *>(in));
    z_stream strm{};
    if (inflateInit(&strm) != Z_OK)
        return kFailed;
    uint32_t produced = run_whole(strm, in, in_length, out, out_length, inflate, inflateEnd);
    if (produced == kFailed)
        return kFailed;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_INFO, "%s:UnCompressed data succeded.\n", __func__);
    return produced;
}
