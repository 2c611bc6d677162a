// Helpers shared by the schema tests: a bare tree (ROOT and its built-ins)
// and a text rendering of a built subtree.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "backend/orsa_propertyutil.h"
#include "schema/bootstrap.h"
#include "schema/builders.h"
#include "schema/kind_table.h"
#include "tree/hm_engine.h"

// Brings up the tree the way the first client does and takes it down again.
class TreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(init_hm(), 0u);
        ASSERT_EQ(ROOT.tag, 0u);
    }
    void TearDown() override
    {
        orsa_dmalloc_fail_countdown = -1;
        orsa_internal_new_tags = nullptr;
        new_tag_index = 0;
        exit_hm();
    }
};

inline const char *type_text(u8 t)
{
    switch (t) {
    case HM_TYPE_STRING: return "string";
    case HM_TYPE_INTEGER: return "integer";
    case HM_TYPE_IPADDR: return "ipv4";
    case HM_TYPE_SUBNETMASK: return "mask";
    case HM_TYPE_LIST: return "list";
    }
    return "?";
}

inline std::string access_text(u32 flags)
{
    if (flags == HM_PROP_READONLY)
        return "ro";
    if (flags == HM_PROP_WRITABLE)
        return "rw";
    return "flags=" + std::to_string(flags);
}

// One line per child, in ring order, as expected_kinds.h describes.
inline void render_children(HmNode *group, int depth, std::string &out)
{
    const std::string indent(2 * depth, ' ');
    HmGroup *g = HM_GROUP(group);
    for (HmNode *c = g->first_child; c != nullptr && c != group; c = c->next) {
        switch (c->kind) {
        case HM_KIND_GROUP:
            out += indent + "G " + c->name + "\n";
            render_children(c, depth + 1, out);
            break;
        case HM_KIND_PROPERTY: {
            HmProperty *p = HM_PROPERTY(c);
            out += indent + "P " + c->name + " " + access_text(p->flags) + " " + type_text(p->type) + " " +
                   std::to_string(p->min) + ".." + std::to_string(p->max) + " \"" + p->value + "\" [" + p->list +
                   "] " + (p->handler == handle_internal_property ? "cache" : "own") + "\n";
            break;
        }
        case HM_KIND_ACTION: {
            HmAction *a = HM_ACTION(c);
            out += indent + "A " + c->name + " " + std::to_string(a->param_count) + "\n";
            for (u32 i = 0; i < a->param_count && i < HM_MAX_PARAMS; i++) {
                const HmActionParam &q = a->params[i];
                out += indent + "  - " + q.name + " " + (q.required ? "req" : "opt") + " " + type_text(q.type) +
                       " " + std::to_string(q.min) + ".." + std::to_string(q.max) + " [" + q.list + "]\n";
            }
            break;
        }
        default:
            out += indent + "? kind " + std::to_string(c->kind) + "\n";
        }
    }
}

inline std::string render(HmNode *group)
{
    std::string out;
    render_children(group, 0, out);
    return out;
}

inline int child_count(HmNode *group)
{
    int n = 0;
    HmGroup *g = HM_GROUP(group);
    for (HmNode *c = g->first_child; c != nullptr && c != group; c = c->next)
        n++;
    return n;
}

inline int instance_number(HmNode *group)
{
    HmInstanceInfo *ii = hm_instance_info(group);
    return ii != nullptr ? ii->number : -2;
}

// Follows a path of labels ("ExtFATData/ExtFATModule0") below a group.
inline HmNode *at(HmNode *group, const std::string &path, u32 kind = HM_KIND_ANY)
{
    HmNode *n = group;
    size_t start = 0;
    while (n != nullptr) {
        size_t slash = path.find('/', start);
        std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        bool last = slash == std::string::npos;
        n = internal_get_node(n, part.c_str(), last ? kind : (u32)HM_KIND_GROUP);
        if (last)
            break;
        start = slash + 1;
    }
    return n;
}

