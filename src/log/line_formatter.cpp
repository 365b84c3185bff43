#include "log/line_formatter.h"

#include <fmt/format.h>

#include <chrono>
#include <ctime>

namespace logging {

std::string_view SeverityName(Severity severity) noexcept {
  switch (severity) {
    case Severity::fatal: return "FATAL";
    case Severity::error: return "ERROR";
    case Severity::warning: return "WARN";
    case Severity::info: return "INFO";
    case Severity::debug: return "DEBUG";
    case Severity::verbose: return "VERB";
    case Severity::none: break;
  }
  return "NONE";
}

std::string_view ShortFunctionName(std::string_view signature) noexcept {
  const auto open = signature.find('(');
  const auto head = signature.substr(0, open);
  const auto space = head.rfind(' ');
  return space == std::string_view::npos ? head : head.substr(space + 1);
}

Severity FromSpdlogLevel(spdlog::level::level_enum level) noexcept {
  switch (level) {
    case spdlog::level::critical: return Severity::fatal;
    case spdlog::level::err: return Severity::error;
    case spdlog::level::warn: return Severity::warning;
    case spdlog::level::info: return Severity::info;
    case spdlog::level::debug: return Severity::debug;
    case spdlog::level::trace: return Severity::verbose;
    default: break;
  }
  return Severity::none;
}

void LineFormatter::format(const spdlog::details::log_msg& message, spdlog::memory_buf_t& destination) {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  const auto since_epoch = message.time.time_since_epoch();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(message.time);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto millis = duration_cast<milliseconds>(since_epoch).count() % 1000;

  const std::string_view function =
      message.source.funcname ? ShortFunctionName(message.source.funcname) : std::string_view{};
  fmt::format_to(std::back_inserter(destination),
                 "{}-{:02}-{:02} {:02}:{:02}:{:02}.{:03} {:<5} [{}] [{}@{}] {}\n",
                 local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                 local.tm_sec, millis, SeverityName(FromSpdlogLevel(message.level)), message.thread_id,
                 function, message.source.line,
                 std::string_view(message.payload.data(), message.payload.size()));
}

std::unique_ptr<spdlog::formatter> LineFormatter::clone() const {
  return std::make_unique<LineFormatter>();
}

}  // namespace logging
