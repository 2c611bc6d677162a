// NIC data regions as the adapter's flash hands them back, and MAC address
// texts: the region walk that puts factory addresses into the MAC TLVs, and
// the MAC text check.
//
// Input: one selector byte, then
//   even: six bytes of factory address, a size cut (2 bytes), the region
//         image as read (header and TLVs);
//   odd:  the MAC text.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/cfg_mac.h"
#include "drelmo.h"
#include "library_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzlib::Input in(data, size);
  uint8_t mode = in.byte();
  if ((mode & 1) == 0) {
    std::vector<uint8_t> factory = in.bytes(6);
    factory.resize(6, 0);
    uint16_t cut = in.u16();
    std::vector<uint8_t> image = in.bytes(ORSA_NIC_REGION_READ_SIZE);
    // What was read may be shorter than what the header names.
    if (cut != 0 && cut < image.size()) image.resize(cut);
    // The copy lives in a buffer of exactly its size, so that a step past it
    // is caught.
    uint8_t* work = static_cast<uint8_t*>(malloc(image.empty() ? 1 : image.size()));
    if (work == nullptr) return 0;
    if (!image.empty()) memcpy(work, image.data(), image.size());
    const uint32_t n = static_cast<uint32_t>(image.size());
    const uint32_t area = nic_region::tlv_area(work, n);
    if (area != 0 && ORSA_NIC_REGION_HEADER + area > n) abort();
    uint32_t same = 0;
    nic_region::restore_macs(work, n, factory.data(), &same);
    // Nothing outside the TLV area changes; a second walk finds nothing to do.
    for (uint32_t i = 0; i < n; ++i)
      if (work[i] != image[i] && (i < ORSA_NIC_REGION_HEADER || i >= ORSA_NIC_REGION_HEADER + area)) abort();
    if (nic_region::restore_macs(work, n, factory.data(), nullptr) != 0) abort();
    free(work);
  } else {
    std::vector<uint8_t> bytes = in.bytes(64);
    std::string text(bytes.begin(), bytes.end());
    text = text.c_str();
    uint8_t mac[6];
    if (validateMACAddress(text.c_str(), mac) == 1) {
      // A valid text is six groups and nothing more, and reads back the same.
      if (text.size() < 11 || text.size() > 17) abort();
      char again[24];
      mac::text_of(mac, again, sizeof again);
      uint8_t back[6];
      if (validateMACAddress(again, back) != 1 || memcmp(back, mac, 6) != 0) abort();
    }
  }
  return 0;
}
