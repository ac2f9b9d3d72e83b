// SPDX-License-Identifier: Apache-2.0
#include "windows/Marc.h"

#include <QCloseEvent>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTextCursor>

#include <cstdio>

#include "work/BackgroundWork.h"
#include "files/FileAccess.h"
#include "dialogs/Prompt.h"
#include "files/RecordIndex.h"
#include "files/RecordFile.h"
#include "display/RecordScan.h"
#include "windows/RecordListModel.h"
#include "windows/RecordListPane.h"
#include "windows/RecordNotes.h"
#include "state/Settings.h"
#include "windows/RecordText.h"
#include "windows/RecordTextEdit.h"
#include "windows/WindowPlacement.h"
#include "state/SharedState.h"
#include "commands/WindowSearch.h"

QPointer<TFormMarc> FormMarc;

namespace {

constexpr int kMemoFontPixelSize = kDefaultRecordTextPixelSize;

// A double-byte character must take exactly two Latin columns so that wrapped
// lines stay aligned: the CJK monospace font does that, a plain monospace font
// is the next best thing.
QFont memoFont()
{
    QFont font(QStringLiteral("Noto Sans Mono CJK SC"));
    font.setPixelSize(kMemoFontPixelSize);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setHintingPreference(QFont::PreferFullHinting);
    if (QFontInfo(font).family() == font.family())
        return font;
    QFont fallback = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fallback.setPixelSize(kMemoFontPixelSize);
    fallback.setHintingPreference(QFont::PreferFullHinting);
    return fallback;
}

using veltrane::fileaccess::identityOf;

}  // namespace

TFormMarc::TFormMarc(DocumentSharedState& shared, QMdiArea* area, int textPixelSize)
    : QMdiSubWindow(nullptr),
      MemoMarc(new RecordTextEdit(this)),
      m_shared(shared),
      m_splitter(new QSplitter(Qt::Horizontal)),
      m_codec(std::make_unique<veltrane::TextCodec>())
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("FormMarc"));
    setWindowIcon(area->window()->windowIcon());
    MemoMarc->setObjectName(QStringLiteral("MemoMarc"));
    MemoMarc->setReadOnly(true);
    MemoMarc->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoMarc->setWordWrapMode(QTextOption::NoWrap);
    MemoMarc->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoMarc->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoMarc->setFont(memoFont());
    PrepareRecordText(MemoMarc, textPixelSize, [this](int steps) { emit zoomRequested(steps); });
    MemoMarc->setToolTipSource([this](int position) { return ElementToolTip(m_textMap, m_recordInfo, position); });
    MemoMarc->setLineNamesShown(settings::fieldNamesShown());
    // The list, once shown, stands left of the record text; the text alone
    // fills the window while it is off.
    m_splitter->setObjectName(QStringLiteral("MarcSplitter"));
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(MemoMarc);
    setWidget(m_splitter);

    area->addSubWindow(this);
    PlaceNewDocumentWindow(area, this, MemoMarc);
    show();
}

void TFormMarc::open(const QString& path)
{
    FileName = QFile::encodeName(path).toStdString();
    m_shared.scratch.registerRecordFile(FileName.c_str());
    m_registered = true;
    IndexFileName = veltrane::CreateIndexName(Prompt());
    TitleName = path;
    CurrentRecord = 1;
    if (!IndexFileName) {
        finishOpening({veltrane::Outcome::FileError, -1});
        return;
    }
    m_opening = true;
    auto build = std::make_shared<veltrane::IndexBuild>();
    runWork(QStringLiteral("打开"),
            [build, file = FileName, index = *IndexFileName](const veltrane::WorkMonitor& monitor, ViewerPrompt&) {
                *build = veltrane::BuildRecordIndex(file.c_str(), index.c_str(), monitor);
            },
            [this, build] { finishOpening(*build); });
}

void TFormMarc::finishOpening(veltrane::IndexBuild build)
{
    const bool wasOpening = std::exchange(m_opening, false);
    if (build.outcome == veltrane::Outcome::Cancelled) {
        close();
    } else {
        RecordCount = build.count;
        if (display(1, 1, "") < 1) {
            Prompt().showMessage("Not marc format file!");
            close();
        } else {
            m_open = true;
            startRecordList();
        }
    }
    // Opened after the grace period: the next file waiting may open now.
    if (wasOpening)
        emit openingEnded();
}

