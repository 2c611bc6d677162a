// Field splitters of the persistence text files, the start-up validation
// that deletes corrupted files, the migration from the old folder, and the
// access mode reset.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "iscsi/iscsi_persist.h"
#include "tree/hm_engine.h"

namespace {

struct SplitCase {
    const char *line;
    uint32_t n;
    const char *delimiters;
    const char *want;  // nullptr: no field
};

std::string show(const char *s)
{
    return s ? std::string("\"") + s + "\"" : "(null)";
}

void check_splitter(char *(*fn)(const char *, uint32_t, const char *), const SplitCase &c)
{
    char *got = fn(c.line, c.n, c.delimiters);
    SCOPED_TRACE(show(c.line) + " field " + std::to_string(c.n) + " of " + show(c.delimiters));
    if (c.want == nullptr) {
        EXPECT_EQ(got, nullptr) << show(got);
    } else {
        ASSERT_NE(got, nullptr);
        EXPECT_STREQ(got, c.want);
    }
    orsa_dfree(got);
}

TEST(ParseFile, KeepsEmptyFields)
{
    const SplitCase cases[] = {
        {"a,b,c", 1, ",", "a"},
        {"a,b,c", 3, ",", "c"},
        {"a,b,c", 4, ",", nullptr},          // missing field
        {"a,,c", 2, ",", ""},                // empty field kept
        {"a,,c", 3, ",", "c"},
        {",a", 1, ",", ""},                  // leading delimiter
        {",a", 2, ",", "a"},
        {"a,b,", 3, ",", ""},                // trailing delimiter
        {"a,b,c\n", 3, ",", "c"},            // final newline removed
        {"a,b,\n", 3, ",", ""},
        {"a,b\n,c", 2, ",", "b"},
        {"abc", 1, ",", nullptr},            // no delimiter at all
        {"abc\n", 1, ",", nullptr},
        {"", 1, ",", nullptr},
        {"a,b", 0, ",", nullptr},
        {"a;b,c", 2, ",;", "b"},             // any of the delimiter characters
        {"a;;b,c", 3, ",;", "b"},
        {"vmnic0/vmk1/x", 2, "/", "vmk1"},
        {nullptr, 1, ",", nullptr},
        {"a,b", 1, nullptr, nullptr},
    };
    for (const SplitCase &c : cases)
        check_splitter(parse_file, c);
}

TEST(OrsaParse, RunsOfDelimitersCountAsOne)
{
    const SplitCase cases[] = {
        {"a,b,c", 2, ",", "b"},
        {"a,,c", 2, ",", "c"},               // empty field skipped
        {"a,,c", 3, ",", nullptr},
        {",,a,b", 1, ",", "a"},              // leading run skipped
        {"a,b,,,", 3, ",", nullptr},         // trailing run adds no field
        {"a b\tc\n", 3, " \t", "c"},         // newline of the last field removed
        {"/usr/share/fw/oc11.ufi", 4, "/", "oc11.ufi"},
        {"abc", 1, ",", nullptr},            // no delimiter
        {",,,", 1, ",", nullptr},
        {"", 1, ",", nullptr},
        {nullptr, 1, ",", nullptr},
        {"a,b", 0, ",", nullptr},
    };
    for (const SplitCase &c : cases)
        check_splitter(orsa_parse, c);
}

std::string line_of(int fields, const char *k = "Kalderstone0", const char *p = "iSCSIPhysicalHBA1",
                    const char *l = "LogicalHBA0")
{
    std::ostringstream s;
    s << k << "," << p << "," << l;
    for (int i = 4; i <= fields; i++)
        s << ",v" << i;
    return s.str();
}

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

bool exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

class PersistFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(system("rm -rf /scratch/ferrosul /scratch/Talvor && mkdir -p /scratch/ferrosul/orsa"
                         " /scratch/Talvor"),
                  0);
    }
};

