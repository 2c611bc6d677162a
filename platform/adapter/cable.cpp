// Port wires: what each port sent, cables between ports, port counters.
#include "adapter.h"

namespace adapter {

unsigned Adapter::portCount() const { return fw_.ports(); }

void Adapter::bumpPortStat(unsigned port, Stat s) {
  // Every function of the port reads the port's counters in its own block.
  for (unsigned fn = 0; fn < fw_.functions(); ++fn) {
    if (fw_.portOfFunction(fn) != port) continue;
    int w = statsWord(gen(), s, port);
    if (w >= 0) fw_.setStatsWord(fn, static_cast<unsigned>(w), fw_.statsWordValue(fn, static_cast<unsigned>(w)) + 1);
  }
}

void Adapter::putOnWire(unsigned port, std::vector<uint8_t> frame) {
  if (port >= ports_.size()) return;
  Port& p = ports_[port];
  ++p.ctr.tx_frames;
  p.ctr.tx_bytes += frame.size();
  if (p.peer == this) {
    arriveLocked(p.peer_port, frame);
  } else if (p.peer != nullptr) {
    outbox_.push_back({p.peer, p.peer_port, frame});
  }
  p.capture.push_back(std::move(frame));
}

void Adapter::sendOnWire(unsigned port, const std::vector<uint8_t>& frame) {
  std::unique_lock<std::mutex> lk(mu_);
  putOnWire(port, frame);
  flushOutbox(lk);
}

void Adapter::putToBmc(unsigned port, std::vector<uint8_t> frame) {
  if (port < ports_.size()) ports_[port].bmc.push_back(std::move(frame));
}

std::vector<std::vector<uint8_t>> Adapter::takeBmcFrames(unsigned port) {
  std::lock_guard<std::mutex> g(mu_);
  std::vector<std::vector<uint8_t>> v;
  if (port < ports_.size()) v.swap(ports_[port].bmc);
  return v;
}

void Adapter::flushOutbox(std::unique_lock<std::mutex>& lk) {
  if (outbox_.empty()) return;
  while (!outbox_.empty()) {
    std::vector<Outgoing> out;
    out.swap(outbox_);
    ++delivering_;
    lk.unlock();
    for (Outgoing& o : out) o.to->receiveOnWire(o.port, o.bytes);
    lk.lock();
    --delivering_;
  }
  if (pending_.empty() && delivering_ == 0) idle_cv_.notify_all();
}

std::vector<std::vector<uint8_t>> Adapter::takeWire(unsigned port) {
  std::lock_guard<std::mutex> g(mu_);
  std::vector<std::vector<uint8_t>> v;
  if (port < ports_.size()) v.swap(ports_[port].capture);
  return v;
}

void Adapter::receiveOnWire(unsigned port, const std::vector<uint8_t>& frame) {
  std::unique_lock<std::mutex> lk(mu_);
  if (port >= ports_.size()) return;
  arriveLocked(port, frame);
}

void Adapter::connectCable(Adapter& a, unsigned port_a, Adapter& b, unsigned port_b) {
  if (port_a >= a.portCount() || port_b >= b.portCount()) return;
  a.disconnectCable(port_a);
  b.disconnectCable(port_b);
  auto join = [&] {
    a.ports_[port_a].peer = &b;
    a.ports_[port_a].peer_port = port_b;
    b.ports_[port_b].peer = &a;
    b.ports_[port_b].peer_port = port_a;
  };
  if (&a == &b) {
    std::lock_guard<std::mutex> g(a.mu_);
    join();
  } else {
    std::scoped_lock g(a.mu_, b.mu_);
    join();
  }
}

void Adapter::disconnectCable(unsigned port) {
  Adapter* peer;
  unsigned peer_port;
  {
    std::lock_guard<std::mutex> g(mu_);
    if (port >= ports_.size() || ports_[port].peer == nullptr) return;
    peer = ports_[port].peer;
    peer_port = ports_[port].peer_port;
    ports_[port].peer = nullptr;
  }
  std::lock_guard<std::mutex> g(peer->mu_);
  Port& o = peer->ports_[peer_port];
  if (o.peer == this && o.peer_port == port) o.peer = nullptr;
}

Adapter::PortCounters Adapter::portCounters(unsigned port) const {
  std::lock_guard<std::mutex> g(mu_);
  return port < ports_.size() ? ports_[port].ctr : PortCounters{};
}

}  // namespace adapter
