#include "queue/drop_notice.h"

#include <gtest/gtest.h>

#include <string>

#include "packet/log_capture.h"

using namespace std::chrono_literals;

TEST(DropNotice, OneLineAtTheFirstDropThenAtMostOneAMinuteWithTheCountSinceTheLast) {
  packet_test::LogCapture log;
  auto now = std::chrono::steady_clock::now();
  queue::DropNotice notice("Mesh control queue", std::chrono::minutes(1), [&now] { return now; });
  const std::string line = "Mesh control queue full, records dropped since the last notice: ";
  notice.Dropped(1);
  now += 10s;
  notice.Dropped(2);
  notice.Dropped(3);
  now += 51s;
  notice.Dropped(5);
  now += 1s;
  notice.Dropped(5);  // nothing new since the last line
  now += 2min;
  notice.Dropped(5);
  const std::string text = log.Text();
  EXPECT_NE(text.find(line + "1\n"), std::string::npos) << text;
  EXPECT_NE(text.find(line + "4\n"), std::string::npos) << text;
  std::size_t lines = 0;
  for (auto at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++lines;
  EXPECT_EQ(lines, 2u) << text;
}
