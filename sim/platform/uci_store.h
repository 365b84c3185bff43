#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/uci_package.h"

namespace sim::platform {

// One staged change, as the "changes" method lists it.
struct UciChange {
  std::string command;  // "add", "set", "list-add", "remove"
  std::string section;
  std::string option;  // for "add": the section type
  std::string value;
  bool anonymous = false;  // "add" of an anonymous section

  std::vector<std::string> Listed() const;
};

// Applies one change to a loaded package.
void ApplyChange(UciPackage& package, const UciChange& change);

// Packages as files in a configuration directory, with changes staged (in memory) until
// commit. A commit writes a temporary file beside the package and renames it over the old
// one, so a crash never leaves a half-written package.
class UciStore {
 public:
  explicit UciStore(std::string directory = "/etc/config");

  std::vector<std::string> Configs() const;
  bool Exists(const std::string& package) const;
  // The file with the staged changes applied; nothing (and a reason) when it cannot be read.
  std::optional<UciPackage> Load(const std::string& package, std::string& error) const;
  void Stage(const std::string& package, const std::vector<UciChange>& changes);
  std::vector<UciChange> Changes(const std::string& package) const;
  std::map<std::string, std::vector<UciChange>> AllChanges() const;
  void Revert(const std::string& package);
  // Applies and clears the staged changes; without any the file is left untouched.
  bool Commit(const std::string& package, std::string& error);

 private:
  std::string PathOf(const std::string& package) const;

  std::string directory_;
  std::map<std::string, std::vector<UciChange>> staged_;
};

}  // namespace sim::platform
