#include "app/login_check.h"

#include <string>

bool IsLoginAvailable(const CRegSettings& settings) {
  std::string user;
  std::string password;
  settings.ReadStringUtf8(kSubKeySettings, "Username", user);
  settings.ReadStringUtf8(kSubKeySettings, "Password", password);
  return !user.empty() && !password.empty();
}
