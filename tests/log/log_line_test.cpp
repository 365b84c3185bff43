#include <gtest/gtest.h>

#include "log/json_text.h"
#include "log/line_formatter.h"
#include "log/secret.h"

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

// Secrets appear in log lines by length only, at any depth of a JSON value; text that is
// not valid UTF-8 is written with replacement characters instead of throwing.
TEST(LogLine, JsonTextHidesSecretsAndReplacesInvalidUtf8) {
  EXPECT_EQ(logging::Secret("0123456789abcdef01234567"), "*** (24 chars)");
  EXPECT_EQ(logging::Secret(""), "*** (0 chars)");

  const struct {
    const char* name;
    nlohmann::json value;
    std::string text;
  } cases[] = {
      {"top level", {{"s", "Office"}, {"k", "secret"}}, R"j({"k":"*** (6 chars)","s":"Office"})j"},
      {"nested", {{"values", {{"key", "pass"}, {"ssid", "x"}}}}, R"j({"values":{"key":"*** (4 chars)","ssid":"x"}})j"},
      {"in an array", nlohmann::json::array({{{"k", 12345}}}), R"([{"k":"***"}])"},
      {"invalid UTF-8", {{"s", "caf\xC3"}}, "{\"s\":\"caf\xEF\xBF\xBD\"}"},
      {"invalid UTF-8 in a secret", {{"k", "\xFF\xFE"}}, R"j({"k":"*** (2 chars)"})j"},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.name);
    EXPECT_EQ(logging::JsonText(entry.value, {"k", "key"}), entry.text);
  }
  const nlohmann::ordered_json ordered = {{"z", "\xC0"}, {"a", 1}};
  EXPECT_EQ(logging::JsonText(ordered), "{\"z\":\"\xEF\xBF\xBD\",\"a\":1}");
}
