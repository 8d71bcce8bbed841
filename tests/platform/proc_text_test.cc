#include "platform/proc_text.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

using namespace std::string_literals;

TEST(ProcTextTest, ImageNameIsTheBaseNameOfTheFirstArgument) {
  EXPECT_EQ(ImageNameFromCmdline("/usr/bin/mpv\0--no-video\0/music/a.mp3\0"s), "mpv");
  EXPECT_EQ(ImageNameFromCmdline("mpv\0"s), "mpv");
  // A Windows program under Wine keeps its Windows path.
  EXPECT_EQ(ImageNameFromCmdline("C:\\Program Files\\foobar2000\\foobar2000.exe\0"s),
            "foobar2000.exe");
  EXPECT_EQ(ImageNameFromCmdline("Z:\\apps/Media Center 12.exe\0/x\0"s), "Media Center 12.exe");
  // Without a terminator (a process that rewrote its arguments).
  EXPECT_EQ(ImageNameFromCmdline("/opt/player/qmmp"), "qmmp");
  // Kernel threads and zombies have no arguments; a trailing separator
  // leaves no name.
  EXPECT_EQ(ImageNameFromCmdline(""), "");
  EXPECT_EQ(ImageNameFromCmdline("\0\0"s), "");
  EXPECT_EQ(ImageNameFromCmdline("/usr/bin/\0"s), "");
  EXPECT_EQ(ImageNameFromComm("kworker/0:1\n"), "kworker/0:1");
  EXPECT_EQ(ImageNameFromComm("audacious"), "audacious");
}

TEST(ProcTextTest, DescriptorInfoGivesPositionAndOctalFlags) {
  DescriptorInfo info;
  ASSERT_TRUE(
      ParseDescriptorInfo("pos:\t327680\nflags:\t0100000\nmnt_id:\t31\nino:\t1234\n", &info));
  EXPECT_EQ(info.position, 327680u);
  EXPECT_EQ(info.flags, 0100000u);
  EXPECT_EQ(AccessFromOpenFlags(info.flags), 0x1u);
  ASSERT_TRUE(ParseDescriptorInfo("pos:\t0\nflags:\t02100001\n", &info));
  EXPECT_EQ(AccessFromOpenFlags(info.flags), 0x2u);
  ASSERT_TRUE(ParseDescriptorInfo("pos: 5000000000\nflags: 02\n", &info));
  EXPECT_EQ(info.position, 5000000000u);
  EXPECT_EQ(AccessFromOpenFlags(info.flags), 0x3u);
  EXPECT_EQ(AccessFromOpenFlags(03), 0u);
}

TEST(ProcTextTest, DamagedDescriptorInfoIsRefusedWhole) {
  DescriptorInfo info;
  info.position = 7;
  for (const char* text :
       {"", "pos:\t12\n", "flags:\t0100000\n", "pos:\t12x\nflags:\t0100000\n",
        "pos:\t12\nflags:\t0108\n", "pos:\t\nflags:\t01\n", "pos:\t-1\nflags:\t01\n",
        "xpos:\t12\nflags:\t01\n", "pos:\t99999999999999999999999\nflags:\t01\n"})
    EXPECT_FALSE(ParseDescriptorInfo(text, &info)) << text;
  EXPECT_EQ(info.position, 7u);
}

TEST(ProcTextTest, ProcessIdsAreDecimalNamesOnly) {
  std::uint32_t pid = 0;
  EXPECT_TRUE(ParseProcessId("4242", &pid));
  EXPECT_EQ(pid, 4242u);
  for (const char* name : {"", "self", "0", "012", "12a", "-3", "99999999999", "thread-self"})
    EXPECT_FALSE(ParseProcessId(name, &pid)) << name;
}

TEST(ProcTextTest, StartTimeIsTheTwentySecondFieldAfterTheName) {
  // A name may hold blanks and parentheses; the fields count from the last ')'.
  const std::string stat =
      "4242 (my (odd) player) S 1 4242 4242 0 -1 4194304 100 0 0 0 11 2 0 0 20 0 9 0 "
      "106865 890814464 16509\n";
  std::uint64_t start = 0;
  ASSERT_TRUE(ParseProcessStartTime(stat, &start));
  EXPECT_EQ(start, 106865u);
  for (const char* text : {"", "4242 (mpv) S 1 2 3",
                           "4242 mpv S 1 2 3 4 5 6 7 8 9 10 11 12 13 "
                           "14 15 16 17 18 19 20 21 22"})
    EXPECT_FALSE(ParseProcessStartTime(text, &start)) << text;
}

}  // namespace
}  // namespace platform
