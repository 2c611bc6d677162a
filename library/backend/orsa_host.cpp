#include "backend/orsa_host.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "iscsi/iscsi_persist.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

OrsaTimerSlot orsa_glob_timer[ORSA_TIMER_SLOTS];

namespace {

// Files the library writes get rw-r--r--; its folders also need the search
// bits, or nobody but root could reach the files inside.
constexpr mode_t kFileMode = 0644;
constexpr mode_t kDirMode = 0755;

int system_clock(struct timeval *now)
{
    return gettimeofday(now, nullptr);
}

OrsaClockFn g_clock = system_clock;

bool readable(const char *path)
{
    return access(path, R_OK) == 0;
}

// mkdir -p: every missing folder of path, each with kDirMode.
bool make_dirs(const char *path)
{
    char buf[256];
    size_t len = strlen(path);
    if (len == 0 || len >= sizeof buf)
        return false;
    memcpy(buf, path, len + 1);
    for (size_t i = 1; i <= len; i++) {
        if (buf[i] != '/' && buf[i] != '\0')
            continue;
        char saved = buf[i];
        buf[i] = '\0';
        if (mkdir(buf, kDirMode) != 0 && errno != EEXIST)
            return false;
        buf[i] = saved;
    }
    return true;
}

// A folder that cannot be read is created, else only given its mode again.
void prepare_dir(const char *path)
{
    if (!readable(path)) {
        if (!make_dirs(path))
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:cannot create %s\n", __func__, path);
    }
    if (chmod(path, kDirMode) != 0)
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:cannot set the mode of %s\n", __func__, path);
}

// The slot of an instance group numbered 0-15, or nullptr.
OrsaTimerSlot *timer_slot(HmNode *node)
{
    int32_t number = hm_instance_number(node);
    if (number < 0 || number >= ORSA_TIMER_SLOTS)
        return nullptr;
    return &orsa_glob_timer[number];
}

}  // namespace

void orsa_host_set_clock(OrsaClockFn fn)
{
    g_clock = fn != nullptr ? fn : system_clock;
}

void orsa_host_now(struct timeval *now)
{
    g_clock(now);
}

namespace {

// Applies a whole-file record lock of the given type with fcntl command cmd;
// false when there is no file or fcntl refuses.
bool whole_file_lock(FILE *fp, short type, int cmd)
{
    struct flock64 lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return fp != nullptr && fcntl(fileno(fp), cmd, &lock) == 0;
}

}  // namespace

uint32_t orsa_lock_file(FILE *fp)
{
    if (!whole_file_lock(fp, F_WRLCK, F_SETLKW64)) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s Failed to get file lock\n", __func__);
        return 1;
    }
    return 0;
}

uint32_t orsa_unlock_file(FILE *fp)
{
    if (!whole_file_lock(fp, F_UNLCK, F_SETLK64)) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s Failed to unlock file\n", __func__);
        return 1;
    }
    return 0;
}

FILE *ORSA_file_open(const char *path, const char *mode)
{
    if (path == nullptr || mode == nullptr)
        return nullptr;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: opening %s in %s mode\n", __func__, path, mode);
    return fopen64(path, mode);
}

void ORSA_file_close(FILE *fp)
{
    if (fp != nullptr)
        fclose(fp);
}

void ORSA_delete_file(const char *path)
{
    if (path == nullptr || !readable(path))
        return;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: %s deleted\n", __func__, path);
    unlink(path);
}

uint32_t ORSA_get_esx_version(void)
{
    FILE *fp = fopen(ORSA_ISSUE_NET_FILE, "r");
    if (fp != nullptr) {
        char *line = nullptr;
        size_t cap = 0;
        bool esxi = false;
        while (!esxi && getline(&line, &cap, fp) >= 0)
            esxi = strstr(line, "ESXi") != nullptr;
        free(line);
        fclose(fp);
        if (esxi)
            return ORSA_HOST_ESXI;
    }
    fp = fopen(ORSA_BANNER_FILE, "r");
    if (fp != nullptr) {
        fclose(fp);
        return ORSA_HOST_ESXI;
    }
    return ORSA_HOST_OTHER;
}

uint32_t ORSA_config_log_dir_permissions(void)
{
    if (ORSA_get_esx_version() != ORSA_HOST_ESXI)
        prepare_dir(ORSA_SCRATCH_DIR);
    if (!readable(ORSA_LOG_DIR)) {
        int rc = system("mkdir -p " ORSA_LOG_DIR);
        if (rc != 0)
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:mkdir -p %s returned %d\n", __func__, ORSA_LOG_DIR, rc);
        chmod(ORSA_LOG_DIR, kDirMode);
        if (readable(ORSA_LOG_FILE))
            chmod(ORSA_LOG_FILE, kFileMode);
    } else {
        chmod(ORSA_LOG_DIR, kDirMode);
    }
    return 0;
}

