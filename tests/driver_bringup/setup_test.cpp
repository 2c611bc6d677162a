// The queue set as bring-up lays it out: which rings get an interface and a
// transmit queue, which share one, the permanent MAC check and the VXLAN
// port programmed into the firmware.
#include <string>

#include "bringup_fixture.h"

namespace {

struct LayoutCase {
  const char* name;
  adapter::Gen gen;
  const char* options;
  vmk_uint32 vectors;
  const char* ifCreated;   // per ring: '1' owns an interface
  int ifOwner[8];          // ring whose interface id the ring uses
  const char* txCreated;   // per ring: '1' has a transmit queue
};

const LayoutCase kLayouts[] = {
    // Rings 0-4 get interfaces, 5-7 share ring 4's (RSS), queues on 0-4.
    {"VeskarnRss", adapter::Gen::Veskarn, "RSS=4 DRSS=0", 8, "11111000", {0, 1, 2, 3, 4, 4, 4, 4}, "11111000"},
    {"Ks3Rss", adapter::Gen::KS3, "RSS=4 DRSS=0", 8, "11111000", {0, 1, 2, 3, 4, 4, 4, 4}, "11111000"},
    // DRSS rings 4-7 use the default ring's interface; the first makes none.
    {"VeskarnDrss", adapter::Gen::Veskarn, "RSS=0 DRSS=4", 8, "11110000", {0, 1, 2, 3, 0, 0, 0, 0}, "11111000"},
    // Pivard: only ring 0 and the first RSS ring create an interface.
    {"PivardRss", adapter::Gen::Pivard, "RSS=4 DRSS=0", 8, "10001000", {0, 0, 0, 0, 4, 4, 4, 4}, "11111000"},
};

class LayoutTest : public BringupTest, public ::testing::WithParamInterface<LayoutCase> {
 protected:
  std::string options() override { return GetParam().options; }
};

TEST_P(LayoutTest, InterfacesAndTransmitQueuesPerRing) {
  const LayoutCase& c = GetParam();
  vmktest::setHostQueueLimit(8);
  adapter::Adapter& card = newCard(c.gen);
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev)) << c.name;
  Adapter* a = adapterOf(dev);
  ASSERT_EQ(c.vectors, a->num_vectors) << c.name;
  unsigned ifs = 0;
  for (vmk_uint32 i = 0; i < c.vectors; i++) {
    const bool owns = c.ifCreated[i] == '1';
    ifs += owns;
    EXPECT_EQ(owns, a->rxo[i].if_created != 0) << c.name << " ring " << i;
    EXPECT_EQ(a->rxo[c.ifOwner[i]].if_id, a->rxo[i].if_id) << c.name << " ring " << i;
    EXPECT_EQ(c.txCreated[i] == '1', a->txo[i].q.created != 0) << c.name << " ring " << i;
    EXPECT_EQ(c.txCreated[i] == '1', a->txo[i].cq.created != 0) << c.name << " ring " << i;
  }
  EXPECT_EQ(a->rxo[0].if_id, a->default_rx_if) << c.name;
  std::lock_guard<std::mutex> g(card.lock());
  EXPECT_EQ(ifs, card.engine().countLive(adapter::ObjKind::Interface, 0)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Table, LayoutTest, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<LayoutCase>& i) { return std::string(i.param.name); });

TEST_F(BringupTest, PermanentMacMustBeUnicastAndSet) {
  struct Row {
    const char* name;
    std::array<uint8_t, 6> mac;
    VMK_ReturnStatus expect;
  };
  const Row rows[] = {
      {"Multicast", {0x01, 0, 0, 0, 0, 0}, (VMK_ReturnStatus)0xf452ff04u},
      {"AllZero", {0, 0, 0, 0, 0, 0}, (VMK_ReturnStatus)0xf452ff04u},
      {"LocallyAdministered", {0x02, 0, 0, 0, 0, 0x01}, VMK_OK},
  };
  for (const Row& r : rows) {
    adapter::AdapterConfig cfg;
    cfg.fw.gen = adapter::Gen::Veskarn;
    cfg.fw.functions = 1;
    cfg.fw.base_mac = r.mac;
    adapter::Adapter& card = newCard(cfg);
    vmk_Device dev = plug(card);
    const size_t before = logged("Perm mac is invalid");
    EXPECT_EQ(r.expect, vmktest::attachDevice(dev)) << r.name;
    EXPECT_EQ(r.expect == VMK_OK ? 0u : 1u, logged("Perm mac is invalid") - before) << r.name;
    if (r.expect == VMK_OK) {
      EXPECT_EQ(0, memcmp(r.mac.data(), adapterOf(dev)->uplink_reg.perm_mac, 6)) << r.name;
      EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev)) << r.name;
    }
    std::lock_guard<std::mutex> g(card.lock());
    EXPECT_EQ(0u, card.engine().countLive()) << r.name;
  }
}

TEST_F(BringupTest, VxlanPortProgrammedIntoTheProfile) {
  struct Row {
    uint16_t kernelPort;
    uint16_t programmed;
  };
  const Row rows[] = {{0, 8472}, {4789, 4789}};
  for (const Row& r : rows) {
    vmktest::setKernelVxlanPort(r.kernelPort);
    adapter::Adapter& card = newCard(adapter::Gen::Veskarn, 1);
    vmk_Device dev = plug(card);
    ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev)) << r.kernelPort;
    Adapter* a = adapterOf(dev);
    EXPECT_TRUE(a->features & TAMSIL_FEAT_VXLAN_OFFLOAD) << r.kernelPort;
    EXPECT_EQ(r.programmed, a->vxlan_port) << r.kernelPort;
    {
      std::lock_guard<std::mutex> g(card.lock());
      EXPECT_EQ(r.programmed, card.engine().vxlanPort(0)) << r.kernelPort;
    }
    EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev));
  }
}

}  // namespace
