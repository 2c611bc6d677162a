// Tree state file: saving, replaying, and hand-written files with bad
// records; paths and the line reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tree/hm_persist.h"
#include "tree_fixture.h"

namespace {

// What the replayed AddTarget action saw, and the fixture that owns the tree.
std::vector<std::vector<std::string>> g_calls;
class Persist;
Persist *g_self;

std::string read_all(FILE *fp)
{
    rewind(fp);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, fp)) > 0)
        out.append(buf, n);
    return out;
}

FILE *file_with(const std::string &text)
{
    FILE *fp = tmpfile();
    fputs(text.c_str(), fp);
    rewind(fp);
    return fp;
}

u32 do_AddTarget(HmNode *group, HmNode *action, HmValueSlot *params);

// Targets: TargetISCSIName (list-free string 1..223), TargetPortNumber (integer 1..65535).
HmAction g_add_target = [] {
    HmAction a{};
    a.handler = do_AddTarget;
    a.param_count = 3;
    a.params[0].required = 1;
    strcpy(a.params[0].name, "TargetISCSIName");
    a.params[0].type = HM_TYPE_STRING;
    a.params[0].min = 1;
    a.params[0].max = 223;
    strcpy(a.params[1].name, "TargetIPAddress");
    a.params[1].type = HM_TYPE_IPADDR;
    strcpy(a.params[2].name, "TargetPortNumber");
    a.params[2].type = HM_TYPE_INTEGER;
    a.params[2].min = 1;
    a.params[2].max = 65535;
    return a;
}();

class Persist : public TreeFixture {
protected:
    void SetUp() override
    {
        TreeFixture::SetUp();
        g_calls.clear();
        g_self = this;
        BuildStatic();
    }

    // The part of the tree that discovery and the schema make, no action.
    void BuildStatic()
    {
        ks_ = Group(root_, "Kalderstone", 0);
        Prop(ks_, "SerialNumber", "SN123", HM_PROP_READONLY);
        Prop(ks_, "Description", "first adapter");
        phba_ = Group(ks_, "iSCSIPhysicalHBA", 1);
        Prop(phba_, "PortNumber", "1", HM_PROP_READONLY);
        lhba_ = Group(phba_, "LogicalHBA", 0);
        Prop(lhba_, "HeaderDigest", "None", HM_PROP_WRITABLE, HM_TYPE_LIST, "None,CRC32C");
        Prop(lhba_, "ReadOnlyName", "fixed", HM_PROP_READONLY);
        Prop(lhba_, "LDTO", "20", HM_PROP_WRITABLE, HM_TYPE_INTEGER, "", 0, 3600);
        add_ = Action(lhba_, "AddTarget", &g_add_target);
    }

public:
    // The builder the action runs: Target<n> below the logical HBA, made
    // persistent with the action as key B.
    u32 MakeTarget(HmNode *group, HmNode *action, HmValueSlot *params)
    {
        std::vector<std::string> keys;
        for (int i = 0; i < HM_MAX_PARAMS; i++)
            keys.emplace_back(params[i]);
        g_calls.push_back(keys);
        for (std::string &k : g_calls.back()) {
            if (!k.empty() && static_cast<u8>(k[0]) == ORSA_PARAM_NOT_GIVEN)
                k = "<not given>";
        }
        int number = 0;
        while (internal_get_node(group, ("Target" + std::to_string(number)).c_str(), HM_KIND_GROUP))
            number++;
        // Like the schema's builders: all six slots as the action got them.
        HmNode *t = Group(group, "Target", number, group, action, keys);
        if (t == nullptr)
            return 1;
        Prop(t, "TargetISCSIName", params[0], HM_PROP_READONLY);
        Prop(t, "HeaderDigest", "None", HM_PROP_WRITABLE, HM_TYPE_LIST, "None,CRC32C");
        return 0;
    }

protected:
    HmNode *ks_ = nullptr, *phba_ = nullptr, *lhba_ = nullptr, *add_ = nullptr;
};

u32 do_AddTarget(HmNode *group, HmNode *action, HmValueSlot *params)
{
    return g_self->MakeTarget(group, action, params);
}

void run_action(HmNode *group, HmNode *action, std::vector<std::string> texts)
{
    HmValueSlot params[HM_MAX_PARAMS] = {};
    for (size_t i = 0; i < HM_MAX_PARAMS; i++) {
        if (i < texts.size())
            strcpy(params[i], texts[i].c_str());
        else
            params[i][0] = static_cast<char>(ORSA_PARAM_NOT_GIVEN);
    }
    ASSERT_EQ(ORSA_do_action(group->tag, action->tag, params, nullptr), 0u);
}

