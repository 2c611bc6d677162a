// Generation codes, attribute texts and the controller fillers that take a
// reply already in hand.
#include <string.h>

#include <vector>

#include "discovery_tree.h"

TEST_F(DiscoveryTree, GenerationFromDeviceIdText)
{
    struct Case {
        const char *device_id;
        u32 code;
    } cases[] = {
        {"0x3A10", ORSA_ASIC_KS2}, {"0x3b03", ORSA_ASIC_KS2},     {"0x3A18", ORSA_ASIC_UNKNOWN},
        {"0x3B04", ORSA_ASIC_UNKNOWN}, {"0x3A27", ORSA_ASIC_KS3}, {"3B14", ORSA_ASIC_KS3},
        {"0x5C28", ORSA_ASIC_PIVARD}, {"0x3B28", ORSA_ASIC_VESKARN}, {"", ORSA_ASIC_UNKNOWN},
        {"0x3G28", ORSA_ASIC_UNREADABLE}, {"-1", ORSA_ASIC_UNREADABLE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.device_id);
        HmNode *ks = controller();
        ASSERT_NE(nic(ks, c.device_id), nullptr);
        orsa_reset_last_status();
        EXPECT_EQ(get_ks_type(ks), c.code);
        EXPECT_EQ(orsa_last_status_code, c.code == ORSA_ASIC_UNREADABLE ? 163u : 0u);
        ASSERT_EQ(delete_node(ks), 0u);
    }
}

TEST_F(DiscoveryTree, GenerationPrefersTheFirstIscsiFunctionAndFailsWithoutOne)
{
    HmNode *ks = controller();
    EXPECT_EQ(get_ks_type(ks), ORSA_ASIC_UNREADABLE);
    EXPECT_EQ(orsa_last_status_code, 163u);
    EXPECT_STREQ(orsa_last_status_string, "Failed to get the controller type.");
    nic(ks, "0x3B28");
    EXPECT_EQ(get_ks_type(ks), ORSA_ASIC_VESKARN); // NIC-only adapters are typed from their NIC function
    iscsi(ks, "0x3A21");
    EXPECT_EQ(get_ks_type(ks), ORSA_ASIC_KS3);
}

TEST(AsicFromInterfaceWord, SixthDigitDecides)
{
    struct Case {
        u32 word;
        i32 asic_id;
        u32 expected;
    } cases[] = {
        {0, 0, ORSA_ASIC_UNKNOWN},          {0x1234506, 0, ORSA_ASIC_KS2}, {0x1234516, 0, ORSA_ASIC_KS3},
        {0x12345a6, 0, ORSA_ASIC_PIVARD},   {0x12345b6, 0, ORSA_ASIC_PIVARD},
        {0x12345f6, 0x410, ORSA_ASIC_VESKARN}, {0x1234526, 0x411, ORSA_ASIC_VESKARN},
        {0x12345f6, 0x412, 77},             {0x1234576, 0x410, 77},
        {0x123450, 0, ORSA_ASIC_KS2},
        // fewer than six digits: nothing at index 5, the output stays
        {0x12345, 0x410, 77},               {0x1, 0, 77},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.word);
        u32 out = 77;
        EXPECT_EQ(ORSA_get_asic_type(c.word, &out, c.asic_id), 0u);
        EXPECT_EQ(out, c.expected);
    }
}

TEST(ControllerTexts, CapabilitiesAndFirmwareStatus)
{
    char out[HM_VALUE_SIZE];
    orsa_capabilities_text(0x12, out);
    EXPECT_STREQ(out, "Raw Ethernet,iSCSI Initiator");
    orsa_capabilities_text(0x3FF, out);
    EXPECT_STREQ(out, "TCP offload,Raw Ethernet,RDMA Protocol,Virtual Machines,iSCSI Initiator,iSCSI target plus "
                      "initiator,FCoE Initiator,FCoE Target,DAL,LRO");
    orsa_capabilities_text(0x8012, out);
    EXPECT_STREQ(out, "Invalid");
    orsa_capabilities_text(0, out);
    EXPECT_STREQ(out, "");
    const char *status[] = {"Working", "Degraded", "Critical", "Failed", "Unknown"};
    for (u8 s = 0; s < 5; ++s)
        EXPECT_STREQ(orsa_firmware_status_text(s), status[s]);
    EXPECT_STREQ(orsa_firmware_status_text(200), "Unknown");
}

