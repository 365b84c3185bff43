#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "log/logger.h"

namespace packet_test {

// Runs the process logger into a private file for the life of the object, so a test can
// read the lines a failure wrote.
class LogCapture {
 public:
  LogCapture()
      : path_(std::filesystem::temp_directory_path() /
              ("quellaron-packet-test-" + std::to_string(::getpid()) + ".log")),
        console_(std::tmpfile()) {
    std::filesystem::remove(path_);
    logging::Settings settings;
    settings.file_path = path_.string();
    settings.console = console_;
    logging::Start(settings);
  }
  ~LogCapture() {
    logging::Stop();
    std::fclose(console_);
    std::filesystem::remove(path_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() const {
    std::ifstream in(path_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::filesystem::path path_;
  std::FILE* console_;
};

}  // namespace packet_test
