#include "log/record.h"

#include "log/logger.h"

namespace logging {

Record::Record(Severity severity, const char* function_signature, int line)
    : severity_(severity), function_signature_(function_signature), line_(line) {}

Record::~Record() {
  try {
    Write(severity_, function_signature_, line_, message_.str());
  } catch (...) {
    // A record that cannot be written is lost; logging never throws into its caller.
  }
}

}  // namespace logging
