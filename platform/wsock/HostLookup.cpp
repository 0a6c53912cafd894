// HostLookup.cpp: WSAAsyncGetHostByName / WSAAsyncGetHostByAddr / WSACancelAsyncRequest, and the
// blocking get_host_by_name.
//
// Each lookup runs on a helper thread of its own (getaddrinfo and getnameinfo are thread-safe; a
// request per thread keeps one slow name server from holding up the others). The helper touches nothing
// of the owning thread: it hands its typed result to the owner's pump as a task. On the owning thread
// that task writes the caller's buffer and posts the reply message, unless the lookup was cancelled or
// the thread cleaned up meanwhile, so cancelling needs no lock and a cancelled lookup never writes into
// a buffer its owner may already have freed.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "common/AsciiCase.h"
#include "platform/wsock/ThreadSockets.h"

namespace wsock {
namespace detail {
namespace {

// Per thread; beyond that a start fails with WSAEWOULDBLOCK. Counted by helper threads still running, not
// by lookups still wanted: a cancelled lookup's thread stays blocked in the resolver until it answers, and
// a caller that starts and cancels in a loop must not pile up threads.
constexpr size_t kMaxPendingLookups = 64;
constexpr size_t kFinishedRemembered = 256;  // replies remembered so a late cancel says WSAEALREADY
constexpr int kHeaderSize = 16;

struct LookupResult {
    int32_t error = 0;
    HostEntry entry;
};

LookupResult resolve_name(std::string name) {
    LookupResult result;
    if (name.empty()) {   // the local host, as Windows resolves an empty name
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) < 0) return {wsa_from_errno(errno), {}};
        name = host;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0) return {wsa_from_gai(rc, errno), {}};
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(list, &::freeaddrinfo);
    result.entry.name = list->ai_canonname ? list->ai_canonname : name;
    if (!equals_ignoring_case(result.entry.name, name)) result.entry.aliases.push_back(name);
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET) continue;
        const uint32_t address = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
        if (std::find(result.entry.addresses.begin(), result.entry.addresses.end(), address) ==
            result.entry.addresses.end())
            result.entry.addresses.push_back(address);
    }
    if (result.entry.addresses.empty()) result.error = WSANO_DATA;
    return result;
}

LookupResult resolve_address(uint32_t address) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = address;
    char host[NI_MAXHOST] = {};
    const int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&sin), sizeof sin, host, sizeof host, nullptr, 0,
                                 NI_NAMEREQD);
    if (rc != 0) return {wsa_from_gai(rc, errno), {}};
    LookupResult result;
    result.entry.name = host;
    result.entry.addresses.push_back(address);
    return result;
}

void put32(std::vector<char>& out, size_t at, uint32_t v) { std::memcpy(out.data() + at, &v, sizeof v); }

// The host entry in the layout WinSock.h documents: header, alias offsets, address offsets, addresses,
// then the texts.
std::vector<char> encode(const HostEntry& e) {
    const size_t aliases_at = kHeaderSize;
    const size_t addr_list_at = aliases_at + 4 * (e.aliases.size() + 1);
    const size_t addresses_at = addr_list_at + 4 * (e.addresses.size() + 1);
    size_t text_at = addresses_at + 4 * e.addresses.size();
    size_t size = text_at + e.name.size() + 1;
    for (const std::string& a : e.aliases) size += a.size() + 1;
    std::vector<char> out(size, 0);
    const uint16_t addrtype = AF_INET, length = 4;
    put32(out, 0, static_cast<uint32_t>(text_at));
    put32(out, 4, static_cast<uint32_t>(aliases_at));
    std::memcpy(out.data() + 8, &addrtype, 2);
    std::memcpy(out.data() + 10, &length, 2);
    put32(out, 12, static_cast<uint32_t>(addr_list_at));
    std::memcpy(out.data() + text_at, e.name.c_str(), e.name.size() + 1);
    text_at += e.name.size() + 1;
    for (size_t i = 0; i < e.aliases.size(); ++i) {
        put32(out, aliases_at + 4 * i, static_cast<uint32_t>(text_at));
        std::memcpy(out.data() + text_at, e.aliases[i].c_str(), e.aliases[i].size() + 1);
        text_at += e.aliases[i].size() + 1;
    }
    for (size_t i = 0; i < e.addresses.size(); ++i) {
        put32(out, addr_list_at + 4 * i, static_cast<uint32_t>(addresses_at + 4 * i));
        put32(out, addresses_at + 4 * i, e.addresses[i]);
    }
    return out;
}

// On the owning thread: deliver the reply of `task` unless it was cancelled or cleaned up.
void complete(ThreadSockets& state, HANDLE task, const LookupResult& result) {
    const auto it = state.lookups.find(task);
    if (it == state.lookups.end()) return;
    const Lookup lookup = it->second;
    state.lookups.erase(it);
    state.finished_lookups.push_back(task);
    if (state.finished_lookups.size() > kFinishedRemembered) state.finished_lookups.pop_front();

    int32_t error = result.error;
    size_t length = 0;
    if (error == 0) {
        const std::vector<char> bytes = encode(result.entry);
        length = bytes.size();
        if (length > static_cast<size_t>(lookup.buflen)) error = WSAENOBUFS;   // the low word says what is needed
        else std::memcpy(lookup.buf, bytes.data(), length);
    }
    const int32_t reply = WSAMAKEASYNCREPLY(static_cast<int32_t>(std::min<size_t>(length, 0xFFFF)), error);
    msgloop::MessageLoop::current().post_message(lookup.hwnd, lookup.msg, task, reply);
}

