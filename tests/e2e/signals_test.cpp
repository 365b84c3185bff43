#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "support/sandbox.h"
#include "support/subprocess.h"

using namespace std::chrono_literals;
using testing_support::Subprocess;

namespace {

constexpr auto kStartTimeout = 60s;
const std::string kStarted = "[App::Init@";
// The end of start-up in the sandbox: the channel to the stand-in cloud is open. A signal
// sent earlier may interrupt a thread being created, whose loader lock the trace's
// symbolisation then waits for until the daemon gives up on it.
const std::string kSettled = "Connection opened : ";

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

struct SignalCase {
  int signal;
  bool fatal;
};

class DaemonSignals : public ::testing::TestWithParam<SignalCase> {};

}  // namespace

TEST_P(DaemonSignals, LogsTheSignalRunsShutdownAndEndsAsExpected) {
  const auto [signal, fatal] = GetParam();
  Subprocess daemon(testing_support::SandboxedDaemon());
  ASSERT_TRUE(daemon.WaitForOutput(kStarted, kStartTimeout)) << daemon.Output();
  ASSERT_TRUE(daemon.WaitForOutput(kSettled, kStartTimeout)) << daemon.Output();

  const auto signalled = std::chrono::steady_clock::now();
  daemon.Signal(signal);
  const auto status = daemon.Wait(30s);
  // The run loop ends within about 100 ms and the process exits; a crash first symbolises its
  // trace, slow under sanitizers. A generous bound catches a hanging shutdown.
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, 20s);
  ASSERT_TRUE(status.has_value()) << daemon.Output();
  const auto output = daemon.Output();

  EXPECT_NE(output.find("ERROR [") , std::string::npos);
  EXPECT_NE(output.find("[SignalHandler@"), std::string::npos);
  EXPECT_NE(output.find("Signal Catch : " + std::to_string(signal) + "\n"), std::string::npos) << output;
  EXPECT_NE(output.find("Terminate program..\n"), std::string::npos);
  EXPECT_EQ(CountOf(output, "[SignalHandler@"), fatal ? 3u : 2u) << output;

  if (fatal) {
    EXPECT_NE(output.find(" 0# "), std::string::npos) << "a stack trace follows: " << output;
    ASSERT_TRUE(WIFSIGNALED(*status)) << output;
    EXPECT_EQ(WTERMSIG(*status), signal);
  } else {
    ASSERT_TRUE(WIFEXITED(*status)) << output;
    EXPECT_EQ(WEXITSTATUS(*status), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, DaemonSignals,
                         ::testing::Values(SignalCase{SIGTERM, false}, SignalCase{SIGINT, false},
                                           SignalCase{SIGSEGV, true}, SignalCase{SIGABRT, true}),
                         [](const auto& test) { return std::string(sigabbrev_np(test.param.signal)); });

TEST(DaemonSandbox, LogFileStaysInsideTheSandbox) {
  Subprocess daemon(testing_support::SandboxedDaemon());
  ASSERT_TRUE(daemon.WaitForOutput(kStarted, kStartTimeout)) << daemon.Output();

  const std::string inside = "/proc/" + std::to_string(daemon.Pid()) + "/root/var/log/quellaron.log";
  std::ifstream log(inside);
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_NE(text.str().find(kStarted), std::string::npos) << inside;
  daemon.Signal(SIGTERM);
  EXPECT_TRUE(daemon.Wait(30s).has_value());
}
