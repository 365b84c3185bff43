#pragma once

#include <string>

namespace testing_support {

// A fresh private directory under the temporary directory, named `prefix`-XXXXXX.
std::string MakeTempDirectory(const std::string& prefix);

}  // namespace testing_support
