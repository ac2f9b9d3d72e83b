// SPDX-License-Identifier: Apache-2.0
#include "CommandSupport.h"

#include <cstdio>

#include "Output.h"

namespace veltrane::cli {

int refuseUsage(const CliCommand& command, std::string_view message)
{
    tellError(message);
    const std::string usage = "usage: veltrane-cli " + std::string(command.usage) + "\n       veltrane-cli " +
                              std::string(command.name) + " --help\n";
    std::fputs(usage.c_str(), stderr);
    return kExitFailure;
}

int printCommandHelp(const CliCommand& command, std::string_view description)
{
    StandardOutput output;
    output.write("usage: veltrane-cli ");
    output.write(command.usage);
    output.write("\n\n");
    output.write(description);
    return output.flush() ? kExitSuccess : kExitFailure;
}

std::optional<int> parseRecordNumber(std::string_view text, int maximum)
{
    if (text.empty())
        return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > maximum)
            return std::nullopt;
    }
    if (value < 1)
        return std::nullopt;
    return static_cast<int>(value);
}

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char hex[7];
            std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace veltrane::cli
