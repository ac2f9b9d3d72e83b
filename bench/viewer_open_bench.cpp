// SPDX-License-Identifier: Apache-2.0
// viewer_open_bench FILE: times opening FILE in the viewer until its record 1
// shows (index build, first display, the window), warm cache, best of several
// runs, against the limit of 0.5 s for a 1 GiB file. The main window is never
// shown; the platform is the offscreen one unless QT_QPA_PLATFORM says otherwise.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "windows/Main.h"
#include "windows/Marc.h"
#include "dialogs/Prompt.h"

namespace {

constexpr int kRounds = 5;
constexpr double kLimitSeconds = 0.5;

class BenchPrompt final : public ViewerPrompt {
public:
    void showMessage(std::string_view text) override
    {
        std::fprintf(stderr, "viewer_open_bench: viewer message: %.*s\n", static_cast<int>(text.size()), text.data());
    }
    void showInformation(const QString& text) override { showMessage(text.toStdString()); }
    void showError(const QString& text) override { showMessage(text.toStdString()); }
    veltrane::OverwriteChoice askOverwrite(std::string_view) override { return veltrane::OverwriteChoice::Cancel; }
    bool askReplace(const QString&) override { return false; }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: viewer_open_bench FILE\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", std::getenv("QT_QPA_PLATFORM") != nullptr ? std::getenv("QT_QPA_PLATFORM") : "offscreen", 1);
    // The scratch file and the settings stay out of the user's folders.
    QTemporaryDir sandbox;
    ::setenv("XDG_CONFIG_HOME", sandbox.path().toLocal8Bit().constData(), 1);
    QApplication application(argc, argv);
    const QString path = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    QDir::setCurrent(sandbox.path());
    BenchPrompt prompt;
    SetPrompt(&prompt);
    TFormMain main;
    double best = 1e30;
    for (int round = 0; round <= kRounds; ++round) {  // round 0 warms the cache
        const auto start = std::chrono::steady_clock::now();
        main.openPath(path);
        while (!FormMarc || !FormMarc->isOpen()) {
            if (FormMarc && !FormMarc->isOpening() && !FormMarc->isOpen()) {
                std::fprintf(stderr, "viewer_open_bench: %s cannot be opened\n", argv[1]);
                return 1;
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (round > 0)
            best = std::min(best, seconds);
        FormMarc->close();
        QCoreApplication::processEvents();
    }
    std::printf("viewer_open_bench: open until record 1 shows  %.3f s (best of %d; limit %.1f s for 1 GiB)\n", best,
                kRounds, kLimitSeconds);
    SetPrompt(nullptr);
    return 0;
}
