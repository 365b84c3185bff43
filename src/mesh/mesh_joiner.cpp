#include "mesh/mesh_joiner.h"

#include <future>

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
      attempt_(std::make_shared<RegistrationAttempt>()) {}

void MeshJoiner::Allow() { leaving_ = false; }

std::unique_lock<std::mutex> MeshJoiner::Leave() {
  leaving_ = true;
  AbandonAttempt();
  timer_.Cancel(rejoin_timer_.exchange(0));
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
  const bool joined = settings_.Token() != 0 ? JoinWithToken() : ImportAndConfigure();
  if (joined && joined_) joined_();
  return joined;
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
    return true;
  } catch (const sdbus::Error& error) {
    // The stored token stays: the daemon may only be restarting, and it is the node's identity.
    LOG_ERROR << "Attach with the stored token failed: " << error.getName() << ": " << error.getMessage();
    return false;
  }
}

bool MeshJoiner::ImportAndConfigure() {
  const auto attempt = CurrentAttempt();
  const auto timeout = timing_.answer_timeout;
  Import();
  if (!AwaitStep(attempt->import, timeout, "Import", "Import Error")) return false;
  Attach();
  if (!AwaitStep(attempt->attach, timeout, "Attach", "Attach Error")) return false;
  ImportOwnDeviceKey();
  TTLSet();
  if (!AwaitStep(attempt->ttl, timeout, "TTL Set", "TTL Set Error")) return false;
  AppKeySet();
  if (!AwaitStep(attempt->app_key, timeout, "AppKey Set", "AppKey Set Error")) return false;
  Binding();
  if (!AwaitStep(attempt->binding, timeout, "Binding", "Binding Error")) return false;
  SubscriptionAdd();
  return AwaitStep(attempt->subscription, timeout, "SubscriptionAdd", "SubscriptionAdd Error");
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
  if (!present) {
    LOG_WARN << "The mesh daemon left the system bus";
    return;
  }
  LOG_INFO << "The mesh daemon is on the system bus; joining it again";
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
