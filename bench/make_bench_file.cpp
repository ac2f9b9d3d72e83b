// SPDX-License-Identifier: Apache-2.0
// make_bench_file OUT SIZE_MIB [packed]: writes a record file of about SIZE_MIB
// MiB of catalogue records, about 300 to 2000 bytes each, with GBK titles,
// names and summaries; most back to back, one in ten followed by CR LF (none
// with "packed", so that peers that take no line ends read it cleanly). The
// same arguments always give the same bytes.

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "RecordFiles.h"

namespace {

using testsupport::Field;

constexpr char kSubfield = '\x1f';
constexpr std::size_t kMinRecordLength = 300;
constexpr std::size_t kMaxRecordLength = 2000;

class RecordMaker {
public:
    std::string next(unsigned long serial)
    {
        std::vector<Field> fields{
            {"001", "VB" + digits(serial, 10)},
            {"010", std::string("  ") + kSubfield + "a978-7-" + digits(m_random() % 10000, 4) + "-"
                        + digits(m_random() % 10000, 4) + "-" + digits(m_random() % 10, 1) + kSubfield + "dCNY"
                        + std::to_string(10 + m_random() % 90) + ".00"},
            {"100", std::string("  ") + kSubfield + "a20231201d" + std::to_string(1950 + m_random() % 74)
                        + "    em y0chiy0110    ea"},
            {"200", std::string("1 ") + kSubfield + "a" + gbk(4, 20) + kSubfield + "f" + gbk(2, 4)},
            {"210", std::string("  ") + kSubfield + "a" + gbk(2, 3) + kSubfield + "c" + gbk(4, 8) + kSubfield
                        + "d" + std::to_string(1950 + m_random() % 74)},
            {"215", std::string("  ") + kSubfield + "a" + std::to_string(50 + m_random() % 900) + "\xd2\xb3"
                        + kSubfield + "d26cm"},
            {"606", std::string("0 ") + kSubfield + "a" + gbk(2, 6) + kSubfield + "x" + gbk(2, 4)},
            {"701", std::string(" 0") + kSubfield + "a" + gbk(2, 4)},
        };
        const std::size_t target = kMinRecordLength + m_random() % (kMaxRecordLength - kMinRecordLength + 1);
        const std::size_t withoutSummary = testsupport::MakeRecord(fields).size();
        // A summary field costs 12 directory bytes, a terminator and "  \x1fa".
        constexpr std::size_t kSummaryOverhead = 12 + 1 + 4;
        if (target > withoutSummary + kSummaryOverhead + 2) {
            const std::size_t characters = (target - withoutSummary - kSummaryOverhead) / 2;
            fields.insert(fields.begin() + 6, {"330", std::string("  ") + kSubfield + "a" + gbk(characters, characters)});
        }
        return testsupport::MakeRecord(fields);
    }

    bool oneInTen() { return m_random() % 10 == 0; }

private:
    static std::string digits(unsigned long value, int width)
    {
        std::string text = std::to_string(value);
        return std::string(text.size() < static_cast<std::size_t>(width) ? width - text.size() : 0, '0') + text;
    }

    /// Between min and max GB2312 characters from the first level of Hanzi.
    std::string gbk(std::size_t min, std::size_t max)
    {
        std::size_t count = min + m_random() % (max - min + 1);
        std::string text;
        text.reserve(2 * count);
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned lead = 0xB0 + m_random() % 0x28;  // lead bytes 0xB0-0xD7
            // Trail bytes 0xA1-0xFE; the level ends at 0xD7F9, and GBK leaves
            // 0xD7FA-0xD7FE unassigned.
            const unsigned trails = lead == 0xD7 ? 0xF9 - 0xA1 + 1 : 0xFE - 0xA1 + 1;
            text += static_cast<char>(lead);
            text += static_cast<char>(0xA1 + m_random() % trails);
        }
        return text;
    }

    std::mt19937_64 m_random{20231201};
};

}  // namespace

int main(int argc, char** argv)
{
    char* end = nullptr;
    const long mib = argc >= 3 ? std::strtol(argv[2], &end, 10) : 0;
    const bool packed = argc == 4 && std::string(argv[3]) == "packed";
    if (argc < 3 || argc > 4 || (argc == 4 && !packed) || *end != '\0' || mib <= 0) {
        std::fprintf(stderr, "usage: make_bench_file OUT SIZE_MIB [packed]\n");
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    static char buffer[1 << 20];
    std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
    const unsigned long long size = static_cast<unsigned long long>(mib) << 20;
    RecordMaker maker;
    unsigned long long written = 0;
    for (unsigned long serial = 1; written < size; ++serial) {
        std::string record = maker.next(serial);
        if (maker.oneInTen() && !packed)
            record += "\r\n";
        std::fwrite(record.data(), 1, record.size(), out);
        written += record.size();
    }
    const bool writeFailed = std::ferror(out) != 0;
    if (std::fclose(out) != 0 || writeFailed) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
