// SSWorker.cpp: the life of one connection: start, the socket's events, sending replies, the
// acknowledgement step, and what happens to a request that is refused or fails.
//
// Replies to one request leave in one write. "ok" and then the data would otherwise be two system calls
// and two TCP segments for the client to wake up for; gathered, they cost one. SendReply appends the
// framed reply to batch_, and Sock_LineArrived hands the batch to the socket before it returns, so no
// reply waits for other connections' work. The worker also switches Nagle's algorithm off on its
// connection: a write that meets unacknowledged data (a pipelined request, the tail of a large reply)
// must not wait for the client's delayed acknowledgement, up to 40 ms on Linux.
//
// "can send" is therefore settled once per request: the replies of one request share a write, and only
// when that write could not go out whole are the replies of later requests logged "Buffering send: "
// and queued for ReadyToSend. The bytes on the wire and their order are those of one SendLine per reply.
#include "gateway/SSWorker.h"

#include "common/Conversions.h"
#include "common/Cp1252.h"
#include "gateway/Protocol.h"

namespace {

// Storage a worker keeps between requests: small replies reuse it, and a thousand idle connections do
// not each hold on to the size of their last bulk reply.
constexpr size_t kKeptBatchCapacity = 64 * 1024;

std::string numbered(const char* text, int16_t number) { return text + vb::signed_text(static_cast<int64_t>(number)); }

}  // namespace

SSWorker::SSWorker(std::shared_ptr<Gateway> gateway) : gateway_(std::move(gateway)), key_(wire::initial_key()) {}

SSWorker::~SSWorker() {
    if (Sock) Sock->unbind_events();
}

void SSWorker::start(std::shared_ptr<TextSocket> socket) {
    if (!gateway_->db_connect) throw ComError(kErrObjectNotSet, "SSWorker", "the gateway has no database connection");
    Sock = std::move(socket);
    Sock->bind_events(weak_from_this());
    Sock->LineTerminator(std::string(1, wire::kTerminator));
    Sock->Timeout(gateway_->worker_timeout);
    Sock->MaxLineLength(gateway_->limits.max_request_line);
    Sock->SocketOption(WSSO_NagleAlg, 1);
    can_send_ = true;
    self_ = shared_from_this();
    acknowledge_ = true;
    channel_ = object_of(gateway_->db_connect->call("Channel"));
    SSCode& log = gateway_->log;
    number_ = static_cast<int16_t>(log.change(Counter::ConnectionsAccepted, 1));
    log.AddDebugLine(0, numbered("Accepted new socket client: ", number_));
    log.change(Counter::ActiveSockets, 1);
    key_ = wire::initial_key();
    header_pending_ = true;
    gateway_->add_worker(self_);
}

void SSWorker::end() {
    if (ended_) return;
    ended_ = true;
    gateway_->worker_ended();
    self_.reset();
}

void SSWorker::end_connection() {
    if (ended_) return;
    ended_ = true;
    gateway_->worker_ended();
    gateway_->log.change(Counter::ActiveSockets, -1);
    self_.reset();   // safe: the socket pins this worker for the length of the event
}

// A client whose replies pile up does not read them: it is closed before its next request runs, and what
// waits for it goes at once (the queue here, the socket's send buffer with the socket). Letting go of the
// socket inside its own LineArrived is allowed: the lines still to come go with it.
bool SSWorker::close_if_not_reading() {
    const size_t waiting = queued_bytes_ + static_cast<size_t>(Sock->SendBufferSize());
    if (waiting <= gateway_->limits.max_queued_reply) return false;
    log_failure("closed: the client does not read its replies!", kErrOutOfMemory, "SSWorker",
                std::to_string(waiting) + " bytes of replies wait, more than the limit of " +
                    std::to_string(gateway_->limits.max_queued_reply) + " (MaxQueuedReply)");
    gateway_->log.change(Counter::Errors, 1);
    std::deque<std::string>().swap(send_queue_);
    queued_bytes_ = 0;
    std::string().swap(batch_);
    Sock->unbind_events();
    Sock.reset();
    end_connection();
    return true;
}

void SSWorker::Sock_Closed() {
    if (ended_) return;
    gateway_->log.AddDebugLine(0, numbered("Closing down socket: ", number_));
    end_connection();
}

void SSWorker::Sock_TimedOut() {
    if (ended_) return;
    gateway_->log.AddDebugLine(0, numbered("Socket timed out. No: ", number_));
    gateway_->log.change(Counter::Timeouts, 1);
    end_connection();
}

// Any error ends the connection; among them the socket's report of a request longer than the limit
// (10040), whose bytes the socket has already dropped.
void SSWorker::Sock_Error(int32_t ErrorCode, const std::string& ErrorDesc) {
    if (ended_) return;
    gateway_->log.LogError(SSCode::now_text() + " Server Worker Socket reported error!", ErrorCode, "", ErrorDesc);
    gateway_->log.change(Counter::Errors, 1);
    end_connection();
}

