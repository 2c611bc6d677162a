// Per-function firmware state (internal to the engine and its handlers).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "fw_engine.h"

namespace adapter {

struct Engine::FnState {
  bool initialised = false;
  bool intr_enabled = false;
  bool ue_recovery = false;
  bool advanced_mode = false;                        // 1/103 granted capability 0x4
  uint32_t emi = 0;
  std::vector<uint32_t> stats;                       // the statistics block, in words
  std::vector<uint8_t> vpd;                          // empty: built from the configuration
  std::map<uint8_t, uint32_t> privileges;            // by domain
  std::map<uint8_t, uint16_t> pvid;                  // by domain (HSW config)
  std::map<uint8_t, uint32_t> qos;                   // by domain
  std::map<uint8_t, uint32_t> logical_link;          // by domain
  std::map<uint8_t, bool> vf_enabled;                // by domain
  std::map<uint8_t, std::vector<std::array<uint8_t, 6>>> mac_lists;  // by domain
  std::array<uint8_t, 6> wol_mac{};
  uint8_t wol_cap = 0x81;                            // bit 7: wake-up armed
  uint16_t vxlan_port = 0;                           // from a port descriptor (1/165)
  bool tunnel_if_set = false;
  uint32_t tunnel_if = 0;
  ResourceLimits limits;                             // as the queries report them
  ResourceLimits vf_limits;                          // the share of each VF
};

}  // namespace adapter
