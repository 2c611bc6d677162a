// The library started over an emulated host for the DCBX tests (the link
// tests' host: controller 0 a KS3 with ports 0-1 NIC functions and 2-3
// iSCSI, controller 1 a Veskarn with ports 0-1, unless a test boots another
// host). The emulated firmware's DCBX side (fw_cfg_dcbx.h) holds each port's
// views, MIB, mode and link descriptors.
#pragma once

#include <string>
#include <vector>

#include "config/cfg_dcbx.h"
#include "fw_cfg_dcbx.h"
#include "link_fixture.h"

class DcbxHost : public LinkHost {
protected:
    adapter::DcbxPort &fwPort(size_t i, unsigned port) { return adapter::dcbxPort(fw(i), port); }
    // A group below a port group ("PFC/PeerPFCSetting" below its DCBX).
    static HmNode *below(HmNode *port_group, const std::string &path) { return group(port_group, "DCBX/" + path); }
    // The payloads of the DCBX configuration writes (16/2) that reached the devices.
    std::vector<std::vector<u8>> writes() const { return sent(16, 2); }
};
