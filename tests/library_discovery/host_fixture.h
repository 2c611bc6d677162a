// The library started by a client over an emulated host: the devices are in
// place and the host's files written before ORSA_init runs discovery.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "backend/orsa_gateway.h"
#include "backend/orsa_identity.h"
#include "emulated_host.h"
#include "fw_discovery.h"
#include "schema/bootstrap.h"
#include "tree/hm_engine.h"
#include "tree/orsa_api.h"

class DiscoveryHost : public ::testing::Test {
protected:
    // Makes the host; tests that shape the adapters do so before start().
    void make(const chardev::HostSpec &spec)
    {
        vm_flag = 0;
        orsa_hierarchy_stale = 0;
        host_ = std::make_unique<chardev::EmulatedHost>(spec);
        ASSERT_TRUE(host_->writeHostFiles()) << "library tests run in the throw-away test root";
        chardev::install(host_.get());
    }
    // Ends the running library, if any, and makes the next host (a test's
    // second start over other adapters).
    void remake(const chardev::HostSpec &spec)
    {
        if (started_) {
            ASSERT_EQ(ORSA_exit(), 0u);
            started_ = false;
        }
        make(spec);
    }
    u32 start()
    {
        started_ = true;
        return ORSA_init();
    }
    void TearDown() override
    {
        if (started_) {
            EXPECT_EQ(ORSA_exit(), 0u);
        }
        if (host_) {
            EXPECT_EQ(host_->openDescriptors(), 0u) << "a device descriptor was left open";
        }
        chardev::install(nullptr);
        host_.reset();
        vm_flag = 0;
    }

    static HmNode *group(HmNode *base, const std::string &path)
    {
        HmNode *n = base;
        size_t start = 0;
        while (n != nullptr && start <= path.size()) {
            size_t slash = path.find('/', start);
            std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            n = internal_get_node(n, part.c_str(), HM_KIND_GROUP);
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
        return n;
    }
    static HmNode *ctrl(int n)
    {
        return group(&ROOT, "Kalderstone" + std::to_string(n));
    }
    static std::string cached(HmNode *g, const char *name)
    {
        HmNode *p = g != nullptr ? internal_get_node(g, name, HM_KIND_PROPERTY) : nullptr;
        return p != nullptr ? std::string(HM_PROPERTY(p)->value) : std::string("<missing>");
    }
    // A client's read through the API.
    static std::string get(HmNode *g, const char *name, u32 *rc = nullptr)
    {
        u32 tag = 0;
        if (g == nullptr || ORSA_get_node_tag(g->tag, name, &tag, HM_KIND_PROPERTY) != 0)
            return "<missing>";
        char v[HM_VALUE_SIZE] = "";
        u32 r = ORSA_get_property_val(g->tag, tag, v, sizeof v);
        if (rc != nullptr)
            *rc = r;
        return v;
    }
    static u32 set(HmNode *g, const char *name, const char *value)
    {
        u32 tag = 0;
        if (g == nullptr || ORSA_get_node_tag(g->tag, name, &tag, HM_KIND_PROPERTY) != 0)
            return 0xFFFF;
        char v[HM_VALUE_SIZE];
        snprintf(v, sizeof v, "%s", value);
        return ORSA_set_property_val(g->tag, tag, v, sizeof v);
    }
    static u32 last_code()
    {
        u32 code = 0;
        char text[ORSA_STATUS_TEXT_SIZE];
        ORSA_get_last_status(&code, text);
        return code;
    }
    static int instances(HmNode *parent, const char *kind)
    {
        int n = 0;
        for (HmNode *g = parent != nullptr ? get_first_instance(parent, kind) : nullptr; g != nullptr;) {
            HmInstanceInfo *i = hm_instance_info(g);
            if (i == nullptr || i->number < 0)
                break;
            ++n;
            g = i->next_instance;
        }
        return n;
    }

    // Payloads of the pass-through requests of one command (subsystem,
    // opcode) that reached the devices: a NIC block carries 21 bytes before
    // the header.
    std::vector<std::vector<u8>> sent(u8 subsystem, u8 opcode) const
    {
        std::vector<std::vector<u8>> out;
        for (const chardev::LoggedIoctl &l : host_->log()) {
            bool nic = l.dev == chardev::Dev::Nic;
            if (l.request != (nic ? ORSA_NIC_IOCTL_PASSTHRU : ORSA_ISCSI_IOCTL_PASSTHRU))
                continue;
            size_t at = nic ? 21 : 0;
            const std::vector<u8> &b = l.bytes;
            if (at + 16 <= b.size() && b[at] == opcode && b[at + 1] == subsystem)
                out.emplace_back(b.begin() + (long)at + 16, b.end());
        }
        return out;
    }

    std::unique_ptr<chardev::EmulatedHost> host_;
    bool started_ = false;
};

inline chardev::AdapterSpec adapterSpec(adapter::Gen gen, uint8_t bus, const char *serial,
                                        std::vector<chardev::FunctionSpec> fns)
{
    chardev::AdapterSpec a;
    a.gen = gen;
    a.bus = bus;
    a.serial = serial;
    a.functions = std::move(fns);
    return a;
}

inline chardev::FunctionSpec nicFn(uint8_t fn, const char *ifname, uint16_t vfs = 0)
{
    chardev::FunctionSpec f;
    f.fn = fn;
    f.proto = chardev::Proto::Nic;
    f.vfs = vfs;
    f.ifname = ifname;
    return f;
}

inline chardev::FunctionSpec iscsiFn(uint8_t fn, const char *vmhba, int device)
{
    chardev::FunctionSpec f;
    f.fn = fn;
    f.proto = chardev::Proto::Iscsi;
    f.vmhba = vmhba;
    f.iscsi_device = device;
    return f;
}
