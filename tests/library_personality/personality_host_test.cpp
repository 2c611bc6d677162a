// Personality, available protocols, erase and factory reset as a client
// runs them through the tree API over the emulated host, with chosen
// adapter commands answered by replies made here. Controller 0 is a KS3
// (legacy road), controller 1 a Veskarn (profile road).
#include <string.h>

#include <string>
#include <vector>

#include "backend/orsa_propertyutil.h"
#include "config/cfg_personality.h"
#include "personality_fixture.h"
#include "profile_fixture.h"
#include "schema/builders.h"

namespace {

class Personality : public ProfileHost {
protected:
    // Answers opcode with a status alone (the payload is not read).
    void status(u8 opcode, u8 st, u8 additional = 0) { answer(opcode, std::vector<u8>(1, 0), st, additional); }
    // The cached CurrentPersonality a client starts from.
    void current(HmNode *ks, const char *text) { set_prop_val(persona(ks), "CurrentPersonality", "%s", text); }
    // A legacy configuration table with functions 0-3 (entries of
    // entry_size bytes), functions 2 and 3 of the given type and state.
    static std::vector<u8> ksTable(size_t entry_size, u8 type2, u8 state2, u8 type3, u8 state3)
    {
        std::vector<u8> t(entry_size == 52 ? ORSA_KS_CONF_SIZE : ORSA_KS_CONF_V1_SIZE, 0);
        const u8 fns[4][3] = {{0, 0, 1}, {1, 0, 1}, {2, type2, state2}, {3, type3, state3}};
        t[0] = 4;
        for (size_t i = 0; i < 4; i++) {
            u8 *e = &t[4 + i * entry_size];
            e[4] = fns[i][0];
            e[6] = fns[i][1];
            e[5] = fns[i][2];
        }
        return t;
    }
    // A Veskarn profile whose functions 2 and 3 are storage functions.
    static ProfileImage storage(u8 type2, u8 type3, u8 state2 = 1, u8 state3 = 1)
    {
        ProfileImage img;
        img.port(0, 1);
        img.pcie(0, 1, 0x1, 1);
        img.pcie(1, 1, 0x1, 1);
        img.pcie(2, state2, 0x3, type2);
        img.pcie(3, state3, 0x5, type3);
        return img;
    }
};

TEST_F(Personality, CurrentPersonalityByTheProfileRoadThenTheLegacyRoad)
{
    ProfileImage nic_only;
    nic_only.port(0, 1);
    nic_only.pcie(0, 1, 0x1, 1);
    ProfileImage mixed = storage(2, 4);
    ProfileImage illegal = storage(2, 3);
    ProfileImage disabled = storage(4, 4, 0, 0);
    struct Case {
        const char *what;
        int controller;  // 0 KS3, 1 Veskarn
        std::vector<u8> profile;
        u8 profile_status, profile_additional;
        std::vector<u8> table;  // answer of 81; empty: not answered here
        const char *want;
    } cases[] = {
        {"profile: iSCSI", 1, storage(2, 2).bytes, 0, 0, {}, "iSCSI"},
        {"profile: the last storage function stands", 1, mixed.bytes, 0, 0, {}, "FCoE"},
        {"profile: no storage function", 1, nic_only.bytes, 0, 0, {}, "NIC"},
        {"profile: disabled storage functions", 1, disabled.bytes, 0, 0, {}, "NIC"},
        {"profile: no such type", 1, illegal.bytes, 0, 0, {}, "Illegal"},
        {"213, legacy table", 0, {}, 2, 30, ksTable(68, 2, 0, 2, 0), "FCoE"},
        {"288, legacy table", 0, ProfileImage().bytes, 0, 0, ksTable(68, 1, 0, 1, 0), "iSCSI"},
        {"288, legacy table disagrees", 0, ProfileImage().bytes, 0, 0, ksTable(68, 1, 0, 0, 1),
         "Unknown"},
        {"213 on a profile-road adapter keeps the value", 1, {}, 2, 30, {}, "sentinel"},
    };
    for (const Case &c : cases) {
        HmNode *ks = ctrl(c.controller);
        current(ks, "sentinel");
        answer(164, c.profile.empty() ? std::vector<u8>(1, 0) : c.profile, c.profile_status, c.profile_additional);
        if (!c.table.empty())
            answer(81, c.table);
        host_->clearLog();
        EXPECT_EQ(ORSA_update_current_personality(ks), 0u) << c.what;
        EXPECT_EQ(cached(persona(ks), "CurrentPersonality"), c.want) << c.what;
        EXPECT_GT(served(164), 0u) << c.what;
        if (!c.table.empty()) {
            ASSERT_EQ(sent(81).size(), 1u) << c.what;
            EXPECT_EQ(sent(81)[0].size(), ORSA_KS_CONF_V1_SIZE) << c.what;
        }
        replies_.clear();
    }

    status(164, 2, 30);
    status(81, 3, 0);
    orsa_reset_last_status();
    EXPECT_EQ(ORSA_update_current_personality(ks3), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_PERSONALITY_GET_FAILED);
}

TEST_F(Personality, SetPersonalityOnTheProfileRoadWritesEveryStorageFunction)
{
    // Function 2 is a storage function with pf_state 0: it is still written.
    answer(164, storage(2, 2, 0, 1));
    status(165, 0);
    current(vsk, "iSCSI");
    host_->clearLog();
    orsa_reset_last_status();
    ASSERT_EQ(act(persona(vsk), "SetPersonality", {"FCoE"}), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_PERSONALITY_CHANGED);
    auto writes = sent(165);
    ASSERT_EQ(writes.size(), 1u);
    const std::vector<u8> &w = writes[0];
    ASSERT_EQ(w.size(), ORSA_PERSONALITY_REQUEST_SIZE);
    const u8 head[8] = {0, 0, 0, 0, 2, 0, 0, 0};
    EXPECT_EQ(0, memcmp(w.data(), head, 8));
    for (u32 i = 0; i < 2; i++) {
        const u8 *r = w.data() + 8 + i * 88;
        EXPECT_EQ(r[0], 80);
        EXPECT_EQ(r[1], 88);
        EXPECT_EQ(r[3], 0x80);
        EXPECT_EQ(r[6], 2 + i);
        EXPECT_EQ(r[13], 1);
        EXPECT_EQ(r[14], 4);
    }
    EXPECT_EQ(w[8 + 2 * 88], 0) << "nothing after the storage functions";

    // The personality already current: written, no reboot notice.
    orsa_reset_last_status();
    current(vsk, "fcoe");
    EXPECT_EQ(act(persona(vsk), "SetPersonality", {"FCoE"}), 0u);
    EXPECT_EQ(last_code(), 0u);
    EXPECT_EQ(sent(165).size(), 2u);
}

TEST_F(Personality, SetPersonalityRefusals)
{
    ProfileImage nic_only;
    nic_only.port(0, 1);
    nic_only.pcie(0, 1, 0x1, 1);
    struct Case {
        const char *what;
        std::vector<u8> profile;
        u8 profile_status;
        u8 write_status, write_additional;
        u32 want;
        bool written;
    } cases[] = {
        {"no storage function", nic_only.bytes, 0, 0, 0, ORSA_STATUS_PERSONALITY_NOT_SUPPORTED, false},
        {"profile read fails", storage(2, 2).bytes, 3, 0, 0, ORSA_STATUS_PROFILE_CONFIG_FAILED, false},
        {"adapter refuses the change", storage(2, 2).bytes, 0, 2, 79, ORSA_STATUS_PERSONALITY_NOT_SUPPORTED, true},
        {"write fails", storage(2, 2).bytes, 0, 3, 0, ORSA_STATUS_SET_PORT_PROTOCOL_FAILED, true},
    };
    for (const Case &c : cases) {
        replies_.clear();
        answer(164, c.profile, c.profile_status, c.profile_status == 3 ? 1 : 0);
        status(165, c.write_status, c.write_additional);
        host_->clearLog();
        orsa_reset_last_status();
        EXPECT_EQ(act(persona(vsk), "SetPersonality", {"iSCSI"}), 1u) << c.what;
        EXPECT_EQ(last_code(), c.want) << c.what;
        EXPECT_EQ(sent(165).size(), c.written ? 1u : 0u) << c.what;
    }
    vm_flag = 1;
    host_->clearLog();
    EXPECT_EQ(act(persona(vsk), "SetPersonality", {"iSCSI"}), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_VF_REFUSED);
    EXPECT_TRUE(host_->log().empty());
    vm_flag = 0;
}

TEST_F(Personality, SetPersonalityOnTheLegacyRoadChangesFunctionsTwoAndThree)
{
    status(164, 2, 30);
    answer(81, ksTable(52, 0, 1, 0, 1));
    current(ks3, "NIC");
    host_->clearLog();
    orsa_reset_last_status();
    ASSERT_EQ(act(persona(ks3), "SetPersonality", {"iSCSI"}), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_PERSONALITY_CHANGED);
    auto writes = sent(82);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], ksTable(52, 1, 0, 1, 0)) << "the table read back with functions 2 and 3 changed";

    // A profile without records (288) is a failed read for a write: the
    // legacy table is not touched.
    answer(164, ProfileImage().bytes);
    host_->clearLog();
    EXPECT_EQ(act(persona(ks3), "SetPersonality", {"FCoE"}), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_PROFILE_CONFIG_FAILED);
    EXPECT_TRUE(sent(81).empty());

    replies_.clear();
    status(164, 2, 30);
    status(81, 3, 0);
    host_->clearLog();
    EXPECT_EQ(act(persona(ks3), "SetPersonality", {"FCoE"}), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_PERSONALITY_SET_FAILED);
    EXPECT_TRUE(sent(82).empty());

    answer(81, ksTable(52, 0, 1, 0, 1));
    status(82, 2, 81);
    EXPECT_EQ(act(persona(ks3), "SetPersonality", {"FCoE"}), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_PERSONALITY_NOT_SUPPORTED);
}

