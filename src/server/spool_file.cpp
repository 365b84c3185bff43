#include "server/spool_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace spool {

std::string ErrnoText() { return std::strerror(errno); }

SpoolFile SpoolFile::Create(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
  if (descriptor < 0) return SpoolFile(-1, path, ErrnoText());
  ::fchmod(descriptor, 0600);  // whatever the umask took away or left
  return SpoolFile(descriptor, path, "");
}

SpoolFile SpoolFile::OpenForReading(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return SpoolFile(descriptor, path, descriptor < 0 ? ErrnoText() : "");
}

SpoolFile::SpoolFile(int descriptor, std::string path, std::string error)
    : descriptor_(descriptor), path_(std::move(path)), error_(std::move(error)) {}

SpoolFile::~SpoolFile() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

SpoolFile::SpoolFile(SpoolFile&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

SpoolFile& SpoolFile::operator=(SpoolFile&& other) noexcept {
  if (this != &other) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = std::exchange(other.descriptor_, -1);
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
  }
  return *this;
}

bool SpoolFile::Fail() {
  error_ = ErrnoText();
  return false;
}

bool SpoolFile::Append(const std::string& bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t result = ::write(descriptor_, bytes.data() + written, bytes.size() - written);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) {
      if (result == 0) errno = ENOSPC;
      return Fail();
    }
    written += static_cast<std::size_t>(result);
  }
  return true;
}

bool SpoolFile::ReadAt(std::uint64_t offset, std::size_t count, std::string& bytes) {
  bytes.resize(count);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t result =
        ::pread(descriptor_, bytes.data() + done, count - done, static_cast<off_t>(offset + done));
    if (result < 0 && errno == EINTR) continue;
    if (result < 0) return Fail();
    if (result == 0) break;  // the end of the file
    done += static_cast<std::size_t>(result);
  }
  bytes.resize(done);
  return done == count;
}

bool SpoolFile::Sync(std::string* error) const {
  struct stat status {};
  const bool directory = ::fstat(descriptor_, &status) == 0 && S_ISDIR(status.st_mode);
  if ((directory ? ::fsync(descriptor_) : ::fdatasync(descriptor_)) == 0) return true;
  if (error != nullptr) *error = ErrnoText();
  return false;
}

std::uint64_t SpoolFile::Size() {
  struct stat status {};
  if (::fstat(descriptor_, &status) != 0) return 0;
  return static_cast<std::uint64_t>(status.st_size);
}

}  // namespace spool
