// Ring and driver counters, and the rings' producer and consumer indices:
// written by the data path (NetPoll, transmit, the command channel), read by
// the worker's sums and by the statistics reports on other threads. Each
// access is a relaxed atomic: a reader may see a value a moment old, never a
// torn one, and no lock is needed on the data path.
#pragma once

#include <type_traits>

template <typename T>
static inline void tamsil_statAdd(T& counter, std::type_identity_t<T> n) {
  __atomic_fetch_add(&counter, n, __ATOMIC_RELAXED);
}
template <typename T>
static inline void tamsil_statInc(T& counter) {
  __atomic_fetch_add(&counter, static_cast<T>(1), __ATOMIC_RELAXED);
}
template <typename T>
static inline T tamsil_statGet(const T& counter) {
  return __atomic_load_n(&counter, __ATOMIC_RELAXED);
}
template <typename T>
static inline void tamsil_statSet(T& counter, std::type_identity_t<T> v) {
  __atomic_store_n(&counter, v, __ATOMIC_RELAXED);
}
