// SPDX-License-Identifier: Apache-2.0
#pragma once

// Small pieces the commands share: messages, usage and help, the walk over
// the arguments, the options several commands take and the record range.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CliCommand.h"
#include "charset/Charset.h"
#include "iso2709/RecordLayout.h"

namespace veltrane::cli {

inline void tellError(std::string_view message)
{
    std::fprintf(stderr, "veltrane-cli: %.*s\n", static_cast<int>(message.size()), message.data());
}

inline std::string quotedName(std::string_view text) { return "'" + std::string(text) + "'"; }

/// Tells a wrong command line with the usage of the command; returns kExitFailure.
int refuseUsage(const CliCommand& command, std::string_view message);

/// Prints the usage of the command, a blank line and its description;
/// returns the exit status (kExitFailure when the output cannot be written).
int printCommandHelp(const CliCommand& command, std::string_view description);

/// Reads a record number: plain decimal digits, nothing else, within
/// [1, maximum]. Nothing when the text is not such a number.
[[nodiscard]] std::optional<int> parseRecordNumber(std::string_view text, int maximum);

/// Reads a record number: plain decimal digits, from 1; nothing otherwise.
[[nodiscard]] inline std::optional<std::int64_t> parseRecordNumberText(std::string_view text)
{
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value >= 1 ? std::optional<std::int64_t>(value) : std::nullopt;
}

/// Walks "--name value", "--name=value" and flags; operands after the
/// options or after "--".
class ArgumentWalker {
public:
    explicit ArgumentWalker(const std::vector<std::string_view>& arguments) : m_arguments(arguments) {}

