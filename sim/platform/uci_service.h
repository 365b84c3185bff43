#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ipc/blobmsg.h"
#include "platform/uci_store.h"

namespace sim::platform {

// The methods of rpcd's "uci" object over a UciStore: arguments found by name and type,
// values stored as text, "match" selection, staging until commit, and rpcd's status codes.
class UciService {
 public:
  using Members = ipc::blobmsg::Members;
  using Reply = std::optional<Members>;

  explicit UciService(UciStore& store);

  int Configs(const Members& arguments, Reply& reply);
  int Get(const Members& arguments, Reply& reply);
  int Set(const Members& arguments, Reply& reply);
  int Add(const Members& arguments, Reply& reply);
  int Delete(const Members& arguments, Reply& reply);
  int Changes(const Members& arguments, Reply& reply);
  int Revert(const Members& arguments, Reply& reply);
  int Commit(const Members& arguments, Reply& reply);

  // Called after every successful commit with the package name.
  void OnCommit(std::function<void(const std::string&)> hook) { on_commit_ = std::move(hook); }

 private:
  // Loads the package named by "config"; the status when that fails.
  int Open(const Members& arguments, std::string& name, UciPackage& package);
  // The sections chosen by "section", or by "type" and "match"; status 2 or 4 on failure.
  int Select(const Members& arguments, UciPackage& package, std::vector<std::string>& names);

  UciStore& store_;
  std::function<void(const std::string&)> on_commit_;
};

// rpcd's text form of a value: strings unchanged, integers as unsigned decimals of their
// width, booleans 1/0; nothing for anything else.
std::optional<std::string> ValueText(const ipc::blobmsg::Node& value);

// Whether a section is chosen by "type" and "match".
bool MatchesSection(const UciSection& section, const ipc::blobmsg::Node* type, const ipc::blobmsg::Node* match);

}  // namespace sim::platform
