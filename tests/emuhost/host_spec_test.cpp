// The host description that scripts/emulated-host reads (host_spec.h): the
// default host's text reads back to the same host, the example file is what
// it says, and every fault is refused with its line.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "host_spec.h"

namespace {

void expectSameHost(const chardev::HostSpec& a, const chardev::HostSpec& b) {
  EXPECT_EQ(a.release, b.release);
  ASSERT_EQ(a.adapters.size(), b.adapters.size());
  for (size_t i = 0; i < a.adapters.size(); ++i) {
    const chardev::AdapterSpec &x = a.adapters[i], &y = b.adapters[i];
    EXPECT_EQ(x.gen, y.gen) << i;
    EXPECT_EQ(x.bus, y.bus) << i;
    EXPECT_EQ(x.device, y.device) << i;
    EXPECT_EQ(x.serial, y.serial) << i;
    ASSERT_EQ(x.functions.size(), y.functions.size()) << i;
    for (size_t k = 0; k < x.functions.size(); ++k) {
      const chardev::FunctionSpec &f = x.functions[k], &g = y.functions[k];
      EXPECT_EQ(f.fn, g.fn);
      EXPECT_EQ(f.proto, g.proto);
      EXPECT_EQ(f.vfs, g.vfs);
      EXPECT_EQ(f.mtu, g.mtu);
      EXPECT_EQ(f.ifname, g.ifname);
      EXPECT_EQ(f.vmhba, g.vmhba);
      EXPECT_EQ(f.iscsi_device, g.iscsi_device);
    }
  }
}

TEST(HostSpecText, TheDefaultHostReadsBackAsItself) {
  chardev::HostSpec parsed;
  std::string error;
  ASSERT_TRUE(chardev::parseHostSpec(chardev::hostSpecText(chardev::defaultHost()), &parsed, &error)) << error;
  expectSameHost(parsed, chardev::defaultHost());
}

TEST(HostSpecText, TheExampleHostIsTheDefaultAndAPivard) {
  std::ifstream in(TAMSIL_SOURCE_DIR "/examples/hosts/three-adapters.host");
  ASSERT_TRUE(in.good());
  std::stringstream text;
  text << in.rdbuf();
  chardev::HostSpec parsed;
  std::string error;
  ASSERT_TRUE(chardev::parseHostSpec(text.str(), &parsed, &error)) << error;
  ASSERT_EQ(parsed.adapters.size(), 3u);
  chardev::HostSpec first_two = parsed;
  first_two.adapters.pop_back();
  expectSameHost(first_two, chardev::defaultHost());
  const chardev::AdapterSpec& p = parsed.adapters[2];
  EXPECT_EQ(p.gen, adapter::Gen::Pivard);
  EXPECT_EQ(p.bus, 7u);
  EXPECT_EQ(p.serial, "PIVEMU000003");
  ASSERT_EQ(p.functions.size(), 2u);
  EXPECT_EQ(p.functions[0].vfs, 2u);
  EXPECT_EQ(p.functions[1].ifname, "vmnic5");
}

TEST(HostSpecText, FaultsAreRefusedWithTheirLine) {
  const std::string ok = "[adapter]\ngen = KS3\nnic = 0 vmnic0\n";
  struct Case {
    const char* what;
    std::string text;
    const char* error;
  } cases[] = {
      {"nothing", "# only a comment\n", "no [adapter]"},
      {"a stray line", "[adapter]\ngen KS3\n", "line 2: neither \"key = value\" nor [adapter]"},
      {"a key before any adapter", "gen = KS3\n", "line 1: \"gen\" outside an [adapter]"},
      {"release after an adapter", ok + "release = x\n", "line 4: release belongs before the first [adapter]"},
      {"an unknown generation", "[adapter]\ngen = KS9\n", "line 2: gen must be KS2, KS3, Pivard or Veskarn"},
      {"a bus too large", ok + "bus = 256\n", "line 4: bus must be 0-255"},
      {"a device too large", ok + "device = 32\n", "line 4: device must be 0-31"},
      {"a negative bus", ok + "bus = -1\n", "line 4: bus must be 0-255"},
      {"a serial with a slash", ok + "serial = ../x\n", "line 4: serial must be"},
      {"a function number too large", "[adapter]\ngen = KS3\nnic = 8 vmnic0\n",
       "line 3: the function number must be 0-7"},
      {"a name with a dollar sign", "[adapter]\ngen = KS3\nnic = 0 vm$nic\n", "line 3: the name must be"},
      {"an unknown nic option", "[adapter]\ngen = KS3\nnic = 0 vmnic0 speed=10\n", "line 3: a nic option is"},
      {"too many VFs", "[adapter]\ngen = KS3\nnic = 0 vmnic0 vfs=65\n", "line 3: a nic option is"},
      {"an iSCSI function without device", "[adapter]\ngen = KS3\niscsi = 2 vmhba33\n", "line 3: iscsi needs"},
      {"an iSCSI device too large", "[adapter]\ngen = KS3\niscsi = 2 vmhba33 128\n", "line 3: iscsi takes"},
      {"an unknown key", ok + "colour = red\n", "line 4: unknown key \"colour\""},
      {"an adapter without generation", "[adapter]\nnic = 0 vmnic0\n", "adapter 1 has no gen"},
      {"an adapter without function", "[adapter]\ngen = KS3\n", "adapter 1 has no function"},
      {"a function twice", ok + "nic = 0 vmnic1\n", "adapter 1: function 0 twice"},
      {"a name twice", ok + "[adapter]\ngen = KS3\nbus = 4\nserial = B\nnic = 0 vmnic0\n", "the name vmnic0 twice"},
      {"two adapters at one place", ok + "[adapter]\ngen = KS3\nserial = B\nnic = 0 vmnic1\n",
       "adapter 2: another adapter has its bus and device"},
      {"two adapters with one serial", ok + "[adapter]\ngen = KS3\nbus = 4\nnic = 0 vmnic1\n",
       "adapter 2: another adapter has its serial"},
  };
  for (const Case& c : cases) {
    chardev::HostSpec spec = chardev::defaultHost();
    std::string error;
    EXPECT_FALSE(chardev::parseHostSpec(c.text, &spec, &error)) << c.what;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    // A refused text leaves the description as it was.
    EXPECT_EQ(spec.adapters.size(), 2u) << c.what;
  }
  // Comments, blank lines, spaces and a name's case of the generation are fine.
  chardev::HostSpec spec;
  std::string error;
  ASSERT_TRUE(chardev::parseHostSpec(
      "  # host\n\n[adapter]   \n  gen=veskarn # the chip\n nic =  1\tvmnic7  mtu=9000\n", &spec, &error))
      << error;
  ASSERT_EQ(spec.adapters.size(), 1u);
  EXPECT_EQ(spec.adapters[0].gen, adapter::Gen::Veskarn);
  EXPECT_EQ(spec.adapters[0].functions[0].fn, 1u);
  EXPECT_EQ(spec.adapters[0].functions[0].mtu, 9000u);
}

}  // namespace
