// Module and mode groups from the extended-log capability image, and the
// checks of a written mask.
#include "backend/orsa_extlog.h"
#include "discovery_tree.h"
#include "extfat_image.h"
#include "maintenance/maint_startup.h"

namespace {

struct ExtFatTree : DiscoveryTree {
    HmNode *ks = nullptr;
    HmNode *xd = nullptr;
    void SetUp() override
    {
        DiscoveryTree::SetUp();
        ks = controller();
        ASSERT_NE(ks, nullptr);
        xd = internal_get_node(ks, "ExtFATData", HM_KIND_GROUP);
        ASSERT_NE(xd, nullptr);
    }
    HmNode *module(int n)
    {
        char label[HM_NAME_SIZE];
        snprintf(label, sizeof label, "ExtFATModule%d", n);
        return internal_get_node(xd, label, HM_KIND_GROUP);
    }
    static HmNode *mode(HmNode *module, int n)
    {
        char label[HM_NAME_SIZE];
        snprintf(label, sizeof label, "ExtFATMode%d", n);
        return module != nullptr ? internal_get_node(module, label, HM_KIND_GROUP) : nullptr;
    }
};

const ExtFatMode uart{0, 0x3, 2, 0xFF};
const ExtFatMode ram{1, 0x1, 5, 0x1234567890ull};

}  // namespace

TEST_F(ExtFatTree, HeaderFieldsAndSupportedModes)
{
    struct Case {
        uint32_t supported;
        const char *text;
    } cases[] = {{1, "UART"}, {2, "RAM"}, {3, "UART,RAM"}, {0, "Unknown"}};
    for (const Case &c : cases) {
        std::vector<uint8_t> img = extfat_image(c.supported, 0, {});
        EXPECT_EQ(orsa_extfat_fill(xd, img.data(), (u32)img.size()), 0u);
        EXPECT_EQ(value(xd, "SupportedModes"), c.text);
    }
    EXPECT_EQ(value(xd, "MaxLogEntries"), "512");
    EXPECT_EQ(value(xd, "LogEntrySize"), "64");
    EXPECT_EQ(value(xd, "LoggingType"), "asynchronous");
    EXPECT_EQ(value(xd, "MaxLoggingFunctions"), "8");
    EXPECT_EQ(value(xd, "MaxLoggingPorts"), "4");
    EXPECT_EQ(value(xd, "NumberOfModules"), "0");
    EXPECT_EQ(module(0), nullptr);
}

TEST_F(ExtFatTree, HeaderResultIsThatOfTheLastThreeStores)
{
    // The header's result is made of the stores of MaxLoggingPorts,
    // SupportedModes and NumberOfModules; the earlier ones only log.
    struct Case {
        const char *missing;
        u32 result;
    } cases[] = {
        {"MaxLogEntries", 0}, {"LoggingType", 0}, {"MaxLoggingFunctions", 0},
        {"MaxLoggingPorts", 1}, {"SupportedModes", 1}, {"NumberOfModules", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.missing);
        TearDown();
        SetUp();
        ASSERT_EQ(delete_node(internal_get_node(xd, c.missing, HM_KIND_PROPERTY)), 0u);
        std::vector<uint8_t> img = extfat_image(3, 0, {});
        EXPECT_EQ(orsa_extfat_fill(xd, img.data(), (u32)img.size()), c.result);
        EXPECT_EQ(value(xd, "LogEntrySize"), "64");  // the other stores still happen
    }
}

TEST_F(ExtFatTree, ModulesAndModesFromTheImage)
{
    std::vector<uint8_t> img =
        extfat_image(3, 2, {{"MGMT", 0x100, 2, {uart, ram}}, {"NIC", 0x101, 2, {ram, uart}}});
    ASSERT_EQ(orsa_extfat_fill(xd, img.data(), (u32)img.size()), 0u);
    EXPECT_EQ(value(module(0), "ModuleString"), "MGMT");
    EXPECT_EQ(value(module(0), "ModuleId"), "256");
    EXPECT_EQ(value(mode(module(0), 0), "Mode"), "UART");
    EXPECT_EQ(value(mode(module(0), 0), "TraceLevel"), "2");
    EXPECT_EQ(value(mode(module(0), 0), "PortMask"), "0x3");
    EXPECT_EQ(value(mode(module(0), 0), "PCIFunctionMask"), "0xff");
    EXPECT_EQ(value(mode(module(0), 1), "Mode"), "RAM");
    EXPECT_EQ(value(mode(module(0), 1), "PCIFunctionMask"), "0x1234567890");
    EXPECT_EQ(value(module(1), "ModuleString"), "NIC");
    EXPECT_EQ(value(mode(module(1), 0), "Mode"), "RAM");
    EXPECT_EQ(value(mode(module(1), 1), "TraceLevel"), "2");

    // a reread of one mode takes that module's own entry
    EXPECT_EQ(orsa_extfat_mode_entry(img.data(), (u32)img.size(), 1, 1), 20 + 72 + 40 + 16);
    EXPECT_EQ(orsa_extfat_store_mode(mode(module(1), 0), img.data(), (u32)img.size()), 0u);
    EXPECT_EQ(value(mode(module(1), 0), "TraceLevel"), "5");
}

