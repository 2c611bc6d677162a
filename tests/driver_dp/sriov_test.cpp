// SR-IOV virtual functions: enabling and sizing, one firmware interface and
// one registered kernel device per VF, the default MAC, rate, privilege and
// link of each, the kernel's VF requests (MAC, port VLAN, the refused ones),
// frames reaching a VF's endpoint, and nothing left after a failed
// registration or a detach. The firmware side is read from the emulated
// adapter's VF endpoints; the kernel side from the stand-in's VF devices.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "dp_fixture.h"
#include "tamsil_cmds.h"
#include "tamsil_gen.h"

namespace {

using adapter::Gen;
using Mac = std::array<uint8_t, 6>;

constexpr uint8_t kSubCommon = 1;
constexpr uint8_t kOpHsw = 153, kOpVlanConfig = 4, kOpGetPriv = 170, kOpSetPriv = 100, kOpPmacDel = 60, kOpPmacAdd = 59,
                  kOpSetMacList = 148, kOpIfCreate = 50;
constexpr uint32_t kPrivVlan = 0x40;

class SriovTest : public DpTest {
 protected:
  // KS2 firmware without a profile reports its channel mode in its
  // capabilities; VFs need a single channel.
  static void singleChannel(adapter::AdapterConfig* cfg) {
    if (cfg->fw.gen == Gen::KS2) cfg->fw.fw_caps = 0;
  }
  void up(Gen g, unsigned vfs = 4) {
    // The firmware allows 16 VFs per function.
    adapter::AdapterConfig cfg;
    cfg.fw.gen = g;
    cfg.fw.functions = 1;
    singleChannel(&cfg);
    associate(cfg, "max_vfs=" + std::to_string(vfs));
  }
  adapter::Engine::VfEndpoint endpoint(uint8_t domain) {
    std::lock_guard<std::mutex> g(card_->lock());
    return card_->engine().vfEndpoint(0, domain);
  }
  std::vector<uint8_t> vfDomains() {
    std::lock_guard<std::mutex> g(card_->lock());
    return card_->engine().vfDomains(0);
  }
  unsigned seen(uint8_t op) {
    std::lock_guard<std::mutex> g(card_->lock());
    return card_->engine().commandsSeen(kSubCommon, op);
  }
  void fault(uint8_t op, uint8_t status) {
    std::lock_guard<std::mutex> g(card_->lock());
    card_->engine().setFault(kSubCommon, op, {.status = status});
  }
  void clearFaults() {
    std::lock_guard<std::mutex> g(card_->lock());
    card_->engine().clearFaults();
  }
  // The kernel's requests, through VF `vf`'s device.
  VMK_ReturnStatus setMac(uint32_t vf, const Mac& mac) {
    vmk_NetVFMACParms p{};
    p.vfID = vf;
    memcpy(p.mac, mac.data(), 6);
    return vmktest::vfConfigRequest(a_->pci_device, static_cast<uint16_t>(vf < 4 ? vf : 0), VMK_NETPTOP_VF_SET_MAC,
                                    &p);
  }
  VMK_ReturnStatus setVlan(uint16_t vf, uint8_t enable, uint16_t vid, uint8_t prio = 0) {
    vmk_NetVFDefaultVLANParms p{};
    p.vfID = vf;
    p.enable = enable;
    p.vid = vid;
    p.prio = prio;
    return vmktest::vfConfigRequest(a_->pci_device, vf < 4 ? vf : 0, VMK_NETPTOP_VF_SET_DEFAULT_VLAN, &p);
  }
  static Mac macOf(const vmk_uint8* m) {
    Mac r;
    memcpy(r.data(), m, 6);
    return r;
  }
  uint32_t privileges(uint8_t domain) { return endpoint(domain).privileges; }
  // Runs `body` on a card of each generation with four VFs, each on a
  // fresh kernel and module.
  template <class F>
  void eachGen(F body) {
    for (Gen gen : allGens()) {
      SCOPED_TRACE(genText(gen));
      up(gen);
      body(gen);
      TearDown();
      SetUp();
    }
  }
};

// Multi-channel modes leave the PF without VFs; a single-channel mode 3
// enables them and scan registers and configures every one.
TEST_F(SriovTest, MultiChannelModeDecidesWhetherVfsAreEnabled) {
  struct Case {
    uint8_t mode;
    unsigned vfs;
    size_t notices;
  } cases[] = {{4, 0, 1}, {3, 8, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.mode));
    adapter::AdapterConfig cfg = adapter::adapterDefaults(Gen::Veskarn, 1);
    cfg.fw.function_mode = c.mode;
    const size_t before = logged("VFs cannot be enabled in multi-channel mode");
    associate(cfg, "max_vfs=8");
    EXPECT_EQ(c.vfs, a_->num_vfs);
    EXPECT_EQ(c.notices, logged("VFs cannot be enabled in multi-channel mode") - before);
    EXPECT_EQ(c.vfs, vmktest::enabledVfs(a_->pci_device));
    EXPECT_EQ(c.vfs, vmktest::registeredVfs(a_->pci_device));
    EXPECT_EQ(c.vfs, vfDomains().size());
    TearDown();
    SetUp();
  }
}