// Every text field of the reply is full to its last byte (no NUL): the
// stored values stop at the field's width.
TEST_F(DiscoveryTree, ControllerAttributesReadEachFieldWithItsWidth)
{
    HmNode *ks = controller();
    std::vector<u8> a(ORSA_CNTR_ATTR_SIZE, 'Z');
    memset(&a[ORSA_ATTR_MANUFACTURER], 'M', 32);
    a[ORSA_ATTR_CAPABILITIES] = 0x12;
    a[ORSA_ATTR_CAPABILITIES + 1] = a[ORSA_ATTR_CAPABILITIES + 2] = a[ORSA_ATTR_CAPABILITIES + 3] = 0;
    memset(&a[ORSA_ATTR_MODEL_NUMBER], 'N', 32);
    memset(&a[ORSA_ATTR_DESCRIPTION], 'D', 64);
    memset(&a[ORSA_ATTR_SERIAL], 'S', 32);
    memset(&a[ORSA_ATTR_ACTIVE_FW], 'A', 32);
    memset(&a[ORSA_ATTR_FLASH_FW], 'F', 32);
    a[ORSA_ATTR_FW_STATUS] = 1;
    ASSERT_EQ(ORSA_update_cntr_attribs(ks, a.data(), 0), 0u);
    EXPECT_EQ(value(ks, "Manufacturer"), std::string(32, 'M'));
    EXPECT_EQ(value(ks, "ModelNumber"), std::string(32, 'N'));
    EXPECT_EQ(value(ks, "Description"), std::string(64, 'D'));
    EXPECT_EQ(value(ks, "SerialNumber"), std::string(32, 'S'));
    EXPECT_EQ(value(ks, "ActiveFirmwareVersion"), std::string(32, 'A'));
    EXPECT_EQ(value(ks, "FirmwareVersionOnFlash"), std::string(32, 'F'));
    EXPECT_EQ(value(ks, "FirmwareStatus"), "Degraded");
    EXPECT_EQ(value(ks, "Capabilities"), "Raw Ethernet,iSCSI Initiator");
    // a failed read sets nothing
    EXPECT_EQ(ORSA_update_cntr_attribs(ks, a.data(), 109), 1u);
    EXPECT_EQ(ORSA_update_cntr_attribs(nullptr, a.data(), 0), 1u);
}

