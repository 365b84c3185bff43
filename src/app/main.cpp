#include <memory>

#include "app/app.h"
#include "app/signal_handler.h"
#include "log/logger.h"

namespace {
// Created before main, so the application, its timer thread and its state machines exist
// when start-up begins.
const std::shared_ptr<App> application = std::make_shared<App>();
}  // namespace

int main() {
  signals::InstallHandlers([] { application->Shutdown(); });
  logging::Start();
  application->Init();
  application->Run();
  signals::AwaitFatalSignal();
  return 0;
}
