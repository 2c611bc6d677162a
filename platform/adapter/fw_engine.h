// The adapter's firmware: one command engine per adapter.
//
// Usage
//   adapter::EngineConfig cfg = adapter::engineDefaults(adapter::Gen::Veskarn);
//   adapter::Engine fw(cfg);
//
//   // One command, as any carrier delivers it: a 16-byte Request_Header and its
//   // payload in `buf`; `cap` bytes are writable. The firmware answers in place
//   // (Response_Header + response payload) and says how to complete it.
//   adapter::Request rq{.fn = 0, .carrier = adapter::Carrier::Ioctl, .buf = buf, .cap = cap};
//   adapter::Outcome out = fw.execute(rq);
//   // out.status / out.ext_status: the completion's status words;
//   // out.deliver == false: the firmware never answers (the caller times out).
//
//   fw.setFault(1, 59, {.status = 5});    // knobs, per (subsystem, opcode)
//   fw.countLive(adapter::ObjKind::Eq);   // what the functions created and still own
//   fw.registerHandler(1, 172, myWriteObject);   // more commands later
//   fw.lastRequest(1, 50);                // raw bytes of the last 1/50 received
//   fw.setStat(0, adapter::Stat::RxCrcErrors, 7);   // counters by name ...
//   adapter::statsWord(gen, stat, port);  // ... at this reading of the block
//
// Answers: status 0 with the response; 2 for a command this generation's
// firmware does not know (also every unregistered opcode); 3 for a malformed
// request. The length comes first, one rule for every command, before any
// field is decoded: a request_length larger than the bytes the carrier
// delivered, or smaller than the command's minimum (the handler table's,
// registerHandler's min_payload), is answered with 3. Handlers then refuse
// with 3 what else is malformed (a longer form's length, wrong version for the generation, unknown queue,
// interface or filter, a ring that does not fit its pages, a domain above
// max_vfs); 66 when a resource limit is reached. Handlers of the driver's
// commands: registerDriverHandlers() (fw_handlers.cpp lists them).
// A request's function is Request::fn (the carrier's PCI function); the
// header's pf/vf numbers are given to handlers (Cmd::pfvh, Cmd::vf) as sent.
//
// The engine is the same in both flavours (the driver's emulated PCI functions
// and the library's emulated character devices reach it); it never touches
// host memory except through the Dma callbacks a carrier passes in. It is not
// thread-safe: a carrier serialises its calls (the device model holds a lock).
//
// Formats are read at the byte offsets the firmware interface defines
// (Request_Header: 0 opcode, 1 subsystem, 2 port, 3 domain, 4 u32 timeout,
// 8 u32 request_length, 12 version, 13 vf number, 14 u16 pf/vh numbers;
// Response_Header: 4 status, 5 additional status, 8 response_length,
// 12 actual_response_length). Payload offsets (p+N) are N + 16.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace adapter {

enum class Gen : uint8_t { KS2 = 0, KS3 = 1, Pivard = 2, Veskarn = 3 };
const char* genName(Gen g);

// Firmware status values the model answers with.
enum FwStatus : uint8_t {
  kStatusSuccess = 0,
  kStatusFailed = 1,
  kStatusNotSupported = 2,     // illegal request / not supported by this firmware
  kStatusIllegalField = 3,
  kStatusNotPrivileged = 5,
  kStatusNoResources = 66,
  kStatusBusy = 68,
};

// Pseudo keys for the two bare mailbox patterns (no header): fault knobs and
// counters use them like a (subsystem, opcode) pair.
constexpr uint8_t kSubBare = 0;
constexpr uint8_t kOpFwInit = 1;
constexpr uint8_t kOpFwClean = 2;

// How the command reached the firmware. Some opcodes mean two commands and are
// told apart by carrier and length.
enum class Carrier : uint8_t { Mailbox, Mcc, Ioctl };

// Host memory seen by the firmware (bus addresses). A carrier that has no
// DMA (or a test) passes nullptr; commands that need it then fail.
class Dma {
 public:
  virtual ~Dma() = default;
  virtual bool read(uint64_t addr, void* dst, size_t len) = 0;
  virtual bool write(uint64_t addr, const void* src, size_t len) = 0;
};

