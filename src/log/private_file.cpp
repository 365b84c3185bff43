#include "log/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace logging {

namespace {
constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;
}

void MakePrivateFile(const std::string& path) {
  // Created with the narrow mode, so no other user can open it before the chmod below.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, kOwnerOnly);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "creating " + path);
  const int changed = ::fchmod(fd, kOwnerOnly);
  const int saved_errno = errno;
  ::close(fd);
  if (changed != 0) throw std::system_error(saved_errno, std::generic_category(), "restricting " + path);
}

void MakeExistingFilePrivate(const std::string& path) { ::chmod(path.c_str(), kOwnerOnly); }

}  // namespace logging
