#include "platform/uci_package.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace sim::platform {

namespace {

// Splits the text into statements of words, honouring quotes, escapes and comments.
class Tokenizer {
 public:
  explicit Tokenizer(const std::string& text) : text_(text) {}

  // The next statement's words; false at the end of the text or on an error.
  bool Next(std::vector<std::string>& words, std::string& error) {
    words.clear();
    while (at_ < text_.size()) {
      const char character = text_[at_];
      if (character == '\n') {
        ++at_;
        ++line_;
        if (!words.empty()) return true;
      } else if (character == ' ' || character == '\t' || character == '\r') {
        ++at_;
      } else if (character == '#') {
        while (at_ < text_.size() && text_[at_] != '\n') ++at_;
      } else if (character == ';') {
        ++at_;
        if (!words.empty()) return true;
      } else {
        std::string word;
        if (!Word(word, error)) return false;
        words.push_back(word);
      }
    }
    return !words.empty();
  }

  int Line() const { return line_; }

 private:
  bool Word(std::string& word, std::string& error) {
    while (at_ < text_.size()) {
      const char character = text_[at_];
      if (character == '\'' || character == '"') {
        const std::size_t end = Quoted(character, word);
        if (end == std::string::npos) {
          error = "unterminated quote on line " + std::to_string(line_);
          return false;
        }
        at_ = end + 1;
      } else if (character == '\\') {
        if (at_ + 1 < text_.size()) {
          if (text_[at_ + 1] == '\n') {
            ++line_;
          } else {
            word += text_[at_ + 1];
          }
        }
        at_ += 2;
      } else if (std::isspace(static_cast<unsigned char>(character)) || character == '#' || character == ';') {
        return true;
      } else {
        word += character;
        ++at_;
      }
    }
    return true;
  }

  std::size_t Quoted(char quote, std::string& word) {
    for (std::size_t index = at_ + 1; index < text_.size(); ++index) {
      const char character = text_[index];
      if (character == '\n') ++line_;
      if (character == quote) return index;
      if (quote == '"' && character == '\\' && index + 1 < text_.size()) {
        ++index;
        if (text_[index] == '\n') {
          ++line_;
          continue;
        }
        word += text_[index];
        continue;
      }
      word += character;
    }
    return std::string::npos;
  }

  const std::string& text_;
  std::size_t at_ = 0;
  int line_ = 1;
};

std::string Quote(const std::string& value) {
  std::string quoted = "'";
  for (const char character : value) {
    if (character == '\'') {
      quoted += "'\\''";
    } else {
      quoted += character;
    }
  }
  return quoted + "'";
}

bool IsValidFileType(const std::string& type) {
  return !type.empty() && std::all_of(type.begin(), type.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

}  // namespace

UciOption* UciSection::Find(const std::string& option) {
  for (auto& candidate : options) {
    if (candidate.name == option) return &candidate;
  }
  return nullptr;
}

const UciOption* UciSection::Find(const std::string& option) const {
  return const_cast<UciSection*>(this)->Find(option);
}

void UciSection::Remove(const std::string& option) {
  options.erase(std::remove_if(options.begin(), options.end(), [&](const UciOption& o) { return o.name == option; }),
                options.end());
}

UciSection* UciPackage::Find(const std::string& name) {
  for (auto& section : sections) {
    if (section.name == name) return &section;
  }
  return nullptr;
}

UciSection& UciPackage::Add(const std::string& type, const std::string& name) {
  ++created;
  UciSection section;
  section.type = type;
  section.anonymous = name.empty();
  section.name = name.empty() ? AnonymousName(created, type) : name;
  sections.push_back(section);
  return sections.back();
}

void UciPackage::Remove(const std::string& name) {
  sections.erase(std::remove_if(sections.begin(), sections.end(), [&](const UciSection& s) { return s.name == name; }),
                 sections.end());
}

std::string AnonymousName(int number, const std::string& type) {
  std::uint32_t hash = 5381;
  for (const char character : type) hash = hash * 33 + static_cast<unsigned char>(character);
  hash &= 0x7fffffff;
  char name[32];
  std::snprintf(name, sizeof name, "cfg%02x%04x", static_cast<unsigned>(number), static_cast<unsigned>(hash % 65536));
  return name;
}

bool IsValidName(const std::string& name) {
  return !name.empty() &&
         std::all_of(name.begin(), name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

bool IsValidType(const std::string& type) {
  return !type.empty() && std::all_of(type.begin(), type.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
  });
}

std::optional<UciPackage> ParseUci(const std::string& text, std::string& error) {
  UciPackage package;
  Tokenizer tokenizer(text);
  std::vector<std::string> words;
  UciSection* current = nullptr;
  std::string current_name;
  while (tokenizer.Next(words, error)) {
    const std::string& keyword = words[0];
    const std::string where = " (line " + std::to_string(tokenizer.Line()) + ")";
    if (keyword == "package" && words.size() == 2) continue;
    if (keyword == "config" && (words.size() == 2 || words.size() == 3)) {
      if (!IsValidFileType(words[1]) || (words.size() == 3 && !IsValidName(words[2]))) {
        error = "invalid section" + where;
        return std::nullopt;
      }
      UciSection* existing = words.size() == 3 ? package.Find(words[2]) : nullptr;
      if (existing != nullptr) {
        existing->type = words[1];
        current_name = existing->name;
      } else {
        current_name = package.Add(words[1], words.size() == 3 ? words[2] : "").name;
      }
      current = package.Find(current_name);
      continue;
    }
    if ((keyword == "option" || keyword == "list") && words.size() == 3) {
      if (current == nullptr || !IsValidName(words[1])) {
        error = "invalid " + keyword + where;
        return std::nullopt;
      }
      UciOption* option = current->Find(words[1]);
      if (keyword == "option") {
        if (option == nullptr) {
          current->options.push_back(UciOption{words[1], false, {words[2]}});
        } else {
          *option = UciOption{words[1], false, {words[2]}};
        }
      } else if (option == nullptr) {
        current->options.push_back(UciOption{words[1], true, {words[2]}});
      } else {
        option->is_list = true;
        option->values.push_back(words[2]);
      }
      continue;
    }
    error = "invalid statement \"" + keyword + "\"" + where;
    return std::nullopt;
  }
  if (!error.empty()) return std::nullopt;
  return package;
}

std::string WriteUci(const UciPackage& package) {
  std::string text;
  for (const auto& section : package.sections) {
    text += "\nconfig " + section.type;
    if (!section.anonymous) text += " " + Quote(section.name);
    text += "\n";
    for (const auto& option : section.options) {
      for (const auto& value : option.values) {
        text += std::string("\t") + (option.is_list ? "list " : "option ") + option.name + " " + Quote(value) + "\n";
      }
    }
  }
  return text + "\n";
}

}  // namespace sim::platform
