#include "platform/platform_objects.h"

#include <fstream>
#include <iostream>

#include "ipc/blobmsg_json.h"

namespace sim::platform {

namespace {

using ipc::blobmsg::Members;
using ipc::blobmsg::Type;
using Json = nlohmann::ordered_json;

constexpr auto kTimeout = std::chrono::seconds(10);

Members ToMembers(const Json& object) {
  auto members = ipc::blobmsg::FromJson(object.dump());
  return members ? *members : Members{};
}

using UciMethod = int (UciService::*)(const UciService::Members&, UciService::Reply&);

ipc::ObjectMethod UciObjectMethod(UciService& service, std::mutex& lock, const std::string& name, UciMethod method,
                              std::vector<std::pair<std::string, Type>> arguments) {
  return ipc::ObjectMethod{name, std::move(arguments),
                         [&service, &lock, method](const ipc::InvokeRequest& request, const ipc::ReplySender& reply) {
                           UciService::Reply answer;
                           int status = 0;
                           {
                             const std::lock_guard<std::mutex> guard(lock);
                             status = (service.*method)(request.arguments, answer);
                           }
                           if (answer) reply(*answer);
                           return status;
                         }};
}

}  // namespace

PlatformObjects::PlatformObjects(UciStore& store, Scenario scenario)
    : store_(store), uci_(store), scenario_(std::move(scenario)), wan_up_(scenario_.wan_up),
      wan_since_(std::chrono::steady_clock::now()) {
  uci_.OnCommit([this](const std::string& package) { AfterCommit(package); });
}

PlatformObjects::~PlatformObjects() {
  stopping_ = true;
  for (auto& applier : appliers_) applier.join();
}

bool PlatformObjects::AddObject(ipc::Connection& bus, const std::string& path, std::vector<ipc::ObjectMethod> methods) {
  std::uint32_t id = 0;
  const int status = bus.AddObject(path, std::move(methods), id, kTimeout);
  if (status != ipc::kOk) std::cerr << "platform: cannot add " << path << ": " << ipc::StatusText(status) << "\n";
  return status == ipc::kOk;
}

bool PlatformObjects::Attach(const std::shared_ptr<ipc::Connection>& bus) {
  const Type s = Type::kString;
  const Type t = Type::kTable;
  std::vector<ipc::ObjectMethod> uci = {
      UciObjectMethod(uci_, lock_, "configs", &UciService::Configs, {}),
      UciObjectMethod(uci_, lock_, "get", &UciService::Get,
                    {{"config", s}, {"section", s}, {"option", s}, {"type", s}, {"match", t}, {"ubus_rpc_session", s}}),
      UciObjectMethod(uci_, lock_, "add", &UciService::Add,
                    {{"config", s}, {"type", s}, {"name", s}, {"values", t}, {"ubus_rpc_session", s}}),
      UciObjectMethod(uci_, lock_, "set", &UciService::Set,
                    {{"config", s}, {"section", s}, {"type", s}, {"match", t}, {"values", t}, {"ubus_rpc_session", s}}),
      UciObjectMethod(uci_, lock_, "delete", &UciService::Delete,
                    {{"config", s}, {"section", s}, {"type", s}, {"match", t}, {"option", s}, {"options", Type::kArray},
                     {"ubus_rpc_session", s}}),
      UciObjectMethod(uci_, lock_, "changes", &UciService::Changes, {{"config", s}, {"ubus_rpc_session", s}}),
      UciObjectMethod(uci_, lock_, "revert", &UciService::Revert, {{"config", s}, {"ubus_rpc_session", s}}),
      UciObjectMethod(uci_, lock_, "commit", &UciService::Commit, {{"config", s}, {"ubus_rpc_session", s}}),
  };
  std::vector<ipc::ObjectMethod> wan = {
      {"status", {}, [this](const ipc::InvokeRequest&, const ipc::ReplySender& reply) { return WanStatus(reply); }},
      {"up", {}, [this](const ipc::InvokeRequest&, const ipc::ReplySender&) { SetWan(true); return ipc::kOk; }},
      {"down", {}, [this](const ipc::InvokeRequest&, const ipc::ReplySender&) { SetWan(false); return ipc::kOk; }},
  };
  std::vector<ipc::ObjectMethod> iwinfo = {
      {"scan", {{"device", s}}, [this](const ipc::InvokeRequest& request, const ipc::ReplySender& reply) {
         return Scan(request, reply);
       }},
  };
  std::vector<ipc::ObjectMethod> system = {
      {"board", {}, [this](const ipc::InvokeRequest&, const ipc::ReplySender& reply) { return Board(reply); }},
      {"reboot", {}, [this](const ipc::InvokeRequest&, const ipc::ReplySender&) { return Reboot(); }},
  };
  std::vector<ipc::ObjectMethod> control = {
      {"button", {{"event", s}}, [this](const ipc::InvokeRequest& request, const ipc::ReplySender&) {
         const auto* name = ipc::blobmsg::FindTyped(request.arguments, "event", s);
         PressButton(name != nullptr ? name->text : "reset");
         return ipc::kOk;
       }},
      {"state", {}, [this](const ipc::InvokeRequest&, const ipc::ReplySender& reply) {
         const std::lock_guard<std::mutex> guard(lock_);
         reply({ipc::blobmsg::Node::Bool("wan_up", wan_up_), ipc::blobmsg::Node::Int32("reboots", reboots_)});
         return ipc::kOk;
       }},
  };
  const bool added = AddObject(*bus, "uci", std::move(uci)) && AddObject(*bus, "network.interface.wan", std::move(wan)) &&
                     AddObject(*bus, "iwinfo", std::move(iwinfo)) && AddObject(*bus, "system", std::move(system)) &&
                     AddObject(*bus, "platform", std::move(control));
  if (!added) return false;
  const std::lock_guard<std::mutex> guard(bus_lock_);
  bus_ = bus;
  return true;
}

int PlatformObjects::WanStatus(const ipc::ReplySender& reply) {
  Json status;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    status = wan_up_ ? scenario_.wan_up_status : scenario_.wan_down_status;
    if (wan_up_ && status.contains("uptime")) {
      status["uptime"] = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - wan_since_).count();
    }
  }
  reply(ToMembers(status));
  return ipc::kOk;
}

