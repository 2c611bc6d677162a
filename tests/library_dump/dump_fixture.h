// The library started over an emulated host with one adapter of each
// generation, and the tools of the dump tests: actions run as a client runs
// them, the output folder under the test root's /tmp, and the global state
// of the dump code put back after each test.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "backend/orsa_host.h"
#include "dump_expect.h"
#include "fw_library_dump.h"
#include "host_fixture.h"
#include "maintenance/maint_dump.h"
#include "tree/hm_log.h"

class DumpHost : public DiscoveryHost {
protected:
    // Adapter index of each generation in the host (and its bus).
    std::map<adapter::Gen, size_t> index_;

    static chardev::HostSpec dumpHost()
    {
        chardev::HostSpec spec = chardev::defaultHost();   // KS3 (bus 3), Veskarn (bus 5)
        spec.adapters.push_back(adapterSpec(adapter::Gen::KS2, 7, "KS2EMU000007",
                                            {nicFn(0, "vmnic4"), nicFn(1, "vmnic5")}));
        spec.adapters.push_back(adapterSpec(adapter::Gen::Pivard, 9, "PIVEMU000009", {nicFn(0, "vmnic6")}));
        return spec;
    }

    void SetUp() override
    {
        saved_max_ = orsa_dump_max_bytes;
        make(dumpHost());
        for (size_t i = 0; i < host_->adapterCount(); ++i)
            index_[host_->card(i).gen()] = i;
        ASSERT_EQ(start(), 0u);
        mkdir(kDir, 0755);
    }
    void TearDown() override
    {
        orsa_dump_max_bytes = saved_max_;
        orsa_dmalloc_fail_countdown = -1;
        ORSA_CORE_DUMP_STATUS = 0;
        successful_segments = 0;
        DiscoveryHost::TearDown();
    }

    adapter::Adapter &card(adapter::Gen g) { return host_->card(index_.at(g)); }
    adapter::Engine &fw(adapter::Gen g) { return host_->engine(index_.at(g)); }
    adapter::DumpSetup &setup(adapter::Gen g) { return adapter::dumpSetup(fw(g)); }

    // The controller group of a generation (found by its bus number).
    HmNode *controllerOf(adapter::Gen g)
    {
        char bus[16];
        snprintf(bus, sizeof bus, "0x%x", host_->spec().adapters[index_.at(g)].bus);
        for (int i = 0; i < 8; ++i) {
            HmNode *ks = ctrl(i);
            HmNode *pci = ks != nullptr ? group(ks, "NICPhysicalHBA0/PCI") : nullptr;
            if (pci != nullptr && cached(pci, "BusNumber") == bus)
                return ks;
        }
        return nullptr;
    }

    // Runs an action of a group as a client does; nullptr is a parameter
    // not given.
    u32 run(HmNode *g, const char *action, std::vector<const char *> params)
    {
        u32 tag = 0;
        if (g == nullptr || ORSA_get_node_tag(g->tag, action, &tag, HM_KIND_ACTION) != 0)
            return 0xFFFF;
        HmValueSlot slots[HM_MAX_PARAMS];
        memset(slots, 0, sizeof slots);
        for (size_t i = 0; i < HM_MAX_PARAMS; ++i) {
            if (i < params.size() && params[i] != nullptr)
                snprintf(slots[i], sizeof slots[i], "%s", params[i]);
            else
                slots[i][0] = (char)ORSA_PARAM_NOT_GIVEN;
        }
        return ORSA_do_action(g->tag, tag, slots, nullptr);
    }

    static std::string path(const char *name) { return std::string(kDir) + "/" + name; }
    static bool exists(const std::string &p) { return access(p.c_str(), F_OK) == 0; }

    static std::string last_text()
    {
        u32 code = 0;
        char text[ORSA_STATUS_TEXT_SIZE] = "";
        ORSA_get_last_status(&code, text);
        return text;
    }

    static constexpr const char *kDir = "/tmp/dumps";
    u32 saved_max_ = 0;
};
