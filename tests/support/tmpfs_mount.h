#pragma once

#include <string>

namespace testing_support {

// A tmpfs mounted at `path` (made if missing) for the life of the object, in a private mount
// namespace of the calling thread (made on first use, inherited by the threads it starts
// later), so a test can hand code a read-only or a small file system without touching the
// machine's. Needs CAP_SYS_ADMIN: without it Mounted() is false and Error() says why.
class TmpfsMount {
 public:
  // `options` as for mount(8)'s -o of tmpfs ("size=64k"); `read_only` mounts it so.
  TmpfsMount(std::string path, const std::string& options, bool read_only = false);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string error_;
};

// Fills the file system holding `directory` with one file until it refuses more bytes.
void FillFileSystem(const std::string& directory);

}  // namespace testing_support
