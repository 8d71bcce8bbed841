// What every HTTP transfer with the server shares: answers are capped while
// they arrive, only http and https are spoken, a redirect may neither leave
// the host nor step down from https to http, and a transfer gives up within
// a fraction of a second once its agent thread is told to stop.
//
// Threads: any; a transfer belongs to the thread that runs it.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstddef>
#include <string>

namespace kiv_http {

// The largest answer body or download kept; a longer one is cut off while
// it is received.
inline constexpr std::size_t kMaxBodyBytes = 16 * 1024 * 1024;
// Redirects followed by a download before it fails.
inline constexpr int kMaxRedirects = 10;

// Sets libcurl up for the process with an allocator that wipes every block
// it frees (platform/wiping_memory.h): requests with a password pass
// through curl's own buffers, and their copies must not outlive the
// transfer. Call first thing in main, before any thread or other code
// uses curl; once curl is set up (by this or by curl_easy_init) later
// calls change nothing. False when curl cannot be set up.
bool GlobalInit();

// Limits `easy` to http and https, for its URL and for any redirect curl
// itself would follow, and sets the certificate authorities it trusts.
void AllowOnlyWebProtocols(CURL* easy);

// Trusts the certificate authorities in the PEM file at `path` instead of
// the system's (empty: the system's again). For a test server with its own
// authority; the program itself never calls it. Call before transfers start.
void SetTrustedAuthorities(const std::string& path);

// Why a redirect from `from` to `to` is not followed; empty when it may be.
// Refused: a scheme other than http and https, https to http, another host.
std::string RedirectRefusal(const std::string& from, const std::string& to);

// Runs `easy` to its end like curl_easy_perform, but gives up with
// CURLE_ABORTED_BY_CALLBACK within about 50 ms of `cancel` being set or
// the calling agent thread being told to stop, also while waiting for a
// silent server. A transfer begun
// after its agent thread was told to stop (a job's closing call on its way
// out) is not given up but gets a time limit of one second.
CURLcode PerformStoppable(CURL* easy, const std::atomic<int>* cancel = nullptr);

}  // namespace kiv_http
