#include "app/app.h"

#include <chrono>
#include <exception>
#include <system_error>
#include <thread>

#include "app/app_state_machine.h"
#include "common/tinyfsm.h"
#include "log/log.h"

namespace {
constexpr auto kDispatchPeriod = std::chrono::milliseconds(100);
}

App::App() : timers_(std::make_unique<timer::TimerQueue>()) { tinyfsm::FsmList<AppStateMachine>::Start(); }

App::~App() = default;

void App::Init() { LOG_DEBUG; }

void App::Run() {
  running_ = true;
  if (stop_requested_) running_ = false;
  while (running_) {
    DispatchMessages();
    // Wakes early for a new message; the period bounds how late a Shutdown is noticed.
    inbox_.WaitFor(kDispatchPeriod);
  }
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

void App::Post(const mailbox::Depesche& message) { inbox_.Push(message); }

void App::OnMessage(const mailbox::Depesche& /*message*/) {}

void App::Shutdown() {
  stop_requested_ = true;
  running_ = false;
}
