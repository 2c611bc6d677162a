// A tree with ROOT and hand-made adapters, for the tests of fillers and
// handlers that need no adapter command.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "backend/orsa_identity.h"
#include "backend/orsa_propertyutil.h"
#include "schema/bootstrap.h"
#include "schema/builders.h"
#include "tree/hm_engine.h"

class DiscoveryTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        vm_flag = 0;
        ASSERT_EQ(init_hm(), 0u);
    }
    void TearDown() override
    {
        vm_flag = 0;
        exit_hm();
    }

    static HmNode *controller() { return initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr); }

    static HmNode *nic(HmNode *ks, const char *device_id, const char *function = "0x0")
    {
        return with_pci(initialize_NICPhysicalHBA(ks, nullptr, nullptr, nullptr), device_id, function);
    }

    static HmNode *iscsi(HmNode *ks, const char *device_id, const char *function = "0x0")
    {
        return with_pci(initialize_iSCSIPhysicalHBA(ks, nullptr, nullptr, nullptr), device_id, function);
    }

    // Gives a new physical HBA its PCI DeviceID and FunctionNumber.
    static HmNode *with_pci(HmNode *phba, const char *device_id, const char *function)
    {
        if (phba == nullptr)
            return nullptr;
        HmNode *pci = internal_get_node(phba, "PCI", HM_KIND_GROUP);
        set_prop_val(pci, "DeviceID", "%s", device_id);
        set_prop_val(pci, "FunctionNumber", "%s", function);
        return phba;
    }

    static std::string value(HmNode *group, const char *name)
    {
        HmNode *p = internal_get_node(group, name, HM_KIND_PROPERTY);
        return p != nullptr ? std::string(HM_PROPERTY(p)->value) : std::string("<missing>");
    }

    // Runs a property's bound handler in get mode.
    static std::string read(HmNode *group, const char *name, u32 *rc = nullptr)
    {
        HmNode *p = internal_get_node(group, name, HM_KIND_PROPERTY);
        if (p == nullptr)
            return "<missing>";
        char buf[HM_VALUE_SIZE] = "";
        u32 r = HM_PROPERTY(p)->handler(p, buf, HM_MODE_GET);
        if (rc != nullptr)
            *rc = r;
        return buf;
    }
};
