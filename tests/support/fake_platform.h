#pragma once

#include "core/colour.h"
#include "core/ports/alert.h"
#include "core/ports/notification_centre.h"
#include "core/ports/push_button_window.h"
#include "core/ports/scheduler.h"
#include "core/ports/sleeper.h"
#include "core/ports/views.h"

#include <chrono>
#include <string>
#include <vector>

namespace glowcast {

// Adds up the requested sleeps; never sleeps.
class ManualSleeper final : public Sleeper {
public:
    std::chrono::milliseconds slept{0};
    int calls = 0;
    void sleep(std::chrono::milliseconds duration) override
    {
        slept += duration;
        ++calls;
    }
};

class FakePushButtonWindow final : public PushButtonWindow {
public:
    bool visible = false;
    int shows = 0;
    int fronts = 0;
    int hides = 0;
    void show() override
    {
        visible = true;
        ++shows;
    }
    void bringToFront() override { ++fronts; }
    void hide() override
    {
        visible = false;
        ++hides;
    }
};

class FakeAlert final : public Alert {
public:
    std::vector<AlertText> shown;
    void runModal(const AlertText& text) override { shown.push_back(text); }
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

// Delivers posted notifications to matching observers, as the desktop's centre would.
class FakeNotificationCentre final : public NotificationCentre {
public:
    struct Observer {
        std::string name;
        std::string object;
        std::function<void(const Notification&)> handler;
    };
    std::vector<Observer> observers;
    void addObserver(std::string name, std::string object, std::function<void(const Notification&)> handler) override
    {
        observers.push_back({std::move(name), std::move(object), std::move(handler)});
    }
    void post(const Notification& notification)
    {
        const auto snapshot = observers;
        for (const Observer& observer : snapshot)
            if (observer.name == notification.name && observer.object == notification.object)
                observer.handler(notification);
    }
};

class FakeLampTableView final : public LampTableView {
public:
    int reloads = 0;
    void reloadData() override { ++reloads; }
};

class FakeColourWell final : public ColourWell {
public:
    std::vector<Colour> shown;
    void setColour(const Colour& colour) override { shown.push_back(colour); }
};

class FakeImageView final : public ImageView {
public:
    std::vector<const CoverImage*> shown;
    void setImage(const CoverImage* image) override { shown.push_back(image); }
};

} // namespace glowcast
