// ByteArray.h: a byte array carried in a tagged value. The common Variant has no byte-array kind, so the
// socket control wraps one in an object reference; SendStream/SendDatagram accept it and
// ReceiveStream/ReceiveDatagram return it when asked for bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Variant.h"
#include "platform/object/Dispatch.h"

class ByteArray final : public Dispatch {
public:
    explicit ByteArray(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    const std::vector<uint8_t>& bytes() const noexcept { return bytes_; }
    std::vector<uint8_t>& bytes() noexcept { return bytes_; }

    // Members by name: "Count" (get) gives the number of elements; anything else raises 438.
    Variant Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> args) override;
    std::string type_name() const override { return "Byte()"; }

private:
    std::vector<uint8_t> bytes_;
};

// A tagged value holding a new byte array with these bytes.
Variant make_byte_array(std::vector<uint8_t> bytes);

// The byte array inside `value`, or nullptr when the value holds something else.
const ByteArray* byte_array_of(const Variant& value) noexcept;
