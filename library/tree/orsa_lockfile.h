// Lock files under /tmp by which processes that use the library exclude each
// other. A lock is held while its (empty) file exists. Every function returns
// 0 for success and 1 otherwise.
#pragma once

#include <cstdint>

#define ORSA_LOCK_EXPORT __attribute__((visibility("default")))

extern "C" {

// Takes "/tmp/ORSA_ASIC_<name>.txt". When it is held, waits 3 seconds and
// tries once more; 1 when it is still held then.
ORSA_LOCK_EXPORT uint32_t orsa_acquire_lock(const char *name);
// Deletes "/tmp/ORSA_ASIC_<name>.txt"; 1 when there is none.
ORSA_LOCK_EXPORT uint32_t orsa_release_lock(const char *name);
// The same for "/tmp/orsa_lock_init.txt".
ORSA_LOCK_EXPORT uint32_t orsa_init_acquire_lock(void);
ORSA_LOCK_EXPORT uint32_t orsa_init_release_lock(void);
// Nothing to set up or tear down.
ORSA_LOCK_EXPORT uint32_t orsa_lock_init(void);
ORSA_LOCK_EXPORT uint32_t orsa_lock_free(void);

}  // extern "C"

// Test seam: the wait before the second try. The default sleeps for the
// given number of seconds; tests replace it to run at once (and may change
// the lock file meanwhile). nullptr restores the default.
using OrsaLockWaitFn = void (*)(uint32_t seconds);
void orsa_lockfile_set_wait(OrsaLockWaitFn fn);
