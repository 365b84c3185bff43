#include "cloud/control_api.h"

#include <nlohmann/json.hpp>

#include "cloud/channel_protocol.h"

namespace sim::cloud {
namespace {

using nlohmann::json;

ControlReply Ok(const json& body = json{{"ok", true}}) { return {200, body.dump()}; }
ControlReply NotFound() { return {404, json{{"error", "unknown control request"}}.dump()}; }

json Parse(const std::string& body) { return body.empty() ? json::object() : json::parse(body); }

ControlReply Sent(std::size_t count) { return Ok(json{{"sent", count}}); }

}  // namespace

ControlApi::ControlApi(CloudHub& hub, std::function<void(bool)> refuse) : hub_(hub), refuse_(std::move(refuse)) {}

ControlReply ControlApi::Handle(const std::string& method, const std::string& target, const std::string& body) {
  try {
    const std::string path = PathOf(target);
    auto& state = hub_.State();
    if (path == "/health") return Ok();
    if (path == "/requests" && method == "GET") {
      json list = json::array();
      for (const auto& request : state.Requests()) list.push_back(request.ToJson());
      return Ok(list);
    }
    if (path == "/requests" && method == "DELETE") {
      state.ClearRequests();
      hub_.ClearChannelRecord();
      return Ok();
    }
    if (path == "/scenario" && method == "PUT") {
      state.ReplaceScenario(Parse(body));
      return Ok();
    }
    if (path == "/scenario" && method == "PATCH") {
      state.MergeScenario(Parse(body));
      return Ok();
    }
    if (path == "/scenario" && method == "GET") return Ok(state.Scenario());
    if (path == "/auth" && method == "POST") state.Auth().Merge(Parse(body));
    if (path == "/auth") return Ok(state.Auth().ToJson());
    if (path == "/faults" && method == "POST") {
      state.AddFault(FaultRule::FromJson(Parse(body)));
      return Ok();
    }
    if (path == "/faults" && method == "DELETE") {
      state.ClearFaults();
      return Ok();
    }
    if (path == "/refuse" && method == "POST") {
      refuse_(Parse(body).value("refuse", true));
      return Ok();
    }
    const std::string files = "/files/";
    if (path.compare(0, files.size(), files) == 0 && method == "PUT") {
      state.PutFile(path.substr(files.size()), body);
      return Ok();
    }
    if (path.compare(0, 8, "/channel") == 0) return HandleChannel(method, path, body);
    return NotFound();
  } catch (const std::exception& error) {
    return {400, json{{"error", error.what()}}.dump()};
  }
}

ControlReply ControlApi::HandleChannel(const std::string& method, const std::string& path, const std::string& body) {
  if (path == "/channel" && method == "GET") return Ok(hub_.ChannelsJson());
  if (method != "POST") return NotFound();
  const json request = Parse(body);
  if (path == "/channel/push") return Sent(hub_.Push(request.at("frame").get<std::string>()));
  if (path == "/channel/folds" || path == "/channel/beacon") {
    const auto device = request.at("device_id").get<std::string>();
    const auto frame = path == "/channel/folds" ? channel::Folds(device, request.at("folds"))
                                                : channel::Beacon(device, request.at("ble_enabled").get<bool>());
    const bool all = request.value("all", false);
    return Sent(hub_.Push(frame, all ? std::string() : channel::Identifier("SensorChannel", device)));
  }
  if (path == "/channel/drop") return Sent(hub_.DropChannels());
  if (path == "/channel/close") return Sent(hub_.CloseChannels());
  if (path == "/channel/pings") {
    hub_.EnablePings(request.value("enabled", true));
    return Ok();
  }
  if (path == "/channel/confirmations") {
    hub_.EnableConfirmations(request.value("enabled", true));
    return Ok();
  }
  return NotFound();
}

}  // namespace sim::cloud
