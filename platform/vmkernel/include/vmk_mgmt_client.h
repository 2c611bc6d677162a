// A user-space client of a driver's management channel, as a management tool
// would send requests: every callback takes the 28-byte request header (the
// function's PCI name in bytes 0-15, u32 operation at 16, u32 length at 20,
// u32 status written back at 24) and one parameter of the size the channel
// declares. It reads answers at their byte offsets and includes no driver
// header.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "vmk_testing.h"

namespace vmktest {

class MgmtClient {
 public:
  static constexpr size_t kHeaderSize = 28;

  explicit MgmtClient(std::string channel = "tamsilMgmtToKernel") : channel_(std::move(channel)) {}

  struct Reply {
    VMK_ReturnStatus result = VMK_OK;
    uint32_t status = 0;  // the header's status word after the call
  };

  // The header of a request to the function named `pciName` (at most 15
  // characters are sent, NUL-terminated).
  static std::vector<uint8_t> header(const std::string& pciName, uint32_t operation = 0, uint32_t length = 0,
                                     uint32_t status = 0) {
    std::vector<uint8_t> h(kHeaderSize, 0);
    memcpy(h.data(), pciName.data(), pciName.size() < 15 ? pciName.size() : 15);
    put32(h, 16, operation);
    put32(h, 20, length);
    put32(h, 24, status);
    return h;
  }

  // Sends callback `id` with `param`, whose size must be the declared one;
  // `param` holds what the driver wrote back.
  Reply call(uint64_t id, const std::string& pciName, std::vector<uint8_t>* param, uint32_t operation = 0,
             uint32_t length = 0) const {
    std::vector<uint8_t> h = header(pciName, operation, length);
    return call(id, &h, param);
  }
  // The same with a header the caller built.
  Reply call(uint64_t id, std::vector<uint8_t>* hdr, std::vector<uint8_t>* param) const {
    Reply r;
    r.result = mgmtInvoke(channel_, id, hdr->data(), hdr->size(), param->data(), param->size());
    r.status = get32(*hdr, 24);
    return r;
  }

  // Reads of an answer.
  static uint32_t get32(const std::vector<uint8_t>& b, size_t off) {
    uint32_t v = 0;
    memcpy(&v, b.data() + off, 4);
    return v;
  }
  static uint16_t get16(const std::vector<uint8_t>& b, size_t off) {
    uint16_t v = 0;
    memcpy(&v, b.data() + off, 2);
    return v;
  }
  static void put32(std::vector<uint8_t>& b, size_t off, uint32_t v) { memcpy(b.data() + off, &v, 4); }
  // The NUL-terminated text of a field of at most `max` bytes.
  static std::string text(const std::vector<uint8_t>& b, size_t off, size_t max) {
    const char* p = reinterpret_cast<const char*>(b.data() + off);
    return std::string(p, strnlen(p, max));
  }

 private:
  std::string channel_;
};

}  // namespace vmktest
