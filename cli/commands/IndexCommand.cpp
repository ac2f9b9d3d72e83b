// SPDX-License-Identifier: Apache-2.0
#include "commands/IndexCommand.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "CommandSupport.h"
#include "RecordFileRun.h"
#include "files/IndexFile.h"

namespace veltrane::cli {

namespace {

constexpr std::string_view kIndexHelp =
    "Prints the byte offset of every record in FILE, one decimal number a line,\n"
    "then the end offset where the records stop.\n";

/// Prints the index front to back in blocks: memory stays fixed whatever the
/// number of records.
int printIndex(RecordFileRun& run)
{
    int fd = ::open(run.indexFileName(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        tellError(std::string("cannot read the index: ") + std::strerror(errno));
        return kExitFailure;
    }
    StandardOutput& output = run.output();
    const std::uint64_t wanted = static_cast<std::uint64_t>(run.count()) + 1;  // the sentinel ends it
    std::uint64_t printed = 0;
    unsigned char block[kIndexEntrySize * 4096];
    std::size_t kept = 0;
    while (printed < wanted && !output.failed()) {
        ssize_t n = ::read(fd, block + kept, sizeof block - kept);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        std::size_t available = kept + static_cast<std::size_t>(n);
        std::size_t used = 0;
        for (; used + kIndexEntrySize <= available && printed < wanted; used += kIndexEntrySize, ++printed)
            output.writeLine(DecodeIndexEntry(block + used));
        kept = available - used;
        std::memmove(block, block + used, kept);
    }
    ::close(fd);
    if (printed < wanted && !output.failed()) {
        tellError("cannot read the index: it ends early");
        return kExitFailure;
    }
    return kExitSuccess;
}

int runIndex(const std::vector<std::string_view>& arguments)
{
    ArgumentWalker walker(arguments);
    while (std::optional<std::string_view> option = walker.nextOption()) {
        if (isHelpOption(walker, *option))
            return printCommandHelp(kIndexCommand, kIndexHelp);
        return refuseUsage(kIndexCommand, unknownOption(*option));
    }
    std::vector<std::string_view> operands;
    if (std::string error = takeOperands(walker, 1, 1, operands); !error.empty())
        return refuseUsage(kIndexCommand, error);

    return runWithTemporaryFiles([&] {
        RecordFileRun run{std::string(operands[0])};
        if (int status = run.open(true); status != kExitSuccess)
            return status;
        return run.finishOutput(printIndex(run));
    });
}

}  // namespace

const CliCommand kIndexCommand{"index", "index FILE",
                               "print the byte offset of every record, then the end offset", runIndex};

}  // namespace veltrane::cli
