// The state file and the look-ups over groups made by the schema's own
// builders, as discovery makes them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "backend/orsa_propertyutil.h"
#include "schema/bootstrap.h"
#include "schema/builders.h"
#include "tree/hm_lookup.h"
#include "tree/hm_persist.h"
#include "tree/orsa_api.h"

namespace {

class SchemaTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(ORSA_init(), 0u);
        ks_ = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
        ASSERT_NE(ks_, nullptr);
        iscsi_ = initialize_iSCSIPhysicalHBA(ks_, nullptr, nullptr, nullptr);
        nic_ = initialize_NICPhysicalHBA(ks_, nullptr, nullptr, nullptr);
        ASSERT_NE(iscsi_, nullptr);
        ASSERT_NE(nic_, nullptr);
        ASSERT_EQ(set_prop_val(iscsi_, "PortNumber", "%d", 1), 0u);
        ASSERT_EQ(set_prop_val(nic_, "PortNumber", "%d", 0), 0u);
    }
    void TearDown() override { ORSA_exit(); }

    HmNode *ks_ = nullptr, *iscsi_ = nullptr, *nic_ = nullptr;
};

TEST_F(SchemaTree, PhysicalHbaByPortAndAddressWalks)
{
    EXPECT_EQ(get_valid_phba(ks_, "1"), iscsi_);
    EXPECT_EQ(get_valid_phba(ks_, "0"), nic_);
    EXPECT_EQ(get_valid_phba(ks_, "3"), nullptr);
    u32 instance = 2;
    HM_GROUP(nic_)->nhandle = &instance;
    HmNode *pci = internal_get_node(nic_, "PCI", HM_KIND_GROUP);
    ASSERT_NE(pci, nullptr);
    EXPECT_EQ(get_port_number(pci), 2);
    EXPECT_EQ(get_port_number(iscsi_), -1);
    EXPECT_EQ(get_ks_instance(pci), 0u);
    HM_GROUP(nic_)->nhandle = nullptr;
}

TEST_F(SchemaTree, EverySavedRecordNamesItsNodeAndReplays)
{
    FILE *fp = tmpfile();
    ASSERT_EQ(save_node(&ROOT, fp, HM_PROP_READONLY | HM_PROP_WRITABLE), 0u);
    rewind(fp);
    char line[1024];
    int records = 0;
    while (fgets(line, sizeof line, fp) != nullptr) {
        std::string text(line);
        ASSERT_EQ(text.rfind("PROPERTY|", 0), 0u) << text;
        ASSERT_EQ(text.back(), '\n');
        std::string path = text.substr(9, text.find('|', 9) - 9);
        EXPECT_NE(internal_get_node_path(path.c_str(), HM_KIND_PROPERTY), nullptr) << path;
        records++;
    }
    EXPECT_GT(records, 20);
    rewind(fp);
    EXPECT_EQ(restore_hm(fp), 0u);
    fclose(fp);
    char value[HM_VALUE_SIZE] = {};
    ASSERT_EQ(internal_get_property(iscsi_, "PortNumber", value), 0u);
    EXPECT_STREQ(value, "1");
}

}  // namespace
