// CLog: the one process-wide diagnostic log.
//
// Each line passes a level filter (low byte of the line's level against the
// low byte of the configured level) and a module mask, and is written to the
// end of the file with one write, without buffering, so the file is complete
// at any moment. The file stays open between lines; about once a second the
// log checks that its name still refers to the open file, and opens the name
// again when the file was removed, renamed or replaced meanwhile. The file
// rotates to "<path>.old" once it is larger than 8 MiB. A line that cannot be
// written is recorded in the registry (sub-key Log: LogFileFailure and
// LastLogMessage) instead: once each time the failure starts or changes,
// not on every line, as each record rewrites the settings file.
//
// Thread safety: any thread may log; a mutex keeps lines whole and in order
// of their writes. The path, level and mask are set at start-up before other
// threads run; later changes are still safe (atomics and a mutex guard them)
// but lines in flight may use either setting.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/append_file.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/win_types.h"

class CRegSettings;

inline constexpr DWORD LEVEL_NONE = 0;
inline constexpr DWORD LEVEL_CRITICAL = 1;
inline constexpr DWORD LEVEL_ERROR = 2;
inline constexpr DWORD LEVEL_WARNING = 3;
inline constexpr DWORD LEVEL_INFO = 4;
inline constexpr DWORD LEVEL_VERBOSE = 5;

inline constexpr DWORD MODULE_DATABASE = 1;
inline constexpr DWORD MODULE_INDEXER = 2;
inline constexpr DWORD MODULE_CLIENT_SERVER = 4;
inline constexpr DWORD MODULE_TRANSMIT = 6;
inline constexpr DWORD MODULE_PLAY_MONITOR = 8;
inline constexpr DWORD MODULE_FOLDER_MON = 16;
inline constexpr DWORD MODULE_CONNECTION = 32;
inline constexpr DWORD MODULE_ITUNES = 64;
inline constexpr DWORD MODULE_PLAYLISTS = 128;
inline constexpr DWORD MODULE_XML_PARSER = 256;
inline constexpr DWORD MODULE_REGISTRY = 512;
inline constexpr DWORD MODULE_GRACENOTE = 1024;
inline constexpr DWORD MODULE_APPLICATION = 0x600;
inline constexpr DWORD MODULE_LOG = 4096;
inline constexpr DWORD MODULE_EVERYTHING = 0xFFFFFFFF;

// Files above this size are rotated before the next line.
inline constexpr long long kLogRotateBytes = 8388608;

class CLog {
 public:
  // `settings` receives the failure record and the written-back level and
  // mask; by default the process-wide AppSettings().
  explicit CLog(platform::Clock& clock = platform::SystemClock());
  CLog(platform::Clock& clock, CRegSettings& settings);
  CLog(const CLog&) = delete;
  CLog& operator=(const CLog&) = delete;

  void Log(std::string_view message, DWORD level, DWORD module);
  // Appends ": <detail>" to the message when a detail is given.
  void LogDetail(std::string_view message, const char* detail, DWORD level, DWORD module);
  void LogDetail(std::string_view message, std::string_view detail, DWORD level, DWORD module);

  // Takes `path` only if a trial open for appending works. An empty path
  // succeeds and changes nothing. Only a regular file (or a name that can be
  // created as one) or a character device such as /dev/null is taken; a
  // FIFO, block device or folder is refused. On failure the
  // last error is set from the open's errno.
  BOOL SetLogFile(const std::string& path);
  // Store the value and write it back to the Settings values LogLevel (low
  // byte) and LogModule.
  void SetLogLevel(DWORD level);
  void SetLogModuleMask(DWORD mask);

  // True when a line of `level` and `module` passes the level filter and
  // the module mask, so hot paths can skip formatting lines nobody keeps.
  bool Wants(DWORD level, DWORD module) const {
    return (level & 0xFF) <= (level_.load() & 0xFF) && (module & mask_.load()) != 0;
  }

  std::string LogFile() const;
  DWORD LogLevel() const { return level_; }
  DWORD LogModuleMask() const { return mask_; }

 private:
  // Writes the failure text and the whole line to the Log registry values
  // when the failure differs from the one recorded last.
  void RecordFailure(const std::string& failure, const std::string& line);
  // A line was written: the next failure is recorded again.
  void ClearFailure();

  // Appends `line` to the file at `path`, opening, reopening or rotating it
  // first as needed.
  platform::AppendResult WriteLine(const std::string& path, std::string_view line);
  // Opens `path` into file_ and takes its identity and size. 0 or errno.
  int OpenFile(const std::string& path);
  // True when the re-check is due and `path` no longer names the open file.
  bool NameMovedOn(const std::string& path);
  // Takes the open file's size again; false when it cannot be queried.
  bool RefreshSize();

  platform::Clock& clock_;
  CRegSettings& settings_;
  mutable std::mutex path_mutex_;
  std::string path_;
  // The failure recorded last, empty while lines are written (guarded by
  // path_mutex_).
  std::string recorded_failure_;
  // The open log file (all guarded by file_mutex_): the path it was opened
  // under, its identity, its size as last seen plus the bytes written since
  // (-1 for a device), and the tick of the last identity check.
  std::mutex file_mutex_;
  platform::AppendFile file_;
  std::string open_path_;
  platform::FileIdentity open_id_;
  std::int64_t size_ = -1;
  std::uint64_t checked_tick_ = 0;
  // No rotation is tried before this tick (set after a failed copy).
  std::uint64_t rotate_after_tick_ = 0;
  std::atomic<DWORD> level_{LEVEL_INFO};
  std::atomic<DWORD> mask_{MODULE_EVERYTHING};
};

// The one process-wide log.
CLog& AppLog();

// A line of the application module (start-up, shutdown, the controller and
// the main window).
inline void LogApp(std::string_view text, DWORD level) {
  AppLog().Log(text, level, MODULE_APPLICATION);
}

// One formatted log line, CR LF included.
std::string FormatLogLine(std::time_t when, std::string_view message, DWORD level, DWORD module);

// The printed names: 9 characters for levels, 14 for modules.
const char* LevelName(DWORD level);
const char* ModuleName(DWORD module);