TEST_F(Personality, StartUpFillersInsideAVirtualFunction)
{
    vm_flag = 1;
    host_->clearLog();
    EXPECT_EQ(ORSA_update_current_personality(vsk), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_VF_REFUSED);
    EXPECT_EQ(ORSA_update_available_personalities(vsk), 1u);
    EXPECT_EQ(cached(persona(vsk), "CurrentPersonality"), "N/A");
    EXPECT_EQ(cached(persona(vsk), "AvailablePersonalities"), "N/A");
    u32 rc = 0;
    EXPECT_EQ(get(persona(ks3), "ConfiguredPersonality", &rc), "N/A");
    EXPECT_EQ(rc, 1u);
    EXPECT_TRUE(host_->log().empty());
    vm_flag = 0;
    EXPECT_EQ(ORSA_update_available_personalities(vsk), 0u) << "nothing to fill on a profile-road adapter";
}

TEST_F(Personality, PersonalityTextsTheAdapterCannotGive)
{
    status(113, 3);
    EXPECT_EQ(ORSA_update_available_personalities(ks3), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_AVAILABLE_PERSONALITIES_FAILED);
    status(114, 3);
    u32 rc = 0;
    get(persona(ks3), "ConfiguredPersonality", &rc);
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_CONFIGURED_PERSONALITY_FAILED);
}

