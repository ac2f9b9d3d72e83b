// SPDX-License-Identifier: Apache-2.0
#include "work/BackgroundWork.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <chrono>
#include <utility>

/// The engine's prompt on the worker: each message or question is handed to
/// the interface thread and waited for, so the user sees them in order.
class BackgroundWork::ForwardingPrompt final : public ViewerPrompt {
public:
    explicit ForwardingPrompt(BackgroundWork& work) : m_work(work) {}

    void showMessage(std::string_view text) override
    {
        const std::string copy(text);
        onInterface([&] { Prompt().showMessage(copy); });
    }
    void showInformation(const QString& text) override
    {
        onInterface([&] { Prompt().showInformation(text); });
    }
    void showError(const QString& text) override
    {
        onInterface([&] { Prompt().showError(text); });
    }
    bool askReplace(const QString& targetPath) override
    {
        bool replace = false;
        onInterface([&] { replace = Prompt().askReplace(targetPath); });
        return replace;
    }
    veltrane::OverwriteChoice askOverwrite(std::string_view targetPath) override
    {
        const std::string copy(targetPath);
        veltrane::OverwriteChoice choice = veltrane::OverwriteChoice::Unavailable;
        onInterface([&] { choice = Prompt().askOverwrite(copy); });
        return choice;
    }

private:
    template <class F>
    void onInterface(F&& call)
    {
        // While the interface thread waits out the grace period it serves the
        // call itself, so a quick operation with a question stays in place;
        // later the call goes through its event loop.
        std::function<void()> task(std::forward<F>(call));
        if (m_work.serveInPlace(task))
            return;
        QMetaObject::invokeMethod(&m_work, task, Qt::BlockingQueuedConnection);
    }

    BackgroundWork& m_work;
};

BackgroundWork::BackgroundWork(QString operation, QString fileName, Job job, QObject* parent)
    : QObject(parent), m_operation(std::move(operation)), m_fileName(std::move(fileName)), m_job(std::move(job))
{
}

BackgroundWork::~BackgroundWork()
{
    cancelAndWait();
}

bool BackgroundWork::serveInPlace(std::function<void()>& task)
{
    std::unique_lock lock(m_mutex);
    if (!m_starterWaiting)
        return false;
    m_pendingCall = &task;
    m_wake.notify_all();
    m_wake.wait(lock, [this] { return m_pendingCall == nullptr; });
    return true;
}

void BackgroundWork::run(std::stop_token stop)
{
    ForwardingPrompt prompt(*this);
    veltrane::WorkMonitor monitor;
    monitor.stop = stop;
    monitor.interval = reportInterval;
    monitor.progress = [this](std::uint64_t done, std::uint64_t total) {
        if (onReportForTests)
            onReportForTests();
        m_total.store(total);
        m_done.store(done);
        if (!m_progressPosted.exchange(true)) {
            QMetaObject::invokeMethod(this, [this] {
                m_progressPosted.store(false);
                emit progressChanged();
            }, Qt::QueuedConnection);
        }
    };
    m_job(monitor, prompt);
    {
        std::lock_guard lock(m_mutex);
        m_ended.store(true);
    }
    m_wake.notify_all();
    QMetaObject::invokeMethod(this, [this] {
        if (m_inPlace)
            return;
        if (m_thread.joinable())
            m_thread.join();
        emit finished();
    }, Qt::QueuedConnection);
}

bool BackgroundWork::start()
{
    m_started = true;
    std::unique_lock lock(m_mutex);
    m_starterWaiting = true;
    m_thread = std::jthread([this](std::stop_token) { run(m_stop.get_token()); });
    // Time the user spends answering a question does not count.
    for (;;) {
        const bool woken = m_wake.wait_for(lock, std::chrono::milliseconds(graceMilliseconds),
                                           [this] { return m_ended.load() || m_pendingCall != nullptr; });
        if (m_pendingCall != nullptr) {
            std::function<void()>* task = m_pendingCall;
            lock.unlock();
            (*task)();
            lock.lock();
            m_pendingCall = nullptr;
            m_wake.notify_all();
            continue;
        }
        if (!woken || m_ended.load())
            break;
    }
    m_starterWaiting = false;
    if (!m_ended.load())
        return false;
    lock.unlock();
    m_inPlace = true;
    m_thread.join();
    return true;
}

void BackgroundWork::cancel()
{
    m_stop.request_stop();
}

void BackgroundWork::cancelAndWait()
{
    m_stop.request_stop();
    // A job waiting for the interface thread is served here: nothing else
    // would serve it while this thread waits.
    while (m_thread.joinable() && !m_ended.load()) {
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(20), [this] { return m_ended.load(); });
        lock.unlock();
        if (!m_ended.load())
            QCoreApplication::sendPostedEvents(this);
    }
    m_inPlace = true;  // finished() is not wanted any more
    if (m_thread.joinable())
        m_thread.join();
}
