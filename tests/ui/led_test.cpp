#include "ui/led.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "log/logger.h"
#include "support/wait.h"
#include "recording_led_lines.h"

namespace {

using std::chrono::milliseconds;
using testing_support::WaitUntil;
using ui::LedColour;
using ui_test::LineWrite;
using ui_test::RecordingLedLines;

constexpr double kFast = 0.01;  // blink waits at a hundredth of their length

struct ExpectedStep {
  std::vector<std::pair<LedColour, int>> writes;
  int wait_ms;
};

struct PatternCase {
  const char* name;
  void (ui::LED::*start)();
  std::vector<ExpectedStep> pass;
};

std::vector<PatternCase> PatternCases() {
  constexpr auto red = LedColour::red;
  constexpr auto green = LedColour::green;
  constexpr auto blue = LedColour::blue;
  return {
      {"Red0p5On1p5Off", &ui::LED::Red0p5On1p5Off, {{{{red, 1}}, 500}, {{{red, 0}}, 1500}}},
      {"Red1p0On1p0Off", &ui::LED::Red1p0On1p0Off, {{{{red, 1}}, 1000}, {{{red, 0}}, 1000}}},
      {"Green0p05On0p05Off0p05On2p0Off",
       &ui::LED::Green0p05On0p05Off0p05On2p0Off,
       {{{{green, 1}}, 50}, {{{green, 0}}, 50}, {{{green, 1}}, 50}, {{{green, 0}}, 2000}}},
      {"RGBBlinking",
       &ui::LED::RGBBlinking,
       {{{{blue, 0}, {red, 1}}, 50}, {{{red, 0}, {green, 1}}, 50}, {{{green, 0}, {blue, 1}}, 50}}},
  };
}

std::size_t WritesPerPass(const PatternCase& pattern) {
  std::size_t count = 0;
  for (const auto& step : pattern.pass) count += step.writes.size();
  return count;
}

// The writes made by the blink thread: everything but the trailing red, green, blue 0 of the stop.
std::vector<LineWrite> BlinkWrites(const RecordingLedLines& lines) {
  std::vector<LineWrite> writes = lines.Writes();
  writes.resize(writes.size() - 3);
  return writes;
}

// Every pattern at its real pace, all four at once: the values written follow the pattern
// pass after pass, each step lasts its time (generous bounds), the blink thread stops between
// steps (never inside one step's writes), and the stop turns red, green and blue off.
TEST(LED, PatternsWriteTheirStepsWithTheirTiming) {
  const std::vector<PatternCase> cases = PatternCases();
  std::vector<RecordingLedLines*> lines;
  std::vector<std::unique_ptr<ui::LED>> leds;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    auto recording = std::make_unique<RecordingLedLines>();
    lines.push_back(recording.get());
    leds.push_back(std::make_unique<ui::LED>(std::move(recording)));
  }
  for (std::size_t i = 0; i < cases.size(); ++i) ((*leds[i]).*cases[i].start)();

  // Two whole passes and the start of a third.
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::size_t wanted = 2 * WritesPerPass(cases[i]) + 1;
    ASSERT_TRUE(WaitUntil([&] { return lines[i]->Count() >= wanted; })) << cases[i].name;
  }
  for (const auto& led : leds) {
    EXPECT_TRUE(led->IsBlinking());
    led->StopBlinking();
    EXPECT_FALSE(led->IsBlinking());
  }

  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const PatternCase& pattern = cases[i];
    const std::vector<LineWrite> all = lines[i]->Writes();
    ASSERT_GE(all.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
      const LineWrite& write = all[all.size() - 3 + k];
      EXPECT_EQ(write.colour, (std::array{LedColour::red, LedColour::green, LedColour::blue}[k]));
      EXPECT_EQ(write.value, 0);
    }

    const std::vector<LineWrite> blink = BlinkWrites(*lines[i]);
    ASSERT_GE(blink.size(), 2 * WritesPerPass(pattern) + 1);
    std::size_t index = 0;
    std::vector<std::pair<std::chrono::steady_clock::time_point, int>> step_starts;  // time, wait
    while (index < blink.size()) {
      for (const ExpectedStep& step : pattern.pass) {
        if (index == blink.size()) break;  // stopped after the previous step
        step_starts.emplace_back(blink[index].time, step.wait_ms);
        for (const auto& [colour, value] : step.writes) {
          ASSERT_LT(index, blink.size());
          EXPECT_EQ(blink[index].colour, colour) << "write " << index;
          EXPECT_EQ(blink[index].value, value) << "write " << index;
          EXPECT_EQ(blink[index].thread, blink[0].thread);
          ++index;
        }
      }
    }
    EXPECT_NE(blink[0].thread, std::this_thread::get_id());
    for (std::size_t s = 0; s + 1 < step_starts.size(); ++s) {
      const auto lasted = std::chrono::duration<double, std::milli>(step_starts[s + 1].first -
                                                                    step_starts[s].first).count();
      const int wait = step_starts[s].second;
      EXPECT_GE(lasted, wait * 0.95) << "step " << s;
      EXPECT_LE(lasted, wait * 1.5 + 100) << "step " << s;
    }
  }
}

