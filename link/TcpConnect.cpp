#include "link/TcpConnect.h"

#include "link/PortError.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
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

// A name lookup on a thread of its own, so that the caller can give up on it at the deadline:
// getaddrinfo itself has no time limit of ours. A lookup given up on finishes by itself and frees
// its result; its thread is joined by a later lookup, or at exit.
struct Lookup {
    std::string host;
    std::string service;
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;      // under lock
    bool abandoned = false; // under lock
    int status = 0;
    addrinfo* result = nullptr;
};

class AbandonedLookups {
public:
    ~AbandonedLookups() {
        for (auto& entry : m_entries)
            entry.second.join();
    }
    void Add(std::shared_ptr<Lookup> lookup, std::thread thread) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_entries.emplace_back(std::move(lookup), std::move(thread));
    }
    // Joins the threads whose lookup has ended.
    void JoinEnded() {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            bool done;
            {
                std::lock_guard<std::mutex> entryGuard(it->first->lock);
                done = it->first->done;
            }
            if (done) {
                it->second.join();
                it = m_entries.erase(it);
            } else {
                ++it;
            }
        }
    }

private:
    std::mutex m_lock;
    std::vector<std::pair<std::shared_ptr<Lookup>, std::thread>> m_entries;
};

AbandonedLookups g_abandoned;

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, left));
}

addrinfo StreamHints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    return hints;
}

// The addresses of the host, or null with `error` set.
addrinfo* Resolve(const PortAddress& address, Clock::time_point deadline, std::string& error) {
    g_abandoned.JoinEnded();
    const addrinfo hints = StreamHints(AI_NUMERICSERV | AI_NUMERICHOST);
    const std::string service = std::to_string(address.port);
    addrinfo* result = nullptr;
    // An address needs no lookup.
    if (getaddrinfo(address.host.c_str(), service.c_str(), &hints, &result) == 0)
        return result;

    auto lookup = std::make_shared<Lookup>();
    lookup->host = address.host;
    lookup->service = service;
    std::thread thread([lookup] {
        const addrinfo hints = StreamHints(AI_NUMERICSERV | AI_ADDRCONFIG);
        addrinfo* found = nullptr;
        const int status =
            getaddrinfo(lookup->host.c_str(), lookup->service.c_str(), &hints, &found);
        std::lock_guard<std::mutex> guard(lookup->lock);
        lookup->done = true;
        lookup->status = status;
        if (lookup->abandoned) {
            if (found)
                freeaddrinfo(found);
        } else {
            lookup->result = found;
        }
        lookup->ended.notify_all();
    });
    std::unique_lock<std::mutex> guard(lookup->lock);
    if (!lookup->ended.wait_until(guard, deadline, [&] { return lookup->done; })) {
        lookup->abandoned = true;
        guard.unlock();
        g_abandoned.Add(lookup, std::move(thread));
        error = "no answer from the name resolver in time";
        return nullptr;
    }
    guard.unlock();
    thread.join();
    if (lookup->status != 0) {
        error = gai_strerror(lookup->status);
        return nullptr;
    }
    return lookup->result;
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
        error = address.Endpoint() + ": " + SystemErrorText(code);
    }
    return fd;
}
