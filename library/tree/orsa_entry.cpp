/* The process-wide lock of the exported entry points. A statically
 * initialised recursive mutex: usable before any constructor has run and
 * never destroyed, so a client may call in from its own static objects. */
#include <pthread.h>

#include "tree/orsa_entry.h"

static pthread_mutex_t entry_mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

OrsaEntryLock::OrsaEntryLock()
{
    pthread_mutex_lock(&entry_mutex);
}

OrsaEntryLock::~OrsaEntryLock()
{
    pthread_mutex_unlock(&entry_mutex);
}