struct Request {
  unsigned fn = 0;                     // PCI function (physical function index) that sent it
  Carrier carrier = Carrier::Ioctl;
  uint8_t* buf = nullptr;              // Request_Header + payload, rewritten as the response
  size_t cap = 0;                      // writable bytes at buf (>= 16)
  Dma* dma = nullptr;
};

// What the firmware does with the completion of one command.
struct Outcome {
  uint16_t status = 0;       // completion status (also Response_Header byte 4, low byte)
  uint16_t ext_status = 0;   // completion extended status
  bool deliver = true;       // false: no completion at all (the command times out)
  bool late = false;         // completion held back until the carrier releases it
  bool card_error = false;   // the command drove the card into an unrecoverable error
  bool slot_gone = false;    // the function disappeared from the bus
  bool malformed = false;    // the completion entry lacks its valid bit
  bool no_entry = false;     // the firmware finishes but writes no completion entry
  uint32_t rx_flush_cq = 0;  // a receive queue was destroyed: its CQ (for the flush completion)
};

// Per-command fault knob. A knob with a non-zero status (or additional /
// extended status) answers without running the command; the other flags act
// on the completion after the command ran (late) or instead of it.
struct Fault {
  uint8_t status = 0;
  uint8_t additional = 0;
  uint16_t extended = 0;
  bool no_completion = false;
  bool late = false;
  bool card_error = false;
  bool slot_gone = false;
  bool malformed = false;    // completion written without its valid bit (the command runs)
  bool no_entry = false;     // mailbox ready again, but no completion entry (does not run)
  int times = -1;            // how many commands it hits; -1 every one
};

// Objects a function creates in the firmware (accounting).
enum class ObjKind : uint8_t {
  Interface, MacFilter, Eq, Cq, TxQueue, RxQueue, MccQueue, QueueFilter, TunnelFilter,
};
const char* objKindName(ObjKind k);

struct ObjInfo {
  ObjKind kind;
  uint32_t id;
  unsigned fn;        // creating PCI function
  uint8_t domain;     // 0 the function itself, else a VF domain
};

// A queue as the firmware holds it; the device model keeps its ring state here.
struct QueueObj {
  ObjKind kind = ObjKind::Eq;
  uint32_t id = 0;
  unsigned fn = 0;
  uint8_t domain = 0;
  uint32_t entries = 0;        // ring entries (power of two)
  uint32_t entry_size = 0;     // bytes per entry
  uint32_t npages = 0;
  std::array<uint64_t, 8> pages{};
  uint32_t bound = 0;          // CQ: its EQ; TX/RX/MCC queue: its CQ
  uint32_t async_mask = 0;     // MCC queue: asynchronous event codes wanted (bit = code)
  uint32_t if_id = 0;          // TX/RX queue: interface
  uint32_t delay_mult = 0;     // EQ: interrupt delay multiplier
  uint32_t doorbell_offset = 0;  // TX queue: its doorbell register
  uint8_t version = 0;         // command version it was created with
  uint32_t flags = 0;          // raw context words as sent (for tests)
  uint32_t ctx[4] = {};         // RX queue: max frame, log2 fragment size, RSS id
  // Device-side ring state (owned by the device model).
  uint32_t hw_index = 0;       // next entry the device writes (EQ/CQ) or reads (MCC)
  uint32_t outstanding = 0;    // entries written and not yet popped by the host
  bool armed = false;
  bool int_pending = false;    // EQ: raised an interrupt the host has not cleared yet
  unsigned vector = 0;         // EQ: interrupt vector
};

