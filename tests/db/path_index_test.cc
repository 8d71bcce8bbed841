#include "db/path_index.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "db/folder_table.h"

namespace {

using kivdb::FolderTable;
using kivdb::PathIndex;

// Every position the index holds under `hash`.
std::set<std::uint32_t> AllUnder(const PathIndex& index, std::uint32_t hash) {
  std::set<std::uint32_t> found;
  index.Find(hash, [&](std::uint32_t pos) {
    found.insert(pos);
    return false;
  });
  return found;
}

// Few distinct hashes, so that runs of probes collide, cross each other and
// wrap past the table's end; every erase must leave every other entry
// reachable.
TEST(PathIndexTest, CollidingEntriesStayReachableThroughInsertsAndErases) {
  std::mt19937 random(7);
  PathIndex index;
  std::multimap<std::uint32_t, std::uint32_t> expected;  // hash -> pos
  std::uint32_t next_pos = 1;
  for (int step = 0; step < 4000; ++step) {
    if (expected.empty() || random() % 3 != 0) {
      // Hashes near the top of the space land at the table's end.
      const std::uint32_t hash = random() % 2 ? random() % 40 : 0xFFFFFFFFu - random() % 8;
      index.Insert(hash, next_pos);
      expected.emplace(hash, next_pos++);
    } else {
      auto it = std::next(expected.begin(), random() % expected.size());
      ASSERT_TRUE(index.Erase(it->first, it->second));
      expected.erase(it);
    }
    if (step % 97 == 0 || step == 3999) {
      ASSERT_EQ(index.size(), expected.size());
      for (auto it = expected.begin(); it != expected.end(); it = expected.upper_bound(it->first)) {
        std::set<std::uint32_t> want;
        for (auto [from, to] = expected.equal_range(it->first); from != to; ++from)
          want.insert(from->second);
        ASSERT_EQ(AllUnder(index, it->first), want) << "hash " << it->first << " step " << step;
      }
    }
  }
  EXPECT_FALSE(index.Erase(12345, 999999));
}

TEST(PathIndexTest, FindOffersEveryCandidateUntilOneMatches) {
  PathIndex index;
  index.Insert(5, 100);
  index.Insert(5, 200);
  index.Insert(6, 300);
  EXPECT_EQ(index.Find(5, [](std::uint32_t pos) { return pos == 200; }), 200u);
  EXPECT_EQ(index.Find(5, [](std::uint32_t pos) { return pos == 300; }), 0u);
  EXPECT_EQ(index.Find(7, [](std::uint32_t) { return true; }), 0u);
}

TEST(PathIndexTest, BuildKeepsTheLaterOfTwoRecordsOfOnePath) {
  // Positions 1 and 3 hold one path, 2 another path of the same hash.
  std::vector<PathIndex::Entry> entries = {{9, 1}, {9, 2}, {9, 3}, {4, 4}};
  for (std::uint32_t i = 5; i < 300; ++i) entries.push_back({i * 2654435761u, i});
  PathIndex index;
  std::vector<std::uint32_t> dropped;
  index.Build(
      entries,
      [](std::uint32_t earlier, std::uint32_t later) { return earlier == 1 && later == 3; },
      &dropped);
  EXPECT_EQ(dropped, std::vector<std::uint32_t>{1});
  EXPECT_EQ(index.size(), 298u);
  EXPECT_EQ(AllUnder(index, 9), (std::set<std::uint32_t>{2, 3}));
  for (std::uint32_t i = 5; i < 300; ++i)
    ASSERT_EQ(AllUnder(index, i * 2654435761u), std::set<std::uint32_t>{i});
  // Inserts after a build go on as usual.
  index.Insert(4, 400);
  EXPECT_EQ(AllUnder(index, 4), (std::set<std::uint32_t>{4, 400}));
}

TEST(FolderTableTest, AFolderLivesAsLongAsItsRecords) {
  EXPECT_EQ(FolderTable::FolderOf("/m/a/x.mp3"), "/m/a");
  EXPECT_EQ(FolderTable::FolderOf("/x.mp3"), "/");
  EXPECT_EQ(FolderTable::FolderOf("x.mp3"), "");

  FolderTable folders;
  const std::uint32_t a = folders.Acquire("/m/a");
  const std::uint32_t b = folders.Acquire("/m/b");
  EXPECT_EQ(folders.Acquire("/m/a"), a);
  EXPECT_NE(a, b);
  EXPECT_EQ(folders.size(), 2u);

  std::vector<std::string> asked;
  auto chosen = folders.Select([&](std::string_view folder) {
    asked.emplace_back(folder);
    return folder == "/m/a";
  });
  EXPECT_EQ(asked.size(), 2u);
  EXPECT_TRUE(chosen[a]);
  EXPECT_FALSE(chosen[b]);

  folders.Release(a);
  EXPECT_EQ(folders.size(), 2u);  // one record of /m/a is left
  folders.Release(a);
  EXPECT_EQ(folders.size(), 1u);
  asked.clear();
  folders.Select([&](std::string_view folder) {
    asked.emplace_back(folder);
    return true;
  });
  EXPECT_EQ(asked, std::vector<std::string>{"/m/b"});
  // The number is reused, the name is new.
  const std::uint32_t c = folders.Acquire("/m/c");
  EXPECT_EQ(c, a);
  EXPECT_NE(folders.Acquire("/m/a"), c);
  // Most names gone: the rest keep theirs when the names are packed again.
  const std::uint32_t d = folders.Acquire("/m/dd");
  folders.Release(c);
  folders.Release(b);
  asked.clear();
  folders.Select([&](std::string_view folder) {
    asked.emplace_back(folder);
    return true;
  });
  EXPECT_EQ(asked, (std::vector<std::string>{"/m/a", "/m/dd"}));
  EXPECT_EQ(folders.Acquire("/m/dd"), d);
}

}  // namespace
