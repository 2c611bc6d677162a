/*
 * orsa_entry.h - the one lock that every exported entry point of libdrelmo
 * takes, so that several threads of one client (a management agent, the IMA
 * framework) never walk or change the tree at the same time.
 *
 * Usage: the first statement of every exported function is
 *     ORSA_ENTRY_LOCK();
 * The lock is process-wide and recursive: an entry point that calls another
 * one (or a handler that runs an exported helper) takes it again without
 * blocking itself. It is released when the function returns. The last status
 * is kept per thread (tree/hm_status.h), so a thread reads its own result.
 */
#ifndef DRELMO_TREE_ORSA_ENTRY_H
#define DRELMO_TREE_ORSA_ENTRY_H

class OrsaEntryLock {
public:
    OrsaEntryLock();
    ~OrsaEntryLock();
    OrsaEntryLock(const OrsaEntryLock &) = delete;
    OrsaEntryLock &operator=(const OrsaEntryLock &) = delete;
};

#define ORSA_ENTRY_LOCK() OrsaEntryLock orsa_entry_lock_guard_

#endif
