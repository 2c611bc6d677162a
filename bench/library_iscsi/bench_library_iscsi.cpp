/* One login and its LUNs, at 1, 16 and 64 LUNs of a real target (tgtd in the
 * test root, 192.0.2.1:3260):
 *   LibiscsiAlone: connect, log in, REPORT LUNS, then INQUIRY and READ
 *     CAPACITY(10) per LUN, log out: the protocol work alone.
 *   TreeLoginAndLuns: the tree's Login action on a Target (the adapter's
 *     persistent entry, the login, the session and connection groups, the
 *     LUN scan, the extended timeout), then every LUN's StdInquiry action
 *     and LUNSize read, then Logout: what a client of the library runs. The
 *     emulated firmware does the protocol work with libiscsi, so the
 *     difference is the library's share (and the emulated command channel).
 * Each tree run reports `ratio`: its time per iteration over libiscsi's at
 * the same LUN count (the libiscsi runs come first). The library's share
 * should grow no faster than the LUN count.
 *
 * The program runs itself in the throw-away test root. */
#include <benchmark/benchmark.h>
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "emulated_host.h"
#include "iscsi/fw_iscsi.h"
#include "iscsi/fw_iscsi_net.h"
#include "iscsi/iscsi_persist.h"
#include "iscsi/iscsi_targets.h"
#include "iscsi_target.h"
#include "schema/bootstrap.h"
#include "schema/builders.h"
#include "tree/hm_engine.h"
#include "tree/orsa_api.h"

