#include "ipc/trace_file.h"

#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "support/sandbox.h"

namespace ipc_test {

namespace {

std::string TracePath(const std::string& name) { return testing_support::SourcePath("tests/ipc/traces/" + name); }

}  // namespace

std::vector<TraceMessage> ReadTrace(const std::string& name) {
  std::ifstream file(TracePath(name));
  if (!file) throw std::runtime_error("no trace " + name);
  static const std::regex heading(R"(^\[(\d+)\] (.+?) +-> +(.+?) +[A-Z_]+ +seq=.*\((\d+) bytes\)$)");
  static const std::regex raw_line(R"(^  [0-9a-f]{4}  ([0-9a-f ]+)$)");
  std::vector<TraceMessage> messages;
  std::string line;
  bool in_raw = false;
  while (std::getline(file, line)) {
    std::smatch match;
    if (std::regex_match(line, match, heading)) {
      TraceMessage message;
      message.number = std::stoi(match[1]);
      message.from = match[2];
      message.to = match[3];
      messages.push_back(message);
      in_raw = false;
    } else if (line == "raw bytes:") {
      in_raw = true;
    } else if (in_raw && std::regex_match(line, match, raw_line)) {
      std::istringstream hex(match[1]);
      std::string byte;
      while (hex >> byte) messages.back().bytes.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
    } else {
      in_raw = false;
    }
  }
  return messages;
}

std::string TracePreamble(const std::string& name) {
  std::ifstream file(TracePath(name));
  std::string text;
  std::string line;
  while (std::getline(file, line) && line.rfind("=====", 0) != 0) text += line + "\n";
  return text;
}

}  // namespace ipc_test
