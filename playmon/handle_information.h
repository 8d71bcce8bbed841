// SystemHandleInformation and the per-handle queries: which files other
// processes hold open, where they read and how they opened them.
//
// On Linux a handle is an open descriptor: its value is the descriptor
// number, valid inside its owner process; its object type is "File" when
// it names a regular file. Only the descriptors of the processes handed to
// SetProcesses are listed (the play monitor hands over the running
// players), so the cost of a refresh follows the players, not every
// process of the system. A descriptor of a file deleted while open is not
// listed: it has no name left to count a play for.
//
// Each query reads /proc afresh; a descriptor closed since the listing
// makes it fail, and the caller skips the handle. Nothing here opens the
// files themselves, so no query waits on a slow disk or network mount.
//
// Thread safety: an object belongs to one thread; the free functions may
// be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

// Process filter that keeps the handles of every process.
inline constexpr DWORD kAllProcesses = 0xFFFFFFFF;
// The object type number of files (its place in the object type table).
inline constexpr std::uint8_t kFileTypeNumber = 26;
inline constexpr const char* kFileTypeName = "File";

struct HandleEntry {
  DWORD process_id = 0;
  std::uint8_t object_type = 0;  // number in the object type table, 0 when not in it
  std::uint8_t flags = 0;
  DWORD handle_value = 0;    // the descriptor number
  DWORD granted_access = 0;  // not known at listing time: see GetFilePositionAndAccess
  // The file behind a "File" handle: which file it is, whatever path it was
  // opened by, and its length in bytes.
  std::uint64_t file_device = 0;
  std::uint64_t file_inode = 0;
  std::uint64_t file_size = 0;
};

class SystemHandleInformation {
 public:
  // `type_filter` null or empty keeps every type.
  explicit SystemHandleInformation(DWORD process_filter = kAllProcesses, bool refresh_now = false,
                                   const char* type_filter = nullptr);
  SystemHandleInformation(const SystemHandleInformation&) = delete;
  SystemHandleInformation& operator=(const SystemHandleInformation&) = delete;

  // Limits the listing to these processes. Without it every process of
  // this user is listed (a cost that grows with the whole system).
  void SetProcesses(std::vector<DWORD> pids) { processes_ = std::move(pids); }

  // Stores the type filter; with `refresh_now` refreshes and returns the
  // refresh result, else TRUE.
  BOOL SetFilter(std::string_view type, bool refresh_now);

  // Empties the list and fills it with the kept handles, per process in
  // the order given and per process in descriptor order. A process that
  // ended or cannot be looked into is skipped. FALSE only when the process
  // table itself cannot be read.
  BOOL Refresh();

  const std::vector<HandleEntry>& handles() const { return handles_; }

 private:
  DWORD process_filter_;
  std::string type_filter_;
  std::optional<std::vector<DWORD>> processes_;
  std::vector<HandleEntry> handles_;
};

// The type name of a handle: "File" for a regular file; "Folder",
// "Socket", "Pipe", "Device" or "Unknown" for the other kinds of
// descriptor. False when the descriptor is closed or unreadable.
BOOL GetTypeToken(DWORD handle, std::string* type, DWORD process_id);

// The number of a type name in the object type table (exact, case
// sensitive match over the indexes 1 to 26). False when it is not there.
BOOL GetTypeFromTypeToken(std::string_view type, std::uint8_t* number);

// The name of the object behind a handle: for a file its full path, for
// another descriptor what the kernel shows ("socket:[1234]"). False when
// the type cannot be read, or the file was deleted while open.
BOOL GetName(DWORD handle, std::string* name, DWORD process_id);

// The handle's read position and its access mask
// (0x1 read data, 0x2 write data). On failure both are 0 and the result is
// FALSE; a handle that cannot be read counts as not open for reading.
BOOL GetFilePositionAndAccess(DWORD handle, std::uint64_t* position, std::uint32_t* access,
                              DWORD process_id);

// The usable form of a name: file names are already full paths here, so
// an absolute path is taken as it is. False for any other text.
BOOL DeviceToDosPath(std::string_view device_path, std::string* path);

// False for handles that must not be queried: those of the program's own
// process, and those whose access holds both 0x100000 and 0x4.
BOOL IsSupportedHandle(const HandleEntry& entry);
