/* The tree engine: bitmaps, tags, rings and instance chains, clashes,
 * deletes and links, lookups by label, lists, last status and allocator. */
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tree_fixture.h"

namespace {

/* ---- bitmaps ---- */

TEST(Bitmap, IndexRulesAndScans)
{
    u8 map[3] = {0, 0, 0};
    struct {
        i32 nbits, index;
        i32 set_rc;
    } cases[] = {{20, 0, 0}, {20, 19, 0}, {20, 20, -1}, {20, -1, -1}, {0, 0, -1}};
    for (auto &c : cases) {
        EXPECT_EQ(set_bit(map, c.nbits, c.index), c.set_rc) << c.nbits << "/" << c.index;
        EXPECT_EQ(clear_bit(map, c.nbits, c.index), c.set_rc) << c.nbits << "/" << c.index;
    }
    EXPECT_EQ(is_set(map, 20, 20), -1);
    EXPECT_EQ(is_set(map, 20, -1), -1);

    EXPECT_EQ(get_first_one(map, 20), -1);
    EXPECT_EQ(get_first_zero(map, 20), 0);
    EXPECT_EQ(get_first_one(map, 0), -1);
    EXPECT_EQ(get_first_zero(map, 0), -1);

    for (i32 i = 0; i < 11; i++)
        ASSERT_EQ(set_bit(map, 20, i), 0);
    EXPECT_EQ(map[0], 0xFF);
    EXPECT_EQ(map[1], 0x07); /* bit i is bit i % 8 of byte i / 8, LSB first */
    EXPECT_EQ(get_first_zero(map, 20), 11);
    EXPECT_EQ(get_first_one(map, 20), 0);
    EXPECT_NE(is_set(map, 20, 10), 0);
    EXPECT_EQ(is_set(map, 20, 11), 0);

    /* a full map has no zero within its size, even if the byte has room */
    EXPECT_EQ(get_first_zero(map, 11), -1);
    clear_bit(map, 20, 0);
    EXPECT_EQ(get_first_one(map, 20), 1);
}

TEST(Bitmap, AllocatesWholeBytes)
{
    i32 before = orsa_counter;
    EXPECT_EQ(alloc_bitfield(0), nullptr);
    u8 *m = alloc_bitfield(9);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m[0], 0);
    EXPECT_EQ(m[1], 0);
    free_bitfield(m);
    free_bitfield(nullptr); /* there is none: nothing is freed or counted */
    EXPECT_EQ(orsa_counter, before);
}

/* ---- hierarchy, tags and rings ---- */

using EngineTest = TreeTest;

TEST_F(EngineTest, RootAndBuiltinsHoldTheFirstTags)
{
    EXPECT_EQ(ROOT.tag, 0u);
    EXPECT_EQ(ORSAServiceVersion_node.tag, 1u);
    EXPECT_EQ(ORSAHierarchyVersion_node.tag, 2u);
    EXPECT_EQ(ORSADebugLevel_node.tag, 3u);
    EXPECT_EQ(get_node(0), &ROOT);
    EXPECT_EQ(ROOT.parent, &ROOT);
    EXPECT_EQ(HM_GROUP(&ROOT)->first_child, &ORSAServiceVersion_node);
    EXPECT_EQ(HM_GROUP(&ROOT)->last_child, &ORSADebugLevel_node);
    EXPECT_EQ(ORSAServiceVersion_node.prev, &ROOT);
    EXPECT_EQ(ORSADebugLevel_node.next, &ROOT);
    EXPECT_EQ(hierarchy_name_.max_tag, 226759896);
    EXPECT_EQ(hierarchy_name_.description_size, 1780u);
    EXPECT_EQ(hierarchy_name_.name_size, 35u);
    EXPECT_EQ(hierarchy_name_.max_params, 6u);
    EXPECT_EQ(hierarchy_name_.capacity, 1024u);
    EXPECT_EQ(orsa_hierarchy_count, 1u);
    EXPECT_EQ(hm_get_root(""), &ROOT);
    EXPECT_EQ(hm_find_hierarchy("other"), nullptr);
}

