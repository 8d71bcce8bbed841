// A play counted while the data folder is full (a real, small tmpfs;
// mounting needs root, the test skips otherwise) is kept and stored once
// space returns.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "db/kiv_db.h"
#include "platform/folders.h"
#include "tests/playmon/play_fixture.h"

namespace playmon_test {
namespace {

namespace fs = std::filesystem;

class FullDiskPlayTest : public PlayFixture {
 protected:
  void SetUp() override {
    volume_ = env_.Path("volume");
    fs::create_directories(volume_);
    mounted_ = ::geteuid() == 0 && ::mount("tmpfs", volume_.c_str(), "tmpfs", 0, "size=512k") == 0;
    if (!mounted_) GTEST_SKIP() << "mounting a tmpfs needs root";
    ::setenv("XDG_DATA_HOME", volume_.c_str(), 1);
    PlayFixture::SetUp();
  }
  void TearDown() override {
    PlayFixture::TearDown();
    if (mounted_) ::umount2(volume_.c_str(), MNT_DETACH);
  }
  // Fills the volume to the last byte.
  void Fill() {
    const int fd = ::open((volume_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  std::string volume_;
  bool mounted_ = false;
};

TEST_F(FullDiskPlayTest, APlayThatCanNotBeStoredIsKeptAndStoredWhenSpaceReturns) {
  const std::string song = PutSong(music_ + "/new.mp3", "Kept Play");
  Choose(music_);
  // Two records end the file at 2848 bytes: the next record runs into a
  // page that the file does not have yet.
  {
    KivDB db;
    for (const char* name : {"/a.mp3", "/b.mp3"}) ASSERT_TRUE(db.AddEntry(PutSong(music_ + name)));
  }
  auto monitor = MakeMonitor();
  auto player = StartPlayer("mpv", {"r:" + song});
  Fill();
  for (int i = 0; i < 5; ++i) Look(*monitor);
  EXPECT_TRUE(Events(Posted()).empty()) << "announced before it was stored";
  KivDB db;
  EXPECT_EQ(db.LookupEntry(song), 0u);
  EXPECT_EQ(Count(LogText(), "Could not store the play"), 1u);
  EXPECT_EQ(Count(LogText(), "File just added not found"), 0u);

  fs::remove(volume_ + "/filler");
  Look(*monitor);
  const std::vector<Message> posted = Posted();
  EXPECT_EQ(Events(posted), std::vector<std::string>{"Now Playing: new.mp3"});
  EXPECT_EQ(Requests(posted, ID_AGENT_SERVER), 1);
  DBEntry entry{};
  ASSERT_TRUE(db.GetEntry(song, &entry));
  EXPECT_EQ(entry.play_count, 1);
  EXPECT_TRUE(entry.flags & DBFLAG_PLAYED);
  // The same play, still going on, is not counted again.
  Look(*monitor);
  EXPECT_TRUE(Events(Posted()).empty());
  EXPECT_NE(LogText().find("Stored 1 plays kept while the database could not be written"),
            std::string::npos);
}

}  // namespace
}  // namespace playmon_test
