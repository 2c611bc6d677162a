// Formats and registers of the adapter firmware command channel.
//
// Everything here is what the adapter reads or writes: little-endian records
// laid out at fixed byte offsets, doorbell registers, opcodes and status
// codes. The driver's own bookkeeping around a command (the wait record, the
// Adapter) lives in tamsil.h / tamsil_cmds.h.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Command headers
// ---------------------------------------------------------------------------

// First 16 bytes of every firmware command as the host builds it.
struct Request_Header {
  uint8_t PageCode;         // opcode
  uint8_t subsystem;
  uint8_t port_number;
  uint8_t domain;
  uint32_t Timeout;
  uint32_t request_length;  // payload bytes after this header
  uint8_t version;
  uint8_t vfnumber;
  uint16_t pf_vh;           // pfnumber bits 0-9, vhnumber bits 10-15
};
static_assert(sizeof(Request_Header) == 16);
static_assert(offsetof(Request_Header, Timeout) == 4);
static_assert(offsetof(Request_Header, request_length) == 8);
static_assert(offsetof(Request_Header, version) == 12);
static_assert(offsetof(Request_Header, pf_vh) == 14);

// The same 16 bytes as the firmware rewrites them.
struct Response_Header {
  uint8_t opcode;
  uint8_t subsystem;
  uint16_t rsvd0;
  uint8_t status;
  uint8_t additional_status;
  uint16_t rsvd1;
  uint32_t response_length;
  uint32_t actual_response_length;
};
static_assert(sizeof(Response_Header) == 16);
static_assert(offsetof(Response_Header, status) == 4);
static_assert(offsetof(Response_Header, additional_status) == 5);
static_assert(offsetof(Response_Header, response_length) == 8);
static_assert(offsetof(Response_Header, actual_response_length) == 12);

// Payload of a command begins right after the header.
constexpr uint32_t TAMSIL_HDR_LEN = 16;

// ---------------------------------------------------------------------------
// Work request block and completion
// ---------------------------------------------------------------------------

struct MccSge {
  uint32_t pa_lo;
  uint32_t pa_hi;
  uint32_t length;
};
static_assert(sizeof(MccSge) == 12);

constexpr uint32_t TAMSIL_WRB_SIZE = 256;
constexpr uint32_t TAMSIL_WRB_EMBED_LEN = 236;

// One mailbox or MCC ring entry.
struct MccWrb {
  uint32_t flags;           // bit 0 embedded; bits 3-7 scatter-gather count
  uint32_t payload_length;  // whole command length, header included
  uint32_t tag_lo;          // address of the WrbContext that waits for it
  uint32_t tag_hi;
  uint32_t rsvd;
  union {
    uint8_t embedded[TAMSIL_WRB_EMBED_LEN];
    MccSge sge[1];
  } payload;
};
static_assert(sizeof(MccWrb) == TAMSIL_WRB_SIZE);
static_assert(offsetof(MccWrb, payload) == 20);

constexpr uint32_t TAMSIL_WRB_EMBEDDED = 0x1;
constexpr uint32_t TAMSIL_WRB_SGE_SHIFT = 3;  // one entry encodes as 8

// One entry of the MCC completion queue (and the mailbox completion).
struct MccCompletion {
  uint16_t status;
  uint16_t ext_status;
  uint32_t tag_lo;
  uint32_t tag_hi;
  uint32_t flags;
};
static_assert(sizeof(MccCompletion) == 16);
static_assert(offsetof(MccCompletion, flags) == 12);

constexpr uint32_t TAMSIL_CQE_VALID = 1u << 31;
constexpr uint32_t TAMSIL_CQE_ASYNC = 1u << 30;
constexpr uint32_t TAMSIL_CQE_COMPLETED = 1u << 28;
constexpr uint32_t TAMSIL_CQE_EVT_CODE_SHIFT = 8;   // bits 8-15
constexpr uint32_t TAMSIL_CQE_EVT_TYPE_SHIFT = 16;  // bits 16-23

// Bootstrap mailbox memory: the WRB, then its completion.
constexpr uint32_t TAMSIL_MBOX_WRB_OFF = 0;
constexpr uint32_t TAMSIL_MBOX_CQE_OFF = 256;

// ---------------------------------------------------------------------------
// Asynchronous events
// ---------------------------------------------------------------------------

constexpr uint8_t TAMSIL_EVT_LINK_STATE = 1;
constexpr uint8_t TAMSIL_EVT_GRP5 = 5;
constexpr uint8_t TAMSIL_EVT_DEBUG = 6;
constexpr uint8_t TAMSIL_EVT_SLIPORT = 17;

