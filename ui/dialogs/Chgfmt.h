// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "dialogs/DialogFrame.h"
#include "iso2709/RecordLayout.h"

class QGroupBox;
class QPushButton;
class QRadioButton;

/// The delimiter dialog: chooses the delimiter variant.
class TFormChgFmt : public TModalDialog {
    Q_OBJECT
public:
    /// Selects mode when shown.
    explicit TFormChgFmt(QWidget* owner = nullptr, veltrane::DelimiterMode mode = veltrane::dmNormal);

    QGroupBox* GroupBox1;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QRadioButton* RBNormal;
    QRadioButton* RBSpecial1;
    QRadioButton* RBSpecial2;

    /// The mode of the selected radio button: 0, 1 or 2.
    [[nodiscard]] veltrane::DelimiterMode selectedMode() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();

    veltrane::DelimiterMode m_mode;
};

/// Shows a new delimiter dialog over owner, selecting delimiterMode; OK stores
/// the mode chosen in delimiterMode, anything else leaves it.
void AskDelimiterMode(QWidget* owner, veltrane::DelimiterMode& delimiterMode);
