#include "ipc/bus_fixture.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "log/logger.h"
#include "support/sandbox.h"
#include "support/wait.h"

namespace ipc_test {

namespace {

// True when a client can connect to the socket at `path`.
bool Accepts(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

BrokerProcess::BrokerProcess() : directory_(MakeTempDirectory("ubusd")), socket_(directory_ + "/ubus.sock") { Start(); }

void BrokerProcess::Start() {
  // QUELLARON_TEST_UBUSD may name another broker (the platform's own ubusd) to check that
  // the client and the stand-ins work with it too.
  const char* other = std::getenv("QUELLARON_TEST_UBUSD");
  const std::string broker = other != nullptr && *other != '\0' ? other : testing_support::BuildPath("sim/ubusd/ubusd");
  process_ = std::make_unique<testing_support::Subprocess>(std::vector<std::string>{broker, "-s", socket_});
  // A killed broker leaves its socket file behind: wait until the new one accepts.
  if (!testing_support::WaitUntil([&] { return Accepts(socket_); })) {
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

void BrokerProcess::Restart() {
  process_.reset();
  Start();
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
