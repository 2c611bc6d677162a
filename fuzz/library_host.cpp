#include "library_host.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "backend/orsa_cmdrun.h"
#include "iscsi/fw_iscsi.h"
#include "iscsi/fw_iscsi_net.h"
#include "testroot.h"
#include "tree/hm_engine.h"
#include "tree/orsa_api.h"

namespace fuzzlib {

chardev::EmulatedHost& startHost(bool open_library) { return startHostOf(chardev::defaultHost(), open_library); }

chardev::EmulatedHost& startHostOf(const chardev::HostSpec& spec, bool open_library) {
  // The host lives as long as the process and is never destroyed: its
  // firmware keeps per-engine state in statics of other files, whose
  // destruction at exit may come first.
  static chardev::EmulatedHost* host = nullptr;
  if (host != nullptr) return *host;
  // Before anything reaches the host's paths: outside the root, stop.
  testroot::requireOrExit("the library's fuzz targets");
  host = new chardev::EmulatedHost(spec);
  if (!host->writeHostFiles()) {
    fprintf(stderr, "cannot write the emulated host's files\n");
    exit(2);
  }
  chardev::install(host);
  // Every iSCSI function holds a session (scripted: no target behind it)
  // with two LUNs, so that the session, target and LUN replies start from
  // their real shapes.
  for (size_t i = 0; i < spec.adapters.size(); ++i)
    for (const chardev::FunctionSpec& f : spec.adapters[i].functions) {
      if (f.proto != chardev::Proto::Iscsi) continue;
      adapter::IscsiPortal portal{1, {192, 0, 2, 1}, 3260};
      std::vector<uint8_t> record =
          adapter::iscsiLoginRecord("iqn.2026-01.emu.tgt:fuzz", portal, 1, adapter::factoryInitiatorName(f.fn));
      adapter::addScriptedSession(host->engine(i), f.fn, record, {{.lun = 0}, {.lun = 1, .blocks = 1u << 20}});
    }
  // The VF settings' host commands are played by the emulated host's ip,
  // which changes the emulated VF table: nothing is started per input.
  orsa_set_command_runner(
      [](void* h, const char* const argv[]) {
        std::vector<std::string> v;
        for (size_t i = 0; argv[i] != nullptr; ++i) v.emplace_back(argv[i]);
        return static_cast<chardev::EmulatedHost*>(h)->runIpLink(v);
      },
      host);
  if (open_library && ORSA_init() != 0) {
    fprintf(stderr, "ORSA_init failed over the emulated host\n");
    exit(2);
  }
  return *host;
}

void beginInput(const uint8_t* data, size_t size) {
  static const char* trace = getenv("TAMSIL_FUZZ_TRACE");
  if (trace == nullptr) return;
  FILE* f = fopen(trace, "w");
  if (f == nullptr) return;
  if (size != 0) fwrite(data, 1, size, f);
  fclose(f);
}

void endInput() {
  if (chardev::EmulatedHost* h = chardev::installed()) h->clearLog();
}

namespace {

template <typename Fn>
void walk(HmNode* group, Fn&& fn) {
  if (group == nullptr || group->kind != HM_KIND_GROUP || group->body == nullptr) return;
  HmGroup* g = static_cast<HmGroup*>(group->body);
  for (HmNode* c = g->first_child; c != nullptr && c != group; c = c->next) {
    fn(group, c);
    if (c->kind == HM_KIND_GROUP) walk(c, fn);
  }
}

}  // namespace

std::vector<PropertyRef> properties() {
  std::vector<PropertyRef> out;
  walk(hm_get_root(orsa_current_hierarchy), [&](HmNode* group, HmNode* n) {
    if (n->kind == HM_KIND_PROPERTY && n->body != nullptr)
      out.push_back({group->tag, n->tag, static_cast<HmProperty*>(n->body)->flags});
  });
  return out;
}

std::vector<HmNode*> groups() {
  std::vector<HmNode*> out;
  HmNode* root = hm_get_root(orsa_current_hierarchy);
  if (root != nullptr) out.push_back(root);
  walk(root, [&](HmNode*, HmNode* n) {
    if (n->kind == HM_KIND_GROUP) out.push_back(n);
  });
  return out;
}

}  // namespace fuzzlib
