// SPDX-License-Identifier: Apache-2.0
// find_all_bench FILE [FILE2]: times find in all windows over two record files
// (FILE twice when FILE2 is not given) against the two single-file searches
// one after the other, warm cache, best of several rounds.
//
// Find in all windows runs as the viewer runs it: both files are opened in
// document windows of a main window that is never shown, and the hit list
// dock searches them (its worker, the titles, the batches into its model).
// The single-file searches are the stream search over each file alone,
// collecting record numbers (what `veltrane-cli find --all FILE` does).
// The text, "978-7-00" in the ISBN, is in about 1% of make_bench_file's
// records. Prints the times and the ratio with its limit.

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "files/FileAccess.h"
#include "windows/FindResults.h"
#include "windows/Main.h"
#include "windows/Marc.h"
#include "dialogs/Prompt.h"
#include "files/RecordFile.h"
#include "commands/WindowSearch.h"

namespace {

constexpr int kRounds = 9;
constexpr double kLimit = 1.2;
constexpr char kText[] = "978-7-00";

class BenchPrompt final : public ViewerPrompt {
public:
    void showMessage(std::string_view text) override
    {
        std::fprintf(stderr, "find_all_bench: viewer message: %.*s\n", static_cast<int>(text.size()), text.data());
    }
    void showInformation(const QString& text) override { showMessage(text.toStdString()); }
    void showError(const QString& text) override { showMessage(text.toStdString()); }
    veltrane::OverwriteChoice askOverwrite(std::string_view) override { return veltrane::OverwriteChoice::Cancel; }
    bool askReplace(const QString&) override { return false; }
};

double seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void waitUntil(const std::function<bool()>& done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: find_all_bench FILE [FILE2]\n");
        return 2;
    }
    // Absolute: the viewer's files go to a folder of their own, which becomes the current one.
    const QStringList paths{QFileInfo(QFile::decodeName(argv[1])).absoluteFilePath(),
                            QFileInfo(QFile::decodeName(argv[argc - 1])).absoluteFilePath()};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir sandbox;
    qputenv("TMP", QFile::encodeName(sandbox.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(sandbox.path()));
    QDir::setCurrent(sandbox.path());
    int toolkitArgc = 1;
    QApplication app(toolkitArgc, argv);
    BenchPrompt prompt;
    SetPrompt(&prompt);
    int status = 0;
    {
        TFormMain main;
        QList<TFormMarc*> windows;
        for (const QString& path : paths) {
            TFormMarc* window = main.openDocument(path);
            waitUntil([&] { return window == nullptr || !window->isOpening(); });
            if (window == nullptr || !window->isOpen()) {
                std::fprintf(stderr, "find_all_bench: %s cannot be opened\n", qPrintable(path));
                return 1;
            }
            windows.append(window);
        }
        const QByteArray text(kText);
        FindResultsDock* dock = main.findResults();
        auto findAll = [&] {
            std::vector<FindAllTarget> targets;
            for (TFormMarc* window : windows)
                targets.push_back({window->FileName, window->RecordCount, MakeWindowSearchQuery(window->CharsetChoice, main.shared().delimiterMode, QString::fromLatin1(text), text, false, {})});
            dock->search(windows, std::move(targets));
            waitUntil([&] { return !dock->searching(); });
        };
        std::int64_t singleHits = 0;
        auto oneAfterTheOther = [&] {
            singleHits = 0;
            for (TFormMarc* window : windows) {
                const veltrane::fileaccess::UniqueFd fd(::open(window->FileName.c_str(), O_RDONLY | O_CLOEXEC));
                std::vector<std::int64_t> records;
                const veltrane::SearchQuery query{{}, false, veltrane::dmNormal, {}, kText, veltrane::CharsetSetting::Auto};
                (void)veltrane::SearchRecordStream(fd.get(), 1, query, veltrane::NoMonitor(),
                                                   [&](std::int64_t record, std::string_view) {
                                                       records.push_back(record);
                                                       return true;
                                                   });
                singleHits += static_cast<std::int64_t>(records.size());
            }
        };
        oneAfterTheOther();  // warms the cache
        double bestAll = 1e30, bestSingle = 1e30;
        for (int round = 0; round < kRounds; ++round) {
            bestSingle = std::min(bestSingle, seconds(oneAfterTheOther));
            bestAll = std::min(bestAll, seconds(findAll));
        }
        const int rows = dock->model()->rowCount();
        const int records = windows[0]->RecordCount + windows[1]->RecordCount;
        double mib = 0;
        for (const QString& path : paths)
            mib += static_cast<double>(QFileInfo(path).size()) / (1024.0 * 1024.0);
        std::printf("find_all_bench: %s and %s, %.0f MiB, %d records, %d hits (%.2f%%), best of %d rounds\n",
                    qPrintable(paths[0]), qPrintable(paths[1]), mib, records, rows, 100.0 * rows / records, kRounds);
        const double ratio = bestAll / bestSingle;
        std::printf("%-44s %7.3f s\n", "two single-file searches, one after the other", bestSingle);
        std::printf("%-44s %7.3f s  %5.2fx (limit %.1fx) %s\n", "find in all windows (dock, titles, rows)", bestAll,
                    ratio, kLimit, ratio <= kLimit ? "ok" : "OVER");
        if (rows != singleHits) {
            std::fprintf(stderr, "find_all_bench: %d rows, but the single searches found %lld\n", rows,
                         static_cast<long long>(singleHits));
            status = 1;
        }
    }
    SetPrompt(nullptr);
    return status;
}
