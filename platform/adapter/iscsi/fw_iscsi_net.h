// The iSCSI firmware's network port, per iSCSI PCI function: its interface,
// IPv4 and IPv6 address entries, default gateways, DHCP and IPv6
// auto-configuration, VLAN tag, initiator name and alias, NIC parameters and
// ping. The management library reaches it through the iSCSI driver's device.
//
// Usage
//   adapter::registerIscsiNetHandlers(fw);             // after the library's handlers
//   adapter::IscsiPortNet& net = adapter::iscsiNet(fw, 2);   // PCI function 2
//   net.addresses / net.gw4 / net.vlan_tag / net.initiator_name ...
//   adapter::queueIscsiEntryStatus(fw, 2, 47);          // next address change answers 47
//   adapter::setPingReachable(fw, port, {10, 1, 1, 9});  // answers pings to 10.1.1.9
//   adapter::withdrawInitiatorNameV1(fw, true);          // version-1 name commands refused
//   adapter::setIscsiNicParams(fw, 2, 4, 9000);          // speed code, maximum MTU
// The network state lives in the profile store (fw_profile.h) and goes to the
// flash file with it, so it survives a library restart (same engine) and an
// emulated reboot (the flash file). The knobs are the firmware's own and are
// not kept.
//
// Commands (payload offsets, little-endian). A request naming another
// function's interface handle is refused with status 3 (illegal field).
// KS2 and KS3 have no IPv6: every IPv6 request (kinds 16, 48, 80, DHCP kind
// 144) answers status 1 with additional status 75.
//   2/24 interface list: 0 count (1), 4 the function's interface handle.
//   2/25 interface information: request 0 handle, 4 kind (1 IPv4; 16, 48
//        or 80 IPv6). Reply: 4 VLAN tag (65535 none), 8 record count, 12 u32
//        DHCP state (IPv4) or u16 IPv6 flags (0x400 auto, 0x200 DHCP, 0x100
//        static), 40-byte records from 16: +0 u16 40, +2 kind, +4 16-byte
//        address, +20 16-byte mask. IPv4 answers its address; every IPv6
//        kind answers all IPv6 entries (link-local 80 and routable 48).
//   2/21 address entry (56): 0 count (1), 4 action (1 add, 2 delete),
//        8 handle, 12 u16 40, 14 kind (1, 48, 80), 16 address, 32 mask; the
//        reply is the request with the entry status at 52: 0, 47 when the
//        address answers on the port's network (setPingReachable) or another
//        function holds it, or the status queued for the function. 0, 11, 13
//        and 47 apply the change, any other queued status leaves the state as
//        it was. An add replaces the IPv4 entry (0.0.0.0 removes it) or the
//        link-local one; a third routable entry is refused (status 66). A
//        delete of an address the port does not hold changes nothing.
//   2/22 gateway query (24): request 0 kind (1 or 16); reply 4 the address.
//   2/23 gateway change (28): 0 action (1 add, 2 delete), 4 u16 24 to add,
//        7 kind (1 or 16), 8 address. An add while a gateway of the kind is
//        set, or a delete of another address, answers status 1.
//   2/17 DHCP (16): 0 handle, 4 kind (5 IPv4 DHCP on, 144 IPv6
//        auto-configuration on), 8 1, 12 1.   2/18 release (8): handle, kind.
//   2/14 VLAN (8): 0 handle, 4 tag (priority << 13 | id; 65535 off).
//   2/6  ping (24): 3 kind (1 or 16), 4 the address. 1/19 (unreachable)
//        unless the port's table holds it; 46/0 while the port has no address
//        of that family.
//   2/7  NIC parameters (52): 8 maximum speed code, 16 maximum MTU.
//   6/6, 6/7 initiator name block (260): 0 u16 flags, 4 name (224), 228
//        alias (32). Header version 1 answers 1/30 (the command is unknown)
//        while withdrawn. A save with an empty name answers status 3.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace adapter {

class Engine;

constexpr uint8_t kIscsiKindIpv4 = 1, kIscsiKindIpv6 = 16, kIscsiKindRoutable = 48, kIscsiKindLinkLocal = 80;
constexpr uint16_t kIpv6Auto = 0x400, kIpv6Dhcp = 0x200, kIpv6Static = 0x100;

struct IscsiAddressEntry {
  uint8_t kind = kIscsiKindIpv4;
  std::array<uint8_t, 16> address{};
  std::array<uint8_t, 16> mask{};
};

struct IscsiPortNet {
  std::vector<IscsiAddressEntry> addresses;
  bool gw4_set = false;
  std::array<uint8_t, 4> gw4{};
  bool gw6_set = false;
  std::array<uint8_t, 16> gw6{};
  bool dhcp = false;
  uint16_t ipv6_flags = kIpv6Static;
  uint16_t vlan_tag = 0xFFFF;
  uint16_t name_flags = 0;
  std::string initiator_name;  // empty: the factory name
  std::string alias;
};

// What the flash keeps, by PCI function.
struct IscsiNetStore {
  std::map<unsigned, IscsiPortNet> fns;
};

void registerIscsiNetHandlers(Engine& fw);

// The interface handle a function's port answers.
uint32_t iscsiInterfaceHandle(unsigned fn);
// The name a function leaves the factory with.
std::string factoryInitiatorName(unsigned fn);
// A function's network state (created with the factory state on first use).
IscsiPortNet& iscsiNet(Engine& fw, unsigned fn);
// Writes the flash file after a test changed the state directly.
void iscsiNetChanged(Engine& fw);

// Knobs (not kept): the entry status the next address change of the function
// answers (one per request, in order); addresses that answer pings on a
// physical port (4 bytes IPv4, 16 bytes IPv6); the version-1 name commands
// withdrawn; the NIC parameters of a function (default speed code 4, MTU 9000).
void queueIscsiEntryStatus(Engine& fw, unsigned fn, uint8_t status);
void setPingReachable(Engine& fw, unsigned port, const std::vector<uint8_t>& address);
void clearPingReachable(Engine& fw);
void withdrawInitiatorNameV1(Engine& fw, bool withdrawn);
void setIscsiNicParams(Engine& fw, unsigned fn, uint32_t speed_code, uint32_t mtu);

// The flash file section of the store: little-endian, u16 count; each u16
// PCI function, u16 address count, each u8 kind + 16 address + 16 mask bytes;
// u8 IPv4 gateway set + 4 bytes, u8 IPv6 gateway set + 16 bytes, u8 DHCP,
// u16 IPv6 flags, u16 VLAN tag, u16 name flags, u16 n + name, u16 n + alias.
std::vector<uint8_t> encodeIscsiNet(const IscsiNetStore& s);
bool decodeIscsiNet(const uint8_t* p, size_t n, IscsiNetStore* s);

}  // namespace adapter