TEST_F(Persist, StaticTreeSavesOnlyPropertyRecords)
{
    FILE *fp = tmpfile();
    ASSERT_EQ(save_node(root_, fp, HM_PROP_WRITABLE), 0u);
    EXPECT_EQ(read_all(fp),
              "PROPERTY|ROOT/ORSADebugLevel|0\n"
              "PROPERTY|ROOT/Kalderstone0/Description|first adapter\n"
              "PROPERTY|ROOT/Kalderstone0/iSCSIPhysicalHBA1/LogicalHBA0/HeaderDigest|None\n"
              "PROPERTY|ROOT/Kalderstone0/iSCSIPhysicalHBA1/LogicalHBA0/LDTO|20\n");
    fclose(fp);
}

TEST_F(Persist, SaveAndReplayRoundTrip)
{
    run_action(lhba_, add_, {"iqn.2001-04.com.example:disk1", "10.0.0.7"});
    run_action(lhba_, add_, {"iqn.2001-04.com.example:disk2", "10.0.0.8", "3260"});
    HmNode *t0 = internal_get_node(lhba_, "Target0", HM_KIND_GROUP);
    HmNode *t1 = internal_get_node(lhba_, "Target1", HM_KIND_GROUP);
    ASSERT_NE(t0, nullptr);
    ASSERT_NE(t1, nullptr);
    ASSERT_EQ(internal_set_property(t1, "HeaderDigest", const_cast<char *>("CRC32C")), 0u);
    ASSERT_EQ(internal_set_property(lhba_, "LDTO", const_cast<char *>("45")), 0u);
    ASSERT_NE(create_link(ks_, "BootTarget", t1, lhba_, add_, nullptr), nullptr);

    FILE *fp = tmpfile();
    i32 live = orsa_counter;
    ASSERT_EQ(save_node(root_, fp, HM_PROP_WRITABLE), 0u);
    EXPECT_EQ(orsa_counter, live);
    const std::string lh = "ROOT/Kalderstone0/iSCSIPhysicalHBA1/LogicalHBA0";
    const std::string saved = read_all(fp);
    EXPECT_EQ(saved,
              "GROUP|" + lh + "/Target0|" + lh + "|" + lh + "/AddTarget|iqn.2001-04.com.example:disk1|10.0.0.7\n" +
              "PROPERTY|" + lh + "/Target0/HeaderDigest|None\n" +
              "GROUP|" + lh + "/Target1|" + lh + "|" + lh + "/AddTarget|iqn.2001-04.com.example:disk2|10.0.0.8|3260\n" +
              "PROPERTY|" + lh + "/Target1/HeaderDigest|CRC32C\n" +
              "SYMLINK|BootTarget|ROOT/Kalderstone0|" + lh + "/Target1\n" +
              "PROPERTY|ROOT/ORSADebugLevel|0\n"
              "PROPERTY|ROOT/Kalderstone0/Description|first adapter\n"
              "PROPERTY|" + lh + "/HeaderDigest|None\n"
              "PROPERTY|" + lh + "/LDTO|45\n");

    // A fresh tree with only what discovery makes, then the replay.
    Restart();
    g_calls.clear();
    BuildStatic();
    rewind(fp);
    EXPECT_EQ(restore_hm(fp), 0u);
    fclose(fp);

    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0], (std::vector<std::string>{"iqn.2001-04.com.example:disk1", "10.0.0.7", "", "", "", ""}));
    EXPECT_EQ(g_calls[1][2], "3260");
    t0 = internal_get_node(lhba_, "Target0", HM_KIND_GROUP);
    t1 = internal_get_node(lhba_, "Target1", HM_KIND_GROUP);
    ASSERT_NE(t0, nullptr);
    ASSERT_NE(t1, nullptr);
    EXPECT_EQ(Value(t0, "TargetISCSIName"), "iqn.2001-04.com.example:disk1");
    EXPECT_EQ(Value(t1, "HeaderDigest"), "CRC32C");
    EXPECT_EQ(Value(lhba_, "LDTO"), "45");
    HmNode *link = internal_get_node(ks_, "BootTarget", HM_KIND_GROUP);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->kind, static_cast<u32>(HM_KIND_LINK));
    EXPECT_EQ(HM_LINK(link)->target, t1);
    EXPECT_EQ(HM_LINK(link)->persistency_priority, 0u);  // a restored link is not persistent
}

