// The emulated firmware's answers to the library's commands, reached through
// the wrappers and the emulated drivers: state kept per adapter, the layouts
// the host reads.
#include <string>

#include "backend/orsa_ioctl_wrappers.h"
#include "channel_fixture.h"

namespace channel_test {
namespace {

std::string text(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), n)); }

TEST_F(ChannelTest, ControllerAttributesIdentifyTheFunction) {
  struct Case {
    uint32_t instance, protocol;
    size_t adapter;
    uint8_t bus, fn;
  } cases[] = {{2, ORSA_PROTO_ISCSI, 0, 3, 3}, {3, ORSA_PROTO_NIC, 1, 5, 0}};
  for (const Case& c : cases) {
    std::vector<uint8_t> a(540, 0);
    ASSERT_EQ(ioctl_fetch_controller_attribs(OrsaPort{c.instance, int32_t(c.protocol)}, a.data(), 0, 0), 0u);
    EXPECT_EQ(text(&a[192], 32), host_->spec().adapters[c.adapter].serial);
    EXPECT_EQ(a[508], c.bus);
    EXPECT_EQ(a[510], c.fn);
    EXPECT_EQ(a[447], host_->engine(c.adapter).portOfFunction(c.fn));
    uint32_t id = host_->card(c.adapter).function(c.fn)->configRead(0, 4);
    EXPECT_EQ(le16(a, 502), uint16_t(id >> 16)) << "device id";
    if (c.protocol == ORSA_PROTO_NIC) {
      EXPECT_EQ(text(&a[352], 32).rfind("sornic", 0), 0u) << "driver text";
    }
  }
}

// A set stores what the firmware keeps; the get of the pair answers it, per
// function (the port state: per port, of the function's port).
TEST_F(ChannelTest, SetThenGetAnswersTheStoredValue) {
  uint8_t set_state[4] = {0, 0, 0, 0};
  ASSERT_EQ(ioctl_set_port_state(OrsaPort{1, ORSA_PROTO_NIC}, set_state, 0, 0), 0u);
  uint8_t got[4] = {9, 9, 9, 9};
  ASSERT_EQ(ioctl_get_port_state(OrsaPort{1, ORSA_PROTO_NIC}, got, 0, 0), 0u);
  EXPECT_EQ(got[0], 0);
  ASSERT_EQ(ioctl_get_port_state(OrsaPort{2, ORSA_PROTO_NIC}, got, 0, 0), 0u);
  EXPECT_EQ(got[0], 1) << "another function's port keeps its own";

  // The initiator name block: flags at 0, the name at 4, the alias at 228.
  std::vector<uint8_t> name(260, 0);
  memcpy(name.data() + 4, "iqn.2026-12.com.example:host", 28);
  memcpy(name.data() + 228, "host", 4);
  ASSERT_EQ(ioctl_save_initiator_name_params(OrsaPort{1, ORSA_PROTO_ISCSI}, name.data(), 0, 0), 0u);
  std::vector<uint8_t> back(260, 0);
  ASSERT_EQ(ioctl_fetch_initiator_name_params(OrsaPort{1, ORSA_PROTO_ISCSI}, back.data(), 0, 0), 0u);
  EXPECT_EQ(back, name);

  // The beacon of a port: port, state, beacon and status durations.
  uint8_t beacon[4] = {1, 1, 5, 6};
  ASSERT_EQ(ioctl_set_beacon_state(OrsaPort{1, ORSA_PROTO_ISCSI}, beacon, 0, 0), 0u);
  uint8_t bstate[4] = {1, 0, 0, 0};
  ASSERT_EQ(ioctl_get_beacon_state(OrsaPort{1, ORSA_PROTO_ISCSI}, bstate, 0, 0), 0u);
  EXPECT_EQ(bstate[0], 1);
  uint8_t other[4] = {0, 0, 0, 0};
  ASSERT_EQ(ioctl_get_beacon_state(OrsaPort{1, ORSA_PROTO_ISCSI}, other, 0, 0), 0u);
  EXPECT_EQ(other[0], 0) << "another port keeps its own";
}

TEST_F(ChannelTest, EventLogSizeEntriesAndClear) {
  std::vector<uint8_t>& log = adapter::libraryEventLog(host_->engine(0));
  log.assign(3 * 64, 0);
  log[64] = 0x42;
  uint8_t q[72] = {};
  uint16_t needed = 0;
  ASSERT_EQ(ioctl_get_eventlogbuffersize(OrsaPort{1, ORSA_PROTO_ISCSI}, q, 0, 0, &needed), 0u);
  EXPECT_EQ(needed, 8 + 3 * 64);
  std::vector<uint8_t> entries(needed, 0);
  ASSERT_EQ(ioctl_get_eventlog_entries(OrsaPort{1, ORSA_PROTO_ISCSI}, entries.data(), needed, 0, 0), 0u);
  EXPECT_EQ(le32(entries, 4), 3u);
  EXPECT_EQ(entries[8 + 64], 0x42);
  ASSERT_EQ(ioctl_clear_event_log(OrsaPort{1, ORSA_PROTO_ISCSI}, 0, 0), 0u);
  ASSERT_EQ(ioctl_get_eventlogbuffersize(OrsaPort{1, ORSA_PROTO_ISCSI}, q, 0, 0, &needed), 0u);
  EXPECT_EQ(needed, 8);
}

}  // namespace
}  // namespace channel_test
