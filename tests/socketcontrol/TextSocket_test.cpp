// TextSocket_test.cpp: the line-oriented socket over real connections on 127.0.0.1: line cutting,
// escaping, the send buffer under back-pressure, peer close, time-outs, lifetimes, the maximum line
// length, and a server holding thousands of idle connections on one thread.
#include "socketcontrol/TextSocket.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "ControlTestSupport.h"
#include "socketcontrol/VBQueueForm.h"

namespace {

class TextSocketTest : public ::testing::Test {
protected:
    ScopedTempDir dir_;  // first: the control writes its error log into the current directory
    Quellox control_;
};

// Makes `socket`'s terminator list exactly `list` (empty: no terminators).
void set_terminators(TextSocket& socket, const std::vector<std::string>& list) {
    socket.LineTerminator(list.empty() ? std::string() : list.front());
    for (size_t i = 1; i < list.size(); ++i) socket.AppendLineTerminator(list[i]);
}

TEST_F(TextSocketTest, LinesAreCutAtTheEarliestTerminatorWhateverTheArrivals) {
    struct Case {
        const char* name;
        std::vector<std::string> terminators;
        std::vector<std::string> chunks;  // each sent once the one before has been taken in
        std::vector<std::string> lines;
        std::vector<std::string> ends;    // LastLineTerminator seen inside each LineArrived
        int32_t rest;                     // ReceiveBufferSize afterwards
    };
    const Case cases[] = {
        {"terminator split over two reads", {"\r\n"}, {"abc\r", "\ndef"}, {"abc"}, {"\r\n"}, 3},
        {"several lines and an empty one in one read", {"\r\n"}, {"a\r\nb\r\n\r\nc"}, {"a", "b", ""},
         {"\r\n", "\r\n", "\r\n"}, 1},
        {"same position: the earlier entry wins", {"\r", "\r\n"}, {"a\r\n"}, {"a"}, {"\r"}, 1},
        {"smaller position wins over list order", {"\n", "\r\n"}, {"a\r\nb"}, {"a"}, {"\r\n"}, 1},
        {"no terminators: every arrival whole", {}, {"ab\r\n", "cd"}, {"ab\r\n", "cd"}, {"", ""}, 0},
        {"three-character terminator over three reads", {"END"}, {"xE", "N", "DyEN"}, {"x"}, {"END"}, 3},
        {"ETX and Windows-1252 text", {"\x03"}, {"caf\xC3\xA9\x03n", "o\x03\x03"}, {"caf\xC3\xA9", "no", ""},
         {"\x03", "\x03", "\x03"}, 0},
        {"a terminator listed twice", {"|", "|"}, {"a||b|"}, {"a", "", "b"}, {"|", "|", "|"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TextPair pair;
        ASSERT_TRUE(pair.open(control_));
        set_terminators(*pair.server, c.terminators);
        size_t sent = 0;
        for (const std::string& chunk : c.chunks) {
            ASSERT_TRUE(pair.client->SendRaw(chunk));
            sent += cp1252::from_utf8(chunk).size();
            ASSERT_TRUE(pump_until([&] {
                return pair.server_events->consumed() + static_cast<size_t>(pair.server->ReceiveBufferSize()) == sent;
            }));
        }
        EXPECT_EQ(pair.server_events->lines, c.lines);
        EXPECT_EQ(pair.server_events->terminators, c.ends);
        EXPECT_EQ(pair.server->ReceiveBufferSize(), c.rest);
    }
}

TEST_F(TextSocketTest, ThousandsOfLinesInABurstArriveWholeAndInOrder) {
    TextPair pair;
    ASSERT_TRUE(pair.open(control_));
    set_terminators(*pair.server, {"|", "\r\n"});
    std::vector<std::string> expected;
    std::string burst;
    for (int i = 0; i < 5000; ++i) {  // lengths vary, so the reads split lines and terminators anywhere
        expected.push_back(std::to_string(i) + std::string(static_cast<size_t>(i % 97), 'x'));
        burst += expected.back() + (i % 3 == 0 ? "\r\n" : "|");
    }
    pair.client->SendRaw(burst);  // what the socket cannot take now follows on ReadyToSend
    ASSERT_TRUE(pump_until([&] { return pair.server_events->lines.size() == expected.size(); }));
    EXPECT_TRUE(pair.server_events->lines == expected);
    EXPECT_EQ(pair.server->ReceiveBufferSize(), 0);
}

TEST_F(TextSocketTest, EscapingCarriesCrLfAndEscThroughCrLfLines) {
    TextPair pair;
    ASSERT_TRUE(pair.open(control_));
    pair.client->Escape(true);

    // What goes on the wire, read by a receiver that does not unescape.
    ASSERT_TRUE(pair.client->SendLine("A\r\nB"));
    std::string long_text(600, 'x');
    long_text[10] = '\r';   // first 500-character piece: no LF, so this CR stays as it is
    long_text[550] = '\n';  // second piece: escaped
    ASSERT_TRUE(pair.client->SendLine(long_text));
    ASSERT_TRUE(pump_until([&] { return pair.server_events->lines.size() == 2; }));
    EXPECT_EQ(pair.server_events->lines[0], "A\x1B\r\x1B\nB");
    std::string expected_long = long_text;
    expected_long.insert(550, "\x1B");
    EXPECT_EQ(pair.server_events->lines[1], expected_long);

    // A receiver that unescapes gets exactly what was sent.
    pair.server->Escape(true);
    const std::vector<std::string> texts = {"A\r\nB", "\x1B\x1B", "\r\n\r\n", long_text, ""};
    for (const std::string& text : texts) ASSERT_TRUE(pair.client->SendLine(text));
    ASSERT_TRUE(pair.client->SendRaw("\x1B\x1Bx\x1B\r\n"));  // an ESC at the end of a line is dropped
    ASSERT_TRUE(pump_until([&] { return pair.server_events->lines.size() == 2 + texts.size() + 1; }));
    for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(pair.server_events->lines[2 + i], texts[i]) << i;
    EXPECT_EQ(pair.server_events->lines.back(), "\x1Bx");
}

TEST_F(TextSocketTest, MisuseRaisesTheDocumentedErrorsAndLosesNothing) {
    auto socket = control_.CreateTextSocket();

    ComError e = error_of([&] { socket->SendLine("hello"); });
    EXPECT_EQ(e.number(), 20001);
    EXPECT_EQ(e.source(), "WSocket");
    EXPECT_EQ(e.description(), "A socket must be connected before you can send data on it!");
    EXPECT_EQ(socket->SendBufferSize(), 7);  // the line and its CR LF wait in the buffer

    e = error_of([&] { socket->Connect(); });
    EXPECT_EQ(e.description(), "Host name not defined!");

    e = error_of([&] { socket->AppendLineTerminator(""); });
    EXPECT_EQ(e.number(), 5);
    EXPECT_EQ(e.source(), "TextSocket");
    EXPECT_EQ(e.description(), "You cannot append a blank line terminator");

    socket->LineTerminator("\x03");
    socket->Escape(true);
    EXPECT_EQ(socket->LineTerminator(), "\r\n");
    e = error_of([&] { socket->AppendLineTerminator("x"); });
    EXPECT_EQ(e.number(), 20001);
    EXPECT_EQ(e.description(), "You cannot append line terminators while the Escape property is TRUE!");
    e = error_of([&] { socket->LineTerminator("x"); });
    EXPECT_EQ(e.number(), 20001);
    EXPECT_EQ(e.description(), "You cannot set the line terminator while the Escape property is TRUE!");
}

TEST_F(TextSocketTest, SendBufferTakesWhatWouldBlockAndDrainsInOrder) {
    RawListener peer_listener;
    auto events = std::make_shared<TextRecorder>();
    auto client = make_text_client(control_, peer_listener.port, events);
    ASSERT_TRUE(pump_until([&] { return client->State() == WSSS_Connected; }));
    UniqueFd peer = peer_listener.accept_one();
    ASSERT_TRUE(peer.valid());
    // The core's first ReadyToSend (after connecting) finds an empty send buffer: nothing is raised.
    ASSERT_TRUE(pump_until([] { return message_queue().empty(); }));

    std::string expected;
    bool all_out = true;
    for (int n = 0; all_out && n < 4000; ++n) {
        const std::string line = std::to_string(n) + std::string(64 * 1024, 'a' + n % 26);
        all_out = client->SendLine(line);
        expected += line + "\r\n";
    }
    ASSERT_FALSE(all_out) << "the peer never stopped taking data";
    EXPECT_GT(client->SendBufferSize(), 0);
    EXPECT_FALSE(client->SendLine("last"));  // queued behind what waits, in order
    expected += "last\r\n";
    EXPECT_EQ(events->count("ReadyToSend"), 0u);

    std::string received;
    ASSERT_TRUE(pump_until([&] {
        raw_drain(peer, received);
        return received.size() == expected.size() && events->count("ReadyToSend") == 1;
    }, std::chrono::seconds(30)));
    EXPECT_TRUE(received == expected);
    EXPECT_EQ(client->SendBufferSize(), 0);
}

TEST_F(TextSocketTest, PeerCloseDeliversTheUnterminatedTailThenClosed) {
    auto listener_events = std::make_shared<TextRecorder>();
    auto server_events = std::make_shared<TextRecorder>();
    auto listener = make_text_listener(control_, listener_events);
    listener_events->on_accept = [&](std::shared_ptr<TextSocket>& s) {
        s->bind_events(server_events);
        server_events->source = s;
    };
    {
        UniqueFd peer = raw_connect(listener->LocalPort());
        ASSERT_TRUE(peer.valid());
        raw_send(peer, "one\r\ntail");
    }  // closed with data the server has not read yet
    ASSERT_TRUE(pump_until([&] { return server_events->count("Closed") == 1; }));
    EXPECT_EQ(server_events->events, (std::vector<std::string>{"Line one", "Line tail", "Closed"}));
    EXPECT_EQ(server_events->terminators, (std::vector<std::string>{"\r\n", ""}));
}

TEST_F(TextSocketTest, TimedOutRepeatsWhileNothingHappens) {
    TextPair pair;
    ASSERT_TRUE(pair.open(control_));
    pair.server->Timeout(1);  // a tenth of a second
    EXPECT_EQ(pair.server->Timeout(), 1);
    ASSERT_TRUE(pump_until([&] { return pair.server_events->count("TimedOut") >= 2; }));
    EXPECT_EQ(pair.client_events->count("TimedOut"), 0u);
}

TEST_F(TextSocketTest, OwnerMayDropTheSocketInsideLineArrived) {
    TextPair pair;
    ASSERT_TRUE(pair.open(control_));
    const int32_t text_sockets = Quellox::TextSocketCount();
    const int32_t registered = Quellox::Count();
    pair.server_events->on_line = [&](const std::string&) { pair.server.reset(); };

    ASSERT_TRUE(pair.client->SendRaw("one\r\ntwo\r\n"));
    // The server's destruction, once its handler returned, closes the connection.
    ASSERT_TRUE(pump_until([&] { return pair.client_events->count("Closed") == 1; }));
    EXPECT_EQ(pair.server_events->lines, std::vector<std::string>{"one"});  // nobody left to hear "two"
    EXPECT_EQ(Quellox::TextSocketCount(), text_sockets - 1);
    EXPECT_EQ(Quellox::Count(), registered - 1);
}

TEST_F(TextSocketTest, OwnerMayDropTheSocketInsideClosed) {
    TextPair pair;
    ASSERT_TRUE(pair.open(control_));
    const int32_t text_sockets = Quellox::TextSocketCount();
    pair.server_events->on_closed = [&] { pair.server.reset(); };
    ASSERT_TRUE(pair.client->SendRaw("last words"));
    pair.client.reset();  // closes the connection: the server delivers the tail, then Closed
    ASSERT_TRUE(pump_until([&] { return !pair.server; }));
    EXPECT_EQ(pair.server_events->events, (std::vector<std::string>{"Line last words", "Closed"}));
    EXPECT_EQ(Quellox::TextSocketCount(), text_sockets - 2);
}

TEST_F(TextSocketTest, AcceptedSocketNobodyKeepsIsClosed) {
    auto listener_events = std::make_shared<TextRecorder>();
    listener_events->keep_accepted = false;
    auto listener = make_text_listener(control_, listener_events);
    UniqueFd peer = raw_connect(listener->LocalPort(), true);
    ASSERT_TRUE(peer.valid());
    std::string ignored;
    ASSERT_TRUE(pump_until([&] { return !raw_drain(peer, ignored); }));  // end of stream: closed by the server
    EXPECT_EQ(listener_events->count("NewConnection"), 1u);
    EXPECT_EQ(Quellox::Count(), 1);  // the listener only
    EXPECT_EQ(listener->State(), WSSS_Listening);
}

TEST_F(TextSocketTest, MaxLineLengthDropsOverlongLinesAndBoundsTheBuffer) {
    struct Chunk {
        std::string bytes;
        int32_t buffered;  // ReceiveBufferSize to wait for after it; -1: wait for the lines
    };
    struct Case {
        const char* name;
        std::vector<Chunk> chunks;
        std::vector<std::string> lines;
        size_t errors;
    };
    const Case cases[] = {
        {"exactly the maximum", {{"12345678\r\n", -1}}, {"12345678"}, 0},
        {"the maximum with its terminator split", {{"12345678\r", 9}, {"\n", -1}}, {"12345678"}, 0},
        {"an overlong complete line is dropped, the next kept", {{"123456789\r\nok\r\n", -1}}, {"ok"}, 1},
        {"an overlong line over several reads is dropped whole",
         {{std::string(20, 'a'), 1}, {std::string(20, 'b') + "\r\nnext\r\n", -1}}, {"next"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TextPair pair;
        ASSERT_TRUE(pair.open(control_));
        pair.server->MaxLineLength(8);
        for (const Chunk& chunk : c.chunks) {
            ASSERT_TRUE(pair.client->SendRaw(chunk.bytes));
            ASSERT_TRUE(pump_until([&] {
                return chunk.buffered >= 0 ? pair.server->ReceiveBufferSize() == chunk.buffered
                                           : pair.server_events->lines.size() == c.lines.size();
            }));
        }
        EXPECT_EQ(pair.server_events->lines, c.lines);
        EXPECT_EQ(pair.server_events->count("Error 10040 "), c.errors);
        EXPECT_LE(pair.server->ReceiveBufferSize(), 9);
    }
}

// The end of an overlong line that arrives without a terminator before the peer closes belongs to the
// line already reported: it goes without a second Error.
TEST_F(TextSocketTest, OverlongLastLineIsReportedOnceWhenThePeerCloses) {
    TextPair pair;
    ASSERT_TRUE(pair.open(control_));
    pair.server->MaxLineLength(8);
    ASSERT_TRUE(pair.client->SendRaw(std::string(20, 'a')));
    ASSERT_TRUE(pump_until([&] { return pair.server_events->count("Error 10040 ") == 1; }));
    ASSERT_TRUE(pair.client->SendRaw(std::string(8, 'b')));  // more of it: short enough to stay buffered
    ASSERT_TRUE(pump_until([&] { return pair.server->ReceiveBufferSize() == 9; }));
    pair.client.reset();  // closes the connection
    ASSERT_TRUE(pump_until([&] { return pair.server_events->count("Closed") == 1; }));
    EXPECT_EQ(pair.server_events->count("Error 10040 "), 1u);
    EXPECT_TRUE(pair.server_events->lines.empty());
}

// Raises the soft limit on open descriptors to the hard one; false when even that is below `needed`.
bool allow_descriptors(rlim_t needed) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed) return false;
    limit.rlim_cur = limit.rlim_max;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

TEST_F(TextSocketTest, OneThreadHoldsFiveThousandIdleConnections) {
    constexpr size_t kConnections = 5000;
    if (!allow_descriptors(2 * kConnections + 200))
        GTEST_SKIP() << "the hard limit on open descriptors is below " << 2 * kConnections + 200;

    // An echo server that keeps every connection and lets go of it when the peer closes.
    struct Server : TextRecorder {
        std::vector<std::shared_ptr<TextSocket>> sockets;
        size_t closed = 0;
        struct Connection : TextSocketEvents {
            Server* server = nullptr;
            std::weak_ptr<TextSocket> socket;
            void LineArrived(const std::string& data) override {
                if (auto s = socket.lock()) s->SendLine("echo " + data);
            }
            void Closed() override { ++server->closed; }
        };
        std::vector<std::shared_ptr<Connection>> handlers;
    };
    auto server = std::make_shared<Server>();
    auto listener = make_text_listener(control_, server);
    server->keep_accepted = false;
    server->on_accept = [&](std::shared_ptr<TextSocket>& s) {
        auto handler = std::make_shared<Server::Connection>();
        handler->server = server.get();
        handler->socket = s;
        s->bind_events(handler);
        server->handlers.push_back(handler);
        server->sockets.push_back(s);
    };

    std::vector<UniqueFd> clients;
    while (clients.size() < kConnections) {  // in batches, so the listen backlog never overflows
        for (int i = 0; i < 250 && clients.size() < kConnections; ++i) {
            clients.push_back(raw_connect(listener->LocalPort(), true));
            ASSERT_TRUE(clients.back().valid()) << "connection " << clients.size();
        }
        ASSERT_TRUE(pump_until([&] { return server->sockets.size() == clients.size(); }, std::chrono::seconds(30)));
    }
    EXPECT_EQ(Quellox::Count(), static_cast<int32_t>(kConnections + 1));
    EXPECT_GE(Quellox::TextSocketCount(), static_cast<int32_t>(kConnections + 1));

    // Idle connections cost nothing but are all still served.
    const size_t probes[] = {0, 1234, 2500, kConnections - 1};
    for (size_t i : probes) raw_send(clients[i], "ping " + std::to_string(i) + "\r\n");
    for (size_t i : probes) {
        std::string reply;
        const std::string expected = "echo ping " + std::to_string(i) + "\r\n";
        ASSERT_TRUE(pump_until([&] {
            raw_drain(clients[i], reply);
            return reply.size() >= expected.size();
        }));
        EXPECT_EQ(reply, expected);
    }

    clients.clear();
    ASSERT_TRUE(pump_until([&] { return server->closed == kConnections; }, std::chrono::seconds(60)));
    server->sockets.clear();
    EXPECT_EQ(Quellox::Count(), 1);
}

}  // namespace
