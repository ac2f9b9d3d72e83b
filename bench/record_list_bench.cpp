// SPDX-License-Identifier: Apache-2.0
// record_list_bench FILE: fills the record list of FILE (every record's
// default columns), sorts it by title, and prints the fill time, the sort
// time and the list's bytes per record, warm cache, best of a few runs.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>

#include "list/ListFill.h"

namespace {

using namespace veltrane;

constexpr int kRuns = 3;
constexpr double kFillLimit = 3.0;
constexpr double kSortLimit = 1.5;
constexpr double kBytesLimit = 300.0;

double secondsOf(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
        fill = std::min(fill, secondsOf([&] { read = ReadRecordList(fd, dmNormal, CharsetSetting::Auto); }));
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
    return 0;
}
