// ByteArray.cpp: byte arrays inside tagged values.
#include "socketcontrol/ByteArray.h"

Variant ByteArray::Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> /*args*/) {
    if (kind == InvokeKind::PropertyGet && (name == "Count" || name == "count"))
        return Variant(static_cast<int32_t>(bytes_.size()));
    throw vb_error(kErrNoMember, "Byte()");
}

Variant make_byte_array(std::vector<uint8_t> bytes) { return Variant(std::make_shared<ByteArray>(std::move(bytes))); }

const ByteArray* byte_array_of(const Variant& value) noexcept {
    if (!value.is_object()) return nullptr;
    return dynamic_cast<const ByteArray*>(value.as_object().get());
}
