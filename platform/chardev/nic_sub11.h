// What the host's NIC driver answers itself on its pass-through, before or
// instead of the firmware: the diagnostics subsystem's core-dump commands
// (subsystem 11) and a card that is in an unrecoverable error. The emulated
// NIC device calls these around every pass-through it hands to the firmware.
//
// On an adapter other than Pivard:
// - opcode 22 asking for component 4: answered here (no segments, status 1);
// - opcode 24 for component 4: the request comes back with lengths 9;
// - opcode 24 for component 1 carries a dump program (+16 bytes asked, +20
//   words, the image from +24): the driver runs it in its interpreter
//   (nic_cdbc.h) against the function's registers and answers +0 the
//   program's status, +4 the bytes it wrote, +8 the bytes. A request whose
//   program does not fit it, or a fault (adapter::DumpChunkFault) that
//   stands for no memory for the program, answers status 0xFF;
// - opcode 21 goes to the firmware; a success gets +4 the PCI-configuration
//   BAR's register 0x58 and, when that register's bits 8-11 are all ones, +8
//   its register 0x9C. With the card in error (Adapter::inUe) opcode 21 is
//   answered here: +0 0, +1 and +2 1, +16 7 components, the two registers;
// - with the card in error nothing else reaches the firmware: the
//   pass-through fails (EIO).
// Every answer made here has status 0 and response lengths as the driver
// sets them.
#pragma once

#include <cstdint>

#include "adapter.h"

namespace chardev {

enum class NicStep { Send, Answered, Failed };

// Before the firmware: `hdr` is the request header and payload, rewritten in
// place when answered here. Failed: *err is the errno of the failed call.
NicStep nicDriverBefore(adapter::Adapter& card, unsigned fn, uint8_t* hdr, int* err);
// After the firmware answered (rc 0) or did not (rc -1); req_len is the
// request's payload length as sent. Returns the call's result: 0 when the
// driver answered a failure itself.
int nicDriverAfter(adapter::Adapter& card, unsigned fn, uint8_t* hdr, uint32_t req_len, int rc);

// Puts the generation's interface words into the registers the driver reads
// for the dump properties (PCI-configuration BAR 0x58 and 0x9C of every
// function).
void prepareNicDriverRegisters(adapter::Adapter& card);

}  // namespace chardev
