// SPDX-License-Identifier: Apache-2.0
#include "files/TargetFile.h"

#include <random>

namespace veltrane {

using namespace fileaccess;

namespace {

/// Creates a new file beside path, named ".NAME.veltrane-XXXXXX", with the
/// permissions a newly created file gets (0666 less the umask). Returns the
/// descriptor, or -1 with errno set.
int createBeside(const std::string& path, std::string& temporary)
{
    const std::string::size_type slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = directory + "." + base + ".veltrane-";
        for (int i = 0; i < 6; ++i)
            temporary += kLetters[random() % (sizeof kLetters - 1)];
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0)
                temporary.clear();
            return fd;
        }
    }
    temporary.clear();
    errno = EEXIST;
    return -1;
}

}  // namespace

int TargetFile::open(const std::string& path, TargetWrite write, TargetPlacement placement)
{
    rollback();
    m_path = path;
    m_write = write;
    m_placement = write == TargetWrite::Append ? TargetPlacement::InPlace : placement;
    m_oldLength = 0;
    m_keepPermissions = false;
    m_begun = false;

    struct stat info {};
    if (m_placement == TargetPlacement::Beside) {
        if (::stat(path.c_str(), &info) == 0) {
            if (S_ISDIR(info.st_mode))
                return EISDIR;
            if (write == TargetWrite::Create)
                return EEXIST;
            m_identity = {info.st_dev, info.st_ino};
            m_permissions = info.st_mode & 07777;
            m_keepPermissions = true;
        } else if (errno != ENOENT) {
            return errno;
        }
        m_fd = UniqueFd(createBeside(path, m_temporary));
        if (!m_fd)
            return errno;
        if (!m_keepPermissions) {
            if (::fstat(m_fd.get(), &info) != 0) {
                const int error = errno;
                m_fd.reset();
                ::unlink(m_temporary.c_str());
                m_temporary.clear();
                return error;
            }
            m_identity = {info.st_dev, info.st_ino};
        }
        m_open = true;
        return 0;
    }

    // In place, opened without truncating it: what the target is must be
    // known before anything of it is lost.
    const int flags = O_WRONLY | O_CLOEXEC | (write == TargetWrite::Create ? O_CREAT | O_EXCL : 0)
                      | (write == TargetWrite::Append ? O_APPEND : 0);
    m_fd = UniqueFd(::open(path.c_str(), flags, 0666));
    if (!m_fd)
        return errno;
    if (::fstat(m_fd.get(), &info) != 0) {
        const int error = errno;
        m_fd.reset();
        if (write == TargetWrite::Create)
            ::unlink(path.c_str());
        return error;
    }
    m_identity = {info.st_dev, info.st_ino};
    m_oldLength = write == TargetWrite::Append ? info.st_size : 0;
    m_open = true;
    return 0;
}

int TargetFile::begin()
{
    if (!m_open)
        return EBADF;
    m_begun = true;
    if (m_placement == TargetPlacement::InPlace && m_write == TargetWrite::Overwrite && ::ftruncate(m_fd.get(), 0) != 0)
        return errno;
    return 0;
}

int TargetFile::commit()
{
    if (!m_open)
        return EBADF;
    int error = 0;
    if (m_placement == TargetPlacement::Beside) {
        if ((m_keepPermissions && ::fchmod(m_fd.get(), m_permissions) != 0) || ::fsync(m_fd.get()) != 0 ||
            !m_fd.reset() || ::rename(m_temporary.c_str(), m_path.c_str()) != 0)
            error = errno;
    } else if (!m_fd.reset()) {
        error = errno;
    }
    if (error != 0) {
        rollback();
        return error;
    }
    m_open = false;
    m_temporary.clear();
    return 0;
}

void TargetFile::rollback()
{
    if (!m_open)
        return;
    m_open = false;
    if (m_placement == TargetPlacement::Beside) {
        m_fd.reset();
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
        return;
    }
    if (m_write == TargetWrite::Create) {
        m_fd.reset();
        ::unlink(m_path.c_str());
        return;
    }
    if (m_write == TargetWrite::Overwrite && !m_begun) {
        m_fd.reset();  // nothing of it was touched
        return;
    }
    // Take back what was written: an appended target keeps what it held
    // before; an overwritten one was emptied and stays so.
    bool cut = m_fd && ::ftruncate(m_fd.get(), m_oldLength) == 0;
    cut = m_fd.reset() && cut;
    if (!cut)  // closed already, or the cut through it failed
        ignoreResult(::truncate(m_path.c_str(), m_oldLength));
}

}  // namespace veltrane
