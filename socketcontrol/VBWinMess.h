// VBWinMess.h: one queued window message: what the notification window received from Windows Sockets,
// waiting for the dispatcher (VBQueueForm::ProcessMessages) to hand it to its socket core.
#pragma once

#include <cstdint>

#include "socketcontrol/ObjectCounts.h"

// Message numbers the notification window queues (WM_USER + 1..3) and the wake-up it posts to itself.
constexpr uint32_t kMsgSocketNotify = 0x401;    // WSAAsyncSelect: wParam socket, lParam event | error << 16
constexpr uint32_t kMsgNameLookupDone = 0x402;  // WSAAsyncGetHostByName reply: wParam task handle
constexpr uint32_t kMsgAddrLookupDone = 0x403;  // WSAAsyncGetHostByAddr reply: wParam task handle
constexpr uint32_t kMsgWakeUp = 0x200;          // WM_MOUSEMOVE, wParam 0, lParam 0: "run the dispatcher"

class VBWinMess final {
public:
    VBWinMess() = default;
    VBWinMess(const VBWinMess&) = delete;  // one record per message; the queue shares it by pointer
    VBWinMess& operator=(const VBWinMess&) = delete;

    int32_t hWnd = 0;    // window that received the message
    int32_t Msg = 0;     // 0x401, 0x402 or 0x403
    int32_t lParam = 0;  // low 16 bits: event code or buffer length; high 16 bits: error code
    int32_t wParam = 0;  // socket handle (0x401) or lookup task handle (0x402, 0x403)

    // The two halves of lParam as signed 16-bit numbers (WSAGETSELECTEVENT / WSAGETSELECTERROR).
    int16_t low_word() const noexcept { return static_cast<int16_t>(lParam & 0xFFFF); }
    int16_t high_word() const noexcept { return static_cast<int16_t>((lParam >> 16) & 0xFFFF); }

private:
    LiveCount counted_{&ObjectCounts::WinMessCount};
};
