#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace xgt::fenet {

// The document one reading is reported in:
// {"nodes":[{"id":id,"vs":[{"k":key,"ts":Unix seconds,"v":value text}]}]}.
nlohmann::json ReadingDocument(const std::string& id, const std::string& key, std::int64_t ts, std::uint64_t value);

}  // namespace xgt::fenet