// The reset button reaches the LED on the bus thread, under the LED machine's lock: a stop
// must not wait for the long step in progress. Stopped in the middle of each pattern's
// longest step (1.5 s and 2 s), the LED returns well before that step would have ended.
TEST(LED, StopDuringALongStepReturnsAtOnce) {
  const struct {
    const char* name;
    void (ui::LED::*start)();
    std::size_t writes_before_long_step;
  } cases[] = {
      {"Red0p5On1p5Off", &ui::LED::Red0p5On1p5Off, 2},
      {"Green0p05On0p05Off0p05On2p0Off", &ui::LED::Green0p05On0p05Off0p05On2p0Off, 4},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.name);
    auto recording = std::make_unique<RecordingLedLines>();
    RecordingLedLines& lines = *recording;
    ui::LED led(std::move(recording));
    (led.*entry.start)();
    ASSERT_TRUE(WaitUntil([&] { return lines.Count() >= entry.writes_before_long_step; }));

    const auto before = std::chrono::steady_clock::now();
    led.StopBlinking();
    const auto took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - before);
    EXPECT_LT(took.count(), 700) << "ms to stop";
    EXPECT_FALSE(led.IsBlinking());
    EXPECT_EQ(lines.Count(), entry.writes_before_long_step + 3) << "the stop wrote red, green and blue off";
  }
}

// Starting a pattern while another runs replaces it: one blink thread, the new pattern only.
TEST(LED, StartingAPatternReplacesTheRunningOne) {
  auto recording = std::make_unique<RecordingLedLines>();
  RecordingLedLines& lines = *recording;
  ui::LED led(std::move(recording), kFast);

  led.Red1p0On1p0Off();
  led.Green0p05On0p05Off0p05On2p0Off();
  const std::size_t mark = lines.Count();
  ASSERT_TRUE(WaitUntil([&] { return lines.Count() >= mark + 8; }));
  led.StopBlinking();

  const std::vector<LineWrite> after = lines.Writes(mark);
  ASSERT_GE(after.size(), 8u + 3u);
  for (std::size_t i = 0; i + 3 < after.size(); ++i) {
    EXPECT_EQ(after[i].colour, LedColour::green);
    EXPECT_EQ(after[i].thread, after[0].thread);
  }
}

// Amber belongs to the indicator: blinking and stopping never write it.
TEST(LED, PatternsAndStopLeaveAmberAlone) {
  auto recording = std::make_unique<RecordingLedLines>();
  RecordingLedLines& lines = *recording;
  ui::LED led(std::move(recording), kFast);

  led.SetValue(LedColour::amber, 1);
  for (void (ui::LED::*start)() : {&ui::LED::Red0p5On1p5Off, &ui::LED::Red1p0On1p0Off,
                                   &ui::LED::Green0p05On0p05Off0p05On2p0Off, &ui::LED::RGBBlinking}) {
    const std::size_t mark = lines.Count();
    (led.*start)();
    ASSERT_TRUE(WaitUntil([&] { return lines.Count() >= mark + 6; }));
    led.StopBlinking();
  }

  std::size_t amber_writes = 0;
  for (const LineWrite& write : lines.Writes()) amber_writes += write.colour == LedColour::amber;
  EXPECT_EQ(amber_writes, 1u);
  EXPECT_EQ(lines.Value(LedColour::amber), 1);
}

