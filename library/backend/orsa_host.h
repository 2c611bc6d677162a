// The library's contact with the host it runs on: whole-file locks on open
// files, file helpers with a log line, the library's folders under /scratch,
// the host's identity, time and name, and the per-node stopwatch.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sys/time.h>

#include "tree/hm_log.h"
#include "tree/hm_types.h"

// Host paths.
#define ORSA_SCRATCH_DIR "/scratch/"
#define ORSA_DATA_DIR "/scratch/ferrosul/orsa/"
#define ORSA_ISSUE_NET_FILE "/etc/issue.net"
#define ORSA_BANNER_FILE "/etc/banner"
#define ORSA_VMWARE_RELEASE_FILE "/etc/vmware-release"

// ORSA_get_esx_version results.
#define ORSA_HOST_ESXI 2
#define ORSA_HOST_OTHER 3

// Blocking write lock on the whole file of the stream (fcntl); 0, or 1.
uint32_t orsa_lock_file(FILE *fp);
// Releases it; 0, or 1.
uint32_t orsa_unlock_file(FILE *fp);

// fopen64 with a debug log line; nullptr when path or mode is missing.
FILE *ORSA_file_open(const char *path, const char *mode);
void ORSA_file_close(FILE *fp);
// Deletes the file when it exists and is readable, with a log line.
void ORSA_delete_file(const char *path);

// 2 (ESXi) when a line of /etc/issue.net contains "ESXi" or /etc/banner
// exists, else 3.
uint32_t ORSA_get_esx_version(void);
// Prepares the log folder (and /scratch/ on a host that is not ESXi); 0.
uint32_t ORSA_config_log_dir_permissions(void);
// Prepares the data folder, clears the stopwatch, checks the persistence
// files; returns ORSA_get_esx_version().
uint32_t ORSA_config_dir_permssions(void);
// Version from /etc/banner (else /etc/vmware-release); 1 when neither opens.
uint32_t ORSA_get_os_info(uint32_t *major, uint32_t *minor, char name[256]);
// gethostname into a 256-byte buffer; 0.
uint32_t ORSA_get_system_name(char name[256]);
// Local time now and the offset of local time from UTC in minutes; 0.
uint32_t ORSA_get_system_time(uint16_t *month, uint16_t *year, uint16_t *hour, uint16_t *day,
                              uint16_t *second, uint16_t *minute, void *unused, int16_t *utc_bias);

// Stopwatch, one slot per instance number 0-15 of the timed group.
#define ORSA_TIMER_SLOTS 16
struct OrsaTimerSlot {
    int32_t seconds;
    int32_t microseconds;
    uint8_t reserved[8];
};
extern OrsaTimerSlot orsa_glob_timer[ORSA_TIMER_SLOTS];

// 1 without a node or for a node that is not an instance group numbered
// 0-15; else records the time now in its slot and returns 0.
uint32_t ORSA_start_clock(HmNode *node);
// Milliseconds since ORSA_start_clock of the same node; 1 as above, else 0.
uint32_t ORSA_stop_clock(HmNode *node, uint32_t *ms);

// Test seam: the clock of the stopwatch (gettimeofday by default; nullptr
// restores it).
using OrsaClockFn = int (*)(struct timeval *now);
void orsa_host_set_clock(OrsaClockFn fn);
// The time now by that clock.
void orsa_host_now(struct timeval *now);
