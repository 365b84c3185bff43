#pragma once

#include <chrono>
#include <memory>

#include "timer/timer_worker.h"

// What the mesh watchdogs run on: one timer worker thread shared by every watchdog of every
// node (their handlers only queue records, so they never hold each other up), and the length
// of their second (shorter in tests).
struct WatchdogTiming {
  std::shared_ptr<timer::TimerWorker> worker;
  std::chrono::milliseconds second{std::chrono::seconds(1)};
};