TEST_F(EngineTest, DeletedTagIsReusedAndOutOfRangeTagsNameNothing)
{
    HmNode *a = b.group(root, "A");
    HmNode *c = b.group(root, "C");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(a->tag, 4u);
    EXPECT_EQ(c->tag, 5u);
    EXPECT_EQ(delete_node(a), 0u);
    EXPECT_EQ(get_node(4), nullptr);
    HmNode *d = b.group(root, "D");
    EXPECT_EQ(d->tag, 4u);
    EXPECT_EQ(get_node(-1), nullptr);
    EXPECT_EQ(get_node((i32)hierarchy_name_.capacity), nullptr);
    EXPECT_EQ(get_node(1000), nullptr); /* free tag */
}

/* Freed tags in earlier words of the bitmap come back lowest first, before
 * any tag past the last one in use. */
TEST_F(EngineTest, FreedTagsComeBackLowestFirstAcrossWords)
{
    std::vector<HmNode *> nodes;
    for (int i = 0; i < 100; i++) {
        char name[16];
        snprintf(name, sizeof name, "G%d", i);
        nodes.push_back(b.group(root, name));
        ASSERT_NE(nodes.back(), nullptr);
        EXPECT_EQ(nodes.back()->tag, 4u + (u32)i);
    }
    EXPECT_EQ(delete_node(nodes[70]), 0u);  /* tag 74 */
    EXPECT_EQ(delete_node(nodes[10]), 0u);  /* tag 14 */
    EXPECT_EQ(b.group(root, "N1")->tag, 14u);
    EXPECT_EQ(b.group(root, "N2")->tag, 74u);
    EXPECT_EQ(b.group(root, "N3")->tag, 104u);
}

TEST_F(EngineTest, TagTableGrowsByOneThousandTwentyFour)
{
    static u8 bits[128];
    memset(bits, 0, sizeof bits);
    HmNode *holder = b.instance(root, "Holder", bits, 1);
    ASSERT_NE(holder, nullptr);
    std::vector<HmNode *> nodes;
    /* 4 static nodes + the holder are in; 1020 more fill 1025 slots */
    for (int i = 0; i < 1020; i++) {
        HmNode *p = b.property(holder, "P", HM_TYPE_STRING, HM_PROP_READONLY, 0, 32);
        ASSERT_NE(p, nullptr);
        nodes.push_back(p);
    }
    EXPECT_EQ(hierarchy_name_.capacity, 2048u);
    EXPECT_EQ(nodes.back()->tag, 1024u);
    for (HmNode *p : nodes)
        ASSERT_EQ(get_node((i32)p->tag), p);
    EXPECT_EQ(get_node(0), &ROOT);
}

/* Collects the labels of a group's children in ring order, both ways. */
static std::string ring_labels(HmNode *g, bool backwards = false)
{
    std::string out;
    char label[HM_NAME_SIZE];
    HmNode *c = backwards ? HM_GROUP(g)->last_child : HM_GROUP(g)->first_child;
    while (c != g) {
        hm_node_label(c, label);
        out += std::string(out.empty() ? "" : " ") + label;
        c = backwards ? c->prev : c->next;
    }
    return out;
}

static std::string chain_numbers(HmNode *first)
{
    std::string out;
    for (HmNode *n = first; n != nullptr && hm_instance_info(n)->number != -1;
         n = hm_instance_info(n)->next_instance)
        out += std::to_string(hm_instance_info(n)->number);
    return out;
}

