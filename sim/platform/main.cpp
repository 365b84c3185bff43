// The platform objects stand-in: `platformd [-s <socket>] [-c <config dir>] [-S <scenario.json>]`.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "standin/stop_signals.h"
#include "ipc/bus_defaults.h"
#include "platform/bus_session.h"
#include "platform/platform_objects.h"

int main(int argc, char** argv) {
  std::string socket = ipc::kDefaultSocket;
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

  const sim::standin::StopSignals stop_signals;  // before any thread starts
  ::signal(SIGPIPE, SIG_IGN);

  sim::platform::UciStore store(config_directory);
  sim::platform::PlatformObjects objects(store, scenario);
  sim::platform::BusSession session(socket, objects);
  std::thread waiter([&] {
    stop_signals.Wait();
    session.Stop();
  });
  const bool served = session.Run();
  if (!served) {
    std::cerr << "platform: cannot connect to " << socket << "\n";
    ::kill(::getpid(), SIGTERM);  // ends the waiter
  }
  waiter.join();
  return served ? 0 : 1;
}
