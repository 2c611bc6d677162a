// What the adapter's flash holds of firmware: the components the flash-write
// command (1/7) placed, addressed by (optype, flash offset), and a Pivard
// adapter's program object "/prg" (1/172). It lives in the profile store
// (fw_profile.h) and goes to the flash file with it (section 41), so a later
// engine booting from the file holds the same bytes.
//
// Usage
//   adapter::FlashComponents& fc = fw.profiles().flash;
//   fc.read(7, 0x20000, 4);             // bytes at (optype, offset); unwritten ones read 0xFF
//   fc.written(0, 0, 0x200000);         // every byte of the range was written
//   fc.version;                         // the version the flashed firmware carries
//   host.rebootAdapter(i);              // ... which the adapter then runs (applyRunningState)
//
// The version an image carries (private to the image fixture generator,
// platform/fwimage, and this emulator; nothing real uses it): a UFI
// component holds kFwVersionMark followed by the version text, NUL padded to
// kFwVersionTextSize bytes, anywhere in its data; a Pivard object file holds
// it as its revision text (file offset 152, 32 bytes). The flash command
// that completes a component (or the last write of "/prg") takes it: the
// flash version (controller attributes, 1/35) shows it at once, the active
// version after the next reset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace adapter {

class Engine;

constexpr char kFwVersionMark[16] = {'E', 'M', 'U', '-', 'F', 'W', '-', 'V', 'E', 'R', 'S', 'I', 'O', 'N', ':', 0};
constexpr size_t kFwVersionTextSize = 32;
constexpr size_t kPivardRevisionAt = 152;   // revision text of the object file's 184-byte header
constexpr size_t kPivardHeaderSize = 184;
constexpr uint8_t kErasedByte = 0xFF;

struct FlashComponents {
  // Flashed bytes per optype: segments by flash offset, none overlapping or
  // touching another (place() merges them).
  std::map<uint32_t, std::map<uint32_t, std::vector<uint8_t>>> flashed;
  // The Pivard program object as last written whole.
  std::vector<uint8_t> program;
  // The version of the last firmware flashed that carried one; empty: none.
  std::string version;

  // Not kept in flash: a firmware whose next download must be done twice
  // answers the component query (1/6) with this status (2 or 3) until the
  // adapter is reset; 0: off.
  uint8_t two_step_status = 0;

  void place(uint32_t optype, uint32_t offset, const uint8_t* data, size_t n);
  std::vector<uint8_t> read(uint32_t optype, uint32_t offset, size_t n) const;
  bool written(uint32_t optype, uint32_t offset, size_t n) const;
  // Bytes flashed for an optype, summed over its segments.
  size_t bytes(uint32_t optype) const;
};

// The version text an image's bytes carry (see above), or "".
std::string findFirmwareVersion(const uint8_t* data, size_t n);
// The revision text of a Pivard object file's header, or "".
std::string pivardRevision(const std::vector<uint8_t>& object);

// Section payload of the flash file. Runs of zero bytes (4 KiB blocks) are
// left out, so the sparse images tests flash keep the file small.
std::vector<uint8_t> encodeFlashComponents(const FlashComponents& fc);
bool decodeFlashComponents(const uint8_t* p, size_t n, FlashComponents* fc);

// The reset of the adapter as far as its firmware goes: the version flashed
// becomes the active one, a two-step download is done. Called by
// applyRunningState (fw_profile.h).
void applyFlashedFirmware(Engine& fw);

}  // namespace adapter