TEST_F(Personality, AvailableProtocolsOfAConfiguredFunction)
{
    HmNode *configured = group(vsk, "ProfileManagement/ConfiguredProfile");
    ASSERT_NE(configured, nullptr);
    HmNode *port = initialize_ConfiguredProfile_Port(configured, nullptr, nullptr, nullptr);
    ASSERT_NE(port, nullptr);
    HmNode *fn = initialize_ConfiguredProfile_Port_Function(port, nullptr, nullptr, nullptr);
    ASSERT_NE(fn, nullptr);

    ProfileImage img;
    img.port(0, 1);
    img.pcie(0, 1, 0x1, 1);
    img.pcie(1, 1, 0x6, 2, 0, 0x08);  // iSCSI and FCoE, presentation change
    img.pcie(2, 1, 0x9, 1);           // NIC and RoCE
    answer(164, img);
    struct Case {
        const char *number;
        u32 rc;
        const char *want;
    } cases[] = {
        {"0", 0, "NIC"}, {"0x1", 0, "iSCSI,FCoE,None"}, {"2", 0, "NIC,RoCE"}, {"7", 0, ""},
        {"-1", 1, nullptr}, {"1x", 1, nullptr},
    };
    for (const Case &c : cases) {
        set_prop_val(fn, "FunctionNumber", "%s", c.number);
        host_->clearLog();
        u32 rc = 0;
        std::string got = get(fn, "AvailableProtocols", &rc);
        EXPECT_EQ(rc, c.rc) << c.number;
        if (c.want == nullptr) {
            EXPECT_TRUE(sent(164).empty()) << c.number;
            continue;
        }
        EXPECT_EQ(got, c.want) << c.number;
        auto reads = sent(164);
        ASSERT_EQ(reads.size(), 2u) << c.number;
        EXPECT_EQ(reads[0][1], 0x04) << "the configured profile with the option flag";
        EXPECT_EQ(reads[1][1], 0x00) << "then without it";
    }
    answer(164, img.bytes, 3, 0);
    set_prop_val(fn, "FunctionNumber", "0");
    u32 rc = 0;
    get(fn, "AvailableProtocols", &rc);
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_PROFILE_CONFIG_FAILED);
}

