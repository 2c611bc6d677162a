// Start-up passes that build schema groups: the port groups of a controller
// with the PG entries of their DCBX views, and LogicalHBA0 below every iSCSI
// physical HBA named after its vmhba.
#include <cstring>
#include <string>

#include "backend/orsa_gateway.h"
#include "config/config_startup.h"
#include "iscsi/iscsi_net.h"
#include "iscsi/iscsi_persist.h"
#include "schema_test_util.h"
#include "tree/hm_lookup.h"
#include "tree/hm_status.h"

namespace {

class StartupFill : public TreeTest {
protected:
    void SetUp() override
    {
        TreeTest::SetUp();
        saved_ = orsa_glob;
    }
    void TearDown() override
    {
        for (HmNode *phba : records_)
            orsa_release_node_handle(phba);
        orsa_glob = saved_;
        TreeTest::TearDown();
    }

    // A function group as discovery leaves it: its PortNumber and, unless
    // instance is 0, the record of its driver port instance.
    HmNode *function(HmNode *ks, bool iscsi, int port, u32 instance)
    {
        HmNode *phba = iscsi ? initialize_iSCSIPhysicalHBA(ks, nullptr, nullptr, nullptr)
                             : initialize_NICPhysicalHBA(ks, nullptr, nullptr, nullptr);
        EXPECT_NE(phba, nullptr);
        if (phba == nullptr)
            return nullptr;
        EXPECT_EQ(set_prop_val(phba, "PortNumber", "%d", port), 0u);
        if (instance != 0) {
            u32 *record = (u32 *)orsa_dmalloc(sizeof(u32));
            *record = instance;
            HM_GROUP(phba)->nhandle = record;
            records_.push_back(phba);
        }
        return phba;
    }

    static std::string value(HmNode *group, const char *path)
    {
        HmNode *p = at(group, path, HM_KIND_PROPERTY);
        return p != nullptr ? HM_PROPERTY(p)->value : "<missing>";
    }

