// The update description: its section, versions and the installer's name.
#include "server/update_description.h"

#include <gtest/gtest.h>

namespace {

TEST(UpdateDescriptionTest, SectionAfterTheKeyword) {
  UpdateOffer offer;
  ASSERT_TRUE(ParseUpdateDescription(
      "windows1.0.3.200|http://x/w.exe|win\nlinux1.0.3.106|http://x/v.deb|Fixes.\r\n", &offer));
  EXPECT_EQ(offer.version, "1.0.3.106");
  EXPECT_EQ(offer.url, "http://x/v.deb");
  EXPECT_EQ(offer.description, "Fixes.");
  // A bar right after the keyword separates; it is not an empty version.
  ASSERT_TRUE(ParseUpdateDescription("linux|1.0.4.0|u|d|extra", &offer));
  EXPECT_EQ(offer.version, "1.0.4.0");
  EXPECT_EQ(offer.description, "d");
  ASSERT_TRUE(ParseUpdateDescription("linux 1.0.4.0", &offer));
  EXPECT_EQ(offer.version, "1.0.4.0");
  EXPECT_EQ(offer.url, "");
  EXPECT_FALSE(ParseUpdateDescription("windows1.0.4.0|u|d", &offer));
  EXPECT_FALSE(ParseUpdateDescription("linux|  \n", &offer));
}

TEST(UpdateDescriptionTest, FourNumbersComparedInOrder) {
  const char* running = "1.0.3.105";
  EXPECT_TRUE(IsNewerVersion("1.0.3.106", running));
  EXPECT_TRUE(IsNewerVersion("1.0.4.0", running));
  EXPECT_FALSE(IsNewerVersion("1.0.3.0105x", running));  // other text, same numbers
  EXPECT_FALSE(IsNewerVersion("1.0.3.104", running));
  EXPECT_FALSE(IsNewerVersion("2.0", running));
  EXPECT_FALSE(IsNewerVersion(running, running));
  EXPECT_FALSE(IsNewerVersion("1.0.3.99999999999", running));  // overflows
  EXPECT_TRUE(IsNewerVersion(" 1.0.3.-1", "1.0.2.7"));
  VersionNumbers v;
  EXPECT_FALSE(ParseVersion("1..3.4", &v));
  EXPECT_FALSE(ParseVersion("", &v));
}

TEST(UpdateDescriptionTest, InstallerNameHoldsOnlyTheNumbers) {
  EXPECT_EQ(InstallerFileName("1.0.3.106", "http://x/dl/vornic.deb?sig=1"), "update_1.0.3.106.deb");
  EXPECT_EQ(InstallerFileName("1.0.3.106/../../.bashrc", "http://x/a.sh"), "update_1.0.3.106.sh");
  EXPECT_EQ(InstallerFileName("1.0.3.106", "http://x/a.tar%2F..%2Fx"), "update_1.0.3.106");
  EXPECT_EQ(InstallerFileName("1.0.3.106", "http://x/noext"), "update_1.0.3.106");
  EXPECT_EQ(InstallerFileName("1.0.3.106", "not a url"), "update_1.0.3.106");
  EXPECT_EQ(InstallerFileName("2.0", "http://x/a.deb"), "");
}

}  // namespace
