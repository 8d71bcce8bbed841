// AgentUpdater (AGENT_UPDATER): fetches the service's update description,
// compares the version it offers with the running one and, as the user's
// earlier answers (setting UpdateAllow) say, announces the update quietly
// or asks, downloads the installer into the data folder and hands it to
// the desktop's handler for its type. The program never runs it itself.
// Only an update text fetched over https may lead to a download, and only
// of a Debian package over https with a verified certificate; an update
// text over plain http can announce a version and nothing more.
//
// Settings: UpdateUrl (default: "/update.txt" over https on the KIV
// server's web server), UpdateAllow (0 announce only; -1 declined, ask again at most
// every three days; 2 accepted, installer not yet opened; 3 ask even
// without a newer version; other non-zero values ask), UpdateCheck (time
// text of the last completed check).
//
// Threads: the job belongs to its agent thread; the download runs on a
// helper thread while the agent thread keeps answering stop requests, and
// Cancel may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/agent.h"
#include "app/agent_registry.h"

// Three days, the least time between two questions after a No.
inline constexpr std::int64_t kUpdateDeclinedWaitSeconds = 259200;

// The last update check for the status page and `--status`: when it was
// made and what it found ("no check yet" before the first), or the time of
// the last check of an earlier run (the UpdateCheck setting). Any thread.
std::string UpdateCheckStatusText();

class AgentUpdater : public CAgent {
 public:
  explicit AgentUpdater(const AgentContext& context);

  // One check, then 1 (always). Offline it only logs; otherwise it ends by
  // writing UpdateCheck, unless the three-day wait after a No holds.
  int Run() override;

  // Fetches and reads the description. 1 when it offers a version newer
  // than the running one, 0 otherwise (also on any failure); the offer's
  // pieces are kept either way.
  int CheckForUpdate();

  // Downloads the offered installer into the data folder under a name made
  // of the offer's four version numbers, with progress on activity 9. 1
  // when it arrived whole and not empty; 0 when the download is refused
  // (DownloadRefusal), the version is unusable, the download failed or was
  // cancelled (the partial file is removed).
  int DownloadUpdate();

  // Stops a download under way (the partial file is removed).
  void Cancel() { cancel_ = 1; }

  const std::string& offered_version() const { return version_; }
  const std::string& installer_url() const { return url_; }
  const std::string& installer_path() const { return path_; }
  const std::string& description() const { return description_; }

 private:
  // Ask, download, open: the user's road when asking is possible.
  void AskAndInstall(std::int32_t* allow);
  // Why the offered installer may not be downloaded (the update text came
  // over plain http; the installer is no https address of a Debian
  // package); empty when it may.
  std::string DownloadRefusal() const;
  void Announce();

  AgentContext context_;
  // What the last CheckForUpdate found, in words.
  std::string finding_;
  std::atomic<int> cancel_{0};
  bool secure_text_ = false;  // the update text came over https
  std::string version_;
  std::string url_;
  std::string path_;
  std::string description_;
};

// The update address used when UpdateUrl cannot be read: "/update.txt" over
// https on the KIV server's host (and its port when the server's address
// is https itself).
std::string DefaultUpdateUrl();

// Registers AgentUpdater for AGENT_UPDATER.
void RegisterUpdaterAgent(AgentJobRegistry& registry);
