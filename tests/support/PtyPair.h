#pragma once
// A bare pseudo-terminal for tests that play the meter's side by hand: the test holds the master,
// the code under test opens SlavePath() like any serial port.

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

class PtyPair {
public:
    PtyPair() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return;
        char name[128] = {};
        if (ptsname_r(m_master, name, sizeof name) == 0)
            m_slave = name;
        termios tio{};
        tcgetattr(m_master, &tio);
        cfmakeraw(&tio);
        tcsetattr(m_master, TCSANOW, &tio);
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return m_master >= 0 && !m_slave.empty(); }
    const std::string& SlavePath() const { return m_slave; }
    int Master() const { return m_master; }

    void Send(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }

    struct Byte {
        char value;
        double ms;
    };
    // Reads what arrives until `count` bytes came or `timeoutMs` passed, stamping each byte.
    std::vector<Byte> Receive(size_t count, int timeoutMs) {
        using Clock = std::chrono::steady_clock;
        std::vector<Byte> bytes;
        const auto start = Clock::now();
        while (bytes.size() < count) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            if (elapsed.count() >= timeoutMs)
                break;
            pollfd pfd{m_master, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(timeoutMs - elapsed.count())) <= 0)
                break;
            char c;
            if (read(m_master, &c, 1) != 1)
                break;
            bytes.push_back(
                {c, std::chrono::duration<double, std::milli>(Clock::now() - start).count()});
        }
        return bytes;
    }

    void CloseMaster() {
        if (m_master >= 0)
            close(m_master);
        m_master = -1;
    }

private:
    int m_master = -1;
    std::string m_slave;
};