    OrsaGlob saved_;
    std::vector<HmNode *> records_;
};

TEST_F(StartupFill, PortGroupsFollowThePhysicalHbasOfPortsZeroToThree)
{
    HmNode *ks = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
    ASSERT_NE(ks, nullptr);
    // Port 0 on an iSCSI function, port 2 on a NIC function, port 3 without
    // its driver port record, port 1 absent.
    HmNode *p0 = function(ks, true, 0, 3);
    HmNode *p2 = function(ks, false, 2, 5);
    function(ks, false, 3, 0);
    ASSERT_TRUE(p0 && p2);

    // The functions answer no DCBX reads here: the ports keep their PG groups.
    EXPECT_EQ(ORSA_get_port_discovery_config(ks), 0u);

    struct Case {
        const char *group;
        const char *port_number;
        HmNode *phba;
        int driver_port;
    } cases[] = {
        {"PortDiscoveryAndConfiguration0", "0", p0, 3},
        {"PortDiscoveryAndConfiguration1", "2", p2, 5},
    };
    for (const Case &c : cases) {
        HmNode *port = at(ks, c.group, HM_KIND_GROUP);
        ASSERT_NE(port, nullptr) << c.group;
        EXPECT_EQ(value(port, "PortNumber"), c.port_number) << c.group;
        EXPECT_EQ(HM_GROUP(port)->nhandle, HM_GROUP(c.phba)->nhandle) << c.group << " shares its HBA's record";
        for (const char *view : {"AdministratorPGSetting", "OperationalPGSettings", "PeerPGSetting"}) {
            HmNode *setting = at(port, std::string("DCBX/PriorityGroups/") + view, HM_KIND_GROUP);
            ASSERT_NE(setting, nullptr) << view;
            int pgs = 0;
            for (HmNode *pg = get_first_instance(setting, "PG"); pg != nullptr; pg = hm_next_instance(pg))
                EXPECT_EQ(instance_number(pg), pgs++) << view;
            EXPECT_EQ(pgs, 8) << c.group << " " << view;
            // A look-up below the port finds the port's driver instance.
            EXPECT_EQ(get_port_number(at(setting, "PG7/Bandwidth", HM_KIND_PROPERTY)), c.driver_port) << view;
        }
        EXPECT_NE(at(port, "DCBX/PriorityGroups/AdministratorPGSetting/PG0/ConfigurePGSettings", HM_KIND_ACTION),
                  nullptr);
        EXPECT_EQ(at(port, "DCBX/PriorityGroups/PeerPGSetting/PG0/ConfigurePGSettings", HM_KIND_ACTION), nullptr);
        EXPECT_EQ(get_first_instance(at(port, "DCBX/ApplicationTLVGroups/AdministratorTLVSetting", HM_KIND_GROUP),
                                     "ApplicationTLV"),
                  nullptr);
    }
    EXPECT_EQ(at(ks, "PortDiscoveryAndConfiguration2", HM_KIND_GROUP), nullptr);
}

TEST_F(StartupFill, APortThatCannotBeBuiltIsPassedOver)
{
    HmNode *ks = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
    ASSERT_NE(ks, nullptr);
    function(ks, true, 0, 1);
    function(ks, true, 1, 2);
    // The first port group's first allocation fails; the second port is built.
    orsa_dmalloc_fail_countdown = 0;
    ORSA_get_port_discovery_config(ks);
    orsa_dmalloc_fail_countdown = -1;
    HmNode *port = at(ks, "PortDiscoveryAndConfiguration0", HM_KIND_GROUP);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(value(port, "PortNumber"), "1");
    EXPECT_EQ(at(ks, "PortDiscoveryAndConfiguration1", HM_KIND_GROUP), nullptr);
}

TEST_F(StartupFill, LogicalHbaBelowEveryIscsiFunctionNamedAfterItsVmhba)
{
    // Controller 0 has only a NIC function; its iSCSI neighbours must still
    // get their logical HBAs.
    HmNode *ks0 = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
    HmNode *ks1 = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
    ASSERT_TRUE(ks0 && ks1);
    function(ks0, false, 0, 1);
    HmNode *a = function(ks1, true, 0, 1);
    HmNode *b = function(ks1, true, 1, 2);
    ASSERT_TRUE(a && b);
    orsa_glob.iscsi_valid_hba = 2;
    orsa_glob.iscsi_inst_flags[0] = 2;
    orsa_glob.iscsi_inst_flags[1] = 2;
    strcpy(orsa_glob.vmhba_names[0], "vmhba33");
    strcpy(orsa_glob.vmhba_names[1], "vmhba34");

    EXPECT_EQ(ORSA_set_lhba_prop(), (u32)ORSA_STATUS_NOT_SUPPORTED)
        << "login options, targets and iSNS servers are not restored yet";

    struct Case {
        HmNode *phba;
        const char *ifname;
    } cases[] = {{a, "vmhba33"}, {b, "vmhba34"}};
    for (const Case &c : cases) {
        HmNode *lhba = at(c.phba, "LogicalHBA0", HM_KIND_GROUP);
        ASSERT_NE(lhba, nullptr) << c.ifname;
        EXPECT_EQ(value(lhba, "IfName"), c.ifname);
        EXPECT_EQ(value(lhba, "InitiatorLoginOptions/Authentication/CHAPParam"), "Prohibited");
        EXPECT_EQ(HM_GROUP(lhba)->persistency_priority, 0u);
    }
    EXPECT_EQ(get_first_instance(at(ks0, "NICPhysicalHBA0", HM_KIND_GROUP), "LogicalHBA"), nullptr);

    // Its initiator name and alias are bound to the name handler, which asks
    // the adapter (tests/library_iscsi_net has it over an emulated one); the
    // default stays until a read.
    HmNode *lhba = at(a, "LogicalHBA0", HM_KIND_GROUP);
    HmNode *alias = at(lhba, "InitiatoriSCSIName/InitiatorAlias", HM_KIND_PROPERTY);
    ASSERT_NE(alias, nullptr);
    EXPECT_EQ(HM_PROPERTY(alias)->handler, handle_name_params);
    EXPECT_STREQ(HM_PROPERTY(alias)->value, "kd");
}

TEST_F(StartupFill, LogicalHbaPassStopsAtAFunctionWithoutItsRecord)
{
    HmNode *ks = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
    ASSERT_NE(ks, nullptr);
    HmNode *bare = function(ks, true, 0, 0);
    HmNode *later = function(ks, true, 1, 1);
    ASSERT_TRUE(bare && later);
    EXPECT_EQ(ORSA_set_lhba_prop(), 1u);
    EXPECT_EQ(get_first_instance(bare, "LogicalHBA"), nullptr);
    EXPECT_EQ(get_first_instance(later, "LogicalHBA"), nullptr);
}

}  // namespace
