#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mesh/configuration_steps.h"
#include "mesh/mesh_message.h"

class MeshLink;
class MeshSettings;
class OneShotResult;
struct RegistrationAttempt;
namespace timer {
class TimerQueue;
}  // namespace timer

// How long the joiner waits; the defaults are the daemon's.
struct JoinTiming {
  // The longest wait for each answer of the mesh daemon.
  std::chrono::milliseconds answer_timeout{std::chrono::seconds(30)};
  // The pause between the mesh daemon reappearing on the bus and joining it again.
  std::chrono::milliseconds rejoin_delay{std::chrono::seconds(1)};
  // The pause before retrying a failed registration, doubled after each failure up to
  // retry_max, back to retry_first after a success.
  std::chrono::milliseconds retry_first{std::chrono::seconds(5)};
  std::chrono::milliseconds retry_max{std::chrono::minutes(5)};
};

// Brings the gateway's own node up in the mesh daemon and keeps it there: with a stored token
// it attaches; without one it imports the node with the stored keys (the token JoinComplete
// gives is stored at once: the daemon holds the node from then on) and attaches. Then it
// configures the node's Configuration Server (default TTL, application key, vendor model
// binding, group subscription) through device-key messages to itself, each step awaiting its
// status: after an Import every step, after an Attach the steps the configuration it reports
// lacks (own_configuration::Missing). A registration succeeds only once every needed step has;
// a failed one is retried after a pause that doubles (JoinTiming), and while the node stays
// attached a retry runs only the steps still missing. When the daemon reappears on the bus it
// joins again. Each registration has fresh results, so a late or repeated answer from an
// earlier one is ignored.
//
// Threads: Registration runs on its caller's thread (the application's at start, the shared
// timer thread for retries and after the daemon reappeared), one at a time; the daemon's
// answers arrive on the D-Bus event loop (the On... handlers), where nothing blocks.
// Ownership: owns the attempts; the link, the settings, the send queue and the timer queue
// outlive it.
class MeshJoiner {
 public:
  using Enqueue = std::function<void(const MeshMessage&)>;

  // `enqueue` queues the configuration messages; `joined` runs after every successful
  // registration.
  MeshJoiner(MeshLink& link, MeshSettings& settings, timer::TimerQueue& timer, Enqueue enqueue,
             std::function<void()> joined, JoinTiming timing = {});
  MeshJoiner(const MeshJoiner&) = delete;
  MeshJoiner& operator=(const MeshJoiner&) = delete;

  // Registrations may run again (the link is being opened): no node is attached yet, and the
  // retry pause starts again from retry_first.
  void Allow();
  // Joins the mesh daemon and configures the gateway's node; true on success. A failure
  // schedules a retry.
  bool Registration();
  // Abandons the current attempt (its waits end at once), cancels a pending rejoin or retry
  // and refuses new registrations. The returned lock keeps a registration in progress from
  // overlapping the caller's teardown of the link.
  [[nodiscard]] std::unique_lock<std::mutex> Leave();

  // Whether the gateway's node is attached on this link and needs no configuration step.
  bool Joined() const;

  // The daemon's calls and the bus (on the D-Bus event loop).
  void OnJoinComplete(std::uint64_t token);
  void OnJoinFailed(const std::string& reason);
  void OnConfigurationReply(const std::vector<std::uint8_t>& data);
  void OnConfigurationSendFailed(const std::vector<std::uint8_t>& data);
  void OnDaemonPresence(bool present);

  // The daemon calls whose outcome arrives in the current attempt's results.
  void Import();
  void Attach();
  // Attaches with the stored token and waits for the daemon's answer, noting the steps the
  // reported configuration lacks; throws the daemon's error (sdbus::Error).
  bool Attach2();

  // Queue one configuration message for the gateway's own node; its status reply (or a
  // failed send) completes the matching result.
  void TTLSet();
  void AppKeySet();
  void Binding();
  void SubscriptionAdd();
  void TTLGet();
  void AppKeyGet();
  void BindStatusGet();
  void SubscriptionGet();

 private:
  std::shared_ptr<RegistrationAttempt> CurrentAttempt() const;
  void StartAttempt();
  void AbandonAttempt();
  bool Join();
  bool JoinWithToken();
  bool ImportAndConfigure();
  bool Configure(const own_configuration::Steps& needed);
  void ImportOwnDeviceKey();
  void QueueConfiguration(const std::vector<std::uint8_t>& packet, OneShotResult* step);
  // The steps the attached node still needs; nothing while no node is attached on this link.
  std::optional<own_configuration::Steps> NodeNeeds() const;
  void NodeAttached(const own_configuration::Steps& needed);
  void StepDone(bool own_configuration::Steps::*step);
  void ForgetNode();
  // After a registration: a success resets the retry pause, a failure schedules a retry.
  void AfterRegistration(bool joined);

  MeshLink& link_;
  MeshSettings& settings_;
  timer::TimerQueue& timer_;
  const Enqueue enqueue_;
  const std::function<void()> joined_;
  const JoinTiming timing_;

  std::mutex registration_lock_;  // one registration at a time
  std::atomic<bool> leaving_{false};  // set by Leave: no new registration starts
  mutable std::mutex attempt_lock_;
  std::shared_ptr<RegistrationAttempt> attempt_;
  mutable std::mutex node_lock_;
  std::optional<own_configuration::Steps> node_needs_;  // see NodeNeeds
  std::mutex schedule_lock_;  // the timers below against Leave
  std::uint64_t rejoin_timer_ = 0;
  std::uint64_t retry_timer_ = 0;
  std::chrono::milliseconds retry_pause_;  // before the next retry
};
