// The library started over an emulated host for the DCBX instance-group
// tests (the link tests' host: controller 0 a KS3 with ports 0-1 on NIC
// functions and 2-3 on iSCSI ones, controller 1 a Veskarn with ports 0-1).
// The emulated firmware keeps each port's DCBX configuration across library
// restarts (restart()).
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "fw_cfg_dcbx.h"
#include "link_fixture.h"

class DcbxTreeHost : public LinkHost {
protected:
    static constexpr size_t kV0 = 312, kV1 = 368;

    // Ends the library and starts it again over the same adapters.
    void restart()
    {
        ASSERT_EQ(ORSA_exit(), 0u);
        started_ = false;
        ASSERT_EQ(start(), 0u);
    }
    adapter::DcbxPort &dcbx(size_t i, unsigned port) { return adapter::dcbxPort(fw(i), port); }

    static HmNode *tlvView(HmNode *port_group, const char *view)
    {
        return group(port_group, std::string("DCBX/ApplicationTLVGroups/") + view);
    }
    static HmNode *pgView(HmNode *port_group, const char *view)
    {
        return group(port_group, std::string("DCBX/PriorityGroups/") + view);
    }
    static HmNode *admin(HmNode *port_group) { return tlvView(port_group, "AdministratorTLVSetting"); }
    static HmNode *child(HmNode *parent, const std::string &label)
    {
        return parent != nullptr ? internal_get_node(parent, label.c_str(), HM_KIND_GROUP) : nullptr;
    }
    // The instance numbers of a kind below a group, in chain order.
    static std::vector<int> numbers(HmNode *parent, const char *kind)
    {
        std::vector<int> out;
        for (HmNode *g = parent != nullptr ? get_first_instance(parent, kind) : nullptr; g != nullptr;
             g = hm_next_instance(g))
            out.push_back(hm_instance_number(g));
        return out;
    }

    // The payload of the last configuration write (16/2) adapter i received,
    // checked for what every write holds: the form's length and header
    // version, zeros at 2, 3 and 20-23.
    std::vector<u8> lastWrite(size_t i, size_t form)
    {
        const std::vector<uint8_t> *raw = fw(i).lastRequest(16, 2);
        if (raw == nullptr || raw->size() != 16 + form) {
            ADD_FAILURE() << "no write of " << form << " bytes";
            return std::vector<u8>(form, 0xEE);
        }
        EXPECT_EQ((*raw)[12], form == kV1 ? 1u : 0u) << "header version";
        std::vector<u8> w(raw->begin() + 16, raw->end());
        for (size_t at : {2, 3, 20, 21, 22, 23})
            EXPECT_EQ(w[at], 0u) << "byte " << at;
        return w;
    }
    unsigned writes(size_t i) { return fw(i).commandsSeen(16, 2); }

    static adapter::DcbxAppEntry app(uint16_t protocol, uint8_t selector, uint8_t members, uint32_t oui = 0x001B21)
    {
        adapter::DcbxAppEntry e;
        e.protocol = protocol;
        e.selector = selector;
        e.in_use = 1;
        e.oui = oui;
        for (unsigned k = 0; k < 8; k++)
            e.members[k] = (members >> k) & 1u;
        return e;
    }
    // Puts entries into a view at the given indexes and sets its count.
    static void fill(adapter::DcbxView &v, const std::vector<std::pair<unsigned, adapter::DcbxAppEntry>> &entries)
    {
        v.apps = {};
        for (const auto &e : entries)
            v.apps[e.first] = e.second;
        v.app_count = (uint8_t)entries.size();
    }
};
