// SPDX-License-Identifier: Apache-2.0
// What the benchmarks share: running a peer program (cat, cp) with its output
// thrown away, and the figures of a series of record steps.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
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

/// Where in a file a series of steps starts: its first record, its middle
/// and close enough to its end that the last step shows the last record.
inline std::vector<int> StepStarts(int recordCount, int steps)
{
    return {1, std::max(1, recordCount / 2), std::max(1, recordCount - steps)};
}

/// The median and 95th percentile of step times, in milliseconds.
struct StepFigures {
    double median = 0;
    double p95 = 0;
};

inline StepFigures FiguresOf(std::vector<double> milliseconds)
{
    if (milliseconds.empty())
        return {};
    std::sort(milliseconds.begin(), milliseconds.end());
    const auto at = [&](double share) {
        return milliseconds[std::min(milliseconds.size() - 1, static_cast<std::size_t>(share * static_cast<double>(milliseconds.size())))];
    };
    return {at(0.5), at(0.95)};
}

/// Prints one line per place: today's step, the step under the setting named
/// `checkedName`, and what the second adds to the first against the allowance
/// (medians and 95th percentiles compared alike).
inline void PrintStepComparison(const char* bench, const char* place, const StepFigures& plain,
                                const char* checkedName, const StepFigures& checked, double allowanceMs)
{
    const double addedMedian = checked.median - plain.median;
    const double addedP95 = checked.p95 - plain.p95;
    std::printf("%s: %-6s plain %7.3f ms (p95 %7.3f)  %s %7.3f ms (p95 %7.3f)  adds %+7.3f ms (p95 %+7.3f), "
                "limit %.1f ms %s\n",
                bench, place, plain.median, plain.p95, checkedName, checked.median, checked.p95, addedMedian, addedP95, allowanceMs,
                addedMedian <= allowanceMs && addedP95 <= allowanceMs ? "ok" : "OVER");
}

}  // namespace benchsupport
