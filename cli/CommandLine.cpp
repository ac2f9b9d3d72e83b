#include "CommandLine.h"

#include <array>
#include <cstddef>

#include "CheckCommand.h"
#include "CommandSupport.h"
#include "ConvertCommand.h"

namespace veltrane::cli {

namespace {

struct CommandInfo {
    Command command;
    std::string_view name;
    std::string_view usage;  // after the program name
    std::size_t minOperands;
    std::size_t maxOperands;
    std::string_view description;
};

constexpr std::array<CommandInfo, 6> kCommands{{
    {Command::Count, "count", "count FILE", 1, 1,
     "Prints the number of records in FILE.\n"},
    {Command::Index, "index", "index FILE", 1, 1,
     "Prints the byte offset of every record in FILE, one decimal number a line,\n"
     "then the end offset where the records stop.\n"},
    {Command::Show, "show", "show [--mode 0|1|2] [--charset SET] [--utf8 | --raw] FILE N [M]", 2, 3,
     "Writes the display text of record N, or of records N to M one after\n"
     "another, to standard output: one line per field, tag first, subfields\n"
     "shown as '$', long fields wrapped into indented continuation lines.\n"
     "Into a pipe or a file the text is the records' own bytes; on a terminal it\n"
     "is converted from each record's character set to the terminal's ('?' for a\n"
     "character it cannot show).\n"
     "\n"
     "  --mode 0|1|2   delimiter variant: 0 field terminator 0x1E and subfield\n"
     "                 delimiter 0x1F (default), 1 '#' and '$', 2 0x1E and '$'\n"
     "  --charset SET  the records' character set: auto (default: decided for\n"
     "                 each record), gbk, gb18030, utf-8 or marc-8\n"
     "  --utf8         write the text in UTF-8, wrapped at 77 display columns\n"
     "  --raw          write the records' bytes, even on a terminal\n"},
    {Command::Find, "find",
     "find [--mode 0|1|2] [--charset SET] [--case] [--from N] [--tag TAG] [--all] [--raw] FILE [FILE...] TEXT",
     2, 2,
     "Prints the number of the first record from N on that holds TEXT; with\n"
     "--all, the number of every such record, one a line. A match lies within one\n"
     "field (its tag included); '$' before a letter or digit stands for the\n"
     "subfield delimiter, so '$aTitle' finds subfield a starting with Title.\n"
     "TEXT is converted from the terminal's character set into each record's set\n"
     "and compared there (MARC-8 records as decoded text).\n"
     "\n"
     "With --all, several FILEs may be given: each is searched in turn and each\n"
     "line is then FILE, a tab and the record number. Exit status 0 when any\n"
     "record was found, 1 when none was, 2 when a FILE could not be read (it is\n"
     "told, and the other FILEs are still searched).\n"
     "\n"
     "  --mode 0|1|2   delimiter variant (see 'show --help')\n"
     "  --charset SET  the records' character set (see 'show --help'); a TEXT that\n"
     "                 one given set cannot hold is refused\n"
     "  --case         distinguish upper and lower case letters\n"
     "  --from N       start at record N (default 1), in each FILE\n"
     "  --tag TAG      a match must lie within a field with this three-character\n"
     "                 tag, e.g. 200 or 245\n"
     "  --all          print every matching record, not only the first\n"
     "  --raw          search for the bytes of TEXT as given, unconverted\n"},
    {Command::Charset, "charset", "charset [--mode 0|1|2] FILE [N [M]]", 1, 3,
     "Prints, for every record (or record N, or records N to M), its number, the\n"
     "character set the automatic rules give it (gbk, gb18030, utf-8 or marc-8),\n"
     "the number of the rule that decided, and the count of bytes not valid in\n"
     "that set, separated by tabs.\n"
     "\n"
     "  --mode 0|1|2   delimiter variant (see 'show --help')\n"},
    {Command::Extract, "extract", "extract [--append | --overwrite] FILE A B TARGET", 4, 4,
     "Copies records A to B of FILE byte for byte, separators included, into\n"
     "TARGET, which is created when missing. An existing TARGET is left alone\n"
     "unless one of the options says what to do with it.\n"
     "\n"
     "  --append       add the records after the content of an existing TARGET\n"
     "  --overwrite    replace the content of an existing TARGET\n"},
}};

const CommandInfo& infoOf(Command command)
{
    for (const CommandInfo& info : kCommands)
        if (info.command == command)
            return info;
    return kCommands.front();
}

const CommandInfo* findCommand(std::string_view name)
{
    for (const CommandInfo& info : kCommands)
        if (info.name == name)
            return &info;
    return nullptr;
}

bool isHelpOption(std::string_view argument) { return argument == "--help" || argument == "-h"; }

ParseResult failure(std::string error, std::optional<Command> command)
{
    return {std::nullopt, std::move(error), command};
}

// Applies one option of `command`. An option with a value takes it from
// "--name=value" or from the next argument.
std::string applyOption(Invocation& invocation, std::string_view argument,
                        const std::vector<std::string_view>& arguments, std::size_t& i)
{
    std::string_view name = argument;
    std::optional<std::string_view> attached;
    if (std::size_t equals = argument.find('='); equals != std::string_view::npos) {
        name = argument.substr(0, equals);
        attached = argument.substr(equals + 1);
    }
    const Command command = *invocation.command;
    const bool scans = command == Command::Show || command == Command::Find || command == Command::Charset;
    const bool finds = command == Command::Find;
    const bool shows = command == Command::Show;
    const bool extracts = command == Command::Extract;

    auto takeValue = [&]() -> std::optional<std::string_view> {
        if (attached)
            return attached;
        if (i + 1 < arguments.size())
            return arguments[++i];
        return std::nullopt;
    };
    auto flag = [&](bool allowed, bool& target) -> std::string {
        if (!allowed)
            return "unknown option '" + std::string(name) + "'";
        if (attached)
            return "option '" + std::string(name) + "' takes no value";
        target = true;
        return {};
    };

    if (name == "--mode" && scans) {
        return parseModeValue(takeValue(), invocation.mode);
    }
    if (name == "--from" && finds) {
        std::optional<std::string_view> value = takeValue();
        if (!value)
            return "option '--from' needs a record number";
        invocation.from = std::string(*value);
        return {};
    }
    if (name == "--tag" && finds) {
        std::optional<std::string_view> value = takeValue();
        if (!value || value->size() != 3)
            return "option '--tag' needs a field tag of three characters, e.g. 200";
        invocation.tag = std::string(*value);
        return {};
    }
    if (name == "--charset" && (shows || finds)) {
        std::optional<std::string_view> value = takeValue();
        if (!value)
            return "option '--charset' needs a value: auto, gbk, gb18030, utf-8 or marc-8";
        std::optional<CharsetSetting> setting = ParseCharsetSetting(*value);
        if (!setting)
            return "character set must be auto, gbk, gb18030, utf-8 or marc-8, not '" + std::string(*value) + "'";
        invocation.charset = *setting;
        return {};
    }
    if (name == "--utf8") {
        if (std::string error = flag(shows, invocation.utf8Output); !error.empty())
            return error;
        return invocation.rawText ? "options '--utf8' and '--raw' exclude each other" : "";
    }
    if (name == "--raw" && shows) {
        if (std::string error = flag(true, invocation.rawText); !error.empty())
            return error;
        return invocation.utf8Output ? "options '--utf8' and '--raw' exclude each other" : "";
    }
    if (name == "--case")
        return flag(finds, invocation.caseSensitive);
    if (name == "--all")
        return flag(finds, invocation.allMatches);
    if (name == "--raw")
        return flag(finds, invocation.rawText);
    if ((name == "--append" || name == "--overwrite") && extracts) {
        bool chosen = false;
        if (std::string error = flag(true, chosen); !error.empty())
            return error;
        ExistingTarget wanted = name == "--append" ? ExistingTarget::Append : ExistingTarget::Overwrite;
        if (invocation.existingTarget != ExistingTarget::Refuse && invocation.existingTarget != wanted)
            return "options '--append' and '--overwrite' exclude each other";
        invocation.existingTarget = wanted;
        return {};
    }
    return "unknown option '" + std::string(name) + "'";
}

}  // namespace

ParseResult parseCommandLine(const std::vector<std::string_view>& arguments)
{
    if (arguments.empty())
        return failure("no command given", std::nullopt);

    std::string_view first = arguments[0];
    if (isHelpOption(first) || first == "--version") {
        if (arguments.size() > 1)
            return failure("unexpected argument '" + std::string(arguments[1]) + "'", std::nullopt);
        Invocation invocation;
        invocation.action = isHelpOption(first) ? Invocation::Action::Help : Invocation::Action::Version;
        return {invocation, {}, std::nullopt};
    }
    const CommandInfo* info = findCommand(first);
    if (info == nullptr) {
        if (first.starts_with('-'))
            return failure("unknown option '" + std::string(first) + "'", std::nullopt);
        return failure("unknown command '" + std::string(first) + "'", std::nullopt);
    }

    Invocation invocation;
    invocation.command = info->command;
    std::size_t i = 1;
    bool optionsEnded = false;
    for (; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        if (argument == "--") {
            ++i;
            optionsEnded = true;
            break;
        }
        // A lone "-" and everything after the first operand are operands.
        if (argument.size() < 2 || argument[0] != '-')
            break;
        if (isHelpOption(argument)) {
            invocation.action = Invocation::Action::Help;
            return {invocation, {}, info->command};
        }
        if (std::string error = applyOption(invocation, argument, arguments, i); !error.empty())
            return failure(std::move(error), info->command);
    }

    std::vector<std::string_view> operands(arguments.begin() + static_cast<std::ptrdiff_t>(i), arguments.end());
    // An option typed after the operands would otherwise be taken as an
    // operand and fail in a puzzling way; "--" makes such an operand explicit.
    if (!optionsEnded) {
        for (std::string_view operand : operands)
            if (operand.starts_with("--") && operand.size() > 2)
                return failure("option " + std::string(operand) +
                                   " after the operands: options come first, and '--' before an operand "
                                   "that begins with '-'",
                               info->command);
    }
    if (operands.size() < info->minOperands)
        return failure("missing operand", info->command);
    const bool severalFiles = info->command == Command::Find && operands.size() > info->maxOperands;
    if (severalFiles && !invocation.allMatches)
        return failure("more than one FILE needs --all", info->command);
    if (operands.size() > info->maxOperands && !severalFiles)
        return failure("unexpected operand '" + std::string(operands[info->maxOperands]) + "'", info->command);

    invocation.file = operands[0];
    switch (info->command) {
    case Command::Count:
    case Command::Index:
        break;
    case Command::Show:
        invocation.first = operands[1];
        if (operands.size() > 2)
            invocation.last = std::string(operands[2]);
        break;
    case Command::Find:
        invocation.files.assign(operands.begin(), operands.end() - 1);
        invocation.text = operands.back();
        break;
    case Command::Extract:
        invocation.first = operands[1];
        invocation.last = std::string(operands[2]);
        invocation.target = operands[3];
        break;
    case Command::Charset:
        if (operands.size() > 1)
            invocation.first = operands[1];
        if (operands.size() > 2)
            invocation.last = std::string(operands[2]);
        break;
    }
    return {invocation, {}, info->command};
}

std::string usageText(std::optional<Command> command)
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
    if (command) {
        addLine(infoOf(*command).usage);
        addLine(std::string(infoOf(*command).name) + " --help");
        return text;
    }
    for (const CommandInfo& info : kCommands)
        addLine(info.usage);
    addLine(kConvertUsage);
    addLine(kCheckUsage);
    addLine("COMMAND --help");
    addLine("--help | --version");
    return text;
}

std::string helpText(std::optional<Command> command)
{
    if (command) {
        const CommandInfo& info = infoOf(*command);
        return "usage: veltrane-cli " + std::string(info.usage) + "\n\n" + std::string(info.description);
    }
    std::string text =
        "veltrane-cli: read MARC (ISO 2709) record files from a terminal or a script.\n"
        "\n";
    text += usageText(std::nullopt);
    text +=
        "\n"
        "Commands:\n"
        "  count     print the number of records\n"
        "  index     print the byte offset of every record, then the end offset\n"
        "  show      print the display text of records\n"
        "  find      print the numbers of records that hold a text\n"
        "  extract   copy a range of records into another file\n"
        "  convert   write records as ISO 2709, MARCXML, JSON, JSON Lines, .mrk or text\n"
        "  check     list structural problems of records\n"
        "\n"
        "Records are numbered from 1. Results go to standard output, messages to\n"
        "standard error. Exit status: 0 success, 1 nothing found or a record that\n"
        "cannot be shown, 2 a usage error or a file that cannot be read or written.\n";
    return text;
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

}  // namespace veltrane::cli
