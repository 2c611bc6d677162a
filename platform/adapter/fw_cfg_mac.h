// The adapter's MAC addresses as the management library reads and sets them:
// the factory address of every PCI function, its permanent (override)
// address, and the NIC data regions kept in flash.
//
// Usage
//   adapter::registerMacHandlers(fw);   // after the library's other handlers
//   fw.profiles().permanent_macs[pf]    // the override a function runs with
//   fw.putObject("/nicdata/Port0/Partition2/Region1", image);   // a region
//   adapter::factoryMac(fw, pf)         // what the factory query answers
//
// Commands (subsystem 1, from the host; every other request keeps the
// answer of the handler registered before):
//   1    byte 0 = 9: the factory address of the functions 0-7 the carriers
//        reach, function n at bytes 10 + 8n to 15 + 8n.
//   147  byte 0 = 9, byte 1 = 1: the factory address of the function the
//        header's pfnumber names (pfnumber - 1; 0: the carrier's) at 2-7.
//   Every function 0-7 of the device has a factory address (the base
//   address plus the function number): 147 answers it whether or not a
//   carrier reaches the function.
//   171  (header version 1) object "/nicdata/...": u32 bytes read at 0,
//        byte 7 bit 7 end of object, the data from byte 8, from the offset
//        at bytes 4-7. A missing object answers status 1.
//   172  (header version 1) object "/nicdata/...": 24-bit length at 0, byte 3
//        bit 7 end of object (the object ends after this write), offset at
//        4-7, the name at 8-111, the data from 112. Reply: u32 bytes written,
//        byte 4 = 1 when the object changed. Kept in the flash file.
//   165  a NIC (81) or iSCSI (82) function record whose byte 3 bit 1 is set
//        carries a new permanent address (bytes 10-15 or 14-19): after the
//        profile write succeeds it is the function's permanent address, kept
//        in the flash file (what the driver's MAC query answers after the
//        next reset, and at once here).
//   81/82 (KS2, header version 0, 836 bytes) the permanent address of each
//        function entry i (kind 0, state 0) lies at 64 + 52i (type 0, NIC)
//        or 68 + 52i (type 1, iSCSI) when it ends inside the table: the get
//        shows it there and the set takes it from there; the bytes of the
//        entries themselves that those positions cover are left as stored.
#pragma once

#include <array>
#include <cstdint>

#include "fw_engine.h"

namespace adapter {

void registerMacHandlers(Engine& fw);

// The address a function left the factory with.
std::array<uint8_t, 6> factoryMac(const Engine& fw, unsigned pf);

}  // namespace adapter
