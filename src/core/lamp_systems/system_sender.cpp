#include "core/lamp_systems/system_sender.h"

#include "core/lamp_care/lamp_shaping.h"
#include "core/lamp_systems/system_kinds.h"
#include "core/text/log_text.h"

#include <algorithm>

namespace glowcast {
namespace {

using std::chrono::milliseconds;

// An unreachable system is asked to read its lamps again at a cover, but not more often than this.
constexpr auto kRefreshInterval = std::chrono::minutes{1};
// A fade is given in tenths of a second.
constexpr milliseconds kFadeStep{100};

std::string countText(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " lamp state" : " lamp states");
}

} // namespace

SystemSender::SystemSender(const SenderContext& context, SystemRecord record, std::unique_ptr<LampSystem> adapter)
    : m_context(context), m_record(std::move(record)), m_adapter(std::move(adapter)),
      m_paceTimer(context.timers.create()), m_answerTimer(context.timers.create()),
      m_stepTimer(context.timers.create()), m_delayTimer(context.timers.create())
{
    careChanged();
}

SystemSender::~SystemSender()
{
    stop();
}

void SystemSender::start()
{
    if (!m_adapter)
        return;
    m_adapter->setListener(this);
    m_adapter->start();
}

void SystemSender::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_waiting.clear();
    m_pulses.clear();
    m_restorer.halt();
    m_inFlight = false;
    m_paceTimer->cancel();
    m_answerTimer->cancel();
    m_stepTimer->cancel();
    m_delayTimer->cancel();
    if (m_adapter)
        m_adapter->stop();
}

void SystemSender::take(std::vector<LampStateCommand> commands, bool coverChanged, std::optional<milliseconds> changeIn)
{
    if (m_stopped)
        return;
    m_waiting.clear();
    m_pulses.clear();
    m_held = false;
    m_delayTimer->cancel();
    if (m_state == SystemState::Unreachable)
        refreshIfDue();
    if (commands.empty())
        return;
    if (m_state != SystemState::Ready) {
        m_context.log.write(logLine("lamp system " + m_record.id + " is " + std::string{systemStateName(m_state)} +
                                    ": " + countText(commands.size()) + " dropped"));
        return;
    }
    const SteadyTime now = m_context.clock.now();
    std::erase_if(commands, [&](const LampStateCommand& command) {
        const PassOver why =
            m_sent.passOver(command.key, command.state, coverChanged, m_context.care.skipUnchanged, now);
        if (why != PassOver::No)
            m_context.log.write(
                logLine(passOverLine(why, lampIdOf(m_record.id, command.key), describe(command.state))));
        return why != PassOver::No;
    });
    if (commands.empty())
        return;
    m_restorer.halt(); // the lamps not yet put back keep their reads

    m_waiting.assign(std::make_move_iterator(commands.begin()), std::make_move_iterator(commands.end()));
    if (changeIn)
        holdUntilPlanned(*changeIn);
    sendNext();
}

void SystemSender::holdUntilPlanned(milliseconds changeIn)
{
    const SendPlan plan = planSend(changeIn, countedLatency(m_latency.figures()), m_record.offset);
    if (const auto line = m_lateNotice.told("lamp system " + m_record.id, plan, m_context.care.delay))
        m_context.log.write(logLine(*line));
    if (plan.wait == milliseconds{0})
        return;
    m_held = true;
    m_delayTimer->start(plan.wait, [this] {
        m_held = false;
        sendNext();
    });
}

void SystemSender::pulse(LampStateCommand command)
{
    if (m_stopped || m_state != SystemState::Ready || !m_adapter)
        return;
    const auto same = std::ranges::find(m_pulses, command.key, &LampStateCommand::key);
    if (same != m_pulses.end())
        *same = std::move(command);
    else
        m_pulses.push_back(std::move(command));
    sendNext();
}

std::size_t SystemSender::putBack()
{
    if (m_stopped || m_state != SystemState::Ready || !m_adapter)
        return 0;
    for (const std::string& key : m_restorer.startNow(m_context.clock.now()))
        m_context.log.write(
            logLine("lamp system " + m_record.id + " leaves lamp " + key + " as it is: it was not read"));
    const std::size_t count = m_restorer.toPutBack();
    if (count > 0) {
        m_context.log.write(logLine("lamp system " + m_record.id + " puts " + std::to_string(count) +
                                    (count == 1 ? " lamp back" : " lamps back")));
        sendNext();
    }
    return count;
}

void SystemSender::lampsRead(std::vector<SystemLamp> read)
{
    if (m_stopped || m_duplicate)
        return;
    m_lamps = std::move(read);
    becomes(SystemState::Ready, {});
    m_context.owner.lampsChanged();
}

