// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

#include <random>
#include <string>

#include "QtGbkReference.h"
#include "charset/Charset.h"
#include "display/RecordTextWriter.h"

namespace veltrane {
namespace {

std::string decodedByQt(const unsigned char (&pair)[2])
{
    QStringDecoder decoder("GBK", QStringDecoder::Flag::Stateless);
    const QString text = decoder(QByteArrayView(reinterpret_cast<const char*>(pair), 2));
    return text.toStdString();
}

TEST(GbkQtAgreement, EveryDoubleByteCodeDecodesAsQtDecodesIt)
{
    ASSERT_TRUE(QStringDecoder("GBK").isValid());
    TextCodec codec;
    int codes = 0, privateUse = 0;
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F)
                continue;
            const unsigned char pair[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
            std::string engine;
            (void)codec.decode(Charset::Gbk, pair, engine);
            const std::string qt = decodedByQt(pair);
            ASSERT_EQ(engine, qt) << std::hex << lead << trail;
            ++codes;
            const QString shown = QString::fromStdString(engine);
            privateUse += shown.size() == 1 && shown[0].category() == QChar::Other_PrivateUse;
        }
    }
    EXPECT_EQ(codes, 126 * 190);
    // The three user-defined areas alone hold 1,894 codes.
    EXPECT_GT(privateUse, 1894);
}

std::string shownByEngine(TextCodec& codec, const std::string& bytes)
{
    std::string text;
    AppendShownGbkText(codec, bytes, text);
    return text;
}

std::string shownByQt(const std::string& bytes)
{
    return testsupport::QtShownGbkText(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())))
        .toStdString();
}

// A window shows a GBK record's display bytes as Qt's codec showed them, for
// any bytes: every one- and two-byte text (invalid pairs, lone lead bytes,
// 0x80 and 0xFF, controls, line ends and zero bytes among them), a lead byte
// before each of them, and random texts weighted towards high bytes.
TEST(GbkQtAgreement, DisplayBytesShowAsQtShowedThem)
{
    TextCodec codec;
    for (unsigned a = 0; a <= 0xFF; ++a) {
        for (unsigned b = 0; b <= 0xFF; ++b) {
            for (const std::string& bytes : {std::string{static_cast<char>(a), static_cast<char>(b)},
                                              std::string{static_cast<char>(0x81), static_cast<char>(a), static_cast<char>(b)}}) {
                ASSERT_EQ(shownByEngine(codec, bytes), shownByQt(bytes)) << std::hex << a << ' ' << b;
            }
        }
    }
    std::mt19937 random(18);
    for (int k = 0; k < 100000; ++k) {
        std::string bytes(1 + random() % 12, '\0');
        for (char& c : bytes) {
            const unsigned r = random();
            c = static_cast<char>(r % 5 == 0 ? r >> 8 : r % 5 == 1 ? 0x20 + (r >> 8) % 0x60 : 0x80 + (r >> 8) % 0x80);
        }
        ASSERT_EQ(shownByEngine(codec, bytes), shownByQt(bytes)) << k;
    }
}

}  // namespace
}  // namespace veltrane

namespace veltrane {
namespace {

// A typed text is refused, or turned into GBK, as Qt's encoder did it for the
// viewer: every character, the Private Use ones code page 936 shows included.
TEST(GbkQtAgreement, EveryCharacterEncodesAsQtEncodedIt)
{
    TextCodec codec;
    for (char32_t cp = 1; cp < 0x110000; ++cp) {
        if (cp >= 0xD800 && cp < 0xE000)
            continue;
        const QString text = QString::fromUcs4(&cp, 1);
        QStringEncoder qt("GBK");
        const QByteArray qtBytes = qt.encode(text);
        const bool qtHolds = qt.isValid() && !qt.hasError();
        const std::optional<std::string> engine = codec.encode(Charset::Gbk, text.toStdString());
        ASSERT_EQ(engine.has_value(), qtHolds) << std::hex << static_cast<unsigned>(cp);
        if (qtHolds)
            ASSERT_EQ(*engine, qtBytes.toStdString()) << std::hex << static_cast<unsigned>(cp);
    }
}

}  // namespace
}  // namespace veltrane
