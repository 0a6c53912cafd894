// RasTestSupport.h: a phonebook file in a temporary folder, dial parameters, and a notifier that
// records what it is told (from the dial's thread) for the test's thread to wait on.
#pragma once

#include <unistd.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ras/Ras.h"
#include "platform/ras/RasRecords.h"

class PhonebookFile {
public:
    explicit PhonebookFile(const std::string& text) {
        std::string pattern = (std::filesystem::temp_directory_path() / "ras-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        path_ = (dir_ / "phonebook.ini").string();
        write(text);
    }
    ~PhonebookFile() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    void write(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }
    const char* path() const { return path_.c_str(); }
    std::filesystem::path dir() const { return dir_; }

private:
    std::filesystem::path dir_;
    std::string path_;
};

using DialParams = std::array<uint8_t, ras::kDialParamsSize>;

inline DialParams dial_params(const std::string& entry) {
    DialParams p{};
    ras::record::put_u32(p.data(), 0, ras::kDialParamsSize);
    ras::record::put_text(p.data(), ras::record::kDialEntryName, entry);
    return p;
}

struct Note {
    uint32_t state, error;
    bool operator==(const Note&) const = default;
};

// Collects notifications; the test thread waits for them with a deadline.
class NoteLog {
public:
    ras::RasDialFunc1 notifier() {
        return [this](ras::HRASCONN, uint32_t msg, uint32_t state, uint32_t error, uint32_t) {
            std::lock_guard lock(mutex_);
            notes_.push_back({state, error});
            messages_ok_ &= msg == ras::kWmRasDialEvent;
            foreign_thread_ &= std::this_thread::get_id() != test_thread_;
            if (on_note_) on_note_(state);
            changed_.notify_all();
        };
    }
    // Waits until `count` notifications arrived (or 10 s passed); returns what arrived.
    std::vector<Note> wait_for(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), [&] { return notes_.size() >= count; });
        return notes_;
    }
    std::vector<Note> notes() {
        std::lock_guard lock(mutex_);
        return notes_;
    }
    bool all_on_foreign_thread_with_dial_message() {
        std::lock_guard lock(mutex_);
        return foreign_thread_ && messages_ok_;
    }
    // Runs on the dial's thread for every notification, inside the notifier.
    std::function<void(uint32_t)> on_note_;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Note> notes_;
    bool foreign_thread_ = true;
    bool messages_ok_ = true;
    const std::thread::id test_thread_ = std::this_thread::get_id();
};

// The status of a connection: the call's result and the state.
inline std::pair<uint32_t, uint32_t> connect_status(ras::HRASCONN h, uint32_t* error = nullptr) {
    std::array<uint8_t, ras::kConnStatusSize> status{};
    ras::record::put_u32(status.data(), 0, ras::kConnStatusSize);
    const uint32_t rc = ras::RasGetConnectStatusA(h, status.data());
    if (error != nullptr) *error = ras::record::get_u32(status.data(), ras::record::kStatusError);
    return {rc, ras::record::get_u32(status.data(), ras::record::kStatusState)};
}

// The IP projection: the call's result and the address.
inline std::pair<uint32_t, std::string> ip_projection(ras::HRASCONN h) {
    std::array<uint8_t, ras::kPppIpSize> ip{};
    ras::record::put_u32(ip.data(), 0, ras::kPppIpSize);
    uint32_t size = ras::kPppIpSize;
    const uint32_t rc = ras::RasGetProjectionInfoA(h, ras::kRaspPppIp, ip.data(), &size);
    return {rc, ras::record::get_text(ip.data(), ras::record::kPppIpAddress)};
}

// Polls `done` every 10 ms for up to 10 s.
template <class F>
bool eventually(F&& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
