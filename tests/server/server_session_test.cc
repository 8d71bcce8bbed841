// The session helpers: the server URL and its repair, the client's
// identity and pending credentials.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/reg_settings.h"
#include "server/server_session.h"
#include "tests/server/server_test_util.h"

namespace server_test {
namespace {

class ServerSessionTest : public ServerTest {};

TEST_F(ServerSessionTest, MissingServerUrlIsRepairedOnceEmptyOneIsNeverWritten) {
  AppSettings().DeleteValue(kSubKeySettings, "ServerUrl");
  EXPECT_EQ(GetServerUrl(), kDefaultServerUrl);
  EXPECT_EQ(GetServerUrl(), kDefaultServerUrl);
  EXPECT_EQ(LogCount("Unable to read registry key (Settings\\ServerUrl): "
                     "The system cannot find the file specified."),
            1);
  EXPECT_EQ(Setting("ServerUrl"), kDefaultServerUrl);

  SetSetting("ServerUrl", "");
  EXPECT_EQ(GetServerUrl(), kDefaultServerUrl);
  EXPECT_EQ(Setting("ServerUrl"), "");
  EXPECT_EQ(LogCount("Unable to read registry key"), 1);

  // A value of the wrong type cannot be read either, and is repaired.
  AppSettings().WriteDword(kSubKeySettings, "ServerUrl", 5);
  EXPECT_EQ(GetServerUrl(), kDefaultServerUrl);
  EXPECT_EQ(Setting("ServerUrl"), kDefaultServerUrl);
}

TEST_F(ServerSessionTest, IdentityTexts) {
  EXPECT_EQ(GetClientVersion(), "1.0.3.105");
  EXPECT_EQ(GetUserAgent(), "KIV Windows Client/1.0.3.105");
  EXPECT_EQ(GetClientOs().rfind("Linux ", 0), 0u) << GetClientOs();
  const std::string device = GetDeviceName();
  EXPECT_TRUE(device.empty() || device.size() == 12) << device;
  for (char c : device) EXPECT_TRUE(std::isxdigit(c) && !std::islower(c)) << device;
}

TEST_F(ServerSessionTest, UserNameAndPasswordSettings) {
  EXPECT_EQ(GetUsername(), "");
  EXPECT_EQ(GetPassword(), "");
  EXPECT_EQ(LogCount("Username is not set, this must be set to talk to server"), 1);
  EXPECT_FALSE(IsLoginAvailable());
  SetSetting("Username", kUser);
  EXPECT_FALSE(IsLoginAvailable());
  SetSetting("Password", kClientPassword);
  EXPECT_TRUE(IsLoginAvailable());
  EXPECT_EQ(GetUsername(), kUser);
  EXPECT_EQ(GetPassword(), kClientPassword);
}

// A fake /sys/class/net folder with real files.
void AddAdapter(const std::string& root, const std::string& name, int index,
                const std::string& address, int type = 1) {
  std::filesystem::create_directories(root + "/" + name);
  testing_support::WriteFile(root + "/" + name + "/ifindex", std::to_string(index) + "\n");
  testing_support::WriteFile(root + "/" + name + "/type", std::to_string(type) + "\n");
  if (!address.empty()) testing_support::WriteFile(root + "/" + name + "/address", address + "\n");
}

std::string DeviceNameOf(const std::string& root) {
  std::vector<platform::NetAdapter> adapters;
  EXPECT_TRUE(platform::ListNetAdapters(&adapters, root));
  return ChooseDeviceName(adapters);
}

TEST_F(ServerSessionTest, DeviceNameComesFromTheLowestInterfaceIndex) {
  const std::string root = env_.Path("net");
  std::filesystem::create_directories(root);
  EXPECT_EQ(DeviceNameOf(root), "");  // no adapters
  AddAdapter(root, "lo", 1, "00:00:00:00:00:00", 772);
  EXPECT_EQ(DeviceNameOf(root), "");
  AddAdapter(root, "eth0", 7, "02:fc:00:00:00:01");
  AddAdapter(root, "wlan0", 3, "a4:5e:60:c2:11:0f");
  AddAdapter(root, "tun0", 2, "");                   // no hardware address
  AddAdapter(root, "bad0", 1, "zz:zz:zz:zz:zz:zz");  // unreadable address
  EXPECT_EQ(DeviceNameOf(root), "A45E60C2110F");
  std::vector<platform::NetAdapter> none;
  EXPECT_FALSE(platform::ListNetAdapters(&none, env_.Path("missing")));
}

TEST_F(ServerSessionTest, PendingCredentialsNeedBothTexts) {
  EXPECT_FALSE(HasPendingCredentials());
  SetPendingCredentials(kUser, "");
  EXPECT_FALSE(HasPendingCredentials());
  SetPendingCredentials(kUser, kPassword);
  EXPECT_TRUE(HasPendingCredentials());
  std::string user, password;
  ASSERT_TRUE(GetPendingCredentials(&user, &password));
  EXPECT_EQ(user, kUser);
  EXPECT_EQ(password, kPassword);
  ClearPendingCredentials();
  EXPECT_FALSE(GetPendingCredentials(&user, &password));
}

TEST_F(ServerSessionTest, APairTypedAgainDuringAnExchangeIsNotDropped) {
  SetPendingCredentials(kUser, "first");
  SetPendingCredentials(kUser, kPassword);  // typed while "first" was being exchanged
  EXPECT_FALSE(ClearPendingCredentialsIf(kUser, "first"));
  EXPECT_TRUE(HasPendingCredentials());
  EXPECT_TRUE(ClearPendingCredentialsIf(kUser, kPassword));
  EXPECT_FALSE(HasPendingCredentials());
}

}  // namespace
}  // namespace server_test
