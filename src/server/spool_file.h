#pragma once

#include <cstdint>
#include <string>

namespace spool {

// One open file of the report spool (a segment or the spool's directory), closed with the
// object. Operations return false and keep the errno text in Error() when the system call
// fails. Not locked: its owner serialises the use.
class SpoolFile {
 public:
  // A new file, mode 0600 whatever the umask, opened for appending; fails when it exists.
  static SpoolFile Create(const std::string& path);
  // An existing file (or directory) opened for reading.
  static SpoolFile OpenForReading(const std::string& path);

  SpoolFile() = default;
  ~SpoolFile();
  SpoolFile(SpoolFile&& other) noexcept;
  SpoolFile& operator=(SpoolFile&& other) noexcept;
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  bool IsOpen() const { return descriptor_ >= 0; }
  const std::string& Path() const { return path_; }
  // The errno text of the last failure.
  const std::string& Error() const { return error_; }

  // Appends all of `bytes` (a short write is a failure).
  bool Append(const std::string& bytes);
  // Reads `count` bytes at `offset` into `bytes`; true when all of them were there.
  bool ReadAt(std::uint64_t offset, std::size_t count, std::string& bytes);
  // Writes what the file holds to storage: fdatasync (fsync for a directory). Safe beside
  // a concurrent Append; on failure `error` (when given) gets the errno text.
  bool Sync(std::string* error = nullptr) const;
  // The file's size now; zero when it cannot be told.
  std::uint64_t Size();

 private:
  SpoolFile(int descriptor, std::string path, std::string error);
  bool Fail();  // keeps errno's text, returns false

  int descriptor_ = -1;
  std::string path_;
  std::string error_;
};

// The errno text of the last failed call (strerror).
std::string ErrnoText();

}  // namespace spool
