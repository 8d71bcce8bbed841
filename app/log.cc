#include "app/log.h"

#include <algorithm>
#include <ctime>

#include "app/format.h"
#include "app/log_escape.h"
#include "app/reg_settings.h"
#include "platform/file_io.h"
#include "platform/last_error.h"

namespace {

constexpr const char* kOldSuffix = ".old";
// How often the open file is compared with the file its name refers to, so
// lines follow a log file that was removed, renamed or replaced.
constexpr std::uint64_t kRecheckMs = 1000;
constexpr std::uint64_t kRotateRetryMs = 60000;
constexpr const char* kValueLogFileFailure = "LogFileFailure";
constexpr const char* kValueLastLogMessage = "LastLogMessage";
constexpr const char* kValueLogLevel = "LogLevel";
constexpr const char* kValueLogModule = "LogModule";

}  // namespace

const char* LevelName(DWORD level) {
  switch (level & 0xFF) {
    case LEVEL_NONE:
      return "NONE     ";
    case LEVEL_CRITICAL:
      return "CRITICAL ";
    case LEVEL_ERROR:
      return "ERROR    ";
    case LEVEL_WARNING:
      return "WARNING  ";
    case LEVEL_INFO:
      return "INFO     ";
    case LEVEL_VERBOSE:
      return "VERBOSE  ";
    default:
      return "UNKNOWN  ";
  }
}

const char* ModuleName(DWORD module) {
  switch (module) {
    case MODULE_DATABASE:
      return "DATABASE      ";
    case MODULE_INDEXER:
      return "INDEXER       ";
    case MODULE_CLIENT_SERVER:
      return "CLIENT/SERVER ";
    case MODULE_TRANSMIT:
      return "TRANSMIT      ";
    case MODULE_PLAY_MONITOR:
      return "PLAY MONITOR  ";
    case MODULE_FOLDER_MON:
      return "FOLDER MON    ";
    case MODULE_CONNECTION:
      return "CONNECTION    ";
    case MODULE_ITUNES:
      return "ITUNES        ";
    case MODULE_PLAYLISTS:
      return "PLAYLISTS     ";
    case MODULE_XML_PARSER:
      return "XML PARSER    ";
    case MODULE_REGISTRY:
      return "REGISTRY      ";
    case MODULE_GRACENOTE:
      return "GRACENOTE     ";
    case MODULE_APPLICATION:
      return "APPLICATION   ";
    case MODULE_LOG:
      return "LOG           ";
    case MODULE_EVERYTHING:
      return "EVERYTHING    ";
    default:
      return "UNKNOWN       ";
  }
}

std::string EscapeControls(std::string_view text, bool keep_tabs) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  auto escape = [&](unsigned char c) {
    out.append("\\x").push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 15]);
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && !(keep_tabs && c == '\t')) || c == 0x7F) {
      escape(c);
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      // U+0080 to U+009F: terminals take some of them for escape sequences.
      escape(c);
      escape(static_cast<unsigned char>(text[++i]));
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string FormatLogLine(std::time_t when, std::string_view message, DWORD level, DWORD module) {
  std::tm tm = platform::LocalTime(when);
  std::string stamp = StrFormat("%d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::string line;
  line.reserve(stamp.size() + message.size() + 32);
  line.append(stamp).append(" ").append(LevelName(level)).append("\t");
  line.append(ModuleName(module)).append("\t").append(message).append("\r\n");
  return line;
}

CLog::CLog(platform::Clock& clock) : CLog(clock, AppSettings()) {}

CLog::CLog(platform::Clock& clock, CRegSettings& settings) : clock_(clock), settings_(settings) {}

std::string CLog::LogFile() const {
  std::lock_guard<std::mutex> lock(path_mutex_);
  return path_;
}

void CLog::Log(std::string_view message, DWORD level, DWORD module) {
  if (!Wants(level, module)) return;

  const std::string path = LogFile();
  std::string text(message);
  text.erase(
      std::remove_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }),
      text.end());
  // Line ends in a message are dropped (messages carry some), its other
  // control characters escaped; a detail is escaped whole (LogDetail).
  text = EscapeControls(text, true);
  const std::string line = FormatLogLine(clock_.WallTime(), text, level, module);

  std::string failure;
  if (path.empty()) {
    failure = "The log filename is not specified, I have nowhere to log!";
  } else {
    platform::AppendResult result = WriteLine(path, line);
    if (result.ok()) {
      ClearFailure();
      return;
    }
    // A failed write after a good open is recorded too, rather than lost
    // without trace.
    failure = result.open_error != 0
                  ? StrFormat("Unable to open log file: ERR(%d)", result.open_error)
                  : StrFormat("Unable to write log file: ERR(%d)", result.write_error);
  }
  RecordFailure(failure, line);
}

