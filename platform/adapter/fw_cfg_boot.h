// What the firmware keeps of a function's boot and sideband settings: the
// NC-SI attributes of the adapter (1/86 read, 1/87 write of the user block),
// the boot configuration per PCI function (1/66, 1/67), the OEM execution
// configuration per PCI function (21/4: semi-volatile MAC and network-boot
// VLAN) and the parameters of each virtual function (MAC, VLAN, transmit
// rate, link state) that the NIC driver's VF table shows.
//
// Usage
//   adapter::Engine fw(cfg);                       // the constructor registers the handlers
//   adapter::setNcsiAttributes(fw, block);         // 72 bytes as 1/86 answers them
//   adapter::oemExecConfig(fw, 0)[14];             // the VLAN priority function 0 keeps
//   adapter::setVfParams(fw, 0, 3, {mac, 10, 100, 1});
//   adapter::vfParams(fw, 0, 3).vlan;
// Everything here lives in the profile store (fw_profile.h) and goes to the
// flash file with it; the setters write the file like a command would.
//
// Formats (payload offsets):
//   1/86 (72 bytes): 0 NC-SI state (1 enabled), 1 handshake status, 8-39 the
//     factory block, 40-71 the user block; within a block 4 port swap,
//     5-10 port 0 wake-on-LAN MAC, 11 port 0 enable, 12-17 port 1 MAC,
//     18 port 1 enable, 20-21 management VLAN id.
//   1/87 (32 bytes): a new user block; refused (status 1) while NC-SI is off.
//   21/4 (48 bytes, one opcode and length for both directions): 0 bit 0 MAC
//     valid, bit 1 VLAN valid; 3 bit 7; 4-9 semi-volatile MAC; 12-13 VLAN id;
//     14 VLAN priority; 15 bit 7 VLAN set.
//   1/32 controller attributes: the NC-SI version from 80 (KS2 five u16,
//     KS3 a NUL-terminated text).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace adapter {

class Engine;
struct Cmd;

constexpr size_t kNcsiBytes = 72, kNcsiBlock = 32, kNcsiStatic = 8, kNcsiDynamic = 40;
constexpr size_t kOemExecBytes = 48;
constexpr size_t kBootBytes = 8;

struct VfParams {
  std::array<uint8_t, 6> mac{};
  uint16_t vlan = 0;
  uint16_t rate = 1000;   // 10 Mb/s units
  uint8_t link = 1;       // 0 down
};

struct CfgBootStore {
  bool ncsi_kept = false;   // false: the generation's factory block
  std::array<uint8_t, kNcsiBytes> ncsi{};
  std::map<unsigned, std::array<uint8_t, kBootBytes>> boot;          // by PCI function
  std::map<unsigned, std::array<uint8_t, kOemExecBytes>> oem_exec;   // by PCI function
  std::map<std::pair<unsigned, unsigned>, VfParams> vfs;             // (PCI function, VF)
};

// Registers 1/86, 1/87 and 21/4 (the Engine constructor calls it).
void registerCfgBootHandlers(Engine& fw);
// Writes the NC-SI version into a controller attributes answer.
void writeNcsiVersion(Engine& fw, Cmd& c);

std::array<uint8_t, kNcsiBytes> ncsiAttributes(Engine& fw);
void setNcsiAttributes(Engine& fw, const std::array<uint8_t, kNcsiBytes>& block);
std::array<uint8_t, kOemExecBytes> oemExecConfig(Engine& fw, unsigned fn);
void setOemExecConfig(Engine& fw, unsigned fn, const std::array<uint8_t, kOemExecBytes>& cfg);
std::array<uint8_t, kBootBytes> keptBootConfig(Engine& fw, unsigned fn);
void keepBootConfig(Engine& fw, unsigned fn, const std::array<uint8_t, kBootBytes>& cfg);
// A VF nothing was set for shows the function's address with the VF number
// in its last byte, VLAN 0, 10 Gb/s and link up.
VfParams vfParams(Engine& fw, unsigned fn, unsigned vf);
void setVfParams(Engine& fw, unsigned fn, unsigned vf, const VfParams& p);

// The flash file section of this store (fw_flash.cpp): little-endian,
//   u8 NC-SI kept, 72 bytes;
//   u16 count, each u16 PCI function + 8 bytes (boot configuration);
//   u16 count, each u16 PCI function + 48 bytes (OEM execution configuration);
//   u16 count, each u16 PCI function, u16 VF, 6 bytes MAC, u16 VLAN, u16 rate, u8 link.
std::vector<uint8_t> encodeCfgBoot(const CfgBootStore& s);
bool decodeCfgBoot(const uint8_t* p, size_t n, CfgBootStore* s);

}  // namespace adapter
