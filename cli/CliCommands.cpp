#include "cli/CliCommands.h"

#include "detectors/ChannelConfig.h"
#include "detectors/ChannelConfigFile.h"
#include "detectors/DetectorOrder.h"
#include "detectors/DisplayAidsFile.h"
#include "link/ComAccess.h"
#include "link/DetectorProtocol.h"
#include "link/NetworkPortStore.h"
#include "link/NumberText.h"
#include "link/PortList.h"
#include "link/PortProbe.h"
#include "render/DisplayUnit.h"
#include "render/Statistics.h"
#include "render/StatisticsTable.h"
#include "render/ValueFormat.h"
#include "station/MeterStation.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <utility>
#include <vector>

namespace Cli {

namespace {

namespace Protocol = DetectorProtocol;

void PrintOpenFailure(FILE* err, const std::string& port, const PortError& error) {
    std::fputs(Protocol::OpenFailureText(port, error).c_str(), err);
}

// Fields of the stored record, in the order of the file.
const char* const kFieldNames[] = {"m_strTitle",    "m_nPosition",    "m_fGain",
                                   "m_fOffset",     "m_fLevelHigh",   "m_fLevelLow",
                                   "m_nWavelength", "m_bAnticipation"};

bool SetField(CChannelConfig& config, const std::string& name, const std::string& value,
              std::string& error) {
    float f = 0.0f;
    int i = 0;
    if (name == "m_strTitle") {
        std::string title;
        if (!FromTerminal(value, title)) {
            error = "the title must be single-byte text";
            return false;
        }
        for (unsigned char c : title) {
            if (c == ' ' || c < 0x20 || c == 0x7F) {
                error = "the title must not contain blanks or control characters";
                return false;
            }
        }
        config.m_strTitle = title;
    } else if (name == "m_nPosition") {
        if (!ParseIntExact(value, i) || i < -1 || i > 7) {
            error = "the position index must be an integer from -1 to 7";
            return false;
        }
        config.m_nPosition = i;
    } else if (name == "m_nWavelength") {
        if (!ParseIntExact(value, i) || i < 1 || i > 999999) {
            error = "the wavelength must be an integer from 1 to 999999 (nm)";
            return false;
        }
        config.m_nWavelength = i;
    } else if (name == "m_bAnticipation") {
        if (value == "1" || value == "true")
            config.m_bAnticipation = true;
        else if (value == "0" || value == "false")
            config.m_bAnticipation = false;
        else {
            error = "anticipation must be 0, 1, false or true";
            return false;
        }
    } else if (name == "m_fGain" || name == "m_fOffset" || name == "m_fLevelHigh" ||
               name == "m_fLevelLow") {
        if (!ParseFloatExact(value, f)) {
            error = "not a finite number (use a point as decimal separator)";
            return false;
        }
        if (name == "m_fGain")
            config.m_fGain = f;
        else if (name == "m_fOffset")
            config.m_fOffset = f;
        else if (name == "m_fLevelHigh")
            config.m_fLevelHigh = f;
        else
            config.m_fLevelLow = f;
    } else {
        error = "unknown field";
        return false;
    }
    return true;
}

} // namespace

std::string ToTerminal(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            out += '?';
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool FromTerminal(const std::string& text, std::string& singleByte) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size() &&
                   (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
            out += static_cast<char>(((c & 0x03) << 6) | (text[i + 1] & 0x3F));
            ++i;
        } else {
            return false;
        }
    }
    singleByte = out;
    return true;
}

int Ports(FILE* out, FILE* err) {
    for (const std::string& port : ListSerialPorts())
        std::fprintf(out, "%s\n", port.c_str());
    // A hand-edited profile may hold an entry that is no URL: it is left out, and said.
    for (const std::string& error : ReadNetworkPorts().errors)
        std::fprintf(err, "left out of the network ports: %s\n", error.c_str());
    return kSuccess;
}

int Probe(const std::vector<std::string>& ports, FILE* out, FILE* err) {
    const bool named = !ports.empty();
    const std::vector<std::string> list = named ? ports : ListSerialPorts();
    int status = kSuccess;
    // Every port at once, each on its own thread; the answers are printed in the ports' order.
    const std::vector<Protocol::ProbeResult> probes = ProbePorts(list);
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string& port = list[i];
        const Protocol::ProbeResult& probe = probes[i];
        if (!probe.opened) {
            PrintOpenFailure(err, port, probe.error);
            if (named)
                status = kFailure;
        }
        CChannelConfig stored;
        stored.m_strSerial = probe.serial;
        ReadStoredPlace(stored, [&](const std::string& error) {
            std::fprintf(err, "%s\n", error.c_str());
            status = kFailure;
        });
        std::fprintf(out, "%d\t%s\t%s\t%s\t%s\n", stored.m_nPosition, port.c_str(),
                     ToTerminal(probe.name).c_str(), ToTerminal(probe.serial).c_str(),
                     ToTerminal(stored.m_strTitle).c_str());
        std::fflush(out);
    }
    return status;
}

