#include "app/reg_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/folders.h"
#include "platform/last_error.h"
#include "tests/support/temp_env.h"

namespace {

using platform::GetLastError;

class CRegSettingsTest : public ::testing::Test {
 protected:
  CRegSettingsTest() {
    settings_.SetCompanyName("KIV");
    settings_.SetApplicationName("Windows Client");
  }
  std::string File() const { return platform::ConfigDir() + "/registry.reg"; }
  // The file's inode: every rewrite replaces the file by rename.
  ino_t Inode() const {
    struct stat st {};
    return ::stat(File().c_str(), &st) == 0 ? st.st_ino : 0;
  }

  testing_support::TempEnv env_;
  CRegSettings settings_;
};

TEST(RegSettingsNamesTest, LevelNamesAreTrimmedAndLoseSlashes) {
  CRegSettings s;
  s.SetCompanyName("  K/I\\V \t");
  s.SetApplicationName("Windows Client\r\n");
  EXPECT_EQ(s.CompanyName(), "KIV");
  EXPECT_EQ(s.KeyPath("Settings"), "Software\\KIV\\Windows Client\\Settings");
  s.SetCompanyName(" / ");  // nothing left: the level is left out
  EXPECT_EQ(s.KeyPath(" /Log/ "), "Software\\Windows Client\\Log");
  EXPECT_EQ(s.KeyPath(""), "Software\\Windows Client");
  s.SetApplicationName("   ");
  EXPECT_EQ(s.KeyPath("Log"), "");
}

TEST(RegSettingsNamesTest, SubKeysAreNormalised) {
  EXPECT_EQ(NormaliseSubKey(" /Settings/ "), "Settings");
  EXPECT_EQ(NormaliseSubKey("\\\\Settings\\\\\\Sub\\"), "Settings\\Sub");
  EXPECT_EQ(NormaliseSubKey("a//b/c"), "a\\b\\c");
  EXPECT_EQ(NormaliseSubKey(" / "), "");
  EXPECT_EQ(NormaliseSubKey(""), "");
}

TEST(RegSettingsNamesTest, SortsWithoutCaseAndKeepsEqualOrder) {
  std::vector<std::string> items{"b", "A", "c:/Music", "a", "C:/music", "B"};
  SortStringsNoCase(items);
  EXPECT_EQ(items, (std::vector<std::string>{"A", "a", "b", "B", "c:/Music", "C:/music"}));
}

TEST(RegSettingsNamesTest, AppSettingsIsOneObject) { EXPECT_EQ(&AppSettings(), &AppSettings()); }

TEST_F(CRegSettingsTest, WritesReadBackAndCreateTheSubKey) {
  ASSERT_TRUE(settings_.WriteString(kSubKeySettings, "Username", "bob"));
  ASSERT_TRUE(settings_.WriteDword(kSubKeySettings, "LogModule", 0xFFFFFFFF));
  ASSERT_TRUE(settings_.WriteStringUtf8(kSubKeySettings, "UpdateUrl", "http://h/\xc3\xa9"));
  std::string text;
  DWORD number = 0;
  EXPECT_TRUE(settings_.ReadString(kSubKeySettings, "username", text));
  EXPECT_EQ(text, "bob");
  EXPECT_TRUE(settings_.ReadDword(kSubKeySettings, "LogModule", number));
  EXPECT_EQ(number, 0xFFFFFFFFu);
  EXPECT_TRUE(settings_.ReadStringUtf8(kSubKeySettings, "UpdateUrl", text));
  EXPECT_EQ(text, "http://h/\xc3\xa9");
  std::string file = testing_support::ReadFile(File());
  EXPECT_NE(file.find("[HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\Settings]\n"
                      "\"Username\"=\"bob\"\n\"LogModule\"=dword:ffffffff\n"),
            std::string::npos)
      << file;
}

TEST_F(CRegSettingsTest, SlashedSubKeyIsTheSameKey) {
  ASSERT_TRUE(settings_.WriteDword("/Settings/", "LogLevel", 3));
  DWORD level = 5;
  EXPECT_TRUE(settings_.ReadDword(kSubKeySettings, "LogLevel", level));
  EXPECT_EQ(level, 3u);
  EXPECT_TRUE(settings_.ReadDword("\\\\settings", "LogLevel", level));
}

TEST_F(CRegSettingsTest, FailedReadsFollowEachOperationsRule) {
  settings_.WriteDword(kSubKeySettings, "Other", 1);
  std::string text = "preset";
  EXPECT_FALSE(settings_.ReadString(kSubKeySettings, "Password", text));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(text, "");  // the buffer is assigned even after a failure
  text = "preset";
  EXPECT_FALSE(settings_.ReadStringUtf8(kSubKeySettings, "UpdateUrl", text));
  EXPECT_EQ(text, "preset");
  DWORD number = 5;
  EXPECT_FALSE(settings_.ReadDword(kSubKeySettings, "LogLevel", number));
  EXPECT_EQ(number, 5u);
  EXPECT_FALSE(settings_.ReadDword(kSubKeyPlayMonitor, "vlc", number));  // no such key
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(number, 5u);
}

TEST_F(CRegSettingsTest, AValueOfTheWrongTypeIsNotReadAsAnother) {
  settings_.WriteString(kSubKeySettings, "LogLevel", "3");
  settings_.WriteDword(kSubKeySettings, "Username", 0x41);
  DWORD level = 5;
  EXPECT_FALSE(settings_.ReadDword(kSubKeySettings, "LogLevel", level));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  EXPECT_EQ(level, 5u);
  std::string text = "x";
  EXPECT_FALSE(settings_.ReadString(kSubKeySettings, "Username", text));
  EXPECT_EQ(text, "");
}

TEST_F(CRegSettingsTest, ReadBufferHolds1023Utf16Units) {
  std::string text;
  ASSERT_TRUE(settings_.WriteString(kSubKeySettings, "Fits", std::string(1023, 'x')));
  EXPECT_TRUE(settings_.ReadString(kSubKeySettings, "Fits", text));
  EXPECT_EQ(text.size(), 1023u);
  ASSERT_TRUE(settings_.WriteString(kSubKeySettings, "TooLong", std::string(1024, 'x')));
  text = "preset";
  EXPECT_FALSE(settings_.ReadString(kSubKeySettings, "TooLong", text));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(text, "");
  // The limit counts UTF-16 units, not UTF-8 bytes: 1023 two-byte characters
  // fit, 512 characters outside the BMP (two units each) do not.
  std::string accented;
  for (int i = 0; i < 1023; ++i) accented += "\xc3\xa9";
  settings_.WriteString(kSubKeySettings, "Accented", accented);
  EXPECT_TRUE(settings_.ReadString(kSubKeySettings, "Accented", text));
  EXPECT_EQ(text, accented);
  std::string notes;
  for (int i = 0; i < 512; ++i) notes += "\xf0\x9f\x8e\xb5";
  settings_.WriteString(kSubKeySettings, "Notes", notes);
  EXPECT_FALSE(settings_.ReadStringUtf8(kSubKeySettings, "Notes", text));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(text, accented);  // unchanged
}

TEST_F(CRegSettingsTest, ControlCharactersRoundTrip) {
  const std::string message = "GetEntry: failed\r\n\tdetail \"quoted\" C:\\path";
  ASSERT_TRUE(settings_.WriteString(kSubKeyLog, "LastLogMessage", message));
  std::string text;
  EXPECT_TRUE(settings_.ReadString(kSubKeyLog, "LastLogMessage", text));
  EXPECT_EQ(text, message);
  EXPECT_NE(testing_support::ReadFile(File()).find("\"LastLogMessage\"=hex(1):"),
            std::string::npos);
}

TEST_F(CRegSettingsTest, DeleteAndEnumerate) {
  for (const char* name : {"path0", "enable0", "path1", "enable1"})
    settings_.WriteDword(kSubKeySearchPaths, name, 1);
  settings_.WriteDword(kSubKeySearchPaths, "PATH0", 2);  // overwriting keeps the place
  std::vector<std::string> names;
  std::string name;
  DWORD index = 0;
  while (settings_.EnumValueName(kSubKeySearchPaths, index++, name)) names.push_back(name);
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(name, "");
  EXPECT_EQ(names, (std::vector<std::string>{"path0", "enable0", "path1", "enable1"}));
  EXPECT_TRUE(settings_.DeleteValue(kSubKeySearchPaths, "path0"));
  EXPECT_FALSE(settings_.DeleteValue(kSubKeySearchPaths, "path0"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(settings_.DeleteValue("NoSuchKey", "x"));
  EXPECT_FALSE(settings_.EnumValueName("NoSuchKey", 0, name));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(settings_.EnumValueName(kSubKeySearchPaths, 0, name));
  EXPECT_EQ(name, "enable0");
}

TEST_F(CRegSettingsTest, BothNamesEmptyFailsEverything) {
  CRegSettings nameless;
  std::string text = "x";
  DWORD number = 9;
  platform::SetLastErrorEx(0);
  EXPECT_FALSE(nameless.ReadString(kSubKeySettings, "Username", text));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  EXPECT_EQ(text, "");
  EXPECT_FALSE(nameless.ReadDword(kSubKeySettings, "LogLevel", number));
  EXPECT_EQ(number, 9u);
  platform::SetLastErrorEx(0);
  EXPECT_FALSE(nameless.WriteDword(kSubKeySettings, "LogLevel", 1));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  platform::SetLastErrorEx(0);
  EXPECT_FALSE(nameless.DeleteValue(kSubKeySettings, "LogLevel"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  EXPECT_FALSE(nameless.EnumValueName(kSubKeySettings, 0, text));
  EXPECT_FALSE(testing_support::ReadFile(File()).size() > 0);
}

TEST_F(CRegSettingsTest, UnwritableConfigFolderFailsWithAnError) {
  testing_support::WriteFile(env_.ConfigHome() + "/kiv", "not a folder");
  EXPECT_FALSE(settings_.WriteDword(kSubKeySettings, "LogLevel", 1));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  DWORD level = 5;
  EXPECT_FALSE(settings_.ReadDword(kSubKeySettings, "LogLevel", level));
  EXPECT_EQ(level, 5u);
}

TEST_F(CRegSettingsTest, AnEditIsOneRewriteAndNoneWhenNothingChanges) {
  ASSERT_TRUE(settings_.WriteDword(kSubKeySettings, "Notified", 1));
  const ino_t first = Inode();
  ASSERT_TRUE(settings_.Edit([](CRegSettingsEdit& edit) {
    for (int i = 0; i < 20; ++i) edit.WriteDword(kSubKeyPlayMonitor, "p" + std::to_string(i), 1);
    edit.WriteString(kSubKeySettings, "Username", "ann");
    // The edit's reads see its own writes.
    std::string name;
    return edit.ReadString(kSubKeySettings, "username", name) && name == "ann" &&
           edit.DeleteValue(kSubKeySettings, "Notified");
  }));
  const ino_t second = Inode();
  EXPECT_NE(second, first);
  DWORD value = 7;
  EXPECT_FALSE(settings_.ReadDword(kSubKeySettings, "Notified", value));
  EXPECT_TRUE(settings_.ReadDword(kSubKeyPlayMonitor, "p19", value));

  // The same values again, a single unchanged write, a value deleted and
  // written back in its place: the file is not touched.
  ASSERT_TRUE(settings_.Edit([](CRegSettingsEdit& edit) {
    edit.DeleteValue(kSubKeyPlayMonitor, "p19");
    for (int i = 0; i < 20; ++i) edit.WriteDword(kSubKeyPlayMonitor, "p" + std::to_string(i), 1);
    return TRUE;
  }));
  ASSERT_TRUE(settings_.WriteString(kSubKeySettings, "Username", "ann"));
  EXPECT_EQ(Inode(), second);
}

TEST_F(CRegSettingsTest, ADeclinedOrFailedEditWritesNothing) {
  ASSERT_TRUE(settings_.WriteString(kSubKeySettings, "Username", "ann"));
  EXPECT_FALSE(settings_.Edit([](CRegSettingsEdit& edit) {
    edit.WriteString(kSubKeySettings, "Username", "bob");
    platform::SetLastErrorEx(ERROR_INVALID_DATA);
    return FALSE;
  }));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  std::string name;
  settings_.ReadString(kSubKeySettings, "Username", name);
  EXPECT_EQ(name, "ann");

  // The rewrite itself fails (its temp file's name is taken by a folder):
  // the file keeps the old values, and the call says so.
  ASSERT_EQ(::mkdir((File() + ".tmp").c_str(), 0700), 0);
  EXPECT_FALSE(settings_.Edit(
      [](CRegSettingsEdit& edit) { return edit.WriteString(kSubKeySettings, "Username", "bob"); }));
  EXPECT_NE(GetLastError(), ERROR_SUCCESS);
  settings_.ReadString(kSubKeySettings, "Username", name);
  EXPECT_EQ(name, "ann");
}

}  // namespace
