#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cloud/image_signer.h"

namespace sim::cloud {

// One request as the stand-in received it: the raw request line, the header lines in
// their order and spelling, and the body.
struct RecordedRequest {
  std::string method;
  std::string target;
  std::string request_line;
  std::vector<std::string> headers;  // "Name: value"
  std::string body;
  std::string server_name;  // TLS SNI; empty when the client sent none
  bool websocket = false;  // a handshake on the channel endpoint
  int status = 0;          // what was answered (0: no answer, e.g. a dropped connection)
  std::int64_t received_ms = 0;  // CLOCK_MONOTONIC in ms, comparable with the other stand-ins' records

  nlohmann::json ToJson() const;
};

// What to do with a request.
struct Answer {
  int status = 200;
  std::string body;
  std::string content_type = "application/json";
  std::chrono::milliseconds delay{0};
  bool drop = false;  // close the connection without answering
  // A file served in part: the header announces the whole body, then only the first bytes
  // are sent and the connection either stalls (closed after `stall_for`, or when the
  // client goes away) or is closed at once (truncated).
  std::optional<std::size_t> stall_after;
  std::optional<std::size_t> truncate_at;
  std::chrono::milliseconds stall_for{std::chrono::minutes(10)};
  // A file sent slowly: the header announces the whole body, then `trickle_bytes` go out
  // every `trickle_every` until it is all sent or the client leaves.
  std::size_t trickle_bytes = 0;
  std::chrono::milliseconds trickle_every{0};
  std::string location;  // a redirect's target (status 302)
};

// A device firmware image as the firmware host serves it: the 32-byte header (magic, the
// version's major, minor, patch and build at bytes 20 to 27, little-endian) and a body that
// fills the file up to `size` bytes (at least the header). The version text is split at
// '.', '+' and '-'; missing or non-numeric pieces count as 0.
std::string DeviceImage(const std::string& version, std::size_t size, std::uint32_t magic = 0x96F3B83D);

// Scripted fault: requests whose path contains `path` (and whose method is `method`, and
// whose body contains `body_contains`, when given) get this answer instead of the normal
// one, `remaining` times (-1: always).
struct FaultRule {
  std::string path;
  std::string method;
  std::string body_contains;
  std::optional<int> status;
  std::string body;
  std::chrono::milliseconds delay{0};
  bool drop = false;
  int remaining = -1;

  static FaultRule FromJson(const nlohmann::json& rule);
};

// The device authorisation script: a code per code request; verification answers the
// queued statuses first, then 201 with the tokens once approved, else 400 (pending).
// Requests bearing a rejected access token are answered 401.
struct AuthScript {
  int request_status = 200;
  bool approved = false;
  std::deque<int> verify;
  std::string access_token = "access-token-1";
  std::string refresh_token = "refresh-token-1";
  int codes_issued = 0;
  std::set<std::string> rejected_tokens;

  bool Rejects(const RecordedRequest& request) const;

  void Merge(const nlohmann::json& update);
  nlohmann::json ToJson() const;
};

// The cloud's REST side: answers requests from the scenario and the scripts, and keeps
// the record of everything received. Used from one thread only.
class CloudState {
 public:
  explicit CloudState(std::string api_prefix = "/api/v1");

  // Records the request and decides the answer (faults first, then the routes).
  Answer Handle(RecordedRequest request);
  // Records a channel handshake; returns its index in the record.
  std::size_t RecordHandshake(RecordedRequest request);
  void SetStatus(std::size_t index, int status) { requests_.at(index).status = status; }

  const std::vector<RecordedRequest>& Requests() const { return requests_; }
  void ClearRequests() { requests_.clear(); }

  // A scenario's "auth" member scripts the device authorisation as the control's /auth does.
  void ReplaceScenario(nlohmann::json scenario) {
    if (scenario.contains("auth")) auth_.Merge(scenario.at("auth"));
    scenario_ = std::move(scenario);
  }
  void MergeScenario(const nlohmann::json& patch) { scenario_.merge_patch(patch); }
  const nlohmann::json& Scenario() const { return scenario_; }

  AuthScript& Auth() { return auth_; }

  void AddFault(FaultRule rule) { faults_.push_back(std::move(rule)); }
  void ClearFaults() { faults_.clear(); }

  void PutFile(const std::string& name, std::string content) { files_[name] = std::move(content); }
  // From now on the firmware host answers NAME.sig with the signature of NAME by `signer`.
  void SignFiles(std::shared_ptr<const ImageSigner> signer) { signer_ = std::move(signer); }

 private:
  std::optional<Answer> MatchFault(const RecordedRequest& request);
  Answer Route(const RecordedRequest& request);
  Answer RouteApi(const std::string& method, const std::string& path, const std::string& body);
  Answer CodeRequest();
  Answer Verify();
  Answer FirmwareConfiguration() const;
  std::optional<Answer> File(const std::string& path) const;
  // The bytes of the file `name` (built image, scripted content or a put file), if any.
  std::optional<std::string> Content(const std::string& name) const;
  // The signature of the file `name`, as its "signature" script says ("bad", "missing").
  std::optional<Answer> Signature(const std::string& name) const;
  // The scenario's "firmware_files" entry for `name`, if any.
  const nlohmann::json* FirmwareFile(const std::string& name) const;

  std::string api_prefix_;
  std::vector<RecordedRequest> requests_;
  nlohmann::json scenario_ = nlohmann::json::object();
  AuthScript auth_;
  std::vector<FaultRule> faults_;
  std::map<std::string, std::string> files_;
  std::shared_ptr<const ImageSigner> signer_;
};

// The path of a request target (without query).
std::string PathOf(const std::string& target);

}  // namespace sim::cloud
