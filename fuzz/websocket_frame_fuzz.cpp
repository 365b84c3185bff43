// A frame from the cloud's channel server.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "packet_fuzz_support.h"
#include "websocket/channel_frame.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::StartSilentLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  websocket::FrameAction action;
  try {
    action = websocket::InterpretFrame(text);
  } catch (const nlohmann::json::exception&) {
    return 0;  // malformed: the endpoint logs and drops it
  } catch (const std::invalid_argument&) {
    return 0;
  }
  using Kind = websocket::FrameAction::Kind;
  if (action.kind == Kind::folds || action.kind == Kind::beacon) {
    fuzz_support::Require(action.payload.is_object(), "payload is an object");
    fuzz_support::Require(action.payload.contains("device_id") && action.payload["device_id"].is_string(),
                          "device_id is text");
  }
  if (action.kind == Kind::beacon) fuzz_support::Require(action.payload["beacon"].is_boolean(), "beacon is a bool");
  return 0;
}
