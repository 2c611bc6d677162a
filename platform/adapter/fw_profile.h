// The adapter's profile store: what the firmware keeps about the PCI function
// layout, per adapter (one per Engine), and the commands that read and write it.
//
// How a test reaches it
//   Firmware alone:      adapter::Engine fw(cfg);  adapter::ProfileStore& s = fw.profiles();
//   Library (chardev):   chardev::EmulatedHost host(spec);
//                        adapter::ProfileStore& s = host.engine(i).profiles();   // adapter i
//                        host.rebootAdapter(i);   // the emulated reboot: configured -> active
//   Seed before the library runs (e.g. before ORSA_init), inspect after:
//     s.listed[0].records / s.active / s.configured   raw records, built with
//       pcieRecord(), functionRecord(), portRecord() below or byte by byte;
//     s.active_id, s.next_id; s.ari; s.link; s.links;
//     s.legacyEntry(i) (68 bytes; the 836-byte form shows its first 52);
//     s.common (Pivard, 72-byte entries); s.reset_needed;
//     s.available_personalities; s.configuredPersonality(gen);
//     s.erased (erase commands received); s.erase_status (the answer per erase type);
//     s.permanent_macs (by PCI function); s.regions (configuration regions by name).
//     Multichannel, QoS, SR-IOV and VEPA state:
//       s.capabilities (123: multichannel type bits); s.vnics[pf] (120 name,
//       64 outer VLAN and bandwidth shares); s.qos[pf] (27/28: bytes per
//       second as received, 1024 per unit the host shows); s.forwarding[port]
//       (152/153: 2 VEB, 3 VEPA); the port records' mc_type (Veskarn: the
//       profile; KS3: s.configured / s.active hold one port record per port);
//       SR-IOV per function: the type-80 records (Veskarn), legacy entry byte
//       12 with the VF count at 10 (KS2/KS3), common entry byte 12 (Pivard).
//       s.function_caps (58, offset 120; bit 6: the functions offer no
//       multichannel or SR-IOV choice; from EngineConfig::fw_func_caps).
//       s.ks3_profile_reads: a KS3 firmware that also answers profile reads
//       (164 v1, configured and active; the SR-IOV bytes of its type-80
//       records come from the legacy table) and takes the channel fields of
//       function records (165, types 81-83, merged into s.configured as on
//       Veskarn); seed s.configured / s.active with the records. Off (the
//       default): an older KS3 firmware without them.
//     The link speed code of 5 is Engine::port(p).speed_code.
//     After s.reboot() call applyRunningState(fw) for what the driver then
//     reads (EmulatedHost::rebootAdapter does both; a flash boot does too).
//   Fault knobs stay per command: fw.setFault(1, 165, {.status = 3}).
//   Hold card.lock() around direct use while a device thread runs (the
//   library's emulated host runs its adapters without one).
//
// Commands (subsystem 1). The library's requests come by ioctl
// (Carrier::Ioctl); the driver's 164, 165 and 81 (mailbox, MCC) keep the
// driver's own answers. Where a generation's firmware lacks a command it
// answers status 2 with additional status 30 ("not supported").
//   161 capacities of a listed profile     164 v1 profile (0 configured, 1 listed, 2 active)
//   164 v0 Pivard common configuration    165 write records into the configured profile
//   166 profile list                       167/168 active and next profile id
//   94/95 ARI settings                     201/202 link configurations
//   81/82 legacy configuration table (v0 836 bytes, v1 1092 bytes; KS2/KS3)
//   84 reset needed                        169 factory profile (answers status 30)
//   113/114 available / configured personality texts
//   7 (operation 3) erase: answers erase_status[type] (default 0; 14: 44)
//   123 capabilities                       120 vNIC name, 64 vNIC statistics
//   27/28 QoS                              5 link parameters (host's form)
//   152/153 port forwarding (Veskarn)   58 function capabilities at 120
// 165 on KS3 takes single records only: a type-80 SR-IOV change (byte 13
// 255; kept in the legacy table) and a type-85 multichannel type of a port;
// with ks3_profile_reads also function records 81-83 of functions it holds.
//
// Writes that change what the adapter runs after its next reset (165, 168,
// 95, 202, 169, 82) raise reset_needed; reboot() makes the configured state
// the running one and clears it.
//
// The flash file (saveFlash/loadFlash, fw_flash.cpp) keeps the state that
// survives a reset; an Engine whose EngineConfig::flash_file names a file
// boots from it (when it exists) and writes it back after every change.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fw_cfg_boot.h"
#include "fw_engine.h"
#include "iscsi/fw_iscsi.h"
#include "iscsi/fw_iscsi_net.h"
#include "fw_flash_components.h"

