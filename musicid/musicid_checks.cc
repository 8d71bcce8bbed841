#include "musicid/musicid_checks.h"

#include <cstdio>
#include <cstdlib>
#include <string>

HRESULT CheckComponentVersion(std::string_view text, std::string_view name,
                              const ComponentVersion& minimum) {
  if (text.empty()) return E_INVALIDARG;
  const std::string format = std::string(name) + " %d.%d.%d.%d%n";
  const std::string copy(text);
  ComponentVersion found{};
  int used = 0;
  if (std::sscanf(copy.c_str(), format.c_str(), &found[0], &found[1], &found[2], &found[3],
                  &used) != 4)
    return E_INVALIDARG;
  return found < minimum ? E_FAIL : S_OK;
}

ProxySetting ParseProxySetting(std::string_view text) {
  ProxySetting proxy;
  if (std::size_t at = text.find("http="); at != std::string_view::npos) {
    text = text.substr(at + 5);
  } else if (std::size_t scheme = text.find("://"); scheme != std::string_view::npos) {
    text = text.substr(scheme + 3);
    text = text.substr(0, text.find('/'));
    if (std::size_t at_sign = text.rfind('@'); at_sign != std::string_view::npos) {
      std::string_view credentials = text.substr(0, at_sign);
      text = text.substr(at_sign + 1);
      std::size_t colon = credentials.find(':');
      proxy.user = std::string(credentials.substr(0, colon));
      if (colon != std::string_view::npos)
        proxy.password = std::string(credentials.substr(colon + 1));
    }
  }
  std::size_t colon = text.find(':');
  proxy.host = std::string(text.substr(0, colon));
  if (colon != std::string_view::npos)
    proxy.port = std::strtol(std::string(text.substr(colon + 1)).c_str(), nullptr, 10);
  else
    proxy.port = proxy.host.empty() ? 0 : 80;
  return proxy;
}
