// The parts of the exporter's server that need no server: its address and its password file.
#include "monitor/MetricsServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

std::string MetricsAddressError(const std::string& address) {
    unsigned char buffer[sizeof(struct in6_addr)];
    if (inet_pton(AF_INET, address.c_str(), buffer) == 1 ||
        inet_pton(AF_INET6, address.c_str(), buffer) == 1)
        return std::string();
    return "\"" + address + "\" is not an IP address (such as 127.0.0.1, 0.0.0.0 or ::1)";
}

bool CheckMetricsEndpoint(const MetricsEndpoint& endpoint, std::string& error) {
    if (endpoint.port < 0 || endpoint.port > 65535) {
        error = "\"" + std::to_string(endpoint.port) + "\" is not a port number (0 to 65535)";
        return false;
    }
    error = MetricsAddressError(endpoint.address);
    return error.empty();
}

namespace {

bool ParsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value > 65535)
        return false;
    port = value;
    return true;
}

} // namespace

bool ParseMetricsListen(const std::string& text, MetricsEndpoint& endpoint, std::string& error) {
    std::string address = endpoint.address;
    std::string portText = text;
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        address = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
            address = address.substr(1, address.size() - 2);
    }
    int port = 0;
    if (!ParsePort(portText, port)) {
        error = "\"" + text + "\" is not a port (0 to 65535) or ADDRESS:PORT";
        return false;
    }
    error = MetricsAddressError(address);
    if (!error.empty())
        return false;
    endpoint.address = address;
    endpoint.port = port;
    return true;
}

std::string MetricsHostPort(const std::string& address, int port) {
    const bool v6 = address.find(':') != std::string::npos;
    return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

bool ReadBasicAuthFile(const std::string& path, std::string& user, std::string& password,
                       std::string& error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    // A password others can read is no password: refuse before reading it.
    if (info.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) {
        error = path + " can be read by other users; make it private with chmod 600 " + path;
        return false;
    }
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        error = path + ": cannot be read";
        return false;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == line.size()) {
        error = path + ": the first line must be user:password";
        return false;
    }
    user = line.substr(0, colon);
    password = line.substr(colon + 1);
    return true;
}
