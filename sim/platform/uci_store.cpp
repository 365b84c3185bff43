#include "platform/uci_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace sim::platform {

std::vector<std::string> UciChange::Listed() const {
  std::vector<std::string> listed{command, section};
  if (!option.empty()) listed.push_back(option);
  if (command == "set" || command == "list-add") listed.push_back(value);  // an empty option: the type
  return listed;
}

void ApplyChange(UciPackage& package, const UciChange& change) {
  if (change.command == "add") {
    UciSection& section = package.Add(change.option, change.anonymous ? "" : change.section);
    section.name = change.section;
    return;
  }
  UciSection* section = package.Find(change.section);
  if (section == nullptr) return;
  if (change.command == "remove") {
    if (change.option.empty()) {
      package.Remove(change.section);
    } else {
      section->Remove(change.option);
    }
  } else if (change.command == "set") {
    if (change.option.empty()) {
      section->type = change.value;
    } else if (UciOption* option = section->Find(change.option)) {
      *option = UciOption{change.option, false, {change.value}};
    } else {
      section->options.push_back(UciOption{change.option, false, {change.value}});
    }
  } else if (change.command == "list-add") {
    UciOption* option = section->Find(change.option);
    if (option == nullptr) {
      section->options.push_back(UciOption{change.option, true, {change.value}});
    } else {
      option->is_list = true;
      option->values.push_back(change.value);
    }
  }
}

UciStore::UciStore(std::string directory) : directory_(std::move(directory)) {}

std::string UciStore::PathOf(const std::string& package) const { return directory_ + "/" + package; }

std::vector<std::string> UciStore::Configs() const {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(directory_, ignored)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name[0] != '.' && IsValidName(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool UciStore::Exists(const std::string& package) const {
  return IsValidName(package) && std::filesystem::is_regular_file(PathOf(package));
}

std::optional<UciPackage> UciStore::Load(const std::string& package, std::string& error) const {
  std::ifstream file(PathOf(package));
  if (!file) {
    error = "cannot read " + PathOf(package);
    return std::nullopt;
  }
  std::stringstream text;
  text << file.rdbuf();
  auto loaded = ParseUci(text.str(), error);
  if (!loaded) return std::nullopt;
  const auto staged = staged_.find(package);
  if (staged != staged_.end()) {
    for (const auto& change : staged->second) ApplyChange(*loaded, change);
  }
  return loaded;
}

void UciStore::Stage(const std::string& package, const std::vector<UciChange>& changes) {
  auto& staged = staged_[package];
  staged.insert(staged.end(), changes.begin(), changes.end());
  if (staged.empty()) staged_.erase(package);
}

std::vector<UciChange> UciStore::Changes(const std::string& package) const {
  const auto found = staged_.find(package);
  return found == staged_.end() ? std::vector<UciChange>{} : found->second;
}

std::map<std::string, std::vector<UciChange>> UciStore::AllChanges() const { return staged_; }

void UciStore::Revert(const std::string& package) { staged_.erase(package); }

bool UciStore::Commit(const std::string& package, std::string& error) {
  if (staged_.count(package) == 0) return true;
  const auto loaded = Load(package, error);
  if (!loaded) return false;
  const std::string text = WriteUci(*loaded);
  const std::string path = PathOf(package);
  std::string temporary = directory_ + "/." + package + ".uci-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    error = "cannot create a temporary file: " + std::string(std::strerror(errno));
    return false;
  }
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
  bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  written = ::fsync(fd) == 0 && written;
  ::close(fd);
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  staged_.erase(package);
  return true;
}

}  // namespace sim::platform
