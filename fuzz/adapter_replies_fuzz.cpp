// The replies the adapter gives to the commands the library sends: the
// emulated character devices answer each pass-through as the firmware does,
// then the reply is rewritten with fuzz bytes before the library reads it.
//
// Input: one selector byte, then
//   even: one command wrapper (2 bytes, modulo the wrappers), the function
//         instance, domain, port and device bytes, a length
//         (2 bytes, variable-length commands, at most 8 KB), then the reply
//         bytes: every pass-through of the call gets them laid over its
//         answer from offset 0;
//   odd:  a property index (2 bytes, modulo the properties of the tree),
//         then replies for the pass-throughs and VF table reads of one
//         property read in turn, each a length (2 bytes) and its bytes; once
//         they run out the firmware's and the driver's answers stand;
//         with bit 1 set too (3, 11, ...) the index counts only the
//         properties below a port's DCBX group, whose handlers parse the
//         DCBX configuration block, the MIB and the operating parameters;
//         with bit 3 set (9, 11, ...) it counts only the properties of an
//         iSCSI port's network (TCPIPConfiguration with IPv6Configuration,
//         NICConfiguration) and of the initiator name, whose handlers read
//         the interface list and information, gateways, NIC parameters, MAC
//         query and the name block;
//   odd with bit 2 set (5, 7, ...): a step of the DCBX instance groups
//         instead of the property read: a step byte (modulo 4: refresh of
//         an application-TLV view, AddApplicationTLV, DeleteApplicationTLV,
//         ConfigurePGSettings), a group index (2 bytes, modulo the groups
//         the step runs on), for an action its parameter texts (each up to
//         a NUL byte; a text starting with 0xFF is not given), then the
//         replies as for a property read;
//   odd with bit 4 set (17, 19, ...): an adapter test, beacon or event log
//         action instead of all the above: an action byte (modulo RefreshEventLog,
//         ClearEventLog, HostToDDRDMATest, EnterLoopBackMode,
//         ExitLoopBackMode, NetworkLoopBackTest, Beacon, SelfTest, RunTDR),
//         a group index (2 bytes, modulo the groups that carry it), the
//         parameter texts and the replies as for a DCBX step; the replies
//         are the event log, loopback, DMA, beacon and PHY test answers;
//   odd with bit 5 set (33, 35, ...): a step of the iSCSI initiator's
//         sessions, targets, LUNs and flash regions instead of all the
//         above. Every iSCSI function of the host holds a scripted session
//         (library_host.cpp); the step first makes its target and portal
//         (iqn.2026-01.emu.tgt:fuzz at 192.0.2.1:3260) below the first
//         logical HBA and reads its session and LUNs with the firmware's
//         own answers. Then a step byte (modulo 10: the session list with
//         and without the target, the refresh of the target, the adapter's
//         target list (kind 0 or 1 by the next byte), the LUN scan, the
//         LUN's capacity and inquiry reads, a boot-target add and delete, a
//         Login, a property read below the target by a 2-byte index), then
//         the replies as for a property read: session records and lists,
//         target lists and records, session configurations, SCSI
//         pass-through answers, object reads. The step's groups and
//         savetgt.txt are removed afterwards.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "backend/orsa_gateway.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_propertyutil.h"
#include "iscsi/iscsi_persist.h"
#include "iscsi/iscsi_targets.h"
#include "schema/builders.h"
#include "library_host.h"
#include "tree/hm_engine.h"
#include "tree/orsa_api.h"

