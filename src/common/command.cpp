#include "common/command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace common {
namespace {

// Closes a descriptor once.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

class SpawnActions {
 public:
  SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* Get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

std::string ReadAll(int fd) {
  std::string output;
  char buffer[128];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) {
      output.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0 || errno != EINTR) {
      return output;
    }
  }
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, Capture capture) {
  if (argv.empty()) throw std::runtime_error("no command to run");
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("popen() failed!");
  Descriptor read_end(ends[0]);
  Descriptor write_end(ends[1]);

  SpawnActions actions;
  ::posix_spawn_file_actions_adddup2(actions.Get(), write_end.Get(), STDOUT_FILENO);
  if (capture == Capture::kOutputAndErrors) {
    ::posix_spawn_file_actions_adddup2(actions.Get(), write_end.Get(), STDERR_FILENO);
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // The daemon's sockets and files stay with the daemon (musl has no such action; there the
  // descriptors the daemon opens without close-on-exec are inherited, as through popen).
  ::posix_spawn_file_actions_addclosefrom_np(actions.Get(), STDERR_FILENO + 1);
#endif

  std::vector<char*> arguments;
  for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);

  pid_t pid = -1;
  const int error = ::posix_spawnp(&pid, arguments[0], actions.Get(), nullptr, arguments.data(), environ);
  write_end.Close();
  if (error != 0) throw std::runtime_error("cannot run " + argv[0] + ": " + std::strerror(error));
  CommandResult result;
  result.output = ReadAll(read_end.Get());
  result.exit_status = WaitFor(pid);
  return result;
}

std::string CommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (const auto& argument : argv) line += (line.empty() ? "" : " ") + argument;
  return line;
}

}  // namespace common
