#pragma once

#include <functional>
#include <string>

#include "mesh/dispatch_outlet.h"

class CloudClient;
class FirmwareSource;

// The receive dispatch's outlet in the daemon: the cloud client, the firmware manager, the
// send queues, the device settings fetcher and the application's subscription to a device's
// settings.
//
// Threads: the receive thread, and the nodes' watchdogs (their sends). It holds nothing that
// changes; ownership: the cloud client and the firmware manager outlive it, and the handlers
// reach parts of the component that do.
class MeshOutlet : public DispatchOutlet {
 public:
  using EnqueueFunction = std::function<void(const MeshMessage&)>;
  using SubscribeFunction = std::function<void(const std::string& device_id)>;
  using RequestSettingsFunction = std::function<void(const std::string& device_id, bool with_beacon)>;

  MeshOutlet(CloudClient& cloud, FirmwareSource& firmware, EnqueueFunction enqueue, SubscribeFunction subscribe,
             RequestSettingsFunction request_settings);

  void Report(const std::string& report) override;
  void RequestDeviceSettings(const std::string& device_id, bool with_beacon) override;
  bool FirmwareBlock(std::uint16_t address, int type, int index, ota::Block& block) override;
  void Enqueue(const MeshMessage& message) override;
  void Subscribe(const std::string& device_id) override;

 private:
  CloudClient& cloud_;
  FirmwareSource& firmware_;
  const EnqueueFunction enqueue_;
  const SubscribeFunction subscribe_;
  const RequestSettingsFunction request_settings_;
};
