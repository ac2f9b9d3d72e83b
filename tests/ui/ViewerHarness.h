#pragma once

// What the viewer's window tests share: a prompt that records messages instead
// of blocking, a sandbox for the scratch and index files, record files to open,
// and a way to answer a real modal box.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QStringEncoder>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <unistd.h>

#include "Main.h"
#include "Prompt.h"
#include "RecordFiles.h"

namespace viewertest {

/// Records every message the viewer shows; answers the overwrite question with `answer`.
class FakePrompt final : public ViewerPrompt {
public:
    enum class Kind { Message, Information, Error };
    struct Shown {
        Kind kind;
        QString text;
    };

    FakePrompt() { SetPrompt(this); }
    ~FakePrompt() override { SetPrompt(nullptr); }

    void showMessage(std::string_view text) override { shown.append({Kind::Message, QString::fromUtf8(text.data(), qsizetype(text.size()))}); }
    void showInformation(const QString& text) override { shown.append({Kind::Information, text}); }
    void showError(const QString& text) override { shown.append({Kind::Error, text}); }
    veltrane::OverwriteChoice askOverwrite(std::string_view) override { return answer; }

    [[nodiscard]] QStringList texts() const
    {
        QStringList result;
        for (const Shown& s : shown) result.append(s.text);
        return result;
    }

    QList<Shown> shown;
    veltrane::OverwriteChoice answer = veltrane::OverwriteChoice::Cancel;
};

/// A fresh working directory (home of the scratch file) and TMP (home of the
/// index files) for the test's lifetime.
class Sandbox {
public:
    Sandbox() : m_oldDirectory(QDir::currentPath())
    {
        std::filesystem::create_directory(m_root.path() / "work");
        std::filesystem::create_directory(m_root.path() / "tmp");
        if (const char* tmp = std::getenv("TMP")) m_oldTmp = tmp;
        ::setenv("TMP", tmpDir().toLocal8Bit().constData(), 1);
        QDir::setCurrent(workDir());
    }
    ~Sandbox()
    {
        QDir::setCurrent(m_oldDirectory);
        m_oldTmp ? ::setenv("TMP", m_oldTmp->c_str(), 1) : ::unsetenv("TMP");
    }

    [[nodiscard]] QString workDir() const { return QString::fromStdString((m_root.path() / "work").string()); }
    [[nodiscard]] QString tmpDir() const { return QString::fromStdString((m_root.path() / "tmp").string()); }

    /// Writes bytes to a file of the working directory and returns its full path.
    QString write(const QString& name, const std::string& bytes) const
    {
        const QString path = workDir() + QLatin1Char('/') + name;
        std::ofstream(path.toStdString(), std::ios::binary) << bytes;
        return path;
    }

    [[nodiscard]] QStringList indexFiles() const { return QDir(tmpDir()).entryList({QStringLiteral("idx*")}, QDir::Files); }

private:
    testsupport::TempDir m_root;
    QString m_oldDirectory;
    std::optional<std::string> m_oldTmp;  // temporary directories of later tests are made under TMP
};

inline std::string gbk(const QString& text)
{
    QStringEncoder encoder("GBK");
    return QByteArray(encoder.encode(text)).toStdString();
}

/// A record whose 001 field names it ("rec<n>") and whose 200 field holds a title.
inline std::string numberedRecord(int n, const std::string& title = "Title")
{
    return testsupport::MakeRecord({{"001", "rec" + std::to_string(n)}, {"200", "1 \x1f" "a" + title}});
}

/// The records 1 to count back to back, each followed by separator.
inline std::string numberedFile(int count, const std::string& separator = {})
{
    std::string bytes;
    for (int n = 1; n <= count; ++n) bytes += numberedRecord(n) + separator;
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

/// A main window over a fake prompt and a sandbox, torn down in reverse.
struct Viewer {
    Sandbox sandbox;
    FakePrompt prompt;
    TFormMain main;
};

}  // namespace viewertest
