/* The exported API over a tree of every node kind: child-tag filters, names
 * and tags, property reads and writes with validation, actions with their
 * parameter rules and new tags, persistence records. */
#include <string.h>

#include <algorithm>

#include <string>
#include <vector>

#include "backend/orsa_gateway.h"
#include "tree/hm_persist.h"
#include "tree_fixture.h"

namespace {

struct Recorded {
    int calls = 0;
    std::vector<std::string> params;
    std::string set_text;
    u32 result = 0;
};
Recorded rec;

class ApiTree : public TreeTest {
protected:
    static ApiTree *self;
    u8 ctl_bits[2] = {0, 0};
    u8 target_bits[32] = {};
    HmAction make_desc{}, global_desc{}, bare_desc{};
    HmNode *ctl = nullptr, *name = nullptr, *port = nullptr, *addr = nullptr, *mask = nullptr, *mode = nullptr,
           *label = nullptr, *hidden = nullptr, *nohandler = nullptr, *sub = nullptr, *alias = nullptr,
           *make = nullptr, *global = nullptr, *bare = nullptr, *subprop = nullptr;
    int targets_to_make = 0;

    static u32 refresh(HmNode *g)
    {
        rec.calls++;
        rec.params.push_back(g->name);
        return 7;
    }

    static u32 record_set(HmNode *, char *value, u32 mode)
    {
        if (mode == HM_MODE_SET) {
            rec.set_text = value;
            strcpy(value, "N/A"); /* handlers may write into the text they get */
        } else {
            strcpy(value, "0123456789abcdefghij");
        }
        return rec.result;
    }

    static u32 make_targets(HmNode *group, HmNode *, HmValueSlot *params)
    {
        rec.calls++;
        for (int i = 0; i < HM_MAX_PARAMS; i++)
            rec.params.emplace_back(params[i], strnlen(params[i], HM_VALUE_SIZE));
        for (int i = 0; i < self->targets_to_make; i++)
            self->b.instance(group, "Target", self->target_bits, 256);
        return rec.result;
    }

    void SetUp() override
    {
        TreeTest::SetUp();
        if (!started)
            return;
        self = this;
        rec = Recorded{};
        make_desc.handler = make_targets;
        make_desc.param_count = 5;
        set_param(&make_desc.params[0], 1, "Count", HM_TYPE_INTEGER, 1, 4);
        set_param(&make_desc.params[1], 0, "Mode", HM_TYPE_LIST, 0, 0, "On,Off");
        set_param(&make_desc.params[2], 0, "Alias", HM_TYPE_STRING, 2, 8);
        set_param(&make_desc.params[3], 0, "Address", HM_TYPE_IPADDR, 0, 0);
        set_param(&make_desc.params[4], 0, "Mask", HM_TYPE_SUBNETMASK, 0, 0);
        global_desc = HmAction{make_targets, 1, 0, {}};
        bare_desc = HmAction{nullptr, 0, 0, {}};

        global = b.action(root, "Rescan", &global_desc);
        ctl = b.instance(root, "Kalderstone", ctl_bits, 16);
        name = b.property(ctl, "Name", HM_TYPE_STRING, HM_PROP_READONLY, 0, 32, "", "controller");
        port = b.property(ctl, "Port", HM_TYPE_INTEGER, HM_PROP_WRITABLE, 1024, 65535, "", "3260");
        addr = b.property(ctl, "Address", HM_TYPE_IPADDR, HM_PROP_WRITABLE, 0, 0, "", "", record_set);
        mask = b.property(ctl, "Mask", HM_TYPE_SUBNETMASK, HM_PROP_WRITABLE, 0, 0);
        mode = b.property(ctl, "Mode", HM_TYPE_LIST, HM_PROP_WRITABLE, 5, 11, "On,Off");
        label = b.property(ctl, "Label", HM_TYPE_STRING, HM_PROP_WRITABLE, 5, 32);
        hidden = b.property(ctl, "Hidden", HM_TYPE_STRING, HM_PROP_WRITABLE | HM_PROP_NOFILTER, 0, 32);
        nohandler = b.property(ctl, "Plain", HM_TYPE_STRING, HM_PROP_WRITABLE, 0, 32, "", "kept", nullptr);
        sub = b.group(ctl, "Sub", refresh);
        subprop = b.property(sub, "Inner", HM_TYPE_STRING, HM_PROP_READONLY, 0, 32, "", "inside");
        make = b.action(ctl, "MakeTargets", &make_desc);
        bare = b.action(ctl, "Bare", &bare_desc);
        alias = create_link(ctl, "AliasSub", sub, nullptr, nullptr, nullptr);
        ASSERT_TRUE(global && ctl && name && port && addr && mask && mode && label && hidden && nohandler && sub &&
                    subprop && make && bare && alias);
    }

    std::string names(const u32 *tags, u32 n)
    {
        std::string out;
        char label_text[HM_NAME_SIZE];
        for (u32 i = 0; i < n; i++) {
            hm_node_label(get_node((i32)tags[i]), label_text);
            out += std::string(out.empty() ? "" : " ") + label_text;
        }
        return out;
    }

