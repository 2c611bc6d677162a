// Frame work the adapter's data path does on the bytes themselves: header
// parsing, Internet checksums, TCP segmentation and the Toeplitz hash. Pure
// functions over byte vectors in network order, so tests can use them as a
// reference too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace adapter::dp {

// Where the headers of an Ethernet frame start. Offsets are from the first
// byte of the frame; 0 means "absent".
struct Layout {
  size_t l3 = 0;            // IPv4 or IPv6 header
  size_t l4 = 0;            // TCP or UDP header
  uint8_t proto = 0;        // L4 protocol (6 TCP, 17 UDP)
  bool ipv4 = false, ipv6 = false;
  bool vlan = false;        // one 802.1Q tag after the source MAC
  uint16_t tag = 0;         // its tag control word
};

// Parses an Ethernet frame starting at `off` (0 for the outer frame, the
// inner Ethernet header of an encapsulated one otherwise). IPv6 extension
// headers are not walked: the L4 header is found only right after the fixed
// header.
Layout parse(const std::vector<uint8_t>& f, size_t off = 0);

// The inner frame of a VXLAN packet (UDP to `vxlan_port` carrying the 8-byte
// VXLAN header): true with its layout, false when not encapsulated.
bool vxlanInner(const std::vector<uint8_t>& f, const Layout& outer, uint16_t vxlan_port, Layout* inner);

// The 16-bit one's-complement sum folded (not inverted) over bytes, seeded.
uint32_t sum16(const uint8_t* p, size_t n, uint32_t seed = 0);
uint16_t fold(uint32_t s);

// Checksums written into the frame in place / verified. An L4 checksum uses
// the pseudo header of the layout's IP version. A UDP checksum that comes out
// as 0 goes on the wire as 0xFFFF.
void fillIpv4Checksum(std::vector<uint8_t>& f, const Layout& l);
void fillL4Checksum(std::vector<uint8_t>& f, const Layout& l);
bool ipv4ChecksumOk(const std::vector<uint8_t>& f, const Layout& l);
bool l4ChecksumOk(const std::vector<uint8_t>& f, const Layout& l);

// Cuts a TCP frame (payload: every byte after the TCP header) into frames of at most
// `mss` payload bytes: IPv4 ids count up from the original's, lengths and
// sequence numbers follow the payload, FIN and PSH stay on the last segment
// and CWR on the first; every segment's checksums are filled. A frame that is
// not TCP, or an mss of 0, comes back as it is.
std::vector<std::vector<uint8_t>> segmentTcp(const std::vector<uint8_t>& f, uint32_t mss);

// Toeplitz hash of `input` under a key of at least input.size() + 4 bytes.
uint32_t toeplitz(const uint8_t* key, size_t key_len, const uint8_t* input, size_t n);

// Hash types an interface's RSS configuration enables.
enum HashType : uint16_t {
  kHashIpv4 = 0x1, kHashTcpIpv4 = 0x2, kHashIpv6 = 0x4, kHashTcpIpv6 = 0x8,
  kHashUdpIpv4 = 0x10, kHashUdpIpv6 = 0x20,
};

// The RSS hash of a frame: addresses, plus ports when the frame's L4 type is
// enabled; false when no enabled type covers the frame.
bool rssHash(const std::vector<uint8_t>& f, const Layout& l, uint16_t types,
             const std::array<uint8_t, 40>& key, uint32_t* hash);

}  // namespace adapter::dp
