/* A dead core dump of a Veskarn adapter (a card in error, so every row
 * flagged for dead dumps is collected, 128 MiB of DDR among them), in
 * megabytes per second of segment data collected; and the deflate of the
 * dump's compressed segments alone, once through the library's CompressData
 * and once through zlib's own compress2 at the same level, in megabytes per
 * second of input. The library's deflate should match zlib's; the whole
 * dump adds the segment reads, the programs the NIC driver runs and the
 * file writes.
 *
 * The library writes the host's files (/etc/vmware, /scratch) and the dump
 * under /tmp: the program runs itself in the throw-away test root. */
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <memory>
#include <string>
#include <vector>

#include "backend/orsa_compress.h"
#include "emulated_host.h"
#include "testroot.h"
#include "maintenance/maint_dump.h"
#include "tree/hm_engine.h"
#include "tree/orsa_api.h"

namespace {

const char *const kPath = "/tmp/bench_dump.dmp";

chardev::HostSpec veskarn()
{
    chardev::HostSpec spec;
    chardev::AdapterSpec a;
    a.gen = adapter::Gen::Veskarn;
    a.bus = 5;
    a.serial = "VSKBENCH0001";
    chardev::FunctionSpec f;
    f.fn = 0;
    f.proto = chardev::Proto::Nic;
    f.ifname = "vmnic0";
    a.functions.push_back(f);
    spec.adapters.push_back(a);
    return spec;
}

/* The data of one instance of a pattern row, as its program writes it. */
std::vector<uint8_t> patternRow(uint32_t segment, uint32_t length)
{
    std::vector<uint8_t> v(length);
    for (uint32_t p = 0; p < length; p += 4) {
        uint32_t w = (segment << 20) + (p & ~63u);
        for (uint32_t i = 0; i < 4 && p + i < length; ++i)
            v[p + i] = (uint8_t)(w >> (8 * i));
    }
    return v;
}

/* The compressed rows a dead Veskarn dump collects. */
std::vector<std::vector<uint8_t>> compressedRows()
{
    std::vector<std::vector<uint8_t>> rows;
    for (uint32_t s = 0; s < vek_template.row_count; ++s) {
        const core_dump_template &r = vek_template.rows[s];
        if (r.SegmentByteCode != nullptr && r.dead && r.compress)
            rows.push_back(patternRow(s, r.seg_len));
    }
    return rows;
}

uint64_t deadBytes()
{
    uint64_t n = 0;
    for (uint32_t s = 0; s < vek_template.row_count; ++s) {
        const core_dump_template &r = vek_template.rows[s];
        if (r.SegmentByteCode != nullptr && r.dead)
            n += (uint64_t)r.seg_len * (r.max_instance + 1);
    }
    return n;
}

void DeadVeskarnDump(benchmark::State &state)
{
    auto host = std::make_unique<chardev::EmulatedHost>(veskarn());
    if (!host->writeHostFiles()) {
        state.SkipWithError("the host's files could not be written");
        return;
    }
    chardev::install(host.get());
    host->card(0).injectUe(1u << 4, 0, 0xD001);
    u32 ks = 0, act = 0;
    if (ORSA_init() != 0 || ORSA_get_node_tag(0, "Kalderstone0", &ks, HM_KIND_GROUP) != 0 ||
        ORSA_get_node_tag(ks, "RetrieveQuorvantixCoreDump", &act, HM_KIND_ACTION) != 0) {
        state.SkipWithError("no controller");
        chardev::install(nullptr);
        return;
    }
    HmValueSlot params[HM_MAX_PARAMS];
    memset(params, 0, sizeof params);
    snprintf(params[0], sizeof params[0], "%s", kPath);
    for (size_t i = 1; i < HM_MAX_PARAMS; ++i)
        params[i][0] = (char)ORSA_PARAM_NOT_GIVEN;
    for (auto _ : state) {
        if (ORSA_do_action(ks, act, params, nullptr) != 0) {
            state.SkipWithError("the dump failed");
            break;
        }
        host->clearLog();
    }
    struct stat st;
    if (stat(kPath, &st) == 0)
        state.counters["file_MB"] = (double)st.st_size / 1e6;
    unlink(kPath);
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)deadBytes());
    ORSA_exit();
    chardev::install(nullptr);
}

void LibraryDeflate(benchmark::State &state)
{
    std::vector<std::vector<uint8_t>> rows = compressedRows();
    int64_t bytes = 0;
    for (const auto &r : rows)
        bytes += (int64_t)r.size();
    std::vector<uint8_t> out;
    for (auto _ : state) {
        for (const auto &r : rows) {
            out.resize(GetMaxCompressedLen((uint32_t)r.size() + 1));
            if (CompressData(r.data(), (uint32_t)r.size(), out.data(), (uint32_t)out.size()) == 0xFFFFFFFFu)
                state.SkipWithError("CompressData failed");
        }
    }
    state.SetBytesProcessed((int64_t)state.iterations() * bytes);
}

void ZlibDeflate(benchmark::State &state)
{
    std::vector<std::vector<uint8_t>> rows = compressedRows();
    int64_t bytes = 0;
    for (const auto &r : rows)
        bytes += (int64_t)r.size();
    std::vector<uint8_t> out;
    for (auto _ : state) {
        for (const auto &r : rows) {
            uLongf n = compressBound((uLong)r.size());
            out.resize(n);
            if (compress2(out.data(), &n, r.data(), (uLong)r.size(), Z_DEFAULT_COMPRESSION) != Z_OK)
                state.SkipWithError("compress2 failed");
        }
    }
    state.SetBytesProcessed((int64_t)state.iterations() * bytes);
}

BENCHMARK(DeadVeskarnDump)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(LibraryDeflate)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(ZlibDeflate)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char **argv)
{
    // Once more, inside the throw-away root.
    testroot::enterOrExit(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
