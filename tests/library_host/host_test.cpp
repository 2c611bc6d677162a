// Host layer: whole-file locks between processes, files, folders, host
// identity from the host files, time texts and the host name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "backend/orsa_host.h"
#include "iscsi/iscsi_persist.h"

namespace {

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

bool exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

mode_t mode_of(const char *path)
{
    struct stat st{};
    if (stat(path, &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

// Host files of the test root: absent unless a test writes them.
class HostFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        unlink(ORSA_ISSUE_NET_FILE);
        unlink(ORSA_BANNER_FILE);
        unlink(ORSA_VMWARE_RELEASE_FILE);
        ASSERT_EQ(system("rm -rf /scratch/ferrosul /scratch/Talvor"), 0);
    }
};

// --- whole-file locks -------------------------------------------------

// Whether another process could take a write lock on the file now.
bool other_process_could_lock(const char *path)
{
    pid_t kid = fork();
    if (kid == 0) {
        int fd = open(path, O_RDWR);
        struct flock64 l{};
        l.l_type = F_WRLCK;
        l.l_whence = SEEK_SET;
        _exit(fd >= 0 && fcntl(fd, F_SETLK64, &l) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(kid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(FileLock, HeldAgainstOtherProcessesUntilReleased)
{
    const char *path = "/tmp/locked.txt";
    write_file(path, "x\n");
    FILE *fp = ORSA_file_open(path, "a");
    ASSERT_NE(fp, nullptr);
    ASSERT_EQ(orsa_lock_file(fp), 0u);
    EXPECT_FALSE(other_process_could_lock(path));
    ASSERT_EQ(orsa_unlock_file(fp), 0u);
    EXPECT_TRUE(other_process_could_lock(path));
    ORSA_file_close(fp);
}

TEST(FileLock, SecondWriterBlocksUntilTheFirstReleases)
{
    const char *path = "/tmp/shared.txt";
    write_file(path, "");
    FILE *fp = ORSA_file_open(path, "a");
    ASSERT_NE(fp, nullptr);
    ASSERT_EQ(orsa_lock_file(fp), 0u);

    int done[2];
    ASSERT_EQ(pipe(done), 0);
    pid_t kid = fork();
    ASSERT_GE(kid, 0);
    if (kid == 0) {
        close(done[0]);
        FILE *mine = fopen(path, "a");
        if (mine == nullptr || orsa_lock_file(mine) != 0)
            _exit(2);
        fputs("child\n", mine);
        fflush(mine);
        orsa_unlock_file(mine);
        fclose(mine);
        _exit(write(done[1], "k", 1) == 1 ? 0 : 3);
    }
    close(done[1]);
    pollfd p{done[0], POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 200), 0) << "the child got the lock while it was held";
    fputs("parent\n", fp);
    fflush(fp);
    ASSERT_EQ(orsa_unlock_file(fp), 0u);
    EXPECT_EQ(poll(&p, 1, 10000), 1);
    int status = 0;
    ASSERT_EQ(waitpid(kid, &status, 0), kid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ORSA_file_close(fp);
    close(done[0]);
    std::ifstream in(path);
    std::string a, b;
    std::getline(in, a);
    std::getline(in, b);
    EXPECT_EQ(a, "parent");
    EXPECT_EQ(b, "child");
}

TEST(FileLock, MissingStreamFails)
{
    EXPECT_EQ(orsa_lock_file(nullptr), 1u);
    EXPECT_EQ(orsa_unlock_file(nullptr), 1u);
}

TEST(Files, OpenCloseDelete)
{
    EXPECT_EQ(ORSA_file_open(nullptr, "r"), nullptr);
    EXPECT_EQ(ORSA_file_open("/tmp/x", nullptr), nullptr);
    EXPECT_EQ(ORSA_file_open("/tmp/does-not-exist", "r"), nullptr);
    FILE *fp = ORSA_file_open("/tmp/made.txt", "w");
    ASSERT_NE(fp, nullptr);
    ORSA_file_close(fp);
    ORSA_file_close(nullptr);
    EXPECT_TRUE(exists("/tmp/made.txt"));
    ORSA_delete_file("/tmp/made.txt");
    EXPECT_FALSE(exists("/tmp/made.txt"));
    ORSA_delete_file("/tmp/made.txt");
    ORSA_delete_file(nullptr);
}

// --- host identity ----------------------------------------------------

TEST_F(HostFiles, EsxiRecognisedFromIssueNetOrBanner)
{
    struct Case {
        const char *issue_net;  // nullptr: no file
        bool banner;
        uint32_t want;
    } cases[] = {
        {nullptr, false, ORSA_HOST_OTHER},
        {"Debian GNU/Linux 12\n", false, ORSA_HOST_OTHER},
        {"VMware ESXi 6.5.0\n", false, ORSA_HOST_ESXI},
        {"Welcome\nVMware ESXi\n", false, ORSA_HOST_ESXI},
        {"VMware esxi\n", false, ORSA_HOST_OTHER},  // the text is matched as written
        {"Debian\n", true, ORSA_HOST_ESXI},
        {nullptr, true, ORSA_HOST_ESXI},
    };
    for (const Case &c : cases) {
        unlink(ORSA_ISSUE_NET_FILE);
        unlink(ORSA_BANNER_FILE);
        if (c.issue_net != nullptr)
            write_file(ORSA_ISSUE_NET_FILE, c.issue_net);
        if (c.banner)
            write_file(ORSA_BANNER_FILE, "");
        EXPECT_EQ(ORSA_get_esx_version(), c.want)
            << (c.issue_net ? c.issue_net : "(none)") << " banner " << c.banner;
    }
}

TEST_F(HostFiles, OsInfoFromBannerElseRelease)
{
    struct Case {
        const char *banner;   // nullptr: no file
        const char *release;  // nullptr: no file
        uint32_t rc, major, minor;
    } cases[] = {
        {"VMware ESXi 6.5.0 build-123\n", nullptr, 0, 6, 5},
        {"first line\nVMware ESXi 5.1 update 3\n", "VMware ESX 4.0\n", 0, 5, 1},
        {nullptr, "VMware ESX Server 4.1\n", 0, 4, 1},
        {"6.0 and 6.5 on one line\n", nullptr, 0, 6, 5},  // 6.5 is tested first
        {"no version here\n", "5.5\n", 0, 99, 99},        // banner wins, nothing matched
        {nullptr, nullptr, 1, 99, 99},
    };
    for (const Case &c : cases) {
        unlink(ORSA_BANNER_FILE);
        unlink(ORSA_VMWARE_RELEASE_FILE);
        if (c.banner != nullptr)
            write_file(ORSA_BANNER_FILE, c.banner);
        if (c.release != nullptr)
            write_file(ORSA_VMWARE_RELEASE_FILE, c.release);
        uint32_t major = 99, minor = 99;
        char name[256] = "unset";
        SCOPED_TRACE(c.banner ? c.banner : "(no banner)");
        EXPECT_EQ(ORSA_get_os_info(&major, &minor, name), c.rc);
        EXPECT_EQ(major, c.major);
        EXPECT_EQ(minor, c.minor);
        EXPECT_STREQ(name, c.rc == 0 ? "VMWare ESX Server" : "unset");
    }
}

TEST(SystemName, IsTheHostName)
{
    char want[256] = {};
    ASSERT_EQ(gethostname(want, sizeof want - 1), 0);
    char name[256];
    memset(name, 'x', sizeof name);
    EXPECT_EQ(ORSA_get_system_name(name), 0u);
    EXPECT_STREQ(name, want);
}

class SystemTime : public ::testing::TestWithParam<std::pair<const char *, int>> {
protected:
    void TearDown() override
    {
        unsetenv("TZ");
        tzset();
    }
};

TEST_P(SystemTime, LocalFieldsAndUtcBias)
{
    setenv("TZ", GetParam().first, 1);
    tzset();
    uint16_t month = 0, year = 0, hour = 99, day = 0, second = 99, minute = 99;
    int16_t bias = 12345;
    time_t before = time(nullptr);
    ASSERT_EQ(ORSA_get_system_time(&month, &year, &hour, &day, &second, &minute, nullptr, &bias), 0u);
    struct tm local{};
    localtime_r(&before, &local);
    EXPECT_EQ(bias, GetParam().second);
    EXPECT_EQ(year, local.tm_year + 1900);
    EXPECT_EQ(month, local.tm_mon + 1);
    EXPECT_GE(day, 1);
    EXPECT_LE(day, 31);
    EXPECT_LE(hour, 23);
    EXPECT_LE(minute, 59);
    EXPECT_LE(second, 60);
}

INSTANTIATE_TEST_SUITE_P(Zones, SystemTime,
                         ::testing::Values(std::make_pair("UTC0", 0), std::make_pair("EST5", -300),
                                           std::make_pair("IST-5:30", 330),
                                           std::make_pair("NPT-5:45", 345)),
                         [](const auto &info) {
                             std::string name = info.param.first;
                             for (char &c : name)
                                 c = isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

// --- folders ----------------------------------------------------------

TEST_F(HostFiles, LogFolderIsCreatedAndScratchOnlyOffEsxi)
{
    ASSERT_EQ(chmod("/scratch", 0700), 0);
    write_file(ORSA_BANNER_FILE, "");  // ESXi: /scratch/ is left alone
    EXPECT_EQ(ORSA_config_log_dir_permissions(), 0u);
    EXPECT_TRUE(exists(ORSA_LOG_DIR));
    EXPECT_EQ(mode_of("/scratch"), 0700u);

    unlink(ORSA_BANNER_FILE);
    ASSERT_EQ(chmod(ORSA_LOG_DIR, 0700), 0);
    EXPECT_EQ(ORSA_config_log_dir_permissions(), 0u);
    EXPECT_EQ(mode_of("/scratch"), 0755u);
    EXPECT_EQ(mode_of(ORSA_LOG_DIR), 0755u);
}

TEST_F(HostFiles, ScratchIsCreatedOnlyOffEsxi)
{
    ASSERT_EQ(system("rm -rf /scratch"), 0);
    write_file(ORSA_BANNER_FILE, "");
    EXPECT_EQ(ORSA_config_dir_permssions(), static_cast<uint32_t>(ORSA_HOST_ESXI));
    // On ESXi /scratch/ belongs to the host; the data folder is made below it.
    EXPECT_TRUE(exists(ORSA_DATA_DIR));
    ASSERT_EQ(system("rm -rf /scratch"), 0);
    unlink(ORSA_BANNER_FILE);
    EXPECT_EQ(ORSA_config_dir_permssions(), static_cast<uint32_t>(ORSA_HOST_OTHER));
    EXPECT_EQ(mode_of("/scratch"), 0755u);
    EXPECT_TRUE(exists(ORSA_DATA_DIR));
}

TEST_F(HostFiles, DataFolderPreparedAndPersistenceFilesChecked)
{
    write_file(ORSA_ISSUE_NET_FILE, "VMware ESXi 6.5\n");
    // The data folder is made even when its parents are missing.
    ASSERT_FALSE(exists("/scratch/ferrosul"));
    orsa_glob_timer[3].seconds = 77;
    EXPECT_EQ(ORSA_config_dir_permssions(), static_cast<uint32_t>(ORSA_HOST_ESXI));
    ASSERT_TRUE(exists(ORSA_DATA_DIR));
    EXPECT_EQ(mode_of(ORSA_DATA_DIR), 0755u);
    EXPECT_EQ(orsa_glob_timer[3].seconds, 0);

    std::string good = "Kalderstone0,iSCSIPhysicalHBA0,LogicalHBA0";
    for (int i = 4; i <= 22; i++)
        good += ",v";
    write_file(ORSA_SAVETGT_FILE, good + "\n");
    ASSERT_EQ(chmod(ORSA_SAVETGT_FILE, 0600), 0);
    write_file(ORSA_SAVESTP_FILE, "garbage\n");
    unlink(ORSA_ISSUE_NET_FILE);
    EXPECT_EQ(ORSA_config_dir_permssions(), static_cast<uint32_t>(ORSA_HOST_OTHER));
    EXPECT_EQ(mode_of(ORSA_SAVETGT_FILE), 0644u);
    EXPECT_FALSE(exists(ORSA_SAVESTP_FILE));
}

}  // namespace
