// The wide-text codec and the frame's helpers, white-box.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "ima/ima_plugin.h"

namespace {

struct DecodeRow {
  const char* what;
  std::string bytes;
  u32 length;  // 0: invalid
  u32 value;
};

// One sequence at a time: the table's own cases and RFC 3629's boundaries.
TEST(ImaCodec, DecoderAcceptsExactlyTheScalarValues) {
  const DecodeRow rows[] = {
      {"ASCII", "A", 1, 0x41},
      {"e acute", "\xC3\xA9", 2, 0xE9},
      {"overlong NUL", "\xC0\x80", 0, 0},
      {"overlong two-byte", "\xC1\xBF", 0, 0},
      {"lone continuation", "\x80", 0, 0},
      {"smallest two-byte", "\xC2\x80", 2, 0x80},
      {"largest two-byte", "\xDF\xBF", 2, 0x7FF},
      {"overlong three-byte", "\xE0\x9F\xBF", 0, 0},
      {"smallest three-byte", "\xE0\xA0\x80", 3, 0x800},
      {"before the surrogates", "\xED\x9F\xBF", 3, 0xD7FF},
      {"first surrogate", "\xED\xA0\x80", 0, 0},
      {"last surrogate", "\xED\xBF\xBF", 0, 0},
      {"after the surrogates", "\xEE\x80\x80", 3, 0xE000},
      {"largest three-byte", "\xEF\xBF\xBF", 3, 0xFFFF},
      {"overlong four-byte", "\xF0\x8F\xBF\xBF", 0, 0},
      {"smallest four-byte", "\xF0\x90\x80\x80", 4, 0x10000},
      {"largest scalar", "\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
      {"above the largest", "\xF4\x90\x80\x80", 0, 0},
      {"0x13FFFF", "\xF4\xBF\xBF\xBF", 0, 0},
      {"F5 first byte", "\xF5\x80\x80\x80", 0, 0},
      {"FF first byte", "\xFF", 0, 0},
      {"cut short", "\xE2\x82", 0, 0},
      {"bad continuation", "\xE2\x28\xA1", 0, 0},
  };
  for (const DecodeRow& r : rows) {
    const u8* p = (const u8*)r.bytes.data();
    u32 value = 0xDEAD;
    EXPECT_EQ(Iscsi_CodeSetOldGetUtf8(p, p + r.bytes.size(), &value), r.length) << r.what;
    if (r.length != 0) {
      EXPECT_EQ(value, r.value) << r.what;
    }
  }
}

TEST(ImaCodec, TextsConvertWholeOrNotAtAll) {
  EXPECT_EQ(Iscsi_CodeSet_LengthInCodePoints(""), 0);
  EXPECT_EQ(Iscsi_CodeSet_LengthInCodePoints("caf\xC3\xA9"), 4);
  EXPECT_EQ(Iscsi_CodeSet_LengthInCodePoints("ab\x80"), -1);

  u32* wide = (u32*)1;
  ASSERT_EQ(Iscsi_CodeSet_UTF8ToUTF32("caf\xC3\xA9", &wide), 1u);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide[3], 0xE9u);
  EXPECT_EQ(wide[4], 0u);
  free(wide);
  ASSERT_EQ(Iscsi_CodeSet_UTF8ToUTF32("", &wide), 1u);
  EXPECT_EQ(wide[0], 0u);
  free(wide);
  EXPECT_EQ(Iscsi_CodeSet_UTF8ToUTF32(nullptr, &wide), 1u);
  EXPECT_EQ(wide, nullptr);
  EXPECT_EQ(Iscsi_CodeSet_UTF8ToUTF32("x\xED\xA0\x80", &wide), 0u);
  EXPECT_EQ(wide, nullptr);

  struct EncodeRow {
    std::vector<u32> wide;
    bool ok;
    std::string bytes;
  } rows[] = {
      {{0x41, 0}, true, "A"},
      {{0x7F, 0x80, 0}, true, "\x7F\xC2\x80"},
      {{0x7FF, 0x800, 0}, true, "\xDF\xBF\xE0\xA0\x80"},
      {{0xFFFF, 0x10000, 0}, true, "\xEF\xBF\xBF\xF0\x90\x80\x80"},
      {{0x10FFFF, 0}, true, "\xF4\x8F\xBF\xBF"},
      {{0x110000, 0}, false, ""},
      {{0xD800, 0}, false, ""},  // surrogates: refused both ways
      {{0x41, 0xDFFF, 0}, false, ""},
      {{0}, true, ""},
  };
  for (const EncodeRow& r : rows) {
    char* text = (char*)1;
    EXPECT_EQ(Iscsi_CodeSet_UTF32ToUTF8(r.wide.data(), &text), r.ok ? 1u : 0u) << r.bytes;
    if (r.ok) {
      ASSERT_NE(text, nullptr);
      EXPECT_EQ(std::string(text), r.bytes);
      free(text);
    } else {
      EXPECT_EQ(text, nullptr);
    }
  }
}

TEST(ImaCodec, FixedBuffersFitOrFailUnchanged) {
  std::vector<IMA_WCHAR> buf(256, 7);
  std::string n255(255, 'a'), n256(256, 'a');
  EXPECT_EQ(Sample_Iscsi_ToWide(buf.data(), n255.c_str(), 256), IMA_STATUS_SUCCESS);
  EXPECT_EQ(buf[254], (IMA_WCHAR)'a');
  EXPECT_EQ(buf[255], 0);
  std::vector<IMA_WCHAR> keep(256, 7);
  EXPECT_EQ(Sample_Iscsi_ToWide(keep.data(), n256.c_str(), 256), IMA_ERROR_UNEXPECTED_OS_ERROR);
  EXPECT_EQ(keep[0], 7) << "unchanged on failure";
  EXPECT_EQ(Sample_Iscsi_ToWide(keep.data(), "\xC3", 256), IMA_ERROR_UNEXPECTED_OS_ERROR);
  std::vector<IMA_WCHAR> small(8, 7);
  EXPECT_EQ(Sample_Iscsi_ToWide(small.data(), "ab", 8), IMA_STATUS_SUCCESS);
  EXPECT_EQ(small[2], 0);
  EXPECT_EQ(small[7], 0) << "the rest of the buffer is zeroed";

  // To UTF-8: the form and its terminator must fit; a non-ASCII name of 223
  // characters (the name length check's limit) takes 446 bytes and fails.
  char out[256];
  memset(out, 'x', sizeof out);
  std::vector<IMA_WCHAR> w(223, 0xE9);
  w.push_back(0);
  EXPECT_EQ(Sample_Iscsi_ToUtf8(out, w.data(), sizeof out), IMA_ERROR_UNEXPECTED_OS_ERROR);
  EXPECT_EQ(out[0], 'x');
  std::vector<IMA_WCHAR> fits(127, 0xE9);  // 254 bytes and the terminator
  fits.push_back(0);
  EXPECT_EQ(Sample_Iscsi_ToUtf8(out, fits.data(), sizeof out), IMA_STATUS_SUCCESS);
  EXPECT_EQ(strlen(out), 254u);
  EXPECT_EQ(out[255], 0);
  std::vector<IMA_WCHAR> full(255, 'a'), over(256, 'a');
  full.push_back(0);
  over.push_back(0);
  EXPECT_EQ(Sample_Iscsi_ToUtf8(out, full.data(), sizeof out), IMA_STATUS_SUCCESS);
  EXPECT_EQ(Sample_Iscsi_ToUtf8(out, over.data(), sizeof out), IMA_ERROR_UNEXPECTED_OS_ERROR);
  std::vector<IMA_WCHAR> cut(85, 0x4E2D);  // 255 bytes, then a three-byte one that would be cut
  cut.push_back(0x4E2D);
  cut.push_back(0);
  EXPECT_EQ(Sample_Iscsi_ToUtf8(out, cut.data(), sizeof out), IMA_ERROR_UNEXPECTED_OS_ERROR);
}

TEST(ImaFrame, HexPairsRatesAndAddresses) {
  u8 b[4] = {9, 9, 9, 9};
  EXPECT_EQ(Covert_Hex_To_Bin(b, "0a1Bf", 5, 4), 0u);
  EXPECT_EQ(b[0], 0x0A);
  EXPECT_EQ(b[1], 0x1B);
  EXPECT_EQ(b[2], 9) << "five characters are two bytes";
  memset(b, 9, sizeof b);
  EXPECT_EQ(Covert_Hex_To_Bin(b, "0a1Bf", 5, 1), 0u);
  EXPECT_EQ(b[1], 9);
  EXPECT_EQ(Covert_Hex_To_Bin(b, "zz7f", 4, 4), 0u);
  EXPECT_EQ(b[0], 0) << "a pair that begins with no hex digit";
  EXPECT_EQ(b[1], 0x7F);
  EXPECT_EQ(Covert_Hex_To_Bin(b, "a", 1, 4), 0u);
  EXPECT_EQ(Covert_Hex_To_Bin(nullptr, "aa", 2, 4), IMA_ERROR_UNKNOWN_ERROR);
  EXPECT_EQ(Covert_Hex_To_Bin(b, nullptr, 2, 4), IMA_ERROR_UNKNOWN_ERROR);

  struct {
    const char* text;
    u32 mbps;
  } rates[] = {{"10Gb", 10000}, {"1000Mb", 1000},     {"2.5Gb", 2500},      {"1gb", 1000}, {"100mb", 100},
               {"Unknown", 0},  {"less than 1Gb", 0}, {"less than 1Mb", 0}, {"", 0},       {"10", 0}};
  for (const auto& r : rates) EXPECT_EQ(ima_rate_mbps(r.text), r.mbps) << r.text;

  IMA_IP_ADDRESS a{};
  for (int i = 0; i < 16; i++) a.ipAddress[i] = (u8)(0xF0 + i);
  char text[256];
  EXPECT_EQ(IMA_copy_ipv6_addr(text, &a), 0u);
  EXPECT_STREQ(text, "f0f1:f2f3:f4f5:f6f7:f8f9:fafb:fcfd:feff");

  EXPECT_EQ(ErrorCheck(0), 0u);
  EXPECT_EQ(ErrorCheck(1), IMA_ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ErrorCheck(0xFFFFFFFFu), IMA_ERROR_OBJECT_NOT_FOUND);
  EXPECT_EQ(ErrorCheck(259), 259u);
  EXPECT_EQ(ErrorCheck(IMA_ERROR_UNEXPECTED_OS_ERROR), IMA_ERROR_UNEXPECTED_OS_ERROR);
}

}  // namespace
