// SPDX-License-Identifier: Apache-2.0
#include "work/TerminationSignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> kTerminationSignals{SIGTERM, SIGINT, SIGHUP};

// The handler may only write to a descriptor; the notifier reads it on the
// interface thread. [0] is written, [1] read.
int g_signalPipe[2] = {-1, -1};

extern "C" void forwardSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[0], &byte, 1);
    errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0)
        return;
    m_notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readSignal);
    struct sigaction action{};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : kTerminationSignals) {
        struct sigaction previous{};
        ::sigaction(signalNumber, nullptr, &previous);
        // A signal ignored by whoever started the viewer (nohup) stays ignored.
        if (previous.sa_handler != SIG_IGN)
            ::sigaction(signalNumber, &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals()
{
    if (m_notifier == nullptr)
        return;
    struct sigaction defaultAction{};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    for (int signalNumber : kTerminationSignals) {
        struct sigaction current{};
        ::sigaction(signalNumber, nullptr, &current);
        if (current.sa_handler == forwardSignal)
            ::sigaction(signalNumber, &defaultAction, nullptr);
    }
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

void TerminationSignals::readSignal()
{
    unsigned char byte = 0;
    while (::read(g_signalPipe[1], &byte, 1) == 1)
        emit terminationRequested(byte);
}
