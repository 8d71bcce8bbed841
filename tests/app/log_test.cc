#include "app/log.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "app/reg_settings.h"
#include "platform/folders.h"
#include "tests/support/temp_env.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempEnv;
using testing_support::WriteFile;

// 2023-11-14 22:13:20 UTC.
constexpr std::time_t kWhen = 1700000000;

class LogTest : public ::testing::Test {
 protected:
  LogTest() : clock_(kWhen), log_(clock_, settings_) {
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    settings_.SetCompanyName("KIV");
    settings_.SetApplicationName("Windows Client");
    path_ = env_.Path("kivclient.log");
    EXPECT_TRUE(log_.SetLogFile(path_));
  }
  ~LogTest() override {
    ::unsetenv("TZ");
    ::tzset();
  }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path_));
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }
  std::string Registry(const char* name) const {
    std::string value;
    settings_.ReadString(kSubKeyLog, name, value);
    return value;
  }

  TempEnv env_;
  platform::FakeClock clock_;
  CRegSettings settings_;
  CLog log_;
  std::string path_;
};

TEST_F(LogTest, WritesOneFormattedLinePerCall) {
  log_.Log("GetEntry: Seek failed to move to offset 12", LEVEL_INFO, MODULE_DATABASE);
  clock_.Advance(61000);
  log_.LogDetail("AgentIndexer: added new file to db", "/music/a.mp3", LEVEL_ERROR, MODULE_INDEXER);
  log_.LogDetail("no detail", nullptr, LEVEL_WARNING, MODULE_APPLICATION);
  EXPECT_EQ(ReadFile(path_),
            "2023-11-14 22:13:20 INFO     \tDATABASE      \tGetEntry: Seek failed to move to "
            "offset 12\r\n"
            "2023-11-14 22:14:21 ERROR    \tINDEXER       \tAgentIndexer: added new file to db: "
            "/music/a.mp3\r\n"
            "2023-11-14 22:14:21 WARNING  \tAPPLICATION   \tno detail\r\n");
  EXPECT_EQ(Registry("LastLogMessage"), "");
}

TEST_F(LogTest, NamesArePaddedAndChosenByLowByteAndExactModule) {
  EXPECT_STREQ(LevelName(0x105), "VERBOSE  ");
  EXPECT_STREQ(LevelName(LEVEL_NONE), "NONE     ");
  EXPECT_STREQ(LevelName(6), "UNKNOWN  ");
  EXPECT_STREQ(ModuleName(MODULE_TRANSMIT), "TRANSMIT      ");
  EXPECT_STREQ(ModuleName(MODULE_CLIENT_SERVER), "CLIENT/SERVER ");
  EXPECT_STREQ(ModuleName(MODULE_EVERYTHING), "EVERYTHING    ");
  EXPECT_STREQ(ModuleName(3), "UNKNOWN       ");
}

TEST_F(LogTest, LevelFilterComparesLowBytes) {
  log_.SetLogLevel(LEVEL_NONE);
  log_.Log("zero", LEVEL_NONE, MODULE_LOG);
  log_.Log("one", LEVEL_CRITICAL, MODULE_LOG);
  log_.Log("0x100 is level zero", 0x100, MODULE_LOG);
  log_.SetLogLevel(0x205);  // low byte 5
  log_.Log("five", LEVEL_VERBOSE, MODULE_LOG);
  log_.Log("six", 6, MODULE_LOG);
  log_.SetLogLevel(6);
  log_.Log("six again", 6, MODULE_LOG);
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find("\tzero\r"), std::string::npos);
  EXPECT_NE(lines[1].find("0x100 is level zero"), std::string::npos);
  EXPECT_NE(lines[2].find("\tfive\r"), std::string::npos);
  EXPECT_NE(lines[3].find("UNKNOWN  \tLOG"), std::string::npos);
}

