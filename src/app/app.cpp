#include "app/app.h"

#include <exception>
#include <system_error>
#include <thread>

#include "app/app_state_machine.h"
#include "app/cloud_watch.h"
#include "hci/hci_socket_controller.h"
#include "ble/bluetooth_le.h"
#include "common/singleton.h"
#include "common/tinyfsm.h"
#include "log/log.h"
#include "mailbox/message_id.h"
#include "mesh/bluetooth_mesh.h"
#include "nvram/nvram.h"
#include "ota/ota_manager.h"
#include "plc/plc_manager.h"
#include "server/server_api.h"
#include "status/status_object.h"
#include "ui/led_state_machine.h"
#include "websocket/endpoint.h"

namespace {

constexpr int kBusTimeoutSeconds = ipc::kDefaultCallTimeoutSeconds;

// The process's services. The store is loaded by main before the application starts; the
// cloud client and the firmware manager are made from it on first use (by the components,
// during Init), so they read the loaded values.
NVRAM& Store() { return Singleton<NVRAM>::Instance(); }

ServerAPI& Cloud() {
  return Singleton<ServerAPI>::Instance([] { return std::make_unique<ServerAPI>(Store()); });
}

OTAManager& Firmware() {
  return Singleton<OTAManager>::Instance([] { return std::make_unique<OTAManager>(OTAServices{Store(), Cloud()}); });
}

}  // namespace

App::App(AppPlatform platform, AppComponents components)
    : platform_(std::move(platform)),
      components_(std::move(components)),
      hci_(platform_.hci ? platform_.hci : std::make_shared<HciSocketController>()),
      timers_(std::make_unique<timer::TimerQueue>()) {
  tinyfsm::FsmList<AppStateMachine, LEDStateMachine>::Start();
}

App::~App() = default;

void App::Init() {
  LOG_DEBUG;
  const auto self = shared_from_this();
  mesh_ = components_.make_mesh(self);
  ble_ = components_.make_ble(self);
  websocket_ = components_.make_websocket(self);
  plc_manager_ = components_.make_plc_manager(self);
  WatchCloud();
  initialised_ = true;

  listener_ = std::make_shared<status::StatusObject>("quellaron", kBusTimeoutSeconds, platform_.ubus_socket);
  listener_->RegisterEventHandler("network.interface", [this](const char* json) { NetworkEventHandler(json); });
  listener_->RegisterEventHandler("button", [this](const char* json) { ButtonEventHandler(json); });
  // Back on a restarted bus: an ifup or ifdown may have passed meanwhile.
  listener_->SetReconnectedHandler([this] { PostToSelf(mailbox::APP_EVT_CHECK_NETWORK); });
  ProvideStatusObject();
  listener_->ServerStart();

  const bool bluetooth_started = Singleton<NVRAM>::Instance().MeshEnable() ? mesh_->Initialize() : ble_->Initialize();
  if (!bluetooth_started) PostToSelf(mailbox::SYS_EVT_BLUETOOTH_MALFUNCTION);

  GetIPAddress(platform_.ubus_socket);
  QueryWanStatus(logging::Severity::debug);
  components_.start_firmware_timers();
}

void App::WatchCloud() {
  cloud_watch_ = std::make_shared<CloudWatch>(
      *timers_,
      [app = weak_from_this()](std::uint32_t id) {
        if (const auto self = app.lock()) self->PostToSelf(id);
      },
      platform_.cloud_grace);
  const std::weak_ptr<CloudWatch> watch = cloud_watch_;
  websocket_->ObserveConnection([watch](bool open) {
    if (const auto live = watch.lock()) live->OnChannel(open);
  });
  if (!components_.observe_deliveries) return;
  components_.observe_deliveries([watch](bool delivered) {
    if (const auto live = watch.lock()) live->OnDelivery(delivered);
  });
}

void App::Run() {
  running_ = true;
  if (stop_requested_) running_ = false;
  while (running_) {
    DispatchMessages();
    // Sleeps until a post or Shutdown: an idle daemon does not wake up.
    std::unique_lock<std::mutex> guard(run_lock_);
    run_signal_.wait(guard, [this] { return !running_ || !inbox_.Empty(); });
  }
}

// The empty critical section orders the change the loop waits for (a queued message, a
// cleared running flag) before the loop's next look at it, so no wake-up is lost.
void App::WakeRunLoop() {
  { const std::lock_guard<std::mutex> guard(run_lock_); }
  run_signal_.notify_all();
}

void App::DispatchMessages() {
  while (!inbox_.Empty()) {
    const mailbox::Depesche message = inbox_.Pop();
    if (message.destination == nullptr) continue;
    try {
      std::thread handler([&message] {
        try {
          message.destination->OnMessage(message);
        } catch (const std::exception& error) {
          LOG_ERROR << "Message 0x" << std::hex << message.id << " ended by: " << error.what();
        } catch (...) {
          LOG_ERROR << "Message 0x" << std::hex << message.id << " ended by an unknown exception";
        }
      });
      handler.join();
    } catch (const std::system_error& error) {
      LOG_ERROR << "Message 0x" << std::hex << message.id << " dropped: " << error.what();
    }
  }
}

void App::Post(const mailbox::Depesche& message) {
  inbox_.Push(message);
  WakeRunLoop();
}

void App::PostToSelf(std::uint32_t id, std::shared_ptr<void> data) {
  mailbox::PostMessage(*this, this, id, std::move(data));
}

void App::Shutdown() {
  if (initialised_) {
    mesh_->Deinitialize();
    websocket_->Stop();
  }
  if (components_.flush_reports) components_.flush_reports();
  stop_requested_ = true;
  running_ = false;
  WakeRunLoop();
}

AppComponents ProductionComponents() {
  AppComponents components;
  components.make_mesh = [](AppComponents::Poster app) -> std::unique_ptr<MeshComponent> {
    return std::make_unique<BluetoothMesh>(std::move(app), MeshServices{Store(), Cloud(), Firmware()});
  };
  components.make_ble = [](AppComponents::Poster app) -> std::unique_ptr<ProvisioningComponent> {
    return std::make_unique<BluetoothLE>(std::move(app), Store());
  };
  components.make_websocket = [](AppComponents::Poster app) -> std::unique_ptr<ChannelComponent> {
    return std::make_unique<websocket::Endpoint>(std::move(app), Store());
  };
  components.make_plc_manager = [](AppComponents::Poster app) -> std::unique_ptr<PlcComponent> {
    return std::make_unique<PLCManager>(std::move(app), PlcServices{Store(), Cloud()});
  };
  components.authenticate = [](const std::string& device_id, std::function<void(bool)> done) {
    Cloud().Authentication(device_id, std::move(done));
  };
  components.start_firmware_timers = [] { Firmware().StartTimers(); };
  components.observe_deliveries = [](std::function<void(bool)> observer) {
    Cloud().ObserveDeliveries(std::move(observer));
  };
  components.flush_reports = [] {
    if (Singleton<ServerAPI>::Exists()) Cloud().FlushSpool();
  };
  components.cloud_facts = [] { return status::CloudFactsOf(Cloud()); };
  components.firmware_status = [] { return Firmware().Status(); };
  return components;
}
