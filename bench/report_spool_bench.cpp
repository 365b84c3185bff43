// The report spool's costs, driven directly with simulated time:
//  - bytes written and syncs in an hour at the reference load (100 mesh nodes at five-minute
//    folds, a third of them three-channel, and one PLC of 50 addresses at one-minute folds:
//    about 6,600 readings an hour), with the cloud taking every reading and with the cloud
//    away the whole hour;
//  - replay of 100,000 spooled readings: opening the spool and handing them out in windows
//    of the buffer's 4,000 and settling them in requests of 500;
//  - heap in use with spools of growing size once the window is filled.
//
//   report_spool_bench [DIRECTORY]   (default: a fresh directory under /tmp, removed after)

#include <malloc.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "server/report_buffer.h"
#include "server/report_spool.h"

namespace {

using Clock = std::chrono::system_clock;
using nlohmann::json;

constexpr int kMeshNodes = 100;
constexpr int kPlcAddresses = 50;
constexpr std::chrono::seconds kFlushInterval{30};
constexpr std::size_t kWindow = 4000;
constexpr std::size_t kBatch = 500;

std::string Document(const std::string& id, const std::string& kind, std::int64_t ts, const std::string& value) {
  return json{{"nodes", json::array({{{"id", id}, {"vs", json::array({{{"k", kind}, {"ts", ts}, {"v", value}}})}}})}}
      .dump();
}

// The readings of one hour, in time order: (second of the hour, document).
std::vector<std::pair<int, std::string>> ReferenceHour(std::int64_t start) {
  std::vector<std::pair<int, std::string>> readings;
  for (int node = 0; node < kMeshNodes; ++node) {
    char id[16];
    std::snprintf(id, sizeof(id), "5e05%08x", 0x100 + node);
    // Two kinds for a single-channel node, one per channel and the main node's for a third.
    std::vector<std::pair<std::string, std::string>> kinds{{id, "temp"}, {id, "humi"}};
    if (node % 3 == 2) kinds = {{id, "temp"}, {std::string(id) + "_1", "current"}, {std::string(id) + "_2", "current"},
                                {std::string(id) + "_3", "current"}};
    for (int fold = 0; fold < 12; ++fold) {
      for (const auto& [device, kind] : kinds) {
        const int second = fold * 300 + (node * 3) % 300;
        readings.emplace_back(second, Document(device, kind, start + second, "21.299999"));
      }
    }
  }
  for (int address = 0; address < kPlcAddresses; ++address) {
    char id[64];
    std::snprintf(id, sizeof(id), "0123456789abcdef0123456789abcdef0123456789ab%04x", address);
    for (int minute = 0; minute < 60; ++minute) {
      const int second = minute * 60 + address % 60;
      readings.emplace_back(second, Document(id, "temp", start + second, std::to_string(1000 + minute)));
    }
  }
  std::stable_sort(readings.begin(), readings.end(),
                   [](const auto& left, const auto& right) { return left.first < right.first; });
  return readings;
}

// A directory made for one figure and removed after it.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(std::string path) : path_(std::move(path)) { std::filesystem::create_directories(path_); }
  ~ScratchDirectory() { std::filesystem::remove_all(path_); }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

 private:
  std::string path_;
};

// The daemon's spool (32 MiB in files of 2 MiB), or one without a size bound.
ReportSpoolOptions Options(const std::string& directory, std::atomic<Clock::time_point>& now, bool unbounded = false) {
  ReportSpoolOptions options;
  options.directory = directory;
  options.wall_clock = [&now] { return now.load(); };
  if (unbounded) {
    options.max_bytes = 1ull << 30;
    options.segment_bytes = 2u << 20;
  }
  return options;
}

