#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "support/subprocess.h"
#include "support/temp_directory.h"

namespace ipc_test {

// The project's broker running on a socket of its own in a fresh directory (or the broker
// named by QUELLARON_TEST_UBUSD).
class BrokerProcess {
 public:
  BrokerProcess();
  ~BrokerProcess();
  BrokerProcess(const BrokerProcess&) = delete;
  BrokerProcess& operator=(const BrokerProcess&) = delete;

  const std::string& Socket() const { return socket_; }
  const std::string& Directory() const { return directory_; }
  // Kills the broker at once (SIGKILL) and waits for it.
  void Kill();
  // Starts a fresh broker on the same socket (after Kill).
  void Restart();

 private:
  void Start();

  std::string directory_;
  std::string socket_;
  std::unique_ptr<testing_support::Subprocess> process_;
};

// Collects the daemon's log lines (logger started on a file of its own) for checks.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() const;
  bool Contains(const std::string& text) const;

 private:
  std::string directory_;
  std::FILE* console_ = nullptr;
};

using testing_support::MakeTempDirectory;

}  // namespace ipc_test
