// Ports named by URL: what is a well-formed one (and the message for one that is not, before any
// connection), lists that hold URLs, an rfc2217:// server silent or refusing, and a socket:// port
// against a TCP server of the test on 127.0.0.1: paced bytes out, replies in, the server's close
// seen as a hang-up, nothing listening and an unknown host told with the server's name and the
// reason.

#include "link/ComAccess.h"
#include "link/PortAddress.h"
#include "support/TcpListener.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

TEST(PortAddress, UrlsAreReadAndWhatIsNotWellFormedIsNamed) {
    PortAddress address;
    std::string error;
    ASSERT_TRUE(PortAddress::Parse("rfc2217://lab-7.example:4001", address, error)) << error;
    EXPECT_EQ(address.kind, PortKind::Rfc2217);
    EXPECT_EQ(address.Endpoint(), "lab-7.example:4001");
    ASSERT_TRUE(PortAddress::Parse("SOCKET://192.168.1.20:65535", address, error)) << error;
    EXPECT_EQ(address.kind, PortKind::Socket);
    EXPECT_EQ(address.port, 65535);
    ASSERT_TRUE(PortAddress::Parse("socket://[fe80::1%eth0]:4000", address, error)) << error;
    EXPECT_EQ(address.host, "fe80::1%eth0");
    EXPECT_EQ(address.Endpoint(), "[fe80::1%eth0]:4000");
    for (const char* device : {"/dev/ttyUSB0", "ttyS0", "/dev/serial/by-id/usb-x:y"}) {
        ASSERT_TRUE(PortAddress::Parse(device, address, error)) << device;
        EXPECT_EQ(address.kind, PortKind::Device);
    }

    const std::pair<const char*, const char*> refused[] = {
        {"rfc2217://:4000", "rfc2217://:4000: no host"},
        {"socket://", "socket://: no host"},
        {"socket://lab-7", "socket://lab-7: no port (HOST:PORT)"},
        {"socket://lab-7:", "socket://lab-7:: no port (HOST:PORT)"},
        {"socket://lab-7:0", "socket://lab-7:0: the port must be a number from 1 to 65535"},
        {"socket://lab-7:65536", "socket://lab-7:65536: the port must be a number from 1 to 65535"},
        {"socket://lab-7:40a1", "socket://lab-7:40a1: the port must be a number from 1 to 65535"},
        {"socket://lab 7:4000", "socket://lab 7:4000: not a host name or address: lab 7"},
        {"socket://[::1:4000", "socket://[::1:4000: no closing ] after the IPv6 address"},
        {"telnet://lab-7:23", "telnet://lab-7:23: unknown scheme (rfc2217:// or socket://)"},
    };
    for (const auto& [url, message] : refused) {
        EXPECT_FALSE(PortAddress::Parse(url, address, error)) << url;
        EXPECT_EQ(error, message);
    }

    EXPECT_EQ(SplitPortList("/dev/pts/3:rfc2217://lab-7:4001:/dev/pts/4"),
              (std::vector<std::string>{"/dev/pts/3", "rfc2217://lab-7:4001", "/dev/pts/4"}));
    EXPECT_EQ(SplitPortList("socket://[::1]:4000::/dev/pts/5:"),
              (std::vector<std::string>{"socket://[::1]:4000", "/dev/pts/5"}));
    EXPECT_EQ(SplitPortList("socket://lab-7"), (std::vector<std::string>{"socket://lab-7"}));
}

