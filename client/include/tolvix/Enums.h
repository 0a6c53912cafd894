// Enums.h: the enumerations of the client library's interface, with ADO's values.
#pragma once

#include <cstdint>

namespace tolvix {

enum iCursorTypeEnum : int32_t { adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2, adOpenStatic = 3 };
enum iLockTypeEnum : int32_t {
    adLockReadOnly = 1,
    adLockPessimistic = 2,
    adLockOptimistic = 3,
    adLockBatchOptimistic = 4
};
enum CursorLocationEnum : int32_t { adUseServer = 2, adUseClient = 3 };

}  // namespace tolvix
