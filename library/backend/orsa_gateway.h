// The library's driver channel: its global state block, the character devices
// of the NIC and iSCSI drivers, the raw device ioctls, and the request gateway
// through which every adapter firmware command leaves the library.
//
// Every block below is a wire format shared with the drivers: little-endian,
// packed, fixed-width fields only.
#pragma once

#include "tree/hm_types.h"

// --- Sizes and fixed values of the channel --------------------------------

constexpr u32 ORSA_MAX_FUNCTIONS = 128;       // NIC or iSCSI functions the state block holds
constexpr u32 ORSA_MAX_CONTROLLERS = 16;
constexpr u32 ORSA_MAX_CHIPS = 8;             // chip records in the chip information block
constexpr u32 ORSA_MAX_CHIP_FUNCTIONS = 8;    // function numbers in one chip record
constexpr u32 ORSA_HDR_SIZE = 16;             // Request_Header / Response_Header
constexpr u32 ORSA_NIC_BLOCK_PREFIX = 37;     // NicIoctlBuffer bytes before the payload
constexpr u32 ORSA_DINFO_SIZE = 976;
constexpr u32 ORSA_CHAR_INFO_SIZE = 980;
constexpr u32 ORSA_CHIP_INFO_SIZE = 89;
constexpr u32 ORSA_PCI_CONF_DATA_OFFSET = 60;
constexpr u32 ORSA_PCI_CONF_BLOCK_SIZE = 1039;  // leaves 979 bytes of data
constexpr u32 ORSA_PCI_CONF_MAX_DATA = ORSA_PCI_CONF_BLOCK_SIZE - ORSA_PCI_CONF_DATA_OFFSET;
constexpr u32 ORSA_VMHBA_NAME_SIZE = 32;
constexpr u32 ORSA_MAX_CMD_BUFFER = 0xFFFF;   // largest command buffer the builder takes

// Protocols: the device a request goes to.
enum {
  ORSA_PROTO_ISCSI = 1,
  ORSA_PROTO_NIC = 2,
  ORSA_PROTO_OTHER = 3,
  ORSA_PROTO_NONE = 4,
};

// Device paths and raw request numbers.
#define ORSA_NIC_DEVICE "/vmfs/devices/char/vmkdriver/ks_esx_nic"
#define ORSA_ISCSI_DEVICE_PREFIX "/vmfs/devices/char/vmkdriver/sorblock_"
#define ORSA_NIC_SIGNATURE "KESTRIMONDALE CO"  // 16 bytes, sent without NUL
enum : unsigned long {
  ORSA_NIC_IOCTL_DRIVER_INFO = 4,
  ORSA_NIC_IOCTL_PASSTHRU = 5,
  ORSA_NIC_IOCTL_CHIP_INFO = 6,
  ORSA_NIC_IOCTL_VF_TABLE = 7,
  ORSA_NIC_IOCTL_PCI_CONF = 8,
  ORSA_ISCSI_IOCTL_VMHBA_NAME = 1,
  ORSA_ISCSI_IOCTL_PASSTHRU = 0x4580,
};
enum : u16 { ORSA_NIC_BLOCK_MAGIC = 0x5052 };

// Library statuses that this channel produces itself (the others come from
// the status map below).
enum {
  ORSA_STATUS_ISCSI_EIO = 295,
  ORSA_STATUS_FLASH_ADDSTATUS_86 = 336,
  ORSA_STATUS_FLASH_ADDSTATUS_87 = 337,
};

// --- Wire formats -----------------------------------------------------------

#pragma pack(push, 1)

// The firmware command header as the library lays it.
struct OrsaRequestHeader {
  u8 PageCode;  // opcode
  u8 subsystem;
  u8 port_number;
  u8 domain;
  u32 Timeout;
  u32 request_length;  // payload bytes after the header
  u8 version;
  u8 vfnumber;
  u16 pf_vh;  // pfnumber bits 0-9, vhnumber bits 10-15
};

// The same 16 bytes as the firmware rewrites them.
struct OrsaResponseHeader {
  u8 opcode;
  u8 subsystem;
  u16 reserved0;
  u8 status;
  u8 additional_status;
  u16 reserved1;
  u32 response_length;
  u32 actual_response_length;
};

// NIC pass-through block (ioctl 5): the payload follows the header.
struct OrsaNicIoctlBuffer {
  char signature[16];
  u16 magic;
  u8 bus;
  u8 device;
  u8 function;
  OrsaRequestHeader header;
};

struct OrsaChipRecord {
  u8 bus;
  u8 device;
  u8 function_count;
  u8 functions[ORSA_MAX_CHIP_FUNCTIONS];
};

// Chip information block (NIC ioctl 6).
struct OrsaChipInfo {
  u8 chip_count;
  OrsaChipRecord chips[ORSA_MAX_CHIPS];
};

// Driver information / VF table request (NIC ioctls 4 and 7).
struct OrsaCharInfo {
  u8 bus;
  u8 device;
  u8 function;
  u8 reserved;
  u8 dinfo[ORSA_DINFO_SIZE];
};

// PCI configuration read (NIC ioctl 8): the data area follows at offset 60.
struct OrsaPciConfParams {
  u8 bus;
  u8 device;
  u8 function;
  u32 offset;
  u32 data_length;
  u32 pci_data;  // process address of the data area (32-bit library)
  u8 reserved[45];
};

#pragma pack(pop)