// The firmware's VF limit caps max_vfs, and the resource split it is told
// names the capped count.
TEST_F(SriovTest, FirmwareLimitCapsMaxVfs) {
  adapter::AdapterConfig cfg = adapter::adapterDefaults(Gen::Veskarn, 1);
  cfg.fw.max_vfs = 4;
  associate(cfg, "max_vfs=8");
  EXPECT_EQ(4, a_->max_vfs);
  EXPECT_EQ(4u, a_->num_vfs);
  std::lock_guard<std::mutex> g(card_->lock());
  const auto& sp = card_->engine().lastSetProfile();
  ASSERT_GE(sp.descriptors.size(), 18u);
  EXPECT_EQ(0x50, sp.descriptors[0]);
  EXPECT_EQ(4, sp.descriptors[16] | sp.descriptors[17] << 8);
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4}), card_->engine().vfDomains(0));
}

// Every VF gets an interface in its domain, a default MAC made of the PF's
// vendor bytes, bus, device/function and VF index, full rate on KS3, the
// VLAN privilege taken away and a link that follows the physical one.
TEST_F(SriovTest, ScanGivesEveryVfItsDefaultMacRateAndLink) {
  struct Where {
    uint8_t bus, dev, fn;
    uint8_t byte4;
  } wheres[] = {{0x05, 0, 1, 0x01}, {0x05, 1, 2, 0x0A}};
  for (Gen gen : allGens()) {
    for (const Where& w : wheres) {
      SCOPED_TRACE(std::string(genText(gen)) + " fn " + std::to_string(w.fn));
      adapter::AdapterConfig cfg;
      cfg.fw.gen = gen;
      cfg.fw.functions = 3;
      singleChannel(&cfg);
      cfg.bus = w.bus;
      cfg.device = w.dev;
      cfg.fw.base_mac = {0x00, 0x11, 0x22, 0x33, 0x44, static_cast<uint8_t>(0x55 - w.fn)};
      vmktest::unloadModule(cleanup_module);
      ASSERT_EQ(0, vmktest::loadModule(init_module, "max_vfs=4,4,4"));
      adapter::Adapter& card = newCard(cfg);
      vmk_Device dev = plug(card, w.fn);
      ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
      ASSERT_EQ(VMK_OK, vmktest::scanDevice(dev));
      Adapter* a = adapterOf(dev);
      ASSERT_EQ(4u, a->num_vfs);
      EXPECT_EQ(4u, vmktest::registeredVfs(a->pci_device));
      for (uint32_t i = 0; i < 4; i++) {
        SCOPED_TRACE(i);
        const Mac want = {0x00, 0x11, 0x22, w.bus, w.byte4, static_cast<uint8_t>(i)};
        EXPECT_EQ(want, macOf(a->vf_cfg[i].default_mac));
        EXPECT_EQ(want, macOf(a->vf_cfg[i].mac));
        std::lock_guard<std::mutex> g(card.lock());
        adapter::Engine::VfEndpoint e = card.engine().vfEndpoint(w.fn, static_cast<uint8_t>(i + 1));
        ASSERT_TRUE(e.present);
        EXPECT_EQ(a->vf_cfg[i].if_handle, e.if_id);
        EXPECT_EQ(std::vector<Mac>{want}, e.macs);
        EXPECT_EQ(gen == Gen::KS3 ? 1000u : 0u, e.qos_bandwidth);
        EXPECT_EQ(0u, e.privileges & kPrivVlan);
        // Follow the physical link, link enabled (no such command on KS2).
        EXPECT_EQ(gen == Gen::KS2 ? 0u : 0x101u, e.logical_link);
        EXPECT_EQ(0, a->sriov.vf_link_state[i]);
        if (gen == Gen::KS3) {
          EXPECT_EQ(0x1BB8u, e.cap_flags);
          EXPECT_EQ(0x1030u, e.en_flags);
        } else {
          // The VF's profile names its flags; enabled are those of 0x1030.
          EXPECT_EQ(e.cap_flags & 0x1030u, e.en_flags);
        }
      }
      {
        std::lock_guard<std::mutex> g(card.lock());
        EXPECT_EQ(gen == Gen::KS3 ? 1000u : 0u, card.engine().qosBandwidth(w.fn, 0));
      }
      for (vmk_Device child : vmktest::childDevices(dev)) vmktest::removeDevice(child);
      unplug(dev);
    }
  }
}

