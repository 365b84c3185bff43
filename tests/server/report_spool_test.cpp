// The report spool on its own: what a later start hands out again, damaged records, the size
// bound, the time-to-live and storage that cannot be used.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "server/report_spool.h"
#include "sim-cloud/stand_in_cloud.h"
#include "support/tmpfs_mount.h"

using namespace std::chrono_literals;

namespace {

class ReportSpoolTest : public ::testing::Test {
 protected:
  ReportSpoolOptions Options(const std::string& directory) {
    ReportSpoolOptions options;
    options.directory = directory;
    options.max_bytes = 1 << 20;
    options.segment_bytes = 4096;
    options.ttl = 1h;
    options.wall_clock = [this] { return wall_.load(); };
    options.clock = [this] { return steady_.load(); };
    return options;
  }
  std::unique_ptr<ReportSpool> Open() { return ReportSpool::Open(Options(Directory())); }
  std::unique_ptr<ReportSpool> Open(const ReportSpoolOptions& options) { return ReportSpool::Open(options); }
  std::string Directory() const { return scratch_.Path(); }

  // Hands out every reading there is.
  static std::vector<std::string> TakeAll(ReportSpool& spool) {
    std::vector<std::string> documents;
    while (auto report = spool.Next()) documents.push_back(report->document);
    return documents;
  }
  static std::vector<std::string> Readings(int first, int last) {
    std::vector<std::string> documents;
    for (int index = first; index <= last; ++index) documents.push_back(Reading(index));
    return documents;
  }
  static std::string Reading(int index) { return R"({"nodes":[{"id":"n","vs":[{"v":")" + std::to_string(index) + "\"}]}]}"; }
  static void Append(ReportSpool& spool, int first, int last) {
    for (int index = first; index <= last; ++index) ASSERT_TRUE(spool.Append(Reading(index)));
  }

  // The segment files, oldest first.
  std::vector<std::string> Files() const { return FilesIn(Directory()); }
  static std::vector<std::string> FilesIn(const std::string& directory) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
  }

  testing_support::ScratchDirectory scratch_;
  testing_support::LogCapture log_;
  std::atomic<std::chrono::system_clock::time_point> wall_{std::chrono::system_clock::now()};
  std::atomic<std::chrono::steady_clock::time_point> steady_{std::chrono::steady_clock::now()};
};

}  // namespace

// A later start hands out what the last delivery mark on storage left: readings settled and
// flushed are gone, readings settled since (the mark waits for the next flush) come again,
// and so does everything handed out but not settled. Files whose readings were all delivered
// are deleted; a flush is one sync of the file written, however much it holds.
TEST_F(ReportSpoolTest, ALaterStartHandsOutWhatTheLastFlushedDeliveryMarkLeft) {
  auto spool = Open();
  ASSERT_NE(spool, nullptr);
  Append(*spool, 1, 300);  // several files of 4 KiB
  EXPECT_GT(Files().size(), 3u);
  for (int index = 1; index <= 200; ++index) ASSERT_EQ(spool->Next()->document, Reading(index));
  spool->Settle(150);
  spool->Flush();
  spool->Settle(20);  // delivered, but the mark is not on storage yet

  // What a crash would leave: the files as they are now.
  testing_support::ScratchDirectory crash;
  for (const auto& file : Files()) {
    std::filesystem::copy_file(file, crash.Path() + "/" + std::filesystem::path(file).filename().string());
  }
  auto after_crash = Open(Options(crash.Path()));
  ASSERT_NE(after_crash, nullptr);
  EXPECT_EQ(after_crash->Status().pending, 150u);
  EXPECT_EQ(TakeAll(*after_crash), Readings(151, 300)) << "from the last flushed mark";

  spool.reset();  // a clean stop writes the mark of the 170 settled
  auto restarted = Open();
  ASSERT_NE(restarted, nullptr);
  restarted->Flush();
  const auto syncs = restarted->Status().syncs;
  Append(*restarted, 301, 320);
  EXPECT_EQ(TakeAll(*restarted), Readings(171, 320));
  restarted->Settle(150);
  restarted->Flush();
  EXPECT_EQ(restarted->Status().syncs, syncs + 1) << "one sync for twenty readings and a mark";
  EXPECT_EQ(Files().size(), 1u) << "only the file being written is left";
  restarted.reset();
  restarted = Open();
  EXPECT_EQ(TakeAll(*restarted), std::vector<std::string>{});
  EXPECT_EQ(restarted->Status().pending, 0u);
}

// A record cut short by a power cut, or damaged, is found by its length and checksum: the
// readings before it are handed out, the rest of its file is skipped with one line, and
// the readings of later files and of the new start follow.
TEST_F(ReportSpoolTest, ADamagedRecordIsSkippedWithOneLine) {
  const std::uint64_t last_record = spool::kRecordHeadBytes + Reading(5).size();
  struct Case {
    std::string name;
    bool in_older_file;     // the damage is in the file of an earlier start, not the newest
    std::uint64_t cut;      // bytes cut off the file's end
    bool flip_last_record;  // a byte of the last record's document changed
  };
  const std::vector<Case> cases{
      {"cut in the document", false, 10, false},
      {"cut in the record's head", false, last_record - 10, false},
      {"checksum does not match", false, 0, true},
      {"damage in an older file", true, 0, true},
  };
  for (const auto& test : cases) {
    testing_support::ScratchDirectory directory;
    const std::size_t lines_before = log_.Count("damaged record in");
    {
      auto spool = Open(Options(directory.Path()));
      Append(*spool, 1, 5);
    }
    if (test.in_older_file) {
      auto spool = Open(Options(directory.Path()));
      Append(*spool, 6, 8);
    }
    const std::string damaged = FilesIn(directory.Path()).front();
    if (test.cut > 0) std::filesystem::resize_file(damaged, std::filesystem::file_size(damaged) - test.cut);
    if (test.flip_last_record) {
      std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(-2, std::ios::end);
      file.put('#');
    }
    auto spool = Open(Options(directory.Path()));
    ASSERT_NE(spool, nullptr) << test.name;
    Append(*spool, 9, 9);
    std::vector<std::string> expected = Readings(1, 4);
    if (test.in_older_file) expected.insert(expected.end(), {Reading(6), Reading(7), Reading(8)});
    expected.push_back(Reading(9));
    EXPECT_EQ(TakeAll(*spool), expected) << test.name;
    EXPECT_EQ(log_.Count("damaged record in") - lines_before, 1u) << test.name << "\n" << log_.Text();
    EXPECT_EQ(spool->Status().damaged, 1u) << test.name;
  }
}

