/*
 * orsa_cmdrun.h - host commands the library runs (the VF settings' "ip link
 * set"), without a shell: the program gets its arguments as the vector
 * holds them, so a client's text is never read as a command line.
 *
 * Usage:
 *     const char *argv[] = {"ip", "link", "set", ifname, "vf", "3", "vlan", "10", nullptr};
 *     int status = orsa_run_command(argv);   // 0: the command succeeded
 * A runner answers the command's exit status, or -1 when it could not be
 * started or did not exit by itself (a program that is not found may also
 * answer 127, from the child that was to run it). Tests put a recorder in place of the
 * host's runner with orsa_set_command_runner.
 */
#ifndef DRELMO_BACKEND_ORSA_CMDRUN_H
#define DRELMO_BACKEND_ORSA_CMDRUN_H

typedef int (*OrsaCommandRunner)(void *context, const char *const argv[]);

/* Runs argv (terminated by a null pointer) through the runner in force. */
int orsa_run_command(const char *const argv[]);
/* Puts runner (with its context) in force; a null runner restores the
 * host's. */
void orsa_set_command_runner(OrsaCommandRunner runner, void *context);
/* The host's runner: the program is looked up on PATH, started and waited
 * for. */
int orsa_host_run_command(void *context, const char *const argv[]);

#endif