TEST_F(LogTest, ModuleMaskPassesLinesSharingABit) {
  log_.SetLogModuleMask(MODULE_DATABASE);
  log_.Log("transmit under mask 1", LEVEL_INFO, MODULE_TRANSMIT);
  log_.Log("database under mask 1", LEVEL_INFO, MODULE_DATABASE);
  log_.SetLogModuleMask(MODULE_INDEXER);
  log_.Log("indexer under mask 2", LEVEL_INFO, MODULE_INDEXER);
  log_.Log("transmit under mask 2", LEVEL_INFO, MODULE_TRANSMIT);
  log_.Log("client/server under mask 2", LEVEL_INFO, MODULE_CLIENT_SERVER);
  log_.SetLogModuleMask(MODULE_REGISTRY);
  log_.Log("registry under mask 512", LEVEL_INFO, MODULE_REGISTRY);
  log_.Log("application under mask 512", LEVEL_INFO, MODULE_APPLICATION);
  log_.Log("gracenote under mask 512", LEVEL_INFO, MODULE_GRACENOTE);
  std::string text = ReadFile(path_);
  EXPECT_EQ(Lines().size(), 5u);
  EXPECT_EQ(text.find("transmit under mask 1"), std::string::npos);
  EXPECT_NE(text.find("database under mask 1"), std::string::npos);
  EXPECT_NE(text.find("transmit under mask 2"), std::string::npos);
  EXPECT_EQ(text.find("client/server under mask 2"), std::string::npos);
  EXPECT_NE(text.find("application under mask 512"), std::string::npos);
  EXPECT_EQ(text.find("gracenote"), std::string::npos);
}

TEST_F(LogTest, LineBreaksAreRemovedFromTheMessage) {
  log_.Log("first\r\nsecond\nthird\r", LEVEL_INFO, MODULE_LOG);
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\tfirstsecondthird\r"), std::string::npos);
}

TEST_F(LogTest, ControlCharactersOfFileNamesAndMessagesAreWrittenAsEscapes) {
  // A file name that would clear a terminal showing the log, fake a line
  // and cut the line at a NUL.
  const std::string name = std::string(
      "/music/\x1b[2J\x1b]0;x\x07"
      "a\nINFO fake\tb\0c\xc2\x9b.mp3",
      38);
  log_.LogDetail("AgentIndexer: added new file to db", name, LEVEL_INFO, MODULE_INDEXER);
  log_.Log("Received \x1b[31mred\x7f\tok", LEVEL_INFO, MODULE_LOG);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(
      lines[0].find("db: /music/\\x1B[2J\\x1B]0;x\\x07a\\x0AINFO fake\\x09b\\x00c\\xC2\\x9B.mp3\r"),
      std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find("\tReceived \\x1B[31mred\\x7F\tok\r"), std::string::npos) << lines[1];
}

TEST_F(LogTest, RotatesOnlyAboveEightMebibytes) {
  WriteFile(path_, std::string(kLogRotateBytes, 'x'));
  log_.Log("kept in the full file", LEVEL_INFO, MODULE_LOG);
  EXPECT_FALSE(std::filesystem::exists(path_ + ".old"));
  EXPECT_GT(std::filesystem::file_size(path_), static_cast<std::uintmax_t>(kLogRotateBytes));

  WriteFile(path_ + ".old", "an older rotation");
  WriteFile(path_, std::string(kLogRotateBytes + 1, 'y'));
  log_.Log("first line of the new file", LEVEL_INFO, MODULE_LOG);
  EXPECT_EQ(ReadFile(path_ + ".old"), std::string(kLogRotateBytes + 1, 'y'));
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("first line of the new file"), std::string::npos);
}

TEST_F(LogTest, AFailedRotationKeepsTheFileAndTriesAgainLater) {
  WriteFile(path_, std::string(kLogRotateBytes + 1, 'x'));
  // A folder in the way of the copy: the copy fails.
  std::filesystem::create_directory(path_ + ".old");
  log_.Log("kept", LEVEL_INFO, MODULE_LOG);
  EXPECT_EQ(ReadFile(path_).substr(0, kLogRotateBytes + 1), std::string(kLogRotateBytes + 1, 'x'));
  EXPECT_NE(ReadFile(path_).find("\tkept\r\n"), std::string::npos);

  std::filesystem::remove(path_ + ".old");
  clock_.Advance(59000);
  log_.Log("still in the full file", LEVEL_INFO, MODULE_LOG);
  EXPECT_FALSE(std::filesystem::exists(path_ + ".old"));
  clock_.Advance(1000);
  log_.Log("first line of the new file", LEVEL_INFO, MODULE_LOG);
  EXPECT_NE(ReadFile(path_ + ".old").find("\tstill in the full file\r\n"), std::string::npos);
  ASSERT_EQ(Lines().size(), 1u);
}

