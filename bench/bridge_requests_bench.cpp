// Ten lamp-state PUTs against the bridge simulator on loopback: through the real HTTP adapter, and
// through curl sending the same ten requests from one process on one kept-alive connection.

#include "adapters/qt_http_transport.h"
#include "core/bridge_bridge.h"
#include "core/ports/alert.h"
#include "core/ports/push_button_window.h"
#include "core/ports/sleeper.h"

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace {

using namespace glowcast;
using namespace std::chrono_literals;

const std::string kBody = R"({"bri":200,"xy":[0.412,0.377]})";
constexpr int kRequests = 10;

class QuietLog final : public Log {
public:
    void write(std::string_view) override {}
};

class NoPushButtonWindow final : public PushButtonWindow {
public:
    void show() override {}
    void bringToFront() override {}
    void hide() override {}
};

class NoAlert final : public Alert {
public:
    void runModal(const AlertText&) override {}
};

class NoSleep final : public Sleeper {
public:
    void sleep(std::chrono::milliseconds) override {}
};

class MapPreferences final : public Preferences {
public:
    std::map<std::string, std::string, std::less<>> texts;
    [[nodiscard]] std::optional<std::string> text(std::string_view key) const override
    {
        const auto found = texts.find(key);
        return found == texts.end() ? std::nullopt : std::optional<std::string>{found->second};
    }
    void setText(std::string_view key, std::optional<std::string> value) override
    {
        if (value)
            texts.insert_or_assign(std::string{key}, *value);
    }
    [[nodiscard]] std::optional<std::vector<LampEntry>> lamps() const override { return std::nullopt; }
    void setLamps(const std::vector<LampEntry>&) override {}
    [[nodiscard]] StoredSetting setting(std::string_view) const override { return {}; }
    void setSetting(std::string_view, std::optional<SettingValue>) override {}
    void updateLamps(const LampsEdit&) override {}
};

// One simulator for the whole run.
class Simulator {
public:
    Simulator()
    {
        m_process.setProgram(QStringLiteral(GLOWCAST_BRIDGE_SIM));
        m_process.setArguments({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--lamps"),
                                QStringLiteral("10"), QStringLiteral("--user"), QStringLiteral("bench")});
        m_process.start();
        m_process.waitForStarted(10'000);
        for (int i = 0; i < 100 && !m_process.canReadLine(); ++i)
            m_process.waitForReadyRead(100);
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        if (line.startsWith(QStringLiteral("listening on ")))
            address = line.mid(13).toStdString();
    }
    ~Simulator()
    {
        m_process.terminate();
        m_process.waitForFinished(5'000);
    }
    std::string address;

private:
    QProcess m_process;
};

Simulator& simulator()
{
    static Simulator instance;
    return instance;
}

std::string stateUrl(int lamp)
{
    return "http://" + simulator().address + "/api/bench/lights/" + std::to_string(lamp % 10 + 1) + "/state";
}

// A new adapter each time round: its first request opens the connection, as curl's does.
void BM_TenPutsThroughQtHttpTransport(benchmark::State& state)
{
    if (simulator().address.empty()) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    QuietLog log;
    for (auto _ : state) {
        QtHttpTransport http{log};
        for (int i = 0; i < kRequests; ++i) {
            const std::optional<std::string> reply = http.send({HttpMethod::Put, stateUrl(i), kBody, 30s});
            if (!reply) {
                state.SkipWithError("no reply");
                return;
            }
            benchmark::DoNotOptimize(reply->data());
        }
    }
    state.counters["requests/s"] = benchmark::Counter(kRequests, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_TenPutsThroughQtHttpTransport)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// The whole client path: URL check, encoding, the exchange and the decoding of every reply.
void BM_TenPutsThroughBridgeBridge(benchmark::State& state)
{
    if (simulator().address.empty()) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    QuietLog log;
    MapPreferences preferences;
    preferences.texts["lastusedbridgeIP"] = simulator().address;
    preferences.texts["username"] = "bench";
    NoSleep sleeper;
    NoPushButtonWindow window;
    NoAlert alert;
    const Dictionary body{{"bri", 200.0}, {"xy", "[0.412,0.377]"}};
    for (auto _ : state) {
        QtHttpTransport http{log};
        BridgeBridge bridge{http, preferences, sleeper, log, window, alert, std::nullopt};
        for (int i = 0; i < kRequests; ++i) {
            if (!bridge.sendPUTRequest(body, "lights/" + std::to_string(i % 10 + 1) + "/state")) {
                state.SkipWithError("the bridge refused");
                return;
            }
        }
    }
    state.counters["requests/s"] = benchmark::Counter(kRequests, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_TenPutsThroughBridgeBridge)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// curl in one process: the URLs, each sent the same body with PUT, over one connection. With one
// request it shows what starting curl costs.
void BM_PutsThroughCurl(benchmark::State& state)
{
    const int requests = static_cast<int>(state.range(0));
    if (simulator().address.empty()) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    QStringList arguments{QStringLiteral("--silent"), QStringLiteral("--show-error"), QStringLiteral("--fail-early"),
                          QStringLiteral("-X"), QStringLiteral("PUT")};
    for (int i = 0; i < requests; ++i) {
        if (i > 0)
            arguments << QStringLiteral("--next") << QStringLiteral("-X") << QStringLiteral("PUT");
        arguments << QStringLiteral("--data-binary") << QString::fromStdString(kBody) << QStringLiteral("-o")
                  << QStringLiteral("/dev/null") << QString::fromStdString(stateUrl(i));
    }
    for (auto _ : state) {
        QProcess curl;
        curl.start(QStringLiteral("curl"), arguments);
        if (!curl.waitForFinished(30'000) || curl.exitStatus() != QProcess::NormalExit || curl.exitCode() != 0) {
            state.SkipWithError("curl failed");
            return;
        }
    }
    state.counters["requests/s"] = benchmark::Counter(requests, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PutsThroughCurl)->Arg(10)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
