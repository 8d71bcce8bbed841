#include "app/string_table.h"

namespace {

struct Entry {
  UINT id;
  const char* text;
};

constexpr Entry kStrings[] = {
    {IDS_APP_TITLE, "Vornic"},
    {IDS_CLIENT_VERSION, "1.0.3.105"},
    {IDS_USER_AGENT, "KIV Windows Client/%s"},
    {IDS_TIME_TEXT_FORMAT, "%Y-%m-%dT%H:%M:%SZ"},
    {IDS_ASK_FOR_LOGIN,
     "Until you enter a valid KIV username and password, your KIV pages can not be updated.  "
     "Would you like to enter a KIV username and password now?"},
    {IDS_RUNS_IN_BACKGROUND,
     "Vornic will run in the background from here.\r\nYou can control Vornic by right-clicking "
     "on this icon."},
    {IDS_NEW_VERSION, "A new version of Vornic is available.\r\nClick for details."},
    {IDS_UPDATE_QUESTION,
     "Version %s of Vornic is available.\r\n\r\n%s\r\n\r\nThe installer comes from %s.\r\n\r\n"
     "Do you want to install this update now?"},
    {IDS_BUTTON_DISABLE, "Disable"},
    {IDS_BUTTON_ENABLE, "Enable"},
    {IDS_DISABLED_BY_USER, "Vornic Disabled by user"},
    {IDS_ENABLED_BY_USER, "Vornic Enabled by user"},
    {IDS_DISABLED_FOR_SLEEP, "Vornic Disabled for system sleep"},
    {IDS_ENABLED_AFTER_RESUME, "Vornic Enabled after system resume"},
    {IDS_CURRENTLY_DISABLED, "Currently Disabled"},
    {IDS_DOWNLOAD_PROGRESS, "%d KB of %d KB"},
    {IDS_READY, "Vornic ready"},
    {IDS_INDEX_UPDATING, "Updating file: %s"},
    {IDS_INDEX_ADDED, "Added file: %s"},
    {IDS_INDEX_PROGRESS, "%d of %d"},
    {IDS_INDEX_NOTICE,
     "\r\nYour music is now being indexed and kivified.\r\nThis process can take up to an hour "
     "per 1000 tracks.\r\nYou will receive an email when kivification is complete and your "
     "Digital\r\nMusic Collection widget on your KIV page has been fully populated.\r\n"},
    {IDS_LOGIN_INVALID, "Your KIV username or password is not valid."},
    {IDS_ONLINE_RESTORED, "Online connection restored."},
    {IDS_CONNECTION_RESTORED, "Connection to KIV restored."},
    {IDS_FIRST_RUN_WELCOME,
     "Welcome to the Vornic!\r\nSince this is the first time you've run the Vornic you will "
     "need to enter your KIV login and password."},
    {IDS_ITUNES_PARSING, "Parsing..."},
    {IDS_ITUNES_ADDED, "Added from iTunes: %s"},
    {IDS_PLAY_NOW_PLAYING, "Now Playing: %s"},
    {IDS_PLAY_ENDED, "Play Ended: %s"},
    {IDS_TRANSMIT_UNAVAILABLE, "Connot send info to KIV. Connection to KIV not available."},
    {IDS_TRANSMIT_PROGRESS, "%d of %d"},
    {IDS_TRANSMIT_SENT, "Sent: %s"},
    {IDS_TRANSMIT_SENT_PLAYING, "Sent Playing: %s"},
    {IDS_TRANSMIT_SENT_HISTORY, "Sent Play History (%d) for: %s"},
    {IDS_TRANSMIT_DELETED, "Deleted entry for: %s"},
    {IDS_TRANSMIT_SERVER_BUSY, "Server Busy. Pausing 20 seconds."},
    {IDS_TRANSMIT_CONNECTION_LOST, "Connection lost. Cancelling transmit."},
    {IDS_TRANSMIT_PLAYS_POSTPONED, "Send Plays postponed (5 min): %s"},
    {IDS_TRANSMIT_PLAYS_WAITING, "Plays currently waiting for send:"},
    {IDS_UPDATE_AVAILABLE, "Vornic update available"},
    {IDS_UPDATE_DOWNLOAD_FAILED,
     "Could not successfully download Vornic update!\r\nWill attempt again later."},
    {IDS_UPDATE_NOT_DOWNLOADED,
     "Version %s of Vornic is available.\r\n\r\n%s\r\n\r\nVornic does not download this "
     "update itself (%s): download it from %s."},
    {IDS_UPDATE_OPEN_FAILED,
     "The Vornic update was downloaded to %s, but it could not be opened (%s).\r\nWill attempt "
     "again later."},
};

}  // namespace

const char* LoadStringResource(UINT id) {
  for (const Entry& entry : kStrings)
    if (entry.id == id) return entry.text;
  return "";
}
