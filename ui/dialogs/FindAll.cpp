// SPDX-License-Identifier: Apache-2.0
#include "dialogs/FindAll.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMetaObject>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>

#include "files/FileAccess.h"
#include "files/RecordFile.h"
#include "commands/WindowSearch.h"

namespace {

constexpr std::chrono::milliseconds kHitsInterval(50);

}  // namespace

TFormFindAll::TFormFindAll(QWidget* owner) : TModalDialog(owner)
{
    SetFixedDialogFrame(this, 383, 158);
    setWindowTitle(QStringLiteral("在所有窗口中查找"));

    auto* label = new QLabel(QStringLiteral("请输入查找内容："), this);
    label->setFont(ChineseDialogFont());
    label->setGeometry(25, 19, 110, 18);
    EditTextToFind = new QLineEdit(this);
    EditTextToFind->setObjectName(QStringLiteral("EditTextToFind"));
    EditTextToFind->setFont(ChineseDialogFont());
    EditTextToFind->setGeometry(25, 43, 233, 20);
    CbxCase = new QCheckBox(QStringLiteral("区分大小写"), this);
    CbxCase->setFont(ChineseDialogFont());
    CbxCase->setGeometry(25, 72, 97, 23);
    auto* tagLabel = new QLabel(QStringLiteral("只查字段(&T)："), this);
    tagLabel->setFont(ChineseDialogFont());
    tagLabel->setGeometry(25, 106, 90, 18);
    EditTag = new QLineEdit(this);
    EditTag->setObjectName(QStringLiteral("EditTag"));
    EditTag->setGeometry(118, 104, 40, 20);
    EditTag->setMaxLength(3);
    EditTag->setToolTip(QStringLiteral("三个字符的字段号，如 200 或 245；空着则查所有字段"));
    tagLabel->setBuddy(EditTag);
    BtnOk = MakeStockOkButton(this, QStringLiteral("OK"));
    BtnOk->setGeometry(284, 32, 73, 24);
    BtnCancel = MakeStockCancelButton(this, QStringLiteral("Cancel"));
    BtnCancel->setGeometry(284, 64, 73, 24);

    setTabOrder(EditTextToFind, CbxCase);
    setTabOrder(CbxCase, EditTag);
    setTabOrder(EditTag, BtnOk);
    setTabOrder(BtnOk, BtnCancel);
    EditTextToFind->setFocus();
    CentreOnMainWindow(this, owner);
}

FindAllSearch::FindAllSearch(std::vector<FindAllTarget> targets, std::size_t maxHits, QObject* parent)
    : QObject(parent),
      m_targets(std::move(targets)),
      m_maxHits(maxHits),
      m_outcomes(m_targets.size(), veltrane::Outcome::NotFound)
{
}

FindAllSearch::~FindAllSearch()
{
    cancelAndWait();
}

void FindAllSearch::start()
{
    m_started = true;
    m_thread = std::jthread([this](std::stop_token) { run(m_stop.get_token()); });
}

void FindAllSearch::cancel()
{
    m_stop.request_stop();
}

void FindAllSearch::cancelAndWait()
{
    m_stop.request_stop();
    if (m_thread.joinable())
        m_thread.join();
    report();
}

// Emits finished() once, on the interface thread, after the worker ended.
void FindAllSearch::report()
{
    if (!m_started || m_reported)
        return;
    m_reported = true;
    emit finished();
}

std::vector<FindAllHit> FindAllSearch::takeHits()
{
    std::lock_guard lock(m_mutex);
    m_hitsPosted.store(false);
    return std::exchange(m_pending, {});
}

void FindAllSearch::run(std::stop_token stop)
{
    std::vector<std::uint64_t> sizes;
    std::uint64_t total = 0;
    for (const FindAllTarget& target : m_targets) {
        struct stat st {};
        sizes.push_back(::stat(target.fileName.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0);
        total += sizes.back();
    }
    m_total.store(total);
    RecordTitleReader titles;
    std::size_t found = 0;
    std::uint64_t before = 0;  // bytes of the files searched already
    // Hits are handed over at most every kHitsInterval (and at the end): a
    // batch per hit would keep the interface thread as busy as the search.
    auto lastPost = std::chrono::steady_clock::now();
    bool unposted = false;
    const auto postHits = [&] {
        const auto now = std::chrono::steady_clock::now();
        if (!unposted || now - lastPost < kHitsInterval)
            return;
        lastPost = now;
        unposted = false;
        if (!m_hitsPosted.exchange(true))
            QMetaObject::invokeMethod(this, [this] { emit hitsReady(); }, Qt::QueuedConnection);
    };
    for (std::size_t i = 0; i < m_targets.size() && !stop.stop_requested() && !m_limitReached.load(); ++i) {
        const FindAllTarget& target = m_targets[i];
        veltrane::WorkMonitor monitor;
        monitor.stop = stop;
        monitor.interval = reportInterval;
        monitor.progress = [&](std::uint64_t done, std::uint64_t) {
            if (onReportForTests)
                onReportForTests(stop);
            postHits();
            m_done.store(before + std::min(done, sizes[i]));
            if (!m_progressPosted.exchange(true)) {
                QMetaObject::invokeMethod(this, [this] {
                    m_progressPosted.store(false);
                    emit progressChanged();
                }, Qt::QueuedConnection);
            }
        };
        const veltrane::fileaccess::UniqueFd fd(::open(target.fileName.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd) {
            m_outcomes[i] = veltrane::Outcome::FileError;
        } else {
            const veltrane::Status status = veltrane::SearchRecordStream(
                fd.get(), 1, target.query, monitor, [&](const veltrane::StreamMatch& match) {
                    if (match.record > target.lastRecord)
                        return false;
                    if (found == m_maxHits) {
                        m_limitReached.store(true);
                        return false;
                    }
                    ++found;
                    FindAllHit hit{static_cast<int>(i), match.record,
                                   titles.title(match.fields, target.query.delimiterMode, target.query.charset),
                                   QString::fromLatin1(match.tag.data(), qsizetype(match.tag.size()))};
                    {
                        std::lock_guard lock(m_mutex);
                        m_pending.push_back(std::move(hit));
                    }
                    unposted = true;
                    postHits();
                    return true;
                });
            m_outcomes[i] = status.outcome;
        }
        before += sizes[i];
        m_done.store(before);
    }
    QMetaObject::invokeMethod(this, [this] {
        if (m_thread.joinable())
            m_thread.join();
        report();
    }, Qt::QueuedConnection);
}
