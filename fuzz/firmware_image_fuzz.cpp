// Firmware image files a user hands UpgradeFlashROM: UFI images of each
// generation and Pivard object files, over an emulated host of one adapter
// of each generation.
//
// Input: a selector byte, then the file in the compact form of
// platform/fwimage (u32 size, then extents of u32 offset, u16 length and
// the bytes; what no extent covers is zero), at most 17 MiB, written as a
// sparse file. Selector bits 0-1: the adapter (KS2, KS3, Pivard, Veskarn);
// bit 2: the adapter answers every component query with another CRC; bit
// 3: it reports ASIC revision 16; bit 4: it wants the download twice; bit
// 5: it refuses the second chunk of every download (status 3).
// fuzz/corpus/firmware_image holds valid images of each kind from
// seeds_firmware_image (this folder).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fw_flash_components.h"
#include "fw_library_flash.h"
#include "fw_profile.h"
#include "fwimage.h"
#include "backend/orsa_identity.h"
#include "library_host.h"
#include "tree/hm_engine.h"
#include "tree/hm_lookup.h"
#include "tree/orsa_api.h"

namespace {

constexpr uint64_t kMaxImage = 17u << 20;
const char* const kPath = "/tmp/fuzz_firmware_image";

chardev::HostSpec hostSpec() {
  auto fn = [](uint8_t n, chardev::Proto p, const char* name, int device) {
    chardev::FunctionSpec f;
    f.fn = n;
    f.proto = p;
    if (p == chardev::Proto::Nic)
      f.ifname = name;
    else
      f.vmhba = name;
    f.iscsi_device = device;
    return f;
  };
  chardev::HostSpec h;
  const adapter::Gen gens[] = {adapter::Gen::KS2, adapter::Gen::KS3, adapter::Gen::Pivard, adapter::Gen::Veskarn};
  for (uint8_t i = 0; i < 4; ++i) {
    chardev::AdapterSpec a;
    a.gen = gens[i];
    a.bus = static_cast<uint8_t>(2 + i);
    a.serial = "FUZZFW" + std::to_string(i);
    a.functions.push_back(fn(0, chardev::Proto::Nic, ("vmnic" + std::to_string(i)).c_str(), -1));
    if (i < 2) a.functions.push_back(fn(1, chardev::Proto::Iscsi, ("vmhba" + std::to_string(33 + i)).c_str(), i));
    h.adapters.push_back(a);
  }
  return h;
}

// The controller of adapter `card` (its generation code).
HmNode* controller(uint32_t asic) {
  for (HmNode* k = get_first_instance(hm_get_root(orsa_current_hierarchy), "Kalderstone"); k != nullptr;
       k = hm_next_instance(k))
    if (get_ks_type(k) == asic) return k;
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzlib::startHostOf(hostSpec(), true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzlib::beginInput(data, size);
  chardev::EmulatedHost& host = fuzzlib::startHostOf(hostSpec(), true);
  if (size < 1) return 0;
  const uint8_t selector = data[0];
  const size_t card = selector & 3;
  static const uint32_t kAsic[] = {2, 3, 4, 5};
  fwimage::Image img = fwimage::Image::fromCompact(data + 1, size - 1, kMaxImage);
  if (!img.write(kPath)) abort();

  adapter::Engine& fw = host.engine(card);
  adapter::setCrcMismatch(fw, adapter::kAnyOptype, (selector & 4) != 0);
  adapter::setAsicRevision(fw, (selector & 8) != 0 ? 16 : -1);
  adapter::setTwoStepDownload(fw, (selector & 16) != 0 ? 3 : 0);
  if ((selector & 32) != 0) adapter::addChunkFault(fw, {.chunk = 1, .status = 3, .times = -1});

  HmNode* ks = controller(kAsic[card]);
  uint32_t action = 0;
  if (ks == nullptr || ORSA_get_node_tag(ks->tag, "UpgradeFlashROM", &action, HM_KIND_ACTION) != 0) abort();
  HmValueSlot params[HM_MAX_PARAMS];
  memset(params, ORSA_PARAM_NOT_GIVEN, sizeof params);
  snprintf(params[0], sizeof params[0], "%s", kPath);
  uint32_t rc = ORSA_do_action(ks->tag, action, params, nullptr);
  uint32_t code = 0;
  char text[ORSA_STATUS_TEXT_SIZE];
  ORSA_get_last_status(&code, text);
  // Success comes with the update notice (or none for an unchanged Pivard
  // program); a failure never does.
  if (rc == 0 && code != 55 && code != 0) abort();
  if (rc != 0 && code == 55) abort();

  // What the adapter was given goes with the input: each starts afresh.
  fw.profiles().flash = adapter::FlashComponents{};
  adapter::resetFlashKnobs(fw);
  remove(kPath);
  fuzzlib::endInput();
  return 0;
}
