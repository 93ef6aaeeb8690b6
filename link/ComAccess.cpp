#include "link/ComAccess.h"

#include "link/PortAddress.h"
#include "link/Rfc2217Codec.h"
#include "link/TcpConnect.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The termios speed constant of a rate, 0 when the driver interface has none.
speed_t SpeedConstant(uint32_t baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
#ifdef B460800
    case 460800:
        return B460800;
#endif
#ifdef B921600
    case 921600:
        return B921600;
#endif
    default:
        return 0;
    }
}

// A raw line: no echo, no line editing, no CR/NL translation, no signal characters, 8N1.
// Flow control (CRTSCTS, IXON, IXOFF) is left as the driver reported it.
void MakeRaw(termios& tio) {
    tio.c_iflag &=
        ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

// Open failures injected by tests, by device path.
std::mutex g_injectedLock;
std::map<std::string, int> g_injected; // under g_injectedLock

int InjectedOpenFailure(const std::string& devicePath) {
    std::lock_guard<std::mutex> guard(g_injectedLock);
    const auto found = g_injected.find(devicePath);
    return found == g_injected.end() ? 0 : found->second;
}

// Longest a single write may wait for the driver to take its bytes (a port held back by flow
// control must not block the caller for ever).
constexpr int kWriteTimeoutMs = 1000;

} // namespace

ComAccess::~ComAccess() {
    Close();
}

std::string ComAccess::DevicePath(const std::string& portName) {
#ifdef _WIN32
    return "\\\\.\\" + portName;
#else
    if (!portName.empty() && (portName[0] == '/' || IsPortUrl(portName)))
        return portName;
    return "/dev/" + portName;
#endif
}

void ComAccess::InjectOpenFailure(const std::string& devicePath, int errorCode) {
    std::lock_guard<std::mutex> guard(g_injectedLock);
    if (errorCode == 0)
        g_injected.erase(devicePath);
    else
        g_injected[devicePath] = errorCode;
}

bool ComAccess::Open(const std::string& devicePath, uint32_t baudRate) {
    std::lock_guard<std::mutex> guard(m_lock);
    CloseLocked();
    if (const int injected = InjectedOpenFailure(devicePath)) {
        SetError(PortOperation::Open, injected);
        return false;
    }
    if (IsPortUrl(devicePath))
        return OpenNetworkLocked(devicePath, baudRate);
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetError(PortOperation::Open, errno);
        return false;
    }
    // Exclusive like a Windows port: TIOCEXCL stops other openers (not root), the advisory lock
    // stops every cooperating opener, root included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = (errno == EWOULDBLOCK) ? EBUSY : errno;
        ::close(fd);
        SetError(PortOperation::Open, code);
        return false;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        const int code = errno;
        ::close(fd);
        SetError(PortOperation::GetState, code);
        return false;
    }
    ::ioctl(fd, TIOCEXCL);
    MakeRaw(tio);
    const speed_t speed = SpeedConstant(baudRate);
    if (speed == 0 || ::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 ||
        ::tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int code = speed == 0 ? EINVAL : errno;
        ::close(fd);
        SetError(PortOperation::SetState, code);
        return false;
    }
    // A port starts with an empty input queue, as a Windows port does when it is opened; a
    // pseudo-terminal would otherwise keep what arrived while nobody had it open.
    ::tcflush(fd, TCIFLUSH);
    m_hCom.store(fd);
    return true;
}

bool ComAccess::OpenNetworkLocked(const std::string& url, uint32_t baudRate) {
    PortAddress address;
    std::string error;
    if (!PortAddress::Parse(url, address, error)) {
        SetDetailedError(PortFault::Address, EINVAL, error);
        return false;
    }
    int code = 0;
    const int fd = ConnectTcp(address, kTcpConnectTimeoutMs, error, code);
    if (fd < 0) {
        SetDetailedError(PortFault::Network, code, error);
        return false;
    }
    m_bSocket = true;
    m_hCom.store(fd);
    if (address.kind == PortKind::Rfc2217 && !NegotiateLocked(address, baudRate)) {
        CloseLocked();
        return false;
    }
    return true;
}