struct MacFilter { uint32_t id; unsigned fn; uint8_t domain; uint32_t if_id; std::array<uint8_t, 6> mac; };
struct InterfaceObj {
  uint32_t id; unsigned fn; uint8_t domain; uint32_t cap_flags; uint32_t en_flags;
  uint32_t rxf_flags = 0; std::vector<uint16_t> vlans; bool vlan_promisc = false;
  uint16_t rss_flags = 0; uint16_t rss_log2 = 0; std::array<uint8_t, 40> rss_key{};
  std::vector<uint8_t> rss_table;
  // Frames steered to this interface when it belongs to another endpoint
  // (a VF's interface, domain != 0): counted, the last kEndpointKeep kept.
  uint64_t endpoint_frames = 0; std::vector<std::vector<uint8_t>> endpoint_last;
  static constexpr size_t kEndpointKeep = 16;
  void deliverToEndpoint(const std::vector<uint8_t>& frame) {
    ++endpoint_frames;
    endpoint_last.push_back(frame);
    if (endpoint_last.size() > kEndpointKeep) endpoint_last.erase(endpoint_last.begin());
  }
};
struct FilterObj {   // interface queue filters and tunnel (VXLAN) filters
  uint32_t id; unsigned fn; uint32_t if_id; uint32_t tenant_if; uint16_t queue; uint32_t vni;
  std::array<uint8_t, 6> mac;
};

struct EngineConfig {
  Gen gen = Gen::KS3;
  unsigned functions = 2;               // PCI functions, 1-8 (function i serves port i % 4)
  uint8_t asic_rev = 1;                 // 0 = A0 silicon (refused by the driver on KS and Pivard)
  std::array<uint8_t, 6> base_mac{0x02, 0x1C, 0x4E, 0x00, 0x00, 0x50};   // locally administered; function i: last byte + i
  std::string fw_version = "11.2.1149.0";
  std::string flash_fw_version = "11.2.1149.0";
  std::string controller_text = "Kalderstone emulated controller";
  std::string serial_number = "EMU1234567890";
  std::string model_name = "KM-2P-10G";
  std::string model_desc = "Emulated 2-port 10GbE converged adapter";
  std::string program_type = "ETH";
  uint8_t die_temperature = 52;         // degrees C
  uint32_t fw_caps = 0x20000;
  uint32_t fw_func_caps = 0x2;
  uint16_t max_vfs = 16;                // per function (profile)
  bool sriov_enabled = true;
  uint8_t function_mode = 1;            // multichannel type of the port descriptor (from the flash file
                                        // when the engine boots from one: its first port record)
  uint16_t active_profile = 1;
  uint32_t privileges = 0x7FF;
  uint8_t netqueues = 8;                // controller attributes byte 520
  // Resource limits reported per function.
  uint16_t txqs = 16, rxqs = 17, rssqs = 16, cqs = 64, evtqs = 32, ucmacs = 64, mccqs = 2, vlans = 64,
           ifaces = 32;
  uint32_t nic_cap_flags = 0x1BB4 | 0x1000000;
  bool tpe_supported = true;
  uint16_t ue2rp = 15000, ue2sr = 5000;   // ms
  uint8_t phy_type = 7, phy_if_type = 10;
  uint16_t speed_caps = 0x0C, speed_caps2 = 0x0C;
  std::string port_names = "0123";      // port name characters (1/77)
  bool profile_zero_lengths = false;    // profile descriptors sent with length 0 (= 72)
  bool mac_list_flag_entry = false;     // MAC list of domain 0 starts with a type-4 entry
  // The adapter's flash as a file (fw_profile.h): booted from when it exists,
  // written after every change of what the flash keeps. Empty: no file.
  std::string flash_file;
  // PCI identity shown in the controller attributes (the device model fills it).
  uint16_t pci_vendor = 0, pci_device = 0, pci_subsys_vendor = 0, pci_subsys_device = 0;
  uint8_t pci_bus = 0, pci_dev = 0;
};

// A plausible configuration of a generation's firmware: names, resource
// limits, SR-IOV, capabilities. Start from it and change what a test needs.
// PCI identity of each generation's functions (vendor 0x1C4E, Pivard 0x1E7B).
uint16_t defaultVendorId(Gen g);
uint16_t defaultDeviceId(Gen g);

EngineConfig engineDefaults(Gen g, unsigned functions = 2);

