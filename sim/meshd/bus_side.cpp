#include "meshd/bus_side.h"

namespace sim::meshd {

namespace {

constexpr const char* kBusName = "org.bluez.mesh";

std::unique_ptr<sdbus::IConnection> Connect(const std::string& address) {
  return address.empty() ? sdbus::createSystemBusConnection() : sdbus::createSessionBusConnectionWithAddress(address);
}

}  // namespace

BusSide::BusSide(const std::string& address, DaemonCalls& daemon, OwnerGone owner_gone)
    : daemon_(daemon), connection_(Connect(address)) {
  network_ = std::make_unique<NetworkObject>(*connection_, daemon_);
  bus_watch_ = sdbus::createProxy(*connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus");
  bus_watch_->uponSignal("NameOwnerChanged")
      .onInterface("org.freedesktop.DBus")
      .call([gone = std::move(owner_gone)](const std::string& name, const std::string& old_owner,
                                           const std::string& new_owner) {
        if (new_owner.empty() && name == old_owner) gone(name);
      });
  bus_watch_->finishRegistration();
  connection_->requestName(kBusName);
  connection_->enterEventLoopAsync();
  looping_ = true;
}

BusSide::~BusSide() {
  StopLoop();
  nodes_.clear();
  network_.reset();
  bus_watch_.reset();
  try {
    connection_->releaseName(kBusName);
  } catch (const sdbus::Error&) {
    // the connection is going away anyway
  }
}

void BusSide::StopLoop() {
  if (!looping_) return;
  connection_->leaveEventLoop();
  looping_ = false;
}

void BusSide::ShowNode(std::uint64_t token, const std::string& path) {
  if (nodes_.count(path) == 0) nodes_[path] = std::make_unique<NodeObject>(*connection_, path, token, daemon_);
}

void BusSide::HideNode(const std::string& path) { nodes_.erase(path); }

}  // namespace sim::meshd
