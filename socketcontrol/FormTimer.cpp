// FormTimer.cpp: subscriber list of a form timer. Subscribers may subscribe and unsubscribe (even
// themselves) from inside a tick, and a handler may pump messages so that ticks nest; entries are
// therefore only marked dead during a tick and swept when no tick is running.
#include "socketcontrol/FormTimer.h"

#include <algorithm>
#include <deque>
#include <utility>

struct FormTimer::Subscription::Shared {
    struct Entry {
        uint64_t id;
        std::function<void()> fn;
        bool alive;
    };
    std::deque<Entry> entries;  // references stay valid while entries are added during a tick
    uint64_t next_id = 1;
    int firing = 0;  // depth of nested fire() calls
    size_t dead = 0;

    // Dead entries are swept once they are half of the list, so dropping many subscriptions (thousands
    // of connections closing) costs O(n log n) in all rather than O(n) each.
    void sweep() {
        if (firing != 0 || dead * 2 < entries.size()) return;
        std::erase_if(entries, [](const Entry& e) { return !e.alive; });
        dead = 0;
    }
};

FormTimer::FormTimer() : shared_(std::make_shared<Subscription::Shared>()) {}

FormTimer::Subscription FormTimer::subscribe(std::function<void()> fn) {
    const uint64_t id = shared_->next_id++;
    shared_->entries.push_back({id, std::move(fn), true});
    return Subscription(shared_, id);
}

void FormTimer::fire() {
    const auto shared = shared_;  // the timer may be unloaded by a subscriber
    struct Depth {
        Subscription::Shared& s;
        explicit Depth(Subscription::Shared& shared) : s(shared) { ++s.firing; }
        ~Depth() { --s.firing; s.sweep(); }
    } depth(*shared);
    const size_t count = shared->entries.size();  // later subscribers wait for the next tick
    for (size_t i = 0; i < count; ++i) {
        if (!shared->entries[i].alive) continue;
        shared->entries[i].fn();  // no sweep can run before this tick ends
    }
}

size_t FormTimer::subscriber_count() const {
    return static_cast<size_t>(std::count_if(shared_->entries.begin(), shared_->entries.end(),
                                             [](const auto& e) { return e.alive; }));
}

FormTimer::Subscription& FormTimer::Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        reset();
        shared_ = std::move(other.shared_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

FormTimer::Subscription::~Subscription() { reset(); }

void FormTimer::Subscription::reset() noexcept {
    const auto shared = shared_.lock();
    shared_.reset();
    if (!shared || id_ == 0) return;
    // Entries stay in subscription order, so ids ascend.
    const auto it = std::lower_bound(shared->entries.begin(), shared->entries.end(), id_,
                                     [](const Shared::Entry& e, uint64_t id) { return e.id < id; });
    if (it != shared->entries.end() && it->id == id_ && it->alive) {
        it->alive = false;
        ++shared->dead;
    }
    id_ = 0;
    shared->sweep();
}
