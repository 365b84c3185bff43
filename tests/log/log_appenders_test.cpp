#include <fcntl.h>
#include <sys/stat.h>
#include <poll.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
#include "log/logger.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ReadStream(std::FILE* stream) {
  std::fflush(stream);
  std::rewind(stream);
  std::string text;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, got);
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class LogAppenders : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() / ("quellaron-log-" + std::to_string(::getpid()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    console_ = std::tmpfile();
  }
  void TearDown() override {
    logging::Stop();
    std::fclose(console_);
    fs::remove_all(directory_);
  }
  logging::Settings Settings() const {
    logging::Settings settings;
    settings.file_path = (directory_ / "quellaron.log").string();
    settings.console = console_;
    return settings;
  }

  fs::path directory_;
  std::FILE* console_ = nullptr;
};

int first_line = 0;

void WriteOneOfEach() {
  first_line = __LINE__ + 1;
  LOG_FATAL << "fatal " << 1;
  LOG_ERROR << "error " << 2;
  LOG_WARN << "warn";
  LOG_INFO << "info";
  LOG_DEBUG << "debug";
  LOG_VERBOSE << "verbose " << 6;
}

}  // namespace

TEST_F(LogAppenders, NothingIsWrittenBeforeStart) {
  LOG_ERROR << "too early";
  logging::Start(Settings());
  logging::Stop();
  LOG_ERROR << "too late";
  EXPECT_EQ(ReadFile(directory_ / "quellaron.log"), "");
  EXPECT_EQ(ReadStream(console_), "");
}

TEST_F(LogAppenders, BothAppendersGetTheSameLinesInTheFixedFormat) {
  logging::Start(Settings());
  WriteOneOfEach();
  logging::Stop();

  const auto file = ReadFile(directory_ / "quellaron.log");
  EXPECT_EQ(file, ReadStream(console_)) << "a file, not a terminal: no escape sequences";
  const auto lines = Lines(file);
  ASSERT_EQ(lines.size(), 6u);

  const std::string tid = std::to_string(::syscall(SYS_gettid));
  const char* severities[] = {"FATAL", "ERROR", "WARN ", "INFO ", "DEBUG", "VERB "};
  const char* messages[] = {"fatal 1", "error 2", "warn", "info", "debug", "verbose 6"};
  const std::regex shape(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} (.{5}) \[(\d+)\] \[([^@]+)@(\d+)\] (.*)$)");
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(lines[i], parts, shape)) << lines[i];
    EXPECT_EQ(parts[1], severities[i]);
    EXPECT_EQ(parts[2], tid);
    EXPECT_EQ(parts[3], "{anonymous}::WriteOneOfEach");
    EXPECT_EQ(parts[4], std::to_string(first_line + static_cast<int>(i)));
    EXPECT_EQ(parts[5], messages[i]);
  }
}

// The configured level holds for both appenders: each threshold admits its own severity and
// the ones below it.
TEST_F(LogAppenders, TheThresholdHoldsForBothAppenders) {
  logging::Start(Settings());
  const char* names[] = {"FATAL", "ERROR", "WARN ", "INFO ", "DEBUG", "VERB "};
  for (int level = 1; level <= 6; ++level) {
    logging::SetThreshold(static_cast<logging::Severity>(level));
    WriteOneOfEach();
  }
  logging::Stop();
  const auto file = ReadFile(directory_ / "quellaron.log");
  EXPECT_EQ(file, ReadStream(console_));
  std::vector<std::string> severities;
  for (const auto& line : Lines(file)) severities.push_back(line.substr(24, 5));
  std::vector<std::string> expected;
  for (int level = 1; level <= 6; ++level) expected.insert(expected.end(), names, names + level);
  EXPECT_EQ(severities, expected);
}

TEST_F(LogAppenders, LinesFromManyThreadsNeverInterleave) {
  logging::Start(Settings());
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < 200; ++i) LOG_INFO << "writer " << t << " line " << i << " " << std::string(100, 'x');
    });
  }
  for (auto& writer : writers) writer.join();
  logging::Stop();
  const auto lines = Lines(ReadFile(directory_ / "quellaron.log"));
  ASSERT_EQ(lines.size(), 800u);
  for (const auto& line : lines) EXPECT_NE(line.find(std::string(100, 'x')), std::string::npos);
}

