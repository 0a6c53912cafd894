// ComError.h: the error triple (number, source, description) that crosses every component boundary,
// and the VB run-time errors the system raises with their usual texts.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class ComError : public std::exception {
public:
    ComError(int32_t number, std::string source, std::string description)
        : number_(number), source_(std::move(source)), description_(std::move(description)) {}

    int32_t number() const noexcept { return number_; }
    const std::string& source() const noexcept { return source_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    int32_t number_;           // VB error number, or a negative 32-bit HRESULT for provider errors
    std::string source_;       // the component or class that raised it
    std::string description_;  // fixed English text, or the database's own message
};

// VB run-time errors as a VB caller sees them in Err.Number.
enum VbError : int32_t {
    kErrInvalidCall = 5,        // "Invalid procedure call or argument"
    kErrOverflow = 6,           // "Overflow"
    kErrOutOfMemory = 7,        // "Out of memory"
    kErrSubscript = 9,          // "Subscript out of range"
    kErrDivisionByZero = 11,    // "Division by zero"
    kErrTypeMismatch = 13,      // "Type mismatch"
    kErrObjectNotSet = 91,      // "Object variable or With block variable not set"
    kErrInvalidNull = 94,       // "Invalid use of Null"
    kErrObjectRequired = 424,   // "Object required"
    kErrCannotCreate = 429,     // "ActiveX component can't create object"
    kErrNoMember = 438,         // "Object doesn't support this property or method"
    kErrAutomation = 440,       // "Automation error"
};

// The run time's own description of a VB error number; "Application-defined or object-defined error"
// for numbers it does not know, as VB says.
const char* vb_error_text(int32_t number) noexcept;

// A ComError for a VB run-time error with its usual text.
ComError vb_error(int32_t number, std::string source = "VBRuntime");
