// SkeldaClasses.cpp: the built-in registration and the exported factory of the component.
#include "dbcomponent/SkeldaClasses.h"

#include <memory>
#include <new>
#include <string_view>

#include "dbcomponent/DBConnect.h"

namespace {

bool same_progid(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? char(a[i] - 'A' + 'a') : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? char(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return true;
}

}  // namespace

void register_skelda_classes() {
    ClassRegistry::instance().register_class(DBConnect::kProgId, [] { return std::make_shared<DBConnect>(); });
}

// Must not throw into its C caller: an allocation failure yields nullptr, which the registry reports as
// "can't create object".
extern "C" Dispatch* skelda_create_object(const char* progid) {
    if (!progid || !same_progid(progid, DBConnect::kProgId)) return nullptr;
    return new (std::nothrow) DBConnect();
}
