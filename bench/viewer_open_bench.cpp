// SPDX-License-Identifier: Apache-2.0
// viewer_open_bench FILE: times opening FILE in the viewer until its record 1
// shows (index build, first display, the window), warm cache, best of several
// runs, against the limit of 0.5 s for a 1 GiB file. Then the step to the next
// record, painted, at the file's start, middle and end: today's (rules 不检查,
// no names column) against the names column with the automatic rules, whose
// extra time is held to 5 ms. The platform is the offscreen one unless
// QT_QPA_PLATFORM says otherwise.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchSupport.h"
#include "rules/RuleCheck.h"

#include "windows/Main.h"
#include "windows/Marc.h"
#include "dialogs/Prompt.h"

namespace {

constexpr int kRounds = 5;
constexpr double kLimitSeconds = 0.5;
constexpr int kSteps = 200;               ///< steps timed at each place, per setting
constexpr double kStepAllowanceMs = 5.0;  ///< what the names and rules may add to a step

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

/// Shows record `first` under the setting, then times kSteps steps to the
/// next record, each until the window has painted it.
std::vector<double> stepMilliseconds(QWidget& window, int first, veltrane::RuleSetting rules, bool namesShown)
{
    FormMarc->setFieldNamesShown(namesShown);
    FormMarc->RuleChoice = rules;
    (void)FormMarc->ShowRecord(first, first, "");
    QCoreApplication::processEvents();
    window.repaint();
    std::vector<double> times;
    for (int step = 0; step < kSteps && FormMarc->CurrentRecord < FormMarc->RecordCount; ++step) {
        const auto start = std::chrono::steady_clock::now();
        FormMarc->ShowNextRecord();
        QCoreApplication::processEvents();
        window.repaint();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return times;
}

void benchSteps(QWidget& window)
{
    const char* places[] = {"start", "middle", "end"};
    const std::vector<int> starts = benchsupport::StepStarts(FormMarc->RecordCount, kSteps);
    for (std::size_t place = 0; place < starts.size(); ++place) {
        (void)stepMilliseconds(window, starts[place], veltrane::RuleSetting::Auto, true);  // warm
        std::vector<double> plain, checked;
        for (int round = 0; round < 3; ++round) {
            for (double t : stepMilliseconds(window, starts[place], veltrane::RuleSetting::None, false))
                plain.push_back(t);
            for (double t : stepMilliseconds(window, starts[place], veltrane::RuleSetting::Auto, true))
                checked.push_back(t);
        }
        benchsupport::PrintStepComparison("viewer_open_bench step", places[place], benchsupport::FiguresOf(plain),
                                          "names+rules auto", benchsupport::FiguresOf(checked), kStepAllowanceMs);
    }
}

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
    std::fflush(stdout);

    main.resize(1280, 900);  // a window of a usual size, so that a step paints a screenful
    main.show();
    main.openPath(path);
    while (FormMarc && FormMarc->isOpening())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    if (!FormMarc || !FormMarc->isOpen()) {
        std::fprintf(stderr, "viewer_open_bench: %s cannot be opened\n", argv[1]);
        return 1;
    }
    benchSteps(main);
    FormMarc->close();
    QCoreApplication::processEvents();
    SetPrompt(nullptr);
    return 0;
}
