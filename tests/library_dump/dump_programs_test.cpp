// The dump templates and their programs: the rows as they are given, every
// program a whole read-only image of its row's length, and what each writes
// per chunk when the host's NIC driver runs it in its interpreter.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "dump_expect.h"
#include "maintenance/maint_dump.h"
#include "nic_cdbc.h"

namespace {

adapter::Gen genOf(const DumpTemplate* t) {
  if (t == &ks2_template) return adapter::Gen::KS2;
  if (t == &vek_template) return adapter::Gen::Veskarn;
  return adapter::Gen::KS3;
}

const core_dump_template& rowOf(const DumpProgramInfo& p) { return p.tmpl->rows[p.segment]; }

std::string prefixOf(const DumpTemplate* t) {
  std::string n = t->name;
  return n.substr(0, n.find('_'));
}

TEST(DumpTemplates, EveryUsedRowHasOneProgramAndTheTablesTheirSizes) {
  struct Want {
    const DumpTemplate* t;
    uint32_t rows, used;
  } wants[] = {{&ks2_template, 306, 36}, {&ks3_template, 306, 41}, {&vek_template, 338, 58}, {&test_template, 223, 13}};
  EXPECT_EQ(orsa_dump_program_count, 148u);
  std::set<std::pair<const DumpTemplate*, uint32_t>> named;
  std::set<std::string> names;
  for (size_t i = 0; i < orsa_dump_program_count; ++i) {
    const DumpProgramInfo& p = orsa_dump_programs[i];
    EXPECT_TRUE(named.insert({p.tmpl, p.segment}).second) << p.name;
    EXPECT_TRUE(names.insert(p.name).second) << p.name;
    char head[16];
    snprintf(head, sizeof head, "%s_%04X_", prefixOf(p.tmpl).c_str(), p.segment);
    EXPECT_EQ(std::string(p.name).rfind(head, 0), 0u) << p.name << " is not named after its template and segment";
  }
  for (const Want& w : wants) {
    SCOPED_TRACE(w.t->name);
    EXPECT_EQ(w.t->row_count, w.rows);
    uint32_t used = 0;
    for (uint32_t s = 0; s < w.t->row_count; ++s) {
      if (w.t->rows[s].SegmentByteCode == nullptr) {
        const core_dump_template& r = w.t->rows[s];
        EXPECT_EQ(r.byte_code_len + r.seg_len + r.max_instance + r.dead + r.live + r.compress, 0u) << "empty row " << s;
        continue;
      }
      ++used;
      EXPECT_EQ(named.count({w.t, s}), 1u) << "row " << s << " has no named program";
    }
    EXPECT_EQ(used, w.used);
  }
}

TEST(DumpTemplates, TellingRowsAsGiven) {
  struct Row {
    const DumpTemplate* t;
    uint32_t seg;
    uint8_t dead, live, compress;
    uint32_t max_instance, seg_len, words;
  } rows[] = {
      {&ks2_template, 0x000D, 1, 0, 0, 0, 0x1000, 27},      {&ks3_template, 0x000D, 1, 0, 0, 0, 0x1000, 27},
      {&vek_template, 0x000D, 1, 0, 0, 0, 0x1000, 27},      {&ks2_template, 0x0024, 1, 0, 1, 0, 0x80000, 91},
      {&ks3_template, 0x0024, 1, 0, 1, 0, 0xA8000, 91},     {&ks2_template, 0x0070, 1, 1, 0, 0, 0x44, 30},
      {&ks2_template, 0x008C, 1, 0, 0, 44, 0x110, 564},     {&ks2_template, 0x0100, 1, 0, 1, 0, 0x2000000, 87},
      {&ks3_template, 0x0100, 1, 0, 1, 0, 0x4000000, 87},   {&vek_template, 0x0100, 1, 0, 1, 0, 0x8000000, 87},
      {&ks3_template, 0x0120, 1, 0, 1, 0, 0x1000000, 57},   {&vek_template, 0x0088, 1, 0, 0, 22, 0x8500, 195},
      {&vek_template, 0x0063, 0, 0, 0, 0, 0x2000, 87},      {&vek_template, 0x0150, 0, 0, 1, 0, 0x20000, 49},
      {&test_template, 0x00D1, 0, 1, 0, 0, 4, 22},          {&test_template, 0x00D2, 1, 0, 0, 0, 4, 22},
      {&test_template, 0x00D6, 1, 1, 0, 4095, 4, 26},       {&test_template, 0x00DA, 1, 1, 0, 0, 4, 1024},
      {&test_template, 0x00DB, 1, 1, 0, 0, 0, 19},
  };
  for (const Row& w : rows) {
    SCOPED_TRACE(std::string(w.t->name) + " row " + std::to_string(w.seg));
    const core_dump_template& r = w.t->rows[w.seg];
    ASSERT_NE(r.SegmentByteCode, nullptr);
    EXPECT_EQ(r.dead, w.dead);
    EXPECT_EQ(r.live, w.live);
    EXPECT_EQ(r.compress, w.compress);
    EXPECT_EQ(r.max_instance, w.max_instance);
    EXPECT_EQ(r.seg_len, w.seg_len);
    EXPECT_EQ(r.byte_code_len, w.words);
  }
  // The instance counts only the edge cases give.
  EXPECT_EQ(test_template.rows[0xD0].max_instance + 1, 10u);
  EXPECT_EQ(test_template.rows[0xDD].max_instance + 1, 6u);
}

TEST(DumpTemplates, PatternsForTheOtherRows) {
  const std::set<uint32_t> live_rows = {0x70, 0x71, 0x72, 0x73, 0x80, 0x81, 0x82};
  const std::set<uint32_t> never = {0x63, 0x6B, 0x150};
  const std::set<uint32_t> compressed = {0x24, 0x100, 0x120};
  const std::set<uint32_t> vek_compressed = {0x90, 0xC4, 0x130, 0x150};
  for (const DumpTemplate* t : {&ks2_template, &ks3_template, &vek_template}) {
    for (uint32_t s = 0; s < t->row_count; ++s) {
      const core_dump_template& r = t->rows[s];
      if (r.SegmentByteCode == nullptr) continue;
      SCOPED_TRACE(std::string(t->name) + " row " + std::to_string(s));
      EXPECT_EQ(r.low_version, 0);
      EXPECT_EQ(r.high_version, 1);
      EXPECT_EQ(r.start_offset, 0u);
      bool is_never = t == &vek_template && never.count(s) != 0;
      EXPECT_EQ(r.live, live_rows.count(s) != 0 ? 1 : 0);
      EXPECT_EQ(r.dead, is_never ? 0 : 1);
      bool comp = compressed.count(s) != 0 || (t == &vek_template && vek_compressed.count(s) != 0);
      EXPECT_EQ(r.compress != 0, comp);
    }
  }
  // Test rows: versions 0/0; "Test live" collects all but deadonly and pcisizes.
  for (uint32_t s = 0; s < test_template.row_count; ++s) {
    const core_dump_template& r = test_template.rows[s];
    if (r.SegmentByteCode == nullptr) continue;
    SCOPED_TRACE("test row " + std::to_string(s));
    EXPECT_EQ(r.low_version, 0);
    EXPECT_EQ(r.high_version, 0);
    EXPECT_EQ(r.live, s == 0xD2 || s == 0xD8 ? 0 : 1);
    EXPECT_EQ(r.dead, s == 0xD1 ? 0 : 1);
  }
}

TEST(DumpPrograms, EveryProgramIsAWholeReadOnlyImageOfItsRowsLength) {
  for (size_t i = 0; i < orsa_dump_program_count; ++i) {
    const DumpProgramInfo& p = orsa_dump_programs[i];
    const core_dump_template& r = rowOf(p);
    SCOPED_TRACE(p.name);
    const uint32_t* w = r.SegmentByteCode;
    uint32_t n = r.byte_code_len;
    ASSERT_GE(n, 17u);
    ASSERT_LE(n, 1024u);
    EXPECT_EQ(w[0], 0u) << "r0 starts good";
    EXPECT_EQ(w[12], 0u);
    EXPECT_EQ(w[13], 0u);
    EXPECT_EQ(w[14], 0u);
    EXPECT_EQ(w[15], 16u) << "entry";
    uint32_t last = 0;
    for (uint32_t k = 16; k < n; ++k)
      if (w[k] == 30) last = k;
    ASSERT_NE(last, 0u) << "no return";
    for (uint32_t k = last + 1; k < n; ++k) EXPECT_EQ(w[k], 0u) << "word " << k << " after the final return";
    for (uint32_t k = 16; k <= last; ++k) {
      uint32_t op = w[k] & 0xFF, kind = (w[k] >> 12) & 3, bits14 = (w[k] >> 14) & 3, op2 = w[k] >> 16;
      EXPECT_FALSE(op >= 12 && op <= 14) << "write at word " << k;
      if (op >= 8 && op <= 10) {
        EXPECT_NE(bits14, 3u) << "doorbell read at word " << k;
      }
      if (op == 29) {
        EXPECT_EQ(kind, 0u) << "stall of a computed length at word " << k;
        EXPECT_LE(op2, 5000u) << "stall at word " << k;
      }
      EXPECT_NE(op, 28u) << "call at word " << k;
    }
  }
}

// Runs every program chunk by chunk: at the start and the end of its first
// and last instance with what the library asks, and at the start with fewer
// bytes asked than a word.
TEST(DumpPrograms, EachChunkWritesAtMostWhatWasAskedAndTheContentItNames) {
  std::map<adapter::Gen, std::unique_ptr<adapter::Adapter>> cards;
  for (adapter::Gen g : {adapter::Gen::KS2, adapter::Gen::KS3, adapter::Gen::Veskarn}) {
    adapter::AdapterConfig cfg = adapter::adapterDefaults(g);
    cfg.mode = adapter::Mode::Sync;
    cards[g] = std::make_unique<adapter::Adapter>(cfg);
    // Registers with values of their own, so that a misplaced read shows.
    for (uint32_t off = 0; off < 0x1000; off += 4) cards[g]->setRegister(0, adapter::Space::PciCfg, off, 0x50000000u + off * 3);
    for (uint32_t off = 0; off < 0x20000; off += 0x404) cards[g]->setRegister(0, adapter::Space::Csr, off, 0xC5000000u + off);
  }
  unsigned asserts = chardev::cdbcAssertions();
  const uint32_t kGuard = 64;
  std::vector<uint8_t> out(ORSA_COREDUMP_CHUNK + kGuard);
  for (size_t i = 0; i < orsa_dump_program_count; ++i) {
    const DumpProgramInfo& p = orsa_dump_programs[i];
    const core_dump_template& r = rowOf(p);
    adapter::Adapter& card = *cards[genOf(p.tmpl)];
    SCOPED_TRACE(p.name);
    for (uint32_t instance : {0u, r.max_instance}) {
      std::vector<uint8_t> want = dumptest::programContent(p.name, p.segment, instance, r.seg_len, card);
      uint32_t last = r.seg_len == 0 ? 0 : (r.seg_len - 1) / ORSA_COREDUMP_CHUNK * ORSA_COREDUMP_CHUNK;
      struct Ask {
        uint32_t offset, length;
      };
      std::vector<Ask> asks = {{0, std::min(r.seg_len, ORSA_COREDUMP_CHUNK)},
                               {last, r.seg_len - last}, {0, std::min(r.seg_len, 3u)}, {0, std::min(r.seg_len, 5u)}};
      for (const Ask& a : asks) {
        SCOPED_TRACE("instance " + std::to_string(instance) + " offset " + std::to_string(a.offset) + " asked " +
                     std::to_string(a.length));
        std::vector<uint32_t> image(r.SegmentByteCode, r.SegmentByteCode + r.byte_code_len);
        std::fill(out.begin(), out.end(), 0xEE);
        chardev::CdbcResult res = chardev::runDumpProgram(card.function(0), card.gen(), image.data(),
                                                          r.byte_code_len, a.offset, instance, a.length, out.data(),
                                                          static_cast<uint32_t>(out.size()));
        EXPECT_EQ(res.status, dumptest::programStatus(p.name, instance));
        ASSERT_LE(res.length, a.length) << "wrote more than asked";
        uint32_t have = want.size() > a.offset ? static_cast<uint32_t>(want.size()) - a.offset : 0;
        if (a.length == std::min(r.seg_len - a.offset, ORSA_COREDUMP_CHUNK)) {
          EXPECT_EQ(res.length, std::min(a.length, have)) << "a whole chunk writes what the instance holds there";
        }
        for (uint32_t k = 0; k < res.length; ++k)
          ASSERT_EQ(out[k], want[a.offset + k]) << "byte " << a.offset + k;
        for (uint32_t k = res.length; k < out.size(); ++k) ASSERT_EQ(out[k], 0xEE) << "written past its length at " << k;
      }
    }
  }
  EXPECT_EQ(chardev::cdbcAssertions(), asserts) << chardev::cdbcLastAssertion();
}

}  // namespace
