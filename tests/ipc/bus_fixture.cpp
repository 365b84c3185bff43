#include "ipc/bus_fixture.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "log/logger.h"
#include "support/sandbox.h"
#include "support/wait.h"

namespace ipc_test {

BrokerProcess::BrokerProcess() : directory_(MakeTempDirectory("ubusd")), socket_(directory_ + "/ubus.sock") {
  // QUELLARON_TEST_UBUSD may name another broker (the platform's own ubusd) to check that
  // the client and the stand-ins work with it too.
  const char* other = std::getenv("QUELLARON_TEST_UBUSD");
  const std::string broker = other != nullptr && *other != '\0' ? other : testing_support::BuildPath("sim/ubusd/ubusd");
  process_ = std::make_unique<testing_support::Subprocess>(std::vector<std::string>{broker, "-s", socket_});
  if (!testing_support::WaitUntil([&] { return std::filesystem::exists(socket_); })) {
    throw std::runtime_error("the broker did not start: " + process_->Output());
  }
}

BrokerProcess::~BrokerProcess() {
  process_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

void BrokerProcess::Kill() {
  process_->Signal(SIGKILL);
  process_->Wait(std::chrono::seconds(10));
}

LogCapture::LogCapture() : directory_(MakeTempDirectory("log")) {
  logging::Settings settings;
  settings.file_path = directory_ + "/quellaron.log";
  console_ = std::tmpfile();
  settings.console = console_;
  logging::Start(settings);
}

LogCapture::~LogCapture() {
  logging::Stop();
  if (console_ != nullptr) std::fclose(console_);
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

std::string LogCapture::Text() const {
  std::ifstream file(directory_ + "/quellaron.log");
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

bool LogCapture::Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }

}  // namespace ipc_test
