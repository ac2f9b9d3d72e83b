// SPDX-License-Identifier: Apache-2.0
// record_list_bench FILE: fills the record list of FILE (every record's
// default columns), sorts it by title, and prints the fill time, the sort
// time and the list's bytes per record, warm cache, best of a few runs. Then,
// in the viewer (never shown; the offscreen platform unless QT_QPA_PLATFORM
// says otherwise): the open of FILE with the list off until record 1 shows,
// and the time from turning the list on (F9) to its first screen of rows
// filled in.

#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "dialogs/Prompt.h"
#include "list/ListFill.h"
#include "state/Settings.h"
#include "windows/Main.h"
#include "windows/Marc.h"
#include "windows/RecordListModel.h"
#include "windows/RecordListPane.h"

namespace {

using namespace veltrane;

constexpr int kRuns = 3;
constexpr int kViewerRounds = 5;
constexpr double kFillLimit = 3.0;
constexpr double kSortLimit = 1.5;
constexpr double kBytesLimit = 300.0;
constexpr double kFirstScreenLimit = 0.3;
constexpr int kFirstScreenRows = 60;  // more than a maximised window shows

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double secondsOf(const std::function<void()>& work)
{
    const auto start = Clock::now();
    work();
    return secondsSince(start);
}

class BenchPrompt final : public ViewerPrompt {
public:
    void showMessage(std::string_view text) override
    {
        std::fprintf(stderr, "record_list_bench: viewer message: %.*s\n", static_cast<int>(text.size()), text.data());
    }
    void showInformation(const QString& text) override { showMessage(text.toStdString()); }
    void showError(const QString& text) override { showMessage(text.toStdString()); }
    veltrane::OverwriteChoice askOverwrite(std::string_view) override { return veltrane::OverwriteChoice::Cancel; }
    bool askReplace(const QString&) override { return false; }
};

/// Waits in the event loop until done() holds; false when the window went.
bool waitFor(const std::function<bool()>& done)
{
    while (!done()) {
        if (!FormMarc)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: record_list_bench FILE\n");
        return 2;
    }
    double fill = 1e30, sort = 1e30;
    std::size_t rows = 0, bytes = 0;
    for (int run = 0; run < kRuns; ++run) {
        const int fd = ::open(argv[1], O_RDONLY);
        if (fd < 0) {
            std::perror(argv[1]);
            return 1;
        }
        ListRead read;
        fill = std::min(fill, secondsOf([&] { read = ReadRecordList(fd, dmNormal, CharsetSetting::Auto, NoMonitor(), 0, {},
                                                                           RuleSetting::Auto); }));
        ::close(fd);
        ListOrder sorted;
        sort = std::min(sort, secondsOf([&] {
                            sorted = SortListRows(read.list, FileOrder(read.list.rows()), ListColumn::Title, false);
                        }));
        rows = read.list.rows();
        bytes = read.list.bytesUsed();
    }
    const double perRecord = rows == 0 ? 0.0 : static_cast<double>(bytes) / static_cast<double>(rows);
    std::printf("records           %zu\n", rows);
    std::printf("fill              %.3f s (target <= %.1f s)\n", fill, kFillLimit);
    std::printf("sort by title     %.3f s (target <= %.1f s)\n", sort, kSortLimit);
    std::printf("bytes per record  %.1f (target <= %.0f)\n", perRecord, kBytesLimit);
    std::fflush(stdout);

    ::setenv("QT_QPA_PLATFORM", std::getenv("QT_QPA_PLATFORM") != nullptr ? std::getenv("QT_QPA_PLATFORM") : "offscreen", 1);
    // The scratch file and the settings stay out of the user's folders.
    QTemporaryDir sandbox;
    ::setenv("XDG_CONFIG_HOME", sandbox.path().toLocal8Bit().constData(), 1);
    QApplication application(argc, argv);
    const QString path = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    QDir::setCurrent(sandbox.path());
    BenchPrompt prompt;
    SetPrompt(&prompt);
    settings::setRecordListShown(false);
    TFormMain main;
    QAction* listAction = main.findChild<QAction*>(QStringLiteral("MRecordList"));
    double open = 1e30, firstScreen = 1e30;
    for (int round = 0; round <= kViewerRounds; ++round) {  // round 0 warms the cache
        if (listAction->isChecked())
            listAction->trigger();
        auto start = Clock::now();
        main.openPath(path);
        if (!waitFor([] { return FormMarc && FormMarc->isOpen(); })) {
            std::fprintf(stderr, "record_list_bench: %s cannot be opened\n", argv[1]);
            return 1;
        }
        const double opened = secondsSince(start);
        start = Clock::now();
        listAction->trigger();  // F9
        RecordListPane* pane = FormMarc->recordList();
        if (pane == nullptr || !waitFor([pane] {
                return pane->model()->filledRows() >= std::min(kFirstScreenRows, pane->model()->records()) || !pane->filling();
            })) {
            std::fprintf(stderr, "record_list_bench: the list did not fill\n");
            return 1;
        }
        const double shown = secondsSince(start);
        if (round > 0) {
            open = std::min(open, opened);
            firstScreen = std::min(firstScreen, shown);
        }
        FormMarc->close();
        QCoreApplication::processEvents();
    }
    std::printf("open, list off    %.3f s until record 1 shows (as viewer_open_bench before the list)\n", open);
    std::printf("first screen      %.3f s from F9 to %d rows filled in (target <= %.1f s)\n", firstScreen,
                kFirstScreenRows, kFirstScreenLimit);
    SetPrompt(nullptr);
    return 0;
}
