#include "server/spool_segment_reader.h"

#include <string>
#include <utility>

namespace spool {

SegmentReader::SegmentReader(SpoolFile file, std::size_t max_document, std::uint64_t limit)
    : file_(std::move(file)), max_document_(max_document), limit_(limit) {}

SegmentReader::Outcome SegmentReader::Next(Record& record) {
  if (offset_ >= limit_) return Outcome::kEnd;
  std::string bytes;
  if (!file_.ReadAt(offset_, kRecordHeadBytes, bytes)) return bytes.empty() ? Outcome::kEnd : Outcome::kDamaged;
  const std::uint32_t length = DocumentLength(bytes);
  if (length > max_document_) return Outcome::kDamaged;
  std::string document;
  if (!file_.ReadAt(offset_ + kRecordHeadBytes, length, document)) return Outcome::kDamaged;
  bytes += document;
  auto decoded = DecodeRecord(bytes);
  if (!decoded) return Outcome::kDamaged;
  offset_ += bytes.size();
  record = std::move(*decoded);
  return Outcome::kRecord;
}

}  // namespace spool
