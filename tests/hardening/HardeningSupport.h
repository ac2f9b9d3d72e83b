#pragma once

// Helpers of the hardening tests: a prompt that records what the engine told
// the user, and limits of the machine that make writes fail.

#include <signal.h>
#include <sys/resource.h>

#include <string>
#include <string_view>
#include <vector>

#include "UserPrompt.h"

namespace hardening {

/// Answers the overwrite question with a fixed choice and keeps every message.
class RecordingPrompt : public veltrane::UserPrompt {
public:
    explicit RecordingPrompt(veltrane::OverwriteChoice answer = veltrane::OverwriteChoice::Cancel)
        : m_answer(answer)
    {
    }

    void showMessage(std::string_view text) override { messages.emplace_back(text); }
    veltrane::OverwriteChoice askOverwrite(std::string_view) override
    {
        ++questions;
        return m_answer;
    }

    std::vector<std::string> messages;
    int questions = 0;

private:
    veltrane::OverwriteChoice m_answer;
};

/// While alive, no file of this process may grow beyond the given size: a write
/// past it fails as on a full disk (EFBIG; the signal that would kill the
/// process is ignored). Works for root too, unlike permission bits.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        ::signal(SIGXFSZ, m_savedHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    sighandler_t m_savedHandler;
};

}  // namespace hardening
