#include "bluetoothd/simulated_phone.h"

#include <algorithm>
#include <iostream>
#include <stdexcept>

namespace sim::bluetoothd {

namespace {

using namespace std::chrono_literals;

constexpr const char* kCharacteristic = "org.bluez.GattCharacteristic1";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

bool HasFlag(const GattTree& tree, const std::string& path, const std::string& flag) {
  const auto& flags = tree.flags.at(path);
  return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

nlohmann::json Decoded(const Bytes& value) {
  try {
    return nlohmann::json::from_cbor(value);
  } catch (const nlohmann::json::exception&) {
    return "<not CBOR>";
  }
}

// The reply code of a reply ("R"), or an empty text.
std::string Code(const nlohmann::json& reply) {
  if (!reply.is_object()) return "";
  const auto code = reply.find("R");
  return code != reply.end() && code->is_string() ? code->get<std::string>() : "";
}

}  // namespace

SimulatedPhone::SimulatedPhone(sdbus::IConnection& connection, AdapterObject& adapter)
    : connection_(connection), adapter_(adapter) {}

// The D-Bus objects leave outside lock_: a signal handler holds sdbus-c++'s connection lock
// while it takes lock_, so lock_ is never held across a D-Bus call.
SimulatedPhone::~SimulatedPhone() { TakeDevice(); }

std::pair<std::unique_ptr<DeviceObject>, std::unique_ptr<sdbus::IProxy>> SimulatedPhone::TakeDevice() {
  const std::lock_guard<std::mutex> guard(lock_);
  subscribed_ = false;
  return {std::move(device_), std::move(notify_proxy_)};
}

Application SimulatedPhone::RequireApplication() const {
  const auto application = adapter_.RegisteredApplication();
  if (!application) throw std::runtime_error("no GATT application is registered");
  return *application;
}

void SimulatedPhone::Connect(const std::string& address) {
  const auto application = RequireApplication();
  std::string notify_path;
  std::string write_path;
  for (const auto& [uuid, path] : application.tree.characteristics) {
    if (notify_path.empty() && HasFlag(application.tree, path, "notify")) notify_path = path;
    if (write_path.empty() &&
        (HasFlag(application.tree, path, "write-without-response") || HasFlag(application.tree, path, "write"))) {
      write_path = path;
    }
  }
  if (notify_path.empty() || write_path.empty()) throw std::runtime_error("the service has no notify or write characteristic");

  auto proxy = sdbus::createProxy(connection_, application.owner, notify_path);
  proxy->uponSignal("PropertiesChanged")
      .onInterface(kProperties)
      .call([this](const std::string& interface, const std::map<std::string, sdbus::Variant>& changed,
                   const std::vector<std::string>& /*invalidated*/) {
        if (interface == kCharacteristic) OnValueChanged(changed);
      });
  proxy->finishRegistration();

  TakeDevice();  // an earlier device leaves before the new one appears at its path
  auto device = std::make_unique<DeviceObject>(connection_, address);
  const std::lock_guard<std::mutex> guard(lock_);
  device_ = std::move(device);
  notify_proxy_ = std::move(proxy);
  write_path_ = write_path;
  owner_ = application.owner;
  subscribed_ = false;
  std::cout << "phone: connected as " << address << std::endl;
}

void SimulatedPhone::Subscribe() {
  sdbus::IProxy* proxy = nullptr;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!notify_proxy_) throw std::runtime_error("the phone is not connected");
    proxy = notify_proxy_.get();
  }
  proxy->callMethod("StartNotify").onInterface(kCharacteristic);
  const std::lock_guard<std::mutex> guard(lock_);
  subscribed_ = true;
}

void SimulatedPhone::Write(const Bytes& value) {
  std::string owner;
  std::string path;
  std::string device;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!device_) throw std::runtime_error("the phone is not connected");
    owner = owner_;
    path = write_path_;
    device = device_->Path();
  }
  auto proxy = sdbus::createProxy(connection_, owner, path);
  const std::map<std::string, sdbus::Variant> options{{"type", sdbus::Variant(std::string("command"))},
                                                      {"device", sdbus::Variant(sdbus::ObjectPath(device))},
                                                      {"link", sdbus::Variant(std::string("LE"))},
                                                      {"mtu", sdbus::Variant(std::uint16_t{517})}};
  proxy->callMethod("WriteValue").onInterface(kCharacteristic).withArguments(value, options);
}

void SimulatedPhone::Disconnect() {
  const auto [device, proxy] = TakeDevice();
  if (!device) return;
  device->Disconnect();
  std::cout << "phone: disconnected" << std::endl;
}

