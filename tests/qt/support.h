#pragma once

#include "fakes/recording_log.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>

#include <algorithm>
#include <string>
#include <string_view>

namespace glowcast::testing {

inline bool logHas(const RecordingLog& log, std::string_view part)
{
    return std::any_of(log.lines.begin(), log.lines.end(),
                       [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

// Runs the event loop until done() or ten seconds have passed; false when it timed out.
template <typename Done> bool processEventsUntil(Done done)
{
    const QDeadlineTimer deadline(10'000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

struct CommandRun {
    int exitCode = -1; // -1 when the program crashed or did not end within 30 seconds
    std::string out;
    std::string err;
};

inline CommandRun runProgram(const QString& program, const QStringList& arguments,
                             const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    CommandRun run;
    if (process.waitForFinished(30'000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    else {
        process.kill();
        process.waitForFinished(5'000);
    }
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

} // namespace glowcast::testing
