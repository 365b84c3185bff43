// The sandbox's bus broker is killed and respawned, as procd does on a router: the platform
// objects and the daemon connect again, the daemon's own object is back on the bus, and the
// daemon reacts to the next WAN event.

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/wait.h"
#include "wan_down_gateway.h"

using namespace std::chrono_literals;
using testing_support::WaitUntil;

namespace {

struct ProcessInfo {
  std::string name;
  pid_t parent = 0;
};

// The command name and parent of a process, from /proc/<pid>/stat.
std::optional<ProcessInfo> ReadProcess(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(file, stat)) return std::nullopt;
  const auto open = stat.find('(');
  const auto close = stat.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  ProcessInfo info;
  info.name = stat.substr(open + 1, close - open - 1);
  std::istringstream rest(stat.substr(close + 1));
  std::string state;
  rest >> state >> info.parent;
  return info;
}

bool DescendsFrom(pid_t pid, pid_t ancestor) {
  for (int depth = 0; depth < 16 && pid > 1; ++depth) {
    const auto info = ReadProcess(pid);
    if (!info) return false;
    if (info->parent == ancestor) return true;
    pid = info->parent;
  }
  return false;
}

// The broker of the sandbox whose command is `sandbox`: a process named ubusd below it (the
// sandbox has no process namespace of its own, so other brokers may run beside it).
pid_t SandboxBroker(pid_t sandbox) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    const auto info = ReadProcess(pid);
    if (info && info->name == "ubusd" && DescendsFrom(pid, sandbox)) return pid;
  }
  return 0;
}

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class BrokerRestart : public testing_support::WanDownGateway {};

}  // namespace

TEST_F(BrokerRestart, TheDaemonHearsWanEventsAgainAfterUbusdIsRespawned) {
  ASSERT_TRUE(daemon_->WaitForOutput("Interface DOWN", 30s)) << daemon_->Output();
  EXPECT_TRUE(Ubus({"call", "quellaron", "status"}));
  const pid_t broker = SandboxBroker(daemon_->Pid());
  ASSERT_GT(broker, 0);

  ASSERT_EQ(::kill(broker, SIGTERM), 0);
  EXPECT_TRUE(daemon_->WaitForOutput("ubus connection lost", 30s)) << daemon_->Output();
  EXPECT_TRUE(WaitUntil([&] {
    const pid_t respawned = SandboxBroker(daemon_->Pid());
    return respawned > 0 && respawned != broker;
  }, 30s)) << "the sandbox respawns ubusd";
  ASSERT_TRUE(daemon_->WaitForOutput("ubus connection restored", 60s)) << daemon_->Output();
  // Back on the bus, the daemon asks for the WAN status once (an ifup may have passed); it
  // either gets the answer or, were the platform objects not back yet, fails the lookup.
  EXPECT_TRUE(WaitUntil([&] {
    const std::string output = daemon_->Output();
    const std::string after = output.substr(output.find("ubus connection restored"));
    return after.find("Interface DOWN") != std::string::npos || after.find("lookup_id") != std::string::npos;
  }, 30s)) << daemon_->Output();
  // The platform objects are back too, as rpcd and netifd come back on a router.
  EXPECT_TRUE(WaitUntil([&] { return Ubus({"call", "network.interface.wan", "status"}); }, 30s));
  // The daemon's object was added again with its events, before the connection was restored.
  EXPECT_TRUE(Ubus({"call", "quellaron", "status"}));
  EXPECT_TRUE(Ubus({"call", "quellaron", "plcs"}));

  ASSERT_TRUE(Ubus({"send", "network.interface", R"({"interface":"wan","action":"ifup"})"}));
  EXPECT_TRUE(daemon_->WaitForOutput("SYS_EVT_NETWORK_CONNECTED", 30s)) << daemon_->Output();
  EXPECT_TRUE(daemon_->WaitForOutput("APP_EVT_OAUTH_REQUEST", 30s)) << daemon_->Output();
  EXPECT_TRUE(CloudHeard("/auth_device/request")) << Cloud().Requests().dump();
  EXPECT_EQ(CountOf(daemon_->Output(), "ubus connection restored"), 1u) << daemon_->Output();
}