// The kernel's MAC requests: a MAC another VF (or the VF itself) holds, a
// multicast MAC and an index beyond the VFs are refused; a new MAC replaces
// the old one in the firmware; the zero MAC brings the default back.
TEST_F(SriovTest, SetMacRules) {
  eachGen([&](Gen) {
    const Mac def1 = macOf(a_->vf_cfg[1].default_mac);
    const Mac mac0 = macOf(a_->vf_cfg[0].mac);
    EXPECT_EQ(VMK_FAILURE, setMac(1, mac0));   // VF 0 holds it
    EXPECT_EQ(VMK_FAILURE, setMac(1, def1));   // VF 1 holds it already
    EXPECT_EQ(VMK_FAILURE, setMac(1, {0x03, 0x1C, 0x4E, 0, 0, 9}));
    EXPECT_EQ(VMK_FAILURE, setMac(4, {0x02, 0x1C, 0x4E, 0, 0, 9}));
    EXPECT_EQ(std::vector<Mac>{def1}, endpoint(2).macs);

    const Mac fresh = {0x02, 0x1C, 0x4E, 0x0F, 0x00, 0x01};
    EXPECT_EQ(VMK_OK, setMac(1, fresh));
    EXPECT_EQ(fresh, macOf(a_->vf_cfg[1].mac));
    EXPECT_EQ(def1, macOf(a_->vf_cfg[1].default_mac));
    EXPECT_EQ(std::vector<Mac>{fresh}, endpoint(2).macs);
    // Another VF cannot take it now.
    EXPECT_EQ(VMK_FAILURE, setMac(2, fresh));

    EXPECT_EQ(VMK_OK, setMac(1, Mac{}));
    EXPECT_EQ(def1, macOf(a_->vf_cfg[1].mac));
    EXPECT_EQ(std::vector<Mac>{def1}, endpoint(2).macs);
    // Again: the VF goes back to the default it has.
    EXPECT_EQ(VMK_OK, setMac(1, Mac{}));
    EXPECT_EQ(std::vector<Mac>{def1}, endpoint(2).macs);

    // VF 2 takes VF 1's default while VF 1 has another MAC: VF 1 cannot
    // have its default back, and keeps what it has.
    EXPECT_EQ(VMK_OK, setMac(1, fresh));
    EXPECT_EQ(VMK_OK, setMac(2, def1));
    EXPECT_EQ(VMK_FAILURE, setMac(1, Mac{}));
    EXPECT_EQ(fresh, macOf(a_->vf_cfg[1].mac));
    EXPECT_EQ(std::vector<Mac>{fresh}, endpoint(2).macs);
    EXPECT_EQ(std::vector<Mac>{def1}, endpoint(3).macs);
  });
}

// A MAC the firmware will not remove stays, and the request is refused.
TEST_F(SriovTest, SetMacRefusedWhenTheOldMacStays) {
  eachGen([&](Gen) {
    const Mac def0 = macOf(a_->vf_cfg[0].mac);
    const bool list = tamsil_hasTrait(a_, TAMSIL_GT_MAC_LIST);
    fault(list ? kOpSetMacList : kOpPmacDel, 3);
    const size_t before = logged("VF MAC Address Deletion failed for vf_idx(=0)");
    EXPECT_EQ(VMK_FAILURE, setMac(0, {0x02, 0x1C, 0x4E, 0x0F, 0x00, 0x02}));
    EXPECT_EQ(1u, logged("VF MAC Address Deletion failed for vf_idx(=0)") - before);
    clearFaults();
    EXPECT_EQ(def0, macOf(a_->vf_cfg[0].mac));
    EXPECT_EQ(std::vector<Mac>{def0}, endpoint(1).macs);
  });
}

