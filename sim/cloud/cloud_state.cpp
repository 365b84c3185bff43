#include "cloud/cloud_state.h"

namespace sim_cloud {
namespace {

using nlohmann::json;

Answer JsonAnswer(int status, const json& body) { return Answer{status, body.dump(), "application/json", {}, false}; }

// A scenario value: a text is sent as it is (so malformed bodies can be scripted),
// anything else as JSON.
Answer ScenarioAnswer(const json& value) {
  if (value.is_string()) return Answer{200, value.get<std::string>(), "application/json", {}, false};
  return JsonAnswer(200, value);
}

const Answer kNotFound{404, R"({"error":"not found"})", "application/json", {}, false};

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::string PathOf(const std::string& target) { return target.substr(0, target.find('?')); }

json RecordedRequest::ToJson() const {
  return json{{"method", method},   {"target", target}, {"request_line", request_line}, {"headers", headers},
              {"body", body},       {"websocket", websocket}, {"status", status},
              {"server_name", server_name}};
}

FaultRule FaultRule::FromJson(const json& rule) {
  FaultRule fault;
  fault.path = rule.value("path", "");
  fault.method = rule.value("method", "");
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

std::optional<Answer> CloudState::File(const std::string& path) const {
  const std::string name = path.substr(path.rfind('/') + 1);
  const auto found = files_.find(name);
  if (found == files_.end()) return std::nullopt;
  return Answer{200, found->second, "application/octet-stream", {}, false};
}

}  // namespace sim_cloud
