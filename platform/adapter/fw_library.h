// The firmware commands that only the management library sends: controller
// attributes, configuration get/set pairs, flash writes, the event log, the
// iSCSI initiator commands, diagnostics and the size queries.
//
// Usage
//   adapter::Engine& fw = card.engine();
//   adapter::registerDiscoveryHandlers(fw);       // identity queries (fw_discovery.h)
//   adapter::registerLibraryHandlers(fw);         // adds what has no handler yet
//   adapter::Outcome out = fw.execute(rq);
//   adapter::completeLibraryResponse(fw, rq.buf); // the carrier finishes the header
//
// State lives per engine (configuration blobs by function and command, the
// event log). The firmware download (fw_library_flash.h) and the
// diagnostics (fw_library_diag.h) are registered with the rest. Payload
// offsets below are offsets in the payload (after the 16-byte header).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fw_engine.h"

namespace adapter {

// Registers a handler for every library command that has none yet (commands
// the driver also sends keep the driver's handler) and starts this engine's
// library state afresh.
void registerLibraryHandlers(Engine& fw);

// A size query answers with the reply length it needs, which may exceed the
// buffer the request came in; the carrier calls this after execute() so that
// the response header carries it (status 4 when the buffer was too small).
void completeLibraryResponse(Engine& fw, uint8_t* buf);
// For handlers of size-queried commands: the reply needs `needed` bytes and
// `sent` came; completeLibraryResponse then reports `needed` (status 4 when
// it is the larger).
void librarySizeReply(Engine& fw, uint32_t sent, uint32_t needed);
// The plain handler of the table (a stored slot, a size query answering the
// length setLibrarySizeAnswer gives): a test of the library's channel puts it
// back in front of a command that has a model of its own now.
Handler libraryPlainHandler();

// Inspection for tests.
// The stored blob of a configuration get/set pair (keyed by the get opcode).
std::vector<uint8_t>& librarySlot(Engine& fw, unsigned fn, uint8_t subsystem, uint8_t opcode);
// The adapter's event log: entries of 64 bytes (fw_library_diag.h: addEvent).
std::vector<uint8_t>& libraryEventLog(Engine& fw);
// The needed reply length a size query answers for (subsystem, opcode).
void setLibrarySizeAnswer(Engine& fw, uint8_t subsystem, uint8_t opcode, uint32_t needed);

}  // namespace adapter