void TFormMarc::runWork(const QString& operation,
                        std::function<void(const veltrane::WorkMonitor&, ViewerPrompt&)> job,
                        std::function<void()> done)
{
    if (m_work)
        return;
    m_work = std::make_unique<BackgroundWork>(operation, TitleName, std::move(job));
    if (m_work->start()) {
        m_work.reset();
        done();
        return;
    }
    BackgroundWork* work = m_work.get();
    connect(work, &BackgroundWork::progressChanged, this, &TFormMarc::workChanged);
    connect(work, &BackgroundWork::finished, this, [this, done = std::move(done)] {
        // The work object goes first, so that done() may start another; it is
        // deleted once its signal has returned.
        m_work.release()->deleteLater();
        emit workChanged();
        done();
    });
    emit workChanged();
}

void TFormMarc::cancelWork()
{
    if (m_work)
        m_work->cancel();
}

void TFormMarc::FindFrom(int from, const char* notFoundMessage)
{
    const QByteArray pattern = m_shared.searchText;
    const veltrane::SearchQuery query = MakeWindowSearchQuery(CharsetChoice, m_shared.delimiterMode,
                                                              m_shared.searchTextTyped, pattern,
                                                              m_shared.searchCaseSensitive, {});
    const int to = RecordCount;
    auto result = std::make_shared<veltrane::FindResult>();
    runWork(QStringLiteral("查找"),
            [=, file = FileName, index = IndexFileName.value_or(std::string())](const veltrane::WorkMonitor& monitor,
                                                                                 ViewerPrompt&) {
                veltrane::RecordFile records;
                if (records.openRecords(file.c_str()) && records.openIndex(index.c_str()))
                    *result = records.find(from, to, query, monitor);
                else
                    result->outcome = veltrane::Outcome::FileError;
            },
            [this, result, from, to, pattern, notFoundMessage, typed = m_shared.searchTextTyped,
             caseSensitive = m_shared.searchCaseSensitive] {
                if (result->outcome == veltrane::Outcome::Cancelled)
                    return;
                // The record found is shown as any record is, which also tells
                // a file that has failed since the search with the scan's own
                // message; with nothing found,
                // a search of the empty range leaves the scratch file and the
                // messages as a search that found nothing does.
                const bool found = result->outcome == veltrane::Outcome::Done;
                const int record = found ? ShowRecord(static_cast<int>(result->record),
                                                      static_cast<int>(result->record), "")
                                         : ShowRecord(std::max(from, to + 1), to, pattern.constData());
                if (record < 1)
                    Prompt().showMessage(notFoundMessage);
                else if (found)
                    (void)SelectFirstMatch(MemoMarc, typed, caseSensitive);
            });
}

TFormMarc::~TFormMarc()
{
    releaseResources();
}

void TFormMarc::closeEvent(QCloseEvent* event)
{
    // Whatever runs stops first and undoes what it did; then the files go.
    if (m_work) {
        m_work->cancelAndWait();
        m_work.reset();
        if (std::exchange(m_opening, false))
            emit openingEnded();
    }
    QMdiSubWindow::closeEvent(event);
    if (event->isAccepted())
        releaseResources();
}

void TFormMarc::releaseResources()
{
    if (IndexFileName) {
        std::remove(IndexFileName->c_str());
        IndexFileName.reset();
    }
    if (m_registered) {
        m_shared.scratch.unregisterRecordFile(FileName.c_str());
        m_registered = false;
    }
    if (!m_statusCleared) {
        m_statusCleared = true;
        emit statusChanged({}, {}, {});
    }
}

int TFormMarc::display(int from, int to, const char* pattern)
{
    // Without an index name the scan fails on the index and says so.
    const char* index = IndexFileName ? IndexFileName->c_str() : "";
    const DocumentSharedState& shared = m_shared;
    const char* scratch = shared.scratch.path().c_str();
    const bool scratchExisted = identityOf(scratch).has_value();
    const veltrane::ShowTextRequest show{CharsetChoice, *m_codec, RuleChoice};
    veltrane::ScanResult shown = veltrane::ScanRecordText(shared.scratch, shared.scanSettings(), FileName.c_str(),
                                                          index, from, to, pattern, &show);
    if (shown.outcome == veltrane::ScanOutcome::FileError)
        Prompt().showMessage(std::string(shown.message));
    const int r = shown.found() ? shown.record : -1;
    m_shared.noteScratchDisplay(scratchExisted, r > 0);
    if (r <= 0)
        return r;
    m_recordInfo = MakeRecordInfo(std::move(*shown.shown));
    m_infoSetting = CharsetChoice;
    m_textMap = RecordTextMap(m_recordInfo.text);
    MemoMarc->setDisplayText(m_recordInfo.text);
    MemoMarc->setLineNames(LineNames(m_textMap, NamingRules(m_recordInfo)), LineToolTips(m_textMap, m_recordInfo));
    MemoMarc->setUnderlines(FindingUnderlines(m_textMap, m_recordInfo));
    CurrentRecord = r;
    if (m_recordList != nullptr)
        m_recordList->selectRecord(r);
    setWindowTitle(QStringLiteral("%1 纪录号：%2").arg(TitleName).arg(r));
    FormActivate();
    return r;
}

