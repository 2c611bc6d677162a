// Small conversions shared by the handlers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tree/hm_convert.h"

namespace {

TEST(Shifts, OnePlaceAtATimeAndZeroFrom32)
{
    struct Case {
        uint32_t value, n, right, left;
    } cases[] = {
        {0x80000001u, 0, 0x80000001u, 0x80000001u},
        {0x80000001u, 1, 0x40000000u, 0x00000002u},
        {0xFFFFFFFFu, 31, 1u, 0x80000000u},
        {0xFFFFFFFFu, 32, 0u, 0u},
        {0xFFFFFFFFu, 1000, 0u, 0u},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ULShr(c.value, c.n), c.right) << c.n;
        EXPECT_EQ(ULShl(c.value, c.n), c.left) << c.n;
    }
}

TEST(AddressCopies, WidenAndCopySixteenBytes)
{
    uint8_t in[16];
    for (int i = 0; i < 16; i++)
        in[i] = static_cast<uint8_t>(0xF0 + i);
    uint32_t wide[16] = {};
    copy_U32IP(wide, in);
    uint8_t narrow[16] = {};
    copy_U8IP(narrow, in);
    for (int i = 0; i < 16; i++) {
        EXPECT_EQ(wide[i], 0xF0u + i);
        EXPECT_EQ(narrow[i], in[i]);
    }
}

TEST(BackendSplit, ReplacesEveryDelimiterInPlace)
{
    char text[] = "a,b;;c";
    EXPECT_EQ(backend_split(text, ",;"), 3u);
    EXPECT_STREQ(text, "a");
    EXPECT_STREQ(text + 2, "b");
    EXPECT_EQ(text[4], '\0');
    EXPECT_STREQ(text + 5, "c");
    char empty[] = "";
    EXPECT_EQ(backend_split(empty, ","), 0u);
    EXPECT_EQ(backend_split(nullptr, ","), 0u);
}

TEST(IsHex, FirstNCharacters)
{
    struct Case {
        const char *text;
        int32_t n;
        uint32_t want;
    } cases[] = {
        {"0aF9", 4, 1}, {"0aF9", 2, 1}, {"0aG9", 4, 0}, {"0aG9", 2, 1},
        {"ab", 3, 0},  // the terminator is not a digit
        {"zz", 0, 1},   {"zz", -5, 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(is_hex(c.text, c.n), c.want) << c.text << " " << c.n;
}

TEST(IsCompInUfi, FindsTheFirstMatchingDirectoryEntry)
{
    uint8_t block[192 + 64 * 32] = {};
    uint32_t type = 0x1234;
    memcpy(block + 192 + 64 * 7, &type, 4);
    memcpy(block + 192 + 64 * 20, &type, 4);
    uint32_t index = 99;
    EXPECT_EQ(is_comp_in_ufi(block, 0x1234, &index), 1u);
    EXPECT_EQ(index, 7u);
    index = 99;
    EXPECT_EQ(is_comp_in_ufi(block, 0x4321, &index), 0u);
    EXPECT_EQ(index, 99u);
}

TEST(Convert, ReadsDigitsAndOverwritesWhatItExamined)
{
    struct Case {
        const char *text;
        uint32_t radix;
        uint32_t want;
        size_t examined;  // characters overwritten
    } cases[] = {
        {"123", 10, 123, 3},
        {"ff", 16, 255, 2},
        {"FF", 16, 255, 2},
        {"a", 16, 10, 1},
        {"12x4", 10, 12, 3},       // stops at x, which is overwritten too
        {"19", 8, 1, 2},           // 9 is outside radix 8
        {"ffffffff1", 16, 0xFFFFFFF1u, 9},  // modulo 2^32
        {"", 10, 0, 0},
    };
    for (const Case &c : cases) {
        std::string copy = c.text;
        std::string before = copy;
        EXPECT_EQ(convert(copy.data(), c.radix), c.want) << c.text;
        for (size_t i = c.examined; i < before.size(); i++)
            EXPECT_EQ(copy[i], before[i]) << c.text << " position " << i;
        if (c.examined > 0) {
            EXPECT_NE(copy[c.examined - 1], before[c.examined - 1]) << c.text;
        }
        EXPECT_EQ(copy.c_str()[copy.size()], '\0');  // the terminator stays
    }
}

TEST(OrsaBin, EightBinaryDigitsPerValue)
{
    uint32_t cells[32];
    ASSERT_EQ(orsa_bin(5, 0, 0, 255, cells), 0u);
    const uint32_t want[32] = {0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0,
                               0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1};
    for (int i = 0; i < 32; i++)
        EXPECT_EQ(cells[i], want[i]) << i;
}

TEST(OrsaBin, RefusesAValueAbove255)
{
    uint32_t cells[33];
    for (uint32_t &c : cells)
        c = 7;
    EXPECT_EQ(orsa_bin(1, 256, 0, 0, cells), 1u);
    for (int i = 0; i < 32; i++)
        EXPECT_EQ(cells[i], 0u) << i;
    EXPECT_EQ(cells[32], 7u);
}

TEST(Swap32Buffer, SwapsWholeWordsOnlyWithinTheLength)
{
    uint8_t bytes[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    uint32_t words[3];
    memcpy(words, bytes, sizeof words);
    // 7 bytes: one whole word; the three bytes after it are not the
    // caller's to change.
    swap32_buffer(words, 7);
    uint8_t out[12];
    memcpy(out, words, sizeof out);
    const uint8_t want[12] = {4, 3, 2, 1, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(memcmp(out, want, sizeof want), 0);

    memcpy(words, bytes, sizeof words);
    swap32_buffer(words, 12);
    memcpy(out, words, sizeof out);
    const uint8_t all[12] = {4, 3, 2, 1, 8, 7, 6, 5, 12, 11, 10, 9};
    EXPECT_EQ(memcmp(out, all, sizeof all), 0);
}

TEST(Swap32Buffer, ShortLengthOnAShortAllocationStaysInside)
{
    // Under the address sanitizer, touching byte 3 of a 2-byte block fails.
    auto *two = new uint8_t[2]{0xAA, 0xBB};
    swap32_buffer(reinterpret_cast<uint32_t *>(two), 2);
    EXPECT_EQ(two[0], 0xAA);
    EXPECT_EQ(two[1], 0xBB);
    delete[] two;
}

TEST(NoOps, ReturnZero)
{
    EXPECT_EQ(scan_from_os(), 0u);
    EXPECT_EQ(orsa_get_sli_intf(), 0u);
}

}  // namespace
