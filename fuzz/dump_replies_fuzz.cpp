// The adapter's replies to the diagnostic reads of the library: core-dump
// properties and segment data, the firmware log and its object, the
// command-line output, the extended log's string table, snapshot and
// entries, the configuration and transceiver reads, and the extended log's
// capability image. The emulated host answers each pass-through as the
// firmware (or the host's NIC driver) does, then the reply is overlaid with
// fuzz bytes before the library reads it.
//
// Input: one selector byte (modulo 6), then the step's own bytes, then the
// replies: each a length (2 bytes) and its bytes, laid over the answers of
// the step's pass-throughs in turn from offset 0; once they run out the
// answers stand.
//   0  one segment instance written (component 1 with a test program, or a
//      firmware component): a component byte, a compress byte, a length
//      (3 bytes, at most 256 KiB);
//   1  a whole core dump: a controller byte and a dump-string byte ("",
//      "live" or "Dead"); segments are held to 256 KiB;
//   2  RetrieveARMLog: a mode byte (RAM or FLASH);
//   3  RetrieveFATData, ClearFATData or RetrieveFwCliData: a byte choosing;
//   4  the capability image itself: a length (2 bytes) and the image, then
//      the modules re-enumerated, a mode action byte and a mode-property
//      read and write;
//   5  the PCI configuration dump (offset and count bytes) or the
//      transceiver dump (a page byte).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "backend/orsa_extlog.h"
#include "fw_discovery.h"
#include "library_host.h"
#include "maintenance/maint_dump.h"
#include "schema/bootstrap.h"
#include "tree/hm_engine.h"
#include "tree/hm_lookup.h"
#include "tree/orsa_api.h"