// Statistics counters named by the driver's statistics parse; the engine places
// them at the word positions of each generation's block.
enum class Stat : uint8_t {
  RxCrcErrors, RxAlignmentSymbolErrors, RxPauseFrames, RxPriorityPauseFrames, RxControlFrames,
  RxInRangeErrors, RxOutRangeErrors, RxFrameTooLong, RxAddressFiltered, RxDroppedTooSmall,
  RxDroppedTooShort, RxDroppedHeaderTooSmall, RxDroppedTcpLength, RxDroppedRunt, RxIpChecksumErrs,
  RxTcpChecksumErrs, RxUdpChecksumErrs, TxPauseFrames, TxPriorityPauseFrames, TxControlFrames,
  RxppFifoOverflowDrop, RxInputFifoOverflowDrop, PmemFifoOverflowDrop, JabberEvents, RxDropsNoPbuf,
  RxDropsNoErxDescr, RxDropsNoTpreDescr, RxDropsTooManyFrags, ForwardedPackets, RxDropsMtu,
  EthRedDrops, Count
};
// Size in bytes of the statistics block (header included) of a generation.
uint32_t statsBlockBytes(Gen g);
// Word index (u32 words from the start of the block, header = words 0-3) of a
// counter for a port; -1 when the generation has no such counter. A counter
// that the format splits over two words gives the first; statsWordSecond()
// gives the other (or -1).
int statsWord(Gen g, Stat s, unsigned port);
int statsWordSecond(Gen g, Stat s, unsigned port);
// Byte offset of the 16-bit no-DMA fragment counters (indexed by receive queue
// id); 0 on Pivard.
uint32_t statsNoDmaOffset(Gen g);

// Resource limits as the profile (1/164), function configuration (1/160) and
// resource (1/81) queries report them: a physical function's own, and the
// share each of its virtual functions gets (what a query for a VF domain
// shows). They start from the EngineConfig (a VF: one transmit, one receive
// queue, four CQs, one EQ, one interface) and follow the profile writes
// (1/165, domain 0) the firmware accepts: a PCIe descriptor (0x40/0x50) sets
// SR-IOV and the VF count of the function in its byte 6; a NIC descriptor
// (0x41/0x51) sets the share of each VF of that function (the resource split
// the driver writes at attach and back at detach). A field of 0xFFFF (flags 0
// or all ones) leaves the limit as it is. Creating objects is bounded by the
// EngineConfig's limits, not by these.
struct ResourceLimits {
  bool sriov = false;
  uint16_t max_vfs = 0;
  uint16_t txqs = 0, rxqs = 0, rssqs = 0, cqs = 0, ucmacs = 0, mccqs = 0, evtqs = 0, vlans = 0, ifaces = 0;
  uint32_t cap_flags = 0;
};

// Handler of one (subsystem, opcode).
struct Cmd;
class Engine;
class ProfileStore;
using Handler = void (*)(Engine& fw, Cmd& c);

// The command a handler works on.
struct Cmd {
  unsigned fn;
  Carrier carrier;
  uint8_t opcode, subsystem, port, domain, version, vf;
  uint16_t pfvh;         // pfnumber (bits 0-9) and vhnumber (bits 10-15)
  uint32_t timeout;
  uint32_t req_len;      // request_length (payload bytes)
  uint8_t* p;            // payload (buf + 16): the response is written here
  size_t pcap;           // writable payload bytes
  Dma* dma;
  const uint8_t* in;     // the request payload as received (read through r8..r32)
  size_t in_len;
  // Results, set by the handler.
  uint8_t status = 0, additional = 0;
  uint16_t ext_status = 0;
  uint32_t resp_len = 0;   // response payload bytes (response_length)
  bool no_answer = false;  // the firmware never completes this command
  uint32_t rx_flush_cq = 0;  // set by a receive queue destroy: the queue's CQ
  int on_port = -1;        // the physical port a port command acted on (its handler sets it)
  // Payload helpers: reads past the request see zeros, writes past pcap are
  // dropped. respond(n) zeroes the first n response bytes and sets resp_len.
  void respond(size_t len);
  void rtext(size_t off, size_t field, std::string* out) const;
  uint8_t r8(size_t off) const;
  uint16_t r16(size_t off) const;
  uint32_t r32(size_t off) const;
  void w8(size_t off, uint8_t v);
  void w16(size_t off, uint16_t v);
  void w32(size_t off, uint32_t v);
  void wbytes(size_t off, const void* src, size_t n);
  void wtext(size_t off, const std::string& s, size_t field);   // NUL-padded
  bool fits(size_t end) const { return end <= pcap; }
  void fail(uint8_t st, uint8_t add = 0) { status = st; additional = add; }
};

