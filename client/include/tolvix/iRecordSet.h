// iRecordSet.h: a cursor over one statement, handed out by iConnection::CrOpen. It works in-process on a
// channel of the database component or through the gateway over a connection of its own; in gateway mode
// Buffer pulls a whole result into a client-side buffer, after which moves and reads by name are local.
//
// Every failure is raised as ComError (number, source, description): the gateway's or the channel's own
// error, a conversion error of the reply, a socket error, or 91 once the connection is gone (after cClose,
// or when the record set never came online).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Variant.h"
#include "tolvix/Enums.h"

class Dispatch;

namespace tolvix {

class SyncSocket;

class iRecordSet final {
public:
    static constexpr int kMaxNames = 12;                // names of one Buffer or All call
    static constexpr int32_t kBufferOverrun = -5656;    // raised by Buffer when the rows pass 8,998

    ~iRecordSet();
    iRecordSet(const iRecordSet&) = delete;
    iRecordSet& operator=(const iRecordSet&) = delete;

    // ---- the interface, in its order ----
    // End flag of the buffer: set by moves past either end and by a Buffer without rows, cleared by
    // nothing but the application.
    bool pcEOF() const noexcept { return pcEOF_; }
    void pcEOF(bool value) noexcept { pcEOF_ = value; }
    void MoveFirst();
    void MoveLast();
    void MovePrevious();
    void MoveNext();
    void Add();
    void Update();
    void Delete();
    // A field by name (text) or by zero-based position (a number). Through the gateway, a field that is not
    // buffered reads as text (or Null); buffered cells and in-process fields keep their types.
    Variant Fields(const Variant& ident);
    void Fields(const Variant& ident, const Variant& value);
    bool cEOF();
    bool IPOnLine() const noexcept { return Online_; }
    void cClose();
    int32_t RowCount();
    // 1 to 12 field names. The rows are stored with the names that were sent: the first name always,
    // then every non-empty one after it.
    void Buffer(const std::vector<std::string>& names);
    std::string All(const std::vector<std::string>& names);

    // ---- for the library ----
    // Made by CrOpen only.
    static std::shared_ptr<iRecordSet> create();
    void InitCursor(const std::string& sel, int32_t cursortype, int32_t locktype);

private:
    using Row = std::array<Variant, kMaxNames>;

    iRecordSet();
    [[noreturn]] void RaiseChannelError(const std::string& text);
    void check_channel();                                  // raises the channel's error, if it has one
    Variant channel_call(const char* member, std::vector<Variant> args = {});
    SyncSocket& sync();                                    // 91 when there is none
    Variant BufferedField(const Variant& ident);
    void parse_rows(const std::string& reply, size_t columns);
    void store_cell(size_t column, const std::string& token);

    bool pcEOF_ = false;
    std::unique_ptr<SyncSocket> Sync_;                     // gateway mode: the transport and its socket
    std::shared_ptr<Dispatch> Channel_;                    // in-process mode: the cursor's channel
    bool Online_ = false;
    bool Buffered_ = false;
    std::array<std::string, kMaxNames> FieldNames_;        // names of the last Buffer
    std::vector<Row> Rows_;                                // Rows_[r - 1] is row r; Capacity rows
    int32_t Capacity_ = 1000;
    int16_t FieldCount_ = 0;
    int16_t RowTotal_ = 0;
    int16_t CurrentRow_ = 0;
};

}  // namespace tolvix
