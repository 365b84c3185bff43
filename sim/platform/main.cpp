// The platform objects stand-in: `platformd [-s <socket>] [-c <config dir>] [-S <scenario.json>]`.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "ipc/connection.h"
#include "platform/platform_objects.h"

namespace {

// The broker may still be starting: retry for a while.
std::unique_ptr<ipc::Connection> ConnectWithRetry(const std::string& socket) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto bus = std::make_unique<ipc::Connection>(socket);
    if (bus->ConnectStatus() == ipc::kOk) return bus;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  std::string socket = ipc::Connection::kDefaultSocket;
  std::string config_directory = "/etc/config";
  std::string scenario_path;
  int option = 0;
  while ((option = ::getopt(argc, argv, "s:c:S:")) != -1) {
    switch (option) {
      case 's': socket = optarg; break;
      case 'c': config_directory = optarg; break;
      case 'S': scenario_path = optarg; break;
      default:
        std::cerr << "Usage: " << argv[0] << " [-s <socket>] [-c <config dir>] [-S <scenario.json>]\n";
        return 1;
    }
  }
  std::string scenario_text;
  if (!scenario_path.empty()) {
    std::ifstream file(scenario_path);
    if (!file) {
      std::cerr << "platform: cannot read " << scenario_path << "\n";
      return 1;
    }
    std::stringstream text;
    text << file.rdbuf();
    scenario_text = text.str();
  }
  sim::platform::Scenario scenario;
  try {
    scenario = sim::platform::Scenario::FromText(scenario_text);
  } catch (const std::exception& error) {
    std::cerr << "platform: bad scenario: " << error.what() << "\n";
    return 1;
  }

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  auto bus = ConnectWithRetry(socket);
  if (!bus) {
    std::cerr << "platform: cannot connect to " << socket << "\n";
    return 1;
  }
  sim::platform::UciStore store(config_directory);
  sim::platform::PlatformObjects objects(*bus, store, scenario);
  if (!objects.Register()) return 1;
  std::cout << "platform: objects registered on " << socket << std::endl;

  std::atomic<bool> stop{false};
  std::thread waiter([&] {
    int received = 0;
    sigwait(&signals, &received);
    stop = true;
    bus->Wake();
  });
  bus->Serve(stop);
  if (!stop) {
    std::cerr << "platform: the bus went away\n";
    ::kill(::getpid(), SIGTERM);
  }
  waiter.join();
  return 0;
}
