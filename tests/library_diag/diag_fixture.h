// The library started over a KS3 (ports 0-1 NIC functions, 2-3 iSCSI), a
// Veskarn (ports 0-1, 10GBase-T) and a Pivard (ports 0-1), for the tests,
// beacons and event log of the adapters.
#pragma once

#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "fw_cfg_link.h"
#include "fw_library.h"
#include "fw_library_diag.h"
#include "host_fixture.h"
#include "backend/orsa_propertyutil.h"
#include "maintenance/maint_diag.h"
#include "tree/hm_lookup.h"
#include "tree/hm_status.h"

class DiagHost : public DiscoveryHost {
protected:
    enum Card : size_t { kKs3 = 0, kVeskarn = 1, kPivard = 2 };

    static chardev::HostSpec spec()
    {
        chardev::HostSpec h;
        h.adapters = {
            adapterSpec(adapter::Gen::KS3, 3, "KS3DG0000001",
                        {nicFn(0, "vmnic0"), nicFn(1, "vmnic1"), iscsiFn(2, "vmhba33", 0), iscsiFn(3, "vmhba34", 1)}),
            adapterSpec(adapter::Gen::Veskarn, 5, "VSKDG0000002", {nicFn(0, "vmnic2"), nicFn(1, "vmnic3")}),
            adapterSpec(adapter::Gen::Pivard, 7, "PVDDG0000003", {nicFn(0, "vmnic4"), nicFn(1, "vmnic5")}),
        };
        return h;
    }

    void SetUp() override { boot(); }

    void boot(const std::function<void(chardev::EmulatedHost &)> &before = {})
    {
        if (started_) {
            EXPECT_EQ(ORSA_exit(), 0u);
            started_ = false;
            chardev::install(nullptr);
            host_.reset();
        }
        make(spec());
        if (before)
            before(*host_);
        ASSERT_EQ(start(), 0u);
    }

    adapter::Engine &fw(Card c) { return host_->engine(c); }

    static HmNode *ks(Card c)
    {
        static const u32 kAsic[] = {ORSA_ASIC_KS3, ORSA_ASIC_VESKARN, ORSA_ASIC_PIVARD};
        for (HmNode *k = get_first_instance(&ROOT, "Kalderstone"); k != nullptr; k = hm_next_instance(k))
            if (get_ks_type(k) == kAsic[c])
                return k;
        return nullptr;
    }
    static HmNode *diag(Card c) { return group(ks(c), "Diagnostics"); }
    static HmNode *port(Card c, const char *number)
    {
        for (HmNode *p = get_first_instance(ks(c), "PortDiscoveryAndConfiguration"); p != nullptr;
             p = hm_next_instance(p))
            if (cached(p, "PortNumber") == number)
                return p;
        return nullptr;
    }

    struct Outcome {
        u32 rc;
        u32 status;
        std::string text;
    };
    // Runs an action as a client does; a parameter "-" is not given.
    static Outcome run(HmNode *g, const char *action, const std::vector<std::string> &params)
    {
        Outcome o{0xFFFF, 0, ""};
        u32 tag = 0;
        if (g == nullptr || ORSA_get_node_tag(g->tag, action, &tag, HM_KIND_ACTION) != 0)
            return o;
        HmValueSlot slots[HM_MAX_PARAMS];
        memset(slots, ORSA_PARAM_NOT_GIVEN, sizeof slots);
        for (size_t i = 0; i < params.size() && i < HM_MAX_PARAMS; i++)
            if (params[i] != "-")
                snprintf(slots[i], sizeof slots[i], "%s", params[i].c_str());
        o.rc = ORSA_do_action(g->tag, tag, slots, nullptr);
        char text[ORSA_STATUS_TEXT_SIZE] = "";
        ORSA_get_last_status(&o.status, text);
        o.text = text;
        return o;
    }

    static const std::vector<u8> *lastPayload(adapter::Engine &e, u8 subsystem, u8 opcode)
    {
        static std::vector<u8> payload;
        const std::vector<uint8_t> *raw = e.lastRequest(subsystem, opcode);
        if (raw == nullptr)
            return nullptr;
        payload.assign(raw->begin() + 16, raw->end());
        return &payload;
    }
    static u32 rd32(const std::vector<u8> &b, size_t at)
    {
        return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | (u32)b.at(at + 3) << 24;
    }
    static std::vector<std::string> results(HmNode *d)
    {
        std::vector<std::string> out;
        for (const char *n : {"TotalTestCycles", "TotalCompleteCycles", "TotalErrorCycles", "SendErrorCount",
                              "ReceiveErrorCount", "DataMiscompareCount", "TotalCompleteCount"})
            out.push_back(get(d, n));
        return out;
    }
};
