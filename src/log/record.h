#pragma once

#include <sstream>

#include "log/severity.h"

namespace logging {

// True when a logger runs and its threshold admits the severity.
bool IsEnabled(Severity severity) noexcept;

// One log record: the message is streamed in, and the record is written when the
// statement that created it ends.
class Record {
 public:
  Record(Severity severity, const char* function_signature, int line);
  ~Record();

  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

  std::ostream& Stream() { return message_; }

 private:
  Severity severity_;
  const char* function_signature_;
  int line_;
  std::ostringstream message_;
};

}  // namespace logging
