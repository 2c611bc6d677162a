/* Host commands run without a shell. */
#include "backend/orsa_cmdrun.h"

#include <errno.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include "tree/hm_log.h"

extern char **environ;

namespace {

OrsaCommandRunner g_runner = orsa_host_run_command;
void *g_context = nullptr;

}  // namespace

int orsa_host_run_command(void *, const char *const argv[])
{
    if (argv == nullptr || argv[0] == nullptr)
        return -1;
    pid_t pid = 0;
    // posix_spawn takes the vector as char *const[]; it does not write to it.
    int rc = posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char *const *>(argv), environ);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: cannot start %s (error %d)\n", __func__, argv[0], rc);
        // Where the C library reports a failed exec itself (rather than through
        // a child that exits), answer as the shell of system() would: 127 for a
        // program not found, 126 for one that cannot be run.
        if (rc == ENOENT)
            return 127;
        if (rc == EACCES || rc == ENOEXEC)
            return 126;
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: lost %s (error %d)\n", __func__, argv[0], errno);
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int orsa_run_command(const char *const argv[])
{
    return g_runner(g_context, argv);
}

void orsa_set_command_runner(OrsaCommandRunner runner, void *context)
{
    g_runner = runner != nullptr ? runner : orsa_host_run_command;
    g_context = runner != nullptr ? context : nullptr;
}
