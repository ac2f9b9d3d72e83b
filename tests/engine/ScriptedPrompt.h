#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <string>
#include <string_view>
#include <vector>

#include "UserPrompt.h"

/// Records every message and overwrite question, and answers the question as
/// told.
class ScriptedPrompt : public veltrane::UserPrompt {
public:
    explicit ScriptedPrompt(veltrane::OverwriteChoice answer = veltrane::OverwriteChoice::Cancel) : m_answer(answer) {}

    void showMessage(std::string_view text) override { messages.emplace_back(text); }
    veltrane::OverwriteChoice askOverwrite(std::string_view targetPath) override
    {
        questions.emplace_back(targetPath);
        return m_answer;
    }

    std::vector<std::string> messages;
    std::vector<std::string> questions;

private:
    veltrane::OverwriteChoice m_answer;
};

/// Limits the size of files this process writes, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : m_handler(::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        ::signal(SIGXFSZ, m_handler);
    }

private:
    sighandler_t m_handler;
    rlimit m_saved{};
};

inline std::string Joined(const std::vector<std::string>& parts, const std::string& separator = "")
{
    std::string all;
    for (const std::string& part : parts)
        all += part + separator;
    return all;
}
