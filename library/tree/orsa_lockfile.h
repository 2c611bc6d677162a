// Lock files under /tmp by which processes that use the library exclude each
// other. A lock is held while its (empty) file exists. Every function returns
// 0 for success and 1 otherwise.
#pragma once

#include <cstdint>

#include "drelmo.h"

// Exported (drelmo.h):
// orsa_acquire_lock(name) takes "/tmp/ORSA_ASIC_<name>.txt". When it is held,
// waits 3 seconds and tries once more; 1 when it is still held then.
// orsa_release_lock(name) deletes "/tmp/ORSA_ASIC_<name>.txt"; 1 when there is none.
// orsa_init_acquire_lock / orsa_init_release_lock: the same for
// "/tmp/orsa_lock_init.txt".
// orsa_lock_init / orsa_lock_free: nothing to set up or tear down.

// Test seam: the wait before the second try. The default sleeps for the
// given number of seconds; tests replace it to run at once (and may change
// the lock file meanwhile). nullptr restores the default.
using OrsaLockWaitFn = void (*)(uint32_t seconds);
void orsa_lockfile_set_wait(OrsaLockWaitFn fn);
