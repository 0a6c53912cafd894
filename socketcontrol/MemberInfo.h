// MemberInfo.h: what a type library says about a member (dispatch id and help text), kept as data so a
// caller can read it: one small table per class, in the class's member order.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

struct MemberInfo {
    std::string_view name;
    int32_t dispid;
    std::string_view help;  // empty where the type library has none
};

// The entry for `name` (exact spelling) in `table`, or nullptr.
inline const MemberInfo* find_member_info(std::span<const MemberInfo> table, std::string_view name) {
    for (const MemberInfo& m : table)
        if (m.name == name) return &m;
    return nullptr;
}