// Port VLAN requests: the id is checked only when enabling; VLAN 0 sends
// no second switch command; the PF takes the VLAN privilege while it
// enforces a port VLAN and gives it back when it stops; the VLAN filter is
// cleared except on Pivard.
TEST_F(SriovTest, SetDefaultVlanRules) {
  eachGen([&](Gen gen) {
    const bool filter = gen != Gen::Pivard;
    unsigned hsw = seen(kOpHsw), vlan = seen(kOpVlanConfig);

    EXPECT_EQ(VMK_BAD_PARAM, tamsil_setVFVLAN(a_, 1, 1, 4095, 0));
    EXPECT_EQ(VMK_FAILURE, setVlan(1, 1, 4095));
    EXPECT_EQ(VMK_BAD_PARAM, tamsil_setVFVLAN(a_, 1, 4, 10, 0));
    EXPECT_EQ(hsw, seen(kOpHsw));

    EXPECT_EQ(VMK_OK, setVlan(1, 1, 100, 5));
    EXPECT_EQ(hsw + 2, seen(kOpHsw));
    EXPECT_EQ(vlan + (filter ? 1 : 0), seen(kOpVlanConfig));
    EXPECT_EQ(100, endpoint(2).pvid);
    EXPECT_TRUE(endpoint(2).vlans.empty());
    EXPECT_EQ(0u, privileges(2) & kPrivVlan);
    EXPECT_EQ(1, a_->vf_cfg[1].pvlan_enabled);
    EXPECT_EQ(100, a_->vf_cfg[1].pvlan_id);

    hsw = seen(kOpHsw);
    EXPECT_EQ(VMK_OK, setVlan(1, 1, 0));
    EXPECT_EQ(hsw + 1, seen(kOpHsw));   // the clearing one only
    EXPECT_EQ(65535, endpoint(2).pvid);
    EXPECT_EQ(1, a_->vf_cfg[1].pvlan_enabled);
    EXPECT_EQ(0, a_->vf_cfg[1].pvlan_id);
    EXPECT_EQ(0u, privileges(2) & kPrivVlan);

    // Disabling does not look at the id.
    EXPECT_EQ(VMK_OK, setVlan(1, 0, 4095));
    EXPECT_EQ(kPrivVlan, privileges(2) & kPrivVlan);
    EXPECT_EQ(0, a_->vf_cfg[1].pvlan_enabled);
    EXPECT_EQ(0xFFFF, a_->vf_cfg[1].pvlan_id);
    EXPECT_EQ(65535, endpoint(2).pvid);
    // The privilege is only written when it changes.
    const unsigned sets = seen(kOpSetPriv);
    EXPECT_EQ(VMK_OK, setVlan(1, 0, 0));
    EXPECT_EQ(sets, seen(kOpSetPriv));
  });
}

// Privilege failures end the VLAN request (and a configuration) with the
// firmware's status; the other VF requests are refused as unsupported.
TEST_F(SriovTest, PrivilegeFailuresAndRefusedRequests) {
  up(Gen::Veskarn);
  fault(kOpGetPriv, 5);
  EXPECT_EQ(5u, tamsil_setVFVLAN(a_, 1, 0, 10, 0));
  EXPECT_EQ(1u, logged("Getting Privilege for VF 1 failed status = 5"));
  EXPECT_EQ(VMK_FAILURE, setVlan(0, 1, 10));
  EXPECT_EQ(5u, tamsil_configureVFs(a_));
  EXPECT_EQ(1u, logged("Get Privilege for VF 1 failed status = 5"));
  clearFaults();
  fault(kOpSetPriv, 5);
  EXPECT_EQ(5u, tamsil_setVFVLAN(a_, 0, 0, 0, 0));
  EXPECT_EQ(1u, logged("Setting Privilege for VF 1 failed status = 5"));
  clearFaults();

  vmk_NetVFStatsParms st{2};
  EXPECT_EQ(VMK_NOT_SUPPORTED, vmktest::vfConfigRequest(a_->pci_device, 2, VMK_NETPTOP_VF_GET_STATS, &st));
  EXPECT_EQ(1u, logged("vf_id=2:Adapter does not support PF access to VF statistics."));
  vmk_NetVFRXModeParms rx{3, 1, 1, 1, 0, 1};
  EXPECT_EQ(VMK_NOT_SUPPORTED, vmktest::vfConfigRequest(a_->pci_device, 3, VMK_NETPTOP_VF_SET_RX_MODE, &rx));
  EXPECT_EQ(1u, logged("vf_id=3 flags: ucast 1 mcast 1 bcast 1 allmulti 0 promiscuous 1 Changing RX mode"));
  EXPECT_EQ(VMK_FAILURE, vmktest::vfConfigRequest(a_->pci_device, 0, 13, &st));
  EXPECT_EQ(1u, logged("Unhandled OP 13"));
}

