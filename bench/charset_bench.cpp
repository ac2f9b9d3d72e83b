// SPDX-License-Identifier: Apache-2.0
// charset_bench FILE...: for each record file, times the display of every
// record as decoded text (set chosen per record, decoded, laid out by display
// columns) against the byte display the window shows today, in memory, warm
// cache; the decoded display should take at most 1.5 times as long. For a
// file holding MARC-8 records it also times the same decoding against
// `yaz-marcdump -f MARC-8 -t UTF-8 FILE > /dev/null`, which it should not be
// slower than. Prints the median of several runs after a warm-up, and the
// ratios with their limits; both sides of a ratio are timed in the same run.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "charset/Charset.h"
#include "display/DisplayText.h"
#include "iso2709/RecordFields.h"
#include "iso2709/RecordLayout.h"
#include "iso2709/RecordStream.h"
#include "display/DecodedText.h"

namespace {

using namespace veltrane;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;
constexpr double kMinSeconds = 0.2;  // repeat a pass over small files until it takes this long
constexpr double kUtf8Limit = 1.5;

/// Median seconds of one call of work over kRuns runs, after one warm-up
/// run. The machine is shared: the median shrugs off a run that others slowed.
double median(const std::function<void()>& work)
{
    work();
    std::vector<double> seconds;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = Clock::now();
        work();
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

std::string shellQuoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: charset_bench FILE...\n");
        return 2;
    }
    int status = 0;
    for (int a = 1; a < argc; ++a) {
        const char* path = argv[a];
        const int fd = ::open(path, O_RDONLY);
        if (fd < 0) {
            std::perror(path);
            return 2;
        }
        // Every record assembled once, up front: the benchmark times display only.
        std::vector<std::unique_ptr<RecordFields>> records;
        std::size_t bytes = 0, marc8 = 0;
        {
            RecordStream stream(fd);
            FramedRecord framed;
            while (stream.next(framed) == RecordStream::Step::Record) {
                records.push_back(std::make_unique<RecordFields>());
                records.back()->assemble(framed.bytes.data(), framed.bytes.size());
                bytes += framed.bytes.size();
                marc8 += DetectCharset(*records.back()).charset == Charset::Marc8;
            }
        }
        ::close(fd);
        if (records.empty()) {
            std::printf("%s: no records\n", path);
            continue;
        }

        static DisplayText rawText;
        std::size_t sink = 0;
        auto rawPass = [&] {
            for (const auto& r : records) {
                rawText.clear();
                RenderDisplayText(rawText, r->bytes().data(), r->bytes().size(), kStandardFieldTerminator,
                                  kStandardSubfieldDelimiter);
                sink += rawText.text().size();
            }
        };
        TextCodec codec;
        auto decodedPass = [&](CharsetSetting setting) {
            for (const auto& r : records) {
                const Charset charset = ChooseCharset(setting, *r).charset;
                sink += RenderDecodedDisplayText(codec, charset, *r, kStandardFieldTerminator,
                                                 kStandardSubfieldDelimiter)
                            .text.size();
            }
        };
        // Small files: enough passes that one timed call lasts kMinSeconds.
        int passes = 1;
        for (auto start = Clock::now(); std::chrono::duration<double>(Clock::now() - start).count() < kMinSeconds / 4;)
            decodedPass(CharsetSetting::Auto), ++passes;
        const double raw = median([&] { for (int p = 0; p < passes; ++p) rawPass(); }) / passes;
        const double decoded = median([&] { for (int p = 0; p < passes; ++p) decodedPass(CharsetSetting::Auto); }) / passes;
        const double mib = static_cast<double>(bytes) / (1 << 20);
        std::printf("%s: %zu records, %.2f MiB, %zu read as MARC-8\n", path, records.size(), mib, marc8);
        std::printf("  byte display      %8.2f ms  %8.1f MiB/s\n", raw * 1e3, mib / raw);
        std::printf("  decoded display   %8.2f ms  %8.1f MiB/s  ratio %.2f (limit %.1f for UTF-8 files)\n",
                    decoded * 1e3, mib / decoded, decoded / raw, kUtf8Limit);

        if (marc8 > 0) {
            const std::string command = "yaz-marcdump -f MARC-8 -t UTF-8 " + shellQuoted(path) + " > /dev/null 2>&1";
            const double yaz = median([&] {
                if (std::system(command.c_str()) == -1)
                    std::fprintf(stderr, "charset_bench: cannot run yaz-marcdump\n");
            });
            // The same work as the command: start, read the file, decode every record as MARC-8.
            const double ours = median([&] {
                const int f = ::open(path, O_RDONLY);
                RecordStream stream(f);
                FramedRecord framed;
                RecordFields record;
                TextCodec own;
                while (stream.next(framed) == RecordStream::Step::Record) {
                    record.assemble(framed.bytes.data(), framed.bytes.size());
                    sink += RenderDecodedDisplayText(own, Charset::Marc8, record, kStandardFieldTerminator,
                                                     kStandardSubfieldDelimiter)
                                .text.size();
                }
                ::close(f);
            });
            std::printf("  yaz-marcdump      %8.2f ms\n", yaz * 1e3);
            std::printf("  MARC-8 display    %8.2f ms  ratio %.2f to yaz-marcdump (limit 1.0)\n", ours * 1e3,
                        ours / yaz);
        }
        if (sink == 0)
            status = 1;
    }
    return status;
}
