#pragma once

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
