#include "link/PortList.h"

#include "link/ComAccess.h"
#include "link/NetworkPortStore.h"
#include "link/PortAddress.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include <dirent.h>
#include <stdlib.h>

namespace {

void AddUnique(std::vector<std::string>& ports, const std::string& port) {
    if (ports.size() >= kMaxPorts || port.empty())
        return;
    const std::string device = ComAccess::DevicePath(port);
    const bool present = std::any_of(ports.begin(), ports.end(), [&](const std::string& p) {
        return ComAccess::DevicePath(p) == device;
    });
    if (!present)
        ports.push_back(port);
}

} // namespace

std::vector<std::string> PortsFromEnvironment() {
    std::vector<std::string> ports;
    const char* variable = std::getenv("KELVARIN_PORTS");
    if (!variable)
        return ports;
    for (const std::string& name : SplitPortList(variable))
        AddUnique(ports, name);
    return ports;
}

namespace {

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

} // namespace

std::string StablePortName(const std::string& devicePath, const std::string& folder) {
    const std::string device = RealPath(devicePath);
    DIR* dir = device.empty() ? nullptr : ::opendir(folder.c_str());
    if (!dir)
        return std::string();
    std::string found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = folder + "/" + name;
        // The first in name order, so the choice does not depend on the folder's order.
        if (RealPath(path) == device && (found.empty() || path < found))
            found = path;
    }
    ::closedir(dir);
    return found;
}

std::vector<std::string> ListSerialPorts() {
    std::vector<std::string> ports = PortsFromEnvironment();
    // Tests and scripted runs keep away from whatever hardware the machine has.
    if (qEnvironmentVariableIntValue("KELVARIN_PORTS_ONLY") != 1) {
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            const std::string name = info.portName().toStdString();
            const std::string stable = StablePortName(ComAccess::DevicePath(name));
            AddUnique(ports, stable.empty() ? name : stable);
        }
    }
    // The user's own network ports, after the local ones and beyond their limit.
    for (const std::string& url : ReadNetworkPorts().ports) {
        if (std::find(ports.begin(), ports.end(), url) == ports.end())
            ports.push_back(url);
    }
    return ports;
}
