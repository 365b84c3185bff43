#include <gtest/gtest.h>

#include "log/line_formatter.h"

TEST(LogLine, FunctionNameIsCutFromTheFullSignature) {
  const struct {
    const char* signature;
    const char* name;
  } cases[] = {
      {"void App::Init()", "App::Init"},
      {"virtual void App::OnMessage(const mailbox::Depesche&)", "App::OnMessage"},
      {"void SignalHandler(int)", "SignalHandler"},
      {"std::string GetIPAddress()", "GetIPAddress"},
      {"std::vector<unsigned char, std::allocator<unsigned char> > packet::Encode(int)", "packet::Encode"},
      {"App::App()", "App::App"},
      {"App::Init()::<lambda(bool)>", "App::Init"},
      {"uint64_t timer::TimerQueue::Add(std::chrono::duration<_Rep, _Period>, Handler) [with _Rep = long int]",
       "timer::TimerQueue::Add"},
  };
  for (const auto& entry : cases) EXPECT_EQ(logging::ShortFunctionName(entry.signature), entry.name);
}

TEST(LogLine, SeverityNames) {
  using logging::Severity;
  EXPECT_EQ(logging::SeverityName(Severity::fatal), "FATAL");
  EXPECT_EQ(logging::SeverityName(Severity::error), "ERROR");
  EXPECT_EQ(logging::SeverityName(Severity::warning), "WARN");
  EXPECT_EQ(logging::SeverityName(Severity::info), "INFO");
  EXPECT_EQ(logging::SeverityName(Severity::debug), "DEBUG");
  EXPECT_EQ(logging::SeverityName(Severity::verbose), "VERB");
  EXPECT_EQ(logging::SeverityName(Severity::none), "NONE");
  EXPECT_EQ(logging::SeverityName(static_cast<Severity>(9)), "NONE");
}
