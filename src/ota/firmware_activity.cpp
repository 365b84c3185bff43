#include "ota/firmware_activity.h"

namespace ota {

void FirmwareActivity::DocumentRead(std::int64_t when) {
  const std::lock_guard<std::mutex> guard(lock_);
  checked_ = when;
  offered_.clear();
}

void FirmwareActivity::Offered(const std::string& target, const FirmwareInfo& entry) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (offered_.size() >= kOfferedKept) return;
  offered_.push_back(OfferedFirmware{target, entry.type, entry.name, entry.version, entry.size});
}

void FirmwareActivity::SystemVersionRead(const std::string& version) {
  const std::lock_guard<std::mutex> guard(lock_);
  system_version_ = version.empty() ? std::nullopt : std::optional<std::string>(version);
}

void FirmwareActivity::PackageVersionRead(const std::string& package, const std::string& version) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (packages_.size() >= kPackagesKept && packages_.count(package) == 0) return;
  packages_[package] = version;
}

void FirmwareActivity::DownloadStarted(const std::string& name, std::int64_t when) {
  const std::lock_guard<std::mutex> guard(lock_);
  downloads_.push_front(DownloadStatus{name, when, std::nullopt, false});
  if (downloads_.size() > kDownloadsKept) downloads_.pop_back();
}

void FirmwareActivity::DownloadEnded(bool done, std::int64_t when) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (downloads_.empty() || downloads_.front().ended) return;
  downloads_.front().ended = when;
  downloads_.front().done = done;
}

void FirmwareActivity::CopyInto(FirmwareStatus& status) const {
  const std::lock_guard<std::mutex> guard(lock_);
  status.checked = checked_;
  status.offered = offered_;
  status.system_version = system_version_;
  status.packages = packages_;
  status.downloads.assign(downloads_.begin(), downloads_.end());
}

}  // namespace ota
