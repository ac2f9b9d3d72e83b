// SPDX-License-Identifier: Apache-2.0
#include "RecordsToTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace veltrane::cli {

int RecordsToTarget::open(bool fileMustBeRegular)
{
    const std::string& file = m_arguments.file;
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        tellError("cannot open " + quotedName(file) + ": " + std::strerror(errno));
        return kExitFailure;
    }
    if (S_ISDIR(info.st_mode)) {
        tellError(quotedName(file) + " is a directory");
        return kExitFailure;
    }
    if (fileMustBeRegular && !S_ISREG(info.st_mode)) {
        tellError(quotedName(file) + " is not a regular file");
        return kExitFailure;
    }
    m_input = fileaccess::UniqueFd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    const std::optional<fileaccess::FileIdentity> recordFile =
        m_input ? fileaccess::identityOf(m_input.get()) : std::nullopt;
    if (!recordFile) {
        tellError("cannot open " + quotedName(file) + ": " + std::strerror(errno));
        return kExitFailure;
    }

    if (!m_arguments.target.empty()) {
        TargetOutput::installSignalHandlers();
        if (!m_target.open(m_arguments.target,
                           m_arguments.overwrite ? ExistingTargetRule::Overwrite : ExistingTargetRule::Refuse,
                           "give --overwrite to replace it", recordFile))
            return kExitFailure;
        m_outputFd = m_target.fd();
        return kExitSuccess;
    }
    if (std::optional<fileaccess::FileIdentity> out = fileaccess::identityOf(STDOUT_FILENO);
        out && *out == *recordFile) {
        tellError("standard output is the record file itself; it cannot be a target");
        return kExitFailure;
    }
    m_outputFd = STDOUT_FILENO;
    return kExitSuccess;
}

int RecordsToTarget::failedToRead(int error) const
{
    tellError("cannot read " + quotedName(m_arguments.file) + ": " + std::strerror(error));
    return kExitFailure;
}

int RecordsToTarget::failedToWrite(int error) const
{
    const bool toStandardOutput = m_arguments.target.empty();
    // A reader that went away (head, a closed pager) is not worth a message.
    if (!(toStandardOutput && error == EPIPE))
        tellError("cannot write " + (toStandardOutput ? std::string("the output") : quotedName(m_arguments.target)) +
                  ": " + std::strerror(error));
    return kExitFailure;
}

bool RecordsToTarget::commit()
{
    return m_arguments.target.empty() || m_target.commit();
}

}  // namespace veltrane::cli
