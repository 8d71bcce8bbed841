#include "platform/registry.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "platform/folders.h"
#include "tests/support/temp_env.h"

namespace platform {
namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

constexpr char kKey[] = "Software\\KIV\\Windows Client\\Settings";

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 0777;
}

std::u16string ReadText(const Registry& reg, std::string_view name, DWORD* err = nullptr) {
  RegValue value;
  DWORD e = reg.QueryValue(kKey, name, 1 << 20, &value);
  if (err) *err = e;
  return TextFromData(value.data);
}

DWORD ReadNumber(const Registry& reg, std::string_view key, std::string_view name) {
  RegValue value;
  return reg.QueryValue(key, name, 4, &value) == ERROR_SUCCESS ? DwordFromData(value.data)
                                                               : 0xDEADBEEF;
}

class RegistryTest : public ::testing::Test {
 protected:
  std::string File() const { return ConfigDir() + "/registry.reg"; }

  testing_support::TempEnv env_;
  Registry reg_;
};

TEST_F(RegistryTest, KeysAreOpenedOrCreated) {
  EXPECT_EQ(reg_.OpenKey(kKey), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg_.OpenKey(""), ERROR_SUCCESS);
  RegValue out;
  EXPECT_EQ(reg_.QueryValue(kKey, "x", 100, &out), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg_.SetValue(kKey, MakeDwordValue("x", 1), /*create_key=*/false),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg_.DeleteValue(kKey, "x"), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(std::filesystem::exists(File()));  // reads and failed opens write nothing

  EXPECT_EQ(reg_.SetValue(kKey, MakeDwordValue("x", 1)), ERROR_SUCCESS);
  EXPECT_EQ(reg_.OpenKey(kKey), ERROR_SUCCESS);
  EXPECT_EQ(reg_.OpenKey("software\\kiv"), ERROR_SUCCESS);  // the levels above exist
  EXPECT_EQ(reg_.OpenKey("Software\\KIV\\Windows"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg_.QueryValue(kKey, "y", 100, &out), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg_.CreateKey("Software\\KIV\\Windows Client\\Log"), ERROR_SUCCESS);
  std::string name;
  EXPECT_EQ(reg_.EnumKey("Software\\KIV\\Windows Client", 1, &name), ERROR_SUCCESS);
  EXPECT_EQ(name, "Log");
  EXPECT_EQ(reg_.EnumKey("Software\\KIV\\Windows Client", 2, &name), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, ValuesKeepInsertionOrderAndIgnoreCase) {
  for (const char* name : {"b", "a", "c"}) reg_.SetValue(kKey, MakeDwordValue(name, 1));
  EXPECT_EQ(reg_.SetValue(kKey, MakeStringValue("A", u"text")), ERROR_SUCCESS);
  std::string name;
  std::vector<std::string> names;
  for (DWORD i = 0; reg_.EnumValue(kKey, i, 100, &name) == ERROR_SUCCESS; ++i)
    names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(reg_.EnumValue(kKey, 3, 100, &name), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(ReadText(reg_, "a"), u"text");
  EXPECT_EQ(reg_.DeleteValue("SOFTWARE\\kiv\\windows client\\settings", "B"), ERROR_SUCCESS);
  EXPECT_EQ(reg_.EnumValue(kKey, 0, 100, &name), ERROR_SUCCESS);
  EXPECT_EQ(name, "a");
  EXPECT_EQ(reg_.EnumValue(kKey, 0, 1, &name), ERROR_MORE_DATA);  // no room for "a" and NUL
}

TEST_F(RegistryTest, SmallBufferGivesMoreData) {
  reg_.SetValue(kKey, MakeStringValue("s", u"12345"));
  RegValue out;
  std::size_t needed = 0;
  EXPECT_EQ(reg_.QueryValue(kKey, "s", 11, &out, &needed), ERROR_MORE_DATA);
  EXPECT_EQ(needed, 12u);
  EXPECT_EQ(out.type, REG_SZ);
  EXPECT_TRUE(out.data.empty());
  EXPECT_EQ(reg_.QueryValue(kKey, "s", 12, &out, &needed), ERROR_SUCCESS);
  EXPECT_EQ(TextFromData(out.data), u"12345");
}

TEST_F(RegistryTest, RejectsNamesTheFileCannotHold) {
  EXPECT_EQ(reg_.SetValue(kKey, MakeDwordValue("a\nb", 1)), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg_.SetValue("Software\\\\KIV", MakeDwordValue("a", 1)), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg_.SetValue(std::string(256, 'k'), MakeDwordValue("a", 1)), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg_.SetValue(kKey, MakeDwordValue(std::string(16384, 'n'), 1)),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg_.SetValue(kKey, MakeDwordValue(std::string(16383, 'n'), 1)), ERROR_SUCCESS);
}

TEST_F(RegistryTest, FileIsARegistryExportWithPrivateModes) {
  reg_.SetValue(kKey, MakeStringValue("Username", u"bob"));
  reg_.SetValue(kKey, MakeDwordValue("LogLevel", 10));
  EXPECT_EQ(ReadFile(File()),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\Settings]\n"
            "\"Username\"=\"bob\"\n"
            "\"LogLevel\"=dword:0000000a\n\n");
  EXPECT_EQ(ModeOf(File()), 0600u);
  EXPECT_EQ(ModeOf(File() + ".lock"), 0600u);
  EXPECT_EQ(ModeOf(ConfigDir()), 0700u);
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(ConfigDir()))
    files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(RegistryTest, LooseModesOfAnExistingFileAreTightened) {
  std::filesystem::create_directories(ConfigDir());
  WriteFile(File(), "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n");
  ::chmod(File().c_str(), 0644);
  ::chmod(ConfigDir().c_str(), 0755);
  EXPECT_EQ(reg_.OpenKey("A"), ERROR_SUCCESS);
  EXPECT_EQ(ModeOf(File()), 0600u);
  EXPECT_EQ(ModeOf(ConfigDir()), 0700u);
}

TEST_F(RegistryTest, SeesChangesMadeByOthers) {
  reg_.SetValue(kKey, MakeStringValue("Username", u"bob"));
  EXPECT_EQ(ReadText(reg_, "Username"), u"bob");
  // An edit of the file by hand, saved by rename as editors do.
  std::string edited = ReadFile(File());
  edited.replace(edited.find("bob"), 3, "eve");
  WriteFile(File() + ".new", edited);
  std::filesystem::rename(File() + ".new", File());
  EXPECT_EQ(ReadText(reg_, "Username"), u"eve");
  // A second object on the same file, as another part of the program.
  Registry other(File());
  EXPECT_EQ(other.SetValue(kKey, MakeStringValue("Username", u"amy")), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(reg_, "Username"), u"amy");
  // Pointing XDG_CONFIG_HOME elsewhere moves the default registry with it.
  testing_support::TempEnv second;
  DWORD err = 0;
  ReadText(reg_, "Username", &err);
  EXPECT_EQ(err, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadText(other, "Username"), u"amy");
}

TEST_F(RegistryTest, DamagedFileIsKeptAsideSalvagedAndReported) {
  TakeRegistryDamageReport();
  std::filesystem::create_directories(ConfigDir());
  std::string damaged =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\Settings]\n"
      "\"Username\"=\"bob\"\n"
      "\"Password\"=\"sec";
  WriteFile(File(), damaged);
  EXPECT_EQ(ReadText(reg_, "Username"), u"bob");
  EXPECT_EQ(ReadFile(File() + ".bad"), damaged);
  EXPECT_EQ(ModeOf(File() + ".bad"), 0600u);
  std::vector<std::string> report = TakeRegistryDamageReport();
  ASSERT_EQ(report.size(), 1u);
  EXPECT_NE(report[0].find("line 5"), std::string::npos) << report[0];
  EXPECT_NE(report[0].find(File() + ".bad"), std::string::npos) << report[0];
  // The file was rewritten with what could be read; no new report for it.
  EXPECT_NE(ReadFile(File()).find("\"Username\"=\"bob\""), std::string::npos);
  EXPECT_EQ(ReadFile(File()).find("Password"), std::string::npos);
  EXPECT_TRUE(ParseRegistryText(ReadFile(File())).problems.empty());
  EXPECT_TRUE(TakeRegistryDamageReport().empty());

  // A later damage gets a copy of its own; the first copy stays.
  WriteFile(File(), "not a registry at all\n");
  EXPECT_EQ(reg_.OpenKey(kKey), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadFile(File() + ".bad"), damaged);
  EXPECT_EQ(ReadFile(File() + ".bad.1"), "not a registry at all\n");
  EXPECT_EQ(TakeRegistryDamageReport().size(), 1u);
}

TEST_F(RegistryTest, DamagedFileWithoutRoomForACopyIsNotWritten) {
  TakeRegistryDamageReport();
  std::filesystem::create_directories(ConfigDir());
  WriteFile(File() + ".bad", "");
  for (int n = 1; n < 1000; ++n) WriteFile(File() + ".bad." + std::to_string(n), "");
  std::string damaged = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\" +
                        std::string(kKey) + "]\n\"Username\"=\"bob\"\n\"Password\"=\"sec";
  WriteFile(File(), damaged);
  EXPECT_EQ(ReadText(reg_, "Username"), u"bob");  // reads still get what could be read
  EXPECT_EQ(reg_.SetValue(kKey, MakeDwordValue("LogLevel", 1)), ERROR_BADDB);
  EXPECT_EQ(ReadFile(File()), damaged);
  EXPECT_EQ(TakeRegistryDamageReport().size(), 1u);
  // Once a copy can be kept, writing works again.
  std::filesystem::remove(File() + ".bad.500");
  WriteFile(File(), damaged + "\n");
  EXPECT_EQ(reg_.SetValue(kKey, MakeDwordValue("LogLevel", 1)), ERROR_SUCCESS);
  EXPECT_EQ(ReadFile(File() + ".bad.500"), damaged + "\n");
  std::vector<std::string> report = TakeRegistryDamageReport();
  ASSERT_EQ(report.size(), 1u);
  EXPECT_NE(report[0].find(".bad.500"), std::string::npos) << report[0];
}

TEST_F(RegistryTest, UnusableFolderGivesErrorsNotCrashes) {
  Registry blocked(env_.Path("plainfile/registry.reg"));
  WriteFile(env_.Path("plainfile"), "x");
  EXPECT_EQ(blocked.SetValue(kKey, MakeDwordValue("a", 1)), ERROR_PATH_NOT_FOUND);
  EXPECT_NE(blocked.OpenKey(kKey), ERROR_SUCCESS);
  // A folder that cannot be created, whoever runs the test.
  Registry nowhere("/proc/self/kiv/registry.reg");
  EXPECT_NE(nowhere.SetValue(kKey, MakeDwordValue("a", 1)), ERROR_SUCCESS);
  EXPECT_EQ(nowhere.OpenKey(kKey), ERROR_FILE_NOT_FOUND);
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  std::filesystem::create_directories(env_.Path("locked"));
  ::chmod(env_.Path("locked").c_str(), 0500);
  Registry readonly(env_.Path("locked/kiv/registry.reg"));
  EXPECT_EQ(readonly.SetValue(kKey, MakeDwordValue("a", 1)), ERROR_ACCESS_DENIED);
  EXPECT_EQ(readonly.OpenKey(kKey), ERROR_FILE_NOT_FOUND);
  // A folder that exists but cannot be written: reads work, writes fail.
  reg_.SetValue(kKey, MakeDwordValue("a", 7));
  ::chmod(ConfigDir().c_str(), 0500);
  Registry fresh(File());
  EXPECT_EQ(ReadNumber(fresh, kKey, "a"), 7u);
  EXPECT_EQ(reg_.SetValue(kKey, MakeDwordValue("a", 8)), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadNumber(reg_, kKey, "a"), 7u);
  ::chmod(ConfigDir().c_str(), 0700);
}

TEST_F(RegistryTest, ConcurrentThreadsLoseNoWrites) {
  constexpr int kThreads = 8;
  constexpr int kValues = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, this] {
      Registry own;  // each thread its own object, as each access opens its own key
      for (int i = 0; i < kValues; ++i)
        own.SetValue(kKey, MakeDwordValue("t" + std::to_string(t) + "_" + std::to_string(i),
                                          static_cast<DWORD>(t * 1000 + i)));
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kValues; ++i)
      ASSERT_EQ(ReadNumber(reg_, kKey, "t" + std::to_string(t) + "_" + std::to_string(i)),
                static_cast<DWORD>(t * 1000 + i));
}

TEST_F(RegistryTest, TwoProcessesLoseNoWritesAndNeverSeeATornFile) {
  constexpr int kValues = 60;
  TakeRegistryDamageReport();
  reg_.SetValue(kKey, MakeDwordValue("start", 1));  // parent holds a cached lock descriptor
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int failures = 0;
    for (int i = 0; i < kValues; ++i)
      failures += reg_.SetValue(kKey, MakeDwordValue("child" + std::to_string(i), i)) != 0;
    ::_exit(failures == 0 ? 0 : 1);
  }
  for (int i = 0; i < kValues; ++i) {
    EXPECT_EQ(reg_.SetValue(kKey, MakeDwordValue("parent" + std::to_string(i), i)), 0u);
    RegParseResult seen = ParseRegistryText(ReadFile(File()));
    EXPECT_FALSE(seen.damaged()) << "torn file at step " << i;
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (int i = 0; i < kValues; ++i) {
    EXPECT_EQ(ReadNumber(reg_, kKey, "child" + std::to_string(i)), static_cast<DWORD>(i));
    EXPECT_EQ(ReadNumber(reg_, kKey, "parent" + std::to_string(i)), static_cast<DWORD>(i));
  }
  EXPECT_TRUE(TakeRegistryDamageReport().empty());
}

}  // namespace
}  // namespace platform
