// iConnection.cpp: settings, one-shot statements and middle-tier calls, record sets, in-process mode.
#include "tolvix/iConnection.h"

#include "client/General.h"
#include "client/LocalComponent.h"
#include "client/SS.h"
#include "client/SyncSocket.h"
#include "common/Conversions.h"
#include "platform/object/Dispatch.h"
#include "socketcontrol/Socket.h"
#include "tolvix/frmDebug.h"

namespace tolvix {

iConnection::iConnection() {
    Settings& s = General();
    s.Intranet = false;
    s.ErrorCheck = true;
    s.Separator = std::string(1, '\x02');
    s.SDebug = false;
}

iConnection::~iConnection() = default;

bool iConnection::SDebug() const { return General().SDebug; }
void iConnection::SDebug(bool value) { General().SDebug = value; }
bool iConnection::ErrorCheck() const { return General().ErrorCheck; }
void iConnection::ErrorCheck(bool value) { General().ErrorCheck = value; }
bool iConnection::Intranet() const { return General().Intranet; }
void iConnection::Intranet(bool value) { General().Intranet = value; }
std::string iConnection::IPServer() const { return General().IPServer; }
void iConnection::IPServer(const std::string& value) { General().IPServer = value; }
std::string iConnection::IP() const { return General().IP; }
void iConnection::IP(const std::string& value) { General().IP = value; }
int32_t iConnection::Port() const { return General().Port; }
void iConnection::Port(int32_t value) { General().Port = value; }

void iConnection::Start() {
    Started_ = true;
    if (General().SDebug) frmDebug::instance().Show();
}

void iConnection::raise_GatewayDown() {
    if (gateway_down_) gateway_down_();
}

// In-process the channel's error list is not consulted: a failed statement gives 0.
int32_t iConnection::Direct(const std::string& sel) {
    if (!Started_) return 0;
    const Settings& s = General();
    if (s.LocalMode) {
        const DispatchPtr channel = new_local_channel();
        return vb::to_int32(channel->call("Direct", {Variant(sel)}));
    }
    SyncSocket sync;
    if (!sync.SockInit(SS::CreateSocket())) {
        raise_GatewayDown();
        return 0;
    }
    const int32_t affected = sync.Direct(sel);
    sync.SocketClose();
    return affected;
}

// In-process the channel is asked for a member named "mtier", which the database component does not
// have (438).
std::string iConnection::mtier(const std::string& inpStr) {
    if (!Started_) return {};
    const Settings& s = General();
    if (s.LocalMode) {
        const DispatchPtr channel = new_local_channel();
        return vb::to_text(channel->call("mtier", {Variant(inpStr)}));
    }
    SyncSocket sync;
    if (!sync.SockInit(SS::CreateSocket())) {
        raise_GatewayDown();
        return {};
    }
    std::string answer = sync.mtier("mtier" + s.Separator + inpStr);
    sync.SocketClose();
    return answer;
}

std::shared_ptr<iRecordSet> iConnection::CrOpen(const std::string& sel, iCursorTypeEnum cursortype,
                                                iLockTypeEnum locktype) {
    if (!Started_) return nullptr;
    std::shared_ptr<iRecordSet> rs = iRecordSet::create();
    rs->InitCursor(sel, cursortype, locktype);
    if (!rs->IPOnLine()) raise_GatewayDown();
    return rs;
}

std::string iConnection::GetNext(std::string& iStr, const std::string& sep) {
    if (!Started_) return {};
    std::string separator = sep;
    return tolvix::GetNext(iStr, separator);
}

bool iConnection::LocalInit(const std::string& Provider, const std::string& Connectstring, int16_t CommandTimeOut,
                            int16_t ConnectionTimeout, CursorLocationEnum CursorLocation) {
    Settings& s = General();
    if (!Started_ || !s.Intranet) return false;
    s.LocalMode = true;
    try {
        s.LocalConnection = create_db_connect();
        s.LocalConnection->call("DBInit", {Variant(Provider), Variant(Connectstring), Variant(CommandTimeOut),
                                           Variant(ConnectionTimeout), Variant(int32_t{CursorLocation})});
        return true;
    } catch (const std::exception&) {
        s.LocalMode = false;
        s.LocalConnection.reset();
        return false;
    }
}

}  // namespace tolvix
