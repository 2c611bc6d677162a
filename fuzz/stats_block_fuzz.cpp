// The statistics block the firmware writes, and what the driver makes of it:
// the parse into the named counters (with the receive rings' 16-bit no-DMA
// counters), the uplink statistics record, and the private statistics in
// every mode, for an adapter whose ring counts and ids come with the input.
//
// Input: port number (1 byte), vectors and transmit queues (1 byte each,
// modulo 33), the feature byte, one firmware id byte per receive ring (a
// ring with id 0xFF is not created), then the block: as many bytes as the
// generation's block has, the rest zero. The generation is TAMSIL_FUZZ_GEN
// (KS3 when unset).
//
// The three management tables must agree on the number of rows and hold at
// most their 1200 slots, and the text must stay within its 87382 bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tamsil.h"
#include "tamsil_cmds.h"
#include "tamsil_stats.h"

namespace {

vmk_uint32 genFromEnv() {
  const char* g = getenv("TAMSIL_FUZZ_GEN");
  if (g == nullptr || *g == '\0') return TAMSIL_ASIC_KS3;
  const struct {
    const char* name;
    vmk_uint32 bits;
  } gens[] = {{"KS2", TAMSIL_ASIC_KS2}, {"KS3", TAMSIL_ASIC_KS3}, {"Pivard", TAMSIL_ASIC_PIVARD},
              {"Veskarn", TAMSIL_ASIC_VESKARN}};
  for (const auto& x : gens)
    if (std::string(g) == x.name) return x.bits;
  fprintf(stderr, "TAMSIL_FUZZ_GEN=%s names no generation (KS2, KS3, Pivard, Veskarn)\n", g);
  exit(2);
}

[[noreturn]] void fail(const char* what) {
  fprintf(stderr, "fuzz stats: %s\n", what);
  abort();
}

uint32_t rows(Adapter* a, vmk_uint32 mode, size_t size) {
  std::vector<uint8_t> buf(size, 0);
  tamsil_fillPrivStatsBuff(a, mode, buf.data());
  uint32_t n;
  memcpy(&n, buf.data(), 4);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const vmk_uint32 gen = genFromEnv();
  if (size < 4) return 0;
  // One Adapter record (it is large) for every input, cleared each time.
  static Adapter* const adapter = new Adapter();
  memset(static_cast<void*>(adapter), 0, sizeof *adapter);
  Adapter* a = adapter;
  a->asic_gen = gen;
  a->port_num = data[0];
  a->num_vectors = a->num_eq_delay = data[1] % (TAMSIL_MAX_VECTORS + 1);
  a->num_tx_queues = data[2] % (TAMSIL_MAX_VECTORS + 1);
  a->features = data[3];
  data += 4;
  size -= 4;
  for (vmk_uint32 i = 0; i < a->num_vectors && size > 0; i++, data++, size--) {
    a->rxo[i].rxq.created = *data != 0xFF;
    a->rxo[i].rxq.id = *data;
    a->rxo[i].ring_type = static_cast<vmk_uint8>(*data % 3);
  }
  for (vmk_uint32 i = 0; i < a->num_tx_queues; i++) a->txo[i].q.created = a->txo[i].cq.created = 1;

  std::vector<uint8_t> block(tamsil_statsSize(a), 0);
  memcpy(block.data(), data, size < block.size() ? size : block.size());
  a->stats_buf.va = block.data();
  a->stats_buf.size = static_cast<vmk_uint32>(block.size());
  tamsil_parseStats(a);
  a->stats_buf.va = nullptr;   // no command is sent: the block stands as parsed
  a->stats_pending = 1;

  vmk_uint64 record[TAMSIL_UPLINK_STATS_FIELDS];
  vmk_AddrCookie c;
  c.ptr = a;
  if (tamsil_uplinkStatsGet(c, record) != VMK_OK) fail("uplink statistics failed");

  const uint32_t n = rows(a, TAMSIL_PSTATS_COUNT, 4);
  if (n > TAMSIL_MGMT_STAT_ROWS) fail("more rows than slots");
  if (rows(a, TAMSIL_PSTATS_NAMES, TAMSIL_MGMT_STAT_NAMES_SIZE) != n) fail("names and count differ");
  if (rows(a, TAMSIL_PSTATS_VALUES, TAMSIL_MGMT_STAT_VALUES_SIZE) != n) fail("values and count differ");
  std::vector<char> text(TAMSIL_PSTATS_TEXT_LEN + 1, 0);
  if (tamsil_privStatsGet(c, text.data(), TAMSIL_PSTATS_TEXT_LEN) != VMK_OK) fail("private statistics failed");
  if (tamsil_pstats.len > TAMSIL_PSTATS_TEXT_LEN || strlen(tamsil_pstats.text) != tamsil_pstats.len)
    fail("text length");
  return 0;
}
