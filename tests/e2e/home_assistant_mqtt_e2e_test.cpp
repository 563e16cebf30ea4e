// Home Assistant over MQTT end to end: glowcast --headless publishes on a Mosquitto of the test's own,
// takes a command as Home Assistant sends it, and leaves "offline" behind when it is killed.

#undef QT_NO_CAST_FROM_ASCII // every text here is ASCII

#include "adapters/mqtt/mqtt_client.h"
#include "support/mosquitto_broker.h"
#include "support/private_session_bus.h"
#include "support/processes.h"
#include "support/waiting.h"

#include <gtest/gtest.h>

#include <map>
#include <ranges>

namespace glowcast::testing {
namespace {

// A subscriber to everything Glowcast and Home Assistant's discovery hold; the newest payload by topic.
struct Subscriber {
    explicit Subscriber(const MosquittoBroker& broker, const std::string& id) : client(options(broker, id), log)
    {
        client.onMessage = [this](const std::string& topic, const QByteArray& payload) {
            seen[topic] = payload.toStdString();
        };
        client.subscribe(std::vector<std::string>{"homeassistant/#", "gc/#"});
        (void)client.start();
    }
    static MqttClient::Options options(const MosquittoBroker& broker, const std::string& id)
    {
        MqttClient::Options options;
        options.host = "127.0.0.1";
        options.port = broker.port();
        options.clientId = id;
        return options;
    }
    [[nodiscard]] long configs() const
    {
        return std::ranges::count_if(seen, [](const auto& message) {
            return message.first.ends_with("/config") && message.second.find("\"unique_id\"") != std::string::npos;
        });
    }
    RecordingLog log;
    MqttClient client;
    std::map<std::string, std::string> seen;
};

TEST(HomeAssistantMqttEndToEndTest, PublishesRetainedTakesACommandAndLeavesItsWillWhenKilled)
{
    PrivateSessionBus bus;
    ConfigDirectory config;
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running && !bus.address().isEmpty()) << broker.output().toStdString();
    config.write(R"({"mqtt":"mqtt://)" + broker.address() + R"(/gc"})");
    Child app(GLOWCAST_APP, {"--headless"}, programEnvironment(bus.address(), config.path()));
    Subscriber live(broker, "test-live");
    // The pin's state goes last.
    ASSERT_TRUE(waitFor([&] { return live.configs() == 4 && live.seen["gc/pinned"] == "OFF"; }, 15'000))
        << app.output().toStdString();
    EXPECT_EQ(live.seen["gc/status"], "online");
    EXPECT_EQ(live.seen["gc/palette_name"], "classic");

    live.client.publish("gc/palette_name/set", "sepia");
    live.client.publish("gc/palette_name/set", "vivid");
    EXPECT_TRUE(waitFor([&] { return live.seen["gc/palette_name"] == "vivid"; }, 10'000)) << app.output().toStdString();
    EXPECT_TRUE(app.output().contains(R"(mqtt: "gc/palette_name/set" takes classic or vivid, not "sepia")"));
    EXPECT_EQ(config.preferences()["palette"].toString(), "vivid");
    live.client.publish("gc/pinned/set", "ON");
    EXPECT_TRUE(waitFor([&] { return live.seen["gc/pinned"] == "ON"; }, 10'000)) << app.output().toStdString();

    app.signal(SIGKILL);
    EXPECT_TRUE(waitFor([&] { return live.seen["gc/status"] == "offline"; }, 15'000));
    // Only what is retained reaches a subscriber that comes after Glowcast died.
    Subscriber late(broker, "test-late");
    EXPECT_TRUE(waitFor(
        [&] {
            return late.configs() == 4 && late.seen["gc/status"] == "offline" &&
                   late.seen["gc/palette_name"] == "vivid";
        },
        10'000));
}

} // namespace
} // namespace glowcast::testing
