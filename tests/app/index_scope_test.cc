#include "app/index_scope.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Depth = IndexScope::Depth;

TEST(IndexScopeTest, WholeTreesSwallowWhatLiesBelowAndCoverOnlyTheirOwn) {
  IndexScope scope;
  scope.Add("/m/a/cd1", Depth::kFolderOnly);
  scope.Add("/m/a b", Depth::kFolderOnly);  // sorts between "/m/a" and "/m/a/"
  scope.Add("/m/a/", Depth::kWholeTree);
  scope.Add("/m/a/cd2", Depth::kFolderOnly);  // already covered
  scope.Add("/m", Depth::kFolderOnly);
  ASSERT_EQ(scope.folders().size(), 3u);
  EXPECT_EQ(scope.folders().at("/m/a"), Depth::kWholeTree);

  EXPECT_TRUE(scope.Covers("/m/a/cd1/deep/t.mp3"));
  EXPECT_TRUE(scope.Covers("/m/a b/t.mp3"));
  EXPECT_FALSE(scope.Covers("/m/a b/sub/t.mp3"));
  EXPECT_TRUE(scope.Covers("/m/t.mp3"));
  EXPECT_FALSE(scope.Covers("/m/other/t.mp3"));
  EXPECT_FALSE(scope.Covers("/elsewhere/t.mp3"));
}

// Folders that share only part of the scope's common beginning, or are
// shorter than it, lie outside; the scope's own folders and what a whole
// tree holds lie inside.
TEST(IndexScopeTest, FoldersOutsideTheScopesCommonBeginningAreNotCovered) {
  IndexScope scope;
  scope.Add("/m/a/cd1", Depth::kFolderOnly);
  scope.Add("/m/a/cd2", Depth::kWholeTree);
  EXPECT_TRUE(scope.CoversFilesIn("/m/a/cd1"));
  EXPECT_TRUE(scope.CoversFilesIn("/m/a/cd2/x"));
  EXPECT_FALSE(scope.CoversFilesIn("/m/a/cd"));
  EXPECT_FALSE(scope.CoversFilesIn("/m/a/cd1/x"));
  EXPECT_FALSE(scope.CoversFilesIn("/m/a"));
  EXPECT_FALSE(scope.CoversFilesIn("/m/b/cd1"));
  scope.Add("/m/b", Depth::kFolderOnly);
  EXPECT_TRUE(scope.CoversFilesIn("/m/b"));
  EXPECT_TRUE(scope.CoversFilesIn("/m/a/cd2"));
  EXPECT_FALSE(scope.CoversFilesIn("/m"));
}

TEST(IndexScopeTest, PayloadCarriesTheFoldersAndAnythingElseMeansTheWhole) {
  IndexScope scope;
  scope.Add("/m/new line\nname", Depth::kWholeTree);
  scope.Add("/m/x", Depth::kFolderOnly);
  const IndexScope back = IndexScope::FromPayload(scope.ToPayload());
  EXPECT_EQ(back.folders(), scope.folders());
  EXPECT_FALSE(back.whole());

  EXPECT_TRUE(IndexScope::FromPayload("").whole());
  EXPECT_TRUE(IndexScope::FromPayload("folders\nz/m").whole());
  EXPECT_TRUE(IndexScope::FromPayload("garbage").whole());
  EXPECT_TRUE(IndexScope::FromPayload(kIndexScopeAsMerged).empty());
  EXPECT_EQ(IndexScope::WholeCollection().ToPayload(), "");
}

TEST(IndexScopeTest, MergingWithTheWholeOrPastTheBoundGivesTheWhole) {
  IndexScope scope;
  scope.Add("/m/a", Depth::kFolderOnly);
  IndexScope whole = IndexScope::WholeCollection();
  whole.Merge(scope);
  EXPECT_TRUE(whole.whole());
  scope.Merge(IndexScope::WholeCollection());
  EXPECT_TRUE(scope.whole());

  IndexScope many;
  for (std::size_t i = 0; i <= kMaxIndexScopeFolders; ++i)
    many.Add("/m/" + std::to_string(i), Depth::kFolderOnly);
  EXPECT_TRUE(many.whole());
  IndexScope relative;
  relative.Add("music", Depth::kFolderOnly);
  EXPECT_TRUE(relative.whole());
}

}  // namespace
