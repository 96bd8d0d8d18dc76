// Running part of a test in a child process: as an ordinary user (root's permission checks
// would let everything pass), or with limits, signals and mounts that must not touch the test
// process itself.
#ifndef OMBRIX_ENGINE_TESTING_CHILD_PROCESS_POSIX_H_
#define OMBRIX_ENGINE_TESTING_CHILD_PROCESS_POSIX_H_

#include <sys/types.h>

#include <functional>
#include <vector>

namespace ombrix::test {

// The ordinary user the children become.
inline constexpr uid_t kNobody = 65534;

// Runs `work` in a child process and returns what it returned; -1 when the child died of a
// signal. With `as_ordinary_user` (and a test run as root) the child is kNobody, in its own
// group and the supplementary `groups`.
int InChild(const std::function<int()>& work, bool as_ordinary_user = true,
            const std::vector<gid_t>& groups = {});

// Runs `work` in a child process as `user` (in a group of the same number), when the test runs
// as root; returns what it returned, -1 when the child died of a signal.
int InChildAs(uid_t user, const std::function<int()>& work);

// The signal that ended the last child InChild ran, or 0 when it ended by itself.
int LastChildSignal();

}  // namespace ombrix::test

#endif  // OMBRIX_ENGINE_TESTING_CHILD_PROCESS_POSIX_H_
