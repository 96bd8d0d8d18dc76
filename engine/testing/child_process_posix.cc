#include "engine/testing/child_process_posix.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ombrix::test {
namespace {

int last_signal = 0;

int RunInChild(const std::function<int()>& work, bool as_ordinary_user,
               const std::vector<gid_t>& groups, uid_t user) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (as_ordinary_user && ::geteuid() == 0 &&
        (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(user) != 0 ||
         ::setuid(user) != 0)) {
      ::_exit(100);
    }
    ::_exit(work());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  last_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int InChild(const std::function<int()>& work, bool as_ordinary_user,
            const std::vector<gid_t>& groups) {
  return RunInChild(work, as_ordinary_user, groups, kNobody);
}

int InChildAs(uid_t user, const std::function<int()>& work) {
  return RunInChild(work, true, {}, user);
}

int LastChildSignal() { return last_signal; }

}  // namespace ombrix::test
