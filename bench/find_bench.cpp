// SPDX-License-Identifier: Apache-2.0
// find_bench FILE [MARC8_FILE]: the search the viewer's find, find next and
// find in all windows go through (RecordFile::find, typed text compared with
// each record in its own character set), for texts no record holds: ASCII and
// Chinese, letter case significant and ignored; against counting the records
// (what `veltrane-cli count` does) and `cat FILE > /dev/null`, warm cache,
// median of interleaved rounds. With MARC8_FILE, an absent ASCII text in it
// too. Beside each figure: the processor time in user mode per GiB (both
// threads of a search: the reading one and the searching one).

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
#include <vector>

#include "BenchSupport.h"
#include "files/FileAccess.h"
#include "files/RecordFile.h"
#include "files/RecordIndex.h"
#include "iso2709/RecordStream.h"

namespace {

using namespace veltrane;

constexpr int kRounds = 5;
constexpr char kAbsentAscii[] = "no such title anywhere";
constexpr char kAbsentChinese[] = "并无此书之题名";
constexpr char kAbsentChineseGbk[] = "\xb2\xa2\xce\xde\xb4\xcb\xca\xe9\xd6\xae\xcc\xe2\xc3\xfb";

struct Times {
    double wall = 0;  ///< seconds
    double user = 0;  ///< seconds of processor time in user mode, children included
};

double userSeconds()
{
    double seconds = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        ::getrusage(who, &usage);
        seconds += static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
    }
    return seconds;
}

bool cat(const char* file)
{
    return benchsupport::RunQuietly("cat", {"cat", file});
}

std::int64_t countRecords(const char* file)
{
    fileaccess::UniqueFd fd(::open(file, O_RDONLY | O_CLOEXEC));
    RecordStream stream(fd.get());
    FramedRecord record;
    while (stream.next(record, false) == RecordStream::Step::Record) {
    }
    return stream.count();
}

struct Job {
    std::string name;
    std::function<bool()> run;  ///< false when it went wrong
    std::vector<Times> times;
};

Times median(std::vector<Times> times)
{
    auto middle = [&](auto member) {
        std::vector<double> values;
        for (const Times& t : times)
            values.push_back(t.*member);
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    return {middle(&Times::wall), middle(&Times::user)};
}

/// The jobs of one file, in interleaved rounds; false when one went wrong.
bool benchFile(const char* file, bool marc8)
{
    const std::string index = (std::filesystem::temp_directory_path() / "find-bench-index-XXXXXX").string();
    std::string indexName = index;
    const int made = ::mkstemp(indexName.data());
    if (made < 0) {
        std::perror("find_bench: mkstemp");
        return false;
    }
    ::close(made);
    const int records = BuildRecordIndex(file, indexName.c_str());
    RecordFile recordFile;
    if (records <= 0 || !recordFile.openRecords(file) || !recordFile.openIndex(indexName.c_str())) {
        std::fprintf(stderr, "find_bench: %s holds no records\n", file);
        std::filesystem::remove(indexName);
        return false;
    }
    auto absent = [&](const char* gbk, const char* text, bool caseSensitive) {
        return [&recordFile, records, gbk, text, caseSensitive] {
            const SearchQuery query{gbk, caseSensitive, dmNormal, {}, text, CharsetSetting::Auto};
            return recordFile.find(1, records, query).outcome == Outcome::NotFound;
        };
    };
    std::vector<Job> jobs = {
        {"cat", [file] { return cat(file); }, {}},
        {"count", [file, records] { return countRecords(file) == records; }, {}},
        {"find ascii", absent(kAbsentAscii, kAbsentAscii, false), {}},
        {"find --case ascii", absent(kAbsentAscii, kAbsentAscii, true), {}},
    };
    if (!marc8) {
        jobs.push_back({"find chinese", absent(kAbsentChineseGbk, kAbsentChinese, false), {}});
        jobs.push_back({"find --case chinese", absent(kAbsentChineseGbk, kAbsentChinese, true), {}});
    }
    bool ok = cat(file);  // warm the cache
    for (int round = 0; round < kRounds; ++round) {
        for (Job& job : jobs) {
            const double userStart = userSeconds();
            const auto start = std::chrono::steady_clock::now();
            ok = job.run() && ok;
            const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
            job.times.push_back({wall.count(), userSeconds() - userStart});
        }
    }
    std::filesystem::remove(indexName);
    const double gib = static_cast<double>(std::filesystem::file_size(file)) / (1024.0 * 1024.0 * 1024.0);
    const Times catTime = median(jobs[0].times), countTime = median(jobs[1].times);
    std::printf("%s (%.2f GiB, %d records)\n", file, gib, records);
    for (const Job& job : jobs) {
        const Times t = median(job.times);
        const bool isFind = job.name.starts_with("find");
        const double countLimit = marc8 ? 2.0 : 1.5;
        const bool within = !isFind || (t.wall <= countLimit * countTime.wall && (marc8 || t.wall <= 1.6 * catTime.wall));
        std::printf("  %-22s %7.3f s  %5.2fx count  %5.2fx cat  user %.3f s/GiB  %s\n", job.name.c_str(), t.wall,
                    t.wall / countTime.wall, t.wall / catTime.wall, t.user / gib, isFind ? (within ? "ok" : "OVER") : "");
    }
    if (!ok)
        std::fprintf(stderr, "find_bench: a run went wrong (an absent text was found, or a count differs)\n");
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: find_bench FILE [MARC8_FILE]\n");
        return 2;
    }
    std::printf("find_bench: median of %d interleaved rounds; limits: find <= 1.5x count and <= 1.6x cat, "
                "in a MARC-8 file <= 2x count\n",
                kRounds);
    bool ok = benchFile(argv[1], false);
    if (argc == 3)
        ok = benchFile(argv[2], true) && ok;
    return ok ? 0 : 1;
}
