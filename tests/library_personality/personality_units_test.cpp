// The personality decoders over crafted adapter replies: the legacy
// configuration tables, the Pivard common profile configuration, the
// profile records of the available protocols, and the request payloads.
// Replies sit in heap buffers of their exact size, so a walk that leaves
// one shows under the address sanitizer.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "config/cfg_personality.h"
#include "profile_fixture.h"

namespace {

// A legacy configuration table: a u32 count, then 16 entries.
struct KsTable {
    explicit KsTable(size_t entry_size)
        : entry(entry_size), bytes(entry_size == 52 ? ORSA_KS_CONF_SIZE : ORSA_KS_CONF_V1_SIZE)
    {
    }
    // Appends a function entry (kind 0 unless told) and counts it.
    KsTable &fn(u8 function, u8 type, u8 state, u8 kind = 0)
    {
        u8 *e = bytes.data() + 4 + n * entry;
        e[0] = kind;
        e[4] = function;
        e[5] = state;
        e[6] = type;
        ++n;
        setCount(n);
        return *this;
    }
    void setCount(u32 count) { memcpy(bytes.data(), &count, 4); }
    const char *personality() { return personality::from_ks_table(bytes.data(), bytes.size(), entry); }
    u8 at(u32 index, size_t field) const { return bytes[4 + index * entry + field]; }