// One simulated hour; the cloud takes every reading within the second when `cloud_up`.
void WriteLoad(const std::string& directory, bool cloud_up) {
  const ScratchDirectory scratch(directory);
  std::atomic<Clock::time_point> now{Clock::now()};
  const std::int64_t start = std::chrono::duration_cast<std::chrono::seconds>(now.load().time_since_epoch()).count();
  auto spool = ReportSpool::Open(Options(directory, now));
  const auto first = spool->Status();
  const auto hour = ReferenceHour(start);
  std::size_t next = 0;
  int last_flush = -3600;
  for (int second = 0; second < 3600; ++second) {
    now = Clock::time_point(std::chrono::seconds(start + second));
    for (; next < hour.size() && hour[next].first == second; ++next) spool->Append(hour[next].second);
    if (cloud_up) {
      std::size_t taken = 0;
      while (spool->Next()) ++taken;
      spool->Settle(taken);
    }
    // As the flusher does: at once when something changed after a pause, then once an interval.
    if (spool->Dirty() && second - last_flush >= kFlushInterval.count()) {
      spool->Flush();
      last_flush = second;
    }
  }
  const auto status = spool->Status();
  const double written = static_cast<double>(status.bytes_written - first.bytes_written);
  std::printf("  cloud %-5s %zu readings, %.0f bytes written (%.0f a reading), %llu syncs; a day: %.1f MB, %llu syncs\n",
              cloud_up ? "up:" : "away:", hour.size(), written, written / static_cast<double>(hour.size()),
              static_cast<unsigned long long>(status.syncs - first.syncs), written * 24 / 1e6,
              static_cast<unsigned long long>((status.syncs - first.syncs) * 24));
}

// Spools `count` readings of the PLC's shape and closes the spool.
void Fill(const std::string& directory, std::size_t count, std::atomic<Clock::time_point>& now) {
  auto spool = ReportSpool::Open(Options(directory, now, true));
  const std::string document = Document("0123456789abcdef0123456789abcdef0123456789abcd01", "temp", 1765432100, "1234");
  for (std::size_t index = 0; index < count; ++index) spool->Append(document);
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void Replay(const std::string& directory, std::size_t count) {
  const ScratchDirectory scratch(directory);
  std::atomic<Clock::time_point> now{Clock::now()};
  Fill(directory, count, now);
  const auto opening = Clock::now();
  auto spool = ReportSpool::Open(Options(directory, now));
  const double open_seconds = Seconds(opening);
  const auto handing = Clock::now();
  ReportBuffer window(kWindow, 4u << 20);
  std::size_t delivered = 0;
  while (true) {
    while (const auto size = spool->NextSize()) {
      if (!window.HasRoomFor(*size)) break;
      window.PushBack(spool->Next()->document);
    }
    const auto batch = window.TakeFront(kBatch, 64 * 1024);
    if (batch.empty()) break;
    spool->Settle(batch.size());
    delivered += batch.size();
  }
  spool->Flush();
  const double hand_seconds = Seconds(handing);
  std::printf("  %zu readings: opening %.3f s, handing out and settling %.3f s (%.0f readings/s); the worker's "
              "one request a second of %zu takes %.0f s\n",
              delivered, open_seconds, hand_seconds, static_cast<double>(delivered) / hand_seconds, kBatch,
              static_cast<double>(delivered) / static_cast<double>(kBatch));
}

std::size_t HeapInUse() { return mallinfo2().uordblks; }

void Memory(const std::string& directory, std::size_t count) {
  const ScratchDirectory scratch(directory);
  std::atomic<Clock::time_point> now{Clock::now()};
  Fill(directory, count, now);
  malloc_trim(0);
  const std::size_t before = HeapInUse();
  {
    auto spool = ReportSpool::Open(Options(directory, now, true));
    ReportBuffer window(kWindow, 4u << 20);
    while (const auto size = spool->NextSize()) {
      if (!window.HasRoomFor(*size)) break;
      window.PushBack(spool->Next()->document);
    }
    const auto status = spool->Status();
    std::printf("  spool of %7zu readings (%5.1f MB, %3zu files): heap in use with a full window %.2f MB\n", count,
                static_cast<double>(status.bytes) / 1e6, status.files,
                static_cast<double>(HeapInUse() - before) / 1e6);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string base = argc > 1 ? argv[1] : "";
  if (base.empty()) {
    char pattern[] = "/tmp/report-spool-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    base = pattern;
  }
  std::printf("Write load, one simulated hour of the reference load, flush interval %lld s:\n",
              static_cast<long long>(kFlushInterval.count()));
  WriteLoad(base + "/up", true);
  WriteLoad(base + "/away", false);
  std::printf("Replay (windows of %zu, requests of %zu):\n", kWindow, kBatch);
  Replay(base + "/replay", 100000);
  std::printf("Memory:\n");
  for (const std::size_t count : {10000, 100000, 300000}) Memory(base + "/memory", count);
  if (argc <= 1) std::filesystem::remove_all(base);
  return 0;
}
