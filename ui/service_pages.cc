#include "ui/service_pages.h"

#include <QUrl>

#include "server/server_session.h"

namespace {

std::string OnServerHost(const char* path) {
  QUrl url(QString::fromStdString(GetServerUrl()));
  url.setPath(QString::fromLatin1(path));
  url.setQuery(QString());
  url.setFragment(QString());
  return url.toString().toStdString();
}

}  // namespace

std::string ServiceHomePage() { return OnServerHost("/"); }
std::string MyKivPage() { return OnServerHost("/my"); }
std::string RegistrationPage() { return OnServerHost("/register"); }