uint32_t ORSA_config_dir_permssions(void)
{
    if (ORSA_get_esx_version() != ORSA_HOST_ESXI)
        prepare_dir(ORSA_SCRATCH_DIR);
    prepare_dir(ORSA_DATA_DIR);
    memset(orsa_glob_timer, 0, sizeof orsa_glob_timer);
    ORSA_check_for_corrupted_database();
    static const char *const kChecked[] = {ORSA_DATA_DIR "savetgt.txt", ORSA_DATA_DIR "savestp.txt"};
    for (const char *path : kChecked) {
        if (readable(path)) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:File %s found.\n", __func__, path);
            ORSA_change_permissions_file(path);
        }
    }
    return ORSA_get_esx_version();
}

uint32_t ORSA_get_os_info(uint32_t *major, uint32_t *minor, char name[256])
{
    FILE *fp = fopen(ORSA_BANNER_FILE, "r");
    if (fp == nullptr)
        fp = fopen(ORSA_VMWARE_RELEASE_FILE, "r");
    if (fp == nullptr)
        return 1;
    if (name != nullptr)
        snprintf(name, 256, "%s", "VMWare ESX Server");
    static const struct {
        const char *text;
        uint32_t major, minor;
    } kVersions[] = {{"6.5", 6, 5}, {"6.0", 6, 0}, {"5.5", 5, 5}, {"5.1", 5, 1},
                     {"5.0", 5, 0}, {"4.0", 4, 0}, {"4.1", 4, 1}};
    char *line = nullptr;
    size_t cap = 0;
    bool found = false;
    while (!found && getline(&line, &cap, fp) >= 0) {
        for (const auto &v : kVersions) {
            if (strstr(line, v.text) != nullptr) {
                if (major != nullptr)
                    *major = v.major;
                if (minor != nullptr)
                    *minor = v.minor;
                found = true;
                break;
            }
        }
    }
    free(line);
    fclose(fp);
    return 0;
}

uint32_t ORSA_get_system_name(char name[256])
{
    if (name == nullptr)
        return 1;
    if (gethostname(name, 256) != 0)
        name[0] = '\0';
    name[255] = '\0';
    return 0;
}

uint32_t ORSA_get_system_time(uint16_t *month, uint16_t *year, uint16_t *hour, uint16_t *day,
                              uint16_t *second, uint16_t *minute, void * /*unused*/, int16_t *utc_bias)
{
    time_t now = time(nullptr);
    struct tm local{};
    struct tm utc{};
    localtime_r(&now, &local);
    gmtime_r(&now, &utc);
    // The UTC fields read back as local time; the C runtime decides on
    // daylight saving.
    utc.tm_isdst = -1;
    time_t utc_as_local = mktime(&utc);
    int bias = static_cast<int>((now - utc_as_local) / 60);
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:utc_bias = %d\n", __func__, bias);
    if (month != nullptr)
        *month = static_cast<uint16_t>(local.tm_mon + 1);
    if (year != nullptr)
        *year = static_cast<uint16_t>(local.tm_year + 1900);
    if (hour != nullptr)
        *hour = static_cast<uint16_t>(local.tm_hour);
    if (day != nullptr)
        *day = static_cast<uint16_t>(local.tm_mday);
    if (second != nullptr)
        *second = static_cast<uint16_t>(local.tm_sec);
    if (minute != nullptr)
        *minute = static_cast<uint16_t>(local.tm_min);
    if (utc_bias != nullptr)
        *utc_bias = static_cast<int16_t>(bias);
    return 0;
}

uint32_t ORSA_start_clock(HmNode *node)
{
    OrsaTimerSlot *slot = timer_slot(node);
    if (slot == nullptr)
        return 1;
    struct timeval now{};
    g_clock(&now);
    slot->seconds = static_cast<int32_t>(now.tv_sec);
    slot->microseconds = static_cast<int32_t>(now.tv_usec);
    return 0;
}

uint32_t ORSA_stop_clock(HmNode *node, uint32_t *ms)
{
    OrsaTimerSlot *slot = timer_slot(node);
    if (slot == nullptr || ms == nullptr)
        return 1;
    struct timeval now{};
    g_clock(&now);
    int64_t elapsed = (static_cast<int64_t>(now.tv_sec) - slot->seconds) * 1000 +
                      (static_cast<int64_t>(now.tv_usec) - slot->microseconds) / 1000;
    *ms = static_cast<uint32_t>(elapsed);
    return 0;
}
