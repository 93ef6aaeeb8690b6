#pragma once
// The laboratory of "kelvarin --demo N": simulated meters, each with a stored configuration of
// its own (a title saying what it measures, alarm levels a little around its power, its
// position) in a temporary folder of the run, never in the user's folder. The amplifier's
// laser fades a minute after start-up and trips its low alarm; the others stay in their band.
// The meters are reached through stable links in that folder, and one of them has its cable
// pulled for a few seconds every few minutes, to show a lost meter coming back.

#include "sim/MeterSimulator.h"

#include <QTemporaryDir>
#include <QTimer>

#include <string>
#include <vector>

class CDemoLab {
public:
    // Position (0-based) of the meter whose laser fades.
    static constexpr int kFadingMeter = 1;
    // Position of the meter that is unplugged, how often and for how long.
    static constexpr int kUnpluggedMeter = 2;
    static constexpr int kUnplugEveryMs = 180000;
    static constexpr int kUnpluggedForMs = 10000;

    // The meters' profiles and titles, in position order.
    static MeterProfile Profile(int index);
    static std::string Title(int index);
    // The half-width of a meter's alarm band, as a fraction of its power: its drift and a wide
    // margin over its noise.
    static double BandFraction(const MeterProfile& profile);

    // Writes the configurations into the run's folder, points the detector files there and
    // starts `count` meters (1 to 8). False with `error` when any of it fails.
    bool Start(int count, std::string& error);
    void Stop();
    ~CDemoLab();
    // The meters' ports, joined by ':' as KELVARIN_PORTS takes them.
    std::string PortsVariable() const { return m_meters.PortsVariable(); }
    const std::string& Folder() const { return m_folderPath; }

private:
    QTemporaryDir m_folder;
    std::string m_folderPath;
    CSimulatorSet m_meters;
    QTimer m_unplugTimer;
};
