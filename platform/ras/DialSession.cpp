// DialSession.cpp: the state of one dial, shared by its worker and the calls.
#include "platform/ras/DialSession.h"

#include "platform/ras/RasRecords.h"

namespace ras {

DialSession::DialSession(HRASCONN handle, PhonebookEntry entry, DialRequest request, RasDialFunc1 notifier)
    : handle_(handle), entry_(std::move(entry)), request_(std::move(request)), notifier_(std::move(notifier)) {}

DialSession::~DialSession() {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) thread_.detach();   // the worker let go of its own session
    else thread_.join();
}

void DialSession::start() { thread_ = std::thread([this] { run(); }); }

void DialSession::run() noexcept {
    {
        std::lock_guard lock(mutex_);
        worker_id_ = std::this_thread::get_id();
    }
    try {
        if (entry_.backend == Backend::simulated) run_simulated_dial(*this);
        else run_command_dial(*this);
    } catch (const std::exception& e) {   // out of memory, a thread resource: the dial just ends
        log_message("dial of " + entry_.name + " ended: " + e.what());
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
}

bool DialSession::notify(uint32_t state, uint32_t error, uint32_t extended) {
    {
        std::lock_guard lock(mutex_);
        if (hung_up_) return false;
        state_ = state;
        error_ = error;
        notifying_ = true;
    }
    try {
        if (notifier_) notifier_(handle_, kWmRasDialEvent, state, error, extended);
    } catch (...) {   // the notifier's failures are its own; the dial goes on
    }
    std::lock_guard lock(mutex_);
    notifying_ = false;
    changed_.notify_all();
    return !hung_up_;
}

bool DialSession::wait_for_hang_up(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return hung_up_; });
}

void DialSession::set_projection(std::string address) {
    std::lock_guard lock(mutex_);
    projected_ = true;
    address_ = std::move(address);
}

void DialSession::set_connected() {
    std::lock_guard lock(mutex_);
    connected_ = true;
}

void DialSession::set_down() {
    std::lock_guard lock(mutex_);
    down_ = true;
    state_ = RASCS_Disconnected;
}

uint32_t DialSession::fill_status(void* record) const {
    std::lock_guard lock(mutex_);
    if (down_) return kErrorInvalidHandle;
    record::put_u32(record, record::kStatusState, state_);
    record::put_u32(record, record::kStatusError, error_);
    record::put_text(record, record::kStatusDeviceType, entry_.backend == Backend::simulated ? "modem" : "vpn");
    record::put_text(record, record::kStatusDeviceName,
                     entry_.backend == Backend::simulated ? "simulated" : entry_.command.interface_name);
    return kRasOk;
}

uint32_t DialSession::fill_projection(void* record) const {
    std::lock_guard lock(mutex_);
    if (!projected_) return kErrorProjectionNotComplete;
    if (address_.empty()) return kErrorProtocolNotConfigured;
    record::put_u32(record, record::kPppIpError, 0);
    record::put_text(record, record::kPppIpAddress, address_);
    record::put_text(record, record::kPppIpServerAddress, "");
    return kRasOk;
}

bool DialSession::holds_entry() const {
    std::lock_guard lock(mutex_);
    return !hung_up_ && !down_ && error_ == 0;
}

void DialSession::hang_up() {
    std::unique_lock lock(mutex_);
    hung_up_ = true;
    changed_.notify_all();
    // From inside the notifier (the worker's own thread) there is nothing to wait for: the call in
    // progress is the caller's own.
    if (worker_id_ != std::this_thread::get_id()) changed_.wait(lock, [this] { return !notifying_; });
}

bool DialSession::finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

}  // namespace ras
