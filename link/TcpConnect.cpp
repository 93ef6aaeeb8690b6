#include "link/TcpConnect.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// One name lookup on the resolver's own thread (getaddrinfo_a). A lookup given up on cannot
// always be cancelled; it is kept until it ends and freed by a later lookup.
struct Lookup {
    std::string host;
    std::string service;
    addrinfo hints{};
    gaicb request{};
};

std::mutex g_abandonedLock;
std::vector<std::unique_ptr<Lookup>> g_abandoned;

void FreeEnded() {
    std::lock_guard<std::mutex> guard(g_abandonedLock);
    g_abandoned.erase(std::remove_if(g_abandoned.begin(), g_abandoned.end(),
                                     [](const std::unique_ptr<Lookup>& lookup) {
                                         if (gai_error(&lookup->request) == EAI_INPROGRESS)
                                             return false;
                                         if (lookup->request.ar_result)
                                             freeaddrinfo(lookup->request.ar_result);
                                         return true;
                                     }),
                      g_abandoned.end());
}

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, left));
}

std::string SystemText(int code) {
    char buffer[256];
    const char* text = buffer;
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    text = ::strerror_r(code, buffer, sizeof buffer);
#else
    if (::strerror_r(code, buffer, sizeof buffer) != 0)
        return "error " + std::to_string(code);
#endif
    return text;
}

// The addresses of the host, or null with `error` set.
addrinfo* Resolve(const PortAddress& address, Clock::time_point deadline, std::string& error) {
    FreeEnded();
    auto lookup = std::make_unique<Lookup>();
    lookup->host = address.host;
    lookup->service = std::to_string(address.port);
    lookup->hints.ai_family = AF_UNSPEC;
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    lookup->request.ar_name = lookup->host.c_str();
    lookup->request.ar_service = lookup->service.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb* list[1] = {&lookup->request};
    int status = getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr);
    if (status != 0) {
        error = gai_strerror(status);
        return nullptr;
    }
    for (;;) {
        status = gai_error(&lookup->request);
        if (status != EAI_INPROGRESS)
            break;
        const int left = MsLeft(deadline);
        if (left == 0)
            break;
        const timespec wait{left / 1000, static_cast<long>(left % 1000) * 1000000L};
        const gaicb* const waiting[1] = {&lookup->request};
        gai_suspend(waiting, 1, &wait);
    }
    if (status == EAI_INPROGRESS) {
        if (gai_cancel(&lookup->request) != EAI_CANCELED) {
            std::lock_guard<std::mutex> guard(g_abandonedLock);
            g_abandoned.push_back(std::move(lookup)); // still running: freed once it ends
        }
        error = "no answer from the name resolver in time";
        return nullptr;
    }
    if (status != 0) {
        error = gai_strerror(status);
        return nullptr;
    }
    return lookup->request.ar_result;
}

// A non-blocking connect to one address within the deadline; the socket or -1 with `code`.
int ConnectOne(const addrinfo& info, Clock::time_point deadline, int& code) {
    const int fd =
        ::socket(info.ai_family, info.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, info.ai_protocol);
    if (fd < 0) {
        code = errno;
        return -1;
    }
    if (::connect(fd, info.ai_addr, info.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            code = errno;
            ::close(fd);
            return -1;
        }
        pollfd pfd{fd, POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&pfd, 1, MsLeft(deadline));
        } while (ready < 0 && errno == EINTR);
        int failure = 0;
        socklen_t length = sizeof failure;
        if (ready == 0)
            failure = ETIMEDOUT;
        else if (ready < 0)
            failure = errno;
        else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) != 0)
            failure = errno;
        if (failure != 0) {
            code = failure;
            ::close(fd);
            return -1;
        }
    }
    const int on = 1;
    // Each paced character is sent by itself; the meter sees the same 5 ms between them.
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // A server gone without a word: probes after 4 s idle, every 2 s, dead after 3 missed.
    const int idle = 4, interval = 2, probes = 3;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    // Unacknowledged data is given up on as quickly, rather than after the system's 15 minutes.
    const unsigned int userTimeoutMs = 10000;
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
    return fd;
}

} // namespace

int ConnectTcp(const PortAddress& address, int timeoutMs, std::string& error, int& code) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    error.clear();
    code = 0;
    std::string reason;
    addrinfo* addresses = Resolve(address, deadline, reason);
    if (!addresses) {
        error = address.Endpoint() + ": " + reason;
        return -1;
    }
    int fd = -1;
    for (const addrinfo* info = addresses; info && fd < 0; info = info->ai_next) {
        fd = ConnectOne(*info, deadline, code);
        if (MsLeft(deadline) == 0)
            break;
    }
    freeaddrinfo(addresses);
    if (fd < 0) {
        if (code == 0)
            code = ETIMEDOUT;
        error = address.Endpoint() + ": " + SystemText(code);
    }
    return fd;
}
