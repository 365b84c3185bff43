#pragma once

#include <string>

namespace logging {

// Makes `path` a file that only its owner may read and write (mode 0600, whatever the
// umask): creates it if missing, and narrows the mode of one that exists. Throws
// std::system_error when the file cannot be created or its mode cannot be set.
void MakePrivateFile(const std::string& path);

// Narrows the mode of `path` to 0600 if the file exists; other failures are ignored.
void MakeExistingFilePrivate(const std::string& path);

}  // namespace logging
