#include "mesh/mesh_joiner.h"

#include <algorithm>
#include <future>
#include <utility>

#include <sdbus-c++/sdbus-c++.h>

#include "log/log.h"
#include "mesh/device_uuid.h"
#include "mesh/management1.h"
#include "mesh/mesh_link.h"
#include "mesh/mesh_names.h"
#include "mesh/model_configuration_log.h"
#include "mesh/network1.h"
#include "mesh/own_configuration.h"
#include "mesh/registration_attempt.h"
#include "nvram/mesh_settings.h"
#include "timer/timer_queue.h"

namespace {

// Waits for one step's outcome; a missing answer fails the step with a line of its own.
bool AwaitStep(OneShotResult& result, std::chrono::milliseconds timeout, const char* step,
               const char* failure_line) {
  const std::optional<bool> outcome = result.WaitFor(timeout);
  if (!outcome) {
    LOG_ERROR << step << ": no answer from the mesh daemon within "
              << std::chrono::duration_cast<std::chrono::seconds>(timeout).count() << " s";
  }
  if (!outcome.value_or(false)) {
    LOG_ERROR << failure_line;
    return false;
  }
  return true;
}

// One configuration step: whether it is needed, its message, its outcome and its lines.
struct ConfigurationStep {
  bool own_configuration::Steps::*needed;
  void (MeshJoiner::*send)();
  OneShotResult RegistrationAttempt::*outcome;
  const char* name;
  const char* failure_line;
};

constexpr ConfigurationStep kSteps[] = {
    {&own_configuration::Steps::ttl, &MeshJoiner::TTLSet, &RegistrationAttempt::ttl, "TTL Set", "TTL Set Error"},
    {&own_configuration::Steps::app_key, &MeshJoiner::AppKeySet, &RegistrationAttempt::app_key, "AppKey Set",
     "AppKey Set Error"},
    {&own_configuration::Steps::binding, &MeshJoiner::Binding, &RegistrationAttempt::binding, "Binding",
     "Binding Error"},
    {&own_configuration::Steps::subscription, &MeshJoiner::SubscriptionAdd, &RegistrationAttempt::subscription,
     "SubscriptionAdd", "SubscriptionAdd Error"},
};

std::string StepNames(const own_configuration::Steps& steps) {
  std::string names;
  for (const ConfigurationStep& step : kSteps) {
    if (!(steps.*step.needed)) continue;
    if (!names.empty()) names += ", ";
    names += step.name;
  }
  return names;
}

// "5 s" for whole seconds, "250 ms" otherwise.
std::string Pause(std::chrono::milliseconds pause) {
  if (pause.count() % 1000 == 0) return std::to_string(pause.count() / 1000) + " s";
  return std::to_string(pause.count()) + " ms";
}

void LogNodeConfiguration(const sdbus::ObjectPath& node_path, const org::bluez::mesh::NodeConfiguration& config) {
  LOG_DEBUG << "Node Path : " << node_path;
  for (const auto& element : config) {
    LOG_DEBUG << "Element Index : " << static_cast<int>(element.get<0>());
    for (const auto& model : element.get<1>()) {
      LOG_DEBUG << "Model Identifier : " << model.get<0>();
      LogModelConfiguration(model.get<1>());
    }
  }
}

}  // namespace

MeshJoiner::MeshJoiner(MeshLink& link, MeshSettings& settings, timer::TimerQueue& timer, Enqueue enqueue,
                       std::function<void()> joined, JoinTiming timing)
    : link_(link),
      settings_(settings),
      timer_(timer),
      enqueue_(std::move(enqueue)),
      joined_(std::move(joined)),
      timing_(timing),
      attempt_(std::make_shared<RegistrationAttempt>()),
      retry_pause_(timing.retry_first) {}

void MeshJoiner::Allow() {
  ForgetNode();
  {
    const std::lock_guard<std::mutex> guard(schedule_lock_);
    retry_pause_ = timing_.retry_first;
  }
  leaving_ = false;
}

