// Test helper: sends logind's PrepareForSleep(bool) signal on the bus at
// the given address, as the owner of org.freedesktop.login1 (or, with
// --no-name, as an anonymous connection that only pretends to be logind).
//
// Usage: power_emit_helper <bus address> true|false [--no-name]
#include <systemd/sd-bus.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <bus address> true|false [--no-name]\n", argv[0]);
    return 2;
  }
  const bool suspending = std::strcmp(argv[2], "true") == 0;
  const bool take_name = !(argc > 3 && std::strcmp(argv[3], "--no-name") == 0);
  sd_bus* bus = nullptr;
  int r = sd_bus_new(&bus);
  if (r >= 0) r = sd_bus_set_address(bus, argv[1]);
  if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
  if (r >= 0) r = sd_bus_start(bus);
  if (r >= 0 && take_name) r = sd_bus_request_name(bus, "org.freedesktop.login1", 0);
  if (r >= 0)
    r = sd_bus_emit_signal(bus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                           "PrepareForSleep", "b", suspending ? 1 : 0);
  if (r >= 0) r = sd_bus_flush(bus);
  if (bus) sd_bus_flush_close_unref(bus);
  if (r < 0) {
    std::fprintf(stderr, "power_emit_helper: %s\n", std::strerror(-r));
    return 1;
  }
  return 0;
}
