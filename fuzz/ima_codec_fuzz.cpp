// The plugin's wide-text codec: UTF-8 from the tree and wide strings from
// the host, into and out of fixed buffers of every size. Whatever converts
// must convert back to the same text.
//
// Input: one selector byte (odd: the rest is UTF-8; even: the rest is
// little-endian 32-bit code points), one buffer-length byte, the text.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ima/ima_plugin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  bool utf8 = data[0] & 1;
  size_t length = data[1] + 1;
  data += 2;
  size -= 2;
  if (utf8) {
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    std::vector<IMA_WCHAR> wide(length, 0x5A5A5A5A);
    if (Sample_Iscsi_ToWide(wide.data(), text.data(), length) != IMA_STATUS_SUCCESS) return 0;
    if (wide[length - 1] != 0) abort();  // always ended within the buffer
    std::vector<char> back(4 * length + 1, 'x');
    if (Sample_Iscsi_ToUtf8(back.data(), wide.data(), back.size()) != IMA_STATUS_SUCCESS) abort();
    if (strcmp(back.data(), text.data()) != 0) abort();
  } else {
    std::vector<IMA_WCHAR> wide(size / 4 + 1, 0);
    memcpy(wide.data(), data, size / 4 * 4);
    std::vector<char> text(length, 'x');
    if (Sample_Iscsi_ToUtf8(text.data(), wide.data(), length) != IMA_STATUS_SUCCESS) return 0;
    if (text[length - 1] != '\0' || strlen(text.data()) >= length) abort();
    std::vector<IMA_WCHAR> back(wide.size(), 0x5A5A5A5A);
    if (Sample_Iscsi_ToWide(back.data(), text.data(), back.size()) != IMA_STATUS_SUCCESS) abort();
    for (size_t i = 0; i < wide.size(); ++i) {
      if (back[i] != wide[i]) abort();
      if (wide[i] == 0) break;
    }
  }
  return 0;
}
