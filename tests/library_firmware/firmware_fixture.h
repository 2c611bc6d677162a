// The library started over a host of one adapter of each generation, for
// the firmware update: KS2 (a NIC and an iSCSI function), KS3 (two of each),
// Pivard and Veskarn (two NIC functions each). Images are written to /tmp
// and handed to UpgradeFlashROM as a client does.
#pragma once

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "fw_cfg_link.h"
#include "fw_flash_components.h"
#include "fw_library_flash.h"
#include "fw_profile.h"
#include "fwimage.h"
#include "host_fixture.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"
#include "tree/hm_status.h"

class FirmwareHost : public DiscoveryHost {
public:
    // Where a component is expected in the emulated flash.
    struct Place {
        uint32_t optype;
        uint32_t offset;
        uint64_t file_offset;
        uint32_t size;
    };

protected:
    enum Card : size_t { kKs2 = 0, kKs3 = 1, kPivard = 2, kVeskarn = 3 };

    static chardev::HostSpec spec()
    {
        chardev::HostSpec h;
        h.adapters = {
            adapterSpec(adapter::Gen::KS2, 2, "KS2FW0000001", {nicFn(0, "vmnic0"), iscsiFn(1, "vmhba33", 0)}),
            adapterSpec(adapter::Gen::KS3, 3, "KS3FW0000002",
                        {nicFn(0, "vmnic1"), nicFn(1, "vmnic2"), iscsiFn(2, "vmhba34", 1), iscsiFn(3, "vmhba35", 2)}),
            adapterSpec(adapter::Gen::Pivard, 4, "PVDFW0000003", {nicFn(0, "vmnic3"), nicFn(1, "vmnic4")}),
            adapterSpec(adapter::Gen::Veskarn, 5, "VSKFW0000004", {nicFn(0, "vmnic5"), nicFn(1, "vmnic6")}),
        };
        return h;
    }

    void SetUp() override { boot(spec()); }
    void TearDown() override
    {
        DiscoveryHost::TearDown();
        for (const std::string &f : files_)
            remove(f.c_str());
        orsa_dmalloc_fail_countdown = -1;
    }

    // (Re)starts the library over a host; `before` shapes it before ORSA_init.
    void boot(const chardev::HostSpec &s, const std::function<void(chardev::EmulatedHost &)> &before = {})
    {
        if (started_) {
            EXPECT_EQ(ORSA_exit(), 0u);
            started_ = false;
            chardev::install(nullptr);
            host_.reset();
        }
        make(s);
        if (before)
            before(*host_);
        ASSERT_EQ(start(), 0u);
    }

    adapter::Engine &fw(Card c) { return host_->engine(c); }
    // The library's next client after the last: discovery again (the
    // controller's cached identity, ActiveFirmwareVersion among it, afresh).
    void restartLibrary()
    {
        ASSERT_EQ(ORSA_exit(), 0u);
        ASSERT_EQ(ORSA_init(), 0u);
    }

    static u32 asicOf(Card c)
    {
        static const u32 kAsic[] = {ORSA_ASIC_KS2, ORSA_ASIC_KS3, ORSA_ASIC_PIVARD, ORSA_ASIC_VESKARN};
        return kAsic[c];
    }
    // The controller group of an adapter.
    static HmNode *ks(Card c)
    {
        for (HmNode *k = get_first_instance(&ROOT, "Kalderstone"); k != nullptr; k = hm_next_instance(k))
            if (get_ks_type(k) == asicOf(c))
                return k;
        return nullptr;
    }

    std::string write(const fwimage::Image &img, const std::string &name)
    {
        std::string path = "/tmp/fwtest_" + name;
        EXPECT_TRUE(img.write(path)) << path;
        files_.push_back(path);
        return path;
    }

    struct Outcome {
        u32 rc;
        u32 status;
        std::string text;
    };
    static Outcome upgrade(Card c, const std::string &path)
    {
        Outcome o{0xFFFF, 0, ""};
        HmNode *k = ks(c);
        u32 action = 0;
        if (k == nullptr || ORSA_get_node_tag(k->tag, "UpgradeFlashROM", &action, HM_KIND_ACTION) != 0)
            return o;
        HmValueSlot params[HM_MAX_PARAMS];
        memset(params, ORSA_PARAM_NOT_GIVEN, sizeof params);
        snprintf(params[0], sizeof params[0], "%s", path.c_str());
        o.rc = ORSA_do_action(k->tag, action, params, nullptr);
        char text[ORSA_STATUS_TEXT_SIZE] = "";
        ORSA_get_last_status(&o.status, text);
        o.text = text;
        return o;
    }

    using Commit = std::tuple<uint32_t, uint32_t, uint32_t>;
    static std::vector<Commit> commitsOf(const std::vector<Place> &places)
    {
        std::vector<Commit> out;
        for (const Place &p : places)
            out.emplace_back(p.optype, p.offset, p.size);
        return out;
    }
    std::vector<Commit> commits(Card c)
    {
        std::vector<Commit> out;
        for (const adapter::FlashCommit &k : adapter::flashCommits(fw(c)))
            out.emplace_back(k.optype, k.offset, k.length);
        return out;
    }
    // Every place holds exactly the image's bytes of its component.
    void expectFlashed(Card c, const fwimage::Image &img, const std::vector<Place> &places)
    {
        for (const Place &p : places)
            EXPECT_TRUE(adapter::flashedAt(fw(c), p.optype, p.offset, p.size) == img.read(p.file_offset, p.size))
                << "optype " << p.optype << " offset 0x" << std::hex << p.offset;
    }

    // KS2: the region table, the boot code (optype 1) when it is written.
    static std::vector<Place> ks2Places(const fwimage::Ufi &u, bool boot)
    {
        std::vector<Place> out;
        for (const fwimage::Part &p : u.parts)
            if (boot || p.optype != 1)
                out.push_back({p.optype, 0, p.file_offset, p.size});
        return out;
    }
    // KS3: the fixed table's order, whatever order the directory names them in.
    static std::vector<Place> ks3Places(const fwimage::Ufi &u, const std::vector<uint32_t> &skip = {})
    {
        std::vector<Place> out;
        for (const fwimage::Ks3Row &r : fwimage::kKs3Rows)
            for (const fwimage::Part &p : u.parts)
                if (p.image_type == r.image_type && std::find(skip.begin(), skip.end(), r.optype) == skip.end())
                    out.push_back({r.optype, 0, p.file_offset, p.size});
        return out;
    }
    // Veskarn: explicit optypes go as optype 7 at their offset once the
    // adapter's firmware is not a "10.0" one, derived ones at their offset
    // from then on; with `explicit_parts` false the equal explicit ones are skipped.
    static std::vector<Place> veskarnPlaces(const fwimage::Ufi &u, bool offset_road, bool explicit_parts = true)
    {
        std::vector<Place> out;
        bool flag = false;
        for (const fwimage::Part &p : u.parts) {
            if (p.optype != 0xFFFF) {
                flag = flag || offset_road;
                if (explicit_parts)
                    out.push_back({flag ? 7u : p.optype, flag ? p.offset : 0u, p.file_offset, p.size});
            } else if (fwimage::veskarnOptype(p.image_type) != 0xFFFFFFFFu) {
                out.push_back({fwimage::veskarnOptype(p.image_type), flag ? p.offset : 0u, p.file_offset, p.size});
            }
        }
        return out;
    }

    std::vector<std::string> files_;
};

constexpr u32 kUpdated = 55, kIncompatible = 162, kFailed = 166;