void SystemSender::stateChanged(SystemState newState, std::string newDetail)
{
    if (m_stopped || m_duplicate)
        return;
    // A detail may quote a peer (a redirect's target, an error text): it reaches the window, the
    // bus and a terminal as the log would show it.
    becomes(newState, printable(newDetail));
}

void SystemSender::userObtained(std::string user)
{
    if (m_stopped || m_duplicate || m_record.user == user)
        return;
    m_record.user = std::move(user);
    m_context.owner.systemsChanged();
}

void SystemSender::identified(std::string newIdentity)
{
    if (m_stopped || m_duplicate)
        return;
    m_identity = std::move(newIdentity);
    m_context.owner.identified(*this);
}

void SystemSender::refuseAsSameDeviceAs(const SystemSender& kept)
{
    m_duplicate = true;
    const std::string same =
        std::string{m_record.kind == SystemKind::Bridge ? "the same bridge as " : "the same device as "} +
        kept.m_record.id;
    m_context.log.write(logLine("lamp system " + m_record.id + " is " + same + ", not used"));
    becomes(SystemState::Refused, same);
    m_lamps.clear();
    // Not stopped from inside a call of its own: the adapter may still be working through it.
    m_paceTimer->start(milliseconds{0}, [this] { stop(); });
    m_context.owner.lampsChanged();
}

void SystemSender::becomes(SystemState newState, std::string newDetail)
{
    if (newState == m_state && newDetail == m_detail)
        return;
    if (m_state == SystemState::Unreachable && newState == SystemState::Ready)
        m_context.log.write(logLine("lamp system " + m_record.id + " answers again"));
    m_state = newState;
    m_detail = std::move(newDetail);
    if (m_state != SystemState::Ready) {
        m_waiting.clear();
        m_pulses.clear();
        m_restorer.halt();
        m_paceTimer->cancel();
        m_delayTimer->cancel();
        m_held = false;
    }
    m_context.owner.systemsChanged();
}

int SystemSender::pace() const
{
    return systemPace(m_record, m_context.care.pace);
}

void SystemSender::sendNext()
{
    if (m_stopped || m_inFlight || m_held || (m_waiting.empty() && !m_restorer.due() && m_pulses.empty()) || !m_adapter)
        return;
    const SteadyTime now = m_context.clock.now();
    m_pacer.setPace(pace(), std::chrono::seconds{1});
    if (const milliseconds wait = m_pacer.waitBefore(now); wait > milliseconds{0}) {
        m_paceTimer->start(wait, [this] { sendNext(); });
        return;
    }
    if (m_waiting.empty() && m_restorer.due()) {
        putBackNext(now);
        return;
    }
    if (m_waiting.empty()) {
        sendPulses(now);
        return;
    }
    const std::size_t count = std::clamp<std::size_t>(m_adapter->batchLimit(), 1, m_waiting.size());
    std::vector<LampStateCommand> batch(std::make_move_iterator(m_waiting.begin()),
                                        std::make_move_iterator(m_waiting.begin() + static_cast<long>(count)));
    m_waiting.erase(m_waiting.begin(), m_waiting.begin() + static_cast<long>(count));
    m_inFlight = true;
    const std::uint64_t number = ++m_sendNumber;
    m_pacer.sent(now, static_cast<int>(count));
    startAnswerTimer(number);
    std::vector<std::string> unread;
    for (const LampStateCommand& command : batch)
        if (m_restorer.needsSnapshot(command.key) && std::ranges::find(unread, command.key) == unread.end())
            unread.push_back(command.key);
    if (unread.empty()) {
        handOver(number, batch);
        return;
    }
    m_readsLeft = unread.size();
    for (const std::string& key : unread)
        m_adapter->readState(key, [this, number, key, batch](std::optional<ReadLampState> read) {
            readAnswered(number, key, std::move(read), batch);
        });
}

// The batch goes out once every lamp it colours for the first time was read, from the timer (never
// from inside the adapter's own answer), with a time-out of its own.
void SystemSender::readAnswered(std::uint64_t number, const std::string& key, std::optional<ReadLampState> read,
                                const std::vector<LampStateCommand>& batch)
{
    if (m_stopped || !m_inFlight || number != m_sendNumber)
        return;
    // Read right before its first state goes out, the lamp counts as coloured: it is put back even
    // when the state's answer does not come.
    m_restorer.remember(key, std::move(read));
    m_restorer.coloured(key, m_context.clock.now());
    if (--m_readsLeft > 0)
        return;
    m_stepTimer->start(milliseconds{0}, [this, number, batch] {
        if (m_stopped || !m_inFlight || number != m_sendNumber)
            return;
        startAnswerTimer(number);
        handOver(number, batch);
    });
}

void SystemSender::handOver(std::uint64_t number, const std::vector<LampStateCommand>& batch)
{
    m_handedAt = m_context.clock.now();
    m_adapter->send(batch, [this, number, batch](SendResult result) { answered(number, batch, result); });
}

