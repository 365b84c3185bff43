#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "log/drop_notice.h"
#include "server/spool_file.h"
#include "server/spool_format.h"
#include "server/spool_segment_reader.h"

// Where and how a ReportSpool keeps its readings.
struct ReportSpoolOptions {
  std::string directory;
  std::uint64_t max_bytes = 32ull << 20;  // beyond it the oldest segment file is dropped
  std::uint64_t segment_bytes = 0;        // a new file after this many; 0: a sixteenth of max_bytes, at least 64 KiB
  std::chrono::seconds ttl{72 * 3600};    // older readings are not handed out; 0: they never expire
  std::size_t max_document_bytes = 4u << 20;  // a longer record is taken for damage
  std::function<std::chrono::system_clock::time_point()> wall_clock = [] { return std::chrono::system_clock::now(); };
  // Readings dropped from a full spool are logged at most once a period, on this clock.
  std::chrono::milliseconds drop_log_period{60000};
  logging::DropNotice::Clock clock = [] { return std::chrono::steady_clock::now(); };
};

// One reading handed out by the spool.
struct SpooledReport {
  std::uint64_t sequence = 0;
  std::string document;
};

// The spool's state for an operator.
struct ReportSpoolStatus {
  bool active = false;     // false once a storage failure has turned it off
  std::uint64_t bytes = 0;  // of its files
  std::size_t files = 0;
  std::uint64_t pending = 0;  // readings not yet delivered (at most: expired ones count until skipped)
  std::optional<std::chrono::system_clock::time_point> oldest;  // when the oldest pending reading came
  std::uint64_t appended = 0;
  std::uint64_t delivered = 0;  // settled: taken or refused by the cloud
  std::uint64_t dropped = 0;    // with the oldest file of a full spool
  std::uint64_t expired = 0;    // older than the time-to-live, not handed out
  std::uint64_t damaged = 0;    // damaged records (a write cut short by a power cut)
  std::uint64_t bytes_written = 0;
  std::uint64_t syncs = 0;  // fdatasync and fsync calls
};

// The readings waiting for the cloud, on storage: append-only segment files of checksummed
// records (spool_format.h) in one directory. Every reading is appended as it comes (one
// write, so a crash of the daemon loses nothing the kernel has); Flush writes the delivery
// mark and brings the files to storage (one fdatasync), at its owner's interval. Readings are
// handed out oldest first, from where the last run's delivery mark left off, skipping those
// past their time-to-live; the caller settles them, oldest first, once the cloud has them.
// Files whose readings are all settled are deleted; beyond the size bound the oldest file is
// dropped, its readings counted and logged once a period. A storage failure turns the spool
// off for the rest of the run (one error line); what it holds stays for the next start.
//
// Memory does not grow with the spool: one record is read ahead, and the sequence and time
// of each reading handed out and not yet settled are kept.
//
// Threads: any thread appends; one (the REST worker) reads and settles; one flushes. Every
// call but Unread, Dirty and Active takes the lock; the file syncs of Flush run outside it.
class ReportSpool {
  struct Key {};  // only Open makes a spool

 public:
  // The spool in `options.directory`; nothing, with one error line, when the directory is
  // missing, not a directory, or refuses a new file (read-only, full).
  static std::unique_ptr<ReportSpool> Open(ReportSpoolOptions options);
  ReportSpool(Key, ReportSpoolOptions options);
  // Writes the delivery mark and syncs.
  ~ReportSpool();
  ReportSpool(const ReportSpool&) = delete;
  ReportSpool& operator=(const ReportSpool&) = delete;

  // False when the spool is off (now or already); the caller then keeps the reading itself.
  bool Append(const std::string& document);
  // The size of the next reading Next would hand out.
  std::optional<std::size_t> NextSize();
  std::optional<SpooledReport> Next();
  // How many readings are left to hand out (at most: expired ones count until skipped);
  // lock-free.
  std::uint64_t Unread() const;
  // The oldest `count` readings handed out are done with (the cloud took or refused them).
  void Settle(std::size_t count);
  // Something was appended or settled since the last flush; lock-free.
  bool Dirty() const { return dirty_; }
  void Flush();
  bool Active() const { return !failed_; }
  ReportSpoolStatus Status();

 private:
  struct Segment {
    std::uint64_t first_sequence = 0;
    std::string path;
    std::uint64_t delivered_before = 0;  // from its header
    std::uint64_t bytes = 0;
    std::uint64_t readable_bytes = 0;  // where its last good record ends (the end, unless a scan found damage)
  };
  struct HandedOut {
    std::uint64_t sequence;
    std::int64_t time;
  };
  struct Scan;  // what a run left in its newest file

  // Finds the files, takes the delivery mark, starts a new file; the reason when it cannot.
  std::string Start();
  std::string LoadSegments();
  Scan ScanNewest();
  void RemoveSpentSegments();
  std::string StartSegment();  // under lock_ (or before the spool is shared)
  bool WriteDeliveryMark();
  void Fail(const std::string& reason);

  // The oldest reading not yet settled: every one before it is delivered (or lost).
  std::uint64_t Frontier() const;
  bool Expired(std::int64_t time) const;
  std::int64_t Now() const;
  // Reads until the next reading to hand out is in lookahead_; false when there is none yet.
  bool Peek();
  bool OpenReader();
  bool ReadingLiveSegment() const;
  void SkipToNextSegment();
  void Damaged(const std::string& path, std::uint64_t offset);
  // Removes the oldest file; its readings not yet handed out are returned.
  std::uint64_t RemoveOldest();
  void RemoveSettledSegments();
  void DropWhileOverBound();

  const ReportSpoolOptions options_;
  const std::uint64_t segment_bytes_;
  std::mutex flush_lock_;  // one Flush at a time
  std::mutex lock_;
  std::deque<Segment> segments_;  // oldest first; the last is being written
  std::shared_ptr<spool::SpoolFile> writer_;
  std::vector<std::shared_ptr<spool::SpoolFile>> unsynced_;  // files closed since the last flush
  std::shared_ptr<spool::SpoolFile> directory_;
  bool directory_unsynced_ = false;
  std::atomic<std::uint64_t> next_sequence_{1};
  std::uint64_t delivered_mark_ = 1;  // the frontier last written to storage

  std::optional<spool::SegmentReader> reader_;
  std::uint64_t reader_segment_ = 0;  // the first sequence of the file it reads
  std::optional<spool::Record> lookahead_;
  // Every reading before it was handed out or skipped.
  std::atomic<std::uint64_t> passed_{1};
  std::deque<HandedOut> handed_out_;

  std::atomic<bool> failed_{false};
  std::atomic<bool> dirty_{false};
  std::uint64_t bytes_ = 0;
  ReportSpoolStatus counts_;
  logging::DropNotice drops_;
};
