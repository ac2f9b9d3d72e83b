// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QString>
#include <string>

#include "charset/Charset.h"

#include "iso2709/RecordFields.h"
#include "search/RecordSearch.h"

// How a document window's file is searched and how a found record is named:
// the one place that decides the bytes searched for in a window and the text
// its titles are decoded to.

/// The query that searches a window's file for the typed text, each record in
/// its own character set under the window's setting, with the shared
/// delimiter variant; tag limits the match to fields with that tag (empty:
/// any field). gbkText is the same text in GBK, kept with the query.
[[nodiscard]] veltrane::SearchQuery MakeWindowSearchQuery(veltrane::CharsetSetting charset, veltrane::DelimiterMode delimiterMode,
                                                          const QString& typed, const QByteArray& gbkText,
                                                          bool caseSensitive, const QString& tag);

/// Reads the title of found records: subfield a of the first 200 field that
/// has one, else of the first such 245 field, decoded from the record's
/// character set; empty when there is none. Keeps its converters, so use one
/// object per thread.
class RecordTitleReader {
public:
    [[nodiscard]] QString title(const veltrane::RecordFields& fields, veltrane::DelimiterMode delimiterMode,
                                veltrane::CharsetSetting charset);

private:
    veltrane::TextCodec m_codec;
    std::string m_text;
};
