#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "support/sandbox.h"
#include "support/subprocess.h"

namespace testing_support {

// The daemon in its sandbox among the stand-ins, started as the sandbox's settings leave it
// and stopped with SIGTERM after each test; its files are read through /proc/PID/root.
class SandboxedGateway : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon_ = std::make_unique<Subprocess>(SandboxedDaemon());
    ASSERT_TRUE(daemon_->WaitForOutput("[App::Init@", std::chrono::seconds(60))) << daemon_->Output();
  }
  void TearDown() override {
    daemon_->Signal(SIGTERM);
    EXPECT_TRUE(daemon_->Wait(std::chrono::seconds(30)).has_value());
  }

  std::string Root() const { return "/proc/" + std::to_string(daemon_->Pid()) + "/root"; }
  // A file of the sandbox, whole; empty when it cannot be read.
  std::string File(const std::string& path) const {
    std::ifstream file(Root() + path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  std::unique_ptr<Subprocess> daemon_;
};

}  // namespace testing_support
