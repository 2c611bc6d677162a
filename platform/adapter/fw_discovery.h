// What the adapter firmware answers to the management library's identity
// queries: controller and additional attributes, OEM parameters, VPD and FRU
// VPD, factory MAC addresses, boot settings, the flexible vendor name, the
// management-suite flag, the controller state and the extended firmware log
// capabilities; setResetNeeded() sets the reset-needed flag of the profile
// store (fw_profile.h), which answers 1/84.
//
// Usage
//   adapter::Engine fw(cfg);
//   adapter::registerDiscoveryHandlers(fw);          // after the driver's handlers
//   adapter::setExtFatImage(fw, image);               // tests shape the replies
//   const auto* sent = fw.lastRequest(1, 126);        // the image the library sent back
//
// The library reaches these commands through the character-device carrier
// (Carrier::Ioctl); where a command shares its opcode with one the driver
// sends, the other carriers still get the driver's command.
//
// Every reply has a default derived from the generation; the setters below
// replace it. The data lives in the engine's named objects under "/emu/lib/",
// so it goes away with the engine.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "fw_engine.h"

namespace adapter {

void registerDiscoveryHandlers(Engine& fw);

// The capability report of the extended firmware log (reply payload of 1/125).
std::vector<uint8_t> defaultExtFatImage(Gen g);
void setExtFatImage(Engine& fw, std::vector<uint8_t> image);
std::vector<uint8_t> extFatImage(Engine& fw);

void setAdditionalAttributes(Engine& fw, std::vector<uint8_t> bytes);   // 612 bytes
std::vector<uint8_t> additionalAttributes(Engine& fw);
void setOemParams(Engine& fw, std::vector<uint8_t> bytes);              // 44 bytes
void setFruVpd(Engine& fw, std::vector<uint8_t> bytes);                 // read at any offset
void setBootConfig(Engine& fw, unsigned fn, std::array<uint8_t, 8> cfg);
std::array<uint8_t, 8> bootConfig(Engine& fw, unsigned fn);
void setExpansionRomWord(Engine& fw, uint32_t word);
void setFfvName(Engine& fw, const std::string& name);
std::string ffvName(Engine& fw);
// -1: the adapter does not know the query; 0/1 the flag.
void setOneView(Engine& fw, int flag);
void setResetNeeded(Engine& fw, bool needed);
void setControllerState(Engine& fw, uint8_t state);   // 0 alive, 1 dead
void setCapabilityBits(Engine& fw, uint32_t bits);

}  // namespace adapter
