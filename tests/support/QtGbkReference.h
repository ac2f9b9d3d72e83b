// SPDX-License-Identifier: Apache-2.0
#pragma once

// How the viewer showed display bytes when Qt's codec decoded them: the
// reference the engine's decoding of a GBK record's display bytes is held to.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

namespace testsupport {

inline QString qtGbkLine(QStringDecoder& decoder, QByteArrayView bytes)
{
    // The decoder drops a lead byte left without its second byte at the end of
    // the input; with a line end after it, it shows a replacement character.
    QByteArray line(bytes.data(), bytes.size());
    line.append('\n');
    QString text = decoder.decode(line);
    decoder.resetState();
    text.chop(1);
    return text;
}

/// The bytes up to the first zero byte, read as GBK by Qt's codec, line by
/// line; CR LF, LF and CR each end a line (given back as '\n').
inline QString QtShownGbkText(QByteArrayView bytes)
{
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes = bytes.first(zero);
    QStringDecoder decoder("GBK", QStringDecoder::Flag::Stateless);
    QString text;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char b = bytes[i];
        if (b != '\r' && b != '\n')
            continue;
        text += qtGbkLine(decoder, bytes.sliced(lineStart, i - lineStart));
        text += QLatin1Char('\n');
        if (b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        lineStart = i + 1;
    }
    text += qtGbkLine(decoder, bytes.sliced(lineStart));
    return text;
}

}  // namespace testsupport
