#include "packet/sensor_data/status.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "log/log.h"
#include "packet/cbor.h"
#include "packet/json_number.h"

namespace packet::sensor_data::status {

void Header::Deserialize(ByteReader& reader) { reader.Raw(Bytes.data(), Bytes.size()); }

void Data::Deserialize(ByteReader& reader) {
  Header::Deserialize(reader);
  Body = reader.Raw(BodyLength());
  DecodeCBOR();
}

namespace {

// Rounds to single precision; magnitudes beyond its range become infinite.
float ToSinglePrecision(double value) {
  if (std::isfinite(value) && std::fabs(value) > FLT_MAX) {
    return std::copysign(std::numeric_limits<float>::infinity(), static_cast<float>(value > 0 ? 1 : -1));
  }
  return static_cast<float>(value);
}

std::string ValueText(const nlohmann::json& v) {
  // Single precision first on purpose (21.3 becomes "21.299999"): the cloud has always stored these texts.
  if (v.is_number_float()) return FixedText(ToSinglePrecision(v.get<double>()));
  return std::to_string(ToInt32(v));
}

}  // namespace

void Data::DecodeCBOR() {
  nlohmann::json value = DecodeCborStrict(Body);
  if (!value.is_object()) throw nlohmann::json::type_error::create(302, "sensor data is not a map", &value);
  const auto v = value.find("v");
  if (v == value.end()) throw nlohmann::json::type_error::create(302, "type must be number, but is null", &value);
  *v = ValueText(*v);
  value["ts"] = clock_();
  std::int32_t channel = 0;
  const auto c = value.find("c");
  if (c != value.end()) {
    LOG_VERBOSE << value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    channel = ToInt32(*c);
    value.erase(c);
  }
  Value = std::move(value);
  Channel = channel;
}

}  // namespace packet::sensor_data::status
