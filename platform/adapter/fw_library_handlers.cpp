// Handlers of the commands only the management library sends.
//
// Most of them are configuration get/set pairs whose payload the firmware
// keeps as it was set: a set stores the request bytes under the get opcode,
// and the get answers with them (zeros until something was set). Commands
// with a layout the host reads get their own handler below.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "fw_library.h"
#include "fw_library_diag.h"
#include "fw_library_flash.h"
#include "fw_profile.h"
#include "wire.h"

namespace adapter {

using wire::get16;
using wire::get32;
using wire::put32;

namespace {

struct LibraryState {
  std::map<uint32_t, std::vector<uint8_t>> slots;  // fn << 16 | subsystem << 8 | get opcode
  std::map<uint16_t, uint32_t> size_answers;       // subsystem << 8 | opcode
  bool size_pending = false;
  uint32_t size_needed = 0;
  uint32_t size_sent = 0;
  std::vector<uint8_t> event_log;
};

// Library state of every engine, by engine; registerLibraryHandlers starts it afresh.
std::mutex states_mu;
std::map<const Engine*, LibraryState>& states() {
  static std::map<const Engine*, LibraryState> s;
  return s;
}
LibraryState& st(Engine& fw) {
  std::lock_guard<std::mutex> g(states_mu);
  return states()[&fw];
}

uint16_t key16(uint8_t sub, uint8_t op) { return static_cast<uint16_t>(sub << 8 | op); }
uint32_t slotKey(unsigned fn, uint8_t sub, uint8_t op) { return fn << 16 | uint32_t(sub) << 8 | op; }

enum class Kind : uint8_t {
  Get,   // answers the slot of `slot_op`
  Set,   // stores the request in the slot of `slot_op`
  Both,  // stores the request and answers it back
  Size,  // a size query: answers the reply length the full command needs
};

struct Row {
  uint8_t sub, op;
  Kind kind;
  uint8_t slot_op;   // get opcode whose slot the command reads or writes
  uint32_t needed;   // Size: default reply length the full command needs
};

// Commands the library sends and what the firmware does with them. Commands
// with their own handler (below, or the profile store's in fw_profile.cpp:
// profiles, capabilities, vNIC, QoS, link parameters, port forwarding) are
// not in this table.
const Row kRows[] = {
    // subsystem 1 (common)
    {1, 191, Kind::Get, 191, 0},  {1, 205, Kind::Get, 205, 0},  {1, 37, Kind::Get, 37, 0},
    {1, 124, Kind::Set, 124, 0},  {1, 44, Kind::Get, 44, 0},    {1, 43, Kind::Set, 44, 0},
    {1, 73, Kind::Get, 73, 0},    {1, 77, Kind::Get, 77, 0},    {1, 62, Kind::Set, 71, 0},
    {1, 71, Kind::Get, 71, 0},    {1, 132, Kind::Set, 133, 0},  {1, 133, Kind::Get, 133, 0},
    {1, 57, Kind::Set, 57, 0},    {1, 87, Kind::Set, 86, 0},    {1, 86, Kind::Get, 86, 0},
    {1, 110, Kind::Get, 110, 0},  {1, 2, Kind::Set, 2, 0},      {1, 67, Kind::Set, 66, 0},
    {1, 66, Kind::Get, 66, 0},    {1, 83, Kind::Get, 83, 0},    {1, 88, Kind::Get, 88, 0},
    {1, 130, Kind::Get, 130, 0},  {1, 128, Kind::Get, 128, 0},  {1, 127, Kind::Set, 127, 0},
    {1, 125, Kind::Get, 125, 0},  {1, 126, Kind::Set, 125, 0},  {1, 134, Kind::Get, 134, 0},
    {1, 79, Kind::Set, 78, 0},    {1, 78, Kind::Get, 78, 0},    {1, 172, Kind::Set, 171, 0},
    {1, 171, Kind::Get, 171, 0},  {1, 108, Kind::Get, 108, 0},
    // subsystem 2 (iSCSI network)
    {2, 63, Kind::Get, 63, 0},    {2, 28, Kind::Both, 28, 0},   {2, 29, Kind::Both, 28, 0},
    {2, 6, Kind::Get, 6, 0},      {2, 11, Kind::Set, 10, 0},    {2, 9, Kind::Set, 8, 0},
    {2, 10, Kind::Get, 10, 0},    {2, 8, Kind::Get, 8, 0},      {2, 14, Kind::Set, 14, 0},
    {2, 24, Kind::Get, 24, 0},    {2, 25, Kind::Get, 25, 0},    {2, 21, Kind::Both, 21, 0},
    {2, 18, Kind::Set, 18, 0},    {2, 17, Kind::Set, 17, 0},    {2, 23, Kind::Set, 22, 0},
    {2, 22, Kind::Get, 22, 0},    {2, 7, Kind::Get, 7, 0},      {2, 30, Kind::Get, 30, 0},
    // subsystem 6 (iSCSI initiator)
    {6, 60, Kind::Get, 60, 0},    {6, 29, Kind::Both, 29, 0},   {6, 32, Kind::Get, 32, 0},
    {6, 30, Kind::Both, 30, 0},   {6, 16, Kind::Get, 16, 0},    {6, 33, Kind::Both, 33, 0},
    {6, 14, Kind::Get, 14, 0},    {6, 48, Kind::Get, 48, 0},    {6, 53, Kind::Set, 52, 0},
    {6, 52, Kind::Get, 52, 0},    {6, 59, Kind::Get, 59, 0},    {6, 28, Kind::Both, 28, 0},
    {6, 27, Kind::Both, 27, 0},   {6, 34, Kind::Both, 34, 0},   {6, 25, Kind::Get, 25, 0},
    {6, 6, Kind::Get, 6, 0},      {6, 7, Kind::Set, 6, 0},      {6, 62, Kind::Get, 62, 0},
    {6, 17, Kind::Set, 16, 0},    {6, 23, Kind::Both, 23, 0},   {6, 24, Kind::Both, 24, 0},
    {6, 46, Kind::Get, 46, 0},    {6, 47, Kind::Get, 47, 0},
    // subsystem 11 (diagnostics, core dump)
    {11, 24, Kind::Get, 24, 0},   {11, 23, Kind::Get, 23, 0},   {11, 22, Kind::Get, 22, 0},
    {11, 17, Kind::Both, 17, 0},  {11, 18, Kind::Both, 18, 0},  {11, 19, Kind::Set, 20, 0},
    {11, 20, Kind::Get, 20, 0},
    // subsystems 15 (LLDP), 16 (DCBX), 18 (PHY), 19, 21
    {15, 3, Kind::Get, 3, 0},     {15, 2, Kind::Set, 1, 0},     {15, 1, Kind::Get, 1, 0},
    {16, 4, Kind::Get, 4, 0},     {16, 5, Kind::Set, 4, 0},     {16, 2, Kind::Set, 1, 0},
    {16, 1, Kind::Get, 1, 0},     {16, 3, Kind::Get, 3, 0},     {18, 9, Kind::Set, 9, 0},
    {18, 11, Kind::Set, 11, 0},   {18, 8, Kind::Get, 8, 0},     {18, 10, Kind::Set, 12, 0},
    {18, 12, Kind::Get, 12, 0},   {19, 2, Kind::Get, 2, 0},     {19, 3, Kind::Get, 3, 0},
    {21, 4, Kind::Both, 4, 0},
};

// Size queries: (subsystem, opcode) of the query and the reply length the
// full command needs by default.
const Row kSizeRows[] = {
    {2, 63, Kind::Size, 63, 0},      // event log: from the log itself
    {6, 60, Kind::Size, 60, 2048},   {6, 29, Kind::Size, 29, 1024}, {6, 32, Kind::Size, 32, 4096},
    {6, 30, Kind::Size, 30, 1024},   {6, 16, Kind::Size, 16, 1024}, {6, 33, Kind::Size, 33, 8192},
    {6, 14, Kind::Size, 14, 4096},   {6, 48, Kind::Size, 48, 4096},
};

const Row* findRow(uint8_t sub, uint8_t op) {
  for (const Row& r : kRows)
    if (r.sub == sub && r.op == op) return &r;
  return nullptr;
}

std::vector<uint8_t>& slot(Engine& fw, unsigned fn, uint8_t sub, uint8_t op) {
  return st(fw).slots[slotKey(fn, sub, op)];
}

void storeRequest(Engine& fw, Cmd& c, uint8_t slot_op) {
  slot(fw, c.fn, c.subsystem, slot_op).assign(c.in, c.in + c.in_len);
}

void answerSlot(Engine& fw, Cmd& c, uint8_t slot_op) {
  c.respond(c.req_len);
  const std::vector<uint8_t>& s = slot(fw, c.fn, c.subsystem, slot_op);
  c.wbytes(0, s.data(), std::min<size_t>(s.size(), c.req_len));
}

// The size query and the full command share an opcode: a request no longer
// than the query's payload asks for the size.
uint32_t sizeQueryLength(uint8_t sub, uint8_t op) {
  switch (key16(sub, op)) {
    case 0x023F: return 72;    // event log
    case 0x063C: return 40;
    case 0x061D: return 12;
    case 0x0620: return 816;
    case 0x061E: return 12;
    case 0x0610: return 276;
    case 0x0621: return 264;
    case 0x060E: return 1164;
    case 0x0630: return 1284;
    default: return 0;
  }
}

uint32_t neededFor(Engine& fw, uint8_t sub, uint8_t op) {
  LibraryState& s = st(fw);
  auto it = s.size_answers.find(key16(sub, op));
  if (it != s.size_answers.end()) return it->second;
  if (sub == 2 && op == 63) return 8 + static_cast<uint32_t>(s.event_log.size());
  for (const Row& r : kSizeRows)
    if (r.sub == sub && r.op == op) return r.needed;
  return 0;
}

void genericHandler(Engine& fw, Cmd& c) {
  uint32_t q = sizeQueryLength(c.subsystem, c.opcode);
  if (q != 0 && c.req_len == q) {
    // Fill what fits and report the full length; the carrier completes the header.
    LibraryState& s = st(fw);
    s.size_pending = true;
    s.size_needed = neededFor(fw, c.subsystem, c.opcode);
    s.size_sent = c.req_len;
    c.resp_len = c.req_len;
    return;
  }
  const Row* r = findRow(c.subsystem, c.opcode);
  if (r == nullptr) {
    c.fail(kStatusNotSupported);
    return;
  }
  switch (r->kind) {
    case Kind::Get:
      answerSlot(fw, c, r->slot_op);
      break;
    case Kind::Set:
      storeRequest(fw, c, r->slot_op);
      c.resp_len = 0;
      break;
    case Kind::Both:
    case Kind::Size:
      storeRequest(fw, c, r->slot_op);
      c.resp_len = c.req_len;
      break;
  }
}

// Event log (opcode 63): u32 entry count at 4, 64-byte entries from 8;
// opcode 62 clears it.
void eventLog(Engine& fw, Cmd& c) {
  if (sizeQueryLength(c.subsystem, c.opcode) == c.req_len) {
    genericHandler(fw, c);
    return;
  }
  const std::vector<uint8_t>& log = st(fw).event_log;
  uint32_t room = c.req_len > 8 ? (c.req_len - 8) / 64 : 0;
  uint32_t n = std::min<uint32_t>(room, static_cast<uint32_t>(log.size() / 64));
  c.respond(c.req_len);
  c.w32(4, n);
  c.wbytes(8, log.data(), size_t(n) * 64);
}
void clearEventLog(Engine& fw, Cmd& c) {
  st(fw).event_log.clear();
  c.resp_len = 0;
}

struct Special {
  uint8_t sub, op;
  Handler h;
};
// Commands the driver sends too (controller attributes, MAC queries, FAT,
// firmware configuration ...) are answered by the driver's handlers, the
// identity queries of discovery (attributes, OEM parameters, VPD, PCI
// configuration reads ...) by registerDiscoveryHandlers, the firmware
// download and the diagnostics by registerFlashHandlers and
// registerDiagHandlers.
const Special kSpecial[] = {
    {2, 63, eventLog},
    {2, 62, clearEventLog},
};

}  // namespace

void registerLibraryHandlers(Engine& fw) {
  {
    std::lock_guard<std::mutex> g(states_mu);
    states()[&fw] = LibraryState{};
  }
  for (const Special& s : kSpecial)
    if (!fw.hasHandler(s.sub, s.op)) fw.registerHandler(s.sub, s.op, s.h);
  for (const Row& r : kRows)
    if (!fw.hasHandler(r.sub, r.op)) fw.registerHandler(r.sub, r.op, genericHandler);
  for (const Row& r : kSizeRows)
    if (!fw.hasHandler(r.sub, r.op)) fw.registerHandler(r.sub, r.op, genericHandler);
  // These replace the rows above where they overlap.
  registerFlashHandlers(fw);
  registerDiagHandlers(fw);
}

void completeLibraryResponse(Engine& fw, uint8_t* buf) {
  LibraryState& s = st(fw);
  if (!s.size_pending) return;
  s.size_pending = false;
  if (buf[4] != 0) return;  // a fault answered instead of the handler
  if (s.size_needed > s.size_sent) buf[4] = 4;
  put32(buf, 12, s.size_needed);
}

Handler libraryPlainHandler() { return genericHandler; }

void librarySizeReply(Engine& fw, uint32_t sent, uint32_t needed) {
  LibraryState& s = st(fw);
  s.size_pending = true;
  s.size_needed = needed;
  s.size_sent = sent;
}

std::vector<uint8_t>& librarySlot(Engine& fw, unsigned fn, uint8_t subsystem, uint8_t opcode) {
  return slot(fw, fn, subsystem, opcode);
}

std::vector<uint8_t>& libraryEventLog(Engine& fw) { return st(fw).event_log; }

void setLibrarySizeAnswer(Engine& fw, uint8_t subsystem, uint8_t opcode, uint32_t needed) {
  st(fw).size_answers[key16(subsystem, opcode)] = needed;
}

}  // namespace adapter
