#pragma once
// Debian's ser2net, started by a test on 127.0.0.1 in front of a simulated meter's
// pseudo-terminal and stopped by its id, and the TCP helpers such tests need.

#include "support/Subprocess.h"
#include "support/WaitUntil.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

inline bool HasSer2Net() {
    return system("command -v ser2net >/dev/null 2>&1") == 0;
}

// A port of 127.0.0.1 that nothing listens on now.
inline int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

inline bool Listens(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// ser2net serving devices on ports of 127.0.0.1; killed by its id when the test ends.
class Ser2Net {
public:
    // `device` on `port`, or on a free one; `telnet` serves RFC 2217, with the device's line at
    // `line` until a client sets it.
    Ser2Net(const std::string& folder, const std::string& device, int port = 0, bool telnet = false,
            const std::string& line = "57600n81")
        : Ser2Net(folder, std::vector<std::string>{device}, telnet, line, port) {}
    // Each of `devices` on a port of its own (the first on `port` when given).
    Ser2Net(const std::string& folder, const std::vector<std::string>& devices, bool telnet,
            const std::string& line = "57600n81", int port = 0)
        : m_telnet(telnet) {
        const std::string config = folder + "/ser2net.yaml";
        std::ofstream yaml(config);
        for (size_t i = 0; i < devices.size(); ++i) {
            m_ports.push_back(i == 0 && port > 0 ? port : FreePort());
            yaml << "connection: &meter" << i
                 << "\n  accepter: " << (telnet ? "telnet(rfc2217),tcp" : "tcp") << ",127.0.0.1,"
                 << m_ports.back() << "\n  connector: serialdev," << devices[i] << "," << line
                 << ",local\n  options:\n    kickolduser: true\n";
        }
        yaml.close();
        // exec: the id started is ser2net's own.
        m_process = std::make_unique<Subprocess>(std::vector<std::string>{
            "/bin/sh", "-c", "exec ser2net -n -c " + config + " -P " + folder + "/ser2net.pid"});
    }
    ~Ser2Net() {
        m_process->Signal(SIGTERM);
        m_process->Finish(10000);
    }
    bool WaitReady() {
        return WaitUntil(
            [this] {
                return std::all_of(m_ports.begin(), m_ports.end(),
                                   [](int p) { return Listens(p); });
            },
            std::chrono::milliseconds(10000));
    }
    int Port(size_t index = 0) const { return m_ports[index]; }
    std::string Url(size_t index = 0) const {
        return (m_telnet ? "rfc2217://127.0.0.1:" : "socket://127.0.0.1:") +
               std::to_string(m_ports[index]);
    }
    std::string Errors() { return m_process->Errors(); }

private:
    std::vector<int> m_ports;
    bool m_telnet;
    std::unique_ptr<Subprocess> m_process;
};
