#pragma once

#include "base/dispatch/queue.hpp"

// Priorities of the shared background pools: work a user is waiting for (sign-in, analysis)
// and housekeeping (catalog and art downloads, update checks).
enum class KVQoS { userInitiated, utility };

// The shared pool for `qos`. Work runs concurrently, in no promised order. Most of it blocks
// on the network, so the pool starts another thread whenever all of its threads are busy (up
// to a cap) instead of queueing new work behind them; threads idle for a while end.
KVQueue& KVBackground(KVQoS qos);
