#include "app/format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FormatTest, ShortAndLongTextsAreFormattedWhole) {
  EXPECT_EQ(StrFormat("%d of %d", 7, 20000), "7 of 20000");
  EXPECT_EQ(StrFormat("%s", ""), "");
  // Longer than any buffer kept for short texts.
  const std::string long_text(1000, 'a');
  EXPECT_EQ(StrFormat("<%s|%d>", long_text.c_str(), 42), "<" + long_text + "|42>");
  const std::string edge(255, 'b');
  EXPECT_EQ(StrFormat("%s", edge.c_str()), edge);
  EXPECT_EQ(StrFormat("%s!", edge.c_str()), edge + "!");
}

TEST(FormatTest, PerFileTextsMatchPrintfAndOtherFormatsFallBackToIt) {
  const TextFormat added("Added file: %s");
  EXPECT_EQ(added("a.mp3"), "Added file: a.mp3");
  EXPECT_EQ(added("b.flac"), "Added file: b.flac");
  EXPECT_EQ(TextFormat("%s")(std::string_view("a\0b", 3)), "a");
  EXPECT_EQ(TextFormat("100%% %s")("x"), StrFormat("100%% %s", "x"));
  EXPECT_EQ(TextFormat("%-4s|")("x"), "x   |");
  IntsFormat progress("%d of %d");
  EXPECT_EQ(progress(7, 250000), "7 of 250000");
  EXPECT_EQ(progress(250000, 250000), "250000 of 250000");
  EXPECT_EQ(progress(3, 4), "3 of 4");
  EXPECT_EQ(IntsFormat("%d/%d")(-2147483647 - 1, 0), "-2147483648/0");
  EXPECT_EQ(IntsFormat("%05d of %d")(7, 9), "00007 of 9");
  const std::string long_text(200, 'c');
  EXPECT_EQ(IntsFormat((long_text + " %d %d").c_str())(1, 2), long_text + " 1 2");
}

}  // namespace
