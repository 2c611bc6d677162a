// The library over the default emulated host (controller 0 a KS3,
// controller 1 a Veskarn) with the multichannel commands answered by hand.
#pragma once

#include <string.h>

#include <string>
#include <vector>

#include "backend/orsa_propertyutil.h"
#include "tree/hm_lookup.h"
#include "tree/hm_status.h"
#include "config/cfg_multichannel.h"
#include "profile_fixture.h"

// A channel's values in one line: function, type, link state, MAC, LPVID
// and the two shares.
inline std::string channelText(HmNode *c)
{
    std::string s;
    for (const char *name : {"FunctionNumber", "Type", "LogicalLinkState", "MACAddress", "LPVID", "MinBandWidth",
                             "MaxBandWidth"}) {
        HmNode *p = c != nullptr ? internal_get_node(c, name, HM_KIND_PROPERTY) : nullptr;
        s += (s.empty() ? "" : " ") + std::string(p != nullptr ? HM_PROPERTY(p)->value : "<missing>");
    }
    return s;
}

class McHost : public ProfileHost {
protected:
    static std::vector<u8> u32s(std::initializer_list<std::pair<size_t, u32>> fields, size_t size)
    {
        std::vector<u8> b(size, 0);
        for (auto [at, v] : fields)
            for (int i = 0; i < 4; i++)
                b.at(at + i) = (u8)(v >> (8 * i));
        return b;
    }
    // Capability bits (123) and the firmware's function capabilities (58).
    void capabilities(u32 bits, bool fw_hides = false)
    {
        answer(123, u32s({{0, bits}}, 12));
        answer(58, u32s({{120, fw_hides ? 0x40u : 0u}}, 156));
    }
    // The port group of a controller with a port number.
    static HmNode *port_group(HmNode *ks, const char *number)
    {
        for (HmNode *p = get_first_instance(ks, "PortDiscoveryAndConfiguration"); p != nullptr; p = hm_next_instance(p))
            if (cached(p, "PortNumber") == number)
                return p;
        return nullptr;
    }
    static std::vector<HmNode *> channels(HmNode *port)
    {
        std::vector<HmNode *> out;
        HmNode *cm = port != nullptr ? group(port, "ChannelManagement") : nullptr;
        for (HmNode *c = cm != nullptr ? get_first_instance(cm, "Channel") : nullptr; c != nullptr; c = hm_next_instance(c))
            out.push_back(c);
        return out;
    }
    static u32 rd32(const std::vector<u8> &b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (u32)b[at + 3] << 24; }
    static u32 rd16(const std::vector<u8> &b, size_t at) { return b[at] | b[at + 1] << 8; }
};
