// SS.h: the client library's one source of sockets, one socket control per thread. The control is
// started by the first use on a thread and kept for the thread's life: record sets keep their sockets
// after the iConnection that opened them has gone, so ending the control with an iConnection would cut
// them off.
#pragma once

#include <memory>

class Socket;
class TextSocket;

namespace tolvix::SS {

// A blocking stream socket: connect, send and receive return only when done (or raise).
std::shared_ptr<Socket> CreateSocket();
// A text socket of the same control; nothing in the library uses it.
std::shared_ptr<TextSocket> CreateTextSocket();

}  // namespace tolvix::SS
