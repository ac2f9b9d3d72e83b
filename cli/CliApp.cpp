// SPDX-License-Identifier: Apache-2.0
#include "CliApp.h"

#include <clocale>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "CommandSupport.h"
#include "CommandTable.h"
#include "Output.h"

namespace veltrane::cli {

namespace {

int printText(std::string_view text)
{
    StandardOutput output;
    output.write(text);
    return output.flush() ? kExitSuccess : kExitFailure;
}

/// Tells a wrong command line with the usage of every command.
int refuseOverallUsage(std::string_view message)
{
    tellError(message);
    std::fputs(overallUsage().c_str(), stderr);
    return kExitFailure;
}

}  // namespace

int runCli(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    if (arguments.empty())
        return refuseOverallUsage("no command given");

    const std::string_view first = arguments[0];
    if (first == "--help" || first == "-h" || first == "--version") {
        if (arguments.size() > 1)
            return refuseOverallUsage("unexpected argument '" + std::string(arguments[1]) + "'");
        return printText(first == "--version" ? "veltrane-cli " VELTRANE_VERSION "\n" : overallHelp());
    }
    const CliCommand* command = findCommand(first);
    if (command == nullptr)
        return refuseOverallUsage((first.starts_with('-') ? "unknown option '" : "unknown command '") +
                                  std::string(first) + "'");
    return command->run({arguments.begin() + 1, arguments.end()});
}

}  // namespace veltrane::cli
