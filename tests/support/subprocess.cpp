#include "support/subprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

#include "support/wait.h"

extern char** environ;

namespace testing_support {
namespace {

// In a cross build the tests run under an emulator (QUELLARON_EMULATOR, e.g. "qemu-s390x-static
// -L <sysroot>"), and so must the programs of the build tree they start: the kernel cannot run
// them itself. Programs of the host (bash, dbus-daemon) start as they are.
std::vector<std::string> WithEmulator(const std::vector<std::string>& argv) {
#ifdef QUELLARON_EMULATOR
  const std::string build_dir = QUELLARON_BUILD_DIR;
  if (argv.empty() || argv.front().rfind(build_dir + "/", 0) != 0) return argv;
  std::vector<std::string> command;
  std::istringstream words(QUELLARON_EMULATOR);
  for (std::string word; words >> word;) command.push_back(word);
  command.insert(command.end(), argv.begin(), argv.end());
  return command;
#else
  return argv;
#endif
}

}  // namespace

Subprocess::Subprocess(const std::vector<std::string>& requested) {
  const std::vector<std::string> argv = WithEmulator(requested);
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const int result = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  if (result != 0) {
    ::close(pipe_fds[0]);
    throw std::runtime_error("cannot start " + argv.front());
  }
  reader_ = std::thread([this, fd = pipe_fds[0]] { Collect(fd); });
}

Subprocess::~Subprocess() {
  if (!status_) {
    ::kill(pid_, SIGKILL);
    Wait(std::chrono::seconds(10));
  }
  if (reader_.joinable()) reader_.join();
}

void Subprocess::Collect(int fd) {
  char buffer[4096];
  for (;;) {
    const auto got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    const std::lock_guard<std::mutex> guard(lock_);
    output_.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  const std::lock_guard<std::mutex> guard(lock_);
  output_ended_ = true;
}

std::string Subprocess::Output() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return output_;
}

bool Subprocess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return Output().find(text) != std::string::npos; }, timeout);
}

void Subprocess::Signal(int signal) const { ::kill(pid_, signal); }

std::optional<int> Subprocess::Wait(std::chrono::milliseconds timeout) {
  if (status_) return status_;
  WaitUntil(
      [&] {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
        return status_.has_value();
      },
      timeout);
  // The child's last writes may still be in the pipe: let the reader take them.
  if (status_) {
    WaitUntil(
        [&] {
          const std::lock_guard<std::mutex> guard(lock_);
          return output_ended_;
        },
        std::chrono::seconds(5));
  }
  return status_;
}

}  // namespace testing_support
