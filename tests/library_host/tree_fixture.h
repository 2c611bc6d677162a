// A small tree built with the engine's own functions, as the schema's
// builders would: static and instance groups, plain properties, actions.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "backend/orsa_propertyutil.h"
#include "tree/hm_engine.h"
#include "tree/orsa_api.h"

class TreeFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(ORSA_init(), 0u);
        root_ = hm_get_root(orsa_current_hierarchy);
        ASSERT_NE(root_, nullptr);
    }

    void TearDown() override
    {
        ORSA_exit();
        for (u8 *b : bitmaps_)
            free_bitfield(b);
        bitmaps_.clear();
    }

    // Tears the tree down and opens a fresh one (tags and priorities anew).
    void Restart()
    {
        ORSA_exit();
        for (u8 *b : bitmaps_)
            free_bitfield(b);
        bitmaps_.clear();
        kind_bitmaps_.clear();
        ASSERT_EQ(ORSA_init(), 0u);
        root_ = hm_get_root(orsa_current_hierarchy);
    }

    HmHierarchy *H(HmNode *near) { return hm_find_hierarchy_by_node(near); }

    // A static group, or with number >= 0 an instance group (16 instances
    // per parent). key_b set makes it persistent, as an action's builder does.
    HmNode *Group(HmNode *parent, const char *name, int number = -1, HmNode *key_a = nullptr,
                  HmNode *key_b = nullptr, const std::vector<std::string> &keys = {})
    {
        auto *n = static_cast<HmNode *>(orsa_dzalloc(sizeof(HmNode)));
        auto *g = static_cast<HmGroup *>(orsa_dzalloc(sizeof(HmGroup)));
        n->kind = HM_KIND_GROUP;
        n->name = orsa_dstrdup(name);
        n->description = orsa_dstrdup("test group");
        n->parent = parent;
        n->body = g;
        g->key_a = key_a;
        g->key_b = key_b;
        for (size_t i = 0; i < keys.size() && i < HM_MAX_PARAMS; i++)
            orsa_strlcpy(g->keys[i], keys[i].c_str(), HM_VALUE_SIZE);
        u8 *bitmap = nullptr;
        if (number >= 0) {
            bitmap = KindBitmap(parent, name);
            auto *info = static_cast<HmInstanceInfo *>(orsa_dzalloc(sizeof(HmInstanceInfo)));
            info->bitmap = bitmap;
            info->capacity = 16;
            info->base = 0;
            info->number = number;
            g->instance_info = info;
        }
        if (add_node(n, H(parent)) == HM_TAG_NONE) {
            ADD_FAILURE() << "add_node " << name;
            return nullptr;
        }
        if (bitmap != nullptr)
            set_bit(bitmap, 16, number);
        if (key_b != nullptr)
            g->persistency_priority = persistency_priority++;
        return n;
    }

    HmNode *Prop(HmNode *group, const char *name, const char *value, u32 flags = HM_PROP_WRITABLE,
                 u8 type = HM_TYPE_STRING, const char *list = "", i32 min = 0, i32 max = 255,
                 HmPropertyHandler handler = handle_internal_property)
    {
        auto *n = static_cast<HmNode *>(orsa_dzalloc(sizeof(HmNode)));
        auto *p = static_cast<HmProperty *>(orsa_dzalloc(sizeof(HmProperty)));
        n->kind = HM_KIND_PROPERTY;
        n->name = orsa_dstrdup(name);
        n->description = orsa_dstrdup("test property");
        n->parent = group;
        n->body = p;
        orsa_strlcpy(p->value, value, HM_VALUE_SIZE);
        orsa_strlcpy(p->list, list, HM_LIST_SIZE);
        p->handler = handler;
        p->flags = flags;
        p->type = type;
        p->min = min;
        p->max = max;
        if (add_node(n, H(group)) == HM_TAG_NONE) {
            ADD_FAILURE() << "add_node " << name;
            return nullptr;
        }
        return n;
    }

    HmNode *Action(HmNode *group, const char *name, HmAction *descriptor)
    {
        auto *n = static_cast<HmNode *>(orsa_dzalloc(sizeof(HmNode)));
        n->kind = HM_KIND_ACTION;
        n->name = orsa_dstrdup(name);
        n->description = orsa_dstrdup("test action");
        n->parent = group;
        n->body = descriptor;
        if (add_node(n, H(group)) == HM_TAG_NONE) {
            ADD_FAILURE() << "add_node " << name;
            return nullptr;
        }
        return n;
    }

    std::string Value(HmNode *group, const char *property)
    {
        char text[HM_VALUE_SIZE] = {};
        if (internal_get_property(group, property, text) != 0)
            return "<missing>";
        return text;
    }

    HmNode *root_ = nullptr;

private:
    u8 *KindBitmap(HmNode *parent, const char *name)
    {
        std::string key = std::to_string(reinterpret_cast<uintptr_t>(parent)) + "/" + name;
        for (auto &kb : kind_bitmaps_) {
            if (kb.first == key)
                return kb.second;
        }
        u8 *b = alloc_bitfield(16);
        bitmaps_.push_back(b);
        kind_bitmaps_.emplace_back(key, b);
        return b;
    }

    std::vector<u8 *> bitmaps_;
    std::vector<std::pair<std::string, u8 *>> kind_bitmaps_;
};