namespace adapter {

// One resource record (the bytes as on the wire; byte 1 is its length).
using ProfileRecord = std::vector<uint8_t>;

struct ListedProfile {
  uint8_t id = 0;
  uint8_t index = 0;
  std::string description;
  std::vector<ProfileRecord> records;
};

struct LinkConfig {
  uint8_t id = 0;
  std::string description;
};

struct AriSettings {
  uint8_t next_max_pf = 7;     // for the next reset
  uint8_t max_pf = 7;          // the adapter's default (initial)
  uint8_t active_max_pf = 7;   // running now
  bool changeable = true;      // cari
};

// A named vNIC function (commands 120 and 64).
struct VnicFunction {
  bool enabled = false;
  std::string name;
  uint32_t outer_vlan = 0, min_bw = 0, max_bw = 100;
};

// QoS of a function (commands 27/28).
struct QosState {
  uint32_t max_bps = 0;     // what the host shows as the NIC's maximum
  uint32_t max_ios = 0;
  uint32_t max_bytes = 0;   // bytes per second as received
};

// Port forwarding modes (152/153, bits 6-8 of the mode word).
constexpr uint8_t kForwardVeb = 2, kForwardVepa = 3;

struct LinkState {
  uint8_t active = 1, next = 1, factory = 1;
};

// Link settings of a physical port (57/134, 18/10-12), kept in flash.
struct PortLink {
  uint16_t speed_code = 0;   // configured speed code (0: every speed the PHY offers)
  uint16_t dac_length = 0;   // DAC cable length in metres
  uint32_t nvp = 72;         // 10GBase-T nominal velocity of propagation, percent
};

// The PHY of a physical port (102, 18/8) with its enable state (71/62) and
// transmit throttle (133/132): the firmware's own, not kept.
struct PhyPort {
  uint16_t type = 0, if_type = 0;
  bool masks_valid = true;          // the 0xFEEC marker of 102
  uint16_t an_mask = 0, forced_mask = 0;
  bool baset = true;                // a 10GBase-T PHY: 18/8-12 answer
  std::array<uint32_t, 22> counters{};   // 18/8 reply words (word 21: frame counter high)
  bool enabled = true;              // port state
  uint32_t tx_throttle = 2;         // 1 slow, 2 fast reaction to PFC pause
};

// Record types and lengths.
enum : uint8_t {
  kRecPcie = 80, kRecNic = 81, kRecIscsi = 82, kRecFcoe = 83, kRecRoce = 84, kRecPort = 85,
  kRecMcTypes = 86,
};
constexpr uint8_t kRecLen = 88;
constexpr uint8_t kMcTypesLen = 68;
constexpr size_t kLegacyEntries = 16;
constexpr size_t kLegacyEntryV0 = 52, kLegacyEntryV1 = 68;
constexpr size_t kCommonEntry = 72;
constexpr const char* kRegionPrefix = "/nicdata/";

// Function record builders (mission roles: bit 0 NIC, 1 iSCSI, 2 FCoE, 3 RoCE;
// function type: 1 NIC, 2 iSCSI, 4 FCoE).
ProfileRecord pcieRecord(unsigned pf, uint8_t pf_state, uint8_t fn_type, uint8_t mission_roles,
                         bool sriov = false, uint16_t vfs = 0);
// Types 81 (MAC at 10, port at 44), 82 (MAC at 14, port at 32), 83 (MAC at
// 40, port at 52), 84 (no MAC, no port).
ProfileRecord functionRecord(uint8_t type, unsigned pf, unsigned port, const std::array<uint8_t, 6>& mac);
ProfileRecord portRecord(unsigned link, uint8_t mc_type, uint16_t max_pf, uint16_t storage, uint16_t nic,
                         uint16_t roce, uint16_t iscsi, uint16_t fcoe);
// Field access of a record.
unsigned recordPf(const ProfileRecord& r);   // bytes 6-7, 10 bits

class ProfileStore {
 public:
  // Profile model (Veskarn).
  std::vector<ListedProfile> listed;
  uint8_t factory_profile = 1;           // what 168/169 "factory default" select
  uint16_t active_id = 1, next_id = 1;
  std::vector<ProfileRecord> active, configured;
  AriSettings ari;
  LinkState link;
  std::vector<LinkConfig> links;
  // Personality.
  std::string available_personalities = "NIC,iSCSI,FCoE";
  std::string configured_personality_text;   // non-empty: 114 answers it instead
  // Legacy configuration table (KS2/KS3): entry count and 16 entries of 68
  // bytes; the 836-byte form shows and writes the first 52 bytes of each.
  uint32_t legacy_count = 0;
  std::vector<uint8_t> legacy = std::vector<uint8_t>(kLegacyEntries * kLegacyEntryV1, 0);
  // Pivard common profile configuration: 72-byte entries.
  std::vector<ProfileRecord> common;
  bool reset_needed = false;
  // Erase (command 7, operation 3): firmware status answered per erase type,
  // and the types received in order.
  std::map<uint32_t, uint8_t> erase_status{{14, 44}};
  std::vector<uint32_t> erased;
  // Kept in flash: permanent MAC address per PCI function (none: the engine's
  // own), configuration regions by object name (the engine's named objects
  // under kRegionPrefix: put back as objects at boot, taken from them when
  // the file is written).
  std::map<unsigned, std::array<uint8_t, 6>> permanent_macs;
  std::map<std::string, std::vector<uint8_t>> regions;
  // Multichannel and QoS (kept in flash).
  uint32_t capabilities = 0;
  uint32_t function_caps = 0;                  // not kept: the firmware's own
  std::map<unsigned, VnicFunction> vnics;      // by PCI function
  std::map<unsigned, QosState> qos;            // by PCI function
  std::map<unsigned, uint8_t> forwarding;      // by port; none: VEB
  bool ks3_profile_reads = false;              // not kept: the firmware's own
  std::map<unsigned, PortLink> port_links;     // by physical port (kept in flash)
  std::map<unsigned, PhyPort> phys;            // by physical port (fw_cfg_link.h)
  // NC-SI, boot, OEM execution configuration and VF parameters (kept in flash).
  CfgBootStore cfg_boot;
  // The iSCSI functions' network ports (iscsi/fw_iscsi_net.h; kept in flash).
  IscsiNetStore iscsi_net;
  // The iSCSI initiator's persistent targets, discovery parameter blocks and
  // boot-region objects (iscsi/fw_iscsi.h; kept in flash).
  IscsiStore iscsi;
  // Firmware components and the Pivard program (kept in flash,
  // fw_flash_components.h).
  FlashComponents flash;
  unsigned reboots = 0;

