#include "ota/firmware_fetcher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <vector>

#include "log/log.h"
#include "ota/signature_key.h"

namespace ota {
namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

FirmwareFetcher::FirmwareFetcher(std::string folder, DownloadOptions options)
    : folder_(WithSlash(std::move(folder))), options_(std::move(options)) {}

std::string FirmwareFetcher::PathOf(const std::string& name) const { return folder_ + name; }

std::optional<std::string> FirmwareFetcher::FolderProblem() const {
  const std::string folder = folder_.substr(0, folder_.size() - 1);  // no '/': lstat must not follow a link
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return "cannot make the firmware folder " + folder + ": " + std::strerror(errno);
  }
  struct stat status {};
  if (::lstat(folder.c_str(), &status) != 0) {
    return "cannot read the firmware folder " + folder + ": " + std::strerror(errno);
  }
  if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()) {
    return "the firmware folder " + folder + " is not a directory of this daemon's own";
  }
  if ((status.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
    return "cannot close the firmware folder " + folder + " to others: " + std::strerror(errno);
  }
  return std::nullopt;
}

void FirmwareFetcher::Prepare() const {
  if (const auto problem = FolderProblem()) {
    LOG_ERROR << "Firmware downloads are off: " << *problem;
    return;
  }
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
    std::error_code ignored;
    std::filesystem::remove_all(entry.path(), ignored);
    LOG_INFO << "Removed " << entry.path().string() << ", left by an earlier run";
  }
  if (error) LOG_ERROR << "Cannot read the firmware folder " << folder_ << ": " << error.message();
}

void FirmwareFetcher::Remove(const std::string& name) const {
  const std::string path = PathOf(name);
  std::remove(path.c_str());
  std::remove(PartialPath(path).c_str());
}

std::vector<std::uint8_t> FirmwareFetcher::FetchSignature(const std::string& url, const std::string& name) const {
  const std::string file = name + ".sig";
  const auto outcome = DownloadFile(url + ".sig", PathOf(file), DownloadLimits{kMaxSignatureSize, std::nullopt},
                                    options_);
  if (!outcome.done) throw std::runtime_error("no signature: " + outcome.failure);
  auto signature = ReadBytes(PathOf(file));
  Remove(file);
  return signature;
}

bool FirmwareFetcher::Fetch(const std::string& base_url, const std::string& name, const DownloadLimits& limits,
                            const std::string& key) const {
  const std::string url = base_url + "/" + name;
  std::optional<SignatureKey> signing_key;
  std::vector<std::uint8_t> signature;
  try {
    if (const auto problem = FolderProblem()) throw std::runtime_error(*problem);
    if (!key.empty()) {
      try {
        signing_key = SignatureKey::FromBase64(key);
      } catch (const std::invalid_argument& error) {
        throw std::runtime_error(std::string("the signing key (sys.firmware_key) is unusable: ") + error.what());
      }
      signature = FetchSignature(url, name);
    }
  } catch (const std::runtime_error& error) {
    LOG_ERROR << "Firmware " << name << " refused: " << error.what();
    return false;
  }
  const auto outcome = DownloadFile(url, PathOf(name), limits, options_);
  if (!outcome.done) {
    LOG_ERROR << outcome.failure;
    return false;
  }
  std::string problem;
  if (signing_key && !signing_key->Verifies(PathOf(name), signature, problem)) {
    LOG_ERROR << "Firmware " << name << " refused: " << problem;
    Remove(name);
    return false;
  }
  return true;
}

}  // namespace ota
