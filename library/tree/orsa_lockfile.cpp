#include "tree/orsa_lockfile.h"
#include "tree/orsa_entry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr uint32_t kBusyWaitSeconds = 3;
constexpr size_t kMaxLockPath = 255;
const char kInitLockPath[] = "/tmp/orsa_lock_init.txt";

void sleep_seconds(uint32_t seconds)
{
    timespec left{static_cast<time_t>(seconds), 0};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

OrsaLockWaitFn g_wait = sleep_seconds;

// Creates the lock file only when it does not exist yet, in one step, so two
// processes can never both believe they created it.
int create_exclusive(const char *path)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno == EEXIST ? 1 : -1;
    close(fd);
    return 0;
}

uint32_t acquire_path(const char *path)
{
    int r = create_exclusive(path);
    if (r == 0)
        return 0;
    if (r < 0)
        return 1;
    g_wait(kBusyWaitSeconds);
    return create_exclusive(path) == 0 ? 0 : 1;
}

uint32_t release_path(const char *path)
{
    return unlink(path) == 0 ? 0 : 1;
}

// "/tmp/ORSA_ASIC_<name>.txt" in out; false for an empty name or a path
// longer than 255 characters. A name with '/' would reach (and delete) files
// outside /tmp, so it is refused.
bool named_lock_path(const char *name, char (&out)[kMaxLockPath + 1])
{
    if (name == nullptr || name[0] == '\0' || strchr(name, '/') != nullptr)
        return false;
    int n = snprintf(out, sizeof out, "/tmp/ORSA_ASIC_%s.txt", name);
    return n > 0 && static_cast<size_t>(n) <= kMaxLockPath;
}

}  // namespace

void orsa_lockfile_set_wait(OrsaLockWaitFn fn)
{
    g_wait = fn != nullptr ? fn : sleep_seconds;
}

extern "C" {

uint32_t orsa_acquire_lock(const char *name)
{
    ORSA_ENTRY_LOCK();
    char path[kMaxLockPath + 1];
    if (!named_lock_path(name, path))
        return 1;
    return acquire_path(path);
}

uint32_t orsa_release_lock(const char *name)
{
    ORSA_ENTRY_LOCK();
    char path[kMaxLockPath + 1];
    if (!named_lock_path(name, path))
        return 1;
    return release_path(path);
}

uint32_t orsa_init_acquire_lock(void)
{
    ORSA_ENTRY_LOCK();
    return acquire_path(kInitLockPath);
}

uint32_t orsa_init_release_lock(void)
{
    ORSA_ENTRY_LOCK();
    return release_path(kInitLockPath);
}

uint32_t orsa_lock_init(void)
{
    ORSA_ENTRY_LOCK();
    return 0;
}

uint32_t orsa_lock_free(void)
{
    ORSA_ENTRY_LOCK();
    return 0;
}

}  // extern "C"
