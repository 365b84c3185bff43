// Joining again when the mesh daemon restarts: its bus name vanishes and reappears (procd
// respawns it), and the gateway's node must attach to the new instance.

#include <sdbus-c++/sdbus-c++.h>

#include "log/log.h"
#include "mesh/bluetooth_mesh.h"
#include "mesh/mesh_names.h"
#include "mesh/one_shot_result.h"
#include "timer/timer_queue.h"

namespace {

constexpr const char* kBusService = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";

}  // namespace

void BluetoothMesh::WatchDaemonPresence() {
  bus_daemon_ = sdbus::createProxy(*connection_, kBusService, kBusPath);
  bus_daemon_->uponSignal("NameOwnerChanged")
      .onInterface(kBusService)
      .call([this](const std::string& name, const std::string& old_owner, const std::string& new_owner) {
        OnDaemonOwnerChanged(name, old_owner, new_owner);
      });
  bus_daemon_->finishRegistration();
}

// A synchronous call made before the event loop thread runs would hold the connection, and
// the mesh daemon's calls into the application (it reads the tree before it answers Import or
// Attach) would go unanswered. An asynchronous call's reply proves the loop is dispatching.
bool BluetoothMesh::WaitForEventLoop() {
  auto running = std::make_shared<OneShotResult>();  // outlives a reply later than the wait
  try {
    bus_daemon_->callMethodAsync("GetId").onInterface(kBusService).uponReplyInvoke(
        [running](const sdbus::Error* error, const std::string& /*id*/) { running->Complete(error == nullptr); });
  } catch (const sdbus::Error&) {
    running->Complete(false);
  }
  const bool ready = running->WaitFor(options_.answer_timeout).value_or(false);
  if (!ready) LOG_ERROR << "The D-Bus event loop did not start";
  return ready;
}

// Runs on the D-Bus event loop, so the joining itself runs later on the timer thread.
void BluetoothMesh::OnDaemonOwnerChanged(const std::string& name, const std::string& /*old_owner*/,
                                         const std::string& new_owner) {
  if (name != mesh_names::kDaemonService || leaving_) return;
  if (new_owner.empty()) {
    LOG_WARN << "The mesh daemon left the system bus";
    return;
  }
  LOG_INFO << "The mesh daemon is on the system bus; joining it again";
  timer_->Cancel(rejoin_timer_);
  rejoin_timer_ = timer_->Add(options_.rejoin_delay, [this](bool cancelled) {
    if (cancelled) return;
    if (!Registration()) LOG_ERROR << "Joining the restarted mesh daemon failed";
  });
}