TEST_F(EngineTest, InstancesStayContiguousAndAscending)
{
    static u8 pbits[1], tbits[32];
    memset(pbits, 0, sizeof pbits);
    memset(tbits, 0, sizeof tbits);
    HmNode *parent = b.instance(root, "Parent", pbits, 8);
    ASSERT_NE(parent, nullptr);
    b.property(parent, "Before", HM_TYPE_STRING, HM_PROP_READONLY, 0, 8);
    ASSERT_NE(b.instance_at(parent, "Target", tbits, 256, 3), nullptr);
    b.property(parent, "Between", HM_TYPE_STRING, HM_PROP_READONLY, 0, 8);
    ASSERT_NE(b.instance_at(parent, "Target", tbits, 256, 1), nullptr);
    ASSERT_NE(b.instance_at(parent, "Target", tbits, 256, 2), nullptr);
    b.property(parent, "After", HM_TYPE_STRING, HM_PROP_READONLY, 0, 8);
    ASSERT_NE(b.instance_at(parent, "Target", tbits, 256, 7), nullptr);

    EXPECT_EQ(ring_labels(parent), "Before Target1 Target2 Target3 Target7 Between After");
    EXPECT_EQ(ring_labels(parent, true), "After Between Target7 Target3 Target2 Target1 Before");
    HmNode *first = get_first_instance(parent, "Target");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(chain_numbers(first), "1237");
    /* the chain is closed through the sentinel both ways */
    HmNode *sentinel = hm_instance_info(first)->prev_instance;
    EXPECT_EQ(hm_instance_info(sentinel)->number, -1);
    EXPECT_EQ(hm_instance_info(hm_instance_info(sentinel)->prev_instance)->number, 7);

    /* a new lowest number goes first in the ring among its kind */
    ASSERT_NE(b.instance_at(parent, "Target", tbits, 256, 0), nullptr);
    EXPECT_EQ(ring_labels(parent), "Before Target0 Target1 Target2 Target3 Target7 Between After");
    EXPECT_EQ(get_first_instance(parent, "Target")->tag, internal_get_node(parent, "target0", 1)->tag);
    /* case counts for get_first_instance */
    EXPECT_EQ(get_first_instance(parent, "target"), nullptr);
}

TEST_F(EngineTest, LastInstanceTakesItsSentinelAlong)
{
    static u8 bits[1];
    memset(bits, 0, sizeof bits);
    i32 before = orsa_counter;
    HmNode *g = b.instance(root, "Solo", bits, 8);
    ASSERT_NE(g, nullptr);
    /* name, description, node, group, info + sentinel node, group, info */
    EXPECT_EQ(orsa_counter - before, 8);
    EXPECT_EQ(delete_node(g), 0u);
    EXPECT_EQ(orsa_counter, before);
    EXPECT_EQ(bits[0], 0);
    g = b.instance(root, "Solo", bits, 8);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(hm_instance_info(g)->number, 0);
    EXPECT_EQ(hm_instance_info(hm_instance_info(g)->next_instance)->number, -1);
}