TEST_F(LogTest, OwnLinesCarryingTheFileOverTheLimitRotateBeforeTheNextLine) {
  const std::string path = env_.Path("other.log");
  WriteFile(path, std::string(kLogRotateBytes - 10, 'z'));
  CLog log(clock_, settings_);
  ASSERT_TRUE(log.SetLogFile(path));
  log.Log("crosses the limit", LEVEL_INFO, MODULE_LOG);
  EXPECT_FALSE(std::filesystem::exists(path + ".old"));
  log.Log("starts the new file", LEVEL_INFO, MODULE_LOG);
  const std::string old = ReadFile(path + ".old");
  EXPECT_EQ(old.substr(old.size() - 19), "crosses the limit\r\n");
  EXPECT_EQ(ReadFile(path).find("starts the new file"), 45u);
}

TEST_F(LogTest, LinesFollowTheNameWhenTheFileIsRemovedRenamedOrReplaced) {
  log_.Log("one", LEVEL_INFO, MODULE_LOG);
  // Renamed aside: lines keep going to the renamed file until the log next
  // looks at its name, a second later, and then to a new file at the name.
  std::filesystem::rename(path_, path_ + ".1");
  log_.Log("two", LEVEL_INFO, MODULE_LOG);
  clock_.Advance(999);
  log_.Log("three", LEVEL_INFO, MODULE_LOG);
  clock_.Advance(1);
  log_.Log("four", LEVEL_INFO, MODULE_LOG);
  EXPECT_EQ(Lines().size(), 1u);
  EXPECT_NE(ReadFile(path_).find("\tfour\r\n"), std::string::npos);
  EXPECT_EQ(std::filesystem::status(path_).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const std::string renamed = ReadFile(path_ + ".1");
  EXPECT_NE(renamed.find("\tthree\r\n"), std::string::npos);
  EXPECT_EQ(renamed.find("four"), std::string::npos);

  // Removed, then replaced by another file: each time the next line after
  // the check lands in the file at the name.
  std::filesystem::remove(path_);
  clock_.Advance(1000);
  log_.Log("five", LEVEL_INFO, MODULE_LOG);
  EXPECT_NE(ReadFile(path_).find("\tfive\r\n"), std::string::npos);
  WriteFile(path_ + ".new", "replacement\r\n");
  std::filesystem::rename(path_ + ".new", path_);
  clock_.Advance(1000);
  log_.Log("six", LEVEL_INFO, MODULE_LOG);
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "replacement\r");
  EXPECT_NE(lines[1].find("\tsix\r"), std::string::npos);

  // Another writer on the same file (a second instance): both keep whole
  // lines, appended after each other.
  CLog other(clock_, settings_);
  ASSERT_TRUE(other.SetLogFile(path_));
  other.Log("from the other writer", LEVEL_INFO, MODULE_LOG);
  log_.Log("seven", LEVEL_INFO, MODULE_LOG);
  lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[2].find("\tfrom the other writer\r"), std::string::npos);
  EXPECT_NE(lines[3].find("\tseven\r"), std::string::npos);
}

TEST_F(LogTest, PathInMissingFolderIsRefusedAndTheFailureRecordedOnce) {
  CLog log(clock_, settings_);
  EXPECT_FALSE(log.SetLogFile(env_.Path("missing/folder/kivclient.log")));
  EXPECT_EQ(log.LogFile(), "");
  log.Log("first", LEVEL_INFO, MODULE_APPLICATION);
  EXPECT_EQ(Registry("LogFileFailure"),
            "The log filename is not specified, I have nowhere to log!");
  EXPECT_EQ(Registry("LastLogMessage"), "2023-11-14 22:13:20 INFO     \tAPPLICATION   \tfirst\r\n");
  // The same failure again does not rewrite the settings file.
  const std::string settings_file = platform::ConfigDir() + "/registry.reg";
  const std::string before = ReadFile(settings_file);
  clock_.Advance(1000);
  log.Log("second", LEVEL_ERROR, MODULE_LOG);
  EXPECT_EQ(ReadFile(settings_file), before);
  EXPECT_FALSE(std::filesystem::exists(env_.Path("missing")));
}