std::unique_lock<std::mutex> MeshJoiner::Leave() {
  leaving_ = true;
  AbandonAttempt();
  {
    const std::lock_guard<std::mutex> guard(schedule_lock_);
    timer_.Cancel(std::exchange(rejoin_timer_, 0));
    timer_.Cancel(std::exchange(retry_timer_, 0));
  }
  return std::unique_lock<std::mutex>(registration_lock_);
}

bool MeshJoiner::Registration() {
  LOG_DEBUG << "Registration";
  const std::lock_guard<std::mutex> registering(registration_lock_);
  if (leaving_ || !link_.IsOpen()) {
    LOG_ERROR << "The mesh application is not exported; cannot join the mesh";
    return false;
  }
  StartAttempt();
  const bool joined = Join();
  AfterRegistration(joined);
  if (joined && joined_) joined_();
  return joined;
}

bool MeshJoiner::Join() {
  // Still attached after an attempt that failed: only the steps it left undone remain.
  if (const auto needed = NodeNeeds()) return Configure(*needed);
  return settings_.Token() != 0 ? JoinWithToken() : ImportAndConfigure();
}

void MeshJoiner::AfterRegistration(bool joined) {
  const std::lock_guard<std::mutex> guard(schedule_lock_);
  timer_.Cancel(std::exchange(retry_timer_, 0));
  if (joined) {
    retry_pause_ = timing_.retry_first;
    return;
  }
  if (leaving_) return;
  const auto pause = retry_pause_;
  retry_pause_ = std::min(pause * 2, timing_.retry_max);
  LOG_ERROR << "Joining the mesh daemon failed; trying again in " << Pause(pause);
  retry_timer_ = timer_.Add(pause, [this](bool cancelled) {
    if (!cancelled && !leaving_) Registration();
  });
}

std::optional<own_configuration::Steps> MeshJoiner::NodeNeeds() const {
  const std::lock_guard<std::mutex> guard(node_lock_);
  return node_needs_;
}

bool MeshJoiner::Joined() const {
  const auto needed = NodeNeeds();
  return needed && !needed->Any();
}

void MeshJoiner::NodeAttached(const own_configuration::Steps& needed) {
  const std::lock_guard<std::mutex> guard(node_lock_);
  node_needs_ = needed;
}

void MeshJoiner::StepDone(bool own_configuration::Steps::*step) {
  const std::lock_guard<std::mutex> guard(node_lock_);
  if (node_needs_) (*node_needs_).*step = false;
}

void MeshJoiner::ForgetNode() {
  const std::lock_guard<std::mutex> guard(node_lock_);
  node_needs_.reset();
}

std::shared_ptr<RegistrationAttempt> MeshJoiner::CurrentAttempt() const {
  const std::lock_guard<std::mutex> guard(attempt_lock_);
  return attempt_;
}

void MeshJoiner::StartAttempt() {
  const std::lock_guard<std::mutex> guard(attempt_lock_);
  attempt_ = std::make_shared<RegistrationAttempt>();
}

// Completes every result of the current attempt with false, so no wait outlasts a stop.
void MeshJoiner::AbandonAttempt() {
  const auto attempt = CurrentAttempt();
  for (OneShotResult* result : {&attempt->import, &attempt->attach, &attempt->ttl, &attempt->app_key,
                                &attempt->binding, &attempt->subscription}) {
    result->Complete(false);
  }
}

bool MeshJoiner::JoinWithToken() {
  auto attach = std::async(std::launch::async, [this] { return Attach2(); });
  try {
    const bool result = attach.get();
    LOG_VERBOSE << "result " << result;
  } catch (const sdbus::Error& error) {
    // The stored token stays: the daemon may only be restarting, and it is the node's identity.
    LOG_ERROR << "Attach with the stored token failed: " << error.getName() << ": " << error.getMessage();
    return false;
  }
  const auto needed = NodeNeeds().value_or(own_configuration::Steps{});
  if (needed.Any()) LOG_WARN << "The gateway's node is not fully configured; redoing: " << StepNames(needed);
  return Configure(needed);
}

