// The management channel "tamsilMgmtToKernel": the request header every
// callback receives and the layout of every answer a user-space client reads.
// All layouts are little-endian and packed: the client sees these bytes.
#pragma once

#include "tamsil.h"

#pragma pack(push, 1)

// First parameter of every callback.
struct MgmtRequestHeader {
  char name[16];          // PCI name of the function, NUL-terminated
  vmk_uint32 operation;   // callback 31: 2 sets, anything else gets
  vmk_uint32 length;      // callbacks 16 and 34: text bytes wanted
  vmk_uint32 status;      // written by the driver
};

// One function of the lists of callbacks 17 and 32.
struct tamsil_mgmtSbdfEntry {
  char pci_name[16];
  char uplink_name[32];
};

struct tamsil_mgmtSbdfList {      // callback 17
  tamsil_mgmtSbdfEntry entry[32];
  vmk_uint32 count;
};

struct tamsil_mgmtSbdfListV1 {    // callback 32
  tamsil_mgmtSbdfEntry entry[800];
  vmk_uint32 count;
};

struct tamsil_mgmtVfInfo {
  vmk_uint8 mac[6];
  vmk_uint16 pvid;        // port VLAN id AND 0xFFF
  vmk_uint16 speed;       // link speed in Mbps / 10
  vmk_uint8 valid;        // always 1
  vmk_uint8 reserved;
};

struct tamsil_mgmtDrvInfo {       // callback 19
  vmk_uint8 num_vfs;
  tamsil_mgmtVfInfo vf[64];
  vmk_uint8 link_down_reason;
  vmk_uint8 link_state;
  vmk_uint16 mtu;
  vmk_uint8 reserved[12];
};

struct tamsil_mgmtLinkMode {
  vmk_uint32 speed;
  vmk_uint32 duplex;
};

struct tamsil_mgmtLinkStatus {    // callback 21
  vmk_uint32 speed;
  vmk_uint32 duplex;
  tamsil_mgmtLinkMode modes[16];
  vmk_uint32 num_modes;
  vmk_uint8 port;
  vmk_uint8 phy;          // 0 for PHY types 4, 5, 11 and 12
  vmk_uint8 full_duplex;
  vmk_uint8 reserved[24];
};

struct tamsil_mgmtDriverInfo {    // callback 22
  char driver_name[32];
  char driver_version[32];
  char fw_version[32];
  char driver_type[32];
  vmk_uint8 reserved[64];
};

struct tamsil_mgmtWolState {      // callback 23
  vmk_uint32 supported;
  vmk_uint32 enabled;
  vmk_uint8 reserved[16];
};

struct tamsil_mgmtCoalesce {      // callback 24
  vmk_uint32 rx_delay;
  vmk_uint32 reserved0;
  vmk_uint32 tx_delay;
  vmk_uint32 reserved1;
};

#define TAMSIL_MGMT_FAT_DATA 64000u

struct tamsil_mgmtFatChunk {      // callback 30
  vmk_uint8 data[TAMSIL_MGMT_FAT_DATA];
  vmk_uint32 offset;
  vmk_uint32 length;
};

#define TAMSIL_MGMT_CFG_DATA 256u
#define TAMSIL_MGMT_CFG_SPACE 4096u

struct tamsil_mgmtCfgRead {       // callback 33
  vmk_uint32 offset;
  vmk_uint32 length;
  vmk_uint8 data[TAMSIL_MGMT_CFG_DATA];
};

#pragma pack(pop)

// Callback ids.
enum tamsil_mgmtCallbackId : vmk_uint32 {
  TAMSIL_MGMT_PRIV_STATS = 16,
  TAMSIL_MGMT_ENUM_SBDF = 17,
  TAMSIL_MGMT_PASSTHROUGH = 18,
  TAMSIL_MGMT_DRV_INFO = 19,
  TAMSIL_MGMT_LINK_STATE = 20,
  TAMSIL_MGMT_LINK_STATUS = 21,
  TAMSIL_MGMT_DRIVER_INFO = 22,
  TAMSIL_MGMT_WOL_STATE = 23,
  TAMSIL_MGMT_COALESCE = 24,
  TAMSIL_MGMT_PERM_MAC = 25,
  TAMSIL_MGMT_STAT_COUNT = 26,
  TAMSIL_MGMT_STAT_STRINGS = 27,
  TAMSIL_MGMT_STATS = 28,
  TAMSIL_MGMT_FAT_SIZE = 29,
  TAMSIL_MGMT_FAT_DUMP = 30,
  TAMSIL_MGMT_DEBUG_MASK = 31,
  TAMSIL_MGMT_ENUM_SBDF_V1 = 32,
  TAMSIL_MGMT_PIVARD_CFG = 33,
  TAMSIL_MGMT_PRIV_STATS_V1 = 34,
};

#define TAMSIL_MGMT_HEADER_SIZE 28u
#define TAMSIL_MGMT_PRIV_STATS_SIZE 12288u
#define TAMSIL_MGMT_PRIV_STATS_V1_SIZE 32768u
#define TAMSIL_MGMT_PASSTHROUGH_SIZE 65536u
#define TAMSIL_MGMT_SBDF_MAX 800u
#define TAMSIL_MGMT_SBDF_MAX_V0 32u
#define TAMSIL_MGMT_DEBUG_MASK_SET 2u
#define TAMSIL_MGMT_INVALID_SBDF_TEXT "Error: Invalid SBDF string of Talvor NIC"

// The Adapter a request names, or none; writes the header's status.
Adapter* tamsil_mgmtGetAdapter(vmk_MgmtCookie cookie, MgmtRequestHeader* header, void* buffer);
// One step of the walk over tamsil_vmkdevHashTbl that fills a function list
// (`data` is a tamsil_mgmtSbdfListV1).
vmk_HashKeyIteratorCmd tamsil_vmkdevHTableIterator(vmk_HashTable table, vmk_HashKey key, vmk_HashValue value,
                                                   vmk_AddrCookie data);
// Reads the Pivard configuration space for callback 33.
VMK_ReturnStatus tamsil_pivardReadCfg(Adapter* adapter, tamsil_mgmtCfgRead* request);
// Takes the Adapter's entry out of tamsil_vmkdevHashTbl at detach. When it
// returns, no request can reach the Adapter any more except those already
// counted in mgmt_in_flight.
void tamsil_mgmtForget(Adapter* adapter);