// The beat's states read nothing first: the cover before them did.
void SystemSender::sendPulses(SteadyTime now)
{
    const std::size_t count = std::clamp<std::size_t>(m_adapter->batchLimit(), 1, m_pulses.size());
    std::vector<LampStateCommand> batch(std::make_move_iterator(m_pulses.begin()),
                                        std::make_move_iterator(m_pulses.begin() + static_cast<long>(count)));
    m_pulses.erase(m_pulses.begin(), m_pulses.begin() + static_cast<long>(count));
    m_inFlight = true;
    const std::uint64_t number = ++m_sendNumber;
    m_pacer.sent(now, static_cast<int>(count));
    startAnswerTimer(number);
    m_adapter->send(batch, [this, number, batch](SendResult result) { answered(number, batch, result, false, true); });
}

void SystemSender::putBackNext(SteadyTime now)
{
    std::optional<LampRestore<ReadLampState>> next = m_restorer.takeNext(now);
    if (!next)
        return;
    const std::string key = std::move(next->lampId);
    m_sent.forget(key); // once put back it shows what it showed before
    m_inFlight = true;
    const std::uint64_t number = ++m_sendNumber;
    m_pacer.sent(now);
    startAnswerTimer(number);
    m_adapter->restore(key, next->state, [this, number, key](SendResult result) {
        if (result == SendResult::Refused && !m_stopped && m_inFlight && number == m_sendNumber)
            m_context.log.write(logLine("lamp system " + m_record.id + " refused to put lamp " + key + " back"));
        // Its answer paces the next one as a send's does; nothing of it is shown in the table.
        answered(number, {}, result == SendResult::Refused ? SendResult::Delivered : result);
    });
}

void SystemSender::answered(std::uint64_t number, const std::vector<LampStateCommand>& batch, SendResult result,
                            bool timedOut, bool pulses)
{
    // An answer after its time-out, or after a newer send, is no longer awaited.
    if (m_stopped || !m_inFlight || number != m_sendNumber)
        return;
    m_inFlight = false;
    m_answerTimer->cancel();
    switch (result) {
    case SendResult::Delivered:
    case SendResult::Unconfirmed:
        if (result == SendResult::Delivered && !batch.empty() && !pulses)
            m_latency.add(std::chrono::duration_cast<milliseconds>(m_context.clock.now() - m_handedAt));
        for (const LampStateCommand& command : batch) {
            rememberSent(command, true);
            if (!pulses)
                m_context.owner.lampSent(lampIdOf(m_record.id, command.key), command.state);
        }
        break;
    case SendResult::Refused:
        for (const LampStateCommand& command : batch) {
            rememberSent(command, false);
            if (!pulses)
                m_context.log.write(
                    logLine("lamp system " + m_record.id + " refused the state of lamp " + command.key));
        }
        break;
    case SendResult::NoAnswer:
        // Whether the lamps took what went unanswered is not known: none counts as showing anything.
        m_sent.clear();
        if (m_state == SystemState::Ready)
            becomesUnreachable(timedOut ? "no answer within " + std::to_string(m_context.answerTimeout.count()) + " ms"
                                        : "no answer");
        return;
    }
    // The next send goes out from the timer, never from inside the adapter's own answer.
    if (!m_waiting.empty() || m_restorer.due() || !m_pulses.empty())
        m_paceTimer->start(m_pacer.waitBefore(m_context.clock.now()), [this] { sendNext(); });
}

void SystemSender::startAnswerTimer(std::uint64_t number)
{
    m_answerTimer->start(m_context.answerTimeout, [this, number] { answered(number, {}, SendResult::NoAnswer, true); });
}

void SystemSender::rememberSent(const LampStateCommand& command, bool accepted)
{
    const std::chrono::milliseconds fade = kFadeStep * command.state.fadeTenths.value_or(0);
    m_sent.sent(command.key, command.state, m_context.clock.now(), fade, accepted);
}

void SystemSender::becomesUnreachable(std::string why)
{
    const std::size_t dropped = m_waiting.size();
    m_waiting.clear();
    m_pulses.clear();
    m_restorer.halt();
    m_paceTimer->cancel();
    // It was just asked: the next cover need not ask it to read its lamps again for a minute.
    m_lastRefresh = m_context.clock.now();
    std::string line = "lamp system " + m_record.id + " is unreachable: " + why;
    if (dropped > 0)
        line += ", " + countText(dropped) + " dropped";
    m_context.log.write(logLine(line));
    becomes(SystemState::Unreachable, std::move(why));
}

void SystemSender::refreshIfDue()
{
    const SteadyTime now = m_context.clock.now();
    if (!m_adapter || (m_lastRefresh && now - *m_lastRefresh < kRefreshInterval))
        return;
    m_lastRefresh = now;
    m_adapter->refresh();
}

} // namespace glowcast