static_assert(sizeof(OrsaRequestHeader) == 16);
static_assert(sizeof(OrsaResponseHeader) == 16);
static_assert(sizeof(OrsaNicIoctlBuffer) == ORSA_NIC_BLOCK_PREFIX);
static_assert(sizeof(OrsaChipInfo) == ORSA_CHIP_INFO_SIZE);
static_assert(sizeof(OrsaCharInfo) == ORSA_CHAR_INFO_SIZE);
static_assert(sizeof(OrsaPciConfParams) == ORSA_PCI_CONF_DATA_OFFSET);

// --- Library state ----------------------------------------------------------

struct OrsaPciFunction {
  u8 bus;
  u8 device;
  u8 function;
  u16 domain;
};

struct OrsaGlob {
  u8 port_bitmap[ORSA_MAX_CONTROLLERS * 4];
  u8 controller_protocol[ORSA_MAX_CONTROLLERS];
  signed char pf_number;
  u8 hdr_version;
  u32 nic_valid_hba;
  i32 nic_port_instances[ORSA_MAX_FUNCTIONS];
  char nic_if_names[ORSA_MAX_FUNCTIONS][256];
  OrsaPciFunction NicFunctionTable[ORSA_MAX_FUNCTIONS];  // 1-based
  u32 nic_vf_count[ORSA_MAX_FUNCTIONS];            // 1-based
  u32 iscsi_valid_hba;
  i32 iscsi_port_instances[ORSA_MAX_FUNCTIONS];
  char vmhba_names[ORSA_MAX_FUNCTIONS][256];
  char iscsi_pci_addresses[ORSA_MAX_FUNCTIONS][16];
  u8 iscsi_inst_flags[ORSA_MAX_FUNCTIONS];
  OrsaPciFunction iscsi_function_table[ORSA_MAX_FUNCTIONS];
};

extern OrsaGlob orsa_glob;

// --- Devices and functions --------------------------------------------------

u32 os_get_nic_port_instances(i32* array, u32 n);
void os_put_nic_port_instances(i32* array, i32 n);
u32 os_get_port_instances(i32* array, u32 n);
void os_put_port_instances(i32* array, i32 n);
u32 ioctl_get_chipinfo(u32 index, void* block);
u32 enumerate_ks_nics(u32 start);
u32 ORSA_get_interface_names(u32 count, u32 first);
i32 get_the_protocol(i32 controller);

// True when `instance` names a function found at the last discovery.
bool orsa_valid_nic_instance(u32 instance);
bool orsa_valid_iscsi_instance(u32 instance);

// --- Raw ioctls -------------------------------------------------------------

u32 ioctl_get_vmhba_name(u32 instance, char* name);
u32 ioctl_get_mtu(u32 instance, void* dinfo);
u32 ioctl_get_virt_f_info(u32 instance, void* dinfo, u32* number_vfs);
u32 ioctl_pivard_read_pci_conf(u32 instance, u32* value);
// text receives at most 600 bytes.
u32 ORSA_get_pivard_pci_data(u32 instance, u32 offset, u32 length, char* text);

// --- Request road -----------------------------------------------------------

u32 ORSA_IssueIOCTL(i32 OsHandle, u8 opcode, u8 subsystem, u32 length,
                         u8* buffer, u8 domain, u8 port, i32 protocol,
                         u32 instance);
u32 ORSA_prepare_mailbox_cmd(u32 instance, u8 opcode, u8 subsystem,
                                  u32 payload_length, u16 buffer_length, void* payload,
                                  u8 direction, u8 domain, u8 port,
                                  u32 protocol);
u32 ORSA_get_mailbox_cmd_size(u32 instance, u8 opcode, u8 subsystem,
                                   u16 payload_length, u16 buffer_length, void* payload,
                                   u16* needed, u8 domain, u8 port,
                                   u32 protocol);
u32 OrsaStatusFromIOCTLResponse(u32 status, u32 additional_status, u8 opcode);

u32 ioctl_upgrade_flash(u32 instance, u32* request, u8 domain, u8 port,
                             i32 protocol, u8 offset_mode);
u32 ioctl_get_flash_component_details(i32 instance, u32 words[6], u8 domain,
                                           u8 port, i32 protocol);

// The hierarchy refresh every NIC request runs first (library start-up owns
// the rest of discovery): 0 with the NIC device open and the function count
// unchanged; 1 when the count changed, in which case the tree is only marked
// stale and is rebuilt at the next API entry by orsa_rebuild_stale_hierarchy.
u32 refresh_orsa_hierarchy(void);
extern int orsa_hierarchy_stale;
// Called at the start of every API entry, before any node is looked up:
// rebuilds the tree when a request found the NIC functions changed.
// 0 when nothing was to do or the rebuild succeeded.
u32 orsa_rebuild_stale_hierarchy(void);

// ORSA_check_valid_interface (Linux host only, exported, not called on this
// host): drelmo.h.

// Status map, exposed as data for the tests and the log: rows are tried in order.
enum OrsaMapMatch : u8 {
  ORSA_MATCH_ANY,   // any additional status
  ORSA_MATCH_EQ,    // additional status equals `additional`
  ORSA_MATCH_ABOVE  // additional status above `additional`
};
struct OrsaStatusMapRow {
  u8 status_min;
  u8 status_max;
  OrsaMapMatch match;
  u16 additional;
  u8 opcodes[5];  // all zero: any opcode
  u32 result;
  u32 message_code;  // 0: the row leaves the last status alone
  const char* message;
};
extern const OrsaStatusMapRow orsa_status_map[];
extern const size_t orsa_status_map_rows;
