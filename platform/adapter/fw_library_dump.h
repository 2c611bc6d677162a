// What the adapter firmware keeps for the management library's diagnostic
// reads: the core-dump view (dump properties, the components the firmware
// describes itself with their segments, the firmware command line that rides
// on the segment read), the firmware trace log (FAT) and its Pivard object,
// the extended firmware log (string table, RAM snapshot and flash copy) and
// the transceiver pages of each port.
//
// Usage
//   adapter::Engine& fw = card.engine();
//   adapter::registerDumpHandlers(fw);             // after the library's handlers
//   adapter::DumpSetup& d = adapter::dumpSetup(fw); // shape the replies
//   d.components[2].segments[0].length = 70000;
//   d.cli["show version"] = "11.2.1149.0\n";
//   d.chunk_faults.push_back({2, 0, 0, 64000});    // that read fails
//   fw.fatLog() = {...};                            // the trace log itself
//   d.extlog.ram.assign(2000 * 64, 0x5A);           // 2000 snapshot entries
//
// Commands (payload offsets; the request's fields as the library lays them):
// - 11/21 dump properties: the handler that was registered before answers
//   byte 2 (chip state); this one adds versions (0, 1), sli_intf at 4,
//   asic_id at 8 and max_components at 16.
// - 11/22 component properties: +0 component -> +0 segments, +4 status.
// - 11/23 segment properties: +0 component, +4 segment -> +0 low, +1 high
//   version, +4 status, +8 highest instance (-1 none), +12 length.
// - 11/24 segment read: +0 component, +4 segment, +8 instance, +12 offset,
//   +16 bytes asked -> +0 segment status, +4 bytes, +8 data. Component 1
//   carries a dump program, which the host's NIC driver runs (the firmware
//   refuses it with 2). Component 3 segment 0xFFFFFFFF is the command line:
//   +20 the length of the text at +24; the output comes back as data, an
//   unknown command with segment status 0x30004.
// - 1/68 FAT (from the library's devices): +0 operation (0 read, 1 size,
//   2 clear), +4 offset, +8 length; the size answers at +0, data at +16.
//   The FAT is a 4-byte header (the log's length) and the log.
// - 1/171 (from the library's devices) for "/dbg/dump.bin": +0 bits 0-23
//   the length wanted (0: the object's length), +4 offset -> +0 bytes read,
//   +4 bit 31 end of object, +8 data (at most 32768). Other names go to the
//   handler registered before.
// - 1/127, 1/128, 1/130 extended log: configure the snapshot (+0 entries),
//   retrieve entries (+0 source 1 flash / 0 snapshot, +4 first index, +8 at
//   most -> +0 count, +4 entries of 64 bytes), read the string table (+0
//   offset, +4 bytes asked -> +0 returned, +4 remaining, +8 bytes).
// - 1/73 transceiver page: +0 page 0xA0 or 0xA2, +4 port -> +8 64 words;
//   66 where the generation has no transceiver access (KS2 by default).
//
// Everything lives per engine and starts afresh at registerDumpHandlers.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fw_engine.h"

namespace adapter {

struct DumpSegment {
  uint8_t low_version = 0, high_version = 1;
  uint32_t status = 0;         // segment status of the properties and of every read
  int32_t max_instance = 0;    // -1: no instance
  uint32_t length = 0;         // bytes per instance
};

struct DumpComponent {
  uint32_t status = 0;
  std::vector<DumpSegment> segments;
};

// A segment read that fails: the firmware answers `status` (a firmware
// status, 3 by default); for a dump program, which the host's NIC driver
// runs, the driver's own failure (no memory for the program) instead.
struct DumpChunkFault {
  uint32_t component, segment, instance, offset;
  uint8_t status = 3;
  int times = -1;   // -1: every matching read
};

struct ExtLogSetup {
  std::vector<uint8_t> strings;   // the string table
  std::vector<uint8_t> ram;       // the entries a snapshot holds, 64 bytes each
  std::vector<uint8_t> flash;     // the flash copy's entries
  uint32_t per_reply = 998;       // entries one retrieve answers at most
  int64_t reported_total = -1;    // entries the configure answers (-1: those in ram)
  uint32_t strings_per_reply = 62992;
};

struct DumpSetup {
  // Dump properties.
  uint8_t low_version = 0, high_version = 1;
  uint32_t sli_intf = 0, asic_id = 0;   // the generation's (sliIntf / asicId) unless set
  uint32_t max_components = 7;
  std::map<uint32_t, DumpComponent> components;
  std::vector<DumpChunkFault> chunk_faults;
  // Firmware command line: command text -> output; others answer 0x30004.
  std::map<std::string, std::string> cli;
  // A raw FAT image (header included) instead of the one made from fatLog().
  bool fat_raw = false;
  std::vector<uint8_t> fat;
  ExtLogSetup extlog;
  // Transceiver pages by (port, page); a missing one reads pattern words.
  bool transceiver_supported = true;
  std::map<std::pair<unsigned, uint8_t>, std::vector<uint32_t>> transceiver;
};

void registerDumpHandlers(Engine& fw);
DumpSetup& dumpSetup(Engine& fw);

// The identity words a generation's dump properties carry.
uint32_t sliIntf(Gen g);
uint32_t asicId(Gen g);

// The byte at `pos` of an instance of a segment the firmware describes.
uint8_t firmwareSegmentByte(uint32_t component, uint32_t segment, uint32_t instance, uint32_t pos);
// Word i of a transceiver page nobody set.
uint32_t transceiverPatternWord(unsigned port, uint8_t page, unsigned i);

// For the host's NIC driver, which runs dump programs itself: true when a
// read of (component, segment, instance, offset) is to fail (a fault with
// times left, which this counts down).
bool takeDumpChunkFault(Engine& fw, uint32_t component, uint32_t segment, uint32_t instance, uint32_t offset,
                        uint8_t* status);

}  // namespace adapter
