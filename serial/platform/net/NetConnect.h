#pragma once
// Reaching a server within a time limit, without freezing the window: resolution and connecting run on a
// thread of their own while the opener waits (and, on the user-interface thread, keeps the windows
// painting).
#include <chrono>
#include <functional>

#include "serial/platform/net/NetPortName.h"
#include "serial/platform/net/NetSocket.h"

// Resolves the host (a name on a resolver thread that may outlive the call, an address at once) and
// connects to the first of its addresses that takes the connection, all by `deadline`. 0 or the error.
uint32_t ConnectByDeadline(const TNetAddress& address, std::chrono::steady_clock::time_point deadline,
                           TNetSocket& socket);

// Runs `work` on a thread of its own and returns when it has ended; `work` must end by itself in bounded
// time. Meanwhile the calling thread waits through the toolkit when one is installed.
void RunBesideTheWindow(const std::function<void()>& work);
