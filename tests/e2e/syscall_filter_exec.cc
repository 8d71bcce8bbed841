// Runs a program under a seccomp filter built like a service manager's:
//   syscall_filter_exec [--allow "name ..."] [--errno N] [--families "AF_X ..."]
//                       [--deny-write-execute] [--restrict-namespaces] -- program args...
// --allow: only these system calls (others fail with errno N, default EPERM);
// --families: socket() only for these address families (EAFNOSUPPORT);
// --deny-write-execute: no memory both writable and executable, no memory
// made executable later; --restrict-namespaces: no new namespaces.
// Names unknown to this architecture are skipped. Exits 127 when the
// filter cannot be loaded or the program not started.
#include <errno.h>
#include <sched.h>
#include <seccomp.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

int Family(const std::string& name) {
  static const std::pair<const char*, int> kFamilies[] = {{"AF_UNIX", AF_UNIX},
                                                          {"AF_INET", AF_INET},
                                                          {"AF_INET6", AF_INET6},
                                                          {"AF_NETLINK", AF_NETLINK},
                                                          {"AF_PACKET", AF_PACKET}};
  for (const auto& [text, value] : kFamilies)
    if (name == text) return value;
  return -1;
}

bool Fail(const char* what) {
  std::fprintf(stderr, "syscall_filter_exec: %s\n", what);
  return false;
}

// The allow list: everything else fails with `error`.
bool LoadAllowList(const std::vector<std::string>& names, int error) {
  scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ERRNO(static_cast<uint32_t>(error)));
  if (!ctx) return Fail("seccomp_init failed");
  for (const std::string& name : names) {
    const int nr = seccomp_syscall_resolve_name(name.c_str());
    if (nr == __NR_SCMP_ERROR) continue;
    if (seccomp_rule_add(ctx, SCMP_ACT_ALLOW, nr, 0) != 0) return Fail(name.c_str());
  }
  const bool loaded = seccomp_load(ctx) == 0;
  seccomp_release(ctx);
  return loaded || Fail("cannot load the allow list");
}

// The argument checks, as a second filter that allows everything else.
bool LoadArgumentChecks(const std::set<int>& families, bool deny_write_execute,
                        bool restrict_namespaces) {
  scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
  if (!ctx) return Fail("seccomp_init failed");
  bool ok = true;
  if (!families.empty()) {
    for (int f = 0; f < AF_MAX; ++f)
      if (families.count(f) == 0)
        ok &= seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EAFNOSUPPORT), SCMP_SYS(socket), 1,
                               SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(f))) == 0;
    ok &= seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EAFNOSUPPORT), SCMP_SYS(socket), 1,
                           SCMP_A0(SCMP_CMP_GE, static_cast<scmp_datum_t>(AF_MAX))) == 0;
  }
  if (deny_write_execute) {
    const scmp_datum_t wx = PROT_WRITE | PROT_EXEC;
    ok &= seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(mmap), 1,
                           SCMP_A2(SCMP_CMP_MASKED_EQ, wx, wx)) == 0;
    for (int nr : {SCMP_SYS(mprotect), SCMP_SYS(pkey_mprotect)})
      ok &= seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), nr, 1,
                             SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, PROT_EXEC)) == 0;
  }
  if (restrict_namespaces) {
    const scmp_datum_t kFlags[] = {CLONE_NEWNS,   CLONE_NEWCGROUP, CLONE_NEWUTS, CLONE_NEWIPC,
                                   CLONE_NEWUSER, CLONE_NEWPID,    CLONE_NEWNET};
    for (scmp_datum_t flag : kFlags) {
      ok &= seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(unshare), 1,
                             SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
      ok &= seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1,
                             SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
    }
    ok &= seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(setns), 0) == 0;
    // clone3's flags are out of a filter's reach: the C library falls back.
    ok &= seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
  }
  ok = ok && seccomp_load(ctx) == 0;
  seccomp_release(ctx);
  return ok || Fail("cannot load the argument checks");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> allow;
  std::set<int> families;
  int error = EPERM;
  bool deny_write_execute = false, restrict_namespaces = false;
  int i = 1;
  for (; i < argc && std::string(argv[i]) != "--"; ++i) {
    const std::string option = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : "";
    if (option == "--allow") {
      allow = Words(value);
      ++i;
    } else if (option == "--errno") {
      error = std::atoi(value);
      ++i;
    } else if (option == "--families") {
      for (const std::string& name : Words(value))
        if (Family(name) >= 0) families.insert(Family(name));
      ++i;
    } else if (option == "--deny-write-execute") {
      deny_write_execute = true;
    } else if (option == "--restrict-namespaces") {
      restrict_namespaces = true;
    } else {
      std::fprintf(stderr, "syscall_filter_exec: unknown option %s\n", option.c_str());
      return 127;
    }
  }
  if (i + 1 >= argc) return Fail("no program given"), 127;
  // The argument checks first: the allow list might not allow loading them.
  if (!LoadArgumentChecks(families, deny_write_execute, restrict_namespaces)) return 127;
  if (!allow.empty() && !LoadAllowList(allow, error)) return 127;
  ::execv(argv[i + 1], argv + i + 1);
  std::perror("syscall_filter_exec: exec");
  return 127;
}
