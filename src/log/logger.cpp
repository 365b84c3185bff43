#include "log/logger.h"

#include <spdlog/logger.h>
#include <spdlog/sinks/rotating_file_sink.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "log/console_sink.h"
#include "log/line_formatter.h"
#include "log/private_file.h"
#include "log/record.h"

namespace logging {
namespace {

std::mutex logger_lock;
std::shared_ptr<spdlog::logger> process_logger;  // guarded by logger_lock
std::atomic<int> threshold{static_cast<int>(Severity::none)};

spdlog::level::level_enum ToSpdlogLevel(Severity severity) {
  switch (severity) {
    case Severity::fatal: return spdlog::level::critical;
    case Severity::error: return spdlog::level::err;
    case Severity::warning: return spdlog::level::warn;
    case Severity::info: return spdlog::level::info;
    case Severity::debug: return spdlog::level::debug;
    case Severity::verbose: return spdlog::level::trace;
    case Severity::none: break;
  }
  return spdlog::level::off;
}

std::shared_ptr<spdlog::logger> CurrentLogger() {
  const std::lock_guard<std::mutex> guard(logger_lock);
  return process_logger;
}

// The log may hold what the gateway was told (addresses, identifiers): only its owner may
// read it. The current file is made private before spdlog opens it (at start and after each
// roll); rolled files keep that mode, and those of an earlier run are narrowed here.
spdlog::sink_ptr OpenLogFile(const Settings& settings) {
  using Sink = spdlog::sinks::rotating_file_sink_mt;
  const std::size_t rolled_files = settings.max_files - 1;
  for (std::size_t index = 1; index <= rolled_files; ++index) {
    MakeExistingFilePrivate(Sink::calc_filename(settings.file_path, index));
  }
  spdlog::file_event_handlers handlers;
  handlers.before_open = [](const spdlog::filename_t& path) { MakePrivateFile(path); };
  return std::make_shared<Sink>(settings.file_path, settings.max_file_size, rolled_files, false, handlers);
}

}  // namespace

void Start(const Settings& settings) {
  std::vector<spdlog::sink_ptr> sinks;
  std::string file_error;
  try {
    sinks.push_back(OpenLogFile(settings));
  } catch (const std::exception& error) {
    file_error = error.what();
  }
  sinks.push_back(std::make_shared<ConsoleSink>(settings.console));

  auto logger = std::make_shared<spdlog::logger>("quellaron", sinks.begin(), sinks.end());
  logger->set_formatter(std::make_unique<LineFormatter>());
  logger->set_level(spdlog::level::trace);
  logger->flush_on(spdlog::level::trace);  // every line reaches the file, even right before a crash
  {
    const std::lock_guard<std::mutex> guard(logger_lock);
    process_logger = std::move(logger);
  }
  threshold = static_cast<int>(settings.threshold);

  if (!file_error.empty()) {
    Record(Severity::error, __PRETTY_FUNCTION__, __LINE__).Stream()
        << "Log file " << settings.file_path << " unavailable: " << file_error;
  }
}

void Stop() {
  threshold = static_cast<int>(Severity::none);
  const std::lock_guard<std::mutex> guard(logger_lock);
  process_logger.reset();
}

void SetThreshold(Severity value) {
  const std::lock_guard<std::mutex> guard(logger_lock);
  if (process_logger) threshold = static_cast<int>(value);
}

bool IsEnabled(Severity severity) noexcept {
  const int value = static_cast<int>(severity);
  return value > 0 && value <= threshold.load(std::memory_order_relaxed);
}

void Write(Severity severity, const char* function_signature, int line, std::string_view message) {
  const auto logger = CurrentLogger();
  if (!logger) return;
  logger->log(spdlog::source_loc{"", line, function_signature}, ToSpdlogLevel(severity),
              spdlog::string_view_t(message.data(), message.size()));
}

}  // namespace logging
