// SSWorkerBulk.cpp: "all" and "buff", the two requests that return a whole result in one reply. Both send
// their data reply in every case, after the acknowledgement (or the refusal), so that a client reads the
// same number of replies whatever happened.
#include "common/Conversions.h"
#include "common/Cp1252.h"
#include "gateway/Protocol.h"
#include "gateway/SSWorker.h"

namespace {

bool has_error(Dispatch& channel) { return !vb::to_text(channel.call("DError")).empty(); }

}  // namespace

void SSWorker::do_all(std::string_view rest) {
    std::string rows;
    try {
        rows = AllRows(rest);
    } catch (const protocol::RequestRefused& e) {
        refuse(e);
    }
    SendReply(rows);
}

void SSWorker::do_buff(std::string_view rest) {
    std::string rows;
    try {
        rows = BufferRows(rest);
    } catch (const protocol::RequestRefused& e) {
        refuse(e);
    }
    SendReply(rows);
}

// All with exactly the names given (none: no call, and the text is empty), then the acknowledgement step.
std::string SSWorker::AllRows(std::string_view rest) {
    const std::vector<std::string> names = protocol::field_names(rest);
    std::string rows;
    if (!names.empty()) {
        std::vector<Variant> args(names.begin(), names.end());
        rows = cp1252::from_utf8(vb::to_text(channel_->call("All", std::move(args))));
    }
    CheckError();
    return rows;
}

// Reads the statement of the last "open" on a fresh forward-only, read-only channel: per record and name
// a cell of type letter, value and STX, the last STX dropped. A failure of the bulk read gives the empty
// text (its channel's errors are not reported); a text beyond the 1,000,000-character buffer is refused.
std::string SSWorker::BufferRows(std::string_view rest) {
    const std::vector<std::string> names = protocol::field_names(rest);
    const std::vector<Variant> descs(names.begin(), names.end());
    const DispatchPtr bulk = object_of(gateway_->db_connect->call("Channel"));
    bulk->call("OpenCursor", {Variant(statement_), Variant(int32_t{0}), Variant(int32_t{1})});
    std::string rows;
    bool failed = false;
    while (!failed && !vb::to_bool(bulk->call("TestCursor"))) {
        for (const Variant& desc : descs) {
            const Variant value = bulk->get("Fields", {desc});
            if ((failed = has_error(*bulk))) break;
            const size_t start = rows.size();
            rows += protocol::cell_letter(value);
            rows += cp1252::from_utf8(protocol::value_text(value));
            rows += wire::kSeparator;
            if (rows.size() > protocol::kBulkBufferSize) {
                rows.resize(start);
                throw protocol::RequestRefused(kErrOverflow, "buff: the rows exceed the 1,000,000-character buffer");
            }
        }
        if (!failed) {
            bulk->call("Move", {Variant("next")});
            failed = has_error(*bulk);
        }
    }
    if (failed)
        rows.clear();
    else
        bulk->call("CloseCursor");
    if (!rows.empty()) rows.pop_back();
    CheckError();
    return rows;
}
