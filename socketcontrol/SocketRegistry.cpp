// SocketRegistry.cpp: the per-thread socket registry and its two indexes.
#include "socketcontrol/SocketRegistry.h"

#include <utility>

#include "common/ComError.h"
#include "socketcontrol/ThreadState.h"
#include "socketcontrol/WSocket.h"

namespace {
constexpr int32_t kErrDuplicateKey = 457;
}

SocketRegistry& SocketRegistry::current() { return live_thread_state().registry; }

SocketRegistry* SocketRegistry::current_if_alive() noexcept {
    ThreadState* state = thread_state();
    return state == nullptr ? nullptr : &state->registry;
}

void SocketRegistry::index_add(Index& index, int32_t value, Seq seq, const Entry* entry) { index[value].emplace(seq, entry); }

void SocketRegistry::index_remove(Index& index, int32_t value, Seq seq) {
    const auto it = index.find(value);
    if (it == index.end()) return;
    it->second.erase(seq);
    if (it->second.empty()) index.erase(it);
}

void SocketRegistry::Add(std::shared_ptr<WSocket> core, const std::string& key) {
    if (by_key_.contains(key))
        throw ComError(kErrDuplicateKey, "TarvexV3", "This key is already associated with an element of this collection");
    const Seq seq = next_seq_++;
    const int32_t handle = core->SocketHandle();
    const int32_t task = core->AsyncTaskHandle();
    const WSocket* raw = core.get();
    const Entry* entry = &entries_.emplace(seq, Entry{key, std::move(core), handle, task}).first->second;
    by_key_.emplace(key, seq);
    by_core_.emplace(raw, seq);
    index_add(by_handle_, handle, seq, entry);
    index_add(by_task_, task, seq, entry);
}

void SocketRegistry::Add(std::shared_ptr<WSocket> core) {
    const std::string key = std::to_string(core->SocketHandle());
    Add(std::move(core), key);
}

std::shared_ptr<WSocket> SocketRegistry::erase(std::map<Seq, Entry>::iterator it) {
    const Seq seq = it->first;
    Entry& entry = it->second;
    by_key_.erase(entry.key);
    const auto [first, last] = by_core_.equal_range(entry.core.get());
    for (auto c = first; c != last; ++c) {
        if (c->second == seq) {
            by_core_.erase(c);
            break;
        }
    }
    index_remove(by_handle_, entry.handle, seq);
    index_remove(by_task_, entry.task, seq);
    std::shared_ptr<WSocket> core = std::move(entry.core);
    entries_.erase(it);
    return core;  // released by the caller once the registry is consistent again
}

bool SocketRegistry::Remove(const std::string& key) {
    const auto k = by_key_.find(key);
    if (k == by_key_.end()) return false;
    std::shared_ptr<WSocket> released = erase(entries_.find(k->second));
    released.reset();  // may destroy the core; the registry no longer refers to it
    return true;
}

std::shared_ptr<WSocket> SocketRegistry::Item(const std::string& key) const {
    const auto k = by_key_.find(key);
    return k == by_key_.end() ? nullptr : entries_.at(k->second).core;
}

void SocketRegistry::Clear() {
    while (!entries_.empty()) {
        std::shared_ptr<WSocket> released = erase(entries_.begin());
        released.reset();
    }
}

std::shared_ptr<WSocket> SocketRegistry::first_in(const Index& index, int32_t value) const {
    const auto it = index.find(value);
    if (it == index.end() || it->second.empty()) return nullptr;
    return it->second.begin()->second->core;
}

std::shared_ptr<WSocket> SocketRegistry::find_by_handle(int32_t value) const { return first_in(by_handle_, value); }
std::shared_ptr<WSocket> SocketRegistry::find_by_task(int32_t value) const { return first_in(by_task_, value); }

std::shared_ptr<WSocket> SocketRegistry::walk_by_handle(int32_t value) const {
    for (const auto& [seq, entry] : entries_)
        if (entry.core->SocketHandle() == value) return entry.core;
    return nullptr;
}

std::shared_ptr<WSocket> SocketRegistry::walk_by_task(int32_t value) const {
    for (const auto& [seq, entry] : entries_)
        if (entry.core->AsyncTaskHandle() == value) return entry.core;
    return nullptr;
}

void SocketRegistry::handle_changed(const WSocket& core, int32_t /*old_value*/) {
    reindex(core, by_handle_, &Entry::handle, core.SocketHandle());
}

void SocketRegistry::task_changed(const WSocket& core, int32_t /*old_value*/) {
    reindex(core, by_task_, &Entry::task, core.AsyncTaskHandle());
}

// Moves every registration of `core` in `index` from the value it was indexed under to `now`.
void SocketRegistry::reindex(const WSocket& core, Index& index, int32_t Entry::*indexed, int32_t now) {
    const auto [first, last] = by_core_.equal_range(&core);
    for (auto c = first; c != last; ++c) {
        Entry& entry = entries_.at(c->second);
        index_remove(index, entry.*indexed, c->second);
        entry.*indexed = now;
        index_add(index, now, c->second, &entry);
    }
}
