// SPDX-License-Identifier: Apache-2.0
#include "commands/CountCommand.h"

#include "CommandSupport.h"
#include "RecordFileRun.h"

namespace veltrane::cli {

namespace {

constexpr std::string_view kCountHelp = "Prints the number of records in FILE.\n";

int runCount(const std::vector<std::string_view>& arguments)
{
    ArgumentWalker walker(arguments);
    while (std::optional<std::string_view> option = walker.nextOption()) {
        if (isHelpOption(walker, *option))
            return printCommandHelp(kCountCommand, kCountHelp);
        return refuseUsage(kCountCommand, unknownOption(*option));
    }
    std::vector<std::string_view> operands;
    if (std::string error = takeOperands(walker, 1, 1, operands); !error.empty())
        return refuseUsage(kCountCommand, error);

    return runWithTemporaryFiles([&] {
        // Counting frames the records as it reads them and needs no index.
        RecordFileRun run{std::string(operands[0])};
        if (int status = run.open(false); status != kExitSuccess)
            return status;
        int status = kExitFailure;
        if (const std::optional<std::int64_t> count = run.countRecords()) {
            run.output().writeLine(static_cast<unsigned long long>(*count));
            status = kExitSuccess;
        }
        return run.finishOutput(status);
    });
}

}  // namespace

const CliCommand kCountCommand{"count", "count FILE", "print the number of records", runCount};

}  // namespace veltrane::cli
