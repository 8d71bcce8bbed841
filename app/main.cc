// vornic: the desktop client of the KIV music-taste service.
#include <string>
#include <vector>

#include "app/kiv_client_app.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  CKivClientApp app(std::move(args));
  return app.Main();
}