  // The emulated reset: the configured profile, ids, ARI and link settings
  // become the running ones.
  void reboot();
  ListedProfile* findListed(uint8_t id);
  uint8_t* legacyEntry(size_t i) { return legacy.data() + i * kLegacyEntryV1; }
  // The personality the configured state gives: the last enabled storage
  // function's type (profile model), function 2's type (legacy table), or the
  // common configuration's; "NIC" with no storage function.
  std::string configuredPersonality(Gen g) const;
  // Writes records into the configured profile (what 165 does).
  void writeConfigured(const std::vector<ProfileRecord>& records);
};

// The store an adapter of this configuration leaves the factory with.
ProfileStore defaultProfileStore(const EngineConfig& cfg);

// Registers the store's commands (the Engine constructor calls it; after a
// boot from flash it also applies the running state, see below).
void registerProfileHandlers(Engine& fw);

// What the running state gives the functions' resources that the driver
// reads at bring-up: the SR-IOV state and VF limit of every PCI function
// (type-80 records of the active profile, legacy entries, common entries).
// A function the running state names nothing for keeps what it had. The
// firmware flashed runs too (applyFlashedFirmware).
void applyRunningState(Engine& fw);

// An erase command (7, operation 3) of a configuration type: what it clears
// and the firmware status it answers with.
uint8_t eraseConfiguration(Engine& fw, uint32_t type);

// The flash file: versioned, little-endian (fw_flash.cpp has the layout).
constexpr uint16_t kFlashFileVersion = 1;
std::vector<uint8_t> encodeFlash(const ProfileStore& s, Gen g);
// false (store untouched) when the bytes are not a flash file of this
// generation of a version this firmware reads.
bool decodeFlash(const std::vector<uint8_t>& bytes, Gen g, ProfileStore* s);
bool saveFlash(const ProfileStore& s, Gen g, const std::string& path);
bool loadFlash(const std::string& path, Gen g, ProfileStore* s);

}  // namespace adapter
