#include "support/tmpfs_mount.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace testing_support {

namespace {

// Empty when the calling thread has mounts of its own, else why not.
std::string PrivateMountNamespace() {
  thread_local std::string error = [] {
    if (::unshare(CLONE_NEWNS) != 0) return "unshare(CLONE_NEWNS): " + std::string(std::strerror(errno));
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      return "making / private: " + std::string(std::strerror(errno));
    }
    return std::string();
  }();
  return error;
}

}  // namespace

TmpfsMount::TmpfsMount(std::string path, const std::string& options, bool read_only) : path_(std::move(path)) {
  error_ = PrivateMountNamespace();
  if (!error_.empty()) return;
  ::mkdir(path_.c_str(), 0755);
  const unsigned long flags = read_only ? MS_RDONLY : 0;
  if (::mount("tmpfs", path_.c_str(), "tmpfs", flags, options.c_str()) != 0) {
    error_ = "mount tmpfs at " + path_ + ": " + std::strerror(errno);
    return;
  }
  mounted_ = true;
}

TmpfsMount::~TmpfsMount() {
  if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
}

void FillFileSystem(const std::string& directory) {
  const std::string path = directory + "/filler";
  const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (file < 0) return;
  const std::vector<char> block(4096, 'x');
  while (::write(file, block.data(), block.size()) > 0) {
  }
  const char byte = 'x';
  while (::write(file, &byte, 1) > 0) {
  }
  ::close(file);
}

}  // namespace testing_support