// Beyond its size bound the spool drops its oldest file: the readings in it not yet handed
// out are counted, and logged at once and then at most once a minute; readings already
// handed out are still settled in order.
TEST_F(ReportSpoolTest, AFullSpoolDropsItsOldestFileCountedAndLoggedOnceAMinute) {
  auto options = Options(Directory());
  options.max_bytes = 16 * 1024;
  auto spool = Open(options);
  ASSERT_NE(spool, nullptr);
  Append(*spool, 1, 3);
  ASSERT_EQ(spool->Next()->document, Reading(1));
  ASSERT_EQ(spool->Next()->document, Reading(2));
  Append(*spool, 4, 1000);

  const auto status = spool->Status();
  EXPECT_LE(status.bytes, options.max_bytes);
  EXPECT_EQ(Files().size(), status.files);
  const auto left = TakeAll(*spool);
  ASSERT_FALSE(left.empty());
  EXPECT_EQ(left.back(), Reading(1000));
  EXPECT_EQ(status.dropped + left.size() + 2, 1000u) << "every reading is handed out or counted as dropped";
  const std::string line = "Report spool full, oldest readings dropped since the last notice: ";
  EXPECT_EQ(log_.Count(line), 1u) << "the first at once, the rest within the minute wait";
  spool->Settle(2 + left.size());
  EXPECT_EQ(spool->Status().pending, 0u);

  Append(*spool, 1001, 1400);  // not handed out: dropped again
  EXPECT_GT(spool->Status().dropped, status.dropped);
  spool->Flush();
  EXPECT_EQ(log_.Count(line), 1u);
  steady_ = steady_.load() + 60s;
  spool->Flush();
  EXPECT_EQ(log_.Count(line), 2u) << "the drops of the minute in one line";
}

// Readings older than the time-to-live are not handed out, after a restart or while running.
TEST_F(ReportSpoolTest, ReadingsPastTheirTimeToLiveAreNotHandedOut) {
  {
    auto spool = Open();
    Append(*spool, 1, 3);
    wall_ = wall_.load() + 30min;
    Append(*spool, 4, 5);
    wall_ = wall_.load() + 45min;  // the first three are 75 minutes old
  }
  auto spool = Open();
  ASSERT_NE(spool, nullptr);
  Append(*spool, 6, 6);
  EXPECT_EQ(spool->Next()->document, Reading(4));
  wall_ = wall_.load() + 20min;  // 4 and 5 are past it too now
  EXPECT_EQ(TakeAll(*spool), std::vector<std::string>{Reading(6)});
  EXPECT_EQ(spool->Status().expired, 4u);
}

// A directory that is missing, not a directory, read-only or on a full file system turns the
// spool off with one error line; so does a file system that fills up while it runs: the
// reading that did not fit is left to the caller.
TEST_F(ReportSpoolTest, StorageThatCannotBeUsedTurnsTheSpoolOffWithOneLine) {
  const std::string off = "Report spool off: ";
  std::ofstream(Directory() + "/a-file") << "x";
  EXPECT_EQ(Open(Options(Directory() + "/missing")), nullptr);
  EXPECT_EQ(Open(Options(Directory() + "/a-file")), nullptr);
  EXPECT_EQ(log_.Count(off), 2u);
  EXPECT_EQ(log_.Count("missing cannot be used (No such file or directory)"), 1u);

  testing_support::TmpfsMount read_only(Directory() + "/read-only", "size=64k", true);
  if (!read_only.Mounted()) GTEST_SKIP() << read_only.Error();
  EXPECT_EQ(Open(Options(read_only.Path())), nullptr);
  EXPECT_EQ(log_.Count("(Read-only file system); readings wait in memory only."), 1u) << log_.Text();

  testing_support::TmpfsMount full(Directory() + "/full", "size=64k");
  ASSERT_TRUE(full.Mounted()) << full.Error();
  testing_support::FillFileSystem(full.Path());
  EXPECT_EQ(Open(Options(full.Path())), nullptr);
  EXPECT_EQ(log_.Count("(No space left on device); readings wait in memory only."), 1u) << log_.Text();

  testing_support::TmpfsMount filling(Directory() + "/filling", "size=64k");
  ASSERT_TRUE(filling.Mounted()) << filling.Error();
  auto spool = Open(Options(filling.Path()));
  ASSERT_NE(spool, nullptr);
  int appended = 0;
  while (appended < 10000 && spool->Append(Reading(appended + 1))) ++appended;
  EXPECT_GT(appended, 100);
  EXPECT_LT(appended, 10000);
  EXPECT_FALSE(spool->Active());
  EXPECT_FALSE(spool->Append(Reading(0)));
  EXPECT_EQ(spool->Unread(), 0u);
  EXPECT_EQ(log_.Count(off), 5u) << log_.Text();
  EXPECT_EQ(log_.Count("(No space left on device); new readings wait in memory only"), 1u);
}