void PlatformObjects::SetWan(bool up) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    wan_up_ = up;
    wan_since_ = std::chrono::steady_clock::now();
  }
  const Json event = {{"action", up ? "ifup" : "ifdown"}, {"interface", "wan"}};
  SendEvent("network.interface", event);
  if (!up) SendEvent("network.interface", event);  // an administrative down reports twice
}

void PlatformObjects::PressButton(const std::string& name) { SendEvent("button", Json{{"event", name}}); }

int PlatformObjects::Scan(const ipc::InvokeRequest& request, const ipc::ReplySender& reply) {
  const auto* device = ipc::blobmsg::FindTyped(request.arguments, "device", Type::kString);
  if (device == nullptr) return ipc::kInvalidArgument;
  if (!scenario_.scan.contains(device->text)) return ipc::kNotFound;
  reply(ToMembers(Json{{"results", scenario_.scan[device->text]}}));
  return ipc::kOk;
}

int PlatformObjects::Board(const ipc::ReplySender& reply) {
  Json board = scenario_.board;
  std::string error;
  if (const auto system = store_.Load("system", error)) {
    for (const auto& section : system->sections) {
      const auto* hostname = section.type == "system" ? section.Find("hostname") : nullptr;
      if (hostname != nullptr) board["hostname"] = hostname->values.front();
    }
  }
  reply(ToMembers(board));
  return ipc::kOk;
}

int PlatformObjects::Reboot() {
  int count = 0;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    count = ++reboots_;
  }
  std::cout << "platform: reboot requested (" << count << ")" << std::endl;
  if (!scenario_.reboot_record.empty()) std::ofstream(scenario_.reboot_record, std::ios::app) << "reboot\n";
  return ipc::kOk;
}

void PlatformObjects::AfterCommit(const std::string& package) {
  if (package != "wireless" || !scenario_.wireless_brings_wan_up) return;
  // Like the network service reloading after a wireless change: the WAN comes up later.
  appliers_.emplace_back([this] {
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(scenario_.wireless_apply_delay_ms);
    while (!stopping_ && std::chrono::steady_clock::now() < due) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!stopping_) SetWan(true);
  });
}

void PlatformObjects::SendEvent(const std::string& type, const nlohmann::ordered_json& data) {
  std::shared_ptr<ipc::Connection> bus;
  {
    const std::lock_guard<std::mutex> guard(bus_lock_);
    bus = bus_;
  }
  const int status = bus ? bus->SendEvent(type, ToMembers(data), kTimeout) : ipc::kConnectionFailed;
  std::cout << "platform: event " << type << " " << data.dump() << " -> " << ipc::StatusText(status) << std::endl;
}

}  // namespace sim::platform
