// Dialer.h: the control's dial-up networking object. It lists the entries of the phonebook, selects
// one and its credentials, dials it, learns the address the link received, notices when the link drops,
// hangs up, and reports when the link has stayed idle for a set time.
//
// The dial service reports progress on a thread of its own. Its callback only posts each notification
// to this dialer's thread (through the message loop's thread-safe poster); there the thread's RASHelper
// broadcasts it, the dialer that owns the connection queues it, and the queue timer (one second) works
// the queue off, raising every event on the dialer's thread. Two more timers watch the link once a
// second and count the idle time. Timers need the thread's control to be loaded (a Quellox instance).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/object/Dispatch.h"
#include "platform/object/EventSource.h"
#include "platform/ras/Ras.h"
#include "socketcontrol/MemberInfo.h"
#include "socketcontrol/ObjectCounts.h"

class RASHelper;
class VBTimer;

// Events of Dialer (source interface __Dialer). Empty defaults: an owner overrides what it handles.
class DialerEvents {
public:
    virtual ~DialerEvents() = default;
    virtual void Progress(int32_t /*State*/) {}
    virtual void Error(int32_t /*ErrCode*/, const std::string& /*ErrDesc*/) {}
    virtual void Connected(const std::string& /*LocalIpAddress*/) {}
    virtual void DisConnected() {}
    virtual void TimedOut() {}
};

class Dialer final : public Dispatch {
public:
    // A new dialer with the phonebook loaded; raises the phonebook's error (see LoadEntryNames), or the
    // timers' 20001 when no control instance has started this thread.
    static std::shared_ptr<Dialer> create();
    // Hangs the connection up unless HoldWhenDestroyed; errors are ignored.
    ~Dialer() override;

    void bind_events(std::weak_ptr<DialerEvents> sink) { events_.bind(std::move(sink)); }
    void unbind_events() { events_.unbind(); }

    // ---- the members of _Dialer, in slot order ----
    // The CurrentEntry accessors raise 21001 "Current DUN entry no defined" while no entry is selected,
    // except CurrentEntryName (let), which selects one.
    std::string CurrentEntryDomain() const;
    void CurrentEntryDomain(const std::string& value);
    std::string CurrentEntryName() const;
    void CurrentEntryName(const std::string& value);
    void CurrentEntryPassword(const std::string& value);   // never read back
    std::string CurrentEntryUserId() const;
    void CurrentEntryUserId(const std::string& value);
    int16_t EntryCount() const noexcept { return EntryCount_; }
    // The name of entry 1 ... EntryCount, which also becomes the current entry.
    std::string EntryName(int16_t EntryNumber);
    int32_t Handle() const noexcept { return Handle_; }
    bool HoldWhenDestroyed() const noexcept { return HoldWhenDestroyed_; }
    void HoldWhenDestroyed(bool value) noexcept { HoldWhenDestroyed_ = value; }
    const std::string& IPAddress() const noexcept { return IPAddress_; }
    void Reset();   // restarts the idle count
    // Idle time-out in seconds with tenths (kept in tenths, halves rounded to even); 0: none.
    double Timeout() const noexcept { return idle_timeout_ / 10.0; }
    void Timeout(double value);
    void Connect();
    bool IsConnected() const noexcept { return IsConnected_; }
    void DisConnect();   // raises no event
    void LoadEntryNames();

    // Late binding by member name.
    Variant Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> args) override;
    std::string type_name() const override { return "Dialer"; }

    static std::span<const MemberInfo> members();
    static std::span<const MemberInfo> events();

    // The dialer's own error number and source.
    static constexpr int32_t kDialerError = 21001;
    static constexpr const char* kSource = "VBDialer";

private:
    class HelperSink;
    class TimerSink;
    using Notification = std::vector<int32_t>;   // (1, handle, state, error, extended) or (2, 1|2)

    Dialer() = default;
    void require_entry() const;
    ras::RasDialFunc1 dial_callback() const;
    void enqueue(Notification record);
    // Handlers of RASHelper and of the three timers.
    void state_changed(int32_t Handle, int32_t State, int32_t ErrorCode, int32_t ExtErrorCode);
    void work_queue();
    void handle_notification(const Notification& record, int& step);
    void watch_link();
    void idle_expired();
    void read_ip_address();
    template <class F>
    void raise(F&& fn) { events_.raise(std::forward<F>(fn)); }

    LiveCount counted_{&ObjectCounts::DialerCount};
    std::deque<Notification> queue_;                 // oldest first, worked off by RASCallbackTimer
    std::vector<uint8_t> entry_buffer_;              // 264-byte entry records as the service returns them
    int16_t EntryCount_ = 0;
    int32_t Handle_ = 0;                             // connection of the current dial, 0 when none
    std::array<uint8_t, ras::kDialParamsSize> dial_params_{};
    std::string current_entry_;                      // last entry selected successfully; empty: none
    std::string IPAddress_;
    int32_t idle_timeout_ = 0;                       // tenths of a second; 0: none
    bool IsConnected_ = false;
    bool HoldWhenDestroyed_ = false;
    std::shared_ptr<RASHelper> TheRASHelper;
    std::shared_ptr<VBTimer> ToTimer;                // idle time-out
    std::shared_ptr<VBTimer> RASTimer;               // link watch, every second
    std::shared_ptr<VBTimer> RASCallbackTimer;       // works the queue off, a second after it filled
    std::shared_ptr<HelperSink> helper_sink_;
    std::vector<std::shared_ptr<TimerSink>> timer_sinks_;
    EventSource<DialerEvents> events_;
};
