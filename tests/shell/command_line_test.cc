#include <gtest/gtest.h>

#include "shell/command_line.h"
#include "shell/remote_protocol.h"

namespace {

TEST(CommandLine, VerbsTakeTheirArgumentAndStandAlone) {
  CommandLineOptions login = ParseCommandLine({"--login", "me@example.org"});
  EXPECT_EQ(login.verb, CliVerb::kLogin);
  EXPECT_EQ(login.verb_argument, "me@example.org");
  EXPECT_TRUE(login.error.empty());
  EXPECT_EQ(ParseCommandLine({"--add-folder=/music"}).verb_argument, "/music");
  // An option is never a value.
  EXPECT_EQ(ParseCommandLine({"--login", "--status"}).error, "--login needs a value");
  EXPECT_FALSE(ParseCommandLine({"--remove-folder", "--show"}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--add-folder", "/show"}).error.empty());
  EXPECT_EQ(ParseCommandLine({"--add-folder=-odd"}).verb_argument, "-odd");

  EXPECT_FALSE(ParseCommandLine({"--add-folder"}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--add-folder="}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--status", "--folders"}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--rescan", "--headless"}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--status=x"}).error.empty());
  EXPECT_EQ(ParseCommandLine({"--bogus"}).error, "unknown option --bogus");
  EXPECT_TRUE(ParseCommandLine({"--autostart"}).autostart);
}

TEST(RemoteProtocol, FieldsSurviveTabsLineEndsAndPercentSigns) {
  const std::vector<std::string> fields = {"add-folder", "/m\tu\ns%ic\r 100%", "", "é"};
  const std::string line = EncodeFields(fields);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(DecodeFields(line), fields);
  // A stray '%' that is no escape stays as it is.
  EXPECT_EQ(DecodeFields("a%zz\tb%4"), (std::vector<std::string>{"a%zz", "b%4"}));
}

}  // namespace
