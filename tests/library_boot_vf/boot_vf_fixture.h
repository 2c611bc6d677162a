// The library over an emulated host with one adapter of each generation:
//   adapter 0 KS2 (NIC functions vmnic0, vmnic1),
//   adapter 1 KS3 (NIC vmnic2, vmnic3, iSCSI vmhba33),
//   adapter 2 Pivard (NIC vmnic4, vmnic5),
//   adapter 3 Veskarn (NIC vmnic6 with 4 VFs, vmnic7 with 64),
// the commands the library sent as the devices saw them, and the host
// commands it ran as a recorder saw them.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "backend/orsa_cmdrun.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_propertyutil.h"
#include "backend/orsa_vpd.h"
#include "tree/hm_lookup.h"
#include "host_fixture.h"

class BootVfHost : public DiscoveryHost {
protected:
    enum { kKs2 = 0, kKs3 = 1, kPivard = 2, kVeskarn = 3 };

    void SetUp() override
    {
        chardev::HostSpec spec;
        spec.adapters = {
            adapterSpec(adapter::Gen::KS2, 2, "KS2EMU000001", {nicFn(0, "vmnic0"), nicFn(1, "vmnic1")}),
            adapterSpec(adapter::Gen::KS3, 3, "KS3EMU000002",
                        {nicFn(0, "vmnic2"), nicFn(1, "vmnic3"), iscsiFn(2, "vmhba33", 0)}),
            adapterSpec(adapter::Gen::Pivard, 4, "PIVEMU000003", {nicFn(0, "vmnic4"), nicFn(1, "vmnic5")}),
            adapterSpec(adapter::Gen::Veskarn, 5, "VSKEMU000004", {nicFn(0, "vmnic6", 4), nicFn(1, "vmnic7", 64)}),
        };
        make(spec);
        orsa_set_command_runner(&BootVfHost::record, this);
        ASSERT_EQ(start(), 0u);
    }
    void TearDown() override
    {
        orsa_set_command_runner(nullptr, nullptr);
        DiscoveryHost::TearDown();
    }

    // The controller group of an adapter, found by its generation.
    static HmNode *controller(int adapter_index)
    {
        static const u32 gens[] = {ORSA_ASIC_KS2, ORSA_ASIC_KS3, ORSA_ASIC_PIVARD, ORSA_ASIC_VESKARN};
        for (HmNode *ks = get_first_instance(&ROOT, "Kalderstone"); ks != nullptr; ks = hm_next_instance(ks))
            if (get_ks_type(ks) == gens[adapter_index])
                return ks;
        return nullptr;
    }
    static HmNode *nic(int adapter_index, int n = 0)
    {
        HmNode *g = get_first_instance(controller(adapter_index), "NICPhysicalHBA");
        for (int i = 0; i < n && g != nullptr; i++)
            g = hm_next_instance(g);
        return g;
    }
    adapter::Engine &fw(int adapter_index) { return host_->engine((size_t)adapter_index); }


    // Runs an action of group through the API: nullptr parameters are not given.
    static u32 act(HmNode *g, const char *action, std::vector<const char *> params)
    {
        u32 tag = 0;
        if (g == nullptr || ORSA_get_node_tag(g->tag, action, &tag, HM_KIND_ACTION) != 0)
            return 0xFFFF;
        HmValueSlot slots[HM_MAX_PARAMS];
        memset(slots, 0, sizeof slots);
        for (size_t i = 0; i < HM_MAX_PARAMS; i++) {
            if (i < params.size() && params[i] != nullptr)
                snprintf(slots[i], HM_VALUE_SIZE, "%s", params[i]);
            else
                slots[i][0] = (char)ORSA_PARAM_NOT_GIVEN;
        }
        static u32 new_tags[HM_MAX_NEW_TAGS];
        return ORSA_do_action(g->tag, tag, slots, new_tags);
    }
    // A client's read into a buffer that holds text of its own first.
    static std::string read_over(HmNode *g, const char *name, const char *before, u32 *rc)
    {
        u32 tag = 0;
        if (g == nullptr || ORSA_get_node_tag(g->tag, name, &tag, HM_KIND_PROPERTY) != 0)
            return "<missing>";
        char v[HM_VALUE_SIZE];
        snprintf(v, sizeof v, "%s", before);
        *rc = ORSA_get_property_val(g->tag, tag, v, sizeof v);
        return v;
    }
    static std::string last_text()
    {
        u32 code = 0;
        char text[ORSA_STATUS_TEXT_SIZE] = "";
        ORSA_get_last_status(&code, text);
        return text;
    }

    // The recorder: every command line as an argument vector; the emulated
    // host's ip answers unless a test forces an exit status.
    static int record(void *self, const char *const argv[])
    {
        auto *t = static_cast<BootVfHost *>(self);
        std::vector<std::string> v;
        for (size_t i = 0; argv[i] != nullptr; i++)
            v.emplace_back(argv[i]);
        t->commands_.push_back(v);
        if (t->forced_status_ >= 0)
            return t->forced_status_;
        return t->host_->runIpLink(v);
    }

    std::vector<std::vector<std::string>> commands_;
    int forced_status_ = -1;
};
