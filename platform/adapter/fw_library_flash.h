// The firmware download commands of the management library, as the
// adapter's firmware answers them: flash writes (1/7), the component query
// (1/6), the Pivard program object "/prg" (1/172) and the ASIC revision of
// the firmware configuration (1/58). The flash they write is the profile
// store's FlashComponents (fw_flash_components.h), kept in the flash file.
//
// Usage
//   adapter::registerLibraryHandlers(fw);            // registers these too
//   adapter::flashedAt(fw, 0, 0, n);                 // n bytes of optype 0 from offset 0
//   adapter::flashWrites(fw);                        // every 1/7 command received, in order
//   adapter::flashCommits(fw);                       // every component completed
//   adapter::addChunkFault(fw, {.optype = 9, .chunk = 2, .status = 3});
//   adapter::setCrcMismatch(fw, 7, true);            // 1/6 answers another CRC for optype 7
//   adapter::setTwoStepDownload(fw, 3);              // 1/6 answers 3 until the next reset
//   adapter::setAsicRevision(fw, 17);                // 1/58 byte 4
//
// Formats (payload offsets):
//   1/7   u32 0 operation (2 save a chunk, 1 save it and flash the whole,
//         3 erase a configuration: fw_profile.h), u32 4 optype, u32 8 chunk
//         length (at most 32768), u32 12 flash offset, data from 16. The
//         chunks of one download go one after another: a chunk's offset is
//         the download's first offset (the host sends no offset: appended)
//         or that plus the bytes before it (placed); anything else, a chunk
//         longer than 32768 or than the request carries: status 3. The flash
//         chunk places the download at (optype, first offset).
//   1/6   six u32 words in and out: 1 optype, 2 length (4), 3 flash offset;
//         word 4 answers the u32 flashed there (0xFFFFFFFF when nothing was).
//   1/172 (version 1, object "/prg"): u32 0 bits 0-23 length, bit 31 end of
//         file; u32 4 offset (the bytes written so far); data from 112. Reply
//         u32 0 bytes written, byte 4 (last write) 1 when the program changed.
//         Other objects: the handler registered before.
#pragma once

#include <cstdint>
#include <vector>

#include "fw_engine.h"

namespace adapter {

// Registered by registerLibraryHandlers (after its own rows, which these
// replace or, for 1/172 and 1/58, wrap); starts the knobs and logs afresh.
void registerFlashHandlers(Engine& fw);

constexpr uint32_t kAnyOptype = 0xFFFFFFFFu;
constexpr uint32_t kAnyChunk = 0xFFFFFFFFu;

// One flash write command as the firmware received it.
struct FlashWrite {
  uint32_t operation;  // 1 flash, 2 save, 3 erase
  uint32_t optype;
  uint32_t length;
  uint32_t offset;
  uint32_t request_length;
};
// One component the firmware completed: where its bytes went.
struct FlashCommit {
  uint32_t optype;
  uint32_t offset;
  uint32_t length;
};

const std::vector<FlashWrite>& flashWrites(Engine& fw);
const std::vector<FlashCommit>& flashCommits(Engine& fw);
// The program writes (1/172 "/prg") received: (offset, length, end of file).
struct ProgramWrite {
  uint32_t offset;
  uint32_t length;
  bool eof;
};
const std::vector<ProgramWrite>& programWrites(Engine& fw);
// Forgets the logs (not the flash).
void clearFlashLogs(Engine& fw);
// Forgets the logs, the knobs below and any download half done (not the flash).
void resetFlashKnobs(Engine& fw);
// n bytes at (optype, offset) of the flash; unwritten bytes read 0xFF.
std::vector<uint8_t> flashedAt(Engine& fw, uint32_t optype, uint32_t offset, size_t n);

// Faults of single chunks: the chunk numbered `chunk` (0-based within one
// download; kAnyChunk: every one) of a download of `optype` (kAnyOptype:
// any) is answered with status/additional instead of being taken, `times`
// times (-1: always). A refused chunk drops what its download saved.
struct ChunkFault {
  uint32_t optype = kAnyOptype;
  uint32_t chunk = kAnyChunk;
  uint8_t status = 0;
  uint8_t additional = 0;
  int times = 1;
};
void addChunkFault(Engine& fw, const ChunkFault& f);
// The same for the writes of "/prg" (the chunk counted within one download).
void addProgramFault(Engine& fw, const ChunkFault& f);
// "/prg" writes but the last answer at most `bytes` written per command (0:
// none; -1: all).
void setProgramWriteLimit(Engine& fw, int64_t bytes);
// The component query answers the flashed word XOR 1 for this optype
// (kAnyOptype: every one).
void setCrcMismatch(Engine& fw, uint32_t optype, bool on);
// A firmware release that needs two downloads: the component query answers
// `status` (2 or 3; 0 clears it) until the adapter is reset.
void setTwoStepDownload(Engine& fw, uint8_t status);
// The ASIC revision the firmware configuration (1/58, byte 4) reports to
// the host; -1: the engine's own.
void setAsicRevision(Engine& fw, int revision);

}  // namespace adapter
