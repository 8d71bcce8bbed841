// A real child process adds, updates and deletes records and is killed
// with SIGKILL at a random moment; the next start must load the file,
// repairing it when needed, with every record that was whole.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "app/log.h"
#include "db/kiv_db.h"
#include "tests/db/db_test_util.h"

extern char** environ;

namespace {

using db_test::KillOp;
using db_test::KillPath;

constexpr int kAddsPerRound = 5000;
constexpr int kRounds = 10;

// The child, its output pipe and what it has acknowledged so far.
class Child {
 public:
  Child(int round, const std::string& log_path) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    std::string round_text = std::to_string(round);
    std::string adds_text = std::to_string(kAddsPerRound);
    char* argv[] = {const_cast<char*>(DB_KILL_HELPER), round_text.data(), adds_text.data(),
                    const_cast<char*>(log_path.c_str()), nullptr};
    if (::posix_spawn(&pid_, DB_KILL_HELPER, &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    read_fd_ = fds[0];
  }
  ~Child() {
    if (pid_ > 0) Kill();
    if (read_fd_ >= 0) ::close(read_fd_);
  }

  bool started() const { return pid_ > 0; }

  // Reads until the child has started (its first line) and at least
  // `count` acknowledgements arrived, or the pipe ends.
  void WaitFor(int count) {
    while ((lines_ == 0 || acked() < count) && ReadSome()) {
    }
  }

  // SIGKILL, reap, and collect the acknowledgements still in the pipe.
  int Kill() {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    while (ReadSome()) {
    }
    return status;
  }

  int acked() const { return lines_ > 0 ? lines_ - 1 : 0; }

 private:
  bool ReadSome() {
    char buf[4096];
    ssize_t n = ::read(read_fd_, buf, sizeof buf);
    if (n <= 0) return false;
    for (ssize_t i = 0; i < n; ++i) lines_ += buf[i] == '\n';
    return true;
  }

  pid_t pid_ = -1;
  int read_fd_ = -1;
  int lines_ = 0;  // the start line "s", then one number per operation
};

class KivDbKillTest : public db_test::DbTestBase {
 protected:
  // Applies the acknowledged operations of `round` to the model; returns
  // the path of the operation that may have been cut short (empty if none).
  std::string ApplyAcked(int round, int acked) {
    std::vector<KillOp> ops = db_test::KillOps(kAddsPerRound);
    for (int k = 0; k < acked; ++k) Apply(round, ops[k]);
    return acked < static_cast<int>(ops.size()) ? KillPath(round, ops[acked].target) : "";
  }

  void Apply(int round, const KillOp& op) {
    std::string path = KillPath(round, op.target);
    if (op.kind == 'a') model_[path] = {op.target, op.target % 13};
    if (op.kind == 'u') model_[path].play_count = db_test::KillUpdatedPlayCount(op.target);
    if (op.kind == 'd') model_.erase(path);
  }

  // The database holds exactly the model, except that `uncertain` may be
  // in either state; afterwards the model follows the database for it.
  void ExpectModel(const std::string& uncertain) {
    KivDB db;
    std::map<std::string, DBEntry> found;
    DBEntry entry;
    for (std::uint32_t p = db.GetFirstEntry(&entry, FALSE); p; p = db.GetNextEntry(&entry, FALSE))
      found[EntryPath(entry)] = entry;
    EXPECT_EQ(KivDB::ValidCount(), found.size());
    for (const auto& [path, record] : model_) {
      if (path == uncertain) continue;
      auto it = found.find(path);
      ASSERT_NE(it, found.end()) << path;
      EXPECT_EQ(EntryText(it->second.title), "Title " + std::to_string(record.seed)) << path;
      EXPECT_EQ(it->second.play_count, record.play_count) << path;
    }
    for (const auto& [path, record] : found)
      EXPECT_TRUE(model_.count(path) || path == uncertain) << path;
    if (uncertain.empty()) return;
    model_.erase(uncertain);
    auto it = found.find(uncertain);
    if (it != found.end()) {
      int seed = std::atoi(EntryText(it->second.title).substr(6).c_str());
      model_[uncertain] = {seed, it->second.play_count};
    }
  }

  struct Record {
    int seed;
    std::int32_t play_count;
  };
  std::map<std::string, Record> model_;
};

TEST_F(KivDbKillTest, KilledWritersLeaveEveryWholeRecordLoadable) {
  AppLog().SetLogLevel(LEVEL_WARNING);
  std::mt19937 random(20240601);
  std::string child_log = env_.Path("child.log");
  for (int round = 0; round < kRounds; ++round) {
    // Odd rounds start from a header that disagrees with the records, so
    // the child is killed while it repairs the file.
    bool kill_in_repair = round % 2 == 1;
    if (kill_in_repair) {
      std::string bytes = db_test::ReadBytes(DbPath());
      DBHeader header = db_test::ReadHeader(DbPath());
      ++header.valid_count;
      std::memcpy(bytes.data(), &header, sizeof header);
      db_test::WriteBytes(DbPath(), bytes);
    }
    Child child(round, child_log);
    ASSERT_TRUE(child.started());
    // The child starts, loads (and repairs) and then runs its operations:
    // a kill after a random delay lands anywhere in that.
    child.WaitFor(kill_in_repair ? 0 : 1);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
    int status = child.Kill();
    ASSERT_TRUE(WIFSIGNALED(status)) << "child ended by itself: " << status << "\n"
                                     << testing_support::ReadFile(child_log);
    std::string uncertain = ApplyAcked(round, child.acked());

    ASSERT_TRUE(Reinitialise()) << round;
    ExpectModel(uncertain);
    // The load (and repair) left a file that the next start takes as it is.
    KivDB::Shutdown();
    std::string log_before = LogText();
    ASSERT_TRUE(KivDB::Initialise(clock_));
    EXPECT_EQ(LogText().find("Repairing DB...", log_before.size()), std::string::npos);
    KivDB::Shutdown();
  }
  EXPECT_GT(model_.size(), 500u);
}

}  // namespace
