// EventSource.h: how an object raises events to its owner without keeping the owner alive.
//
// The owner implements a sink interface and binds it with a weak reference; the source locks it for
// the length of each event, so an owner that drops the source inside a handler is safe, and an owner
// that has gone away simply hears nothing. Events are raised synchronously on the owning thread.
#pragma once

#include <memory>
#include <utility>

template <class Sink>
class EventSource {
public:
    void bind(std::weak_ptr<Sink> sink) { sink_ = std::move(sink); }
    void unbind() { sink_.reset(); }
    bool bound() const { return !sink_.expired(); }

    // Calls fn(sink) when a live sink is bound; the sink is pinned for the call. Returns whether it ran.
    template <class F>
    bool raise(F&& fn) const {
        const std::shared_ptr<Sink> sink = sink_.lock();
        if (!sink) return false;
        std::forward<F>(fn)(*sink);
        return true;
    }

private:
    std::weak_ptr<Sink> sink_;  // never owning: no cycle between a source and its owner
};
