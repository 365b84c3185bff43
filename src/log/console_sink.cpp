#include "log/console_sink.h"

#include <unistd.h>

#include <string_view>

#include "log/line_formatter.h"

namespace logging {
namespace {

constexpr std::string_view kReset = "\x1b[0m\x1b[0K";

std::string_view ColourOf(Severity severity) {
  switch (severity) {
    case Severity::fatal: return "\x1b[97m\x1b[41m";
    case Severity::error: return "\x1b[91m";
    case Severity::warning: return "\x1b[93m";
    case Severity::debug:
    case Severity::verbose: return "\x1b[96m";
    default: break;
  }
  return {};
}

void Put(std::FILE* stream, std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

ConsoleSink::ConsoleSink(std::FILE* stream) : stream_(stream), colour_(::isatty(fileno(stream)) == 1) {
  set_formatter(std::make_unique<LineFormatter>());
}

void ConsoleSink::sink_it_(const spdlog::details::log_msg& message) {
  spdlog::memory_buf_t line;
  formatter_->format(message, line);
  if (colour_) Put(stream_, ColourOf(FromSpdlogLevel(message.level)));
  Put(stream_, std::string_view(line.data(), line.size()));
  if (colour_) Put(stream_, kReset);
}

void ConsoleSink::flush_() { std::fflush(stream_); }

}  // namespace logging
