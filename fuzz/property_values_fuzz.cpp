// Property values a client sets through the API, over the tree discovery
// built on the emulated host, and the validators under them.
//
// Input: one selector byte, then
//   even: a property index (2 bytes, taken modulo the properties of the
//         current tree), a size selector byte, the value text;
//   odd:  a value type byte, min and max (4 bytes each), a value list up to
//         a NUL byte, the value text, validated directly.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "library_host.h"
#include "tree/orsa_api.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzlib::startHost(true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzlib::beginInput(data, size);
  fuzzlib::Input in(data, size);
  uint8_t mode = in.byte();
  if ((mode & 1) == 0) {
    std::vector<fuzzlib::PropertyRef> props = fuzzlib::properties();
    if (props.empty()) abort();
    const fuzzlib::PropertyRef& p = props[in.u16() % props.size()];
    uint8_t sizeSel = in.byte();
    std::vector<uint8_t> text = in.bytes(HM_VALUE_SIZE + 16);
    // The caller's text, NUL-terminated in a buffer of exactly its size.
    std::vector<char> value(text.begin(), text.end());
    value.push_back('\0');
    u32 sizeArg = sizeSel % 3 == 0 ? static_cast<u32>(value.size()) : sizeSel % 3 == 1 ? HM_VALUE_SIZE : sizeSel;
    ORSA_set_property_val(p.group, p.property, value.data(), sizeArg);
    // Whatever was set reads back within a slot.
    char back[HM_VALUE_SIZE];
    memset(back, 0, sizeof back);
    if (ORSA_get_property_val(p.group, p.property, back, sizeof back) == 0 && strnlen(back, sizeof back) == sizeof back)
      abort();
    fuzzlib::endInput();
    return 0;
  }
  uint8_t type = in.byte();
  i32 min = static_cast<i32>(in.u32());
  i32 max = static_cast<i32>(in.u32());
  std::string list = in.until(0);
  if (list.size() >= HM_LIST_SIZE) list.resize(HM_LIST_SIZE - 1);
  std::vector<uint8_t> text = in.bytes(HM_VALUE_SIZE - 1);
  HmValueSlot slot;
  memset(slot, 0, sizeof slot);
  if (!text.empty()) memcpy(slot, text.data(), text.size());
  orsa_validate(slot, list.c_str(), type, min, max);
  if (strnlen(slot, sizeof slot) == sizeof slot) abort();  // a rewrite stays inside the slot
  return 0;
}
