// The library over the emulated host whose adapters log in for real to a
// target served by tgtd in the test root (192.0.2.1:3260): the Veskarn's
// iSCSI function 1 and the KS3's iSCSI function 1 each get the address
// 192.0.2.10/24 and 192.0.2.11/24 on their port.
#pragma once

#include <string.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "iscsi/fw_iscsi.h"
#include "iscsi/iscsi_loginopts.h"
#include "iscsi/iscsi_persist.h"
#include "iscsi/iscsi_targets.h"
#include "iscsi_target.h"
#include "net_fixture.h"
#include "backend/orsa_propertyutil.h"
#include "schema/builders.h"

class TargetsHost : public NetHost {
protected:
    static constexpr const char *kIqn = "iqn.2026-01.emu.tgt:disk1";
    static constexpr const char *kTgtIp = "192.0.2.1";

    void SetUp() override
    {
        ASSERT_EQ(system("rm -rf /scratch/ferrosul/orsa/*.txt; mkdir -p /scratch/ferrosul/orsa"), 0);
        std::string why;
        ASSERT_TRUE(tgt_.start(&why)) << why;
        ASSERT_NO_FATAL_FAILURE(boot());
        address(kVsk, 10);
        address(kKs3, 11);
        orsa_login_attempts = 0;
    }
    void TearDown() override
    {
        NetHost::TearDown();
        tgt_.stop();
        EXPECT_EQ(system("rm -rf /scratch/ferrosul/orsa/*.txt"), 0);
    }

    // The port of iSCSI function 1 of an adapter gets 192.0.2.<last>/24.
    void address(size_t a, uint8_t last)
    {
        adapter::IscsiAddressEntry e;
        e.kind = 1;
        e.address[0] = 192, e.address[1] = 0, e.address[2] = 2, e.address[3] = last;
        e.mask[0] = e.mask[1] = e.mask[2] = 255;
        net(a, 1).addresses.push_back(e);
    }

    // A target with LUNs 1..n, each `blocks` blocks holding the pattern in
    // its first 64.
    int serve(const char *iqn = kIqn, unsigned luns = 1, uint64_t blocks = 4096)
    {
        int tid = tgt_.addTarget(iqn);
        EXPECT_GT(tid, 0);
        for (unsigned l = 1; l <= luns; l++) {
            testroot::IscsiTarget::LunSpec spec;
            spec.blocks = blocks;
            spec.vendor = "KDEMU";
            spec.product = "DISK" + std::to_string(l);
            spec.serial = "EMUSN000" + std::to_string(l);
            EXPECT_TRUE(tgt_.addLun(tid, l, spec));
        }
        return tid;
    }

    static HmNode *lhba(size_t a) { return group(phba(a, 1), "LogicalHBA0"); }
    static HmNode *target(size_t a, const char *iqn = kIqn) { return find_target(lhba(a), iqn); }
    static HmNode *first(HmNode *parent, const char *kind)
    {
        return parent != nullptr ? get_first_instance(parent, kind) : nullptr;
    }

    // The LUN group of a LUN number (tgtd also reports its controller as LUN 0).
    static HmNode *lunNumbered(HmNode *t, int n)
    {
        char want[32];
        snprintf(want, sizeof want, "000000000000%02x00", n);
        for (HmNode *l = first(t, "LUN"); l != nullptr; l = hm_next_instance(l))
            if (get(l, "LUNNumber") == want)
                return l;
        return nullptr;
    }

    // A target and its portal as the start-up restore makes them: the
    // group, its savetgt.txt line, no login.
    HmNode *restoreTarget(size_t a, const char *iqn = kIqn, const char *ip = kTgtIp)
    {
        HmValueSlot keys[HM_MAX_PARAMS] = {};
        HmNode *l = lhba(a);
        HmNode *t = setup_target(l, iqn, l, internal_get_node(l, "AddTarget", HM_KIND_ACTION), keys, 0);
        EXPECT_NE(t, nullptr);
        if (t == nullptr)
            return nullptr;
        EXPECT_NE(setup_portal(t, ip, "3260", "0"), nullptr);
        EXPECT_EQ(ORSA_add_target_into_file(l, t, iqn, ip, "3260", nullptr, "True"), 0u);
        return t;
    }
    // A login option of a target, as the CHAP configuration stores it.
    static void option(HmNode *t, const char *name, const char *value)
    {
        HmNode *options = group(t, "TargetLoginOptions");
        ASSERT_EQ(ORSA_set_target_loginoptions(t, options, group(options, "Authentication"), name, value), 0u) << name;
    }

    // Where a node's commands go.
    struct Where {
        uint32_t port;
        uint8_t domain, phba;
    };
    static Where where(HmNode *node)
    {
        return Where{(uint32_t)get_port_number(node), (uint8_t)get_domain_id(node),
                     (uint8_t)get_phba_port_number(node)};
    }

    // The boot-target entries (type 3) region 3 of a node's port holds; -1
    // when the region cannot be read.
    static int bootEntries(HmNode *node)
    {
        Where w = where(node);
        uint8_t *region = ORSA_read_iscsi_region(w.port, w.domain, w.phba, 3);
        if (region == nullptr)
            return -1;
        int n = 0;
        const uint32_t area = orsa_region_length(region);
        for (uint32_t at = 0; at + 3 <= area;) {
            n += region[16 + at] == 3;
            at += (uint32_t)(region[16 + at + 1] | region[16 + at + 2] << 8) + 3;
        }
        orsa_dfree(region);
        return n;
    }

    std::vector<adapter::IscsiSessionView> sessions(size_t a) { return adapter::iscsiSessions(fw(a), 1); }
    size_t entries(size_t a) { return adapter::iscsiPersistentEntries(fw(a), 1).size(); }

    static std::string file(const char *path)
    {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // savetgt.txt lines of the target with a qualifier (persistent logins).
    static int persistentLines(const char *iqn = kIqn)
    {
        std::istringstream in(file(ORSA_SAVETGT_FILE));
        int n = 0;
        for (std::string line; std::getline(in, line);) {
            std::vector<std::string> f;
            std::stringstream ls(line);
            for (std::string x; std::getline(ls, x, ',');)
                f.push_back(x);
            if (f.size() > 6 && f[3] == iqn && !f[6].empty())
                n++;
        }
        return n;
    }

    testroot::IscsiTarget tgt_;
};
