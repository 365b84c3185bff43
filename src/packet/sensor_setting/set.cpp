#include "packet/sensor_setting/set.h"

#include "packet/cbor.h"
#include "packet/wire_errors.h"

namespace packet::sensor_setting::set {

void Setting::Serialize(ByteWriter& writer) const {
  ModelOPCode::Serialize(writer);
  writer.U16(identifier_);
}

void GatewayInfo::Serialize(ByteWriter& writer) const {
  Setting::Serialize(writer);
  writer.U16(NetAddr);
  writer.U16(GroupAddr);
  writer.U32(static_cast<std::uint32_t>(clock_()));
}

FoldsCtrl::FoldsCtrl(nlohmann::json folds, std::int32_t channel)
    : Setting(kSensorFold), folds_(std::move(folds)), channel_(channel) {}

void FoldsCtrl::Serialize(ByteWriter& writer) const {
  nlohmann::json body = folds_;
  if (channel_ != 0) {
    if (!body.is_object() && !body.is_null()) {
      throw MalformedMessage("folds are not an object: " +
                             body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    }
    body["CH"] = static_cast<std::uint32_t>(channel_);
  }
  Setting::Serialize(writer);
  writer.Raw(EncodeCbor(body));
}

void BeaconCtrl::Serialize(ByteWriter& writer) const {
  Setting::Serialize(writer);
  writer.U8(Enable ? 1 : 0);
}

void OTA::Serialize(ByteWriter& writer) const {
  Setting::Serialize(writer);
  writer.U8(kSubCommand);
  writer.U16(FirmwareType);
  writer.U8(Major);
  writer.U8(Minor);
  writer.U8(Patch);
  writer.U8(Build);
  writer.U16(FirmwareSize);
  writer.Raw(SessionNonce.data(), SessionNonce.size());
}

void OTAData::Serialize(ByteWriter& writer) const {
  Setting::Serialize(writer);
  writer.U8(kSubCommand);
  writer.U16(FirmwareType);
  writer.U16(BlockIndex);
  writer.Raw(BlockData.data(), BlockData.size());
}

}  // namespace packet::sensor_setting::set
