// SPDX-License-Identifier: Apache-2.0
#include "TargetOutput.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "CommandSupport.h"

namespace veltrane::cli {

namespace {

// The temporary target, removed when a signal ends the process. Only a fixed
// buffer and a flag, so the handler can read them safely.
char g_partialTarget[PATH_MAX];
volatile sig_atomic_t g_partialTargetActive = 0;

extern "C" void removePartialTargetAndReraise(int signalNumber)
{
    if (g_partialTargetActive)
        ::unlink(g_partialTarget);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signalNumber, &defaultAction, nullptr);
    ::raise(signalNumber);
}

}  // namespace

void TargetOutput::installSignalHandlers()
{
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction old {};
        ::sigaction(signalNumber, nullptr, &old);
        if (old.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = removePartialTargetAndReraise;
        sigemptyset(&action.sa_mask);
        ::sigaction(signalNumber, &action, nullptr);
    }
}

bool TargetOutput::open(const std::string& target, ExistingTargetRule rule, std::string_view refusal,
                        const std::optional<fileaccess::FileIdentity>& recordFile)
{
    m_target = target;
    TargetWrite write = TargetWrite::Create;
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            tellError(quotedName(target) + " is a directory");
            return false;
        }
        if (recordFile && fileaccess::FileIdentity{info.st_dev, info.st_ino} == *recordFile) {
            tellError(quotedName(target) + " is the record file itself; it cannot be a target");
            return false;
        }
        if (rule == ExistingTargetRule::Refuse) {
            tellError(quotedName(target) + " exists; " + std::string(refusal));
            return false;
        }
        write = rule == ExistingTargetRule::Append ? TargetWrite::Append : TargetWrite::Overwrite;
    } else if (errno != ENOENT) {
        tellError("cannot write " + quotedName(target) + ": " + std::strerror(errno));
        return false;
    }
    constexpr std::size_t kBesideNameExtra = std::string_view(".").size() + std::string_view(".veltrane-XXXXXX").size();
    if (target.size() + kBesideNameExtra >= sizeof g_partialTarget) {
        tellError("cannot write " + quotedName(target) + ": the name is too long");
        return false;
    }
    // The file beside and its entry for the signal handler come and go together.
    sigset_t all, previous;
    sigfillset(&all);
    ::sigprocmask(SIG_BLOCK, &all, &previous);
    const int error = m_file.open(target, write, TargetPlacement::Beside);
    if (error == 0 && !m_file.temporaryPath().empty()) {
        const std::string& temporary = m_file.temporaryPath();
        std::memcpy(g_partialTarget, temporary.c_str(), temporary.size() + 1);
        g_partialTargetActive = 1;
    }
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (error != 0) {
        tellError("cannot write " + quotedName(target) + ": " + std::strerror(error));
        return false;
    }
    return true;
}

bool TargetOutput::commit()
{
    const int error = m_file.commit();
    g_partialTargetActive = 0;
    if (error != 0) {
        tellError("cannot write " + quotedName(m_target) + ": " + std::strerror(error));
        return false;
    }
    return true;
}

void TargetOutput::discard()
{
    m_file.rollback();
    g_partialTargetActive = 0;
}

}  // namespace veltrane::cli
