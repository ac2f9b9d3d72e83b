// SPDX-License-Identifier: Apache-2.0
// scan_bench FILE [--steps]: times a search for an absent text over every record (letter
// case significant, then ignored) against `cat FILE > /dev/null`, and the
// extraction of every record against `cp`, all on the same file in the same
// run, warm cache. Prints the best times and the ratios with their limits.
// First it times the engine's part of the viewer's step to the next record
// (ScanRecordText with the text to show) at the file's start, middle and end,
// unchecked against the automatic rules; --steps stops after that.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "BenchSupport.h"
#include "files/RecordExtract.h"
#include "files/RecordIndex.h"
#include "display/RecordScan.h"
#include "rules/RuleCheck.h"

namespace {

using namespace veltrane;

constexpr int kRuns = 7;
constexpr char kAbsentText[] = "no such title anywhere";

class BenchPrompt : public UserPrompt {
public:
    void showMessage(std::string_view text) override
    {
        std::fprintf(stderr, "scan_bench: engine message: %.*s\n", static_cast<int>(text.size()), text.data());
    }
    OverwriteChoice askOverwrite(std::string_view) override { return OverwriteChoice::Overwrite; }
};


struct Times {
    double wall = 1e30;  ///< seconds
    double cpu = 1e30;   ///< seconds of processor time, user and system, children included
};

double processorSeconds()
{
    double seconds = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        ::getrusage(who, &usage);
        for (const timeval& t : {usage.ru_utime, usage.ru_stime})
            seconds += static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    }
    return seconds;
}

Times timed(const std::function<void()>& work)
{
    const double cpuStart = processorSeconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return {elapsed.count(), processorSeconds() - cpuStart};
}

/// Best times of each piece of work over kRuns rounds; the pieces take turns
/// within a round, so that a busy machine slows them alike.
std::vector<Times> bestOfRounds(const std::vector<std::function<void()>>& works,
                                const std::function<void()>& beforeEach)
{
    std::vector<Times> best(works.size());
    for (int run = 0; run < kRuns; ++run) {
        for (std::size_t i = 0; i < works.size(); ++i) {
            beforeEach();
            const Times t = timed(works[i]);
            best[i].wall = std::min(best[i].wall, t.wall);
            best[i].cpu = std::min(best[i].cpu, t.cpu);
        }
    }
    return best;
}

void printTimes(const char* what, const Times& t)
{
    std::printf("%-36s %7.3f s  cpu %7.3f s\n", what, t.wall, t.cpu);
}

/// The limit holds for the wall time; processor time is shown as well, being
/// less disturbed by other work on the machine.
void printRatio(const char* what, const Times& t, const Times& reference, const char* referenceName, double limit)
{
    const double ratio = t.wall / reference.wall;
    std::printf("%-36s %7.3f s  cpu %7.3f s  %5.2fx %-3s (cpu %5.2fx, limit %.1fx) %s\n", what, t.wall, t.cpu, ratio,
                referenceName, t.cpu / reference.cpu, limit, ratio <= limit ? "ok" : "OVER");
}

constexpr int kSteps = 300;            ///< steps timed at each place, per setting
constexpr double kStepAllowanceMs = 5.0;  ///< what the rules may add to a step

/// Times the scan behind each of kSteps steps from `first` on, under rules.
std::vector<double> stepMilliseconds(const ScratchDisplay& scratch, const char* file, const char* index, int first,
                                     int count, RuleSetting rules, TextCodec& codec, bool& failed)
{
    std::vector<double> times;
    const ShowTextRequest show{CharsetSetting::Auto, codec, rules};
    for (int record = first; record < first + kSteps && record <= count; ++record) {
        const auto start = std::chrono::steady_clock::now();
        const ScanResult result = ScanRecordText(scratch, {}, file, index, record, record, "", &show);
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        failed = failed || !result.found() || !result.shown;
    }
    return times;
}

