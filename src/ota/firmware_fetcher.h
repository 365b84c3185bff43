#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ota/firmware_download.h"

namespace ota {

// The firmware manager's own folder and every file in it: each one fetched from the firmware
// host by name into the folder, its detached signature checked when a signing key is set,
// and removed again by its user once installed, refused or failed.
class FirmwareFetcher {
 public:
  // A signature file is 64 bytes; anything much larger is not one.
  static constexpr std::uint64_t kMaxSignatureSize = 1024;

  FirmwareFetcher(std::string folder, DownloadOptions options);

  // Creates the folder (for the owner only) and removes whatever an earlier run left in it.
  void Prepare() const;
  // Why the folder cannot be used, or nothing when it can; makes it when it is missing. On a
  // router /var is the world-writable /tmp, so a folder that is a link, or not this user's
  // own, is never used (nor emptied); one of its own that others may write is narrowed.
  std::optional<std::string> FolderProblem() const;
  std::string PathOf(const std::string& name) const;

  // Fetches `base_url`/`name` into the folder within `limits`. With a signing key (`key`, its
  // Base64 text; empty: none) the signature at the same url plus ".sig" is fetched first and
  // the file must carry it. True: the file is in place (and verified). False: nothing of it is
  // left, and one error line said why.
  bool Fetch(const std::string& base_url, const std::string& name, const DownloadLimits& limits,
             const std::string& key) const;
  // Removes the file and its temporary download.
  void Remove(const std::string& name) const;

 private:
  // The signature of `name`, read and removed again; throws std::runtime_error saying why not.
  std::vector<std::uint8_t> FetchSignature(const std::string& url, const std::string& name) const;

  std::string folder_;  // ends with '/'
  DownloadOptions options_;
};

}  // namespace ota
