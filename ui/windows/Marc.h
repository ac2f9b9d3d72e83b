// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QMdiSubWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "charset/Charset.h"
#include "dialogs/Prompt.h"
#include "files/RecordIndex.h"
#include "windows/RecordInfo.h"
#include "windows/RecordTextMap.h"
#include "windows/RecordTextEdit.h"
#include "common/WorkMonitor.h"

class BackgroundWork;
class QMdiArea;
class QSplitter;
class RecordListPane;

struct DocumentSharedState;

/// The window of one open record file: shows one record as text and remembers
/// which record that is. Owns the file's record index. It tells the main
/// window what changed through its signals.
class TFormMarc : public QMdiSubWindow {
    Q_OBJECT
public:
    /// A window in area, captioned "FormMarc" and showing nothing until
    /// open(); its record text starts at textPixelSize.
    TFormMarc(DocumentSharedState& shared, QMdiArea* area, int textPixelSize);
    ~TFormMarc() override;

    /// Builds the index of path and shows record 1; on failure reports it and
    /// closes itself (check isOpen() or isOpening() afterwards).
    void open(const QString& path);
    /// What the windows share (the delimiter variant, the scratch file, the last search).
    [[nodiscard]] DocumentSharedState& shared() const { return m_shared; }

    RecordTextEdit* MemoMarc;
    std::string FileName;                       ///< path as local 8-bit bytes, for the engine
    std::optional<std::string> IndexFileName;   ///< the record index, when one could be made
    int CurrentRecord = 1;                      ///< 1-based number of the record on display
    int RecordCount = -1;                       ///< records in the index, or -1
    QString TitleName;                          ///< the path as shown in caption and status bar
    /// The character set this window reads its records in; a new window decides per record.
    veltrane::CharsetSetting CharsetChoice = veltrane::CharsetSetting::Auto;

    /// The content rules this window checks its records by; a new window chooses per record.
    veltrane::RuleSetting RuleChoice = veltrane::RuleSetting::Auto;

    /// Reads the records in another set from now on and shows the record again.
    void setCharsetChoice(veltrane::CharsetSetting setting);
    /// Checks the records by other rules from now on and shows the record again.
    void setRuleChoice(veltrane::RuleSetting setting);
    /// The set, invalid bytes and structural problems of the record on display.
    [[nodiscard]] const RecordInfo& recordInfo() const { return m_recordInfo; }
    /// What the information panel says while this window is active.
    [[nodiscard]] QString infoText() const { return RecordInfoText(m_recordInfo, m_infoSetting, RecordCount); }

    /// Where the record's elements stand in the text on display.
    [[nodiscard]] const RecordTextMap& textMap() const { return m_textMap; }
    /// Selects in the record text the place a content finding concerns (the
    /// field, indicator or subfield); whether it is shown there.
    bool selectFinding(const veltrane::CheckProblem& finding);

    /// Whether the first record could be shown (the window closes itself otherwise).
    [[nodiscard]] bool isOpen() const { return m_open; }
    /// Whether the file is still being indexed (in the background).
    [[nodiscard]] bool isOpening() const { return m_opening; }
    /// The long operation running for this window, or nullptr.
    [[nodiscard]] BackgroundWork* work() const { return m_work.get(); }
    /// Asks the running operation, if any, to stop.
    void cancelWork();
    /// Finds the search text from record `from` to the last record in the
    /// background and shows the record found; tells notFoundMessage when
    /// there is none (not after a cancel).
    void FindFrom(int from, const char* notFoundMessage);
    /// Runs job in the background as this window's operation, then done() on
    /// this thread (right away when it ends within the grace period). Nothing
    /// when another operation runs.
    void runWork(const QString& operation, std::function<void(const veltrane::WorkMonitor&, ViewerPrompt&)> job,
                 std::function<void()> done);

    /// Displays the record ScanRecords selects; returns its number, or the scan's
    /// result when that is not positive (then nothing on screen changes).
    int ShowRecord(int from, int to, const char* pattern);
    void FormActivate();
    void ShowPrevRecord();
    void ShowNextRecord();
    void RedisplayRecord();
    /// Show record 1 / the last record unless it is on display already.
    void ShowFirstRecord();
    void ShowLastRecord();

    /// Shows or hides the field names beside the record text.
    void setFieldNamesShown(bool shown) { MemoMarc->setLineNamesShown(shown); }
    /// Shows or hides the record list beside the record text; the list is
    /// read from the file the first time it shows (once the file is open).
    void setRecordListShown(bool shown);
    /// The record list pane, once it has been shown; nullptr before.
    [[nodiscard]] RecordListPane* recordList() const { return m_recordList; }

signals:
    /// The status bar's panels for this window: its file, its record and the
    /// information panel; all empty once the window has gone.
    void statusChanged(const QString& file, const QString& record, const QString& info);
    /// An operation started, made progress or ended.
    void workChanged();
    /// The background opening has ended (or was cancelled).
    void openingEnded();
    /// Ctrl+wheel over the record text: every window's text zooms steps steps.
    void zoomRequested(int steps);
    /// 导出所选纪录… in the record list.
    void exportSelectionRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    /// Shows the record the scan selects; the result as ShowRecord's.
    int display(int from, int to, const char* pattern);
    void finishOpening(veltrane::IndexBuild build);
    /// Deletes the index, forgets the record file and empties the status bar; once.
    void releaseResources();
    /// Makes the list pane and starts reading it, when it is wanted and the file is open.
    void startRecordList();
    /// "unimarc" or "marc21": whose columns the record list takes.
    [[nodiscard]] QString recordListFormat() const;

    DocumentSharedState& m_shared;
    QSplitter* m_splitter;
    RecordListPane* m_recordList = nullptr;
    bool m_recordListWanted = false;
    bool m_open = false;
    bool m_registered = false;
    bool m_statusCleared = false;
    bool m_opening = false;
    std::unique_ptr<BackgroundWork> m_work;
    std::unique_ptr<veltrane::TextCodec> m_codec;  // this window's own: codecs are not shared across threads
    RecordInfo m_recordInfo;
    RecordTextMap m_textMap;
    veltrane::CharsetSetting m_infoSetting = veltrane::CharsetSetting::Auto;  // the setting m_recordInfo was made under
};

/// The document window opened last (null once it is gone); written, never read.
extern QPointer<TFormMarc> FormMarc;

