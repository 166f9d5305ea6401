#pragma once

#include <atomic>

// The number of the signal that asked the scan to stop, or 0. A signal handler sets it and the
// thread of every running video reads it, so it is an atomic (a volatile flag is safe only
// within the thread the handler interrupted), and a lock-free one, which a handler may touch.
using StopSignal = std::atomic<int>;
static_assert(StopSignal::is_always_lock_free, "a signal handler may only set a lock-free atomic");