platform::AppendResult CLog::WriteLine(const std::string& path, std::string_view line) {
  std::lock_guard<std::mutex> lock(file_mutex_);
  platform::AppendResult result;
  if (file_.is_open() && (path != open_path_ || NameMovedOn(path))) file_.Close();
  if (!file_.is_open() && (result.open_error = OpenFile(path)) != 0) return result;

  // Rotation: a file above the limit is moved aside before this line, so the
  // new file starts with it. The tracked size misses what others wrote (or
  // cut) since the last look, so the file's own size decides. The file is
  // removed only once its copy is made. When the copy or the removal fails
  // (a full disk, a folder that cannot be written) the file keeps its lines
  // and grows, a partial copy is not left taking space, and rotation is
  // tried again a minute later rather than at every line.
  if (size_ > kLogRotateBytes && clock_.TickMs() >= rotate_after_tick_ && RefreshSize() &&
      size_ > kLogRotateBytes) {
    const std::string old_path = path + kOldSuffix;
    platform::RemoveFile(old_path);
    const bool copied = platform::CopyFileOverwrite(path, old_path) == 0;
    if (!copied) platform::RemoveFile(old_path);
    if (copied && platform::RemoveFile(path) == 0) {
      if ((result.open_error = OpenFile(path)) != 0) return result;
    } else {
      rotate_after_tick_ = clock_.TickMs() + kRotateRetryMs;
    }
  }

  result.write_error = file_.Write(line);
  if (result.write_error != 0)
    file_.Close();  // the next line tries a fresh open
  else if (size_ >= 0)
    size_ += static_cast<std::int64_t>(line.size());
  return result;
}

int CLog::OpenFile(const std::string& path) {
  int err = file_.Open(path);
  if (err == 0) err = file_.Identity(&open_id_, &size_);
  if (err != 0) {
    file_.Close();
    return err;
  }
  open_path_ = path;
  checked_tick_ = clock_.TickMs();
  return 0;
}

bool CLog::NameMovedOn(const std::string& path) {
  const std::uint64_t now = clock_.TickMs();
  if (now - checked_tick_ < kRecheckMs) return false;
  checked_tick_ = now;
  platform::FileIdentity named;
  if (platform::PathIdentity(path, &named) != 0 || !(named == open_id_)) return true;
  RefreshSize();
  return false;
}

bool CLog::RefreshSize() {
  platform::FileIdentity id;
  return file_.Identity(&id, &size_) == 0;
}

void CLog::ClearFailure() {
  std::lock_guard<std::mutex> lock(path_mutex_);
  recorded_failure_.clear();
}

void CLog::RecordFailure(const std::string& failure, const std::string& line) {
  {
    std::lock_guard<std::mutex> lock(path_mutex_);
    if (failure == recorded_failure_) return;
    recorded_failure_ = failure;
  }
  // Registry failures are ignored: there is nowhere left to report them.
  settings_.WriteString(kSubKeyLog, kValueLogFileFailure, failure);
  settings_.WriteString(kSubKeyLog, kValueLastLogMessage, line);
}

void CLog::LogDetail(std::string_view message, const char* detail, DWORD level, DWORD module) {
  if (!detail) {
    Log(message, level, module);
    return;
  }
  LogDetail(message, std::string_view(detail), level, module);
}

void CLog::LogDetail(std::string_view message, std::string_view detail, DWORD level, DWORD module) {
  std::string text(message);
  text.append(": ").append(EscapeControls(detail, false));
  Log(text, level, module);
}

BOOL CLog::SetLogFile(const std::string& path) {
  if (path.empty()) return TRUE;
  int err = platform::TryOpenForAppend(path);
  if (err != 0) {
    platform::SetLastErrorEx(platform::ErrorFromErrno(err));
    return FALSE;
  }
  {
    // Opened afresh by the next line, even when the name is the same.
    std::lock_guard<std::mutex> lock(file_mutex_);
    file_.Close();
  }
  std::lock_guard<std::mutex> lock(path_mutex_);
  path_ = path;
  recorded_failure_.clear();
  return TRUE;
}

void CLog::SetLogLevel(DWORD level) {
  level_ = level;
  if (!settings_.WriteDword(kSubKeySettings, kValueLogLevel, level & 0xFF))
    Log("Unable to save new log level to the registry", LEVEL_ERROR, MODULE_LOG);
}

void CLog::SetLogModuleMask(DWORD mask) {
  mask_ = mask;
  if (!settings_.WriteDword(kSubKeySettings, kValueLogModule, mask))
    Log("Unable to save new log mask to the registry", LEVEL_ERROR, MODULE_LOG);
}

CLog& AppLog() {
  static CLog log;
  return log;
}