class Engine {
 public:
  explicit Engine(const EngineConfig& cfg);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  const EngineConfig& config() const { return cfg_; }
  Gen gen() const { return cfg_.gen; }
  unsigned functions() const { return cfg_.functions; }

  // The raw entry: one command with its header. Bytes the response does not
  // cover are left as they were.
  Outcome execute(const Request& rq);
  // The two bare mailbox patterns (8 bytes, no header).
  Outcome fwInit(unsigned fn);
  Outcome fwClean(unsigned fn);
  // Destroys everything the function created (function reset, firmware clean,
  // chip soft reset).
  void destroyFunctionObjects(unsigned fn);
  void destroyAllObjects();

  // Handlers. The minimum payload length belongs to the handler registered
  // with it (none: 0, the handler checks what it needs).
  void registerHandler(uint8_t subsystem, uint8_t opcode, Handler h);
  void registerHandler(uint8_t subsystem, uint8_t opcode, Handler h, uint32_t min_payload);
  uint32_t minimumPayload(uint8_t subsystem, uint8_t opcode) const;
  bool hasHandler(uint8_t subsystem, uint8_t opcode) const;
  Handler handlerFor(uint8_t subsystem, uint8_t opcode) const;   // nullptr when none

  // Fault knobs.
  void setFault(uint8_t subsystem, uint8_t opcode, const Fault& f);
  void clearFault(uint8_t subsystem, uint8_t opcode);
  void clearFaults();

  // Accounting.
  std::vector<ObjInfo> liveObjects(int fn = -1) const;
  size_t countLive(ObjKind k, int fn = -1) const;
  size_t countLive(int fn = -1) const;
  // Commands seen per (subsystem, opcode), and the last request of each (raw
  // header + payload as received, for tests that check a builder's encoding).
  unsigned commandsSeen(uint8_t subsystem, uint8_t opcode) const;
  const std::vector<uint8_t>* lastRequest(uint8_t subsystem, uint8_t opcode) const;
  // Where the commands went, oldest first (the last kReachedKeep): the PCI
  // function that received each and the physical port its handler acted on
  // (Cmd::on_port; -1 for a command that names no port, or that a fault
  // answered). A test of a host's addressing clears it, acts, and looks.
  struct Reached {
    uint8_t subsystem, opcode;
    unsigned fn;
    int port;
  };
  static constexpr size_t kReachedKeep = 1024;
  const std::deque<Reached>& reached() const { return reached_; }
  void clearReached() { reached_.clear(); }

  // Queues (the device model reads and updates ring state through these).
  QueueObj* queue(ObjKind k, uint32_t id);
  std::vector<QueueObj*> queues(ObjKind k, int fn = -1);
  const InterfaceObj* interface(uint32_t id) const;
  std::vector<const InterfaceObj*> interfaces(unsigned fn) const;   // by id
  std::vector<MacFilter> macFilters(int fn = -1) const;
  const FilterObj* filter(uint32_t id) const;

