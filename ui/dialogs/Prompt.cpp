// SPDX-License-Identifier: Apache-2.0
#include "dialogs/Prompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include "dialogs/Fileask.h"

namespace {

// The system's boxes sit in the middle of the screen, not over the window that
// asked: the placement the users of the viewer are used to.
class ScreenCentredMessageBox : public QMessageBox {
public:
    ScreenCentredMessageBox(Icon icon, const QString& title, const QString& text)
        : QMessageBox(icon, title, text, QMessageBox::Ok, QApplication::activeWindow())
    {
        setTextFormat(Qt::PlainText);
        // The boxes' button reads "OK" whatever language the toolkit's own texts are in.
        button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    }

protected:
    void showEvent(QShowEvent* event) override
    {
        QMessageBox::showEvent(event);
        const QWidget* anchor = parentWidget();
        QScreen* screen = anchor != nullptr ? anchor->screen() : QGuiApplication::primaryScreen();
        if (screen != nullptr)
            move(screen->availableGeometry().center() - rect().center());
    }
};

void showBox(QMessageBox::Icon icon, const QString& title, const QString& text)
{
    ScreenCentredMessageBox box(icon, title, text);
    box.exec();
}

class QtViewerPrompt final : public ViewerPrompt {
public:
    void showMessage(std::string_view text) override
    {
        showBox(QMessageBox::NoIcon, QString::fromLatin1(kApplicationTitle),
                QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }

    void showInformation(const QString& text) override
    {
        showBox(QMessageBox::Information, QStringLiteral("Information"), text);
    }

    void showError(const QString& text) override
    {
        QString shown = text;
        if (!shown.isEmpty() && shown.back() > QLatin1Char('.'))
            shown += QLatin1Char('.');
        showBox(QMessageBox::Critical, QString::fromLatin1(kApplicationTitle), shown);
    }

    bool askReplace(const QString& targetPath) override
    {
        ScreenCentredMessageBox box(QMessageBox::Question, QString::fromLatin1(kApplicationTitle),
                                    QStringLiteral("文件“%1”已经存在。\n这种格式的文件是一个完整的文档，不能追加，只能覆盖。"
                                                   "要覆盖它吗？")
                                        .arg(targetPath));
        box.setStandardButtons(QMessageBox::NoButton);
        QPushButton* overwrite = box.addButton(QStringLiteral("覆盖"), QMessageBox::AcceptRole);
        QPushButton* cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(cancel);
        box.setEscapeButton(cancel);
        box.exec();
        return box.clickedButton() == overwrite;
    }

    veltrane::OverwriteChoice askOverwrite(std::string_view) override
    {
        return AskOverwrite(QApplication::activeWindow());
    }
};

QtViewerPrompt& qtPrompt()
{
    static QtViewerPrompt prompt;
    return prompt;
}

ViewerPrompt* installedPrompt = nullptr;

}  // namespace

ViewerPrompt& Prompt()
{
    return installedPrompt != nullptr ? *installedPrompt : qtPrompt();
}

void SetPrompt(ViewerPrompt* prompt)
{
    installedPrompt = prompt;
}
