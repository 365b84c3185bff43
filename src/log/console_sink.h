#pragma once

#include <spdlog/sinks/base_sink.h>

#include <cstdio>
#include <mutex>

namespace logging {

// Writes log lines to a stream (standard output by default). When the stream is a
// terminal (tested once, at construction) each line is preceded by its severity's colour
// and followed by "\x1b[0m\x1b[0K"; otherwise lines are written plain.
class ConsoleSink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  explicit ConsoleSink(std::FILE* stream = stdout);

  bool UsesColour() const noexcept { return colour_; }

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override;
  void flush_() override;

 private:
  std::FILE* stream_;
  bool colour_;
};

}  // namespace logging
