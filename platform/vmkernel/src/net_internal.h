// Internals shared by the network-service files of the kernel stand-in.
#pragma once

#include <atomic>

namespace vmknet {

extern std::atomic<long> netpolls, netpollBindings, uplinks, enabledVfs;

}  // namespace vmknet
