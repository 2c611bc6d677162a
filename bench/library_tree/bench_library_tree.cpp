/* Reading a property by tag, listing a group's children and walking the
 * whole tree the way a client does, on a tree of realistic size built with
 * the engine's own functions. The tree lives in memory only: no file of the
 * host is touched, so this runs outside the test root. */
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <vector>

#include "tree/orsa_api.h"
#include "tree_build.h"

namespace {

struct BenchTree {
    HmHierarchy hierarchy{};
    HmNode root{};
    TreeBuild b;
    u8 ctl_bits[2] = {};
    u8 port_bits[16] = {};
    u8 target_bits[16 * 32] = {};
    HmNode *first_ctl = nullptr;
    HmNode *deep_group = nullptr;
    HmNode *deep_prop = nullptr;
    u32 nodes = 0;

    BenchTree()
    {
        static char root_name[] = "ROOT", root_desc[] = " ";
        hierarchy.root = &root;
        hierarchy.name = "";
        hierarchy.max_tag = HM_MAX_TAG;
        hm_setup_hierarchy(&hierarchy);
        root.kind = HM_KIND_GROUP;
        root.name = root_name;
        root.description = root_desc;
        root.parent = &root;
        HmGroup *rg = (HmGroup *)orsa_dzalloc(sizeof(HmGroup));
        root.body = rg;
        add_node(&root, &hierarchy);
        orsa_current_hierarchy[0] = '\0';

        char name[32];
        for (int c = 0; c < 4; c++) {
            HmNode *ctl = b.instance(&root, "Kalderstone", ctl_bits, 16);
            if (first_ctl == nullptr)
                first_ctl = ctl;
            for (int p = 0; p < 30; p++) {
                snprintf(name, sizeof name, "ControllerProperty%d", p);
                b.property(ctl, name, HM_TYPE_STRING, p % 3 ? HM_PROP_READONLY : HM_PROP_WRITABLE, 0, 64, "", "N/A");
            }
            for (int g = 0; g < 10; g++) {
                snprintf(name, sizeof name, "Subgroup%d", g);
                HmNode *sub = b.group(ctl, name);
                for (int p = 0; p < 10; p++) {
                    snprintf(name, sizeof name, "SubProperty%d", p);
                    b.property(sub, name, HM_TYPE_INTEGER, HM_PROP_READONLY, 0, 100, "", "42");
                }
            }
            for (int port = 0; port < 4; port++) {
                HmNode *pg = b.instance(ctl, "PortDiscoveryAndConfiguration", port_bits + c, 4);
                for (int p = 0; p < 40; p++) {
                    snprintf(name, sizeof name, "PortProperty%d", p);
                    b.property(pg, name, HM_TYPE_STRING, HM_PROP_READONLY, 0, 64, "", "value");
                }
            }
            for (int t = 0; t < 64; t++) {
                HmNode *tg = b.instance(ctl, "Target", target_bits + 32 * c, 256);
                for (int p = 0; p < 8; p++) {
                    snprintf(name, sizeof name, "TargetProperty%d", p);
                    HmNode *prop = b.property(tg, name, HM_TYPE_STRING, HM_PROP_READONLY, 0, 224, "",
                                              "iqn.2001-05.com.example:target");
                    deep_group = tg;
                    deep_prop = prop;
                }
            }
        }
        for (u32 t = 0; t < hierarchy.capacity; t++)
            nodes += hierarchy.tag_table[t] != nullptr;
    }
};

BenchTree &tree()
{
    static BenchTree t;
    return t;
}

void BM_PropertyReadByTag(benchmark::State &state)
{
    BenchTree &t = tree();
    char value[HM_VALUE_SIZE];
    for (auto _ : state) {
        u32 rc = ORSA_get_property_val(t.deep_group->tag, t.deep_prop->tag, value, sizeof value);
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(value[0]);
    }
    state.counters["tree_nodes"] = t.nodes;
}
BENCHMARK(BM_PropertyReadByTag);

void BM_ChildTagListing(benchmark::State &state)
{
    BenchTree &t = tree();
    std::vector<u32> tags(1024);
    u32 filter = (u32)state.range(0);
    u32 count = 0;
    for (auto _ : state) {
        u32 rc = ORSA_get_child_tags(t.first_ctl->tag, tags.data(), &count, filter);
        benchmark::DoNotOptimize(rc);
    }
    state.counters["children"] = count;
}
BENCHMARK(BM_ChildTagListing)->Arg(ORSA_FILTER_GROUPS)->Arg(ORSA_FILTER_PROPERTIES)->Arg(ORSA_FILTER_ACTIONS);

/* A client's walk: every group's groups and properties, every property read. */
u32 walk(u32 tag, std::vector<u32> &scratch, char *value)
{
    u32 visited = 1;
    u32 count = 0;
    size_t base = scratch.size();
    scratch.resize(base + 1024);
    if (ORSA_get_child_tags(tag, scratch.data() + base, &count, ORSA_FILTER_PROPERTIES) == 0) {
        for (u32 i = 0; i < count; i++) {
            ORSA_get_property_val(tag, scratch[base + i], value, HM_VALUE_SIZE);
            visited++;
        }
    }
    if (ORSA_get_child_tags(tag, scratch.data() + base, &count, ORSA_FILTER_GROUPS) == 0) {
        std::vector<u32> groups(scratch.begin() + (long)base, scratch.begin() + (long)(base + count));
        for (u32 g : groups)
            visited += walk(g, scratch, value);
    }
    scratch.resize(base);
    return visited;
}

void BM_WholeTreeWalk(benchmark::State &state)
{
    BenchTree &t = tree();
    std::vector<u32> scratch;
    scratch.reserve(8192);
    char value[HM_VALUE_SIZE];
    u32 visited = 0;
    for (auto _ : state) {
        visited = walk(t.root.tag, scratch, value);
        benchmark::DoNotOptimize(visited);
    }
    state.counters["visited"] = visited;
}
BENCHMARK(BM_WholeTreeWalk);

void BM_LookupByLabel(benchmark::State &state)
{
    BenchTree &t = tree();
    for (auto _ : state) {
        HmNode *n = internal_get_node(t.first_ctl, "Target63", HM_KIND_GROUP);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_LookupByLabel);

} // namespace
