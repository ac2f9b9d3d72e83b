// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QDialog>
#include <QFont>

class QFileDialog;
class QPushButton;
class QWidget;

// What the dialogs of the viewer have in common: the fixed dialog frame, the
// fonts, the stock OK and Cancel buttons and the place on the screen.

/// Modal results the dialogs hand back; QDialog::exec() returns them.
inline constexpr int kResultOk = 1;
inline constexpr int kResultCancel = 2;

/// Font of Chinese texts in dialogs and document windows.
inline constexpr const char* kChineseFontFamily = "Noto Sans CJK SC";
inline constexpr int kChineseFontPixels = 12;

/// The CJK font at 12 pixels, for controls that show Chinese text.
[[nodiscard]] QFont ChineseDialogFont();

/// Fixed dialog style: a client area of width x height that cannot be resized,
/// a close box and no minimise or maximise buttons; the font of Latin texts.
void SetFixedDialogFrame(QDialog* dialog, int width, int height);

/// The stock OK button: check-mark glyph, the default button, result 1.
[[nodiscard]] QPushButton* MakeStockOkButton(QDialog* dialog, const QString& caption);
/// The stock Cancel button: cross glyph, result 2 (Esc and the close box give
/// the same through QDialog::reject()).
[[nodiscard]] QPushButton* MakeStockCancelButton(QDialog* dialog, const QString& caption);

/// Places dialog centred on the main window (the top-level window of owner,
/// else of the dialog's parent); left to the system when there is none.
void CentreOnMainWindow(QDialog* dialog, QWidget* owner);

/// Runs a save dialog from the folder last saved to and remembers the folder
/// of the file chosen (the current directory never changes). The chosen
/// file's absolute path; empty when none was chosen.
[[nodiscard]] QString ExecSaveDialog(QFileDialog& dialog);

/// A modal dialog whose Esc and close box give the cancel result, 2, as the
/// Cancel button does (QDialog's own reject() gives 0).
class TModalDialog : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;

public slots:
    void reject() override { done(kResultCancel); }
};
