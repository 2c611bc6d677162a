/* UpgradeFlashROM of a full-size image of each generation (every byte
 * written, nothing skipped) over the emulated host, and a plain read of the
 * same file in 1 MiB blocks: bytes per second of each. The update should
 * add little beyond the chunked copies it makes (each component read once,
 * copied into its request and sent in 32768-byte chunks).
 *
 * The library writes the host's files (/etc/vmware, /scratch): the program
 * runs itself in the throw-away test root. */
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "backend/orsa_identity.h"
#include "emulated_host.h"
#include "testroot.h"
#include "fw_library_flash.h"
#include "fw_profile.h"
#include "fwimage.h"
#include "schema/bootstrap.h"
#include "tree/hm_engine.h"
#include "tree/hm_lookup.h"
#include "tree/orsa_api.h"

namespace {

enum Card { kKs2, kKs3, kPivard, kVeskarn };
const u32 kAsic[] = {ORSA_ASIC_KS2, ORSA_ASIC_KS3, ORSA_ASIC_PIVARD, ORSA_ASIC_VESKARN};

chardev::HostSpec hostSpec()
{
    const adapter::Gen gens[] = {adapter::Gen::KS2, adapter::Gen::KS3, adapter::Gen::Pivard, adapter::Gen::Veskarn};
    chardev::HostSpec h;
    for (int i = 0; i < 4; ++i) {
        chardev::AdapterSpec a;
        a.gen = gens[i];
        a.bus = (uint8_t)(2 + i);
        a.serial = "BENCHFW" + std::to_string(i);
        chardev::FunctionSpec f;
        f.fn = 0;
        f.proto = chardev::Proto::Nic;
        f.ifname = "vmnic" + std::to_string(i);
        a.functions.push_back(f);
        h.adapters.push_back(a);
    }
    return h;
}

/* The full-size image of a generation, every byte of its components set. */
fwimage::Image image(Card c)
{
    switch (c) {
    case kKs2:
        return fwimage::ks2({.dense = true}).image;
    case kKs3: {
        std::vector<fwimage::Entry> all;
        for (const fwimage::Ks3Row &r : fwimage::kKs3Rows)
            if (r.optype != 99)
                all.push_back({r.image_type});
        return fwimage::ks3({.revision = 16, .entries = all, .dense = true}).image;
    }
    case kPivard:
        return fwimage::pivard({.data_bytes = (16u << 20) - 184});
    case kVeskarn:
        return fwimage::veskarn({.revision = 16,
                                 .entries = {{0xA0, 0, 0x1000, 0x400000},
                                             {0xE0, 1, 0x401000, 0x100000},
                                             {0xB0, 9, 0x501000, 0x400000},
                                             {0x30, 0xFFFF, 0x901000, 0x200000},
                                             {0xD0, 0xFFFF, 0xB01000, 0x400000}},
                                 .dense = true})
            .image;
    }
    return {};
}

struct Bench {
    std::unique_ptr<chardev::EmulatedHost> host;
    std::string paths[4];
    uint64_t sizes[4] = {};
    Bench()
    {
        host = std::make_unique<chardev::EmulatedHost>(hostSpec());
        if (!host->writeHostFiles()) {
            fprintf(stderr, "bench_firmware_update: the host's files could not be written\n");
            exit(1);
        }
        chardev::install(host.get());
        for (int c = 0; c < 4; ++c) {
            fwimage::Image img = image((Card)c);
            paths[c] = "/tmp/bench_fw_" + std::to_string(c);
            sizes[c] = img.size;
            if (!img.write(paths[c])) {
                fprintf(stderr, "bench_firmware_update: cannot write %s\n", paths[c].c_str());
                exit(1);
            }
            // Every component is written every time: the adapter never holds it.
            adapter::setCrcMismatch(host->engine((size_t)c), adapter::kAnyOptype, true);
        }
    }
    ~Bench() { chardev::install(nullptr); }
};

Bench &bench()
{
    static Bench b;
    return b;
}

void Update(benchmark::State &state)
{
    Bench &b = bench();
    Card c = (Card)state.range(0);
    if (ORSA_init() != 0) {
        state.SkipWithError("ORSA_init failed");
        return;
    }
    HmNode *ks = nullptr;
    for (HmNode *k = get_first_instance(&ROOT, "Kalderstone"); k != nullptr; k = hm_next_instance(k))
        if (get_ks_type(k) == kAsic[c])
            ks = k;
    u32 action = 0;
    if (ks == nullptr || ORSA_get_node_tag(ks->tag, "UpgradeFlashROM", &action, HM_KIND_ACTION) != 0) {
        state.SkipWithError("no UpgradeFlashROM");
        ORSA_exit();
        return;
    }
    HmValueSlot params[HM_MAX_PARAMS];
    memset(params, ORSA_PARAM_NOT_GIVEN, sizeof params);
    snprintf(params[0], sizeof params[0], "%s", b.paths[c].c_str());
    for (auto _ : state) {
        if (ORSA_do_action(ks->tag, action, params, nullptr) != 0) {
            state.SkipWithError("the update failed");
            break;
        }
        state.PauseTiming();
        b.host->clearLog();
        adapter::clearFlashLogs(b.host->engine((size_t)c));
        state.ResumeTiming();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)b.sizes[c]);
    ORSA_exit();
}

void PlainRead(benchmark::State &state)
{
    Bench &b = bench();
    Card c = (Card)state.range(0);
    std::vector<char> block(1u << 20);
    for (auto _ : state) {
        FILE *f = fopen(b.paths[c].c_str(), "rb");
        if (f == nullptr) {
            state.SkipWithError("cannot open the image");
            break;
        }
        while (fread(block.data(), 1, block.size(), f) == block.size())
            benchmark::DoNotOptimize(block.data());
        fclose(f);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)b.sizes[c]);
}

/* 0 KS2, 1 KS3, 2 Pivard, 3 Veskarn. */
BENCHMARK(Update)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(PlainRead)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

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