HANDLE start(HWND hwnd, uint32_t msg, char* buf, int buflen, std::string name, uint32_t address, bool by_name) {
    if (!started()) return 0;
    msgloop::MessageLoop& loop = msgloop::MessageLoop::current();
    if (!loop.is_window(hwnd)) return fail(WSAEINVAL), 0;
    if (!buf || buflen < 0) return fail(WSAEFAULT), 0;
    ThreadSockets& state = thread_sockets();
    if (state.running_lookups >= kMaxPendingLookups) return fail(WSAEWOULDBLOCK), 0;
    const HANDLE task = next_task_handle();
    const msgloop::ThreadPoster poster = loop.poster();
    try {
        std::thread([poster, task, name = std::move(name), address, by_name] {
            LookupResult result = by_name ? resolve_name(name) : resolve_address(address);
            poster.post_task([task, result = std::move(result)] {
                ThreadSockets* owner = thread_sockets_if_alive();
                if (owner == nullptr) return;   // the thread is ending: nobody waits for the reply
                if (owner->running_lookups > 0) --owner->running_lookups;
                complete(*owner, task, result);
            });
        }).detach();
    } catch (const std::system_error&) {
        return fail(WSAENOBUFS), 0;
    }
    ++state.running_lookups;
    state.lookups.emplace(task, Lookup{hwnd, msg, buf, buflen});
    return task;
}

}  // namespace
}  // namespace detail

HANDLE WSAAsyncGetHostByName(HWND hwnd, uint32_t msg, const char* name, char* buf, int buflen) {
    if (!name) {
        if (detail::started()) detail::fail(WSAEFAULT);
        return 0;
    }
    return detail::start(hwnd, msg, buf, buflen, name, 0, true);
}

HANDLE WSAAsyncGetHostByAddr(HWND hwnd, uint32_t msg, const char* addr, int len, int type, char* buf, int buflen) {
    if (!detail::started()) return 0;
    if (!addr || len != 4) return detail::fail(WSAEFAULT), 0;
    if (type != WS_AF_INET) return detail::fail(WSAEAFNOSUPPORT), 0;
    uint32_t address;
    std::memcpy(&address, addr, sizeof address);
    return detail::start(hwnd, msg, buf, buflen, std::string(), address, false);
}

int WSACancelAsyncRequest(HANDLE task) {
    using namespace detail;
    if (!started()) return SOCKET_ERROR;
    ThreadSockets& state = thread_sockets();
    if (task != 0 && state.lookups.erase(task) > 0) return 0;   // the helper's result will be dropped
    const auto& done = state.finished_lookups;
    if (task != 0 && std::find(done.begin(), done.end(), task) != done.end()) return fail(WSAEALREADY);
    return fail(WSAEINVAL);
}

int get_host_by_name(const char* name, HostEntry& out) {
    if (!detail::started()) return SOCKET_ERROR;
    if (!name) return detail::fail(WSAEFAULT);
    detail::LookupResult result = detail::resolve_name(name);
    if (result.error != 0) return detail::fail(result.error);
    out = std::move(result.entry);
    return 0;
}

bool parse_hostent(const char* buf, int buflen, HostEntry& out) {
    if (!buf || buflen < detail::kHeaderSize) return false;
    const size_t size = static_cast<size_t>(buflen);
    auto get32 = [&](size_t at, uint32_t& v) {
        if (at > size || size - at < 4) return false;
        std::memcpy(&v, buf + at, 4);
        return true;
    };
    auto get_text = [&](uint32_t at, std::string& text) {
        if (at >= size) return false;
        const void* end = std::memchr(buf + at, '\0', size - at);
        if (!end) return false;
        text.assign(buf + at, static_cast<const char*>(end));
        return true;
    };
    uint32_t name_at, aliases_at, list_at;
    int16_t addrtype, length;
    std::memcpy(&addrtype, buf + 8, 2);
    std::memcpy(&length, buf + 10, 2);
    if (!get32(0, name_at) || !get32(4, aliases_at) || !get32(12, list_at)) return false;
    if (addrtype != WS_AF_INET || length != 4) return false;
    HostEntry entry;
    if (!get_text(name_at, entry.name)) return false;
    for (size_t at = aliases_at;; at += 4) {
        uint32_t offset;
        if (!get32(at, offset)) return false;
        if (offset == 0) break;
        std::string alias;
        if (!get_text(offset, alias)) return false;
        entry.aliases.push_back(std::move(alias));
    }
    for (size_t at = list_at;; at += 4) {
        uint32_t offset, address;
        if (!get32(at, offset)) return false;
        if (offset == 0) break;
        if (!get32(offset, address)) return false;
        entry.addresses.push_back(address);
    }
    out = std::move(entry);
    return true;
}

}  // namespace wsock
