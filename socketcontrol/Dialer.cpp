// Dialer.cpp: the dialer's phonebook members, dialling, the hand-over of notifications to the
// dialer's thread, the notification queue, the link watch and the idle time-out.
//
// Nothing here runs on the dial service's thread except the callback made by dial_callback(), which
// only posts. Everything else, the queue included, belongs to the dialer's thread, so nothing is locked.
#include "socketcontrol/Dialer.h"

#include <cstdio>
#include <mutex>

#include "common/ComError.h"
#include "common/Conversions.h"
#include "common/Cp1252.h"
#include "platform/msgloop/MessageLoop.h"
#include "platform/ras/RasRecords.h"
#include "socketcontrol/ErrorLog.h"
#include "socketcontrol/Helper.h"
#include "socketcontrol/RASHelper.h"
#include "socketcontrol/VBTimer.h"

namespace {

namespace rec = ras::record;

constexpr int32_t kTimerInterval = 10;   // link watch and queue timer: one second
constexpr int32_t kRasErrorTextChars = 1000;
constexpr int32_t kKindDial = 1, kKindLocal = 2;
constexpr int32_t kLocalLinkDown = 1, kLocalIdle = 2;

// The service has no desktop to show a message box on: the text goes to the error log and to standard
// error, where an operator looks for it.
void show_message_box(const std::string& text) {
    WriteErrorLog(text);
    std::fprintf(stderr, "%s\n", text.c_str());
}

// The text of a RAS error number, or a stand-in text when the service has none.
std::string ras_error_text(int32_t number) {
    char text[kRasErrorTextChars] = {};
    ras::RasGetErrorStringA(static_cast<uint32_t>(number), text, sizeof text);
    const std::string found(text, strnlen(text, sizeof text));
    return found.empty() ? "No Description for RAS Code " + std::to_string(number) : cp1252::to_utf8(found);
}

// The dial service's messages (a malformed phonebook line, a command that would not start) go to the
// control's housekeeping log, once a dialer exists.
void route_service_log() {
    static std::once_flag once;
    std::call_once(once, [] { ras::set_log_sink([](const std::string& text) { WriteErrorLog("RAS: " + text); }); });
}

}  // namespace

// Receives the thread RASHelper's StateChanged without keeping the dialer alive.
class Dialer::HelperSink final : public RASHelperEvents {
public:
    explicit HelperSink(std::weak_ptr<Dialer> dialer) : dialer_(std::move(dialer)) {}
    void StateChanged(int32_t Handle, int32_t State, int32_t ErrorCode, int32_t ExtErrorCode) override {
        if (const auto self = dialer_.lock()) self->state_changed(Handle, State, ErrorCode, ExtErrorCode);
    }

private:
    std::weak_ptr<Dialer> dialer_;
};

// Receives one timer's Alarm; the dialer is pinned for the length of the handler.
class Dialer::TimerSink final : public VBTimerEvents {
public:
    TimerSink(std::weak_ptr<Dialer> dialer, void (Dialer::*handler)()) : dialer_(std::move(dialer)), handler_(handler) {}
    void Alarm() override {
        if (const auto self = dialer_.lock()) ((*self).*handler_)();
    }

private:
    std::weak_ptr<Dialer> dialer_;
    void (Dialer::*handler_)();
};

// Counted, fields cleared, timers made (disabled), the thread's RASHelper bound, the phonebook loaded.
std::shared_ptr<Dialer> Dialer::create() {
    route_service_log();
    std::shared_ptr<Dialer> dialer(new Dialer());
    rec::put_u32(dialer->dial_params_.data(), 0, ras::kDialParamsSize);   // a valid record before any selection
    const std::weak_ptr<Dialer> weak = dialer;
    const auto make_timer = [&](std::shared_ptr<VBTimer>& timer, void (Dialer::*handler)()) {
        timer = VBTimer::create();
        dialer->timer_sinks_.push_back(std::make_shared<TimerSink>(weak, handler));
        timer->bind_events(dialer->timer_sinks_.back());
    };
    make_timer(dialer->ToTimer, &Dialer::idle_expired);
    make_timer(dialer->RASTimer, &Dialer::watch_link);
    make_timer(dialer->RASCallbackTimer, &Dialer::work_queue);
    dialer->RASTimer->Interval(kTimerInterval);
    dialer->RASCallbackTimer->Interval(kTimerInterval);
    dialer->TheRASHelper = thread_ras_helper();
    dialer->helper_sink_ = std::make_shared<HelperSink>(weak);
    dialer->TheRASHelper->bind_events(dialer->helper_sink_);
    dialer->LoadEntryNames();
    return dialer;
}

