#pragma once

// Stand-ins for the user and the disk in engine, hardening and fuzz tests: a
// prompt that records what the engine told the user, and a file size limit
// that makes writes fail.

#include <signal.h>
#include <sys/resource.h>

#include <string>
#include <string_view>
#include <vector>

#include "UserPrompt.h"

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