    /// The next option, or nothing when the options have ended.
    std::optional<std::string_view> nextOption()
    {
        if (m_ended || m_at >= m_arguments.size())
            return std::nullopt;
        std::string_view argument = m_arguments[m_at];
        if (argument == "--") {
            ++m_at;
            m_ended = true;
            return std::nullopt;
        }
        if (argument.size() < 2 || argument[0] != '-')
            return std::nullopt;
        ++m_at;
        m_attached.reset();
        if (const std::size_t equals = argument.find('='); equals != std::string_view::npos) {
            m_attached = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
        }
        return argument;
    }
    /// The value of the option just read.
    std::optional<std::string_view> value()
    {
        if (m_attached)
            return std::exchange(m_attached, std::nullopt);
        if (m_at < m_arguments.size())
            return m_arguments[m_at++];
        return std::nullopt;
    }
    [[nodiscard]] bool hasAttachedValue() const { return m_attached.has_value(); }
    [[nodiscard]] std::vector<std::string_view> operands() const
    {
        return {m_arguments.begin() + static_cast<std::ptrdiff_t>(m_at), m_arguments.end()};
    }
    [[nodiscard]] bool optionsEnded() const { return m_ended; }

private:
    const std::vector<std::string_view>& m_arguments;
    std::size_t m_at = 0;
    bool m_ended = false;
    std::optional<std::string_view> m_attached;
};

/// Reads --mode's value; an error message otherwise.
[[nodiscard]] inline std::string parseModeValue(std::optional<std::string_view> value, DelimiterMode& mode)
{
    if (!value)
        return "option '--mode' needs a value: 0, 1 or 2";
    const std::optional<DelimiterMode> parsed =
        value->size() == 1 ? DelimiterModeFromNumber((*value)[0] - '0') : std::nullopt;
    if (!parsed)
        return "delimiter mode must be 0, 1 or 2, not '" + std::string(*value) + "'";
    mode = *parsed;
    return {};
}

[[nodiscard]] inline std::string parseCharsetValue(std::optional<std::string_view> value, CharsetSetting& setting)
{
    if (!value)
        return "option '--charset' needs a value: auto, gbk, gb18030, utf-8 or marc-8";
    std::optional<CharsetSetting> parsed = ParseCharsetSetting(*value);
    if (!parsed)
        return "unknown character set '" + std::string(*value) + "': auto, gbk, gb18030, utf-8 or marc-8";
    setting = *parsed;
    return {};
}

/// Reads -o's value, the target file of convert and fix; an error message otherwise.
[[nodiscard]] inline std::string parseTargetValue(std::optional<std::string_view> value, std::string& target)
{
    if (!value || value->empty())
        return "option '-o' needs a TARGET file";
    target = *value;
    return {};
}

/// The --charset value of show and find, which word a refusal their own way.
[[nodiscard]] inline std::string parseSearchCharsetValue(std::optional<std::string_view> value,
                                                         CharsetSetting& setting)
{
    if (!value)
        return "option '--charset' needs a value: auto, gbk, gb18030, utf-8 or marc-8";
    std::optional<CharsetSetting> parsed = ParseCharsetSetting(*value);
    if (!parsed)
        return "character set must be auto, gbk, gb18030, utf-8 or marc-8, not '" + std::string(*value) + "'";
    setting = *parsed;
    return {};
}

/// A flag option: refused with a value attached ("--all=yes").
[[nodiscard]] inline std::string takeFlag(const ArgumentWalker& walker, std::string_view name, bool& into)
{
    if (walker.hasAttachedValue())
        return "option '" + std::string(name) + "' takes no value";
    into = true;
    return {};
}

/// An option typed after the operands would otherwise be taken as an operand
/// and fail in a puzzling way; "--" makes such an operand explicit.
[[nodiscard]] inline std::string refuseLateOption(const std::vector<std::string_view>& operands, bool optionsEnded)
{
    if (!optionsEnded)
        for (std::string_view operand : operands)
            if (operand.starts_with("--") && operand.size() > 2)
                return "option " + std::string(operand) +
                       " after the operands: options come first, and '--' before an operand that begins with '-'";
    return {};
}

/// "--help" or "-h", with no value attached.
[[nodiscard]] inline bool isHelpOption(const ArgumentWalker& walker, std::string_view option)
{
    return (option == "--help" || option == "-h") && !walker.hasAttachedValue();
}

[[nodiscard]] inline std::string unknownOption(std::string_view option)
{
    return "unknown option '" + std::string(option) + "'";
}

/// The operands after the options, from minimum to maximum of them; an error
/// message otherwise.
[[nodiscard]] inline std::string takeOperands(const ArgumentWalker& walker, std::size_t minimum, std::size_t maximum,
                                              std::vector<std::string_view>& operands)
{
    operands = walker.operands();
    if (std::string error = refuseLateOption(operands, walker.optionsEnded()); !error.empty())
        return error;
    if (operands.size() < minimum)
        return "missing operand";
    if (operands.size() > maximum)
        return "unexpected operand '" + std::string(operands[maximum]) + "'";
    return {};
}

/// Operands FILE [A [B]] into file and range; an error message otherwise.
[[nodiscard]] inline std::string parseFileAndRange(const std::vector<std::string_view>& operands, bool optionsEnded,
                                                   std::string& file, std::int64_t& first, std::int64_t& last)
{
    if (std::string error = refuseLateOption(operands, optionsEnded); !error.empty())
        return error;
    if (operands.empty())
        return "missing operand";
    if (operands.size() > 3)
        return "unexpected operand '" + std::string(operands[3]) + "'";
    file = operands[0];
    if (operands.size() > 1) {
        std::optional<std::int64_t> a = parseRecordNumberText(operands[1]);
        if (!a)
            return "invalid record number '" + std::string(operands[1]) + "': record numbers start at 1";
        first = last = *a;
    }
    if (operands.size() > 2) {
        std::optional<std::int64_t> b = parseRecordNumberText(operands[2]);
        if (!b)
            return "invalid record number '" + std::string(operands[2]) + "': record numbers start at 1";
        if (*b < first)
            return "the last record number " + std::string(operands[2]) + " is below the first " +
                   std::string(operands[1]);
        last = *b;
    }
    return {};
}

/// Text as a JSON string, quotes included: quote, backslash and control
/// characters escaped, other bytes as they are.
[[nodiscard]] std::string jsonString(std::string_view text);

}  // namespace veltrane::cli
