#pragma once

#include <cstddef>
#include <string>
#include <vector>

// One report request made of the oldest pending documents.
struct ReportBatch {
  std::string body;
  std::size_t documents = 0;  // how many of the pending documents it carries, from the front
};

// Merges the leading documents of `pending` (at least one) into one request body. Documents
// of the readings' shape, {"nodes":[{...}, ...]} and nothing else, are merged in order into
// one such document of their "nodes" arrays, as long as the body stays within `max_bytes`;
// the first document of any other shape, or a lone document, is the body unchanged.
ReportBatch MergeReports(const std::vector<std::string>& pending, std::size_t max_bytes);