/// The engine's share of the viewer's step, today's (no rules) against the
/// automatic rules, the two taking turns at each place.
bool benchSteps(const ScratchDisplay& scratch, const char* file, const char* index, int count)
{
    TextCodec codec;
    bool failed = false;
    const char* places[] = {"start", "middle", "end"};
    const std::vector<int> starts = benchsupport::StepStarts(count, kSteps);
    for (std::size_t place = 0; place < starts.size(); ++place) {
        (void)stepMilliseconds(scratch, file, index, starts[place], count, RuleSetting::Auto, codec, failed);  // warm
        std::vector<double> plain, checked;
        for (int round = 0; round < 3; ++round) {
            for (double t : stepMilliseconds(scratch, file, index, starts[place], count, RuleSetting::None, codec, failed))
                plain.push_back(t);
            for (double t : stepMilliseconds(scratch, file, index, starts[place], count, RuleSetting::Auto, codec, failed))
                checked.push_back(t);
        }
        benchsupport::PrintStepComparison("scan_bench step", places[place], benchsupport::FiguresOf(plain), "rules auto",
                                          benchsupport::FiguresOf(checked), kStepAllowanceMs);
    }
    if (failed)
        std::fprintf(stderr, "scan_bench: a step showed no record\n");
    return !failed;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool stepsOnly = argc == 3 && std::string_view(argv[2]) == "--steps";
    if (argc != 2 && !stepsOnly) {
        std::fprintf(stderr, "usage: scan_bench FILE [--steps]\n");
        return 2;
    }
    const char* file = argv[1];
    std::string pattern = (std::filesystem::temp_directory_path() / "scan-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("scan_bench: mkdtemp");
        return 1;
    }
    const std::filesystem::path dir = pattern;
    const std::string index = (dir / "index").string();
    const std::string copyTarget = (dir / "copy.mrc").string();
    const std::string extractTarget = (dir / "extract.mrc").string();
    const ScratchDisplay scratch((dir / "display.txt").string());
    BenchPrompt prompt;
    int status = 0;

    const int count = BuildRecordIndex(file, index.c_str());
    if (count <= 0) {
        std::fprintf(stderr, "scan_bench: %s holds no records\n", file);
        status = 1;
    } else if (!benchSteps(scratch, file, index.c_str(), count)) {
        status = 1;
    } else if (!stepsOnly) {
        const std::vector<const char*> catArgs = {"cat", file};
        const std::vector<const char*> cpArgs = {"cp", file, copyTarget.c_str()};
        benchsupport::RunQuietly("cat", catArgs);  // warm the cache

        int foundSensitive = 0, foundInsensitive = 0;
        auto search = [&](bool caseSensitive, int& found) {
            found = ScanRecords(prompt, scratch, {dmNormal, caseSensitive}, file, index.c_str(), 1, count, kAbsentText);
        };
        const std::vector<Times> reading = bestOfRounds(
            {[&] { benchsupport::RunQuietly("cat", catArgs); }, [&] { search(true, foundSensitive); },
             [&] { search(false, foundInsensitive); }},
            [] {});
        const Times cat = reading[0], sensitive = reading[1], insensitive = reading[2];
        if (foundSensitive != -1 || foundInsensitive != -1) {
            std::fprintf(stderr, "scan_bench: the absent text was found\n");
            status = 1;
        }

        ExtractOutcome extracted = ExtractOutcome::Failed;
        const std::vector<Times> copying = bestOfRounds(
            {[&] { benchsupport::RunQuietly("cp", cpArgs); },
             [&] { extracted = ExtractRecords(prompt, scratch, file, index.c_str(), 1, count, extractTarget.c_str()).outcome; }},
            [&] {
                std::filesystem::remove(copyTarget);
                std::filesystem::remove(extractTarget);
            });
        const Times cp = copying[0], extract = copying[1];
        if (extracted != ExtractOutcome::Copied || std::filesystem::file_size(extractTarget) != std::filesystem::file_size(file)) {
            std::fprintf(stderr, "scan_bench: the extraction did not copy the whole file\n");
            status = 1;
        }

        const double mib = static_cast<double>(std::filesystem::file_size(file)) / (1024.0 * 1024.0);
        std::printf("scan_bench: %s, %.0f MiB, %d records, best of %d runs\n", file, mib, count, kRuns);
        printTimes("cat FILE > /dev/null", cat);
        printTimes("cp FILE TARGET", cp);
        printRatio("search, absent text, case-sensitive", sensitive, cat, "cat", 2.0);
        printRatio("search, absent text, ignoring case", insensitive, cat, "cat", 3.0);
        printRatio("extract every record", extract, cp, "cp", 1.5);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return status;
}
