#include "server/report_spool.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <utility>

#include "log/log.h"

using spool::Record;
using spool::RecordType;
using spool::SegmentReader;
using spool::SpoolFile;

namespace {

constexpr std::uint64_t kMinSegmentBytes = 64 * 1024;
constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

// At least two files fit the bound, so dropping the oldest always makes room.
std::uint64_t SegmentBytes(const ReportSpoolOptions& options) {
  const std::uint64_t wanted =
      options.segment_bytes != 0 ? options.segment_bytes : std::max(kMinSegmentBytes, options.max_bytes / 16);
  return std::max<std::uint64_t>(1, std::min(wanted, options.max_bytes / 2));
}

// The segment files in `directory` by name, in sequence order; false when it cannot be read.
bool ListSegmentFiles(const std::string& directory, std::vector<std::pair<std::uint64_t, std::string>>& found) {
  DIR* listing = ::opendir(directory.c_str());
  if (listing == nullptr) return false;
  // readdir ends a listing it cannot finish the same way as a complete one, but with errno set:
  // a spool read only in part would hand out its readings with a gap.
  errno = 0;
  while (const dirent* entry = ::readdir(listing)) {
    if (const auto sequence = spool::SegmentSequence(entry->d_name)) {
      found.emplace_back(*sequence, directory + "/" + entry->d_name);
    }
    errno = 0;
  }
  const int error = errno;
  ::closedir(listing);
  errno = error;
  std::sort(found.begin(), found.end());
  return error == 0;
}

}  // namespace

// What a run left in its newest file: the last delivery mark and the next sequence number.
struct ReportSpool::Scan {
  std::uint64_t delivered_before = 1;
  std::uint64_t next_sequence = 1;
};

std::unique_ptr<ReportSpool> ReportSpool::Open(ReportSpoolOptions options) {
  auto spool = std::make_unique<ReportSpool>(Key{}, std::move(options));
  const std::string error = spool->Start();
  if (!error.empty()) {
    spool->failed_ = true;  // nothing to flush
    LOG_ERROR << "Report spool off: " << error << "; readings wait in memory only.";
    return nullptr;
  }
  LOG_INFO << "Report spool in " << spool->options_.directory << ": " << spool->Status().pending
           << " readings to send.";
  return spool;
}

ReportSpool::ReportSpool(Key, ReportSpoolOptions options)
    : options_(std::move(options)),
      segment_bytes_(SegmentBytes(options_)),
      drops_("Report spool full, oldest readings dropped since the last notice: ", options_.drop_log_period,
             options_.clock) {}

ReportSpool::~ReportSpool() {
  if (!failed_) Flush();
}

std::string ReportSpool::Start() {
  struct stat status {};
  if (::stat(options_.directory.c_str(), &status) != 0) {
    return options_.directory + " cannot be used (" + spool::ErrnoText() + ")";
  }
  if (!S_ISDIR(status.st_mode)) return options_.directory + " is not a directory";
  directory_ = std::make_shared<SpoolFile>(SpoolFile::OpenForReading(options_.directory));
  if (!directory_->IsOpen()) return options_.directory + " cannot be read (" + directory_->Error() + ")";
  if (std::string error = LoadSegments(); !error.empty()) return error;
  const Scan scan = ScanNewest();
  next_sequence_ = scan.next_sequence;
  delivered_mark_ = std::min(scan.delivered_before, scan.next_sequence);  // a mark is never ahead of the readings
  passed_ = delivered_mark_;
  RemoveSpentSegments();
  return StartSegment();
}

std::string ReportSpool::LoadSegments() {
  std::vector<std::pair<std::uint64_t, std::string>> found;
  if (!ListSegmentFiles(options_.directory, found)) {
    return options_.directory + " cannot be read (" + spool::ErrnoText() + ")";
  }
  for (const auto& [sequence, path] : found) {
    SpoolFile file = SpoolFile::OpenForReading(path);
    std::string bytes;
    const auto header = file.IsOpen() && file.ReadAt(0, spool::kHeaderBytes, bytes) ? spool::DecodeHeader(bytes)
                                                                                    : std::nullopt;
    if (!header || header->first_sequence != sequence) {
      LOG_WARN << "Report spool: " << path << " has no valid header (cut short as it was made?); removed.";
      ++counts_.damaged;
      ::unlink(path.c_str());
      continue;
    }
    const std::uint64_t size = file.Size();
    segments_.push_back({sequence, path, header->delivered_before, size, kUnlimited});
    bytes_ += size;
  }
  return "";
}

ReportSpool::Scan ReportSpool::ScanNewest() {
  if (segments_.empty()) return {};
  Segment& newest = segments_.back();
  Scan scan{newest.delivered_before, newest.first_sequence};
  SegmentReader reader(SpoolFile::OpenForReading(newest.path), options_.max_document_bytes);
  Record record;
  SegmentReader::Outcome outcome;
  while ((outcome = reader.Next(record)) == SegmentReader::Outcome::kRecord) {
    if (record.type == RecordType::kReading) {
      scan.next_sequence = std::max(scan.next_sequence, record.sequence + 1);
    } else {
      scan.delivered_before = std::max(scan.delivered_before, record.sequence);
    }
  }
  newest.readable_bytes = reader.Offset();
  if (outcome == SegmentReader::Outcome::kDamaged) Damaged(newest.path, reader.Offset());
  return scan;
}

