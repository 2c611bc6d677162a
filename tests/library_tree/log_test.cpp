/* Log lines: their format, level tags, level and category gating; the
 * log-level file written and read back. */
#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "log_line.h"
#include "test_files.h"
#include "tree_fixture.h"

namespace {

/* Captures pdebug's lines in a temporary file. */
class LogCapture : public ::testing::Test {
protected:
    FILE *saved_fp = nullptr;
    i32 saved_level = 0;
    u32 saved_mask = 0;

    void SetUp() override
    {
        saved_fp = orsa_log_fp;
        saved_level = orsa_debug_level;
        saved_mask = orsa_debug_subsystem;
        orsa_log_fp = tmpfile();
        ASSERT_NE(orsa_log_fp, nullptr);
    }
    void TearDown() override
    {
        fclose(orsa_log_fp);
        orsa_log_fp = saved_fp;
        orsa_debug_level = saved_level;
        orsa_debug_subsystem = saved_mask;
    }
    std::string captured()
    {
        fflush(orsa_log_fp);
        rewind(orsa_log_fp);
        std::string s;
        char buf[512];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, orsa_log_fp)) > 0)
            s.append(buf, n);
        rewind(orsa_log_fp);
        if (ftruncate(fileno(orsa_log_fp), 0) != 0)
            ADD_FAILURE() << "cannot empty the capture";
        return s;
    }
};

TEST_F(LogCapture, LineFormatAndLevelTags)
{
    orsa_debug_level = 6;
    struct {
        i32 level;
        const char *tag;
    } cases[] = {{1, "FATAL:"}, {2, "CRITICAL:"}, {3, "ERROR:"}, {4, "Warning:"}, {5, "INFO:"}, {6, ""}, {0, ""}};
    for (auto &c : cases) {
        pdebug(ORSA_LOG_CAT_OTHER, c.level, "message %d\n", c.level);
        std::string line = captured();
        /* ctime text without its newline, the pid, three blanks, the tag, the message */
        EXPECT_TRUE(is_log_line(line, getpid(), c.tag, "message " + std::to_string(c.level) + "\n"))
            << "level " << c.level << ": [" << line << "]";
    }
}

TEST_F(LogCapture, LevelAndCategoryGating)
{
    struct {
        i32 configured;
        u32 mask, category;
        i32 level;
        bool written;
    } cases[] = {
        {2, 3, 2, 3, false}, /* level 3 line, level set to 2 */
        {3, 3, 2, 3, true},
        {3, 3, 1, 3, true},
        {0, 3, 2, 1, false}, /* 0 turns every tagged line off */
        {0, 3, 2, 0, true},  /* an untagged level-0 line is at most 0 */
        {6, 2, 1, 3, false}, /* the API category masked out */
        {6, 1, 1, 3, true},
        {6, 1, 2, 3, false},
        {6, 0, 3, 1, false},
        {5, 3, 2, 6, false}, /* debug lines need level 6 */
    };
    for (auto &c : cases) {
        orsa_debug_level = c.configured;
        orsa_debug_subsystem = c.mask;
        pdebug(c.category, c.level, "gated\n");
        EXPECT_EQ(!captured().empty(), c.written)
            << "configured " << c.configured << " mask " << c.mask << " category " << c.category << " level "
            << c.level;
    }
    /* without an open log nothing is written, and nothing breaks */
    FILE *fp = orsa_log_fp;
    orsa_log_fp = nullptr;
    orsa_debug_level = 6;
    pdebug(ORSA_LOG_CAT_OTHER, 3, "nowhere\n");
    orsa_log_fp = fp;
    EXPECT_TRUE(captured().empty());
}

using LevelFile = TreeTest;

