#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ipc/bus_fixture.h"
#include "platform/uci_package.h"
#include "platform/uci_store.h"

using sim::platform::ParseUci;
using sim::platform::UciPackage;
using sim::platform::WriteUci;

namespace {

UciPackage Parse(const std::string& text) {
  std::string error;
  auto package = ParseUci(text, error);
  if (!package) throw std::runtime_error(error);
  return *package;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

TEST(UciPackage, CanonicalFilesSurviveReadAndWriteUnchanged) {
  const std::string canonical =
      "\nconfig sys 'sys'\n\toption url 'https://cloud.example.test/api/v1'\n\toption first_boot '0'\n"
      "\nconfig plc\n\toption id '8'\n\tlist mem_dev 'p.q.X.M.1.2'\n\tlist mem_dev ''\n"
      "\nconfig quotes 'q'\n\toption q1 'it'\\''s'\n\toption q2 'say \"hi\"'\n\toption q3 'back\\slash'\n"
      "\toption q5 'nl\nhere'\n\toption q6 '  spaced  '\n\toption q7 'hash # and ; semi'\n\n";
  const UciPackage package = Parse(canonical);
  ASSERT_EQ(package.sections.size(), 3u);
  EXPECT_TRUE(package.sections[1].anonymous);
  EXPECT_EQ(package.sections[1].name, "cfg029da4");
  EXPECT_EQ(package.sections[2].Find("q1")->values.front(), "it's");
  EXPECT_EQ(package.sections[2].Find("q5")->values.front(), "nl\nhere");
  EXPECT_EQ(package.sections[1].Find("mem_dev")->values, (std::vector<std::string>{"p.q.X.M.1.2", ""}));
  EXPECT_EQ(WriteUci(package), canonical);
  EXPECT_EQ(WriteUci(UciPackage{}), "\n");
}

TEST(UciPackage, ReadsHandWrittenForms) {
  const UciPackage package = Parse(
      "package ferrowick\n"
      "# a comment\n"
      "config sys sys  # trailing comment\n"
      "  option url \"https://h/\\\"x\\\"\"\n"
      "option plain unquoted\\ word\n"
      "\toption joined 'a'\"b\"c\n"
      "\toption url2 'first'\n"
      "\toption url2 'replaced'\n"
      "config sys sys\n"
      "\tlist more one\n"
      "\tlist more two\n");
  ASSERT_EQ(package.sections.size(), 1u) << "a second config of a name continues that section";
  const auto& section = package.sections[0];
  EXPECT_FALSE(section.anonymous);
  EXPECT_EQ(section.Find("url")->values.front(), "https://h/\"x\"");
  EXPECT_EQ(section.Find("plain")->values.front(), "unquoted word");
  EXPECT_EQ(section.Find("joined")->values.front(), "abc");
  EXPECT_EQ(section.Find("url2")->values.front(), "replaced");
  EXPECT_EQ(section.Find("more")->values, (std::vector<std::string>{"one", "two"}));
}

TEST(UciPackage, RejectsMalformedFiles) {
  for (const std::string bad : {"option x y\n", "config sys 'bad-name'\n", "config sys s\n\toption bad.name v\n",
                                "config sys s\n\toption x 'unterminated\n", "config\n", "bogus word\n",
                                "config sys s\n\toption x\n"}) {
    std::string error;
    EXPECT_FALSE(ParseUci(bad, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(UciPackage, AnonymousNamesCountCreationsAndHashTheType) {
  EXPECT_EQ(sim::platform::AnonymousName(3, "plc"), "cfg039da4");
  EXPECT_EQ(sim::platform::AnonymousName(0x123, "plc"), "cfg1239da4");
}

TEST(UciStore, CommitReplacesTheFileAtomicallyAndOnlyWhenSomethingIsStaged) {
  const std::string directory = ipc_test::MakeTempDirectory("uci");
  const std::string path = directory + "/ferrowick";
  const std::string original = "# hand-written\nconfig sys 'sys'\n\toption ttl 5\n";
  std::ofstream(path) << original;
  ::chmod(path.c_str(), 0600);

  sim::platform::UciStore store(directory);
  std::string error;
  EXPECT_TRUE(store.Commit("ferrowick", error));
  EXPECT_EQ(ReadFile(path), original) << "nothing staged: comments and layout survive";

  store.Stage("ferrowick", {{"set", "sys", "ttl", "7", false}});
  EXPECT_EQ(ReadFile(path), original) << "staged changes stay out of the file";
  EXPECT_EQ(store.Load("ferrowick", error)->sections[0].Find("ttl")->values.front(), "7");
  EXPECT_TRUE(store.Commit("ferrowick", error)) << error;
  EXPECT_EQ(ReadFile(path), "\nconfig sys 'sys'\n\toption ttl '7'\n\n");
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_TRUE(store.Changes("ferrowick").empty());
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++entries;
  EXPECT_EQ(entries, 1u) << "no temporary file is left behind";
  std::filesystem::remove_all(directory);
}