TEST_F(EngineTest, ClashRules)
{
    static u8 bits[1];
    memset(bits, 0, sizeof bits);
    HmNode *g = b.instance(root, "G", bits, 8);
    HmNode *target = b.group(g, "Target");
    HmNode *other = b.group(g, "Other");
    static u8 ibits[1];
    memset(ibits, 0, sizeof ibits);

    /* two properties or two static groups of one name both go in */
    EXPECT_NE(b.property(g, "Same", HM_TYPE_STRING, HM_PROP_READONLY, 0, 8), nullptr);
    EXPECT_NE(b.property(g, "same", HM_TYPE_STRING, HM_PROP_READONLY, 0, 8), nullptr);
    EXPECT_NE(b.group(g, "Twin"), nullptr);
    EXPECT_NE(b.group(g, "Twin"), nullptr);
    /* same instance number of one kind: refused, whatever the case */
    EXPECT_NE(b.instance_at(g, "Inst", ibits, 8, 2), nullptr);
    EXPECT_EQ(b.instance_at(g, "INST", ibits, 8, 2), nullptr);
    EXPECT_NE(b.instance_at(g, "Inst", ibits, 8, 3), nullptr);
    /* two links of one name to one target: refused; to another target: fine */
    EXPECT_NE(create_link(g, "L", target, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(create_link(g, "l", target, nullptr, nullptr, nullptr), nullptr);
    EXPECT_NE(create_link(g, "L", other, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(target->link_count, 1u);
    EXPECT_EQ(add_node(nullptr, &hierarchy_name_), HM_TAG_NONE);
}

TEST_F(EngineTest, LinkedNodeRefusesDeleteButTeardownTakesIt)
{
    static u8 bits[1];
    memset(bits, 0, sizeof bits);
    HmNode *g = b.instance(root, "G", bits, 8);
    HmNode *target = b.group(g, "Target");
    b.property(target, "P", HM_TYPE_STRING, HM_PROP_READONLY, 0, 8, "", "v");
    HmNode *link = create_link(root, "ToTarget", target, nullptr, nullptr, nullptr);
    ASSERT_NE(link, nullptr);
    EXPECT_STREQ(link->description, target->description);
    EXPECT_EQ(delete_node(target), ORSA_STATUS_NODE_LINKED);
    EXPECT_EQ(get_node((i32)target->tag), target);
    /* the group holding the linked node is refused too: the link would be left
     * naming a freed node */
    EXPECT_EQ(delete_node(g), ORSA_STATUS_NODE_LINKED);
    EXPECT_EQ(get_node((i32)g->tag), g);
    EXPECT_EQ(delete_node(link), 0u);
    EXPECT_EQ(target->link_count, 0u);
    /* a fresh link after the group in ring order: the teardown removes both
     * regardless, and the link never touches the freed target */
    HmNode *again = create_link(root, "Again", target, nullptr, nullptr, nullptr);
    ASSERT_NE(again, nullptr);
    /* a link inside the subtree does not hold the subtree */
    HmNode *inner = create_link(g, "Inner", target, nullptr, nullptr, nullptr);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(target->link_count, 2u);
    EXPECT_EQ(delete_node(again), 0u);
    EXPECT_EQ(delete_node(g), 0u);
    HmNode *g2 = b.instance(root, "G", bits, 8);
    HmNode *t2 = b.group(g2, "Target");
    ASSERT_NE(create_link(root, "Last", t2, nullptr, nullptr, nullptr), nullptr);
}

/* Unconditional deletion of a linked node (the teardown, exit_hm) leaves the
 * links that named it naming nothing. */
TEST_F(EngineTest, ForcedDeleteDetachesLinks)
{
    static u8 bits[1];
    memset(bits, 0, sizeof bits);
    HmNode *g = b.instance(root, "G", bits, 8);
    HmNode *link = create_link(root, "ToG", g, nullptr, nullptr, nullptr);
    ASSERT_NE(link, nullptr);
    _delete_node(g);
    EXPECT_EQ(HM_LINK(link)->target, nullptr);
    EXPECT_EQ(hm_follow_links(link), nullptr);
    EXPECT_EQ(internal_get_node(root, "ToG", HM_KIND_GROUP), nullptr);
    char name[HM_NAME_SIZE];
    for (u32 kind = 0; kind < 8; kind++)
        EXPECT_EQ(ORSA_get_node_name(link->tag, name, kind), 1u) << kind;
    EXPECT_EQ(delete_node(link), 0u);
}

TEST_F(EngineTest, DynamicAncestor)
{
    static u8 bits[1];
    memset(bits, 0, sizeof bits);
    HmNode *stat = b.group(root, "Static");
    HmNode *inst = b.instance(stat, "Inst", bits, 8);
    HmNode *sub = b.group(inst, "Sub");
    HmNode *p = b.property(sub, "P", HM_TYPE_STRING, HM_PROP_READONLY, 0, 8);
    EXPECT_EQ(get_dynamic_ancester(p), inst);
    EXPECT_EQ(get_dynamic_ancester(inst), inst);
    EXPECT_EQ(get_dynamic_ancester(stat), nullptr);
    EXPECT_EQ(get_dynamic_ancester(&ROOT), nullptr);
    EXPECT_EQ(get_dynamic_ancester(nullptr), nullptr);
}

/* ---- lookups ---- */

static u32 global_handler(HmNode *, HmNode *, HmValueSlot *)
{
    return 0;
}

TEST_F(EngineTest, LookupByLabel)
{
    static u8 cbits[2], tbits[32];
    memset(cbits, 0, sizeof cbits);
    memset(tbits, 0, sizeof tbits);
    static HmAction global_desc, local_desc;
    global_desc = HmAction{global_handler, 1, 0, {}};
    local_desc = HmAction{global_handler, 0, 0, {}};
    HmNode *ctl = b.instance(root, "Kalderstone", cbits, 16);
    HmNode *t3 = b.instance_at(ctl, "Target", tbits, 256, 3);
    HmNode *named = b.group(ctl, "Target3"); /* a static group whose name looks like a label */
    HmNode *prop = b.property(ctl, "Name", HM_TYPE_STRING, HM_PROP_READONLY, 0, 8, "", "x");
    HmNode *ga = b.action(root, "GlobalThing", &global_desc);
    HmNode *la = b.action(root, "LocalThing", &local_desc);
    HmNode *link = create_link(ctl, "Alias", t3, nullptr, nullptr, nullptr);
    ASSERT_TRUE(t3 && named && prop && ga && la && link);

    struct {
        const char *name;
        u32 kind;
        HmNode *expect;
    } cases[] = {
        {"tArGeT3", HM_KIND_GROUP, t3},      /* first match in ring order */
        {"Target", HM_KIND_GROUP, nullptr},  /* the base name alone is no label */
        {"name", HM_KIND_PROPERTY, prop},
        {"Name", HM_KIND_GROUP, nullptr},    /* right label, wrong kind */
        {"Name", HM_KIND_ANY, prop},
        {"alias", HM_KIND_GROUP, link},      /* a link by its target's kind, the link itself */
        {"alias", HM_KIND_LINK, nullptr},
        {"globalthing", HM_KIND_ACTION, ga}, /* global actions of ROOT from any group */
        {"LocalThing", HM_KIND_ACTION, nullptr},
        {"GlobalThing", HM_KIND_ANY, nullptr},
    };
    for (auto &c : cases)
        EXPECT_EQ(internal_get_node(ctl, c.name, c.kind), c.expect) << c.name << " kind " << c.kind;
    EXPECT_EQ(internal_get_node(root, "LocalThing", HM_KIND_ACTION), la);
    /* looking up through a link searches its target */
    HmNode *inner = b.property(t3, "Inner", HM_TYPE_STRING, HM_PROP_READONLY, 0, 8);
    EXPECT_EQ(internal_get_node(link, "inner", HM_KIND_PROPERTY), inner);
}

static u32 failing_handler(HmNode *, char *value, u32 mode)
{
    strcpy(value, mode == HM_MODE_GET ? "from handler" : "set seen");
    return 42;
}

TEST_F(EngineTest, InternalPropertyAccess)
{
    HmNode *g = b.group(root, "G");
    HmNode *plain = b.property(g, "Plain", HM_TYPE_STRING, HM_PROP_WRITABLE, 0, 8, "", "cached", nullptr);
    b.property(g, "Handled", HM_TYPE_STRING, HM_PROP_WRITABLE, 0, 8, "", "cached", failing_handler);
    char out[HM_VALUE_SIZE] = "";
    char text[HM_VALUE_SIZE] = "new";

    EXPECT_EQ(internal_get_property(g, "plain", out), 0u);
    EXPECT_STREQ(out, "cached");
    EXPECT_EQ(internal_get_property(g, "Handled", out), 42u);
    EXPECT_STREQ(out, "from handler");
    EXPECT_EQ(internal_get_property(g, "Missing", out), 1u);

    EXPECT_EQ(internal_set_property(g, "Plain", text), ORSA_STATUS_NO_HANDLER);
    EXPECT_STREQ(HM_PROPERTY(plain)->value, "cached");
    EXPECT_EQ(internal_set_property(g, "Handled", text), 42u);
    EXPECT_STREQ(text, "set seen");
    EXPECT_EQ(internal_set_property(g, "Missing", text), 1u);

    std::string longer(300, 'x');
    EXPECT_EQ(SET_CACHE_PROP_VAL(plain, "%s", longer.c_str()), 300);
    EXPECT_EQ(strlen(HM_PROPERTY(plain)->value), 255u);
    EXPECT_EQ(SET_CACHE_PROP_VAL(g, "x"), -1);
}

TEST_F(EngineTest, ActionParameterByName)
{
    static HmAction desc;
    memset(&desc, 0, sizeof desc);
    desc.param_count = 2;
    set_param(&desc.params[0], 1, "PortNumber", HM_TYPE_INTEGER, 0, 3);
    set_param(&desc.params[1], 0, "Mode", HM_TYPE_LIST, 0, 0, "On,Off");
    set_param(&desc.params[2], 0, "Hidden", HM_TYPE_STRING, 0, 8); /* beyond param_count */
    HmNode *g = b.group(root, "G");
    HmNode *a = b.action(g, "Act", &desc);
    EXPECT_EQ(orsa_internal_get_param(a, "portnumber"), &desc.params[0]);
    EXPECT_EQ(orsa_internal_get_param(a, "MODE"), &desc.params[1]);
    EXPECT_EQ(orsa_internal_get_param(a, "Hidden"), nullptr);
    EXPECT_EQ(orsa_internal_get_param(g, "Mode"), nullptr);
    EXPECT_EQ(orsa_internal_get_param(nullptr, "Mode"), nullptr);
}

/* ---- lists and text helpers ---- */

TEST(Lists, SearchAddDelete)
{
    struct {
        const char *list, *item;
        u32 mode;
        int position; /* -1 absent */
    } search[] = {
        {"a,b,c", "b", 0, 2}, {"a,b,c", "B", 0, -1}, {"a,b,c", "B", 1, 2}, {"a,b,c", "b", 2, -1},
        {"ab,b", "b", 0, 3},  {"", "", 0, 0},        {"a,,b", "", 0, 2},   {"abc", "ab", 0, -1},
    };
    for (auto &c : search) {
        char list[HM_LIST_SIZE];
        strcpy(list, c.list);
        char *p = orsa_internal_list_search(list, c.item, c.mode);
        EXPECT_EQ(p == nullptr ? -1 : (int)(p - list), c.position) << c.list << " / " << c.item;
    }
    EXPECT_EQ(orsa_internal_list_search(nullptr, "a", 0), nullptr);

    struct {
        const char *list, *item;
        u32 mode, rc;
        const char *after;
    } add[] = {
        {"", "a", 0, 0, "a"},          {"a", "b", 0, 0, "a,b"},  {"a,b", "B", 1, 1, "a,b"},
        {"a,b", "B", 0, 0, "a,b,B"},   {"a", "a", 0, 1, "a"},
    };
    for (auto &c : add) {
        char list[HM_LIST_SIZE];
        strcpy(list, c.list);
        EXPECT_EQ(orsa_internal_list_add(list, c.item, c.mode), c.rc) << c.list << " + " << c.item;
        EXPECT_STREQ(list, c.after);
    }
    char list[HM_LIST_SIZE] = "x";
    EXPECT_EQ(orsa_internal_list_add(nullptr, "a", 0), 1u);
    EXPECT_EQ(orsa_internal_list_add(list, nullptr, 0), 1u);

    struct {
        const char *list, *item;
        u32 mode, rc;
        const char *after;
    } del[] = {
        {"a,b,c", "a", 0, 0, "b,c"}, {"a,b,c", "b", 0, 0, "a,c"}, {"a,b,c", "C", 1, 0, "a,b"},
        {"a", "a", 0, 0, ""},        {"a,b", "x", 0, 1, "a,b"},   {"a,b", "A", 0, 1, "a,b"},
    };
    for (auto &c : del) {
        strcpy(list, c.list);
        EXPECT_EQ(orsa_internal_list_del(list, c.item, c.mode), c.rc) << c.list << " - " << c.item;
        EXPECT_STREQ(list, c.after);
    }
}

/* An item that does not fit whole is refused, not cut and reported added. */
TEST(Lists, AddRefusesAnItemThatDoesNotFit)
{
    char list[HM_LIST_SIZE + 8];
    memset(list, '#', sizeof list);
    std::string base(250, 'a');
    strcpy(list, base.c_str());
    EXPECT_EQ(orsa_internal_list_add(list, "bcdef", 0), 1u); /* 250 + 1 + 5 + 1 > 256 */
    EXPECT_EQ(std::string(list), base);
    EXPECT_EQ(orsa_internal_list_add(list, "bcde", 0), 0u); /* exactly 256 with the terminator */
    EXPECT_EQ(strlen(list), 255u);
    EXPECT_EQ(list[HM_LIST_SIZE], '#');
    EXPECT_EQ(orsa_internal_list_search(list, "bcde", 0), list + 251);
    std::string full(255, 'z');
    strcpy(list, full.c_str());
    EXPECT_EQ(orsa_internal_list_add(list, "", 0), 1u); /* length + 2 exceeds 256 */
}

TEST(Lists, Split)
{
    char text[] = "a,b,,c";
    EXPECT_EQ(orsa_split(text, ','), 4u);
    EXPECT_STREQ(text, "a");
    EXPECT_STREQ(text + 2, "b");
    EXPECT_STREQ(text + 4, "");
    EXPECT_STREQ(text + 5, "c");
    char empty[] = "";
    EXPECT_EQ(orsa_split(empty, ','), 1u);
    EXPECT_EQ(orsa_split(nullptr, ','), 0u);
}

/* ---- last status and allocator ---- */

TEST(LastStatus, CutTo599AndCopiedOut)
{
    std::string longer(700, 'm');
    orsa_set_last_status(77, longer.c_str());
    u32 code = 0;
    char out[ORSA_STATUS_TEXT_SIZE];
    orsa_get_last_status(&code, out);
    EXPECT_EQ(code, 77u);
    EXPECT_EQ(strlen(out), 599u);
    orsa_set_last_status(5, nullptr);
    orsa_get_last_status(&code, out);
    EXPECT_EQ(code, 5u);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(orsa_set_status(ORSA_STATUS_NO_MEMORY), 16u);
    EXPECT_STREQ(orsa_last_status_string, "Memory allocation failed. Please check for low memory conditions.");
}

TEST(LastStatus, VocabularyTableIsOrderedAndCarriesTheStandardTexts)
{
    u32 n = 0;
    const OrsaStatusEntry *t = orsa_status_table(&n);
    ASSERT_GT(n, 100u);
    for (u32 i = 1; i < n; i++)
        EXPECT_LT(t[i - 1].code, t[i].code) << "row " << i;
    struct {
        u32 code;
        const char *text;
    } known[] = {
        {10, "Read only property"},
        {16, "Memory allocation failed. Please check for low memory conditions."},
        {256, "Performed operation is not supported on a SR-IOV virtual function."},
        {259, "This operation is not supported on this controller."},
        {163, "Failed to get the controller type."},
        {34, "Cannot delete iSCSI target with a session that is logged in. Please perform an OEMKDLogOut for the "
             "iSCSI session and the target can then be deleted."},
        {239, "The operation completed successfully. Please reboot the machine immediately in order to avoid "
              "inconsistent behaviour."},
        {308, "Failed to set LPVID. Valid range of LPVID is from 2 to 4094."},
        {12345, ""},
    };
    for (auto &k : known)
        EXPECT_STREQ(orsa_status_text(k.code), k.text) << k.code;
}

TEST(Allocator, CountsLiveBlocksAndInjectsFailures)
{
    i32 before = orsa_counter;
    void *p = orsa_dmalloc(10);
    EXPECT_EQ(orsa_counter, before + 1);
    orsa_dfree(p);
    EXPECT_EQ(orsa_counter, before);
    orsa_dmalloc_fail_countdown = 1;
    void *ok = orsa_dmalloc(4);
    void *fails = orsa_dmalloc(4);
    void *ok_again = orsa_dmalloc(4);
    orsa_dmalloc_fail_countdown = -1;
    EXPECT_NE(ok, nullptr);
    EXPECT_EQ(fails, nullptr);
    EXPECT_NE(ok_again, nullptr);
    EXPECT_EQ(orsa_counter, before + 2) << "a failed allocation is no live block";
    orsa_dfree(ok);
    orsa_dfree(fails); /* freeing nothing changes nothing */
    orsa_dfree(ok_again);
    EXPECT_EQ(orsa_counter, before);
}

} // namespace