bool MeshJoiner::ImportAndConfigure() {
  const auto attempt = CurrentAttempt();
  const auto timeout = timing_.answer_timeout;
  Import();
  if (!AwaitStep(attempt->import, timeout, "Import", "Import Error")) return false;
  Attach();
  if (!AwaitStep(attempt->attach, timeout, "Attach", "Attach Error")) return false;
  // A fresh node: the configuration Attach reported asks for every step.
  return Configure(NodeNeeds().value_or(own_configuration::Steps{}));
}

// Runs the needed steps in order, each awaiting its status, and stops at the first failure;
// each success is noted, so a retry on the same attachment skips it.
bool MeshJoiner::Configure(const own_configuration::Steps& needed) {
  if (!needed.Any()) return true;
  ImportOwnDeviceKey();
  const auto attempt = CurrentAttempt();
  for (const ConfigurationStep& step : kSteps) {
    if (!(needed.*step.needed)) continue;
    (this->*step.send)();
    if (!AwaitStep((*attempt).*step.outcome, timing_.answer_timeout, step.name, step.failure_line)) return false;
    StepDone(step.needed);
  }
  return true;
}

void MeshJoiner::Import() {
  const std::map<std::string, sdbus::Variant> flags{{"IvUpdate", sdbus::Variant(false)},
                                                    {"KeyRefresh", sdbus::Variant(false)}};
  const auto attempt = CurrentAttempt();
  const auto shared = link_.Share();
  try {
    link_.Network()->ImportAsync(sdbus::ObjectPath(mesh_names::kRootPath), mesh_uuid::Rfc4122(settings_.DeviceUUID()),
                                 settings_.MeshDevKey(), settings_.MeshNetKey(), 0, flags, 0, settings_.NetAddr(),
                                 [attempt](const sdbus::Error* error) {
                                   if (error == nullptr) {
                                     LOG_DEBUG << "Import Done";
                                     return;
                                   }
                                   LOG_ERROR << "Import refused: " << error->getName() << ": " << error->getMessage();
                                   attempt->import.Complete(false);
                                 });
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "Import not sent: " << error.getMessage();
    attempt->import.Complete(false);
  }
}

void MeshJoiner::Attach() {
  const auto attempt = CurrentAttempt();
  const auto shared = link_.Share();
  try {
    link_.Network()->AttachAsync(
        sdbus::ObjectPath(mesh_names::kRootPath), settings_.Token(),
        [this, attempt](const sdbus::Error* error, const sdbus::ObjectPath& node_path,
                        const org::bluez::mesh::NodeConfiguration& config) {
          LOG_DEBUG << "Attach reply";
          if (error != nullptr) {
            LOG_ERROR << "Attach Failed";
            LOG_ERROR << error->getName() << ": " << error->getMessage();
            attempt->attach.Complete(false);
            return;
          }
          LogNodeConfiguration(node_path, config);
          link_.UseNode(node_path);
          NodeAttached(own_configuration::Missing(settings_.GroupAddr(), config));
          attempt->attach.Complete(true);
        });
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "Attach not sent: " << error.getMessage();
    attempt->attach.Complete(false);
  }
}

bool MeshJoiner::Attach2() {
  LOG_DEBUG << "Attach2";
  std::pair<sdbus::ObjectPath, org::bluez::mesh::NodeConfiguration> reply;
  {
    const auto shared = link_.Share();
    reply = link_.Network()->AttachWithin(sdbus::ObjectPath(mesh_names::kRootPath), settings_.Token(),
                                          timing_.answer_timeout);
  }
  LogNodeConfiguration(reply.first, reply.second);
  link_.UseNode(reply.first);
  NodeAttached(own_configuration::Missing(settings_.GroupAddr(), reply.second));
  return true;
}

