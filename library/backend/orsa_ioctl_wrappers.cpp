// The adapter command wrappers: one per firmware command, generated from the
// command table, plus the few that do more than a row says.
#include "backend/orsa_ioctl_wrappers.h"

#include <string.h>

#include "backend/orsa_gateway.h"
#include "tree/hm_log.h"
#include "tree/hm_status.h"

namespace {

const u32 kCat = ORSA_LOG_CAT_OTHER;
const i32 kAnyDevice = 0;

// The port may be sent to: a function of a known driver and, for a command
// that only one driver carries, a function of that driver.
bool reachable(OrsaPort at, i32 only, u8 opcode) {
  bool ok = at.protocol == ORSA_PROTO_ISCSI || at.protocol == ORSA_PROTO_NIC;
  if (ok && only != kAnyDevice && at.protocol != only) ok = false;
  if (!ok)
    pdebug(kCat, ORSA_LOG_ERROR, "%s:opcode 0x%x cannot go to function %u of protocol %d\n", __func__, opcode,
           (unsigned)at.instance, (int)at.protocol);
  return ok;
}

// One builder call with the header version this command needs. hdr_version
// is a process-wide switch valid for this one call only.
u32 send(OrsaPort at, u8 opcode, u8 subsystem, u32 length, void* payload, u8 direction, u8 domain, u8 port, i32 only,
         u8 version) {
  if (!reachable(at, only, opcode)) return 1;
  // The builder's buffer size is 16 bits: a payload that cannot fit is refused
  // here, before the size could wrap.
  if (length > ORSA_MAX_CMD_BUFFER - ORSA_HDR_SIZE) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:payload of %u bytes for opcode 0x%x does not fit a command\n", __func__,
           (unsigned)length, opcode);
    return 1;
  }
  if (version == 1) orsa_glob.hdr_version = 1;
  u32 rc = ORSA_prepare_mailbox_cmd(at.instance, opcode, subsystem, length, (u16)(length + ORSA_HDR_SIZE), payload,
                                    direction, domain, port, (u32)at.protocol);
  if (version == 1) orsa_glob.hdr_version = 0;
  return rc;
}

u32 size_query(OrsaPort at, u8 opcode, u8 subsystem, u16 length, void* payload, u8 domain, u8 port, i32 only,
               u16* needed) {
  if (!reachable(at, only, opcode)) return 1;
  return ORSA_get_mailbox_cmd_size(at.instance, opcode, subsystem, length, (u16)(length + ORSA_HDR_SIZE), payload,
                                   needed, domain, port, (u32)at.protocol);
}

// A wrapper that calls the gateway itself with the caller's whole command buffer.
u32 send_direct(OrsaPort at, u8 opcode, u8 subsystem, u8* buffer, u32 length, u8 domain, u8 port) {
  i32 handle;
  if (at.protocol == ORSA_PROTO_ISCSI) {
    if (!orsa_valid_iscsi_instance(at.instance)) return 1;
    handle = orsa_glob.iscsi_port_instances[at.instance - 1];
  } else if (at.protocol == ORSA_PROTO_NIC) {
    handle = orsa_glob.nic_port_instances[0];
  } else {
    return 1;
  }
  if (buffer == NULL) return 1;
  if (ORSA_IssueIOCTL(handle, opcode, subsystem, length, buffer, domain, port, at.protocol, at.instance) != 0)
    return 1;
  u32 status = buffer[4];
  if (status == 0) return 0;
  u32 additional = (u32)buffer[5] | ((u32)buffer[6] << 8);
  u32 actual = (u32)buffer[12] | ((u32)buffer[13] << 8) | ((u32)buffer[14] << 16) | ((u32)buffer[15] << 24);
  pdebug(kCat, ORSA_LOG_ERROR, "%s:IOCTL with opcode:0x%x subsystem:0x%x failed with status 0x%x\n", __func__,
         opcode, subsystem, (unsigned)status);
  pdebug(kCat, ORSA_LOG_ERROR, "%s:Actual response length = %d\n", __func__, (int)actual);
  pdebug(kCat, ORSA_LOG_ERROR, "%s:Additional status = 0x%x\n", __func__, (unsigned)additional);
  return OrsaStatusFromIOCTLResponse(status, additional, opcode);
}

}  // namespace

#define ORSA_DEF_W_FP(name, op, sub, len, dir, proto, ver)                    \
  u32 name(OrsaPort at, void* payload, u8 domain, u8 port) {                  \
    return send(at, op, sub, len, payload, dir, domain, port, proto, ver);    \
  }
#define ORSA_DEF_W_FC(name, op, sub, len, dir, ver)                           \
  u32 name(OrsaPort at, void* payload, u8 domain, u8 port) {                  \
    return send(at, op, sub, len, payload, dir, domain, port, kAnyDevice, ver); \
  }