TEST_F(LogAppenders, RollingKeepsAtMostFiveFilesAndDropsTheOldest) {
  auto settings = Settings();
  settings.max_file_size = 4096;
  logging::Start(settings);
  for (int i = 0; i < 1000; ++i) LOG_INFO << "record " << i << " " << std::string(60, '.');
  logging::Stop();

  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(directory_)) files.push_back(entry.path());
  EXPECT_EQ(files.size(), 5u);
  std::string all;
  for (const auto& file : files) {
    EXPECT_LE(fs::file_size(file), 4096u);
    all += ReadFile(file);
  }
  EXPECT_NE(ReadFile(directory_ / "quellaron.log").find("record 999 "), std::string::npos);
  EXPECT_EQ(all.find("record 0 "), std::string::npos) << "the oldest file was dropped";
}

// The log may carry what peers sent: only its owner may read it, whatever the umask. That
// holds for a fresh file, for a file left by an earlier run with a wider mode, for the files
// made by rolling, and for rolled files of an earlier run.
TEST_F(LogAppenders, LogFilesAreReadableByTheOwnerOnly) {
  auto settings = Settings();
  settings.max_file_size = 4096;
  std::ofstream(directory_ / "quellaron.log") << "earlier run\n";
  std::ofstream(directory_ / "quellaron.3.log") << "earlier run\n";
  fs::permissions(directory_ / "quellaron.log", fs::perms(0644));
  fs::permissions(directory_ / "quellaron.3.log", fs::perms(0644));
  const mode_t saved_umask = ::umask(022);
  logging::Start(settings);
  for (int i = 0; i < 300; ++i) LOG_INFO << "record " << i << " " << std::string(60, '.');
  logging::Stop();
  ::umask(saved_umask);

  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(directory_)) {
    ++files;
    EXPECT_EQ(entry.status().permissions() & fs::perms::all, fs::perms(0600)) << entry.path();
  }
  EXPECT_EQ(files, 5u) << "the log rolled into every file";
}

TEST_F(LogAppenders, DaemonDefaults) {
  const logging::Settings defaults;
  EXPECT_EQ(defaults.file_path, "/var/log/quellaron.log");
  EXPECT_EQ(defaults.max_file_size, 2097152u);
  EXPECT_EQ(defaults.max_files, 5u);
  EXPECT_EQ(defaults.console, stdout);
  EXPECT_EQ(defaults.threshold, logging::Severity::verbose);
}

TEST_F(LogAppenders, UnwritableLogFileLeavesTheConsoleWorking) {
  auto settings = Settings();
  settings.file_path = "/proc/quellaron/cannot/exist.log";
  logging::Start(settings);
  LOG_INFO << "still here";
  logging::Stop();
  const auto console = ReadStream(console_);
  EXPECT_NE(console.find("ERROR [") , std::string::npos);
  EXPECT_NE(console.find("still here"), std::string::npos);
}

TEST_F(LogAppenders, TerminalGetsColoursAndTheResetAfterEveryLine) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios raw{};
  ::tcgetattr(slave, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(slave, TCSANOW, &raw);
  std::FILE* terminal = ::fdopen(slave, "w");

  auto settings = Settings();
  settings.console = terminal;
  logging::Start(settings);
  LOG_INFO << "plain";
  LOG_ERROR << "bad";
  LOG_FATAL << "worse";
  LOG_DEBUG << "detail";
  logging::Stop();
  std::fflush(terminal);

  std::string seen;
  pollfd readable{master, POLLIN, 0};
  while (seen.find("detail\n\x1b[0m\x1b[0K") == std::string::npos && ::poll(&readable, 1, 5000) > 0) {
    char buffer[4096];
    const auto got = ::read(master, buffer, sizeof buffer);
    if (got <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(got));
  }
  std::fclose(terminal);
  ::close(master);

  const auto lines = Lines(seen);
  ASSERT_EQ(lines.size(), 5u) << seen;
  EXPECT_EQ(lines[0].find("20"), 0u) << "info: no colour prefix";
  EXPECT_NE(lines[0].find("plain"), std::string::npos);
  EXPECT_EQ(lines[1].rfind("\x1b[0m\x1b[0K\x1b[91m", 0), 0u) << "reset after the info line, then red";
  EXPECT_EQ(lines[2].rfind("\x1b[0m\x1b[0K\x1b[97m\x1b[41m", 0), 0u);
  EXPECT_EQ(lines[3].rfind("\x1b[0m\x1b[0K\x1b[96m", 0), 0u);
  EXPECT_EQ(lines[4], "\x1b[0m\x1b[0K");
  // The file appender never gets escape sequences.
  EXPECT_EQ(ReadFile(directory_ / "quellaron.log").find('\x1b'), std::string::npos);
}
