// iRecordSetBuffer.cpp: Buffer, which reads a whole result through the gateway in one request, and reads
// by name from the buffer it fills.
//
// The reply is a flat list of cells separated by STX, each a type letter and a value; rows are not marked,
// so the reader takes as many cells per row as it sent names. The buffer grows by 1,000 rows at a time and
// refuses to grow to 10,000 rows (error -5656), as applications written for this library expect.
#include <cmath>

#include "client/SyncSocket.h"
#include "common/ComError.h"
#include "common/Conversions.h"
#include "common/WireCodec.h"
#include "tolvix/iRecordSet.h"

namespace tolvix {

namespace {
constexpr const char* kSource = "Tolvix.iRecordSet";
constexpr int32_t kCapacityStep = 1000;
constexpr int32_t kCapacityLimit = 10000;
}  // namespace

// A name left empty before the last one is not sent, so the rows are read with the names that were sent
// (the first, then every non-empty one); those are also the names the buffer answers to.
void iRecordSet::Buffer(const std::vector<std::string>& names) {
    if (names.empty() || names.size() > kMaxNames)
        throw ComError(kErrInvalidCall, kSource, "Buffer takes 1 to 12 field names");
    if (Channel_) return;   // in-process every read goes to the channel
    const std::string reply = sync().Buffer(names);
    FieldCount_ = 0;
    for (size_t k = 0; k < names.size(); ++k)
        if (k == 0 || !names[k].empty()) FieldNames_[static_cast<size_t>(FieldCount_++)] = names[k];
    parse_rows(reply, static_cast<size_t>(FieldCount_));
    Buffered_ = true;
    CurrentRow_ = 1;
    if (RowTotal_ == 0) pcEOF_ = true;
}

// Stores rows until the reply is used up. Cells a later Buffer does not write keep their old values.
void iRecordSet::parse_rows(const std::string& reply, size_t columns) {
    if (Rows_.size() < static_cast<size_t>(Capacity_)) Rows_.resize(static_cast<size_t>(Capacity_));
    const std::string_view separator(&wire::kSeparator, 1);
    std::string_view rest = reply;
    RowTotal_ = 0;
    while (!rest.empty()) {
        ++RowTotal_;
        for (size_t column = 0; column < columns; ++column) {
            const std::string_view token = wire::next_token(rest, separator);
            if (token.empty())
                throw ComError(kErrInvalidCall, kSource,
                               "Invalid procedure call or argument: an empty cell in row " + std::to_string(RowTotal_));
            store_cell(column, std::string(token));
        }
        if (RowTotal_ == Capacity_ - 1) {
            Capacity_ += kCapacityStep;
            if (Capacity_ == kCapacityLimit)
                throw ComError(kBufferOverrun, "NerloModule", "Buffer overrun (>10000 records");
            Rows_.resize(static_cast<size_t>(Capacity_));
        }
    }
}

// A type letter and the value; a letter alone is empty text whatever the letter.
void iRecordSet::store_cell(size_t column, const std::string& token) {
    Variant& cell = Rows_[static_cast<size_t>(RowTotal_ - 1)][column];
    if (token.size() == 1) {
        cell = Variant(std::string());
        return;
    }
    const Variant value(token.substr(1));
    switch (token[0]) {
    case 'n': cell = Variant(vb::to_double(value)); break;
    case 's': cell = value; break;
    case 'd': cell = Variant::date(std::trunc(vb::to_date(value))); break;   // the time of day dropped
    case 'i': cell = Variant(vb::to_int32(value)); break;
    case 'z': cell = Variant::null(); break;
    default: break;   // an unknown letter leaves the cell as it was
    }
}

// By name: the cell of the current row in the first column of that name (case counts), Empty when no
// column has it. By position: the gateway's current record, not the buffer's.
Variant iRecordSet::BufferedField(const Variant& ident) {
    if (!ident.is_text()) return sync().Cursor(ident);
    for (size_t column = 0; column < static_cast<size_t>(FieldCount_); ++column) {
        if (FieldNames_[column] != ident.as_text()) continue;
        if (CurrentRow_ < 1 || CurrentRow_ > Capacity_ || static_cast<size_t>(CurrentRow_) > Rows_.size())
            throw vb_error(kErrSubscript, kSource);
        return Rows_[static_cast<size_t>(CurrentRow_ - 1)][column];
    }
    return Variant();
}

}  // namespace tolvix