    size_t entry;
    std::vector<u8> bytes;
    u32 n = 0;
};

TEST(PersonalityUnits, LegacyTableGivesThePersonalityOfFunctionsTwoAndThree)
{
    struct Case {
        const char *what;
        u8 type2, state2, type3, state3;
        const char *want;
    } cases[] = {
        {"both NIC", 0, 1, 0, 1, "NIC"},
        {"NIC type whatever the state", 0, 7, 0, 7, "NIC"},
        {"iSCSI", 1, 0, 1, 0, "iSCSI"},
        {"FCoE", 2, 0, 2, 0, "FCoE"},
        {"storage type left enabled as NIC", 1, 1, 1, 1, "NIC"},
        {"storage type in another state", 2, 2, 2, 2, "Illegal"},
        {"no such type", 3, 0, 3, 0, "Illegal"},
        {"types disagree", 1, 0, 2, 0, "Unknown"},
        {"states disagree", 1, 0, 1, 1, "Unknown"},
    };
    for (size_t entry : {size_t{52}, size_t{68}}) {
        for (const Case &c : cases) {
            KsTable t(entry);
            t.fn(0, 0, 1).fn(2, c.type2, c.state2).fn(1, 0, 1).fn(3, c.type3, c.state3);
            EXPECT_STREQ(t.personality(), c.want) << c.what << ", entries of " << entry;
        }
    }
}

TEST(PersonalityUnits, LegacyTableTakesTheLastEntryAndEntryZeroForAMissingFunction)
{
    KsTable last(68);
    last.fn(2, 0, 1).fn(3, 1, 0).fn(2, 1, 0);
    EXPECT_STREQ(last.personality(), "iSCSI") << "the later entry of function 2 counts";

    KsTable other_kind(68);
    other_kind.fn(2, 2, 0).fn(3, 2, 0).fn(2, 0, 1, /*kind*/ 1);
    EXPECT_STREQ(other_kind.personality(), "FCoE") << "an entry of another kind is no function entry";

    KsTable missing(68);
    missing.fn(0, 2, 0).fn(2, 2, 0);
    EXPECT_STREQ(missing.personality(), "FCoE") << "function 3 has no entry: entry 0 stands in";

    KsTable empty(68);
    EXPECT_STREQ(empty.personality(), "NIC") << "a zeroed table is a NIC table";
}

TEST(PersonalityUnits, LegacyTableCountIsCappedAtTheSixteenEntriesItHolds)
{
    // The adapter names 40 entries; reading them would leave the table.
    KsTable t(68);
    for (int i = 0; i < 16; i++)
        t.fn(static_cast<u8>(i < 14 ? 0 : i - 12), 1, 0);  // entries 14, 15: functions 2 and 3
    t.setCount(40);
    EXPECT_STREQ(t.personality(), "iSCSI");
    t.setCount(0xFFFFFFFFu);
    EXPECT_STREQ(t.personality(), "iSCSI");

    KsTable w(52);
    for (int i = 0; i < 16; i++)
        w.fn(static_cast<u8>(i < 14 ? 0 : i - 12), 0, 1);
    w.setCount(0xFFFFFFFFu);
    EXPECT_EQ(personality::set_in_ks_table(w.bytes.data(), w.bytes.size(), 52, "FCoE"), 2u);
}

TEST(PersonalityUnits, LegacyWriteChangesOnlyFunctionsTwoAndThree)
{
    struct Case {
        const char *name;
        u8 type, state;  // what functions 2 and 3 carry afterwards (state 1 before)
    } cases[] = {
        {"NIC", 0, 1}, {"iscsi", 1, 0}, {"FCoE", 2, 0},
    };
    for (const Case &c : cases) {
        KsTable t(52);
        t.fn(0, 0, 1).fn(2, 2, 1).fn(1, 0, 1).fn(3, 2, 1).fn(2, 2, 1, /*kind*/ 1);
        std::vector<u8> before = t.bytes;
        EXPECT_EQ(personality::set_in_ks_table(t.bytes.data(), t.bytes.size(), 52, c.name), 2u) << c.name;
        for (u32 i : {1u, 3u}) {
            EXPECT_EQ(t.at(i, 6), c.type) << c.name << " entry " << i;
            EXPECT_EQ(t.at(i, 5), c.state) << c.name << " entry " << i;
        }
        for (u32 i : {0u, 2u, 4u})
            EXPECT_EQ(0, memcmp(t.bytes.data() + 4 + i * 52, before.data() + 4 + i * 52, 52)) << c.name << " entry " << i;
    }
    KsTable t(52);
    t.fn(2, 0, 1);
    EXPECT_EQ(personality::set_in_ks_table(t.bytes.data(), t.bytes.size(), 52, "RoCE"), 0u);
}

// A Pivard common profile configuration of its exact size.
struct Common {
    Common() : config(new CommonProfileConfig()) {}
    ~Common() { delete config; }
    Common &fn(u16 pf, u8 type, u8 state, u8 kind = 64)
    {
        common_profile_entry &e = config->entries[config->entry_count++];
        e.kind = kind;
        e.pf = pf;
        e.function_type = type;
        e.function_state = state;
        return *this;
    }
    const char *personality() const { return personality::from_common_profile(config); }
    CommonProfileConfig *config;
};

TEST(PersonalityUnits, CommonProfileGivesThePersonalityOfFunctionsTwoAndThree)
{
    struct Case {
        const char *what;
        u8 type2, state2, type3, state3;
        const char *want;
    } cases[] = {
        {"FCoE enabled", 4, 1, 4, 1, "FCoE"},
        {"NIC enabled", 1, 1, 1, 1, "NIC"},
        {"FCoE disabled", 4, 0, 4, 0, "NIC"},
        {"FCoE in another state", 4, 2, 4, 2, "Illegal"},
        {"no such type", 2, 1, 2, 1, "Illegal"},
        {"types disagree", 1, 1, 4, 1, "Unknown"},
        {"states disagree", 4, 1, 4, 0, "Unknown"},
    };
    for (const Case &c : cases) {
        Common p;
        p.fn(0, 1, 1).fn(2, c.type2, c.state2).fn(3, c.type3, c.state3).fn(2, 4, 1, /*kind*/ 65);
        EXPECT_STREQ(p.personality(), c.want) << c.what;
    }
    Common high_bits;
    high_bits.fn(0x402, 4, 1).fn(0xC03, 4, 1);
    EXPECT_STREQ(high_bits.personality(), "FCoE") << "only bits 0-9 name the function";
}

TEST(PersonalityUnits, CommonProfileCountBeyondTheBufferIsCappedAndAboveTheLimitIsNotAvailable)
{
    Common p;
    for (int i = 0; i < 254; i++)
        p.fn(0, 1, 1);
    p.fn(2, 4, 1).fn(3, 4, 1);  // entries 254 and 255, the last the buffer holds
    for (u32 count : {256u, 257u, 300u, 512u}) {
        p.config->entry_count = count;
        EXPECT_STREQ(p.personality(), "FCoE") << "count " << count;
    }
    for (u32 count : {513u, 0xFFFFFFFFu}) {
        p.config->entry_count = count;
        EXPECT_STREQ(p.personality(), "N/A") << "count " << count;
    }
}

std::string protocols(const ProfileImage &image, u32 pf)
{
    char out[HM_VALUE_SIZE];
    personality::protocols_of(reinterpret_cast<const ProfileConfig *>(image.bytes.data()), pf, out);
    return out;
}

bool presentation(const ProfileImage &image, u32 pf)
{
    return personality::presentation_changes(reinterpret_cast<const ProfileConfig *>(image.bytes.data()), pf);
}

TEST(PersonalityUnits, AvailableProtocolsFollowTheRolesOfTheFunctionRecord)
{
    ProfileImage prof;
    prof.port(0, 1);
    prof.pcie(0, 1, 0x1);
    prof.pcie(1, 1, 0x6);
    prof.pcie(0x205, 1, 0xF)[7] |= 0xFC;  // bits 2-7 of byte 7 belong to other fields
    prof.pcie(3, 1, 0x0);
    prof.function(ORSA_RES_NIC_FUNCTION, 4, 0);  // a NIC record names function 4, no PCIe record does
    struct Case {
        u32 pf;
        const char *want;
    } cases[] = {
        {0, "NIC"}, {1, "iSCSI,FCoE"}, {0x205, "NIC,iSCSI,FCoE,RoCE"}, {5, ""}, {3, ""}, {4, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(protocols(prof, c.pf), c.want) << "function " << c.pf;
}

TEST(PersonalityUnits, PresentationChangeIsBitThreeOfTheFunctionRecord)
{
    ProfileImage prof;
    prof.pcie(0, 1, 0x1, 0, 0, 0x08);
    prof.pcie(1, 1, 0x1, 0, 0, 0x10);
    prof.pcie(2, 1, 0x1, 0, 0, 0xFF);
    EXPECT_TRUE(presentation(prof, 0));
    EXPECT_FALSE(presentation(prof, 1)) << "bit 4 is the SR-IOV change";
    EXPECT_TRUE(presentation(prof, 2));
    EXPECT_FALSE(presentation(prof, 3)) << "no record";
}

TEST(PersonalityUnits, ProtocolsOfAProfileWithAZeroLengthOrAnEndlessCount)
{
    // A zero-length record before the function's: the look-up stops there
    // instead of reading the same record for ever.
    ProfileImage zero;
    zero.pcie(0, 1, 0x1);
    zero.add(ORSA_RES_PORT, 0);
    zero.pcie(1, 1, 0x2);
    zero.count(0xFFFF);
    EXPECT_EQ(protocols(zero, 0), "NIC");
    EXPECT_EQ(protocols(zero, 1), "");

    // A count of 65535 over a buffer full of records: the look-up ends with
    // the buffer.
    ProfileImage full;
    for (u32 pf = 0; full.end + ORSA_RES_DESC_LEN <= ORSA_PROFILE_CONFIG_SIZE; pf++)
        full.pcie(pf, 1, 0x2);
    full.count(0xFFFF);
    EXPECT_EQ(protocols(full, 256), "iSCSI") << "the last record that fits";
    EXPECT_EQ(protocols(full, 257), "");
}

TEST(PersonalityUnits, ProfileRequestNamesEveryStorageFunction)
{
    const u32 functions[] = {2, 0x205};
    std::vector<u8> request(ORSA_PERSONALITY_REQUEST_SIZE, 0xEE);
    ASSERT_EQ(personality::build_profile_request(request.data(), request.size(), 2, functions, "fcoe"), 8u + 2 * 88);
    const u8 head[8] = {0, 0, 0, 0, 2, 0, 0, 0};
    EXPECT_EQ(0, memcmp(request.data(), head, 8));
    for (int i = 0; i < 2; i++) {
        const u8 *r = request.data() + 8 + i * 88;
        std::vector<u8> want(88, 0);
        want[0] = 80;
        want[1] = 88;
        want[3] = 0x80;
        want[6] = static_cast<u8>(functions[i]);
        want[7] = static_cast<u8>(functions[i] >> 8);
        want[13] = 1;
        want[14] = 4;
        EXPECT_EQ(std::vector<u8>(r, r + 88), want) << "record " << i;
    }
    EXPECT_EQ(std::vector<u8>(request.begin() + 8 + 2 * 88, request.end()),
              std::vector<u8>(request.size() - 8 - 2 * 88, 0));

    struct Case {
        const char *name;
        u8 code;
    } names[] = {{"NIC", 1}, {"iSCSI", 2}, {"FCoE", 4}, {"RoCE", 0}};
    for (const Case &c : names) {
        ASSERT_NE(personality::build_profile_request(request.data(), request.size(), 1, functions, c.name), 0u);
        EXPECT_EQ(request[8 + 14], c.code) << c.name;
    }
    EXPECT_EQ(personality::build_profile_request(request.data(), request.size(), 0, functions, "NIC"), 0u);
    std::vector<u32> many(ORSA_PERSONALITY_MAX_FUNCTIONS + 1, 2);
    EXPECT_EQ(personality::build_profile_request(request.data(), request.size(), ORSA_PERSONALITY_MAX_FUNCTIONS,
                                                 many.data(), "NIC"),
              ORSA_PERSONALITY_REQUEST_SIZE)
        << "257 records fill the request exactly";
    EXPECT_EQ(personality::build_profile_request(request.data(), request.size(), ORSA_PERSONALITY_MAX_FUNCTIONS + 1,
                                                 many.data(), "NIC"),
              0u);
}

TEST(PersonalityUnits, ErasePayloadsAndFactoryResetPayloads)
{
    u8 erase[20];
    personality::erase_payload(erase, 14);
    const u8 nic[20] = {3, 0, 0, 0, 14};
    EXPECT_EQ(0, memcmp(erase, nic, 20));
    personality::erase_payload(erase, 15);
    const u8 port[20] = {3, 0, 0, 0, 15};
    EXPECT_EQ(0, memcmp(erase, port, 20));

    struct Case {
        std::string text;
        u32 rc;
        u8 byte0, byte1;
    } cases[] = {
        {"", 0, 0, 1},          // no profile named: the adapter's default
        {"0", 0, 0, 0},         // the active profile
        {"7", 0, 7, 0},
        {"255", 0, 255, 0},
        {"\xFF", 0, 0, 0},      // a parameter marked not given
        {"256", 1, 0, 0},       // would travel as profile 0
        {"-1", 1, 0, 0},
        {"7x", 1, 0, 0},
    };
    for (const Case &c : cases) {
        u8 payload[4] = {9, 9, 9, 9};
        EXPECT_EQ(personality::factory_reset_payload(c.text.c_str(), payload), c.rc) << c.text;
        if (c.rc == 0) {
            const u8 want[4] = {c.byte0, c.byte1, 0, 0};
            EXPECT_EQ(0, memcmp(payload, want, 4)) << c.text;
        }
    }
}

}  // namespace
