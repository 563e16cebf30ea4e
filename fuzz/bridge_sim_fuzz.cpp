// Runs the bridge simulator's API on arbitrary requests: the input is cut at NUL bytes into pairs of
// a method and path and a body. The first byte picks the method (A to E: GET, PUT, POST, DELETE,
// PATCH), the rest is the path under "/api/alice" ("/api" for the first pair). Every reply must be
// JSON, and the simulator must neither crash nor hang.
#include "bridge_sim/sim_bridge.h"
#include "fuzz_support.h"

#include <QJsonDocument>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace glowcast::sim;
    std::vector<std::string> parts = glowcast::fuzz::partsOf(data, size, 2);
    parts.resize(parts.size() + parts.size() % 2);
    static const char* const kMethods[] = {"GET", "PUT", "POST", "DELETE", "PATCH"};
    SimBridge sim{
        {"127.0.0.1:80", {LampKind::ExtendedColour, LampKind::ColourTemperature}, std::nullopt, {"alice"}, 0}};
    (void)sim.handleControl("POST", "/sim/linkbutton", "");
    for (std::size_t i = 0; i < parts.size(); i += 2) {
        const std::string& path = parts[i];
        const char* method = kMethods[path.empty() ? 0 : static_cast<unsigned char>(path[0]) % 5];
        const Reply reply =
            sim.handleApi(method, (i == 0 ? "/api" : "/api/alice") + path.substr(path.empty() ? 0 : 1), parts[i + 1]);
        glowcast::fuzz::require(!QJsonDocument::fromJson(QByteArray::fromStdString(reply.body)).isNull());
    }
    (void)sim.stateJson();
    return 0;
}
