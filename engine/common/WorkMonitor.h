// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>

namespace veltrane {

inline constexpr std::uint64_t kWorkReportInterval = 4 * 1024 * 1024;

/// How a long operation (index build, find, extraction, conversion) reports
/// how far it got and learns that it is to stop. Both are optional. Checked
/// at least every kWorkReportInterval bytes of the record file.
struct WorkMonitor {
    std::stop_token stop;
    /// Bytes of the record file done, and its size; called from the thread the
    /// work runs on, with `done` never going down.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
    /// Bytes between two checks (smaller in tests).
    std::uint64_t interval = kWorkReportInterval;

    [[nodiscard]] bool stopRequested() const { return stop.stop_requested(); }
    void report(std::uint64_t done, std::uint64_t total) const
    {
        if (progress)
            progress(done, total);
    }
};

/// A monitor that never stops and reports nothing.
inline const WorkMonitor& NoMonitor()
{
    static const WorkMonitor none;
    return none;
}

}  // namespace veltrane
