#include "link/PortList.h"

#include "link/ComAccess.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <cstdlib>

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
    const std::string text = variable;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(':', start), text.size());
        AddUnique(ports, text.substr(start, end - start));
        start = end + 1;
    }
    return ports;
}

std::vector<std::string> ListSerialPorts() {
    std::vector<std::string> ports = PortsFromEnvironment();
    // Tests and scripted runs keep away from whatever hardware the machine has.
    if (qEnvironmentVariableIntValue("KELVARIN_PORTS_ONLY") == 1)
        return ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        AddUnique(ports, info.portName().toStdString());
    return ports;
}