constexpr uint8_t TAMSIL_EVT5_QOS_SPEED = 1;
constexpr uint8_t TAMSIL_EVT5_PRIORITY = 2;
constexpr uint8_t TAMSIL_EVT5_PVID = 3;
constexpr uint8_t TAMSIL_EVT5_OS2BMC = 5;
constexpr uint8_t TAMSIL_EVT5_DEBUG_DATA = 6;
constexpr uint8_t TAMSIL_EVT6_QNQ = 1;
constexpr uint8_t TAMSIL_EVT17_TRANSCEIVER = 9;

// ---------------------------------------------------------------------------
// Registers
// ---------------------------------------------------------------------------

// Doorbell BAR.
constexpr uint32_t TAMSIL_DB_TXULP = 0x60;   // default transmit doorbell
constexpr uint32_t TAMSIL_DB_RQ = 0x100;
constexpr uint32_t TAMSIL_DB_EQCQ = 0x120;
constexpr uint32_t TAMSIL_DB_MCCQ = 0x140;
constexpr uint32_t TAMSIL_DB_MBOX = 0x160;
constexpr uint32_t TAMSIL_DB_PIV_STATUS = 0x404;
constexpr uint32_t TAMSIL_DB_PIV_CONTROL = 0x408;
constexpr uint32_t TAMSIL_DB_PIV_ERR1 = 0x40C;
constexpr uint32_t TAMSIL_DB_PIV_ERR2 = 0x410;
constexpr uint32_t TAMSIL_DB_PIV_PHYDEV_CTRL = 0x414;

constexpr uint32_t TAMSIL_MBOX_DB_READY = 0x1;
constexpr uint32_t TAMSIL_MBOX_DB_HI = 0x2;
constexpr uint32_t TAMSIL_PIV_PORT_RESET = 0x08000000;
constexpr uint32_t TAMSIL_PIV_DUMP_REQUEST = 6;

// CSR BAR (KS2, KS3, Veskarn).
constexpr uint32_t TAMSIL_CSR_POST = 0xAC;
constexpr uint32_t TAMSIL_CSR_UE_INJECT = 0x138;
constexpr uint32_t TAMSIL_CSR_UE_INJECT_KICK = 0x1FFFC;

// PCI-configuration BAR (KS2, KS3, Veskarn).
constexpr uint32_t TAMSIL_PCICFG_DBG_58 = 0x58;
constexpr uint32_t TAMSIL_PCICFG_SOFT_RESET = 0x5C;
constexpr uint32_t TAMSIL_PCICFG_UE_INJECT_BYTE = 0x5F;  // Veskarn, bit 0
constexpr uint32_t TAMSIL_PCICFG_DBG_9C = 0x9C;
constexpr uint32_t TAMSIL_PCICFG_INTR_CTRL = 0xFC;

// ---------------------------------------------------------------------------
// Subsystems and opcodes
// ---------------------------------------------------------------------------

constexpr uint8_t TAMSIL_SUBSYS_COMMON = 1;
constexpr uint8_t TAMSIL_SUBSYS_NIC = 3;
constexpr uint8_t TAMSIL_SUBSYS_DIAG = 11;  // crash-dump requests

