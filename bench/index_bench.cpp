// SPDX-License-Identifier: Apache-2.0
// index_bench FILE: times building the record offset index of FILE against
// `cat FILE > /dev/null` in the same run, warm cache, best of several runs, and
// prints both times, their ratio and the process's peak memory.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "BenchSupport.h"
#include "files/RecordIndex.h"

namespace {

using namespace veltrane;

constexpr int kRuns = 5;
constexpr double kLimit = 1.5;

class BenchPrompt : public UserPrompt {
public:
    void showMessage(std::string_view text) override
    {
        std::fprintf(stderr, "index_bench: engine message: %.*s\n", static_cast<int>(text.size()), text.data());
    }
    OverwriteChoice askOverwrite(std::string_view) override { return OverwriteChoice::Cancel; }
};

/// Runs `cat file` with its output thrown away; false when it fails.
bool catQuietly(const char* file)
{
    return benchsupport::RunQuietly("cat", {"cat", file});
}

/// Best wall time of kRuns runs of work, in seconds.
double bestOf(const std::function<void()>& work)
{
    double best = 1e30;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: index_bench FILE\n");
        return 2;
    }
    const char* file = argv[1];
    BenchPrompt prompt;
    const std::optional<std::string> index = CreateIndexName(prompt);
    if (!index)
        return 1;

    bool ok = catQuietly(file);  // warm the cache
    int count = BuildRecordIndex(file, index->c_str());
    const double cat = bestOf([&] { ok = catQuietly(file) && ok; });
    const double build = bestOf([&] { count = BuildRecordIndex(file, index->c_str()); });
    std::filesystem::remove(*index);
    if (!ok || count < 0) {
        std::fprintf(stderr, "index_bench: %s could not be read or indexed\n", file);
        return 1;
    }

    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    const double mib = static_cast<double>(std::filesystem::file_size(file)) / (1024.0 * 1024.0);
    const double ratio = build / cat;
    std::printf("index_bench: %s, %.0f MiB, %d records, best of %d runs\n", file, mib, count, kRuns);
    std::printf("%-34s %8.3f s\n", "cat FILE > /dev/null", cat);
    std::printf("%-34s %8.3f s  %5.2fx cat  (limit %.1fx) %s\n", "build the record index", build, ratio, kLimit,
                ratio <= kLimit ? "ok" : "OVER");
    std::printf("%-34s %8ld KiB\n", "peak resident memory", usage.ru_maxrss);
    return 0;
}
