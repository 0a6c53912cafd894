// Variant.cpp: kind reporting of the tagged value.
#include "common/Variant.h"

VarType Variant::type() const noexcept {
    struct Kind {
        VarType operator()(std::monostate) const { return VarType::Empty; }
        VarType operator()(NullValue) const { return VarType::Null; }
        VarType operator()(int16_t) const { return VarType::Integer; }
        VarType operator()(int32_t) const { return VarType::Long; }
        VarType operator()(int64_t) const { return VarType::LongLong; }
        VarType operator()(double) const { return VarType::Double; }
        VarType operator()(Currency) const { return VarType::Currency; }
        VarType operator()(DateValue) const { return VarType::Date; }
        VarType operator()(const std::string&) const { return VarType::String; }
        VarType operator()(bool) const { return VarType::Boolean; }
        VarType operator()(const ObjectRef&) const { return VarType::Object; }
    };
    return std::visit(Kind{}, value_);
}

bool Variant::is_numeric() const noexcept {
    switch (type()) {
        case VarType::Integer:
        case VarType::Long:
        case VarType::LongLong:
        case VarType::Double:
        case VarType::Currency:
            return true;
        default:
            return false;
    }
}