namespace {

struct Call {
  u32 instance;
  u8 domain;
  u8 port;
  i32 sel;  // the device: 1 iSCSI, 2 NIC, anything else refused
  u32 length;
  OrsaPort at() const { return OrsaPort{instance, sel}; }
};

// One command: its payload is a heap block of exactly the size the wrapper
// reads and writes, so that any access past it is caught.
using Wrapper = std::function<u32(const Call&)>;

template <typename F>
u32 withPayload(u32 len, F f) {
  std::vector<uint8_t> payload(len == 0 ? 1 : len, 0);
  return f(payload.data());
}

std::vector<Wrapper> wrappers() {
  std::vector<Wrapper> w;
#define FZ_W_FP(name, op, sub, len, dir, proto, ver) \
  w.push_back([](const Call& c) { return withPayload(len, [&](void* p) { return name(c.at(), p, c.domain, c.port); }); });
#define FZ_W_FC(name, op, sub, len, dir, ver) \
  w.push_back([](const Call& c) {             \
    return withPayload(len, [&](void* p) { return name(c.at(), p, c.domain, c.port); }); });
#define FZ_W_FK FZ_W_FC
#define FZ_W_VP(name, op, sub, dir, proto, ver) \
  w.push_back([](const Call& c) {               \
    return withPayload(c.length, [&](void* p) { return name(c.at(), p, c.length, c.domain, c.port); }); });
#define FZ_W_VC(name, op, sub, dir, ver) \
  w.push_back([](const Call& c) {        \
    return withPayload(c.length, [&](void* p) { return name(c.at(), p, c.length, c.domain, c.port); }); });
#define FZ_W_VK FZ_W_VC
#define FZ_Q_P(name, op, sub, len, proto)                                                                     \
  w.push_back([](const Call& c) {                                                                             \
    u16 needed = 0;                                                                                           \
    return withPayload(len, [&](void* p) { return name(c.at(), p, c.domain, c.port, &needed); });         \
  });
#define FZ_Q_K(name, op, sub, len)                                                                            \
  w.push_back([](const Call& c) {                                                                             \
    u16 needed = 0;                                                                                           \
    return withPayload(len, [&](void* p) { return name(c.at(), p, c.domain, c.port, &needed); }); \
  });
  ORSA_COMMAND_TABLE(FZ_W_FP, FZ_W_FC, FZ_W_FK, FZ_W_VP, FZ_W_VC, FZ_W_VK, FZ_Q_P, FZ_Q_K)
  // The commands that do more than a table row.
  w.push_back([](const Call& c) {
    return withPayload(ORSA_HDR_SIZE + 8, [&](void* p) { return ioctl_mgmt_flow_control(c.at(), p, c.domain, c.port); });
  });
  w.push_back([](const Call& c) {
    return withPayload(ORSA_HDR_SIZE + 4, [&](void* p) {
      return ioctl_common_get_flow_control(c.at(), p, c.domain, c.port);
    });
  });
  w.push_back([](const Call& c) { return ioctl_clear_event_log(c.at(), c.domain, c.port); });
  w.push_back([](const Call& c) {
    // The log length the caller asks for sits in the request's third word.
    return withPayload(20 + (c.length % 2048), [&](void* p) {
      u32 n = c.length % 2048;
      memcpy(static_cast<uint8_t*>(p) + 8, &n, 4);
      return ioctl_retrieve_fat(c.at(), p, c.domain, c.port);
    });
  });
  w.push_back([](const Call& c) {
    return withPayload(4, [&](void* p) { return ioctl_start_management_service(c.at(), p, c.domain, c.port); });
  });
  w.push_back([](const Call& c) {
    return withPayload(532, [&](void* p) {
      return ioctl_get_macaddress_list(c.at(), p, c.domain, c.port, c.length % 8);
    });
  });
  w.push_back([](const Call& c) {
    return withPayload(132, [&](void* p) { return ioctl_set_config_sign(c.at(), p, c.domain, c.port); });
  });
  w.push_back([](const Call& c) {
    return withPayload(132, [&](void* p) { return ioctl_get_config_sign(c.at(), p, c.domain, c.port); });
  });
  w.push_back([](const Call& c) {
    u32 len = c.length % 1024;
    return withPayload(ORSA_HDR_SIZE + len, [&](void* p) {
      return ioctl_get_configured_personality(c.at(), static_cast<u8*>(p), len, c.domain, c.port);
    });
  });
  w.push_back([](const Call& c) {
    return withPayload(ORSA_HDR_SIZE + 512, [&](void* p) {
      return ioctl_get_available_personalities(c.at(), static_cast<u8*>(p), c.domain, c.port);
    });
  });
  return w;
}

// Lays the next reply of the input (a length, then its bytes) over each
// answer until the input runs out.
std::function<void(uint8_t*, size_t)> feeder(fuzzlib::Input& in) {
  return [&in](uint8_t* r, size_t n) {
    if (in.left() == 0) return;
    size_t len = in.u16();
    std::vector<uint8_t> reply = in.bytes(len);
    if (!reply.empty()) memcpy(r, reply.data(), n < reply.size() ? n : reply.size());
  };
}

// The steps that rebuild or change a port's DCBX instance groups from the
// configuration block the adapter answers.
void dcbxStep(fuzzlib::Input& in) {
  static const char* const kViews[] = {"AdministratorTLVSetting", "PeerTLVSetting", "OperationalTLVSettings"};
  static const char* const kActions[] = {"AddApplicationTLV", "DeleteApplicationTLV", "ConfigurePGSettings"};
  uint8_t step = in.byte() % 4;
  std::vector<HmNode*> targets;
  for (HmNode* g : fuzzlib::groups()) {
    bool fits = false;
    if (step == 0) {
      for (const char* v : kViews) fits = fits || strcmp(g->name, v) == 0;
    } else {
      fits = internal_get_node(g, kActions[step - 1], HM_KIND_ACTION) != nullptr;
    }
    if (fits) targets.push_back(g);
  }
  if (targets.empty()) abort();
  HmNode* g = targets[in.u16() % targets.size()];
  if (step == 0) {
    ORSA_refresh_group(g->tag);
    return;
  }
  HmValueSlot params[HM_MAX_PARAMS];
  memset(params, 0, sizeof params);
  for (HmValueSlot& slot : params) {
    std::string text = in.until(0);
    snprintf(slot, sizeof slot, "%s", text.c_str());
  }
  u32 action = 0;
  if (ORSA_get_node_tag(g->tag, kActions[step - 1], &action, HM_KIND_ACTION) == 0)
    ORSA_do_action(g->tag, action, params, nullptr);
}

// An action of the maintenance groups (event log, diagnostics, beacon, PHY tests).
void maintenanceStep(fuzzlib::Input& in) {
  static const char* const kActions[] = {"RefreshEventLog",   "ClearEventLog",    "HostToDDRDMATest",
                                         "EnterLoopBackMode", "ExitLoopBackMode", "NetworkLoopBackTest",
                                         "Beacon",            "SelfTest",         "RunTDR"};
  const char* name = kActions[in.byte() % (sizeof kActions / sizeof kActions[0])];
  std::vector<HmNode*> targets;
  for (HmNode* g : fuzzlib::groups())
    if (internal_get_node(g, name, HM_KIND_ACTION) != nullptr) targets.push_back(g);
  if (targets.empty()) abort();
  HmNode* g = targets[in.u16() % targets.size()];
  HmValueSlot params[HM_MAX_PARAMS];
  memset(params, 0, sizeof params);
  for (HmValueSlot& slot : params) {
    std::string text = in.until(0);
    snprintf(slot, sizeof slot, "%s", text.c_str());
  }
  u32 action = 0;
  if (ORSA_get_node_tag(g->tag, name, &action, HM_KIND_ACTION) == 0) ORSA_do_action(g->tag, action, params, nullptr);
}

// Frees the handle records of a target's sessions, connections and LUNs,
// then deletes it.
void dropTarget(HmNode* target) {
  for (HmNode* s = get_first_instance(target, "Session"); s != nullptr; s = hm_next_instance(s))
    for (HmNode* c = get_first_instance(s, "Connection"); c != nullptr; c = hm_next_instance(c)) {
      orsa_dfree(HM_GROUP(c)->nhandle);
      HM_GROUP(c)->nhandle = nullptr;
    }
  for (const char* kind : {"Session", "LUN"})
    for (HmNode* g = get_first_instance(target, kind); g != nullptr; g = hm_next_instance(g)) {
      orsa_dfree(HM_GROUP(g)->nhandle);
      HM_GROUP(g)->nhandle = nullptr;
    }
  delete_node(target);
}

bool below(u32 tag, const char* name);

// The sessions, targets, LUNs and flash regions of the iSCSI initiator.
void iscsiStep(fuzzlib::Input& in, chardev::EmulatedHost& host) {
  HmNode* lhba = nullptr;
  for (HmNode* g : fuzzlib::groups())
    if (strcmp(g->name, "LogicalHBA") == 0) {
      lhba = g;
      break;
    }
  if (lhba == nullptr) abort();
  uint8_t step = in.byte() % 10;
  // The target of the host's scripted session; its session and LUN groups
  // are read with the firmware's own answers.
  HmNode* target = initialize_Target(lhba, nullptr, nullptr, nullptr);
  if (target == nullptr) abort();
  set_prop_val(target, "TargetISCSIName", "%s", "iqn.2026-01.emu.tgt:fuzz");
  if (setup_portal(target, "192.0.2.1", "3260", "1") == nullptr) abort();
  uint32_t port = static_cast<uint32_t>(get_port_number(lhba));
  uint8_t domain = static_cast<uint8_t>(get_domain_id(lhba));
  uint8_t phba = static_cast<uint8_t>(get_phba_port_number(lhba));
  HmValueSlot params[HM_MAX_PARAMS];
  memset(params, 0, sizeof params);
  char value[HM_VALUE_SIZE] = "";
  get_all_sessions(lhba, port, domain, phba, target, nullptr, params);
  get_all_luns(target, domain, phba, target, nullptr, params, value);
  HmNode* session = get_first_instance(target, "Session");
  HmNode* lun = get_first_instance(target, "LUN");
  uint32_t handle = session != nullptr && orsa_session_record(session) != nullptr
                        ? orsa_session_record(session)->session_handle
                        : 0;
  host.setReplyRewrite(feeder(in));
  memset(params, 0, sizeof params);
  switch (step) {
    case 0: get_all_sessions(lhba, port, domain, phba, target, nullptr, params); break;
    case 1: get_all_sessions(lhba, port, domain, phba, nullptr, nullptr, params); break;
    case 2: group_Target(target); break;
    case 3: get_all_targets(lhba, port, domain, phba, in.byte() & 1, params); break;
    case 4: get_all_luns(target, domain, phba, target, nullptr, params, value); break;
    case 5:
      if (lun != nullptr) {
        handle_lun_block_size(internal_get_node(lun, "LUNSize", HM_KIND_PROPERTY), value, HM_MODE_GET);
        handle_StdInquiry_properties(internal_get_node(lun, "LUNSerialNumber", HM_KIND_PROPERTY), value, HM_MODE_GET);
      }
      break;
    case 6:
      if (session != nullptr) ORSA_add_boottarget_tlv(port, domain, phba, session);
      break;
    case 7:
      if (session_info* r = ORSA_get_session_params(handle, port, domain, phba)) {
        ORSA_delete_boottarget_tlv(port, domain, phba, r);
        orsa_dfree(r);
      }
      break;
    case 8: do_Login(target, internal_get_node(target, "Login", HM_KIND_ACTION), params); break;
    default: {
      std::vector<fuzzlib::PropertyRef> props;
      for (const fuzzlib::PropertyRef& p : fuzzlib::properties())
        if (below(p.group, "Target")) props.push_back(p);
      const fuzzlib::PropertyRef& p = props[in.u16() % props.size()];
      memset(value, 0, sizeof value);
      ORSA_get_property_val(p.group, p.property, value, sizeof value);
      if (strnlen(value, sizeof value) == sizeof value) abort();  // a value always ends inside its slot
      break;
    }
  }
  host.setReplyRewrite({});
  // Whatever the step made or left, the tree and the target file go back to
  // what they were.
  unlink(ORSA_SAVETGT_FILE);
  for (HmNode* t = get_first_instance(lhba, "Target"); t != nullptr; t = get_first_instance(lhba, "Target"))
    dropTarget(t);
}

bool below(u32 tag, const char* name) {
  for (HmNode* n = get_node(static_cast<i32>(tag)); n != nullptr && n->parent != n; n = n->parent)
    if (n->name != nullptr && strcmp(n->name, name) == 0) return true;
  return false;
}
bool belowDcbx(u32 tag) { return below(tag, "DCBX"); }
bool iscsiNetwork(u32 tag) {
  return below(tag, "iSCSIPhysicalHBA") && (below(tag, "Network") || below(tag, "InitiatoriSCSIName"));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzlib::startHost(true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzlib::beginInput(data, size);
  static const std::vector<Wrapper> table = wrappers();
  chardev::EmulatedHost& host = fuzzlib::startHost(true);
  fuzzlib::Input in(data, size);
  uint8_t mode = in.byte();
  if ((mode & 1) == 0) {
    const Wrapper& w = table[in.u16() % table.size()];
    Call c;
    c.instance = in.byte() % 6;
    c.domain = in.byte();
    c.port = in.byte();
    c.sel = static_cast<int8_t>(in.byte());
    c.length = in.u16() % 8193;
    std::vector<uint8_t> reply = in.bytes(in.left());
    host.setReplyRewrite([&](uint8_t* r, size_t n) {
      if (!reply.empty()) memcpy(r, reply.data(), n < reply.size() ? n : reply.size());
    });
    w(c);
  } else if ((mode & 32) != 0) {
    iscsiStep(in, host);
  } else if ((mode & 16) != 0) {
    host.setReplyRewrite(feeder(in));
    host.setVfTableRewrite(feeder(in));
    maintenanceStep(in);
  } else if ((mode & 4) != 0) {
    host.setReplyRewrite(feeder(in));
    host.setVfTableRewrite(feeder(in));
    dcbxStep(in);
  } else {
    std::vector<fuzzlib::PropertyRef> props = fuzzlib::properties();
    if ((mode & 10) != 0) {
      std::vector<fuzzlib::PropertyRef> some;
      for (const fuzzlib::PropertyRef& p : props)
        if ((mode & 8) != 0 ? iscsiNetwork(p.group) : belowDcbx(p.group)) some.push_back(p);
      props.swap(some);
    }
    if (props.empty()) abort();
    const fuzzlib::PropertyRef& p = props[in.u16() % props.size()];
    host.setReplyRewrite(feeder(in));
    host.setVfTableRewrite(feeder(in));
    char value[HM_VALUE_SIZE];
    memset(value, 0, sizeof value);
    ORSA_get_property_val(p.group, p.property, value, sizeof value);
    if (strnlen(value, sizeof value) == sizeof value) abort();  // a value always ends inside its slot
  }
  host.setReplyRewrite({});
  host.setVfTableRewrite({});
  fuzzlib::endInput();
  return 0;
}
