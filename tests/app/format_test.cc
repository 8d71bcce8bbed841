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

}  // namespace
