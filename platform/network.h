// Network facilities of the operating system: the interface table, whether
// any network is connected, a TCP connect probe, and the kernel's name and
// release. The server session and the connection monitor build on these.
//
// Every function may be called from any thread; none keeps state.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// One network interface as /sys/class/net shows it.
struct NetAdapter {
  std::string name;
  int ifindex = 0;
  // The hardware address bytes (empty when the interface has none).
  std::vector<unsigned char> address;
  bool loopback = false;
};

// Lists the interfaces below `root` (one folder per interface holding
// `ifindex`, `address` and `type` files). Interfaces whose files cannot be
// read are skipped. False, with the last error set, when `root` cannot be
// listed at all.
bool ListNetAdapters(std::vector<NetAdapter>* out, const std::string& root = "/sys/class/net");

// True when some interface other than loopback is up and has an IPv4 or
// IPv6 address (getifaddrs).
bool HasConnectedInterface();

// True when `host` names this machine: "localhost" (any case, with or
// without a trailing dot), an address in 127.0.0.0/8, or ::1. No lookup.
bool IsLoopbackHost(const std::string& host);

// Tries a TCP connection to `host`:`port`, each resolved address in turn,
// all within `timeout_ms`. True when one connected (the connection is
// closed again at once). On failure the last error is set and `*why`
// (when given) receives the system's text. A connection in progress is
// given up within about 50 ms of `should_stop` (when given) answering true
// (error ECANCELED); the name lookup itself cannot be cut short.
bool ProbeTcpConnect(const std::string& host, int port, int timeout_ms, std::string* why = nullptr,
                     const std::function<bool()>& should_stop = {});

// "Linux 6.1.0-18-amd64": the system name and release from uname; empty
// when uname fails.
std::string SystemNameAndRelease();

// The system's proxy for HTTP: the http_proxy (else HTTP_PROXY) environment
// variable, as written there; empty when none is set.
std::string SystemProxySetting();

}  // namespace platform