class LEDWithoutChips : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = std::filesystem::temp_directory_path() / ("quellaron-led-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory_);
    console_ = std::tmpfile();
    logging::Settings settings;
    settings.file_path = (directory_ / "quellaron.log").string();
    settings.console = console_;
    logging::Start(settings);
  }
  void TearDown() override {
    logging::Stop();
    std::fclose(console_);
    std::filesystem::remove_all(directory_);
  }

  std::string Log() const {
    std::ifstream in(directory_ / "quellaron.log");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The first line of `log` that contains `text`, or an empty text.
  static std::string LineWith(const std::string& log, const std::string& text) {
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.find(text) != std::string::npos) return line;
    }
    return {};
  }

  std::filesystem::path directory_;
  std::FILE* console_ = nullptr;
};

// The production constructor on a machine without GPIO chips: one error line, and an object
// whose operations all do nothing.
TEST_F(LEDWithoutChips, LogsTheSystemErrorAndDoesNothing) {
  if (std::filesystem::exists("/dev/gpiochip0") && std::filesystem::exists("/dev/gpiochip1")) {
    GTEST_SKIP() << "this machine has GPIO chips";
  }
  ui::LED led;

  const std::string log = Log();
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line) && line.find("System error thrown as expected: ") == std::string::npos) {
  }
  EXPECT_NE(line.find(" ERROR "), std::string::npos) << log;
  EXPECT_NE(line.find("System error thrown as expected: cannot open GPIO device /dev/gpiochip"),
            std::string::npos)
      << log;

  led.SetValue(LedColour::amber, 1);
  for (void (ui::LED::*start)() : {&ui::LED::Red0p5On1p5Off, &ui::LED::Red1p0On1p0Off,
                                   &ui::LED::Green0p05On0p05Off0p05On2p0Off, &ui::LED::RGBBlinking}) {
    (led.*start)();
    EXPECT_FALSE(led.IsBlinking());
  }
  led.StopBlinking();
  EXPECT_EQ(Log(), log) << "the operations logged nothing further";
}

// A board whose GPIO chips do not fit (a chip with fewer lines than an offset needs makes
// libgpiodcxx throw std::out_of_range), or any other failure to set up the lines: the LED is
// built during static initialisation, so nothing may escape. One error line, and an LED that
// does nothing.
TEST_F(LEDWithoutChips, AnyFailureToSetUpTheLinesLeavesAnLedThatDoesNothing) {
  const struct {
    const char* name;
    std::function<void()> fail;
    const char* logged;
  } cases[] = {
      {"a chip with too few lines", [] { throw std::out_of_range("line offset 20 out of range"); },
       "LED lines unavailable: line offset 20 out of range"},
      {"a system error", [] { throw std::system_error(ENOENT, std::system_category(), "cannot open"); },
       "System error thrown as expected: cannot open"},
      {"any other std::exception", [] { throw std::runtime_error("line busy"); }, "LED lines unavailable: line busy"},
      {"something that is no std::exception", [] { throw 42; }, "LED lines unavailable: unknown error"},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.name);
    const ui::LED::LinesFactory failing = [&entry]() -> std::unique_ptr<ui::LedLines> {
      entry.fail();
      return std::make_unique<RecordingLedLines>();
    };
    std::unique_ptr<ui::LED> led;
    ASSERT_NO_THROW(led = std::make_unique<ui::LED>(failing));

    const std::string log = Log();
    EXPECT_NE(LineWith(log, entry.logged).find(" ERROR "), std::string::npos) << log;
    EXPECT_FALSE(led->SetupError().empty()) << "kept for start-up to repeat once the log is open";

    led->RGBBlinking();
    EXPECT_FALSE(led->IsBlinking());
    led->SetValue(LedColour::amber, 1);
    led->StopBlinking();
    EXPECT_EQ(Log(), log) << "the operations logged nothing further";
  }

  ui::LED working(ui::LED::LinesFactory([] { return std::make_unique<RecordingLedLines>(); }), kFast);
  EXPECT_TRUE(working.SetupError().empty());
  working.RGBBlinking();
  EXPECT_TRUE(working.IsBlinking());
  working.StopBlinking();
}

}  // namespace
