#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/app.h"
#include "app/signal_handler.h"
#include "common/singleton.h"
#include "log/logger.h"
#include "nvram/nvram.h"

namespace {
// Created before main, so the application, its timer thread and its state machines exist
// when start-up begins.
const std::shared_ptr<App> application = std::make_shared<App>();
}  // namespace

int main() {
  signals::InstallHandlers([] { application->Shutdown(); });
  logging::Start();
  Singleton<NVRAM>::Instance().Init();
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
