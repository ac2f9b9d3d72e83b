// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the viewer's window tests share: a prompt that records messages instead
// of blocking, a sandbox for the scratch and index files, record files to open,
// and a way to answer a real modal box.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QStringEncoder>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <semaphore>
#include <functional>
#include <optional>
#include <string>

#include "work/BackgroundWork.h"
#include "windows/Main.h"
#include "dialogs/Prompt.h"
#include "RecordFiles.h"

namespace viewertest {

/// Records every message the viewer shows, an error as "error: <text>" and an
/// information box as "information: <text>"; answers the overwrite question with `answer`.
class FakePrompt final : public ViewerPrompt {
public:
    FakePrompt() { SetPrompt(this); }
    ~FakePrompt() override { SetPrompt(nullptr); }

    void showMessage(std::string_view text) override { m_shown.append(QString::fromUtf8(text.data(), qsizetype(text.size()))); }
    void showInformation(const QString& text) override { m_shown.append("information: " + text); }
    void showError(const QString& text) override { m_shown.append("error: " + text); }
    veltrane::OverwriteChoice askOverwrite(std::string_view) override { return answer; }
    /// Records the question as "replace: <path>" and answers with replaceAnswer.
    bool askReplace(const QString& targetPath) override
    {
        m_shown.append("replace: " + targetPath);
        return replaceAnswer;
    }
    [[nodiscard]] const QStringList& texts() const { return m_shown; }

    veltrane::OverwriteChoice answer = veltrane::OverwriteChoice::Cancel;
    bool replaceAnswer = false;

private:
    QStringList m_shown;
};

/// A fresh working directory (home of the scratch file), TMP (home of the
/// index files) and XDG_CONFIG_HOME (home of the settings file, so that no test
/// reads or writes the user's) for the test's lifetime.
class Sandbox {
public:
    Sandbox() : m_oldDirectory(QDir::currentPath())
    {
        std::filesystem::create_directory(m_root.path() / "work");
        std::filesystem::create_directory(m_root.path() / "tmp");
        if (const char* tmp = std::getenv("TMP")) m_oldTmp = tmp;
        if (const char* config = std::getenv("XDG_CONFIG_HOME")) m_oldConfig = config;
        ::setenv("TMP", tmpDir().toLocal8Bit().constData(), 1);
        ::setenv("XDG_CONFIG_HOME", configDir().toLocal8Bit().constData(), 1);
        QDir::setCurrent(workDir());
    }
    ~Sandbox()
    {
        QDir::setCurrent(m_oldDirectory);
        m_oldTmp ? ::setenv("TMP", m_oldTmp->c_str(), 1) : ::unsetenv("TMP");
        m_oldConfig ? ::setenv("XDG_CONFIG_HOME", m_oldConfig->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    }

    [[nodiscard]] QString workDir() const { return QString::fromStdString((m_root.path() / "work").string()); }
    [[nodiscard]] QString tmpDir() const { return QString::fromStdString((m_root.path() / "tmp").string()); }
    /// Made by the first settings written.
    [[nodiscard]] QString configDir() const { return QString::fromStdString((m_root.path() / "config").string()); }

    /// Writes bytes to a file of the working directory and returns its full path.
    QString write(const QString& name, const std::string& bytes) const
    {
        return QString::fromStdString(m_root.write("work/" + name.toStdString(), bytes));
    }

    [[nodiscard]] QStringList indexFiles() const { return QDir(tmpDir()).entryList({QStringLiteral("idx*")}, QDir::Files); }

private:
    testsupport::TempDir m_root;
    QString m_oldDirectory;
    std::optional<std::string> m_oldTmp;  // temporary directories of later tests are made under TMP
    std::optional<std::string> m_oldConfig;
};

inline std::string gbk(const QString& text) { return QByteArray(QStringEncoder("GBK").encode(text)).toStdString(); }

/// A record whose 001 field names it ("rec<n>") and whose 200 field holds a title.
inline std::string numberedRecord(int n, const std::string& title = "Title")
{
    return testsupport::MakeRecord({{"001", "rec" + std::to_string(n)}, {"200", "1 \x1f" "a" + title}});
}

/// The records 1 to count back to back.
inline std::string numberedFile(int count)
{
    std::string bytes;
    for (int n = 1; n <= count; ++n) bytes += numberedRecord(n);
    return bytes;
}

/// While it lives, calls act with the modal widget once it has stayed open a
/// moment (its own event loop runs by then), and again while it stays open (a
/// file dialog may ignore an answer given while it reads its folder).
class ModalAnswer {
public:
    explicit ModalAnswer(std::function<void(QWidget*)> act) : m_act(std::move(act))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal != nullptr && modal == m_seen && modal->isVisible()) {
                m_answered = true;
                m_act(modal);
            }
            m_seen = modal;
        });
        m_timer.start(10);
    }

    [[nodiscard]] bool answered() const { return m_answered; }

private:
    std::function<void(QWidget*)> m_act;
    QTimer m_timer;
    QPointer<QWidget> m_seen;
    bool m_answered = false;
};

/// An answer for modal widgets of type D; any other is closed, so that the test
/// fails on what it expected instead of hanging.
template <class D>
std::function<void(QWidget*)> answerAs(std::function<void(D*)> act)
{
    return [act](QWidget* modal) {
        if (auto* typed = qobject_cast<D*>(modal))
            act(typed);
        else
            modal->close();
    };
}

/// While alive, every operation goes to the background at once and its worker
/// stops at its first progress report until released.
class HeldWork {
public:
    HeldWork()
    {
        BackgroundWork::graceMilliseconds = 0;
        BackgroundWork::reportInterval = 1;
        BackgroundWork::onReportForTests = [this] {
            if (m_holding.exchange(false)) {
                m_reached.release();
                m_release.acquire();
            }
        };
    }
    ~HeldWork()
    {
        release();
        BackgroundWork::onReportForTests = nullptr;
        BackgroundWork::graceMilliseconds = 300;
        BackgroundWork::reportInterval = veltrane::kWorkReportInterval;
    }
    /// Whether the worker is held now; the interface thread keeps serving it
    /// meanwhile (its questions and messages) when the test waits with QTRY_VERIFY.
    bool held()
    {
        m_held = m_held || m_reached.try_acquire();
        return m_held;
    }
    void release()
    {
        if (!m_released.exchange(true))
            m_release.release();
    }

private:
    std::atomic<bool> m_holding{true};
    std::atomic<bool> m_released{false};
    bool m_held = false;
    std::binary_semaphore m_reached{0};
    std::binary_semaphore m_release{0};
};

/// A main window over a fake prompt and a sandbox, torn down in reverse.
struct Viewer {
    Sandbox sandbox;
    FakePrompt prompt;
    TFormMain main;

    /// Shows the main window; whether it came on screen.
    [[nodiscard]] bool show()
    {
        main.show();
        return QTest::qWaitForWindowExposed(&main);
    }
};

}  // namespace viewertest
