// RasErrors.cpp: the texts of the service's error numbers (600 to 799) and RasGetErrorStringA. Numbers
// the table lacks inside that range get a generic text; numbers outside it are not RAS errors (87).
#include <cstring>
#include <string>

#include "platform/ras/Ras.h"

namespace ras {

namespace {

constexpr uint32_t kRasBase = 600;
constexpr uint32_t kRasBaseEnd = 799;

struct ErrorText {
    uint32_t number;
    const char* text;
};

constexpr ErrorText kTexts[] = {
    {600, "An operation is pending."},
    {601, "The port handle supplied is not valid."},
    {602, "The specified port is already open."},
    {603, "The buffer supplied is too small."},
    {608, "The specified device does not exist."},
    {610, "The buffer supplied is not valid."},
    {617, "The specified port or device is already disconnecting."},
    {619, "The specified port is disconnected."},
    {621, "Cannot open the specified phone book file."},
    {622, "Cannot load the specified phone book file."},
    {623, "Cannot find the specified phone book entry."},
    {624, "Cannot write to the specified phone book file."},
    {625, "Information found in the specified phone book is not valid."},
    {628, "The specified port was disconnected."},
    {629, "The specified port was disconnected by the remote computer."},
    {630, "The specified port was disconnected due to hardware failure."},
    {631, "The specified port was disconnected by the user."},
    {632, "Incorrect structure size."},
    {633, "The specified port is already in use or is not configured for remote access dial-out."},
    {635, "An unknown error has occurred."},
    {638, "The request has timed out."},
    {645, "An internal authentication error has occurred."},
    {646, "The specified account is not permitted to log in at this time of day."},
    {647, "The specified account is disabled."},
    {648, "The specified password has expired."},
    {649, "The specified account does not have remote access permissions."},
    {651, "Your modem or other connection device has reported an error."},
    {666, "Your modem or other connection device is not functioning."},
    {668, "The connection was dropped."},
    {676, "The line is busy."},
    {677, "A person answered instead of a modem."},
    {678, "There is no answer."},
    {679, "Cannot detect a carrier signal."},
    {680, "There is no dial tone."},
    {691, "Access denied because the user name, password, or both is not valid on the domain."},
    {692, "A hardware failure has occurred in the port or attached device"},
    {708, "The specified account has expired."},
    {718, "A PPP timeout occurred."},
    {720, "No PPP control protocols are configured."},
    {721, "The remote PPP peer is not responding."},
    {730, "Computer registration is not complete."},
    {731, "The specified protocol is not configured."},
    {732, "The PPP negotiation is not converging."},
    {733, "The PPP control protocol for the specified network protocol is not available on the server."},
    {734, "The PPP link control protocol was terminated."},
    {735, "The requested address was rejected by the server."},
    {736, "The remote computer terminated the control protocol."},
    {738, "The server did not assign an address."},
    {756, "This connection is already being dialed."},
    {769, "The specified destination is not reachable."},
    {770, "The remote computer rejected the connection attempt."},
    {797, "A connection to the remote computer could not be established because the modem was not found or was busy."},
};

}  // namespace

uint32_t RasGetErrorStringA(uint32_t uErrorValue, char* lpszErrorString, uint32_t cchBuf) {
    if (lpszErrorString == nullptr || uErrorValue < kRasBase || uErrorValue > kRasBaseEnd)
        return kErrorInvalidParameter;
    std::string text = "Remote access error " + std::to_string(uErrorValue) + ".";
    for (const ErrorText& e : kTexts)
        if (e.number == uErrorValue) text = e.text;
    if (cchBuf < text.size() + 1) return kErrorInsufficientBuffer;
    std::memcpy(lpszErrorString, text.c_str(), text.size() + 1);
    return kRasOk;
}

}  // namespace ras