// The mesh daemon keeps only remote nodes' device keys in its key ring, and an imported node
// is not in it: without this, sending to the gateway's own address with its device key is
// refused. A refusal is logged; the configuration steps then fail on their own.
void MeshJoiner::ImportOwnDeviceKey() {
  const auto shared = link_.Share();
  const auto management = link_.Management();
  if (!management) return;
  try {
    management->ImportRemoteNode(settings_.NetAddr(), 1, settings_.MeshDevKey());
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "ImportRemoteNode failed: " << error.getName() << ": " << error.getMessage();
  }
}

void MeshJoiner::OnJoinComplete(std::uint64_t token) {
  settings_.Token(token);
  CurrentAttempt()->import.Complete(true);
}

void MeshJoiner::OnJoinFailed(const std::string& /*reason*/) { CurrentAttempt()->import.Complete(false); }

void MeshJoiner::OnConfigurationReply(const std::vector<std::uint8_t>& data) {
  own_configuration::OnReply(*CurrentAttempt(), data);
}

void MeshJoiner::OnConfigurationSendFailed(const std::vector<std::uint8_t>& data) {
  own_configuration::OnSendFailed(*CurrentAttempt(), data);
}

// Runs on the D-Bus event loop, so the joining itself runs later on the timer thread.
void MeshJoiner::OnDaemonPresence(bool present) {
  if (leaving_) return;
  ForgetNode();  // a daemon that left, or a new one, holds no attachment of this link
  if (!present) {
    LOG_WARN << "The mesh daemon left the system bus";
    return;
  }
  LOG_INFO << "The mesh daemon is on the system bus; joining it again";
  const std::lock_guard<std::mutex> guard(schedule_lock_);
  if (leaving_) return;
  timer_.Cancel(rejoin_timer_);
  rejoin_timer_ = timer_.Add(timing_.rejoin_delay, [this](bool cancelled) {
    if (cancelled) return;
    if (!Registration()) LOG_ERROR << "Joining the restarted mesh daemon failed";
  });
}

void MeshJoiner::QueueConfiguration(const std::vector<std::uint8_t>& packet, OneShotResult* step) {
  if (packet.empty()) {  // not buildable (the reason is logged): the step fails at once
    if (step != nullptr) step->Complete(false);
    return;
  }
  enqueue_(MeshMessage{MeshMessage::kDeviceKey, settings_.NetAddr(), packet});
}

void MeshJoiner::TTLSet() {
  LOG_DEBUG << "TTLSet";
  QueueConfiguration(own_configuration::TTLSet(settings_), &CurrentAttempt()->ttl);
}

void MeshJoiner::AppKeySet() {
  LOG_DEBUG << "AppKeySet";
  QueueConfiguration(own_configuration::AppKeySet(settings_), &CurrentAttempt()->app_key);
}

void MeshJoiner::Binding() {
  LOG_DEBUG << "Binding";
  QueueConfiguration(own_configuration::Binding(settings_), &CurrentAttempt()->binding);
}

void MeshJoiner::SubscriptionAdd() {
  LOG_DEBUG << "SubscriptionAdd";
  QueueConfiguration(own_configuration::SubscriptionAdd(settings_), &CurrentAttempt()->subscription);
}

void MeshJoiner::TTLGet() {
  LOG_DEBUG << "TTLGet";
  QueueConfiguration(own_configuration::TTLGet(), nullptr);
}

void MeshJoiner::AppKeyGet() {
  LOG_DEBUG << "AppKeyGet";
  QueueConfiguration(own_configuration::AppKeyGet(), nullptr);
}

void MeshJoiner::BindStatusGet() {
  LOG_DEBUG << "BindStatusGet";
  QueueConfiguration(own_configuration::BindStatusGet(settings_), nullptr);
}

void MeshJoiner::SubscriptionGet() {
  LOG_DEBUG << "SubscriptionGet";
  QueueConfiguration(own_configuration::SubscriptionGet(settings_), nullptr);
}