bool ComAccess::NegotiateLocked(const PortAddress& address, uint32_t baudRate) {
    const int fd = m_hCom.load();
    m_telnet = std::make_unique<CRfc2217Codec>(baudRate);
    m_telnet->Start();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kTcpConnectTimeoutMs);
    char buffer[512];
    while (m_telnet->GetState() == CRfc2217Codec::State::Negotiating) {
        if (SendAllLocked(fd, m_telnet->TakeOutput()) < 0)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd pfd{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&pfd, 1, static_cast<int>(left)) == 0) {
            SetDetailedError(PortFault::Network, ETIMEDOUT,
                             address.Endpoint() +
                                 ": no answer to the COM-PORT-OPTION (RFC 2217) within 3 s");
            return false;
        }
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) {
            SetDetailedError(PortFault::Network, n < 0 ? errno : ECONNRESET,
                             address.Endpoint() + ": the server closed the connection while "
                                                  "the line was being set");
            return false;
        }
        if (n > 0)
            m_telnet->Feed(buffer, static_cast<size_t>(n));
    }
    if (m_telnet->GetState() == CRfc2217Codec::State::Refused) {
        SetDetailedError(PortFault::Network, EPROTO,
                         address.Endpoint() + ": the server " + m_telnet->Refusal());
        return false;
    }
    // A port starts with an empty input queue, as a device's does when it is opened.
    m_telnet->TakeData();
    m_telnet->PurgeReceived();
    return SendAllLocked(fd, m_telnet->TakeOutput()) >= 0;
}

void ComAccess::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    CloseLocked();
}

void ComAccess::CloseLocked() {
    const int fd = m_hCom.exchange(-1);
    if (fd >= 0) {
        if (!m_bSocket)
            ::ioctl(fd, TIOCNXCL);
        ::close(fd); // also releases the advisory lock
    }
    m_bSocket = false;
    m_telnet.reset();
    m_decoded.clear();
    m_nDecoded.store(0);
}

int ComAccess::WriteData(const void* data, uint32_t length) {
    if (length < 1)
        return 0;
    std::lock_guard<std::mutex> guard(m_lock);
    const int fd = m_hCom.load();
    if (fd < 0) {
        SetError(PortOperation::Write, EBADF);
        return -1;
    }
    if (m_telnet) {
        // Through the telnet framing: an IAC byte of the data goes out doubled.
        m_telnet->SendData(static_cast<const char*>(data), length);
        return SendAllLocked(fd, m_telnet->TakeOutput()) < 0 ? -1 : static_cast<int>(length);
    }
    return SendAllLocked(fd, std::string(static_cast<const char*>(data), length));
}

int ComAccess::SendAllLocked(int fd, const std::string& bytesToSend) {
    if (bytesToSend.empty())
        return 0; // a telnet read most often has no answer to send: no clock, no system call
    const char* bytes = bytesToSend.data();
    const auto length = static_cast<uint32_t>(bytesToSend.size());
    uint32_t written = 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    while (written < length) {
        // A socket whose server has gone fails the write (EPIPE) rather than raising SIGPIPE.
        const ssize_t n = m_bSocket ? ::send(fd, bytes + written, length - written, MSG_NOSIGNAL)
                                    : ::write(fd, bytes + written, length - written);
        if (n > 0) {
            written += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            SetError(PortOperation::Write, errno);
            return -1;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            SetError(PortOperation::WriteWait, ETIMEDOUT);
            return -1;
        }
        pollfd pfd{fd, POLLOUT, 0};
        ::poll(&pfd, 1, static_cast<int>(left.count()));
    }
    return static_cast<int>(written);
}

int ComAccess::WriteString(const std::string& text, const CExchangePacer& pacer) {
    int written = 0;
    for (char c : text) {
        if (pacer.IsCut())
            return written;
        if (WriteData(&c, 1) != 1)
            return -1;
        ++written;
        pacer.Pause(5);
    }
    return written;
}

int ComAccess::ReadData(void* buffer, uint32_t wanted) {
    return Read(buffer, wanted, 1);
}

int ComAccess::ReadQueued(void* buffer, uint32_t wanted) {
    return Read(buffer, wanted, 0);
}