#define ORSA_DEF_W_VP(name, op, sub, dir, proto, ver)                           \
  u32 name(OrsaPort at, void* payload, u32 length, u8 domain, u8 port) {        \
    return send(at, op, sub, length, payload, dir, domain, port, proto, ver);   \
  }
#define ORSA_DEF_W_VC(name, op, sub, dir, ver)                                      \
  u32 name(OrsaPort at, void* payload, u32 length, u8 domain, u8 port) {            \
    return send(at, op, sub, length, payload, dir, domain, port, kAnyDevice, ver);  \
  }
#define ORSA_DEF_Q_P(name, op, sub, len, proto)                                    \
  u32 name(OrsaPort at, void* payload, u8 domain, u8 port, u16* needed) {          \
    return size_query(at, op, sub, len, payload, domain, port, proto, needed);     \
  }
#define ORSA_DEF_Q_K(name, op, sub, len)                                               \
  u32 name(OrsaPort at, void* payload, u8 domain, u8 port, u16* needed) {              \
    return size_query(at, op, sub, len, payload, domain, port, kAnyDevice, needed);    \
  }

// Controller-wide rows go to the port the caller resolved for the controller.
ORSA_COMMAND_TABLE(ORSA_DEF_W_FP, ORSA_DEF_W_FC, ORSA_DEF_W_FC, ORSA_DEF_W_VP, ORSA_DEF_W_VC, ORSA_DEF_W_VC,
                   ORSA_DEF_Q_P, ORSA_DEF_Q_K)

u32 ioctl_mgmt_flow_control(OrsaPort at, void* buffer, u8 domain, u8 port) {
  if (buffer == NULL) return 1;
  return send(at, 205, 1, 8, (u8*)buffer + ORSA_HDR_SIZE, ORSA_DIR_REPLY, domain, port, ORSA_PROTO_NIC, 0);
}

u32 ioctl_common_get_flow_control(OrsaPort at, void* buffer, u8 domain, u8 port) {
  if (buffer == NULL) return 1;
  return send(at, 37, 1, 4, (u8*)buffer + ORSA_HDR_SIZE, ORSA_DIR_REPLY, domain, port, kAnyDevice, 0);
}

u32 ioctl_clear_event_log(OrsaPort at, u8 domain, u8 port) {
  return send(at, 62, 2, 16, NULL, ORSA_DIR_REQUEST, domain, port, kAnyDevice, 0);
}

u32 ioctl_retrieve_fat(OrsaPort at, void* payload, u8 domain, u8 port) {
  if (payload == NULL) return 1;
  u32 data_length;
  memcpy(&data_length, (u8*)payload + 8, sizeof data_length);
  // 20 bytes of command fields, then the log data; sized from a field the
  // caller filled, so the sum is checked before it is used.
  if (data_length > ORSA_MAX_CMD_BUFFER - ORSA_HDR_SIZE - 20) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:log length %u does not fit a command\n", __func__, (unsigned)data_length);
    return 1;
  }
  return send(at, 68, 1, data_length + 20, payload, ORSA_DIR_REPLY, domain, port, kAnyDevice, 0);
}

u32 ioctl_start_management_service(OrsaPort at, void* payload, u8 domain, u8 port) {
  (void)payload;
  return send(at, 88, 1, 0, NULL, ORSA_DIR_REPLY, domain, port, kAnyDevice, 0);
}

u32 ioctl_get_macaddress_list(OrsaPort at, void* payload, u8 domain, u8 port, u32 pf_index) {
  // pfnumber has 10 bits; pf_number is a signed byte that must stay positive.
  if (pf_index >= 127) return 1;
  orsa_glob.pf_number = (signed char)(pf_index + 1);
  u32 rc = send(at, 147, 1, 532, payload, ORSA_DIR_REPLY, domain, port, kAnyDevice, 0);
  orsa_glob.pf_number = 0;
  return rc;
}

u32 ioctl_set_config_sign(OrsaPort at, void* payload, u8 domain, u8 port) {
  if (at.protocol == ORSA_PROTO_NIC) return 0;
  if (at.protocol != ORSA_PROTO_ISCSI) return 1;
  return send(at, 79, 1, 132, payload, ORSA_DIR_REQUEST, domain, port, ORSA_PROTO_ISCSI, 0);
}

u32 ioctl_get_config_sign(OrsaPort at, void* payload, u8 domain, u8 port) {
  if (at.protocol == ORSA_PROTO_NIC) return 0;
  return send(at, 78, 1, 132, payload, ORSA_DIR_REPLY, domain, port, ORSA_PROTO_ISCSI, 0);
}

u32 ioctl_get_configured_personality(OrsaPort at, u8* buffer, u32 length, u8 domain, u8 port) {
  return send_direct(at, 114, 1, buffer, length, domain, port);
}

u32 ioctl_get_available_personalities(OrsaPort at, u8* buffer, u8 domain, u8 port) {
  return send_direct(at, 113, 1, buffer, 512, domain, port);
}
