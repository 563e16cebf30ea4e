#pragma once

// How the stand-ins serve: SIGINT and SIGTERM are taken by one thread that stops the server, and every
// other thread blocks them.

#include <httplib.h>

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

namespace glowcast::sim {

// Blocks SIGINT and SIGTERM in this thread and in every thread it starts from now on: call it first.
inline sigset_t blockStopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

// Says "listening on ADDRESS" and serves on the bound server until one of the signals comes or the
// server ends by itself; `stopping` runs before the server stops on a signal, and after it has ended.
// False when the server failed.
inline bool serveUntilSignalled(httplib::Server& server, const sigset_t& signals, const std::string& address,
                                const std::function<void()>& stopping = {})
{
    std::thread signalWaiter([&server, &signals, &stopping] {
        int received = 0;
        sigwait(&signals, &received);
        if (stopping)
            stopping();
        server.stop();
    });
    std::printf("listening on %s\n", address.c_str());
    std::fflush(stdout);
    const bool ok = server.listen_after_bind();
    if (stopping)
        stopping();
    // Wake the signal thread if the server ended on its own; once it has taken a signal this one
    // stays pending, blocked everywhere, and is harmless.
    kill(getpid(), SIGTERM);
    signalWaiter.join();
    return ok;
}

} // namespace glowcast::sim