TEST(NetworkPort, ASocketPortCarriesPacedBytesAndRepliesAndItsServersCloseIsAHangUp) {
    TcpListener listener;
    ASSERT_GT(listener.Port(), 0);
    const std::string url = "socket://127.0.0.1:" + std::to_string(listener.Port());
    ComAccess port;
    ASSERT_TRUE(port.Open(ComAccess::DevicePath(url), ComAccess::kMeterBaudRate))
        << port.LastError().Text();
    const int server = listener.Accept();
    ASSERT_GE(server, 0);

    const auto start = Clock::now();
    EXPECT_EQ(port.WriteString("*CSU"), 4);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(20)) << "5 ms after each byte";
    std::string received;
    char buffer[64];
    ASSERT_TRUE(WaitUntil([&] {
        const ssize_t n = ::recv(server, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
            received.append(buffer, static_cast<size_t>(n));
        return received.size() >= 4;
    }));
    EXPECT_EQ(received, "*CSU");

    const std::string reply = "KLV-NET\r\n";
    ASSERT_EQ(::send(server, reply.data(), reply.size(), 0), static_cast<ssize_t>(reply.size()));
    ASSERT_TRUE(WaitUntil([&] { return port.QueuedInputCount() == 9; }));
    EXPECT_EQ(port.ReadQueued(buffer, sizeof buffer), 9);
    EXPECT_EQ(std::string(buffer, 9), reply);

    ::close(server);
    int n = 0;
    ASSERT_TRUE(WaitUntil([&] { return (n = port.ReadQueued(buffer, sizeof buffer)) != 0; }));
    EXPECT_EQ(n, -1);
    EXPECT_EQ(port.LastError().kind, PortFault::HungUp);
    EXPECT_EQ(port.WriteString("*CAU"), -1) << "a write after the close fails, without SIGPIPE";
}

TEST(NetworkPort, NothingListeningAnUnknownHostAndABadUrlAreToldPromptly) {
    TcpListener listener;
    const int closedPort = listener.Port();
    listener.Close(); // nothing listens there now
    ComAccess port;
    auto start = Clock::now();
    EXPECT_FALSE(port.Open("socket://127.0.0.1:" + std::to_string(closedPort), 57600));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(port.LastError().Text(),
              "127.0.0.1:" + std::to_string(closedPort) + ": Connection refused\n");
    EXPECT_EQ(port.LastError().kind, PortFault::Network);
    EXPECT_FALSE(port.IsOpen());

    start = Clock::now();
    EXPECT_FALSE(port.Open("socket://meter.invalid:4000", 57600));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(port.LastError().Text().rfind("meter.invalid:4000: ", 0), 0u)
        << port.LastError().Text();
    EXPECT_EQ(port.LastError().kind, PortFault::Network);

    EXPECT_FALSE(port.Open("socket://127.0.0.1:99999", 57600));
    EXPECT_EQ(port.LastError().Text(),
              "socket://127.0.0.1:99999: the port must be a number from 1 to 65535\n");
    EXPECT_EQ(port.LastError().kind, PortFault::Address);
}

// An rfc2217:// server that never answers the negotiation, and one that refuses the option:
// each is told, naming the server, and the port stays closed.
TEST(NetworkPort, ATelnetServerThatIsSilentOrRefusesTheComPortOptionIsTold) {
    TcpListener silent; // connects (the system accepts), then says nothing
    ComAccess port;
    const auto start = Clock::now();
    EXPECT_FALSE(port.Open("rfc2217://127.0.0.1:" + std::to_string(silent.Port()), 57600));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2900));
    EXPECT_EQ(port.LastError().Text(),
              "127.0.0.1:" + std::to_string(silent.Port()) +
                  ": no answer to the COM-PORT-OPTION (RFC 2217) within 3 s\n");
    EXPECT_FALSE(port.IsOpen());

    TcpListener refusing;
    std::thread server([&] {
        const int fd = refusing.Accept();
        const char dont[] = {'\xff', '\xfe', 44};
        ::send(fd, dont, sizeof dont, MSG_NOSIGNAL);
        char buffer[256];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        ::close(fd);
    });
    EXPECT_FALSE(port.Open("rfc2217://127.0.0.1:" + std::to_string(refusing.Port()), 57600));
    EXPECT_EQ(port.LastError().Text(), "127.0.0.1:" + std::to_string(refusing.Port()) +
                                           ": the server refused the COM-PORT-OPTION\n");
    EXPECT_EQ(port.LastError().kind, PortFault::Network);
    EXPECT_FALSE(port.IsOpen());
    server.join();
}

} // namespace
