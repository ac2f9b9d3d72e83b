#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include "RecordFields.h"
#include "RecordSearch.h"

class TFormMarc;

// How a document window's file is searched and how a found record is named:
// the one place that decides the bytes searched for in a window and the text
// its titles are decoded to.

/// The query that searches window's file for gbkText (the search text as the
/// records hold it), with the shared delimiter variant; tag limits the match
/// to fields with that tag (empty: any field).
[[nodiscard]] veltrane::SearchQuery MakeWindowSearchQuery(const TFormMarc& window, const QByteArray& gbkText,
                                                          bool caseSensitive, const QString& tag);

/// Reads the title of found records: subfield a of the first 200 field that
/// has one, else of the first such 245 field; empty when there is none.
/// Keeps its decoder, so use one object per thread.
class RecordTitleReader {
public:
    [[nodiscard]] QString title(const veltrane::RecordFields& fields, int delimiterMode);

private:
    QStringDecoder m_gbk{"GBK", QStringDecoder::Flag::Stateless};
};