TEST_F(LogTest, AFailureIsRecordedAgainAfterLinesWereWritten) {
  std::string dir = env_.Path("logs");
  std::filesystem::create_directory(dir);
  CLog log(clock_, settings_);
  ASSERT_TRUE(log.SetLogFile(dir + "/kivclient.log"));
  for (const char* message : {"one", "two"}) {
    std::filesystem::remove_all(dir);
    clock_.Advance(1000);  // the log looks at its name again
    settings_.DeleteValue(kSubKeyLog, "LogFileFailure");
    log.Log(message, LEVEL_INFO, MODULE_LOG);
    EXPECT_EQ(Registry("LogFileFailure"), "Unable to open log file: ERR(2)");
    EXPECT_NE(Registry("LastLogMessage").find(std::string("\t") + message + "\r\n"),
              std::string::npos);
    // The folder comes back: lines are written again.
    std::filesystem::create_directory(dir);
    log.Log("back", LEVEL_INFO, MODULE_LOG);
    EXPECT_NE(ReadFile(dir + "/kivclient.log").find("back"), std::string::npos);
  }
}

TEST_F(LogTest, CharacterDevicesAreTakenFifosAreNot) {
  EXPECT_TRUE(log_.SetLogFile("/dev/null"));
  EXPECT_EQ(log_.LogFile(), "/dev/null");
  log_.Log("into nothing", LEVEL_INFO, MODULE_LOG);
  EXPECT_EQ(Registry("LogFileFailure"), "");
  ASSERT_TRUE(log_.SetLogFile(path_));
  const std::string fifo = env_.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(log_.SetLogFile(fifo));
  EXPECT_EQ(log_.LogFile(), path_);
  EXPECT_TRUE(log_.SetLogFile(""));  // empty: success, nothing changes
  EXPECT_EQ(log_.LogFile(), path_);
}

TEST_F(LogTest, LevelAndMaskAreWrittenBack) {
  log_.SetLogLevel(0x1203);
  log_.SetLogModuleMask(0x600);
  DWORD level = 0, mask = 0;
  EXPECT_TRUE(settings_.ReadDword(kSubKeySettings, "LogLevel", level));
  EXPECT_TRUE(settings_.ReadDword(kSubKeySettings, "LogModule", mask));
  EXPECT_EQ(level, 3u);
  EXPECT_EQ(log_.LogLevel(), 0x1203u);
  EXPECT_EQ(mask, 0x600u);
  EXPECT_TRUE(Lines().empty());
}

TEST_F(LogTest, FailedWriteBackIsLogged) {
  CRegSettings nameless;  // no company or application: every write fails
  CLog log(clock_, nameless);
  ASSERT_TRUE(log.SetLogFile(path_));
  log.SetLogLevel(LEVEL_VERBOSE);
  log.SetLogModuleMask(MODULE_EVERYTHING);
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(
      lines[0].find("ERROR    \tLOG           \tUnable to save new log level to the registry"),
      std::string::npos);
  EXPECT_NE(lines[1].find("Unable to save new log mask to the registry"), std::string::npos);
}

TEST_F(LogTest, LinesFromManyThreadsStayWhole) {
  constexpr int kThreads = 4;
  constexpr int kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([this, t] {
      for (int i = 0; i < kEach; ++i)
        log_.Log(
            "thread " + std::to_string(t) + " line " + std::to_string(i) + std::string(100, '.'),
            LEVEL_INFO, MODULE_LOG);
    });
  for (auto& th : threads) th.join();
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kEach));
  for (const std::string& line : lines) {
    EXPECT_EQ(line.rfind("2023-11-14 22:13:20 INFO     \tLOG           \tthread ", 0), 0u);
    EXPECT_EQ(line.substr(line.size() - 4), "...\r");
  }
}

}  // namespace
