// MessageLoop.cpp: the per-thread pump over one epoll set, an eventfd for wake-ups and a timerfd for the
// timers.
//
// Level-triggered epoll: a handler that leaves a condition unserved (data unread, a connection not yet
// accepted) hears of it again on the next pass, so no readiness is ever lost when a handler decides to
// act later, which is how the socket layer's "post once, re-enable on the next call" rules work. The
// price is that a handler must drop interest in conditions it will not serve (modify_fd), or they
// repeat every pass; the socket layer does that lazily, only when an unwanted bit actually shows up.
//
// Wake-ups: a post from the owning thread made outside a pass writes the eventfd once (until the pump
// reads it), so an outer loop waiting on fd() notices; posts made during a pass only queue, because the
// pass delivers what was posted before it ends. Posts from other threads go through the locked inbox and
// write the eventfd when the inbox turns non-empty.
//
// Timers live in a map by id and a schedule ordered by deadline, so adding and removing cost O(log n) and
// a removed timer is freed at once, pump or no pump: a thread that starts and stops controls without
// ever pumping (synchronous sockets only) must not pile up dead timers. A pass takes the ids that are due
// when it starts, and looks each one up again before running it, so a callback may remove any timer
// (itself included) or add new ones, which wait for the next pass. The timerfd is re-armed only when the
// earliest deadline changes.
#include "platform/msgloop/MessageLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/msgloop/UniqueFd.h"