  // Firmware state that tests set or read.
  struct PortState {
    bool link_up = true;
    uint8_t speed_code = 4;     // 0..7: 0, 10, 100, 1000, 10000, 20000, 25000, 40000 Mb/s
    uint16_t qos_speed = 0;     // 10 Mb/s units, 0 none
    uint8_t logical = 1;
    uint8_t down_reason = 0;
    uint16_t tx_pause = 1, rx_pause = 1;
    uint16_t port_speed_code = 0;  // configured speed code (1/134, 1/57): 0 auto-negotiation
    uint8_t transceiver_state = 0, link_effect = 0;
    std::array<uint8_t, 16> vendor{}, part{};
  };
  PortState& port(unsigned p);
  unsigned portOfFunction(unsigned fn) const { return fn % ports(); }
  unsigned ports() const;
  uint8_t pfNumber(unsigned fn) const { return static_cast<uint8_t>(fn); }
  std::array<uint8_t, 6> permanentMac(unsigned fn) const;
  void setDieTemperature(uint8_t t) { cfg_.die_temperature = t; }
  // The firmware versions the adapter reports (running, and the one in flash).
  void setFirmwareVersions(const std::string& active, const std::string& flash) {
    cfg_.fw_version = active;
    cfg_.flash_fw_version = flash;
  }
  // Statistics words of a function's block (header words 0-3 are rewritten
  // by the command); index by statsWord().
  void setStatsWord(unsigned fn, unsigned word, uint32_t v);
  uint32_t statsWordValue(unsigned fn, unsigned word) const;
  void setStat(unsigned fn, Stat s, uint32_t v);   // by name, at this generation's position
  void setNoDmaCounter(unsigned fn, uint32_t rxq_id, uint16_t v);
  // Named flash objects (read object / delete object).
  void putObject(const std::string& name, std::vector<uint8_t> data);
  bool hasObject(const std::string& name) const;
  std::vector<uint8_t>* object(const std::string& name);
  void eraseObject(const std::string& name);
  // FAT (firmware log) data.
  std::vector<uint8_t>& fatLog() { return fat_; }
  std::vector<uint8_t>& vpd(unsigned fn);
  bool initialised(unsigned fn) const;
  uint32_t fnPrivileges(unsigned fn, uint8_t domain) const;
  // The last accepted set-profile command (1/165).
  struct SetProfile {
    std::vector<uint8_t> descriptors;
    uint32_t count = 0;
    uint8_t version = 0, domain = 0;
    unsigned times = 0;
  };
  const SetProfile& lastSetProfile() const { return set_profile_; }
  // The limits a function's queries report now (see ResourceLimits).
  const ResourceLimits& limits(unsigned fn) const;
  ResourceLimits& limitsMut(unsigned fn);
  const ResourceLimits& vfLimits(unsigned fn) const;   // each VF's share
  ResourceLimits& vfLimitsMut(unsigned fn);
  // VXLAN UDP port a port descriptor (type 0x55, protocol 23) set for a function.
  uint16_t vxlanPort(unsigned fn) const;
  // The interface converted into the tunnel interface (1/193 op 0), 0 if none.
  uint32_t tunnelInterface(unsigned fn) const;
  void recordSetProfile(const uint8_t* desc, size_t bytes, uint32_t count, uint8_t version,
                        uint8_t domain);
  bool vfsEnabled(unsigned fn, uint8_t domain) const;
  bool interruptsEnabled(unsigned fn) const;
  uint32_t emiCanceller(unsigned fn) const;
  bool ueRecoveryRequested(unsigned fn) const;
  uint16_t hswPvid(unsigned fn, uint8_t domain) const;
  uint32_t qosBandwidth(unsigned fn, uint8_t domain) const;
  uint32_t logicalLinkWord(unsigned fn, uint8_t domain) const;
  const std::vector<std::array<uint8_t, 6>>& macList(unsigned fn, uint8_t domain);
  std::array<uint8_t, 6> wolMac(unsigned fn) const;
  // SR-IOV: what a virtual function's endpoint (the VF's driver runs in a
  // guest, outside this system) holds, from the commands the PF's driver
  // sent in the VF's domain (fw_vf.cpp). present: the domain has an
  // interface. Its MACs are the PMACs on that interface (Kalderstone) or
  // the domain's MAC list; frames whose destination is one of them are
  // counted on the interface as delivered to the endpoint.
  struct VfEndpoint {
    bool present = false;
    uint32_t if_id = 0, cap_flags = 0, en_flags = 0;
    std::vector<std::array<uint8_t, 6>> macs;
    std::vector<uint16_t> vlans;   // the interface's VLAN filter
    uint16_t pvid = 0;             // switch port VLAN (0 or 65535: none)
    uint32_t qos_bandwidth = 0;    // transmit rate limit (0: never set)
    uint32_t logical_link = 0;     // logical link word as last set
    uint32_t privileges = 0;
    uint64_t delivered_frames = 0;
  };
  VfEndpoint vfEndpoint(unsigned fn, uint8_t domain);
  uint64_t deliveredFrames(unsigned fn, uint8_t domain) { return vfEndpoint(fn, domain).delivered_frames; }
  // Domains (> 0) of a function that have an interface, in order.
  std::vector<uint8_t> vfDomains(unsigned fn) const;
  // The VF interface (domain > 0) of a function on `port` that holds
  // unicast `mac`; nullptr when none does.
  InterfaceObj* vfInterfaceForMac(unsigned port, const uint8_t* mac);
  // The profile store (fw_profile.h): profiles, personality, legacy tables,
  // what the flash keeps.
  ProfileStore& profiles() { return *profiles_; }
  const ProfileStore& profiles() const { return *profiles_; }
  // Writes the flash file when the configuration names one (handlers call it
  // after changing what the flash keeps, with the named objects under
  // /nicdata/ as the configuration regions); false when writing failed.
  bool flashChanged();
  // Whether this engine booted from its flash file.
  bool bootedFromFlash() const { return booted_from_flash_; }

