#include "playmon/handle_information.h"

#include <array>

#include "platform/process_table.h"

namespace {

using platform::Descriptor;
using platform::DescriptorKind;

const char* TypeName(DescriptorKind kind) {
  switch (kind) {
    case DescriptorKind::kFile:
      return kFileTypeName;
    case DescriptorKind::kDirectory:
      return "Folder";
    case DescriptorKind::kSocket:
      return "Socket";
    case DescriptorKind::kPipe:
      return "Pipe";
    case DescriptorKind::kDevice:
      return "Device";
    case DescriptorKind::kOther:
      break;
  }
  return "Unknown";
}

// The object type table: index -> name; indexes 0 and 1 are empty.
constexpr std::array<const char*, 27> kObjectTypes = {"",
                                                      "",
                                                      "Directory",
                                                      "SymbolicLink",
                                                      "Token",
                                                      "Process",
                                                      "Thread",
                                                      "Unknown7",
                                                      "Event",
                                                      "EventPair",
                                                      "Mutant",
                                                      "Unknown11",
                                                      "Semaphore",
                                                      "Timer",
                                                      "Profile",
                                                      "WindowStation",
                                                      "Desktop",
                                                      "Section",
                                                      "Key",
                                                      "Port",
                                                      "WaitablePort",
                                                      "Unknown21",
                                                      "Unknown22",
                                                      "Unknown23",
                                                      "Unknown24",
                                                      "IoCompletion",
                                                      "File"};

std::uint8_t TypeNumber(std::string_view name) {
  std::uint8_t number = 0;
  GetTypeFromTypeToken(name, &number);
  return number;
}

bool AllUserProcesses(std::vector<DWORD>* pids) {
  return platform::ListProcesses([pids](std::uint32_t pid, const platform::ProcessNames&) {
    if (platform::ProcessBelongsToUser(pid)) pids->push_back(pid);
  });
}

}  // namespace

SystemHandleInformation::SystemHandleInformation(DWORD process_filter, bool refresh_now,
                                                 const char* type_filter)
    : process_filter_(process_filter), type_filter_(type_filter ? type_filter : "") {
  if (refresh_now) Refresh();
}

BOOL SystemHandleInformation::SetFilter(std::string_view type, bool refresh_now) {
  type_filter_ = type;
  return refresh_now ? Refresh() : TRUE;
}

BOOL SystemHandleInformation::Refresh() {
  handles_.clear();
  std::vector<DWORD> all;
  if (!processes_ && !AllUserProcesses(&all)) return FALSE;
  std::vector<Descriptor> descriptors;
  for (DWORD pid : processes_ ? *processes_ : all) {
    if (process_filter_ != kAllProcesses && process_filter_ != pid) continue;
    if (!platform::ListDescriptors(pid, &descriptors)) continue;
    for (const Descriptor& descriptor : descriptors) {
      if (descriptor.unlinked) continue;
      const char* type = TypeName(descriptor.kind);
      HandleEntry entry;
      entry.process_id = pid;
      entry.object_type = TypeNumber(type);
      entry.handle_value = static_cast<DWORD>(descriptor.number);
      entry.file_device = descriptor.device;
      entry.file_inode = descriptor.inode;
      entry.file_size = descriptor.size;
      if (!IsSupportedHandle(entry)) continue;
      if (!type_filter_.empty() && type_filter_ != type) continue;
      handles_.push_back(entry);
    }
  }
  return TRUE;
}

BOOL GetTypeToken(DWORD handle, std::string* type, DWORD process_id) {
  Descriptor descriptor;
  if (!platform::QueryDescriptor(process_id, static_cast<int>(handle), &descriptor)) return FALSE;
  *type = TypeName(descriptor.kind);
  return TRUE;
}

BOOL GetTypeFromTypeToken(std::string_view type, std::uint8_t* number) {
  for (std::size_t i = 1; i < kObjectTypes.size(); ++i) {
    if (type == kObjectTypes[i]) {
      *number = static_cast<std::uint8_t>(i);
      return TRUE;
    }
  }
  return FALSE;
}

BOOL GetName(DWORD handle, std::string* name, DWORD process_id) {
  name->clear();
  if (!platform::ReadDescriptorTarget(process_id, static_cast<int>(handle), name)) return FALSE;
  // The kernel marks a file deleted while open; a file may also really be
  // named so, which its link count tells.
  constexpr std::string_view kDeleted = " (deleted)";
  if (name->ends_with(kDeleted)) {
    Descriptor descriptor;
    if (!platform::QueryDescriptor(process_id, static_cast<int>(handle), &descriptor) ||
        descriptor.unlinked) {
      name->clear();
      return FALSE;
    }
  }
  return TRUE;
}

BOOL GetFilePositionAndAccess(DWORD handle, std::uint64_t* position, std::uint32_t* access,
                              DWORD process_id) {
  *position = 0;
  *access = 0;
  platform::DescriptorInfo info;
  if (!platform::ReadDescriptorInfo(process_id, static_cast<int>(handle), &info)) return FALSE;
  *position = info.position;
  *access = platform::AccessFromOpenFlags(info.flags);
  return TRUE;
}

BOOL DeviceToDosPath(std::string_view device_path, std::string* path) {
  if (device_path.empty() || device_path[0] != '/') return FALSE;
  path->assign(device_path);
  return TRUE;
}

BOOL IsSupportedHandle(const HandleEntry& entry) {
  if (entry.process_id == platform::CurrentProcessId()) return FALSE;
  if ((entry.granted_access & 0x100000) && (entry.granted_access & 0x4)) return FALSE;
  return TRUE;
}
