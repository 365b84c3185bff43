#include "bluetoothd/bluetoothd.h"

#include <cstdio>
#include <exception>

namespace sim::bluetoothd {

namespace {

std::unique_ptr<sdbus::IConnection> Connect(const std::string& address) {
  if (address.empty()) return sdbus::createSystemBusConnection();
  return sdbus::createSessionBusConnectionWithAddress(address);
}

std::string Hex(const Bytes& bytes) {
  std::string text;
  char digits[3];
  for (const auto byte : bytes) {
    std::snprintf(digits, sizeof(digits), "%02x", byte);
    text += digits;
  }
  return text;
}

Bytes FromHex(const std::string& text) {
  if (text.size() % 2 != 0) throw std::invalid_argument("odd number of hexadecimal digits");
  Bytes bytes;
  for (std::size_t index = 0; index < text.size(); index += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(index, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace

// The object manager at "/", through which devices are announced.
class Bluetoothd::RootObject : public sdbus::AdaptorInterfaces<sdbus::ObjectManager_adaptor> {
 public:
  explicit RootObject(sdbus::IConnection& connection) : AdaptorInterfaces(connection, "/") { registerAdaptor(); }
  ~RootObject() { unregisterAdaptor(); }
};

Bluetoothd::Bluetoothd(const std::string& bus_address) : connection_(Connect(bus_address)) {
  root_ = std::make_unique<RootObject>(*connection_);
  adapter_ = std::make_unique<AdapterObject>(*connection_);
  phone_ = std::make_unique<SimulatedPhone>(*connection_, *adapter_);
  connection_->requestName("org.bluez");
  connection_->enterEventLoopAsync();
}

Bluetoothd::~Bluetoothd() {
  connection_->leaveEventLoop();
  phone_.reset();
  adapter_.reset();
  root_.reset();
}

nlohmann::json Bluetoothd::Control(const nlohmann::json& command) {
  try {
    return Execute(command);
  } catch (const sdbus::Error& error) {
    return {{"ok", false}, {"error", error.getName() + ": " + error.getMessage()}};
  } catch (const std::exception& error) {
    return {{"ok", false}, {"error", error.what()}};
  }
}

nlohmann::json Bluetoothd::Execute(const nlohmann::json& command) {
  const std::string name = command.at("cmd").get<std::string>();
  nlohmann::json reply{{"ok", true}};
  if (name == "status") {
    reply["adapter"] = adapter_->Status();
    reply["phone"] = {{"connected", phone_->Connected()}, {"received", phone_->Received().size()}};
  } else if (name == "wait_registered") {
    reply["ok"] = adapter_->WaitForRegistrations(std::chrono::milliseconds(command.value("timeout_ms", 10000)));
  } else if (name == "connect") {
    phone_->Connect(command.value("address", "4C:E1:73:42:8A:10"));
  } else if (name == "subscribe") {
    phone_->Subscribe();
  } else if (name == "write") {
    const Bytes value = command.contains("hex") ? FromHex(command.at("hex").get<std::string>())
                                                : nlohmann::json::to_cbor(command.at("request"));
    const int repeat = command.value("repeat", 1);
    for (int index = 0; index < repeat; ++index) phone_->Write(value);
  } else if (name == "replies") {
    const auto count = command.value("count", 1);
    const auto timeout = std::chrono::milliseconds(command.value("timeout_ms", 5000));
    nlohmann::json replies = nlohmann::json::array();
    std::optional<std::chrono::steady_clock::time_point> previous;
    for (int index = 0; index < count; ++index) {
      const auto next = phone_->NextNotification(timeout);
      if (!next) break;
      nlohmann::json entry{{"hex", Hex(next->value)}, {"ms", 0}};
      try {
        entry["json"] = nlohmann::json::from_cbor(next->value);
      } catch (const nlohmann::json::exception&) {
        entry["json"] = nullptr;
      }
      if (previous) {
        entry["ms"] = std::chrono::duration_cast<std::chrono::milliseconds>(next->at - *previous).count();
      }
      previous = next->at;
      replies.push_back(entry);
    }
    reply["replies"] = replies;
    reply["ok"] = static_cast<int>(replies.size()) == count;
  } else if (name == "disconnect") {
    phone_->Disconnect();
  } else if (name == "provision") {
    reply.update(phone_->Provision(command));
  } else {
    throw std::invalid_argument("unknown command " + name);
  }
  return reply;
}

}  // namespace sim::bluetoothd
