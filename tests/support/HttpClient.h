#pragma once
// A plain HTTP/1.0 exchange on 127.0.0.1 for tests of the metrics server: one request, the
// whole answer, its status.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>

// A connection to 127.0.0.1:port, -1 when refused. Reads give up after `timeoutMs`.
inline int ConnectLocal(int port, int timeoutMs = 5000) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct HttpAnswer {
    int status = 0; // 0: no answer
    std::string head;
    std::string body;
};

inline HttpAnswer HttpExchange(int port, const std::string& request, int timeoutMs = 5000) {
    HttpAnswer answer;
    const int fd = ConnectLocal(port, timeoutMs);
    if (fd < 0)
        return answer;
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        close(fd);
        return answer;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    const size_t split = text.find("\r\n\r\n");
    if (text.compare(0, 9, "HTTP/1.1 ") != 0 && text.compare(0, 9, "HTTP/1.0 ") != 0)
        return answer;
    answer.status = std::atoi(text.c_str() + 9);
    answer.head = text.substr(0, split);
    if (split != std::string::npos)
        answer.body = text.substr(split + 4);
    return answer;
}

inline HttpAnswer HttpGet(int port, const std::string& path, const std::string& headers = {}) {
    return HttpExchange(port,
                        "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" + headers + "\r\n");
}
