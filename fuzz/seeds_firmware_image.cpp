// Writes the seeds of fuzz_firmware_image into the folder given: valid
// images of each kind in the target's input form (selector byte, then the
// image's compact form), a few KB each.
//   build/i386-fuzz/fuzz/seeds_firmware_image fuzz/corpus/firmware_image
#include <cstdio>
#include <string>
#include <vector>

#include "fwimage.h"

namespace {

bool put(const std::string& dir, const char* name, uint8_t selector, const fwimage::Image& img) {
  std::vector<uint8_t> bytes{selector};
  std::vector<uint8_t> c = img.compact();
  bytes.insert(bytes.end(), c.begin(), c.end());
  std::string path = dir + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = true;
  ok &= put(dir, "ks2", 0, fwimage::ks2({.version = "4.9.600.1"}).image);
  ok &= put(dir, "ks3", 1, fwimage::ks3({.revision = 16, .version = "10.7.600.1"}).image);
  ok &= put(dir, "ks3_ncsi_phy", 1 | 8, fwimage::ks3({.revision = 17, .entries = {{0xA0}, {0x10}, {0xC0}}}).image);
  ok &= put(dir, "pivard", 2, fwimage::pivard({.data_bytes = 2000}));
  ok &= put(dir, "pivard_big_endian", 2, fwimage::pivard({.data_bytes = 1000, .big_endian = true}));
  ok &= put(dir, "veskarn", 3, fwimage::veskarn({.revision = 16, .version = "11.4.600.1"}).image);
  ok &= put(dir, "veskarn_crc_differs", 3 | 4, fwimage::veskarn({.revision = 32}).image);
  ok &= put(dir, "veskarn_two_step", 3 | 16, fwimage::veskarn({.revision = 16}).image);
  ok &= put(dir, "veskarn_refused_chunk", 3 | 32,
            fwimage::veskarn({.revision = 16, .entries = {{0xA0, 0, 0x1000, 0x9000}, {0xD2, 0xFFFF, 0xA000, 0x9000}}})
                .image);
  return ok ? 0 : 1;
}
