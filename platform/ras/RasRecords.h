// RasRecords.h: the byte layouts of the service's records (4-byte packing, little-endian) and helpers
// to read and write their fields, for the stand-in and for callers that fill the records themselves.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace ras::record {

static_assert(std::endian::native == std::endian::little, "the records are little-endian, as on the service's platform");

// A fixed, NUL-terminated character field.
struct Field {
    size_t offset;
    size_t size;   // with the NUL
};

// RASENTRYNAMEA (264 bytes): dwSize, then the name.
constexpr Field kEntryName{4, 257};

// RASDIALPARAMSA (1052 bytes).
constexpr Field kDialEntryName{4, 257};
constexpr Field kDialPhoneNumber{261, 129};
constexpr Field kDialCallbackNumber{390, 129};
constexpr Field kDialUserName{519, 257};
constexpr Field kDialPassword{776, 257};
constexpr Field kDialDomain{1033, 16};

// RASCONNSTATUSA (160 bytes).
constexpr size_t kStatusState = 4;
constexpr size_t kStatusError = 8;
constexpr Field kStatusDeviceType{12, 17};
constexpr Field kStatusDeviceName{29, 129};

// RASPPPIPA (40 bytes).
constexpr size_t kPppIpError = 4;
constexpr Field kPppIpAddress{8, 16};
constexpr Field kPppIpServerAddress{24, 16};

inline uint32_t get_u32(const void* record, size_t offset) {
    uint32_t value;
    std::memcpy(&value, static_cast<const uint8_t*>(record) + offset, sizeof value);
    return value;
}

inline void put_u32(void* record, size_t offset, uint32_t value) {
    std::memcpy(static_cast<uint8_t*>(record) + offset, &value, sizeof value);
}

// The characters of a field up to its first NUL (the whole field when it holds none).
inline std::string get_text(const void* record, Field field) {
    const char* start = static_cast<const char*>(record) + field.offset;
    return std::string(start, strnlen(start, field.size));
}

// Stores `text` followed by a NUL, cut to the field's length; the rest of the field is left as it was.
inline void put_text(void* record, Field field, std::string_view text) {
    const size_t n = std::min(text.size(), field.size - 1);
    char* start = static_cast<char*>(record) + field.offset;
    std::memcpy(start, text.data(), n);
    start[n] = '\0';
}

// Whether the field holds a NUL, that is, a text the service can read.
inline bool terminated(const void* record, Field field) {
    return std::memchr(static_cast<const char*>(record) + field.offset, '\0', field.size) != nullptr;
}

}  // namespace ras::record