namespace msgloop {

static_assert(io::kIn == EPOLLIN && io::kPri == EPOLLPRI && io::kOut == EPOLLOUT && io::kErr == EPOLLERR &&
              io::kHup == EPOLLHUP && io::kRdHup == EPOLLRDHUP);

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kWakeToken = ~uint64_t{0};
constexpr uint64_t kTimerToken = ~uint64_t{0} - 1;
constexpr int kMaxEvents = 256;             // readiness collected per pass
constexpr size_t kDeliveryBudget = 8192;    // queued items delivered per pass before epoll is polled again

// One queued entry: a message for a window, or a task when `task` is set.
struct Item {
    Hwnd hwnd = 0;
    uint32_t msg = 0;
    uint32_t wparam = 0;
    int32_t lparam = 0;
    std::function<void()> task;
};

// The FIFO: a ring over a vector that only grows (doubling), so that a steady flow of messages costs
// no allocation at all (std::deque allocates and frees a block every few entries).
class ItemRing {
public:
    bool empty() const noexcept { return size_ == 0; }
    size_t size() const noexcept { return size_; }
    void push_back(Item item) {
        if (size_ == slots_.size()) grow();
        slots_[(head_ + size_) & (slots_.size() - 1)] = std::move(item);
        ++size_;
    }
    Item pop_front() {
        Item item = std::move(slots_[head_]);
        slots_[head_].task = nullptr;
        head_ = (head_ + 1) & (slots_.size() - 1);
        --size_;
        return item;
    }

private:
    void grow() {
        std::vector<Item> bigger(slots_.empty() ? 64 : slots_.size() * 2);
        for (size_t i = 0; i < size_; ++i) bigger[i] = std::move(slots_[(head_ + i) & (slots_.size() - 1)]);
        slots_.swap(bigger);
        head_ = 0;
    }
    std::vector<Item> slots_;   // size is 0 or a power of two
    size_t head_ = 0;
    size_t size_ = 0;
};

std::atomic<uint32_t> g_next_hwnd{1};
std::atomic<uint32_t> g_next_timer{1};

template <class Counter>
uint32_t next_id(Counter& counter) {
    uint32_t id = counter.fetch_add(1, std::memory_order_relaxed);
    while (id == 0) id = counter.fetch_add(1, std::memory_order_relaxed);   // after 2^32 ids
    return id;
}

void write_eventfd(int fd) noexcept {
    const uint64_t one = 1;
    // EAGAIN means the counter is saturated, which still reads as "wake up".
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void drain_fd(int fd) noexcept {
    uint64_t value = 0;
    while (::read(fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void throw_errno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

// The part of a loop that other threads may touch.
struct LoopShared {
    std::mutex mutex;
    std::vector<Item> inbox;   // guarded by mutex
    bool closed = false;       // guarded by mutex; set when the loop is destroyed
    UniqueFd wake_fd;          // eventfd, non-blocking

    bool push(Item item) {
        bool was_empty;
        {
            std::lock_guard lock(mutex);
            if (closed) return false;
            was_empty = inbox.empty();
            inbox.push_back(std::move(item));
        }
        if (was_empty) write_eventfd(wake_fd.get());
        return true;
    }
};

bool ThreadPoster::post_message(Hwnd hwnd, uint32_t msg, uint32_t wparam, int32_t lparam) const {
    if (!shared_) return false;
    return shared_->push(Item{hwnd, msg, wparam, lparam, {}});
}

bool ThreadPoster::post_task(std::function<void()> task) const {
    if (!shared_ || !task) return false;
    return shared_->push(Item{0, 0, 0, 0, std::move(task)});
}

struct MessageLoop::Impl {
    struct Timer {
        Clock::duration interval;
        Clock::time_point due;                       // its entry in `schedule`
        std::shared_ptr<std::function<void()>> fn;   // shared so a callback may remove its own timer
        TimerMode mode;
    };
    using Slot = std::pair<Clock::time_point, TimerId>;   // earliest first; ids break ties in adding order
    struct FdSlot {
        FdHandler* handler = nullptr;
        uint32_t generation = 0;   // bumped on unwatch: stale readiness of a reused fd is ignored
        bool used = false;
    };

    UniqueFd epoll;
    UniqueFd timer_fd;
    std::shared_ptr<LoopShared> shared = std::make_shared<LoopShared>();
    ItemRing queue;
    bool wake_signalled = false;   // owner-side: our own write to the eventfd is still unread
    std::unordered_map<Hwnd, std::shared_ptr<WindowProc>> windows;
    std::map<TimerId, Timer> timers;
    std::set<Slot> schedule;       // one entry per timer
    Clock::time_point armed_deadline = Clock::time_point::max();
    std::vector<FdSlot> slots;     // indexed by fd
    int depth = 0;                 // nesting of run_once
    bool stop_requested = false;
    std::function<void(const std::string&)> error_sink;

    // Runs one callback; an escaping exception goes to the sink instead of unwinding the pump.
    template <class F>
    void guarded(F&& fn) noexcept {
        try {
            fn();
        } catch (const std::exception& e) {
            report(e.what());
        } catch (...) {
            report("unknown exception in a message loop callback");
        }
    }

    void report(const std::string& text) noexcept {
        if (!error_sink) return;
        try {
            error_sink(text);
        } catch (...) {   // a failing sink has nowhere else to go
        }
    }

    void ensure_signalled() noexcept {
        if (wake_signalled) return;
        write_eventfd(shared->wake_fd.get());
        wake_signalled = true;
    }

    void take_inbox() {
        std::vector<Item> taken;
        {
            std::lock_guard lock(shared->mutex);
            if (shared->inbox.empty()) return;
            taken.swap(shared->inbox);
        }
        for (Item& item : taken) queue.push_back(std::move(item));
    }

    void deliver(Item& item) {
        if (item.task) {
            guarded(item.task);
            return;
        }
        const auto it = windows.find(item.hwnd);
        if (it == windows.end()) return;   // window destroyed after the post
        const std::shared_ptr<WindowProc> proc = it->second;   // survives destroy_window inside the call
        guarded([&] { (*proc)(item.hwnd, item.msg, item.wparam, item.lparam); });
    }

    bool deliver_queue() {
        bool ran = false;
        for (size_t budget = kDeliveryBudget; budget > 0 && !queue.empty(); --budget) {
            Item item = queue.pop_front();
            deliver(item);
            ran = true;
        }
        return ran;
    }

    bool run_due_timers() {
        const Clock::time_point now = Clock::now();
        std::vector<TimerId> due;   // taken first: timers added by a callback wait for the next pass
        for (auto it = schedule.begin(); it != schedule.end() && it->first <= now; ++it) due.push_back(it->second);
        bool ran = false;
        for (const TimerId id : due) {
            const auto it = timers.find(id);
            // Removed by an earlier callback of this pass, or already run by a pass nested in one.
            if (it == timers.end() || it->second.due > now) continue;
            Timer& timer = it->second;
            const std::shared_ptr<std::function<void()>> fn = timer.fn;
            schedule.erase({timer.due, id});
            if (timer.mode == TimerMode::periodic) {
                timer.due += timer.interval;
                if (timer.due <= now) timer.due = now + timer.interval;   // missed ticks merge
                schedule.insert({timer.due, id});
            } else {
                timers.erase(it);   // finished before it runs, so it cannot be removed from inside
            }
            guarded(*fn);   // may add or remove timers: `timer` and `it` are not used after this
            ran = true;
        }
        return ran;
    }

    Clock::time_point earliest_due() const {
        return schedule.empty() ? Clock::time_point::max() : schedule.begin()->first;
    }

    void arm_timer_fd() noexcept {
        const Clock::time_point next = earliest_due();
        if (next == armed_deadline) return;
        itimerspec setting{};
        if (next != Clock::time_point::max()) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(next.time_since_epoch()).count();
            setting.it_value.tv_sec = ns / 1000000000;
            setting.it_value.tv_nsec = ns % 1000000000;
            if (setting.it_value.tv_sec == 0 && setting.it_value.tv_nsec == 0) setting.it_value.tv_nsec = 1;   // 0 disarms
        }
        // steady_clock is CLOCK_MONOTONIC on Linux, so its time points are valid absolute times here.
        if (::timerfd_settime(timer_fd.get(), TFD_TIMER_ABSTIME, &setting, nullptr) == 0) armed_deadline = next;
    }

    void serve_fd_event(const epoll_event& ev) {
        const int fd = static_cast<int>(ev.data.u64 & 0xFFFFFFFFu);
        const auto generation = static_cast<uint32_t>(ev.data.u64 >> 32);
        if (fd < 0 || static_cast<size_t>(fd) >= slots.size()) return;
        const FdSlot& slot = slots[static_cast<size_t>(fd)];
        if (!slot.used || slot.generation != generation) return;   // unwatched earlier in this pass
        FdHandler* handler = slot.handler;
        guarded([&] { handler->on_fd_ready(fd, ev.events); });
    }

    int wait_timeout(Duration max_wait) const {
        if (!queue.empty()) return 0;
        const Clock::time_point due = earliest_due();
        if (due <= Clock::now()) return 0;
        if (max_wait.count() < 0) return 0;
        if (max_wait.count() > INT_MAX) return -1;
        return static_cast<int>(max_wait.count());
    }
};

MessageLoop::MessageLoop() : impl_(std::make_unique<Impl>()) {
    impl_->epoll.reset(::epoll_create1(EPOLL_CLOEXEC));
    if (!impl_->epoll.valid()) throw_errno("epoll_create1");
    impl_->shared->wake_fd.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!impl_->shared->wake_fd.valid()) throw_errno("eventfd");
    impl_->timer_fd.reset(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!impl_->timer_fd.valid()) throw_errno("timerfd_create");
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeToken;
    if (::epoll_ctl(impl_->epoll.get(), EPOLL_CTL_ADD, impl_->shared->wake_fd.get(), &ev) < 0) throw_errno("epoll_ctl");
    ev.data.u64 = kTimerToken;
    if (::epoll_ctl(impl_->epoll.get(), EPOLL_CTL_ADD, impl_->timer_fd.get(), &ev) < 0) throw_errno("epoll_ctl");
}

MessageLoop::~MessageLoop() {
    std::lock_guard lock(impl_->shared->mutex);
    impl_->shared->closed = true;
    impl_->shared->inbox.clear();
}

namespace {
// The holder deletes the loop at thread exit. The raw pointer and the flag have no destructors, so they
// stay readable afterwards: other thread-local objects destroyed later (a control kept in a thread_local,
// say) can still ask whether a loop exists, and are told no instead of getting a new one.
thread_local MessageLoop* t_loop = nullptr;
thread_local bool t_loop_ended = false;
struct LoopHolder {
    MessageLoop* loop = nullptr;
    ~LoopHolder() {
        t_loop_ended = true;
        t_loop = nullptr;
        delete loop;
    }
};
thread_local LoopHolder t_holder;
}  // namespace

MessageLoop& MessageLoop::current() {
    if (!t_loop) {
        if (t_loop_ended) throw std::logic_error("MessageLoop::current: the thread's loop has already ended");
        t_holder.loop = new MessageLoop();
        t_loop = t_holder.loop;
    }
    return *t_loop;
}

MessageLoop* MessageLoop::current_if_exists() noexcept { return t_loop; }

Hwnd MessageLoop::create_window(WindowProc proc) {
    if (!proc) throw std::invalid_argument("create_window: empty window procedure");
    const Hwnd hwnd = next_id(g_next_hwnd);
    impl_->windows.emplace(hwnd, std::make_shared<WindowProc>(std::move(proc)));
    return hwnd;
}

bool MessageLoop::destroy_window(Hwnd hwnd) { return impl_->windows.erase(hwnd) > 0; }

bool MessageLoop::is_window(Hwnd hwnd) const { return impl_->windows.contains(hwnd); }

WindowProc MessageLoop::set_window_proc(Hwnd hwnd, WindowProc proc) {
    const auto it = impl_->windows.find(hwnd);
    if (it == impl_->windows.end() || !proc) return {};
    WindowProc previous = std::move(*it->second);
    // A fresh holder, so a procedure replaced while it runs stays alive until it returns.
    it->second = std::make_shared<WindowProc>(std::move(proc));
    return previous;
}

int32_t MessageLoop::send_message(Hwnd hwnd, uint32_t msg, uint32_t wparam, int32_t lparam) {
    const auto it = impl_->windows.find(hwnd);
    if (it == impl_->windows.end()) return 0;
    const std::shared_ptr<WindowProc> proc = it->second;
    return (*proc)(hwnd, msg, wparam, lparam);
}

bool MessageLoop::post_message(Hwnd hwnd, uint32_t msg, uint32_t wparam, int32_t lparam) {
    if (!impl_->windows.contains(hwnd)) return false;
    impl_->queue.push_back(Item{hwnd, msg, wparam, lparam, {}});
    if (impl_->depth == 0) impl_->ensure_signalled();
    return true;
}

void MessageLoop::post_task(std::function<void()> task) {
    if (!task) return;
    impl_->queue.push_back(Item{0, 0, 0, 0, std::move(task)});
    if (impl_->depth == 0) impl_->ensure_signalled();
}

ThreadPoster MessageLoop::poster() const { return ThreadPoster(impl_->shared); }

size_t MessageLoop::pending() const noexcept { return impl_->queue.size(); }

TimerId MessageLoop::add_timer(Duration interval, std::function<void()> fn, TimerMode mode) {
    if (!fn) throw std::invalid_argument("add_timer: empty callback");
    const Clock::duration step = std::max<Clock::duration>(interval, std::chrono::milliseconds(1));
    const TimerId id = next_id(g_next_timer);
    const Clock::time_point due = Clock::now() + step;
    auto callback = std::make_shared<std::function<void()>>(std::move(fn));
    impl_->schedule.insert({due, id});
    try {
        impl_->timers.emplace(id, Impl::Timer{step, due, std::move(callback), mode});
    } catch (...) {
        impl_->schedule.erase({due, id});
        throw;
    }
    if (impl_->depth == 0) impl_->arm_timer_fd();
    return id;
}

bool MessageLoop::remove_timer(TimerId id) {
    const auto it = impl_->timers.find(id);
    if (it == impl_->timers.end()) return false;
    impl_->schedule.erase({it->second.due, id});
    impl_->timers.erase(it);   // a callback that is running keeps its own reference to the function
    return true;
}

size_t MessageLoop::timer_count() const noexcept { return impl_->timers.size(); }

int MessageLoop::watch_fd(int fd, uint32_t events, FdHandler* handler) {
    if (fd < 0 || !handler) return -EINVAL;
    auto& slots = impl_->slots;
    if (static_cast<size_t>(fd) >= slots.size()) slots.resize(static_cast<size_t>(fd) + 1);
    Impl::FdSlot& slot = slots[static_cast<size_t>(fd)];
    if (slot.used) return -EEXIST;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = static_cast<uint64_t>(fd) | (static_cast<uint64_t>(slot.generation) << 32);
    if (::epoll_ctl(impl_->epoll.get(), EPOLL_CTL_ADD, fd, &ev) < 0) return -errno;
    slot.used = true;
    slot.handler = handler;
    return 0;
}

int MessageLoop::modify_fd(int fd, uint32_t events) {
    auto& slots = impl_->slots;
    if (fd < 0 || static_cast<size_t>(fd) >= slots.size() || !slots[static_cast<size_t>(fd)].used) return -ENOENT;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = static_cast<uint64_t>(fd) | (static_cast<uint64_t>(slots[static_cast<size_t>(fd)].generation) << 32);
    if (::epoll_ctl(impl_->epoll.get(), EPOLL_CTL_MOD, fd, &ev) < 0) return -errno;
    return 0;
}

int MessageLoop::unwatch_fd(int fd) {
    auto& slots = impl_->slots;
    if (fd < 0 || static_cast<size_t>(fd) >= slots.size() || !slots[static_cast<size_t>(fd)].used) return -ENOENT;
    Impl::FdSlot& slot = slots[static_cast<size_t>(fd)];
    slot.used = false;
    slot.handler = nullptr;
    ++slot.generation;
    if (::epoll_ctl(impl_->epoll.get(), EPOLL_CTL_DEL, fd, nullptr) < 0) return -errno;
    return 0;
}

bool MessageLoop::run_once(Duration max_wait) {
    Impl& im = *impl_;
    struct DepthGuard {
        int& depth;
        explicit DepthGuard(int& d) : depth(d) { ++depth; }
        ~DepthGuard() { --depth; }
    } guard(im.depth);

    im.take_inbox();
    epoll_event events[kMaxEvents];
    int n = ::epoll_wait(im.epoll.get(), events, kMaxEvents, im.wait_timeout(max_wait));
    if (n < 0) {
        if (errno != EINTR) throw_errno("epoll_wait");   // EBADF/EINVAL: the loop itself is broken
        n = 0;
    }
    bool ran = false;
    for (int i = 0; i < n; ++i) {
        const epoll_event& ev = events[i];
        if (ev.data.u64 == kWakeToken) {
            drain_fd(im.shared->wake_fd.get());
            im.wake_signalled = false;
            im.take_inbox();
        } else if (ev.data.u64 == kTimerToken) {
            drain_fd(im.timer_fd.get());
            im.armed_deadline = Clock::time_point::max();   // expired: must be set again
        } else {
            im.serve_fd_event(ev);
            ran = true;
        }
    }
    ran |= im.run_due_timers();
    ran |= im.deliver_queue();
    if (!im.queue.empty()) im.ensure_signalled();   // left over by the budget: keep fd() readable
    im.arm_timer_fd();
    return ran;
}

void MessageLoop::run_for(Duration duration) {
    const Clock::time_point deadline = Clock::now() + duration;
    while (!impl_->stop_requested) {
        const auto left = std::chrono::ceil<Duration>(deadline - Clock::now());
        if (left.count() <= 0) break;
        run_once(left);
    }
    impl_->stop_requested = false;
}

void MessageLoop::run() {
    while (!impl_->stop_requested) run_once(Duration(INT_MAX));
    impl_->stop_requested = false;
}

void MessageLoop::stop() noexcept { impl_->stop_requested = true; }

int MessageLoop::fd() const noexcept { return impl_->epoll.get(); }

void MessageLoop::set_error_sink(std::function<void(const std::string&)> sink) { impl_->error_sink = std::move(sink); }

}  // namespace msgloop
