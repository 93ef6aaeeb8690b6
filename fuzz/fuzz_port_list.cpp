// Fuzzes the reading of port names typed or set by the user: a URL or a device name
// (PortAddress::Parse) and a ':'-separated list of them (SplitPortList, KELVARIN_PORTS).
// A URL read as well formed has a host, a port from 1 to 65535 and an endpoint that reads back;
// one refused says why and names what was given; a list's names are non-empty pieces of it.

#include "link/PortAddress.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "port list fuzz: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    PortAddress address;
    std::string error;
    if (PortAddress::Parse(text, address, error)) {
        Check(error.empty(), "an error with a success");
        Check(address.IsNetwork() == IsPortUrl(text), "a URL read as a device or back");
        if (address.IsNetwork()) {
            Check(!address.host.empty() && address.port >= 1, "no host or port");
            PortAddress again;
            const std::string url =
                (address.kind == PortKind::Socket ? "socket://" : "rfc2217://") +
                address.Endpoint();
            Check(PortAddress::Parse(url, again, error) && again.host == address.host &&
                      again.port == address.port,
                  "the endpoint does not read back");
        }
    } else {
        Check(IsPortUrl(text), "a device name refused");
        Check(error.rfind(text + ": ", 0) == 0 && error.size() > text.size() + 2,
              "a refusal that does not name the URL and why");
    }
    size_t length = 0;
    for (const std::string& name : SplitPortList(text)) {
        Check(!name.empty(), "an empty name");
        Check(text.find(name) != std::string::npos, "a name not in the list");
        length += name.size();
    }
    Check(length <= text.size(), "names longer than the list");
    return 0;
}
