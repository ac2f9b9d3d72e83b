// SPDX-License-Identifier: Apache-2.0
#pragma once

// Stand-ins for the user and the disk in engine, hardening and fuzz tests: a
// prompt that records what the engine told the user, a watch on long work's
// progress that can stop it, and a file size limit that makes writes fail.

#include <signal.h>
#include <sys/resource.h>

#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "common/UserPrompt.h"
#include "common/WorkMonitor.h"

namespace testsupport {

/// Answers the overwrite question with a fixed choice and keeps every message.
struct RecordingPrompt : veltrane::UserPrompt {
    explicit RecordingPrompt(veltrane::OverwriteChoice a = veltrane::OverwriteChoice::Cancel) : answer(a) {}
    void showMessage(std::string_view text) override { messages.emplace_back(text); }
    veltrane::OverwriteChoice askOverwrite(std::string_view target) override
    {
        ++questions;
        askedAbout = target;
        return answer;
    }

    veltrane::OverwriteChoice answer;
    std::vector<std::string> messages;
    int questions = 0;
    std::string askedAbout;
};

/// Counts the progress reports of one run of long work and asks it to stop
/// at report number stopAt (0: never); checks that the reports only rise and
/// stay within the total.
struct ReportWatch {
    explicit ReportWatch(int stopAt = 0) : m_stopAt(stopAt)
    {
        monitor.stop = m_source.get_token();
        monitor.interval = 4096;
        monitor.progress = [this](std::uint64_t done, std::uint64_t total) {
            if (done < last || done > total)
                rising = false;
            last = done;
            lastTotal = total;
            if (++reports == m_stopAt)
                m_source.request_stop();
        };
    }

    veltrane::WorkMonitor monitor;
    int reports = 0;
    std::uint64_t last = 0, lastTotal = 0;
    bool rising = true;

private:
    int m_stopAt;
    std::stop_source m_source;
};

/// While alive, no file of this process may grow beyond the given size (0: no
/// limit): a write past it fails as on a full disk (EFBIG; SIGXFSZ is ignored).
/// Works for root too, unlike permission bits.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : m_handler(::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        const rlimit limit{bytes != 0 ? bytes : m_saved.rlim_cur, m_saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &m_saved); ::signal(SIGXFSZ, m_handler); }

private:
    sighandler_t m_handler;
    rlimit m_saved{};
};

}  // namespace testsupport