TEST_F(Persist, SavedTextsCannotAddRecords)
{
    // A value with a line break would otherwise start a record of its own.
    ASSERT_EQ(internal_set_property(ks_, "Description",
                                    const_cast<char *>("two\nGROUP|ROOT/x|ROOT|ROOT/AddTarget|evil")),
              0u);
    FILE *fp = tmpfile();
    ASSERT_EQ(save_node(ks_, fp, HM_PROP_WRITABLE), 0u);
    std::string saved = read_all(fp);
    EXPECT_NE(saved.find("PROPERTY|ROOT/Kalderstone0/Description|two\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("evil"), std::string::npos) << saved;
    fclose(fp);
}

struct BadFileCase {
    const char *what;
    std::string text;
    int calls;              // AddTarget replays expected
    const char *property;   // a LogicalHBA0 property to look at afterwards
    const char *want;
};

TEST_F(Persist, ReplayOfHandWrittenFiles)
{
    const std::string lh = "ROOT/Kalderstone0/iSCSIPhysicalHBA1/LogicalHBA0";
    const std::string add = "GROUP|" + lh + "/Target0|" + lh + "|" + lh + "/AddTarget";
    const std::string long_value(300, 'v');
    const std::string long_path = "ROOT/" + std::string(260, 'p');
    const BadFileCase cases[] = {
        {"unknown record", "FOLDER|" + lh + "|x\n", 0, "LDTO", "20"},
        {"empty lines and separators", "\n|\n||||\n", 0, "LDTO", "20"},
        {"group: too few fields", "GROUP|" + lh + "/Target0|" + lh + "\n", 0, "LDTO", "20"},
        {"group: missing key A", "GROUP|x|ROOT/Kalderstone9|" + lh + "/AddTarget|iqn.a\n", 0, "LDTO", "20"},
        {"group: key B is no action", "GROUP|x|" + lh + "|" + lh + "/LDTO|iqn.a\n", 0, "LDTO", "20"},
        {"group: parameter over 255 characters", add + "|" + long_value + "\n", 0, "LDTO", "20"},
        {"group: parameter fails validation", add + "|iqn.a|10.0.0.1|70000\n", 0, "LDTO", "20"},
        {"group: bad address", add + "|iqn.a|10.0.0.300\n", 0, "LDTO", "20"},
        {"group: good", add + "|iqn.a|10.0.0.1|3260\n", 1, "LDTO", "20"},
        {"group: extra fields beyond six", add + "|iqn.a|10.0.0.1|3260|x|y|z|w|v\n", 1, "LDTO", "20"},
        {"property: missing path", "PROPERTY|" + lh + "/Nothing|5\n", 0, "LDTO", "20"},
        {"property: missing value field", "PROPERTY|" + lh + "/LDTO\n", 0, "LDTO", "20"},
        {"property: read-only", "PROPERTY|" + lh + "/ReadOnlyName|changed\n", 0, "ReadOnlyName", "fixed"},
        {"property: not in the list", "PROPERTY|" + lh + "/HeaderDigest|MD5\n", 0, "HeaderDigest", "None"},
        {"property: out of range", "PROPERTY|" + lh + "/LDTO|99999\n", 0, "LDTO", "20"},
        {"property: over-long value", "PROPERTY|ROOT/Kalderstone0/Description|" + long_value + "\n", 0, "LDTO",
         "20"},
        {"property: over-long path", "PROPERTY|" + long_path + "|1\n", 0, "LDTO", "20"},
        {"property: good", "PROPERTY|" + lh + "/LDTO|30\n", 0, "LDTO", "30"},
        {"property: case of list kept by the validator", "PROPERTY|" + lh + "/HeaderDigest|crc32c\n", 0,
         "HeaderDigest", "crc32c"},
        {"property: value cut at a separator", "PROPERTY|" + lh + "/LDTO|31|32\n", 0, "LDTO", "31"},
        {"property: any first component stands for ROOT",
         "PROPERTY|FOO/Kalderstone0/iSCSIPhysicalHBA1/LogicalHBA0/LDTO|33\n", 0, "LDTO", "33"},
        {"property: path without '/'", "PROPERTY|LDTO|34\n", 0, "LDTO", "20"},
        {"property: last line without newline", "PROPERTY|" + lh + "/LDTO|35", 0, "LDTO", "35"},
        {"symlink: missing target", "SYMLINK|L|ROOT/Kalderstone0|" + lh + "/Target7\n", 0, "LDTO", "20"},
        {"symlink: name over 34 characters",
         "SYMLINK|" + std::string(40, 'n') + "|ROOT/Kalderstone0|" + lh + "\n", 0, "LDTO", "20"},
        {"huge line skipped, next line used", "PROPERTY|" + lh + "/LDTO|" + std::string(200000, '9') + "\n" +
                                                  "PROPERTY|" + lh + "/LDTO|36\n",
         0, "LDTO", "36"},
    };
    for (const BadFileCase &c : cases) {
        SCOPED_TRACE(c.what);
        Restart();
        g_calls.clear();
        BuildStatic();
        FILE *fp = file_with(c.text);
        i32 live = orsa_counter;
        EXPECT_EQ(restore_hm(fp), 0u);
        fclose(fp);
        if (c.calls == 0) {
            EXPECT_EQ(orsa_counter, live) << "the replay leaked or freed a block";
        }
        EXPECT_EQ(static_cast<int>(g_calls.size()), c.calls);
        EXPECT_EQ(Value(lhba_, c.property), c.want);
        EXPECT_EQ(Value(ks_, "Description"), "first adapter");
        EXPECT_EQ(internal_get_node(ks_, std::string(34, 'n').c_str(), HM_KIND_ANY), nullptr);
    }
}

TEST_F(Persist, LongLinesAreReadWhole)
{
    // 251, 600 and 5000 characters: the line buffer grows from 250 to 500,
    // 1000 and on, and the record is still replayed (fields after the value
    // are ignored).
    const std::string head = "PROPERTY|ROOT/Kalderstone0/iSCSIPhysicalHBA1/LogicalHBA0/LDTO|";
    int value = 100;
    for (size_t total : {size_t{251}, size_t{600}, size_t{5000}}) {
        std::string line = head + std::to_string(++value) + "|";
        line += std::string(total - line.size(), 'z');
        ASSERT_EQ(line.size(), total);
        FILE *fp = file_with(line + "\n");
        EXPECT_EQ(restore_hm(fp), 0u);
        fclose(fp);
        EXPECT_EQ(Value(lhba_, "LDTO"), std::to_string(value)) << total;
    }
}

TEST_F(Persist, PathsAndLookups)
{
    char path[HM_PATH_SIZE];
    ASSERT_EQ(get_full_path(root_, path), 0u);
    EXPECT_STREQ(path, "ROOT");
    HmNode *ldto = internal_get_node(lhba_, "LDTO", HM_KIND_PROPERTY);
    ASSERT_EQ(get_full_path(ldto, path), 0u);
    EXPECT_STREQ(path, "ROOT/Kalderstone0/iSCSIPhysicalHBA1/LogicalHBA0/LDTO");

    struct Case {
        const char *path;
        u32 kind;
        HmNode *want;
    } cases[] = {
        {"ROOT", HM_KIND_GROUP, root_},
        {"ROOT/Kalderstone0", HM_KIND_GROUP, ks_},
        {"root/kalderstone0/ISCSIPHYSICALHBA1", HM_KIND_GROUP, phba_},
        {"FOO/Kalderstone0/iSCSIPhysicalHBA1/LogicalHBA0", HM_KIND_GROUP, lhba_},
        {"ROOT/Kalderstone0/iSCSIPhysicalHBA1/LogicalHBA0/LDTO", HM_KIND_PROPERTY, ldto},
        {"ROOT/Kalderstone0/iSCSIPhysicalHBA1/LogicalHBA0/LDTO", HM_KIND_GROUP, nullptr},
        {"ROOT/Kalderstone0/iSCSIPhysicalHBA1/LogicalHBA0/AddTarget", HM_KIND_ACTION, add_},
        {"ROOT/Kalderstone0/SerialNumber/x", HM_KIND_ANY, nullptr},  // a property is no group
        {"ROOT/Kalderstone1", HM_KIND_GROUP, nullptr},
        {"Kalderstone0", HM_KIND_GROUP, nullptr},
        {"", HM_KIND_GROUP, nullptr},
        {nullptr, HM_KIND_GROUP, nullptr},
    };
    for (const Case &c : cases)
        EXPECT_EQ(internal_get_node_path(c.path, c.kind), c.want) << (c.path ? c.path : "(null)");
}

TEST_F(Persist, FullPathIsBounded)
{
    // Seven levels of 34-character labels: 4 + 7 * 35 = 249 fits, the
    // eighth does not (284 characters).
    HmNode *n = root_;
    std::vector<HmNode *> chain;
    for (int i = 0; i < 8; i++) {
        std::string name(33, static_cast<char>('a' + i));
        n = Group(n, name.c_str(), 5);
        ASSERT_NE(n, nullptr);
        chain.push_back(n);
    }
    char path[HM_PATH_SIZE];
    memset(path, 'x', sizeof path);
    EXPECT_EQ(get_full_path(chain[6], path), 0u);
    EXPECT_EQ(strlen(path), 249u);
    EXPECT_EQ(internal_get_node_path(path, HM_KIND_GROUP), chain[6]);
    memset(path, 'x', sizeof path);
    EXPECT_EQ(get_full_path(chain[7], path), 1u);
    EXPECT_STREQ(path, "");
}

TEST_F(Persist, AllocationFailuresAreReportedNotFatal)
{
    FILE *fp = tmpfile();
    orsa_dmalloc_fail_countdown = 0;
    EXPECT_EQ(save_node(root_, fp, HM_PROP_WRITABLE), 1u);
    EXPECT_EQ(read_all(fp), "");
    fclose(fp);

    // The line buffer cannot grow: the long line is skipped, the next used.
    const std::string lh = "ROOT/Kalderstone0/iSCSIPhysicalHBA1/LogicalHBA0";
    fp = file_with("PROPERTY|" + lh + "/LDTO|41|" + std::string(300, 'x') + "\nPROPERTY|" + lh + "/LDTO|42\n");
    orsa_dmalloc_fail_countdown = 1;
    EXPECT_EQ(restore_hm(fp), 0u);
    fclose(fp);
    orsa_dmalloc_fail_countdown = -1;
    EXPECT_EQ(Value(lhba_, "LDTO"), "42");

    orsa_dmalloc_fail_countdown = 0;
    fp = file_with("PROPERTY|" + lh + "/LDTO|43\n");
    EXPECT_EQ(restore_hm(fp), 0u);  // no line buffer at all: nothing replayed
    fclose(fp);
    orsa_dmalloc_fail_countdown = -1;
    EXPECT_EQ(Value(lhba_, "LDTO"), "42");
}

TEST(OrsaGetLine, Results)
{
    struct Case {
        const char *text;
        u32 size;
        std::vector<std::pair<u32, std::string>> reads;
    } cases[] = {
        {"ab\ncd\n", 10, {{1, "ab"}, {1, "cd"}, {0, ""}}},
        {"ab\ncd", 10, {{1, "ab"}, {1, "cd"}, {0, ""}}},  // a last line without newline still counts
        {"\n\nx\n", 10, {{1, ""}, {1, ""}, {1, "x"}, {0, ""}}},
        {"", 10, {{0, ""}}},
        {"abcdefghij\n", 5, {{2, ""}, {2, ""}}},     // too long: stays at the start of the line
        {"abcd\nx\n", 5, {{1, "abcd"}, {1, "x"}}},  // exactly fits
    };
    for (const Case &c : cases) {
        FILE *fp = file_with(c.text);
        std::vector<char> buf(c.size);
        for (const auto &r : c.reads) {
            u32 got = orsa_get_line(fp, buf.data(), c.size);
            EXPECT_EQ(got, r.first) << c.text;
            if (got == 1) {
                EXPECT_EQ(std::string(buf.data()), r.second) << c.text;
            }
        }
        fclose(fp);
    }
}

TEST_F(Persist, EnumerateFindsPersistentNodesInCreationOrder)
{
    run_action(lhba_, add_, {"iqn.a"});
    run_action(lhba_, add_, {"iqn.b"});
    HmNode *t0 = internal_get_node(lhba_, "Target0", HM_KIND_GROUP);
    HmNode *t1 = internal_get_node(lhba_, "Target1", HM_KIND_GROUP);
    HmNode *link = create_link(ks_, "Boot", t0, lhba_, add_, nullptr);
    ASSERT_NE(link, nullptr);
    std::vector<HmNode *> table(persistency_priority, nullptr);
    enumerate_nodes(table.data(), root_);
    ASSERT_GE(table.size(), 4u);
    EXPECT_EQ(table[HM_GROUP(t0)->persistency_priority - 1], t0);
    EXPECT_EQ(table[HM_GROUP(t1)->persistency_priority - 1], t1);
    EXPECT_EQ(table[HM_LINK(link)->persistency_priority - 1], link);
    EXPECT_LT(HM_GROUP(t0)->persistency_priority, HM_GROUP(t1)->persistency_priority);
}

}  // namespace
