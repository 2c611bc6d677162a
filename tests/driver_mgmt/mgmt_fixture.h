// Fixture of the management channel tests: the driver module loaded, emulated
// functions attached and associated as uplinks (so the channel can name them),
// and a client that sends requests the way a user-space tool does.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bringup_fixture.h"
#include "tamsil_mgmt.h"
#include "vmk_mgmt_client.h"

// The lines of a statistics text with their values left out (a line cut
// short at the end of the buffer is left out too).
inline std::vector<std::string> statLines(const char* text, size_t max) {
  std::vector<std::string> out;
  const std::string t(text, strnlen(text, max));
  size_t at = 0;
  while (at < t.size()) {
    size_t nl = t.find('\n', at);
    if (nl == std::string::npos) break;
    const std::string line = t.substr(at, nl - at);
    out.push_back(line.substr(0, line.find_first_of("0123456789")));
    at = nl + 1;
  }
  return out;
}
inline std::vector<std::string> statLines(const std::vector<uint8_t>& b) {
  return statLines(reinterpret_cast<const char*>(b.data()), b.size());
}

// Bytes [from, to) of an answer are all zero.
inline testing::AssertionResult zeroed(const std::vector<uint8_t>& b, size_t from, size_t to) {
  for (size_t i = from; i < to && i < b.size(); i++)
    if (b[i] != 0) return testing::AssertionFailure() << "byte " << i << " is " << int(b[i]);
  return testing::AssertionSuccess();
}

class MgmtTest : public BringupTest {
 protected:
  struct Uplink {
    vmk_Device dev = nullptr, child = nullptr;
    vmk_Uplink uplink = nullptr;
    Adapter* a = nullptr;
  };

  // Attaches function `fn` of `card` and associates its uplink as `name`.
  Adapter* up(adapter::Adapter& card, unsigned fn, const std::string& name) {
    Uplink u;
    u.dev = plug(card, fn);
    // Until the kernel starts the device it is quiesced and the channel
    // refuses it.
    if (vmktest::attachDevice(u.dev) != VMK_OK || vmktest::scanDevice(u.dev) != VMK_OK ||
        vmktest::startDevice(u.dev) != VMK_OK) {
      ADD_FAILURE() << "attach " << name;
      return nullptr;
    }
    u.a = adapterOf(u.dev);
    u.child = vmktest::childDevices(u.dev).at(0);
    if (vmktest::uplinkAssociate(regDataOf(u.child), name, &u.uplink) != VMK_OK) {
      ADD_FAILURE() << "associate " << name;
      return nullptr;
    }
    uplinks_.push_back(u);
    return u.a;
  }
  // One card of generation `g` (options reload the module first), its
  // function 0 associated as "vmnic1".
  Adapter* upOne(adapter::Gen g, const std::string& opts = "") {
    if (!opts.empty()) {
      vmktest::unloadModule(cleanup_module);
      EXPECT_EQ(0, vmktest::loadModule(init_module, opts));
    }
    adapter::AdapterConfig cfg = adapter::adapterDefaults(g, 1);
    if (g == adapter::Gen::KS2) cfg.fw.fw_caps = 0;  // single channel: VFs allowed
    card_ = &newCard(cfg);
    a_ = up(*card_, 0, "vmnic1");
    return a_;
  }
  // Takes an uplink out of the fixture's list (a test that detached it).
  void forget(vmk_Device dev) {
    for (auto it = uplinks_.begin(); it != uplinks_.end(); ++it)
      if (it->dev == dev) {
        uplinks_.erase(it);
        break;
      }
  }

  // Parks the worker of `a_` between two ticks until TearDown, for tests
  // that set Adapter fields a tick would rewrite (link, moderation, rings).
  void parkWorker() {
    const vmk_WorldID w = a_->worker_world;
    vmktest::onCall("vmk_WorldWait", [this, w] {
      if (vmk_WorldGetID() != w) return;
      parked_ = true;
      while (!releaseWorker_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ASSERT_TRUE(vmktest::waitFor([this] { return parked_.load(); }));
  }

  // Sends callback 33 (4 bytes of configuration space from offset 0) to
  // the function `pciName` from a thread of its own and holds it inside the
  // driver, in its first configuration read, until releaseHeld(). False
  // when it never got there (it is released then).
  bool holdConfigRead(const std::string& pciName) {
    held_ = param(TAMSIL_MGMT_PIVARD_CFG);
    vmktest::MgmtClient::put32(held_, 0, 0);
    vmktest::MgmtClient::put32(held_, 4, 4);
    heldInside_ = false;
    heldOpen_ = false;
    vmktest::onCall("vmk_PCIReadConfig", [this] {
      if (!inHeldThread()) return;
      heldInside_ = true;
      while (!heldOpen_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    holder_ = std::thread([this, pciName] {
      inHeldThread() = true;
      heldResult_ = client_.call(TAMSIL_MGMT_PIVARD_CFG, pciName, &held_).result;
    });
    if (vmktest::waitFor([this] { return heldInside_.load(); })) return true;
    releaseHeld();
    return false;
  }
  // Lets the held request go on and waits for its answer (in held_).
  VMK_ReturnStatus releaseHeld() {
    heldOpen_ = true;
    if (holder_.joinable()) holder_.join();
    vmktest::onCall("vmk_PCIReadConfig", nullptr);
    return heldResult_;
  }
  static bool& inHeldThread() {
    thread_local bool held = false;
    return held;
  }

  void TearDown() override {
    releaseHeld();
    releaseWorker_ = true;
    vmktest::clearFailures();
    vmktest::netPollDrain();
    for (Uplink& u : uplinks_) {
      vmktest::uplinkDisassociate(regDataOf(u.child), u.uplink);
      vmktest::removeDevice(u.child);
    }
    uplinks_.clear();
    BringupTest::TearDown();
  }

  // A request to `a`'s function.
  vmktest::MgmtClient::Reply call(uint64_t id, const Adapter* a, std::vector<uint8_t>* param, uint32_t op = 0,
                                  uint32_t length = 0) {
    return client_.call(id, a->pci_name, param, op, length);
  }
  // A parameter of the size the channel declares for `id`.
  static std::vector<uint8_t> param(uint64_t id) {
    for (vmk_uint32 i = 0; i < tamsil_mgmtSignature.numCallbacks; i++)
      if (tamsil_mgmtSignature.callbacks[i].callbackId == id)
        return std::vector<uint8_t>(tamsil_mgmtSignature.callbacks[i].parameterSizes[1], 0xEE);
    ADD_FAILURE() << "no callback " << id;
    return {};
  }
  // The callback itself, for requests the kernel's transport never makes
  // (another cookie, missing parameters).
  static vmk_MgmtCallback2 callback(uint64_t id) {
    for (vmk_uint32 i = 0; i < tamsil_mgmtSignature.numCallbacks; i++)
      if (tamsil_mgmtSignature.callbacks[i].callbackId == id) return tamsil_mgmtSignature.callbacks[i].callback;
    return nullptr;
  }

  vmktest::MgmtClient client_;
  std::atomic<bool> parked_{false}, releaseWorker_{false};
  std::atomic<bool> heldInside_{false}, heldOpen_{false};
  std::thread holder_;
  std::vector<uint8_t> held_;
  VMK_ReturnStatus heldResult_ = VMK_FAILURE;
  std::vector<Uplink> uplinks_;
  adapter::Adapter* card_ = nullptr;
  Adapter* a_ = nullptr;
};
