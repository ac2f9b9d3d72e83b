// SPDX-License-Identifier: Apache-2.0
#include "dialogs/DialogFrame.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QStyle>

#include "state/Settings.h"

QFont ChineseDialogFont()
{
    QFont font(QString::fromLatin1(kChineseFontFamily));
    font.setPixelSize(kChineseFontPixels);
    return font;
}

void SetFixedDialogFrame(QDialog* dialog, int width, int height)
{
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint);
    dialog->setSizeGripEnabled(false);
    dialog->setFixedSize(width, height);
    QFont latin = dialog->font();
    latin.setPixelSize(11);
    dialog->setFont(latin);
}

namespace {

QPushButton* makeGlyphButton(QDialog* dialog, const QString& caption, QStyle::StandardPixmap glyph)
{
    auto* button = new QPushButton(dialog->style()->standardIcon(glyph), caption, dialog);
    if (!caption.isEmpty() && caption.front().unicode() >= 0x80)
        button->setFont(ChineseDialogFont());
    return button;
}

}  // namespace

QPushButton* MakeStockOkButton(QDialog* dialog, const QString& caption)
{
    QPushButton* button = makeGlyphButton(dialog, caption, QStyle::SP_DialogOkButton);
    button->setDefault(true);
    QObject::connect(button, &QPushButton::clicked, dialog, [dialog] { dialog->done(kResultOk); });
    return button;
}

QPushButton* MakeStockCancelButton(QDialog* dialog, const QString& caption)
{
    QPushButton* button = makeGlyphButton(dialog, caption, QStyle::SP_DialogCancelButton);
    QObject::connect(button, &QPushButton::clicked, dialog, [dialog] { dialog->done(kResultCancel); });
    return button;
}

void CentreOnMainWindow(QDialog* dialog, QWidget* owner)
{
    if (owner == nullptr)
        owner = dialog->parentWidget();
    QWidget* mainWindow = owner != nullptr ? owner->window() : nullptr;
    if (mainWindow == nullptr || !mainWindow->isVisible())
        return;
    // move() places the frame; centre the frame, not only the client area.
    const QRect frame = dialog->frameGeometry();
    const QRect client = dialog->geometry();
    const QSize frameExtra = frame.size() - client.size();
    const QSize outer = dialog->size() + frameExtra;
    const QPoint centre = mainWindow->frameGeometry().center();
    dialog->move(centre.x() - outer.width() / 2, centre.y() - outer.height() / 2);
}

QString ExecSaveDialog(QFileDialog& dialog)
{
    if (const QString folder = settings::saveFolder(); !folder.isEmpty())
        dialog.setDirectory(folder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QFileInfo chosen(dialog.selectedFiles().front());
    settings::setSaveFolder(chosen.absolutePath());
    return chosen.absoluteFilePath();
}
