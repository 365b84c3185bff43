#include "log/drop_notice.h"

#include <gtest/gtest.h>

#include <string>

#include "packet/log_capture.h"

using namespace std::chrono_literals;

TEST(DropNotice, OneLineAtTheFirstDropThenAtMostOneAMinuteWithTheCountSinceTheLast) {
  packet_test::LogCapture log;
  auto now = std::chrono::steady_clock::now();
  const std::string line = "Mesh control queue full, records dropped since the last notice: ";
  logging::DropNotice notice(line, std::chrono::minutes(1), [&now] { return now; });
  notice.Add(1);
  now += 10s;
  notice.Add(1);
  notice.Add(1);
  notice.Add(0);  // nothing dropped: no line, nothing counted
  now += 51s;
  notice.Flush();  // tells the two held back
  now += 1s;
  notice.Flush();  // nothing new since the last line
  now += 2min;
  notice.Add(2);
  EXPECT_EQ(notice.Total(), 5u);
  const std::string text = log.Text();
  EXPECT_NE(text.find(line + "1\n"), std::string::npos) << text;
  EXPECT_NE(text.find(line + "2\n"), std::string::npos) << text;
  std::size_t lines = 0;
  for (auto at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++lines;
  EXPECT_EQ(lines, 3u) << text;
}
