#include "link/PortError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char* OperationText(PortOperation operation) {
    switch (operation) {
    case PortOperation::Open:
        return "Open(): CreateFile() failed, invalid handle value\r\n";
    case PortOperation::GetState:
        return "Open(): GetCommState() failed\r\n";
    case PortOperation::SetState:
        return "Open(): SetCommState() failed\r\n";
    case PortOperation::Write:
        return "WriteData(): WriteFile() failed";
    case PortOperation::WriteWait:
        return "WriteData(): GetOverlappedResult() failed";
    case PortOperation::Read:
        return "ReadData(): SetCommMask() failed";
    case PortOperation::Wait:
        return "ReadData(): WaitForSingleObject() failed";
    case PortOperation::None:
        break;
    }
    return "";
}

} // namespace

PortError PortError::From(PortOperation operation, int code) {
    PortError error;
    error.operation = operation;
    error.code = code;
    if (operation == PortOperation::GetState || operation == PortOperation::SetState)
        error.kind = PortFault::Settings;
    else if (code == EACCES || code == EPERM)
        error.kind = PortFault::Refused;
    else if (code == EBUSY)
        error.kind = PortFault::Busy;
    else if (code == ENOENT)
        error.kind = PortFault::Missing;
    else if (code == EBADF)
        error.kind = PortFault::Closed;
    else if (code == ETIMEDOUT)
        error.kind = PortFault::TimedOut;
    else if (code == EIO && operation == PortOperation::Read)
        error.kind = PortFault::HungUp;
    else
        error.kind = PortFault::Io;
    return error;
}

std::string SystemErrorText(int code) {
    char message[256];
    const char* text = message;
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    text = ::strerror_r(code, message, sizeof message); // GNU form returns the text
#else
    if (::strerror_r(code, message, sizeof message) != 0)
        std::snprintf(message, sizeof message, "Unknown error %d", code);
#endif
    return text;
}

std::string PortError::Text() const {
    if (kind == PortFault::None)
        return std::string();
    if (!detail.empty())
        return detail + "\n";
    char line[512];
    std::snprintf(line, sizeof line, "%s: (%d) %s\n", OperationText(operation), code,
                  SystemErrorText(code).c_str());
    return line;
}