Dialer::~Dialer() {
    if (TheRASHelper) TheRASHelper->unbind_events(helper_sink_.get());
    if (Handle_ != 0 && !HoldWhenDestroyed_) ras::RasHangUpA(static_cast<ras::HRASCONN>(Handle_));
}

// ---- phonebook and entry ----

void Dialer::require_entry() const {
    if (current_entry_.empty()) throw ComError(kDialerError, kSource, "Current DUN entry no defined");
}

// Asks the service for the size it needs, then for the entries. A missing phonebook (621) is no error:
// it just has no entries.
void Dialer::LoadEntryNames() {
    std::array<uint8_t, ras::kEntryNameSize> probe{};
    rec::put_u32(probe.data(), 0, ras::kEntryNameSize);
    uint32_t size = 4, count = 0;
    ras::RasEnumEntriesA(nullptr, nullptr, probe.data(), &size, &count);
    // One byte more than asked for, as the service's callers allocate, and never too small for the
    // size field the call reads.
    entry_buffer_.assign(std::max<size_t>(size_t{size} + 1, 4), 0);
    rec::put_u32(entry_buffer_.data(), 0, ras::kEntryNameSize);
    size = static_cast<uint32_t>(entry_buffer_.size());
    count = 0;
    const uint32_t result = ras::RasEnumEntriesA(nullptr, nullptr, entry_buffer_.data(), &size, &count);
    if (result != 0 && result != ras::kErrorCannotOpenPhonebook)
        throw ComError(static_cast<int32_t>(result), kSource, "Failure retrieving list of entries in DUN phonebook");
    EntryCount_ = static_cast<int16_t>(std::min<uint32_t>(count, static_cast<uint32_t>(entry_buffer_.size() / ras::kEntryNameSize)));
}

std::string Dialer::EntryName(int16_t EntryNumber) {
    if (EntryNumber < 1 || EntryNumber > EntryCount_) throw ComError(kDialerError, kSource, "Invalid DUN entry number");
    const uint8_t* record = entry_buffer_.data() + static_cast<size_t>(EntryNumber - 1) * ras::kEntryNameSize;
    const std::string name = cp1252::to_utf8(rec::get_text(record, rec::kEntryName));
    CurrentEntryName(name);
    return name;
}

std::string Dialer::CurrentEntryName() const {
    require_entry();
    return cp1252::to_utf8(rec::get_text(dial_params_.data(), rec::kDialEntryName));
}

// Selecting an entry fills the dial parameters with what the phonebook stores for it. On failure the
// current entry stays, but the parameters keep what the service left in them.
void Dialer::CurrentEntryName(const std::string& value) {
    rec::put_u32(dial_params_.data(), 0, ras::kDialParamsSize);
    rec::put_text(dial_params_.data(), rec::kDialEntryName, cp1252::from_utf8(value));
    int32_t has_password = 0;
    const uint32_t result = ras::RasGetEntryDialParamsA(nullptr, dial_params_.data(), &has_password);
    if (result != 0) throw ComError(static_cast<int32_t>(result), kSource, "Failure setting current DUN entry" + value);
    current_entry_ = value;
}

std::string Dialer::CurrentEntryDomain() const {
    require_entry();
    return cp1252::to_utf8(rec::get_text(dial_params_.data(), rec::kDialDomain));
}