int ComAccess::Read(void* buffer, uint32_t wanted, int waitMs) {
    if (wanted < 1)
        return 0;
    std::lock_guard<std::mutex> guard(m_lock);
    const int fd = m_hCom.load();
    if (fd < 0) {
        SetError(PortOperation::Read, EBADF);
        return -1;
    }
    if (m_telnet && !m_decoded.empty())
        return TakeDecodedLocked(buffer, wanted);
    pollfd pfd{fd, POLLIN, 0};
    // A socket tells everything in its read (data, EAGAIN for none, 0 once closed): a batch of a
    // network meter costs one system call. A device's hang-up shows in poll only.
    int ready = 1;
    if (!m_bSocket || waitMs > 0)
        ready = ::poll(&pfd, 1, waitMs);
    if (ready < 0 && errno != EINTR) {
        SetError(PortOperation::Wait, errno);
        return -1;
    }
    bool gone = ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL));
    // An rfc2217:// port reads what the server sent through its codec, whose data may be less
    // than the bytes read (telnet commands) or more than wanted (kept for the next read).
    const ssize_t n = m_telnet ? PullTelnetLocked(fd) : ::read(fd, buffer, wanted);
    if (n > 0)
        return m_telnet ? TakeDecodedLocked(buffer, wanted) : static_cast<int>(n);
    if (n == 0 && ready > 0 && m_bSocket)
        gone = true; // the server closed the connection
    if (gone || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        // The device is gone (unplugged adapter, closed pseudo-terminal): bytes still queued
        // are returned first, then every read fails.
        SetError(PortOperation::Read, gone ? EIO : errno);
        return -1;
    }
    return 0;
}

ssize_t ComAccess::PullTelnetLocked(int fd) {
    char raw[512];
    const ssize_t n = ::read(fd, raw, sizeof raw);
    if (n > 0) {
        m_telnet->Feed(raw, static_cast<size_t>(n));
        if (m_decoded.empty())
            m_decoded = m_telnet->TakeData(); // moved, not copied: the usual case
        else
            m_decoded += m_telnet->TakeData();
        m_nDecoded.store(m_decoded.size());
        SendAllLocked(fd, m_telnet->TakeOutput()); // its answers; a failed write is seen next
    }
    return n;
}

int ComAccess::TakeDecodedLocked(void* buffer, uint32_t wanted) {
    const size_t count = std::min<size_t>(wanted, m_decoded.size());
    std::memcpy(buffer, m_decoded.data(), count);
    m_decoded.erase(0, count);
    m_nDecoded.store(m_decoded.size());
    return static_cast<int>(count);
}

ComAccess::Wait ComAccess::WaitForInput(int wakeFd, int timeoutMs) {
    if (m_nDecoded.load() > 0)
        return Wait::Readable; // decoded already, waiting to be read
    // Without the lock: the wait may be long, and only its owner's thread closes the port.
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {m_hCom.load(), POLLIN, 0}};
    const nfds_t count = fds[1].fd >= 0 ? 2 : 1;
    int ready;
    do {
        ready = ::poll(fds, count, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0)
        return Wait::Readable; // the read that follows tells the failure
    if (ready == 0)
        return Wait::TimedOut;
    if (count == 2 && fds[1].revents != 0)
        return Wait::Readable;
    return Wait::Woken;
}

int ComAccess::QueuedInputCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    const int fd = m_hCom.load();
    if (fd < 0)
        return -1;
    if (m_telnet) {
        // The data of what the server sent so far, once its telnet commands are taken out.
        while (PullTelnetLocked(fd) > 0) {
        }
        return static_cast<int>(m_decoded.size());
    }
    int count = 0;
    if (::ioctl(fd, FIONREAD, &count) != 0)
        return -1;
    return count;
}

PortError ComAccess::LastError() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lastError;
}

void ComAccess::SetError(PortOperation operation, int code) {
    // Called with m_lock held.
    m_lastError = PortError::From(operation, code);
}

void ComAccess::SetDetailedError(PortFault kind, int code, const std::string& detail) {
    // Called with m_lock held.
    m_lastError = PortError();
    m_lastError.kind = kind;
    m_lastError.code = code;
    m_lastError.operation = PortOperation::Open;
    m_lastError.detail = detail;
}