TEST_F(ExtFatTree, ModeCountsShapeTheGroups)
{
    // count 5: the module group and its name, no mode groups, and the walk stops
    std::vector<uint8_t> img = extfat_image(3, 2, {{"BIG", 7, 5, {uart, ram}}, {"NEXT", 8, 2, {uart, ram}}});
    ASSERT_EQ(orsa_extfat_fill(xd, img.data(), (u32)img.size()), 0u);
    EXPECT_EQ(value(module(0), "ModuleString"), "BIG");
    EXPECT_EQ(mode(module(0), 0), nullptr);
    EXPECT_EQ(module(1), nullptr);
}

TEST_F(ExtFatTree, OneModeEntryMakesOneModeGroup)
{
    // The record of a module with one mode holds one entry: the bytes after
    // it belong to the next module and are never shown as its second mode.
    std::vector<uint8_t> img = extfat_image(3, 2, {{"ONE", 1, 1, {ram}}, {"TWO", 2, 2, {uart, ram}}});
    ASSERT_EQ(orsa_extfat_fill(xd, img.data(), (u32)img.size()), 0u);
    EXPECT_NE(mode(module(0), 0), nullptr);
    EXPECT_EQ(mode(module(0), 1), nullptr);
    EXPECT_EQ(value(module(1), "ModuleString"), "TWO");
    EXPECT_NE(mode(module(1), 1), nullptr);
    EXPECT_EQ(orsa_extfat_mode_entry(img.data(), (u32)img.size(), 0, 1), -1);
}

TEST_F(ExtFatTree, ZeroModeModuleEndsTheEnumeration)
{
    std::vector<uint8_t> img =
        extfat_image(3, 3, {{"A", 1, 2, {uart, ram}}, {"B", 2, 0, {}}, {"C", 3, 2, {uart, ram}}});
    ASSERT_EQ(orsa_extfat_fill(xd, img.data(), (u32)img.size()), 0u);
    EXPECT_NE(module(0), nullptr);
    EXPECT_NE(module(1), nullptr);
    EXPECT_EQ(mode(module(1), 0), nullptr);
    EXPECT_EQ(module(2), nullptr);
}

TEST_F(ExtFatTree, WalkStaysInsideTheImage)
{
    // 1000 modules reported, two laid out, the image ends there.
    std::vector<uint8_t> img = extfat_image(3, 1000, {{"A", 1, 2, {uart, ram}}, {"B", 2, 2, {uart, ram}}});
    ASSERT_EQ(orsa_extfat_fill(xd, img.data(), (u32)img.size()), 0u);
    EXPECT_NE(module(1), nullptr);
    EXPECT_EQ(module(2), nullptr);
    EXPECT_EQ(orsa_extfat_mode_entry(img.data(), (u32)img.size(), 2, 0), -1);
    // a module whose entries would run past the end gets no mode group for them
    std::vector<uint8_t> cut = extfat_image(3, 1, {{"A", 1, 2, {uart, ram}}});
    cut.resize(cut.size() - 8);
    HmNode *ks2 = controller();
    HmNode *xd2 = internal_get_node(ks2, "ExtFATData", HM_KIND_GROUP);
    ASSERT_EQ(orsa_extfat_fill(xd2, cut.data(), (u32)cut.size()), 0u);
    HmNode *m0 = internal_get_node(xd2, "ExtFATModule0", HM_KIND_GROUP);
    ASSERT_NE(m0, nullptr);
    EXPECT_NE(mode(m0, 0), nullptr);
    EXPECT_EQ(mode(m0, 1), nullptr);
    EXPECT_EQ(orsa_extfat_mode_entry(cut.data(), (u32)cut.size(), 0, 1), -1);
}

TEST(ExtFatMaskCheck, PrefixDigitsAndWidth)
{
    struct Case {
        const char *value;
        u32 width;
        bool port;
        u32 rc;
        const char *text;
        u64 mask;
    } cases[] = {
        {"0x3", 2, true, 0, "", 3},
        {"0X0f", 4, true, 0, "", 15},
        {"0x4", 2, true, 6, "Invalid value. Please check MaxLoggingPorts property for valid PortMask.", 0},
        {"0xff", 8, false, 0, "", 255},
        {"0x100", 8, false, 6,
         "Invalid value. Please check MaxLoggingFunctions property for valid PCIFunctionMask.", 0},
        {"0xffffffffffffffff", 64, false, 0, "", ~0ull},
        {"0x1ffffffffffffffff", 64, false, 6,
         "Invalid value. Please check MaxLoggingFunctions property for valid PCIFunctionMask.", 0},
        {"3", 2, true, 6, "Invalid value. Value should be in hex-decimal format.", 0},
        {"x3", 2, true, 6, "Invalid value. Value should be in hex-decimal format.", 0},
        {"0x3g", 2, true, 6, "Invalid value. The valid values are 0-9, a-f and A-F.", 0},
        {"0x 3", 2, true, 6, "Invalid value. The valid values are 0-9, a-f and A-F.", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        orsa_reset_last_status();
        u64 mask = 0;
        EXPECT_EQ(orsa_extfat_check_mask(c.value, c.width, c.port, &mask), c.rc);
        EXPECT_STREQ(orsa_last_status_string, c.text);
        if (c.rc == 0) {
            EXPECT_EQ(mask, c.mask);
        }
    }
}