TEST_F(DiscoveryTree, OemParametersPerGeneration)
{
    HmNode *ks = controller();
    HmNode *oem = internal_get_node(ks, "OEM", HM_KIND_GROUP);
    ASSERT_NE(oem, nullptr);
    u8 o[ORSA_OEM_PARAMS_SIZE] = {'T', 'S', 0x01, 0x02, 0xab, 0xcd, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    memset(o + 12, 'Q', 24); // a full OEM serial without NUL
    o[36] = 0x04;
    o[37] = 0x03;
    EXPECT_EQ(orsa_store_oem_params(oem, ORSA_ASIC_KS3, o), 0u);
    EXPECT_EQ(value(oem, "TalvorSerialNumber"), "TS0102abcd112233445566");
    EXPECT_EQ(value(oem, "OEMSerialNumber"), std::string(24, 'Q'));
    EXPECT_EQ(value(oem, "PersonalityManagementWord"), "0x00000304");

    EXPECT_EQ(orsa_store_oem_params(oem, ORSA_ASIC_PIVARD, o), 0u);
    EXPECT_EQ(value(oem, "TalvorSerialNumber"), "TS0102abcd");
    EXPECT_EQ(value(oem, "OEMSerialNumber"), std::string(24, 'Q'));
    o[12] = 'A';
    o[13] = 0;
    EXPECT_EQ(orsa_store_oem_params(oem, ORSA_ASIC_PIVARD, o), 0u);
    EXPECT_EQ(value(oem, "OEMSerialNumber"), "N/A");
    EXPECT_EQ(orsa_pivard_oem_hides_serial(o), 1u);
    o[0] = 255;
    o[13] = 'B';
    EXPECT_EQ(orsa_store_oem_params(oem, ORSA_ASIC_PIVARD, o), 0u);
    EXPECT_EQ(value(oem, "TalvorSerialNumber"), "N/A");
    EXPECT_EQ(orsa_pivard_oem_hides_serial(o), 1u);
    o[0] = 'T';
    EXPECT_EQ(orsa_pivard_oem_hides_serial(o), 0u);
}

TEST_F(DiscoveryTree, AdditionalAttributesIplNameAndPhy)
{
    HmNode *ks = controller();
    struct Case {
        u32 asic;
        u16 number;
        u8 suffix;
        std::string expected;
    } cases[] = {
        {ORSA_ASIC_KS3, 0, 0x1A, "N/A"},
        {ORSA_ASIC_KS3, 114, 0x1A, "N/A"},
        {ORSA_ASIC_KS3, 1, 0x1A, std::string(orsa_ipl_file_name(1)) + "1A"},
        {ORSA_ASIC_KS3, 113, 0x05, std::string(orsa_ipl_file_name(113)) + "5"},
        {ORSA_ASIC_VESKARN, 256, 0xC, std::string(orsa_ipl_file_name(114)) + "C"},
        {ORSA_ASIC_VESKARN, 293, 0x0, std::string(orsa_ipl_file_name(151)) + "0"},
        {ORSA_ASIC_VESKARN, 294, 0x0, "N/A"},
        {ORSA_ASIC_PIVARD, 5, 0x0, "N/A"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.number);
        std::vector<u8> add(ORSA_ADD_ATTR_SIZE, 0);
        add[0] = (u8)c.number;
        add[1] = (u8)(c.number >> 8);
        add[2] = c.suffix;
        EXPECT_EQ(orsa_store_additional_attribs(ks, c.asic, add.data()), 0u);
        EXPECT_EQ(value(ks, "IPLFileName"), c.expected);
    }
    EXPECT_STRNE(orsa_ipl_file_name(1), orsa_ipl_file_name(114));

    // Full version texts, PHY texts and an IPL name that runs to the end
    // of the reply: nothing is read past a field or the reply.
    std::vector<u8> add(ORSA_ADD_ATTR_SIZE, 'v');
    memset(&add[ORSA_ADD_PHY_CONFIG], '7', 8);
    EXPECT_EQ(orsa_store_additional_attribs(ks, ORSA_ASIC_KS3, add.data()), 0u);
    EXPECT_EQ(value(ks, "FCoEUniversalVersion"), std::string(32, 'v'));
    EXPECT_EQ(value(ks, "PXEBIOSVersion"), std::string(32, 'v'));
    EXPECT_EQ(value(ks, "PHYConfigurationId"), "0x77777777");
    EXPECT_EQ(value(ks, "IPLFileName"), std::string(ORSA_ADD_ATTR_SIZE - ORSA_ADD_IPL_NAME, 'v'));
    EXPECT_EQ(orsa_store_additional_attribs(ks, ORSA_ASIC_PIVARD, add.data()), 0u);
    EXPECT_EQ(value(ks, "PHYFirmwareVersion"), "N/A");
    EXPECT_EQ(value(ks, "PHYConfigurationId"), "N/A");
}

TEST_F(DiscoveryTree, NicCimConstantsFollowTheFunctions)
{
    HmNode *ks = controller();
    HmNode *cim = internal_get_node(ks, "NICCIM", HM_KIND_GROUP);
    ASSERT_NE(cim, nullptr);
    HmNode *is = iscsi(ks, "0x3A21");
    ASSERT_NE(is, nullptr);
    EXPECT_EQ(read(cim, "MaxSupportedController"), "0");
    EXPECT_EQ(read(cim, "ControllerType"), "N/A");
    EXPECT_EQ(read(cim, "ProtocolSupported"), "N/A");
    EXPECT_EQ(read(cim, "PortControllerName"), "N/A");
    HmNode *n0 = nic(ks, "0x3A21");
    nic(ks, "0x3A21", "0x1");
    set_prop_val(internal_get_node(n0, "PCI", HM_KIND_GROUP), "BusNumber", "0x5");
    set_prop_val(internal_get_node(n0, "PCI", HM_KIND_GROUP), "DeviceNumber", "0x0");
    EXPECT_EQ(read(cim, "MaxSupportedController"), "2");
    EXPECT_EQ(read(cim, "ControllerType"), "Ethernet");
    EXPECT_EQ(read(cim, "ProtocolSupported"), "IEEE P802.3ae");
    EXPECT_EQ(read(cim, "PortControllerName"), "Talvor Quorvantix at 0x5:0x0");
}

TEST_F(DiscoveryTree, SerialNumberFallsBackToTheBusNumber)
{
    HmNode *ks = controller();
    HmNode *n = nic(ks, "0x3A21");
    set_prop_val(internal_get_node(n, "PCI", HM_KIND_GROUP), "BusNumber", "0x7");
    set_prop_val(ks, "SerialNumber", "N/A");
    char out[HM_VALUE_SIZE] = "";
    EXPECT_EQ(ORSA_get_asic_serial_number(internal_get_node(n, "PCI", HM_KIND_GROUP), out), 0u);
    EXPECT_STREQ(out, "0x7");
    set_prop_val(ks, "SerialNumber", "ABC123");
    EXPECT_EQ(ORSA_get_asic_serial_number(n, out), 0u);
    EXPECT_STREQ(out, "ABC123");
    EXPECT_EQ(ORSA_get_asic_serial_number(&ROOT, out), 1u);
    char list[4][HM_VALUE_SIZE];
    u32 count = 0;
    EXPECT_EQ(ORSA_enumerate_serial_numbers(&count, list), 0u);
    EXPECT_EQ(count, 1u);
    EXPECT_STREQ(list[0], "ABC123");
}

TEST_F(DiscoveryTree, ServerMakerTableByHexSubsystemId)
{
    HmNode *ks = controller();
    HmNode *n = nic(ks, "0x3A21");
    HmNode *pci = internal_get_node(n, "PCI", HM_KIND_GROUP);
    char id[16];
    snprintf(id, sizeof id, "0x%04x", DellSupportedPciSubSysDevIdTable[3]);
    set_prop_val(pci, "SubsysDeviceID", "%s", id);
    EXPECT_EQ(ORSA_DetermineIfDellSystem(ks), 0u);
    set_prop_val(pci, "SubsysDeviceID", "0x0001");
    EXPECT_EQ(ORSA_DetermineIfDellSystem(ks), 1u);
    set_prop_val(pci, "SubsysDeviceID", "zz");
    EXPECT_EQ(ORSA_DetermineIfDellSystem(ks), 1u);
}
