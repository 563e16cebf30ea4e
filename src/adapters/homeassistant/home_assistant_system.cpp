#include "adapters/homeassistant/home_assistant_system.h"

#include "adapters/files/system_secrets.h"
#include "core/lamp_systems/home_assistant_light.h"
#include "core/text/log_text.h"

#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <unistd.h>

namespace glowcast {
namespace {

constexpr int kDefaultPort = 8123;

bool isRefusal(int status)
{
    return status == 401 || status == 403;
}

} // namespace

HomeAssistantSystem::HomeAssistantSystem(Options options, Log& log)
    : m_options(std::move(options)), m_log(log),
      m_http({m_options.baseAddress, "lamp system " + m_options.systemId + ": ", m_options.caFile, m_options.timeout},
             log)
{
}

HomeAssistantSystem::~HomeAssistantSystem()
{
    stop();
}

void HomeAssistantSystem::log(const std::string& line)
{
    m_log.write(logLine("lamp system " + m_options.systemId + ": " + line));
}

JsonHttpCall HomeAssistantSystem::callOf(HttpMethod method, std::string path, std::string body, std::size_t cap) const
{
    return {
        method, std::move(path), std::move(body), {{"Authorization", "Bearer " + m_options.token.value_or("")}}, cap};
}

bool HomeAssistantSystem::refusedBy(const HttpOutcome& result)
{
    if (!result.reply || !isRefusal(result.reply->status))
        return false;
    if (!m_refused) {
        m_refused = true;
        log("Home Assistant refused the access token (" + std::to_string(result.reply->status) +
            "); nothing is sent until it is replaced");
        tellState(SystemState::Refused, "the access token was refused; give another with glowcastctl systems set " +
                                            m_options.systemId + " --token-file FILE");
    }
    return true;
}

void HomeAssistantSystem::start()
{
    if (!m_options.token) {
        m_refused = true;
        log("no access token; nothing is sent until one is given");
        m_later.post([this] {
            tellState(SystemState::Refused, "no access token; give one with glowcastctl systems set " +
                                                m_options.systemId + " --token-file FILE");
        });
        return;
    }
    readStates();
}

void HomeAssistantSystem::refresh()
{
    if (!m_refused)
        readStates();
}

void HomeAssistantSystem::readStates()
{
    m_http.call(callOf(HttpMethod::Get, "/api/states", {}, m_options.maxStatesBytes), [this](
                                                                                          const HttpOutcome& result) {
        if (refusedBy(result))
            return;
        if (!result.reply) {
            tellState(SystemState::Unreachable, result.failure);
            return;
        }
        std::optional<std::vector<HomeAssistantLight>> lights =
            result.reply->status == 200
                ? readHomeAssistantStates(result.reply->body, "lamp system " + m_options.systemId + ": ", m_log)
                : std::nullopt;
        if (!lights) {
            log("no list of states from " + m_options.baseAddress + " (" + std::to_string(result.reply->status) + ")");
            tellState(SystemState::Unreachable, "no list of states from " + m_options.baseAddress);
            return;
        }
        m_lights = std::move(*lights);
        std::vector<SystemLamp> lamps;
        for (const HomeAssistantLight& light : m_lights)
            lamps.push_back({light.entityId, light.name, light.capabilities, light.available});
        if (LampSystemListener* told = listener())
            told->lampsRead(std::move(lamps));
    });
}

HomeAssistantLight* HomeAssistantSystem::lightWithKey(const std::string& key)
{
    const auto found = std::ranges::find(m_lights, key, &HomeAssistantLight::entityId);
    return found == m_lights.end() ? nullptr : &*found;
}

void HomeAssistantSystem::callService(const std::string& service, std::string data,
                                      std::function<void(SendResult)> done)
{
    m_http.call(callOf(HttpMethod::Post, "/api/services/light/" + service, std::move(data), m_options.maxStateBytes),
                [this, service, done = std::move(done)](const HttpOutcome& result) {
                    if (refusedBy(result)) {
                        done(SendResult::Refused);
                        return;
                    }
                    if (!result.reply) {
                        done(SendResult::NoAnswer);
                        return;
                    }
                    if (result.reply->status >= 300) {
                        log("light." + service + " answered " + std::to_string(result.reply->status) + ": " +
                            result.reply->body.substr(0, 200));
                        done(SendResult::Refused);
                        return;
                    }
                    done(SendResult::Delivered);
                });
}

void HomeAssistantSystem::send(std::vector<LampStateCommand> commands, std::function<void(SendResult)> done)
{
    // One lamp a call: the registry never hands more (the batch limit is 1).
    HomeAssistantLight* light = commands.empty() ? nullptr : lightWithKey(commands.front().key);
    if (m_refused || light == nullptr) {
        const SendResult result = commands.empty() ? SendResult::Delivered : SendResult::Refused;
        m_later.post([done = std::move(done), result] { done(result); });
        return;
    }
    const LampState& state = commands.front().state;
    if (!state.switchOn && !light->on) {
        m_later.post([done = std::move(done)] { done(SendResult::Delivered); });
        return;
    }
    if (state.switchOn)
        light->on = true;
    HomeAssistantCall call = homeAssistantTurnOn(light->entityId, state, light->capabilities);
    callService(call.service, std::move(call.data), std::move(done));
}

void HomeAssistantSystem::readState(const std::string& key, std::function<void(std::optional<ReadLampState>)> done)
{
    if (m_refused || !isHomeAssistantLightId(key)) {
        m_later.post([done = std::move(done)] { done(std::nullopt); });
        return;
    }
    m_http.call(callOf(HttpMethod::Get, "/api/states/" + key, {}, m_options.maxStateBytes),
                [this, key, done = std::move(done)](const HttpOutcome& result) {
                    std::optional<ReadLampState> read;
                    if (!refusedBy(result) && result.reply && result.reply->status == 200)
                        read = readHomeAssistantState(result.reply->body);
                    if (HomeAssistantLight* light = lightWithKey(key); light != nullptr && read)
                        light->on = read->on;
                    done(read);
                });
}

void HomeAssistantSystem::restore(const std::string& key, const ReadLampState& state,
                                  std::function<void(SendResult)> done)
{
    if (m_refused || !isHomeAssistantLightId(key)) {
        m_later.post([done = std::move(done)] { done(SendResult::Refused); });
        return;
    }
    if (HomeAssistantLight* light = lightWithKey(key))
        light->on = state.on;
    HomeAssistantCall call = homeAssistantRestore(key, state);
    callService(call.service, std::move(call.data), std::move(done));
}

void HomeAssistantSystem::stop()
{
    m_later.dropWaiting();
    m_http.stop();
}

std::optional<std::string> homeAssistantBaseAddress(const std::string& address)
{
    const QUrl url(QString::fromStdString(address), QUrl::StrictMode);
    const bool plain = url.isValid() &&
                       (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
                       !url.host().isEmpty() && url.userInfo().isEmpty() && !url.hasQuery() && !url.hasFragment() &&
                       (url.path().isEmpty() || url.path() == QLatin1String("/"));
    if (!plain)
        return std::nullopt;
    QUrl base;
    base.setScheme(url.scheme());
    base.setHost(url.host());
    base.setPort(url.port(kDefaultPort));
    return base.toString(QUrl::FullyEncoded).toStdString();
}

std::unique_ptr<LampSystem> makeHomeAssistantSystem(const SystemRecord& record,
                                                    const std::filesystem::path& configDirectory, Log& log)
{
    std::optional<std::string> base = homeAssistantBaseAddress(record.address);
    if (!base) {
        log.write(logLine("lamp system " + record.id + ": '" + record.address + "' is no Home Assistant address"));
        return nullptr;
    }
    HomeAssistantSystem::Options options;
    options.systemId = record.id;
    options.baseAddress = std::move(*base);
    options.token = systemToken(configDirectory, record.id, log);
    if (const std::filesystem::path ca = systemCaPath(configDirectory, record.id); ::access(ca.c_str(), F_OK) == 0)
        options.caFile = ca;
    return std::make_unique<HomeAssistantSystem>(std::move(options), log);
}

} // namespace glowcast
