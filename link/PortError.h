#pragma once
// Why a serial port operation failed: what kind of failure it is (for callers that act on it),
// the system's error number, and which operation it was, turned into the port layer's text only
// where it is shown to a user.

#include <string>

enum class PortFault {
    None,
    Refused,  // the system refused access (permissions)
    Busy,     // another program holds the port
    Missing,  // no such device (unplugged, a wrong name)
    HungUp,   // the device went away while open
    TimedOut, // the driver took no byte within the write's time limit
    Closed,   // the port was not open
    Settings, // the line could not be read or set (rate, 8N1)
    Io,       // any other failure of the system
    Address,  // a port's URL that is not well formed (nothing was connected)
    Network,  // a network port that could not be reached (resolution, connect, the server)
};

// The operation that failed; each has the text of the port layer's messages.
enum class PortOperation { None, Open, GetState, SetState, Write, WriteWait, Read, Wait };

struct PortError {
    PortFault kind = PortFault::None;
    int code = 0; // errno
    PortOperation operation = PortOperation::None;
    // A network port's own text ("HOST:PORT: Connection refused"), shown instead of the
    // operation's; empty for a device.
    std::string detail;

    // The kind an operation's errno means.
    static PortError From(PortOperation operation, int code);
    explicit operator bool() const { return kind != PortFault::None; }
    // The operation's text, then ": (errno) strerror" and a line feed (a network port's detail
    // and a line feed); empty when none.
    std::string Text() const;
};

// The system's text of an errno ("Connection refused").
std::string SystemErrorText(int code);
