// Firmware image files for tests, fuzz seeds and benchmarks: UFI images of
// the KS2, KS3 and Veskarn generations and Pivard object files, laid out as
// the library reads them, valid or broken on purpose.
//
// Usage
//   fwimage::Ufi u = fwimage::veskarn({.revision = 16, .version = "12.6.100.1"});
//   u.image.write("/tmp/fw.ufi");               // a sparse file where the layout is large
//   for (const fwimage::Part& p : u.parts) ...  // where each component's bytes are
//   fwimage::Ufi bad = u;
//   fwimage::setDirectoryCount(bad, 40);        // broken variants edit a valid one
//   fwimage::Image obj = fwimage::pivard({.data_bytes = 32768 - 184});
//
// Layouts (little-endian):
//   UFI header: "Kestrimondale Corp" at 0 (18 bytes), u32 image header count
//   at 68, the generation character at 72 ('2' KS2, '3' KS3, '4' Veskarn),
//   the ASIC revision at 96. KS2 ends its header there; KS3 and Veskarn put
//   48-byte image headers (u32 id at +0) at 128, and their component area
//   (the base) starts after them.
//   Flash directory: the cookie "*** KD FLAS" NUL-padded to 16 bytes, then
//   "H DIRECTORY *** "; u32 entry count at +44; 64-byte entries from +192
//   (u32 image type +0, u32 offset from the base +4, u32 size +8, u16 optype
//   +24, 0xFFFF: derived from the image type). It lies on a 32-byte step
//   from where the library looks (KS2: file offset 96, else the base).
//   KS2 components: the eight fixed regions, UFI offset X at file offset
//   X + 96. KS3: the fixed component table, at the base plus the row's
//   offset, for the image types the directory names. Veskarn: where the
//   directory says.
//   Pivard object file: u32 file size at 0, u16 1 at 4 (or u16 0xFEAA at 6),
//   file type 0xF7 at 11, revision name at 12, date at 140, revision at 152,
//   data from 184.
// A component's bytes: a stamp of 64 bytes at its start (its image type and
// the seed), the version record of fw_flash_components.h when it carries the
// firmware version, its CRC word in its last 4 bytes; zero elsewhere, or a
// pattern throughout when dense. The version a component carries is what
// the emulated adapter reports after it was flashed and the adapter reset:
// the record's layout is agreed with platform/adapter/fw_flash_components.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fwimage {

// A file: its size and the bytes that are not zero, as extents (a later
// extent wins where two overlap).
struct Extent {
  uint64_t offset;
  std::vector<uint8_t> bytes;
};

class Image {
 public:
  uint64_t size = 0;
  std::vector<Extent> extents;

  void put(uint64_t offset, const void* data, size_t n);
  void put8(uint64_t offset, uint8_t v) { put(offset, &v, 1); }
  void put16(uint64_t offset, uint16_t v);
  void put32(uint64_t offset, uint32_t v);
  void text(uint64_t offset, const std::string& s, size_t field);   // NUL padded
  // n bytes from offset as the file holds them (zeros past the end).
  std::vector<uint8_t> read(uint64_t offset, size_t n) const;
  uint32_t get32(uint64_t offset) const;
  // The whole file in memory.
  std::vector<uint8_t> flat() const;
  // Cuts (or extends with zeros) the file to `size` bytes.
  void resize(uint64_t new_size);
  // Writes the file; the parts no extent covers are holes. false on failure.
  bool write(const std::string& path) const;

  // The compact form fuzz seeds use: u32 size, then extents of u32 offset,
  // u16 length and the bytes (longer extents split). fromCompact reads the
  // same, stops at a malformed extent and keeps at most max_size bytes.
  std::vector<uint8_t> compact() const;
  static Image fromCompact(const uint8_t* data, size_t n, uint64_t max_size);
};

// One component of an image: where its bytes are in the file.
struct Part {
  uint32_t image_type;
  uint32_t optype;       // the directory's (0xFFFF derived), or the fixed table's
  uint64_t file_offset;
  uint32_t offset;       // UFI offset (KS2), or offset from the base
  uint32_t size;
  uint32_t crc;          // its last 4 bytes
};

struct Ufi {
  Image image;
  uint64_t base = 0;        // KS2: 96
  uint64_t directory = 0;   // file offset of the cookie
  std::vector<Part> parts;  // in directory (KS2: region table) order
};

// A directory entry to build (KS3 takes the fixed table's offsets and sizes
// for the image types listed; Veskarn takes all of it).
struct Entry {
  uint32_t image_type;
  uint16_t optype = 0xFFFF;
  uint32_t offset = 0;   // from the base
  uint32_t size = 0;
};

struct UfiOptions {
  uint8_t revision = 0;
  std::vector<uint32_t> image_ids = {1};
  std::vector<Entry> entries;   // none: the generation's default set
  std::string version;          // carried by the firmware component; "" none
  uint32_t seed = 1;
  bool dense = false;
};

// KS2: the eight fixed regions (entries are not used); the version goes
// into region 1 (optype 0).
Ufi ks2(const UfiOptions& o);
// KS3: the rows of the fixed table whose image types the entries name (the
// default: 0xA0 firmware and 0xE0 boot code); the version goes into 0xA0.
Ufi ks3(const UfiOptions& o);
// Veskarn: the entries as given (the default: firmware 0xA0 and boot code
// 0xE0 with explicit optypes 0 and 1, and 0x30, 0xD0 derived); the version
// goes into the first 0xA0 entry.
Ufi veskarn(const UfiOptions& o);

// The fixed tables the library writes from.
struct Region {
  uint32_t ufi_offset;
  uint32_t size;
  uint32_t optype;
};
extern const Region kKs2Regions[8];
struct Ks3Row {
  uint32_t ufi_offset;
  uint32_t optype;
  uint32_t size;
  uint32_t image_type;
};
extern const Ks3Row kKs3Rows[10];
// The optype of a derived Veskarn entry; 0xFFFFFFFF for an image type the
// update skips.
uint32_t veskarnOptype(uint32_t image_type);

// Broken on purpose.
void setSignature(Ufi& u, const std::string& text);      // 18 bytes at 0
void setGeneration(Ufi& u, char generation);
void setImageCount(Ufi& u, uint32_t count);              // header word 68 only
void setImageId(Ufi& u, size_t index, uint32_t id);
void setDirectoryCount(Ufi& u, uint32_t count);
void setEntryField(Ufi& u, size_t entry, size_t field_offset, uint32_t value, size_t width = 4);
void breakCookie(Ufi& u);

struct PivardOptions {
  uint32_t data_bytes = 4096;   // after the 184-byte header
  std::string version = "PVD 3.4.200.1";
  bool second_magic = false;    // u16 0xFEAA at 6 instead of u16 1 at 4
  bool big_endian = false;      // the first three u32 words byte-reversed
  uint32_t seed = 1;
};
Image pivard(const PivardOptions& o);

}  // namespace fwimage
