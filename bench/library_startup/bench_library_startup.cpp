/* The first ORSA_init (discovery of every adapter) and the last ORSA_exit,
 * and one client read of a property whose handler asks the adapter through
 * the NIC device, over emulated hosts of 1, 2, 4, 8 and 16 KS3 adapters, each
 * with two NIC and two iSCSI functions. The NIC driver's chip block names at
 * most eight adapters: from the ninth on only the iSCSI functions are found.
 *
 * Start-up should cost the same per adapter whatever their number; the read
 * should grow no faster than the hierarchy refresh every NIC request runs
 * (one chip query and one read of the host's configuration file).
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

#include "backend/orsa_gateway.h"
#include "emulated_host.h"
#include "testroot.h"
#include "tree/hm_engine.h"
#include "tree/orsa_api.h"

namespace {

chardev::HostSpec hostOf(int adapters)
{
    chardev::HostSpec spec;
    for (int a = 0; a < adapters; ++a) {
        chardev::AdapterSpec s;
        s.gen = adapter::Gen::KS3;
        s.bus = (uint8_t)(3 + a);
        char serial[32];
        snprintf(serial, sizeof serial, "KS3BENCH%04d", a);
        s.serial = serial;
        for (uint8_t fn = 0; fn < 4; ++fn) {
            chardev::FunctionSpec f;
            f.fn = fn;
            if (fn < 2) {
                f.proto = chardev::Proto::Nic;
                f.ifname = "vmnic" + std::to_string(2 * a + fn);
            } else {
                f.proto = chardev::Proto::Iscsi;
                f.vmhba = "vmhba" + std::to_string(33 + 2 * a + fn - 2);
                f.iscsi_device = 2 * a + fn - 2;
            }
            s.functions.push_back(f);
        }
        spec.adapters.push_back(s);
    }
    return spec;
}

struct Host {
    std::unique_ptr<chardev::EmulatedHost> host;
    explicit Host(int adapters) : host(std::make_unique<chardev::EmulatedHost>(hostOf(adapters)))
    {
        if (!host->writeHostFiles()) {
            fprintf(stderr, "bench_library_startup: the host's files could not be written\n");
            exit(1);
        }
        chardev::install(host.get());
    }
    ~Host() { chardev::install(nullptr); }
};

void StartupPerAdapterCount(benchmark::State &state)
{
    Host h((int)state.range(0));
    for (auto _ : state) {
        if (ORSA_init() != 0) {
            state.SkipWithError("ORSA_init failed");
            break;
        }
        ORSA_exit();
    }
    state.counters["adapters"] = (double)state.range(0);
    state.counters["per_adapter"] = benchmark::Counter((double)state.range(0),
                                                       benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
}

/* ControllerStatus of a KS3 is read from the adapter through the NIC device. */
void NicRoutedRead(benchmark::State &state)
{
    Host h((int)state.range(0));
    if (ORSA_init() != 0) {
        state.SkipWithError("ORSA_init failed");
        return;
    }
    u32 ks = 0, prop = 0;
    char value[HM_VALUE_SIZE];
    if (ORSA_get_node_tag(0, "Kalderstone0", &ks, HM_KIND_GROUP) != 0 ||
        ORSA_get_node_tag(ks, "ControllerStatus", &prop, HM_KIND_PROPERTY) != 0) {
        state.SkipWithError("no ControllerStatus");
        ORSA_exit();
        return;
    }
    for (auto _ : state) {
        if (ORSA_get_property_val(ks, prop, value, sizeof value) != 0) {
            state.SkipWithError("read failed");
            break;
        }
    }
    state.counters["adapters"] = (double)state.range(0);
    ORSA_exit();
}

/* What every NIC request must do first: reopen the NIC device, ask for its
 * functions and read their names from the host's configuration file. The
 * read above should grow no faster than this. */
void NicRefresh(benchmark::State &state)
{
    Host h((int)state.range(0));
    if (ORSA_init() != 0) {
        state.SkipWithError("ORSA_init failed");
        return;
    }
    for (auto _ : state) {
        if (refresh_orsa_hierarchy() != 0) {
            state.SkipWithError("refresh failed");
            break;
        }
        os_put_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
    }
    state.counters["adapters"] = (double)state.range(0);
    ORSA_exit();
}

BENCHMARK(StartupPerAdapterCount)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(NicRoutedRead)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->Unit(benchmark::kMicrosecond);
BENCHMARK(NicRefresh)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->Unit(benchmark::kMicrosecond);

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
