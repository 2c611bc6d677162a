// The plugin's entry points as the host's framework calls them, through the
// framework stand-in (platform/imahost), with hostile object ids (any type,
// owner and tag, or a real node under another type) and hostile records
// (CHAP records without terminators, any counts, lists and addresses) over
// the emulated host. The plugin is linked in; the stand-in finds its entry
// points in this program.
//
// Input: an entry byte, an id selector byte, a type byte, an owner byte, a
// 32-bit tag, two 32-bit words, then the record bytes.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imahost.h"
#include "library_host.h"

namespace {

using imahost::Oid;
using imahost::u32;
using imahost::u8;

enum Shape { O, OP, OU, OUP, OPP, OUPP, OUPU, OUU, OIP, OW };

struct Entry {
  const char* name;
  Shape shape;
};

const Entry kEntries[] = {
    {"IMA_GetPhbaProperties", OP},
    {"IMA_VMW_GetPhbaProperties", OP},
    {"IMA_GetPhbaStatus", OP},
    {"IMA_GetLhbaProperties", OP},
    {"IMA_VMW_GetNodeProperties", OP},
    {"IMA_VMW_SetNodeName", OW},
    {"IMA_VMW_SetNodeAlias", OW},
    {"IMA_VMW_GetLhbaOidList", OP},
    {"IMA_GetPnpOidList", OP},
    {"IMA_VMW_GetNetworkPortalOidList", OP},
    {"IMA_VMW_GetLnpOidList", OP},
    {"IMA_GetNetworkPortalProperties", OP},
    {"IMA_VMW_GetLnpProperties", OP},
    {"IMA_VMW_GetPnpProperties", OP},
    {"IMA_VMW_GetIpProperties", OP},
    {"IMA_GetNetworkPortStatus", OP},
    {"IMA_SetIpConfigMethod", OU},
    {"IMA_SetSubnetMask", OIP},
    {"IMA_VMW_SetDefaultGateway", OIP},
    {"IMA_SetNetworkPortalIpAddress", OP},
    {"IMA_GetMaxBurstLengthProperties", OP},
    {"IMA_GetImmediateDataProperties", OP},
    {"IMA_SetImmediateData", OU},
    {"IMA_VMW_SetHeaderDigest", OUP},
    {"IMA_SetDataDigestValues", OUP},
    {"IMA_VMW_GetDataDigest", OPP},
    {"IMA_GetSupportedAuthMethods", OUPP},
    {"IMA_VMW_GetInUseInitiatorLocalAuthMethods", OPP},
    {"IMA_SetInitiatorAuthMethods", OUP},
    {"IMA_VMW_SetInitiatorAuthMethods", OUP},
    {"IMA_SetInitiatorAuthParms", OUP},
    {"IMA_VMW_SetInitiatorAuthParms", OUP},
    {"IMA_AddLhbaMutualAuthParms", OUP},
    {"IMA_VMW_SetMutualAuthParms", OUP},
    {"IMA_SetInitiatorLocalAuthParms", OUPU},
    {"IMA_SetMutualLocalAuthParms", OUPU},
    {"IMA_SetMutualLocalAuth", OUU},
    {"IMA_GetInitiatorAuthParms", OUP},
    {"IMA_GetInitiatorLocalAuthParms", OUPP},
    {"IMA_VMW_GetMutualAuthParms", OUP},
    {"IMA_GetLhbaMutualAuthParmsList", OUP},
    {"IMA_GetAddressKeys", OP},
    {"IMA_VMW_AddSession", O},
    {"IMA_GetDigestProperties", OP},
};

const char* const kPaths[] = {
    "Kalderstone0/iSCSIPhysicalHBA0",
    "Kalderstone0/iSCSIPhysicalHBA0/LogicalHBA0",
    "Kalderstone0/iSCSIPhysicalHBA0/Network/TCPIPConfiguration",
    "Kalderstone0/iSCSIPhysicalHBA0/Network/NICConfiguration",
    "Kalderstone0/iSCSIPhysicalHBA0/LogicalHBA0/InitiatorLoginOptions",
    "Kalderstone0/iSCSIPhysicalHBA0/LogicalHBA0/InitiatoriSCSIName",
    "Kalderstone0/iSCSIPhysicalHBA1/LogicalHBA0",
};

imahost::Host* g_host;
std::vector<u32> g_tags;

u32 lookup(const char* path) {
  u32 t = 0;
  std::string p = path;
  size_t at = 0;
  while (at <= p.size()) {
    size_t end = p.find('/', at);
    if (end == std::string::npos) end = p.size();
    std::string part = p.substr(at, end - at);
    u32 next = 0;
    if (g_host->call("ORSA_get_node_tag", t, part.c_str(), &next, (u32)1) != 0) return 0;
    t = next;
    at = end + 1;
  }
  return t;
}

void start() {
  if (g_host != nullptr) return;
  fuzzlib::startHost(false);
  g_host = new imahost::Host;
  std::string why;
  if (!g_host->load(nullptr, &why)) abort();
  g_host->init(0x77);
  for (const char* p : kPaths) g_tags.push_back(lookup(p));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  start();
  fuzzlib::beginInput(data, size);
  fuzzlib::Input in(data, size);
  const Entry& e = kEntries[in.byte() % (sizeof kEntries / sizeof kEntries[0])];
  u8 idsel = in.byte();
  u32 type = in.byte() % 20;
  u8 owner_sel = in.byte();
  u32 tag = in.u32();
  u32 w1 = in.u32() % 6, w2 = in.u32() % 3;
  if (idsel < 200) tag = g_tags[idsel % g_tags.size()];
  Oid oid = g_host->oid(type, tag, owner_sel < 200 ? g_host->owner() : in.u32());

  // Records: the rest of the input, in a block of its own size so that a
  // read past a record is caught; at least as large as any record.
  std::vector<uint8_t> rest = in.bytes(16384);
  std::vector<uint8_t> rec(rest);
  if (rec.size() < 12300) rec.resize(12300, 0);
  std::vector<u32> wide(rest.size() / 4 + 1, 0);
  if (!rest.empty()) memcpy(wide.data(), rest.data(), rest.size() / 4 * 4);
  std::vector<uint8_t> rec2(12300, 0);
  imahost::IpAddress ip{};
  memcpy(&ip, rec.data(), sizeof ip);

  u32 st = 0;
  const char* n = e.name;
  switch (e.shape) {
    case O: st = g_host->call(n, oid); break;
    case OP: st = g_host->call(n, oid, rec.data()); break;
    case OU: st = g_host->call(n, oid, w1); break;
    case OUP: st = g_host->call(n, oid, w1, rec.data()); break;
    case OPP: st = g_host->call(n, oid, rec.data(), rec2.data()); break;
    case OUPP: st = g_host->call(n, oid, w1, rec.data(), rec2.data()); break;
    case OUPU: st = g_host->call(n, oid, w1, rec.data(), w2); break;
    case OUU: st = g_host->call(n, oid, w1, w2); break;
    case OIP: st = g_host->call(n, oid, ip); break;
    case OW: st = g_host->call(n, oid, wide.data()); break;
  }
  // Blocks handed out go back through IMA_FreeMemory.
  if (st == 0 &&
      (strstr(n, "OidList") != nullptr || strstr(n, "AddressKeys") != nullptr || strstr(n, "ParmsList") != nullptr)) {
    void* block = nullptr;
    memcpy(&block, rec.data(), sizeof block);
    g_host->free_block(block);
  }
  fuzzlib::endInput();
  return 0;
}