// Two kernel threads asking one MAC for two VFs: the second waits for the
// first and is refused, instead of both VFs getting the MAC.
TEST_F(SriovTest, ConcurrentMacRequestsAreSerialised) {
  up(Gen::KS3);
  // Real time: the held command must not time out meanwhile.
  vmktest::setClockRate(1.0);
  const Mac x = {0x02, 0x1C, 0x4E, 0x0F, 0x00, 0x05};
  const Mac def1 = macOf(a_->vf_cfg[1].mac);
  {
    std::lock_guard<std::mutex> g(card_->lock());
    card_->engine().setFault(kSubCommon, kOpPmacAdd, {.late = true, .times = 1});
  }
  std::atomic<VMK_ReturnStatus> first{~0u}, second{~0u};
  std::thread t1([&] { first = setMac(0, x); });
  ASSERT_TRUE(vmktest::waitFor([&] { return card_->heldCompletions(0) == 1; }));
  std::thread t2([&] { second = setMac(1, x); });
  EXPECT_FALSE(vmktest::waitFor([&] { return second != ~0u; }, 200));
  card_->releaseHeldCompletions(0);
  t1.join();
  t2.join();
  EXPECT_EQ(VMK_OK, first);
  EXPECT_EQ(VMK_FAILURE, second);
  EXPECT_EQ(std::vector<Mac>{x}, endpoint(1).macs);
  EXPECT_EQ(std::vector<Mac>{def1}, endpoint(2).macs);
}

// A frame for a VF's MAC reaches that VF's endpoint only, and follows the
// MAC when the kernel changes it.
TEST_F(SriovTest, FrameToAVfMacReachesThatVfOnly) {
  eachGen([&](Gen) {
    // Who gets a frame is decided by its destination alone.
    auto frameTo = [](const Mac& dst) {
      std::vector<uint8_t> f(64, 0);
      std::copy(dst.begin(), dst.end(), f.begin());
      const uint8_t src[6] = {0x02, 0x1C, 0x4E, 0x0E, 0x00, 0x01};
      std::copy(src, src + 6, f.begin() + 6);
      f[12] = 0x08;
      return f;
    };
    const adapter::Adapter::PortCounters before = card_->portCounters(0);
    card_->receiveOnWire(0, frameTo(macOf(a_->vf_cfg[2].mac)));
    card_->receiveOnWire(0, frameTo(macOf(a_->vf_cfg[2].mac)));
    for (uint8_t d = 1; d <= 4; d++) EXPECT_EQ(d == 3 ? 2u : 0u, endpoint(d).delivered_frames) << int(d);
    const adapter::Adapter::PortCounters after = card_->portCounters(0);
    // Nothing of the PF's saw them.
    EXPECT_EQ(before.rx_filtered, after.rx_filtered);
    EXPECT_EQ(before.rx_no_buffer, after.rx_no_buffer);
    EXPECT_EQ(before.rx_delivered, after.rx_delivered);

    const Mac old = macOf(a_->vf_cfg[2].mac), fresh = {0x02, 0x1C, 0x4E, 0x0F, 0x00, 0x03};
    ASSERT_EQ(VMK_OK, setMac(2, fresh));
    card_->receiveOnWire(0, frameTo(old));
    card_->receiveOnWire(0, frameTo(fresh));
    EXPECT_EQ(3u, endpoint(3).delivered_frames);
  });
}

