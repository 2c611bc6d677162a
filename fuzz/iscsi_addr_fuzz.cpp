// The address and name texts of the iSCSI subsystem: what a client types as
// an IPv4 or IPv6 address or an iSCSI name, and the 16 address bytes an
// adapter answers. Every text lies in a heap block of exactly its size, so a
// write past it is caught; the conversions must agree with one another.
//
// Input: one selector byte (modulo 4), then
//   0: an IPv6 text (at most 64 bytes): normalised, packed, printed back;
//   1: 16 address bytes: printed, normalised, packed back;
//   2: a check kind byte, then an IPv4 text (at most 32 bytes);
//   3: an iSCSI name (at most 300 bytes).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "iscsi/iscsi_addr.h"
#include "library_host.h"

namespace {

// The text in a block of its length + 1, at least `least` bytes.
std::vector<char> block(const std::vector<uint8_t>& bytes, size_t least) {
  std::vector<char> b(bytes.begin(), bytes.end());
  b.push_back('\0');
  if (b.size() < least) b.resize(least, '\0');
  return b;
}

bool isFullForm(const char* t) {
  if (strlen(t) != ORSA_IPV6_FULL_LENGTH) return false;
  for (int i = 0; i < ORSA_IPV6_FULL_LENGTH; ++i) {
    char c = t[i];
    bool colon = i % 5 == 4;
    if (colon ? c != ':' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

void ipv6Text(const std::vector<uint8_t>& text) {
  std::vector<char> b = block(text, ORSA_IPV6_TEXT_SIZE);
  if (validateIPv6Address(b.data()) != 0) return;
  if (!isFullForm(b.data())) abort();
  std::string full = b.data();
  u8 bytes[16];
  std::vector<char> packed(full.begin(), full.end());
  packed.push_back('\0');
  if (StrToU8IPv6(packed.data(), bytes) != 0) abort();
  char back[ORSA_IPV6_TEXT_SIZE];
  U8IPv6ToStr(bytes, back);
  if (back[0] == '\0') {
    if (full != ORSA_IPV6_ZERO_TEXT) abort();
    return;
  }
  if (validateIPv6Address(back) != 0 || full != back) abort();
}

void ipv6Bytes(const std::vector<uint8_t>& in) {
  u8 a[16] = {};
  if (!in.empty()) memcpy(a, in.data(), in.size() < 16 ? in.size() : 16);
  std::vector<char> out(ORSA_IPV6_TEXT_SIZE, 'x');
  U8IPv6ToStr(a, out.data());
  if (strnlen(out.data(), out.size()) >= out.size()) abort();
  bool zero = true;
  for (u8 v : a) zero = zero && v == 0;
  if (zero != (out[0] == '\0')) abort();
  if (zero) return;
  if (validateIPv6Address(out.data()) != 0) abort();  // every printed text is an address
  u8 back[16];
  StrToU8IPv6(out.data(), back);
  if (memcmp(a, back, 16) != 0) abort();
  char via_kind[ORSA_IPV6_TEXT_SIZE];
  ipaddr_to_string(a, via_kind, 16);
  if (strcmp(via_kind, out.data()) != 0) abort();
}

void ipv4Text(uint8_t kind, const std::vector<uint8_t>& text) {
  std::vector<char> b = block(text, 1);
  std::vector<u8> octets(4, 0xEE);
  u32 valid = validateIPAddress(b.data(), octets.data(), kind % 7);
  if (valid > 1) abort();
  if (valid == 0) return;
  if (strlen(b.data()) > ORSA_IPV4_TEXT_MAX || kind % 7 > ORSA_IPV4_MASK) abort();
  // The octets as parsed print as a text every kind-4 check takes.
  char again[16];
  snprintf(again, sizeof again, "%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
  if (validateIPAddress(again, nullptr, ORSA_IPV4_ANY) != 1) abort();
}

void iscsiName(const std::vector<uint8_t>& text) {
  std::vector<char> b = block(text, 1);
  std::vector<char> out(ORSA_ISCSI_NAME_SIZE, 'x');
  if (validateISCSIName(b.data(), out.data()) != 0) return;
  size_t n = strlen(b.data());
  if (n == 0 || n > ORSA_ISCSI_NAME_MAX || strlen(out.data()) != n) abort();
  for (size_t i = 0; i < n; ++i) {
    char c = b[i];
    char want = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (out[i] != want) abort();
  }
  // A checked name passes again as it is.
  std::vector<char> twice(ORSA_ISCSI_NAME_SIZE, 'x');
  if (validateISCSIName(out.data(), twice.data()) != 0 || strcmp(out.data(), twice.data()) != 0) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzlib::beginInput(data, size);
  fuzzlib::Input in(data, size);
  switch (in.byte() % 4) {
    case 0:
      ipv6Text(in.bytes(64));
      break;
    case 1:
      ipv6Bytes(in.bytes(16));
      break;
    case 2: {
      uint8_t kind = in.byte();
      ipv4Text(kind, in.bytes(32));
      break;
    }
    default:
      iscsiName(in.bytes(300));
      break;
  }
  return 0;
}
