#include "cloud/cloud_state.h"

#include <algorithm>

namespace sim::cloud {
namespace {

using nlohmann::json;

Answer Plain(int status, std::string body, std::string content_type = "application/json") {
  Answer answer;
  answer.status = status;
  answer.body = std::move(body);
  answer.content_type = std::move(content_type);
  return answer;
}

Answer JsonAnswer(int status, const json& body) { return Plain(status, body.dump(), "application/json"); }

// A scenario value: a text is sent as it is (so malformed bodies can be scripted),
// anything else as JSON.
Answer ScenarioAnswer(const json& value) {
  if (value.is_string()) return Plain(200, value.get<std::string>(), "application/json");
  return JsonAnswer(200, value);
}

const Answer kNotFound = Plain(404, R"({"error":"not found"})");

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::string PathOf(const std::string& target) { return target.substr(0, target.find('?')); }

json RecordedRequest::ToJson() const {
  return json{{"method", method},   {"target", target}, {"request_line", request_line}, {"headers", headers},
              {"body", body},       {"websocket", websocket}, {"status", status},
              {"server_name", server_name}, {"received_ms", received_ms}};
}

FaultRule FaultRule::FromJson(const json& rule) {
  FaultRule fault;
  fault.path = rule.value("path", "");
  fault.method = rule.value("method", "");
  fault.body_contains = rule.value("body_contains", "");
  if (rule.contains("status")) fault.status = rule.at("status").get<int>();
  fault.body = rule.value("body", "");
  fault.delay = std::chrono::milliseconds(rule.value("delay_ms", 0));
  fault.drop = rule.value("drop", false);
  fault.remaining = rule.value("count", -1);
  return fault;
}

void AuthScript::Merge(const json& update) {
  request_status = update.value("request_status", request_status);
  approved = update.value("approved", approved);
  access_token = update.value("access_token", access_token);
  refresh_token = update.value("refresh_token", refresh_token);
  if (update.contains("reject_tokens")) rejected_tokens = update.at("reject_tokens").get<std::set<std::string>>();
  if (update.contains("verify")) {
    verify.clear();
    for (const auto& status : update.at("verify")) verify.push_back(status.get<int>());
  }
}

json AuthScript::ToJson() const {
  return json{{"request_status", request_status}, {"approved", approved},
              {"verify", json(std::vector<int>(verify.begin(), verify.end()))},
              {"access_token", access_token},     {"refresh_token", refresh_token},
              {"codes_issued", codes_issued}, {"reject_tokens", rejected_tokens}};
}

bool AuthScript::Rejects(const RecordedRequest& request) const {
  const std::string bearer = "Authorization: Bearer ";
  for (const auto& line : request.headers) {
    if (line.compare(0, bearer.size(), bearer) == 0 && rejected_tokens.count(line.substr(bearer.size())) > 0) {
      return true;
    }
  }
  return false;
}

CloudState::CloudState(std::string api_prefix) : api_prefix_(std::move(api_prefix)) {}

Answer CloudState::Handle(RecordedRequest request) {
  Answer answer;
  if (auto fault = MatchFault(request)) {
    answer = *fault;
  } else if (auth_.Rejects(request)) {
    answer.status = 401;
    answer.body = R"({"error":"invalid token"})";
  } else {
    answer = Route(request);
  }
  request.status = answer.drop ? 0 : answer.status;
  requests_.push_back(std::move(request));
  return answer;
}

std::size_t CloudState::RecordHandshake(RecordedRequest request) {
  request.websocket = true;
  requests_.push_back(std::move(request));
  return requests_.size() - 1;
}

std::optional<Answer> CloudState::MatchFault(const RecordedRequest& request) {
  const std::string path = PathOf(request.target);
  for (auto& fault : faults_) {
    if (fault.remaining == 0) continue;
    if (path.find(fault.path) == std::string::npos) continue;
    if (!fault.method.empty() && fault.method != request.method) continue;
    if (request.body.find(fault.body_contains) == std::string::npos) continue;
    if (fault.remaining > 0) --fault.remaining;
    Answer answer;
    if (fault.status) {
      answer.status = *fault.status;
      answer.body = fault.body;
    } else {
      answer = Route(request);
    }
    answer.delay = fault.delay;
    answer.drop = fault.drop;
    return answer;
  }
  return std::nullopt;
}

Answer CloudState::Route(const RecordedRequest& request) {
  const std::string path = PathOf(request.target);
  if (StartsWith(path, api_prefix_ + "/")) {
    return RouteApi(request.method, path.substr(api_prefix_.size()), request.body);
  }
  if (request.method == "GET" && EndsWith(path, "/firmware.conf")) return FirmwareConfiguration();
  if (request.method == "GET") {
    if (auto file = File(path)) return *file;
  }
  return kNotFound;
}

Answer CloudState::RouteApi(const std::string& method, const std::string& path, const std::string& /*body*/) {
  if (method == "POST" && path == "/auth_device/request") return CodeRequest();
  if (method == "POST" && path == "/auth_device/verify") return Verify();
  if (method == "POST" && (path == "/gateways/hb" || path == "/gateways/report")) return JsonAnswer(200, json::object());
  if (method == "GET" && path == "/devices/configurations/firmware.conf") return FirmwareConfiguration();
  const std::string devices = "/devices/";
  if (method == "GET" && StartsWith(path, devices)) {
    const std::string id = path.substr(devices.size());
    const auto& known = scenario_.contains("devices") ? scenario_.at("devices") : json::object();
    if (known.is_object() && known.contains(id)) return ScenarioAnswer(known.at(id));
  }
  return kNotFound;
}

Answer CloudState::CodeRequest() {
  if (auth_.request_status < 200 || auth_.request_status > 299) {
    return JsonAnswer(auth_.request_status, json{{"error", "scripted"}});
  }
  ++auth_.codes_issued;
  return JsonAnswer(auth_.request_status, json{{"code", "code-" + std::to_string(auth_.codes_issued)}});
}

Answer CloudState::Verify() {
  int status = auth_.approved ? 201 : 400;
  if (!auth_.verify.empty()) {
    status = auth_.verify.front();
    auth_.verify.pop_front();
  }
  if (status == 201) {
    return JsonAnswer(201, json{{"access_token", auth_.access_token}, {"refresh_token", auth_.refresh_token}});
  }
  if (status == 408) return JsonAnswer(408, json{{"error", "expired_token"}});
  return JsonAnswer(status, json{{"error", "authorization_pending"}});
}

Answer CloudState::FirmwareConfiguration() const {
  if (!scenario_.contains("firmware_conf")) return kNotFound;
  return ScenarioAnswer(scenario_.at("firmware_conf"));
}

const json* CloudState::FirmwareFile(const std::string& name) const {
  const auto files = scenario_.find("firmware_files");
  if (files == scenario_.end() || !files->is_object()) return nullptr;
  const auto found = files->find(name);
  return found == files->end() || !found->is_object() ? nullptr : &*found;
}

std::optional<std::string> CloudState::Content(const std::string& name) const {
  const json* scripted = FirmwareFile(name);
  if (scripted != nullptr && scripted->contains("image")) {
    const json& image = scripted->at("image");
    return DeviceImage(image.value("version", "1.0.0-0"), image.value("size", std::size_t{100}),
                       image.value("magic", std::uint32_t{0x96F3B83D}));
  }
  if (scripted != nullptr && scripted->contains("content")) return scripted->at("content").get<std::string>();
  if (const auto found = files_.find(name); found != files_.end()) return found->second;
  return std::nullopt;
}

std::optional<Answer> CloudState::Signature(const std::string& name) const {
  const json* scripted = FirmwareFile(name);
  const std::string script = scripted != nullptr ? scripted->value("signature", "") : "";
  const auto content = Content(name);
  if (!signer_ || !content || script == "missing") return std::nullopt;
  // "bad": a valid signature, of other bytes.
  return Plain(200, signer_->Sign(script == "bad" ? *content + " tampered" : *content), "application/octet-stream");
}

std::optional<Answer> CloudState::File(const std::string& path) const {
  const std::string name = path.substr(path.rfind('/') + 1);
  const json* scripted = FirmwareFile(name);
  const std::string suffix = ".sig";
  if (scripted == nullptr && files_.count(name) == 0 && EndsWith(name, suffix)) {
    return Signature(name.substr(0, name.size() - suffix.size()));
  }
  Answer answer = Plain(200, {}, "application/octet-stream");
  if (scripted != nullptr && scripted->contains("redirect_to")) {
    answer.status = 302;
    answer.location = scripted->at("redirect_to").get<std::string>();
    return answer;
  }
  const auto content = Content(name);
  if (!content) return std::nullopt;
  answer.body = *content;
  if (scripted != nullptr) {
    if (scripted->contains("stall_after")) answer.stall_after = scripted->at("stall_after").get<std::size_t>();
    if (scripted->contains("truncate_at")) answer.truncate_at = scripted->at("truncate_at").get<std::size_t>();
    answer.stall_for = std::chrono::milliseconds(scripted->value("stall_ms", answer.stall_for.count()));
    if (scripted->contains("trickle")) {
      const json& trickle = scripted->at("trickle");
      answer.trickle_bytes = std::max<std::size_t>(trickle.value("bytes", std::size_t{1}), 1);
      answer.trickle_every = std::chrono::milliseconds(trickle.value("every_ms", 1000));
    }
  }
  return answer;
}

std::string DeviceImage(const std::string& version, std::size_t size, std::uint32_t magic) {
  std::uint32_t pieces[4] = {0, 0, 0, 0};
  std::size_t piece = 0;
  for (const char c : version) {
    if (c == '.' || c == '+' || c == '-') {
      if (++piece == 4) break;
    } else if (c >= '0' && c <= '9') {
      pieces[piece] = pieces[piece] * 10 + static_cast<std::uint32_t>(c - '0');
    }
  }
  std::string image(std::max<std::size_t>(size, 32), '\0');
  const auto put = [&image](std::size_t at, std::uint32_t value, std::size_t bytes) {
    for (std::size_t index = 0; index < bytes; ++index) image[at + index] = static_cast<char>(value >> (8 * index));
  };
  put(0, magic, 4);
  put(20, pieces[0], 1);
  put(21, pieces[1], 1);
  put(22, pieces[2], 2);
  put(24, pieces[3], 4);
  for (std::size_t at = 32; at < image.size(); ++at) image[at] = static_cast<char>(at & 0xFF);
  return image;
}

}  // namespace sim::cloud
