// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "dialogs/DialogFrame.h"
#include "common/Outcome.h"
#include "search/RecordSearch.h"
#include "common/WorkMonitor.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

/// The find-in-all-windows dialog: the find dialog's text and letter case,
/// plus an optional field tag. Starts empty every time.
class TFormFindAll : public TModalDialog {
    Q_OBJECT
public:
    explicit TFormFindAll(QWidget* owner);

    QLineEdit* EditTextToFind;
    QCheckBox* CbxCase;
    QLineEdit* EditTag;
    QPushButton* BtnOk;
    QPushButton* BtnCancel;
};

/// Shown instead of searching when the field tag is not three characters.
inline constexpr const char* kFindAllBadTagMessage = "字段号必须是三个字母或数字。";

/// One file of a search over several: the file, the last record its window
/// knows (hits after it could not be shown), and the query for it.
struct FindAllTarget {
    std::string fileName;  ///< as the engine opens it
    std::int64_t lastRecord = 0;
    veltrane::SearchQuery query;
};

/// One record found: which target, its number, its title and the tag of the
/// first field that matched.
struct FindAllHit {
    int target = 0;
    std::int64_t record = 0;
    QString title;
    QString tag;
};

/// Searches several record files one after another on a worker thread of its
/// own, each front to back without an index, handing the hits over in
/// batches. Not one window's operation: no document window's work panel shows
/// it and it changes no window.
class FindAllSearch : public QObject {
    Q_OBJECT
public:
    /// At most maxHits hits are kept; finding one more ends the search.
    FindAllSearch(std::vector<FindAllTarget> targets, std::size_t maxHits, QObject* parent = nullptr);
    /// Cancels a search that still runs and waits for it.
    ~FindAllSearch() override;

    void start();
    /// Asks the search to stop; it ends at its next check.
    void cancel();
    /// Cancels and waits for the worker; finished() has been emitted on return.
    void cancelAndWait();

    [[nodiscard]] bool running() const { return m_started && !m_reported; }
    [[nodiscard]] bool cancelRequested() const { return m_stop.stop_requested(); }
    /// The hits found since the last call, in the order found.
    [[nodiscard]] std::vector<FindAllHit> takeHits();
    /// Bytes searched of all files together, and their total size.
    [[nodiscard]] std::uint64_t done() const { return m_done.load(); }
    [[nodiscard]] std::uint64_t total() const { return m_total.load(); }

    /// After finished(): whether more hits than maxHits were there, and how
    /// each target's search ended (NotFound for one not reached).
    [[nodiscard]] bool limitReached() const { return m_limitReached.load(); }
    [[nodiscard]] const std::vector<veltrane::Outcome>& outcomes() const { return m_outcomes; }

    /// Bytes of a record file between two progress checks.
    static inline std::uint64_t reportInterval = veltrane::kWorkReportInterval;
    /// Tests only: runs on the worker at every progress report, with the
    /// search's stop token (a test holds the search there until it is cancelled).
    static inline std::function<void(std::stop_token)> onReportForTests;

signals:
    /// Hits wait in takeHits(); one signal for many hits.
    void hitsReady();
    void progressChanged();
    /// The search ended (done, cancelled or at the limit); once.
    void finished();

private:
    void run(std::stop_token stop);
    void report();

    std::vector<FindAllTarget> m_targets;
    std::size_t m_maxHits;
    std::vector<veltrane::Outcome> m_outcomes;  // written by the worker, read after it ended
    std::stop_source m_stop;
    std::jthread m_thread;
    std::mutex m_mutex;
    std::vector<FindAllHit> m_pending;  // guarded by m_mutex
    std::atomic<bool> m_hitsPosted{false};
    std::atomic<bool> m_progressPosted{false};
    std::atomic<bool> m_limitReached{false};
    std::atomic<std::uint64_t> m_done{0};
    std::atomic<std::uint64_t> m_total{0};
    bool m_started = false;
    bool m_reported = false;
};