namespace {

const char* const kFile = "/tmp/fuzz_dump.bin";

HmNode* node(HmNode* base, const char* path) {
  HmNode* n = base;
  std::string p = path;
  size_t start = 0;
  while (n != nullptr && start <= p.size()) {
    size_t slash = p.find('/', start);
    std::string part = p.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    n = internal_get_node(n, part.c_str(), HM_KIND_GROUP);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return n;
}

HmNode* controller(int i) { return node(&ROOT, ("Kalderstone" + std::to_string(i)).c_str()); }

u32 action(HmNode* g, const char* name, std::vector<const char*> params) {
  u32 tag = 0;
  if (g == nullptr || ORSA_get_node_tag(g->tag, name, &tag, HM_KIND_ACTION) != 0) abort();
  HmValueSlot slots[HM_MAX_PARAMS];
  memset(slots, 0, sizeof slots);
  for (size_t i = 0; i < HM_MAX_PARAMS; ++i) {
    if (i < params.size() && params[i] != nullptr)
      snprintf(slots[i], sizeof slots[i], "%s", params[i]);
    else
      slots[i][0] = static_cast<char>(ORSA_PARAM_NOT_GIVEN);
  }
  return ORSA_do_action(g->tag, tag, slots, nullptr);
}

std::function<void(uint8_t*, size_t)> feeder(fuzzlib::Input& in) {
  return [&in](uint8_t* r, size_t n) {
    if (in.left() == 0) return;
    size_t len = in.u16();
    std::vector<uint8_t> reply = in.bytes(len);
    if (!reply.empty()) memcpy(r, reply.data(), n < reply.size() ? n : reply.size());
  };
}

// The first controller of the default host with an iSCSI function is the
// KS3; the Veskarn has NIC functions only.
void segment(fuzzlib::Input& in, chardev::EmulatedHost& host) {
  uint8_t comp = in.byte();
  uint8_t compress = in.byte() & 1;
  uint32_t length = (in.byte() | in.byte() << 8 | in.byte() << 16) % (256 * 1024 + 1);
  HmNode* ks = controller(comp & 0x80 ? 1 : 0);
  host.setReplyRewrite(feeder(in));
  const core_dump_template& r = test_template.rows[0xD3];
  if ((comp & 1) == 0)
    ORSA_write_each_segment_data(1, 0xD3, 0, 0, length, r.byte_code_len, r.SegmentByteCode, kFile, ks, compress, 0,
                                 0);
  else
    ORSA_write_each_segment_data(2, comp >> 1 & 3, 0, 0, length, 0, nullptr, kFile, ks, compress, 0, 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzlib::startHost(true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzlib::beginInput(data, size);
  chardev::EmulatedHost& host = fuzzlib::startHost(true);
  fuzzlib::Input in(data, size);
  orsa_dump_max_bytes = 256 * 1024;
  unlink(kFile);
  switch (in.byte() % 6) {
    case 0:
      segment(in, host);
      break;
    case 1: {
      static const char* const kStrings[] = {nullptr, "live", "Dead"};
      HmNode* ks = controller(in.byte() & 1);
      const char* s = kStrings[in.byte() % 3];
      host.setReplyRewrite(feeder(in));
      action(ks, "RetrieveQuorvantixCoreDump", {kFile, s});
      break;
    }
    case 2: {
      const char* mode = in.byte() & 1 ? "FLASH" : "RAM";
      host.setReplyRewrite(feeder(in));
      action(node(controller(0), "ExtFATData"), "RetrieveARMLog", {kFile, mode});
      break;
    }
    case 3: {
      uint8_t which = in.byte() % 3;
      host.setReplyRewrite(feeder(in));
      if (which == 0)
        action(node(controller(0), "FATData"), "RetrieveFATData", {kFile});
      else if (which == 1)
        action(node(controller(0), "FATData"), "ClearFATData", {});
      else
        action(controller(0), "RetrieveFwCliData", {kFile, "show version"});
      break;
    }
    case 4: {
      adapter::Engine& fw = host.engine(0);
      size_t len = in.u16();
      adapter::setExtFatImage(fw, in.bytes(len));
      HmNode* ks = controller(0);
      HmNode* xd = node(ks, "ExtFATData");
      while (HmNode* m = get_first_instance(xd, "ExtFATModule"))
        if (delete_node(m) != 0) abort();
      ORSA_extfat_modules(ks);
      uint8_t step = in.byte() % 3;
      if (step == 0)
        action(xd, "EnableLoggingOnAllModules", {"4", in.byte() & 1 ? "Yes" : nullptr, in.byte() & 1 ? "No" : nullptr});
      else if (step == 1)
        action(xd, "DisableLoggingOnAllModules", {nullptr, nullptr});
      else
        action(xd, "SetDefaultLoggingConfiguration", {});
      HmNode* mode = node(xd, "ExtFATModule0/ExtFATMode0");
      if (mode != nullptr) {
        u32 tag = 0;
        char value[HM_VALUE_SIZE] = "0x1";
        if (ORSA_get_node_tag(mode->tag, "PortMask", &tag, HM_KIND_PROPERTY) == 0) {
          ORSA_set_property_val(mode->tag, tag, value, sizeof value);
          ORSA_get_property_val(mode->tag, tag, value, sizeof value);
          if (strnlen(value, sizeof value) == sizeof value) abort();
        }
      }
      adapter::setExtFatImage(fw, adapter::defaultExtFatImage(fw.gen()));
      break;
    }
    case 5: {
      uint8_t which = in.byte();
      char offset[8], count[8];
      snprintf(offset, sizeof offset, "%u", in.byte() % 253u);
      snprintf(count, sizeof count, "%u", 1 + in.byte() % 64u);
      host.setReplyRewrite(feeder(in));
      if (which & 1)
        action(node(controller(0), "NICPhysicalHBA0/PCI"), "DumpNICPCIConfigRegion", {offset, count});
      else
        action(node(controller(0), "PortDiscoveryAndConfiguration0"), "DumpTransceiverData",
               {which & 2 ? "A0" : "A2"});
      u32 code = 0;
      char text[ORSA_STATUS_TEXT_SIZE];
      ORSA_get_last_status(&code, text);
      if (strnlen(text, sizeof text) == sizeof text) abort();
      break;
    }
  }
  host.setReplyRewrite({});
  unlink(kFile);
  ORSA_CORE_DUMP_STATUS = 0;
  successful_segments = 0;
  fuzzlib::endInput();
  return 0;
}
