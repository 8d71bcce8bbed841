// The indexer asked for changed folders only: it adds and marks exactly
// what changed there and leaves every other record as it was, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "app/index_scope.h"
#include "db/kiv_db.h"
#include "scan/agent_indexer.h"
#include "tests/scan/collection_fixture.h"

namespace {

namespace fs = std::filesystem;
using Depth = IndexScope::Depth;

class IndexerTargetedTest : public media_cache::CollectionFixture {
 protected:
  void Run(const IndexScope& scope) {
    AgentIndexerOptions options;
    options.record_sleep_ms = 0;
    options.file_sleep_ms = 0;
    AgentContext context = Context(AGENT_INDEXER);
    context.request = scope.ToPayload();
    AgentIndexer(context, options).Run();
  }
  std::string Put(const std::string& relative) { return PutSized(music_ + relative, 140000); }
  // Every record's bytes by path.
  std::map<std::string, std::string> Records() {
    std::map<std::string, std::string> records;
    KivDB db;
    DBEntry entry;
    for (std::uint32_t pos = db.GetFirstEntry(&entry, FALSE); pos != 0;
         pos = db.GetNextEntry(&entry, FALSE))
      records[EntryPath(entry)] = std::string(reinterpret_cast<const char*>(&entry), sizeof entry);
    return records;
  }
  static DWORD Flags(const std::string& bytes) {
    DBEntry entry;
    std::memcpy(&entry, bytes.data(), sizeof entry);
    return entry.flags;
  }
};

TEST_F(IndexerTargetedTest, ChangedFoldersAloneAreLookedAtAndTheRestStaysByteIdentical) {
  for (const char* file : {"/Artist/One/1.mp3", "/Artist/One/2.mp3", "/Artist/Two/1.mp3",
                           "/Other/Three/1.mp3", "/Other/Three/2.mp3", "/top.mp3"})
    Put(file);
  Choose({{music_, 1}});
  Run(IndexScope::WholeCollection());
  const std::map<std::string, std::string> before = Records();
  ASSERT_EQ(before.size(), 6u);
  clock_.Advance(3600 * 1000);

  // A new album, a deleted track, a renamed album, and a file the monitor
  // did not report (it must stay unseen).
  Put("/Artist/New/1.mp3");
  Put("/Artist/New/cd2/2.mp3");
  fs::remove(music_ + "/Artist/One/1.mp3");
  fs::rename(music_ + "/Other/Three", music_ + "/Other/Three (2009)");
  Put("/Artist/Two/unreported.mp3");
  IndexScope scope;
  scope.Add(music_ + "/Artist/New", Depth::kWholeTree);
  scope.Add(music_ + "/Artist/One", Depth::kFolderOnly);
  scope.Add(music_ + "/Other/Three", Depth::kWholeTree);
  scope.Add(music_ + "/Other/Three (2009)", Depth::kWholeTree);
  AppSettings().WriteDword(kSubKeySettings, kIndexCompleteValue, 1);
  Run(scope);

  const std::map<std::string, std::string> after = Records();
  std::map<std::string, DWORD> changed;
  for (const auto& [path, bytes] : after) {
    auto old = before.find(path);
    if (old == before.end() || old->second != bytes)
      changed[path.substr(music_.size())] = Flags(bytes) & (DBFLAG_DELETED | DBFLAG_NOTINPATH);
  }
  EXPECT_EQ(changed, (std::map<std::string, DWORD>{{"/Artist/New/1.mp3", 0},
                                                   {"/Artist/New/cd2/2.mp3", 0},
                                                   {"/Artist/One/1.mp3", DBFLAG_DELETED},
                                                   {"/Other/Three (2009)/1.mp3", 0},
                                                   {"/Other/Three (2009)/2.mp3", 0},
                                                   {"/Other/Three/1.mp3", DBFLAG_DELETED},
                                                   {"/Other/Three/2.mp3", DBFLAG_DELETED}}));
  EXPECT_EQ(after.size(), 10u);
  // The mark of the last whole run is left as it was.
  EXPECT_EQ(ReadDword(kIndexCompleteValue), 1u);
}

TEST_F(IndexerTargetedTest, FoldersOutsideTheEnabledCollectionAreNotWalked) {
  Put("/Podcasts/show/1.mp3");
  Put("/.hidden/1.mp3");
  fs::create_directories(env_.Path("outside"));
  PutSized(env_.Path("outside/1.mp3"), 140000);
  Choose({{music_, 1}, {music_ + "/Podcasts", 0}});
  IndexScope scope;
  scope.Add(music_ + "/Podcasts/show", Depth::kWholeTree);
  scope.Add(music_ + "/.hidden", Depth::kWholeTree);
  scope.Add(env_.Path("outside"), Depth::kWholeTree);
  scope.Add(music_ + "/gone", Depth::kWholeTree);
  Run(scope);
  EXPECT_EQ(KivDB::ValidCount(), 0u);
  EXPECT_EQ(LogText().find("unable to start a new file search"), std::string::npos);
}

}  // namespace
