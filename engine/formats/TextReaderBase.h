// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the readers of the text formats share: the file read a block at a time,
// the limits that tell a text that is not a record file, and failures told
// with the byte offset where they were met.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "formats/RecordFormats.h"

namespace veltrane::textreading {

inline constexpr std::size_t kBlockSize = 256 * 1024;
// No element, line or string of a record comes near this; past it the text is
// not a record file and reading stops instead of growing without bound.
inline constexpr std::size_t kMaxTokenLength = 4 * 1024 * 1024;
inline constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
inline constexpr std::string_view kBlankLeader = "                        ";  // 24 blanks

/// The value of a hexadecimal digit; -1 for any other character.
[[nodiscard]] int hexValue(int c);

/// The file a block at a time, read one byte at a time; or bytes already in
/// memory (a reply received whole), which are then its one block.
class ByteSource {
public:
    static constexpr int kEnd = -1;
    static constexpr int kError = -2;

    explicit ByteSource(int fd) : m_fd(fd), m_block(new unsigned char[kBlockSize]) {}
    /// Reads `bytes`, which must outlive the source.
    explicit ByteSource(std::string_view bytes)
        : m_memory(reinterpret_cast<const unsigned char*>(bytes.data())), m_length(bytes.size())
    {
    }

    int peek()
    {
        if (m_at == m_length && !fill())
            return m_failed ? kError : kEnd;
        return m_memory != nullptr ? m_memory[m_at] : m_block[m_at];
    }
    int get()
    {
        const int c = peek();
        if (c >= 0) {
            ++m_at;
            ++m_position;
        }
        return c;
    }
    [[nodiscard]] bool failed() const { return m_failed; }
    [[nodiscard]] std::uint64_t position() const { return m_position; }

private:
    bool fill();

    int m_fd = -1;
    std::unique_ptr<unsigned char[]> m_block;
    const unsigned char* m_memory = nullptr;
    std::size_t m_at = 0, m_length = 0;
    std::uint64_t m_position = 0;
    bool m_failed = false;
};

/// A reader of one text file's bytes: where it stands, and failures told with
/// the byte offset where they were met.
class SourceReader : public RecordReader {
public:
    explicit SourceReader(int fd) : m_source(fd) {}
    explicit SourceReader(std::string_view bytes) : m_source(bytes) {}

    std::uint64_t position() const override { return m_source.position(); }

protected:
    bool fail(std::string message)
    {
        m_message = "byte " + std::to_string(m_source.position()) + ": " + std::move(message);
        return false;
    }
    Step formatError(std::string message)
    {
        fail(std::move(message));
        return Step::FormatError;
    }

    ByteSource m_source;
};

}  // namespace veltrane::textreading
