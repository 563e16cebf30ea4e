#pragma once

#include "core/colour/colour.h"
#include "core/ports/alert.h"
#include "core/ports/cover_feed.h"
#include "core/ports/link_button_prompt.h"
#include "core/ports/scheduler.h"
#include "core/ports/sleeper.h"
#include "core/ports/views.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace glowcast {

// Adds up the requested sleeps; never sleeps.
class ManualSleeper final : public Sleeper {
public:
    std::chrono::milliseconds slept{0};
    int calls = 0;
    std::function<void()> duringSleep; // what happens meanwhile, when anything does
    void sleep(std::chrono::milliseconds duration) override
    {
        slept += duration;
        ++calls;
        if (duringSleep)
            duringSleep();
    }
};

class FakeLinkButtonPrompt final : public LinkButtonPrompt {
public:
    std::vector<std::string> begun; // the bridge of each begin
    int attempts = 0;
    int ends = 0;
    void begin(const std::string& bridge) override { begun.push_back(bridge); }
    void attempt() override { ++attempts; }
    void end() override { ++ends; }
};

class FakeAlert final : public Alert {
public:
    std::vector<AlertText> shown;
    void show(const AlertText& text) override { shown.push_back(text); }
};

// Holds delayed calls until the test fires them.
class ManualScheduler final : public Scheduler {
public:
    struct Pending {
        std::chrono::milliseconds delay;
        std::function<void()> action;
    };
    std::vector<Pending> pending;
    void schedule(std::chrono::milliseconds delay, std::function<void()> action) override
    {
        pending.push_back({delay, std::move(action)});
    }
    // Runs the oldest pending call; false when there is none.
    bool fireNext()
    {
        if (pending.empty())
            return false;
        auto next = std::move(pending.front());
        pending.erase(pending.begin());
        next.action();
        return true;
    }
};

// Hands each posted cover to every follower.
class FakeCoverFeed final : public CoverFeed {
public:
    std::vector<std::function<void(const CoverArrival&)>> followers;
    void follow(std::function<void(const CoverArrival&)> handler) override { followers.push_back(std::move(handler)); }
    void post(const CoverArrival& cover)
    {
        const auto snapshot = followers;
        for (const auto& follower : snapshot)
            follower(cover);
    }
};

// Records each change of rows in words ("refill", "insert 1+2", "remove 0+1", "switched 3"), running
// the changes it is handed.
class FakeLampListView final : public LampListView {
public:
    std::vector<std::string> told;
    void refill(const std::function<void()>& change) override
    {
        change();
        told.emplace_back("refill");
    }
    void insertLamps(std::size_t first, std::size_t count, const std::function<void()>& change) override
    {
        change();
        told.push_back("insert " + std::to_string(first) + "+" + std::to_string(count));
    }
    void removeLamps(std::size_t first, std::size_t count, const std::function<void()>& change) override
    {
        change();
        told.push_back("remove " + std::to_string(first) + "+" + std::to_string(count));
    }
    void lampSwitched(std::size_t row) override { told.push_back("switched " + std::to_string(row)); }
};

class FakeCoverDisplay final : public CoverDisplay {
public:
    struct Shown {
        const CoverImage* cover = nullptr;
        std::vector<Colour> colours;
    };
    std::vector<Shown> shown;
    void showCover(const CoverImage* cover, std::span<const Colour> colours) override
    {
        shown.push_back({cover, {colours.begin(), colours.end()}});
    }
};

} // namespace glowcast