void Dialer::CurrentEntryDomain(const std::string& value) {
    require_entry();
    rec::put_text(dial_params_.data(), rec::kDialDomain, cp1252::from_utf8(value));
}

void Dialer::CurrentEntryPassword(const std::string& value) {
    require_entry();
    rec::put_text(dial_params_.data(), rec::kDialPassword, cp1252::from_utf8(value));
}

std::string Dialer::CurrentEntryUserId() const {
    require_entry();
    return cp1252::to_utf8(rec::get_text(dial_params_.data(), rec::kDialUserName));
}

void Dialer::CurrentEntryUserId(const std::string& value) {
    require_entry();
    rec::put_text(dial_params_.data(), rec::kDialUserName, cp1252::from_utf8(value));
}

void Dialer::Timeout(double value) { idle_timeout_ = vb::to_int32(Variant(value * 10)); }

void Dialer::Reset() { ToTimer->Reset(); }

// ---- dialling and hanging up ----

// Dials in the background; the outcome arrives through the events. A connection this dialer still
// holds is hung up first (silently, as DisConnect), so that dialling again never leaves a link up
// that nobody can hang up any more.
void Dialer::Connect() {
    const auto self = shared_from_this();
    if (Handle_ != 0) DisConnect();
    IPAddress_.clear();
    Handle_ = 0;
    ras::HRASCONN handle = 0;
    const uint32_t result = ras::RasDialA(nullptr, nullptr, dial_params_.data(), 1, dial_callback(), &handle);
    Handle_ = static_cast<int32_t>(handle);
    if (result != 0) {
        if (handle != 0) ras::RasHangUpA(handle);
        throw ComError(static_cast<int32_t>(result), kSource, "Failure attempting connection to " + current_entry_);
    }
}

// The dial callback runs on the service's thread: it posts the notification to this thread's loop
// (locked and woken through an eventfd) and touches nothing else. On this thread the thread's
// RASHelper broadcasts it. A thread whose loop has ended drops it.
ras::RasDialFunc1 Dialer::dial_callback() const {
    return [poster = msgloop::MessageLoop::current().poster()](ras::HRASCONN handle, uint32_t, uint32_t state,
                                                                uint32_t error, uint32_t extended) {
        poster.post_task([handle, state, error, extended] {
            try {
                thread_ras_helper()->BroadCast(static_cast<int32_t>(handle), static_cast<int32_t>(state),
                                               static_cast<int32_t>(error), static_cast<int32_t>(extended));
            } catch (...) {   // errors of the callback's work are ignored, as the service's callbacks must
            }
        });
    };
}

void Dialer::DisConnect() {
    RASTimer->Enabled(false);
    IsConnected_ = false;
    ras::RasHangUpA(static_cast<ras::HRASCONN>(Handle_));
    Handle_ = 0;
    IPAddress_.clear();
}

// ---- the notification queue ----

void Dialer::state_changed(int32_t Handle, int32_t State, int32_t ErrorCode, int32_t ExtErrorCode) {
    if (Handle == 0 || Handle != Handle_) return;   // another dialer's connection, or an old one
    enqueue({kKindDial, Handle, State, ErrorCode, ExtErrorCode});
}

// Appends a record and starts the queue timer. A timer already counting is left alone, so a burst of
// notifications is worked off a second after its first one rather than after its last.
void Dialer::enqueue(Notification record) {
    queue_.push_back(std::move(record));
    if (!RASCallbackTimer->Enabled()) RASCallbackTimer->Enabled(true);
}

