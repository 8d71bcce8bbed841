#include "playmon/counted_plays.h"

#include <charconv>
#include <cstdio>

#include "app/log.h"
#include "platform/file_io.h"
#include "platform/folders.h"

namespace {

constexpr const char* kLedgerName = "playmon.counted";
constexpr std::size_t kLedgerMaxBytes = 1 << 20;

// The next blank-separated number of `line`, consumed.
bool TakeNumber(std::string_view& line, std::uint64_t* value) {
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  auto [end, err] = std::from_chars(line.data(), line.data() + line.size(), *value);
  if (err != std::errc() || end == line.data()) return false;
  line.remove_prefix(static_cast<std::size_t>(end - line.data()));
  return !line.empty() && line.front() == ' ';
}

}  // namespace

bool NearEnd(std::uint64_t position, std::uint64_t size) {
  return size > 0 && position >= size - size / 10;
}

bool NearStart(std::uint64_t position, std::uint64_t size) {
  return size > 0 && position <= size / 4;
}

std::string SerializeCountedPlays(const CountedPlayMap& plays) {
  std::string text;
  for (const auto& [instance, play] : plays) {
    char numbers[128];
    std::snprintf(numbers, sizeof numbers, "%u %llu %llu %llu %d ", instance.pid,
                  static_cast<unsigned long long>(instance.start),
                  static_cast<unsigned long long>(instance.device),
                  static_cast<unsigned long long>(instance.inode), play.reached_end ? 1 : 0);
    text += numbers;
    // A line per instance: a line break in a path (legal, if rare) is
    // not written, the path being only for a reader of the file.
    for (char c : play.path) text += c == '\n' ? '?' : c;
    text += '\n';
  }
  return text;
}

CountedPlayMap ParseCountedPlays(std::string_view text) {
  CountedPlayMap plays;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    std::uint64_t pid = 0, reached = 0;
    OpenInstance instance;
    if (!TakeNumber(line, &pid) || !TakeNumber(line, &instance.start) ||
        !TakeNumber(line, &instance.device) || !TakeNumber(line, &instance.inode) ||
        !TakeNumber(line, &reached) || pid == 0 || pid > 0xFFFFFFFFu || reached > 1)
      continue;
    instance.pid = static_cast<std::uint32_t>(pid);
    CountedPlay& play = plays[instance];
    play.reached_end = reached == 1;
    play.path = std::string(line.substr(1));
  }
  return plays;
}

CountedPlays& CountedPlays::Program() {
  static CountedPlays program(platform::DataDir() + "/" + kLedgerName);
  return program;
}

CountedPlays::CountedPlays(std::string file) : file_(std::move(file)) {
  if (file_.empty()) return;
  std::string text;
  if (platform::ReadFileLimited(file_, kLedgerMaxBytes, &text) == 0)
    plays_ = ParseCountedPlays(text);
}

bool CountedPlays::Contains(const OpenInstance& instance) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return plays_.count(instance) != 0;
}

void CountedPlays::Add(const OpenInstance& instance, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  plays_[instance] = CountedPlay{false, path};
  SaveLocked();
}

FollowResult CountedPlays::Follow(const OpenInstance& instance, std::uint64_t position,
                                  std::uint64_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = plays_.find(instance);
  if (found == plays_.end()) return FollowResult::kNotCounted;
  if (found->second.reached_end && NearStart(position, size)) {
    plays_.erase(found);
    SaveLocked();
    return FollowResult::kPlayedAgain;
  }
  if (!found->second.reached_end && NearEnd(position, size)) {
    found->second.reached_end = true;
    SaveLocked();
  }
  return FollowResult::kCounted;
}

void CountedPlays::KeepOnly(const std::set<OpenInstance>& open) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::erase_if(plays_, [&](const auto& item) { return open.count(item.first) == 0; }) > 0)
    SaveLocked();
}

std::size_t CountedPlays::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return plays_.size();
}

void CountedPlays::SaveLocked() {
  if (file_.empty()) return;
  // A ledger that cannot be written still works for this run; only a new
  // start of the program could count a playing song once more.
  if (const int err = platform::ReplaceFileContents(file_, SerializeCountedPlays(plays_)); err != 0)
    AppLog().LogDetail("CountedPlays: could not save", platform::ErrnoText(err), LEVEL_WARNING,
                       MODULE_PLAY_MONITOR);
}
