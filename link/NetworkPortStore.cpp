#include "link/NetworkPortStore.h"

#include "link/PortAddress.h"

#include <QSettings>

#include <algorithm>

namespace {

const char* const kKey = "NetworkPorts/Ports";

QSettings Profile() {
    return QSettings(QStringLiteral("Kelvarin"), QStringLiteral("Kelvarin"));
}

} // namespace

bool CheckNetworkPort(const std::string& name, std::string& error) {
    PortAddress address;
    if (!IsPortUrl(name)) {
        error = name + ": not a network port (rfc2217:// or socket://)";
        return false;
    }
    return PortAddress::Parse(name, address, error);
}

std::string JoinNetworkPorts(const std::vector<std::string>& ports) {
    std::string text;
    for (const std::string& port : ports)
        text += (text.empty() ? "" : " ") + port;
    return text;
}

StoredNetworkPorts SplitNetworkPorts(const std::string& text) {
    StoredNetworkPorts stored;
    size_t start = 0;
    while (start < text.size()) {
        const size_t blank = text.find_first_of(" \t", start);
        const size_t end = blank == std::string::npos ? text.size() : blank;
        const std::string name = text.substr(start, end - start);
        start = end + 1;
        if (name.empty())
            continue;
        std::string error;
        if (!CheckNetworkPort(name, error))
            stored.errors.push_back(error);
        else if (std::find(stored.ports.begin(), stored.ports.end(), name) != stored.ports.end())
            continue;
        else if (stored.ports.size() >= kMaxNetworkPorts)
            stored.errors.push_back(name + ": more than " + std::to_string(kMaxNetworkPorts) +
                                    " network ports");
        else
            stored.ports.push_back(name);
    }
    return stored;
}

StoredNetworkPorts ReadNetworkPorts() {
    return SplitNetworkPorts(Profile().value(QLatin1String(kKey)).toString().toStdString());
}

bool WriteNetworkPorts(const std::vector<std::string>& ports, std::string& error) {
    const StoredNetworkPorts checked = SplitNetworkPorts(JoinNetworkPorts(ports));
    if (!checked.errors.empty()) {
        error = checked.errors.front();
        return false;
    }
    QSettings settings = Profile();
    if (checked.ports.empty())
        settings.remove(QLatin1String(kKey));
    else
        settings.setValue(QLatin1String(kKey),
                          QString::fromStdString(JoinNetworkPorts(checked.ports)));
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        error = "cannot write the profile " + settings.fileName().toStdString();
        return false;
    }
    return true;
}