int Stream(const StreamOptions& options, const std::atomic<bool>& stop, FILE* out, FILE* err) {
    using Clock = std::chrono::steady_clock;
    const Protocol::ProbeResult probe = Protocol::ProbePort(options.port);
    if (!probe.opened) {
        PrintOpenFailure(err, options.port, probe.error);
        return kFailure;
    }
    if (probe.serial.empty())
        std::fprintf(err, "%s: no meter identified itself; streaming with default settings\n",
                     options.port.c_str());

    CChannelConfig config;
    config.m_strSerial = probe.serial;
    config.m_strName = probe.name;
    config.m_strPort = options.port;
    if (!config.m_strSerial.empty()) {
        std::string error;
        if (LoadChannelConfigFile(config.m_strSerial, config, error) == ConfigLoad::Damaged)
            std::fprintf(err, "%s; using the default settings\n", error.c_str());
        if (LoadDisplayAidsFile(config.m_strSerial, config.m_aids, error) == ConfigLoad::Damaged)
            std::fprintf(err, "%s; no zero and no reference\n", error.c_str());
    }
    // The third column: the value as a pane shows it in the unit asked (watts by default), dB
    // and % against the reference given, else the head's kept reference power.
    const DisplayUnit unit = options.unit;
    const double reference =
        options.reference > 0 ? options.reference : ReferencePower(config.m_aids, LiveReading());
    if (UnitNeedsReference(unit) && !(reference > 0))
        std::fprintf(err,
                     "%s: no reference power kept for this head; every value in %s is \"---\" "
                     "(give --reference WATTS)\n",
                     options.port.c_str(), DisplayUnitName(unit));

    // The readings come from the channel's worker; this thread takes them every 50 ms, as the
    // worker reads the port, and prints them without holding up the worker.
    struct Shared {
        std::mutex lock;
        std::vector<std::pair<Clock::time_point, float>> readings;
        bool connected = false;
        Clock::time_point openedAt{};
        std::string failure; // not empty: the stream has ended on it
    } shared;
    // One position of a station, as the window and the other commands have them.
    CMeterStation station;
    CChannel& channel = station.Channel(0);
    channel.SetReadingObserver([&](float value) {
        std::lock_guard<std::mutex> guard(shared.lock);
        shared.readings.emplace_back(Clock::now(), value);
    });
    channel.SetEventHandler([&](ChannelEvent event, const std::string& detail) {
        std::lock_guard<std::mutex> guard(shared.lock);
        if (event == ChannelEvent::Lost)
            shared.failure = options.port + ": the meter stopped answering: " + detail;
    });
    channel.RequestConnect(config, false, [&](const CChannel::Outcome& outcome) {
        std::lock_guard<std::mutex> guard(shared.lock);
        shared.connected = true;
        shared.openedAt = outcome.openedAt;
        if (!outcome.ok && !outcome.cut)
            shared.failure = Protocol::OpenFailureText(options.port, outcome.error);
    });

    CStatistics stats;
    stats.Reset();
    stats.m_bEnabled = true;
    float current = 0.0f;
    long long printed = 0;
    // Times count from the moment the port was open, when the channel's graph started.
    Clock::time_point connected{};
    Clock::time_point lastReading = Clock::now();
    bool started = false;
    int status = kSuccess;
    std::vector<std::pair<Clock::time_point, float>> taken;
    std::string failure;
    const auto done = [&] { return options.count >= 0 && printed >= options.count; };
    while (!done() && !stop.load()) {
        Protocol::WaitMs(50);
        {
            std::lock_guard<std::mutex> guard(shared.lock);
            taken.swap(shared.readings);
            failure = shared.failure;
            if (!started && shared.connected) {
                started = true;
                connected = shared.openedAt;
                lastReading = Clock::now();
            }
        }
        for (const auto& [at, value] : taken) {
            if (done())
                break;
            const double t = std::chrono::duration<double>(at - connected).count();
            std::fprintf(out, "%s\t%s\t%s\n", FormatG(t).c_str(), FormatG(value).c_str(),
                         ToTerminal(FormatInUnit(unit, value, reference)).c_str());
            current = value;
            stats.AddSample(value);
            ++printed;
            lastReading = Clock::now();
        }
        taken.clear();
        std::fflush(out);
        if (!failure.empty()) {
            std::fputs(failure.c_str(), err);
            status = kFailure;
            break;
        }
        if (options.timeoutSeconds > 0 &&
            std::chrono::duration<double>(Clock::now() - lastReading).count() >
                options.timeoutSeconds) {
            std::fprintf(err, "%s: no reading for %s s\n", options.port.c_str(),
                         FormatG(options.timeoutSeconds).c_str());
            status = kFailure;
            break;
        }
    }
    station.CloseAll(); // "*CSU" and the port closed, on the channel's worker
    channel.SetReadingObserver({});
    if (options.stats) {
        for (const auto& [label, text] : StatisticsTableLines(stats, current))
            std::fprintf(out, "%s\t%s\n", label.c_str(), ToTerminal(text).c_str());
    }
    return status;
}

