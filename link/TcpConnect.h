#pragma once
// A TCP connection to a serial device server, made the way a meter's line needs it: resolution
// and connect together give up after a time limit; TCP_NODELAY, so that characters paced 5 ms
// apart leave one by one; keep-alive probes, so that a server that vanishes without a word is
// seen within about 10 s.

#include "link/PortAddress.h"

#include <string>

// The connected socket (non-blocking, close-on-exec), or -1 with `error` naming the server
// ("HOST:PORT: ..." and the system's or the resolver's reason) and `code` the errno (0 for a
// resolver failure).
int ConnectTcp(const PortAddress& address, int timeoutMs, std::string& error, int& code);

inline constexpr int kTcpConnectTimeoutMs = 3000;