void SSWorker::Sock_LineArrived(const std::string& Data) {
    if (ended_ || close_if_not_reading()) return;
    try {
        std::string line = cp1252::from_utf8(Data);
        wire::unscramble(line, key_);
        SSCode& log = gateway_->log;
        if (log.DebugSwitch()) {
            log.AddDebugLine(0, numbered("Got something from: ", number_));
            log.AddDebugLine(1, cp1252::to_utf8(line));
        }
        std::string_view rest = line;
        if (header_pending_) {
            header_pending_ = false;
            if (!take_header(rest)) rest = {};
        }
        log.change(Counter::CharactersRead, static_cast<int32_t>(rest.size()));
        log.change(Counter::MessagesIn, 1);
        DoRequest(rest);
    } catch (const ComError& e) {
        log_failure("failed handling a request!", e.number(), e.source(), e.description());
    } catch (const std::exception& e) {
        log_failure("failed handling a request!", 0, "SSWorker", e.what());
    }
    flush_batch();
}

// The header's acknowledgement flag is read first, so that a refused key is answered in the mode the
// client asked for.
bool SSWorker::take_header(std::string_view& rest) {
    std::string_view flag_rest = rest;
    try {
        acknowledge_ = vb::to_int16(Variant(cp1252::to_utf8(wire::next_token(flag_rest)))) == 1;
    } catch (const ComError&) {
        // The whole header is refused below, in the mode the worker starts in.
    }
    try {
        wire::Header header = wire::read_header(rest);
        acknowledge_ = header.acknowledge;
        key_ = std::move(header.key);
        return true;
    } catch (const ComError& e) {
        refuse(ComError(e.number() == kErrOverflow ? kErrOverflow : kErrInvalidCall, "SSWorker",
                        "the first message's header is refused: " + e.description()));
        return false;
    }
}

void SSWorker::SendReply(const std::string& text) {
    const std::string body = wire::scrambled(text, key_);
    std::string message = std::to_string(body.size());
    message += wire::kSeparator;
    message += body;
    SSCode& log = gateway_->log;
    if (can_send_) {
        batch_ += message;
        batch_ += wire::kTerminator;
        log.change(Counter::MessagesOut, 1);
        log.change(Counter::CharactersSent, static_cast<int32_t>(message.size()));
    } else {
        log.AddDebugLine(0, "Buffering send: " + cp1252::to_utf8(text));
        queued_bytes_ += message.size() + 1;
        send_queue_.push_back(std::move(message));
    }
    if (log.DebugSwitch()) {
        log.AddDebugLine(0, numbered("Sending data to:", number_));
        log.AddDebugLine(1, cp1252::to_utf8(text));
    }
}

// SendRaw with the terminators already in the batch is SendLine of each message in turn, in one write.
void SSWorker::flush_batch() {
    if (batch_.empty() || !Sock) return;
    try {
        can_send_ = Sock->SendRaw(cp1252::to_utf8(batch_));
    } catch (const ComError& e) {
        log_failure("could not send!", e.number(), e.source(), e.description());
    }
    batch_.clear();   // keeps its storage for the next request, unless a bulk reply made it large
    if (batch_.capacity() > kKeptBatchCapacity) std::string().swap(batch_);
}

void SSWorker::Sock_ReadyToSend() {
    can_send_ = true;
    if (send_queue_.empty() || ended_) return;
    std::string batch;
    SSCode& log = gateway_->log;
    for (const std::string& message : send_queue_) {
        batch += message;
        batch += wire::kTerminator;
        log.change(Counter::MessagesOut, 1);
        log.change(Counter::CharactersSent, static_cast<int32_t>(message.size()));
    }
    send_queue_.clear();
    queued_bytes_ = 0;
    try {
        can_send_ = Sock->SendRaw(cp1252::to_utf8(batch));
    } catch (const ComError& e) {
        log_failure("could not send!", e.number(), e.source(), e.description());
    }
}

bool SSWorker::check(Dispatch& target) {
    bool failed = false;
    if (acknowledge_) {
        const std::string entry = vb::to_text(target.call("DError"));
        failed = !entry.empty();
        SendReply(failed ? cp1252::from_utf8(entry) : std::string("ok"));
    }
    target.call("ErrClear");
    return failed;
}

void SSWorker::refuse(const ComError& e) {
    if (acknowledge_)
        SendReply(cp1252::from_utf8(protocol::error_entry(e.number(), e.description())));
    else
        log_failure("refused a request!", e.number(), e.source(), e.description());
}

void SSWorker::log_failure(const char* what, int32_t code, const std::string& source, const std::string& desc) {
    gateway_->log.LogError(SSCode::now_text() + " Server Worker " + numbered("No:", number_) + " " + what, code, source,
                           desc);
}
