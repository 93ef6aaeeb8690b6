#pragma once
// A TCP socket listening on a free port of 127.0.0.1 that accepts only when asked: a connect to
// it succeeds (the system queues it) and then hears nothing, as from a server that never answers.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class TcpListener {
public:
    TcpListener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_fd, 1) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~TcpListener() { Close(); }
    void Close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    int Accept() const { return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC); }
    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};
