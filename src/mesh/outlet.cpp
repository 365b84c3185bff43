#include "mesh/outlet.h"

#include "ota/firmware_source.h"
#include "server/cloud_client.h"

MeshOutlet::MeshOutlet(CloudClient& cloud, FirmwareSource& firmware, EnqueueFunction enqueue, SubscribeFunction subscribe,
                       RequestSettingsFunction request_settings)
    : cloud_(cloud),
      firmware_(firmware),
      enqueue_(std::move(enqueue)),
      subscribe_(std::move(subscribe)),
      request_settings_(std::move(request_settings)) {}

void MeshOutlet::Report(const std::string& report) { cloud_.Report(report); }

void MeshOutlet::RequestDeviceSettings(const std::string& device_id, bool with_beacon) {
  request_settings_(device_id, with_beacon);
}

bool MeshOutlet::FirmwareBlock(std::uint16_t address, int type, int index, ota::Block& block) {
  return firmware_.FirmwareBlock(address, type, index, block);
}

void MeshOutlet::Enqueue(const MeshMessage& message) { enqueue_(message); }

void MeshOutlet::Subscribe(const std::string& device_id) { subscribe_(device_id); }