// Removes the files whose readings were all delivered, and a newest file without readings.
void ReportSpool::RemoveSpentSegments() {
  for (auto segment = segments_.begin(); segment != segments_.end();) {
    const auto next = std::next(segment);
    const std::uint64_t end = next != segments_.end() ? next->first_sequence : next_sequence_.load();
    if (end > delivered_mark_ && end > segment->first_sequence) {
      ++segment;
      continue;
    }
    ::unlink(segment->path.c_str());
    bytes_ -= std::min(bytes_, segment->bytes);
    segment = segments_.erase(segment);
  }
}

std::string ReportSpool::StartSegment() {
  const std::uint64_t first = next_sequence_;
  const std::string path = options_.directory + "/" + spool::SegmentName(first);
  auto file = std::make_shared<SpoolFile>(SpoolFile::Create(path));
  if (!file->IsOpen()) return "cannot create " + path + " (" + file->Error() + ")";
  const std::uint64_t frontier = Frontier();
  const std::string header = spool::EncodeHeader({first, frontier, Now()});
  if (!file->Append(header)) {
    const std::string reason = "cannot write " + path + " (" + file->Error() + ")";
    ::unlink(path.c_str());
    return reason;
  }
  if (writer_) unsynced_.push_back(std::move(writer_));
  writer_ = std::move(file);
  segments_.push_back({first, path, frontier, header.size(), kUnlimited});
  bytes_ += header.size();
  counts_.bytes_written += header.size();
  directory_unsynced_ = true;
  dirty_ = true;
  return "";
}

void ReportSpool::Fail(const std::string& reason) {
  failed_ = true;
  reader_.reset();
  lookahead_.reset();
  LOG_ERROR << "Report spool off: " << reason << "; new readings wait in memory only, the "
            << next_sequence_ - passed_ << " spooled and not yet sent stay in " << options_.directory
            << " for the next start.";
}

bool ReportSpool::Append(const std::string& document) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (failed_) return false;
  const std::string bytes = spool::EncodeRecord({RecordType::kReading, next_sequence_, Now(), document});
  if (!writer_->Append(bytes)) {
    Fail("writing " + writer_->Path() + " failed (" + writer_->Error() + ")");
    return false;
  }
  ++next_sequence_;
  ++counts_.appended;
  counts_.bytes_written += bytes.size();
  bytes_ += bytes.size();
  segments_.back().bytes += bytes.size();
  dirty_ = true;
  if (segments_.back().bytes >= segment_bytes_) {
    if (const std::string error = StartSegment(); !error.empty()) {
      Fail(error);
      return false;  // kept by the caller too: sent twice rather than not at all
    }
  }
  DropWhileOverBound();
  return true;
}

std::optional<std::size_t> ReportSpool::NextSize() {
  const std::lock_guard<std::mutex> guard(lock_);
  if (!Peek()) return std::nullopt;
  return lookahead_->document.size();
}

std::optional<SpooledReport> ReportSpool::Next() {
  const std::lock_guard<std::mutex> guard(lock_);
  if (!Peek()) return std::nullopt;
  Record record = std::move(*lookahead_);
  lookahead_.reset();
  handed_out_.push_back({record.sequence, record.time});
  passed_ = record.sequence + 1;
  return SpooledReport{record.sequence, std::move(record.document)};
}

std::uint64_t ReportSpool::Unread() const {
  if (failed_) return 0;
  const std::uint64_t next = next_sequence_;
  const std::uint64_t passed = passed_;
  return next > passed ? next - passed : 0;
}

void ReportSpool::Settle(std::size_t count) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (failed_) return;
  const std::size_t settled = std::min(count, handed_out_.size());
  handed_out_.erase(handed_out_.begin(), handed_out_.begin() + static_cast<std::ptrdiff_t>(settled));
  counts_.delivered += settled;
  if (settled > 0) dirty_ = true;
}

void ReportSpool::Flush() {
  const std::lock_guard<std::mutex> flushing(flush_lock_);
  std::vector<std::shared_ptr<SpoolFile>> files;
  bool sync_directory = false;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    dirty_ = false;
    drops_.Flush();
    if (failed_ || !WriteDeliveryMark()) return;
    RemoveSettledSegments();
    files = std::exchange(unsynced_, {});
    files.push_back(writer_);
    sync_directory = std::exchange(directory_unsynced_, false);
  }
  // Outside the lock: a sync may take long on slow storage, and readings keep coming.
  if (sync_directory) files.push_back(directory_);
  std::string error;
  for (const auto& file : files) {
    const bool synced = file->Sync(&error);
    const std::lock_guard<std::mutex> guard(lock_);
    ++counts_.syncs;
    if (!synced) {
      if (!failed_) Fail("syncing " + file->Path() + " failed (" + error + ")");
      return;
    }
  }
}