TEST_F(Personality, EraseAnswersTheRebootNoticeOrTheFailure)
{
    HmNode *nic = group(ks3, "NICPhysicalHBA0");
    // Port 0 carries NIC function 0 only, port 2 iSCSI function 2 as well:
    // a port's erase goes to the iSCSI function where the port has one.
    HmNode *port = group(ks3, "PortDiscoveryAndConfiguration2");
    HmNode *nic_port = group(ks3, "PortDiscoveryAndConfiguration0");
    ASSERT_TRUE(nic && port && nic_port);
    ASSERT_EQ(cached(port, "PortNumber"), "2");
    struct Case {
        const char *what;
        HmNode *g;
        const char *action;
        u8 what_byte;
        chardev::Dev dev;
        u8 status;
        u32 rc, code;
    } cases[] = {
        {"NIC erase", nic, "EraseNICConfiguration", 14, chardev::Dev::Nic, 0, 0, ORSA_STATUS_ERASED},
        {"NIC erase, reboot", nic, "EraseNICConfiguration", 14, chardev::Dev::Nic, 44, 0, ORSA_STATUS_DONE_REBOOT_NOW},
        {"NIC erase fails", nic, "EraseNICConfiguration", 14, chardev::Dev::Nic, 66, 149, ORSA_STATUS_ERASE_NIC_FAILED},
        {"port erase", port, "ErasePortandDiscoveryConfiguration", 15, chardev::Dev::Iscsi, 0, 0, ORSA_STATUS_ERASED},
        {"port erase, reboot", port, "ErasePortandDiscoveryConfiguration", 15, chardev::Dev::Iscsi, 44, 0,
         ORSA_STATUS_DONE_REBOOT_NOW},
        {"port erase fails", port, "ErasePortandDiscoveryConfiguration", 15, chardev::Dev::Iscsi, 66, 149,
         ORSA_STATUS_ERASE_PORT_FAILED},
        {"NIC port erase", nic_port, "ErasePortandDiscoveryConfiguration", 15, chardev::Dev::Nic, 0, 0,
         ORSA_STATUS_ERASED},
    };
    for (const Case &c : cases) {
        status(7, c.status);
        host_->clearLog();
        orsa_reset_last_status();
        EXPECT_EQ(act(c.g, c.action), c.rc) << c.what;
        EXPECT_EQ(last_code(), c.code) << c.what;
        auto erases = sent(7);
        ASSERT_EQ(erases.size(), 1u) << c.what;
        const std::vector<u8> want = {3, 0, 0, 0, c.what_byte, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(erases[0], want) << c.what;
        EXPECT_EQ(host_->log().back().dev, c.dev) << c.what;
    }

    status(7, 0);
    vm_flag = 1;
    for (const Case &c : cases) {
        host_->clearLog();
        EXPECT_EQ(act(c.g, c.action), 1u) << c.what;
        EXPECT_EQ(last_code(), ORSA_STATUS_VF_REFUSED) << c.what;
        EXPECT_TRUE(sent(7).empty()) << c.what;
    }
    // The erase other areas call does not look at the virtual function.
    EXPECT_EQ(ORSA_EraseNICConfiguration(nic), 0u);
    EXPECT_EQ(sent(7).size(), 1u);
    vm_flag = 0;
}

TEST_F(Personality, ResetFactoryDefaultsSucceedsOnlyWhenTheAdapterAsksForAReboot)
{
    struct Case {
        const char *what;
        std::vector<std::string> params;
        u8 status;
        u32 rc, code;
        std::vector<u8> payload;  // empty: nothing sent
    } cases[] = {
        {"not given: the default profile", {}, 30, 0, ORSA_STATUS_DONE_REBOOT_NOW, {0, 1, 0, 0}},
        {"profile 7", {"7"}, 30, 0, ORSA_STATUS_DONE_REBOOT_NOW, {7, 0, 0, 0}},
        {"plain success is no reset", {"7"}, 0, 1, ORSA_STATUS_FACTORY_RESET_FAILED, {7, 0, 0, 0}},
        {"failure", {"0"}, 3, 1, ORSA_STATUS_FACTORY_RESET_FAILED, {0, 0, 0, 0}},
        {"256 would name profile 0", {"256"}, 30, 1, ORSA_STATUS_OUT_OF_RANGE, {}},
    };
    for (const Case &c : cases) {
        status(169, c.status);
        host_->clearLog();
        orsa_reset_last_status();
        EXPECT_EQ(act(vsk, "ResetFactoryDefaults", c.params), c.rc) << c.what;
        EXPECT_EQ(last_code(), c.code) << c.what;
        auto resets = sent(169);
        if (c.payload.empty()) {
            EXPECT_TRUE(resets.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(resets.size(), 1u) << c.what;
        EXPECT_EQ(resets[0], c.payload) << c.what;
    }
    host_->clearLog();
    EXPECT_EQ(act(ks3, "ResetFactoryDefaults"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_FACTORY_RESET_UNSUPPORTED);
    EXPECT_TRUE(sent(169).empty());
}

TEST_F(Personality, SwitchTypeIsResetOnlyInTheVirtualNicMode)
{
    OrsaPort at = orsa_controller_port(vsk);
    for (u32 mode : {0x20000u, 0x1FFFFu}) {
        std::vector<u8> config(156, 0);
        memcpy(&config[12], &mode, 4);
        answer(58, config);
        host_->clearLog();
        EXPECT_EQ(ORSA_update_switch_type(vsk, at, 0, 0), 0u);
        auto writes = sent(124);
        if (mode & 0x20000u) {
            ASSERT_EQ(writes.size(), 1u);
            EXPECT_EQ(writes[0], std::vector<u8>(8, 0));
        } else {
            EXPECT_TRUE(writes.empty()) << std::hex << mode;
        }
    }
    status(58, 3);
    host_->clearLog();
    EXPECT_EQ(ORSA_update_switch_type(vsk, at, 0, 0), 0u) << "a failed read is only logged";
    EXPECT_TRUE(sent(124).empty());
}

}  // namespace
