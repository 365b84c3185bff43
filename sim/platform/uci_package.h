#pragma once

#include <optional>
#include <string>
#include <vector>

// The UCI configuration file format: a package of typed sections holding options and lists.
namespace sim::platform {

struct UciOption {
  std::string name;
  bool is_list = false;
  std::vector<std::string> values;  // one value for a plain option
};

struct UciSection {
  std::string type;
  std::string name;
  bool anonymous = false;
  std::vector<UciOption> options;

  UciOption* Find(const std::string& option);
  const UciOption* Find(const std::string& option) const;
  void Remove(const std::string& option);
};

struct UciPackage {
  std::vector<UciSection> sections;
  int created = 0;  // sections created since loading began; numbers anonymous names

  UciSection* Find(const std::string& name);
  // Appends a section; an empty name makes it anonymous with a generated name.
  UciSection& Add(const std::string& type, const std::string& name);
  void Remove(const std::string& name);
};

// "cfg" + the creation number (two hex digits at least) + four hex digits of a hash of the type.
std::string AnonymousName(int number, const std::string& type);

bool IsValidName(const std::string& name);  // letters, digits, '_'
bool IsValidType(const std::string& type);  // letters, digits, '_', '-'

// Reads a file's text; fails with a reason when a statement is malformed.
std::optional<UciPackage> ParseUci(const std::string& text, std::string& error);
// The canonical form written by a commit.
std::string WriteUci(const UciPackage& package);

}  // namespace sim::platform
