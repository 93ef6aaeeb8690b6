#pragma once
// What a port's name designates: a serial device ("/dev/ttyUSB0", "ttyS0", a pseudo-terminal),
// or a meter behind a serial device server on the network, named by a URL in the same field:
// "rfc2217://HOST:PORT" (telnet with the COM-PORT-OPTION, which also sets the line) or
// "socket://HOST:PORT" (raw TCP: the server's own line settings hold). A host is a name, an
// IPv4 address or a bracketed IPv6 address ("[::1]").

#include <cstdint>
#include <string>
#include <vector>

enum class PortKind { Device, Rfc2217, Socket };

struct PortAddress {
    PortKind kind = PortKind::Device;
    std::string host;  // network only; an IPv6 address without its brackets
    uint16_t port = 0; // network only: 1 to 65535

    bool IsNetwork() const { return kind != PortKind::Device; }
    // "HOST:PORT" as messages name a network port ("[::1]:4000" for IPv6).
    std::string Endpoint() const;

    // Reads a port's name. A name with "://" must be a well-formed URL of a known scheme (in
    // any case): otherwise false, and `error` says what is wrong, naming the URL. Any other name
    // is a device.
    static bool Parse(const std::string& name, PortAddress& address, std::string& error);
};

// Whether a port's name is a URL (has "://"), well formed or not.
bool IsPortUrl(const std::string& name);

// A list of port names separated by ':' (KELVARIN_PORTS): a URL keeps its own colons, so
// "/dev/pts/3:rfc2217://lab-7:4001:/dev/pts/4" holds three names. Empty names are dropped.
std::vector<std::string> SplitPortList(const std::string& list);
