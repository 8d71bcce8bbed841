// The password prompt on a real pseudo-terminal: the echo goes off while
// the secret is typed and comes back, also when a signal ends the program
// at the prompt.
#include "platform/terminal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

bool Echoes(int master) {
  termios t{};
  return ::tcgetattr(master, &t) == 0 && (t.c_lflag & ECHO) != 0;
}

// Waits up to five seconds for `done`.
template <typename Fn>
bool WaitFor(Fn done) {
  for (int i = 0; i < 500 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

TEST(TerminalTest, ASignalAtThePasswordPromptGivesTheEchoBack) {
  for (int signo : {SIGINT, SIGTERM}) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave_name = ::ptsname(master);
    ASSERT_TRUE(Echoes(master));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::setsid();
      const int slave = ::open(slave_name.c_str(), O_RDWR);
      if (slave < 0) ::_exit(3);
      ::ioctl(slave, TIOCSCTTY, 0);
      ::dup2(slave, STDIN_FILENO);
      ::dup2(slave, STDERR_FILENO);
      std::string secret;
      platform::ReadSecretLine("KIV password: ", &secret);
      ::_exit(0);
    }
    EXPECT_TRUE(WaitFor([&] { return !Echoes(master); })) << signo;
    ::kill(child, signo);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signo) << status;
    EXPECT_TRUE(Echoes(master)) << "signal " << signo;
    ::close(master);
  }
}

}  // namespace