    static void fill(HmValueSlot *params, std::vector<const char *> values)
    {
        for (int i = 0; i < HM_MAX_PARAMS; i++) {
            memset(params[i], 0, HM_VALUE_SIZE);
            /* parameters left out of the list are "not given" */
            if (i >= (int)values.size() || values[i] == nullptr)
                params[i][0] = (char)ORSA_PARAM_NOT_GIVEN;
            else
                strcpy(params[i], values[i]);
        }
    }

    std::string last_text()
    {
        u32 code;
        char text[ORSA_STATUS_TEXT_SIZE];
        ORSA_get_last_status(&code, text);
        return std::to_string(code) + " " + text;
    }
};
ApiTree *ApiTree::self;

TEST_F(ApiTree, ChildTagFilters)
{
    b.instance(ctl, "Target", target_bits, 256);
    struct {
        u32 filter;
        const char *expect;
    } cases[] = {
        {0, ""},
        {1, "Sub AliasSub Target0"},
        {2, "Name Port Address Mask Mode Label Hidden Plain"},
        {3, "MakeTargets Bare Rescan"},
        {4, ""},
        {5, "Name"},
        {6, "Port Address Mask Mode Label Hidden Plain"},
        {7, "Port Address Mask Mode Label Plain"},
    };
    u32 tags[64], n = 99;
    for (auto &c : cases) {
        ASSERT_EQ(ORSA_get_child_tags(ctl->tag, tags, &n, c.filter), 0u) << c.filter;
        EXPECT_EQ(names(tags, n), c.expect) << "filter " << c.filter;
    }
    /* on ROOT a global action shows once; through a link, the target's children */
    ASSERT_EQ(ORSA_get_child_tags(0, tags, &n, 3), 0u);
    EXPECT_EQ(names(tags, n), "Rescan");
    ASSERT_EQ(ORSA_get_child_tags(alias->tag, tags, &n, 2), 0u);
    EXPECT_EQ(names(tags, n), "Inner");
    /* refusals */
    EXPECT_EQ(ORSA_get_child_tags(ctl->tag, tags, &n, 8), 1u);
    EXPECT_EQ(ORSA_get_child_tags(name->tag, tags, &n, 2), 1u);
    EXPECT_EQ(ORSA_get_child_tags(ctl->tag, nullptr, &n, 2), 1u);
    EXPECT_EQ(ORSA_get_child_tags(ctl->tag, tags, nullptr, 2), 1u);
    EXPECT_EQ(ORSA_get_child_tags(4000, tags, &n, 2), 1u);
}

TEST_F(ApiTree, ChildTagsNeverWritePastTheirBound)
{
    /* A group with exactly ORSA_MAX_CHILD_TAGS properties, then one more; and
     * actions that pass the bound only with ROOT's global action. */
    HmNode *wide = b.group(ctl, "Wide", nullptr);
    HmNode *acts = b.group(ctl, "Acts", nullptr);
    ASSERT_TRUE(wide && acts);
    for (u32 i = 0; i < ORSA_MAX_CHILD_TAGS; i++) {
        ASSERT_NE(b.property(wide, ("P" + std::to_string(i)).c_str(), HM_TYPE_STRING, HM_PROP_READONLY, 0, 32), nullptr);
        ASSERT_NE(b.action(acts, ("A" + std::to_string(i)).c_str(), &bare_desc), nullptr);
    }
    const u32 canary = 0xC0FFEEu;
    std::vector<u32> tags(ORSA_MAX_CHILD_TAGS + 8, canary);
    u32 n = 99;
    ASSERT_EQ(ORSA_get_child_tags(wide->tag, tags.data(), &n, ORSA_FILTER_PROPERTIES), 0u);
    EXPECT_EQ(n, (u32)ORSA_MAX_CHILD_TAGS);
    EXPECT_NE(tags[ORSA_MAX_CHILD_TAGS - 1], canary);
    EXPECT_EQ(tags[ORSA_MAX_CHILD_TAGS], canary);

    ASSERT_NE(b.property(wide, "OneMore", HM_TYPE_STRING, HM_PROP_READONLY, 0, 32), nullptr);
    std::fill(tags.begin(), tags.end(), canary);
    n = 99;
    EXPECT_EQ(ORSA_get_child_tags(wide->tag, tags.data(), &n, ORSA_FILTER_PROPERTIES), (u32)ORSA_STATUS_NO_ROOM);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(std::count(tags.begin(), tags.end(), canary), (long)tags.size()) << "nothing written";
    EXPECT_EQ(last_text(), "11 Group tag " + std::to_string(wide->tag) + " has 4097 children of that kind, more than 4096.");
    /* other filters of the same group still fit */
    EXPECT_EQ(ORSA_get_child_tags(wide->tag, tags.data(), &n, ORSA_FILTER_GROUPS), 0u);
    EXPECT_EQ(n, 0u);

    /* 4096 actions and ROOT's global one */
    std::fill(tags.begin(), tags.end(), canary);
    EXPECT_EQ(ORSA_get_child_tags(acts->tag, tags.data(), &n, ORSA_FILTER_ACTIONS), (u32)ORSA_STATUS_NO_ROOM);
    EXPECT_EQ(std::count(tags.begin(), tags.end(), canary), (long)tags.size()) << "nothing written";
}

TEST_F(ApiTree, NamesTagsParentsAndDescriptions)
{
    b.instance(ctl, "Target", target_bits, 256);
    HmNode *t1 = b.instance(ctl, "Target", target_bits, 256);
    char text[HM_NAME_SIZE];
    struct {
        HmNode *node;
        u32 kind, rc;
        const char *label;
    } names_cases[] = {
        {ctl, 1, 0, "Kalderstone0"}, {t1, 1, 0, "Target1"}, {name, 2, 0, "Name"}, {make, 3, 0, "MakeTargets"},
        {alias, 1, 0, "AliasSub"},   {alias, 4, 1, ""},     {ctl, 0, 1, ""},      {ctl, 2, 1, ""},
        {ctl, 8, 1, ""},
    };
    for (auto &c : names_cases) {
        strcpy(text, "");
        EXPECT_EQ(ORSA_get_node_name(c.node->tag, text, c.kind), c.rc) << c.label;
        if (c.rc == 0) {
            EXPECT_STREQ(text, c.label);
        }
    }
    EXPECT_EQ(ORSA_get_node_name(4000, text, 1), 1u);
    EXPECT_EQ(ORSA_get_node_name(ctl->tag, nullptr, 1), 1u);

    u32 tag = 0;
    EXPECT_EQ(ORSA_get_node_tag(0, "kalderstone0", &tag, 1), 0u);
    EXPECT_EQ(tag, ctl->tag);
    EXPECT_EQ(ORSA_get_node_tag(ctl->tag, "TARGET1", &tag, 0), 0u);
    EXPECT_EQ(tag, t1->tag);
    EXPECT_EQ(ORSA_get_node_tag(ctl->tag, "Rescan", &tag, 3), 0u); /* global action */
    EXPECT_EQ(tag, global->tag);
    EXPECT_EQ(ORSA_get_node_tag(ctl->tag, "Target1", &tag, 2), 1u);
    EXPECT_EQ(ORSA_get_node_tag(alias->tag, "Inner", &tag, 2), 1u); /* a link is refused */
    EXPECT_EQ(ORSA_get_node_tag(ctl->tag, "Name", &tag, 9), 1u);

    u32 parent = 99;
    EXPECT_EQ(ORSA_get_parent_tag(0, &parent), 0u);
    EXPECT_EQ(parent, 0u);
    EXPECT_EQ(ORSA_get_parent_tag(subprop->tag, &parent), 0u);
    EXPECT_EQ(parent, sub->tag);
    EXPECT_EQ(ORSA_get_parent_tag(4000, &parent), 1u);

    HmNodeDescription d;
    memset(&d, 0xEE, sizeof d);
    ASSERT_EQ(ORSA_get_node_description(port->tag, &d), 0u);
    EXPECT_STREQ(d.description, "about Port");
    EXPECT_EQ(d.kind, 2);
    EXPECT_EQ(d.type, HM_TYPE_INTEGER);
    EXPECT_EQ(d.min, 1024);
    EXPECT_EQ(d.max, 65535);
    EXPECT_EQ(d.unused[0], 0xEE); /* not written */
    ASSERT_EQ(ORSA_get_node_description(alias->tag, &d), 0u);
    EXPECT_STREQ(d.description, "about Sub");
    EXPECT_EQ(d.kind, 1);
    EXPECT_EQ(ORSA_get_node_description(4000, &d), 1u);

    u32 numbers[256], count = 99;
    EXPECT_EQ(ORSA_get_valid_instances(ctl->tag, "Target", numbers, &count), 0u);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(numbers[0], 0u);
    EXPECT_EQ(numbers[1], 1u);
    EXPECT_EQ(ORSA_get_valid_instances(ctl->tag, "Session", numbers, &count), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ORSA_get_valid_instances(name->tag, "Target", numbers, &count), 1u);

    EXPECT_EQ(ORSA_refresh_group(alias->tag), 0u); /* runs Sub's handler, ignores its 7 */
    EXPECT_EQ(rec.calls, 1);
    EXPECT_EQ(ORSA_refresh_group(4000), 0u);
    EXPECT_EQ(ORSA_refresh_group(name->tag), 0u);
    EXPECT_EQ(rec.calls, 1);
}

TEST_F(ApiTree, ParamInfoIsTheDescriptorByteForByte)
{
    HmParamInfo info;
    memset(&info, 0xAA, sizeof info);
    ASSERT_EQ(ORSA_get_param_info(make->tag, &info), 0u);
    EXPECT_EQ(info.param_count, 5u);
    EXPECT_EQ(memcmp(info.params, make_desc.params, sizeof info.params), 0);
    const u8 *raw = (const u8 *)&info;
    EXPECT_EQ(raw[4], 1);                                  /* Count required */
    EXPECT_STREQ((const char *)raw + 4 + 1, "Count");       /* name at 1 */
    EXPECT_EQ(raw[4 + 2084 + 1816], HM_TYPE_LIST);           /* Mode's type at 1816 */
    EXPECT_STREQ((const char *)raw + 4 + 2084 + 1817, "On,Off");
    i32 min;
    memcpy(&min, raw + 4 + 2 * 2084 + 2076, 4);
    EXPECT_EQ(min, 2);
    EXPECT_EQ(ORSA_get_param_info(name->tag, &info), 1u);
    EXPECT_EQ(ORSA_get_param_info(make->tag, nullptr), 1u);
}

TEST_F(ApiTree, ActionParameterRules)
{
    struct {
        std::vector<const char *> params;
        u32 rc;
        const char *status;
    } cases[] = {
        {{"2", "on", "abc", "10.1.1.1", "255.255.0.0"}, 0, "0 "},
        {{nullptr}, 1, "9 Count: Parameter missing."},
        {{"2", nullptr, nullptr, nullptr, nullptr}, 0, "0 "},
        {{"5"}, 1, "7 Count: Value out of range. Valid range is from 1 to 4."},
        {{"0x4"}, 0, "0 "},
        {{"two"}, 1, "6 Count: Invalid value."},
        {{"2", "Maybe"}, 1, "6 Mode: Invalid value."},
        {{"2", "OFF", "a"}, 1, "8 Alias: Number of characters should be from 2 to 8."},
        {{"2", nullptr, nullptr, "127.0.0.1"}, 1, "6 Address: Invalid value."},
        {{"2", nullptr, nullptr, nullptr, "255.0.255.0"}, 1, "6 Mask: Invalid value."},
        {{"2", ""}, 1, "6 Mode: Invalid value."}, /* given but empty is a value, and not an allowed one */
    };
    HmValueSlot params[HM_MAX_PARAMS];
    for (auto &c : cases) {
        rec = Recorded{};
        fill(params, c.params);
        strcpy(params[5], "beyond"); /* beyond param_count: never looked at */
        EXPECT_EQ(ORSA_do_action(ctl->tag, make->tag, params, nullptr), c.rc) << c.status;
        EXPECT_EQ(last_text(), c.status);
        EXPECT_EQ(rec.calls, c.rc == 0 ? 1 : 0) << c.status;
    }
    /* an optional parameter not given reaches the handler as an empty, zeroed slot */
    rec = Recorded{};
    fill(params, {"2", nullptr, nullptr, nullptr, nullptr});
    ASSERT_EQ(ORSA_do_action(ctl->tag, make->tag, params, nullptr), 0u);
    EXPECT_EQ(rec.params[1], "");
    for (int i = 1; i < 5; i++)
        for (int k = 0; k < HM_VALUE_SIZE; k++)
            ASSERT_EQ(params[i][k], 0) << i;
    EXPECT_EQ((u8)params[5][0], ORSA_PARAM_NOT_GIVEN); /* beyond param_count: left as given */
    /* an IPv6 parameter is normalised in the slot the handler gets */
    fill(params, {"1", nullptr, nullptr, "fe80::1"});
    rec = Recorded{};
    ASSERT_EQ(ORSA_do_action(ctl->tag, make->tag, params, nullptr), 0u);
    EXPECT_EQ(rec.params[3], "FE80:0000:0000:0000:0000:0000:0000:0001");
    /* a slot without a terminator is no text */
    fill(params, {"1", "On", nullptr});
    memset(params[2], 'x', HM_VALUE_SIZE);
    EXPECT_EQ(ORSA_do_action(ctl->tag, make->tag, params, nullptr), 1u);
    EXPECT_EQ(last_text(), "6 Alias: Invalid value.");
}

TEST_F(ApiTree, ActionRefusalsAndResults)
{
    HmValueSlot params[HM_MAX_PARAMS];
    fill(params, {"1"});
    /* every refusal says why: code 1 and a text */
    const std::string n = std::to_string(name->tag);
    struct {
        u32 group, action;
        HmValueSlot *params;
        u32 rc;
        std::string status;
    } cases[] = {
        {4000, make->tag, params, 1, "1 No node has tag 4000."},
        {ctl->tag, 4000, params, 1, "1 No node has tag 4000."},
        {ctl->tag, make->tag, nullptr, 1, "1 No parameters."},
        {name->tag, make->tag, params, 1, "1 Tag " + n + " is not a group."},
        {ctl->tag, name->tag, params, 1, "1 Tag " + n + " is not an action."},
        /* an action without handler */
        {ctl->tag, bare->tag, params, 1, "1 Operation failed."},
    };
    for (auto &c : cases) {
        EXPECT_EQ(ORSA_do_action(c.group, c.action, c.params, nullptr), c.rc);
        EXPECT_EQ(last_text(), c.status);
        EXPECT_EQ(orsa_internal_new_tags, nullptr);
    }
    /* the handler's result comes back unchanged, through links on both sides */
    rec.result = 55;
    HmNode *action_link = create_link(ctl, "MakeAlias", make, nullptr, nullptr, nullptr);
    ASSERT_NE(action_link, nullptr);
    EXPECT_EQ(ORSA_do_action(ctl->tag, action_link->tag, params, nullptr), 55u);
    EXPECT_EQ(rec.calls, 1);
    /* a global action of ROOT runs on any group */
    EXPECT_EQ(ORSA_do_action(ctl->tag, global->tag, params, nullptr), 55u);
}

TEST_F(ApiTree, NewTagsOfTheGroupsAnActionMakes)
{
    HmValueSlot params[HM_MAX_PARAMS];
    fill(params, {"3"});
    std::vector<u32> tags(HM_MAX_NEW_TAGS, 0xDEAD);
    targets_to_make = 3;
    ASSERT_EQ(ORSA_do_action(ctl->tag, make->tag, params, tags.data()), 0u);
    for (int i = 0; i < 3; i++) {
        HmNode *t = get_node((i32)tags[i]);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(hm_instance_info(t)->number, i);
    }
    EXPECT_EQ(tags[3], 0xDEADu);
    EXPECT_EQ(orsa_internal_new_tags, nullptr); /* detached after the action */
    EXPECT_EQ(new_tag_index, 0u);
    /* groups made outside an action report nothing */
    EXPECT_NE(b.instance(ctl, "Target", target_bits, 256), nullptr);
    EXPECT_EQ(tags[3], 0xDEADu);
    /* no list from the client: entry 0 is not touched, nothing reported */
    targets_to_make = 1;
    fill(params, {"3"}); /* the last call zeroed the optional slots it was given as not given */
    ASSERT_EQ(ORSA_do_action(ctl->tag, make->tag, params, nullptr), 0u);
    /* a list with an action that makes nothing: entry 0 is cleared */
    targets_to_make = 0;
    tags[0] = 0xDEAD;
    fill(params, {"3"});
    ASSERT_EQ(ORSA_do_action(ctl->tag, make->tag, params, tags.data()), 0u);
    EXPECT_EQ(tags[0], 0u);
}

TEST_F(ApiTree, PropertyReadNeverWritesPastTheCallersSize)
{
    char buf[16];
    memset(buf, '#', sizeof buf);
    /* the handler answers 20 characters; the caller has room for 8: what
     * fits, and 11 with the reason */
    EXPECT_EQ(ORSA_get_property_val(ctl->tag, addr->tag, buf, 8), (u32)ORSA_STATUS_NO_ROOM);
    EXPECT_STREQ(buf, "0123456");
    for (int i = 8; i < 16; i++)
        EXPECT_EQ(buf[i], '#') << i;
    EXPECT_EQ(last_text(), "11 The value has 20 characters: the buffer of 8 bytes holds 7 and the terminator.");
    /* room for the 20 characters and the terminator: the whole value */
    char exact[21];
    EXPECT_EQ(ORSA_get_property_val(ctl->tag, addr->tag, exact, sizeof exact), 0u);
    EXPECT_STREQ(exact, "0123456789abcdefghij");
    EXPECT_EQ(last_text(), "0 ");
    char full[HM_VALUE_SIZE];
    const std::string t_ctl = std::to_string(ctl->tag), t_name = std::to_string(name->tag),
                      t_sub = std::to_string(sub->tag), t_subprop = std::to_string(subprop->tag);
    struct {
        u32 group, prop;
        char *buf;
        i32 size;
        u32 rc;
        const char *value;
        std::string status;
    } cases[] = {
        {ctl->tag, name->tag, full, 256, 0, "controller", "0 "},
        {ctl->tag, nohandler->tag, full, 256, 0, "kept", "0 "},
        {alias->tag, subprop->tag, full, 256, 0, "inside", "0 "}, /* a group link stands for its target */
        {ctl->tag, subprop->tag, full, 256, 1, nullptr,
         "1 Property tag " + t_subprop + " is not in group tag " + t_ctl + "."},
        {ctl->tag, name->tag, full, 257, 1, nullptr, "1 A value buffer of 257 bytes: it holds 1 to 256."},
        {ctl->tag, name->tag, full, 0, 1, nullptr, "1 A value buffer of 0 bytes: it holds 1 to 256."},
        {ctl->tag, name->tag, nullptr, 256, 1, nullptr, "1 No buffer for the value."},
        {ctl->tag, 4000, full, 256, 1, nullptr, "1 No node has tag 4000."},
        {4000, name->tag, full, 256, 1, nullptr, "1 No node has tag 4000."},
        {name->tag, name->tag, full, 256, 1, nullptr, "1 Tag " + t_name + " is not a group."},
        {ctl->tag, sub->tag, full, 256, 1, nullptr, "1 Tag " + t_sub + " is not a property."},
    };
    for (auto &c : cases) {
        strcpy(full, "");
        EXPECT_EQ(ORSA_get_property_val(c.group, c.prop, c.buf, c.size), c.rc) << c.prop << "/" << c.size;
        EXPECT_EQ(last_text(), c.status) << c.prop << "/" << c.size;
        if (c.value != nullptr) {
            EXPECT_STREQ(full, c.value);
        }
    }
    rec.result = 31;
    EXPECT_EQ(ORSA_get_property_val(ctl->tag, addr->tag, full, 256), 31u);
}

TEST_F(ApiTree, PropertyWriteValidatesTypeAndBounds)
{
    static const char forty_chars[] = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
    struct {
        HmNode **prop;
        const char *text;
        u32 rc;
        const char *status;
        const char *stored; /* expected cache after, or null to skip */
    } cases[] = {
        {&name, "x", 1, "10 Read only property", "controller"},
        {&port, "70000", 1, "7 Value out of range. Valid range is from 1024 to 65535.", "3260"},
        {&port, "0x10", 1, "7 Value out of range. Valid range is from 1024 to 65535.", "3260"},
        {&port, "0x1000", 0, "0 ", "0x1000"},
        {&port, "12ab", 1, "6 Invalid value.", "0x1000"},
        {&port, "", 1, "6 Invalid value.", "0x1000"},
        {&label, forty_chars, 1, "8 Number of characters should be from 5 to 32.", ""},
        {&label, "abcd", 1, "8 Number of characters should be from 5 to 32.", ""},
        {&label, "abcde", 0, "0 ", "abcde"},
        {&mode, "off", 0, "0 ", "off"},
        {&mode, "Of", 1, "6 Invalid value.", nullptr},
        {&mask, "255.255.255.0", 0, "0 ", "255.255.255.0"},
        {&mask, "255.0.255.0", 1, "6 Invalid value.", nullptr},
        /* 3 comes with its status too */
        {&nohandler, "new", 3, "3 Property has no handler.", "kept"},
    };
    for (auto &c : cases) {
        char text[HM_VALUE_SIZE];
        strcpy(text, c.text);
        EXPECT_EQ(ORSA_set_property_val(ctl->tag, (*c.prop)->tag, text, 256), c.rc) << c.text;
        EXPECT_EQ(last_text(), c.status) << c.text;
        if (c.stored != nullptr) {
            EXPECT_STREQ(HM_PROPERTY(*c.prop)->value, c.stored) << c.text;
        }
    }
}

TEST_F(ApiTree, PropertyWriteNeverRewritesTheCallersText)
{
    /* the handler writes "N/A" into what it gets, the validation rewrites IPv6:
     * neither reaches the caller's (constant) text */
    static const char ipv6[] = "fe80::1";
    EXPECT_EQ(ORSA_set_property_val(ctl->tag, addr->tag, (char *)ipv6, sizeof ipv6), 0u);
    EXPECT_EQ(rec.set_text, "FE80:0000:0000:0000:0000:0000:0000:0001");
    EXPECT_STREQ(ipv6, "fe80::1");
    char v4[] = "10.1.1.1";
    EXPECT_EQ(ORSA_set_property_val(ctl->tag, addr->tag, v4, sizeof v4), 0u);
    EXPECT_STREQ(v4, "10.1.1.1");
    EXPECT_EQ(rec.set_text, "10.1.1.1");

    const std::string t_ctl = std::to_string(ctl->tag), t_name = std::to_string(name->tag),
                      t_sub = std::to_string(sub->tag), t_subprop = std::to_string(subprop->tag);
    struct {
        u32 group, prop;
        const char *text;
        u32 size;
        std::string status;
    } refused[] = {
        {ctl->tag, addr->tag, "10.1.1.1", 257, "1 A value of 257 bytes: a value holds at most 256."},
        {ctl->tag, subprop->tag, "x", 2, "1 Property tag " + t_subprop + " is not in group tag " + t_ctl + "."},
        {4000, addr->tag, "x", 2, "1 No node has tag 4000."},
        {ctl->tag, 4000, "x", 2, "1 No node has tag 4000."},
        {ctl->tag, addr->tag, nullptr, 2, "1 No value."},
        {name->tag, addr->tag, "x", 2, "1 Tag " + t_name + " is not a group."},
        {ctl->tag, sub->tag, "x", 2, "1 Tag " + t_sub + " is not a property."},
    };
    for (auto &c : refused) {
        EXPECT_EQ(ORSA_set_property_val(c.group, c.prop, (char *)c.text, c.size), 1u);
        EXPECT_EQ(last_text(), c.status);
    }
    std::string too_long(300, 'a');
    EXPECT_EQ(ORSA_set_property_val(ctl->tag, label->tag, too_long.data(), 200), 1u);
    EXPECT_EQ(last_text(), "1 The value is longer than 255 characters.");
}

TEST_F(ApiTree, PersistentNodesInPriorityOrder)
{
    static u8 pbits[32];
    memset(pbits, 0, sizeof pbits);
    HmNode *first = b.instance(ctl, "Portal", pbits, 128, make);
    HmNode *second = b.instance(ctl, "Portal", pbits, 128, make);
    HmValueSlot keys[HM_MAX_PARAMS] = {};
    strcpy(keys[0], "key zero");
    strcpy(keys[5], "key five");
    HmNode *link = create_link(sub, "Persist", second, ctl, make, keys);
    ASSERT_TRUE(first && second && link);
    EXPECT_EQ(HM_GROUP(first)->persistency_priority, 1u);
    EXPECT_EQ(HM_LINK(link)->persistency_priority, 3u);
    EXPECT_EQ(persistency_priority, 4u);

    u32 tags[8];
    i32 count = 2;
    EXPECT_EQ(ORSA_get_persistent_nodes(tags, &count), ORSA_STATUS_NO_ROOM);
    count = -1;
    EXPECT_EQ(ORSA_get_persistent_nodes(tags, &count), ORSA_STATUS_NO_ROOM);
    count = 3;
    ASSERT_EQ(ORSA_get_persistent_nodes(tags, &count), 0u);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(tags[0], first->tag);
    EXPECT_EQ(tags[1], second->tag);
    EXPECT_EQ(tags[2], link->tag);

    /* a deleted one leaves a gap that is skipped */
    ASSERT_EQ(delete_node(first), 0u);
    count = 8;
    ASSERT_EQ(ORSA_get_persistent_nodes(tags, &count), 0u);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(tags[0], second->tag);

    HmPersistenceInfo info;
    ASSERT_EQ(ORSA_get_persistence_info(link->tag, &info), 0u);
    EXPECT_EQ(info.key_b_tag, make->tag);
    EXPECT_EQ(info.key_a_tag, ctl->tag);
    EXPECT_STREQ(info.keys[0], "key zero");
    EXPECT_STREQ(info.keys[5], "key five");
    ASSERT_EQ(ORSA_get_persistence_info(second->tag, &info), 0u);
    EXPECT_EQ(info.key_b_tag, make->tag);
    EXPECT_EQ(ORSA_get_persistence_info(ctl->tag, &info), 1u); /* not persistent */
    EXPECT_EQ(ORSA_get_persistence_info(name->tag, &info), 1u);
    EXPECT_EQ(ORSA_get_persistence_info(link->tag, nullptr), 1u);
}

/* Persistent groups and links name the group their action ran on (key A) and
 * the action (key B). When that group goes, they stop being persistent: the
 * saved-tree walk and the API must not read the freed key group. */
TEST_F(ApiTree, DeletedKeyGroupLeavesNoReferenceBehind)
{
    static u8 kbits[32], pbits[32];
    memset(kbits, 0, sizeof kbits);
    memset(pbits, 0, sizeof pbits);
    HmNode *key = b.instance(ctl, "Target", kbits, 256);
    ASSERT_NE(key, nullptr);
    HmNode *key_action = b.action(key, "Make", &make_desc);
    ASSERT_NE(key_action, nullptr);
    /* one group and one link made by an action that ran on key ... */
    HmNode *orphan = b.instance(ctl, "Portal", pbits, 128, key_action);
    ASSERT_NE(orphan, nullptr);
    HM_GROUP(orphan)->key_a = key;
    HmNode *orphan_link = create_link(sub, "Made", ctl, key, make, nullptr);
    /* ... and one made on the controller, which stays */
    HmNode *kept = b.instance(ctl, "Portal", pbits, 128, make);
    ASSERT_TRUE(orphan_link && kept);
    HM_GROUP(kept)->key_a = ctl;
    strcpy(HM_GROUP(kept)->keys[0], "3");

    ASSERT_EQ(delete_node(key), 0u);

    HmPersistenceInfo info;
    EXPECT_EQ(ORSA_get_persistence_info(orphan->tag, &info), 1u);
    EXPECT_EQ(ORSA_get_persistence_info(orphan_link->tag, &info), 1u);
    ASSERT_EQ(ORSA_get_persistence_info(kept->tag, &info), 0u);
    EXPECT_EQ(info.key_a_tag, ctl->tag);
    EXPECT_EQ(info.key_b_tag, make->tag);
    u32 tags[8];
    i32 count = 8;
    ASSERT_EQ(ORSA_get_persistent_nodes(tags, &count), 0u);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(tags[0], kept->tag);

    char *text = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&text, &size);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(save_node(root, f, 0), 0u);
    fclose(f);
    std::string saved(text, size);
    free(text);
    char kept_label[HM_NAME_SIZE];
    hm_node_label(kept, kept_label);
    EXPECT_EQ(saved, "GROUP|ROOT/Kalderstone0/" + std::string(kept_label) + "|ROOT/Kalderstone0|ROOT/Kalderstone0/MakeTargets|3\n");
}

} // namespace

