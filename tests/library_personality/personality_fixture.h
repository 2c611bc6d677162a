// What the personality tests share: running an action as a client does.
#pragma once

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "host_fixture.h"

// Runs the action of a group by name; parameters not listed are not given.
inline u32 act(HmNode *g, const char *action, std::vector<std::string> params = {})
{
    u32 tag = 0;
    if (g == nullptr || ORSA_get_node_tag(g->tag, action, &tag, HM_KIND_ACTION) != 0)
        return 0xFFFF;
    HmValueSlot slots[HM_MAX_PARAMS];
    memset(slots, ORSA_PARAM_NOT_GIVEN, sizeof slots);
    for (size_t i = 0; i < params.size() && i < HM_MAX_PARAMS; i++)
        snprintf(slots[i], sizeof slots[i], "%s", params[i].c_str());
    return ORSA_do_action(g->tag, tag, slots, nullptr);
}

// The Personality group of a controller.
inline HmNode *persona(HmNode *ks)
{
    return ks != nullptr ? internal_get_node(ks, "Personality", HM_KIND_GROUP) : nullptr;
}
