// SPDX-License-Identifier: Apache-2.0
#include "RecordFileRun.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "CommandSupport.h"
#include "TemporaryFiles.h"
#include "files/RecordIndex.h"
#include "iso2709/RecordStream.h"

namespace veltrane::cli {

void TerminalPrompt::showMessage(std::string_view text) { tellError(text); }

OverwriteChoice TerminalPrompt::askOverwrite(std::string_view)
{
    switch (m_existingTarget) {
    case ExistingTarget::Append:
        return OverwriteChoice::Append;
    case ExistingTarget::Overwrite:
        return OverwriteChoice::Overwrite;
    case ExistingTarget::Refuse:
        break;
    }
    return OverwriteChoice::Cancel;
}

RecordFileRun::RecordFileRun(std::string file, ExistingTarget existingTarget)
    : m_file(std::move(file)), m_prompt(existingTarget)
{
}

int RecordFileRun::open(bool needsIndex)
{
    struct stat info {};
    if (::stat(fileName(), &info) != 0) {
        tellError("cannot open " + quotedName(m_file) + ": " + std::strerror(errno));
        return kExitFailure;
    }
    if (S_ISDIR(info.st_mode)) {
        tellError(quotedName(m_file) + " is a directory");
        return kExitFailure;
    }
    // Records are read by position, more than once: a pipe or a device
    // cannot serve that.
    if (!S_ISREG(info.st_mode)) {
        tellError(quotedName(m_file) + " is not a regular file");
        return kExitFailure;
    }
    int fd = ::open(fileName(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        tellError("cannot open " + quotedName(m_file) + ": " + std::strerror(errno));
        return kExitFailure;
    }
    m_recordFd = fileaccess::UniqueFd(fd);
    m_recordFile = info;
    if (!needsIndex)
        return kExitSuccess;

    std::string error;
    std::optional<std::string> createdIndex = createIndexFile(m_prompt, error);
    if (!createdIndex) {
        if (!error.empty())
            tellError(error);
        return kExitFailure;
    }
    m_indexFileName = *createdIndex;
    m_count = BuildRecordIndex(fileName(), indexFileName());
    if (m_count < 0) {
        tellUnreadable();
        return kExitFailure;
    }
    return kExitSuccess;
}

std::optional<int> RecordFileRun::recordNumber(std::string_view text, int maximum)
{
    std::optional<int> number = parseRecordNumber(text, maximum);
    if (!number)
        tellError("invalid record number " + quotedName(text) + ": record number must be between 1 and " +
                  std::to_string(maximum));
    return number;
}

std::optional<std::pair<int, int>> RecordFileRun::recordRange(std::string_view first,
                                                              const std::optional<std::string>& last)
{
    std::optional<int> from = recordNumber(first, m_count);
    if (!from)
        return std::nullopt;
    if (!last)
        return std::pair{*from, *from};
    std::optional<int> to = recordNumber(*last, m_count);
    if (!to)
        return std::nullopt;
    if (*to < *from) {
        tellError("the last record number " + std::to_string(*to) + " is below the first " + std::to_string(*from));
        return std::nullopt;
    }
    return std::pair{*from, *to};
}

bool RecordFileRun::refuseEmptyFile()
{
    if (m_count > 0)
        return false;
    tellError(quotedName(m_file) + " holds no record");
    return true;
}

std::optional<std::int64_t> RecordFileRun::countRecords()
{
    RecordStream stream(m_recordFd.get());
    FramedRecord record;
    for (;;) {
        switch (stream.next(record, false)) {
        case RecordStream::Step::Record:
            continue;
        case RecordStream::Step::End:
            return stream.count();
        case RecordStream::Step::ReadError:
            break;
        }
        tellUnreadable();
        return std::nullopt;
    }
}

void RecordFileRun::tellUnreadable()
{
    tellError("cannot index " + quotedName(m_file) + " (unreadable file or no room in the temporary directory)");
}

int RecordFileRun::finishOutput(int status)
{
    m_output.flush();
    if (!m_output.failed())
        return status;
    // A reader that went away (head, a closed pager) is not worth a message.
    if (m_output.error() != EPIPE)
        tellError(std::string("cannot write the output: ") + std::strerror(m_output.error()));
    return kExitFailure;
}

int runWithTemporaryFiles(const std::function<int()>& command)
{
    installCleanupHandlers();
    const int status = command();
    removeTemporaryFiles();
    return status;
}

}  // namespace veltrane::cli
