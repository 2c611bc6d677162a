// The host's iSCSI management framework over libdrelmo: the framework
// stand-in (platform/imahost) loads libdrelmo.so as its IMA plugin, lists the
// physical HBAs, their network ports and node, and changes the node's alias
// and the portal's address the way the framework does.
//
// Run it over the emulated host:  scripts/emulated-host build/i386/demo/library/ima_demo
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "imahost.h"

namespace {

using imahost::Oid;
using imahost::Record;
using imahost::u32;

const char *status_text(u32 st)
{
    switch (st) {
    case 0:
        return "ok";
    case 0x80000001:
        return "not supported";
    case 0xC0000000:
        return "invalid parameter";
    case 0xC0000003:
        return "object not found";
    default:
        return "failed";
    }
}

} // namespace

int main()
{
    imahost::Host host;
    std::string why;
    if (!host.load("libdrelmo.so", &why)) {
        fprintf(stderr, "ima_demo: %s\n", why.c_str());
        return 1;
    }
    host.init(0x1234);
    std::vector<Oid> phbas;
    u32 st = host.list("IMA_GetPhbaOidList", &phbas);
    printf("IMA_GetPhbaOidList: %s, %zu physical HBA(s)\n", status_text(st), phbas.size());
    for (const Oid &phba : phbas) {
        Record<imahost::kPhbaProperties> p;
        host.call("IMA_GetPhbaProperties", phba, p.data());
        printf("\nPHBA (tag %u): %s %s, serial %s, firmware %s, driver %s\n", (unsigned)phba.sequence,
               p.wide(0, 64).c_str(), p.wide(256, 256).c_str(), p.wide(2304, 64).c_str(), p.wide(4608, 256).c_str(),
               p.wide(6656, 256).c_str());
        Record<imahost::kNodeProperties> node;
        if (host.call("IMA_VMW_GetNodeProperties", phba, node.data()) == 0)
            printf("  node %s alias \"%s\"\n", node.wide(12, 224).c_str(), node.wide(912, 256).c_str());
        std::vector<Oid> pnps, portals;
        host.list("IMA_GetPnpOidList", &pnps, phba);
        for (const Oid &pnp : pnps) {
            Record<imahost::kPnpProperties> r;
            host.call("IMA_GetPnpProperties", pnp, r.data());
            const imahost::u8 *m = r.data() + 16;
            printf("  port %02x-%02x-%02x-%02x-%02x-%02x, %u Mb/s of %u, frames up to %u\n", m[0], m[1], m[2], m[3],
                   m[4], m[5], r.u32at(32), r.u32at(28), r.u32at(36));
        }
        host.list("IMA_VMW_GetNetworkPortalOidList", &portals, host.oid(7, (u32)phba.sequence));
        for (const Oid &portal : portals) {
            Record<imahost::kPortalProperties> r;
            host.call("IMA_GetNetworkPortalProperties", portal, r.data());
            printf("  portal %u.%u.%u.%u\n", r.data()[4], r.data()[5], r.data()[6], r.data()[7]);
        }
    }
    if (phbas.empty())
        return 0;

    std::vector<u32> alias = imahost::widen("demo host");
    st = host.call("IMA_VMW_SetNodeAlias", phbas[0], alias.data());
    printf("\nIMA_VMW_SetNodeAlias(\"demo host\"): %s\n", status_text(st));
    std::vector<Oid> portals;
    host.list("IMA_VMW_GetNetworkPortalOidList", &portals, host.oid(7, (u32)phbas[0].sequence));
    imahost::IpAddress address{1, {192, 168, 50, 10}};
    if (!portals.empty()) {
        st = host.call("IMA_SetNetworkPortalIpAddress", portals[0], &address);
        printf("IMA_SetNetworkPortalIpAddress(192.168.50.10): %s\n", status_text(st));
        Record<imahost::kIpProperties> ip;
        host.call("IMA_VMW_GetIpProperties", phbas[0], ip.data());
        printf("  subnet mask %u.%u.%u.%u (valid %u), DHCP %u\n", ip.data()[20], ip.data()[21], ip.data()[22],
               ip.data()[23], ip.u32at(12), ip.u32at(4));
    }
    Record<imahost::kNodeProperties> node;
    host.call("IMA_VMW_GetNodeProperties", phbas[0], node.data());
    printf("  node alias now \"%s\"\n", node.wide(912, 256).c_str());
    return 0;
}
