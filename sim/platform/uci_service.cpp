#include "platform/uci_service.h"

#include <cstdlib>
#include <sstream>

#include "ipc/status.h"

namespace sim::platform {

namespace {

using ipc::blobmsg::FindTyped;
using ipc::blobmsg::Node;
using ipc::blobmsg::Type;

const Node* Argument(const UciService::Members& arguments, const char* name, Type type) {
  return FindTyped(arguments, name, type);
}

Node SectionTable(const std::string& key, const UciSection& section, std::optional<int> index) {
  Node table = Node::Table(key);
  table.children.push_back(Node::Bool(".anonymous", section.anonymous));
  table.children.push_back(Node::String(".type", section.type));
  table.children.push_back(Node::String(".name", section.name));
  if (index) table.children.push_back(Node::Int32(".index", *index));
  for (const auto& option : section.options) {
    if (option.is_list) {
      Node list = Node::Array(option.name);
      for (const auto& value : option.values) list.children.push_back(Node::String("", value));
      table.children.push_back(list);
    } else {
      table.children.push_back(Node::String(option.name, option.values.front()));
    }
  }
  return table;
}

// "@type[index]" (negative from the end), or a plain section name.
UciSection* Resolve(UciPackage& package, const std::string& reference) {
  if (reference.size() > 3 && reference[0] == '@' && reference.back() == ']') {
    const auto bracket = reference.find('[');
    if (bracket == std::string::npos) return nullptr;
    const std::string type = reference.substr(1, bracket - 1);
    const std::string number = reference.substr(bracket + 1, reference.size() - bracket - 2);
    char* end = nullptr;
    const long index = std::strtol(number.c_str(), &end, 10);
    if (number.empty() || *end != '\0') return nullptr;
    std::vector<UciSection*> of_type;
    for (auto& section : package.sections) {
      if (section.type == type) of_type.push_back(&section);
    }
    const long position = index < 0 ? static_cast<long>(of_type.size()) + index : index;
    if (position < 0 || position >= static_cast<long>(of_type.size())) return nullptr;
    return of_type[static_cast<std::size_t>(position)];
  }
  return package.Find(reference);
}

bool IsValidReference(const std::string& reference) {
  if (!reference.empty() && reference[0] == '@') return true;
  return IsValidName(reference);
}

// Records the changes that set `value` as option `name` of `section`, applying them to
// the working copy. Returns a status (2 when the value cannot be stored).
int SetOption(UciPackage& package, UciSection& section, const Node& value, std::vector<UciChange>& changes,
              bool adding) {
  if (!IsValidName(value.name)) return ipc::kInvalidArgument;
  std::vector<UciChange> made;
  const UciOption* existing = section.Find(value.name);
  if (value.type == Type::kArray) {
    std::vector<std::string> elements;
    for (const auto& element : value.children) {
      const auto text = ValueText(element);
      if (!text) {
        if (adding) return ipc::kInvalidArgument;
        continue;
      }
      elements.push_back(*text);
    }
    if (elements.empty()) return adding ? ipc::kOk : ipc::kInvalidArgument;
    if (existing != nullptr) made.push_back(UciChange{"remove", section.name, value.name, "", false});
    for (const auto& element : elements) made.push_back(UciChange{"list-add", section.name, value.name, element, false});
  } else {
    const auto text = ValueText(value);
    if (!text) return ipc::kInvalidArgument;
    if (existing != nullptr && existing->is_list) {
      made.push_back(UciChange{"remove", section.name, value.name, "", false});
      existing = nullptr;
    }
    if (text->empty()) {
      if (existing != nullptr) made.push_back(UciChange{"remove", section.name, value.name, "", false});
    } else if (existing == nullptr || existing->values.front() != *text) {
      made.push_back(UciChange{"set", section.name, value.name, *text, false});
    }
  }
  for (const auto& change : made) ApplyChange(package, change);
  changes.insert(changes.end(), made.begin(), made.end());
  return ipc::kOk;
}

Node ChangeList(const std::string& name, const std::vector<UciChange>& changes) {
  Node list = Node::Array(name);
  for (const auto& change : changes) {
    Node entry = Node::Array("");
    for (const auto& part : change.Listed()) entry.children.push_back(Node::String("", part));
    list.children.push_back(entry);
  }
  return list;
}

}  // namespace

std::optional<std::string> ValueText(const Node& value) {
  switch (value.type) {
    case Type::kString:
      return value.text;
    case Type::kInt8:
      return std::string(value.integer != 0 ? "1" : "0");
    case Type::kInt16:
      return std::to_string(static_cast<std::uint16_t>(value.integer));
    case Type::kInt32:
      return std::to_string(static_cast<std::uint32_t>(value.integer));
    case Type::kInt64:
      return std::to_string(static_cast<std::uint64_t>(value.integer));
    default:
      return std::nullopt;
  }
}

bool MatchesSection(const UciSection& section, const Node* type, const Node* match) {
  if (type != nullptr && type->text != section.type) return false;
  if (match == nullptr) return true;
  bool usable = false;
  bool matched = false;
  for (const auto& member : match->children) {
    const auto text = ValueText(member);
    if (!text) continue;
    usable = true;
    const UciOption* option = section.Find(member.name);
    if (option == nullptr) continue;
    bool found = false;
    if (option->is_list) {
      for (const auto& value : option->values) found = found || value == *text;
    } else {
      std::istringstream words(option->values.front());
      std::string word;
      while (words >> word) found = found || word == *text;
    }
    if (!found) return false;
    matched = true;
  }
  return matched || !usable;
}

UciService::UciService(UciStore& store) : store_(store) {}

int UciService::Open(const Members& arguments, std::string& name, UciPackage& package) {
  const Node* config = Argument(arguments, "config", Type::kString);
  if (config == nullptr) return ipc::kInvalidArgument;
  name = config->text;
  if (!store_.Exists(name)) return ipc::kNotFound;
  std::string error;
  auto loaded = store_.Load(name, error);
  if (!loaded) return ipc::kUnknownError;
  package = std::move(*loaded);
  return ipc::kOk;
}

int UciService::Select(const Members& arguments, UciPackage& package, std::vector<std::string>& names) {
  const Node* section = Argument(arguments, "section", Type::kString);
  const Node* type = Argument(arguments, "type", Type::kString);
  const Node* match = Argument(arguments, "match", Type::kTable);
  if (section != nullptr) {
    if (!IsValidReference(section->text)) return ipc::kInvalidArgument;
    UciSection* found = Resolve(package, section->text);
    if (found == nullptr) return ipc::kNotFound;
    names.push_back(found->name);
    return ipc::kOk;
  }
  if (type == nullptr && match == nullptr) return ipc::kInvalidArgument;
  if (type != nullptr && !IsValidType(type->text)) return ipc::kInvalidArgument;
  for (const auto& candidate : package.sections) {
    if (MatchesSection(candidate, type, match)) names.push_back(candidate.name);
  }
  return names.empty() ? ipc::kNotFound : ipc::kOk;
}

int UciService::Configs(const Members&, Reply& reply) {
  Node list = Node::Array("configs");
  for (const auto& name : store_.Configs()) list.children.push_back(Node::String("", name));
  reply = Members{list};
  return ipc::kOk;
}

int UciService::Get(const Members& arguments, Reply& reply) {
  std::string name;
  UciPackage package;
  if (const int status = Open(arguments, name, package); status != ipc::kOk) return status;
  const Node* section = Argument(arguments, "section", Type::kString);
  if (section != nullptr) {
    const UciSection* found = Resolve(package, section->text);
    if (found == nullptr) return ipc::kOk;
    const Node* option = Argument(arguments, "option", Type::kString);
    if (option == nullptr) {
      reply = Members{SectionTable("values", *found, std::nullopt)};
      return ipc::kOk;
    }
    const UciOption* value = found->Find(option->text);
    if (value == nullptr) return ipc::kOk;
    if (value->is_list) {
      Node list = Node::Array("value");
      for (const auto& element : value->values) list.children.push_back(Node::String("", element));
      reply = Members{list};
    } else {
      reply = Members{Node::String("value", value->values.front())};
    }
    return ipc::kOk;
  }
  const Node* type = Argument(arguments, "type", Type::kString);
  const Node* match = Argument(arguments, "match", Type::kTable);
  Node values = Node::Table("values");
  for (std::size_t index = 0; index < package.sections.size(); ++index) {
    const UciSection& candidate = package.sections[index];
    if (!MatchesSection(candidate, type, match)) continue;
    values.children.push_back(SectionTable(candidate.name, candidate, static_cast<int>(index)));
  }
  reply = Members{values};
  return ipc::kOk;
}

int UciService::Set(const Members& arguments, Reply&) {
  const Node* values = Argument(arguments, "values", Type::kTable);
  if (Argument(arguments, "config", Type::kString) == nullptr || values == nullptr) return ipc::kInvalidArgument;
  std::string name;
  UciPackage package;
  if (const int status = Open(arguments, name, package); status != ipc::kOk) return status;
  std::vector<std::string> selected;
  if (const int status = Select(arguments, package, selected); status != ipc::kOk) return status;
  std::vector<UciChange> changes;
  for (const auto& section_name : selected) {
    for (const auto& value : values->children) {
      UciSection* section = package.Find(section_name);
      if (section == nullptr) break;
      if (const int status = SetOption(package, *section, value, changes, false); status != ipc::kOk) return status;
    }
  }
  store_.Stage(name, changes);
  return ipc::kOk;
}

int UciService::Add(const Members& arguments, Reply& reply) {
  const Node* type = Argument(arguments, "type", Type::kString);
  const Node* section_name = Argument(arguments, "name", Type::kString);
  const Node* values = Argument(arguments, "values", Type::kTable);
  if (Argument(arguments, "config", Type::kString) == nullptr || type == nullptr) return ipc::kInvalidArgument;
  if (!IsValidType(type->text) || (section_name != nullptr && !IsValidName(section_name->text))) {
    return ipc::kInvalidArgument;
  }
  std::string name;
  UciPackage package;
  if (const int status = Open(arguments, name, package); status != ipc::kOk) return status;
  std::vector<UciChange> changes;
  std::string added;
  UciSection* existing = section_name != nullptr ? package.Find(section_name->text) : nullptr;
  if (existing != nullptr) {
    added = existing->name;
    if (existing->type != type->text) changes.push_back(UciChange{"set", added, "", type->text, false});
  } else {
    const bool anonymous = section_name == nullptr;
    added = anonymous ? AnonymousName(package.created + 1, type->text) : section_name->text;
    changes.push_back(UciChange{"add", added, type->text, "", anonymous});
  }
  for (const auto& change : changes) ApplyChange(package, change);
  if (values != nullptr) {
    for (const auto& value : values->children) {
      UciSection* section = package.Find(added);
      if (const int status = SetOption(package, *section, value, changes, true); status != ipc::kOk) return status;
    }
  }
  store_.Stage(name, changes);
  reply = Members{Node::String("section", added)};
  return ipc::kOk;
}

int UciService::Delete(const Members& arguments, Reply&) {
  if (Argument(arguments, "config", Type::kString) == nullptr) return ipc::kInvalidArgument;
  std::string name;
  UciPackage package;
  if (const int status = Open(arguments, name, package); status != ipc::kOk) return status;
  std::vector<std::string> selected;
  if (const int status = Select(arguments, package, selected); status != ipc::kOk) return status;
  const Node* options = Argument(arguments, "options", Type::kArray);
  const Node* option = Argument(arguments, "option", Type::kString);
  std::vector<UciChange> changes;
  int status = ipc::kOk;
  for (const auto& section_name : selected) {
    const UciSection* section = package.Find(section_name);
    if (options != nullptr) {
      bool any = false;
      for (const auto& entry : options->children) {
        if (entry.type != Type::kString || section->Find(entry.text) == nullptr) continue;
        changes.push_back(UciChange{"remove", section_name, entry.text, "", false});
        any = true;
      }
      status = any ? ipc::kOk : ipc::kNotFound;
    } else if (option != nullptr) {
      const bool present = section->Find(option->text) != nullptr;
      if (present) changes.push_back(UciChange{"remove", section_name, option->text, "", false});
      status = present ? ipc::kOk : ipc::kNotFound;
    } else {
      changes.push_back(UciChange{"remove", section_name, "", "", false});
      status = ipc::kOk;
    }
  }
  store_.Stage(name, changes);
  return status;
}

int UciService::Changes(const Members& arguments, Reply& reply) {
  const Node* config = Argument(arguments, "config", Type::kString);
  if (config != nullptr) {
    if (!store_.Exists(config->text)) return ipc::kNotFound;
    reply = Members{ChangeList("changes", store_.Changes(config->text))};
    return ipc::kOk;
  }
  Node all = Node::Table("changes");
  for (const auto& [package, changes] : store_.AllChanges()) all.children.push_back(ChangeList(package, changes));
  reply = Members{all};
  return ipc::kOk;
}

int UciService::Revert(const Members& arguments, Reply&) {
  const Node* config = Argument(arguments, "config", Type::kString);
  if (config == nullptr) return ipc::kInvalidArgument;
  if (!store_.Exists(config->text)) return ipc::kNotFound;
  store_.Revert(config->text);
  return ipc::kOk;
}

int UciService::Commit(const Members& arguments, Reply&) {
  const Node* config = Argument(arguments, "config", Type::kString);
  if (config == nullptr) return ipc::kInvalidArgument;
  if (!store_.Exists(config->text)) return ipc::kNotFound;
  std::string error;
  if (!store_.Commit(config->text, error)) return ipc::kUnknownError;
  if (on_commit_) on_commit_(config->text);
  return ipc::kOk;
}

}  // namespace sim::platform