int ConfigShow(const std::string& serial, FILE* out, FILE* err) {
    CChannelConfig config;
    std::string error;
    switch (LoadChannelConfigFile(serial, config, error)) {
    case ConfigLoad::Missing:
        std::fprintf(err, "No configuration stored for serial number %s (%s)\n",
                     ToTerminal(serial).c_str(), ConfigFilePath(serial).c_str());
        return kFailure;
    case ConfigLoad::Damaged:
        std::fprintf(err, "%s\n", error.c_str());
        return kFailure;
    case ConfigLoad::Loaded:
        break;
    }
    std::fprintf(out, "m_strTitle=%s\n", ToTerminal(config.m_strTitle).c_str());
    std::fprintf(out, "m_nPosition=%d\n", config.m_nPosition);
    std::fprintf(out, "m_fGain=%s\n", FormatFloatShortest(config.m_fGain).c_str());
    std::fprintf(out, "m_fOffset=%s\n", FormatFloatShortest(config.m_fOffset).c_str());
    std::fprintf(out, "m_fLevelHigh=%s\n", FormatFloatShortest(config.m_fLevelHigh).c_str());
    std::fprintf(out, "m_fLevelLow=%s\n", FormatFloatShortest(config.m_fLevelLow).c_str());
    std::fprintf(out, "m_nWavelength=%d\n", config.m_nWavelength);
    std::fprintf(out, "m_bAnticipation=%d\n", config.m_bAnticipation ? 1 : 0);
    CDisplayAids aids;
    if (LoadDisplayAidsFile(serial, aids, error) == ConfigLoad::Damaged) {
        std::fprintf(err, "%s\n", error.c_str());
        return kFailure;
    }
    for (const std::string& key : DisplayAidKeys())
        std::fprintf(out, "%s=%s\n", key.c_str(), DisplayAidValue(aids, key).c_str());
    return kSuccess;
}

int ConfigSet(const std::string& serial, const std::vector<std::string>& assignments, FILE* out,
              FILE* err) {
    CChannelConfig config;
    CDisplayAids aids;
    std::string error;
    // Never overwrite a file we could not read: the user may want to look at it first.
    if (LoadChannelConfigFile(serial, config, error) == ConfigLoad::Damaged ||
        LoadDisplayAidsFile(serial, aids, error) == ConfigLoad::Damaged) {
        std::fprintf(err, "%s\n", error.c_str());
        return kFailure;
    }
    const std::vector<std::string>& aidKeys = DisplayAidKeys();
    bool recordSet = false, aidsSet = false;
    for (const std::string& assignment : assignments) {
        const size_t equals = assignment.find('=');
        if (equals == std::string::npos) {
            std::fprintf(err, "Expected name=value, got \"%s\"\n", assignment.c_str());
            return kUsage;
        }
        const std::string name = assignment.substr(0, equals);
        if (std::find(aidKeys.begin(), aidKeys.end(), name) != aidKeys.end()) {
            if (!SetDisplayAid(aids, name, assignment.substr(equals + 1), error)) {
                std::fprintf(err, "%s\n", error.c_str());
                return kUsage;
            }
            aidsSet = true;
            continue;
        }
        recordSet = true;
        if (!SetField(config, name, assignment.substr(equals + 1), error)) {
            std::fprintf(err, "%s: %s\n", name.c_str(), error.c_str());
            if (error == "unknown field") {
                std::fprintf(err, "Fields:");
                for (const char* field : kFieldNames)
                    std::fprintf(err, " %s", field);
                for (const std::string& key : aidKeys)
                    std::fprintf(err, " %s", key.c_str());
                std::fprintf(err, "\n");
            }
            return kFailure;
        }
    }
    if (recordSet) {
        if (!SaveChannelConfigFile(serial, config, error)) {
            std::fprintf(err, "%s\n", error.c_str());
            return kFailure;
        }
        std::fprintf(out, "Saved %s\n", ConfigFilePath(serial).c_str());
    }
    if (aidsSet) {
        if (!SaveDisplayAidsFile(serial, aids, error)) {
            std::fprintf(err, "%s\n", error.c_str());
            return kFailure;
        }
        std::fprintf(out, "Saved %s\n", DisplayAidsFilePath(serial).c_str());
    }
    return kSuccess;
}

} // namespace Cli
