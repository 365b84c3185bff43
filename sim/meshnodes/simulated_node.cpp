#include "meshnodes/simulated_node.h"

#include <iostream>
#include <thread>

#include "meshnodes/daemon_proxies.h"

namespace sim::meshnodes {

namespace {

using namespace std::chrono_literals;

constexpr auto kAttachRetry = 200ms;

}  // namespace

SimulatedNode::SimulatedNode(sdbus::IConnection& connection, std::uint16_t address, Hear hear,
                             std::chrono::milliseconds answer_timeout)
    : identity_(address),
      connection_(connection),
      answer_timeout_(answer_timeout),
      app_(connection, identity_,
           NodeApp::Handlers{[this](std::uint64_t token) { join_answer_.Set({token, ""}); },
                             [this](const std::string& reason) { join_answer_.Set({0, reason}); }, std::move(hear),
                             [this](std::uint16_t source, const Bytes& data) {
                               if (source == identity_.address) config_reply_.Set(data);
                             }}) {}

SimulatedNode::~SimulatedNode() = default;

std::chrono::steady_clock::time_point SimulatedNode::Deadline() const {
  return std::chrono::steady_clock::now() + answer_timeout_;
}

void SimulatedNode::SetState(const std::string& state, const std::string& error) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
    error_ = error;
  }
  std::cout << identity_.Name() << ": " << state << (error.empty() ? "" : " (" + error + ")") << std::endl;
}

bool SimulatedNode::HasToken() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return token_ != 0;
}

void SimulatedNode::Join(const NetworkKeys& keys) {
  if (HasToken()) return;
  SetState("importing");
  join_answer_.Reset();
  try {
    NetworkProxy network(connection_, "/org/bluez/mesh");
    const std::map<std::string, sdbus::Variant> flags{{"IvUpdate", sdbus::Variant(false)},
                                                      {"KeyRefresh", sdbus::Variant(false)}};
    network.Import(sdbus::ObjectPath(identity_.root_path), identity_.uuid, identity_.device_key, keys.net_key, 0,
                   flags, 0, identity_.address);
  } catch (const sdbus::Error& error) {
    SetState("failed", "Import: " + error.getName() + ": " + error.getMessage());
    return;
  }
  const auto answer = join_answer_.Take(Deadline());
  if (!answer || answer->token == 0) {
    SetState("failed", answer ? "JoinFailed: " + answer->reason : "no JoinComplete");
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    token_ = answer->token;
  }
  if (Attach()) Configure(keys);
}

void SimulatedNode::Reattach() {
  if (!HasToken() || !Attach()) return;
  bool configured = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    configured = configured_;
  }
  SetState(configured ? "ready" : "attached");
}

void SimulatedNode::Detach() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (state_ == "ready") state_ = "detached";
  node_.reset();
}

// With the token; retried for a while, as the daemon owns its name shortly before its
// network object answers.
bool SimulatedNode::Attach() {
  SetState("attaching");
  const auto deadline = Deadline();
  std::uint64_t token = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    token = token_;
  }
  for (;;) {
    try {
      NetworkProxy network(connection_, "/org/bluez/mesh");
      const auto reply = network.Attach(sdbus::ObjectPath(identity_.root_path), token);
      const std::string path = std::get<0>(reply);
      auto node = std::make_shared<NodeProxy>(connection_, path);
      const std::lock_guard<std::mutex> lock(mutex_);
      node_path_ = path;
      node_ = std::move(node);
      return true;
    } catch (const sdbus::Error& error) {
      if (std::chrono::steady_clock::now() + kAttachRetry >= deadline) {
        SetState("failed", "Attach: " + error.getName() + ": " + error.getMessage());
        return false;
      }
      std::this_thread::sleep_for(kAttachRetry);
    }
  }
}

bool SimulatedNode::Configure(const NetworkKeys& keys) {
  SetState("configuring");
  std::shared_ptr<NodeProxy> node;
  std::string path;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    node = node_;
    path = node_path_;
  }
  try {
    // The daemon sends with a device key only from its key ring, where a node's own is not.
    ManagementProxy management(connection_, path);
    management.ImportRemoteNode(identity_.address, 1, identity_.device_key);
  } catch (const sdbus::Error& error) {
    SetState("failed", "ImportRemoteNode: " + error.getName() + ": " + error.getMessage());
    return false;
  }
  for (const auto& step : SensorConfiguration(identity_.address, keys.app_key)) {
    if (!RunStep(step, *node)) return false;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    configured_ = true;
  }
  SetState("ready");
  return true;
}

bool SimulatedNode::RunStep(const ConfigStep& step, NodeProxy& node) {
  config_reply_.Reset();
  try {
    node.DevKeySend(sdbus::ObjectPath(identity_.element_path), identity_.address, true, 0, {}, step.request);
  } catch (const sdbus::Error& error) {
    SetState("failed", step.name + ": " + error.getName() + ": " + error.getMessage());
    return false;
  }
  const auto deadline = Deadline();
  while (const auto reply = config_reply_.Take(deadline)) {
    if (const auto succeeded = StepOutcome(step, *reply)) {
      if (*succeeded) return true;
      SetState("failed", step.name + ": status " + sim::meshd::ToHex(*reply));
      return false;
    }
  }
  SetState("failed", step.name + ": no status");
  return false;
}

bool SimulatedNode::Send(std::uint16_t destination, const Bytes& data) {
  std::shared_ptr<NodeProxy> node;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != "ready") return false;
    node = node_;
  }
  bool sent = false;
  try {
    node->Send(sdbus::ObjectPath(identity_.element_path), destination, 0, {}, data);
    sent = true;
  } catch (const sdbus::Error& error) {
    std::cout << identity_.Name() << ": Send refused: " << error.getName() << ": " << error.getMessage()
              << std::endl;
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  ++(sent ? sent_ : send_failures_);
  return sent;
}

nlohmann::json SimulatedNode::Describe() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return {{"address", identity_.address}, {"uuid", identity_.UuidText()}, {"state", state_},
          {"error", error_},              {"token", token_},                {"node_path", node_path_},
          {"sent", sent_},                {"send_failures", send_failures_}};
}

}  // namespace sim::meshnodes
