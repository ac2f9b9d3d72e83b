// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include "common/UserPrompt.h"

// Every message the viewer shows goes through the process-wide ViewerPrompt, so
// tests can answer them without a modal box blocking. Texts are UTF-8.
class ViewerPrompt : public veltrane::UserPrompt {
public:
    /// The plain box: no icon, the application title as caption, one OK button.
    void showMessage(std::string_view text) override = 0;
    /// The information box (record count): information icon, caption "Information".
    virtual void showInformation(const QString& text) = 0;
    /// The error box of an unhandled toolkit error: error icon, application title;
    /// a full stop is added when the text's last character sorts after '.'.
    virtual void showError(const QString& text) = 0;
    /// Asks whether an existing file that cannot be appended to (one XML or
    /// JSON document) is to be replaced; false leaves it alone.
    [[nodiscard]] virtual bool askReplace(const QString& targetPath) = 0;
};

/// The prompt in force: the Qt one unless a test installed another.
ViewerPrompt& Prompt();
/// Installs a prompt (a test's fake); nullptr restores the Qt one.
void SetPrompt(ViewerPrompt* prompt);

/// The title of message boxes: the application's name.
inline constexpr const char* kApplicationTitle = "Veltrane";
