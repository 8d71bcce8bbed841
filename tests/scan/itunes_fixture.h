// A fixture for the iTunes import tests: the collection fixture (temporary
// settings, log and database, a music folder, a recording main window)
// plus library files made from the templates in tests/data/itunes, whose
// placeholders name the test's own folders:
//   @MUSIC@       the music folder as a location URL (file://localhost/...)
//   @MUSIC_PATH@  the music folder's path
//   @OUTSIDE@     a folder outside every chosen folder, as a URL
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "scan/agent_itunes.h"
#include "tests/scan/collection_fixture.h"
#include "tools/itunes_library_writer.h"

namespace media_cache {

class ItunesFixture : public CollectionFixture {
 protected:
  void SetUp() override {
    CollectionFixture::SetUp();
    AgentITunes::ResetProcessState();
    outside_ = env_.Path("outside");
    std::filesystem::create_directories(outside_);
  }

  static std::string DataPath(const std::string& name) {
    return (std::filesystem::path(ITUNES_TEST_DATA_DIR) / name).string();
  }

  // The template `name` with its placeholders filled, written to `path`
  // (default: the library file in the temporary folder).
  std::string WriteLibrary(const std::string& name, std::string path = "") {
    if (path.empty()) path = env_.Path("library/iTunes Music Library.xml");
    std::string text = testing_support::ReadFile(DataPath(name));
    EXPECT_FALSE(text.empty()) << DataPath(name);
    Replace(&text, "@MUSIC_PATH@", music_);
    Replace(&text, "@MUSIC@", test_media::ItunesFileUrl(music_));
    Replace(&text, "@OUTSIDE@", test_media::ItunesFileUrl(outside_));
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    testing_support::WriteFile(path, text);
    return path;
  }

  // Makes the library the one the agent reads.
  void UseLibrary(const std::string& path) {
    ASSERT_TRUE(AppSettings().WriteString(kSubKeySettings, "ITunesHistoryFile", path));
  }

  // The music folder chosen, with "old" below it chosen but disabled.
  void ChooseMusic() { Choose({{SearchPathKey(music_), 1}, {SearchPathKey(music_ + "/old"), 0}}); }

  // Runs a fresh agent job on this thread.
  int RunAgent(std::function<bool()> itunes_running = {}) {
    AgentITunesOptions options;
    options.itunes_running = std::move(itunes_running);
    AgentITunes agent(Context(AGENT_ITUNES), options);
    return agent.Run();
  }
  int Parse(const std::string& path, ItunesTrackLookup* lookup = nullptr,
            BOOL playlist_only = FALSE) {
    AgentITunes agent(Context(AGENT_ITUNES));
    return agent.ParseItunesHistoryFile(path, playlist_only, lookup);
  }

  bool Has(const std::string& path) {
    KivDB db;
    return db.LookupEntry(path) != 0;
  }
  DBEntry Record(const std::string& path) {
    KivDB db;
    DBEntry entry{};
    EXPECT_TRUE(db.GetEntry(path, &entry)) << path;
    return entry;
  }
  void Store(DBEntry& entry) {
    KivDB db;
    ASSERT_TRUE(db.UpdateEntry(&entry, FALSE));
  }
  // Adds the record of a file as the indexer does.
  void Index(const std::string& path) {
    KivDB db;
    ASSERT_TRUE(db.AddEntry(path));
  }
  int CountLines(const std::string& needle) const {
    const std::string log = LogText();
    int n = 0;
    for (std::size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1))
      ++n;
    return n;
  }
  // The texts posted with message `id`.
  static std::vector<std::string> Texts(const std::vector<Message>& posted, UINT id) {
    std::vector<std::string> out;
    for (const Message& message : posted)
      if (message.id == id) out.push_back(message.payload);
    return out;
  }

  std::string outside_;

 private:
  static void Replace(std::string* text, const std::string& from, const std::string& to) {
    for (std::size_t at = text->find(from); at != std::string::npos;
         at = text->find(from, at + to.size()))
      text->replace(at, from.size(), to);
  }
};

}  // namespace media_cache