TEST_F(PersistFiles, ValidationKeepsGoodFilesAndDeletesCorruptedOnes)
{
    struct Case {
        const char *what;
        std::string path;
        std::string text;
        bool kept;
    } cases[] = {
        {"good target lines", ORSA_SAVETGT_FILE, line_of(22) + "\n" + line_of(22) + "\n", true},
        {"good portal line", ORSA_SAVESTP_FILE, line_of(18) + "\n", true},
        {"good options line", ORSA_LOGOPTS_FILE, line_of(15) + "\n", true},
        {"last line without newline", ORSA_LOGOPTS_FILE, line_of(15), true},
        {"empty values kept", ORSA_SAVETGT_FILE,
         "Kalderstone1,iSCSIPhysicalHBA0,LogicalHBA0,iqn.x,10.0.0.1,3260,,,,,,,,,,,,,,,,\n", true},
        {"one comma short", ORSA_SAVETGT_FILE, line_of(22) + "\n" + line_of(21) + "\n", false},
        {"one comma too many", ORSA_SAVESTP_FILE, line_of(19) + "\n", false},
        // A blank line holds no record: the rewrites drop it, and it is no
        // reason to lose every other line of the file.
        {"empty line", ORSA_LOGOPTS_FILE, line_of(15) + "\n\n" + line_of(15) + "\n", true},
        {"blank line", ORSA_SAVETGT_FILE, "\n \t\r\n" + line_of(22) + "\n", true},
        {"wrong controller key", ORSA_SAVESTP_FILE, line_of(18, "Controller0") + "\n", false},
        {"wrong physical HBA key", ORSA_SAVETGT_FILE, line_of(22, "Kalderstone0", "NICPhysicalHBA0") + "\n",
         false},
        {"wrong logical HBA key", ORSA_LOGOPTS_FILE,
         line_of(15, "Kalderstone0", "iSCSIPhysicalHBA0", "LHBA0") + "\n", false},
        {"key fields empty", ORSA_LOGOPTS_FILE, std::string(14, ',') + "\n", false},
        {"no newline but short", ORSA_SAVESTP_FILE, line_of(17), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        write_file(c.path, c.text);
        ORSA_check_for_corrupted_database();
        EXPECT_EQ(exists(c.path), c.kept);
        unlink(c.path.c_str());
    }
}

TEST_F(PersistFiles, DeletionIsLogged)
{
    ASSERT_EQ(system("mkdir -p /scratch/ferrosul/orsa/logs"), 0);
    ASSERT_EQ(orsa_log_open(), 0u);
    i32 level = orsa_debug_level;
    orsa_debug_level = ORSA_LOG_ERROR;
    write_file(ORSA_SAVESTP_FILE, line_of(18) + "\n" + line_of(17) + "\n");
    ORSA_check_for_corrupted_database();
    orsa_debug_level = level;
    orsa_log_close();
    std::ifstream log("/scratch/ferrosul/orsa/logs/orsa2d.log");
    std::stringstream all;
    all << log.rdbuf();
    EXPECT_NE(all.str().find(",   ERROR:ORSA_check_for_corrupted_database:tokens = 16, "
                             "/scratch/ferrosul/orsa/savestp.txt corrupted. So deleting it.\n"),
              std::string::npos)
        << all.str();
}

TEST_F(PersistFiles, ValidationChecksEachFileOnItsOwn)
{
    write_file(ORSA_SAVETGT_FILE, line_of(22) + "\n");
    write_file(ORSA_SAVESTP_FILE, line_of(22) + "\n");  // a target line in the portal file
    write_file(ORSA_LOGOPTS_FILE, line_of(15) + "\n");
    ORSA_check_for_corrupted_database();
    EXPECT_TRUE(exists(ORSA_SAVETGT_FILE));
    EXPECT_FALSE(exists(ORSA_SAVESTP_FILE));
    EXPECT_TRUE(exists(ORSA_LOGOPTS_FILE));
}

TEST_F(PersistFiles, LongValidLineIsNotMistakenForTwoLines)
{
    // A target name and secrets can make a line longer than 1024 bytes.
    std::string line = line_of(3) + "," + std::string(1500, 'n');
    for (int i = 5; i <= 22; i++)
        line += ",x";
    write_file(ORSA_SAVETGT_FILE, line + "\n");
    ORSA_check_for_corrupted_database();
    EXPECT_TRUE(exists(ORSA_SAVETGT_FILE));
}

TEST_F(PersistFiles, MigrationMovesTheOldFilesAndIgnoresMissingOnes)
{
    write_file("/scratch/Talvor/savetgt.txt", "old targets\n");
    write_file("/scratch/Talvor/intr_logopts.txt", "old options\n");
    write_file(ORSA_SAVETGT_FILE, "new targets\n");
    ORSA_save_file_configuration();
    EXPECT_FALSE(exists("/scratch/Talvor/savetgt.txt"));
    EXPECT_FALSE(exists("/scratch/Talvor/intr_logopts.txt"));
    std::ifstream t(ORSA_SAVETGT_FILE), o(ORSA_LOGOPTS_FILE);
    std::string tl, ol;
    std::getline(t, tl);
    std::getline(o, ol);
    EXPECT_EQ(tl, "old targets");  // the old file replaces the one there
    EXPECT_EQ(ol, "old options");
    EXPECT_FALSE(exists(ORSA_SAVESTP_FILE));
    ORSA_save_file_configuration();  // nothing left to move: no harm
    EXPECT_TRUE(exists(ORSA_SAVETGT_FILE));
}

TEST_F(PersistFiles, ChangePermissionsSetsReadableMode)
{
    write_file(ORSA_SAVESTP_FILE, line_of(18) + "\n");
    ASSERT_EQ(chmod(ORSA_SAVESTP_FILE, 0600), 0);
    ORSA_change_permissions_file(ORSA_SAVESTP_FILE);
    struct stat st{};
    ASSERT_EQ(stat(ORSA_SAVESTP_FILE, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    ORSA_change_permissions_file("/scratch/ferrosul/orsa/none.txt");  // missing: ignored
    ORSA_change_permissions_file(nullptr);
    EXPECT_FALSE(exists("/scratch/ferrosul/orsa/none.txt"));
}

}  // namespace
