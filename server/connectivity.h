// Whether the client can reach the KIV server and whether the server takes
// its credentials: the process-wide OnlineState and AuthState, the TCP
// probe behind IsOnline and the authentication checks. The session, the
// connection monitor and the agents all ask here.
//
// Threads: every function may be called from any thread. AuthState and
// OnlineState are plain 32-bit values (atomics, no further lock); a reader
// may see a value one check old. OnlineState is written only inside
// ServerCallLock (by IsOnline); forced checks take that lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "app/message_loop.h"

// 0 = credentials accepted; -2 = the server refused them or returned none;
// -3 = no answer during a password or validation call; -4 = no credentials
// available (the initial value).
extern std::atomic<std::int32_t> AuthState;
// -1 = not yet tested (initial); 0 = offline; 1 = online.
extern std::atomic<std::int32_t> OnlineState;

// The time limit of the TCP probe of the server.
inline constexpr int kServerProbeTimeoutMs = 10000;

// 1 online, 0 offline. With `force` 0 and a known OnlineState, the cached
// value without touching the network or the lock. Otherwise, under
// ServerCallLock: offline when no network interface is connected (unless
// the server is on this machine) or the server's host and port do not
// accept a TCP connection, each logged. A change from a known online state
// to offline posts "Connection to KIV not available." to `main_window`
// (when given) as a connection event.
int IsOnline(int force, MessageLoop* main_window = nullptr);

// With `force` zero: AuthState unchanged. Otherwise, when IsOnline(force)
// finds the server: -4 without login credentials, else the result of
// ValidateAuthentication (0, -2 or -3), stored in AuthState. Offline, the
// previous AuthState is kept. Returns AuthState. `main_window` (may be
// null) receives IsOnline's connection event.
int CheckAuthentication(int force, MessageLoop* main_window = nullptr);
// AuthState is 0 and IsOnline(0) is true. No server call unless
// OnlineState is still unknown.
bool IsAuthenticated();
