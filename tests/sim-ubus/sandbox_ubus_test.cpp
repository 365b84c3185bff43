// The daemon in the sandbox with the broker and the platform objects at the platform paths.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "support/sandbox.h"
#include "support/subprocess.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using testing_support::InSandbox;
using testing_support::Subprocess;

namespace {

int RunInSandbox(int pid, const std::vector<std::string>& command, std::string& output) {
  Subprocess tool(InSandbox(pid, command));
  const auto status = tool.Wait(30s);
  output = tool.Output();
  return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

}  // namespace

TEST(SandboxBus, TheDaemonLoadsItsSettingsAndTheCliWorksInside) {
  Subprocess daemon(testing_support::SandboxedDaemon());
  ASSERT_TRUE(daemon.WaitForOutput("Settings loaded: url https://cloud.example.com/api/v1, mesh disabled, 0 PLC(s)", 60s))
      << daemon.Output();
  ASSERT_TRUE(daemon.WaitForOutput("[App::Init@", 30s)) << daemon.Output();

  // The platform's objects, and the daemon's own once its listener is on the bus.
  std::string output;
  const std::string listing = "iwinfo\nnetwork.interface.wan\nplatform\nquellaron\nsystem\nuci\n";
  EXPECT_TRUE(testing_support::WaitUntil([&] {
    return RunInSandbox(daemon.Pid(), {"/usr/local/bin/ubus", "list"}, output) == 0 && output == listing;
  }, 20s)) << output;
  EXPECT_EQ(RunInSandbox(daemon.Pid(), {"/usr/local/bin/ubus", "-S", "call", "uci", "get",
                                        R"({"config":"ferrowick","section":"sys","option":"url"})"},
                         output),
            0);
  EXPECT_EQ(output, "{\"value\":\"https://cloud.example.com/api/v1\"}\n");

  Subprocess listener(InSandbox(daemon.Pid(), {"/usr/local/bin/ubus", "-t", "20", "listen", "button"}));
  EXPECT_TRUE(testing_support::WaitUntil([&] {
    RunInSandbox(daemon.Pid(), {"/usr/local/bin/ubus", "send", "button", R"({"event":"test"})"}, output);
    return listener.Output().find(R"({ "button": {"event":"test"} })") != std::string::npos;
  }, 20s)) << listener.Output();

  daemon.Signal(SIGTERM);
  EXPECT_TRUE(daemon.Wait(30s).has_value()) << daemon.Output();
}
