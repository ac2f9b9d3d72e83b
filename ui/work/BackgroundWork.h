// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "dialogs/Prompt.h"
#include "common/WorkMonitor.h"

/// One long operation of a document window (opening, find, extraction) run on
/// a worker thread with progress and cancel. start() waits a short grace
/// period: work done by then is finished as if it had run in place, so a quick
/// operation ends before start() returns and shows no progress; longer work
/// ends later with finished(). The engine's messages and questions reach the user on the
/// interface thread, in the order the engine gives them.
class BackgroundWork : public QObject {
    Q_OBJECT
public:
    using Job = std::function<void(const veltrane::WorkMonitor& monitor, ViewerPrompt& prompt)>;

    /// operation and file name the progress bar, e.g. "查找" and the path.
    BackgroundWork(QString operation, QString fileName, Job job, QObject* parent = nullptr);
    /// Cancels work that still runs and waits for it to end.
    ~BackgroundWork() override;

    /// Runs the job; true when it ended within the grace period (finished()
    /// is then not emitted).
    bool start();
    /// Asks the job to stop; it ends at its next check, undoing what it did.
    void cancel();
    /// Cancels and waits for the job to end, then emits nothing more.
    void cancelAndWait();

    [[nodiscard]] bool running() const { return m_started && !m_ended.load(); }
    [[nodiscard]] bool cancelRequested() const { return m_stop.stop_requested(); }
    [[nodiscard]] const QString& operation() const { return m_operation; }
    [[nodiscard]] const QString& fileName() const { return m_fileName; }
    /// Bytes of the record file done and its size, as last reported.
    [[nodiscard]] std::uint64_t done() const { return m_done.load(); }
    [[nodiscard]] std::uint64_t total() const { return m_total.load(); }

    /// How long start() waits before the work goes on in the background.
    static inline int graceMilliseconds = 300;
    /// Bytes of the record file between two progress checks.
    static inline std::uint64_t reportInterval = veltrane::kWorkReportInterval;
    /// Tests only: runs on the worker at every progress report (a test holds
    /// the work there to cancel it at a point of its choosing).
    static inline std::function<void()> onReportForTests;

signals:
    void progressChanged();
    /// The job ended after the grace period (or was cancelled).
    void finished();

private:
    class ForwardingPrompt;
    void run(std::stop_token stop);
    /// Hands task to the interface thread while it waits in start(); false
    /// when it no longer does.
    bool serveInPlace(std::function<void()>& task);

    QString m_operation;
    QString m_fileName;
    Job m_job;
    std::stop_source m_stop;
    std::jthread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_starterWaiting = false;                 // guarded by m_mutex
    std::function<void()>* m_pendingCall = nullptr;  // guarded by m_mutex
    std::atomic<bool> m_ended{false};
    std::atomic<bool> m_progressPosted{false};
    std::atomic<std::uint64_t> m_done{0};
    std::atomic<std::uint64_t> m_total{0};
    bool m_started = false;
    bool m_inPlace = false;
};
