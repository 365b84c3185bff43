#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/app.h"
#include "app/signal_handler.h"
#include "common/singleton.h"
#include "log/log.h"
#include "log/logger.h"
#include "nvram/nvram.h"
#include "ui/led.h"

namespace {
// Created before main, so the application, its timer thread and its state machines exist
// when start-up begins.
const std::shared_ptr<App> application = std::make_shared<App>();

// Every line is written until the store has been read; then the configured threshold holds.
void ApplyLogLevel(std::uint32_t level) {
  if (level == NVRAM::kDefaultLogLevel) return;
  LOG_INFO << "Log level " << level << ": lines above it are not written";
  logging::SetThreshold(static_cast<logging::Severity>(level));
}

}  // namespace

int main() {
  signals::InstallHandlers([] { application->Shutdown(); });
  logging::Start();
  // The LED was set up before the log existed; say now why it stays dark, if it does.
  if (const std::string& led_error = Singleton<ui::LED>::Instance().SetupError(); !led_error.empty()) {
    LOG_ERROR << "Status LED unavailable: " << led_error;
  }
  Singleton<NVRAM>::Instance().Init();
  ApplyLogLevel(Singleton<NVRAM>::Instance().LogLevel());
  application->Init();
  application->Run();
  Singleton<NVRAM>::Destroy();
  signals::AwaitFatalSignal();
  // The components and the cloud clients keep running until the process ends, so exit
  // without static destructors and library exit handlers: OpenSSL's clean-up at exit would
  // free its tables under a transfer still in flight on the cloud threads.
  std::fflush(nullptr);
  std::quick_exit(0);
}
