// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

#include "display/RecordScan.h"
#include "files/FileAccess.h"
#include "formats/RecordFormats.h"

class TFormMarc;

/// The texts of the extract dialog last confirmed, whole as typed. The file name
/// prefills the next extract dialog; the record numbers never do.
struct ExtractChoice {
    QString fromText;
    QString toText;
    QString fileName;
};

/// What the export dialog last confirmed: the next one starts from it.
struct ExportChoice {
    veltrane::RecordFormat format = veltrane::RecordFormat::MarcXml;
    QString fileName;
    bool repair = false;  ///< 修复结构问题: the safe repairs of `fix` on the way out
};

/// The files waiting to be opened, one after another: while one is still
/// being indexed, the next waits.
struct OpenQueue {
    QStringList waiting;
    /// The document still being indexed in the background, or nullptr.
    TFormMarc* opening = nullptr;
};

/// What the viewer's windows share. The main window owns the one object and
/// hands it to each document window; the engine is given the parts a call
/// needs: the scratch display file with the record files it must never
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
    OpenQueue openQueue;
    ExtractChoice lastExtract;
    ExportChoice lastExport;

    [[nodiscard]] veltrane::ScanSettings scanSettings() const { return {delimiterMode, searchCaseSensitive}; }

    /// Notes what a display did to the scratch file: scratchExisted tells
    /// whether a file of that name was there before the scan, shown whether
    /// the scan rendered a record.
    void noteScratchDisplay(bool scratchExisted, bool shown);
    /// Deletes the scratch display file when a display of this run wrote it and
    /// no open record file goes by that name (a user's file is never removed).
    void deleteScratchFile();

private:
    // The scratch file as the last display left it: a file of that name is
    // ours to delete only while it is still that file.
    std::optional<veltrane::fileaccess::FileIdentity> m_writtenScratchFile;
};
