// DialSession.h: one dial, from RasDialA to RasHangUpA: the state the calls read, the worker thread
// that runs the entry's backend, and the rules that make hanging up safe from any thread.
//
// Locking: one mutex guards the fields; the notifier is always called with it released, so a
// notifier may call back into the service. Hanging up marks the session, wakes the worker and waits
// for a notifier call in progress to return (unless it is that call hanging up), so no notification
// starts after RasHangUpA returns. The worker finishes its clean-up (ending processes) on its own;
// its thread is joined later by the session table.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ras/Phonebook.h"
#include "platform/ras/Ras.h"

namespace ras {

// What the caller's dial parameters add to the entry (UTF-8), and the environment for commands.
struct DialRequest {
    std::string phone, user, password, domain;
    std::vector<std::string> environment;   // "NAME=value" for the command backend
};

class DialSession final {
public:
    DialSession(HRASCONN handle, PhonebookEntry entry, DialRequest request, RasDialFunc1 notifier);
    ~DialSession();   // joins the worker
    DialSession(const DialSession&) = delete;
    DialSession& operator=(const DialSession&) = delete;

    HRASCONN handle() const noexcept { return handle_; }
    const PhonebookEntry& entry() const noexcept { return entry_; }
    const DialRequest& request() const noexcept { return request_; }

    // Starts the worker running the entry's backend.
    void start();

    // ---- for the worker ----
    // Records the state (and error) and calls the notifier; false once hung up (the worker then stops).
    bool notify(uint32_t state, uint32_t error = 0, uint32_t extended = 0);
    // Sleeps up to `limit`; true when the session was hung up (at once, or meanwhile).
    bool wait_for_hang_up(std::chrono::milliseconds limit);
    void set_projection(std::string address);   // the IP projection is complete
    void set_connected();
    void set_down();                            // the link went away by itself

    // ---- for the calls ----
    // The 160-byte status record; 6 once the link is down.
    uint32_t fill_status(void* record) const;
    // The 40-byte IP projection record; 730 before projection, 731 without an address.
    uint32_t fill_projection(void* record) const;
    // Whether the dial still runs or holds the link (a second dial of the entry must wait).
    bool holds_entry() const;
    // Marks the session hung up and waits for a notifier call in progress (see above).
    void hang_up();
    // The worker has returned (its thread can be joined at once).
    bool finished() const;

private:
    void run() noexcept;

    const HRASCONN handle_;
    const PhonebookEntry entry_;
    const DialRequest request_;
    const RasDialFunc1 notifier_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;   // hung up, notifier returned
    uint32_t state_ = RASCS_OpenPort;   // guarded by mutex_, as everything below
    uint32_t error_ = 0;
    bool projected_ = false;
    bool connected_ = false;
    bool down_ = false;
    bool hung_up_ = false;
    bool notifying_ = false;
    bool finished_ = false;
    std::string address_;
    std::thread::id worker_id_;
    std::thread thread_;   // touched only by the owner of the session (start, destructor)
};

// The backends' dial procedures; each runs on the session's worker and returns once hung up or done.
void run_simulated_dial(DialSession& session);
void run_command_dial(DialSession& session);

}  // namespace ras
