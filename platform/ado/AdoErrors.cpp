// AdoErrors.cpp: the standard English texts of ADO's errors and of the provider errors with a fixed text.
#include "platform/ado/AdoTypes.h"

namespace ado {
namespace {

struct ErrorText {
    int32_t number;
    const char* text;
};

constexpr ErrorText kTexts[] = {
    {adErrProviderFailed, "Provider failed to perform the requested operation."},
    {adErrInvalidArgument,
     "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another."},
    {adErrNoCurrentRecord,
     "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a "
     "current record."},
    {adErrIllegalOperation, "Operation is not allowed in this context."},
    {adErrFeatureNotAvailable, "Object or provider is not capable of performing requested operation."},
    {adErrItemNotFound, "Item cannot be found in the collection corresponding to the requested name or ordinal."},
    {adErrDataConversion, "Application uses a value of the wrong type for the current operation."},
    {adErrObjectClosed, "Operation is not allowed when the object is closed."},
    {adErrObjectOpen, "Operation is not allowed when the object is open."},
    {adErrProviderNotFound, "Provider cannot be found. It may not be properly installed."},
    {adErrInvalidConnection,
     "The connection cannot be used to perform this operation. It is either closed or invalid in this context."},
    {kDbNoCommand, "Command text was not set for the command object."},
    {kDbErrorsOccurred, "Multiple-step operation generated errors. Check each status value."},
    {kDbRowChanged,
     "Row cannot be located for updating. Some values may have been changed since it was last read."},
    {kDbCantFetchBackwards, "Rowset does not support fetching backward."},
    {kDbTimeout, "Query timeout expired"},
};

}  // namespace

const char* error_text(int32_t number) noexcept {
    for (const ErrorText& e : kTexts)
        if (e.number == number) return e.text;
    return "";
}

ComError ado_error(int32_t number, const char* source) { return ComError(number, source, error_text(number)); }

}  // namespace ado
