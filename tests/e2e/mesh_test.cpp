// The daemon in mesh mode in its sandbox with the stand-in mesh daemon: the first run joins
// and configures its node; the next run attaches with the stored token and configures
// nothing; a restart of the mesh daemon is followed by a new attach.

#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin/control_socket.h"
#include "support/sandbox.h"
#include "support/subprocess.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::SourcePath;
using testing_support::Subprocess;
using testing_support::WaitUntil;

namespace {

class SandboxedMesh : public ::testing::Test {
 protected:
  void SetUp() override {
    // Two runs of the daemon in one sandbox: the first is stopped by the test, the second
    // replaces the shell and is stopped in TearDown.
    daemon_ = std::make_unique<Subprocess>(std::vector<std::string>{
        "/bin/bash", SourcePath("sim/sandbox/sandbox"), "--build", testing_support::BuildPath(""), "--",
        SourcePath("sim/sandbox/mesh-mode"), "/bin/bash", "-c", R"("$0"; echo "first run ended"; exec "$0")",
        testing_support::BuildPath("src/app/quellaron")});
    ASSERT_TRUE(daemon_->WaitForOutput("[App::Init@", 60s)) << daemon_->Output();
  }
  void TearDown() override {
    daemon_->Signal(SIGTERM);
    const auto status = daemon_->Wait(30s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << daemon_->Output();
  }

  json Meshd(const json& command) const {
    return sim::standin::ControlCall("/proc/" + std::to_string(daemon_->Pid()) + "/root/run/sim/meshd.sock", command);
  }
  std::vector<json> Records(const std::string& kind, const std::string& member) const {
    std::vector<json> found;
    const json reply = Meshd({{"cmd", "records"}});
    for (const json& record : reply.at("records")) {
      if (record.value("kind", "") == kind && record.value("member", "") == member) found.push_back(record);
    }
    return found;
  }
  bool Attached() const {
    const auto attaches = Records("reply", "Attach");
    return !attaches.empty() && !attaches.back().contains("error");
  }

  std::unique_ptr<Subprocess> daemon_;
};

}  // namespace

TEST_F(SandboxedMesh, JoinsOnceThenAttachesWithItsTokenAcrossRestarts) {
  // First run: import, attach, the four configuration messages and their four status replies.
  ASSERT_TRUE(WaitUntil([&] { return Records("delivered", "DevKeyMessageReceived").size() == 4; }, 60s))
      << daemon_->Output();
  const auto configuration = Records("call", "DevKeySend");
  ASSERT_EQ(configuration.size(), 4u);
  for (const json& call : configuration) EXPECT_FALSE(call.contains("error")) << call;
  for (const json& reply : Records("delivered", "DevKeyMessageReceived")) {
    EXPECT_FALSE(reply.contains("error")) << reply;
  }
  EXPECT_EQ(Records("call", "Import").size(), 1u);

  // Second run of the daemon: attach with the stored token, no import, no configuration.
  ASSERT_TRUE(Meshd({{"cmd", "clear"}}).at("ok"));
  Subprocess stop({"/usr/bin/pkill", "-TERM", "-x", "-P", std::to_string(daemon_->Pid()), "quellaron"});
  ASSERT_TRUE(stop.Wait(10s).has_value());
  ASSERT_TRUE(daemon_->WaitForOutput("first run ended", 30s)) << daemon_->Output();
  ASSERT_TRUE(WaitUntil([&] { return Attached(); }, 60s)) << daemon_->Output();
  EXPECT_TRUE(Records("call", "Import").empty());
  EXPECT_TRUE(Records("call", "DevKeySend").empty());

  // The mesh daemon restarts: the gateway attaches to the new instance.
  ASSERT_TRUE(Meshd({{"cmd", "clear"}}).at("ok"));
  ASSERT_TRUE(Meshd({{"cmd", "restart"}, {"off_ms", 1000}}).at("ok"));
  EXPECT_TRUE(WaitUntil([&] { return Attached(); }, 60s)) << daemon_->Output();
  EXPECT_TRUE(Records("call", "DevKeySend").empty());
}
