#pragma once

#include <spdlog/formatter.h>

#include <string_view>

#include "log/severity.h"

namespace logging {

// The function name of a full signature: the text between the last space before the
// first "(" and that "(" ("void App::Init()" gives "App::Init").
std::string_view ShortFunctionName(std::string_view signature) noexcept;

Severity FromSpdlogLevel(spdlog::level::level_enum level) noexcept;

// Formats one record as
//   2024-05-01 09:07:03.042 INFO  [812] [App::Init@81] message\n
class LineFormatter final : public spdlog::formatter {
 public:
  void format(const spdlog::details::log_msg& message, spdlog::memory_buf_t& destination) override;
  std::unique_ptr<spdlog::formatter> clone() const override;
};

}  // namespace logging
