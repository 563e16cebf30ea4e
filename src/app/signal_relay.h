#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <initializer_list>
#include <vector>

namespace glowcast {

// Turns POSIX signals into calls on the main thread's event loop: the handler only writes the
// signal's number into a pipe, and a socket notifier on the other end calls onSignal. One relay
// per process.
class SignalRelay final : public QObject {
    Q_OBJECT
public:
    explicit SignalRelay(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~SignalRelay() override;
    SignalRelay(const SignalRelay&) = delete;
    SignalRelay& operator=(const SignalRelay&) = delete;

    [[nodiscard]] bool isListening() const { return m_notifier != nullptr; }

    std::function<void(int signalNumber)> onSignal;

private:
    void readSignals();

    QSocketNotifier* m_notifier = nullptr;
    std::vector<int> m_signals;
};

} // namespace glowcast
