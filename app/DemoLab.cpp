#include "app/DemoLab.h"

#include "detectors/ChannelConfig.h"
#include "detectors/ChannelConfigFile.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

const char* const kTitles[] = {"Pump_diode", "Amplifier",  "Seed_laser", "Pickoff",
                               "Monitor_PD", "Leak_probe", "Fiber_tap",  "Dark_ref"};

// The serial number of a reply such as "S/N KV2401": what follows its 4-character header.
std::string SerialOf(const MeterProfile& profile) {
    return profile.serialReply.size() > 4 ? profile.serialReply.substr(4) : std::string();
}

} // namespace

MeterProfile CDemoLab::Profile(int index) {
    MeterProfile profile = DefaultMeterProfile(index);
    if (index == kFadingMeter) {
        profile.sagAfterSeconds = 60;
        profile.sagDepth = 0.3;
        profile.sagMinutes = 1;
    }
    return profile;
}

std::string CDemoLab::Title(int index) {
    return kTitles[static_cast<size_t>(std::clamp(index, 0, 7))];
}

double CDemoLab::BandFraction(const MeterProfile& profile) {
    return std::max(0.08, 0.03 + 6 * profile.noise);
}

bool CDemoLab::Start(int count, std::string& error) {
    if (!m_folder.isValid()) {
        error = "cannot create a folder for the demo's detector files: " +
                m_folder.errorString().toStdString();
        return false;
    }
    m_folderPath = QFile::encodeName(m_folder.path()).toStdString();
    UseConfigFolder(m_folderPath);
    std::vector<MeterProfile> profiles;
    for (int i = 0; i < count && i < 8; ++i) {
        const MeterProfile profile = Profile(i);
        CChannelConfig config;
        config.m_strSerial = SerialOf(profile);
        config.m_strName = profile.name;
        config.m_strTitle = Title(i);
        config.m_nPosition = i;
        const auto watts = static_cast<float>(profile.nominalWatts);
        const auto band = static_cast<float>(BandFraction(profile));
        config.m_fLevelHigh = watts * (1.0f + band);
        config.m_fLevelLow = watts * (1.0f - band);
        if (!SaveChannelConfigFile(config.m_strSerial, config, error))
            return false;
        profiles.push_back(profile);
    }
    const std::string links = m_folderPath + "/by-id";
    if (!QDir().mkpath(QFile::decodeName(links.c_str()))) {
        error = "cannot create " + links;
        return false;
    }
    if (!m_meters.Start(profiles, error, links))
        return false;
    if (m_meters.Size() > static_cast<size_t>(kUnpluggedMeter)) {
        m_unplugTimer.setInterval(kUnplugEveryMs);
        QObject::connect(&m_unplugTimer, &QTimer::timeout,
                         [this] { m_meters.Meter(kUnpluggedMeter).Replug(kUnpluggedForMs); });
        m_unplugTimer.start();
    }
    return true;
}

void CDemoLab::Stop() {
    m_unplugTimer.stop();
    m_meters.Stop();
}

CDemoLab::~CDemoLab() {
    Stop();
    if (!m_folderPath.empty())
        UseConfigFolder(std::string()); // the folder goes with the lab
}
