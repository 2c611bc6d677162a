// One-shot zlib wrappers over realistic core-dump-like data.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "backend/orsa_compress.h"

namespace {

// Something like a dump segment: register rows, a text log and some noise.
std::vector<uint8_t> dump_like(size_t size)
{
    std::vector<uint8_t> out;
    out.reserve(size);
    uint32_t lfsr = 0xACE1u;
    for (uint32_t row = 0; out.size() < size; row++) {
        char line[96];
        int n = snprintf(line, sizeof line, "0x%08x: %08x %08x fw: mcc wrb %u done status 0\n",
                         row * 16, row * 0x1000193u, lfsr, row % 37);
        out.insert(out.end(), line, line + n);
        for (int i = 0; i < 8; i++) {
            lfsr = (lfsr >> 1) ^ (-(lfsr & 1u) & 0xB400u);
            out.push_back(static_cast<uint8_t>(lfsr));
        }
    }
    out.resize(size);
    return out;
}

TEST(GetMaxCompressedLen, Bound)
{
    struct Case {
        uint32_t length, want;
    } cases[] = {{0, 6}, {1, 12}, {16384, 16395}, {16385, 16401}, {100000, 100041}};
    for (const Case &c : cases)
        EXPECT_EQ(GetMaxCompressedLen(c.length), c.want) << c.length;
}

TEST(Compression, RoundTripOfDumpData)
{
    for (size_t size : {size_t{1}, size_t{100}, size_t{16384}, size_t{16385}, size_t{200000}}) {
        std::vector<uint8_t> in = dump_like(size);
        std::vector<uint8_t> packed(GetMaxCompressedLen(static_cast<uint32_t>(size)));
        uint32_t n = CompressData(in.data(), static_cast<uint32_t>(size), packed.data(),
                                  static_cast<uint32_t>(packed.size()));
        ASSERT_NE(n, 0xFFFFFFFFu) << size;
        ASSERT_LE(n, packed.size());
        if (size >= 16384) {
            EXPECT_LT(n, size / 2) << "dump text should shrink";
        }
        std::vector<uint8_t> back(size + 16, 0xEE);
        uint32_t m = UncompressData(packed.data(), n, back.data(), static_cast<uint32_t>(size));
        ASSERT_EQ(m, size);
        EXPECT_EQ(memcmp(back.data(), in.data(), size), 0);
        EXPECT_EQ(back[size], 0xEE);  // nothing written past the given length
    }
}

TEST(Compression, RandomDataFitsTheBound)
{
    std::vector<uint8_t> in(70000);
    uint32_t x = 12345;
    for (uint8_t &b : in) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 23);
    }
    std::vector<uint8_t> packed(GetMaxCompressedLen(70000));
    EXPECT_NE(CompressData(in.data(), 70000, packed.data(), static_cast<uint32_t>(packed.size())),
              0xFFFFFFFFu);
}

TEST(Compression, DestinationTooSmallIsRefused)
{
    std::vector<uint8_t> in = dump_like(50000);
    std::vector<uint8_t> packed(GetMaxCompressedLen(50000));
    uint32_t n = CompressData(in.data(), 50000, packed.data(), static_cast<uint32_t>(packed.size()));
    ASSERT_NE(n, 0xFFFFFFFFu);

    std::vector<uint8_t> small(n - 1);
    EXPECT_EQ(CompressData(in.data(), 50000, small.data(), static_cast<uint32_t>(small.size())),
              0xFFFFFFFFu);

    std::vector<uint8_t> back(49999);
    EXPECT_EQ(UncompressData(packed.data(), n, back.data(), static_cast<uint32_t>(back.size())),
              0xFFFFFFFFu);
}

TEST(Compression, DamagedOrTruncatedInputIsRefused)
{
    std::vector<uint8_t> in = dump_like(4000);
    std::vector<uint8_t> packed(GetMaxCompressedLen(4000));
    uint32_t n = CompressData(in.data(), 4000, packed.data(), static_cast<uint32_t>(packed.size()));
    ASSERT_NE(n, 0xFFFFFFFFu);
    std::vector<uint8_t> back(4000);
    EXPECT_EQ(UncompressData(packed.data(), n / 2, back.data(), 4000), 0xFFFFFFFFu);
    packed[0] ^= 0xFF;  // not a zlib header any more
    EXPECT_EQ(UncompressData(packed.data(), n, back.data(), 4000), 0xFFFFFFFFu);
    EXPECT_EQ(CompressData(nullptr, 10, back.data(), 4000), 0xFFFFFFFFu);
    EXPECT_EQ(UncompressData(packed.data(), n, nullptr, 4000), 0xFFFFFFFFu);
}

}  // namespace
