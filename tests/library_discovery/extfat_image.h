// Builds extended-log capability images for the tests.
#pragma once

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

struct ExtFatMode {
    uint8_t type;
    uint16_t port_mask;
    uint32_t level;
    uint64_t function_mask;
};

struct ExtFatModuleSpec {
    std::string name;
    uint32_t id;
    uint32_t mode_count;            // as reported, may differ from modes.size()
    std::vector<ExtFatMode> modes;  // entries actually laid out
};

inline void put32(std::vector<uint8_t> &b, size_t off, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[off + i] = (uint8_t)(v >> (8 * i));
}

inline std::vector<uint8_t> extfat_image(uint32_t supported, int32_t modules_reported,
                                         const std::vector<ExtFatModuleSpec> &mods, uint8_t functions = 8,
                                         uint8_t ports = 4)
{
    std::vector<uint8_t> b(20, 0);
    put32(b, 0, 512);
    put32(b, 4, 64);
    b[8] = 1;
    b[9] = functions;
    b[10] = ports;
    put32(b, 12, supported);
    put32(b, 16, (uint32_t)modules_reported);
    for (const ExtFatModuleSpec &m : mods) {
        size_t at = b.size();
        b.resize(at + 40 + 16 * m.modes.size(), 0);
        memcpy(&b[at], m.name.data(), m.name.size() < 32 ? m.name.size() : 32);
        put32(b, at + 32, m.id);
        put32(b, at + 36, m.mode_count);
        for (size_t j = 0; j < m.modes.size(); ++j) {
            size_t e = at + 40 + 16 * j;
            b[e] = m.modes[j].type;
            b[e + 2] = (uint8_t)m.modes[j].port_mask;
            b[e + 3] = (uint8_t)(m.modes[j].port_mask >> 8);
            put32(b, e + 4, m.modes[j].level);
            put32(b, e + 8, (uint32_t)m.modes[j].function_mask);
            put32(b, e + 12, (uint32_t)(m.modes[j].function_mask >> 32));
        }
    }
    return b;
}
