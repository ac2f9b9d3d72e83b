// SPDX-License-Identifier: Apache-2.0
// Test-only program: prints what the character-set engine makes of a record
// file, for the oracle suite and for measuring the detection rule.
//   charset_dump detect FILE          number, set, rule, invalid bytes, leader/09, UNIMARC shape
//   charset_dump show [--charset C] FILE   every record's decoded display text
//   charset_dump runs [--charset C] FILE   one line per text run: number, set,
//                                          field index, tag, raw bytes and
//                                          decoded text in hex
// Records are framed as the record index frames them.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "charset/Charset.h"
#include "iso2709/RecordFields.h"
#include "iso2709/RecordLayout.h"
#include "iso2709/RecordStream.h"
#include "display/DecodedText.h"

using namespace veltrane;

namespace {

std::string hex(const unsigned char* p, std::size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out.empty() ? "-" : out;
}

/// The runs the display decodes one by one: after each subfield delimiter that
/// precedes a letter or digit (the code included), up to the next one or the
/// field's end.
void printRuns(TextCodec& codec, Charset charset, long number, const RecordFields& record)
{
    for (std::size_t i = 0; i < record.fields().size(); ++i) {
        const auto data = record.data(i);
        std::size_t start = 0;
        auto emit = [&](std::size_t end) {
            if (end <= start)
                return;
            std::string text;
            codec.decode(charset, data.subspan(start, end - start), text);
            std::printf("%ld\t%s\t%zu\t%.*s\t%s\t%s\n", number, std::string(CharsetName(charset)).c_str(), i,
                        static_cast<int>(record.tag(i).size()),
                        record.tag(i).data(), hex(data.data() + start, end - start).c_str(),
                        hex(reinterpret_cast<const unsigned char*>(text.data()), text.size()).c_str());
        };
        for (std::size_t k = 0; k < data.size(); ++k) {
            if (data[k] == kStandardFieldTerminator) {
                emit(k);
                start = data.size();
                break;
            }
            if (data[k] == kStandardSubfieldDelimiter && k + 1 < data.size() && IsAsciiLetterOrDigit(data[k + 1])) {
                emit(k);
                start = k + 1;
            }
        }
        emit(data.size());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: charset_dump detect|show|runs [--charset NAME] FILE\n");
        return 2;
    }
    const std::string mode = argv[1];
    CharsetSetting setting = CharsetSetting::Auto;
    int arg = 2;
    if (std::strcmp(argv[arg], "--charset") == 0 && arg + 2 < argc) {
        const auto parsed = ParseCharsetSetting(argv[arg + 1]);
        if (!parsed) {
            std::fprintf(stderr, "charset_dump: unknown set %s\n", argv[arg + 1]);
            return 2;
        }
        setting = *parsed;
        arg += 2;
    }
    const int fd = ::open(argv[arg], O_RDONLY);
    if (fd < 0) {
        std::perror(argv[arg]);
        return 2;
    }
    RecordStream stream(fd);
    RecordFields record;
    TextCodec codec;
    FramedRecord framed;
    while (stream.next(framed) == RecordStream::Step::Record) {
        record.assemble(framed.bytes.data(), framed.bytes.size());
        const CharsetDecision decision = ChooseCharset(setting, record);
        const long number = static_cast<long>(framed.number);
        if (mode == "runs") {
            printRuns(codec, decision.charset, number, record);
            continue;
        }
        const DecodedDisplay display = RenderDecodedDisplayText(codec, decision.charset, record,
                                                                kStandardFieldTerminator, kStandardSubfieldDelimiter);
        bool high = false;
        for (unsigned char b : record.bytes())
            high = high || b >= 0x80 || b == 0x1B;
        if (mode == "detect")
            std::printf("%ld\t%s\t%d\t%zu\t%c\t%s\t%s\n", number, std::string(CharsetName(decision.charset)).c_str(),
                        CharsetRuleNumber(decision.rule), display.invalidBytes, record.leader()[9],
                        IsUnimarcShaped(record) ? "unimarc" : "marc21", high ? "nonascii" : "ascii");
        else
            std::printf("%ld\n%s", number, display.text.c_str());
    }
    ::close(fd);
    return 0;
}
