// The library started over an emulated host for the link tests: controller
// 0 a KS3 (ports 0-1 NIC functions, 2-3 iSCSI), controller 1 a Veskarn
// (ports 0-1), unless a test boots another host.
#pragma once

#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "backend/orsa_propertyutil.h"
#include "config/cfg_link.h"
#include "fw_cfg_link.h"
#include "host_fixture.h"
#include "personality_fixture.h"
#include "tree/hm_lookup.h"
#include "tree/hm_status.h"

class LinkHost : public DiscoveryHost {
protected:
    // Boots the host; `before` shapes the adapters before ORSA_init.
    void boot(const chardev::HostSpec &spec = chardev::defaultHost(),
              const std::function<void(chardev::EmulatedHost &)> &before = {})
    {
        if (started_) {
            EXPECT_EQ(ORSA_exit(), 0u);
            started_ = false;
            chardev::install(nullptr);
            host_.reset();
        }
        make(spec);
        if (before)
            before(*host_);
        ASSERT_EQ(start(), 0u);
    }
    adapter::Engine &fw(size_t i) { return host_->engine(i); }
    adapter::PhyPort &phy(size_t i, unsigned port) { return adapter::phyPort(fw(i), port); }

    static HmNode *port(HmNode *ks, const char *number)
    {
        for (HmNode *p = ks != nullptr ? get_first_instance(ks, "PortDiscoveryAndConfiguration") : nullptr; p != nullptr;
             p = hm_next_instance(p))
            if (cached(p, "PortNumber") == number)
                return p;
        return nullptr;
    }
    static HmNode *baset(HmNode *port_group) { return group(port_group, "BaseT10G"); }
    static HmNode *nic(HmNode *ks, const char *number)
    {
        for (HmNode *p = ks != nullptr ? get_first_instance(ks, "NICPhysicalHBA") : nullptr; p != nullptr;
             p = hm_next_instance(p))
            if (cached(p, "PortNumber") == number)
                return p;
        return nullptr;
    }
    // Runs an action as a client does; a parameter "-" is not given. The
    // groups the action reports as new go to `made` when it is given.
    static u32 run(HmNode *g, const char *action, const std::vector<std::string> &params,
                   std::vector<u32> *made = nullptr)
    {
        u32 tag = 0;
        if (g == nullptr || ORSA_get_node_tag(g->tag, action, &tag, HM_KIND_ACTION) != 0)
            return 0xFFFF;
        HmValueSlot slots[HM_MAX_PARAMS];
        memset(slots, ORSA_PARAM_NOT_GIVEN, sizeof slots);
        for (size_t i = 0; i < params.size() && i < HM_MAX_PARAMS; i++)
            if (params[i] != "-")
                snprintf(slots[i], sizeof slots[i], "%s", params[i].c_str());
        if (made == nullptr)
            return ORSA_do_action(g->tag, tag, slots, nullptr);
        // The new tags come one after another; ROOT's tag 0 ends them.
        std::vector<u32> tags(HM_MAX_NEW_TAGS + 1, 0);
        u32 rc = ORSA_do_action(g->tag, tag, slots, tags.data());
        made->clear();
        for (size_t i = 0; i < tags.size() && tags[i] != 0; i++)
            made->push_back(tags[i]);
        return rc;
    }
    static u32 rd16(const std::vector<u8> &b, size_t at) { return b.at(at) | b.at(at + 1) << 8; }
    static u32 rd32(const std::vector<u8> &b, size_t at) { return rd16(b, at) | rd16(b, at + 2) << 16; }
    static std::string last_text()
    {
        u32 code = 0;
        char text[ORSA_STATUS_TEXT_SIZE] = "";
        ORSA_get_last_status(&code, text);
        return text;
    }
};