void SimulatedPhone::OnValueChanged(const std::map<std::string, sdbus::Variant>& changed) {
  const auto value = changed.find("Value");
  if (value == changed.end()) return;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!subscribed_) {  // bluetoothd notifies subscribed clients only
      ++unheard_;
      return;
    }
    Notification notification{std::chrono::steady_clock::now(), value->second.get<Bytes>()};
    received_.push_back(notification);
    unread_.push_back(std::move(notification));
  }
  arrived_.notify_all();
}

std::optional<Notification> SimulatedPhone::NextNotification(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> guard(lock_);
  if (!arrived_.wait_for(guard, timeout, [this] { return !unread_.empty(); })) return std::nullopt;
  auto next = std::move(unread_.front());
  unread_.pop_front();
  return next;
}

std::vector<Notification> SimulatedPhone::Received() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return received_;
}

std::size_t SimulatedPhone::Unheard() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return unheard_;
}

bool SimulatedPhone::Connected() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return device_ != nullptr;
}

nlohmann::json SimulatedPhone::AwaitReply(const std::string& code, std::chrono::milliseconds timeout,
                                          nlohmann::json& transcript) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const auto next = NextNotification(std::max(left, 0ms));
    if (!next) throw std::runtime_error("no \"" + code + "\" reply within " + std::to_string(timeout.count()) + " ms");
    const auto reply = Decoded(next->value);
    transcript.push_back(reply);
    // "I" may be answered by a bare null (no identity yet).
    if (code.empty() || Code(reply) == code || (code == "I" && reply.is_null())) {
      return reply;
    }
  }
}

nlohmann::json SimulatedPhone::Exchange(const nlohmann::json& request, const std::string& code,
                                        std::chrono::milliseconds timeout, nlohmann::json& transcript) {
  Write(nlohmann::json::to_cbor(request));
  return AwaitReply(code, timeout, transcript);
}

nlohmann::json SimulatedPhone::Provision(const nlohmann::json& script) {
  const std::string ssid = script.value("ssid", "Office");
  const std::string key = script.value("key", "s3cret-pass");
  const std::string leave_after = script.value("leave_after", "");
  const nlohmann::json mesh = script.value(
      "mesh", nlohmann::json{{"n", "AAECAwQFBgcICQoLDA0ODw=="}, {"a", "EBESExQVFhcYGRobHB0eHw=="}, {"u", 1}, {"g", 0xCA00}});
  const auto wifi_wait = std::chrono::milliseconds(script.value("wifi_wait_ms", 30000));

  nlohmann::json result{{"replies", nlohmann::json::array()}};
  auto& transcript = result["replies"];
  const auto leaving = [&](const char* step) {
    if (leave_after != step) return false;
    Disconnect();
    result["left_after"] = step;
    return true;
  };
  Connect(script.value("address", "4C:E1:73:42:8A:10"));
  Subscribe();
  result["identity"] = Exchange({{"C", "I"}}, "I", 5s, transcript);
  if (leaving("I")) return result;

  Exchange({{"C", "WS"}}, "WS", 5s, transcript);
  nlohmann::json networks = nlohmann::json::array();
  while (true) {
    const auto reply = AwaitReply("", 30s, transcript);  // every reply until "WLE"
    if (Code(reply) == "WLE") break;
    if (Code(reply) == "WL") networks.push_back(reply.at("P"));
  }
  result["networks"] = networks;
  if (leaving("WS")) return result;

  const auto chosen = std::find_if(networks.begin(), networks.end(), [&](const auto& network) { return network.is_object() && network.value("s", "") == ssid; });
  if (chosen == networks.end()) throw std::runtime_error("the scan did not find " + ssid);
  Exchange({{"C", "WP"}, {"P", {{"s", ssid}, {"e", chosen->at("e")}, {"k", key}}}}, "WP", 5s, transcript);
  nlohmann::json outcome;
  while (true) {
    outcome = AwaitReply("", wifi_wait, transcript);
    const auto code = Code(outcome);
    if (code == "WCS" || code == "WCF") break;
  }
  result["wifi"] = outcome.at("R");
  if (leaving("WP")) return result;

  nlohmann::json request = mesh;
  request["C"] = "M";
  Exchange(request, "M", 5s, transcript);
  if (leaving("M")) return result;

  Exchange({{"C", "S"}}, "S", 5s, transcript);
  Disconnect();
  return result;
}

}  // namespace sim::bluetoothd
