// Handler names in the schema's tables that are still bound to a stand-in,
// and what the stand-ins answer. When a handler lands, its name leaves the
// list below; a name misspelt in a table (or one the registry forgot) stays
// bound to a stand-in and makes the list test fail.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <string>

#include "schema/kind_table.h"
#include "tree/hm_engine.h"

namespace {

// Every name still bound to a stand-in, whatever kind names it.
const char *const kStandInNames[] = {
    // action handlers
    "do_AddARPTableEntry",
    "do_AddRouteTableEntry",
    "do_AddSendTargetPortal",
    "do_ConfigureCHAP",
    "do_ConfigureiSNSServer",
    "do_DeleteARPTableEntry",
    "do_DeleteCHAP",
    "do_DeleteRouteTableEntry",
    "do_DeleteSendTargetPortal",
    "do_DeleteiSNSServer",
    "do_DiscoverTargets",
    "do_DiscoveryiSNSThruDHCP",
    "do_EraseAllConfiguration",
    "do_EraseConfiguration",
    "do_RefreshARPTableEntry",
    "do_RefreshAvailableTargets",
    "do_RefreshRouteTableEntry",
    // group refresh handlers
    "group_Discovery",
    "group_iSNS",
    // property handlers
    "handle_NodeAttr_properties",
    "handle_SsnAttr_properties",
    "handle_discoveryparams",
    "handle_intrInstStat_properties",
    "handle_intrLoginStat_properties",
};

TEST(StandIns, ExactlyTheseNamesAreStillBoundToAStandIn)
{
    std::set<std::string> want(std::begin(kStandInNames), std::end(kStandInNames));
    ASSERT_EQ(want.size(), std::size(kStandInNames)) << "a name is listed twice";
    std::set<std::string> got;
    for (const char *name : schema::schema_standin_names())
        EXPECT_TRUE(got.insert(name).second) << "reported twice: " << name;
    for (const std::string &n : got)
        EXPECT_EQ(want.count(n), 1u) << "bound to a stand-in but not listed (misspelt or unregistered?): " << n;
    for (const std::string &n : want)
        EXPECT_EQ(got.count(n), 1u) << "listed but not bound to a stand-in (landed? drop it here): " << n;
}

TEST(StandIns, AnswerNotSupportedOnReadSetActionAndRefresh)
{
    HmProperty body = {};
    strcpy(body.value, "Disabled");
    HmNode prop = {};
    prop.kind = HM_KIND_PROPERTY;
    prop.body = &body;
    HmNode group = {};
    group.kind = HM_KIND_GROUP;
    HmValueSlot params[HM_MAX_PARAMS] = {};

    struct Case {
        const char *what;
        u32 (*call)(HmNode *prop, HmNode *group, char *buffer, HmValueSlot *params);
        const char *buffer_after;  // what a client finds in its buffer
    } cases[] = {
        {"read", [](HmNode *p, HmNode *, char *b, HmValueSlot *) { return schema::schema_unbound_property(p, b, HM_MODE_GET); },
         "Disabled"},
        {"set", [](HmNode *p, HmNode *, char *b, HmValueSlot *) { return schema::schema_unbound_property(p, b, HM_MODE_SET); },
         "Enabled"},
        {"action", [](HmNode *, HmNode *g, char *, HmValueSlot *v) { return schema::schema_unbound_action(g, nullptr, v); },
         "Enabled"},
        {"refresh", [](HmNode *, HmNode *g, char *, HmValueSlot *) { return schema::schema_unbound_group(g); }, "Enabled"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        char buffer[HM_VALUE_SIZE] = "Enabled";
        orsa_reset_last_status();
        EXPECT_EQ(c.call(&prop, &group, buffer, params), static_cast<u32>(ORSA_STATUS_NOT_SUPPORTED));
        EXPECT_EQ(orsa_last_status_code, static_cast<u32>(ORSA_STATUS_NOT_SUPPORTED));
        EXPECT_STREQ(orsa_last_status_string, "This operation is not supported on this controller.");
        EXPECT_STREQ(buffer, c.buffer_after);
        EXPECT_STREQ(body.value, "Disabled") << "a refused write stores nothing";
    }
}

}  // namespace
