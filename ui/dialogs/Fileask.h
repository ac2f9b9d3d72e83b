// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "common/UserPrompt.h"
#include "dialogs/DialogFrame.h"

class QLabel;
class QPushButton;

/// The overwrite question shown before an extraction writes to an existing file.
/// Results: 1 overwrite, 2 append, 3 cancel (also its close box and Esc).
class TFormSaveAsk : public TModalDialog {
    Q_OBJECT
public:
    explicit TFormSaveAsk(QWidget* owner);

    QLabel* Label1;
    QPushButton* BtnAppend;
    QPushButton* BtnOverwrite;
    QPushButton* BtnCancel;

public slots:
    void BtnOverwriteClick();
    void BtnAppendClick();
    void BtnCancelClick();
    /// Esc and the close box must not change the file: they cancel (3).
    void reject() override;
};

/// Shows a new TFormSaveAsk owned by owner and returns the user's answer:
/// overwrite, append, or cancel for anything else.
veltrane::OverwriteChoice AskOverwrite(QWidget* owner);
