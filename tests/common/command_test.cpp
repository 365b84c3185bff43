// The tool runner: arguments reach the program as they are, with no shell in between.
#include "common/command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/temp_directory.h"

TEST(CommandTest, ArgumentsReachTheProgramUnread) {
  const std::string directory = testing_support::MakeTempDirectory("command");
  const std::string hostile = "$(touch " + directory + "/pwned); touch " + directory + "/pwned2";
  const auto result = common::RunCommand({"printf", "%s|", hostile, "two words"});
  EXPECT_EQ(result.output, hostile + "|two words|");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_NE(::access((directory + "/pwned").c_str(), F_OK), 0);
  EXPECT_NE(::access((directory + "/pwned2").c_str(), F_OK), 0);
  EXPECT_EQ(common::RunCommand({"/bin/sh", "-c", "exit 3"}).exit_status, 3);
  // Standard error is collected only when asked for.
  const std::vector<std::string> both{"/bin/sh", "-c", "echo out; echo err >&2"};
  EXPECT_EQ(common::RunCommand(both).output, "out\n");
  EXPECT_EQ(common::RunCommand(both, common::Capture::kOutputAndErrors).output, "out\nerr\n");
  ::rmdir(directory.c_str());
}

// A case of its own: under qemu-user a failed exec cannot reach posix_spawn's caller (the
// emulator turns the vfork into a fork), so the cross runs leave this one out.
TEST(CommandTest, AProgramThatCannotStartThrows) {
  EXPECT_THROW(common::RunCommand({"/nonexistent/tool"}), std::runtime_error);
}