  // ---- used by the handlers (public so that added handlers can use them) ----
  uint32_t allocId(ObjKind k);
  QueueObj& addQueue(const QueueObj& q);
  bool destroyQueue(ObjKind k, uint32_t id, unsigned fn);
  InterfaceObj* interfaceMut(uint32_t id);
  uint32_t addInterface(const InterfaceObj& i);
  bool destroyInterface(uint32_t id, unsigned fn);
  uint32_t addMacFilter(unsigned fn, uint8_t domain, uint32_t if_id, const uint8_t* mac);
  bool delMacFilter(uint32_t id, unsigned fn);
  MacFilter* macFilterMut(uint32_t id);
  uint32_t addFilter(ObjKind k, const FilterObj& f);
  bool delFilter(uint32_t id, unsigned fn);

  struct FnState;
  FnState& fnState(unsigned fn);
  const FnState& fnState(unsigned fn) const;

  // ---- receive steering ----
  // Ids of a kind are handed out from `first` on (default 1): a firmware
  // that answers large ids.
  void setIdFloor(ObjKind k, uint32_t first);
  // Interface queue filters or tunnel filters (by kind) of a function (-1:
  // every function), by id.
  std::vector<const FilterObj*> filters(ObjKind k, int fn = -1) const;

 private:
  std::map<ObjKind, uint32_t> id_floor_;
  // Counts a bare mailbox pattern and applies a fault armed for it; true when
  // the fault decided the outcome.
  bool bareFault(uint8_t op, Outcome* out);

  EngineConfig cfg_;
  std::map<uint16_t, Handler> handlers_;
  std::map<uint16_t, uint32_t> min_payload_;
  std::map<uint16_t, Fault> faults_;
  std::map<uint16_t, unsigned> seen_;
  std::map<uint16_t, std::vector<uint8_t>> last_req_;
  std::deque<Reached> reached_;
  std::map<uint64_t, QueueObj> queues_;         // key: kind << 32 | id
  std::map<uint32_t, InterfaceObj> ifaces_;
  std::map<uint32_t, MacFilter> pmacs_;
  std::map<uint32_t, std::pair<ObjKind, FilterObj>> filters_;
  std::map<std::string, std::vector<uint8_t>> objects_;
  std::vector<uint8_t> fat_;
  std::vector<PortState> ports_;
  std::vector<FnState*> fns_;
  SetProfile set_profile_;
  std::unique_ptr<ProfileStore> profiles_;
  bool booted_from_flash_ = false;
};

// Registers the handlers of every command the driver sends (called by the
// constructor).
void registerDriverHandlers(Engine& fw);

}  // namespace adapter
