// ComError.cpp: texts of the VB run-time errors.
#include "common/ComError.h"

namespace {

struct ErrorText {
    int32_t number;
    const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {kErrInvalidCall, "Invalid procedure call or argument"},
    {kErrOverflow, "Overflow"},
    {kErrOutOfMemory, "Out of memory"},
    {kErrSubscript, "Subscript out of range"},
    {kErrDivisionByZero, "Division by zero"},
    {kErrTypeMismatch, "Type mismatch"},
    {kErrObjectNotSet, "Object variable or With block variable not set"},
    {kErrInvalidNull, "Invalid use of Null"},
    {kErrObjectRequired, "Object required"},
    {kErrCannotCreate, "ActiveX component can't create object"},
    {kErrNoMember, "Object doesn't support this property or method"},
    {kErrAutomation, "Automation error"},
};

}  // namespace

const char* vb_error_text(int32_t number) noexcept {
    for (const ErrorText& e : kErrorTexts)
        if (e.number == number) return e.text;
    return "Application-defined or object-defined error";
}

ComError vb_error(int32_t number, std::string source) {
    return ComError(number, std::move(source), vb_error_text(number));
}