// Compares two renderings line by line so a failure names the first
// differing child.
inline void expect_same_lines(const std::string &built, const std::string &expected, const char *kind)
{
    std::vector<std::string> a, b;
    auto split = [](const std::string &s, std::vector<std::string> &out) {
        size_t start = 0;
        while (start < s.size()) {
            size_t nl = s.find('\n', start);
            out.push_back(s.substr(start, nl - start));
            start = nl == std::string::npos ? s.size() : nl + 1;
        }
    };
    split(built, a);
    split(expected, b);
    for (size_t i = 0; i < std::max(a.size(), b.size()); i++) {
        const std::string x = i < a.size() ? a[i] : "<none>", y = i < b.size() ? b[i] : "<none>";
        if (x != y) {
            ADD_FAILURE() << kind << ", child line " << i + 1 << "\n  built:    " << x << "\n  expected: " << y;
            return;
        }
    }
}

// Deletes every group below ROOT, leaving its three built-in properties.
inline void clear_root()
{
    for (HmNode *n = HM_GROUP(&ROOT)->first_child; n != &ROOT;) {
        HmNode *next = n->next;
        if (n->kind == HM_KIND_GROUP) {
            ASSERT_EQ(delete_node(n), 0u);
        }
        n = next;
    }
}

// A first instance just built: its name, number 0, no persistency, its
// description (or at least some text when description is none) and its
// children as expected renders them.
inline void expect_fresh_instance(HmNode *g, const char *kind, const char *description, const char *expected)
{
    ASSERT_NE(g, nullptr) << kind;
    EXPECT_STREQ(g->name, kind);
    EXPECT_EQ(instance_number(g), 0) << kind;
    EXPECT_EQ(HM_GROUP(g)->persistency_priority, 0u) << kind;
    if (description != nullptr)
        EXPECT_STREQ(g->description, description) << kind;
    else
        EXPECT_GT(strlen(g->description), 20u) << kind;
    expect_same_lines(render(g), expected, kind);
}

// True when no kind's instance bitmap has a bit set.
inline bool all_bitmaps_clear()
{
    for (size_t k = 0; k < schema::schema_all_kind_count; k++) {
        const schema::SchemaKind *kind = schema::schema_all_kinds[k];
        for (u32 i = 0; i < kind->bitmap_bytes; i++)
            if (kind->bitmap[i] != 0) {
                ADD_FAILURE() << kind->builder << " byte " << i;
                return false;
            }
    }
    return true;
}

using Builder = HmNode *(*)(HmNode *, HmNode *, HmNode *, HmValueSlot *);

// One kind's capacity below one parent: the instances up to it are numbered
// 0, 1, ...; the one beyond is refused and leaves no child, allocation or
// bit; another parent of the same kind numbers from 0 again.
struct CapacityCase {
    const char *what;
    Builder build;
    int capacity;
    std::function<HmNode *(HmNode *ks)> parent; // below a fresh controller
    std::function<HmNode *(HmNode *ks)> other;  // a second parent of the same kind, numbered apart
};

inline void check_capacity(const CapacityCase &c)
{
    HmNode *ks = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
    ASSERT_NE(ks, nullptr) << c.what;
    HmNode *parent = c.parent(ks);
    ASSERT_NE(parent, nullptr) << c.what;
    for (int i = 0; i < c.capacity; i++) {
        HmNode *g = c.build(parent, nullptr, nullptr, nullptr);
        ASSERT_NE(g, nullptr) << c.what << " " << i;
        ASSERT_EQ(instance_number(g), i) << c.what;
    }
    const int children = child_count(parent);
    const i32 live = orsa_counter;
    EXPECT_EQ(c.build(parent, nullptr, nullptr, nullptr), nullptr) << c.what << ": one beyond capacity";
    EXPECT_EQ(child_count(parent), children) << c.what << ": nothing half-built";
    EXPECT_EQ(orsa_counter, live) << c.what;

    HmNode *other = c.other(ks);
    ASSERT_NE(other, nullptr) << c.what;
    HmNode *again = c.build(other, nullptr, nullptr, nullptr);
    ASSERT_NE(again, nullptr) << c.what;
    EXPECT_EQ(instance_number(again), 0) << c.what << ": another parent numbers from 0";

    // The next case starts from an empty ROOT.
    clear_root();
    EXPECT_TRUE(all_bitmaps_clear()) << c.what;
}
