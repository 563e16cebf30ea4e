#include "app/signal_relay.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

namespace glowcast {

namespace {

std::array<int, 2> g_pipe{-1, -1};

extern "C" void relaySignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe drops the signal: one waiting byte of each kind is enough.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalRelay::SignalRelay(std::initializer_list<int> signalNumbers, QObject* parent) : QObject(parent)
{
    if (::pipe2(g_pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_signals.assign(signalNumbers.begin(), signalNumbers.end());
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { readSignals(); });
    for (const int signalNumber : signalNumbers) {
        struct sigaction action {};
        action.sa_handler = relaySignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

SignalRelay::~SignalRelay()
{
    // The program is ending and has saved what it keeps: a signal from here on (a second SIGTERM
    // sent while the first quit was under way) must not cut the ending short and turn a clean exit
    // into a death by signal. SIGKILL still ends it, should anything after this hang.
    for (const int signalNumber : m_signals)
        ::signal(signalNumber, SIG_IGN);
    delete m_notifier;
    m_notifier = nullptr;
    for (int& fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void SignalRelay::readSignals()
{
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1)
        if (onSignal)
            onSignal(byte);
}

} // namespace glowcast
