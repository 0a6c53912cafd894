// General.cpp: the per-thread settings and GetNext.
#include "client/General.h"

#include "common/WireCodec.h"

namespace tolvix {

Settings& General() {
    thread_local Settings settings;
    return settings;
}

std::string GetNext(std::string& iStr, std::string& sep) {
    if (sep.empty()) sep = General().Separator;
    return wire::GetNext(iStr, sep);
}

}  // namespace tolvix
