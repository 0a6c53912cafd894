// Helper.h: lets the dispatcher ask the control whether its container currently ignores events (for
// example in design mode). The control instance that started the thread binds to the thread's Helper and
// answers AreEventsFrozen; with nobody bound the answer is "not frozen".
#pragma once

#include <memory>

#include "platform/object/EventSource.h"
#include "socketcontrol/ObjectCounts.h"

// Event interface of Helper.
class HelperEvents {
public:
    virtual ~HelperEvents() = default;
    virtual void AreEventsFrozen(bool& Result) = 0;  // set Result to true while events must wait
};

class Helper final : public std::enable_shared_from_this<Helper> {
public:
    // Raises AreEventsFrozen with Result false and returns what the handler left in it.
    bool EventsAreFrozen();

    void bind_events(std::weak_ptr<HelperEvents> sink) { events_.bind(std::move(sink)); }
    void unbind_events() { events_.unbind(); }

private:
    EventSource<HelperEvents> events_;
    LiveCount counted_{&ObjectCounts::HelperCount};
};

// The thread's Helper, created on first use and kept until the thread's state ends (then it raises 91).
std::shared_ptr<Helper> thread_helper();
