// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>

class QSocketNotifier;

/// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the interface thread,
/// so that a viewer asked to end from outside closes its windows as the Exit
/// command does and leaves no scratch or index file behind. One instance per
/// process; the handlers go back to the default when it is destroyed.
class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    /// Emitted once per signal received, on the thread that owns this object.
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
};
