#include "server/report_buffer.h"

#include <algorithm>
#include <utility>

ReportBuffer::ReportBuffer(std::size_t max_reports, std::size_t max_bytes)
    : max_reports_(std::max<std::size_t>(max_reports, 1)), max_bytes_(max_bytes) {}

std::size_t ReportBuffer::PushBack(std::string document) {
  if (document.size() > max_bytes_) return 1;  // it would push out everything else
  const std::lock_guard<std::mutex> guard(lock_);
  bytes_ += document.size();
  documents_.push_back(std::move(document));
  return DropWhileOverBounds(End::kOldest);
}

std::size_t ReportBuffer::PushFront(std::vector<std::string> documents) {
  const std::lock_guard<std::mutex> guard(lock_);
  for (auto document = documents.rbegin(); document != documents.rend(); ++document) {
    bytes_ += document->size();
    documents_.push_front(std::move(*document));
  }
  return DropWhileOverBounds(End::kNewest);
}

std::size_t ReportBuffer::DropWhileOverBounds(End end) {
  std::size_t dropped = 0;
  while (documents_.size() > max_reports_ || bytes_ > max_bytes_) {
    const bool oldest = end == End::kOldest;
    bytes_ -= (oldest ? documents_.front() : documents_.back()).size();
    if (oldest) {
      documents_.pop_front();
    } else {
      documents_.pop_back();
    }
    ++dropped;
  }
  return dropped;
}

std::vector<std::string> ReportBuffer::TakeFront(std::size_t max_count, std::size_t max_bytes) {
  const std::lock_guard<std::mutex> guard(lock_);
  std::vector<std::string> taken;
  std::size_t taken_bytes = 0;
  while (!documents_.empty() && taken.size() < max_count) {
    const std::size_t size = documents_.front().size();
    if (!taken.empty() && taken_bytes + size > max_bytes) break;
    taken_bytes += size;
    bytes_ -= size;
    taken.push_back(std::move(documents_.front()));
    documents_.pop_front();
  }
  return taken;
}

bool ReportBuffer::HasRoomFor(std::size_t bytes) const {
  const std::lock_guard<std::mutex> guard(lock_);
  return documents_.size() < max_reports_ && bytes_ + bytes <= max_bytes_;
}

std::size_t ReportBuffer::Size() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return documents_.size();
}

std::size_t ReportBuffer::Bytes() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return bytes_;
}