int TFormMarc::ShowRecord(int from, int to, const char* pattern)
{
    return display(from, to, pattern);
}

void TFormMarc::FormActivate()
{
    emit statusChanged(QStringLiteral("文件名：%1").arg(TitleName), QStringLiteral("纪录号：%1").arg(CurrentRecord),
                       infoText());
}

void TFormMarc::setCharsetChoice(veltrane::CharsetSetting setting)
{
    CharsetChoice = setting;
    RedisplayRecord();
    // The list's text is decoded in the window's set too.
    if (m_recordList != nullptr)
        m_recordList->fill(FileName, RecordCount, m_shared.delimiterMode, CharsetChoice, RuleChoice);
}

bool TFormMarc::selectFinding(const veltrane::CheckProblem& finding)
{
    const std::optional<RecordTextSpan> span = FindingSpan(m_textMap, finding);
    if (!span)
        return false;
    QTextCursor cursor = MemoMarc->textCursor();
    cursor.setPosition(MemoMarc->documentPosition(span->end));
    MemoMarc->setTextCursor(cursor);
    MemoMarc->ensureCursorVisible();
    cursor.setPosition(MemoMarc->documentPosition(span->start), QTextCursor::KeepAnchor);
    MemoMarc->setTextCursor(cursor);
    MemoMarc->ensureCursorVisible();
    return true;
}

void TFormMarc::setRuleChoice(veltrane::RuleSetting setting)
{
    RuleChoice = setting;
    RedisplayRecord();
    // The list's 问题 counts the findings of the window's rules too.
    if (m_recordList != nullptr)
        m_recordList->fill(FileName, RecordCount, m_shared.delimiterMode, CharsetChoice, RuleChoice);
}

void TFormMarc::setRecordListShown(bool shown)
{
    m_recordListWanted = shown;
    if (m_recordList != nullptr)
        m_recordList->setVisible(shown);
    else if (shown)
        startRecordList();
}

void TFormMarc::startRecordList()
{
    if (!m_recordListWanted || !m_open || m_recordList != nullptr)
        return;
    m_recordList = new RecordListPane;
    m_splitter->insertWidget(0, m_recordList);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 1);
    connect(m_recordList, &RecordListPane::recordChosen, this, [this](int record) {
        if (record != CurrentRecord)
            (void)ShowRecord(record, record, "");
    });
    // A new filter or a new fill loses the selection: the record on display is selected again.
    connect(m_recordList->model(), &QAbstractItemModel::modelReset, this,
            [this] { m_recordList->selectRecord(CurrentRecord); });
    connect(m_recordList, &RecordListPane::exportSelectionRequested, this, &TFormMarc::exportSelectionRequested);
    m_recordList->useColumnsOf(recordListFormat());
    m_recordList->fill(FileName, RecordCount, m_shared.delimiterMode, CharsetChoice, RuleChoice);
}

QString TFormMarc::recordListFormat() const
{
    // The file's first record tells the format whose columns the list takes.
    veltrane::RecordFile file;
    const bool unimarc = IndexFileName && file.openRecords(FileName.c_str()) && file.openIndex(IndexFileName->c_str())
                         && file.read(1) == veltrane::Outcome::Done && veltrane::IsUnimarcShaped(file.fields());
    return unimarc ? QStringLiteral("unimarc") : QStringLiteral("marc21");
}

void TFormMarc::ShowPrevRecord()
{
    if (CurrentRecord < 2) {
        Prompt().showMessage("  第一条记录!  ");
        return;
    }
    (void)ShowRecord(CurrentRecord - 1, CurrentRecord - 1, "");
}

void TFormMarc::ShowNextRecord()
{
    if (CurrentRecord >= RecordCount) {
        Prompt().showMessage("  最后一条记录!  ");
        return;
    }
    (void)ShowRecord(CurrentRecord + 1, CurrentRecord + 1, "");
}

void TFormMarc::RedisplayRecord()
{
    (void)ShowRecord(CurrentRecord, CurrentRecord, "");
}

void TFormMarc::ShowFirstRecord()
{
    if (CurrentRecord != 1)
        (void)ShowRecord(1, 1, "");
}

void TFormMarc::ShowLastRecord()
{
    // A file of one empty leader counts no records yet shows record 1: there
    // is no last record to go to.
    if (RecordCount >= 1 && CurrentRecord != RecordCount)
        (void)ShowRecord(RecordCount, RecordCount, "");
}
