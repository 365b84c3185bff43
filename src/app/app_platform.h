#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hci/hci_controller.h"
#include "ipc/bus_defaults.h"
#include "mailbox/depesche_poster.h"
#include "ota/firmware_status.h"
#include "status/cloud_facts.h"

class MeshComponent;
class ProvisioningComponent;
class ChannelComponent;
class PlcComponent;

// What the application reaches outside itself. The daemon uses the platform defaults;
// tests point the bus at a stand-in, shorten the waits and hand in component doubles.
struct AppPlatform {
  std::string ubus_socket = ipc::kDefaultSocket;
  std::vector<std::string> bluetoothd_restart = {"/etc/init.d/bluetoothd", "restart"};  // run without a shell
  std::chrono::milliseconds mesh_switch_wait = std::chrono::seconds(5);
  std::chrono::milliseconds network_setup_timeout = std::chrono::seconds(20);
  std::chrono::milliseconds hci_retry = std::chrono::seconds(10);
  std::chrono::milliseconds hci_period = std::chrono::seconds(90);
  // How long the cloud may stay out of reach before the LED says so.
  std::chrono::milliseconds cloud_grace = std::chrono::seconds(60);
  std::shared_ptr<HciController> hci;  // null: the raw HCI socket
};

// How the application builds its components and reaches the process-wide services.
struct AppComponents {
  using Poster = std::shared_ptr<mailbox::DepeschePoster>;
  std::function<std::unique_ptr<MeshComponent>(Poster)> make_mesh;
  std::function<std::unique_ptr<ProvisioningComponent>(Poster)> make_ble;
  std::function<std::unique_ptr<ChannelComponent>(Poster)> make_websocket;
  std::function<std::unique_ptr<PlcComponent>(Poster)> make_plc_manager;
  // Cloud authorisation for a device id; the result handler is called once.
  std::function<void(const std::string&, std::function<void(bool)>)> authenticate;
  std::function<void()> start_firmware_timers;
  // Hands the cloud client an observer of its deliveries (true: the server answered one for
  // good). May be empty.
  std::function<void(std::function<void(bool delivered)>)> observe_deliveries;
  // At shutdown: brings what the cloud client spooled, and the mark of what the cloud took,
  // to storage, so a clean restart sends nothing twice. May be empty.
  std::function<void()> flush_reports;
  // The cloud client's figures for the operator's status; may be empty (nothing known).
  std::function<status::CloudFacts()> cloud_facts;
  // The firmware manager's state for the operator; may be empty (nothing known).
  std::function<ota::FirmwareStatus()> firmware_status;
};

// The real components, handed the process's services: the configuration store, the cloud
// client and the firmware manager, each made on first use.
AppComponents ProductionComponents();
