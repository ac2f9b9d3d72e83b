#pragma once

#include <QByteArray>
#include <QString>

#include "display/RecordScan.h"

/// What the viewer's document windows share, handed to the engine with each
/// call: the scratch display file with the record files it must never
/// overwrite, the delimiter variant, and the last search.
struct DocumentSharedState {
    /// "tempdisp.mrc" in the folder the viewer was started from.
    veltrane::ScratchDisplay scratch{"tempdisp.mrc"};
    veltrane::DelimiterMode delimiterMode = veltrane::dmNormal;
    /// The text of the last find as the records hold it (GBK bytes); empty
    /// before the first find.
    QByteArray searchText;
    /// The same text as typed, for records read in other sets than GBK (which
    /// may hold characters GBK cannot); empty before the first find.
    QString searchTextTyped;
    bool searchCaseSensitive = false;

    [[nodiscard]] veltrane::ScanSettings scanSettings() const { return {delimiterMode, searchCaseSensitive}; }
};

/// The one shared state of this viewer process.
DocumentSharedState& SharedState();
