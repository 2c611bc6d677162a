// NIC data regions as the adapter's flash hands them back, and MAC address
// texts: the region walk that puts factory addresses into the MAC TLVs, and
// the MAC text check.
//
// Input: one selector byte, then
//   bit 0 clear, bit 1 clear: six bytes of factory address, a size cut
//         (2 bytes), the region image as read (header and TLVs);
//   bit 0 clear, bit 1 set: the virtual MAC restore of the Veskarn
//         controller over the emulated host (bit 2: passing over partition
//         1), every region read answered by fuzz bytes laid over the reply
//         from its header on, each a length (2 bytes) and its bytes; once
//         they run out the firmware's answers stand;
//   bit 0 set: the MAC text.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/cfg_mac.h"
#include "drelmo.h"
#include "library_host.h"
#include "tree/hm_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzlib::beginInput(data, size);
  fuzzlib::Input in(data, size);
  uint8_t mode = in.byte();
  if ((mode & 3) == 2) {
    chardev::EmulatedHost& host = fuzzlib::startHost(true);
    host.setReplyRewrite([&](uint8_t* r, size_t n) {
      if (r[0] != 171 || in.left() == 0) return;
      size_t len = in.u16();
      std::vector<uint8_t> reply = in.bytes(len);
      if (!reply.empty()) memcpy(r, reply.data(), n < reply.size() ? n : reply.size());
    });
    HmNode* ks = internal_get_node(hm_get_root(""), "Kalderstone1", HM_KIND_GROUP);
    if (ks == nullptr) abort();
    ORSA_reset_virt_mac(ks, (mode & 4) != 0 ? 1 : 0);
    if (uint8_t* image = ORSA_read_nic_region(1, 0, 0, 0, 1)) free(image);
    host.setReplyRewrite({});
  } else if ((mode & 1) == 0) {
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
  fuzzlib::endInput();
  return 0;
}
