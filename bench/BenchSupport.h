// SPDX-License-Identifier: Apache-2.0
// What the benchmarks share: running a peer program (cat, cp) with its output
// thrown away.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace benchsupport {

/// Runs program with args (args[0] being its name) and its output thrown
/// away; false when it fails.
inline bool RunQuietly(const char* program, std::vector<const char*> args)
{
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execvp(program, const_cast<char* const*>(args.data()));
        ::_exit(127);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace benchsupport
