// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <string>

#include "charset/Charset.h"

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

}  // namespace
}  // namespace veltrane
