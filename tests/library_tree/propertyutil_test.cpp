/* Property utilities: set_prop_val, the plain cache handler, purging a
 * group kind, the physical port of a node, and the exported text helpers. */
#include <string.h>

#include <string>

#include "tree_fixture.h"

namespace {

using PropertyUtil = TreeTest;

TEST_F(PropertyUtil, SetPropValCutsAt255AndNamesMissingProperties)
{
    HmNode *g = b.group(root, "G");
    HmNode *p = b.property(g, "Value", HM_TYPE_STRING, HM_PROP_READONLY, 0, 255);
    std::string longer(300, 'v');
    EXPECT_EQ(set_prop_val(g, "value", "%s", longer.c_str()), 0u);
    EXPECT_EQ(strlen(HM_PROPERTY(p)->value), 255u);
    EXPECT_EQ(set_prop_val(g, "Other", "%d", 5), 1u);
    EXPECT_EQ(set_prop_val(g, "G", "%d", 5), 1u); /* not a property */
    EXPECT_EQ(set_prop_val(g, "Value", "%d-%s", 7, "x"), 0u);
    EXPECT_STREQ(HM_PROPERTY(p)->value, "7-x");
}

TEST_F(PropertyUtil, PlainCacheHandler)
{
    HmNode *g = b.group(root, "G");
    HmNode *p = b.property(g, "Value", HM_TYPE_STRING, HM_PROP_WRITABLE, 0, 255, "", "stored");
    char buf[HM_VALUE_SIZE] = "caller";
    EXPECT_EQ(handle_internal_property(p, buf, 2), 0u); /* other modes do nothing */
    EXPECT_STREQ(buf, "caller");
    EXPECT_STREQ(HM_PROPERTY(p)->value, "stored");
    EXPECT_EQ(handle_internal_property(p, buf, HM_MODE_GET), 0u);
    EXPECT_STREQ(buf, "stored");
    strcpy(buf, "new text");
    EXPECT_EQ(handle_internal_property(p, buf, HM_MODE_SET), 0u);
    EXPECT_STREQ(HM_PROPERTY(p)->value, "new text");
}

TEST_F(PropertyUtil, PurgeDeletesEveryInstanceAndItsRecord)
{
    static u8 sbits[8], cbits[64];
    memset(sbits, 0, sizeof sbits);
    memset(cbits, 0, sizeof cbits);
    HmNode *g = b.group(root, "Target");
    b.property(g, "Keep", HM_TYPE_STRING, HM_PROP_READONLY, 0, 8);
    for (int i = 0; i < 3; i++) {
        HmNode *s = b.instance(g, "Session", sbits, 64);
        HM_GROUP(s)->nhandle = orsa_dzalloc(4);
        HmNode *c = b.instance(s, "Connection", cbits + i, 1);
        HM_GROUP(c)->nhandle = orsa_dzalloc(4);
    }
    EXPECT_EQ(purge_nodes_within(g, "Session"), 0u);
    EXPECT_EQ(get_first_instance(g, "Session"), nullptr);
    EXPECT_EQ(sbits[0], 0);
    EXPECT_EQ(HM_GROUP(g)->first_child, HM_GROUP(g)->last_child); /* only Keep is left */
    EXPECT_EQ(purge_nodes_within(g, "Session"), 0u);              /* nothing to do */
    /* TearDown checks that every record came back */
}

/* A linked instance stops the purge and keeps its record: freeing the record
 * first would leave the surviving group pointing at freed memory. */
TEST_F(PropertyUtil, PurgeStopsAtALinkedInstanceKeepingItsRecord)
{
    static u8 bits[1];
    memset(bits, 0, sizeof bits);
    HmNode *g = b.group(root, "Profiles");
    HmNode *p0 = b.instance(g, "Profile", bits, 8);
    HmNode *p1 = b.instance(g, "Profile", bits, 8);
    HmNode *p2 = b.instance(g, "Profile", bits, 8);
    u32 *record = (u32 *)orsa_dzalloc(sizeof(u32));
    *record = 0x5a5a5a5a;
    HM_GROUP(p1)->nhandle = record;
    HmNode *link = create_link(root, "Held", p1, nullptr, nullptr, nullptr);
    ASSERT_TRUE(p0 && p1 && p2 && link);

    EXPECT_EQ(purge_nodes_within(g, "Profile"), ORSA_STATUS_NODE_LINKED);
    EXPECT_EQ(get_first_instance(g, "Profile"), p1);
    EXPECT_EQ(HM_GROUP(p1)->nhandle, record);
    EXPECT_EQ(*record, 0x5a5a5a5au);
    EXPECT_EQ(hm_instance_info(hm_instance_info(p1)->next_instance)->number, 2); /* p2 untouched */
    EXPECT_EQ(delete_node(link), 0u);
    EXPECT_EQ(purge_nodes_within(g, "Profile"), 0u);
    EXPECT_EQ(bits[0], 0);
}

TEST_F(PropertyUtil, PhysicalPortOfANode)
{
    static u8 cbits[2], pbits[1], nbits[4];
    memset(cbits, 0, sizeof cbits);
    memset(pbits, 0, sizeof pbits);
    memset(nbits, 0, sizeof nbits);
    HmNode *ctl = b.instance(root, "Kalderstone", cbits, 16);
    HmNode *port = b.instance(ctl, "PortDiscoveryAndConfiguration", pbits, 4);
    b.instance(port, "PortDiscoveryAndConfiguration", pbits, 4); /* a nested lookalike */
    b.property(port, "PortNumber", HM_TYPE_INTEGER, HM_PROP_READONLY, 0, 3, "", "2");
    HmNode *dcbx = b.group(port, "DCBX");
    HmNode *deep = b.property(dcbx, "Mode", HM_TYPE_STRING, HM_PROP_READONLY, 0, 8);
    HmNode *nic = b.instance(ctl, "NICPhysicalHBA", nbits, 32);
    HmNode *noport = b.group(nic, "PCI");

    EXPECT_EQ(get_phba_port_number(deep), 2);
    EXPECT_EQ(get_phba_port_number(port), 2);
    EXPECT_EQ(get_phba_port_number(ctl), 0);   /* reaches ROOT */
    EXPECT_EQ(get_phba_port_number(noport), 0); /* a physical HBA without PortNumber */
    EXPECT_EQ(get_phba_port_number(&ROOT), 0);
}

TEST_F(PropertyUtil, NicCountOfAPort)
{
    static u8 cbits[2], nbits[4];
    memset(cbits, 0, sizeof cbits);
    memset(nbits, 0, sizeof nbits);
    HmNode *ctl = b.instance(root, "Kalderstone", cbits, 16);
    const char *ports[] = {"0", "1", "0"};
    HmNode *first = nullptr;
    for (const char *p : ports) {
        HmNode *n = b.instance(ctl, "NICPhysicalHBA", nbits, 32);
        b.property(n, "PortNumber", HM_TYPE_INTEGER, HM_PROP_READONLY, 0, 3, "", p);
        if (first == nullptr)
            first = n;
    }
    EXPECT_EQ(get_nic_count(first), 2u);
    EXPECT_EQ(get_nic_count(ctl), 1u); /* no PortNumber of its own */
    EXPECT_EQ(get_nic_count(nullptr), 1u);
}

TEST(TextHelpers, WordCountFieldsAndAddresses)
{
    struct {
        const char *text, *needle;
        u32 count;
    } words[] = {{"aaaa", "aa", 2}, {"aaa", "aa", 1}, {"abcabc", "bc", 2}, {"abc", "x", 0}, {nullptr, "a", 0}};
    for (auto &w : words)
        EXPECT_EQ(word_count(w.text, w.needle), w.count) << (w.text ? w.text : "(null)");

    u8 field[8];
    memset(field, 'z', sizeof field);
    EXPECT_EQ(get_field((const u8 *)",abc", ',', field, 8), 1u);
    EXPECT_EQ(field[0], 0);
    EXPECT_EQ(get_field((const u8 *)"abc,def", ',', field, 8), 0u);
    EXPECT_STREQ((char *)field, "abc");
    EXPECT_EQ(get_field((const u8 *)"", ',', field, 8), 0u);
    EXPECT_EQ(field[0], 0);
    /* a field that fills up is cut and still terminated */
    u8 small[5];
    memset(small, 'z', sizeof small);
    EXPECT_EQ(get_field((const u8 *)"abcdefgh", ',', small, 4), 0u);
    EXPECT_STREQ((char *)small, "abc");
    EXPECT_EQ(small[4], 'z');

    /* the text is split at every dot, so an empty part reads as 0, as the
     * address validation reads it; a missing part stays 0 */
    struct {
        const char *text;
        u32 octets[4];
    } addresses[] = {
        {"10.20.30.40", {10, 20, 30, 40}}, {"10.20", {10, 20, 0, 0}}, {"1..2.3", {1, 0, 2, 3}},
        {".1.2.3", {0, 1, 2, 3}},          {"", {0, 0, 0, 0}},         {"1.2.3.4.5", {1, 2, 3, 4}},
    };
    for (auto &a : addresses) {
        char text[32];
        strcpy(text, a.text);
        u32 octets[4] = {9, 9, 9, 9};
        EXPECT_EQ(orsa_getip(text, octets), 0u) << a.text;
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(octets[i], a.octets[i]) << a.text << " octet " << i;
    }
}

TEST(TextHelpers, Swap16SwapsWholeWordsOnly)
{
    u32 words[3] = {0x11112222, 0x33334444, 0x55556666};
    swap16_buffer(words, 6); /* one whole word and a part: the part is left alone */
    EXPECT_EQ(words[0], 0x22221111u);
    EXPECT_EQ(words[1], 0x33334444u);
    swap16_buffer(words, 12);
    EXPECT_EQ(words[0], 0x11112222u);
    EXPECT_EQ(words[1], 0x44443333u);
    EXPECT_EQ(words[2], 0x66665555u);
}

} // namespace
