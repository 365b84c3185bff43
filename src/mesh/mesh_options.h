#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "mesh/device_settings_fetcher.h"
#include "mesh/paced_sender.h"

class MeshSettings;
class CloudClient;
class FirmwareSource;

// The component's periodic work; the defaults are the daemon's.
struct MeshPeriods {
  std::chrono::milliseconds beacon_first{std::chrono::seconds(5)};
  std::chrono::milliseconds beacon{std::chrono::seconds(30)};
  std::chrono::milliseconds upgrade_first{std::chrono::seconds(25)};
  std::chrono::milliseconds upgrade{std::chrono::minutes(10)};
  std::chrono::milliseconds heartbeat{std::chrono::minutes(3)};
  std::chrono::milliseconds node_check{std::chrono::seconds(90)};
  // The least time a node stays unheard before it is removed (see NodeRegistry::RemoveStale).
  std::int64_t node_max_age_seconds = 300;
  std::chrono::milliseconds watchdog_second{std::chrono::seconds(1)};  // the watchdogs' clock
};

// The services the mesh component uses; the application hands in the process's (the
// configuration store, the cloud client, the firmware manager), which outlive it.
struct MeshServices {
  MeshSettings& settings;
  CloudClient& cloud;
  FirmwareSource& firmware;
};

// Where and how the mesh component reaches the mesh daemon; the defaults are the daemon's.
struct MeshOptions {
  std::string bus_address;  // empty: the system D-Bus
  // The longest wait for each answer of the mesh daemon while joining.
  std::chrono::milliseconds answer_timeout{std::chrono::seconds(30)};
  // The pause between the mesh daemon reappearing on the bus and joining it again.
  std::chrono::milliseconds rejoin_delay{std::chrono::seconds(1)};
  // The pause before retrying a failed join, doubled after each failure up to retry_max.
  std::chrono::milliseconds retry_first{std::chrono::seconds(5)};
  std::chrono::milliseconds retry_max{std::chrono::minutes(5)};
  MeshPeriods periods;
  SenderPaces paces;
  FetcherOptions fetcher;  // the cloud's device settings: bounds and back-off
};
