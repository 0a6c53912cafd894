// FormTimer.h: a timer control of a hidden form (BaseTimer, EventTimer of VBQueueForm): a 100 ms tick
// handed to every subscriber, one after another, in the order they subscribed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class FormTimer final {
public:
    // Held by a subscriber; dropping it ends the subscription. It stays safe to drop after the timer
    // itself has gone (the forms are unloaded at thread shut-down while timers may live on).
    class Subscription {
    public:
        Subscription() = default;
        Subscription(Subscription&&) noexcept = default;
        Subscription& operator=(Subscription&& other) noexcept;
        ~Subscription();

    private:
        friend class FormTimer;
        struct Shared;
        Subscription(std::weak_ptr<Shared> shared, uint64_t id) : shared_(std::move(shared)), id_(id) {}
        void reset() noexcept;
        std::weak_ptr<Shared> shared_;
        uint64_t id_ = 0;
    };

    FormTimer();
    FormTimer(const FormTimer&) = delete;
    FormTimer& operator=(const FormTimer&) = delete;

    // `fn` runs on every tick until the returned subscription is dropped. A subscriber added during a
    // tick is first called on the next one; one dropped during a tick is not called any more.
    [[nodiscard]] Subscription subscribe(std::function<void()> fn);

    // One tick: calls every subscriber. Exceptions of a subscriber are not caught here.
    void fire();

    size_t subscriber_count() const;

private:
    std::shared_ptr<Subscription::Shared> shared_;
};