// RASCallbackTimer: raises the events of every queued record, oldest first. A failure (an owner's
// handler raising, say) shows the message box with the step it happened in, and the next record is
// handled.
void Dialer::work_queue() {
    const auto self = shared_from_this();   // a handler may drop the dialer
    int step = 0;
    const auto report = [&](int32_t number, const std::string& source, const std::string& description) {
        show_message_box("Dialer Error: " + std::to_string(number) + " Source: " + source + " Desc: " + description +
                         " State: " + std::to_string(step));
    };
    const auto guarded = [&](auto&& body) {
        try {
            body();
        } catch (const ComError& e) {
            report(e.number(), e.source(), e.description());
        } catch (const std::exception& e) {
            report(kErrAutomation, "TarvexV3", e.what());
        }
    };
    bool frozen = false;
    guarded([&] {
        if (thread_helper()->EventsAreFrozen()) {
            frozen = true;   // the timer stays enabled and tries again at its next tick
            return;
        }
        step = 1;
        RASCallbackTimer->Enabled(false);
    });
    if (frozen) return;
    for (;;) {
        step = 2;
        if (queue_.empty()) return;
        step = 3;
        Notification record = queue_.front();
        step = 4;
        queue_.pop_front();
        guarded([&] { handle_notification(record, step); });
    }
}

void Dialer::handle_notification(const Notification& record, int& step) {
    step = 5;
    if (record[0] == kKindLocal) {
        step = record[1] == kLocalLinkDown ? 30 : 40;
        if (record[1] == kLocalLinkDown) raise([](DialerEvents& s) { s.DisConnected(); });
        else raise([](DialerEvents& s) { s.TimedOut(); });
        return;
    }
    const int32_t handle = record[1], state = record[2], error = record[3];
    if (handle != Handle_) return;   // hung up since it was queued: it concerns nobody any more
    if (error != 0) {
        step = 6;
        const std::string text = ras_error_text(error) + ". Failure connecting to " + current_entry_;
        step = 7;
        ras::RasHangUpA(static_cast<ras::HRASCONN>(Handle_));
        step = 8;
        raise([&](DialerEvents& s) { s.Error(error, text); });
        step = 9;
        return;
    }
    if (state == static_cast<int32_t>(ras::RASCS_Connected)) {
        step = 20;
        read_ip_address();
        step = 21;
        IsConnected_ = true;
        step = 22;
        raise([&](DialerEvents& s) { s.Connected(IPAddress_); });
        step = 23;
        if (IsConnected_ && Handle_ == handle) {   // the owner may have hung up inside Connected
            if (idle_timeout_ != 0) {
                ToTimer->Interval(idle_timeout_);
                ToTimer->Enabled(true);
            }
            RASTimer->Enabled(true);
        }
    }
    raise([&](DialerEvents& s) { s.Progress(state); });
}

// The address comes from the record whatever the call returned (an unset record reads as empty).
void Dialer::read_ip_address() {
    std::array<uint8_t, ras::kPppIpSize> projection{};
    rec::put_u32(projection.data(), 0, ras::kPppIpSize);
    uint32_t size = ras::kPppIpSize;
    ras::RasGetProjectionInfoA(static_cast<ras::HRASCONN>(Handle_), ras::kRaspPppIp, projection.data(), &size);
    IPAddress_ = cp1252::to_utf8(rec::get_text(projection.data(), rec::kPppIpAddress));
}

// RASTimer, once a second while connected. A failing status call, or a status that says the link is
// disconnected, means the link dropped: the connection is hung up and DisConnected queued.
void Dialer::watch_link() {
    std::array<uint8_t, ras::kConnStatusSize> status{};
    rec::put_u32(status.data(), 0, ras::kConnStatusSize);
    const uint32_t result = ras::RasGetConnectStatusA(static_cast<ras::HRASCONN>(Handle_), status.data());
    if (result == 0 && rec::get_u32(status.data(), rec::kStatusState) != ras::RASCS_Disconnected) return;
    ras::RasHangUpA(static_cast<ras::HRASCONN>(Handle_));
    RASTimer->Enabled(false);
    Handle_ = 0;
    enqueue({kKindLocal, kLocalLinkDown});
    IsConnected_ = false;
}

// ToTimer: the link stayed idle for the time-out. The owner decides what to do on TimedOut.
void Dialer::idle_expired() {
    ToTimer->Enabled(false);
    if (Handle_ != 0) enqueue({kKindLocal, kLocalIdle});
}
