// DBChannel.h: one cursor over the process's shared connection, with an error list. See DBChannel.cpp for
// the error contract: no member ever throws; a failure becomes an entry that DError shows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/Variant.h"
#include "dbcomponent/ErrorList.h"
#include "platform/ado/Recordset.h"
#include "platform/object/Dispatch.h"

class DBChannel final : public Dispatch {
public:
    // Channels are handed out by DBConnect::Channel; creating one sets the field separator again.
    DBChannel();
    ~DBChannel() override;

    // The system's members, in dispatch order. None of them throws.
    const std::string& DError() const noexcept;        // oldest error entry, or ""; valid until the next call
    void ErrClear();                                   // empties the error list
    Variant Fields(const Variant& Desc);               // value of field Desc (name or zero-based ordinal)
    void Fields(const Variant& Desc, const Variant& value);
    void Add();                                        // AddNew
    void Update();
    void Delete();                                     // the current record only
    void OpenCursor(const std::string& sel, int32_t cursortype, int32_t locktype);
    int16_t Direct(const std::string& sel);            // records affected, 0 on failure
    void CloseCursor();
    bool TestCursor();                                 // EOF or BOF; false on failure
    Variant Move(const std::string& retn);             // "next", "last", "top"/"first", "prev"; always Empty
    int16_t RowCount();                                // RecordCount, -1 when unknown, 0 on failure
    // p1 … p12 as names[0] … names[11]: p1 is always read, later empty names are skipped. More than 12
    // names is refused with an error entry (450), as a call with too many arguments would be. A text that
    // would grow beyond all_limit() stops with the entry 7 "Out of memory" and the values read so far.
    std::string All(const std::vector<std::string>& names);

    // Late binding: the members above by name (case-insensitive); "" and "Fields" are the default member.
    // Unknown names raise 438; every other failure, including an argument that cannot be converted, is
    // recorded in the error list like a failure of the member itself.
    Variant Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> args) override;
    std::string type_name() const override { return "DBChannel"; }

    static constexpr size_t kMaxAllNames = 12;

    // Bound of the text one All call builds, in bytes, for every channel of the process: the gateway sends
    // the text as one reply and a result may be endless. The host may change it (from its settings).
    static constexpr size_t kDefaultAllLimit = size_t{64} << 20;   // 64 MiB
    static void set_all_limit(size_t bytes) noexcept;
    static size_t all_limit() noexcept;

private:
    static const DispatchTable<DBChannel>& dispatch_table();
    void DoMove(ado::Recordset& rs, const std::string& keyword);
    // The channel's record set, created closed on first use and never replaced. Inline: every member
    // goes through it, several times per record of a scan.
    ado::Recordset& recordset() { return recordset_ ? *recordset_ : create_recordset(); }
    ado::Recordset& create_recordset();
    ado::Field field(const Variant& desc);   // Fields.Item, with names resolved once per open cursor
    void append_all_rows(ado::Recordset& rs, const std::vector<std::string>& names, std::string& out);
    void append_cell(std::string& out, const Variant& value);

    std::unique_ptr<ado::Recordset> recordset_;   // the channel's one cursor
    // Fields of the open cursor already looked up by name (exact text of the name): a scan reads the same
    // few names on every record, and resolving a name costs more than reading the value. Emptied whenever
    // the cursor is opened or closed, or found closed.
    std::vector<std::pair<std::string, ado::Field>> fields_by_name_;
    static constexpr size_t kMaxCachedNames = 32;
    ErrorList errors_;                            // oldest first; only ErrClear empties it
};
