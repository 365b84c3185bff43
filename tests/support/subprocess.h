#pragma once

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// A child process (argv[0] found through PATH when it has no slash) whose standard output and
// error are collected (together) on a thread. Under a cross build's emulator, a program of the
// build tree is started through the emulator too.
// The destructor kills and reaps a child that is still running.
class Subprocess {
 public:
  explicit Subprocess(const std::vector<std::string>& argv);
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  pid_t Pid() const { return pid_; }
  std::string Output() const;
  // Waits until the output contains `text`.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const;
  void Signal(int signal) const;
  // The raw wait status once the child has ended, or nothing after `timeout`. Once it has
  // ended, Output() holds all it wrote (unless a process it left behind keeps the pipe open
  // for more than a few seconds).
  std::optional<int> Wait(std::chrono::milliseconds timeout);

 private:
  void Collect(int fd);

  pid_t pid_ = -1;
  std::optional<int> status_;
  mutable std::mutex lock_;
  std::string output_;
  bool output_ended_ = false;  // the reader saw the end of the pipe
  std::thread reader_;
};

}  // namespace testing_support
