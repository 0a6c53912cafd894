// SocketRegistry.h: the per-thread collection of socket cores through which the dispatcher finds the core
// a message is for. Entries are keyed by text (the decimal socket handle at registration, "1234") and kept
// in registration order, as a collection is.
//
// The dispatcher's rule is "the first registered core whose current SocketHandle (or AsyncTaskHandle)
// equals wParam". A walk per message costs O(n) with thousands of connections, so the registry keeps two
// indexes, current handle -> entries and task handle -> entries, each ordered by registration. A core
// tells the registry whenever its handle or task handle changes (WSocket does this itself), so an index
// look-up gives exactly the core the walk would give.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class WSocket;

class SocketRegistry final {
public:
    // This thread's registry (part of its ThreadState), created empty on first use; raises 91 once the
    // thread's state has ended.
    static SocketRegistry& current();
    // The same, or null once the thread's state has ended: for what runs while objects are released.
    static SocketRegistry* current_if_alive() noexcept;

    // Adds `core` under `key` at the end. A key that is already present raises 457 "This key is already
    // associated with an element of this collection" and nothing changes.
    void Add(std::shared_ptr<WSocket> core, const std::string& key);
    // Adds `core` under the decimal text of its SocketHandle.
    void Add(std::shared_ptr<WSocket> core);
    // Removes the entry under `key`; false (and nothing else) when there is none.
    bool Remove(const std::string& key);
    int32_t Count() const noexcept { return static_cast<int32_t>(entries_.size()); }
    std::shared_ptr<WSocket> Item(const std::string& key) const;  // nullptr when absent
    // Removes every entry, first to last; the cores stay open (their owners close them).
    void Clear();

    // The first registered core whose SocketHandle / AsyncTaskHandle is `value`, through the indexes.
    std::shared_ptr<WSocket> find_by_handle(int32_t value) const;
    std::shared_ptr<WSocket> find_by_task(int32_t value) const;
    // The same answers by walking the entries in order, as the original dispatcher did (tests compare).
    std::shared_ptr<WSocket> walk_by_handle(int32_t value) const;
    std::shared_ptr<WSocket> walk_by_task(int32_t value) const;

    // Called by a core after its SocketHandle / AsyncTaskHandle changed from `old_value`.
    void handle_changed(const WSocket& core, int32_t old_value);
    void task_changed(const WSocket& core, int32_t old_value);

private:
    using Seq = uint64_t;  // registration order; never reused
    struct Entry {
        std::string key;
        std::shared_ptr<WSocket> core;
        int32_t handle;  // the core's handle / task handle as indexed
        int32_t task;
    };
    // value -> the entries holding it, by registration order (entries_ nodes never move)
    using Index = std::unordered_map<int32_t, std::map<Seq, const Entry*>>;

    static void index_add(Index& index, int32_t value, Seq seq, const Entry* entry);
    static void index_remove(Index& index, int32_t value, Seq seq);
    void reindex(const WSocket& core, Index& index, int32_t Entry::*indexed, int32_t now);
    std::shared_ptr<WSocket> first_in(const Index& index, int32_t value) const;
    std::shared_ptr<WSocket> erase(std::map<Seq, Entry>::iterator it);  // returns the released core

    std::map<Seq, Entry> entries_;                            // registration order
    std::unordered_map<std::string, Seq> by_key_;
    std::unordered_multimap<const WSocket*, Seq> by_core_;    // a core may sit under several keys
    Index by_handle_;
    Index by_task_;
    Seq next_seq_ = 1;
};
