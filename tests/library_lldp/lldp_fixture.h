// The library started over an emulated host for the LLDP, QCN and flow
// control tests (the link tests' host: controller 0 a KS3 with NIC ports 0-1
// and iSCSI ports 2-3, controller 1 a Veskarn with ports 0-1), with the
// LLDP state of the emulated ports at hand.
#pragma once

#include "config/cfg_lldp.h"
#include "fw_library.h"
#include "fw_library_lldp.h"
#include "link_fixture.h"

class LldpHost : public LinkHost {
protected:
    adapter::LldpPort &lldp(size_t i, unsigned p) { return adapter::lldpPort(fw(i), p); }
};

// A host of one adapter of a generation with two NIC functions.
inline chardev::HostSpec singleHost(adapter::Gen gen, const char *serial)
{
    chardev::HostSpec spec;
    spec.adapters.push_back(adapterSpec(gen, 9, serial, {nicFn(0, "vmnic0"), nicFn(1, "vmnic1")}));
    return spec;
}