bool ReportSpool::WriteDeliveryMark() {
  const std::uint64_t frontier = Frontier();
  if (frontier <= delivered_mark_) return true;
  const std::string mark = spool::EncodeRecord({RecordType::kDeliveryMark, frontier, Now(), ""});
  if (!writer_->Append(mark)) {
    Fail("writing " + writer_->Path() + " failed (" + writer_->Error() + ")");
    return false;
  }
  delivered_mark_ = frontier;
  counts_.bytes_written += mark.size();
  bytes_ += mark.size();
  segments_.back().bytes += mark.size();
  return true;
}

ReportSpoolStatus ReportSpool::Status() {
  const std::lock_guard<std::mutex> guard(lock_);
  ReportSpoolStatus status = counts_;
  status.active = !failed_;
  status.bytes = bytes_;
  status.files = segments_.size();
  status.pending = next_sequence_ - std::min(next_sequence_.load(), Frontier());
  status.dropped = drops_.Total();
  if (!handed_out_.empty()) {
    status.oldest = std::chrono::system_clock::time_point(std::chrono::seconds(handed_out_.front().time));
  } else if (Peek()) {
    status.oldest = std::chrono::system_clock::time_point(std::chrono::seconds(lookahead_->time));
  }
  return status;
}

std::uint64_t ReportSpool::Frontier() const {
  return handed_out_.empty() ? passed_.load() : handed_out_.front().sequence;
}

std::int64_t ReportSpool::Now() const {
  return std::chrono::duration_cast<std::chrono::seconds>(options_.wall_clock().time_since_epoch()).count();
}

bool ReportSpool::Expired(std::int64_t time) const {
  return options_.ttl.count() > 0 && Now() - time > options_.ttl.count();
}

bool ReportSpool::Peek() {
  while (!lookahead_ && !failed_) {
    if (!reader_ && !OpenReader()) return false;
    Record record;
    const auto outcome = reader_->Next(record);
    if (outcome == SegmentReader::Outcome::kRecord) {
      if (record.type != RecordType::kReading || record.sequence < passed_) continue;
      if (Expired(record.time)) {
        ++counts_.expired;
        passed_ = record.sequence + 1;
        continue;
      }
      lookahead_ = std::move(record);
    } else if (ReadingLiveSegment()) {
      // Whole records only are written here, under this lock: damage is the storage's.
      if (outcome == SegmentReader::Outcome::kDamaged) Fail("damaged record in " + reader_->Path());
      return false;
    } else {
      if (outcome == SegmentReader::Outcome::kDamaged) Damaged(reader_->Path(), reader_->Offset());
      SkipToNextSegment();
    }
  }
  return lookahead_.has_value();
}

bool ReportSpool::OpenReader() {
  if (segments_.empty()) return false;
  // The last file that starts at or before the next reading to pass, else the oldest.
  auto segment = segments_.begin();
  for (auto candidate = segments_.begin(); candidate != segments_.end(); ++candidate) {
    if (candidate->first_sequence <= passed_) segment = candidate;
  }
  SpoolFile file = SpoolFile::OpenForReading(segment->path);
  if (!file.IsOpen()) {
    Fail("cannot read " + segment->path + " (" + file.Error() + ")");
    return false;
  }
  reader_.emplace(std::move(file), options_.max_document_bytes, segment->readable_bytes);
  reader_segment_ = segment->first_sequence;
  return true;
}

bool ReportSpool::ReadingLiveSegment() const {
  return reader_ && !segments_.empty() && reader_segment_ == segments_.back().first_sequence;
}

void ReportSpool::SkipToNextSegment() {
  reader_.reset();
  const auto next = std::find_if(segments_.begin(), segments_.end(),
                                 [this](const Segment& segment) { return segment.first_sequence > reader_segment_; });
  if (next != segments_.end()) passed_ = std::max(passed_.load(), next->first_sequence);
}

void ReportSpool::Damaged(const std::string& path, std::uint64_t offset) {
  ++counts_.damaged;
  LOG_WARN << "Report spool: damaged record in " << path << " at byte " << offset
           << " (a write cut short by a power cut?); the rest of that file is skipped.";
}

std::uint64_t ReportSpool::RemoveOldest() {
  const Segment oldest = segments_.front();
  const std::uint64_t end = segments_[1].first_sequence;
  const std::uint64_t from = std::max(passed_.load(), oldest.first_sequence);
  if (reader_ && reader_segment_ == oldest.first_sequence) reader_.reset();
  if (lookahead_ && lookahead_->sequence < end) lookahead_.reset();
  passed_ = std::max(passed_.load(), end);
  ::unlink(oldest.path.c_str());
  bytes_ -= std::min(bytes_, oldest.bytes);
  segments_.pop_front();
  return end > from ? end - from : 0;
}

void ReportSpool::RemoveSettledSegments() {
  while (segments_.size() > 1 && segments_[1].first_sequence <= Frontier()) RemoveOldest();
}

void ReportSpool::DropWhileOverBound() {
  std::uint64_t dropped = 0;
  while (bytes_ > options_.max_bytes && segments_.size() > 1) dropped += RemoveOldest();
  drops_.Add(dropped);
}
