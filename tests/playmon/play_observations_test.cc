#include "playmon/play_observations.h"

#include <gtest/gtest.h>

namespace {

// One look at which `files` (path, position) are open.
std::string LookAt(PlayObservations& seen,
                   std::initializer_list<std::pair<const char*, std::uint32_t>> files) {
  seen.BeginLook();
  for (const auto& [path, position] : files) seen.Observe(path, position);
  return seen.Pick();
}

TEST(PlayObservationsTest, AFileAloneQualifiesAtItsThirdLookMovingOrNot) {
  PlayObservations seen;
  EXPECT_EQ(LookAt(seen, {{"/m/a.mp3", 0}}), "");
  EXPECT_EQ(LookAt(seen, {{"/m/a.mp3", 0}}), "");
  // A player that read the whole file at once never moves again.
  EXPECT_EQ(LookAt(seen, {{"/m/a.mp3", 0}}), "/m/a.mp3");
  EXPECT_EQ(seen.records().at("/m/a.mp3").looks, 3);
  EXPECT_FALSE(seen.records().at("/m/a.mp3").excluded);
}

TEST(PlayObservationsTest, AClosedFileIsForgottenAndStartsAgainWhenReopened) {
  PlayObservations seen;
  LookAt(seen, {{"/m/a.mp3", 10}});
  LookAt(seen, {{"/m/a.mp3", 20}});
  EXPECT_EQ(LookAt(seen, {}), "");
  EXPECT_TRUE(seen.records().empty());
  EXPECT_EQ(LookAt(seen, {{"/m/a.mp3", 30}}), "");
  EXPECT_EQ(seen.records().at("/m/a.mp3").looks, 1);
  // Where a file is first seen says nothing of its movement.
  EXPECT_EQ(seen.records().at("/m/a.mp3").advances, 0);
}

TEST(PlayObservationsTest, TwoHandlesOnOneFileLeaveTheLastOnesRecord) {
  PlayObservations seen;
  seen.BeginLook();
  seen.Observe("/m/a.mp3", 500);
  seen.Observe("/m/a.mp3", 100);
  seen.Pick();
  EXPECT_EQ(seen.records().at("/m/a.mp3").looks, 1);
  EXPECT_EQ(seen.records().at("/m/a.mp3").position, 100u);
}

TEST(PlayObservationsTest, AmongMovingFilesTheMostRecentlyOpenedWins) {
  PlayObservations seen;
  LookAt(seen, {{"/m/old.mp3", 1}});
  LookAt(seen, {{"/m/old.mp3", 2}, {"/m/new.mp3", 1}});
  EXPECT_EQ(LookAt(seen, {{"/m/old.mp3", 3}, {"/m/new.mp3", 2}}), "/m/old.mp3");
  EXPECT_EQ(LookAt(seen, {{"/m/old.mp3", 4}, {"/m/new.mp3", 3}}), "/m/new.mp3");
}

TEST(PlayObservationsTest, AStillFileOpenedLaterNeverTakesOverAMovingOne) {
  PlayObservations seen;
  for (std::uint32_t i = 1; i <= 3; ++i) LookAt(seen, {{"/m/b.mp3", i}});
  // "/m/a.mp3" sorts first and has fewer looks than the moving file.
  for (std::uint32_t i = 4; i <= 9; ++i)
    EXPECT_EQ(LookAt(seen, {{"/m/a.mp3", 0}, {"/m/b.mp3", i}}), "/m/b.mp3") << i;
  EXPECT_TRUE(seen.records().at("/m/a.mp3").excluded);
  // Alone again, it stays excluded while it stays open.
  EXPECT_EQ(LookAt(seen, {{"/m/a.mp3", 0}}), "");
}

}  // namespace
