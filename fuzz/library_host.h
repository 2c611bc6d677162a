// What the library's fuzz targets share: the emulated host the library runs
// on (inside the throw-away test root, like the library's tests), the library
// opened over it once per process, and a reader of fuzz input bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulated_host.h"
#include "tree/hm_types.h"

namespace fuzzlib {

// Builds the default emulated host (a KS3 with NIC and iSCSI functions and a
// Veskarn) and writes the host's files; with `open_library` also runs
// ORSA_init over it. Exits the process when it is not in the test root.
chardev::EmulatedHost& startHost(bool open_library);
// The same over another host (the first call of either decides the host).
chardev::EmulatedHost& startHostOf(const chardev::HostSpec& spec, bool open_library);

// Starts one input: with TAMSIL_FUZZ_TRACE=<path> the input is written
// there first. Under a user-mode emulator libFuzzer's -timeout may not fire
// (its alarm can reach another thread); this finds the input of a hang.
void beginInput(const uint8_t* data, size_t size);
// Ends one input: forgets the host's record of the requests it answered
// (which would otherwise grow with every input).
void endInput();

// A property of the tree: its group's and its own tag, and its name.
struct PropertyRef {
  u32 group;
  u32 property;
  u32 flags;
};
// Every property of the current tree, in walk order.
std::vector<PropertyRef> properties();
// Every group of the current tree, in walk order.
std::vector<HmNode*> groups();

// Consumes fuzz input from the front.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), n_(size) {}
  size_t left() const { return n_; }
  uint8_t byte() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }
  uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
  uint32_t u32() { return static_cast<uint32_t>(u16()) | static_cast<uint32_t>(u16()) << 16; }
  // Up to `max` bytes; the rest of the input when fewer are left.
  std::vector<uint8_t> bytes(size_t max) {
    size_t k = max < n_ ? max : n_;
    std::vector<uint8_t> out(p_, p_ + k);
    p_ += k;
    n_ -= k;
    return out;
  }
  // Bytes up to (not including) the next `stop` byte, which is consumed.
  std::string until(uint8_t stop) {
    std::string out;
    while (n_ != 0) {
      uint8_t b = byte();
      if (b == stop) break;
      out.push_back(static_cast<char>(b));
    }
    return out;
  }

 private:
  const uint8_t* p_;
  size_t n_;
};

}  // namespace fuzzlib