TEST_F(LevelFile, WrittenLevelReadsBack)
{
    /* the fixture's ORSA_init created the missing file with the level in force */
    EXPECT_EQ(read_file(ORSA_CONF_FILE), std::string(ORSA_CONF_HEADER) + "0");
    struct stat st;
    ASSERT_EQ(stat(ORSA_CONF_FILE, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    for (i32 level : {4, 0, 6, 1}) {
        orsa_debug_level = level;
        ASSERT_EQ(ORSA_set_debug_level(), 0u);
        EXPECT_EQ(read_file(ORSA_CONF_FILE), std::string(ORSA_CONF_HEADER) + std::to_string(level));
        orsa_debug_level = 3;
        ASSERT_EQ(ORSA_get_debug_level(), 0u);
        EXPECT_EQ(orsa_debug_level, level) << "the level written is the level read";
    }
}

TEST_F(LevelFile, ValuesInTheFile)
{
    struct {
        const char *content;
        i32 before, after;
        bool rewritten;
    } cases[] = {
        {"ORSALogLevel 6\n", 0, 6, false},
        {"ORSALogLevel 6", 0, 6, false},
        {"# a comment\nORSALogLevel 2\r\n", 5, 2, false},
        {"ORSALogLevel 9", 4, 4, true},  /* out of range: rewritten with the level in force */
        {"ORSALogLevel -1", 4, 4, true},
        {"ORSALogLevel ", 3, 3, true},   /* a missing value is treated like a bad one */
        {"ORSALogLevel x", 3, 3, true},
        {"nothing here\n", 2, 2, false},
    };
    for (auto &c : cases) {
        write_file(ORSA_CONF_FILE, c.content);
        orsa_debug_level = c.before;
        EXPECT_EQ(ORSA_get_debug_level(), 0u);
        EXPECT_EQ(orsa_debug_level, c.after) << c.content;
        std::string now = read_file(ORSA_CONF_FILE);
        if (c.rewritten) {
            EXPECT_EQ(now, std::string(ORSA_CONF_HEADER) + std::to_string(c.after)) << c.content;
        } else {
            EXPECT_EQ(now, c.content);
        }
    }
    unlink(ORSA_CONF_FILE);
    EXPECT_EQ(ORSA_get_debug_level(), 1u);
}

TEST_F(LevelFile, UnwritableFileKeepsTheLevel)
{
    unlink(ORSA_CONF_FILE);
    ASSERT_EQ(mkdir(ORSA_CONF_FILE, 0755), 0); /* a directory in its place */
    orsa_debug_level = 5;
    EXPECT_EQ(ORSA_set_debug_level(), 1u);
    EXPECT_EQ(orsa_debug_level, 5);
    EXPECT_EQ(ORSA_update_loglevel(), 0u);
    EXPECT_EQ(orsa_debug_level, 5);
    rmdir(ORSA_CONF_FILE);
}

/* Names in the configuration folder that a write left behind besides liborsa.conf. */
static std::vector<std::string> leftovers()
{
    std::vector<std::string> names;
    DIR *d = opendir("/scratch/ferrosul/orsa");
    for (dirent *e = d != nullptr ? readdir(d) : nullptr; e != nullptr; e = readdir(d))
        if (strncmp(e->d_name, "liborsa.conf.", 13) == 0)
            names.push_back(e->d_name);
    if (d != nullptr)
        closedir(d);
    return names;
}

TEST_F(LevelFile, RewrittenWholeBesideItselfAndNeverThroughALink)
{
    const char *elsewhere = "/tmp/elsewhere.conf";
    struct {
        const char *what;
        void (*before)(const char *elsewhere);
        u32 rc;
    } cases[] = {
        {"an older file", [](const char *) { write_file(ORSA_CONF_FILE, "ORSALogLevel 1"); chmod(ORSA_CONF_FILE, 0600); }, 0},
        {"no file", [](const char *) { unlink(ORSA_CONF_FILE); }, 0},
        {"a link to another file", [](const char *e) { unlink(ORSA_CONF_FILE); ASSERT_EQ(symlink(e, ORSA_CONF_FILE), 0); }, 0},
        {"a dangling link", [](const char *) { unlink(ORSA_CONF_FILE); ASSERT_EQ(symlink("/tmp/none", ORSA_CONF_FILE), 0); }, 0},
        {"a directory", [](const char *) { unlink(ORSA_CONF_FILE); ASSERT_EQ(mkdir(ORSA_CONF_FILE, 0755), 0); }, 1},
    };
    mode_t old_mask = umask(077); /* the file's mode does not depend on the client's mask */
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        write_file(elsewhere, "keep");
        chmod(elsewhere, 0600);
        c.before(elsewhere);
        orsa_debug_level = 4;
        EXPECT_EQ(ORSA_set_debug_level(), c.rc);
        EXPECT_TRUE(leftovers().empty()) << leftovers().front();
        EXPECT_EQ(read_file(elsewhere), "keep") << "a link is never written through";
        struct stat st;
        ASSERT_EQ(stat(elsewhere, &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        if (c.rc == 0) {
            ASSERT_EQ(lstat(ORSA_CONF_FILE, &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link is replaced by the file";
            EXPECT_EQ(st.st_mode & 0777, 0644u);
            EXPECT_EQ(read_file(ORSA_CONF_FILE), std::string(ORSA_CONF_HEADER) + "4");
        }
        rmdir(ORSA_CONF_FILE);
    }
    umask(old_mask);

    /* A client's open reads the level through a link but leaves the mode of
     * the file it names alone. */
    write_file(elsewhere, "ORSALogLevel 5");
    chmod(elsewhere, 0600);
    unlink(ORSA_CONF_FILE);
    ASSERT_EQ(symlink(elsewhere, ORSA_CONF_FILE), 0);
    orsa_debug_level = 0;
    EXPECT_EQ(ORSA_update_loglevel(), 0u);
    EXPECT_EQ(orsa_debug_level, 5);
    struct stat st;
    ASSERT_EQ(stat(elsewhere, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    unlink(ORSA_CONF_FILE);
    unlink(elsewhere);
    orsa_debug_level = 0;
}

TEST_F(LevelFile, DebugLevelPropertyFollowsTheFile)
{
    char value[HM_VALUE_SIZE] = "";
    /* the text starts as "3" but a get answers the level in force */
    EXPECT_STREQ(HM_PROPERTY(&ORSADebugLevel_node)->value, "3");
    ASSERT_EQ(ORSA_get_property_val(0, ORSADebugLevel_node.tag, value, sizeof value), 0u);
    EXPECT_STREQ(value, "0");

    char five[] = "5";
    ASSERT_EQ(ORSA_set_property_val(0, ORSADebugLevel_node.tag, five, sizeof five), 0u);
    EXPECT_EQ(orsa_debug_level, 5);
    EXPECT_EQ(read_file(ORSA_CONF_FILE), std::string(ORSA_CONF_HEADER) + "5");

    write_file(ORSA_CONF_FILE, std::string(ORSA_CONF_HEADER) + "2");
    ASSERT_EQ(ORSA_get_property_val(0, ORSADebugLevel_node.tag, value, sizeof value), 0u);
    EXPECT_STREQ(value, "2");
    EXPECT_EQ(orsa_debug_level, 2);

    char seven[] = "7";
    EXPECT_EQ(ORSA_set_property_val(0, ORSADebugLevel_node.tag, seven, sizeof seven), 1u);
    EXPECT_EQ(orsa_last_status_code, 6u);
    EXPECT_EQ(orsa_debug_level, 2);
}

TEST_F(LevelFile, ApiLinesGoToTheLogFile)
{
    orsa_debug_level = 6;
    char value[HM_VALUE_SIZE];
    ORSA_get_property_val(0, 1, value, sizeof value);
    orsa_debug_subsystem = 2;
    ORSA_get_property_val(0, 2, value, sizeof value);
    orsa_debug_subsystem = 3;
    ORSA_exit(); /* closes the log */
    std::string log = read_file(ORSA_LOG_FILE);
    EXPECT_NE(log.find(",   --- entering ORSA_get_property_val ---\n"), std::string::npos) << log;
    size_t first = log.find("--- entering ORSA_get_property_val");
    EXPECT_EQ(log.find("--- entering ORSA_get_property_val", first + 1), std::string::npos) << "masked out";
    EXPECT_NE(log.find("INFO:Client disconnecting #1\n"), std::string::npos) << log;
    EXPECT_EQ(orsa_log_fp, nullptr);
}

} // namespace
