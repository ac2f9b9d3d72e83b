// SPDX-License-Identifier: Apache-2.0
#include "TemporaryFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>

#include "files/RecordIndex.h"

namespace veltrane::cli {

namespace {

// The handler may only read what it finds here: fixed buffers, each valid
// while its flag is set. Both are set and cleared with the signals blocked.
// The file's identity is kept too: a name the engine already removed may have
// been taken by another process since, and that file is not ours to remove.
// An open descriptor keeps the inode allocated, so its number cannot be
// handed to that other file.
struct TrackedPath {
    char path[PATH_MAX];
    int descriptor;
    dev_t device;
    ino_t inode;
    volatile sig_atomic_t active;
};

TrackedPath g_indexFile;

constexpr std::array<int, 4> kCleanupSignals{SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void removeTracked(TrackedPath& tracked)
{
    if (!tracked.active)
        return;
    struct stat info;
    if (::lstat(tracked.path, &info) == 0 && info.st_dev == tracked.device && info.st_ino == tracked.inode)
        ::unlink(tracked.path);
    ::close(tracked.descriptor);
    tracked.active = 0;
}

extern "C" void cleanUpAndReraise(int signalNumber)
{
    removeTracked(g_indexFile);
    // Back to the default action, so the parent sees the process ended by the
    // signal it sent; the signal is blocked in here and is delivered on return.
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signalNumber, &defaultAction, nullptr);
    ::raise(signalNumber);
}

/// Blocks the cleanup signals for its lifetime, so a file and its tracking
/// entry come and go together.
class SignalBlock {
public:
    SignalBlock()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kCleanupSignals)
            sigaddset(&set, s);
        ::sigprocmask(SIG_BLOCK, &set, &m_previous);
    }
    ~SignalBlock() { ::sigprocmask(SIG_SETMASK, &m_previous, nullptr); }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

private:
    sigset_t m_previous;
};

bool track(TrackedPath& tracked, const std::string& path)
{
    if (path.size() >= sizeof tracked.path)
        return false;
    int descriptor = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info;
    if (descriptor < 0 || ::fstat(descriptor, &info) != 0) {
        if (descriptor >= 0)
            ::close(descriptor);
        return false;
    }
    std::memcpy(tracked.path, path.c_str(), path.size() + 1);
    tracked.descriptor = descriptor;
    tracked.device = info.st_dev;
    tracked.inode = info.st_ino;
    tracked.active = 1;
    return true;
}

}  // namespace

void installCleanupHandlers()
{
    struct sigaction action {};
    action.sa_handler = cleanUpAndReraise;
    sigemptyset(&action.sa_mask);
    for (int s : kCleanupSignals)
        sigaddset(&action.sa_mask, s);
    for (int s : kCleanupSignals) {
        struct sigaction previous {};
        ::sigaction(s, nullptr, &previous);
        if (previous.sa_handler != SIG_IGN)
            ::sigaction(s, &action, nullptr);
    }
}

std::optional<std::string> createIndexFile(UserPrompt& prompt, std::string& error)
{
    SignalBlock block;
    std::optional<std::string> name = CreateIndexName(prompt);
    if (name && !track(g_indexFile, *name)) {
        ::unlink(name->c_str());
        error = "cannot keep track of the index file " + *name;
        return std::nullopt;
    }
    return name;
}

void removeTemporaryFiles()
{
    SignalBlock block;
    removeTracked(g_indexFile);
}

}  // namespace veltrane::cli
