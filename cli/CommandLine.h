#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "charset/Charset.h"
#include "iso2709/RecordLayout.h"

namespace veltrane::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitNothingFound = 1;  ///< find found nothing, or show met an unreadable record
inline constexpr int kExitFailure = 2;       ///< usage errors and files that cannot be read or written

enum class Command { Count, Index, Show, Find, Extract, Charset };

/// What to do with an extraction target that exists already.
enum class ExistingTarget { Refuse, Append, Overwrite };

/// One parsed command line. Record numbers stay text until the record count
/// is known, so that a bad one can be told with the valid range.
struct Invocation {
    enum class Action { Run, Help, Version };

    Action action = Action::Run;
    std::optional<Command> command;  ///< empty for the overall help and --version

    DelimiterMode mode = dmNormal;  ///< delimiter variant
    bool caseSensitive = false;
    bool allMatches = false;
    bool rawText = false;   ///< find: TEXT as bytes; show: the display bytes even on a terminal
    bool utf8Output = false;  ///< show --utf8
    CharsetSetting charset = CharsetSetting::Auto;
    std::optional<std::string> from;
    ExistingTarget existingTarget = ExistingTarget::Refuse;

    std::string file;
    /// find: every FILE (several only with --all); the first is also `file`.
    std::vector<std::string> files;
    std::string tag;    ///< find --tag: three tag bytes, or empty for any field
    std::string first;  ///< show N, extract A
    std::optional<std::string> last;  ///< show M, extract B
    std::string text;    ///< find TEXT
    std::string target;  ///< extract TARGET
};

/// Either an invocation or the reason the command line is wrong (told together
/// with the usage of `command` when it is known).
struct ParseResult {
    std::optional<Invocation> invocation;
    std::string error;
    std::optional<Command> command;
};

/// Parses the arguments after the program name. Options come after the command
/// and before the operands; "--" ends them.
[[nodiscard]] ParseResult parseCommandLine(const std::vector<std::string_view>& arguments);

/// The usage lines of one command, or of every command.
[[nodiscard]] std::string usageText(std::optional<Command> command);
/// The full help of one command, or the overall help.
[[nodiscard]] std::string helpText(std::optional<Command> command);

/// Reads a record number: plain decimal digits, nothing else, within
/// [1, maximum]. Nothing when the text is not such a number.
[[nodiscard]] std::optional<int> parseRecordNumber(std::string_view text, int maximum);

}  // namespace veltrane::cli
