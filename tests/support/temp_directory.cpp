#include "support/temp_directory.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

namespace testing_support {

std::string MakeTempDirectory(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

}  // namespace testing_support
