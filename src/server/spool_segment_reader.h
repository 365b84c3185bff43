#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "server/spool_file.h"
#include "server/spool_format.h"

namespace spool {

// Reads the records of one segment file in order, from just after its header. Two reads
// per record (its head, then its document); nothing is buffered beyond the record asked for,
// so a reader costs the same whatever the file's size. Not locked: its owner serialises it.
class SegmentReader {
 public:
  enum class Outcome {
    kRecord,   // the next record, whole and with a good checksum
    kEnd,      // no byte left before the end (or the limit)
    kDamaged,  // bytes are left but no good record: a write cut short, or damage
  };

  // Reads `file` up to `limit` bytes (where a scan found the last good record) and refuses
  // documents longer than `max_document`.
  SegmentReader(SpoolFile file, std::size_t max_document,
                std::uint64_t limit = std::numeric_limits<std::uint64_t>::max());

  // The next record into `record`; after kEnd it may be called again once more is written.
  // After kDamaged the reader stays where the damage starts.
  Outcome Next(Record& record);
  // Where the next record starts.
  std::uint64_t Offset() const { return offset_; }
  const std::string& Path() const { return file_.Path(); }

 private:
  SpoolFile file_;
  const std::size_t max_document_;
  const std::uint64_t limit_;
  std::uint64_t offset_ = kHeaderBytes;
};

}  // namespace spool
