// The demo's recovery step: two Veskarn ports joined by a cable, frames
// flowing from one to the other, and an unrecoverable error injected into
// the receiving adapter. Its worker notices it, the chip is soft-reset, the
// re-initialisation world rebuilds the adapter, and the same uplink carries
// frames again.
#include <cstdio>
#include <string>
#include <vector>

#include "tamsil_demo_ports.h"
#include "tamsil_ue.h"

namespace {

const char* stateName(vmk_uint16 s) {
  static const char* const names[] = {"not armed", "watching", "UE detected", "recoverable",
                                      "soft reset", "polling",  "re-initialising"};
  return s < 7 ? names[s] : "?";
}

// Frames `to` received, until none came for `quiet_ms`.
unsigned drain(Port& to, unsigned quiet_ms) {
  unsigned got = 0;
  auto last = std::chrono::steady_clock::now();
  do {
    bool any = false;
    for (auto& np : to.a->netpoll) {
      if (np.netpoll == nullptr) continue;
      for (vmk_PktHandle* p : vmktest::netPollTakeRx(np.netpoll)) {
        vmk_PktRelease(p);
        ++got;
        any = true;
      }
    }
    if (any) last = std::chrono::steady_clock::now();
    else std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } while (std::chrono::steady_clock::now() - last < std::chrono::milliseconds(quiet_ms));
  return got;
}

// Frames from `from` to `to`: how many arrived.
unsigned sendAndCount(Port& from, Port& to, unsigned n, uint8_t tag, unsigned quiet_ms = 200) {
  vmk_PktList list;
  vmk_PktListInit(&list);
  for (unsigned i = 0; i < n; ++i) {
    netframes::Spec s;
    s.dst = macOf(to);
    s.src = macOf(from);
    s.proto = 17;
    s.payload = netframes::pattern(400, static_cast<uint8_t>(tag + i));
    vmk_PktHandle* pkt = vmktest::pktMake(netframes::build(s));
    vmk_PktQueueIDSet(pkt, from.a->queue_info.maxRxQueues);
    vmk_PktListAppendPkt(&list, pkt);
  }
  from.reg->ops.uplinkTx(from.cookie, &list);
  const unsigned got = drain(to, quiet_ms);
  from.card->takeWire(0);
  return got;
}

}  // namespace

int tamsil_demoRecovery() {
  if (vmktest::loadModule(init_module, "") != 0) {
    printf("   The module refused to load.\n");
    return 1;
  }
  vmktest::setClockRate(1000.0);
  int failures = 0;
  Port ports[2];
  bool up = bringUp(ports[0], adapter::Gen::Veskarn, 20) && bringUp(ports[1], adapter::Gen::Veskarn, 21);
  if (up) adapter::Adapter::connectCable(*ports[0].card, 0, *ports[1].card, 0);
  for (Port& p : ports)
    if (up && (p.reg->ops.uplinkStartIO(p.cookie) != VMK_OK || !deviceHoldsBuffers(p))) up = false;
  if (!up) {
    printf("   the two ports could not be brought up\n");
    failures++;
  } else {
    Port& a = ports[0];
    Port& b = ports[1];
    // The shortest load-time gate the management key allows, and the wait
    // for it (kernel time runs fast here).
    a.a->tpe_min_after_load = 10;
    while (vmk_GetUptimeMS() - a.a->load_time_ms < 10 * 60000ull) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    printf("   Veskarn %s: %u of 16 frames from the other port arrived; recovery state \"%s\".\n", a.a->pci_name,
           sendAndCount(b, a, 16, 1), stateName(a.a->tpe_state));
    // A slower clock for the recovery itself: its limits are in seconds.
    vmktest::setClockRate(100.0);
    a.a->debug_mask |= TAMSIL_DBG_DRIVER;   // the recovery's progress lines
    vmktest::clearLog();
    a.card->injectUe(0x20, 0, 0xE2A5);
    const vmk_Uplink uplink = a.a->uplink;
    const uint64_t t0 = vmk_GetUptimeMS();
    const auto wall0 = std::chrono::steady_clock::now();
    printf("   Injected a UE (MPU, recoverable, code 0x2A5) while frames keep coming. Times are emulated: the\n");
    printf("   kernel stand-in's clock runs 100 times faster than the wall clock here, so the driver's waits\n");
    printf("   of seconds pass in tens of milliseconds.\n");
    vmk_uint16 seen = __atomic_load_n(&a.a->tpe_state, __ATOMIC_ACQUIRE);
    for (int i = 0; i < 20000 && __atomic_load_n(&a.a->tpe_recoveries, __ATOMIC_ACQUIRE) == 0; ++i) {
      sendAndCount(b, a, 1, 100, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const vmk_uint16 s = __atomic_load_n(&a.a->tpe_state, __ATOMIC_ACQUIRE);
      if (s != seen) {
        printf("     +%5llu ms emulated  %s\n", (unsigned long long)(vmk_GetUptimeMS() - t0), stateName(s));
        seen = s;
      }
      if (__atomic_load_n(&a.a->hw_error, __ATOMIC_ACQUIRE) && s < TPE_UE_REINIT) break;
    }
    const bool recovered = a.a->tpe_recoveries == 1 && a.a->uplink == uplink;
    const double wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    printf("     (%.1f s of emulated kernel time in %.1f s of wall-clock time)\n",
           static_cast<double>(vmk_GetUptimeMS() - t0) / 1000.0, wall_s);
    printf("     the driver logged:\n");
    int shown = 0;
    for (const vmktest::LogLine& l : vmktest::logLines()) {
      const size_t at = l.text.find("] ");
      if (at == std::string::npos) continue;
      const std::string msg = l.text.substr(at + 2);
      static const char* const wanted[] = {"UE Detected!!", "UE lo:", "Invoked Chip Soft Reset",
                                           "TPE recovery: Done with polling", "TPE recovery: Reinit Start",
                                           "TPE recovery: Reinit Successful"};
      bool pick = false;
      for (const char* w : wanted) pick = pick || msg.rfind(w, 0) == 0;
      if (pick) {
        std::string oneLine = msg;
        while (!oneLine.empty() && oneLine.back() == '\n') oneLine.pop_back();
        for (char& c : oneLine)
          if (c == '\n') c = ' ';
        printf("       %s\n", oneLine.c_str());
        shown++;
      }
    }
    vmktest::setClockRate(1000.0);
    if (recovered && deviceHoldsBuffers(a)) {
      drain(a, 200);   // what the stream left behind
      const unsigned ab = sendAndCount(a, b, 16, 50), ba = sendAndCount(b, a, 16, 70);
      printf("   Recovered on the same uplink (%u recovery, state \"%s\"): %u of 16 frames out, %u of 16 in.\n",
             a.a->tpe_recoveries, stateName(a.a->tpe_state), ab, ba);
      if (ab != 16 || ba != 16) failures++;
    } else {
      printf("   The adapter did NOT recover (state \"%s\", hw_error %u).\n", stateName(a.a->tpe_state),
             a.a->hw_error);
      failures++;
    }
  }
  for (Port& p : ports) takeDown(p);
  vmktest::unloadModule(cleanup_module);
  vmktest::setClockRate(1.0);
  return failures;
}
