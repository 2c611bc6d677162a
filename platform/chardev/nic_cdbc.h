// The crash-dump program runner of the host's NIC driver, as the emulated NIC
// device uses it: a program image run by the project's own interpreter
// (driver/tamsil_cdbc.cpp) against the register spaces of one emulated PCI
// function.
//
// The emulated NIC device stands in for the host's NIC driver, and that
// driver runs the dump programs the management library sends in its own
// kernel interpreter. Here the interpreter is the project's driver source,
// built into the 32-bit emulated host (nic_cdbc_run.cpp,
// nic_cdbc_drvhost.cpp); nothing else of the driver is linked, and this
// header exposes none of its types.
//
// Usage
//   chardev::CdbcResult r = chardev::runDumpProgram(card.function(0), card.gen(),
//                                                   image, words, offset, instance, asked, out, out_len);
//   r.status   // r0 at the end: the segment status
//   r.length   // bytes the program wrote from out[0]
#pragma once

#include <cstdint>

#include "fw_engine.h"
#include "hostbus.h"

namespace chardev {

struct CdbcResult {
  uint32_t status = 0;
  uint32_t length = 0;
};

// Runs `words` words of `image` (changed in place) on function `fn` of an
// adapter of generation `gen`: r8 = asked (bytes wanted), r9 = offset (the
// output position of out[0]), r11 = instance. Register spaces: the function's
// PCI-configuration, CSR and doorbell BARs; on a generation whose chip family
// code is 4 (Veskarn) CSR accesses go through the configuration window, on
// function 0 only. Stalls busy-wait in real time.
CdbcResult runDumpProgram(hostbus::Function* fn, adapter::Gen gen, uint32_t* image, uint32_t words,
                          uint32_t offset, uint32_t instance, uint32_t asked, uint8_t* out, uint32_t out_len);

// Assertion lines the interpreter logged in this process (a malformed
// instruction or a broken bound), and the last one's text.
unsigned cdbcAssertions();
const char* cdbcLastAssertion();

}  // namespace chardev
