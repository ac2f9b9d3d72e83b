// SPDX-License-Identifier: Apache-2.0
#pragma once

// Small POSIX helpers shared by the scan, the extraction and the viewer's
// scratch-file bookkeeping: an owning file descriptor, file identity (device
// and inode, so that two paths or a link to the same file compare equal) and a
// write that either writes everything or reports failure.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <optional>

namespace veltrane::fileaccess {

inline constexpr char kInvalidDriveMessage[] = "Invalid drive or directory";
inline constexpr char kDisplayFileMessage[] = "Display File open error!";
inline constexpr char kIndexFileMessage[] = "Index file open error!";
inline constexpr char kFileOpenMessage[] = "File open error!";

/// For clean-up calls made while a failure is already being reported.
inline void ignoreResult(int) {}

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = other.m_fd;
            other.m_fd = -1;
        }
        return *this;
    }

    [[nodiscard]] int get() const { return m_fd; }
    [[nodiscard]] explicit operator bool() const { return m_fd >= 0; }
    /// Closes the descriptor; false when close reports an error (a delayed
    /// write failure on some file systems).
    bool reset()
    {
        if (m_fd < 0)
            return true;
        const bool ok = ::close(m_fd) == 0;
        m_fd = -1;
        return ok;
    }

private:
    int m_fd;
};

struct FileIdentity {
    dev_t device;
    ino_t inode;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

[[nodiscard]] inline std::optional<FileIdentity> identityOf(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino};
}

/// Identity of the file a path names, following links; nothing when it does
/// not exist.
[[nodiscard]] inline std::optional<FileIdentity> identityOf(const char* path)
{
    struct stat st {};
    if (::stat(path, &st) != 0)
        return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino};
}

/// Writes all n bytes; false on any failure (a full disk included).
[[nodiscard]] inline bool writeAll(int fd, const void* bytes, std::size_t n)
{
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (n > 0) {
        const ssize_t written = ::write(fd, p, n);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0)
            return false;
        p += written;
        n -= static_cast<std::size_t>(written);
    }
    return true;
}

/// Reads up to n bytes at offset, retrying partial reads; the count read (short
/// only at the end of the file), or -1 on an error.
[[nodiscard]] inline ssize_t readAt(int fd, void* bytes, std::size_t n, off_t offset)
{
    auto* p = static_cast<unsigned char*>(bytes);
    std::size_t total = 0;
    while (total < n) {
        const ssize_t got = ::pread(fd, p + total, n - total, offset + static_cast<off_t>(total));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(total);
}

}  // namespace veltrane::fileaccess
