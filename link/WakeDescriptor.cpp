#include "link/WakeDescriptor.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/eventfd.h>
#endif

CWakeDescriptor::CWakeDescriptor() {
#ifdef __linux__
    m_read = m_write = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
#else
    int fds[2];
    if (::pipe(fds) == 0) {
        for (int fd : fds) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        m_read = fds[0];
        m_write = fds[1];
    }
#endif
}

CWakeDescriptor::~CWakeDescriptor() {
    if (m_write >= 0 && m_write != m_read)
        ::close(m_write);
    if (m_read >= 0)
        ::close(m_read);
}

void CWakeDescriptor::Wake() {
    if (m_write < 0)
        return;
#ifdef __linux__
    const uint64_t one = 1;
    while (::write(m_write, &one, sizeof one) < 0 && errno == EINTR) {
    }
#else
    const char one = 1;
    while (::write(m_write, &one, 1) < 0 && errno == EINTR) {
    } // a full pipe already wakes the reader
#endif
}

void CWakeDescriptor::Drain() {
    if (m_read < 0)
        return;
    char buffer[64];
    while (::read(m_read, buffer, sizeof buffer) > 0) {
    }
}

void CWakeDescriptor::Sleep(const timespec* timeout) {
    pollfd fd{m_read, POLLIN, 0};
    if (::ppoll(&fd, 1, timeout, nullptr) > 0)
        Drain();
}

void CWakeDescriptor::Wait(int timeoutMs) {
    if (timeoutMs < 0)
        return Sleep(nullptr);
    const timespec timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
    Sleep(&timeout);
}

void CWakeDescriptor::WaitUntil(std::chrono::steady_clock::time_point when) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
        when - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return;
    const timespec timeout{static_cast<time_t>(left.count() / 1000000000),
                           static_cast<long>(left.count() % 1000000000)};
    Sleep(&timeout);
}
