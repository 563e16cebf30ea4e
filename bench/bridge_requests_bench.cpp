// Ten lamp-state PUTs against the bridge simulator on loopback: through the real HTTP adapter, and
// through curl sending the same ten requests from one process on one kept-alive connection.

#include "adapters/qt/qt_http_transport.h"
#include "core/bridge/bridge_bridge.h"
#include "support/fake_platform.h"
#include "support/fake_preferences.h"
#include "support/processes.h"

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace glowcast;
using namespace std::chrono_literals;

const std::string kBody = R"({"bri":200,"xy":[0.412,0.377]})";
constexpr int kRequests = 10;

// One simulator for the whole run.
testing::Simulator& simulator()
{
    static testing::Simulator instance{
        {QStringLiteral("--lamps"), QStringLiteral("10"), QStringLiteral("--user"), QStringLiteral("bench")}};
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
    NullLog log;
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
    NullLog log;
    FakePreferences preferences;
    preferences.texts["lastusedbridgeIP"] = simulator().address;
    preferences.texts["username"] = "bench";
    ManualSleeper sleeper;
    FakeLinkButtonPrompt window;
    FakeAlert alert;
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