// Common subsystem.
enum : uint8_t {
  TAMSIL_OPC_MAC_QUERY = 1,
  TAMSIL_OPC_VLAN_CONFIG = 4,
  TAMSIL_OPC_LINK_STATUS_QUERY = 5,
  TAMSIL_OPC_CQ_CREATE = 12,
  TAMSIL_OPC_EQ_CREATE = 13,  // also the EMI canceller over the MCC queue
  TAMSIL_OPC_MCCQ_CREATE = 21,
  TAMSIL_OPC_SET_QOS = 28,
  TAMSIL_OPC_CNTL_ATTRIBUTES = 32,
  TAMSIL_OPC_RXF_FILTER = 34,
  TAMSIL_OPC_GET_FW_VERSION = 35,
  TAMSIL_OPC_SET_FLOW_CONTROL = 36,
  TAMSIL_OPC_GET_FLOW_CONTROL = 37,
  TAMSIL_OPC_MODIFY_EQ_DELAY = 41,
  TAMSIL_OPC_IF_CREATE = 50,
  TAMSIL_OPC_IF_DESTROY = 51,
  TAMSIL_OPC_MCCQ_DESTROY = 53,
  TAMSIL_OPC_CQ_DESTROY = 54,
  TAMSIL_OPC_EQ_DESTROY = 55,
  TAMSIL_OPC_SET_PORT_SPEED = 57,
  TAMSIL_OPC_QUERY_FW_CFG = 58,
  TAMSIL_OPC_PMAC_ADD = 59,
  TAMSIL_OPC_PMAC_DEL = 60,
  TAMSIL_OPC_FUNCTION_RESET = 61,
  TAMSIL_OPC_MANAGE_FAT = 68,
  TAMSIL_OPC_READ_TRANSRECV_DATA = 73,
  TAMSIL_OPC_QUERY_PORT_NAME = 77,
  TAMSIL_OPC_SET_LOGICAL_LINK = 80,
  TAMSIL_OPC_CONFIG_RESOURCES = 81,
  TAMSIL_OPC_INTR_SET = 89,
  TAMSIL_OPC_MCCQ_CREATE_EXT = 90,
  TAMSIL_OPC_GET_VPD = 91,
  TAMSIL_OPC_SET_FN_PRIVILEGES = 100,
  TAMSIL_OPC_GET_PHY_INFO = 102,
  TAMSIL_OPC_CHECK_FUNCTION_CAP = 103,
  TAMSIL_OPC_GET_DIE_TEMPERATURE = 121,
  TAMSIL_OPC_GET_PORT_SPEED = 134,
  TAMSIL_OPC_ADD_IFQ_FILTER = 145,
  TAMSIL_OPC_DEL_IFQ_FILTER = 146,
  TAMSIL_OPC_GET_MAC_LIST = 147,
  TAMSIL_OPC_SET_MAC_LIST = 148,
  TAMSIL_OPC_SET_HSW_CONFIG = 153,
  TAMSIL_OPC_GET_FUNC_CONFIG = 160,
  TAMSIL_OPC_GET_PROFILE_CONFIG = 164,
  TAMSIL_OPC_SET_PROFILE_CONFIG = 165,
  TAMSIL_OPC_GET_ACTIVE_PROFILE = 167,
  TAMSIL_OPC_GET_FN_PRIVILEGES = 170,
  TAMSIL_OPC_READ_OBJECT = 171,
  TAMSIL_OPC_WRITE_OBJECT = 172,
  TAMSIL_OPC_DELETE_OBJECT = 174,
  TAMSIL_OPC_SET_UE_RECOVERY = 191,
  TAMSIL_OPC_MANAGE_IFACE_FILTERS = 193,
  TAMSIL_OPC_ENABLE_VF = 196,
  TAMSIL_OPC_PMAC_MIGRATE = 206,
};

// NIC subsystem.
enum : uint8_t {
  TAMSIL_OPC_NIC_RSS_CONFIG = 1,
  TAMSIL_OPC_NIC_GET_STATS = 4,
  TAMSIL_OPC_NIC_TXQ_CREATE = 7,
  TAMSIL_OPC_NIC_RXQ_CREATE = 8,
  TAMSIL_OPC_NIC_TXQ_DESTROY = 9,
  TAMSIL_OPC_NIC_RXQ_DESTROY = 10,
  TAMSIL_OPC_NIC_ACPI_WOL = 12,  // capability query and magic-packet enable
  TAMSIL_OPC_NIC_GET_PPORT_STATS = 18,
};

// Crash-dump subsystem (pass-through only).
enum : uint8_t {
  TAMSIL_OPC_DIAG_21 = 21,
  TAMSIL_OPC_DIAG_22 = 22,
  TAMSIL_OPC_DIAG_24 = 24,
};

// ---------------------------------------------------------------------------
// Firmware statuses the driver interprets
// ---------------------------------------------------------------------------

constexpr uint32_t TAMSIL_FW_ST_NOT_SUPPORTED = 2;
constexpr uint32_t TAMSIL_FW_ST_NOT_PRIVILEGED = 5;
constexpr uint32_t TAMSIL_FW_ST_66 = 66;
constexpr uint32_t TAMSIL_FW_ST_68 = 68;
constexpr uint32_t TAMSIL_FW_EXT_22 = 22;
constexpr uint32_t TAMSIL_FW_EXT_96 = 96;

// ---------------------------------------------------------------------------
// Channel results (the firmware status, or one of these)
// ---------------------------------------------------------------------------

constexpr uint32_t TAMSIL_CH_BUSY = 0xF452FFFCu;       // no WRB could be taken
constexpr uint32_t TAMSIL_CH_IO_ERROR = 0xF452FFF6u;   // card error / poll timeout
constexpr uint32_t TAMSIL_CH_NO_MEMORY = 0xF452FFECu;  // SGE buffer allocation
constexpr uint32_t TAMSIL_CH_REFUSED = 0xF452FFFFu;    // pass-through refused
constexpr uint32_t TAMSIL_CH_MBOX_FAIL = 0xFFFFFFFFu;  // mailbox gone / timed out
constexpr uint32_t TAMSIL_CH_FAILURE = 0x0BAD0001u;    // sleeping wait: card error
constexpr uint32_t TAMSIL_CH_TIMEOUT = 0x0BAD0021u;    // sleeping wait: timed out
constexpr uint32_t TAMSIL_CH_GONE = 0x0BAD0003u;       // the channel closed for detach under the command
