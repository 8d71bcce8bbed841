// A stand-in media player for the play monitor's tests: opens the files it
// is given and reads some of them steadily, as a player reads the song it
// plays. The tests copy it to a watched image name ("mpv", "iTunes.exe").
//
//   test_player <chunk bytes> <interval ms> <mode>[@<ms>]:<path>...
//
// Modes: r reads steadily (from the start again at the end); s opens for
// reading and never reads (a file held still); o reads one chunk when it
// opens, then holds still (the next song of a gapless player); w opens for
// writing only; rw opens for reading and writing and reads steadily. With
// "@<ms>" the file is opened that long after the start, else at once.
// "ready" goes to standard output once the files opened at once are open;
// the player then runs until it is killed.
//
// Signals: SIGUSR1 moves every steadily read file near its end and pauses
// the reading; SIGUSR2 moves them back to their start and reads on (the
// same song played again without closing it).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t to_end = 0;
volatile sig_atomic_t to_start = 0;

struct File {
  std::string mode;
  std::string path;
  long delay_ms = 0;
  int fd = -1;
};

bool Open(File& file, std::vector<char>& buffer) {
  const int flags = file.mode == "w" ? O_WRONLY : file.mode == "rw" ? O_RDWR : O_RDONLY;
  file.fd = ::open(file.path.c_str(), flags);
  if (file.fd < 0) {
    std::perror(file.path.c_str());
    return false;
  }
  if (file.mode == "o" && ::read(file.fd, buffer.data(), buffer.size()) < 0) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <chunk bytes> <interval ms> <mode>[@<ms>]:<path>...\n",
                 argv[0]);
    return 2;
  }
  const long chunk = std::atol(argv[1]);
  const long interval_ms = std::atol(argv[2]);
  // Descriptors inherited from whatever started the tests (a test runner's
  // log file) would be listed as this player's files: start from 3.
  ::close_range(3, ~0U, 0);
  ::signal(SIGUSR1, [](int) { to_end = 1; });
  ::signal(SIGUSR2, [](int) { to_start = 1; });
  std::vector<char> buffer(static_cast<std::size_t>(chunk));
  std::vector<File> files;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::size_t colon = arg.find(':');
    File file;
    file.mode = arg.substr(0, colon);
    file.path = arg.substr(colon + 1);
    if (const std::size_t at = file.mode.find('@'); at != std::string::npos) {
      file.delay_ms = std::atol(file.mode.c_str() + at + 1);
      file.mode.resize(at);
    }
    if (file.delay_ms == 0 && !Open(file, buffer)) return 1;
    files.push_back(file);
  }
  std::printf("ready\n");
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  bool paused = false;
  for (;;) {
    const long elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    const bool jump_end = to_end, jump_start = to_start;
    to_end = 0;
    to_start = 0;
    for (File& file : files) {
      if (file.fd < 0) {
        if (elapsed >= file.delay_ms && !Open(file, buffer)) return 1;
        continue;
      }
      if (file.mode != "r" && file.mode != "rw") continue;
      if (jump_end) ::lseek(file.fd, -(::lseek(file.fd, 0, SEEK_END) / 20), SEEK_END);
      if (jump_start) ::lseek(file.fd, 0, SEEK_SET);
      if (paused && !jump_start) continue;
      // At the end it starts again, so a slow test never sees a song end.
      const ssize_t got = ::read(file.fd, buffer.data(), buffer.size());
      if (got < 0) return 1;
      if (got == 0) ::lseek(file.fd, 0, SEEK_SET);
    }
    if (jump_end) paused = true;
    if (jump_start) paused = false;
    ::usleep(static_cast<useconds_t>(interval_ms * 1000));
  }
}
