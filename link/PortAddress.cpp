#include "link/PortAddress.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool Fail(std::string& error, const std::string& name, const std::string& why) {
    error = name + ": " + why;
    return false;
}

// A host name or an IPv4 address: letters, digits, '-', '.' and '_' (some lab hosts have one).
bool IsHostName(const std::string& host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '.' || c == '_';
    });
}

// An IPv6 address, with an optional zone after '%' ("fe80::1%eth0").
bool IsIpv6(const std::string& host) {
    const size_t zone = host.find('%');
    const std::string address = host.substr(0, zone);
    const std::string name = zone == std::string::npos ? std::string() : host.substr(zone + 1);
    if (address.find(':') == std::string::npos || (zone != std::string::npos && name.empty()))
        return false;
    return std::all_of(address.begin(), address.end(),
                       [](unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; }) &&
           std::all_of(name.begin(), name.end(),
                       [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_'; });
}

} // namespace

std::string PortAddress::Endpoint() const {
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return shown + ":" + std::to_string(port);
}

bool IsPortUrl(const std::string& name) {
    return name.find("://") != std::string::npos;
}

bool PortAddress::Parse(const std::string& name, PortAddress& address, std::string& error) {
    address = PortAddress();
    error.clear();
    const size_t separator = name.find("://");
    if (separator == std::string::npos)
        return true; // a device path or a device's name
    const std::string scheme = Lower(name.substr(0, separator));
    PortKind kind;
    if (scheme == "rfc2217")
        kind = PortKind::Rfc2217;
    else if (scheme == "socket")
        kind = PortKind::Socket;
    else
        return Fail(error, name, "unknown scheme (rfc2217:// or socket://)");

    const std::string rest = name.substr(separator + 3);
    std::string host;
    std::string portText;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos)
            return Fail(error, name, "no closing ] after the IPv6 address");
        host = rest.substr(1, close - 1);
        if (!IsIpv6(host))
            return Fail(error, name, "not an IPv6 address between [ and ]");
        if (close + 1 >= rest.size() || rest[close + 1] != ':')
            return Fail(error, name, "no port (HOST:PORT)");
        portText = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string::npos) {
            if (rest.empty())
                return Fail(error, name, "no host");
            return Fail(error, name, "no port (HOST:PORT)");
        }
        host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
        if (host.empty())
            return Fail(error, name, "no host");
        if (!IsHostName(host))
            return Fail(error, name, "not a host name or address: " + host);
    }
    if (portText.empty())
        return Fail(error, name, "no port (HOST:PORT)");
    if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(),
                                            [](unsigned char c) { return std::isdigit(c); }))
        return Fail(error, name, "the port must be a number from 1 to 65535");
    const long number = std::stol(portText);
    if (number < 1 || number > 65535)
        return Fail(error, name, "the port must be a number from 1 to 65535");
    address.kind = kind;
    address.host = host;
    address.port = static_cast<uint16_t>(number);
    return true;
}

std::vector<std::string> SplitPortList(const std::string& list) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        // "scheme://host:port" (or "[v6]:port"): the URL runs to the colon after its port.
        if (end != std::string::npos && list.compare(end, 3, "://") == 0) {
            size_t hostStart = end + 3;
            size_t portColon = std::string::npos;
            if (hostStart < list.size() && list[hostStart] == '[') {
                const size_t close = list.find(']', hostStart);
                portColon = close == std::string::npos ? std::string::npos : list.find(':', close);
            } else {
                portColon = list.find(':', hostStart);
            }
            end =
                portColon == std::string::npos ? std::string::npos : list.find(':', portColon + 1);
        }
        const std::string name =
            list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!name.empty())
            names.push_back(name);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return names;
}
