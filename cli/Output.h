// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string_view>

namespace veltrane::cli {

/// Buffered writer on standard output that notices a failed write (a closed
/// pipe, a full disk) and then drops everything after it, so the caller can
/// stop at its next check and clean up.
class StandardOutput {
public:
    StandardOutput() = default;
    StandardOutput(const StandardOutput&) = delete;
    StandardOutput& operator=(const StandardOutput&) = delete;

    bool write(std::string_view bytes);
    bool writeLine(unsigned long long number);
    /// Writes out what is buffered. False once any write has failed.
    bool flush();

    [[nodiscard]] bool failed() const { return m_error != 0; }
    /// errno of the first failed write; 0 when none failed.
    [[nodiscard]] int error() const { return m_error; }

private:
    bool writeOut(const char* bytes, std::size_t length);

    static constexpr std::size_t kBufferSize = 64 * 1024;
    char m_buffer[kBufferSize];
    std::size_t m_used = 0;
    int m_error = 0;
};

}  // namespace veltrane::cli