namespace {

const char *const kInitiator = "iqn.2026-01.emu.bench:initiator";

std::string iqnOf(int luns)
{
    return "iqn.2026-01.emu.bench:luns" + std::to_string(luns);
}

/* The target daemon, started once with three targets. */
testroot::IscsiTarget *daemon()
{
    static testroot::IscsiTarget *tgt = [] {
        auto *t = new testroot::IscsiTarget();
        std::string why;
        if (!t->start(&why)) {
            fprintf(stderr, "tgtd: %s\n", why.c_str());
            return (testroot::IscsiTarget *)nullptr;
        }
        for (int luns : {1, 16, 64}) {
            int tid = t->addTarget(iqnOf(luns));
            for (int l = 1; l <= luns; l++) {
                testroot::IscsiTarget::LunSpec spec;
                spec.blocks = 2048;
                spec.pattern_blocks = 0;
                if (tid <= 0 || !t->addLun(tid, (unsigned)l, spec))
                    return (testroot::IscsiTarget *)nullptr;
            }
        }
        return t;
    }();
    return tgt;
}

std::map<int, double> libiscsi_seconds; // per iteration, by LUN count

bool ok(struct scsi_task *task)
{
    bool good = task != nullptr && task->status == SCSI_STATUS_GOOD;
    if (task != nullptr)
        scsi_free_scsi_task(task);
    return good;
}

void LibiscsiAlone(benchmark::State &state)
{
    const int luns = (int)state.range(0);
    if (daemon() == nullptr) {
        state.SkipWithError("no target");
        return;
    }
    const std::string iqn = iqnOf(luns);
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        struct iscsi_context *ctx = iscsi_create_context(kInitiator);
        iscsi_set_targetname(ctx, iqn.c_str());
        iscsi_set_session_type(ctx, ISCSI_SESSION_NORMAL);
        iscsi_set_header_digest(ctx, ISCSI_HEADER_DIGEST_NONE);
        if (iscsi_full_connect_sync(ctx, "192.0.2.1:3260", -1) != 0) {
            state.SkipWithError(iscsi_get_error(ctx));
            iscsi_destroy_context(ctx);
            return;
        }
        // REPORT LUNS with room for every LUN, then INQUIRY and READ
        // CAPACITY(10) per LUN.
        struct scsi_task *task = iscsi_reportluns_sync(ctx, 0, 8 * (luns + 2) + 8);
        int found = 0;
        auto *list = task != nullptr && task->status == SCSI_STATUS_GOOD
                         ? (struct scsi_reportluns_list *)scsi_datain_unmarshall(task)
                         : nullptr;
        for (uint32_t i = 0; list != nullptr && i < list->num; i++) {
            int lun = list->luns[i];
            // The target's controller (LUN 0) answers INQUIRY but has no capacity.
            bool inquiry = ok(iscsi_inquiry_sync(ctx, lun, 0, 0, 36));
            // A new session's first command meets the target's unit
            // attention (bus reset): it is sent once more, as an initiator does.
            found += inquiry &&
                     (ok(iscsi_readcapacity10_sync(ctx, lun, 0, 0)) || ok(iscsi_readcapacity10_sync(ctx, lun, 0, 0)));
        }
        if (task != nullptr)
            scsi_free_scsi_task(task);
        iscsi_logout_sync(ctx);
        iscsi_destroy_context(ctx);
        if (found < luns) {
            state.SkipWithError("LUNs missing");
            return;
        }
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    libiscsi_seconds[luns] = s / (double)state.iterations();
}

chardev::HostSpec veskarn()
{
    chardev::HostSpec spec;
    chardev::AdapterSpec a;
    a.gen = adapter::Gen::Veskarn;
    a.bus = 5;
    a.serial = "VSKBENCH0002";
    chardev::FunctionSpec nic;
    nic.fn = 0;
    nic.proto = chardev::Proto::Nic;
    nic.ifname = "vmnic0";
    chardev::FunctionSpec iscsi;
    iscsi.fn = 1;
    iscsi.proto = chardev::Proto::Iscsi;
    iscsi.vmhba = "vmhba33";
    iscsi.iscsi_device = 0;
    a.functions = {nic, iscsi};
    spec.adapters.push_back(a);
    return spec;
}

HmNode *findGroup(HmNode *parent, const char *name)
{
    return parent != nullptr ? internal_get_node(parent, name, HM_KIND_GROUP) : nullptr;
}

u32 act(HmNode *group, const char *name, HmValueSlot *params)
{
    u32 tag = 0;
    if (ORSA_get_node_tag(group->tag, name, &tag, HM_KIND_ACTION) != 0)
        return 1;
    return ORSA_do_action(group->tag, tag, params, nullptr);
}

void TreeLoginAndLuns(benchmark::State &state)
{
    const int luns = (int)state.range(0);
    if (daemon() == nullptr) {
        state.SkipWithError("no target");
        return;
    }
    if (system("rm -rf /scratch/ferrosul/orsa/*.txt; mkdir -p /scratch/ferrosul/orsa") != 0) {
        state.SkipWithError("no data folder");
        return;
    }
    auto host = std::make_unique<chardev::EmulatedHost>(veskarn());
    if (!host->writeHostFiles()) {
        state.SkipWithError("the host's files could not be written");
        return;
    }
    chardev::install(host.get());
    adapter::IscsiAddressEntry address;
    address.address[0] = 192, address.address[1] = 0, address.address[2] = 2, address.address[3] = 10;
    address.mask[0] = address.mask[1] = address.mask[2] = 255;
    adapter::iscsiNet(host->engine(0), 1).addresses.push_back(address);
    HmNode *lhba = nullptr;
    if (ORSA_init() == 0)
        lhba = findGroup(findGroup(findGroup(&ROOT, "Kalderstone0"), "iSCSIPhysicalHBA0"), "LogicalHBA0");
    HmValueSlot keys[HM_MAX_PARAMS] = {};
    const std::string iqn = iqnOf(luns);
    HmNode *target = lhba != nullptr ? setup_target(lhba, iqn.c_str(), lhba, nullptr, keys, 0) : nullptr;
    if (target == nullptr || setup_portal(target, "192.0.2.1", "3260", "0") == nullptr ||
        ORSA_add_target_into_file(lhba, target, iqn.c_str(), "192.0.2.1", "3260", nullptr, "True") != 0) {
        state.SkipWithError("no target group");
        ORSA_exit();
        chardev::install(nullptr);
        return;
    }
    HmValueSlot none[HM_MAX_PARAMS];
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        memset(none, ORSA_PARAM_NOT_GIVEN, sizeof none);
        if (act(target, "Login", none) != 0) {
            state.SkipWithError("Login failed");
            break;
        }
        int read = 0;
        for (HmNode *lun = get_first_instance(target, "LUN"); lun != nullptr; lun = hm_next_instance(lun)) {
            u32 size_tag = 0;
            char size[HM_VALUE_SIZE] = "";
            memset(none, ORSA_PARAM_NOT_GIVEN, sizeof none);
            bool inquiry = act(lun, "StdInquiry", none) == 0;
            if (inquiry && ORSA_get_node_tag(lun->tag, "LUNSize", &size_tag, HM_KIND_PROPERTY) == 0 &&
                ORSA_get_property_val(lun->tag, size_tag, size, sizeof size) == 0)
                read++;
        }
        memset(none, ORSA_PARAM_NOT_GIVEN, sizeof none);
        // The target's controller (LUN 0) is listed too; it has no size.
        if (read < luns || act(target, "Logout", none) != 0) {
            state.SkipWithError("LUNs or Logout failed");
            break;
        }
        host->clearLog();
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
               (double)(state.iterations() > 0 ? state.iterations() : 1);
    if (libiscsi_seconds.count(luns) != 0)
        state.counters["ratio"] = s / libiscsi_seconds[luns];
    ORSA_exit();
    chardev::install(nullptr);
}

BENCHMARK(LibiscsiAlone)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(TreeLoginAndLuns)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->MinTime(0.5);

} // namespace

int main(int argc, char **argv)
{
    const char *in_root = getenv("TAMSIL_IN_TESTROOT");
    if (in_root == nullptr || strcmp(in_root, "1") != 0) {
        /* Once more, inside the throw-away root. */
        char self[4096];
        ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0)
            return 1;
        self[n] = '\0';
        char **args = (char **)calloc((size_t)argc + 2, sizeof(char *));
        if (args == nullptr)
            return 1;
        args[0] = (char *)TAMSIL_TESTROOT_PATH;
        args[1] = self;
        for (int i = 1; i < argc; ++i)
            args[i + 1] = argv[i];
        execv(TAMSIL_TESTROOT_PATH, args);
        perror("run-in-testroot");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (testroot::IscsiTarget *t = daemon())
        t->stop();
    return 0;
}
