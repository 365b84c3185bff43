#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// The reports (one reading document each) waiting for the cloud, oldest first, bounded both
// in number and in the bytes of their text. Adding beyond either bound drops the oldest;
// putting back documents whose delivery failed drops the newest. Every drop is returned to
// the caller, who counts it. Locked: any thread adds, the REST worker takes and puts back.
class ReportBuffer {
 public:
  // A capacity of zero is taken as one.
  ReportBuffer(std::size_t max_reports, std::size_t max_bytes);

  // Appends a document; returns how many were dropped to make room (the document itself
  // when it alone is larger than the byte bound).
  std::size_t PushBack(std::string document);
  // Puts `documents` back at the front in their order; returns how many were dropped.
  std::size_t PushFront(std::vector<std::string> documents);
  // Takes the oldest documents: at most `max_count`, and no more than fit in `max_bytes`
  // together, but always the first one.
  std::vector<std::string> TakeFront(std::size_t max_count, std::size_t max_bytes);

  // A document of `bytes` would be added without dropping any.
  bool HasRoomFor(std::size_t bytes) const;
  std::size_t Size() const;
  std::size_t Bytes() const;
  bool Empty() const { return Size() == 0; }

 private:
  enum class End { kOldest, kNewest };
  // Drops documents from `end` until both bounds hold (under the lock); returns how many.
  std::size_t DropWhileOverBounds(End end);

  const std::size_t max_reports_;
  const std::size_t max_bytes_;
  mutable std::mutex lock_;
  std::deque<std::string> documents_;
  std::size_t bytes_ = 0;
};