// Registration failing at VF 2 of 4, in the kernel or in the firmware,
// leaves no VF interface and no VF device; the scan itself goes on.
TEST_F(SriovTest, RegistrationFailingAtTheThirdVfLeavesNothing) {
  struct Case {
    const char* name;
    const char* call;   // kernel service failing on its third call
    bool fwIf;          // the third VF interface create fails instead
    const char* text;
  } cases[] = {
      {"register", "vmk_PCIRegisterVF", false, "vmk_PCIRegisterVF failed: "},
      {"device", "vmk_PCIGetVFPCIDevice", false, "vmk_PCIGetVFPCIDevice failed: "},
      {"interface", nullptr, true, "tamsil_cmdIfCreate failed for vf_idx(=2)"},
  };
  // The PF's own interfaces (made at attach), so that a limit can let two
  // VF interfaces through and refuse the third.
  size_t pfIfs = 0;
  {
    adapter::Adapter& probe = newCard(adapter::adapterDefaults(Gen::Veskarn, 1));
    vmk_Device dev = plug(probe);
    ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
    {
      std::lock_guard<std::mutex> g(probe.lock());
      pfIfs = probe.engine().countLive(adapter::ObjKind::Interface, 0);
    }
    unplug(dev);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vmktest::unloadModule(cleanup_module);
    ASSERT_EQ(0, vmktest::loadModule(init_module, "max_vfs=4"));
    adapter::AdapterConfig cfg = adapter::adapterDefaults(Gen::Veskarn, 1);
    if (c.fwIf) cfg.fw.ifaces = static_cast<uint16_t>(pfIfs + 2);
    adapter::Adapter& card = newCard(cfg);
    vmk_Device dev = plug(card);
    ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
    Adapter* a = adapterOf(dev);
    ASSERT_EQ(4u, a->num_vfs);
    {
      std::lock_guard<std::mutex> g(card.lock());
      ASSERT_EQ(pfIfs, card.engine().countLive(adapter::ObjKind::Interface, 0));
    }
    if (c.call != nullptr) vmktest::failCall(c.call, 3);
    const size_t before = logged(c.text);
    const size_t regFailed = logged("register_vfs failed status: 0x");
    EXPECT_EQ(VMK_OK, vmktest::scanDevice(dev));
    EXPECT_EQ(regFailed + 1, logged("register_vfs failed status: 0x"));
    EXPECT_EQ(before + 1, logged(c.text));
    EXPECT_EQ(0u, vmktest::registeredVfs(a->pci_device));
    EXPECT_EQ(0, vmktest::netLive().vfDevices);
    {
      std::lock_guard<std::mutex> g(card.lock());
      EXPECT_TRUE(card.engine().vfDomains(0).empty());
      EXPECT_EQ(pfIfs, card.engine().countLive(adapter::ObjKind::Interface, 0));
    }
    for (uint32_t i = 0; i < 4; i++) {
      EXPECT_EQ(0u, a->vf_cfg[i].if_handle);
      EXPECT_EQ(nullptr, a->sriov.vf_devices[i]);
    }
    vmktest::clearFailures();
    auto children = vmktest::childDevices(dev);
    ASSERT_EQ(1u, children.size());
    EXPECT_EQ(VMK_OK, vmktest::removeDevice(children[0]));
    unplug(dev);
    EXPECT_EQ(0u, card.engine().countLive());
  }
}

// Detach with VFs in use (a MAC and a port VLAN set) removes the VF
// devices through their remove operation, the VF interfaces and filters,
// and disables the VFs.
TEST_F(SriovTest, DetachWithVfsActiveLeavesNothing) {
  eachGen([&](Gen) {
    ASSERT_EQ(VMK_OK, setMac(0, {0x02, 0x1C, 0x4E, 0x0F, 0x00, 0x04}));
    ASSERT_EQ(VMK_OK, setVlan(3, 1, 7));
    EXPECT_EQ(4, vmktest::netLive().vfDevices);
    vmktest::netPollDrain();
    vmktest::uplinkDisassociate(regDataOf(child_), uplink_);
    vmktest::removeDevice(child_);
    uplink_ = nullptr;
    vmk_PCIDevice pf = a_->pci_device;
    adapter::Adapter* card = card_;
    const size_t removed = logged("VF device:");
    unplug(dev_);
    a_ = nullptr;
    EXPECT_EQ(0u, vmktest::registeredVfs(pf));
    EXPECT_EQ(0, vmktest::netLive().vfDevices);
    EXPECT_EQ(0, vmktest::netLive().enabledVfs);
    EXPECT_EQ(removed + 4, logged("VF device:"));
    {
      std::lock_guard<std::mutex> g(card->lock());
      EXPECT_EQ(0u, card->engine().countLive());
    }
  });
}

}  // namespace
