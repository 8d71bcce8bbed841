// A stand-in media player for the play monitor's tests: opens the files it
// is given and reads some of them steadily, as a player reads the song it
// plays. The tests copy it to a watched image name ("mpv", "iTunes.exe").
//
//   test_player <chunk bytes> <interval ms> <mode>:<path>...
//
// Modes: r reads steadily (from the start again at the end); s opens for
// reading and never reads (a file held still); w opens for writing only; rw
// opens for reading and writing and reads steadily. "ready" goes to
// standard output once every file is open; the player then runs until it
// is killed.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <chunk bytes> <interval ms> <mode>:<path>...\n", argv[0]);
    return 2;
  }
  const long chunk = std::atol(argv[1]);
  const long interval_ms = std::atol(argv[2]);
  // Descriptors inherited from whatever started the tests (a test runner's
  // log file) would be listed as this player's files: start from 3.
  ::close_range(3, ~0U, 0);
  std::vector<int> readers;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::size_t colon = arg.find(':');
    const std::string mode = arg.substr(0, colon);
    const std::string path = arg.substr(colon + 1);
    int flags = mode == "w" ? O_WRONLY : mode == "rw" ? O_RDWR : O_RDONLY;
    int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
      std::perror(path.c_str());
      return 1;
    }
    if (mode == "r" || mode == "rw") readers.push_back(fd);
  }
  std::printf("ready\n");
  std::fflush(stdout);
  std::vector<char> buffer(static_cast<std::size_t>(chunk));
  for (;;) {
    for (int fd : readers) {
      // At the end it starts again, so a slow test never sees a song end.
      const ssize_t got = ::read(fd, buffer.data(), buffer.size());
      if (got < 0) return 1;
      if (got == 0) ::lseek(fd, 0, SEEK_SET);
    }
    ::usleep(static_cast<useconds_t>(interval_ms * 1000));
  }
}
