// A class library loaded with dlopen by the class registry tests.
#include "platform/object/Dispatch.h"

#include <cstring>

namespace {

class Greeter final : public Dispatch {
public:
    Variant Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> args) override {
        static const DispatchTable<Greeter> table("Greeter", {
            {"Hello", [](Greeter&, InvokeKind, std::vector<Variant>& a) {
                 return Variant("hello " + (a.empty() ? std::string() : a[0].as_text()));
             }},
        });
        return table.invoke(*this, name, kind, args);
    }
    std::string type_name() const override { return "Greeter"; }
};

}  // namespace

// Compares exactly, as a library may: the registry passes the ProgID as its file spells it.
extern "C" Dispatch* test_plugin_create(const char* progid) {
    if (std::strcmp(progid, "Test.Greeter") == 0) return new Greeter;
    return nullptr;
}
