// LocalComponent.cpp: "Skelda.DBConnect" by ProgID, with libskelda.so beside this library as the fallback.
#include "client/LocalComponent.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

#include "client/General.h"
#include "common/ComError.h"
#include "platform/object/ClassRegistry.h"

namespace tolvix {

namespace {

constexpr const char* kProgId = "Skelda.DBConnect";
constexpr const char* kLibrary = "libskelda.so";
constexpr const char* kFactory = "skelda_create_object";

// The folder of the module that holds this code (libtolvix.so, or a program that links the library
// statically), with its trailing slash; "" when it cannot be told, so dlopen searches as usual.
std::string own_folder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&own_folder), &info) == 0 || !info.dli_fname) return {};
    const std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::shared_ptr<Dispatch> create_from_own_folder() {
    const std::string path = own_folder() + kLibrary;
    // RTLD_NODELETE: the component's objects may outlive every handle, so it is never unmapped.
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!library)
        throw ComError(kErrCannotCreate, "ClassRegistry",
                       std::string(vb_error_text(kErrCannotCreate)) + " (" + kProgId + "): " + dlerror());
    auto factory = reinterpret_cast<ClassFactoryFunction>(dlsym(library, kFactory));
    std::shared_ptr<Dispatch> object(factory ? factory(kProgId) : nullptr);
    dlclose(library);
    if (!object)
        throw ComError(kErrCannotCreate, "ClassRegistry",
                       std::string(vb_error_text(kErrCannotCreate)) + " (" + kProgId + "): " + path +
                           " has no " + kFactory + " making that class");
    return object;
}

}  // namespace

std::shared_ptr<Dispatch> create_db_connect() {
    static std::once_flag offered;
    std::call_once(offered, [] { ClassRegistry::instance().register_default_class(kProgId, create_from_own_folder); });
    return ClassRegistry::instance().create(kProgId);
}

std::shared_ptr<Dispatch> new_local_channel() {
    return object_of(object_of(Variant(General().LocalConnection))->call("Channel"));
}

}  // namespace tolvix
