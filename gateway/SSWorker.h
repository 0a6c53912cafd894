// SSWorker.h: serves one accepted client connection: unscrambles each request, carries it out on the
// connection's own database channel (or on the middle-tier object), and sends the replies.
//
// The listening server creates a worker per connection, calls start() and keeps no reference: the worker
// holds itself (self_) until its socket closes, fails or times out. Everything runs on the gateway's one
// thread, from the socket's events; nothing here waits.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "common/WireCodec.h"
#include "gateway/Gateway.h"
#include "socketcontrol/TextSocket.h"

class SSWorker final : public TextSocketEvents, public std::enable_shared_from_this<SSWorker> {
public:
    explicit SSWorker(std::shared_ptr<Gateway> gateway);
    ~SSWorker() override;
    SSWorker(const SSWorker&) = delete;
    SSWorker& operator=(const SSWorker&) = delete;

    // Takes over the connection: line terminator ETX, inactivity time-out, a channel from the gateway's
    // DBConnect, the initial key. Raises when the gateway has no DBConnect (the server logs it).
    void start(std::shared_ptr<TextSocket> socket);
    // Ends the connection without a debug line (program shut-down): the socket closes when the worker goes.
    void end();

    int16_t number() const { return number_; }

    // The text socket's events.
    void Closed() override { Sock_Closed(); }
    void Error(int32_t ErrorCode, const std::string& ErrorDesc) override { Sock_Error(ErrorCode, ErrorDesc); }
    void LineArrived(const std::string& Data) override { Sock_LineArrived(Data); }
    void ReadyToSend() override { Sock_ReadyToSend(); }
    void TimedOut() override { Sock_TimedOut(); }

private:
    using Handler = void (SSWorker::*)(std::string_view rest);
    struct Command {
        std::string_view word;
        Handler handler;
    };
    static const Command kCommands[];

    void Sock_Closed();
    void Sock_Error(int32_t ErrorCode, const std::string& ErrorDesc);
    void Sock_TimedOut();
    void Sock_LineArrived(const std::string& Data);
    void Sock_ReadyToSend();

    // Frames, scrambles and sends (or queues) one reply; `text` is wire bytes.
    void SendReply(const std::string& text);
    // Hands the replies of the current request to the socket in one write (see SSWorker.cpp for why).
    void flush_batch();
    void DoRequest(std::string_view rest);
    // Reads the header off the first message; false (and the request dropped) when it is refused.
    bool take_header(std::string_view& rest);
    // The acknowledgement step on `target` (the channel, or the middle tier): true when it failed.
    bool check(Dispatch& target);
    bool CheckError() { return check(*channel_); }
    bool CheckMTierError() { return check(*gateway_->mtier); }
    // A refused request: an error entry with acknowledgement on, a debug-list entry with it off.
    void refuse(const ComError& e);
    void log_failure(const char* what, int32_t code, const std::string& source, const std::string& desc);
    void end_connection();   // counters and self reference; once only
    // Closes the connection when more replies wait than the limit allows; true when it did.
    bool close_if_not_reading();
    // With the read-only switch on: refuses an edit (`what` names it) or a statement that may write.
    void refuse_if_read_only(const char* what);
    void refuse_unless_reading(const char* what, std::string_view statement);

    // Command handlers (SSWorkerRequests.cpp, SSWorkerBulk.cpp); `rest` is the request after its command word.
    void do_direct(std::string_view rest);
    void do_noerror(std::string_view rest);
    void do_rowcount(std::string_view rest);
    void do_open(std::string_view rest);
    void do_setcursor(std::string_view rest);
    void do_getcursor(std::string_view rest);
    void do_close(std::string_view rest);
    void do_move(std::string_view rest);
    void do_test(std::string_view rest);
    void do_add(std::string_view rest);
    void do_update(std::string_view rest);
    void do_delete(std::string_view rest);
    void do_all(std::string_view rest);
    void do_buff(std::string_view rest);
    void do_nkey(std::string_view rest);
    void do_mtier(std::string_view rest);
    void do_plain(const char* member);   // a channel member without arguments or reply data
    std::string AllRows(std::string_view rest);
    std::string BufferRows(std::string_view rest);

    std::shared_ptr<Gateway> gateway_;
    std::shared_ptr<TextSocket> Sock;
    std::shared_ptr<SSWorker> self_;        // keeps the worker alive until the connection ends
    DispatchPtr channel_;                   // this connection's DBChannel
    int16_t number_ = 0;                    // connections accepted when this one started
    wire::Key key_;                         // the scrambling key in use
    std::string statement_;                 // of the last "open" (UTF-8), read by "buff"
    bool acknowledge_ = true;
    bool header_pending_ = true;
    bool can_send_ = true;
    bool ended_ = false;
    std::string batch_;                     // framed replies of the current request, waiting for flush_batch
    std::deque<std::string> send_queue_;    // framed replies waiting for ReadyToSend
    size_t queued_bytes_ = 0;               // their bytes with their terminators
};
