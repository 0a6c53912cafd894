// AdoTypes.h: ADO's enumerations with their numeric values, the error numbers a VB caller of ADO sees in
// Err.Number, and the helper that builds a ComError for one of ADO's own errors with its standard text.
#pragma once

#include <cstdint>
#include <string>

#include "common/ComError.h"

namespace ado {

// Plain (unscoped) enums with a fixed 32-bit base: callers pass numbers that arrive as text on the wire, and
// ADO's names are what the system's code compares them with.
enum CursorTypeEnum : int32_t {
    adOpenUnspecified = -1,  // Recordset.Open argument: use the Recordset's CursorType property
    adOpenForwardOnly = 0,
    adOpenKeyset = 1,
    adOpenDynamic = 2,
    adOpenStatic = 3,
};

enum LockTypeEnum : int32_t {
    adLockUnspecified = -1,  // Recordset.Open argument: use the Recordset's LockType property
    adLockReadOnly = 1,
    adLockPessimistic = 2,
    adLockOptimistic = 3,
    adLockBatchOptimistic = 4,
};

enum CursorLocationEnum : int32_t {
    adUseNone = 1,  // obsolete; treated as adUseServer
    adUseServer = 2,
    adUseClient = 3,
};

enum CommandTypeEnum : int32_t {
    adCmdUnspecified = -1,
    adCmdText = 1,
    adCmdTable = 2,
    adCmdStoredProc = 4,
    adCmdUnknown = 8,
};

enum AffectEnum : int32_t {
    adAffectCurrent = 1,
};

enum ObjectStateEnum : int32_t {
    adStateClosed = 0,
    adStateOpen = 1,
};

enum EditModeEnum : int32_t {
    adEditNone = 0,
    adEditInProgress = 1,
    adEditAdd = 2,
    adEditDelete = 4,
};

// ADO's own errors, reported by their positive number as VB shows them.
enum ErrorValueEnum : int32_t {
    adErrProviderFailed = 3000,
    adErrInvalidArgument = 3001,
    adErrNoCurrentRecord = 3021,
    adErrIllegalOperation = 3219,
    adErrFeatureNotAvailable = 3251,
    adErrItemNotFound = 3265,
    adErrDataConversion = 3421,
    adErrObjectClosed = 3704,
    adErrObjectOpen = 3705,
    adErrProviderNotFound = 3706,
    adErrInvalidConnection = 3709,
};

// Provider (OLE DB) errors, reported by their negative 32-bit value; the description is normally the
// database's own message.
enum ProviderError : int32_t {
    kDbErrorsInCommand = -2147217900,     // 0x80040E14: failing statement (syntax, unknown table or column)
    kDbNoCommand = -2147217908,           // 0x80040E0C: empty command text
    kDbErrorsOccurred = -2147217887,      // 0x80040E21: a value the column cannot hold
    kDbIntegrityViolation = -2147217873,  // 0x80040E2F: constraint violation
    kDbRowChanged = -2147217864,          // 0x80040E38: optimistic conflict, row changed or gone
    kDbCantFetchBackwards = -2147217884,  // 0x80040E24: backward move on a forward-only cursor
    kDbTimeout = -2147217871,             // 0x80040E31: CommandTimeout reached
    kDbFail = -2147467259,                // 0x80004005 (E_FAIL): cannot connect, row locked, other failures
};

// Sources given with errors, as ADO names its objects.
inline constexpr const char* kSourceConnection = "ADODB.Connection";
inline constexpr const char* kSourceRecordset = "ADODB.Recordset";
inline constexpr const char* kSourceField = "ADODB.Field";

// Standard English text of one of ADO's own errors or of a provider error that has a fixed text
// (kDbErrorsOccurred, kDbRowChanged, kDbCantFetchBackwards, kDbTimeout); "" for other numbers.
const char* error_text(int32_t number) noexcept;

// A ComError with `number`, `source` and error_text(number).
ComError ado_error(int32_t number, const char* source);

// The text given with 3251 when an edit is asked of a cursor that cannot edit (ADO's read-only wording).
inline constexpr const char* kReadOnlyText =
    "Current Recordset does not support updating. This may be a limitation of the provider, or of the "
    "selected locktype.";

}  // namespace ado
