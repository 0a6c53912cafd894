// HostLookup_test.cpp: asynchronous host lookups: replies through the pump, the buffer layout, errors
// and cancelling.
#include <gtest/gtest.h>

#include <vector>

#include "tests/platform/wsock/WsockTestKit.h"

// The tests live in namespace wsock so that unqualified calls name the Windows functions, not the
// POSIX ones of the same names.
namespace wsock {
using namespace wsock_test;

namespace {
class HostLookup : public WsockTest {
protected:
    // Notes whose wParam is `task` (lookup replies carry the task handle there).
    std::vector<Note> replies(HANDLE task) const { return notes_for(task); }
};
}  // namespace

TEST_F(HostLookup, NameLookupRepliesThroughThePumpWithTheEntryInTheBuffer) {
    struct Case {
        const char* name;
        uint32_t expected_address;   // network order
    };
    const Case cases[] = {{"localhost", htonl(INADDR_LOOPBACK)}, {"10.1.2.3", inet_addr("10.1.2.3")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        notes_.clear();
        std::vector<char> buf(MAXGETHOSTSTRUCT, '\x7F');
        const HANDLE task = WSAAsyncGetHostByName(hwnd_, kNameLookupMessage, c.name, buf.data(), static_cast<int>(buf.size()));
        ASSERT_NE(task, 0u) << WSAGetLastError();
        EXPECT_TRUE(notes_.empty()) << "the reply is never delivered inside the call";
        ASSERT_TRUE(pump_until([&] { return !replies(task).empty(); }));
        const Note reply = replies(task).at(0);
        EXPECT_EQ(reply.msg, kNameLookupMessage);
        EXPECT_EQ(reply.error, 0);   // the high word
        HostEntry entry;
        ASSERT_TRUE(parse_hostent(buf.data(), reply.event /* low word: bytes used */, entry));
        ASSERT_FALSE(entry.addresses.empty());
        EXPECT_EQ(entry.addresses[0], c.expected_address);
        EXPECT_FALSE(entry.name.empty());
        EXPECT_EQ(WSACancelAsyncRequest(task), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAEALREADY) << "cancel after the reply";
    }
}

TEST_F(HostLookup, FailedLookupsCarryTheirErrorInTheHighWord) {
    std::vector<char> buf(MAXGETHOSTSTRUCT);
    std::vector<char> tiny(8);
    const HANDLE missing = WSAAsyncGetHostByName(hwnd_, kNameLookupMessage, "nonexistent.invalid", buf.data(),
                                                 static_cast<int>(buf.size()));
    const HANDLE too_small = WSAAsyncGetHostByName(hwnd_, kNameLookupMessage, "localhost", tiny.data(),
                                                   static_cast<int>(tiny.size()));
    ASSERT_NE(missing, 0u);
    ASSERT_NE(too_small, 0u);
    EXPECT_NE(missing, too_small);
    ASSERT_TRUE(pump_until([&] { return !replies(missing).empty() && !replies(too_small).empty(); }, 30s));
    // A name under .invalid does not exist; without a reachable name server the answer is "try again".
    const int32_t missing_error = replies(missing)[0].error;
    EXPECT_TRUE(missing_error == WSAHOST_NOT_FOUND || missing_error == WSATRY_AGAIN) << missing_error;
    EXPECT_EQ(replies(too_small)[0].error, WSAENOBUFS);
    EXPECT_GT(replies(too_small)[0].event, 8) << "the low word says how much room was needed";
    EXPECT_EQ(std::vector<char>(8), tiny) << "nothing is written into a buffer that is too small";
}

TEST_F(HostLookup, AddressLookupFindsTheLoopbackName) {
    std::vector<char> buf(MAXGETHOSTSTRUCT);
    const uint32_t address = htonl(INADDR_LOOPBACK);
    const HANDLE task = WSAAsyncGetHostByAddr(hwnd_, kAddressLookupMessage, reinterpret_cast<const char*>(&address), 4,
                                              WS_AF_INET, buf.data(), static_cast<int>(buf.size()));
    ASSERT_NE(task, 0u) << WSAGetLastError();
    ASSERT_TRUE(pump_until([&] { return !replies(task).empty(); }));
    const Note reply = replies(task)[0];
    EXPECT_EQ(reply.msg, kAddressLookupMessage);
    ASSERT_EQ(reply.error, 0);
    HostEntry entry;
    ASSERT_TRUE(parse_hostent(buf.data(), static_cast<int>(buf.size()), entry));
    EXPECT_FALSE(entry.name.empty());
    EXPECT_EQ(entry.addresses, std::vector<uint32_t>{address});
}

TEST_F(HostLookup, CancelledLookupNeverRepliesNorWritesTheBuffer) {
    std::vector<char> cancelled_buf(MAXGETHOSTSTRUCT, '\0');
    std::vector<char> witness_buf(MAXGETHOSTSTRUCT);
    const HANDLE cancelled = WSAAsyncGetHostByName(hwnd_, kNameLookupMessage, "localhost", cancelled_buf.data(),
                                                   static_cast<int>(cancelled_buf.size()));
    ASSERT_NE(cancelled, 0u);
    EXPECT_EQ(WSACancelAsyncRequest(cancelled), 0);
    EXPECT_EQ(WSACancelAsyncRequest(cancelled), SOCKET_ERROR) << "a second cancel finds nothing";
    // A second lookup started later: once its reply is in, the cancelled one had every chance to reply.
    const HANDLE witness = WSAAsyncGetHostByName(hwnd_, kNameLookupMessage, "localhost", witness_buf.data(),
                                                 static_cast<int>(witness_buf.size()));
    ASSERT_TRUE(pump_until([&] { return !replies(witness).empty(); }));
    settle();
    EXPECT_TRUE(replies(cancelled).empty());
    EXPECT_EQ(cancelled_buf, std::vector<char>(MAXGETHOSTSTRUCT, '\0'));
}

TEST_F(HostLookup, MalformedEntriesAreRejectedByTheReader) {
    std::vector<char> buf(MAXGETHOSTSTRUCT);
    const HANDLE task = WSAAsyncGetHostByName(hwnd_, kNameLookupMessage, "localhost", buf.data(), static_cast<int>(buf.size()));
    ASSERT_TRUE(pump_until([&] { return !replies(task).empty(); }));
    const int used = replies(task)[0].event;
    HostEntry entry;
    ASSERT_TRUE(parse_hostent(buf.data(), used, entry));
    struct Case {
        const char* what;
        std::function<void(std::vector<char>&)> damage;
        int length;
    };
    const Case cases[] = {
        {"cut short", [](std::vector<char>&) {}, used - 1},
        {"name offset outside", [](std::vector<char>& b) { b[0] = b[1] = '\xFF'; }, used},
        {"address list runs off the end", [used](std::vector<char>& b) { b[12] = static_cast<char>(used - 2); b[13] = 0; }, used},
        {"header only", [](std::vector<char>&) {}, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<char> copy(buf.begin(), buf.begin() + used);
        c.damage(copy);
        EXPECT_FALSE(parse_hostent(copy.data(), c.length, entry));
    }
}

TEST_F(HostLookup, CancelledLookupsStillCountUntilTheirHelperHasAnswered) {
    // Starting and cancelling in a loop must not pile up helper threads: until the helpers' answers have
    // come back through the pump, they count against the per-thread limit.
    std::vector<char> buf(MAXGETHOSTSTRUCT);
    int started = 0;
    for (; started < 1000; ++started) {
        const HANDLE task = WSAAsyncGetHostByName(hwnd_, kNameLookupMessage, "localhost", buf.data(),
                                                  static_cast<int>(buf.size()));
        if (task == 0) break;
        ASSERT_EQ(WSACancelAsyncRequest(task), 0);
    }
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    EXPECT_LT(started, 1000);
    HANDLE again = 0;
    ASSERT_TRUE(pump_until([&] {
        again = WSAAsyncGetHostByName(hwnd_, kNameLookupMessage, "localhost", buf.data(), static_cast<int>(buf.size()));
        return again != 0;
    }));
    EXPECT_EQ(WSACancelAsyncRequest(again), 0);
    EXPECT_TRUE(notes_.empty()) << "cancelled lookups post nothing";
}

}  // namespace wsock
