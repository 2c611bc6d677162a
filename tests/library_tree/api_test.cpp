/* A client's view of libdrelmo.so: opening and closing, the ROOT tree and its
 * built-in properties, refusals with their statuses, the log-level file and
 * the log. Linked against the shared object: only exported calls are used. */
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "backend/orsa_propertyutil.h"
#include "log_line.h"
#include "tree/hm_log.h"
#include "tree/orsa_api.h"
#include "test_files.h"

namespace {

std::string status()
{
    u32 code = 99;
    char text[ORSA_STATUS_TEXT_SIZE];
    EXPECT_EQ(ORSA_get_last_status(&code, text), 0u);
    return std::to_string(code) + " " + text;
}

class Client : public ::testing::Test {
protected:
    int opened = 0;

    void SetUp() override
    {
        const char *in_root = getenv("TAMSIL_IN_TESTROOT");
        ASSERT_TRUE(in_root != nullptr && strcmp(in_root, "1") == 0) << "run through run-in-testroot";
        unlink(ORSA_CONF_FILE);
        unlink(ORSA_LOG_FILE);
    }
    void TearDown() override
    {
        while (opened > 0)
            close();
        /* the library's level stays in force in the process: bring it back to 0 */
        write_file(ORSA_CONF_FILE, std::string(ORSA_CONF_HEADER) + "0");
        ASSERT_EQ(ORSA_init(), 0u);
        ASSERT_EQ(ORSA_exit(), 0u);
        unlink(ORSA_CONF_FILE);
    }
    void open()
    {
        ASSERT_EQ(ORSA_init(), 0u);
        opened++;
    }
    void close()
    {
        ASSERT_EQ(ORSA_exit(), 0u);
        opened--;
    }
    bool tree_stands()
    {
        char name[HM_NAME_SIZE] = "";
        return ORSA_get_node_name(0, name, 1) == 0 && strcmp(name, "ROOT") == 0;
    }
};

TEST_F(Client, OpenAndCloseAreCounted)
{
    EXPECT_FALSE(tree_stands());
    open();
    EXPECT_TRUE(tree_stands());
    open();
    close();
    EXPECT_TRUE(tree_stands()) << "one client is left";
    close();
    EXPECT_FALSE(tree_stands());
    EXPECT_EQ(ORSA_exit(), 0u) << "a close without an open does nothing";
    EXPECT_FALSE(tree_stands());
    open();
    EXPECT_TRUE(tree_stands()) << "the tree is built again";
    close();
}

TEST_F(Client, RootAndItsBuiltinProperties)
{
    open();
    u32 tags[16], count = 0;
    ASSERT_EQ(ORSA_get_child_tags(0, tags, &count, ORSA_FILTER_PROPERTIES), 0u);
    ASSERT_EQ(count, 3u);
    struct {
        u32 tag;
        const char *name, *value;
        u8 type;
        i32 min, max;
        bool read_only;
        const char *description;
    } rows[] = {
        {1, "ORSAServiceVersion", "0", 0, 5, 32, true,
         "This property specifies the version number of the OrsaService."},
        {2, "ORSAHierarchyVersion", "0", 0, 3, 32, true,
         "This property specifies the version number of the ORSA hierarchy."},
        {3, "ORSADebugLevel", "0", 4, 5, 11, false,
         "This property specifies the ORSADebugLevel. Possible values are 0 - Disabled, 1 - FATAL, 2 - CRITICAL, 3 - "
         "ERROR, 4 - WARNING, 5 - INFORMATION, 6 - DEBUG. By default ORSADebugLevel is 3 - Error. If ORSA or system "
         "is restarted ORSADebugLevel will be the default value."},
    };
    for (u32 i = 0; i < 3; i++) {
        auto &r = rows[i];
        EXPECT_EQ(tags[i], r.tag);
        char name[HM_NAME_SIZE];
        ASSERT_EQ(ORSA_get_node_name(r.tag, name, 2), 0u);
        EXPECT_STREQ(name, r.name);
        char value[HM_VALUE_SIZE];
        ASSERT_EQ(ORSA_get_property_val(0, r.tag, value, sizeof value), 0u);
        EXPECT_STREQ(value, r.value) << r.name;
        HmNodeDescription d;
        ASSERT_EQ(ORSA_get_node_description(r.tag, &d), 0u);
        EXPECT_EQ(d.kind, 2);
        EXPECT_EQ(d.type, r.type) << r.name;
        EXPECT_EQ(d.min, r.min) << r.name;
        EXPECT_EQ(d.max, r.max) << r.name;
        EXPECT_STREQ(d.description, r.description);
        u32 parent = 99;
        ASSERT_EQ(ORSA_get_parent_tag(r.tag, &parent), 0u);
        EXPECT_EQ(parent, 0u);
    }
    ASSERT_EQ(ORSA_get_child_tags(0, tags, &count, ORSA_FILTER_READONLY), 0u);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(ORSA_get_child_tags(0, tags, &count, ORSA_FILTER_WRITABLE), 0u);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(tags[0], 3u);
    for (u32 filter : {0u, 1u, 3u, 4u}) {
        ASSERT_EQ(ORSA_get_child_tags(0, tags, &count, filter), 0u);
        EXPECT_EQ(count, 0u) << filter;
    }
    HmNodeDescription d;
    ASSERT_EQ(ORSA_get_node_description(0, &d), 0u);
    EXPECT_STREQ(d.description, " ");
    EXPECT_EQ(d.kind, 1);
    u32 tag = 0;
    EXPECT_EQ(ORSA_get_node_tag(0, "orsadebuglevel", &tag, 2), 0u);
    EXPECT_EQ(tag, 3u);
    i32 n = 4;
    EXPECT_EQ(ORSA_get_persistent_nodes(tags, &n), 0u);
    EXPECT_EQ(n, 0);
    close();
}

TEST_F(Client, WritesAndTheirStatuses)
{
    open();
    char level[HM_VALUE_SIZE];
    struct {
        u32 tag;
        const char *text;
        u32 size, rc;
        const char *status;
    } cases[] = {
        {1, "1.2.3.4.5", 10, 1, "10 Read only property"},
        {2, "abc", 4, 1, "10 Read only property"},
        {3, "9", 2, 1, "6 Invalid value."},
        {3, "", 1, 1, "6 Invalid value."},
        {3, "4", 300, 1, "1 A value of 300 bytes: a value holds at most 256."},
        {3, "4", 2, 0, "0 "},
    };
    for (auto &c : cases) {
        char text[HM_VALUE_SIZE];
        strcpy(text, c.text);
        EXPECT_EQ(ORSA_set_property_val(0, c.tag, text, c.size), c.rc) << c.tag << " " << c.text;
        EXPECT_EQ(status(), c.status) << c.tag << " " << c.text;
    }
    ASSERT_EQ(ORSA_get_property_val(0, 3, level, sizeof level), 0u);
    EXPECT_STREQ(level, "4");
    EXPECT_EQ(read_file(ORSA_CONF_FILE), std::string(ORSA_CONF_HEADER) + "4");
    close();

    /* the level written survives a restart of the tree */
    open();
    ASSERT_EQ(ORSA_get_property_val(0, 3, level, sizeof level), 0u);
    EXPECT_STREQ(level, "4");
    close();
}

TEST_F(Client, RefusalsReplaceTheLastStatusWithTheirReason)
{
    open();
    /* Each refused call runs after a failed write left a status pending: the
     * refusal's own reason replaces it. */
    struct Call {
        const char *name;
        u32 (*run)();
        const char *status;
    };
    static char buf[HM_VALUE_SIZE];
    static u32 t[8], c, p;
    static i32 neg;
    static HmParamInfo pi;
    static HmNodeDescription nd;
    static HmPersistenceInfo pe;
    static HmValueSlot ps[HM_MAX_PARAMS];
    Call calls[] = {
        {"get_param_info", [] { return ORSA_get_param_info(3, &pi); }, "1 Tag 3 is not an action."},
        {"get_child_tags", [] { return ORSA_get_child_tags(3, t, &c, 2); }, "1 Tag 3 is not a group."},
        {"get_child_tags filter", [] { return ORSA_get_child_tags(0, t, &c, 8); },
         "1 Filter 8 is not a child filter (0 to 7)."},
        {"get_parent_tag", [] { return ORSA_get_parent_tag(777, &p); }, "1 No node has tag 777."},
        {"get_persistence_info", [] { return ORSA_get_persistence_info(0, &pe); }, "1 Tag 0 is not persistent."},
        {"get_node_description", [] { return ORSA_get_node_description(777, &nd); }, "1 No node has tag 777."},
        {"get_node_name", [] { return ORSA_get_node_name(777, buf, 1); }, "1 No node has tag 777."},
        {"get_node_name kind", [] { return ORSA_get_node_name(0, buf, 2); }, "1 Tag 0 is not a property."},
        {"get_persistent_nodes", [] { return ORSA_get_persistent_nodes(nullptr, &neg); },
         "1 No room for the tags or their count."},
        {"get_valid_instances", [] { return ORSA_get_valid_instances(3, "x", t, &c); }, "1 Tag 3 is not a group."},
        {"get_property_val", [] { return ORSA_get_property_val(0, 0, buf, 256); }, "1 Tag 0 is not a property."},
        {"set_property_val", [] { return ORSA_set_property_val(1, 3, buf, 256); }, "1 Tag 1 is not a group."},
        {"do_action", [] { return ORSA_do_action(0, 3, ps, nullptr); }, "1 Tag 3 is not an action."},
        {"get_node_tag", [] { return ORSA_get_node_tag(0, "Nothing", &p, 0); },
         "1 Group tag 0 has no node named \"Nothing\"."},
        {"get_node_tag property", [] { return ORSA_get_node_tag(0, "ROOT", &p, 2); },
         "1 Group tag 0 has no property named \"ROOT\"."},
        {"get_node_tag kind", [] { return ORSA_get_node_tag(0, "ROOT", &p, 8); },
         "1 Kind 8 is not a node kind (0 to 7)."},
    };
    for (auto &call : calls) {
        char ro[] = "x";
        ASSERT_EQ(ORSA_set_property_val(0, 1, ro, 2), 1u);
        ASSERT_EQ(status(), "10 Read only property");
        strcpy(buf, "x");
        EXPECT_EQ(call.run(), 1u) << call.name;
        EXPECT_EQ(status(), call.status) << call.name;
    }
    /* a refresh answers 0 in every case; a tag that names no group says so */
    EXPECT_EQ(ORSA_refresh_group(777), 0u);
    EXPECT_EQ(status(), "1 No node has tag 777.");
    EXPECT_EQ(ORSA_refresh_group(0), 0u);
    EXPECT_EQ(status(), "0 ");
    close();
}

TEST_F(Client, LevelFileAndLogLines)
{
    /* a missing file is created at the first open with the level in force */
    open();
    EXPECT_EQ(read_file(ORSA_CONF_FILE), std::string(ORSA_CONF_HEADER) + "0");
    struct stat st;
    ASSERT_EQ(stat(ORSA_CONF_FILE, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    close();
    EXPECT_EQ(read_file(ORSA_LOG_FILE), "") << "level 0 writes nothing";

    /* every open reads the file again */
    write_file(ORSA_CONF_FILE, std::string(ORSA_CONF_HEADER) + "5");
    chmod(ORSA_CONF_FILE, 0600);
    open();
    ASSERT_EQ(stat(ORSA_CONF_FILE, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    write_file(ORSA_CONF_FILE, std::string(ORSA_CONF_HEADER) + "6");
    open();
    close();
    close();
    std::string log = read_file(ORSA_LOG_FILE);
    EXPECT_TRUE(has_log_line(log, getpid(), "INFO:", "New client #1!\n")) << log;
    /* the level read by an open applies from that open on: the second open's
     * entry line was still under level 5 */
    EXPECT_EQ(log.find("--- entering ORSA_init ---"), std::string::npos) << log;
    EXPECT_TRUE(has_log_line(log, getpid(), "", "--- entering ORSA_exit ---\n")) << log;
    EXPECT_TRUE(has_log_line(log, getpid(), "INFO:", "New client #2!\n"));
    EXPECT_TRUE(has_log_line(log, getpid(), "INFO:", "Client disconnecting #2\n"));
    EXPECT_TRUE(has_log_line(log, getpid(), "INFO:", "Client disconnecting #1\n"));
    EXPECT_TRUE(has_log_line(log, getpid(), "", "--- leaving ORSA_exit ---\n"));
}

} // namespace
