#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "RecordFiles.h"

namespace {

using clitest::PipeSignal;

struct Interruption {
    const char* name;
    int signal;  ///< sent to the tool; 0: the reader closes the pipe
    PipeSignal pipeSignal;
    int expectedSignal;    ///< how the tool ends: by this signal, or
    int expectedExitCode;  ///< (when expectedSignal is 0) with this status
};

void PrintTo(const Interruption& interruption, std::ostream* out) { *out << interruption.name; }

class CliInterruptionTest : public ::testing::TestWithParam<Interruption> {};

TEST_P(CliInterruptionTest, LeavesNoFileBehind)
{
    const Interruption& c = GetParam();
    // Far more display text than a pipe holds: the tool is still writing when
    // the reader goes away or the signal comes.
    constexpr int kCount = 3000;
    std::string bytes;
    for (int k = 1; k <= kCount; ++k)
        bytes += testsupport::MakeRecord({{"001", "rec" + std::to_string(k)}, {"200", std::string(150, 'x')}});
    clitest::Sandbox sandbox;
    std::string file = sandbox.writeFile("many.mrc", bytes);

    int readFd = -1;
    pid_t pid = sandbox.start({"show", file, "1", std::to_string(kCount)}, readFd, c.pipeSignal);
    char first = 0;
    ASSERT_EQ(::read(readFd, &first, 1), 1);
    EXPECT_EQ(first, '0');  // "001rec1"
    std::vector<std::string> running = sandbox.leftovers();  // the index is there while it runs
    EXPECT_NE(std::find(running.begin(), running.end(), "idx0"), running.end());

    if (c.signal != 0)
        ::kill(pid, c.signal);
    ::close(readFd);
    clitest::Finished finished = sandbox.wait(pid);
    EXPECT_EQ(finished.signal, c.expectedSignal);
    if (c.expectedSignal == 0) {
        EXPECT_EQ(finished.exitCode, c.expectedExitCode) << finished.err;
    }
    EXPECT_TRUE(sandbox.leftovers().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Signals, CliInterruptionTest,
    ::testing::Values(Interruption{"interrupt", SIGINT, PipeSignal::Default, SIGINT, 0},
                      Interruption{"closed_pipe_signal_ignored", 0, PipeSignal::Ignored, 0, 2}),
    [](const ::testing::TestParamInfo<Interruption>& info) { return std::string(info.param.name); });

}  // namespace
