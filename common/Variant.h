// Variant.h: the tagged value that fields, arguments and results carry: empty, null, 16/32/64-bit whole
// numbers, double, currency, date, text, boolean and object reference.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

class Dispatch;  // a late-bound object; defined in platform/object, held here only by pointer

// Kinds numbered as VB's VarType() reports them, so a caller can print or compare them.
enum class VarType : uint16_t {
    Empty = 0,
    Null = 1,
    Integer = 2,   // 16-bit whole number
    Long = 3,      // 32-bit whole number
    Double = 5,
    Currency = 6,  // 64-bit whole number scaled by 10,000
    Date = 7,      // double: days since 30 December 1899, fraction = time of day
    String = 8,    // UTF-8 text
    Object = 9,
    Boolean = 11,
    LongLong = 20,  // 64-bit whole number: database values too large for 32 bits
};

struct NullValue {
    bool operator==(const NullValue&) const = default;
};
struct Currency {
    int64_t scaled = 0;  // value × 10,000
    static constexpr int64_t kScale = 10000;
    bool operator==(const Currency&) const = default;
};
struct DateValue {
    double serial = 0;  // days since 30 December 1899
    bool operator==(const DateValue&) const = default;
};

class Variant {
public:
    using ObjectRef = std::shared_ptr<Dispatch>;

    Variant() = default;  // Empty
    Variant(NullValue) : value_(NullValue{}) {}
    Variant(int16_t v) : value_(v) {}
    Variant(int32_t v) : value_(v) {}
    Variant(int64_t v) : value_(v) {}
    Variant(double v) : value_(v) {}
    Variant(Currency v) : value_(v) {}
    Variant(DateValue v) : value_(v) {}
    Variant(std::string v) : value_(std::move(v)) {}
    Variant(std::string_view v) : value_(std::string(v)) {}
    Variant(const char* v) : value_(std::string(v)) {}
    Variant(bool v) : value_(v) {}
    Variant(ObjectRef v) : value_(std::move(v)) {}
    template <class T>
    Variant(std::shared_ptr<T> v) : value_(ObjectRef(std::move(v))) {}

    static Variant null() { return Variant(NullValue{}); }
    static Variant date(double serial) { return Variant(DateValue{serial}); }
    static Variant currency_scaled(int64_t scaled) { return Variant(Currency{scaled}); }

    VarType type() const noexcept;
    bool is_empty() const noexcept { return std::holds_alternative<std::monostate>(value_); }
    bool is_null() const noexcept { return std::holds_alternative<NullValue>(value_); }
    bool is_text() const noexcept { return std::holds_alternative<std::string>(value_); }
    bool is_object() const noexcept { return std::holds_alternative<ObjectRef>(value_); }
    bool is_numeric() const noexcept;  // whole numbers, double, currency (not dates, booleans, text)

    // Direct access for callers that checked type(); each throws std::bad_variant_access otherwise.
    int16_t as_int16() const { return std::get<int16_t>(value_); }
    int32_t as_int32() const { return std::get<int32_t>(value_); }
    int64_t as_int64() const { return std::get<int64_t>(value_); }
    double as_double() const { return std::get<double>(value_); }
    Currency as_currency() const { return std::get<Currency>(value_); }
    double as_date() const { return std::get<DateValue>(value_).serial; }
    const std::string& as_text() const { return std::get<std::string>(value_); }
    bool as_bool() const { return std::get<bool>(value_); }
    const ObjectRef& as_object() const { return std::get<ObjectRef>(value_); }

    // Same kind and same value (no conversion): what tests and caches compare.
    bool operator==(const Variant& other) const = default;

private:
    std::variant<std::monostate, NullValue, int16_t, int32_t, int64_t, double, Currency, DateValue, std::string,
                 bool, ObjectRef>
        value_;
};
