#include "core/beat/pulse_planner.h"

#include <algorithm>
#include <cmath>

namespace glowcast {

namespace {

using std::chrono::milliseconds;

// Between beats a lamp falls towards this share of its cover brightness; calm keeps it above it.
constexpr double kLowShare = 0.6;
// A beat's peak shows this long before its fall starts.
constexpr milliseconds kPeakHold{100};
// A fall lasts the time between the last two beats, within these.
constexpr milliseconds kShortestBeat{300};
constexpr milliseconds kLongestBeat{2000};
constexpr milliseconds kCalmStep{1000};
constexpr int kCalmFadeTenths = 10;
// Calm sends no brightness that differs from the one shown by less than this.
constexpr int kCalmLeast = 4;
constexpr milliseconds kSilenceEndsMusic{2000};
constexpr int kBackFadeTenths = 4;

} // namespace

PulsePlanner::PulsePlanner(BeatMode mode, int pace, milliseconds second) : m_mode(mode)
{
    m_pacer.setPace(pace, second);
}

void PulsePlanner::setCover(const std::vector<LampStateCommand>& cover)
{
    m_lamps.clear();
    for (const LampStateCommand& command : cover)
        if (command.state.brightness) {
            Lamp& lamp = m_lamps.emplace_back();
            lamp.cover = command;
            lamp.shown = *command.state.brightness;
        }
}

void PulsePlanner::heard(SteadyTime now, const SoundFrame& frame)
{
    if (m_mode == BeatMode::Off)
        return;
    if (frame.silent) {
        if (!m_silentSince)
            m_silentSince = now;
        if (m_playing && now - *m_silentSince >= kSilenceEndsMusic)
            stop();
        return;
    }
    m_silentSince.reset();
    if (m_playerStopped)
        return;
    m_playing = true;
    if (m_mode == BeatMode::Calm)
        follow(now, frame.smoothLevel);
    else if (frame.beat)
        beat(now);
}

void PulsePlanner::setMode(BeatMode mode)
{
    m_mode = mode;
    stop();
}

void PulsePlanner::playerStopped()
{
    m_playerStopped = true;
    stop();
}

void PulsePlanner::stop()
{
    m_playing = false;
    m_lastBeat.reset();
    for (Lamp& lamp : m_lamps) {
        lamp.waiting.reset();
        if (!lamp.atCover) {
            lamp.waiting = lamp.cover.state;
            lamp.waiting->fadeTenths = kBackFadeTenths;
            lamp.step = Step::Back;
            lamp.due = SteadyTime{};
        }
    }
}

void PulsePlanner::beat(SteadyTime now)
{
    if (m_lastBeat && now - *m_lastBeat <= kLongestBeat)
        m_beatLength = std::max(std::chrono::duration_cast<milliseconds>(now - *m_lastBeat), kShortestBeat);
    m_lastBeat = now;
    for (Lamp& lamp : m_lamps)
        put(lamp, Step::Peak, 1, 0, now);
}

void PulsePlanner::follow(SteadyTime now, float smoothLevel)
{
    const double share = kLowShare + (1 - kLowShare) * std::clamp(smoothLevel, 0.0F, 255.0F) / 255;
    for (Lamp& lamp : m_lamps) {
        const int brightness = static_cast<int>(std::lround(*lamp.cover.state.brightness * share));
        if (lamp.waiting || std::abs(brightness - lamp.shown) >= kCalmLeast)
            put(lamp, Step::Glide, share, kCalmFadeTenths,
                lamp.lastSent ? std::max(now, *lamp.lastSent + kCalmStep) : now);
    }
}

void PulsePlanner::put(Lamp& lamp, Step step, double share, int fadeTenths, SteadyTime due)
{
    // A newer state keeps the place of the one it replaces, so that beats faster than the pace sends
    // every lamp still reach each lamp in turn.
    lamp.due = lamp.waiting ? std::min(lamp.due, due) : due;
    lamp.waiting = lamp.cover.state;
    lamp.waiting->brightness = static_cast<int>(std::lround(*lamp.cover.state.brightness * share));
    lamp.waiting->fadeTenths = fadeTenths;
    lamp.step = step;
}

std::optional<LampStateCommand> PulsePlanner::next(SteadyTime now)
{
    if (m_pacer.waitBefore(now) > milliseconds{0})
        return std::nullopt;
    Lamp* first = nullptr;
    for (Lamp& lamp : m_lamps)
        if (lamp.waiting && lamp.due <= now && (!first || lamp.due < first->due))
            first = &lamp;
    if (!first)
        return std::nullopt;
    Lamp& lamp = *first;
    LampStateCommand command{lamp.cover.key, *lamp.waiting};
    m_pacer.sent(now);
    lamp.lastSent = now;
    lamp.shown = *command.state.brightness;
    lamp.atCover = lamp.step == Step::Back;
    lamp.waiting.reset();
    if (lamp.step == Step::Peak) {
        const auto fall = std::chrono::duration_cast<std::chrono::duration<int, std::deci>>(m_beatLength - kPeakHold);
        put(lamp, Step::Fall, kLowShare, std::max(fall.count(), 1), now + kPeakHold);
    }
    return command;
}

std::optional<milliseconds> PulsePlanner::wait(SteadyTime now) const
{
    std::optional<SteadyTime> due;
    for (const Lamp& lamp : m_lamps)
        if (lamp.waiting && (!due || lamp.due < *due))
            due = lamp.due;
    if (!due)
        return std::nullopt;
    return std::max({m_pacer.waitBefore(now), std::chrono::ceil<milliseconds>(*due - now), milliseconds{0}});
}

} // namespace glowcast
