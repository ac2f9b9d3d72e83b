// SPDX-License-Identifier: Apache-2.0
#include "CommandTable.h"

#include <array>

#include "commands/CharsetCommand.h"
#include "commands/CheckCommand.h"
#include "commands/ConvertCommand.h"
#include "commands/CountCommand.h"
#include "commands/ExtractCommand.h"
#include "commands/FetchCommand.h"
#include "commands/FindCommand.h"
#include "commands/FixCommand.h"
#include "commands/IndexCommand.h"
#include "commands/ProfileCommand.h"
#include "commands/ShowCommand.h"

namespace veltrane::cli {

namespace {

const std::array<const CliCommand*, 11> kCommands{
    &kCountCommand,   &kIndexCommand,   &kShowCommand,  &kFindCommand,    &kCharsetCommand,
    &kExtractCommand, &kConvertCommand, &kCheckCommand, &kFixCommand, &kProfileCommand, &kFetchCommand,
};

}  // namespace

std::span<const CliCommand* const> allCommands() { return kCommands; }

const CliCommand* findCommand(std::string_view name)
{
    for (const CliCommand* command : kCommands)
        if (command->name == name)
            return command;
    return nullptr;
}

std::string overallUsage()
{
    std::string text;
    std::string_view lead = "usage: ";
    auto addLine = [&](std::string_view rest) {
        text += lead;
        text += "veltrane-cli ";
        text += rest;
        text += '\n';
        lead = "       ";
    };
    for (const CliCommand* command : kCommands)
        addLine(command->usage);
    addLine("COMMAND --help");
    addLine("--help | --version");
    return text;
}

std::string overallHelp()
{
    std::string text =
        "veltrane-cli: read MARC (ISO 2709) record files from a terminal or a script.\n"
        "\n";
    text += overallUsage();
    text += "\nCommands:\n";
    constexpr std::size_t kNameColumn = 10;
    for (const CliCommand* command : kCommands) {
        text += "  ";
        text += command->name;
        text.append(kNameColumn - command->name.size(), ' ');
        text += command->summary;
        text += '\n';
    }
    text +=
        "\n"
        "Records are numbered from 1. Results go to standard output, messages to\n"
        "standard error. Exit status: 0 success, 1 nothing found or a record that\n"
        "cannot be shown, 2 a usage error or a file that cannot be read or written.\n";
    return text;
}

}  // namespace veltrane::cli
