// The builder contract on small kinds of our own: numbering, capacity,
// reuse, slices per parent, keys and priorities, new-tag reporting, and
// that a failed build leaves the kind's bitmap and the tree as they were.
#include <cstring>
#include <vector>

#include "schema/kind_table.h"
#include "schema_test_util.h"

namespace {

SCHEMA_DESCRIPTOR(TEST_Widget_Poke, "do_NothingYet", 1,
                  SCHEMA_PARAM(1, "Force", T_INTEGER, 1, 9, "", "How hard to poke."));

schema::SchemaRow widget_rows[] = {
    SCHEMA_PROP("Colour", RW, T_LIST, 3, 5, "red", "red,green,blue", "handle_internal_property", "Colour."),
    SCHEMA_GROUP("Box", "A static box.", nullptr),
        SCHEMA_PROP("Size", RO, T_INTEGER, 0, 9, "3", "", "handle_not_written_yet", "Size."),
    SCHEMA_END(),
    SCHEMA_ACTION("Poke", "Pokes the widget.", TEST_Widget_Poke_spec),
};

// Three widgets below ROOT, two gadgets below each widget's Box.
SCHEMA_KIND(kind_Widget, "initialize_Widget", "Widget", "A widget.", 3, 1, nullptr, widget_rows);

schema::SchemaRow gadget_rows[] = {
    SCHEMA_PROP("Weight", RO, T_INTEGER, 0, 9, "1", "", "handle_internal_property", "Weight."),
};
SCHEMA_KIND(kind_Gadget, "initialize_Gadget", "Gadget", "A gadget.", 2, 3, nullptr, gadget_rows);
// A kind that reserved a slice for the first widget only.
SCHEMA_KIND(kind_Tiny, "initialize_Tiny", "Tiny", "A tiny thing.", 1, 1, nullptr, gadget_rows);

HmNode *widget(HmNode *key_a = nullptr, HmNode *key_b = nullptr, HmValueSlot *keys = nullptr)
{
    return schema::schema_build_instance(&kind_Widget, &ROOT, key_a, key_b, keys);
}

class SchemaBuilderContract : public TreeTest {
protected:
    void TearDown() override
    {
        TreeTest::TearDown();
        // exit_hm deleted every instance, which clears their bits.
        for (u32 i = 0; i < kind_Widget.bitmap_bytes; i++)
            EXPECT_EQ(kind_Widget.bitmap[i], 0) << "widget byte " << i;
        for (u32 i = 0; i < kind_Gadget.bitmap_bytes; i++)
            EXPECT_EQ(kind_Gadget.bitmap[i], 0) << "gadget byte " << i;
    }
};

TEST_F(SchemaBuilderContract, TakesLowestFreeNumberUpToCapacityThenRefuses)
{
    HmNode *w[3];
    for (int i = 0; i < 3; i++) {
        w[i] = widget();
        ASSERT_NE(w[i], nullptr);
        EXPECT_EQ(instance_number(w[i]), i);
        EXPECT_STREQ(w[i]->name, "Widget");
    }
    EXPECT_EQ(kind_Widget.bitmap[0], 0x7);
    EXPECT_EQ(at(&ROOT, "widget2", HM_KIND_GROUP), w[2]);

    const int before = child_count(&ROOT);
    const i32 live = orsa_counter;
    EXPECT_EQ(widget(), nullptr);
    EXPECT_EQ(child_count(&ROOT), before);
    EXPECT_EQ(orsa_counter, live) << "a refused build allocates nothing";
    EXPECT_EQ(kind_Widget.bitmap[0], 0x7);
}

TEST_F(SchemaBuilderContract, ReusesADeletedNumberAndKeepsInstancesInOrder)
{
    HmNode *w0 = widget(), *w1 = widget(), *w2 = widget();
    ASSERT_TRUE(w0 && w1 && w2);
    ASSERT_EQ(delete_node(w1), 0u);
    EXPECT_EQ(kind_Widget.bitmap[0], 0x5);

    HmNode *again = widget();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(instance_number(again), 1);
    EXPECT_EQ(kind_Widget.bitmap[0], 0x7);
    // Siblings of one kind stay contiguous and ascending.
    EXPECT_EQ(w0->next, again);
    EXPECT_EQ(again->next, w2);
}

TEST_F(SchemaBuilderContract, BuildsChildrenInRowOrderWithTheirFields)
{
    HmNode *w = widget();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(render(w), "P Colour rw list 3..5 \"red\" [red,green,blue] cache\n"
                         "G Box\n"
                         "  P Size ro integer 0..9 \"3\" [] own\n"
                         "A Poke 1\n"
                         "  - Force req integer 1..9 []\n");
    EXPECT_STREQ(w->description, "A widget.");
    HmNode *poke = at(w, "Poke", HM_KIND_ACTION);
    ASSERT_NE(poke, nullptr);
    EXPECT_EQ(poke->body, &TEST_Widget_Poke_action) << "the descriptor is shared, not copied";
    EXPECT_STREQ(HM_ACTION(poke)->params[0].description, "How hard to poke.");
    HmNode *box = at(w, "Box", HM_KIND_GROUP);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(hm_instance_info(box), nullptr) << "a static subgroup has no instance record";
}

TEST_F(SchemaBuilderContract, UnboundHandlersKeepTheValueAndAnswerNotSupported)
{
    HmNode *w = widget();
    ASSERT_NE(w, nullptr);
    HmNode *size = at(w, "Box/Size", HM_KIND_PROPERTY);
    ASSERT_NE(size, nullptr);
    HmProperty *p = HM_PROPERTY(size);
    ASSERT_NE(p->handler, nullptr);
    char v[HM_VALUE_SIZE] = "x";
    EXPECT_EQ(p->handler(size, v, HM_MODE_GET), (u32)ORSA_STATUS_NOT_SUPPORTED) << "no value passes for a real one";
    EXPECT_EQ(orsa_last_status_code, (u32)ORSA_STATUS_NOT_SUPPORTED);
    EXPECT_STREQ(v, "3") << "the default stays in the buffer";
    strcpy(v, "7");
    EXPECT_EQ(p->handler(size, v, HM_MODE_SET), (u32)ORSA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(orsa_last_status_code, (u32)ORSA_STATUS_NOT_SUPPORTED);
    EXPECT_STREQ(p->value, "3");

    HmNode *poke = at(w, "Poke", HM_KIND_ACTION);
    HmValueSlot params[HM_MAX_PARAMS] = {};
    ASSERT_NE(HM_ACTION(poke)->handler, nullptr);
    EXPECT_EQ(HM_ACTION(poke)->handler(w, poke, params), (u32)ORSA_STATUS_NOT_SUPPORTED);
}

TEST_F(SchemaBuilderContract, NumbersInstancesPerParentSlice)
{
    HmNode *w0 = widget(), *w1 = widget(), *w2 = widget();
    ASSERT_TRUE(w0 && w1 && w2);
    HmNode *box0 = at(w0, "Box", HM_KIND_GROUP), *box2 = at(w2, "Box", HM_KIND_GROUP);
    HmNode *g00 = schema::schema_build_instance(&kind_Gadget, box0, nullptr, nullptr, nullptr);
    HmNode *g20 = schema::schema_build_instance(&kind_Gadget, box2, nullptr, nullptr, nullptr);
    HmNode *g21 = schema::schema_build_instance(&kind_Gadget, box2, nullptr, nullptr, nullptr);
    ASSERT_TRUE(g00 && g20 && g21);
    EXPECT_EQ(instance_number(g00), 0);
    EXPECT_EQ(instance_number(g20), 0);
    EXPECT_EQ(instance_number(g21), 1);
    EXPECT_EQ(schema::schema_build_instance(&kind_Gadget, box2, nullptr, nullptr, nullptr), nullptr);
    // Slice = widget number x one byte.
    EXPECT_EQ(kind_Gadget.bitmap[0], 0x1);
    EXPECT_EQ(kind_Gadget.bitmap[1], 0x0);
    EXPECT_EQ(kind_Gadget.bitmap[2], 0x3);
    EXPECT_EQ(hm_instance_info(g21)->bitmap, kind_Gadget.bitmap + 2);
}

TEST_F(SchemaBuilderContract, RefusesAParentBeyondTheSlicesItReserved)
{
    HmNode *w0 = widget(), *w1 = widget();
    ASSERT_TRUE(w0 && w1);
    const i32 live = orsa_counter;
    EXPECT_EQ(schema::schema_build_instance(&kind_Tiny, at(w1, "Box"), nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(orsa_counter, live);
    EXPECT_NE(schema::schema_build_instance(&kind_Tiny, at(w0, "Box"), nullptr, nullptr, nullptr), nullptr);
}

TEST_F(SchemaBuilderContract, KeyBTakesTheNextPersistencyPriority)
{
    HmNode *plain = widget();
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(HM_GROUP(plain)->persistency_priority, 0u);
    EXPECT_EQ(HM_GROUP(plain)->key_b, nullptr);
    for (int i = 0; i < HM_MAX_PARAMS; i++)
        EXPECT_STREQ(HM_GROUP(plain)->keys[i], "");

    HmNode *poke = at(plain, "Poke", HM_KIND_ACTION);
    HmValueSlot keys[HM_MAX_PARAMS] = {"7", "", "", "", "", "last"};
    const u32 next = persistency_priority;
    HmNode *a = widget(plain, poke, keys);
    HmNode *b = widget(plain, poke, nullptr);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(HM_GROUP(a)->persistency_priority, next);
    EXPECT_EQ(HM_GROUP(b)->persistency_priority, next + 1);
    EXPECT_EQ(persistency_priority, next + 2);
    EXPECT_EQ(HM_GROUP(a)->key_a, plain);
    EXPECT_EQ(HM_GROUP(a)->key_b, poke);
    EXPECT_STREQ(HM_GROUP(a)->keys[0], "7");
    EXPECT_STREQ(HM_GROUP(a)->keys[5], "last");
}

TEST_F(SchemaBuilderContract, ReportsNewTagsUpTo4097PerAction)
{
    std::vector<u32> tags(HM_MAX_NEW_TAGS + 8, 0xdead);
    // Outside an action nothing is appended.
    HmNode *w0 = widget();
    ASSERT_NE(w0, nullptr);
    EXPECT_EQ(new_tag_index, 0u);

    orsa_internal_new_tags = tags.data();
    new_tag_index = 0;
    HmNode *w1 = widget();
    ASSERT_NE(w1, nullptr);
    EXPECT_EQ(new_tag_index, 1u);
    EXPECT_EQ(tags[0], w1->tag);

    // The 4097th group of one action is still reported ...
    new_tag_index = HM_MAX_NEW_TAGS - 1;
    HmNode *g = schema::schema_build_instance(&kind_Gadget, at(w0, "Box"), nullptr, nullptr, nullptr);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(tags[HM_MAX_NEW_TAGS - 1], g->tag);
    EXPECT_EQ(new_tag_index, HM_MAX_NEW_TAGS);

    // ... the 4098th is refused and leaves no trace.
    const int before = child_count(&ROOT);
    const u8 bits = kind_Widget.bitmap[0];
    const i32 live = orsa_counter;
    testing::internal::CaptureStdout();
    EXPECT_EQ(widget(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Too many groups added in this action\n");
    EXPECT_EQ(child_count(&ROOT), before);
    EXPECT_EQ(kind_Widget.bitmap[0], bits);
    EXPECT_EQ(orsa_counter, live);
    EXPECT_EQ(new_tag_index, HM_MAX_NEW_TAGS);
    EXPECT_EQ(tags[HM_MAX_NEW_TAGS], 0xdeadu);
}

// Every allocation of a build may fail; each failure must leave the bitmap
// and the tree as they were, and free all it took.
TEST_F(SchemaBuilderContract, FailedBuildLeavesBitmapAndTreeUnchanged)
{
    HmNode *w0 = widget();
    ASSERT_NE(w0, nullptr);
    HmNode *box = at(w0, "Box");
    ASSERT_NE(schema::schema_build_instance(&kind_Gadget, box, nullptr, nullptr, nullptr), nullptr);

    struct Case {
        const char *what;
        schema::SchemaKind *kind;
        HmNode *parent;
    } cases[] = {{"widget below ROOT", &kind_Widget, &ROOT}, {"gadget below Box", &kind_Gadget, box}};
    for (const Case &c : cases) {
        int failures = 0;
        for (i32 k = 0;; k++) {
            std::vector<u8> bits(c.kind->bitmap, c.kind->bitmap + c.kind->bitmap_bytes);
            const int children = child_count(c.parent);
            const i32 live = orsa_counter;
            orsa_dmalloc_fail_countdown = k;
            HmNode *n = schema::schema_build_instance(c.kind, c.parent, nullptr, nullptr, nullptr);
            const bool hit = orsa_dmalloc_fail_countdown < 0;
            orsa_dmalloc_fail_countdown = -1;
            if (n != nullptr) {
                ASSERT_FALSE(hit) << c.what << ": a failed allocation was ignored at " << k;
                break;
            }
            failures++;
            EXPECT_TRUE(std::equal(bits.begin(), bits.end(), c.kind->bitmap)) << c.what << ", allocation " << k;
            EXPECT_EQ(child_count(c.parent), children) << c.what << ", allocation " << k;
            // Everything taken was given back; the failed allocation took nothing.
            EXPECT_EQ(orsa_counter, live) << c.what << ", allocation " << k;
            ASSERT_LT(k, 1000);
        }
        EXPECT_GT(failures, 3) << c.what;
    }
}

}  // namespace