namespace {

/* A tree marked stale (a NIC request saw the function count change) is built
 * again at the next API entry. The calls that take two tags must look them up
 * in the rebuilt tree: a lookup made before the rebuild would hold nodes the
 * rebuild freed. */
TEST_F(ApiTree, StaleTreeIsRebuiltBeforeTagsAreLookedUp)
{
    enum Call { GetValue, SetValue, DoAction, NodeName };
    struct {
        Call call;
        const char *what;
    } cases[] = {
        {GetValue, "ORSA_get_property_val"},
        {SetValue, "ORSA_set_property_val"},
        {DoAction, "ORSA_do_action"},
        {NodeName, "ORSA_get_node_name"},
    };
    static HmAction desc{};
    desc = HmAction{make_targets, 0, 0, {}};
    for (auto &c : cases) {
        /* every case builds its own dynamic group: the rebuild of the case
         * before took the fixture's away */
        HmNode *g = b.instance(root, "Stale", target_bits, 256);
        ASSERT_NE(g, nullptr) << c.what;
        HmNode *p = b.property(g, "Value", HM_TYPE_STRING, HM_PROP_WRITABLE, 0, 32, "", "old");
        HmNode *a = b.action(g, "Act", &desc);
        ASSERT_TRUE(p != nullptr && a != nullptr) << c.what;
        u32 group_tag = g->tag, prop_tag = p->tag, action_tag = a->tag;
        rec = Recorded{};
        orsa_hierarchy_stale = 1;
        char text[HM_VALUE_SIZE] = "new";
        HmValueSlot params[HM_MAX_PARAMS] = {};
        u32 rc = 0;
        switch (c.call) {
        case GetValue:
            rc = ORSA_get_property_val(group_tag, prop_tag, text, sizeof text);
            break;
        case SetValue:
            rc = ORSA_set_property_val(group_tag, prop_tag, text, sizeof text);
            break;
        case DoAction:
            rc = ORSA_do_action(group_tag, action_tag, params, nullptr);
            break;
        case NodeName:
            rc = ORSA_get_node_name(group_tag, text, HM_KIND_GROUP);
            break;
        }
        EXPECT_EQ(orsa_hierarchy_stale, 0) << c.what;
        EXPECT_EQ(rc, 1u) << c.what << ": the tags name no node of the rebuilt tree";
        EXPECT_EQ(rec.calls, 0) << c.what;
        EXPECT_EQ(get_node((i32)group_tag), nullptr) << c.what;
    }
}

/* Leaving never rebuilds a stale tree: the last client takes it down, and for
 * the others the next call that walks the tree rebuilds it. */
TEST_F(ApiTree, ExitLeavesAStaleTreeToTheNextCall)
{
    ASSERT_EQ(ORSA_init(), 0u); /* a second client */
    HmProperty *version = HM_PROPERTY(&ORSAServiceVersion_node);
    orsa_strlcpy(version->value, "held by a client", sizeof version->value);
    orsa_hierarchy_stale = 1;
    EXPECT_EQ(ORSA_exit(), 0u);
    EXPECT_EQ(orsa_client_count, 1);
    EXPECT_EQ(orsa_hierarchy_stale, 1) << "left to the next call";
    EXPECT_STREQ(HM_PROPERTY(&ORSAServiceVersion_node)->value, "held by a client") << "not rebuilt on the way out";
    u32 parent = 99;
    EXPECT_EQ(ORSA_get_parent_tag(0, &parent), 0u);
    EXPECT_EQ(orsa_hierarchy_stale, 0);
    EXPECT_STRNE(HM_PROPERTY(&ORSAServiceVersion_node)->value, "held by a client") << "rebuilt at the next call";
}

/* The state file reads every property through the API's read path while it
 * walks the tree. A handler whose command finds the NIC functions changed
 * marks the tree stale; the walk must go on over the tree it holds, and the
 * rebuild waits for the next API entry. */
TEST_F(ApiTree, StateFileWalkIsNeverRebuiltUnderneath)
{
    struct Stale {
        static u32 handler(HmNode *property, char *value, u32 mode)
        {
            orsa_hierarchy_stale = 1;
            return handle_internal_property(property, value, mode);
        }
    };
    HmNode *g = b.instance(root, "Walked", target_bits, 256);
    ASSERT_NE(g, nullptr);
    const char *names[] = {"First", "Second", "Third"};
    for (const char *n : names)
        ASSERT_NE(b.property(g, n, HM_TYPE_STRING, HM_PROP_WRITABLE, 0, 32, "", n, Stale::handler), nullptr);

    char text[4096] = {};
    FILE *file = fmemopen(text, sizeof text - 1, "w");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(save_node(g, file, HM_PROP_WRITABLE), 0u);
    fclose(file);
    EXPECT_EQ(orsa_hierarchy_stale, 1) << "left to the next API entry";
    for (const char *n : names)
        EXPECT_NE(strstr(text, n), nullptr) << n << " in:\n" << text;

    u32 parent = 99;
    EXPECT_EQ(ORSA_get_parent_tag(0, &parent), 0u);
    EXPECT_EQ(orsa_hierarchy_stale, 0);
}

} // namespace
