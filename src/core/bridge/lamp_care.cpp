#include "core/bridge/lamp_care.h"

#include "core/bridge/bridge_body.h"
#include "core/bridge/bridge_fields.h"
#include "core/bridge/bridge_overload.h"
#include "core/bridge/lamp_record.h"
#include "core/json/json_codec.h"

#include <algorithm>

namespace glowcast {

namespace {

constexpr std::chrono::milliseconds kTransitionStep{100};

bool accepted(const std::optional<HttpReply>& reply)
{
    return reply && reply->status >= 200 && reply->status < 300 && reply->body.find("\"error\"") == std::string::npos;
}

} // namespace

LampCare::LampCare(LampBridge& bridge, Clock& clock, Sleeper& sleeper, Log& log)
    : m_bridge(bridge), m_clock(clock), m_sleeper(sleeper), m_log(log)
{
}

void LampCare::setSettings(const LampCareSettings& settings)
{
    m_settings = settings;
    m_pacer.setPace(settings.pace);
    m_restorer.setDelay(settings.restoreAfter);
    if (m_settings.fitLamp && !m_capabilitiesRead)
        readCapabilities();
}

void LampCare::readLampList(const Dictionary& lamps)
{
    m_lampList = lamps;
    m_capabilities.clear();
    m_capabilitiesRead = false;
    m_sent.clear();
    if (m_settings.fitLamp)
        readCapabilities();
}

void LampCare::readCapabilities()
{
    // Read only once they are used, so that without fitting the log holds nothing about them.
    m_capabilitiesRead = true;
    for (std::size_t i = 0; i < m_lampList.size(); ++i)
        if (const Dictionary* record = m_lampList.valueAt(i).asDictionary())
            m_capabilities.insert_or_assign(m_lampList.keys()[i],
                                            lampCapabilitiesFrom(m_lampList.keys()[i], *record, m_log));
}

void LampCare::send(const std::vector<LampTargetCommand>& commands)
{
    startCover(true);
    for (const LampTargetCommand& command : commands)
        sendOne(command);
    endCover();
}

void LampCare::startCover(bool coverChanged)
{
    beginBatch();
    m_coverChanged = coverChanged;
}

void LampCare::endCover()
{
    m_pacer.batchEnded(m_sawOverload);
}

void LampCare::sendOne(const LampTargetCommand& command)
{
    const std::string& id = command.lampId;
    if (m_stopped)
        return;
    const Dictionary body = firstBridgeStateFields(shapedState(command), capabilitiesOf(id).kind);
    if (body.empty()) {
        m_log.write("lamp " + id + " takes none of " + describe(firstBridgeBody(command.target)) + ", nothing sent");
        return;
    }
    if (const PassOver why = m_sent.passOver(id, body, m_coverChanged, m_settings.skipUnchanged, m_clock.now());
        why != PassOver::No) {
        m_log.write(passOverLine(why, id, describe(body)));
        return;
    }
    if (m_restorer.needsSnapshot(id))
        readOwnState(id);
    if (const std::optional<HttpReply> reply = put(id, body, true); reply && !isOverloaded(reply))
        m_restorer.coloured(id, m_clock.now());
}

LampState LampCare::shapedState(const LampTargetCommand& command) const
{
    return shapedLampState(command.target, capabilitiesOf(command.lampId), m_settings);
}

LampCapabilities LampCare::capabilitiesOf(std::string_view lampId) const
{
    // Without fitting, every lamp is sent what a lamp of unknown kind is, as the bridge is specified to be.
    const auto known = m_settings.fitLamp ? m_capabilities.find(lampId) : m_capabilities.end();
    return known != m_capabilities.end() ? known->second : LampCapabilities{};
}

void LampCare::pulse(const std::string& lampId, const LampState& state)
{
    const Dictionary body = firstBridgeStateFields(state, capabilitiesOf(lampId).kind);
    if (m_stopped || body.empty())
        return;
    m_pacer.sent(m_clock.now());
    const std::optional<HttpReply> reply = m_bridge.putPulse(lampId, body);
    if (isOverloaded(reply))
        m_pacer.overloaded();
    recordSent(lampId, body, reply);
}

void LampCare::playerChanged(PlayerActivity activity)
{
    m_restorer.playerChanged(activity, m_clock.now());
}

void LampCare::colouredElsewhere(std::string_view lampId)
{
    if (m_stopped)
        return;
    if (m_restorer.needsSnapshot(lampId))
        m_restorer.remember(lampId, std::nullopt);
    m_restorer.coloured(lampId, m_clock.now());
}

std::optional<SteadyTime> LampCare::restoreDue() const
{
    std::optional<SteadyTime> due = m_restorer.due();
    if (const std::optional<SteadyTime> fadeEnd = m_sent.lastFadeEnd(); due && fadeEnd)
        due = std::max(*due, *fadeEnd);
    return due;
}

bool LampCare::restoreIfDue()
{
    const std::optional<SteadyTime> due = restoreDue();
    if (!due || m_clock.now() < *due)
        return false;
    beginBatch();
    bool restored = false;
    while (!m_stopped) {
        std::optional<LampRestore<Dictionary>> command = m_restorer.takeNext(m_clock.now());
        if (!command)
            break;
        restored = true;
        if (m_settings.fade)
            command->state.set("transitiontime", *m_settings.fade);
        m_log.write("putting lamp " + command->lampId + " back: " + describe(command->state));
        // A lamp deleted meanwhile is refused by the bridge: said once, not tried again.
        if (const std::optional<HttpReply> reply = put(command->lampId, command->state, false); !accepted(reply))
            m_log.write("lamp " + command->lampId + " was not put back: " +
                        (reply ? "the bridge answered HTTP " + std::to_string(reply->status) + " " + reply->body
                               : std::string{"no reply from the bridge"}));
    }
    m_pacer.batchEnded(m_sawOverload);
    return restored;
}

void LampCare::beginBatch()
{
    m_waitingLeft = kOverloadWaitPerBatch;
    m_sawOverload = false;
}

void LampCare::wait(std::chrono::milliseconds duration)
{
    if (duration > std::chrono::milliseconds{0})
        m_sleeper.sleep(duration);
}

std::optional<HttpReply> LampCare::exchange(std::string_view lampId, bool paced,
                                            const std::function<std::optional<HttpReply>()>& request)
{
    // Only lamp states count against the pace: reading a lamp changes nothing on it.
    const auto mark = [this, paced] {
        if (paced)
            m_pacer.sent(m_clock.now());
    };
    if (paced)
        wait(m_pacer.waitBefore(m_clock.now()));
    if (m_stopped) // the quit came while this lamp waited its turn
        return std::nullopt;
    mark();
    std::optional<HttpReply> reply = request();
    if (!isOverloaded(reply))
        return reply;

    m_sawOverload = true;
    m_pacer.overloaded();
    const std::string overloaded = "the bridge is overloaded (HTTP " + std::to_string(reply->status) + ")";
    const OverloadDecision decision = afterReply(reply, m_waitingLeft);
    if (!decision.resend) {
        m_log.write(overloaded + "; lamp " + std::string{lampId} + " is not asked again");
        return reply;
    }
    m_log.write(overloaded + "; asking for lamp " + std::string{lampId} + " again in " +
                std::to_string(decision.wait.count()) + " ms");
    m_waitingLeft -= decision.wait;
    wait(decision.wait);
    if (m_stopped) {
        m_log.write("quitting: lamp " + std::string{lampId} + " is not asked again");
        return reply;
    }
    mark();
    reply = request();
    if (isOverloaded(reply))
        m_log.write("the bridge is still overloaded; lamp " + std::string{lampId} + " is not asked again");
    return reply;
}

void LampCare::readOwnState(const std::string& lampId)
{
    const std::optional<HttpReply> reply =
        exchange(lampId, false, [this, &lampId] { return m_bridge.getLamp(lampId); });
    std::optional<Dictionary> body;
    if (accepted(reply))
        body = restoreBodyFrom(lampId, dictionaryFromJSON(reply->body, m_log), m_log);
    if (!body)
        m_log.write("lamp " + lampId + ": its own state could not be read; it will not be put back");
    m_restorer.remember(lampId, std::move(body));
}

std::optional<HttpReply> LampCare::put(const std::string& lampId, const Dictionary& body, bool measured)
{
    std::chrono::milliseconds took{0}; // of the last request: the resend's, when there was one
    const std::optional<HttpReply> reply = exchange(lampId, true, [this, &lampId, &body, &took] {
        const SteadyTime asked = m_clock.now();
        std::optional<HttpReply> answer = m_bridge.putLampState(lampId, body);
        took = std::chrono::duration_cast<std::chrono::milliseconds>(m_clock.now() - asked);
        return answer;
    });
    if (measured && accepted(reply))
        m_latency.add(took);
    recordSent(lampId, body, reply);
    return reply;
}

void LampCare::recordSent(const std::string& lampId, const Dictionary& body, const std::optional<HttpReply>& reply)
{
    const auto steps = wholeNumberFrom(body.find("transitiontime")).value_or(0);
    m_sent.sent(lampId, body, m_clock.now(), std::max<std::int64_t>(steps, 0) * kTransitionStep, accepted(reply));
}

} // namespace glowcast
